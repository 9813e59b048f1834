// Opening a connection with each driver. Every function returns an open connection in
// auto-commit mode or throws Error with the engine's text; no message shows a password or
// the whole connection string.
#pragma once

#include <string>

#include "platform/ado/connection.h"

namespace vandrel::ado {

// REQUIRES: `path` names an existing database file; it is opened read-write and never
// created. Waits up to kSqliteBusyMs for a database another program has locked.
ConnectionPtr OpenSqlite(const std::string& path);
inline constexpr int kSqliteBusyMs = 5000;

// A libpq connection string ("host=... port=... dbname=... user=...") or URI.
ConnectionPtr OpenPostgres(const std::string& conninfo);

// An ODBC connection string for SQLDriverConnect ("Driver={...};Server=...;...").
ConnectionPtr OpenOdbc(const std::string& connstr);

}  // namespace vandrel::ado
