// COPY with the client through the PostgreSQL ODBC driver, which never returns from it: the
// program must end with its report and keep nothing of the entity. An address-space limit
// and a deadline end an endless wait or growth; only the build without sanitizers fits.
#include <gtest/gtest.h>

#include "stress/workload.h"

namespace vandrel::testing {
namespace {

TEST(OdbcCopyTest, CopyWithTheClientEndsInAReportAndKeepsNothing) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  for (const std::string copy : {"COPY t TO STDOUT;\r\n", "COPY t (a) FROM stdin;\r\n2\r\n3\r\n\\.\r\n"}) {
    SCOPED_TRACE(copy);
    PgDatabase pg;
    const Installation inst({"CATALOGOS"},
                            "[NCM]\nTag=ODBC\nConnection=" + OdbcConnectionString(pg.name()) + "\n");
    inst.program.Write("NCM_01.sql", "CREATE TABLE t(a integer);\r\nGO\r\nINSERT INTO t VALUES(1);\r\nGO\r\n");
    inst.program.Write("NCM_02.sql", copy + "GO\r\n");
    Program vandrel(VANDREL_PLAIN_EXE, inst.program.path());
    const Outcome o = End(vandrel, vandrel.Start(inst.programFiles.str(), 256 * 1024));
    EXPECT_EQ(o.signal, 0);
    EXPECT_EQ(o.exit, 1) << o.err;
    EXPECT_NE(o.err.find("== ¡Atencion! ==\nCOPY FROM STDIN and COPY TO STDOUT cannot run through "
                         "ODBC (the driver would never return); nothing of the batch was run "
                         "Actualización Cancelada. Script: NCM_02.sql - Linea: 0"),
              std::string::npos)
        << o.err.substr(0, 1000);
    EXPECT_EQ(pg.Value("SELECT count(*) FROM pg_tables WHERE tablename = 't'"), 0);
  }
}

}  // namespace
}  // namespace vandrel::testing
