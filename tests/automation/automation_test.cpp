#include <gtest/gtest.h>

#include "support/recording.h"

#include "platform/ado/connection.h"
#include "platform/automation/object.h"
#include "platform/error.h"

namespace vandrel::automation {
namespace {

using vandrel::testing::ErrorOf;


TEST(Registry, CreatesRegisteredClassesAndNamesWhatFails) {
  RegisterClass("Test.Command", [] { return std::make_shared<ado::Command>(); });
  EXPECT_NE(std::dynamic_pointer_cast<ado::Command>(CreateObject("Test.Command")), nullptr);
  // Identifiers match exactly.
  EXPECT_EQ(ErrorOf([] { CreateObject("test.command"); }),
            "ActiveX component can't create object: test.command is not registered");

  RegisterClass("Test.Null", [] { return ObjectPtr(); });
  EXPECT_EQ(ErrorOf([] { CreateObject("Test.Null"); }),
            "ActiveX component can't create object: Test.Null");
  RegisterClass("Test.Throws", []() -> ObjectPtr { throw Error("no licence"); });
  EXPECT_EQ(ErrorOf([] { CreateObject("Test.Throws"); }),
            "ActiveX component can't create object: Test.Throws: no licence");

  const ObjectPtr command = CreateObject("Test.Command");
  EXPECT_EQ(ErrorOf([&] { QueryInterface<ado::Connection>(command, "Connection"); }),
            "Object doesn't support this interface: Connection");
  EXPECT_EQ(ErrorOf([] { QueryInterface<ado::Connection>(nullptr, "Connection"); }),
            "Object doesn't support this interface: Connection");
}

TEST(Invoke, MembersByNameWithClearErrors) {
  auto command = std::make_shared<ado::Command>();
  Args none;
  Args text{"1"};
  Args number{int32_t{1}};
  EXPECT_EQ(ErrorOf([&] { command->Invoke("Exec", InvokeKind::Method, none); }),
            "Object doesn't support this property or method: Exec");
  EXPECT_EQ(ErrorOf([&] { command->Invoke("CommandType", InvokeKind::Method, none); }),
            "Invalid use of property: CommandType is a property, not a method");
  EXPECT_EQ(ErrorOf([&] { command->Invoke("CommandType", InvokeKind::PropertyPut, text); }),
            "Type mismatch: CommandType must be an integer");
  EXPECT_EQ(ErrorOf([&] { command->Invoke("CommandType", InvokeKind::PropertyGet, number); }),
            "Wrong number of arguments: CommandType takes 0, got 1");
  // The active connection is an object, never a connection string.
  EXPECT_EQ(ErrorOf([&] { command->Invoke("ActiveConnection", InvokeKind::PropertyPut, text); }),
            "Object required");
  Args notAConnection{ObjectPtr(std::make_shared<ado::Command>())};
  EXPECT_EQ(ErrorOf([&] {
              command->Invoke("ActiveConnection", InvokeKind::PropertyPut, notAConnection);
            }),
            "Object doesn't support this interface: Connection");

  // Names ignore letter case, as automation does.
  command->Invoke("commandtype", InvokeKind::PropertyPut, number);
  EXPECT_EQ(command->CommandType, 1);
  EXPECT_EQ(command->Invoke("CommandType", InvokeKind::MethodOrPropertyGet, none).Integer(), 1);
  EXPECT_TRUE(command->Invoke("ActiveConnection", InvokeKind::PropertyGet, none).IsObject());

  EXPECT_EQ(ErrorOf([] { Variant(int32_t{3}).Text(); }), "Type mismatch");
  EXPECT_EQ(ErrorOf([] { Variant(ObjectPtr()).AsObject(); }), "Object required");
  EXPECT_EQ(ErrorOf([] { TextArg("getDataConnectionTAG", Args{Variant(true)}, 0); }),
            "Type mismatch: the first argument of getDataConnectionTAG must be text");
  EXPECT_EQ(ErrorOf([] { CheckKind("setParametersPath", MemberKind::Writable, InvokeKind::PropertyGet); }),
            "Invalid use of property: setParametersPath can only be assigned, not read");
  EXPECT_EQ(ErrorOf([] { CheckKind("LoadParameters", MemberKind::Method, InvokeKind::PropertyPut); }),
            "Invalid property assignment: LoadParameters cannot be assigned");
}

}  // namespace
}  // namespace vandrel::automation
