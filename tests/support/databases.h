// Real databases for tests: SQLite files and scratch databases on the PostgreSQL test
// server (VANDREL_TEST_PG), inspected with the engines' own client libraries.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel::testing {

// Runs `sql` on the SQLite file and returns the first column of the first row (or -1 when
// no row came back). Throws std::runtime_error with the engine's text.
int64_t SqliteValue(const std::string& path, const std::string& sql);

// The test server's connection string, or "" when the tests run without it.
std::string TestServer();

// The first column of the first row of `sql` on the server `conninfo` (-1 for no row).
int64_t PgValue(const std::string& conninfo, const std::string& sql);

// A database of its own on the test server, dropped on destruction.
class PgDatabase {
 public:
  PgDatabase();
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  const std::string& name() const { return name_; }
  // libpq connection string of this database.
  std::string conninfo() const;
  int64_t Value(const std::string& sql) const;
  void Exec(const std::string& sql) const;

 private:
  std::string name_;
};

}  // namespace vandrel::testing
