// The reading rule, the replacements of each line start "go", "Go" and "gO" (and "GO"
// after a lone LF) and the split, done the slow, literal way, to compare the real ones
// against.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrel::testing {

// Each line of `bytes` followed by CR LF; a line ends at CR, CR LF or the end.
inline std::string ReferenceLines(const std::string& bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t cr = bytes.find('\r', i);
    if (cr == std::string::npos) {
      out += bytes.substr(i) + "\r\n";
      break;
    }
    out += bytes.substr(i, cr - i) + "\r\n";
    i = cr + 1;
    if (i < bytes.size() && bytes[i] == '\n') ++i;
  }
  return out;
}

inline std::string ReferenceReplaceAll(const std::string& text, std::string_view from,
                                       std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find(from, pos)) != std::string::npos;
       pos = hit + from.size()) {
    out.append(text, pos, hit - pos);
    out.append(to);
  }
  out.append(text, pos);
  return out;
}

inline std::string ReferenceNormalise(std::string text) {
  for (const char* from :
       {"\rgo", "\rGo", "\rgO", "\ngo", "\nGo", "\ngO", "\r\ngo", "\r\nGo", "\r\ngO"})
    text = ReferenceReplaceAll(text, from, "\r\nGO");
  // Then "GO" after an LF that no CR comes before.
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\nGO") == 0 && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

inline std::vector<std::string> ReferenceSplit(const std::string& text) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find("\r\nGO", pos)) != std::string::npos; pos = hit + 4)
    pieces.push_back(text.substr(pos, hit - pos));
  pieces.push_back(text.substr(pos));
  return pieces;
}

}  // namespace vandrel::testing
