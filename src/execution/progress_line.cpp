#include "execution/progress_line.h"

#include <unistd.h>

#include <cerrno>

namespace vandrel {

ProgressLine::ProgressLine(int fd) : fd_(fd), terminal_(isatty(fd) == 1) {}

std::string ProgressLine::Text(int64_t index, int64_t batches, Clock::duration elapsed) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  return "lote " + std::to_string(index + 1) + " de " + std::to_string(batches) + ", " +
         std::to_string(seconds) + " s";
}

void ProgressLine::BatchStarting(int64_t index, int64_t batches) {
  if (!terminal_ || batches < kMinBatches) return;
  const Clock::time_point now = Clock::now();
  if (index == 0) start_ = now;
  else if (shown_ != 0 && now - drawn_ < kRedraw) return;
  drawn_ = now;
  const std::string text = Text(index, batches, now - start_);
  // Blanks over what is left of a longer line drawn before.
  const std::size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
  Write("\r" + text + std::string(pad, ' ') + std::string(pad, '\b'));
  shown_ = text.size();
}

void ProgressLine::Erase() {
  if (shown_ == 0) return;
  Write("\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

// A terminal that does not take the line is no reason to stop the update.
void ProgressLine::Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace vandrel
