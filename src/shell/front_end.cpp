#include "shell/front_end.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Mod_Main.h"
#include "execution/progress_line.h"
#include "platform/locale_text.h"
#include "platform/error.h"
#include "shell/console.h"
#include "shell/process_setup.h"

namespace vandrel::shell {

ExitStatus RunUpdate(StatusSurface& window, Desktop& desktop, RunRecord& record) {
  RecordedDesktop recorded(desktop, record);
  services.desktop = &recorded;
  services.events.push_back(&record);
  ExitStatus status = ExitStatus::Failed;
  try {
    EjecutarActualizaciones(window);
  } catch (const ProgramEnd& end) {
    status = end.status;
  } catch (const std::exception& e) {
    // Only a failure of the reporting itself gets here (a box that could not be shown).
    std::fprintf(stderr, "%s\n", Describe(e).c_str());
  }
  Notify(&RunEvents::RunEnded);
  ReleaseModule();
  std::erase(services.events, &record);
  services.desktop = &desktop;
  record.Finish(status);
  record.Write(stderr);
  if (IsInterruption(status)) window.SetStatusText(kInterrumpida);
  return status;
}

ExitStatus RunUpdate(StatusSurface& window, Desktop& desktop) {
  RunRecord record;
  return RunUpdate(window, desktop, record);
}

namespace {

void Print(const std::string& utf8) {
  const std::string text = platform::ToLocaleText(utf8);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int RunConsole() {
  // A reader that goes away (`vandrelsql | head`) must not end the update half-way: the
  // status lines are only a view of it.
  std::signal(SIGPIPE, SIG_IGN);
  ConsoleStatus status;
  ConsoleDesktop desktop;
  InitModule();
  status.ShowStart();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  RunRecord record;
  desktop.SetRecordPath(record.path());
  ProgressLine progress(STDERR_FILENO);
  services.events = {&progress};
  const ExitStatus ended = RunUpdate(status, desktop, record);
  services.events.clear();
  Print(record.Summary());
  return static_cast<int>(ended);
}

}  // namespace vandrel::shell
