#include "support/databases.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace vandrel::testing {

int64_t SqliteValue(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(path + ": " + message);
  }
  sqlite3_stmt* stmt = nullptr;
  int64_t value = -1;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) value = sqlite3_column_int64(stmt, 0);
  std::string message = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + message);
  return value;
}

std::string TestServer() {
  const char* server = std::getenv("VANDREL_TEST_PG");
  return server == nullptr ? std::string() : std::string(server);
}

namespace {

using PgConn = std::unique_ptr<PGconn, decltype(&PQfinish)>;

PgConn Connect(const std::string& conninfo) {
  PgConn conn(PQconnectdb(conninfo.c_str()), &PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK)
    throw std::runtime_error(std::string("test server: ") + PQerrorMessage(conn.get()));
  return conn;
}

void Run(PGconn* conn, const std::string& sql) {
  PGresult* result = PQexec(conn, sql.c_str());
  const auto status = PQresultStatus(result);
  std::string message = PQresultErrorMessage(result);
  PQclear(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
    throw std::runtime_error(sql + ": " + message);
}

}  // namespace

PgDatabase::PgDatabase() {
  static std::atomic<int> counter{0};
  name_ = "vt_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  auto admin = Connect(TestServer());
  Run(admin.get(), "DROP DATABASE IF EXISTS " + name_);
  Run(admin.get(), "CREATE DATABASE " + name_);
}

PgDatabase::~PgDatabase() {
  try {
    auto admin = Connect(TestServer());
    Run(admin.get(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // a database left behind on the scratch server harms nothing
  }
}

std::string PgDatabase::conninfo() const { return TestServer() + " dbname=" + name_; }

int64_t PgDatabase::Value(const std::string& sql) const { return PgValue(conninfo(), sql); }

int64_t PgValue(const std::string& conninfo, const std::string& sql) {
  auto conn = Connect(conninfo);
  PGresult* result = PQexec(conn.get(), sql.c_str());
  const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK || PQresultStatus(result) == PGRES_COMMAND_OK;
  std::string message = PQresultErrorMessage(result);
  int64_t value = -1;
  if (ok && PQntuples(result) > 0) value = std::strtoll(PQgetvalue(result, 0, 0), nullptr, 10);
  PQclear(result);
  if (!ok) throw std::runtime_error(sql + ": " + message);
  return value;
}

void PgDatabase::Exec(const std::string& sql) const {
  auto conn = Connect(conninfo());
  Run(conn.get(), sql);
}

}  // namespace vandrel::testing
