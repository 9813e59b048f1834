#include <clocale>
#include <cstdio>
#include <exception>
#include <string>

#include "Mod_Main.h"
#include "platform/env.h"
#include "platform/error.h"
#include "quillmere/quillmere.h"
#include "shell/arguments.h"
#include "shell/front_end.h"
#include "shell/process_setup.h"
#include "shell/window_loader.h"

namespace {

int Run(int argc, char** argv) {
  vandrel::shell::PrepareProcess();
  std::setlocale(LC_ALL, "");
  std::string folder;
  if (const int status = vandrel::shell::HandleArguments(argc, argv, folder); status >= 0)
    return status;
  vandrel::shell::ScriptFolderEnv scripts(vandrel::platform::Env::Default(), folder);
  if (!folder.empty()) vandrel::services.env = &scripts;
  quillmere::Register();
#if VANDREL_WINDOW
  if (vandrel::shell::ChooseWindow()) {
    const auto run = vandrel::shell::LoadWindow(
        vandrel::platform::Env::Default()->ProgramFolder(), stderr);
    if (run != nullptr) return run();
  }
#endif
  return vandrel::shell::RunConsole();
}

}  // namespace

int main(int argc, char** argv) {
  // The run reports its own failures; this is for those before it (no memory at start-up).
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrelsql: %s\n", vandrel::Describe(e).c_str());
    return 1;
  }
}
