// What the update routines tell those who follow a run (the record of runs, the progress
// line on a terminal). A listener only watches: it never changes the run, and whatever it
// throws is dropped by Notify.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vandrel {
namespace shell {
struct FailurePlace;
}

struct FailedBatch {
  std::string_view script;   // the script's file name
  int64_t index = 0;         // the batch number as the report shows it
  std::string_view text;     // the batch text as executed (empty when none was formed)
  std::string_view message;  // the engine's text or the failure's description
  // Where the failing statement stands in the script file, the same place the report
  // shows; null when it could not be found.
  const shell::FailurePlace* place = nullptr;
};

class RunEvents {
 public:
  virtual ~RunEvents() = default;
  // Each entry of the list, in run order, once discovery has filled it.
  virtual void ScriptListed(const std::string& /*archivo*/, const std::string& /*entidad*/) {}
  // The data-access manager's tag for an entity, before its connection is asked for.
  virtual void EntityTagged(const std::string& /*entidad*/, const std::string& /*tag*/) {}
  // `connection`: the entity's Connection value with its passwords blanked, before it is
  // opened.
  virtual void EntityDescribed(const std::string& /*entidad*/, const std::string& /*connection*/) {}
  virtual void EntityConnected(const std::string& /*entidad*/) {}
  virtual void EntityCommitted() {}
  // `path` is the script's path as the routines open it.
  virtual void ScriptStarted(const std::string& /*archivo*/, const std::string& /*path*/) {}
  virtual void BatchStarting(int64_t /*index*/, int64_t /*batches*/) {}
  // The script has run whole, or failed; sent before any report of the failure.
  virtual void ScriptEnded() {}
  virtual void BatchFailed(const FailedBatch& /*failure*/) {}
  // The run is over, however it ended (a signal included); the module is not yet released.
  virtual void RunEnded() {}
};

}  // namespace vandrel
