// A TCP proxy on loopback that holds every chunk of bytes for a fixed delay in each
// direction, so that a server on this machine answers as one across a network would.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::bench {

class DelayProxy {
 public:
  // Listens on 127.0.0.1, on a port the kernel chooses, and forwards each connection to
  // `host`:`port` (IPv4), each direction delayed by `delayMs`.
  DelayProxy(const std::string& host, int port, double delayMs);
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int port() const { return port_; }

 private:
  void Accept();
  void Forward(int from, int to);

  std::string host_;
  int targetPort_;
  double delayMs_;
  int listen_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::mutex m_;
  std::vector<int> sockets_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace vandrel::bench
