// The console front end's status surface and desktop, for when no display can be reached:
// status lines on stdout, message boxes on stderr, no clipboard and nobody to press OK.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "shell/desktop.h"
#include "shell/status_surface.h"

namespace vandrel::shell {

class ConsoleStatus final : public StatusSurface {
 public:
  explicit ConsoleStatus(FILE* out = stdout) : out_(out) {}
  // The window's title band and first status line.
  void ShowStart();

  void ClearList() override {}
  void AddListEntry(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetProgressMax(float max) override { range_.SetMax(max); }
  void SetProgressValue(float value) override { range_.SetValue(value); }

 private:
  void Line(const std::string& text);
  FILE* out_;
  ProgressRange range_;
};

class ConsoleDesktop final : public Desktop {
 public:
  explicit ConsoleDesktop(FILE* err = stderr) : err_(err) {}
  void ClipboardClear() override {}
  void ClipboardSetText(const std::string&) override {}
  void DoEvents() override {}

  // A long failing batch is shown shortened, pointing to the record at `recordPath`.
  void SetRecordPath(std::string recordPath) { recordPath_ = std::move(recordPath); }

 protected:
  void ShowBox(const std::string& prompt, int style, const std::string& title) override;
  // The box, a long batch in it shortened around the place, then the place on a line of
  // its own.
  void ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                        const std::string& title, const std::optional<FailurePlace>& place) override;

 private:
  void Write(const std::string& utf8);
  FILE* err_;
  std::string recordPath_;
};

}  // namespace vandrel::shell
