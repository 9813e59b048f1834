// Starting the built vandrelsql-check as a user does.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vandrel::testing {

struct Ran {
  int exit = -1;
  std::string out;
};

// The check as a user starts it, with `env` ("NAME=value ...") in front.
inline Ran RunCheck(const std::string& args, const std::string& env = "") {
  const std::string command = env + " '" VANDREL_CHECK_EXE "' " + args;
  Ran ran;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return ran;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) ran.out.append(buf, n);
  const int status = pclose(pipe);
  ran.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

}  // namespace vandrel::testing
