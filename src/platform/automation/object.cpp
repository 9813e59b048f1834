#include "platform/automation/object.h"

#include <map>

#include "platform/ascii.h"
#include "platform/error.h"

namespace vandrel::automation {

Variant Object::Invoke(const std::string& name, InvokeKind, Args&) { ThrowUnknownMember(name); }

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

const char* Ordinal(std::size_t index) {
  static const char* const kNames[] = {"first", "second", "third", "fourth", "fifth"};
  return index < 5 ? kNames[index] : "later";
}

}  // namespace

void RegisterClass(const std::string& progid, Factory factory) {
  Registry()[progid] = std::move(factory);
}

ObjectPtr CreateObject(const std::string& progid) {
  auto it = Registry().find(progid);
  if (it == Registry().end())
    throw Error("ActiveX component can't create object: " + progid + " is not registered");
  ObjectPtr object;
  try {
    object = it->second();
  } catch (const std::exception& e) {
    throw Error("ActiveX component can't create object: " + progid + ": " + Describe(e));
  }
  if (!object) throw Error("ActiveX component can't create object: " + progid);
  return object;
}

void ThrowNoInterface(const char* interfaceName) {
  throw Error(std::string("Object doesn't support this interface: ") + interfaceName);
}

bool SameName(std::string_view a, std::string_view b) {
  return platform::SameIgnoringAsciiCase(a, b);
}

void CheckKind(const std::string& name, MemberKind member, InvokeKind kind) {
  bool ok = false;
  switch (member) {
    case MemberKind::Method:
      ok = kind == InvokeKind::Method || kind == InvokeKind::MethodOrPropertyGet;
      break;
    case MemberKind::Readable:
      ok = kind == InvokeKind::PropertyGet || kind == InvokeKind::MethodOrPropertyGet;
      break;
    case MemberKind::Writable:
      ok = kind == InvokeKind::PropertyPut;
      break;
    case MemberKind::Callable:
      ok = kind != InvokeKind::PropertyPut;
      break;
  }
  if (ok) return;
  switch (kind) {
    case InvokeKind::PropertyPut:
      throw Error("Invalid property assignment: " + name + " cannot be assigned");
    case InvokeKind::PropertyGet:
    case InvokeKind::MethodOrPropertyGet:
      throw Error("Invalid use of property: " + name + " can only be assigned, not read");
    case InvokeKind::Method:
      throw Error("Invalid use of property: " + name + " is a property, not a method");
  }
}

void CheckArgCount(const std::string& name, const Args& args, std::size_t min, std::size_t max) {
  if (args.size() >= min && args.size() <= max) return;
  std::string expected = std::to_string(min);
  if (max != min) expected += " to " + std::to_string(max);
  throw Error("Wrong number of arguments: " + name + " takes " + expected + ", got " +
              std::to_string(args.size()));
}

const std::string& TextArg(const std::string& name, const Args& args, std::size_t index) {
  if (index < args.size() && args[index].IsText()) return args[index].Text();
  throw Error(std::string("Type mismatch: the ") + Ordinal(index) + " argument of " + name +
              " must be text");
}

void ThrowUnknownMember(const std::string& name) {
  throw Error("Object doesn't support this property or method: " + name);
}

}  // namespace vandrel::automation
