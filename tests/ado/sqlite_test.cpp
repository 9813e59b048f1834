#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>

#include "platform/ado/drivers.h"
#include "platform/error.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

std::string OpenError(const std::string& path) {
  return ErrorOf([&] { ado::OpenSqlite(path); });
}

TEST(SqliteOpen, MissingFileIsNeverCreatedAndOtherFilesAreRefused) {
  TempFolder folder;
  const auto missing = folder.path() / "missing.db";
  EXPECT_EQ(OpenError(missing.string()), "unable to open database file");
  EXPECT_FALSE(std::filesystem::exists(missing));

  EXPECT_EQ(OpenError(folder.Write("notes.db", std::string(4096, 'x')).string()),
            "file is not a database");
  EXPECT_EQ(OpenError(folder.Write("empty.db", "").string()), "no error");
}

TEST(SqliteLock, AWriterHoldingTheDatabaseGivesAnErrorAfterTheWait) {
  TempFolder folder;
  const std::string path = folder.Write("locked.db", "").string();
  auto db = ado::OpenSqlite(path);
  db->Execute("CREATE TABLE t (a integer)");

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { db->BeginTrans(); }), "database is locked (" + path + ")");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(ado::kSqliteBusyMs - 200));

  // Once the other writer lets go, the same connection goes on.
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(db->BeginTrans(), 1);
  db->Execute("INSERT INTO t VALUES (1)");
  db->CommitTrans();

  // A script's own COMMIT: the write lock is taken again before anything else can write.
  db->BeginTrans();
  db->Execute("COMMIT");
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_BUSY);
  sqlite3_close(other);
  db->RollbackTrans();
}

}  // namespace
}  // namespace vandrel::testing
