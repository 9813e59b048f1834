#include <sqlite3.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <memory>

#include "platform/ado/batch_place.h"
#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
#include "platform/ado/interruption.h"
#include "platform/ado/rehearsal.h"

namespace vandrel::ado {

namespace {

// The first token at or after `at`: blanks and comments skipped as SQLite skips them.
std::size_t TokenAt(std::string_view text, std::size_t at) {
  while (at < text.size()) {
    const char c = text[at];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
      ++at;
    } else if (text.compare(at, 2, "--") == 0) {
      const auto end = text.find('\n', at);
      if (end == std::string_view::npos) return at;
      at = end + 1;
    } else if (text.compare(at, 2, "/*") == 0) {
      const auto end = text.find("*/", at + 2);
      if (end == std::string_view::npos) return at;
      at = end + 2;
    } else {
      return at;
    }
  }
  return at;
}

class SqliteConnection final : public Connection, public Rehearsable {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}

  // Never commits: an open transaction is rolled back.
  ~SqliteConnection() override {
    interruptible_.reset();
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }

  int BeginTrans() override {
    aborted_.clear();
    // IMMEDIATE takes the write lock now, so no other writer slips in between two scripts.
    Run("BEGIN IMMEDIATE");
    ours_ = true;
    return 1;
  }

  void CommitTrans() override {
    if (rehearsing_) throw Error(kTransactionEndRefused);
    ours_ = false;
    if (!aborted_.empty()) {
      std::string reason = std::move(aborted_);
      aborted_.clear();
      throw Error("The transaction was rolled back by the engine and cannot be committed: " +
                  reason);
    }
    if (sqlite3_get_autocommit(db_)) return;  // the script already ended it
    Run("COMMIT");
  }

  std::string Engine() const override { return "SQLITE"; }

  void RollbackTrans() override {
    ours_ = false;
    aborted_.clear();
    if (sqlite3_get_autocommit(db_)) return;
    Run("ROLLBACK");
  }

  void Execute(std::string_view text, int) override {
    if (!NeedsEngine(text)) return;
    if (text.size() > static_cast<std::size_t>(INT_MAX))
      throw Error("The command text is too long for SQLite");
    Resume();
    Run(text);
    Resume();
  }

  std::string Engine() override { return "SQLite"; }

  std::string DatabaseKey() override {
    const char* file = sqlite3_db_filename(db_, "main");
    struct stat st {};
    if (file == nullptr || *file == '\0' || ::stat(file, &st) != 0)
      return "sqlite:" + std::to_string(reinterpret_cast<std::uintptr_t>(db_));
    return "sqlite:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  }

  // The engine itself refuses every commit, so a trigger's END is no transaction end.
  void ForbidCommit() override {
    rehearsing_ = true;
    sqlite3_commit_hook(db_, [](void* self) {
      static_cast<SqliteConnection*>(self)->commitRefused_ = true;
      return 1;
    }, this);
  }

  void CheckAsCommitWould() override {
    if (!aborted_.empty())
      throw Error("The transaction was rolled back by the engine and cannot be committed: " +
                  aborted_);
    if (PragmaRows("PRAGMA foreign_keys") == "1") {
      const std::string violations = PragmaRows("PRAGMA foreign_key_check");
      if (!violations.empty())
        throw Error("FOREIGN KEY constraint failed (table, row, parent, constraint: " +
                    violations + ")");
    }
  }

  std::optional<int64_t> RowsChanged() override { return sqlite3_total_changes64(db_); }

 private:
  // The rows of a pragma, their values joined by ", " and the rows by "; ".
  std::string PragmaRows(const char* pragma) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, pragma, -1, &stmt, nullptr);
    std::string rows;
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
      if ((rc = sqlite3_step(stmt)) != SQLITE_ROW) break;
      if (!rows.empty()) rows += "; ";
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* v = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        rows += (i > 0 ? ", " : "") + std::string(v != nullptr ? v : "NULL");
      }
    }
    Error error = SqliteError(db_, rc);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw error;
    return rows;
  }

  // A batch that ended our transaction itself (COMMIT, ROLLBACK, END) leaves what follows
  // inside a new one, so that it stays all-or-nothing up to the caller's commit.
  void Resume() {
    if (!ours_ || !sqlite3_get_autocommit(db_)) return;
    try {
      Run("BEGIN IMMEDIATE");
    } catch (const Error& error) {
      throw Error(std::string("The script ended the transaction and a new one could not be "
                              "begun: ") + error.Description());
    }
  }

  // Prepares and steps each statement in turn; rows are stepped over unread. A failure is
  // a BatchError: the token SQLite named when preparing, else the statement's start.
  void Run(std::string_view text) {
    interruptible_->Call([&] { RunNow(text); });
  }

  void RunNow(std::string_view text) {
    commitRefused_ = false;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (at < end) {
      sqlite3_stmt* stmt = nullptr;
      const char* tail = nullptr;
      int rc = sqlite3_prepare_v2(db_, at, static_cast<int>(end - at), &stmt, &tail);
      const std::size_t start = static_cast<std::size_t>(at - text.data());
      if (rc != SQLITE_OK) {
        const int token = sqlite3_error_offset(db_);
        Error error = SqliteError(db_, rc);
        sqlite3_finalize(stmt);
        if (token >= 0)
          throw BatchError(error, {start + static_cast<std::size_t>(token), BatchPlace::Kind::Exact});
        throw BatchError(error, {TokenAt(text, start), BatchPlace::Kind::Statement});
      }
      if (stmt != nullptr) {
        const bool inTransaction = !sqlite3_get_autocommit(db_);
        do rc = sqlite3_step(stmt);
        while (rc == SQLITE_ROW);
        if (rc != SQLITE_DONE) {
          Error error = SqliteError(db_, rc);
          sqlite3_finalize(stmt);
          // Some failures (a full disk, ON CONFLICT ROLLBACK, RAISE(ROLLBACK)) make SQLite
          // roll the whole transaction back; a later commit must not report it as done.
          if (inTransaction && sqlite3_get_autocommit(db_)) aborted_ = error.Description();
          if (commitRefused_)
            throw TransactionEndRefused({TokenAt(text, start), BatchPlace::Kind::Statement});
          throw BatchError(error, {TokenAt(text, start), BatchPlace::Kind::Statement});
        }
        sqlite3_finalize(stmt);
      }
      // The tail must move on; one that does not would loop for ever.
      if (tail == nullptr || tail <= at || tail > end)
        throw Error("SQLite stopped reading the command text at offset " +
                    std::to_string(at - text.data()));
      at = tail;
    }
  }

  sqlite3* db_;
  std::unique_ptr<Interruptible> interruptible_ =
      std::make_unique<Interruptible>([this] { sqlite3_interrupt(db_); });
  std::string aborted_;  // the error with which the engine rolled back the transaction
  bool ours_ = false;    // begun by BeginTrans and not yet ended by the caller
  bool rehearsing_ = false;     // nothing may be committed
  bool commitRefused_ = false;  // the commit hook refused a commit of the running text
};

}  // namespace

ConnectionPtr OpenSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kSqliteBusyMs);
    // Opening reads nothing; reading the schema tells a database from any other file now.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  // Scripts that declare foreign keys expect them enforced, as every other engine does; the
  // pragma only takes effect outside a transaction, so it is set here once.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    Error error = SqliteError(db, rc);
    sqlite3_close_v2(db);
    throw error;
  }
  return std::make_shared<SqliteConnection>(db);
}

}  // namespace vandrel::ado
