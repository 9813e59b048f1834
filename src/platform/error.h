// Errors raised by the program's operations. Each carries a description a person can act
// on; the routines' error traps turn any exception into such a description.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace vandrel {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& description) : std::runtime_error(description) {}
  const char* Description() const noexcept { return what(); }
};

// A failure at a place in a text, which callers that show where (FILE:LINE) take from the
// fields: `offset` in bytes from the start of the text, `line` as an editor counts lines
// (CR LF, CR or LF ends one), 0 when the thrower does not know it.
class TextError : public Error {
 public:
  TextError(const std::string& description, std::uint64_t offset_, std::uint64_t line_)
      : Error(description), offset(offset_), line(line_) {}
  std::uint64_t offset;
  std::uint64_t line;
};

// The runtime's own failures, with the texts users of the program know.
Error Overflow();
Error SubscriptOutOfRange();
Error InvalidPropertyValue();
Error InvalidProcedureCall();

// The description of an exception: its message, or the runtime's text for memory and
// system failures. Never throws.
std::string Describe(const std::exception& e) noexcept;

// `errno` as a description that names what failed: "<what>: <strerror>".
Error SystemError(const std::string& what, int errnum);

}  // namespace vandrel
