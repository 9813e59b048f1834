#include "platform/ado/pg_text.h"
#include "platform/ascii.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vandrel::ado {

namespace {

using platform::AsciiLower;
char Lower(char c) { return AsciiLower(c); }
bool WordStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (Lower(c) >= 'a' && Lower(c) <= 'z') || c == '_' || u >= 0x80;
}
bool WordChar(char c) { return WordStart(c) || (c >= '0' && c <= '9') || c == '$'; }

// Reads the statements of `s`; `escapes` reads backslash escapes in plain strings too
// (standard_conforming_strings off).
class Scanner {
 public:
  Scanner(std::string_view s, bool escapes) : s_(s), escapes_(escapes) {}

  bool FindsCopyWithTheClient() { return Scan(true); }

  std::vector<std::string> PreparedTransactionIds() {
    Scan(false);
    return std::move(prepared_);
  }

  // The offsets of the statements' first tokens, or nothing when the server may cut the
  // text otherwise (a ';' inside parentheses, a BEGIN ATOMIC body).
  std::optional<std::vector<std::size_t>> Statements() {
    std::vector<std::size_t> starts;
    starts_ = &starts;
    Scan(false);
    if (unsure_) return std::nullopt;
    return starts;
  }

 private:
  // Reads statement after statement; stops at the first COPY with the client when
  // `stopAtCopy`, and says whether it found one.
  bool Scan(bool stopAtCopy) {
    bool copies = false;
    while (at_ < s_.size()) {
      tokenAt_ = at_;
      const char c = s_[at_];
      const char next = at_ + 1 < s_.size() ? s_[at_ + 1] : '\0';
      if (c == '-' && next == '-') {
        const auto end = s_.find('\n', at_);
        at_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else if (c == '/' && next == '*') {
        SkipComment();
      } else if (c == '\'') {
        const std::size_t start = at_;
        SkipQuoted('\'', escapes_);
        Literal(start, escapes_);
      } else if (c == '"') {
        SkipQuoted('"', false);
        Token("\"");
      } else if (c == '$' && SkipDollarQuoted()) {
        Token("$");
      } else if (WordStart(c)) {
        std::string word;
        while (at_ < s_.size() && WordChar(s_[at_])) word += Lower(s_[at_++]);
        if (word == "e" && at_ < s_.size() && s_[at_] == '\'') {
          const std::size_t start = at_;
          SkipQuoted('\'', true);
          Literal(start, true);
        } else {
          if (word == "atomic") unsure_ = true;
          Token(word);
        }
      } else if (c == ';') {
        ++at_;
        if (depth_ > 0) unsure_ = true;
        copies = EndStatement() || copies;
        if (copies && stopAtCopy) return true;
      } else {
        ++at_;
        if (c == ')' && depth_ > 0) --depth_;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') continue;
        Token(std::string(1, c));
        if (c == '(') ++depth_;
      }
    }
    return EndStatement() || copies;
  }

  // Only what lies outside parentheses tells where a COPY's data goes.
  bool Wanted() const {
    return depth_ == 0 && (words_.empty() || words_[0] == "copy" || words_[0] == "prepare");
  }
  void Token(std::string token) {
    Begin();
    if (Wanted()) words_.push_back(std::move(token));
  }
  void Begin() {
    if (starts_ != nullptr && !inStatement_) starts_->push_back(tokenAt_);
    inStatement_ = true;
  }

  // The string constant s_[start, at_) as "'" and its value; only PREPARE TRANSACTION's is
  // ever read.
  void Literal(std::size_t start, bool escapes) {
    Begin();
    if (!Wanted()) return;
    std::string token = "'";
    for (std::size_t i = start + 1; i + 1 < at_; ++i) {
      if (escapes && s_[i] == '\\' && i + 2 < at_) {
        static constexpr std::string_view kFrom = "bfnrt", kTo = "\b\f\n\r\t";
        const auto named = kFrom.find(s_[++i]);
        token += named == std::string_view::npos ? s_[i] : kTo[named];
        continue;
      }
      if (s_[i] == '\'') ++i;  // a doubled quote
      token += s_[i];
    }
    words_.push_back(std::move(token));
  }

  bool EndStatement() {
    if (words_.size() == 3 && words_[0] == "prepare" && words_[1] == "transaction" &&
        words_[2].starts_with('\''))
      prepared_.push_back(words_[2].substr(1));
    bool copies = false;
    if (!words_.empty() && words_[0] == "copy") {
      for (std::size_t i = 1; i + 1 < words_.size(); ++i)
        if ((words_[i] == "from" && words_[i + 1] == "stdin") ||
            (words_[i] == "to" && words_[i + 1] == "stdout"))
          copies = true;
    }
    words_.clear();
    depth_ = 0;
    inStatement_ = false;
    return copies;
  }

  void SkipComment() {  // comments nest
    int nesting = 0;
    while (at_ < s_.size()) {
      if (s_.compare(at_, 2, "/*") == 0) {
        ++nesting;
        at_ += 2;
      } else if (s_.compare(at_, 2, "*/") == 0) {
        at_ += 2;
        if (--nesting == 0) return;
      } else {
        ++at_;
      }
    }
  }

  void SkipQuoted(char quote, bool escapes) {
    ++at_;
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (escapes && c == '\\') {
        ++at_;
      } else if (c == quote) {
        if (at_ < s_.size() && s_[at_] == quote) ++at_;  // a doubled quote
        else return;
      }
    }
  }

  // $tag$ ... $tag$, the tag empty or a word without '$'; false (nothing skipped) when the
  // '$' opens no such quote ($1 is a parameter).
  bool SkipDollarQuoted() {
    std::size_t end = at_ + 1;
    if (end < s_.size() && WordStart(s_[end]))
      while (end < s_.size() && WordChar(s_[end]) && s_[end] != '$') ++end;
    if (end >= s_.size() || s_[end] != '$') return false;
    const std::string_view tag = s_.substr(at_, end - at_ + 1);
    const auto close = s_.find(tag, end + 1);
    at_ = close == std::string_view::npos ? s_.size() : close + tag.size();
    return true;
  }

  std::string_view s_;
  bool escapes_;
  std::size_t at_ = 0;
  int depth_ = 0;
  std::vector<std::string> words_;  // the current statement's tokens outside parentheses
  std::vector<std::string> prepared_;
  std::size_t tokenAt_ = 0;   // where the token being read began
  bool inStatement_ = false;  // a token of the current statement has been read
  std::vector<std::size_t>* starts_ = nullptr;
  bool unsure_ = false;
};

bool Contains(std::string_view text, std::string_view lowerWord) {
  return std::search(text.begin(), text.end(), lowerWord.begin(), lowerWord.end(),
                     [](char a, char b) { return Lower(a) == b; }) != text.end();
}

}  // namespace

bool CopiesWithTheClient(std::string_view text) {
  if (!Contains(text, "copy")) return false;
  return Scanner(text, false).FindsCopyWithTheClient() ||
         (text.find('\\') != std::string_view::npos && Scanner(text, true).FindsCopyWithTheClient());
}

std::optional<std::vector<std::size_t>> StatementStarts(std::string_view text) {
  auto starts = Scanner(text, false).Statements();
  // Backslashes are escapes or not by a setting of the session: both readings must agree.
  if (starts && text.find('\\') != std::string_view::npos &&
      Scanner(text, true).Statements() != starts)
    return std::nullopt;
  return starts;
}

std::vector<std::string> PreparedTransactionIds(std::string_view text) {
  if (!Contains(text, "prepare")) return {};
  return Scanner(text, false).PreparedTransactionIds();
}

bool MayChangeClientEncoding(std::string_view text) {
  static constexpr std::array<std::string_view, 6> kWords = {
      "encoding", "names", "set_config", "reset", "discard", "pg_settings"};
  for (const std::string_view word : kWords)
    if (Contains(text, word)) return true;
  return false;
}

}  // namespace vandrel::ado
