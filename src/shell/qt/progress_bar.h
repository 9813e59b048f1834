// The window's progress control: single-precision Min, Max and Value over a QProgressBar.
// Max not above Min, or Value outside Min..Max, throws "Invalid property value" and leaves
// the bar as it was.
#pragma once

#include <QProgressBar>

#include "shell/status_surface.h"

namespace vandrel::shell {

class ProgressBar final : public QProgressBar {
 public:
  // Steps of the underlying bar; fine enough that one script of thousands still shows.
  static constexpr int kSteps = 10000;

  explicit ProgressBar(QWidget* parent);

  float Max() const { return range_.Max(); }
  float Value() const { return range_.Value(); }
  void SetMax(float max);
  void SetValue(float value);

 private:
  void ShowPosition();
  ProgressRange range_;
};

}  // namespace vandrel::shell
