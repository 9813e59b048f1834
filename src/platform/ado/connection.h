// The database layer: a connection with transactions and text execution, and a command
// bound to a connection. Drivers: SQLite, PostgreSQL and ODBC.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/automation/object.h"

namespace vandrel::ado {

constexpr int adCmdText = 1;
constexpr int adOptionUnspecified = -1;

class Connection : public automation::Object {
 public:
  // Opens a transaction; returns the nesting level (1). Throws Error with the engine's text.
  virtual int BeginTrans() = 0;
  // Commits the open transaction. Succeeds doing nothing when none is open at the engine;
  // throws when the engine rolled it back instead.
  virtual void CommitTrans() = 0;
  // Rolls back the open transaction; succeeds doing nothing when none is open.
  virtual void RollbackTrans() = 0;
  // Runs every statement of `text` in order; rows that come back are discarded. Throws
  // Error with the engine's text when any statement fails. A text of blanks and line ends
  // only succeeds without reaching the engine; an embedded NUL is refused.
  // A driver that pipelines may return once the text is sent, before its outcome is known:
  // a failure then surfaces in a later Execute, in Drain or in CommitTrans, as a BatchError
  // whose Batch() is the `batch` given here with the text that failed. Nothing handed over
  // after a failing batch runs.
  virtual void Execute(std::string_view text, int options = adOptionUnspecified,
                       std::int64_t batch = 0) = 0;
  // Returns once every batch handed to Execute has run; throws the failure of the first
  // one that failed. Drivers that do not pipeline return at once.
  virtual void Drain() = 0;
  // The engine at the other end, as a Tag names it ("SQLITE", "POSTGRESQL"); "" when it is
  // neither or unknown.
  virtual std::string Engine() const { return ""; }
};
using ConnectionPtr = std::shared_ptr<Connection>;

struct Command {
  ConnectionPtr ActiveConnection;
  int CommandType = 0;
};
using CommandPtr = std::shared_ptr<Command>;

}  // namespace vandrel::ado
