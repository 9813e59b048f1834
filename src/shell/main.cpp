#include <clocale>

#include "quillmere/quillmere.h"
#include "shell/front_end.h"
#if VANDREL_WINDOW
#include "shell/qt/window_front_end.h"
#endif

int main() {
  std::setlocale(LC_ALL, "");
  quillmere::Register();
#if VANDREL_WINDOW
  if (vandrel::shell::ChooseWindow()) return vandrel::shell::RunWindow();
#endif
  return vandrel::shell::RunConsole();
}
