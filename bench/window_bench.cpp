// The window front end, on the X display in DISPLAY (bench/run starts Xvfb):
//  - start-up: the built program started on a folder without scripts, watched from a
//    second X client; times from the start of the process to the creation, the mapping and
//    the first expose of its top-level window;
//  - DoEvents per batch: QtDesktop::DoEvents with the window Vandrel shown and idle, as
//    EjecutarScript calls it before every batch.
//
//   window_bench [EXE]

#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "shell/qt/qt_desktop.h"
#include "shell/qt/vandrel.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Startup {
  double created = -1, mapped = -1, exposed = -1, exited = -1;
};

// One start of `exe` in an empty program folder, watched through SubstructureNotify on the
// root window; the first top-level window the program creates is followed to its expose.
Startup WatchStart(const std::string& exe) {
  Startup times;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "window_bench: no X display\n");
    std::exit(2);
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);

  std::string tmpl = (fs::temp_directory_path() / "vandrel-bench-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) std::exit(2);
  const fs::path folder = tmpl;
  fs::copy_file(exe, folder / "vandrelsql");
  // The window is a library beside the program.
  fs::copy_file(fs::path(exe).parent_path() / "vandrelsql-window.so", folder / "vandrelsql-window.so");

  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    setenv("ProgramFiles", folder.c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    execl("./vandrelsql", "vandrelsql", nullptr);
    _exit(127);
  }
  xcb_window_t window = XCB_NONE;
  const int fd = xcb_get_file_descriptor(c);
  while (times.exposed < 0) {
    xcb_generic_event_t* event = xcb_poll_for_event(c);
    if (event == nullptr) {
      if (xcb_connection_has_error(c)) break;
      fd_set read;
      FD_ZERO(&read);
      FD_SET(fd, &read);
      timeval timeout{0, 100000};
      select(fd + 1, &read, nullptr, nullptr, &timeout);
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        std::fprintf(stderr, "window_bench: the program ended without showing its window\n");
        std::exit(2);
      }
      continue;
    }
    const double at = Since(start);
    switch (event->response_type & 0x7f) {
      case XCB_CREATE_NOTIFY: {
        auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
        // Qt creates small helper windows too (the clipboard's); the form is larger.
        if (window == XCB_NONE && e->width >= 100 && e->height >= 100) {
          window = e->window;
          times.created = at;
          const uint32_t exposure = XCB_EVENT_MASK_EXPOSURE;
          xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &exposure);
          xcb_flush(c);
        }
        break;
      }
      case XCB_MAP_NOTIFY:
        if (reinterpret_cast<xcb_map_notify_event_t*>(event)->window == window)
          times.mapped = at;
        break;
      case XCB_EXPOSE:
        if (reinterpret_cast<xcb_expose_event_t*>(event)->window == window && times.mapped >= 0)
          times.exposed = at;
        break;
      default:
        break;
    }
    free(event);
  }
  // The run on an empty folder ends by itself two seconds after the start.
  int status = 0;
  waitpid(pid, &status, 0);
  times.exited = Since(start);
  xcb_disconnect(c);
  fs::remove_all(folder);
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    Startup best{1e9, 1e9, 1e9, 1e9};
    for (int i = 0; i < 5; ++i) {
      const Startup t = WatchStart(fs::absolute(argv[1]).string());
      best.created = std::min(best.created, t.created);
      best.mapped = std::min(best.mapped, t.mapped);
      best.exposed = std::min(best.exposed, t.exposed);
      best.exited = std::min(best.exited, t.exited);
    }
    std::printf("Window start-up: created %.4f s, mapped %.4f s, first expose %.4f s, exit on "
                "an empty folder %.4f s\n",
                best.created, best.mapped, best.exposed, best.exited);
    std::printf("RESULT|Window start-up to its first expose (paint)|%.4f s|-|-|none (shown)\n",
                best.exposed);
  }

  int qargc = 1;
  char name[] = "window_bench";
  char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);
  vandrel::shell::QtDesktop desktop;
  vandrel::shell::Vandrel window(desktop);
  window.Timer1->stop();  // no run: only the message pump is measured
  desktop.SetOwner(&window);
  window.ShowCentred();
  for (int i = 0; i < 50; ++i) desktop.DoEvents();  // let the first paint happen

  vandrel::shell::Desktop* seam = &desktop;
  constexpr int kCalls = 200'000;
  double best = 1e300;
  for (int rep = 0; rep < 3; ++rep) {
    const auto start = Clock::now();
    for (int i = 0; i < kCalls; ++i) seam->DoEvents();
    best = std::min(best, Since(start));
  }
  const double perCall = best / kCalls * 1e6;
  std::printf("Window DoEvents: %.3f us per batch (window shown, nothing waiting)\n", perCall);
  std::printf("RESULT|DoEvents per batch, window|%.3f us|-|-|none (shown)\n", perCall);
  return 0;
}
