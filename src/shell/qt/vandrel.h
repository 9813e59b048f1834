// The window Vandrel: title band, script list, status line and progress bar. It is the
// status surface of the run, which its timer starts once, two seconds after creation.
#pragma once

#include <QWidget>

#include "shell/desktop.h"
#include "shell/program_end.h"
#include "shell/status_surface.h"

class QCloseEvent;
class QFrame;
class QLabel;
class QListWidget;
class QTimer;

namespace vandrel::shell {

class ProgressBar;

class Vandrel final : public QWidget, public StatusSurface {
 public:
  static constexpr int kClientWidth = 478;
  static constexpr int kClientHeight = 246;
  static constexpr int kTimerInterval = 2000;

  // Creates the window with its controls and runs the load event; the timer runs from
  // here. REQUIRES: a QApplication exists and `desktop` outlives the window.
  explicit Vandrel(Desktop& desktop);

  // Centres the window on its screen and shows it.
  void ShowCentred();

  // The tick of Timer1: switches the timer off, runs the update and ends the event loop
  // with the exit status. The timer calls it; tests may call it instead of waiting.
  void Timer1_Timer();

  bool RunStarted() const { return state_ == State::Running || state_ == State::Ended; }
  bool RunEnded() const { return state_ == State::Ended; }

  void ClearList() override;
  void AddListEntry(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetProgressMax(float max) override;
  void SetProgressValue(float value) override;

  QFrame* Shp1;
  QLabel* Label1;
  QLabel* Lbl_AppVer;
  QListWidget* List1;
  QLabel* Lbl_StatusPrg;
  ProgressBar* prgbar;
  QTimer* Timer1;

 protected:
  // Before the run the program ends (exit status 4); during the run the close is refused.
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class State { Waiting, Running, Ended, ClosedBeforeRun };
  void Form_Load();

  Desktop& desktop_;
  State state_ = State::Waiting;
};

}  // namespace vandrel::shell
