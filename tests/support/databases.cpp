#include "support/databases.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace vandrel::testing {
namespace {

int64_t First(const std::vector<std::string>& row) { return row.empty() ? -1 : std::stoll(row[0]); }

}  // namespace

std::vector<std::string> SqliteRow(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> row;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* stmt = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW)
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const auto* text = sqlite3_column_text(stmt, i);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
  const std::string message = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw std::runtime_error(path + ": " + sql + ": " + message);
  return row;
}

std::vector<std::string> PgRow(const std::string& conninfo, const std::string& sql) {
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.c_str()), &PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK)
    throw std::runtime_error(std::string("test server: ") + PQerrorMessage(conn.get()));
  PGresult* result = PQexec(conn.get(), sql.c_str());
  const auto status = PQresultStatus(result);
  std::vector<std::string> row;
  if (status == PGRES_TUPLES_OK && PQntuples(result) > 0)
    for (int i = 0; i < PQnfields(result); ++i) row.emplace_back(PQgetvalue(result, 0, i));
  const std::string message = PQresultErrorMessage(result);
  PQclear(result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw std::runtime_error(sql + ": " + message);
  return row;
}

int64_t SqliteValue(const std::string& path, const std::string& sql) { return First(SqliteRow(path, sql)); }
int64_t PgValue(const std::string& conninfo, const std::string& sql) { return First(PgRow(conninfo, sql)); }

std::string TestServer() {
  const char* server = std::getenv("VANDREL_TEST_PG");
  return server == nullptr ? std::string() : std::string(server);
}

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

PgDatabase::PgDatabase() {
  static std::atomic<int> counter{0};
  name_ = "vt_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  PgRow(TestServer(), "DROP DATABASE IF EXISTS " + name_);
  PgRow(TestServer(), "CREATE DATABASE " + name_);
}

PgDatabase::~PgDatabase() {
  try {
    PgRow(TestServer(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // a database left behind on the scratch server harms nothing
  }
}

}  // namespace vandrel::testing
