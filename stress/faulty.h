// Wrappers around the real file layer, data-access manager and drivers that count the calls
// made through them and fail the Nth, before it reaches the real one or after it did.
#pragma once

#include <memory>
#include <string>

#include "platform/env.h"

namespace vandrel::testing {

// The marker every injected failure carries in its description.
inline constexpr const char* kInjected = "fallo inyectado";

struct FaultPlan {
  int fail_at = 0;     // 1-based number of the call to fail; 0 never
  bool after = false;  // let the call happen, then fail
  int calls = 0;
  std::string fired;   // the call that failed, once it did

  // Counts a call named `what`; throws when it is the one to fail (`done` says whether the
  // real call already happened).
  void Call(const std::string& what, bool done);
};

// The file layer `target`, failing calls of the plan.
std::unique_ptr<platform::Env> FaultyEnv(platform::Env* target, FaultPlan* plan);

// Registers "Quillmere.QuillMain" as the real manager wrapped so that it, the objects it
// hands out and the connections they open fail calls of the plan.
void RegisterFaultyManager(FaultPlan* plan);

}  // namespace vandrel::testing
