// Real databases for the driver tests: a SQLite file in a temporary folder, and a database
// of its own on the PostgreSQL test server, reached natively and through ODBC.
#pragma once

#include <memory>
#include <string>

#include "platform/ado/connection.h"
#include "support/databases.h"

namespace vandrel::testing {

class Backend {
 public:
  virtual ~Backend() = default;
  // A new connection through the driver under test.
  virtual ado::ConnectionPtr Open() = 0;
  // The first column of the first row of `sql`, read on a connection of the test's own.
  virtual std::string Scalar(const std::string& sql) = 0;
  // A statement that fails in a way that makes the engine abandon the open transaction,
  // given a table t(a integer primary key) that holds the value 5.
  virtual std::string AbortingStatement() = 0;
};

// nullptr when VANDREL_TEST_PG is not set.
std::unique_ptr<Backend> MakeBackend(const std::string& driver);

}  // namespace vandrel::testing
