// Real databases for tests: SQLite files and scratch databases on the PostgreSQL test
// server (VANDREL_TEST_PG), inspected with the engines' own client libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::testing {

// The first row of `sql` as text (empty when none came back); throws std::runtime_error
// with the engine's text. SQLite files are opened read-write so that a hot journal left by
// a killed writer is rolled back first, as the next writer would.
std::vector<std::string> SqliteRow(const std::string& path, const std::string& sql);
std::vector<std::string> PgRow(const std::string& conninfo, const std::string& sql);
// The first column of that row as a number, or -1 when no row came back.
int64_t SqliteValue(const std::string& path, const std::string& sql);
int64_t PgValue(const std::string& conninfo, const std::string& sql);

// The test server's connection string, or "" when the tests run without it.
std::string TestServer();
// An ODBC connection string for `database` on the test server.
std::string OdbcConnectionString(const std::string& database = "postgres");

// A database of its own on the test server, dropped on destruction.
class PgDatabase {
 public:
  PgDatabase();
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  const std::string& name() const { return name_; }
  std::string conninfo() const { return TestServer() + " dbname=" + name_; }
  int64_t Value(const std::string& sql) const { return PgValue(conninfo(), sql); }

 private:
  std::string name_;
};

}  // namespace vandrel::testing
