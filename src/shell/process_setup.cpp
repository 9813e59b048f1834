#include "shell/process_setup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "platform/ado/interruption.h"
#include "platform/error.h"
#include "shell/program_end.h"

namespace vandrel::shell {

namespace {

void OpenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open returns the lowest free descriptor, which is this one.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

[[noreturn]] void EndNow(int signal) {
  const std::string line = std::string(kInterrumpida) + "\n";
  [[maybe_unused]] const ssize_t written = write(STDOUT_FILENO, line.data(), line.size());
  _exit(128 + signal);
}

void Watch(sigset_t signals) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (ado::InterruptSignal() != 0) continue;  // the first one is being handled
    try {
      std::thread([signal] {
        std::this_thread::sleep_for(std::chrono::seconds(kGraceSeconds));
        EndNow(signal);
      }).detach();
    } catch (const std::system_error&) {
      EndNow(signal);  // without its deadline the run could outlast the signal for ever
    }
    if (!ado::Interrupt(signal)) EndNow(signal);
  }
}

}  // namespace

void PrepareProcess() {
  OpenClosedStandardDescriptors();
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ado::OnInterrupted([](int signal) { EndProgram(InterruptedBy(signal)); });
  try {
    std::thread(Watch, signals).detach();
  } catch (const std::system_error& e) {
    throw SystemError("Cannot start the thread that watches for signals", e.code().value());
  }
}

}  // namespace vandrel::shell
