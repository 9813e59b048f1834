// The error trap and line labels shared by the update routines.
//
//   return Trapped(
//       [&](LineLabel& line) { line = 10; ...; line = 20; ...; return true; },
//       [&](const TrappedError& e) { ...report e.description at e.line...; return false; });
//
// The body records the label of each step as it starts. Any exception raised in it becomes
// a TrappedError holding its description and the label current at that moment, handed to
// the handler, which runs with the trap disarmed: what the handler raises leaves the
// routine. ProgramEnd passes through untouched.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "platform/error.h"
#include "shell/program_end.h"

namespace vandrel {

class LineLabel {
 public:
  LineLabel& operator=(int32_t label) {
    current_ = label;
    return *this;
  }
  int32_t current() const { return current_; }

 private:
  int32_t current_ = 0;
};

struct TrappedError {
  std::string description;
  int32_t line;
};

template <class Body, class Handler>
auto Trapped(Body&& body, Handler&& handler) {
  LineLabel line;
  std::string description;
  try {
    return std::forward<Body>(body)(line);
  } catch (const ProgramEnd&) {
    throw;
  } catch (const std::exception& e) {
    description = Describe(e);
  } catch (...) {
    description = "Unknown error";
  }
  return std::forward<Handler>(handler)(TrappedError{std::move(description), line.current()});
}

}  // namespace vandrel
