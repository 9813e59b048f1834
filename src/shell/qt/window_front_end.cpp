#include "shell/qt/window_front_end.h"

#include <QApplication>

#include <cstdlib>

#include "shell/qt/display_probe.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/vandrel.h"

namespace vandrel::shell {

bool ChooseWindow() {
  // Qt aborts the process when the platform it is told to use cannot be reached: a
  // desktop profile's QT_QPA_PLATFORM=wayland carried over SSH must give the console.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') return NamedPlatformAnswers(platform);
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
  const int status = QApplication::exec();
  desktop.KeepClipboard();
  return status;
}

}  // namespace vandrel::shell
