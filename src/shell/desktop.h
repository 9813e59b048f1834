// What the routines need of the desktop besides the window: modal message boxes, the
// clipboard and the message pump. The window, the console and the tests each provide one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vandrel::shell {

// Message-box styles: an icon; the OK button alone is style 0.
constexpr int vbCritical = 16;
constexpr int vbExclamation = 48;

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Shows a modal box with an OK button and returns when it is closed. Without a title the
  // box shows the application title.
  void MsgBox(const std::string& prompt, int style, const std::optional<std::string>& title = {});
  // The same box for a prompt that ends with the text of a batch, from byte `batch_at` on:
  // a window may show that part apart from the report, bounded when it is megabytes long.
  void MsgBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                       const std::string& title);

  virtual void ClipboardClear() = 0;
  virtual void ClipboardSetText(const std::string& text) = 0;
  // Lets the window process the messages that are waiting, then returns.
  virtual void DoEvents() = 0;

 protected:
  virtual void ShowBox(const std::string& prompt, int style, const std::string& title) = 0;
  virtual void ShowBoxWithBatch(const std::string& prompt, std::size_t /*batch_at*/, int style,
                                const std::string& title) {
    ShowBox(prompt, style, title);
  }
};

}  // namespace vandrel::shell
