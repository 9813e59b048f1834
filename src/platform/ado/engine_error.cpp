#include "platform/ado/engine_error.h"

#include "platform/ado/connection_string.h"
#include "platform/ascii.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_set>

namespace vandrel::ado {

namespace {

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// Letters and digits make a token; any byte of a multibyte UTF-8 character counts as a letter.
bool TokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u >= 0x80;
}

bool BlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Where a password's pieces end: what splits a URI (libpq reads "Secret" of "Secret/2024@h" as
// a port, "2024@h" as a host) and the backslash, which the file layer shows as '/'.
bool PieceEnd(char c) {
  return BlankChar(c) || c == '@' || c == '/' || c == '\\' || c == ':' || c == '?' || c == '#';
}

// The end of "password" or "pwd" written at `at` (any case, any letter possibly %XX), or 0.
std::size_t KeyEnd(std::string_view text, std::size_t at) {
  for (const std::string_view key : {std::string_view("password"), std::string_view("pwd")}) {
    std::size_t i = at, k = 0;
    for (; k < key.size() && i < text.size(); ++k) {
      if (platform::AsciiLower(text[i]) == key[k]) {
        ++i;
      } else if (text[i] == '%' && i + 2 < text.size() &&
                 platform::AsciiLower(PercentDecoded(text.substr(i, 3))[0]) == key[k]) {
        i += 3;
      } else {
        break;
      }
    }
    if (k == key.size()) return i;
  }
  return 0;
}

// Text positions to blank, merged; then the text with each run replaced by "***".
std::string Blanked(std::string_view text, std::vector<std::pair<std::size_t, std::size_t>>& runs) {
  if (runs.empty()) return std::string(text);
  std::sort(runs.begin(), runs.end());
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (std::size_t r = 0; r < runs.size();) {
    const std::size_t begin = runs[r].first;
    std::size_t end = runs[r].second;
    for (++r; r < runs.size() && runs[r].first <= end; ++r) end = std::max(end, runs[r].second);
    out.append(text, at, begin - at).append("***");
    at = end;
  }
  return out.append(text, at);
}

// Polynomial hashes modulo 2^61-1: every window of the text is compared with the pieces of
// its length in constant time. Two texts of one hash differ only by chance, and then a
// harmless word is blanked; nothing is ever shown for it.
constexpr std::uint64_t kMod = (std::uint64_t{1} << 61) - 1;
constexpr std::uint64_t kBase = 1'000'003;

__extension__ typedef unsigned __int128 Wide;

std::uint64_t MulMod(std::uint64_t a, std::uint64_t b) {
  const Wide p = static_cast<Wide>(a) * b;
  std::uint64_t r = static_cast<std::uint64_t>(p & kMod) + static_cast<std::uint64_t>(p >> 61);
  r = (r & kMod) + (r >> 61);
  return r >= kMod ? r - kMod : r;
}

std::uint64_t Hash(std::string_view s) {
  std::uint64_t h = 0;
  for (const char c : s) {
    h = MulMod(h, kBase) + static_cast<unsigned char>(c) + 1;
    if (h >= kMod) h -= kMod;
  }
  return h;
}

std::uint64_t Power(std::uint64_t e) {
  std::uint64_t result = 1, base = kBase;
  for (; e > 0; e >>= 1, base = MulMod(base, base))
    if (e & 1) result = MulMod(result, base);
  return result;
}

// Each piece of each secret, wherever it stands whole in `text`.
std::string BlankPieces(std::string_view text, const std::vector<std::string>& secrets) {
  std::map<std::size_t, std::unordered_set<std::uint64_t>> byLength;
  for (const std::string& secret : secrets)
    for (std::size_t at = 0; at < secret.size();) {
      if (PieceEnd(secret[at])) {
        ++at;
        continue;
      }
      std::size_t end = at;
      while (end < secret.size() && !PieceEnd(secret[end])) ++end;
      if (end - at <= text.size()) byLength[end - at].insert(Hash(std::string_view(secret).substr(at, end - at)));
      at = end;
    }
  if (byLength.empty()) return std::string(text);

  std::vector<std::uint64_t> prefix(text.size() + 1, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    prefix[i + 1] = MulMod(prefix[i], kBase) + static_cast<unsigned char>(text[i]) + 1;
    if (prefix[i + 1] >= kMod) prefix[i + 1] -= kMod;
  }
  std::vector<std::size_t> starts;  // where a whole token may begin
  for (std::size_t i = 0; i < text.size(); ++i)
    if (i == 0 || !TokenChar(text[i - 1])) starts.push_back(i);

  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (const auto& [length, hashes] : byLength) {
    const std::uint64_t shift = Power(length);
    for (const std::size_t i : starts) {
      const std::size_t end = i + length;
      if (end > text.size()) break;
      if (end < text.size() && TokenChar(text[end])) continue;
      std::uint64_t h = prefix[end] + kMod - MulMod(prefix[i], shift);
      if (h >= kMod) h -= kMod;
      if (hashes.count(h) != 0) runs.emplace_back(i, end);
    }
  }
  return Blanked(text, runs);
}

// The password of every URI's user part: "://user:" up to the last '@' before a blank.
std::string BlankUriPasswords(std::string_view text) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = at;
    while (end < text.size() && !BlankChar(text[end])) ++end;
    const std::string_view word = text.substr(at, end - at);
    const auto lastAt = word.rfind('@');
    for (auto scheme = word.find("://"); lastAt != std::string_view::npos && scheme != std::string_view::npos;
         scheme = word.find("://", scheme + 3)) {
      const auto stop = word.find_first_of(":/@", scheme + 3);
      if (stop != std::string_view::npos && word[stop] == ':' && stop < lastAt) {
        runs.emplace_back(at + stop + 1, at + lastAt);
        break;
      }
    }
    at = end + 1;
  }
  return Blanked(text, runs);
}

}  // namespace

std::vector<PasswordValue> PasswordValues(std::string_view text) {
  std::vector<PasswordValue> values;
  for (std::size_t at = 0; at < text.size();) {
    const char c = platform::AsciiLower(text[at]);
    const std::size_t keyEnd = c == 'p' || c == '%' ? KeyEnd(text, at) : 0;
    if (keyEnd == 0) {
      ++at;
      continue;
    }
    std::size_t v = keyEnd;
    while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
    if (v >= text.size() || text[v] != '=') {
      at = keyEnd;
      continue;
    }
    ++v;
    while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
    PasswordValue value{v, v, {}, {}};
    std::size_t end = v;
    if (v < text.size() && text[v] == '\'') {
      // libpq: a backslash takes the next character as it is; unclosed runs to the end.
      for (end = v + 1; end < text.size(); ++end) {
        if (text[end] == '\\' && end + 1 < text.size()) {
          value.meant += text[++end];
        } else if (text[end] == '\'') {
          break;
        } else {
          value.meant += text[end];
        }
      }
      value.written = text.substr(v + 1, std::min(end, text.size()) - v - 1);
      end = std::min(end + 1, text.size());
    } else if (v < text.size() && text[v] == '{') {
      // ODBC: "}}" stands for '}'.
      for (end = v + 1; end < text.size(); ++end) {
        if (text[end] == '}' && end + 1 < text.size() && text[end + 1] == '}') {
          value.meant += text[++end];
        } else if (text[end] == '}') {
          break;
        } else {
          value.meant += text[end];
        }
      }
      value.written = text.substr(v + 1, std::min(end, text.size()) - v - 1);
      end = std::min(end + 1, text.size());
    } else {
      // Bare: libpq's backslash escapes; a ')' the value did not open closes what holds it
      // (the path of a SQLite database in parentheses).
      int depth = 0;
      for (; end < text.size() && !BlankChar(text[end]) && text[end] != ';'; ++end) {
        if (text[end] == '\\' && end + 1 < text.size()) {
          value.meant += text[++end];
          continue;
        }
        if (text[end] == '(') ++depth;
        if (text[end] == ')' && depth-- == 0) break;
        value.meant += text[end];
      }
      value.written = text.substr(v, end - v);
    }
    value.end = end;
    if (end > v) values.push_back(std::move(value));
    at = std::max(end, keyEnd);
  }
  return values;
}

std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets) {
  text = BlankPieces(text, secrets);
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (const PasswordValue& v : PasswordValues(text)) runs.emplace_back(v.begin, v.end);
  text = Blanked(text, runs);
  return BlankUriPasswords(text);
}

std::vector<std::string> ConnectionSecrets(const std::string& connection) {
  return PasswordReadings(connection);
}

std::string BlankConnection(std::string text, const std::string& connection) {
  return ScrubSecrets(std::move(text), ConnectionSecrets(connection));
}

Error SqliteError(sqlite3* db, int rc) {
  if (db == nullptr || sqlite3_errcode(db) == SQLITE_OK) return Error(sqlite3_errstr(rc));
  std::string text = sqlite3_errmsg(db);
  // A failure about the file itself (locked, read-only, unreadable, not a database, full
  // disk): say which file, since the person must go and find it.
  const int primary = sqlite3_errcode(db) & 0xff;
  const char* file = sqlite3_db_filename(db, "main");
  const bool aboutFile = primary == SQLITE_BUSY || primary == SQLITE_LOCKED ||
                         primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN ||
                         primary == SQLITE_IOERR || primary == SQLITE_CORRUPT ||
                         primary == SQLITE_NOTADB || primary == SQLITE_FULL ||
                         primary == SQLITE_PERM;
  if (aboutFile && file != nullptr && *file != '\0')
    text += std::string(" (") + file + ")";
  // A message may quote a script's text, or a path, that holds a password.
  return Error(ScrubSecrets(std::move(text)));
}

Error PostgresError(pg_conn* conn, const pg_result* result,
                    const std::vector<std::string>& secrets) {
  std::string text;
  if (result != nullptr) text = PQresultErrorMessage(result);
  if (text.empty() && conn != nullptr) text = PQerrorMessage(conn);
  text = TrimEnd(std::move(text));
  if (text.empty()) text = "PostgreSQL reported a failure without a message";
  return Error(ScrubSecrets(std::move(text), secrets));
}

Error OdbcError(SQLSMALLINT handleType, SQLHANDLE handle, std::string_view fallback,
                const std::vector<std::string>& secrets) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    // Asked for less than a whole record, the PostgreSQL driver hands out the rest as
    // further records (a line break every 511 characters), so a secret could be split
    // across two and escape blanking: ask for all it can give at once.
    std::string message(SHRT_MAX, '\0');
    const SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native,
                                       reinterpret_cast<SQLCHAR*>(message.data()),
                                       static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    message.resize(std::min<std::size_t>(static_cast<std::size_t>(length), message.size()));
    message.resize(std::char_traits<char>::length(message.c_str()));
    if (!text.empty()) text += '\n';
    text += ScrubSecrets(TrimEnd(std::move(message)), secrets);
  }
  if (text.empty()) text = ScrubSecrets(std::string(fallback), secrets);
  return Error(std::move(text));
}

std::string OdbcState(SQLSMALLINT handleType, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[1] = {};
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetDiagRec(handleType, handle, 1, state, &native, message, 1, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return {};
  return reinterpret_cast<const char*>(state);
}

bool NeedsEngine(std::string_view text) {
  if (const auto nul = text.find('\0'); nul != std::string_view::npos)
    throw TextError("The command text contains a NUL character at offset " +
                        std::to_string(nul) + "; nothing of it was run",
                    nul, 0);
  return text.find_first_not_of(" \t\r\n\v\f") != std::string_view::npos;
}

}  // namespace vandrel::ado
