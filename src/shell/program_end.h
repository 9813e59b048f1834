// The end of the program. Once `EndProgram` is called no further step of any routine runs:
// it throws `ProgramEnd`, which no error trap catches, up to the front end, which releases
// the module state (rolling back, never committing) and exits with the status.
#pragma once

namespace vandrel {

enum class ExitStatus : int {
  Finished = 0,         // every script ran and was committed, or there was none
  Failed = 1,           // a failure was reported
  Cancelled = 2,        // no connection for an entity
  Access = 3,           // an entity tagged "ACCESS" stopped the run
  ClosedBeforeRun = 4,  // the window was closed before the run began
  // 128 + the signal: interrupted (SIGINT, SIGTERM, SIGHUP), rolled back
};

constexpr ExitStatus InterruptedBy(int signal) { return static_cast<ExitStatus>(128 + signal); }
constexpr bool IsInterruption(ExitStatus status) { return static_cast<int>(status) > 128; }

// Deliberately not a std::exception: error traps let it pass untouched.
struct ProgramEnd {
  ExitStatus status;
};

[[noreturn]] void EndProgram(ExitStatus status);

}  // namespace vandrel
