#include "platform/hand_over.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace vandrel::platform {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Writes all of `input` to the non-blocking `fd` before `deadline`.
bool WriteAll(int fd, std::string_view input, Clock::time_point deadline) {
  while (!input.empty()) {
    const ssize_t n = ::write(fd, input.data(), input.size());
    if (n > 0) {
      input.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd p{fd, POLLOUT, 0};
    const int left = MsLeft(deadline);
    if (left == 0 || ::poll(&p, 1, left) <= 0) return false;
  }
  return true;
}

}  // namespace

bool HandOver(const std::vector<std::string>& argv, std::string_view input,
              std::chrono::milliseconds limit) {
  if (argv.empty()) return false;
  const Clock::time_point deadline = Clock::now() + limit;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // A server that lingers must not hold this program's pipes (a reader waiting for their
  // end would wait as long as the clipboard is kept) nor its folder.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawn_file_actions_addchdir_np(&actions, "/");
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipe_fds[0]);
  if (spawned != 0) {
    ::close(pipe_fds[1]);
    return false;
  }

  // A helper that stops reading early must not end this program with SIGPIPE.
  sigset_t pipe_only, before;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe_only, &before);
  ::fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
  bool ok = WriteAll(pipe_fds[1], input, deadline);
  ::close(pipe_fds[1]);
  timespec zero{};
  while (::sigtimedwait(&pipe_only, nullptr, &zero) > 0) {
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);

  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  bool ended = false;
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int r;
    do {
      r = ::poll(&p, 1, MsLeft(deadline));
    } while (r < 0 && errno == EINTR);
    ended = r > 0;
    ::close(pidfd);
  }
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ok && ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace vandrel::platform
