#include "support/program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vandrel::testing {
namespace fs = std::filesystem;

// A copy being written is open for writing; a program started from another thread at that
// moment inherits that descriptor and makes starting the copy fail (ETXTBSY).
std::mutex spawning;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

Program::Program(const fs::path& executable, fs::path folder)
    : folder_(std::move(folder)), exe_(folder_ / "vandrelsql") {
  std::lock_guard<std::mutex> lock(spawning);
  fs::copy_file(executable, exe_, fs::copy_options::overwrite_existing);
  // The window library goes with it, as an installation has it.
  const fs::path window = executable.parent_path() / "vandrelsql-window.so";
  if (fs::exists(window))
    fs::copy_file(window, folder_ / window.filename(), fs::copy_options::overwrite_existing);
}

pid_t Program::Start(const std::string& programFiles, long limitKiB,
                     const std::vector<std::string>& extra,
                     const std::vector<std::string>& arguments) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    const bool overridden = std::any_of(extra.begin(), extra.end(), [&](const std::string& set) {
      return set.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" &&
        name != "ProgramFiles" && !overridden)
      env.push_back(entry);
  }
  env.push_back("ProgramFiles=" + programFiles);
  env.insert(env.end(), extra.begin(), extra.end());
  std::vector<std::string> args{exe_.string()};
  if (limitKiB > 0 || stackKiB > 0) {
    std::string limits;
    if (stackKiB > 0) limits += "ulimit -s " + std::to_string(stackKiB) + " && ";
    if (limitKiB > 0) limits += "ulimit -v " + std::to_string(limitKiB) + " && ";
    args = {"/bin/sh", "-c", limits + "exec \"$0\" \"$@\"", exe_.string()};
  }
  args.insert(args.end(), arguments.begin(), arguments.end());
  args.insert(args.begin(), launcher.begin(), launcher.end());

  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const std::string out = (folder_ / "stdout.txt").string();
  const std::string err = (folder_ / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  std::unique_lock<std::mutex> lock(spawning);
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(std::string("cannot start the program: ") + std::strerror(rc));
  return pid;
}

Outcome Program::Wait(pid_t pid) const {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  Outcome o;
  if (WIFEXITED(status)) o.exit = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
  o.out = Slurp(folder_ / "stdout.txt");
  o.err = Slurp(folder_ / "stderr.txt");
  return o;
}

bool Program::Ended(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

std::string Program::OutputSoFar() const { return Slurp(folder_ / "stdout.txt"); }

std::string SecretShown(const std::string& text, const std::vector<std::string>& secrets) {
  for (const std::string& s : secrets)
    if (!s.empty() && text.find(s) != std::string::npos)
      return "shows \"" + s + "\" in: " + text.substr(0, 2000);
  return "";
}

}  // namespace vandrel::testing
