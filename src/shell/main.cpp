#include <clocale>

#include "quillmere/quillmere.h"
#include "shell/front_end.h"
#include "shell/process_setup.h"
#if VANDREL_WINDOW
#include "shell/qt/window_front_end.h"
#endif

int main() {
  vandrel::shell::PrepareProcess();
  std::setlocale(LC_ALL, "");
  quillmere::Register();
#if VANDREL_WINDOW
  if (vandrel::shell::ChooseWindow()) return vandrel::shell::RunWindow();
#endif
  return vandrel::shell::RunConsole();
}
