#include "shell/batch_view.h"

#include <algorithm>
#include <vector>

namespace vandrel::shell {

std::string BatchView(std::string_view batch, std::optional<int64_t> failingLine,
                      const std::string& recordPath) {
  std::vector<std::string_view> lines;  // each with its line end
  for (std::size_t at = 0; at < batch.size();) {
    std::size_t end = batch.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = batch.size();
    else if (batch[end] == '\r' && end + 1 < batch.size() && batch[end + 1] == '\n') end += 2;
    else ++end;
    lines.push_back(batch.substr(at, end - at));
    at = end;
  }
  const auto total = static_cast<int64_t>(lines.size());
  if (total <= kWholeBatchLines) return std::string(batch);

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
  for (int64_t k = first; k < last; ++k) view += lines[static_cast<std::size_t>(k)];
  if (!view.empty() && view.back() != '\n' && view.back() != '\r') view += "\n";
  if (last < total) cut(total - last);
  view += "(Se omitieron " + std::to_string(total - (last - first)) + " de " +
          std::to_string(total) + " líneas del lote";
  view += recordPath.empty() ? std::string(")\n")
                             : "; el lote completo está en el registro " + recordPath + ")\n";
  return view;
}

}  // namespace vandrel::shell
