// What the routines need of the desktop besides the window: modal message boxes, the
// clipboard and the message pump. The window, the console and the tests each provide one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vandrel::shell {

// Message-box styles: an icon; the OK button alone is style 0.
constexpr int vbCritical = 16;
constexpr int vbExclamation = 48;

// Where in its script a failed batch failed, as an editor numbers the file.
struct FailurePlace {
  std::string path;     // the script as the program found it: folder and name
  std::string file;     // its name alone
  std::uint64_t line = 1;
  std::optional<std::uint64_t> column;  // in characters; only when the engine named the token
  std::uint64_t batchLine = 1;  // the line of the batch text's first character
  std::string message;  // the first line of the failure's description

  // "PATH:LINE:COLUMN", without the column when it is not known.
  std::string Where() const;
  // "PATH:LINE:COLUMN: error: MESSAGE": the form compilers use, which editors and CI logs
  // can jump to.
  std::string CompilerLine() const;
  // The failing line counted from the batch text's first line (1 = first).
  std::uint64_t LineInBatch() const { return line < batchLine ? 1 : line - batchLine + 1; }
  // "FILE, línea LINE, columna COLUMN", for the window's report.
  std::string Spanish() const;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Shows a modal box with an OK button and returns when it is closed. Without a title the
  // box shows the application title.
  void MsgBox(const std::string& prompt, int style, const std::optional<std::string>& title = {});
  // The same box for a prompt that ends with the text of a batch, from byte `batch_at` on:
  // a window may show that part apart from the report, bounded when it is megabytes long.
  // `place`, when known, is shown after the report and marked in the batch.
  void MsgBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                       const std::string& title, const std::optional<FailurePlace>& place = {});

  virtual void ClipboardClear() = 0;
  virtual void ClipboardSetText(const std::string& text) = 0;
  // Lets the window process the messages that are waiting, then returns.
  virtual void DoEvents() = 0;

 protected:
  virtual void ShowBox(const std::string& prompt, int style, const std::string& title) = 0;
  virtual void ShowBoxWithBatch(const std::string& prompt, std::size_t /*batch_at*/, int style,
                                const std::string& title,
                                const std::optional<FailurePlace>& /*place*/) {
    ShowBox(prompt, style, title);
  }
};

}  // namespace vandrel::shell
