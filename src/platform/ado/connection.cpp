#include "platform/ado/connection.h"

#include "platform/error.h"

namespace vandrel::ado {

automation::Variant Connection::Invoke(const std::string& name, automation::InvokeKind,
                                       automation::Args&) {
  throw Error("Object doesn't support this property or method: " + name);
}

automation::Variant Command::Invoke(const std::string& name, automation::InvokeKind,
                                    automation::Args&) {
  throw Error("Object doesn't support this property or method: " + name);
}

}  // namespace vandrel::ado
