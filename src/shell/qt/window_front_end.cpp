#include "shell/qt/window_front_end.h"

#include <QApplication>

#include <cstdlib>

#include "shell/qt/display_probe.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/vandrel.h"

namespace vandrel::shell {

bool ChooseWindow() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') return true;
  if (XAnswers()) return true;
  if (!WaylandAnswers()) return false;
  // Qt would otherwise try X first and abort on a DISPLAY that does not answer.
  ::setenv("QT_QPA_PLATFORM", "wayland", 1);
  return true;
}

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
  return QApplication::exec();
}

}  // namespace vandrel::shell
