// The command line. Without arguments the program runs the update of its own folder; one
// FOLDER runs the update of that folder's scripts exactly as of those beside the program;
// --help and --version answer and end; anything else is refused, so that typing an option
// to learn about the program never changes a database.
#pragma once

#include <cstdio>
#include <string>

#include "platform/env.h"

namespace vandrel::shell {

// Exit status for a usage error (sysexits' EX_USAGE).
inline constexpr int kExitUsage = 64;

// The exit status when the program must end without running anything, or -1 to run.
// `folder` gets the absolute path of FOLDER when one was given, and stays "" otherwise.
int HandleArguments(int argc, const char* const* argv, std::string& folder, FILE* out = stdout,
                    FILE* err = stderr);

// The routines' environment with the scripts' folder moved to FOLDER.
class ScriptFolderEnv final : public platform::EnvWrapper {
 public:
  ScriptFolderEnv(platform::Env* target, std::string folder)
      : EnvWrapper(target), folder_(std::move(folder)) {}
  std::string ProgramFolder() override { return folder_; }

 private:
  std::string folder_;
};

}  // namespace vandrel::shell
