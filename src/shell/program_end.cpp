#include "shell/program_end.h"

namespace vandrel {

void EndProgram(ExitStatus status) { throw ProgramEnd{status}; }

}  // namespace vandrel
