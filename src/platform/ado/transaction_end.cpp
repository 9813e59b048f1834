#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/pg_lexing.h"
#include "platform/ado/pg_text.h"
#include "platform/ado/rehearsal.h"
#include "platform/ascii.h"

namespace vandrel::ado {

namespace {

using pglex::WordChar;
using pglex::WordStart;

struct Token {
  std::size_t at;
  std::string word;  // lower case; empty for anything that is not a word (';' is ";")
};

// The tokens of `s` from `from` on, comments skipped, each string or quoted identifier one
// token that is no word.
class Lexer {
 public:
  Lexer(std::string_view s, std::size_t from, bool escapes, bool dollarQuotes)
      : s_(s), at_(from), escapes_(escapes), dollar_(dollarQuotes) {}

  std::optional<Token> Next() {
    while (at_ < s_.size()) {
      const std::size_t start = at_;
      const char c = s_[at_];
      const char next = at_ + 1 < s_.size() ? s_[at_ + 1] : '\0';
      if (c == '-' && next == '-') {
        const auto end = s_.find('\n', at_);
        at_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else if (c == '/' && next == '*') {
        SkipComment();
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++at_;
      } else if (c == '\'' || c == '"') {
        SkipQuoted(c, c == '\'' && escapes_);
        return Token{start, ""};
      } else if (c == '$' && dollar_ && SkipDollarQuoted()) {
        return Token{start, ""};
      } else if (WordStart(c)) {
        std::string word;
        while (at_ < s_.size() && WordChar(s_[at_])) word += platform::AsciiLower(s_[at_++]);
        // E'...' reads backslash escapes whatever the session says.
        if (word == "e" && at_ < s_.size() && s_[at_] == '\'') {
          SkipQuoted('\'', true);
          return Token{start, ""};
        }
        return Token{start, std::move(word)};
      } else {
        ++at_;
        return Token{start, c == ';' ? ";" : ""};
      }
    }
    return std::nullopt;
  }

 private:
  void SkipComment() { at_ = pglex::SkipComment(s_, at_); }
  void SkipQuoted(char quote, bool escapes) { at_ = pglex::SkipQuoted(s_, at_, quote, escapes); }
  bool SkipDollarQuoted() {
    const auto end = pglex::SkipDollarQuoted(s_, at_);
    if (end) at_ = *end;
    return end.has_value();
  }

  std::string_view s_;
  std::size_t at_;
  bool escapes_;
  bool dollar_;
};

// The first of `words` outside comments and strings; with a backslash in the text, the
// earlier of the two readings (escapes or not), since the session decides which holds.
std::optional<std::size_t> FirstWord(std::string_view text, std::initializer_list<std::string_view> words,
                                     bool dollarQuotes) {
  std::optional<std::size_t> found;
  for (const bool escapes : {false, true}) {
    if (escapes && text.find('\\') == std::string_view::npos) break;
    Lexer lexer(text, 0, escapes, dollarQuotes);
    while (const auto token = lexer.Next()) {
      bool hit = false;
      for (const std::string_view w : words) hit = hit || token->word == w;
      if (!hit) continue;
      if (!found || token->at < *found) found = token->at;
      break;
    }
  }
  return found;
}

// The words a statement begins with, up to `n`, stopping at its end.
std::vector<std::string> FirstWords(std::string_view text, std::size_t start, std::size_t n) {
  std::vector<std::string> words;
  Lexer lexer(text, start, false, true);
  while (words.size() < n) {
    const auto token = lexer.Next();
    if (!token || token->word == ";") break;
    words.push_back(token->word);
  }
  return words;
}

}  // namespace

std::optional<std::size_t> CommitWord(std::string_view text, bool dollarQuotes) {
  return FirstWord(text, {"commit"}, dollarQuotes);
}

std::optional<std::size_t> PostgresTransactionEnd(std::string_view text) {
  const auto starts = StatementStarts(text);
  if (!starts) return FirstWord(text, {"commit", "end", "prepare"}, true);
  bool afterRollback = false;  // the transaction ended by a rollback; what runs now commits
  for (const std::size_t start : *starts) {
    const std::vector<std::string> w = FirstWords(text, start, 5);
    auto word = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
    if (afterRollback && word(0) != "begin" && word(0) != "start") return start;
    afterRollback = false;
    if (word(0) == "commit" || word(0) == "end") return start;
    if (word(0) == "prepare" && word(1) == "transaction") return start;
    if (word(0) == "rollback" || word(0) == "abort") {
      std::size_t i = 1;
      if (word(i) == "work" || word(i) == "transaction") ++i;
      // ROLLBACK TO keeps the transaction, ROLLBACK PREPARED touches another one, and
      // ROLLBACK AND CHAIN begins the next at once.
      const bool ends = word(1) != "to" && word(1) != "prepared" &&
                        !(word(i) == "and" && word(i + 1) == "chain");
      afterRollback = ends;
    }
  }
  return std::nullopt;
}

}  // namespace vandrel::ado
