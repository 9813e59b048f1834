#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "support/recording.h"

#include "platform/ado/connection.h"
#include "platform/automation/object.h"
#include "platform/error.h"

namespace vandrel::automation {
namespace {

using vandrel::testing::ErrorOf;

struct Plain : Object {};

// Each failure names what failed. (A factory that gives nothing, and a property read that
// may only be assigned, are the connection and manager tests'.)
TEST(Automation, FailuresNameWhatFailed) {
  RegisterClass("Test.Plain", [] { return std::make_shared<Plain>(); });
  RegisterClass("Test.Throws", []() -> ObjectPtr { throw Error("no licence"); });
  const ObjectPtr plain = CreateObject("Test.Plain");
  EXPECT_NE(std::dynamic_pointer_cast<Plain>(plain), nullptr);
  EXPECT_TRUE(SameName("commandtype", "CommandType"));
  EXPECT_FALSE(SameName("commandtypes", "CommandType"));
  Args none;
  const std::pair<std::function<void()>, const char*> rows[] = {
      {[] { CreateObject("test.plain"); }, "ActiveX component can't create object: test.plain is not registered"},
      {[] { CreateObject("Test.Throws"); }, "ActiveX component can't create object: Test.Throws: no licence"},
      {[&] { QueryInterface<ado::Connection>(plain, "Connection"); }, "Object doesn't support this interface: Connection"},
      {[] { QueryInterface<ado::Connection>(nullptr, "Connection"); }, "Object doesn't support this interface: Connection"},
      {[&] { plain->Invoke("Exec", InvokeKind::Method, none); }, "Object doesn't support this property or method: Exec"},
      {[] { Variant(ObjectPtr()).Text(); }, "Type mismatch"},
      {[] { Variant(ObjectPtr()).AsObject(); }, "Object required"},
      {[] { Variant("x").AsObject(); }, "Object required"},
      {[] { TextArg("getDataConnectionTAG", Args{Variant()}, 0); },
       "Type mismatch: the first argument of getDataConnectionTAG must be text"},
      {[] { CheckArgCount("CommandType", Args{Variant("1")}, 0, 0); },
       "Wrong number of arguments: CommandType takes 0, got 1"},
      {[] { CheckKind("LoadParameters", MemberKind::Method, InvokeKind::PropertyPut); },
       "Invalid property assignment: LoadParameters cannot be assigned"},
      {[] { CheckKind("CommandType", MemberKind::Readable, InvokeKind::Method); },
       "Invalid use of property: CommandType is a property, not a method"},
  };
  for (const auto& [fail, says] : rows) EXPECT_EQ(ErrorOf(fail), says);
}

}  // namespace
}  // namespace vandrel::automation
