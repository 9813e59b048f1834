// Stopping the engines from another thread when a signal ends the program. The thread that
// notes the signal cancels whatever engine call is in progress; the thread that made the
// call then ends the program (rolling back) instead of going on.
#pragma once

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace vandrel::ado {

// The signal that interrupted the program, 0 while none has.
int InterruptSignal() noexcept;

// What the thread of an engine call does when the program has been interrupted, before the
// call or during it. It must not return (the program's end throws past every error trap);
// while none is set an Error is thrown.
void OnInterrupted(std::function<void(int signal)> end);

// Notes `signal` (the first one counts) and cancels every engine call in progress, again
// and again until each has returned: a cancel that reaches the engine just before the call
// would be lost. Returns false when no connection is open: nothing needs rolling back and
// the process may end at once. Never call it from a signal handler.
bool Interrupt(int signal);

// A connection's link to Interrupt, for the connection's life.
class Interruptible {
 public:
  // `cancel` stops the engine call in progress; it is called from another thread, only
  // while a Call is running, and must be safe there (PQcancel, sqlite3_interrupt, SQLCancel).
  explicit Interruptible(std::function<void()> cancel);
  ~Interruptible();
  Interruptible(const Interruptible&) = delete;
  Interruptible& operator=(const Interruptible&) = delete;

  // Runs `call` (engine calls) so that Interrupt can cancel it. When the program is
  // interrupted before it starts, it does not run; when interrupted during it, whatever it
  // returned or threw gives way to the end of the program.
  template <class F>
  auto Call(F&& call) {
    Enter();
    if constexpr (std::is_void_v<decltype(call())>) {
      try {
        call();
      } catch (...) {
        Leave();
        throw;
      }
      Leave();
    } else {
      std::optional<decltype(call())> result;
      try {
        result.emplace(call());
      } catch (...) {
        Leave();
        throw;
      }
      Leave();
      return std::move(*result);
    }
  }

 private:
  friend bool Interrupt(int signal);
  void Enter();
  void Leave();  // ends the program when interrupted

  std::function<void()> cancel_;
  bool running_ = false;  // guarded by the registry's lock
  int cancelling_ = 0;    // Interrupt is calling cancel_ without the lock; guarded by it
};

}  // namespace vandrel::ado
