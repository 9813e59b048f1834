// Late-bound objects: values of a few kinds, members called by name, and objects created
// by programmatic identifier from a registry that component libraries add classes to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vandrel::automation {

class Object;
using ObjectPtr = std::shared_ptr<Object>;

struct Empty {
  bool operator==(const Empty&) const = default;
};

// An automation value: empty, Boolean, integer, double, text or object.
class Variant {
 public:
  Variant() = default;
  Variant(bool b) : v_(b) {}
  Variant(int32_t i) : v_(i) {}
  Variant(double d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ObjectPtr o) : v_(std::move(o)) {}

  bool IsEmpty() const { return std::holds_alternative<Empty>(v_); }
  bool IsText() const { return std::holds_alternative<std::string>(v_); }
  bool IsObject() const { return std::holds_alternative<ObjectPtr>(v_); }

  // Each throws Error ("Type mismatch") when the value is of another kind.
  const std::string& Text() const;
  const ObjectPtr& AsObject() const;

 private:
  std::variant<Empty, bool, int32_t, double, std::string, ObjectPtr> v_;
};

enum class InvokeKind {
  Method,
  PropertyGet,
  PropertyPut,
  MethodOrPropertyGet,  // a call by name that returns a value
};

// Arguments are passed by reference, as automation does; callees may change them.
using Args = std::vector<Variant>;

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  // Calls member `name`. Throws Error for an unknown member, a wrong kind of call or wrong
  // arguments, and for any failure of the member itself.
  virtual Variant Invoke(const std::string& name, InvokeKind kind, Args& args) = 0;
};

using Factory = std::function<ObjectPtr()>;

// Adds a class to the registry; a later registration of the same identifier replaces it.
void RegisterClass(const std::string& progid, Factory factory);

// Creates an object of a registered class. Throws Error for an unknown identifier.
ObjectPtr CreateObject(const std::string& progid);

[[noreturn]] void ThrowNoInterface(const char* interfaceName);

// The object as interface T. Throws Error when it is empty or does not support it.
template <class T>
std::shared_ptr<T> QueryInterface(const ObjectPtr& object, const char* interfaceName) {
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) ThrowNoInterface(interfaceName);
  return typed;
}

}  // namespace vandrel::automation
