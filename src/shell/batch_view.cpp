#include "shell/batch_view.h"

#include <algorithm>

namespace vandrel::shell {
namespace {

// Where the line that begins at `at` ends, its line end included.
std::size_t LineEnd(std::string_view text, std::size_t at) {
  const std::size_t end = text.find_first_of("\r\n", at);
  if (end == std::string_view::npos) return text.size();
  if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') return end + 2;
  return end + 1;
}

}  // namespace

// Two passes over the text and nothing kept per line: a batch may be megabytes long.
std::optional<std::string> BatchView(std::string_view batch, std::optional<int64_t> failingLine,
                                     const std::string& recordPath) {
  int64_t total = 0;
  for (std::size_t at = 0; at < batch.size(); at = LineEnd(batch, at)) ++total;
  if (total <= kWholeBatchLines) return std::nullopt;

  int64_t first = 0;
  int64_t last = 2 * kLinesAround;  // past the end of what is kept
  if (failingLine && *failingLine >= 1 && *failingLine <= total) {
    first = std::max<int64_t>(0, *failingLine - 1 - kLinesAround);
    last = std::min<int64_t>(total, *failingLine + kLinesAround);
  }
  std::string view;
  auto cut = [&](int64_t count) {
    view += "[... " + std::to_string(count) + (count == 1 ? " línea" : " líneas") + " ...]\n";
  };
  if (first > 0) cut(first);
  std::size_t at = 0;
  for (int64_t k = 0; k < last; ++k) {
    const std::size_t end = LineEnd(batch, at);
    if (k >= first) view.append(batch.substr(at, end - at));
    at = end;
  }
  if (!view.empty() && view.back() != '\n' && view.back() != '\r') view += "\n";
  if (last < total) cut(total - last);
  view += "(Se omitieron " + std::to_string(total - (last - first)) + " de " +
          std::to_string(total) + " líneas del lote";
  view += recordPath.empty() ? std::string(")\n")
                             : "; el lote completo está en el registro " + recordPath + ")\n";
  return view;
}

}  // namespace vandrel::shell
