#include "platform/ado/engine_error.h"
#include "platform/ascii.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <memory>
#include <regex>

namespace vandrel::ado {

namespace {

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

bool SameKey(std::string_view a, std::string_view b) {
  return platform::SameIgnoringAsciiCase(a, b);
}

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets) {
  // Values of password keys as libpq ('quoted' or bare) and ODBC ({braced} or up to ';')
  // write them, and the password of a URI.
  static const std::regex kKeyValue(
      R"(((?:password|pwd)\s*=\s*)('(?:[^'\\]|\\.)*'?|\{(?:[^}]|\}\})*\}?|[^\s;]+))",
      std::regex::icase);
  static const std::regex kUri(R"((://[^:/@\s]*):[^@\s]*@)");
  text = std::regex_replace(text, kKeyValue, "$1***");
  text = std::regex_replace(text, kUri, "$1:***@");
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
      text.replace(at, secret.size(), "***");
  }
  return text;
}

std::vector<std::string> PostgresSecrets(const std::string& conninfo) {
  std::vector<std::string> secrets;
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &err);
  if (err != nullptr) PQfreemem(err);
  if (options == nullptr) return secrets;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o)
    if (o->val != nullptr && *o->val != '\0' && std::string_view(o->keyword) == "password")
      secrets.emplace_back(o->val);
  PQconninfoFree(options);
  return secrets;
}

std::vector<std::string> OdbcSecrets(const std::string& connstr) {
  std::vector<std::string> secrets;
  std::size_t at = 0;
  while (at < connstr.size()) {
    const auto eq = connstr.find('=', at);
    if (eq == std::string::npos) break;
    const std::string key = Trim(std::string_view(connstr).substr(at, eq - at));
    std::string value;
    std::size_t next = eq + 1;
    while (next < connstr.size() && connstr[next] == ' ') ++next;
    if (next < connstr.size() && connstr[next] == '{') {
      // Braced value: "}}" stands for "}".
      ++next;
      while (next < connstr.size()) {
        if (connstr[next] == '}') {
          if (next + 1 < connstr.size() && connstr[next + 1] == '}') {
            value += '}';
            next += 2;
            continue;
          }
          ++next;
          break;
        }
        value += connstr[next++];
      }
      const auto semi = connstr.find(';', next);
      next = semi == std::string::npos ? connstr.size() : semi + 1;
    } else {
      const auto semi = connstr.find(';', next);
      const auto end = semi == std::string::npos ? connstr.size() : semi;
      value = Trim(std::string_view(connstr).substr(next, end - next));
      next = semi == std::string::npos ? connstr.size() : semi + 1;
    }
    if ((SameKey(key, "pwd") || SameKey(key, "password")) && !value.empty())
      secrets.push_back(value);
    at = next;
  }
  return secrets;
}

std::vector<std::string> ConnectionSecrets(const std::string& connection) {
  std::vector<std::string> secrets = PostgresSecrets(connection);
  for (std::string& secret : OdbcSecrets(connection)) secrets.push_back(std::move(secret));
  return secrets;
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
  return Error(text);
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
    std::string message(512, '\0');
    SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native,
                                 reinterpret_cast<SQLCHAR*>(message.data()),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<std::size_t>(length) + 1, '\0');
      rc = SQLGetDiagRec(handleType, handle, record, state, &native,
                         reinterpret_cast<SQLCHAR*>(message.data()),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    message.resize(std::min<std::size_t>(static_cast<std::size_t>(length), message.size()));
    message.resize(std::char_traits<char>::length(message.c_str()));
    if (!text.empty()) text += '\n';
    text += TrimEnd(std::move(message));
  }
  if (text.empty()) text = fallback;
  return Error(ScrubSecrets(std::move(text), secrets));
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
