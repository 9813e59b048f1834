// Where in a batch's text the engine found its failure, carried by the failure itself.
#pragma once

#include <cstddef>
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
// sent) is a plain Error, whose place is the batch's start.
class BatchError : public Error {
 public:
  BatchError(const Error& error, BatchPlace place) : Error(error), place_(place) {}
  const BatchPlace& Place() const noexcept { return place_; }

 private:
  BatchPlace place_;
};

}  // namespace vandrel::ado
