#include "backends.h"

#include "platform/ado/drivers.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

std::string Text(const std::vector<std::string>& row) { return row.empty() ? "" : row[0]; }

class SqliteBackend final : public Backend {
 public:
  ado::ConnectionPtr Open() override { return ado::OpenSqlite(path_); }
  std::string Scalar(const std::string& sql) override { return Text(SqliteRow(path_, sql)); }
  std::string AbortingStatement() override { return "INSERT OR ROLLBACK INTO t VALUES (5)"; }

 private:
  TempFolder folder_;
  std::string path_ = folder_.Write("test.db", "").string();
};

class ServerBackend final : public Backend {
 public:
  explicit ServerBackend(bool odbc) : odbc_(odbc) {}
  ado::ConnectionPtr Open() override {
    return odbc_ ? ado::OpenOdbc(OdbcConnectionString(db_.name())) : ado::OpenPostgres(db_.conninfo());
  }
  std::string Scalar(const std::string& sql) override { return Text(PgRow(db_.conninfo(), sql)); }
  std::string AbortingStatement() override { return "INSERT INTO t VALUES (5)"; }

 private:
  bool odbc_;
  PgDatabase db_;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend(const std::string& driver) {
  if (driver == "sqlite") return std::make_unique<SqliteBackend>();
  if (TestServer().empty()) return nullptr;
  return std::make_unique<ServerBackend>(driver == "odbc");
}

}  // namespace vandrel::testing
