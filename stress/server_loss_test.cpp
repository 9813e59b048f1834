// The PostgreSQL server drops the program's connection, or stops, in the middle of a batch:
// the program reports it, exits non-zero, and the entity holds nothing of the run while the
// entity committed before it keeps its work.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "stress/workload.h"

namespace vandrel::testing {
namespace {

// Runs `inst`, whose INTERNOS is on `conninfo`, does `cut` while the second script sleeps
// there, and returns the ending. The sleep outlasts any wait for it, so the test never
// depends on how fast the program got there.
Outcome CutDuringTheSleep(const Installation& inst, const std::string& conninfo, const std::function<void()>& cut) {
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE perdidos(id INTEGER);\r\nGO\r\nINSERT INTO perdidos VALUES(1);\r\nGO\r\n");
  inst.program.Write("INTERNOS_02.sql", "INSERT INTO perdidos VALUES(2);\r\nGO\r\nSELECT pg_sleep(600);\r\nGO\r\n"
                                        "INSERT INTO perdidos VALUES(3);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());
  const pid_t pid = vandrel.Start(inst.programFiles.str());
  WaitFor([&] { return Sessions(conninfo, kSleeping) > 0; }, std::chrono::milliseconds(20));
  cut();
  const Outcome o = vandrel.Wait(pid);
  EXPECT_NE(o.exit, 0);
  EXPECT_NE(o.err.find("in VandrelSQL.Mod_Main.EjecutarActualizaciones at line 120\n"), std::string::npos) << o.err;
  EXPECT_EQ(SecretShown(o.out + o.err, {kSecret, conninfo}), "");
  return o;
}

TEST(ServerLossTest, ConnectionTerminatedDuringABatch) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  PgDatabase pg;
  const Installation inst({"CATALOGOS"}, PgSection("INTERNOS", pg.conninfo()));
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\nINSERT INTO paises VALUES(1);\r\nGO\r\n");
  const Outcome o = CutDuringTheSleep(inst, pg.conninfo(), [&] {
    EXPECT_EQ(pg.Value("SELECT count(*) FROM (SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                       "WHERE datname = current_database() AND pid <> pg_backend_pid()) t"), 1);
  });

  EXPECT_EQ(o.exit, 1);
  // The rollback after the failed batch finds the connection gone too, so the run's own
  // report explains it.
  EXPECT_NE(o.err.find("== VandrelSQL v.2.0.1 ==\nThe connection to the PostgreSQL server was lost: "
                       "FATAL:  terminating connection due to administrator command"),
            std::string::npos) << o.err;
  EXPECT_EQ(pg.Value("SELECT count(*) FROM pg_tables WHERE tablename = 'perdidos'"), 0);
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
  const Installation inst({}, PgSection("INTERNOS", conninfo));
  const Outcome o = CutDuringTheSleep(inst, conninfo, [&] { EXPECT_EQ(own.Do("stop"), 0); });
  ASSERT_EQ(own.Do("start"), 0);

  EXPECT_NE(o.err.find("== VandrelSQL v.2.0.1 ==\n"), std::string::npos) << o.err;
  EXPECT_EQ(PgValue(conninfo, "SELECT count(*) FROM pg_tables WHERE tablename = 'perdidos'"), 0);
}

}  // namespace
}  // namespace vandrel::testing
