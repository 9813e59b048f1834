// A server that accepts TCP connections (the kernel completes them) and never answers.
#pragma once

namespace vandrel::testing {

class SilentServer {
 public:
  SilentServer();  // on 127.0.0.1, a port the kernel chooses
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace vandrel::testing
