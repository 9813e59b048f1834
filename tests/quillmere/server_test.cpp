#include <gtest/gtest.h>

#include "backends.h"
#include "platform/ado/connection.h"
#include "quillmere/quillmere.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

using automation::Args;
using automation::InvokeKind;

TEST(QuillmereServer, PostgresqlAndOdbcEntitiesConnect) {
  const std::string server = TestServer();
  if (server.empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  TempFolder folder;
  folder.Write("quillmereconfig.ini", "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + server +
                                          "\n[NCM]\nTag=ODBC\nConnection=" +
                                          OdbcConnectionString() + "\n");
  quillmere::Register();
  auto manager = automation::CreateObject("Quillmere.QuillMain");
  Args path{folder.str() + "\\quillmereconfig.ini"};
  manager->Invoke("setParametersPath", InvokeKind::PropertyPut, path);
  Args none;
  manager->Invoke("LoadParameters", InvokeKind::Method, none);
  for (const char* entity : {"INTERNOS", "NCM"}) {
    SCOPED_TRACE(entity);
    Args args{entity};
    auto byEntity =
        manager->Invoke("getDataConnectionByEntity", InvokeKind::Method, args).AsObject();
    auto db = automation::QueryInterface<ado::Connection>(
        byEntity->Invoke("GetAssemblyConnection", InvokeKind::PropertyGet, none).AsObject(),
        "Connection");
    EXPECT_EQ(db->BeginTrans(), 1);
    db->Execute("CREATE TEMP TABLE t (a int); INSERT INTO t VALUES (1); SELECT * FROM t");
    db->CommitTrans();
  }
}

}  // namespace
}  // namespace vandrel::testing
