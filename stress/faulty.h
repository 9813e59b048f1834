// Wrappers around the real file layer, data-access manager and drivers that count the calls
// made through them and fail the Nth, before it reaches the real one or after it did.
#pragma once

#include <memory>
#include <string>

#include "platform/ado/connection.h"
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
  bool Fails(bool done) const { return calls == fail_at && after == done; }
};

// The file layer, failing calls of the plan; `target` does the real work.
class FaultyEnv : public platform::EnvWrapper {
 public:
  FaultyEnv(platform::Env* target, FaultPlan* plan) : EnvWrapper(target), plan_(plan) {}
  std::string ProgramFolder() override;
  std::string Dir(const std::string& pattern, int attributes) override;
  std::string DirNext() override;
  std::string Environ(const std::string& name) override;
  std::unique_ptr<platform::TextFile> OpenText(const std::string& path) override;

 private:
  FaultPlan* plan_;
};

// Registers "Quillmere.QuillMain" as the real manager wrapped so that it, the objects it
// hands out and the connections they open fail calls of the plan.
void RegisterFaultyManager(FaultPlan* plan);

}  // namespace vandrel::testing
