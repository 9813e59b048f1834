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

  const struct {
    const char* entity;
    const char* tag;
  } rows[] = {{"CATALOGOS", "SQLITE"}, {"INTERNOS", "POSTGRESQL"}, {"NCM", "ODBC"}, {"SYSTABLAS", "ODBC"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.entity);
    Args entity{std::string(row.entity)};
    EXPECT_EQ(manager->Invoke("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, entity).Text(),
              row.tag);
    Args again{std::string(row.entity)};
    EXPECT_NO_THROW(manager->Invoke("getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, again));
  }
}

}  // namespace
}  // namespace vandrel::testing
