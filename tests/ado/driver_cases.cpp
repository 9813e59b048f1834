// Each driver against a real engine: a SQLite file in a temporary folder, or a database of
// the test's own on the PostgreSQL test server, reached natively or through ODBC.
#include <gmock/gmock.h>
#include <unistd.h>

#include <optional>

#include "platform/ado/batch_place.h"
#include "platform/ado/drivers.h"
#include "support/databases.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

using ::testing::HasSubstr, ::testing::StartsWith;

class DriverTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!Sqlite() && TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
    if (!Sqlite()) server.emplace();
    db = Sqlite()                ? ado::OpenSqlite(file)
         : GetParam() == "odbc" ? ado::OpenOdbc(OdbcConnectionString(server->name()))
                                : ado::OpenPostgres(server->conninfo());
  }
  bool Sqlite() const { return GetParam() == "sqlite"; }
  std::string Failure(const std::string& sql) { return ErrorOf([&] { db->Execute(sql); }); }
  // Read on a connection of the test's own: the first column of the first row.
  std::string Scalar(const std::string& sql) {
    const auto row = Sqlite() ? SqliteRow(file, sql) : PgRow(server->conninfo(), sql);
    return row.empty() ? "" : row[0];
  }
  std::string Count(const std::string& where = "") { return Scalar("SELECT count(*) FROM t" + where); }

  TempFolder folder;
  std::string file = folder.Write("test.db", "").string();
  std::optional<PgDatabase> server;
  ado::ConnectionPtr db;  // released before the database goes
};

TEST_P(DriverTest, ABatchRunsItsStatementsUntilOneFails) {
  // In a transaction: the failure surfaces and the rollback leaves not even the table.
  EXPECT_EQ(db->BeginTrans(), 1);
  EXPECT_THAT(Failure("CREATE TABLE t (a integer primary key);\nINSERT INTO t VALUES (1);\n"
                      "INSERT INTO missing_table VALUES (2);\nINSERT INTO t VALUES (3);\n"),
              HasSubstr("missing_table"));
  db->RollbackTrans();
  // Rows that come back are discarded; nothing runs after a failing statement, nor of a text with a NUL.
  db->Execute("CREATE TABLE t (a integer primary key); INSERT INTO t VALUES (1);\r\n"
              "SELECT a FROM t; INSERT INTO t VALUES (2); SELECT a, a FROM t; -- the end\n");
  EXPECT_EQ(Count(), "2");
  EXPECT_NE(Failure("INSERT INTO t VALUES (3); INSERT INTO t VALUES (4); INSERT INTO t VALUES (1); "
                    "INSERT INTO t VALUES (5)"), "no error");
  for (const char* blank : {"", "  \r\n\t\r\n  "}) db->Execute(blank);
  const std::string withNul("INSERT INTO t VALUES (6);\0INSERT INTO t VALUES (7)", 50);
  EXPECT_THAT(Failure(withNul), HasSubstr("NUL character at offset 25"));
  EXPECT_EQ(Count(" WHERE a >= 5"), "0");
  // ODBC drivers report an error after rows only when every result is walked.
  EXPECT_THAT(Failure("SELECT a FROM t; SELECT 2; INSERT INTO missing_table VALUES (2); SELECT 3"),
              HasSubstr("missing_table"));
}

TEST_P(DriverTest, TransactionsCommitRollBackAndEndWithTheConnection) {
  db->Execute("CREATE TABLE t (a integer primary key); INSERT INTO t VALUES (5)");
  db->RollbackTrans();  // nothing open: both succeed and do nothing
  db->CommitTrans();
  EXPECT_EQ(db->BeginTrans(), 1);
  db->Execute("INSERT INTO t VALUES (1)");
  db->CommitTrans();
  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (2)");
  db->RollbackTrans();
  db->RollbackTrans();
  EXPECT_EQ(Count(), "2");
  // The engine abandoned the transaction: its commit fails, saying why.
  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (6)");
  const std::string cause =
      Failure(Sqlite() ? "INSERT OR ROLLBACK INTO t VALUES (5)" : "INSERT INTO t VALUES (5)");
  EXPECT_THAT(ErrorOf([&] { db->CommitTrans(); }), AllOf(HasSubstr("rolled back"), HasSubstr(cause)));
  db->RollbackTrans();
  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (7)");
  db->CommitTrans();
  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (3)");
  db.reset();
  EXPECT_EQ(Count(), "3");
  EXPECT_EQ(Count(" WHERE a IN (2, 3, 6)"), "0");
}

TEST_P(DriverTest, WorkAfterTheScriptEndsTheTransactionIsAllOrNothingAgain) {
  db->Execute("CREATE TABLE t (a integer primary key)");
  const bool canPrepare = !Sqlite() && Scalar("SHOW max_prepared_transactions") != "0";
  // Prepared transactions are shared by every test running beside this one.
  const std::string gid = "'vandrel_" + GetParam() + "_" + std::to_string(getpid()) + "'";
  std::vector<std::pair<std::string, bool>> endings = {{"COMMIT;", true}, {"ROLLBACK;", false}, {"END;", true}};
  // Natively a prepared transaction is refused (below); the ODBC driver lets it stand.
  if (canPrepare && GetParam() == "odbc") endings.push_back({"PREPARE TRANSACTION " + gid + ";", true});
  for (const auto& [ending, kept] : endings) {
    SCOPED_TRACE(ending);
    const auto scriptEnds = [&] {
      db->Execute(ending);
      if (ending.starts_with("PREPARE")) Scalar("COMMIT PREPARED " + gid);
    };
    db->Execute("DELETE FROM t");
    // A later batch fails: only what the script ended itself may stay.
    db->BeginTrans();
    db->Execute("INSERT INTO t VALUES (1)");
    scriptEnds();
    db->Execute("INSERT INTO t VALUES (2)");
    EXPECT_NE(Failure("INSERT INTO t VALUES (2)"), "no error");
    db->RollbackTrans();
    EXPECT_EQ(Count(" WHERE a = 2"), "0");
    EXPECT_EQ(Count(" WHERE a = 1"), kept ? "1" : "0");
    // The run's own commit and rollback act on the work after the script's end.
    db->BeginTrans();
    scriptEnds();
    db->Execute("INSERT INTO t VALUES (3)");
    db->CommitTrans();
    db->RollbackTrans();
    db->BeginTrans();
    db->Execute("INSERT INTO t VALUES (4)");
    scriptEnds();
    db->RollbackTrans();
    EXPECT_EQ(Count(" WHERE a >= 3"), kept ? "2" : "1");
  }
  if (!Sqlite() && !canPrepare) GTEST_SKIP() << "the test server allows no prepared transactions";
}

// What only a server does: refuse, change the session's encoding, send notices, drop the
// connection. The program hears of them only through errors, never with the password.
TEST_P(DriverTest, ServerRefusalsEncodingChangesNoticesAndLoss) {
  if (Sqlite()) GTEST_SKIP() << "no server";
  if (GetParam() == "postgres") {
    EXPECT_THAT(ErrorOf([] { ado::OpenPostgres(TestServer() + " dbname=no_such_db password=hunter2"); }),
                AllOf(HasSubstr("\"no_such_db\" does not exist"), Not(HasSubstr("hunter2"))));
  }
  db->Execute("CREATE TABLE e (s text); CREATE PROCEDURE to_latin1() LANGUAGE plpgsql AS "
              "$$ BEGIN PERFORM set_config('client_' || 'encoding', 'LATIN1', false); END $$");
  const std::string insert = "INSERT INTO e VALUES ('Señal año café')";
  for (const std::string batch : {"SET client_encoding = 'LATIN1';", "SET NAMES 'LATIN1'",
                                  "SELECT set_config('client_encoding', 'LATIN1', false)", "CALL to_latin1()"}) {
    SCOPED_TRACE(batch);
    db->BeginTrans();
    db->Execute(insert);
    std::string error = Failure(batch);
    // Nothing in a call's text names the encoding: ODBC finds the change only at the commit.
    const bool atCommit = error == "no error";
    if (atCommit) error = ErrorOf([&] { db->Execute(insert); db->CommitTrans(); });
    EXPECT_THAT(error, HasSubstr("client_encoding from UTF8 to LATIN1"));
    EXPECT_EQ(atCommit, GetParam() == "odbc" && batch.starts_with("CALL"));
    db->RollbackTrans();
    EXPECT_EQ(Scalar("SELECT count(*) FROM e"), "0");
    // The rollback gave the session its encoding back.
    db->Execute(insert);
    EXPECT_EQ(Scalar("DELETE FROM e RETURNING s"), "Señal año café");
  }

  ::testing::internal::CaptureStderr();
  db->Execute("DO $$BEGIN RAISE NOTICE 'valor: %', 'hunter2'; RAISE WARNING 'aviso'; END$$");
  db->Execute("ROLLBACK");  // the server warns: no transaction in progress
  db->Execute("CREATE TABLE pid AS SELECT pg_backend_pid() AS p");
  db->BeginTrans();
  db->Execute("CREATE TEMP TABLE IF NOT EXISTS n (a int); CREATE TEMP TABLE IF NOT EXISTS n (a int)");
  db->Execute("INSERT INTO pid VALUES (0)");
  Scalar("SELECT pg_terminate_backend(p) FROM pid");
  EXPECT_NE(Failure("SELECT 1"), "no error");
  EXPECT_THAT(Failure("SELECT 1"), HasSubstr("lost"));
  EXPECT_THAT(ErrorOf([&] { db->BeginTrans(); }), HasSubstr("lost"));
  EXPECT_THAT(ErrorOf([&] { db->CommitTrans(); }), HasSubstr("lost"));
  EXPECT_THAT(ErrorOf([&] { db->RollbackTrans(); }), HasSubstr("lost"));
  db.reset();  // releasing a dead connection is quiet
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Scalar("SELECT count(*) FROM pid"), "1");
}

// A batch that leaves a prepared transaction fails, and what it prepared is rolled back, so
// that nothing holds its locks; when the connection is lost first, the error names it.
TEST_P(DriverTest, NoPreparedTransactionIsLeftPending) {
  if (GetParam() != "postgres") GTEST_SKIP() << "native PostgreSQL only";
  if (Scalar("SHOW max_prepared_transactions") == "0") GTEST_SKIP() << "the server allows none";
  const std::string quoted = "'vandrel_" + std::to_string(getpid()) + "_it''s'";
  const std::string refused = "a script may not leave a prepared transaction pending: ";
  const auto pending = [&] { return Scalar("SELECT count(*) FROM pg_prepared_xacts WHERE gid = " + quoted); };
  db->Execute("CREATE TABLE t (a int)");
  // The batch's own error, when it has one, follows on a line of its own.
  const struct { std::string batch, then; } rows[] = {
      {"INSERT INTO t VALUES (1); PREPARE TRANSACTION " + quoted + ";", ""},
      {"INSERT INTO t VALUES (1); PREPARE TRANSACTION " + quoted + "; SELECT 1/0;", "\nERROR:  division by zero"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.batch);
    db->BeginTrans();
    db->Execute("INSERT INTO t VALUES (0)");
    const std::string error = Failure(row.batch);
    EXPECT_EQ(error.substr(0, error.find('\n')), refused + quoted + " was rolled back");
    EXPECT_THAT(error, HasSubstr(row.then));
    db->RollbackTrans();
    EXPECT_EQ(pending(), "0");
    EXPECT_EQ(Count(), "0");
    // Nothing holds a lock on t: the next batch that needs one gets it at once.
    db->Execute("SET lock_timeout = '1s'; ALTER TABLE t ADD COLUMN IF NOT EXISTS b int");
  }
  db->BeginTrans();
  EXPECT_THAT(Failure("INSERT INTO t VALUES (1); PREPARE TRANSACTION " + quoted +
                      "; SELECT pg_terminate_backend(pg_backend_pid());"),
              AllOf(StartsWith(refused + quoted + " is left pending (The connection to the PostgreSQL server was lost"),
                    HasSubstr("): end it with ROLLBACK PREPARED " + quoted + "\n")));
  EXPECT_EQ(pending(), "1");
  Scalar("ROLLBACK PREPARED " + quoted);
  EXPECT_EQ(Count(), "0");
}

// A lock another session holds fails the batch after the session's lock_timeout: 60 s when
// nothing set one (or it reads 0), else the value of whatever did (PGOPTIONS, a script's SET).
TEST_P(DriverTest, ALockHeldElsewhereIsWaitedOnForALimitedTime) {
  if (Sqlite()) GTEST_SKIP() << "SQLite waits its own 5 s";
  const auto open = [&] {
    return GetParam() == "odbc" ? ado::OpenOdbc(OdbcConnectionString(server->name()))
                                : ado::OpenPostgres(server->conninfo());
  };
  // 0 reads as unset.
  for (const auto& [pgoptions, limit] : {std::pair{"", "1min"}, {"-c lock_timeout=5s", "5s"},
                                         {"-c lock_timeout=0", "1min"}}) {
    SCOPED_TRACE(limit);
    setenv("PGOPTIONS", pgoptions, 1);
    open()->Execute("DROP TABLE IF EXISTS lt; CREATE TABLE lt AS SELECT current_setting('lock_timeout') AS v");
    unsetenv("PGOPTIONS");
    EXPECT_EQ(Scalar("SELECT v FROM lt"), limit);
  }

  db->Execute("CREATE TABLE t (a int)");
  auto holder = open();
  holder->BeginTrans();
  holder->Execute("LOCK TABLE t IN ACCESS EXCLUSIVE MODE");
  db->BeginTrans();
  db->Execute("SET lock_timeout = '50ms'");
  EXPECT_THAT(Failure("INSERT INTO t VALUES (1)"),
              AllOf(HasSubstr("lock was not granted"), HasSubstr("SET lock_timeout")));
  db->RollbackTrans();
  holder->RollbackTrans();
}

}  // namespace

// Where in the batch the failure lies: '@' marks it in each engine's row ("" where the
// engine takes the text otherwise). ODBC tells only the batch.
TEST_P(DriverTest, AFailureTellsItsPlaceInTheBatch) {
  using Kind = ado::BatchPlace::Kind;
  const struct {
    const char* name;
    std::string sqlite;
    Kind sqliteKind;
    std::string postgres;
    Kind postgresKind;
  } rows[] = {
      {"key_violated_after_empty_statements_and_comments",
       "CREATE TABLE t (a integer primary key);\n;\nINSERT INTO t VALUES (1); -- x;\n/* y; */ @INSERT INTO t VALUES (1);\n",
       Kind::Statement,
       "CREATE TABLE t (a integer primary key);\n;\nINSERT INTO t VALUES (1); -- x;\n/* y; */ @INSERT INTO t VALUES (1);\n",
       Kind::Statement},
      {"syntax_after_multibyte", "SELECT 1;\nSELECT 'ñandú', 2 FORM @x;\n", Kind::Exact,
       "SELECT 1;\nSELECT 'ñandú', 2 FORM @x;\n", Kind::Exact},
      {"unknown_column", "SELECT 1;\r\nSELECT 'é', @nope;\r\n", Kind::Exact,
       "SELECT 1;\r\nSELECT 'é', @nope;\r\n", Kind::Exact},
      {"end_of_input", "SELECT 1;\n@SELECT (1\n", Kind::Statement, "SELECT 1;\nSELECT (1\n@", Kind::Exact},
      {"raised_in_a_function_with_semicolons_in_its_body", "",
       Kind::Batch,
       "CREATE FUNCTION f() RETURNS int LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'no; way'; END $$;\n"
       "SELECT ';';\n@SELECT f();\n",
       Kind::Statement},
      // Whether a backslash escapes is the session's business: the statements are not sure.
      {"backslash_read_two_ways", "", Kind::Batch, "@SELECT 'a\\'; SELECT 1; -- '\nSELECT 1/0;\n", Kind::Batch},
      {"atomic_body", "", Kind::Batch,
       "@CREATE FUNCTION g() RETURNS int LANGUAGE sql BEGIN ATOMIC SELECT 1; END;\nSELECT 1/0;\n", Kind::Batch},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text = GetParam() == "sqlite" ? row.sqlite : row.postgres;
    if (text.empty()) continue;
    const auto at = text.find('@');
    ASSERT_NE(std::string::npos, at);
    text.erase(at, 1);
    ado::BatchPlace expected{at, GetParam() == "sqlite" ? row.sqliteKind : row.postgresKind};
    if (GetParam() == "odbc") expected = {};
    db->BeginTrans();
    std::optional<ado::BatchPlace> place;
    try {
      db->Execute(text);
    } catch (const ado::BatchError& e) {
      place = e.Place();
    }
    db->RollbackTrans();
    ASSERT_TRUE(place.has_value()) << "no BatchError";
    EXPECT_EQ(expected.offset, place->offset);
    EXPECT_EQ(static_cast<int>(expected.kind), static_cast<int>(place->kind));
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverTest, ::testing::Values(VANDREL_DRIVERS),
                         [](const auto& p) { return p.param; });

}  // namespace vandrel::testing
