// Stand-ins for the window and the person in front of it: they record what the routines
// show and press OK at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/desktop.h"
#include "shell/program_end.h"
#include "shell/status_surface.h"

namespace vandrel::testing {

// Records each operation as a line: "clear", "add X", "status X", "max 3", "value 1".
// `fail_at` makes the operation with that 1-based number throw instead.
class RecordingStatus final : public shell::StatusSurface {
 public:
  std::vector<std::string> events;
  shell::ProgressRange range;
  int fail_at = 0;

  void ClearList() override;
  void AddListEntry(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetProgressMax(float max) override;
  void SetProgressValue(float value) override;

 private:
  void Record(std::string event);
  int count_ = 0;
};

struct Box {
  std::string prompt;
  int style;
  std::string title;
  std::string place = {};  // the failure's CompilerLine, when the box reports one
};

class RecordingDesktop final : public shell::Desktop {
 public:
  std::vector<Box> boxes;
  std::vector<std::string> clipboard_ops;  // "clear", "set <text>"
  int pumped = 0;
  std::function<void()> on_pump;  // runs at each DoEvents, e.g. to break something

  void ClipboardClear() override { clipboard_ops.push_back("clear"); }
  void ClipboardSetText(const std::string& text) override { clipboard_ops.push_back("set " + text); }
  void DoEvents() override;

 protected:
  void ShowBox(const std::string& prompt, int style, const std::string& title) override {
    boxes.push_back({prompt, style, title});
  }
  void ShowBoxWithBatch(const std::string& prompt, std::size_t, int style, const std::string& title,
                        const std::optional<shell::FailurePlace>& place) override {
    boxes.push_back({prompt, style, title, place ? place->CompilerLine() : ""});
  }
};

// Runs `fn`; returns the exit status if it ended the program, nothing if it returned.
std::optional<ExitStatus> Ends(const std::function<void()>& fn);

// The description of the Error that `fn` throws, or "no error".
std::string ErrorOf(const std::function<void()>& fn);

}  // namespace vandrel::testing
