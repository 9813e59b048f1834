#include <sql.h>
#include <sqlext.h>

#include <cctype>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/ado/batch_place.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
#include "platform/ado/pg_text.h"
#include "platform/ado/prepared_transactions.h"
#include "platform/ado/rehearsal.h"
#include "platform/ado/interruption.h"
#include "platform/locale_text.h"

namespace vandrel::ado {

namespace {

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

class OdbcConnection final : public Connection, public Rehearsable {
 public:
  OdbcConnection(SQLHENV env, SQLHDBC dbc, std::vector<std::string> secrets, std::string connstr)
      : env_(env), dbc_(dbc), secrets_(std::move(secrets)), connstr_(std::move(connstr)) {}

  // Never commits: an open transaction is rolled back before disconnecting.
  ~OdbcConnection() override {
    const platform::NeutralLocale neutral;
    interruptible_.reset();
    if (open_ && lost_.empty()) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  int BeginTrans() override {
    const platform::NeutralLocale neutral;
    CheckAlive();
    Check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)),
                            SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_, "cannot begin a transaction");
    open_ = true;
    failure_.clear();
    return 1;
  }

  void CommitTrans() override {
    const platform::NeutralLocale neutral;
    if (rehearsing_) throw Error(kTransactionEndRefused);
    CheckAlive();
    if (!open_) return;
    if (!failure_.empty()) {
      // The driver may already have rolled back on its own; either way nothing of the
      // failed transaction may be reported as committed.
      const std::string reason = failure_;
      End(SQL_ROLLBACK);
      throw Error("The transaction failed and was rolled back; it cannot be committed: " +
                  reason);
    }
    // A change made where no batch text shows it (inside a function) is caught here.
    if (postgres_) {
      if (const auto changed = EncodingChange()) {
        End(SQL_ROLLBACK);
        throw Error(std::string("The transaction was rolled back and cannot be committed: ") +
                    changed->Description());
      }
    }
    End(SQL_COMMIT);
  }

  std::string Engine() const override { return engine_; }

  void RollbackTrans() override {
    const platform::NeutralLocale neutral;
    CheckAlive();
    if (!open_) return;
    End(SQL_ROLLBACK);
  }

  void Drain() override {}

  void Execute(std::string_view text, int, std::int64_t) override {
    const platform::NeutralLocale neutral;
    interruptible_->Call([&] { ExecuteNow(text); });
  }

  std::string Engine() override { return dbms_ + " (ODBC)"; }
  std::string DatabaseKey() override { return "odbc:" + connstr_; }
  void ForbidCommit() override { rehearsing_ = true; }

  void CheckAsCommitWould() override {
    CheckAlive();
    if (!failure_.empty())
      throw Error("The transaction failed and cannot be committed: " + failure_);
    if (!postgres_) return;
    if (const auto changed = EncodingChange())
      throw Error(std::string("The transaction cannot be committed: ") + changed->Description());
    ExecuteNow("SET CONSTRAINTS ALL IMMEDIATE");
  }

  std::optional<int64_t> RowsChanged() override { return rows_; }

 private:
  void ExecuteNow(std::string_view text) {
    if (!NeedsEngine(text)) return;
    CheckAlive();
    if (text.size() > static_cast<std::size_t>(INT_MAX))
      throw Error("The command text is too long for ODBC");
    // The PostgreSQL driver never returns from COPY with the client (it waits for data it
    // has no way to send, or reads without end), so such a batch never reaches it.
    if (postgres_ && CopiesWithTheClient(text)) {
      Error error("COPY FROM STDIN and COPY TO STDOUT cannot run through ODBC (the driver "
                  "would never return); nothing of the batch was run");
      if (open_ && failure_.empty()) failure_ = error.Description();
      throw error;
    }
    // A false stop costs a warning; a commit would cost the customer's data.
    if (rehearsing_) {
      std::optional<std::size_t> end = CommitWord(text, postgres_);
      if (postgres_) {
        const auto pgEnd = PostgresTransactionEnd(text);
        if (pgEnd && (!end || *pgEnd < *end)) end = pgEnd;
      }
      if (end) throw TransactionEndRefused({*end, BatchPlace::Kind::Statement});
    }
    const std::vector<std::string> preparing =
        postgres_ ? PreparedTransactionIds(text) : std::vector<std::string>{};
    const std::string since =
        preparing.empty() ? "" : Scalar("SELECT clock_timestamp()::text", "cannot read the time");
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt), SQL_HANDLE_DBC, dbc_,
          "cannot allocate a statement");
    std::optional<Error> error;
    BatchPlace place;
    Running(stmt);
    SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.data())),
                                 static_cast<SQLINTEGER>(text.size()));
    // Every result of the batch is walked: a later statement's error only shows up there.
    while (!error) {
      if (rc == SQL_NO_DATA) {
        // An UPDATE or DELETE that touched no row; the batch goes on.
      } else if (!Ok(rc)) {
        const bool lock = OdbcState(SQL_HANDLE_STMT, stmt) == "55P03";
        error = Diagnose(SQL_HANDLE_STMT, stmt, "the statement failed");
        place = PlaceOf(text, stmt);
        if (lock && postgres_) error = Error(error->Description() + std::string(kLockNotGranted));
        break;
      } else {
        SQLSMALLINT columns = 0;
        SQLLEN changed = -1;
        if (Ok(SQLNumResultCols(stmt, &columns)) && columns == 0 &&
            Ok(SQLRowCount(stmt, &changed)) && changed > 0)
          rows_ += changed;
        if (columns > 0) {
          SQLRETURN fetched;
          while (Ok(fetched = SQLFetch(stmt))) {
          }
          if (fetched != SQL_NO_DATA) {
            error = Diagnose(SQL_HANDLE_STMT, stmt, "reading a result failed");
            break;
          }
        }
      }
      rc = SQLMoreResults(stmt);
      if (rc == SQL_NO_DATA) break;
    }
    Running(SQL_NULL_HSTMT);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (!preparing.empty()) RefusePrepared(preparing, since, error ? error->Description() : "");
    if (error) {
      if (open_ && failure_.empty()) failure_ = error->Description();
      throw BatchError(*error, place);
    }
    if (postgres_ && MayChangeClientEncoding(text)) {
      if (auto changed = EncodingChange()) {
        if (open_ && failure_.empty()) failure_ = changed->Description();
        throw *changed;
      }
    }
  }

  // The driver does not tell that a transaction was prepared, so the server is asked which
  // of the batch's identifiers this session prepared since the batch began. ROLLBACK
  // PREPARED cannot run inside a transaction block: the open one goes first, as the entity
  // fails anyway.
  [[noreturn]] void RefusePrepared(const std::vector<std::string>& ids, const std::string& since,
                                   const std::string& batchError) {
    std::vector<std::string> pending = ids;
    if (lost_.empty()) {
      try {
        if (open_) End(SQL_ROLLBACK);
        pending.clear();
        for (const std::string& id : ids)
          if (Scalar("SELECT count(*) FROM pg_prepared_xacts WHERE gid = " + PgStringConstant(id) +
                         " AND owner = current_user AND database = current_database()"
                         " AND prepared >= " + PgStringConstant(since) + "::timestamptz",
                     "cannot read the prepared transactions") != "0")
            pending.push_back(id);
      } catch (const Error&) {
        pending = ids;  // each rollback below then says why it could not be done
      }
    }
    Error error = RefusePreparedTransactions(
        pending, 0,
        [&](const std::string& sql) {
          CheckAlive();
          Scalar(sql, "cannot roll back the prepared transaction");
        },
        batchError);
    open_ = false;
    throw error;
  }

  // Drivers tell no place in the batch, except SQL Server's: the line of the batch (1 the
  // first) in a diagnostic field of their own.
  BatchPlace PlaceOf(std::string_view text, SQLHSTMT stmt) const {
    constexpr SQLSMALLINT kSqlServerLine = -1154;
    SQLUSMALLINT line = 0;
    if (!sqlServer_ || !Ok(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, kSqlServerLine, &line,
                                           SQL_IS_USMALLINT, nullptr)) || line == 0)
      return {};
    std::size_t at = 0;
    for (SQLUSMALLINT k = 1; k < line; ++k) {
      at = text.find('\n', at);
      if (at == std::string_view::npos) return {};
      ++at;
    }
    return {at, BatchPlace::Kind::Statement};
  }

 public:
  // Which engine is behind the driver, and the session's client encoding when it is
  // PostgreSQL.
  void LearnServer() {
    SQLCHAR name[64] = {};
    SQLSMALLINT length = 0;
    const bool named = Ok(SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &length));
    const std::string_view dbms = named ? reinterpret_cast<const char*>(name) : "";
    if (named) dbms_ = dbms;
    postgres_ = dbms == "PostgreSQL";
    sqlServer_ = dbms == "Microsoft SQL Server";
    engine_ = postgres_ ? "POSTGRESQL" : dbms == "SQLite" ? "SQLITE" : "";
    if (postgres_) encoding_ = ClientEncoding();
    // Nothing waits for ever on a lock another session holds, unless the session says so.
    const std::string seconds = std::to_string(kLockTimeoutSeconds);
    if (postgres_ && Scalar("SHOW lock_timeout", "cannot read the lock timeout") == "0")
      Scalar("SET lock_timeout = '" + seconds + "s'", "cannot set the lock timeout");
    if (sqlServer_ &&
        Scalar("SELECT @@LOCK_TIMEOUT", "cannot read the lock timeout") == "-1")
      Scalar("SET LOCK_TIMEOUT " + seconds + "000", "cannot set the lock timeout");
  }

 private:
  // The driver reports no change of the client encoding, and text it sends under another
  // one than the session's first is stored misread: a change fails the batch and the
  // open transaction.
  std::optional<Error> EncodingChange() {
    const std::string now = ClientEncoding();
    if (now == encoding_) return std::nullopt;
    return Error("A batch changed the session's client_encoding from " + encoding_ + " to " +
                 now + "; the program always sends UTF-8 text, so the batch cannot be kept");
  }

  std::string ClientEncoding() {
    return Scalar("SHOW client_encoding", "cannot read the client encoding");
  }

  // The first column of the first row `sql` gives, "" when it gives no rows.
  std::string Scalar(std::string sql, std::string_view what) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt), SQL_HANDLE_DBC, dbc_,
          "cannot allocate a statement");
    SQLCHAR value[64] = {};
    SQLLEN length = 0;
    std::optional<Error> error;
    SQLSMALLINT columns = 0;
    SQLRETURN fetched = SQL_NO_DATA;
    if (!Ok(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS)) ||
        !Ok(SQLNumResultCols(stmt, &columns)) ||
        (columns > 0 && !Ok(fetched = SQLFetch(stmt)) && fetched != SQL_NO_DATA) ||
        (Ok(fetched) && !Ok(SQLGetData(stmt, 1, SQL_C_CHAR, value, sizeof value, &length))))
      error = Diagnose(SQL_HANDLE_STMT, stmt, what);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (error) throw *error;
    return reinterpret_cast<const char*>(value);
  }

  void Running(SQLHSTMT stmt) {
    std::lock_guard<std::mutex> hold(runningLock_);
    running_ = stmt;
  }

  void End(SQLSMALLINT completion) {
    const SQLRETURN rc = interruptible_->Call([&] {
      open_ = false;
      return SQLEndTran(SQL_HANDLE_DBC, dbc_, completion);
    });
    if (!Ok(rc)) {
      Error error = Diagnose(SQL_HANDLE_DBC, dbc_, "cannot end the transaction");
      if (lost_.empty() && completion == SQL_COMMIT) open_ = true;  // a rollback may follow
      throw error;
    }
    failure_.clear();
    Check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)),
                            SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_, "cannot return to auto-commit");
  }

  void CheckAlive() {
    if (!lost_.empty()) throw Error("The ODBC connection was lost: " + lost_);
  }

  void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, std::string_view what) {
    if (!Ok(rc)) throw Diagnose(type, handle, what);
  }

  // The handle's error, noting a lost connection (SQLSTATE class 08, or the driver says so).
  Error Diagnose(SQLSMALLINT type, SQLHANDLE handle, std::string_view what) {
    const std::string state = OdbcState(type, handle);
    Error error = OdbcError(type, handle, what, secrets_);
    SQLUINTEGER dead = SQL_CD_FALSE;
    const bool driverSaysDead =
        Ok(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr)) &&
        dead == SQL_CD_TRUE;
    if (state.rfind("08", 0) == 0 || driverSaysDead) {
      lost_ = error.Description();
      open_ = false;
    }
    return error;
  }

  SQLHENV env_;
  SQLHDBC dbc_;
  std::mutex runningLock_;
  SQLHSTMT running_ = SQL_NULL_HSTMT;  // the statement Interrupt may cancel, never a freed one
  std::unique_ptr<Interruptible> interruptible_ = std::make_unique<Interruptible>([this] {
    std::lock_guard<std::mutex> hold(runningLock_);
    if (running_ != SQL_NULL_HSTMT) SQLCancel(running_);
  });
  std::vector<std::string> secrets_;
  bool open_ = false;    // a transaction of ours is open (auto-commit off)
  std::string failure_;  // the first error inside the open transaction
  std::string lost_;     // why the connection went away
  bool postgres_ = false;  // the engine is PostgreSQL
  bool sqlServer_ = false;
  std::string engine_;     // Engine()
  std::string encoding_;   // its session's client encoding when the connection opened
  std::string connstr_;    // as given: which database it reaches
  std::string dbms_ = "un motor que el controlador ODBC no nombra";
  bool rehearsing_ = false;  // nothing may be committed
  int64_t rows_ = 0;         // changed by every statement so far, as the driver counts them
};

}  // namespace

ConnectionPtr OpenOdbc(const std::string& connstr) {
  // The driver manager and the drivers compare key names with the locale's letter case.
  const platform::NeutralLocale neutral;
  if (connstr.size() > SHRT_MAX) throw Error("The ODBC connection string is too long");
  std::vector<std::string> secrets = ConnectionSecrets(connstr);
  SQLHENV env = SQL_NULL_HENV;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    throw Error("cannot start the ODBC driver manager");
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    Error error = OdbcError(SQL_HANDLE_ENV, env, "cannot allocate an ODBC connection", secrets);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw error;
  }
  if (const std::optional<int> timeout = OdbcLoginTimeout(connstr))
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(*timeout)),
                      SQL_IS_UINTEGER);
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc = SQLDriverConnect(
      dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connstr.data())),
      static_cast<SQLSMALLINT>(connstr.size()), out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    Error error = OdbcError(SQL_HANDLE_DBC, dbc, "cannot connect through ODBC", secrets);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw error;
  }
  auto connection = std::make_shared<OdbcConnection>(env, dbc, std::move(secrets), connstr);
  connection->LearnServer();
  return connection;
}

}  // namespace vandrel::ado
