// Errors raised by the program's operations. Each carries a description a person can act
// on; the routines' error traps turn any exception into such a description.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace vandrel {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& description) : std::runtime_error(description) {}
  const char* Description() const noexcept { return what(); }
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
