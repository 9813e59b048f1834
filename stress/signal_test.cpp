// The built program against what its surroundings do to the process: SIGINT, SIGTERM and
// SIGHUP in the middle of a batch, and standard streams closed by whoever started it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "stress/workload.h"
#include "support/program.h"
#include "support/temp_folder.h"

extern char** environ;

namespace vandrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
const char* const kInterrumpida = "Actualización interrumpida\n";

// Waits for `ready` to hold, at most `limit`; false when it never did.
template <class Ready>
bool WaitFor(Ready ready, std::chrono::seconds limit = std::chrono::seconds(300)) {
  const auto deadline = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The program's ending, or a failure and SIGKILL when it does not end within a minute.
Outcome End(const Program& vandrel, pid_t pid) {
  if (!WaitFor([&] { return Program::Ended(pid); })) {
    ADD_FAILURE() << "the program did not end";
    kill(pid, SIGKILL);
  }
  return vandrel.Wait(pid);
}

int64_t Sessions(const PgDatabase& pg, const std::string& query) {
  return PgValue(TestServer(), "SELECT count(*) FROM pg_stat_activity WHERE datname = '" +
                                   pg.name() + "'" + query);
}

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
    ini = std::string("[CATALOGOS]\nTag=") + c.tag + "\nConnection=" +
          (std::string(c.tag) == "ODBC" ? OdbcConnectionString(pg->name()) + "Pwd=" + kSecret
                                        : pg->conninfo() + " password=" + kSecret) + "\n";
  }
  const Installation inst(server ? std::vector<std::string>{} : std::vector<std::string>{"CATALOGOS"}, ini);
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE senal(id INTEGER);\r\nGO\r\nINSERT INTO senal VALUES(1);\r\nGO\r\n");
  // Runs for ever unless cancelled.
  inst.program.Write("CATALOGOS_02.sql", server ? "SELECT pg_sleep(3600);\r\nGO\r\n"
      : "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c;\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());
  const pid_t pid = vandrel.Start(inst.programFiles.str(), 0,
                                  c.window ? std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"}
                                           : std::vector<std::string>{});
  // The moment the long batch runs: the server shows it; SQLite's status line is printed
  // just before it.
  const bool running = WaitFor([&] {
    return Program::Ended(pid) ||
           (server ? Sessions(*pg, " AND state = 'active' AND query LIKE '%pg_sleep%'") > 0
                   : vandrel.OutputSoFar().find("Ejecutando actualización 2 de 2") != std::string::npos);
  });
  EXPECT_TRUE(running && !Program::Ended(pid)) << "the long batch never ran";
  kill(pid, c.signal);
  const Outcome o = End(vandrel, pid);

  EXPECT_EQ(o.exit, 128 + c.signal) << o.out << o.err;
  if (!c.window) {
    EXPECT_NE(o.out.find(kInterrumpida), std::string::npos) << o.out;
    EXPECT_EQ(o.err, "");  // Qt may say things of its own
  }
  EXPECT_EQ(SecretShown(o.out + o.err, {kSecret}), "");
  if (server) {
    EXPECT_TRUE(WaitFor([&] { return Sessions(*pg, "") == 0; })) << "the session stays";
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
  const Installation inst({}, "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + pg.conninfo() + "\n");
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE cerrados(id INTEGER);\r\nGO\r\n"
                                        "DO $$BEGIN RAISE NOTICE 'aviso'; END$$;\r\nGO\r\n");
  inst.program.Write("INTERNOS_02.sql", "INSERT INTO cerrados VALUES(1);\r\nGO\r\n");
  Program vandrel(VANDREL_EXE, inst.program.path());

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM") env.push_back(entry);
  }
  env.push_back("ProgramFiles=" + inst.programFiles.str());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = (inst.program.path() / "vandrelsql").string();
  char* argv[] = {exe.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, 1);
  posix_spawn_file_actions_addclose(&actions, 2);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  const Outcome o = End(vandrel, pid);

  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(pg.Value("SELECT count(*) FROM cerrados"), 1);
}

}  // namespace
}  // namespace vandrel::testing
