#include "platform/error.h"

#include <cstring>
#include <new>
#include <system_error>

namespace vandrel {

Error Overflow() { return Error("Overflow"); }
Error SubscriptOutOfRange() { return Error("Subscript out of range"); }
Error InvalidPropertyValue() { return Error("Invalid property value"); }
Error InvalidProcedureCall() { return Error("Invalid procedure call or argument"); }

std::string Describe(const std::exception& e) noexcept {
  try {
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return "Out of memory";
    if (dynamic_cast<const std::length_error*>(&e) != nullptr) return "Out of memory";
    if (dynamic_cast<const std::out_of_range*>(&e) != nullptr) return "Subscript out of range";
    return e.what();
  } catch (...) {
    return {};
  }
}

Error SystemError(const std::string& what, int errnum) {
  return Error(what + ": " + std::generic_category().message(errnum));
}

}  // namespace vandrel
