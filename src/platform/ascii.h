// ASCII letter case, the same whatever the locale: names of files, members, keys and SQL
// words compare this way (a Turkish locale's "i" and "I" are not each other's case).
#pragma once

#include <string>
#include <string_view>

namespace vandrel::platform {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string AsciiLower(std::string s) {
  for (char& c : s) c = AsciiLower(c);
  return s;
}
inline std::string AsciiUpper(std::string s) {
  for (char& c : s) c = AsciiUpper(c);
  return s;
}

constexpr bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Whether `text` holds `word` (lower-case), ignoring ASCII letter case.
constexpr bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view word) {
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at)
    if (SameIgnoringAsciiCase(text.substr(at, word.size()), word)) return true;
  return false;
}

}  // namespace vandrel::platform
