#include <gtest/gtest.h>

#include <string>

#include "quillmere/quillmere.h"

namespace vandrel::testing {
namespace {

using automation::Args;
using automation::InvokeKind;

// The example the package ships is read by the real manager: a line too long, a section
// twice or a stray key would turn the administrator's first configuration into an error.
TEST(ExampleIniTest, EveryEntityHasAConnectionOfTheShownEngine) {
  quillmere::Register();
  const automation::ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
  Args path{std::string(VANDREL_EXAMPLE_INI)};
  manager->Invoke("setParametersPath", InvokeKind::PropertyPut, path);
  Args none;
  manager->Invoke("LoadParameters", InvokeKind::Method, none);

  for (const auto& [entity, tag] : {std::pair{"CATALOGOS", "SQLITE"}, {"INTERNOS", "POSTGRESQL"},
                                    {"NCM", "ODBC"}, {"SYSTABLAS", "ODBC"}}) {
    SCOPED_TRACE(entity);
    Args args{std::string(entity)};
    EXPECT_EQ(manager->Invoke("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, args).Text(), tag);
    args = Args{std::string(entity)};
    EXPECT_NO_THROW(manager->Invoke("getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, args));
  }
}

}  // namespace
}  // namespace vandrel::testing
