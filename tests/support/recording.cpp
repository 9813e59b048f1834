#include "support/recording.h"

#include <sstream>

#include "platform/error.h"

namespace vandrel::testing {
namespace {

std::string Number(float value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

void RecordingStatus::Record(std::string event) {
  if (++count_ == fail_at) throw Error("status surface refused: " + event);
  events.push_back(std::move(event));
}

void RecordingStatus::ClearList() { Record("clear"); }
void RecordingStatus::AddListEntry(const std::string& text) { Record("add " + text); }
void RecordingStatus::SetStatusText(const std::string& text) { Record("status " + text); }
void RecordingStatus::SetProgressMax(float max) {
  Record("max " + Number(max));
  range.SetMax(max);
}
void RecordingStatus::SetProgressValue(float value) {
  Record("value " + Number(value));
  range.SetValue(value);
}

void RecordingDesktop::DoEvents() {
  ++pumped;
  if (on_pump) on_pump();
}

std::optional<ExitStatus> Ends(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ProgramEnd& end) {
    return end.status;
  }
  return std::nullopt;
}

std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.Description();
  }
  return "no error";
}

}  // namespace vandrel::testing
