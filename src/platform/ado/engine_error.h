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

// `text` with every value of a password key ("password=", "pwd=", any case, quoted or
// braced) and every occurrence of `secrets` replaced by "***".
std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets = {});

// The password values a libpq or ODBC connection string carries, for ScrubSecrets.
std::vector<std::string> PostgresSecrets(const std::string& conninfo);
std::vector<std::string> OdbcSecrets(const std::string& connstr);
// Both: a string may be written for the other driver, or for none, by mistake.
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
