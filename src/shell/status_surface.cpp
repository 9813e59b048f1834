#include "shell/status_surface.h"

#include <cmath>

#include "platform/error.h"

namespace vandrel::shell {

void ProgressRange::SetMax(float max) {
  if (!(max > kMin) || std::isinf(max)) throw InvalidPropertyValue();
  max_ = max;
  if (value_ > max_) value_ = max_;
}

void ProgressRange::SetValue(float value) {
  if (!(value >= kMin && value <= max_)) throw InvalidPropertyValue();
  value_ = value;
}

}  // namespace vandrel::shell
