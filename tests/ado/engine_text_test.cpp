// What the engines themselves say, through each driver: messages of a megabyte, a password
// where the PostgreSQL ODBC driver used to break its record, and connection strings read
// the same under a Turkish locale.
#include <gmock/gmock.h>

#include <clocale>

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
      {"postgres", ado::OpenPostgres(server.conninfo() + " password=" + kPassword),
       "DO $$BEGIN RAISE EXCEPTION '% " + std::string(kPassword) + " %', repeat('y', 500), repeat('z', 600); END$$",
       "ERROR:  " + std::string(500, 'y') + " *** " + std::string(600, 'z')},
  };
  for (const auto& row : rows) {
    const std::string error = ErrorOf([&] { row.db->Execute(row.sql); });
    // Only the start is printed: the whole may be a megabyte.
    EXPECT_TRUE(error.starts_with(row.says) && error.find("Zq7") == std::string::npos &&
                error.find("xxxxxxxx") == std::string::npos)
        << row.driver << ": " << error.substr(0, 1300);
  }
}

// The driver manager and the driver compare key names under the program's rules, not the
// Turkish locale's, where "i" and "I" are not each other's case.
TEST(EngineText, OdbcKeysUnderATurkishLocale) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "tr_TR.UTF-8") == nullptr) GTEST_SKIP() << "no tr_TR.UTF-8 locale";
  const PgDatabase server;
  const std::string odbc = OdbcConnectionString(server.name());  // Driver=...;Uid=vandrel;
  const std::string upper = "DRIVER" + odbc.substr(6);  // and Uid as it was
  for (const std::string& connstr : {odbc, upper}) {
    const std::string error = ErrorOf([&] {
      ado::OpenOdbc(connstr)->Execute(
          "DO $$BEGIN IF current_user <> 'vandrel' THEN RAISE EXCEPTION 'connected as %', current_user; "
          "END IF; END$$");
    });
    EXPECT_EQ(error, "no error") << connstr;
  }
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
}  // namespace vandrel::testing
