// Opening a connection with each driver. Every function returns an open connection in
// auto-commit mode or throws Error with the engine's text; no message shows a password or
// the whole connection string.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/connection.h"

namespace vandrel::ado {

// REQUIRES: `path` names an existing database file; it is opened read-write and never
// created. Waits up to kSqliteBusyMs for a database another program has locked. `path` may
// be a SQLite URI filename ("file:/var/lib/app/catalogos.db?foreign_keys=on"). Foreign
// keys are enforced only when the URI asks for it, as in the engine's own client.
ConnectionPtr OpenSqlite(const std::string& path);
inline constexpr int kSqliteBusyMs = 5000;

struct PostgresOptions {
  // Consecutive batches of one plain statement each, inside the caller's transaction, go
  // out in libpq's pipeline mode; off for a server or pooler that refuses it.
  bool pipeline = true;
};

// A SQLite URI filename taken apart: the file's path (percent-decoded) and the query.
struct SqliteUri {
  std::string path;
  std::string query;
};
// nullopt when `connection` is a plain path (does not begin with "file:"). Throws Error
// naming a parameter other than foreign_keys, a foreign_keys that is not on or off, or a
// host other than localhost: the others could report success and store nothing
// (mode=memory), create a missing database (mode=rwc) or give up the engine's locking.
std::optional<SqliteUri> ParseSqliteUri(const std::string& connection);
// The URI filename of `path` with `query`, escaped so that SQLite reads `path` back whole.
std::string SqliteUriFor(const std::string& path, const std::string& query);

// A libpq connection string ("host=... port=... dbname=... user=...") or URI. Without a
// connect_timeout of its own it gets kConnectTimeoutSeconds. Notices are dropped.
ConnectionPtr OpenPostgres(const std::string& conninfo, PostgresOptions options = {});

// An ODBC connection string for SQLDriverConnect ("Driver={...};Server=...;..."). The login
// timeout is OdbcLoginTimeout's. The driver manager and driver run under NeutralLocale.
ConnectionPtr OpenOdbc(const std::string& connstr);

// After connecting, a PostgreSQL session (native or through ODBC) that nothing gave a
// lock_timeout gets this one, and a SQL Server session its LOCK_TIMEOUT: a lock held by
// another session fails the batch instead of being waited on for ever.
inline constexpr int kLockTimeoutSeconds = 60;
// Added, on a line of its own, to the engine's text when a lock was not granted
// (PostgreSQL SQLSTATE 55P03).
inline constexpr const char* kLockNotGranted =
    "\nA lock was not granted in time: another session holds it. The limit is the session's "
    "lock_timeout (60 s unless the connection string, PGOPTIONS or the server set another); "
    "a script may set its own, for example SET lock_timeout = '10min'.";

// A server that accepts the connection and never answers fails the opening after this long.
inline constexpr int kConnectTimeoutSeconds = 30;

// The keywords and values OpenPostgres hands libpq (PQconnectdbParams, expanding dbname).
std::vector<std::pair<std::string, std::string>> PostgresConnectOptions(
    const std::string& conninfo);

}  // namespace vandrel::ado
