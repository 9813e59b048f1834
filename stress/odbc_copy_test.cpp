// COPY with the client through the PostgreSQL ODBC driver, which never returns from it: the
// program must end with its report and keep nothing of the entity. It runs under an
// address-space limit and a deadline, so that the old endless wait or growth ends the test
// instead of the machine; the build without sanitizers is the one that fits under a limit.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "support/databases.h"
#include "support/program.h"
#include "support/temp_folder.h"

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
    const pid_t pid = vandrel.Start(inst.programFiles.str(), 256 * 1024);
    // Long enough for a loaded machine; a program that hangs never ends at all.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    while (!Program::Ended(pid) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!Program::Ended(pid)) {
      ADD_FAILURE() << "the program was still running after 180 s";
      kill(pid, SIGKILL);
    }
    const Outcome o = vandrel.Wait(pid);
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
