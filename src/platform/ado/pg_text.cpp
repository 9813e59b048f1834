#include "platform/ado/pg_lexing.h"
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
using pglex::WordChar;
using pglex::WordStart;

// Reads the statements of `s`; `escapes` reads backslash escapes in plain strings too
// (standard_conforming_strings off).
class Scanner {
 public:
  Scanner(std::string_view s, bool escapes) : s_(s), escapes_(escapes) {}

  // Calls `done(statement)` at the end of each statement; stops when it returns true and
  // returns true then.
  template <typename Done>
  bool Scan(Done&& done) {
    while (at_ < s_.size()) {
      here_ = at_;
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
        if (EndStatement(done)) return true;
      } else {
        ++at_;
        if (c == ')' && depth_ > 0) --depth_;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') continue;
        Token(std::string(1, c));
        if (c == '(') ++depth_;
      }
    }
    return EndStatement(done);
  }

  // Whether the server may cut the text otherwise: a ';' inside parentheses, a BEGIN ATOMIC
  // body.
  bool Unsure() const { return unsure_; }

 private:
  static constexpr std::size_t kKept = 6;

  // Only what lies outside parentheses tells where a COPY's data goes.
  void Token(std::string token) {
    if (!started_) {
      started_ = true;
      statement_.offset = here_;
    }
    std::vector<std::string>& words = statement_.words;
    if (depth_ == 0 && (words.size() < kKept || words[0] == "copy")) words.push_back(std::move(token));
  }

  // The string constant s_[start, at_): "'", followed by its value in a PREPARE TRANSACTION,
  // the one statement whose string is ever read.
  void Literal(std::size_t start, bool escapes) {
    const std::vector<std::string>& words = statement_.words;
    if (!started_ || words.empty() || words[0] != "prepare") return Token("'");
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
    Token(std::move(token));
  }

  template <typename Done>
  bool EndStatement(Done&& done) {
    const bool stop = started_ && done(statement_);
    statement_.words.clear();
    started_ = false;
    depth_ = 0;
    return stop;
  }

  void SkipComment() { at_ = pglex::SkipComment(s_, at_); }
  void SkipQuoted(char quote, bool escapes) { at_ = pglex::SkipQuoted(s_, at_, quote, escapes); }
  bool SkipDollarQuoted() {
    const auto end = pglex::SkipDollarQuoted(s_, at_);
    if (end) at_ = *end;
    return end.has_value();
  }

  std::string_view s_;
  bool escapes_;
  std::size_t at_ = 0;
  std::size_t here_ = 0;  // where the token being read begins
  int depth_ = 0;
  bool started_ = false;
  bool unsure_ = false;
  Statement statement_{0, {}};
};

bool Contains(std::string_view text, std::string_view lowerWord) {
  return std::search(text.begin(), text.end(), lowerWord.begin(), lowerWord.end(),
                     [](char a, char b) { return Lower(a) == b; }) != text.end();
}

}  // namespace

bool Statement::CopiesWithTheClient() const {
  if (words.empty() || words[0] != "copy") return false;
  for (std::size_t i = 1; i + 1 < words.size(); ++i)
    if ((words[i] == "from" && words[i + 1] == "stdin") ||
        (words[i] == "to" && words[i + 1] == "stdout"))
      return true;
  return false;
}

bool Statement::Begins(std::initializer_list<std::string_view> lead) const {
  if (lead.size() > words.size()) return false;
  return std::equal(lead.begin(), lead.end(), words.begin());
}

std::vector<Statement> Statements(std::string_view text, bool escapes) {
  std::vector<Statement> found;
  Scanner(text, escapes).Scan([&](const Statement& s) {
    found.push_back(s);
    return false;
  });
  return found;
}

bool CopiesWithTheClient(std::string_view text) {
  if (!Contains(text, "copy")) return false;
  auto copies = [](const Statement& s) { return s.CopiesWithTheClient(); };
  return Scanner(text, false).Scan(copies) ||
         (text.find('\\') != std::string_view::npos && Scanner(text, true).Scan(copies));
}

std::optional<std::vector<std::size_t>> StatementStarts(std::string_view text) {
  auto read = [&](bool escapes) -> std::optional<std::vector<std::size_t>> {
    std::vector<std::size_t> starts;
    Scanner scanner(text, escapes);
    scanner.Scan([&](const Statement& s) {
      starts.push_back(s.offset);
      return false;
    });
    if (scanner.Unsure()) return std::nullopt;
    return starts;
  };
  auto starts = read(false);
  // Backslashes are escapes or not by a setting of the session: both readings must agree.
  if (starts && text.find('\\') != std::string_view::npos && read(true) != starts)
    return std::nullopt;
  return starts;
}

std::vector<std::string> PreparedTransactionIds(std::string_view text) {
  if (!Contains(text, "prepare")) return {};
  std::vector<std::string> ids;
  Scanner(text, false).Scan([&](const Statement& s) {
    if (s.Begins({"prepare", "transaction"}) && s.words.size() == 3 && s.words[2].starts_with('\''))
      ids.push_back(s.words[2].substr(1));
    return false;
  });
  return ids;
}

bool MayChangeClientEncoding(std::string_view text) {
  static constexpr std::array<std::string_view, 6> kWords = {
      "encoding", "names", "set_config", "reset", "discard", "pg_settings"};
  for (const std::string_view word : kWords)
    if (Contains(text, word)) return true;
  return false;
}

bool Pipelinable(std::string_view text) {
  if (MayChangeClientEncoding(text)) return false;
  for (std::size_t at = text.find('$'); at != std::string_view::npos; at = text.find('$', at + 1))
    if (at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '9') return false;
  const auto starts = StatementStarts(text);
  if (!starts || starts->size() != 1) return false;
  std::string word;
  for (std::size_t at = (*starts)[0]; at < text.size() && WordChar(text[at]); ++at)
    word += Lower(text[at]);
  if (word.empty() || !WordStart(word[0])) return false;
  // Each of these ends or marks the transaction, changes the session, or talks with the
  // client in a way pipeline mode refuses.
  static constexpr std::array<std::string_view, 14> kAlone = {
      "begin", "start", "commit", "end", "rollback", "abort", "savepoint",
      "release", "prepare", "set", "reset", "discard", "copy", "call"};
  return std::find(kAlone.begin(), kAlone.end(), word) == kAlone.end();
}

}  // namespace vandrel::ado
