#include <libpq-fe.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "platform/ado/batch_place.h"
#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
#include "platform/ado/interruption.h"
#include "platform/ado/pg_text.h"
#include "platform/ado/postgres_pipeline.h"
#include "platform/ado/prepared_transactions.h"
#include "platform/ado/rehearsal.h"

namespace vandrel::ado {

namespace {

// Whether a command tag counts rows changed (SELECT, FETCH and MOVE count rows read).
bool Changes(std::string_view tag) {
  for (const std::string_view verb : {"INSERT ", "UPDATE ", "DELETE ", "MERGE ", "COPY "})
    if (tag.starts_with(verb)) return true;
  return false;
}

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

class PostgresConnection final : public Connection, public Rehearsable {
 public:
  PostgresConnection(PGconn* conn, std::vector<std::string> secrets, PostgresOptions options)
      : conn_(conn),
        cancel_(PQgetCancel(conn)),
        secrets_(std::move(secrets)),
        options_(options) {}

  // Never commits: an open transaction is rolled back (closing alone would do the same at
  // the server, but not until it notices).
  ~PostgresConnection() override {
    pipeline_.Abandon(cancel_);
    if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE)
      PQclear(PQexec(conn_, "ROLLBACK"));
    interruptible_.reset();
    if (cancel_ != nullptr) PQfreeCancel(cancel_);
    PQfinish(conn_);
  }

  int BeginTrans() override {
    Drain();
    refused_.clear();
    Run("BEGIN");
    ours_ = true;
    return 1;
  }

  void CommitTrans() override {
    if (rehearsing_) throw Error(kTransactionEndRefused);
    ours_ = false;
    Drain();
    CheckAlive();
    if (!refused_.empty()) {
      const std::string reason = std::move(refused_);
      refused_.clear();
      if (PQtransactionStatus(conn_) != PQTRANS_IDLE) Run("ROLLBACK");
      throw Error("The transaction was rolled back and cannot be committed: " + reason);
    }
    if (PQtransactionStatus(conn_) == PQTRANS_IDLE) return;  // the script already ended it
    const std::string reason = failure_;
    const std::string tag = Run("COMMIT");
    // The server answers COMMIT of a failed transaction with ROLLBACK: nothing was kept.
    if (tag == "ROLLBACK")
      throw Error("The transaction was rolled back by the server and cannot be committed" +
                  (reason.empty() ? std::string() : ": " + reason));
  }

  std::string Engine() const override { return "POSTGRESQL"; }

  void RollbackTrans() override {
    ours_ = false;
    // Outcomes no longer matter, nor should a long statement still in flight be waited for.
    pipeline_.Abandon(cancel_);
    refused_.clear();
    CheckAlive();
    if (PQtransactionStatus(conn_) == PQTRANS_IDLE) return;
    Run("ROLLBACK");
  }

  void Execute(std::string_view text, int, std::int64_t number) override {
    if (!NeedsEngine(text)) return;
    // A rehearsal counts each batch's rows, which only the unpipelined path reads.
    if (options_.pipeline && ours_ && !rehearsing_ && Pipelinable(text) && Pipelined(text, number))
      return;
    Drain();
    Resume();
    if (rehearsing_)
      if (const auto end = PostgresTransactionEnd(text))
        throw TransactionEndRefused({*end, BatchPlace::Kind::Statement});
    const std::string batch(text);
    try {
      Run(batch);
    } catch (const Error& error) {
      if (prepared_ > 0) EndPrepared(batch, error.Description());
      throw;
    }
    if (prepared_ > 0) EndPrepared(batch, "");
    KeepEncoding();
    Resume();
  }

  std::string Engine() override { return "PostgreSQL"; }

  std::string DatabaseKey() override {
    auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
    return "postgresql:" + text(PQhost(conn_)) + ":" + text(PQport(conn_)) + "/" +
           text(PQdb(conn_));
  }

  void ForbidCommit() override { rehearsing_ = true; }

  void CheckAsCommitWould() override {
    CheckAlive();
    if (!refused_.empty())
      throw Error("The transaction was rolled back and cannot be committed: " + refused_);
    if (PQtransactionStatus(conn_) == PQTRANS_INERROR)
      throw Error("The transaction was rolled back by the server and cannot be committed" +
                  (failure_.empty() ? std::string() : ": " + failure_));
    Run("SET CONSTRAINTS ALL IMMEDIATE");
  }

  std::optional<int64_t> RowsChanged() override { return rows_; }

 private:
  // A prepared transaction keeps its locks until someone ends it, and the next batch may
  // wait on them for ever: the batch fails, and what it prepared is rolled back here (the
  // entity's own rollback can no longer reach it). The identifiers are the batch's first
  // PREPARE TRANSACTION statements, as many as the server prepared.
  [[noreturn]] void EndPrepared(const std::string& batch, const std::string& batchError) {
    const auto count = static_cast<std::size_t>(std::exchange(prepared_, 0));
    std::vector<std::string> ids = PreparedTransactionIds(batch);
    if (ids.size() > count) ids.resize(count);
    throw RefusePreparedTransactions(ids, count - ids.size(),
                                     [&](const std::string& sql) { Run(sql); }, batchError);
  }

  // A batch that ended our transaction itself (COMMIT, ROLLBACK, END) leaves what follows
  // inside a new one, all-or-nothing up to the caller's commit.
  void Resume() {
    CheckAlive();
    if (!ours_ || PQtransactionStatus(conn_) != PQTRANS_IDLE) return;
    try {
      Run("BEGIN");
    } catch (const Error& error) {
      throw Error(std::string("The script ended the transaction and a new one could not be "
                              "begun: ") + error.Description());
    }
  }

  // Text goes out and comes back as UTF-8; under any other client encoding the server
  // would store it misread, so a batch that changes it fails and nothing of it is kept.
  void KeepEncoding() {
    const char* now = PQparameterStatus(conn_, "client_encoding");
    if (now != nullptr && std::string_view(now) == "UTF8") return;
    throw EncodingChanged(now != nullptr ? now : "an unknown one");
  }

  Error EncodingChanged(const std::string& now) {
    Error error("The batch changed the session's client_encoding from UTF8 to " + now +
                "; the program always sends UTF-8 text, so the batch cannot be kept");
    refused_ = error.Description();
    return error;
  }

  // Sends a plain statement in pipeline mode, inside the open transaction; false when it
  // must run alone after all (the transaction is not open).
  bool Pipelined(std::string_view text, std::int64_t batch) {
    if (!pipeline_.Active()) {
      Resume();
      if (PQtransactionStatus(conn_) != PQTRANS_INTRANS) return false;
    } else {
      CheckAlive();
    }
    auto failure = interruptible_->Call([&] { return pipeline_.Send(text, batch); });
    if (failure) Raise(*failure);
    return true;
  }

 public:
  void Drain() override {
    if (!pipeline_.Active()) return;
    auto failure = interruptible_->Call([&] { return pipeline_.Finish(); });
    if (failure) Raise(*failure);
  }

 private:
  // A pipelined batch's failure, as Run would have raised it, naming the batch.
  [[noreturn]] void Raise(const PgPipeline::Failure& failure) {
    if (!failure.encoding.empty())
      Fail(BatchError(EncodingChanged(failure.encoding), {}, failure.batch));
    std::string position;
    if (failure.result) {
      if (const char* p = PQresultErrorField(failure.result.get(), PG_DIAG_STATEMENT_POSITION))
        position = p;
    }
    Fail(BatchError(ResultError(failure.result.get()), PlaceOf(failure.text, position, 0),
                    failure.batch));
  }

  void CheckAlive() {
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string text = "The connection to the PostgreSQL server was lost";
      if (!lost_.empty()) text += ": " + lost_;
      throw Error(text);
    }
  }

  // Sends the whole text as one query and reads every result it gives, so that an error
  // of any statement is seen. Returns the command tag of the last result.
  std::string Run(const std::string& text) {
    CheckAlive();
    return interruptible_->Call([&] { return RunNow(text); });
  }

  std::string RunNow(const std::string& text) {
    prepared_ = 0;
    if (PQsendQuery(conn_, text.c_str()) == 0) Fail(PostgresError(conn_, nullptr, secrets_));
    std::string tag;
    std::optional<Error> first;
    std::size_t done = 0;  // statements that returned their result before the first error
    std::string position;  // the server's, "" when it sent none
    while (Result result{PQgetResult(conn_)}) {
      switch (PQresultStatus(result.get())) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_SINGLE_TUPLE:
        case PGRES_EMPTY_QUERY:
          tag = PQcmdStatus(result.get());
          if (Changes(tag)) rows_ += std::strtoll(PQcmdTuples(result.get()), nullptr, 10);
          if (!first) ++done;
          if (tag == "PREPARE TRANSACTION") ++prepared_;
          break;
        case PGRES_COPY_IN:
          PQputCopyEnd(conn_, "COPY FROM STDIN is not supported");
          if (!first) first = Error("COPY FROM STDIN is not supported in a script");
          break;
        case PGRES_COPY_OUT: {
          char* row = nullptr;
          while (PQgetCopyData(conn_, &row, 0) > 0) PQfreemem(row);
          break;
        }
        default:
          if (!first) {
            first = ResultError(result.get());
            if (const char* p = PQresultErrorField(result.get(), PG_DIAG_STATEMENT_POSITION))
              position = p;
          }
          break;
      }
    }
    if (first) Fail(BatchError(*first, PlaceOf(text, position, done)));
    return tag;
  }

  // A failed result's error (or the connection's, without one) as the program words it.
  Error ResultError(const PGresult* result) const {
    Error error = PostgresError(conn_, result, secrets_);
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (state != nullptr && std::string_view(state) == "55P03")
      return Error(error.Description() + std::string(kLockNotGranted));
    return error;
  }

  // The server's position (1-based, in characters) when it sent one; otherwise the
  // statement after the `done` that returned a result, when the text's statements are sure.
  BatchPlace PlaceOf(std::string_view text, const std::string& position, std::size_t done) const {
    if (!position.empty()) {
      std::size_t chars = std::strtoull(position.c_str(), nullptr, 10);
      if (chars > 0) {
        std::size_t at = 0;
        for (; at < text.size(); ++at)
          if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && --chars == 0) break;
        return {at, BatchPlace::Kind::Exact};
      }
    }
    if (PQstatus(conn_) != CONNECTION_OK) return {};
    const auto starts = StatementStarts(text);
    if (!starts || done >= starts->size()) return {};
    return {(*starts)[done], BatchPlace::Kind::Statement};
  }

  template <class E>
  [[noreturn]] void Fail(E error) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      if (lost_.empty()) lost_ = error.Description();
    } else if (PQtransactionStatus(conn_) == PQTRANS_INERROR) {
      failure_ = error.Description();
    }
    throw error;
  }

  PGconn* conn_;
  PGcancel* cancel_;  // thread-safe: the only use of the connection from another thread
  std::unique_ptr<Interruptible> interruptible_ = std::make_unique<Interruptible>([this] {
    char error[256];
    if (cancel_ != nullptr) PQcancel(cancel_, error, sizeof error);
  });
  std::vector<std::string> secrets_;
  PostgresOptions options_;
  PgPipeline pipeline_{conn_};
  std::string lost_;     // why the connection went away
  std::string failure_;  // the error that put the transaction into the failed state
  std::string refused_;  // why the open transaction must not be committed
  bool ours_ = false;    // begun by BeginTrans and not yet ended by the caller
  int prepared_ = 0;     // transactions the last text run prepared (PREPARE TRANSACTION)
  bool rehearsing_ = false;  // nothing may be committed
  int64_t rows_ = 0;         // changed by every statement so far, as the server counts them
};

// libpq's parse errors quote pieces of the string, which may be pieces of a password.
std::string MaskQuoted(const std::string& text) {
  std::string masked;
  std::size_t at = 0;
  for (;;) {
    const auto open = text.find('"', at);
    const auto close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos) break;
    const std::string_view quoted(text.data() + open, close - open + 1);
    masked.append(text, at, open - at).append(quoted == "\"=\"" ? quoted : "\"...\"");
    at = close + 1;
  }
  return masked.append(text, at);
}

// A session whose lock_timeout nothing set (0) gets kLockTimeoutSeconds; one set by the
// string's options, PGOPTIONS, the role or the database stays. False when the server refused.
bool NoLockWaitForEver(PGconn* conn) {
  Result shown{PQexec(conn, "SHOW lock_timeout")};
  if (PQresultStatus(shown.get()) != PGRES_TUPLES_OK || PQntuples(shown.get()) != 1) return false;
  if (std::string_view(PQgetvalue(shown.get(), 0, 0)) != "0") return true;
  const std::string set = "SET lock_timeout = '" + std::to_string(kLockTimeoutSeconds) + "s'";
  Result done{PQexec(conn, set.c_str())};
  return PQresultStatus(done.get()) == PGRES_COMMAND_OK;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> PostgresConnectOptions(
    const std::string& conninfo) {
  // libpq expands a dbname that is a connection string; what it holds overrides the
  // keywords before it.
  return {{"connect_timeout", std::to_string(kConnectTimeoutSeconds)}, {"dbname", conninfo}};
}

ConnectionPtr OpenPostgres(const std::string& conninfo, PostgresOptions settings) {
  char* parseError = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &parseError);
  if (parsed == nullptr) {
    std::string text = parseError != nullptr ? parseError : "out of memory";
    if (parseError != nullptr) PQfreemem(parseError);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    throw Error("Invalid PostgreSQL connection string: " +
                BlankConnection(MaskQuoted(text), conninfo));
  }
  PQconninfoFree(parsed);
  std::vector<std::string> secrets = ConnectionSecrets(conninfo);

  const auto options = PostgresConnectOptions(conninfo);
  std::vector<const char*> keywords, values;
  for (const auto& [keyword, value] : options) {
    keywords.push_back(keyword.c_str());
    values.push_back(value.c_str());
  }
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* conn = PQconnectdbParams(keywords.data(), values.data(), 1);
  if (conn == nullptr) throw Error("out of memory opening a PostgreSQL connection");
  // libpq's default prints notices and warnings raw on stderr: the program shows only its
  // own texts, and a batch's outcome is its error, never its notices.
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  if (PQstatus(conn) != CONNECTION_OK) {
    Error error = PostgresError(conn, nullptr, secrets);
    PQfinish(conn);
    throw error;
  }
  // Text inside the program is UTF-8.
  if (PQsetClientEncoding(conn, "UTF8") != 0) {
    Error error = PostgresError(conn, nullptr, secrets);
    PQfinish(conn);
    throw error;
  }
  if (!NoLockWaitForEver(conn)) {
    Error error = PostgresError(conn, nullptr, secrets);
    PQfinish(conn);
    throw error;
  }
  return std::make_shared<PostgresConnection>(conn, std::move(secrets), settings);
}

}  // namespace vandrel::ado
