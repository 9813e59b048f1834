// Saves the screen of the display in $DISPLAY as a PNG: screen_grab <file.png> [x y w h].
// For looking at the window by hand and for the picture in docs/.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 6) return 2;
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 1;
  const auto at = [&](int i) { return argc == 6 ? std::atoi(argv[i]) : (i < 4 ? 0 : -1); };
  return screen->grabWindow(0, at(2), at(3), at(4), at(5)).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
