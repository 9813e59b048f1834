// PostgreSQL's lexical rules that every reader of its text shares: words, comments, quoted
// strings and identifiers, dollar quoting. Each Skip takes the offset of the construct's
// first character and returns the offset after it (the text's end when it is not closed).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/ascii.h"

namespace vandrel::ado::pglex {

inline bool WordStart(char c) {
  const char l = platform::AsciiLower(c);
  return (l >= 'a' && l <= 'z') || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
inline bool WordChar(char c) { return WordStart(c) || (c >= '0' && c <= '9') || c == '$'; }

// /* ... */, which nests.
inline std::size_t SkipComment(std::string_view s, std::size_t at) {
  int nesting = 0;
  while (at < s.size()) {
    if (s.compare(at, 2, "/*") == 0) {
      ++nesting;
      at += 2;
    } else if (s.compare(at, 2, "*/") == 0) {
      at += 2;
      if (--nesting == 0) return at;
    } else {
      ++at;
    }
  }
  return at;
}

// 'string' or "identifier", a doubled quote inside; `escapes` reads backslash escapes too.
inline std::size_t SkipQuoted(std::string_view s, std::size_t at, char quote, bool escapes) {
  ++at;
  while (at < s.size()) {
    const char c = s[at++];
    if (escapes && c == '\\') {
      ++at;
    } else if (c == quote) {
      if (at < s.size() && s[at] == quote) ++at;  // a doubled quote
      else return at;
    }
  }
  return at;
}

// $tag$ ... $tag$, the tag empty or a word without '$'; nothing when the '$' opens no such
// quote ($1 is a parameter).
inline std::optional<std::size_t> SkipDollarQuoted(std::string_view s, std::size_t at) {
  std::size_t end = at + 1;
  if (end < s.size() && WordStart(s[end]))
    while (end < s.size() && WordChar(s[end]) && s[end] != '$') ++end;
  if (end >= s.size() || s[end] != '$') return std::nullopt;
  const std::string_view tag = s.substr(at, end - at + 1);
  const auto close = s.find(tag, end + 1);
  return close == std::string_view::npos ? s.size() : close + tag.size();
}

}  // namespace vandrel::ado::pglex
