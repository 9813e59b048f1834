// The five operations through which the update routines write to the main window. Each
// succeeds or throws Error in the calling routine.
#pragma once

#include <string>

namespace vandrel::shell {

class StatusSurface {
 public:
  virtual ~StatusSurface() = default;
  virtual void ClearList() = 0;
  virtual void AddListEntry(const std::string& text) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetProgressMax(float max) = 0;
  virtual void SetProgressValue(float value) = 0;
};

// The range rules of the progress control: minimum 0.0001, designed maximum 100, empty at
// start. A maximum not above the minimum, or a value outside minimum..maximum, throws
// "Invalid property value" and changes nothing.
class ProgressRange {
 public:
  static constexpr float kMin = 0.0001f;
  static constexpr float kDesignMax = 100.0f;

  void SetMax(float max);
  void SetValue(float value);
  float Min() const { return kMin; }
  float Max() const { return max_; }
  float Value() const { return value_; }

 private:
  float max_ = kDesignMax;
  float value_ = kMin;
};

}  // namespace vandrel::shell
