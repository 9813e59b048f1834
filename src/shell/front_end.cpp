#include "shell/front_end.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "Mod_Main.h"
#include "platform/error.h"
#include "shell/console.h"
#include "shell/process_setup.h"

namespace vandrel::shell {

ExitStatus RunUpdate(StatusSurface& window, Desktop& desktop) {
  services.desktop = &desktop;
  ExitStatus status = ExitStatus::Failed;
  try {
    EjecutarActualizaciones(window);
  } catch (const ProgramEnd& end) {
    status = end.status;
  } catch (const std::exception& e) {
    // Only a failure of the reporting itself gets here (a box that could not be shown).
    std::fprintf(stderr, "%s\n", Describe(e).c_str());
  }
  ReleaseModule();
  if (IsInterruption(status)) window.SetStatusText(kInterrumpida);
  return status;
}

int RunConsole() {
  // A reader that goes away (`vandrelsql | head`) must not end the update half-way: the
  // status lines are only a view of it.
  std::signal(SIGPIPE, SIG_IGN);
  ConsoleStatus status;
  ConsoleDesktop desktop;
  InitModule();
  status.ShowStart();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  return static_cast<int>(RunUpdate(status, desktop));
}

}  // namespace vandrel::shell
