#include "backends.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "platform/ado/drivers.h"
#include "support/temp_folder.h"

namespace vandrel::testing {

namespace {

std::string PgScalar(const std::string& conninfo, const std::string& sql) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string error = PQerrorMessage(conn);
    PQfinish(conn);
    throw std::runtime_error(error);
  }
  PGresult* r = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  std::string value;
  if (status == PGRES_TUPLES_OK && PQntuples(r) > 0) value = PQgetvalue(r, 0, 0);
  std::string error = PQresultErrorMessage(r);
  PQclear(r);
  PQfinish(conn);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw std::runtime_error(error);
  return value;
}

class SqliteBackend final : public Backend {
 public:
  SqliteBackend() : path_(folder_.Write("test.db", "").string()) {}
  ado::ConnectionPtr Open() override { return ado::OpenSqlite(path_); }
  std::string Scalar(const std::string& sql) override {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      std::string error = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error(error);
    }
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr)
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }
  std::string AbortingStatement() override { return "INSERT OR ROLLBACK INTO t VALUES (5)"; }

 private:
  TempFolder folder_;
  std::string path_;
};

class ServerBackend final : public Backend {
 public:
  explicit ServerBackend(bool odbc) : odbc_(odbc) {
    static std::atomic<int> counter{0};
    name_ = "vandrel_ado_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    AdminExecute("CREATE DATABASE " + name_);
    conninfo_ = TestServer() + " dbname=" + name_;
  }
  ~ServerBackend() override {
    try {
      AdminExecute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (...) {
    }
  }
  ado::ConnectionPtr Open() override {
    if (!odbc_) return ado::OpenPostgres(conninfo_);
    return ado::OpenOdbc(OdbcString());
  }
  std::string Scalar(const std::string& sql) override { return PgScalar(conninfo_, sql); }
  std::string AbortingStatement() override { return "INSERT INTO t VALUES (5)"; }

  std::string OdbcString() const { return OdbcConnectionString(name_); }

 private:
  bool odbc_;
  std::string name_, conninfo_;
};

}  // namespace

std::string OdbcConnectionString(const std::string& database) {
  std::string host = "127.0.0.1", port = "5432", user;
  PQconninfoOption* options = PQconninfoParse(TestServer().c_str(), nullptr);
  for (auto* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    if (o->val == nullptr) continue;
    const std::string key = o->keyword;
    if (key == "host" || key == "hostaddr") host = o->val;
    if (key == "port") port = o->val;
    if (key == "user") user = o->val;
  }
  PQconninfoFree(options);
  return "Driver={PostgreSQL Unicode};Server=" + host + ";Port=" + port + ";Database=" + database +
         ";Uid=" + user + ";";
}

void AdminExecute(const std::string& sql) { PgScalar(TestServer(), sql); }

std::unique_ptr<Backend> MakeBackend(const std::string& driver) {
  if (driver == "sqlite") return std::make_unique<SqliteBackend>();
  if (TestServer().empty()) return nullptr;
  return std::make_unique<ServerBackend>(driver == "odbc");
}

}  // namespace vandrel::testing
