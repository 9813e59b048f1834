#include "shell/qt/progress_bar.h"

#include <cmath>

namespace vandrel::shell {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
  setOrientation(Qt::Horizontal);
  setTextVisible(false);
  setRange(0, kSteps);
  ShowPosition();
}

void ProgressBar::SetMax(float max) {
  range_.SetMax(max);
  ShowPosition();
}

void ProgressBar::SetValue(float value) {
  range_.SetValue(value);
  ShowPosition();
}

void ProgressBar::ShowPosition() {
  const double span = static_cast<double>(range_.Max()) - range_.Min();
  const double part = (static_cast<double>(range_.Value()) - range_.Min()) / span;
  setValue(static_cast<int>(std::lround(part * kSteps)));
}

}  // namespace vandrel::shell
