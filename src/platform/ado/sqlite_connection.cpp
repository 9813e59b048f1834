#include <sqlite3.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <memory>
#include <optional>
#include <string_view>

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

  void Drain() override {}

  void Execute(std::string_view text, int, std::int64_t) override {
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

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// SQLite's own decoding: "%XX" is the byte; a "%" without two hex digits stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

// The values sqlite3_uri_boolean reads; any other it would silently take as the default.
std::optional<bool> UriBoolean(std::string_view value) {
  for (const char* on : {"1", "yes", "true", "on"})
    if (SameLetters(value, on)) return true;
  for (const char* off : {"0", "no", "false", "off"})
    if (SameLetters(value, off)) return false;
  return std::nullopt;
}

}  // namespace

std::optional<SqliteUri> ParseSqliteUri(const std::string& connection) {
  constexpr std::string_view kScheme = "file:";
  if (!connection.starts_with(kScheme)) return std::nullopt;
  std::string_view rest = std::string_view(connection).substr(kScheme.size());
  rest = rest.substr(0, rest.find('#'));
  const auto q = rest.find('?');
  std::string_view where = rest.substr(0, q);
  const std::string_view query = q == std::string_view::npos ? "" : rest.substr(q + 1);
  if (where.starts_with("//")) {
    const auto slash = where.find('/', 2);
    const std::string_view host = where.substr(2, slash == std::string_view::npos ? slash : slash - 2);
    if (!host.empty() && host != "localhost")
      throw Error("La dirección SQLite " + connection + " nombra el equipo \"" + std::string(host) +
                  "\": solo se admite un archivo local");
    where = slash == std::string_view::npos ? "" : where.substr(slash);
  }
  for (std::string_view params = query; !params.empty();) {
    const auto amp = params.find('&');
    const std::string_view param = params.substr(0, amp);
    params = amp == std::string_view::npos ? "" : params.substr(amp + 1);
    if (param.empty()) continue;
    const auto eq = param.find('=');
    const std::string key = PercentDecoded(param.substr(0, eq));
    const std::string value = eq == std::string_view::npos ? "" : PercentDecoded(param.substr(eq + 1));
    if (key != "foreign_keys")
      throw Error("El parámetro \"" + key + "\" de la dirección SQLite " + connection +
                  " no se admite: el único admitido es foreign_keys (on u off)");
    if (!UriBoolean(value))
      throw Error("El valor \"" + value + "\" de foreign_keys en la dirección SQLite " +
                  connection + " no se admite: se espera on u off");
  }
  return SqliteUri{PercentDecoded(where), std::string(query)};
}

std::string SqliteUriFor(const std::string& path, const std::string& query) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  // A path that begins with "//" would otherwise read as a host.
  if (path.starts_with("//")) uri += "//";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      uri += '%';
      uri += kHex[static_cast<unsigned char>(c) >> 4];
      uri += kHex[static_cast<unsigned char>(c) & 15];
    } else {
      uri += c;
    }
  }
  if (!query.empty()) uri += "?" + query;
  return uri;
}

ConnectionPtr OpenSqlite(const std::string& path) {
  const bool uri = ParseSqliteUri(path).has_value();
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (uri ? SQLITE_OPEN_URI : 0),
                           nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kSqliteBusyMs);
    // Opening reads nothing; reading the schema tells a database from any other file now.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  // The engine's default stands unless the URI says otherwise; the pragma only takes
  // effect outside a transaction, so neither a script nor a later step can change it.
  const sqlite3_filename file = rc == SQLITE_OK && uri ? sqlite3_db_filename(db, "main") : nullptr;
  if (file != nullptr && sqlite3_uri_parameter(file, "foreign_keys") != nullptr) {
    const bool on = sqlite3_uri_boolean(file, "foreign_keys", 0) != 0;
    rc = sqlite3_exec(db, on ? "PRAGMA foreign_keys = ON" : "PRAGMA foreign_keys = OFF", nullptr,
                      nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    Error error = SqliteError(db, rc);
    sqlite3_close_v2(db);
    throw error;
  }
  return std::make_shared<SqliteConnection>(db);
}

}  // namespace vandrel::ado
