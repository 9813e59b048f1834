#include "quillmere/quillmere.h"

namespace quillmere {

void Register() {}

}  // namespace quillmere
