// Batches sent to a PostgreSQL server in libpq's pipeline mode: each one goes out without
// waiting for the results of those before it, with a synchronisation point of its own, so
// that its outcome and the session's state after it are known batch by batch.
#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vandrel::ado {

class PgPipeline {
 public:
  // What ended a batch that failed. Every batch handed over after it was read and
  // discarded, and pipeline mode was left.
  struct Failure {
    std::int64_t batch = 0;
    std::string text;
    std::shared_ptr<PGresult> result;  // the server's error; null when the connection failed
    std::string encoding;              // the client_encoding the batch left, when not UTF8
  };

  // Outstanding at most: a batch beyond either bound waits for the oldest results.
  static constexpr std::size_t kMaxBatches = 1000;
  static constexpr std::size_t kMaxBytes = std::size_t{4} << 20;

  explicit PgPipeline(PGconn* conn) : conn_(conn) {}
  PgPipeline(const PgPipeline&) = delete;
  PgPipeline& operator=(const PgPipeline&) = delete;

  // In pipeline mode: some batch may still be outstanding.
  bool Active() const noexcept { return active_; }

  // REQUIRES: a transaction block is open and `text` is one plain statement (Pipelinable).
  // Sends `text` as batch `batch`, entering pipeline mode when needed, and reads whatever
  // results have come; returns the first failure found among the batches sent.
  std::optional<Failure> Send(std::string_view text, std::int64_t batch);

  // Reads every outstanding result and leaves pipeline mode; returns the first failure.
  std::optional<Failure> Finish();

  // Finishes without caring for outcomes, asking the server with `cancel` (when not null)
  // to stop what it runs, again while results keep it waiting.
  void Abandon(PGcancel* cancel) noexcept;

 private:
  struct Pending {
    std::int64_t batch;
    std::string text;
    std::shared_ptr<PGresult> error;
  };

  // Sends and reads until `all` outstanding results are in, or the bounds hold again.
  // `waitMs` bounds each wait for the socket (-1: none); returns false when one ran out.
  bool Pump(bool all, int waitMs = -1);
  void ReadReady();
  void Lost();
  std::optional<Failure> End();

  PGconn* conn_;
  bool active_ = false;
  std::deque<Pending> pending_;
  std::size_t bytes_ = 0;  // of the outstanding batches' texts
  std::optional<Failure> failure_;
};

}  // namespace vandrel::ado
