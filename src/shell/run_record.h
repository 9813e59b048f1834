// The record of one run, kept for the administrator ("send us what happened"): who ran
// what, where, each script's size and SHA-256, each entity's outcome, the failing batch
// with its place and the engine's message, and how the program ended. It follows the run
// as a listener, and is written once the run has ended; a record that cannot be written
// never changes the run or its exit status. No connection password is ever in it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "execution/run_events.h"
#include "shell/desktop.h"
#include "shell/program_end.h"
#include "shell/record_file.h"

namespace vandrel::shell {

// Of a failing batch the record keeps this much, and says how long the batch was.
inline constexpr std::size_t kRecordedBatchBytes = 1u << 20;

class RunRecord final : public RunEvents {
 public:
  // Notes the start: time, user, host, the program folder and the configuration file, as
  // the routines' environment (services.env) has them.
  RunRecord();

  void ScriptListed(const std::string& archivo, const std::string& entidad) override;
  void EntityTagged(const std::string& entidad, const std::string& tag) override;
  void EntityDescribed(const std::string& entidad, const std::string& connection) override;
  void EntityConnected(const std::string& entidad) override;
  void EntityCommitted() override;
  void ScriptStarted(const std::string& archivo, const std::string& path) override;
  void BatchStarting(int64_t index, int64_t batches) override;
  void ScriptEnded() override;
  void BatchFailed(const FailedBatch& failure) override;
  // A message box as the person saw it (without the batch text that may follow it).
  void BoxShown(const std::string& title, const std::string& text);

  // The run has ended with `status`: the outcomes are settled.
  void Finish(ExitStatus status);
  // The record's text, and the console's summary of the run (after Finish).
  std::string Text() const;
  std::string Summary() const;

  // Appends the text to the record file; when that fails, one line on `err` says so and
  // the result is false.
  bool Write(FILE* err);
  const std::string& path() const { return path_; }

 private:
  enum class Outcome { NotReached, Connecting, Open, Committed, RolledBack };
  struct Entity {
    std::string name, tag, connection;
    Outcome outcome = Outcome::NotReached;
    std::string why;  // for an entity not reached
  };
  struct Script {
    std::string archivo, entidad, path;
    bool started = false, ended = false, failed = false;
    int64_t batches = 0, ran = 0;
    std::chrono::steady_clock::duration took{};
    std::optional<FileDigest> digest;
    // Reading a script twice costs no time of the run's on a second core.
    std::future<std::optional<FileDigest>> digesting;
  };
  struct Failure {
    std::string script, text, message;
    int64_t index = 0;
    std::optional<std::string> place;
  };

  static std::string OutcomeText(const Entity& e);
  Entity* FindEntity(const std::string& name);
  Script* Current();

  std::string path_, user_, host_, folder_, config_, started_, finished_;
  std::chrono::steady_clock::time_point start_, scriptStart_;
  std::chrono::steady_clock::duration took_{};
  std::vector<Entity> entities_;
  std::vector<Script> scripts_;
  std::size_t current_ = 0;  // scripts_ index of the script running, + 1; 0 before the first
  std::vector<std::pair<std::string, std::string>> boxes_;
  std::optional<Failure> failure_;
  std::size_t batchBytes_ = 0;
  std::optional<ExitStatus> status_;
};

// A desktop that shows every box through `target` and notes it in `record` first.
class RecordedDesktop final : public Desktop {
 public:
  RecordedDesktop(Desktop& target, RunRecord& record) : target_(target), record_(record) {}
  void ClipboardClear() override { target_.ClipboardClear(); }
  void ClipboardSetText(const std::string& text) override { target_.ClipboardSetText(text); }
  void DoEvents() override { target_.DoEvents(); }

 protected:
  void ShowBox(const std::string& prompt, int style, const std::string& title) override;
  void ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                        const std::string& title, const std::optional<FailurePlace>& place) override;

 private:
  Desktop& target_;
  RunRecord& record_;
};

}  // namespace vandrel::shell
