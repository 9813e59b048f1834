#include "platform/automation/object.h"

#include <map>
#include <mutex>

#include "platform/error.h"

namespace vandrel::automation {

const std::string& Variant::Text() const {
  if (const auto* s = std::get_if<std::string>(&v_)) return *s;
  throw Error("Type mismatch");
}

const ObjectPtr& Variant::AsObject() const {
  if (const auto* o = std::get_if<ObjectPtr>(&v_); o != nullptr && *o) return *o;
  throw Error("Object required");
}

namespace {

std::map<std::string, Factory>& Registry() {
  static auto* registry = new std::map<std::string, Factory>;
  return *registry;
}

}  // namespace

void RegisterClass(const std::string& progid, Factory factory) {
  Registry()[progid] = std::move(factory);
}

ObjectPtr CreateObject(const std::string& progid) {
  auto it = Registry().find(progid);
  if (it == Registry().end())
    throw Error("ActiveX component can't create object: " + progid);
  ObjectPtr object = it->second();
  if (!object) throw Error("ActiveX component can't create object: " + progid);
  return object;
}

void ThrowNoInterface(const char* interfaceName) {
  throw Error(std::string("Object doesn't support this interface: ") + interfaceName);
}

}  // namespace vandrel::automation
