// What every driver must do the same way, run against each real engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include "backends.h"
#include "support/recording.h"

namespace vandrel::testing {
namespace {

class DriverTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    backend = MakeBackend(GetParam());
    if (!backend) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
    db = backend->Open();
  }
  std::string Count(const std::string& where = "") {
    return backend->Scalar("SELECT count(*) FROM t" + where);
  }
  std::unique_ptr<Backend> backend;
  ado::ConnectionPtr db;
};

TEST_P(DriverTest, BatchWhoseThirdStatementFailsIsReported) {
  // Inside a transaction: the failure surfaces and rollback leaves nothing of the batch.
  EXPECT_EQ(db->BeginTrans(), 1);
  const std::string error = ErrorOf([&] {
    db->Execute(
        "CREATE TABLE t (a integer primary key);\nINSERT INTO t VALUES (1);\n"
        "INSERT INTO missing_table VALUES (2);\nINSERT INTO t VALUES (3);\n");
  });
  EXPECT_NE(error.find("missing_table"), std::string::npos) << error;
  db->RollbackTrans();
  EXPECT_EQ(backend->Scalar(GetParam() == "sqlite"
                                ? "SELECT count(*) FROM sqlite_master WHERE name = 't'"
                                : "SELECT count(*) FROM pg_tables WHERE tablename = 't'"),
            "0");

  // Outside one: the statement after the failing one never runs.
  db->Execute("CREATE TABLE t (a integer primary key)");
  EXPECT_ANY_THROW(db->Execute(
      "INSERT INTO t VALUES (1); INSERT INTO t VALUES (2); INSERT INTO t VALUES (1); "
      "INSERT INTO t VALUES (4)"));
  EXPECT_EQ(Count(" WHERE a = 4"), "0");

  // After statements that return rows, the error comes with a later result (ODBC drivers
  // report it only when every result is walked).
  const std::string late = ErrorOf([&] {
    db->Execute("SELECT a FROM t; SELECT 2; INSERT INTO missing_table VALUES (2); SELECT 3");
  });
  EXPECT_NE(late.find("missing_table"), std::string::npos) << late;
}

TEST_P(DriverTest, RowsAreDiscardedBlankTextIsSkippedAndNulIsRefused) {
  db->Execute(
      "CREATE TABLE t (a integer primary key); INSERT INTO t VALUES (1);\r\n"
      "SELECT a FROM t; INSERT INTO t VALUES (2); SELECT a, a FROM t; -- the end\n");
  EXPECT_EQ(Count(), "2");

  db->Execute("");
  db->Execute("  \r\n\t\r\n  ");

  const std::string withNul("INSERT INTO t VALUES (3);\0INSERT INTO t VALUES (4)", 50);
  const std::string error = ErrorOf([&] { db->Execute(withNul); });
  EXPECT_NE(error.find("NUL character at offset 25"), std::string::npos) << error;
  EXPECT_EQ(Count(), "2");
}

// The script's own COMMIT and ROLLBACK are the rows of the next case.
TEST_P(DriverTest, TransactionsAndReleaseRollBack) {
  db->Execute("CREATE TABLE t (a integer primary key)");
  // Nothing open: both succeed and do nothing.
  db->RollbackTrans();
  db->CommitTrans();

  EXPECT_EQ(db->BeginTrans(), 1);
  db->Execute("INSERT INTO t VALUES (1)");
  db->CommitTrans();
  EXPECT_EQ(Count(), "1");

  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (2)");
  db->RollbackTrans();
  EXPECT_EQ(Count(), "1");
  db->RollbackTrans();

  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (3)");
  db.reset();
  EXPECT_EQ(Count(), "1");
}

TEST_P(DriverTest, WorkAfterTheScriptEndsTheTransactionIsAllOrNothingAgain) {
  db->Execute("CREATE TABLE t (a integer primary key)");
  const bool server = GetParam() != "sqlite";
  const bool canPrepare = server && backend->Scalar("SHOW max_prepared_transactions") != "0";
  struct Row {
    std::string ending;  // the script's batch that ends the transaction
    bool kept;           // whether what came before it stays
    std::string then;    // run on the test's own connection afterwards
  };
  std::vector<Row> rows = {{"COMMIT;", true, ""}, {"ROLLBACK;", false, ""}, {"END;", true, ""}};
  if (canPrepare) {
    // The server's prepared transactions are shared by every test running beside this one.
    const std::string gid = "'vandrel_" + GetParam() + "_" + std::to_string(getpid()) + "'";
    rows.push_back({"PREPARE TRANSACTION " + gid + ";", true, "COMMIT PREPARED " + gid});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ending);
    db->Execute("DELETE FROM t");
    // A later batch fails: only what the script ended itself may stay.
    db->BeginTrans();
    db->Execute("INSERT INTO t VALUES (1)");
    db->Execute(row.ending);
    db->Execute("INSERT INTO t VALUES (2)");
    EXPECT_ANY_THROW(db->Execute("INSERT INTO t VALUES (2)"));
    db->RollbackTrans();
    if (!row.then.empty()) backend->Scalar(row.then);
    EXPECT_EQ(Count(" WHERE a = 2"), "0");
    EXPECT_EQ(Count(" WHERE a = 1"), row.kept ? "1" : "0");

    // The run's own commit and rollback act on the work after the script's end.
    db->BeginTrans();
    db->Execute(row.ending);
    if (!row.then.empty()) backend->Scalar(row.then);
    db->Execute("INSERT INTO t VALUES (3)");
    db->CommitTrans();
    db->RollbackTrans();
    db->BeginTrans();
    db->Execute("INSERT INTO t VALUES (4)");
    db->Execute(row.ending);
    if (!row.then.empty()) backend->Scalar(row.then);
    db->RollbackTrans();
    EXPECT_EQ(Count(" WHERE a >= 3"), row.kept ? "2" : "1");
  }
  if (server && !canPrepare) GTEST_SKIP() << "the test server allows no prepared transactions";
}

TEST_P(DriverTest, CommitOfATransactionTheEngineAbandonedFails) {
  db->Execute("CREATE TABLE t (a integer primary key); INSERT INTO t VALUES (5)");
  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (6)");
  const std::string cause = ErrorOf([&] { db->Execute(backend->AbortingStatement()); });
  const std::string error = ErrorOf([&] { db->CommitTrans(); });
  EXPECT_NE(error.find("rolled back"), std::string::npos) << error;
  EXPECT_NE(error.find(cause), std::string::npos) << error;
  EXPECT_EQ(Count(" WHERE a = 6"), "0");
  // The connection is usable again afterwards.
  db->RollbackTrans();
  db->BeginTrans();
  db->Execute("INSERT INTO t VALUES (7)");
  db->CommitTrans();
  EXPECT_EQ(Count(), "2");
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Drivers, DriverTest, ::testing::Values(VANDREL_DRIVERS),
                         [](const auto& p) { return p.param; });

}  // namespace vandrel::testing
