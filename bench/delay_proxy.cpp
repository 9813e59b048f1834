#include "delay_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <stdexcept>

namespace vandrel::bench {

namespace {

using Clock = std::chrono::steady_clock;

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

DelayProxy::DelayProxy(const std::string& host, int port, double delayMs)
    : host_(host), targetPort_(port), delayMs_(delayMs) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_, 16) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || pipe(stop_) != 0)
    throw std::runtime_error("delay proxy: cannot listen");
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

DelayProxy::~DelayProxy() {
  (void)!write(stop_[1], "x", 1);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> hold(m_);
    for (int fd : sockets_) shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : threads_) t.join();
  for (int fd : sockets_) close(fd);
  close(listen_);
  close(stop_[0]);
  close(stop_[1]);
}

void DelayProxy::Accept() {
  for (;;) {
    pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(targetPort_));
    inet_pton(AF_INET, host_.c_str(), &addr.sin_addr);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(client);
      if (server >= 0) close(server);
      continue;
    }
    NoDelay(client);
    NoDelay(server);
    std::lock_guard<std::mutex> hold(m_);
    sockets_.push_back(client);
    sockets_.push_back(server);
    threads_.emplace_back([this, client, server] { Forward(client, server); });
    threads_.emplace_back([this, client, server] { Forward(server, client); });
  }
}

// Reads `from` and writes each chunk to `to` once it is `delayMs_` old; the end of `from`
// is passed on, late by as much.
void DelayProxy::Forward(int from, int to) {
  struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the end
  };
  std::mutex m;
  std::condition_variable ready;
  std::deque<Chunk> queue;
  const auto delay = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(delayMs_));
  // Everything due by the time the writer wakes goes out in one write, as a network
  // delivers what has arrived; one wake-up per chunk would make the proxy the bottleneck.
  std::thread writer([&] {
    for (;;) {
      Clock::time_point due;
      {
        std::unique_lock<std::mutex> hold(m);
        ready.wait(hold, [&] { return !queue.empty(); });
        due = queue.front().due;
      }
      std::this_thread::sleep_until(due);
      std::string bytes;
      bool end = false;
      {
        std::lock_guard<std::mutex> hold(m);
        const auto now = Clock::now();
        while (!queue.empty() && queue.front().due <= now && !end) {
          end = queue.front().bytes.empty();
          bytes += queue.front().bytes;
          queue.pop_front();
        }
      }
      if (!WriteAll(to, bytes.data(), bytes.size()) || end) {
        shutdown(to, SHUT_WR);
        return;
      }
    }
  });
  char buf[65536];
  for (;;) {
    const ssize_t n = read(from, buf, sizeof buf);
    std::lock_guard<std::mutex> hold(m);
    queue.push_back({Clock::now() + delay, n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : ""});
    ready.notify_one();
    if (n <= 0) break;
  }
  writer.join();
}

}  // namespace vandrel::bench
