// The desktop of the window front end: message boxes over the window, the application's
// clipboard and its event loop.
#pragma once

#include <QElapsedTimer>

#include <string>

#include "shell/desktop.h"

class QWidget;

namespace vandrel::shell {

// The window calls this whenever the run changes what it shows, so that the next DoEvents
// paints it before the batch that follows.
void NoteWindowChanged();

class QtDesktop final : public Desktop {
 public:
  // Boxes are children of `owner` when it is given, kept over it and centred on it.
  explicit QtDesktop(QWidget* owner = nullptr) : owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }

  void ClipboardClear() override;
  void ClipboardSetText(const std::string& text) override;
  // Paints what changed since the last call, then processes the waiting messages; with
  // nothing changed, it asks the event loop at most every few milliseconds (that costs a
  // system call even when nothing waits, more than a small batch itself).
  void DoEvents() override;

  // At the end of the program: when the text last put on the clipboard is still this
  // program's and no clipboard manager will take it over, hands it to a process that keeps
  // serving it until another program takes the clipboard (xclip on X, wl-copy on Wayland).
  // Returns whether it was handed over.
  bool KeepClipboard();

 protected:
  // Application-modal, OK only; returns when the box is closed.
  void ShowBox(const std::string& prompt, int style, const std::string& title) override;
  void ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                        const std::string& title, const std::optional<FailurePlace>& place) override;

 private:
  QWidget* owner_;
  QElapsedTimer sincePump_;
  std::string clipboardText_;
  bool clipboardSet_ = false;
};

}  // namespace vandrel::shell
