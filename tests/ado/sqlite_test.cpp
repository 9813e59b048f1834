#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

  const std::string notes = folder.Write("notes.db", std::string(4096, 'x')).string();
  EXPECT_EQ(OpenError(notes), "file is not a database (" + notes + ")");
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

// A read-only file names itself, as a locked one does. Root may write any file, so then the
// attempt runs in a child process as an unprivileged user.
TEST(SqliteReadOnly, TheFailureNamesTheFile) {
  TempFolder folder;
  const std::string path = folder.Write("ro.db", "").string();
  ado::OpenSqlite(path)->Execute("CREATE TABLE t (a integer)");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(folder.str().c_str(), 0755), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    std::string said = "no error";
    try {
      auto db = ado::OpenSqlite(path);
      db->BeginTrans();
      db->Execute("INSERT INTO t VALUES (1)");
      db->CommitTrans();
    } catch (const std::exception& e) {
      said = e.what();
    }
    _exit(write(fds[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 4);
  }
  close(fds[1]);
  std::string said;
  char buf[512];
  for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<std::size_t>(got));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(said, "attempt to write a readonly database (" + path + ")");
}

}  // namespace
}  // namespace vandrel::testing
