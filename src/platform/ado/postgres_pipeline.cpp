#include "platform/ado/postgres_pipeline.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace vandrel::ado {

std::optional<PgPipeline::Failure> PgPipeline::Send(std::string_view text, std::int64_t batch) {
  if (!active_) {
    if (PQenterPipelineMode(conn_) == 0 || PQsetnonblocking(conn_, 1) != 0)
      return Failure{batch, std::string(text), nullptr, {}};
    active_ = true;
  }
  pending_.push_back({batch, std::string(text), nullptr});
  bytes_ += text.size();
  // The extended protocol, as pipeline mode requires; the text as it is, no parameters.
  if (PQsendQueryParams(conn_, pending_.back().text.c_str(), 0, nullptr, nullptr, nullptr,
                        nullptr, 0) == 0 ||
      PQpipelineSync(conn_) == 0) {
    Lost();
  } else {
    Pump(false);
  }
  if (failure_) return End();
  return std::nullopt;
}

std::optional<PgPipeline::Failure> PgPipeline::Finish() {
  if (!active_) return std::nullopt;
  return End();
}

void PgPipeline::Abandon(PGcancel* cancel) noexcept {
  if (!active_) return;
  // A cancel that reaches the server between two statements is lost: ask again.
  for (int waitMs = 0; !pending_.empty() && PQstatus(conn_) == CONNECTION_OK; waitMs = 200) {
    if (Pump(true, waitMs)) break;
    char error[256];
    if (cancel != nullptr) PQcancel(cancel, error, sizeof error);
  }
  End();
}

bool PgPipeline::Pump(bool all, int waitMs) {
  for (;;) {
    const int unsent = PQflush(conn_);
    if (unsent < 0) {
      Lost();
      return true;
    }
    if (PQconsumeInput(conn_) == 0) {
      ReadReady();
      Lost();
      return true;
    }
    ReadReady();
    const bool waiting =
        all ? !pending_.empty() : pending_.size() > kMaxBatches || bytes_ > kMaxBytes;
    if (!waiting) return true;
    // Both directions at once: the server may stop reading until its results are read.
    pollfd fd{PQsocket(conn_), static_cast<short>(POLLIN | (unsent != 0 ? POLLOUT : 0)), 0};
    const int ready = poll(&fd, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
      Lost();
      return true;
    }
    if (ready == 0) return false;
  }
}

void PgPipeline::ReadReady() {
  int ends = 0;  // results of no batch in a row: nothing more is ready
  while (!pending_.empty() && PQisBusy(conn_) == 0 && ends < 2) {
    PGresult* raw = PQgetResult(conn_);
    if (raw == nullptr) {
      ++ends;  // the end of a batch's results; its synchronisation point follows
      continue;
    }
    ends = 0;
    std::shared_ptr<PGresult> result(raw, PQclear);
    Pending& head = pending_.front();
    switch (PQresultStatus(raw)) {
      case PGRES_PIPELINE_SYNC: {
        if (!failure_ && head.error) {
          failure_ = Failure{head.batch, std::move(head.text), std::move(head.error), {}};
        } else if (!failure_) {
          const char* now = PQparameterStatus(conn_, "client_encoding");
          if (now == nullptr || std::string_view(now) != "UTF8")
            failure_ = Failure{head.batch, std::move(head.text), nullptr,
                               now != nullptr ? now : "an unknown one"};
        }
        bytes_ -= std::min(bytes_, head.text.size());
        pending_.pop_front();
        break;
      }
      case PGRES_FATAL_ERROR:
        if (!head.error) head.error = std::move(result);
        break;
      default:  // rows, which are discarded, and the statements' own completions
        break;
    }
    if (PQstatus(conn_) != CONNECTION_OK) return Lost();
  }
}

// The connection failed: the oldest outstanding batch is the one it failed under.
void PgPipeline::Lost() {
  if (!failure_ && !pending_.empty()) {
    Pending& head = pending_.front();
    failure_ = Failure{head.batch, std::move(head.text), std::move(head.error), {}};
  }
  pending_.clear();
  bytes_ = 0;
}

std::optional<PgPipeline::Failure> PgPipeline::End() {
  if (active_ && PQstatus(conn_) == CONNECTION_OK) {
    Pump(true);
    while (PQstatus(conn_) == CONNECTION_OK && PQisBusy(conn_) == 0) {
      PGresult* rest = PQgetResult(conn_);
      if (rest == nullptr) break;
      PQclear(rest);
    }
    PQexitPipelineMode(conn_);
    PQsetnonblocking(conn_, 0);
  }
  active_ = false;
  pending_.clear();
  bytes_ = 0;
  return std::exchange(failure_, std::nullopt);
}

}  // namespace vandrel::ado
