// Late-bound objects: values of a few kinds, members called by name, and objects created
// by programmatic identifier from a registry that component libraries add classes to.
#pragma once

#include <concepts>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vandrel::automation {

class Object;
using ObjectPtr = std::shared_ptr<Object>;

struct Empty {
  bool operator==(const Empty&) const = default;
};

// An automation value: empty, text or object, the kinds the data-access manager trades in.
class Variant {
 public:
  Variant() = default;
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  template <std::derived_from<Object> T>
  Variant(std::shared_ptr<T> o) : v_(ObjectPtr(std::move(o))) {}

  bool IsText() const { return std::holds_alternative<std::string>(v_); }
  // An object reference, possibly Nothing.
  bool IsObject() const { return std::holds_alternative<ObjectPtr>(v_); }

  // Text throws Error ("Type mismatch") when the value is of another kind; AsObject throws
  // "Object required" for anything but a set object reference.
  const std::string& Text() const;
  const ObjectPtr& AsObject() const;

 private:
  std::variant<Empty, std::string, ObjectPtr> v_;
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
  // arguments, and for any failure of the member itself. An object reached only through
  // its interface (QueryInterface) has no members by name.
  virtual Variant Invoke(const std::string& name, InvokeKind kind, Args& args);
};

using Factory = std::function<ObjectPtr()>;

// Adds a class to the registry; a later registration of the same identifier replaces it.
void RegisterClass(const std::string& progid, Factory factory);

// Creates an object of a registered class. Throws Error for an unknown identifier and when
// the class fails to create its object.
ObjectPtr CreateObject(const std::string& progid);

[[noreturn]] void ThrowNoInterface(const char* interfaceName);

// The object as interface T. Throws Error when it is empty or does not support it.
template <class T>
std::shared_ptr<T> QueryInterface(const ObjectPtr& object, const char* interfaceName) {
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) ThrowNoInterface(interfaceName);
  return typed;
}

// ---- Helpers for implementing Invoke ------------------------------------------------------

// Member names match as automation matches them: ASCII letter case ignored.
bool SameName(std::string_view a, std::string_view b);

// What a member accepts. A method may be called as a method or as "method or property get";
// a readable property as a property get or "method or property get"; `Callable` members
// (a value-returning call that callers may also read as a property) accept all three.
enum class MemberKind { Method, Readable, Writable, Callable };

// Throws Error unless `kind` is a valid way to use a member of `member` kind.
void CheckKind(const std::string& name, MemberKind member, InvokeKind kind);
// Throws Error unless `args` holds between `min` and `max` values.
void CheckArgCount(const std::string& name, const Args& args, std::size_t min, std::size_t max);
// Argument `index` (0-based) as text; throws Error naming the member and position otherwise.
const std::string& TextArg(const std::string& name, const Args& args, std::size_t index);
[[noreturn]] void ThrowUnknownMember(const std::string& name);

}  // namespace vandrel::automation
