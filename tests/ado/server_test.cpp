#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "backends.h"
#include "platform/ado/drivers.h"
#include "support/recording.h"

namespace vandrel::testing {
namespace {

// Runs `body` once per server driver; false when there is no test server.
bool ForEachDriver(const std::function<void(const std::string&, Backend&)>& body) {
  for (const std::string driver : {"postgres", "odbc"}) {
    SCOPED_TRACE(driver);
    auto backend = MakeBackend(driver);
    if (!backend) return false;
    body(driver, *backend);
  }
  return true;
}
#define FOR_EACH_DRIVER(...) \
  if (!ForEachDriver(__VA_ARGS__)) GTEST_SKIP() << "VANDREL_TEST_PG is not set"

TEST(ServerConnection, LostConnectionFailsEveryOperation) {
  FOR_EACH_DRIVER([](const std::string&, Backend& backend) {
    auto db = backend.Open();
    db->Execute("CREATE TABLE pid AS SELECT pg_backend_pid() AS p");
    db->BeginTrans();
    db->Execute("INSERT INTO pid VALUES (0)");
    backend.Scalar("SELECT pg_terminate_backend(p) FROM pid");
    EXPECT_NE(ErrorOf([&] { db->Execute("SELECT 1"); }), "no error");
    for (auto op : {+[](ado::Connection& c) { c.Execute("SELECT 1"); },
                    +[](ado::Connection& c) { c.BeginTrans(); },
                    +[](ado::Connection& c) { c.CommitTrans(); },
                    +[](ado::Connection& c) { c.RollbackTrans(); }}) {
      const std::string error = ErrorOf([&] { op(*db); });
      EXPECT_NE(error.find("lost"), std::string::npos) << error;
    }
    db.reset();  // releasing a dead connection is quiet
    EXPECT_EQ(backend.Scalar("SELECT count(*) FROM pid"), "1");
  });
}

// The server's own refusal, which may quote the string, never shows the password.
TEST(ServerConnection, AMissingDatabaseIsNamedWithoutThePassword) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  const std::string missing =
      ErrorOf([] { ado::OpenPostgres(TestServer() + " dbname=no_such_db password=hunter2"); });
  EXPECT_NE(missing.find("\"no_such_db\" does not exist"), std::string::npos) << missing;
  EXPECT_EQ(missing.find("hunter2"), std::string::npos) << missing;
}

TEST(ServerConnection, ABatchThatChangesTheClientEncodingFailsAndKeepsNothing) {
  const std::string insert = "INSERT INTO e VALUES ('Señal año café')";
  const struct {
    std::string batch;
    bool odbcSeesItAtCommit;  // nothing in the batch's text names the encoding
  } rows[] = {
      {"SET client_encoding = 'LATIN1';", false},
      {"SET NAMES 'LATIN1'", false},
      {"SELECT set_config('client_encoding', 'LATIN1', false)", false},
      {"CALL to_latin1()", true},
  };
  FOR_EACH_DRIVER([&](const std::string& driver, Backend& backend) {
    backend.Open()->Execute(
        "CREATE TABLE e (s text); CREATE PROCEDURE to_latin1() LANGUAGE plpgsql AS "
        "$$ BEGIN PERFORM set_config('client_' || 'encoding', 'LATIN1', false); END $$");
    for (const auto& row : rows) {
      SCOPED_TRACE(row.batch);
      auto db = backend.Open();
      db->BeginTrans();
      db->Execute(insert);
      std::string where = "batch";
      const std::string error = ErrorOf([&] {
        db->Execute(row.batch);
        where = "commit";
        db->Execute(insert);
        db->CommitTrans();
      });
      EXPECT_NE(error.find("client_encoding from UTF8 to LATIN1"), std::string::npos) << error;
      EXPECT_EQ(where, driver == "odbc" && row.odbcSeesItAtCommit ? "commit" : "batch");
      db->RollbackTrans();
      EXPECT_EQ(backend.Scalar("SELECT count(*) FROM e"), "0");
      // The rollback gave the session its encoding back: the same connection stores text
      // as it is again.
      db->Execute(insert);
      EXPECT_EQ(backend.Scalar("SELECT s FROM e"), "Señal año café");
      db->Execute("DELETE FROM e");
    }
  });
}

TEST(ServerConnection, NoticesAndWarningsNeverReachStderr) {
  FOR_EACH_DRIVER([](const std::string&, Backend& backend) {
    auto db = backend.Open();
    std::fflush(stderr);
    FILE* capture = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(capture), 2);
    db->Execute("DO $$BEGIN RAISE NOTICE 'valor: %', 'hunter2'; RAISE WARNING 'aviso'; END$$");
    db->Execute("ROLLBACK");  // a warning of the server's own: no transaction in progress
    db->BeginTrans();
    db->Execute("CREATE TEMP TABLE IF NOT EXISTS n (a int); CREATE TEMP TABLE IF NOT EXISTS n (a int)");
    db->RollbackTrans();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(std::ftell(capture), 0L);
    std::fclose(capture);
  });
}

}  // namespace
}  // namespace vandrel::testing
