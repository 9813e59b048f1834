#include "shell/qt/display_probe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

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
  // Non-blocking: a compositor whose queue of connections is full would hold connect().
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool answers =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  // A compositor that accepts and never answers would hold Qt for ever: it must answer a
  // wl_display.sync (object 1, request 0, new callback object 2) in time.
  if (answers) {
    const std::uint32_t sync[3] = {1, (12u << 16) | 0u, 2};
    answers = ::send(fd, sync, sizeof sync, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof sync);
    pollfd reply{fd, POLLIN, 0};
    answers = answers && ::poll(&reply, 1, kDisplayProbeSeconds * 1000) == 1 &&
              (reply.revents & POLLIN) != 0;
    char byte = 0;
    answers = answers && ::recv(fd, &byte, 1, 0) == 1;
  }
  ::close(fd);
  return answers;
}

bool XAnswers() {
  const std::string display = Var("DISPLAY");
  if (display.empty()) return false;
  // xcb_connect waits for the server's reply without a limit: it runs in a thread of its
  // own, left behind (blocked, harmless) when the server does not answer in time.
  struct Probe {
    std::mutex lock;
    std::condition_variable done;
    std::optional<bool> answers;
  };
  const auto probe = std::make_shared<Probe>();
  try {
    std::thread([probe, display] {
      xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
      const bool answers = xcb_connection_has_error(connection) == 0;
      xcb_disconnect(connection);
      const std::lock_guard<std::mutex> hold(probe->lock);
      probe->answers = answers;
      probe->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;  // no thread, no window: the console needs none
  }
  std::unique_lock<std::mutex> hold(probe->lock);
  probe->done.wait_for(hold, std::chrono::seconds(kDisplayProbeSeconds),
                       [&] { return probe->answers.has_value(); });
  return probe->answers.value_or(false);
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
