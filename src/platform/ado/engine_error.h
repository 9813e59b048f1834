// The one place where the engines' failure reports become error descriptions: SQLite
// result codes, libpq results and ODBC diagnostic records, with secrets scrubbed.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

struct sqlite3;
struct pg_conn;
struct pg_result;

namespace vandrel::ado {

// `text` with every password blanked as "***", in time and memory linear in its length (one
// pass per length of piece):
// - each of `secrets` (a password as read from a connection string) cut into pieces at
//   '@', '/', '\\', ':', '?', '#' and blanks, each piece blanked wherever it stands whole
//   (no letter or digit right before or after it), so the words of a message that merely
//   hold its letters stay;
// - the value of every "password=" or "pwd=" (any case, the key percent-encoded or not,
//   blanks around '='), quoted as libpq quotes, braced as ODBC braces, or bare up to a
//   blank, ';' or a ')' it did not open;
// - the password of every URI's user part, up to its last '@'.
std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets = {});

// The values of "password=" and "pwd=" in `text`, as ScrubSecrets finds them.
struct PasswordValue {
  std::size_t begin = 0, end = 0;  // where the value is written, quotes or braces included
  std::string_view written;        // inside quotes or braces, as written
  std::string meant;               // with libpq's backslash escapes or ODBC's "}}" undone
};
std::vector<PasswordValue> PasswordValues(std::string_view text);

// The password readings of a connection string (PasswordReadings), for ScrubSecrets.
std::vector<std::string> ConnectionSecrets(const std::string& connection);

// `text` with every password of `connection` blanked, however the string is written and
// whatever its tag: every text shown that is built from a Connection value goes through it.
std::string BlankConnection(std::string text, const std::string& connection);

// SQLite's message for `db` (or the code's generic text when there is no handle).
Error SqliteError(sqlite3* db, int rc);
// The result's message, or the connection's when the result carries none.
Error PostgresError(pg_conn* conn, const pg_result* result, const std::vector<std::string>& secrets);
// Every diagnostic record of the handle, one a line, the first one first; `fallback` when
// the driver left none.
Error OdbcError(SQLSMALLINT handleType, SQLHANDLE handle, std::string_view fallback,
                const std::vector<std::string>& secrets);
// The SQLSTATE of the handle's first diagnostic record, "" when none.
std::string OdbcState(SQLSMALLINT handleType, SQLHANDLE handle);

// Text the engine would cut short or that needs no engine, refused or skipped the same way
// by every driver: returns false for a text of blanks and line ends only; throws a
// TextError for an embedded NUL, its offset in `text` as a field.
bool NeedsEngine(std::string_view text);

}  // namespace vandrel::ado
