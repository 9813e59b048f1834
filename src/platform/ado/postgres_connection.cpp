#include <libpq-fe.h>

#include <memory>
#include <optional>

#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
#include "platform/ado/interruption.h"

namespace vandrel::ado {

namespace {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

class PostgresConnection final : public Connection {
 public:
  PostgresConnection(PGconn* conn, std::vector<std::string> secrets)
      : conn_(conn), cancel_(PQgetCancel(conn)), secrets_(std::move(secrets)) {}

  // Never commits: an open transaction is rolled back (closing alone would do the same at
  // the server, but not until it notices).
  ~PostgresConnection() override {
    if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE)
      PQclear(PQexec(conn_, "ROLLBACK"));
    interruptible_.reset();
    if (cancel_ != nullptr) PQfreeCancel(cancel_);
    PQfinish(conn_);
  }

  int BeginTrans() override {
    refused_.clear();
    Run("BEGIN");
    ours_ = true;
    return 1;
  }

  void CommitTrans() override {
    ours_ = false;
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
    refused_.clear();
    CheckAlive();
    if (PQtransactionStatus(conn_) == PQTRANS_IDLE) return;
    Run("ROLLBACK");
  }

  void Execute(std::string_view text, int) override {
    if (!NeedsEngine(text)) return;
    Resume();
    Run(std::string(text));
    KeepEncoding();
    Resume();
  }

 private:
  // A batch that ended our transaction itself (COMMIT, ROLLBACK, PREPARE TRANSACTION)
  // leaves what follows inside a new one, all-or-nothing up to the caller's commit.
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
    Error error("The batch changed the session's client_encoding from UTF8 to " +
                std::string(now != nullptr ? now : "an unknown one") +
                "; the program always sends UTF-8 text, so the batch cannot be kept");
    refused_ = error.Description();
    throw error;
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
    if (PQsendQuery(conn_, text.c_str()) == 0) Fail(PostgresError(conn_, nullptr, secrets_));
    std::string tag;
    std::optional<Error> first;
    while (Result result{PQgetResult(conn_)}) {
      switch (PQresultStatus(result.get())) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_SINGLE_TUPLE:
        case PGRES_EMPTY_QUERY:
          tag = PQcmdStatus(result.get());
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
          if (!first) first = PostgresError(conn_, result.get(), secrets_);
          break;
      }
    }
    if (first) Fail(std::move(*first));
    return tag;
  }

  [[noreturn]] void Fail(Error error) {
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
  std::string lost_;     // why the connection went away
  std::string failure_;  // the error that put the transaction into the failed state
  std::string refused_;  // why the open transaction must not be committed
  bool ours_ = false;    // begun by BeginTrans and not yet ended by the caller
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

}  // namespace

std::vector<std::pair<std::string, std::string>> PostgresConnectOptions(
    const std::string& conninfo) {
  // libpq expands a dbname that is a connection string; what it holds overrides the
  // keywords before it.
  return {{"connect_timeout", std::to_string(kConnectTimeoutSeconds)}, {"dbname", conninfo}};
}

ConnectionPtr OpenPostgres(const std::string& conninfo) {
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
  return std::make_shared<PostgresConnection>(conn, std::move(secrets));
}

}  // namespace vandrel::ado
