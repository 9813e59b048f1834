// The PostgreSQL server drops the program's connection in the middle of a batch: the
// program reports it, exits non-zero, and the entity holds nothing of the run while the
// entity committed before it keeps its work.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "faults/program.h"
#include "faults/workload.h"
#include "support/databases.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

TEST(ServerLossTest, ConnectionTerminatedDuringABatch) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  TempFolder program, programFiles;
  PgDatabase pg;
  const std::string app = "vs_" + std::to_string(getpid());
  programFiles.Write("Corvessa/catalogos.db", "");
  programFiles.Write("Corvessa/quillmereconfig.ini",
                     "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[INTERNOS]\nTag=POSTGRESQL\n"
                     "Connection=" + pg.conninfo() + " application_name=" + app + " password=" + kSecret + "\n");
  program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\nINSERT INTO paises VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\nINSERT INTO usuarios VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(2);\r\nGO\r\nSELECT pg_sleep(60);\r\nGO\r\n"
                                   "INSERT INTO usuarios VALUES(3);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, program.path());
  const pid_t pid = vandrel.Start(programFiles.str());
  const std::string sleeping = "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + app +
                               "' AND state = 'active' AND query LIKE '%pg_sleep%'";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (pg.Value(sleeping) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(pg.Value("SELECT count(*) FROM (SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                     "WHERE application_name = '" + app + "') t"), 1);
  const Outcome o = vandrel.Wait(pid);

  EXPECT_EQ(o.exit, 1);
  // The rollback after the failed batch finds the connection gone too, so the run's own
  // report explains it.
  EXPECT_NE(o.err.find("== VandrelSQL v.2.0.1 ==\nThe connection to the PostgreSQL server was lost: "
                       "FATAL:  terminating connection due to administrator command"),
            std::string::npos) << o.err;
  EXPECT_NE(o.err.find("in VandrelSQL.Mod_Main.EjecutarActualizaciones at line 120\n"), std::string::npos) << o.err;
  std::string problem;
  EXPECT_TRUE(ShowsNoSecret(o.out + o.err, {kSecret, pg.conninfo()}, problem)) << problem;
  EXPECT_EQ(pg.Value("SELECT count(*) FROM pg_tables WHERE tablename = 'usuarios'"), 0);
  EXPECT_EQ(SqliteValue((programFiles.path() / "Corvessa/catalogos.db").string(), "SELECT count(*) FROM paises"), 1);
}

// A server of this test's own is stopped while the program works in it, then started again:
// nothing of the entity's run is there.
TEST(ServerLossTest, ServerStoppedDuringARunKeepsNothingPartial) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  const std::string server = std::string("VANDREL_PG_PORT=54330 ") + VANDREL_SERVER_SCRIPT;
  ASSERT_EQ(std::system((server + " start >/dev/null").c_str()), 0);
  const std::string conninfo = "host=127.0.0.1 port=54330 user=vandrel dbname=postgres";
  PgValue(conninfo, "DROP TABLE IF EXISTS perdidos");

  TempFolder program, programFiles;
  programFiles.Write("Corvessa/quillmereconfig.ini",
                     "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + conninfo + " password=" + kSecret + "\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE perdidos(id INTEGER);\r\nGO\r\nINSERT INTO perdidos VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_02.sql", "INSERT INTO perdidos VALUES(2);\r\nGO\r\nSELECT pg_sleep(60);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, program.path());
  const pid_t pid = vandrel.Start(programFiles.str());
  const std::string sleeping =
      "SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query LIKE '%pg_sleep%' "
      "AND pid <> pg_backend_pid()";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (PgValue(conninfo, sleeping) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(std::system((server + " stop").c_str()), 0);
  const Outcome o = vandrel.Wait(pid);
  ASSERT_EQ(std::system((server + " start >/dev/null").c_str()), 0);

  EXPECT_NE(o.exit, 0);
  EXPECT_NE(o.err.find("== VandrelSQL v.2.0.1 ==\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("in VandrelSQL.Mod_Main.EjecutarActualizaciones at line 120\n"), std::string::npos) << o.err;
  std::string problem;
  EXPECT_TRUE(ShowsNoSecret(o.out + o.err, {kSecret, conninfo}, problem)) << problem;
  EXPECT_EQ(PgValue(conninfo, "SELECT count(*) FROM pg_tables WHERE tablename = 'perdidos'"), 0);
  std::system((server + " stop").c_str());
}

}  // namespace
}  // namespace vandrel::testing
