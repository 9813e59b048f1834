// The desktop of the window front end: Qt message boxes, the application's clipboard and
// its event loop.
#pragma once

#include <QElapsedTimer>

#include <string>

#include "shell/desktop.h"

class QWidget;

namespace vandrel::shell {

// What a message box shows of `text`: the text itself when it is short, otherwise its
// first lines, each cut to a readable length, with "…" where something was left out. The
// result holds at most `max_lines` lines of at most `max_columns` characters plus the
// marks. Cuts never split a UTF-8 character.
std::string BoundedBoxText(const std::string& text, int max_lines = 20, int max_columns = 100);

// The window calls this whenever the run changes what it shows, so that the next DoEvents
// paints it before the batch that follows.
void NoteWindowChanged();

class QtDesktop final : public Desktop {
 public:
  // Boxes are centred over `owner` when it is given.
  explicit QtDesktop(QWidget* owner = nullptr) : owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }

  void ClipboardClear() override;
  void ClipboardSetText(const std::string& text) override;
  // Processes the waiting messages when the window changed since the last call, or when
  // a few milliseconds have passed: asking the event loop costs a system call even when
  // nothing waits, more than a small batch itself.
  void DoEvents() override;

 protected:
  // Application-modal, OK only; returns when the box is closed.
  void ShowBox(const std::string& prompt, int style, const std::string& title) override;

 private:
  QWidget* owner_;
  QElapsedTimer sincePump_;
};

}  // namespace vandrel::shell
