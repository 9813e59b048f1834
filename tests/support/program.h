// The built program, copied into a program folder of its own and started as a user would
// start it: by default without a display, so on the console.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vandrel::testing {

struct Outcome {
  int exit = -1;    // exit status, or -1 when a signal ended it
  int signal = 0;   // the signal that ended it
  std::string out;  // stdout
  std::string err;  // stderr
};

class Program {
 public:
  // Copies `executable` into `folder`, which becomes its program folder.
  Program(const std::filesystem::path& executable, std::filesystem::path folder);

  // Starts it with ProgramFiles set to `programFiles` and DISPLAY, WAYLAND_DISPLAY and
  // QT_QPA_PLATFORM unset, then `env` ("NAME=value") applied, and `arguments` on its
  // command line. `limitKiB`, when not 0, is the address-space limit (ulimit -v) it starts
  // under.
  pid_t Start(const std::string& programFiles, long limitKiB = 0,
              const std::vector<std::string>& env = {},
              const std::vector<std::string>& arguments = {});
  // Waits for the started program to end.
  Outcome Wait(pid_t pid) const;
  Outcome Run(const std::string& programFiles, long limitKiB = 0) {
    return Wait(Start(programFiles, limitKiB));
  }
  // When not 0, the stack limit (ulimit -s) it starts under, which is also the size of
  // each thread's stack.
  long stackKiB = 0;

  // Whether it has ended, leaving it for Wait to collect.
  static bool Ended(pid_t pid);
  // What the running program has written to stdout so far.
  std::string OutputSoFar() const;

  // A command the program is started through, its arguments after it (setpriv, to run it
  // as another user); empty to start it directly.
  std::vector<std::string> launcher;

 private:
  std::filesystem::path folder_;
  std::filesystem::path exe_;
};

std::string Slurp(const std::filesystem::path& path);

// The console's output up to the summary that ends every run.
inline std::string BeforeSummary(const std::string& out) { return out.substr(0, out.find("Resumen:\n")); }

// "" when `text` shows none of `secrets`; otherwise which one it shows, and where.
std::string SecretShown(const std::string& text, const std::vector<std::string>& secrets);

}  // namespace vandrel::testing
