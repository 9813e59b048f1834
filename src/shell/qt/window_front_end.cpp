#include "shell/qt/window_front_end.h"

#include <QApplication>

#include "shell/qt/qt_desktop.h"
#include "shell/qt/vandrel.h"

namespace vandrel::shell {

int RunWindow() {
  // Only the program's name: no argument may change what it does.
  int argc = 1;
  char name[] = "vandrelsql";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VandrelSQL"));
  QApplication::setDesktopFileName(QStringLiteral("vandrelsql"));
  // The window decides the exit status itself when it is closed.
  QApplication::setQuitOnLastWindowClosed(false);

  QtDesktop desktop;
  Vandrel window(desktop);
  desktop.SetOwner(&window);
  window.ShowCentred();
  const int status = QApplication::exec();
  desktop.KeepClipboard();
  return status;
}

}  // namespace vandrel::shell

// The entry the program looks up after loading this library (shell/window_loader.h).
extern "C" __attribute__((visibility("default"))) int vandrelsql_run_window() {
  return vandrel::shell::RunWindow();
}
