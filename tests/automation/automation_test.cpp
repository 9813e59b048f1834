#include <gtest/gtest.h>

#include "support/recording.h"

#include "platform/ado/connection.h"
#include "platform/automation/object.h"
#include "platform/error.h"

namespace vandrel::automation {
namespace {

using vandrel::testing::ErrorOf;

struct Plain : Object {};

TEST(Registry, CreatesRegisteredClassesAndNamesWhatFails) {
  RegisterClass("Test.Plain", [] { return std::make_shared<Plain>(); });
  EXPECT_NE(std::dynamic_pointer_cast<Plain>(CreateObject("Test.Plain")), nullptr);
  // Identifiers match exactly.
  EXPECT_EQ(ErrorOf([] { CreateObject("test.plain"); }),
            "ActiveX component can't create object: test.plain is not registered");

  RegisterClass("Test.Null", [] { return ObjectPtr(); });
  EXPECT_EQ(ErrorOf([] { CreateObject("Test.Null"); }),
            "ActiveX component can't create object: Test.Null");
  RegisterClass("Test.Throws", []() -> ObjectPtr { throw Error("no licence"); });
  EXPECT_EQ(ErrorOf([] { CreateObject("Test.Throws"); }),
            "ActiveX component can't create object: Test.Throws: no licence");

  const ObjectPtr plain = CreateObject("Test.Plain");
  EXPECT_EQ(ErrorOf([&] { QueryInterface<ado::Connection>(plain, "Connection"); }),
            "Object doesn't support this interface: Connection");
  EXPECT_EQ(ErrorOf([] { QueryInterface<ado::Connection>(nullptr, "Connection"); }),
            "Object doesn't support this interface: Connection");
}

TEST(Invoke, MembersByNameWithClearErrors) {
  Plain plain;
  Args none;
  EXPECT_EQ(ErrorOf([&] { plain.Invoke("Exec", InvokeKind::Method, none); }),
            "Object doesn't support this property or method: Exec");
  EXPECT_TRUE(SameName("commandtype", "CommandType"));
  EXPECT_FALSE(SameName("commandtypes", "CommandType"));

  EXPECT_EQ(ErrorOf([] { Variant(ObjectPtr()).Text(); }), "Type mismatch");
  EXPECT_EQ(ErrorOf([] { Variant(ObjectPtr()).AsObject(); }), "Object required");
  EXPECT_EQ(ErrorOf([] { Variant("x").AsObject(); }), "Object required");
  EXPECT_EQ(ErrorOf([] { TextArg("getDataConnectionTAG", Args{Variant()}, 0); }),
            "Type mismatch: the first argument of getDataConnectionTAG must be text");
  EXPECT_EQ(ErrorOf([] { CheckArgCount("CommandType", Args{Variant("1")}, 0, 0); }),
            "Wrong number of arguments: CommandType takes 0, got 1");
  EXPECT_EQ(ErrorOf([] { CheckKind("setParametersPath", MemberKind::Writable, InvokeKind::PropertyGet); }),
            "Invalid use of property: setParametersPath can only be assigned, not read");
  EXPECT_EQ(ErrorOf([] { CheckKind("LoadParameters", MemberKind::Method, InvokeKind::PropertyPut); }),
            "Invalid property assignment: LoadParameters cannot be assigned");
  EXPECT_EQ(ErrorOf([] { CheckKind("CommandType", MemberKind::Readable, InvokeKind::Method); }),
            "Invalid use of property: CommandType is a property, not a method");
}

}  // namespace
}  // namespace vandrel::automation
