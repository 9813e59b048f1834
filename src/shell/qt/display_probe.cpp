#include "shell/qt/display_probe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace vandrel::shell {
namespace {

std::string Var(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

bool WaylandAnswers(const char* unset_means) {
  std::string name = Var("WAYLAND_DISPLAY");
  if (name.empty() && unset_means != nullptr) name = unset_means;
  if (name.empty()) return false;
  std::string path = name;
  if (name.front() != '/') {
    const std::string runtime = Var("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + name;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answers =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return answers;
}

bool XAnswers() {
  const std::string display = Var("DISPLAY");
  if (display.empty()) return false;
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

bool NamedPlatformAnswers(const char* qt_qpa_platform) {
  const std::string value = qt_qpa_platform;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    const std::string entry = value.substr(start, end - start);
    const std::string name = entry.substr(0, entry.find(':'));
    if (name.rfind("wayland", 0) == 0) {
      if (WaylandAnswers("wayland-0")) return true;
    } else if (name == "xcb") {
      if (XAnswers()) return true;
    } else if (!name.empty()) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace vandrel::shell
