#include <clocale>
#include <string>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "shell/arguments.h"
#include "shell/front_end.h"
#include "shell/process_setup.h"
#if VANDREL_WINDOW
#include "shell/qt/window_front_end.h"
#endif

int main(int argc, char** argv) {
  vandrel::shell::PrepareProcess();
  std::setlocale(LC_ALL, "");
  std::string folder;
  if (const int status = vandrel::shell::HandleArguments(argc, argv, folder); status >= 0)
    return status;
  vandrel::shell::ScriptFolderEnv scripts(vandrel::platform::Env::Default(), folder);
  if (!folder.empty()) vandrel::services.env = &scripts;
  quillmere::Register();
#if VANDREL_WINDOW
  if (vandrel::shell::ChooseWindow()) return vandrel::shell::RunWindow();
#endif
  return vandrel::shell::RunConsole();
}
