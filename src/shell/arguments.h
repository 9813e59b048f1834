// The command line. The program takes no arguments: without any it runs the update;
// --help and --version answer and end; anything else is refused, so that typing an option
// to learn about the program never changes a database.
#pragma once

#include <cstdio>

namespace vandrel::shell {

// Exit status for a usage error (sysexits' EX_USAGE).
inline constexpr int kExitUsage = 64;

// The exit status when the program must end without running anything, or -1 to run.
int HandleArguments(int argc, const char* const* argv, FILE* out = stdout,
                    FILE* err = stderr);

}  // namespace vandrel::shell
