// How the console shows a failing batch: whole up to kWholeBatchLines lines; a longer one
// as the lines around the failing statement (the first lines when its place is not known)
// and a line that says how many were left out and that the record holds the batch whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vandrel::shell {

inline constexpr int64_t kWholeBatchLines = 60;
inline constexpr int64_t kLinesAround = 10;

// The shortened view, or nullopt when the batch is to be shown whole. `failingLine` counts
// from the batch's first line (1 = first); `recordPath` may be "". Lines end at CR LF, CR
// or LF, as an editor counts them; each kept line keeps its end.
std::optional<std::string> BatchView(std::string_view batch, std::optional<int64_t> failingLine,
                                     const std::string& recordPath);

}  // namespace vandrel::shell
