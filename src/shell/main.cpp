#include <clocale>

#include "quillmere/quillmere.h"
#include "shell/front_end.h"

int main() {
  std::setlocale(LC_ALL, "");
  quillmere::Register();
  return vandrel::shell::RunConsole();
}
