#include "platform/ado/interruption.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/error.h"

namespace vandrel::ado {

namespace {

struct Registry {
  std::mutex lock;
  std::condition_variable left;  // a call has returned
  int signal = 0;
  std::vector<Interruptible*> open;
  std::function<void(int)> end;
};

// Never destroyed: the thread that notes signals may still use it while the process exits.
Registry& Shared() {
  static Registry& registry = *new Registry;
  return registry;
}

[[noreturn]] void End(int signal) {
  std::function<void(int)> end;
  {
    std::lock_guard<std::mutex> hold(Shared().lock);
    end = Shared().end;
  }
  if (end) end(signal);
  throw Error("The program was interrupted by signal " + std::to_string(signal));
}

}  // namespace

int InterruptSignal() noexcept {
  std::lock_guard<std::mutex> hold(Shared().lock);
  return Shared().signal;
}

void OnInterrupted(std::function<void(int)> end) {
  std::lock_guard<std::mutex> hold(Shared().lock);
  Shared().end = std::move(end);
}

bool Interrupt(int signal) {
  Registry& r = Shared();
  std::unique_lock<std::mutex> hold(r.lock);
  if (r.signal == 0) r.signal = signal;
  if (r.open.empty()) return false;
  for (;;) {
    std::vector<Interruptible*> running;
    for (Interruptible* c : r.open)
      if (c->running_) {
        running.push_back(c);
        ++c->cancelling_;
      }
    if (running.empty()) return true;
    // A cancel may be a round trip to the server (PQcancel): without the lock, so that the
    // calls it stops can return meanwhile. A connection waits in its end for its cancel.
    hold.unlock();
    for (Interruptible* c : running) c->cancel_();
    hold.lock();
    for (Interruptible* c : running) --c->cancelling_;
    r.left.notify_all();
    r.left.wait_for(hold, std::chrono::milliseconds(50));
  }
}

Interruptible::Interruptible(std::function<void()> cancel) : cancel_(std::move(cancel)) {
  std::lock_guard<std::mutex> hold(Shared().lock);
  Shared().open.push_back(this);
}

Interruptible::~Interruptible() {
  std::unique_lock<std::mutex> hold(Shared().lock);
  Shared().left.wait(hold, [this] { return cancelling_ == 0; });
  auto& open = Shared().open;
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
}

void Interruptible::Enter() {
  int signal = 0;
  {
    std::lock_guard<std::mutex> hold(Shared().lock);
    signal = Shared().signal;
    running_ = signal == 0;
  }
  if (signal != 0) End(signal);
}

void Interruptible::Leave() {
  int signal = 0;
  {
    std::lock_guard<std::mutex> hold(Shared().lock);
    if (!running_) return;  // already left, or never entered
    running_ = false;
    signal = Shared().signal;
  }
  Shared().left.notify_all();
  if (signal != 0) End(signal);
}

}  // namespace vandrel::ado
