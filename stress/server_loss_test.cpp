// The PostgreSQL server drops the program's connection, or stops, in the middle of a batch:
// the program reports it, exits non-zero, and the entity holds nothing of the run while the
// entity committed before it keeps its work.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "stress/workload.h"
#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

const char* const kAtLine120 = "in VandrelSQL.Mod_Main.EjecutarActualizaciones at line 120\n";

// Starts the program on `inst` and waits until its session on `conninfo` sleeps in a batch.
// The sleep outlasts any wait for it, so the test never depends on how fast the program
// got there.
pid_t StartAndWaitForTheSleep(Program& vandrel, const Installation& inst, const std::string& conninfo) {
  const pid_t pid = vandrel.Start(inst.programFiles.str());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);  // however loaded the machine
  // Only this test's database: other tests sleep in theirs at the same time.
  while (PgValue(conninfo, "SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND "
                           "datname = current_database() AND query LIKE '%pg_sleep%' AND "
                           "pid <> pg_backend_pid()") == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return pid;
}

TEST(ServerLossTest, ConnectionTerminatedDuringABatch) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  PgDatabase pg;
  const std::string app = "vs_" + std::to_string(getpid());
  const Installation inst({"CATALOGOS"}, "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + pg.conninfo() +
                                             " application_name=" + app + " password=" + kSecret + "\n");
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\nINSERT INTO paises VALUES(1);\r\nGO\r\n");
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\nINSERT INTO usuarios VALUES(1);\r\nGO\r\n");
  inst.program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(2);\r\nGO\r\nSELECT pg_sleep(600);\r\nGO\r\n"
                                        "INSERT INTO usuarios VALUES(3);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());
  const pid_t pid = StartAndWaitForTheSleep(vandrel, inst, pg.conninfo());
  EXPECT_EQ(pg.Value("SELECT count(*) FROM (SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                     "WHERE application_name = '" + app + "') t"), 1);
  const Outcome o = vandrel.Wait(pid);

  EXPECT_EQ(o.exit, 1);
  // The rollback after the failed batch finds the connection gone too, so the run's own
  // report explains it.
  EXPECT_NE(o.err.find("== VandrelSQL v.2.0.1 ==\nThe connection to the PostgreSQL server was lost: "
                       "FATAL:  terminating connection due to administrator command"),
            std::string::npos) << o.err;
  EXPECT_NE(o.err.find(kAtLine120), std::string::npos) << o.err;
  EXPECT_EQ(SecretShown(o.out + o.err, {kSecret, pg.conninfo()}), "");
  EXPECT_EQ(pg.Value("SELECT count(*) FROM pg_tables WHERE tablename = 'usuarios'"), 0);
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM paises"), 1);
}

// A server of this test's own, reached through a socket in a folder of its own, is stopped
// while the program works in it, then started again.
TEST(ServerLossTest, ServerStoppedDuringARunKeepsNothingPartial) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  struct OwnServer {
    TempFolder folder;
    int Do(const std::string& what) const {
      return std::system((std::string(VANDREL_SERVER_SCRIPT) + " " + what + " '" + folder.str() + "' >/dev/null").c_str());
    }
    ~OwnServer() { Do("stop"); }
  } own;
  ASSERT_EQ(own.Do("start"), 0);
  const std::string conninfo = "host=" + own.folder.str() + " port=5432 user=vandrel dbname=postgres";

  const Installation inst({}, "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + conninfo + " password=" + kSecret + "\n");
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE perdidos(id INTEGER);\r\nGO\r\nINSERT INTO perdidos VALUES(1);\r\nGO\r\n");
  inst.program.Write("INTERNOS_02.sql", "INSERT INTO perdidos VALUES(2);\r\nGO\r\nSELECT pg_sleep(600);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());
  const pid_t pid = StartAndWaitForTheSleep(vandrel, inst, conninfo);
  ASSERT_EQ(own.Do("stop"), 0);
  const Outcome o = vandrel.Wait(pid);
  ASSERT_EQ(own.Do("start"), 0);

  EXPECT_NE(o.exit, 0);
  EXPECT_NE(o.err.find("== VandrelSQL v.2.0.1 ==\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find(kAtLine120), std::string::npos) << o.err;
  EXPECT_EQ(SecretShown(o.out + o.err, {kSecret, conninfo}), "");
  EXPECT_EQ(PgValue(conninfo, "SELECT count(*) FROM pg_tables WHERE tablename = 'perdidos'"), 0);
}

}  // namespace
}  // namespace vandrel::testing
