// What a rehearsal asks of a connection beyond what the updater asks: which engine and
// database it reaches, a guard that lets no transaction end, the checks a commit would make,
// and the rows the engine says were changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ado/batch_place.h"

namespace vandrel::ado {

// The text with which a batch that would end the transaction is refused.
inline constexpr const char* kTransactionEndRefused =
    "el lote termina la transacción: el ensayo no puede seguir sin confirmar";

// A batch refused, or stopped by the engine, because it would end the open transaction.
// Its place is the statement that ends it.
class TransactionEndRefused : public BatchError {
 public:
  explicit TransactionEndRefused(BatchPlace place)
      : BatchError(Error(kTransactionEndRefused), place) {}
};

class Rehearsable {
 public:
  virtual ~Rehearsable() = default;

  // The engine's name: "SQLite", "PostgreSQL", or the DBMS name an ODBC driver reports
  // followed by " (ODBC)".
  virtual std::string Engine() = 0;
  // Equal for two connections to the same database: SQLite the same file (device and
  // inode), PostgreSQL the same host, port and database as libpq reports them once
  // connected, ODBC the same connection string. Never shown: it may hold a password.
  virtual std::string DatabaseKey() = 0;

  // From now until the connection is released nothing is committed: a batch that would end
  // the transaction fails with TransactionEndRefused (refused before it runs, or stopped by
  // the engine), and CommitTrans throws. A script's rollback is no end: the driver begins
  // again, as it always does.
  virtual void ForbidCommit() = 0;

  // What a commit would check, checked without ending the transaction (deferred
  // constraints, the session's client encoding, a transaction the engine already failed).
  // Throws Error with what the commit would have said.
  virtual void CheckAsCommitWould() = 0;

  // The rows changed so far on this connection, as the engine counts them; nothing when it
  // does not say.
  virtual std::optional<int64_t> RowsChanged() = 0;
};

// PostgreSQL text: the first statement that would end the open transaction (COMMIT, END,
// PREPARE TRANSACTION, COMMIT AND CHAIN), or that would run after a ROLLBACK outside any
// transaction and so commit by itself; the offset of its first token. When the statements'
// boundaries are not sure, the first word COMMIT, END or PREPARE outside comments and strings.
std::optional<std::size_t> PostgresTransactionEnd(std::string_view text);

// Any dialect: the first word COMMIT outside comments and strings (read with and without
// backslash escapes; `dollarQuotes` reads PostgreSQL's $tag$ quoting).
std::optional<std::size_t> CommitWord(std::string_view text, bool dollarQuotes);

}  // namespace vandrel::ado
