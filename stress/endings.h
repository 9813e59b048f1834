// The program's endings as the person in front of it sees them.
#pragma once

#include <string>
#include <vector>

#include "shell/program_end.h"
#include "support/recording.h"

namespace vandrel::testing {

// "" when `boxes` are one of the program's endings for `status`: a routine error report
// (status 1), a "¡Atencion!" report of the failing script (1), or the connection messages
// (the manager's report, the connection failure at the first script or at a change of
// entity, then " Actualización Cancelada. ": status 2).
// Otherwise what does not fit.
std::string CheckEnding(ExitStatus status, const std::vector<Box>& boxes);

// "" when no box and no clipboard text shows any of `secrets`.
std::string CheckNoSecret(const RecordingDesktop& desktop, const std::vector<std::string>& secrets);

}  // namespace vandrel::testing
