#include <gtest/gtest.h>

#include "quillmere/quillmere.h"

namespace vandrel::testing {
namespace {

using automation::InvokeKind;

// The example the package ships is read by the real manager: a line too long, a section
// twice or a stray key would turn the administrator's first configuration into an error.
TEST(ExampleIniTest, EveryEntityHasAConnectionOfTheShownEngine) {
  quillmere::Register();
  const automation::ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
  auto call = [&](const char* member, InvokeKind kind, automation::Args args) {
    return manager->Invoke(member, kind, args);
  };
  call("setParametersPath", InvokeKind::PropertyPut, {std::string(VANDREL_EXAMPLE_INI)});
  call("LoadParameters", InvokeKind::Method, {});
  for (const auto& [entity, tag] : {std::pair{"CATALOGOS", "SQLITE"}, {"INTERNOS", "POSTGRESQL"},
                                    {"NCM", "ODBC"}, {"SYSTABLAS", "ODBC"}}) {
    EXPECT_EQ(call("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, {entity}).Text(), tag);
    EXPECT_NO_THROW(call("getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, {entity})) << entity;
  }
}

}  // namespace
}  // namespace vandrel::testing
