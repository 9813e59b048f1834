// What the engines themselves say, through each driver: messages of a megabyte, and a
// password where the PostgreSQL ODBC driver used to break its record.
#include <gmock/gmock.h>

#include "platform/ado/drivers.h"
#include "support/databases.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

constexpr const char* kPassword = "Zq7s3cr3t";

// Each driver with a password in its string (the test server trusts the role and ignores it).
TEST(EngineText, LongMessagesAndSplitRecordsAreBlankedWhole) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  const PgDatabase server;
  TempFolder folder;
  const std::string file = folder.Write("test.db", "").string();
  const std::string mb = "repeat('x', 1048576)";
  const struct {
    const char* driver;
    ado::ConnectionPtr db;
    std::string sql;
    std::string says;
  } rows[] = {
      {"postgres", ado::OpenPostgres(server.conninfo() + " password=" + kPassword),
       "DO $$BEGIN RAISE EXCEPTION 'password=%', " + mb + "; END$$", "ERROR:  password=***\nCONTEXT:  "},
      {"odbc", ado::OpenOdbc(OdbcConnectionString(server.name()) + "Pwd=" + kPassword),
       "DO $$BEGIN RAISE EXCEPTION 'password=%', " + mb + "; END$$", "ERROR: password=***"},
      {"postgres", ado::OpenPostgres(server.conninfo()),
       "SELECT ('https://cdn.example.com:443/' || repeat('A', 1048576))::int", "ERROR:  invalid input syntax"},
      {"odbc", ado::OpenOdbc(OdbcConnectionString(server.name())),
       "SELECT ('https://cdn.example.com:443/' || repeat('A', 1048576))::int", "ERROR: invalid input syntax"},
      {"sqlite", ado::OpenSqlite(file), "SELECT * FROM \"password=" + std::string(1 << 20, 'x') + "\"",
       "no such table: password=***"},
      // The password across the 511th character, where the ODBC driver broke its record.
      {"odbc", ado::OpenOdbc(OdbcConnectionString(server.name()) + "Pwd=" + kPassword),
       "DO $$BEGIN RAISE EXCEPTION '% " + std::string(kPassword) + " %', repeat('y', 500), repeat('z', 600); END$$",
       "ERROR: " + std::string(500, 'y') + " *** " + std::string(600, 'z')},
  };
  for (const auto& row : rows) {
    const std::string error = ErrorOf([&] { row.db->Execute(row.sql); });
    // Only the start is printed: the whole may be a megabyte.
    EXPECT_TRUE(error.starts_with(row.says) && error.find("Zq7") == std::string::npos &&
                error.find("xxxxxxxx") == std::string::npos)
        << row.driver << ": " << error.substr(0, 1300);
  }
}

}  // namespace
}  // namespace vandrel::testing
