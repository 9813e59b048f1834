// The line on a terminal that shows how far a long script has got ("lote 12 de 400, 3 s"):
// drawn when a script of at least kMinBatches batches begins, redrawn at most every
// kRedraw, and erased when the script ends. Nothing at all is written when the stream is
// not a terminal. Every runner of scripts shows its progress through this class.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "execution/run_events.h"

namespace vandrel {

class ProgressLine final : public RunEvents {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int64_t kMinBatches = 20;
  static constexpr Clock::duration kRedraw = std::chrono::milliseconds(250);

  // `fd` is written only when it is a terminal; it stays the caller's.
  explicit ProgressLine(int fd);
  ~ProgressLine() override { Erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Batch `index` (from 0) of `batches` is about to run.
  void BatchStarting(int64_t index, int64_t batches) override;
  void ScriptEnded() override { Erase(); }
  void RunEnded() override { Erase(); }
  // Removes the line, leaving the cursor where the line began.
  void Erase();

  // The line's text after `elapsed` at batch `index` (from 0) of `batches`.
  static std::string Text(int64_t index, int64_t batches, Clock::duration elapsed);

 private:
  void Write(const std::string& text);

  int fd_;
  bool terminal_;
  std::size_t shown_ = 0;  // length of the line on the screen, 0 when none
  Clock::time_point start_, drawn_;
};

}  // namespace vandrel
