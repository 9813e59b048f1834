// The built program against what its surroundings do to the process: SIGINT, SIGTERM and
// SIGHUP in the middle of a batch, and standard streams closed by whoever started it.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "stress/workload.h"

namespace vandrel::testing {
namespace {

struct Case {
  const char* name;
  const char* tag;  // SQLITE, POSTGRESQL or ODBC
  int signal;
  bool window = false;  // the window front end, on Qt's offscreen platform
};

class SignalTest : public ::testing::TestWithParam<Case> {};

TEST_P(SignalTest, CancelsTheBatchRollsBackAndExits128PlusTheSignal) {
  const Case c = GetParam();
  const bool server = std::string(c.tag) != "SQLITE";
  if (server && TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  std::unique_ptr<PgDatabase> pg;
  std::string ini;
  if (server) {
    pg = std::make_unique<PgDatabase>();
    ini = std::string(c.tag) == "ODBC"
              ? "[CATALOGOS]\nTag=ODBC\nConnection=" + OdbcConnectionString(pg->name()) + "Pwd=" + kSecret + "\n"
              : PgSection("CATALOGOS", pg->conninfo());
  }
  const Installation inst(server ? std::vector<std::string>{} : std::vector<std::string>{"CATALOGOS"}, ini);
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE senal(id INTEGER);\r\nGO\r\nINSERT INTO senal VALUES(1);\r\nGO\r\n");
  // Runs for ever unless cancelled.
  inst.program.Write("CATALOGOS_02.sql", server ? "SELECT pg_sleep(3600);\r\nGO\r\n"
      : "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c;\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());
  const TempFolder state;
  std::vector<std::string> env{"XDG_STATE_HOME=" + state.str()};
  if (c.window) env.push_back("QT_QPA_PLATFORM=offscreen");
  const pid_t pid = vandrel.Start(inst.programFiles.str(), 0, env);
  // The moment the long batch runs: the server shows it; SQLite's status line is printed
  // just before it.
  const bool running = WaitFor([&] {
    return Program::Ended(pid) ||
           (server ? Sessions(pg->conninfo(), kSleeping) > 0
                   : vandrel.OutputSoFar().find("Ejecutando actualización 2 de 2") != std::string::npos);
  });
  EXPECT_TRUE(running && !Program::Ended(pid)) << "the long batch never ran";
  kill(pid, c.signal);
  const Outcome o = End(vandrel, pid);

  EXPECT_EQ(o.exit, 128 + c.signal) << o.out << o.err;
  if (!c.window) {
    EXPECT_NE(o.out.find("Actualización interrumpida\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.err, "");  // Qt may say things of its own
  }
  // The record says how the run ended, whatever the front end; the console sums it up.
  const std::string record = Slurp(state.path() / "vandrelsql/vandrelsql.log");
  EXPECT_NE(record.find("entidad CATALOGOS: revertida"), std::string::npos) << record;
  EXPECT_NE(record.find("salida: " + std::to_string(128 + c.signal) + " (interrumpida por la señal SIG" +
                        sigabbrev_np(c.signal) + ")\n"), std::string::npos) << record;
  if (!c.window) {
    EXPECT_NE(o.out.find("Resumen:\n  CATALOGOS: revertida\n"), std::string::npos) << o.out;
  }
  EXPECT_EQ(SecretShown(o.out + o.err + record, {kSecret}), "");
  if (server) {
    EXPECT_TRUE(WaitFor([&] { return Sessions(pg->conninfo()) == 0; })) << "the session stays";
    EXPECT_EQ(pg->Value("SELECT count(*) FROM pg_tables WHERE tablename = 'senal'"), 0);
  } else {
    EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name = 'senal'"), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalTest,
    ::testing::Values(Case{"SqliteInt", "SQLITE", SIGINT}, Case{"SqliteTerm", "SQLITE", SIGTERM},
                      Case{"PostgresInt", "POSTGRESQL", SIGINT},
                      Case{"PostgresHup", "POSTGRESQL", SIGHUP},
                      Case{"OdbcTerm", "ODBC", SIGTERM},
                      Case{"WindowPostgresTerm", "POSTGRESQL", SIGTERM, true}),
    [](const ::testing::TestParamInfo<Case>& row) { return std::string(row.param.name); });

// Launchers start programs with stdout and stderr closed: the database socket must not
// take their numbers, or the status lines and notices would go into the protocol.
TEST(ClosedStreamsTest, RunSucceedsWithStdoutAndStderrClosed) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  PgDatabase pg;
  const Installation inst({}, PgSection("INTERNOS", pg.conninfo()));
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE cerrados(id INTEGER);\r\nGO\r\n"
                                        "DO $$BEGIN RAISE NOTICE 'aviso'; END$$;\r\nGO\r\n");
  inst.program.Write("INTERNOS_02.sql", "INSERT INTO cerrados VALUES(1);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());
  const int status = std::system(("timeout -s KILL 300 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ProgramFiles='" +
                                  inst.programFiles.str() + "' '" + inst.program.str() + "/vandrelsql' >&- 2>&-").c_str());

  EXPECT_EQ(status, 0);
  EXPECT_EQ(pg.Value("SELECT count(*) FROM cerrados"), 1);
}

}  // namespace
}  // namespace vandrel::testing
