// Where in a batch's text the engine found its failure, carried by the failure itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/error.h"

namespace vandrel::ado {

struct BatchPlace {
  enum class Kind {
    Batch,      // only the batch is known: its start
    Statement,  // the failing statement's first token
    Exact,      // the token the engine named
  };
  std::size_t offset = 0;  // bytes into the text given to Execute
  Kind kind = Kind::Batch;
  bool operator==(const BatchPlace&) const = default;
};

// A failure of Execute with its place in the batch. Drivers raise it for every failure of
// the batch's own text; what they raise otherwise (a lost connection before anything was
// sent) is a plain Error, whose place is the batch's start. A failure found after the call
// that handed the batch over (pipelining) names it: Batch() is the number given to
// Execute with it; nothing means the batch of the call that raised it.
class BatchError : public Error {
 public:
  BatchError(const Error& error, BatchPlace place, std::optional<std::int64_t> batch = {})
      : Error(error), place_(place), batch_(batch) {}
  const BatchPlace& Place() const noexcept { return place_; }
  const std::optional<std::int64_t>& Batch() const noexcept { return batch_; }

 private:
  BatchPlace place_;
  std::optional<std::int64_t> batch_;
};

}  // namespace vandrel::ado
