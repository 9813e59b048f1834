// The reading rule, the rewrites of the line starts "go", "Go", "gO" (and "GO" after a lone
// LF) and the split, done the slow, literal way, to compare the real ones against.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace vandrel::testing {

// Each line of `bytes` followed by CR LF; a line ends at CR, CR LF or the end.
inline std::string ReferenceLines(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0, cr; i < bytes.size(); i = cr + (bytes.compare(cr, 2, "\r\n") == 0 ? 2 : 1)) {
    cr = std::min(bytes.find('\r', i), bytes.size());
    out += bytes.substr(i, cr - i) + "\r\n";
  }
  return out;
}

// Nine passes over the whole text, each replacing left to right; then a CR before each "GO"
// after an LF that no CR comes before.
inline std::string ReferenceNormalise(std::string text) {
  for (const std::string from : {"\rgo", "\rGo", "\rgO", "\ngo", "\nGo", "\ngO", "\r\ngo", "\r\nGo", "\r\ngO"})
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 4))
      text.replace(at, from.size(), "\r\nGO");
  for (std::size_t at = text.find("\nGO"); at != std::string::npos; at = text.find("\nGO", at + 3))
    if (at == 0 || text[at - 1] != '\r') text.insert(at++, 1, '\r');
  return text;
}

inline std::vector<std::string> ReferenceSplit(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find("\r\nGO", pos)) != std::string::npos; pos = hit + 4)
    pieces.push_back(text.substr(pos, hit - pos));
  if (!text.empty()) pieces.push_back(text.substr(pos));
  return pieces;
}

}  // namespace vandrel::testing
