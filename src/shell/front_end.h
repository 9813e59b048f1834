// Start-up shared by both front ends: the load event, the two-second wait and the run.
#pragma once

#include "shell/desktop.h"
#include "shell/program_end.h"
#include "shell/run_record.h"
#include "shell/status_surface.h"

namespace vandrel::shell {

// Runs the update with the given window stand-ins and returns the exit status once the
// program has ended; the module state is released (rolled back, never committed). The run
// is followed by `record`, which is then written (its failure never changes the status).
ExitStatus RunUpdate(StatusSurface& window, Desktop& desktop, RunRecord& record);
// The same with a record of its own.
ExitStatus RunUpdate(StatusSurface& window, Desktop& desktop);

// The console front end: title band, "Preparando ...", two seconds, then the run.
int RunConsole();

}  // namespace vandrel::shell
