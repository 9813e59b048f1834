#include "shell/identity.h"

#include "shell/version.h"

namespace vandrel::identity {

int16_t Major() { return VANDREL_VERSION_MAJOR; }
int16_t Minor() { return VANDREL_VERSION_MINOR; }
int16_t Revision() { return VANDREL_VERSION_REVISION; }

std::string VersionText() {
  return "v." + std::to_string(Major()) + "." + std::to_string(Minor()) + "." +
         std::to_string(Revision());
}

std::string TitledBoxTitle() { return std::string(kProductName) + " " + VersionText(); }

}  // namespace vandrel::identity
