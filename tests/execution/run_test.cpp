// The whole update run in this process against real scripts, SQLite files and the PostgreSQL
// test server; only the window and the person pressing OK are stand-ins.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/databases.h"
#include "support/update_run.h"

namespace vandrel::testing {
namespace {

using ::testing::AllOf, ::testing::ContainsRegex, ::testing::ElementsAre, ::testing::EndsWith, ::testing::StartsWith;

// CATALOGOS always on SQLite, INTERNOS on the engine under test.
class RunTest : public ::testing::TestWithParam<std::string>, public UpdateRun {
 protected:
  std::unique_ptr<PgDatabase> pg;

  void SetUp() override {
    if (GetParam() != "POSTGRESQL") return;
    if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
    pg = std::make_unique<PgDatabase>();
    pg->Value("CREATE VIEW sqlite_master AS SELECT tablename AS name FROM pg_tables");  // HasTable's question
    Config(SqliteSection("CATALOGOS") + "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + pg->conninfo() + "\n");
  }
  int64_t Ask(const std::string& entity, const std::string& sql) {
    return pg && entity == "INTERNOS" ? pg->Value(sql) : Value(entity, sql);
  }
  int64_t HasTable(const std::string& entity, const std::string& table) {
    return Ask(entity, "SELECT count(*) FROM sqlite_master WHERE name = '" + table + "'");
  }
  // Each box as "style title: prompt".
  std::vector<std::string> Boxes() const {
    std::vector<std::string> shown;
    for (const Box& b : desktop.boxes) shown.push_back(std::to_string(b.style) + " " + b.title + ": " + b.prompt);
    return shown;
  }
};
INSTANTIATE_TEST_SUITE_P(Engines, RunTest, ::testing::Values("SQLITE", "POSTGRESQL"));
// Where the engine plays no part.
class SqliteRunTest : public RunTest {};
INSTANTIATE_TEST_SUITE_P(Sqlite, SqliteRunTest, ::testing::Values("SQLITE"));

TEST_P(RunTest, OneTransactionPerEntityCommittedAtTheChangeAndAtTheEnd) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER PRIMARY KEY, nombre TEXT);\r\nGO\r\n"
                                    "INSERT INTO paises VALUES(1, 'AR');\r\nGO\r\n");
  program.Write("CATALOGOS_02.sql", "INSERT INTO paises VALUES(2, 'UY');\r\nGO\r\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER PRIMARY KEY);\r\nGO\r\n");
  program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_03.sql", "INSERT INTO usuarios VALUES(2);\r\nINSERT INTO usuarios VALUES(3);\r\nGO\r\n");
  // Seen from another connection while the run works: CATALOGOS is committed when INTERNOS starts.
  std::vector<int64_t> catalogosSeen;
  desktop.on_pump = [&] { catalogosSeen.push_back(HasTable("CATALOGOS", "paises")); };

  EXPECT_EQ(Update(), ExitStatus::Finished);
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  EXPECT_EQ(catalogosSeen, (std::vector<int64_t>{0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(window.events, (std::vector<std::string>{
      "clear", "status Buscando actualizaciones ... ",
      "add CATALOGOS_01.sql", "status Buscando actualizaciones 1 de 1", "max 1",
      "add CATALOGOS_02.sql", "status Buscando actualizaciones 1 de 2", "max 2",
      "add INTERNOS_01.sql", "status Buscando actualizaciones 1 de 3", "max 3",
      "add INTERNOS_02.sql", "status Buscando actualizaciones 1 de 4", "max 4",
      "add INTERNOS_03.sql", "status Buscando actualizaciones 1 de 5", "max 5",
      "status Ejecutando actualización 1 de 5", "value 1", "status Ejecutando actualización 2 de 5", "value 2",
      "status Ejecutando actualización 3 de 5", "value 3", "status Ejecutando actualización 4 de 5", "value 4",
      "status Ejecutando actualización 5 de 5", "value 5"}));
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM paises"), 2);
  EXPECT_EQ(Ask("INTERNOS", "SELECT count(*) FROM usuarios"), 3);
}

// A failure rolls back the whole entity and keeps what earlier entities committed.
TEST_P(RunTest, FailureRollsBackItsEntity) {
  program.Write("CATALOGOS_01.sql",
                "CREATE TABLE IF NOT EXISTS paises(id);\r\nGO\r\nINSERT INTO paises VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\n");
  program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_03.sql", "INSERT INTO usuarios VALUES(2);\r\nGO\r\n");
  EXPECT_EQ(Update(), ExitStatus::Failed);
  // The engine's own text, which names the missing table, comes first.
  EXPECT_THAT(Boxes(), ElementsAre(AllOf(StartsWith("16 ¡Atencion!: "), ContainsRegex("nada.* Actualización"),
                                         EndsWith(" Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1\r\n"
                                                  "INSERT INTO nada VALUES(1);\r\n"))));
  EXPECT_EQ(desktop.clipboard_ops, (std::vector<std::string>{"clear", "set \r\nINSERT INTO nada VALUES(1);\r\n"}));
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM paises"), 1);
  EXPECT_EQ(HasTable("INTERNOS", "usuarios"), 0);
  EXPECT_EQ(window.events.back(), "status Ejecutando actualización 3 de 4");

  // A failing commit: the final one is reported at line 180, the one at a change of entity at 130.
  const std::string deferredViolation =
      "CREATE TABLE p(id INTEGER PRIMARY KEY);\r\nCREATE TABLE c(pid INTEGER REFERENCES p(id) DEFERRABLE INITIALLY "
      "DEFERRED);\r\nGO\r\nINSERT INTO c VALUES(99);\r\nGO\r\n";
  const std::string failedAt = "\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line ";
  // SQLite checks foreign keys only when its Connection asks for it.
  const auto checked = [](const std::string& entity, const std::string& file) {
    return "[" + entity + "]\nTag=SQLITE\nConnection=file:" + file + "?foreign_keys=on\n";
  };
  Config(checked("CATALOGOS", "catalogos.db") +
         (pg ? "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + pg->conninfo() + "\n"
             : checked("INTERNOS", "internos.db")));
  std::filesystem::remove(program.path() / "INTERNOS_03.sql");
  program.Write("INTERNOS_02.sql", deferredViolation);
  EXPECT_EQ(Update(), ExitStatus::Failed);
  EXPECT_THAT(Boxes(), ElementsAre(AllOf(StartsWith("48 VandrelSQL v.2.0.1: "), EndsWith(failedAt + "180"))));
  EXPECT_EQ(HasTable("INTERNOS", "c"), 0);
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM paises"), 2);
  program.Write("CATALOGOS_02.sql", deferredViolation);
  EXPECT_EQ(Update(), ExitStatus::Failed);
  EXPECT_THAT(Boxes(), ElementsAre(EndsWith(failedAt + "130")));
  EXPECT_EQ(HasTable("CATALOGOS", "c"), 0);
}

// No script: nothing is connected, as a configuration that cannot be read proves. An entity
// tagged ACCESS, or that cannot be connected, ends the run; what an earlier entity committed
// stays. (The console test shows the boxes of a failing change of entity.)
TEST_P(SqliteRunTest, EndingsBeforeAScriptRuns) {
  Config("this is not an ini file");
  EXPECT_EQ(Update(), ExitStatus::Finished);
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  EXPECT_EQ(window.events, (std::vector<std::string>{"clear", "status Buscando actualizaciones ... "}));

  program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id);\r\nGO\r\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE usuarios(id);\r\nGO\r\n");
  Config(SqliteSection("CATALOGOS") + "[INTERNOS]\nTag=ACCESS\n");
  EXPECT_EQ(Update(), ExitStatus::Access);
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  EXPECT_EQ(HasTable("CATALOGOS", "paises"), 1);

  // On the first script "entidad" keeps its blank.
  Config(SqliteSection("INTERNOS"));
  EXPECT_EQ(Update(), ExitStatus::Cancelled);
  EXPECT_THAT(Boxes(), ElementsAre(
      "48 VandrelSQL v.2.0.1: La entidad CATALOGOS no tiene sección en " + Ini() +
          "Entidad buscada:CATALOGOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 50",
      "16 VandrelSQL v.2.0.1: Error estableciendo conexion con la entidad CATALOGOS en el archivo CATALOGOS_01.sql "
      "no se puede continuar con la actualizacion",
      "16 VandrelSQL:  Actualización Cancelada. "));
}

// Two entities on one SQLite file: the first one's connection, which an exclusive locking
// mode keeps holding the file, is released before the second one opens it.
TEST_P(SqliteRunTest, EntitiesSharingAFileTakeTurnsWithIt) {
  Config(SqliteSection("CATALOGOS") + "[INTERNOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  program.Write("CATALOGOS_01.sql", "PRAGMA locking_mode=EXCLUSIVE;\r\nGO\r\nCREATE TABLE paises(id);\r\nGO\r\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE usuarios(id);\r\nGO\r\n");
  EXPECT_EQ(Update(), ExitStatus::Finished);
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  EXPECT_EQ(HasTable("CATALOGOS", "usuarios"), 1);
  EXPECT_EQ(HasTable("CATALOGOS", "paises"), 1);
}

// A failing batch's number and text, and the 16-bit limits; the entity's earlier script is
// rolled back with the failing one.
TEST_P(SqliteRunTest, ReportShowsTheFailingBatchNumberTextAndTheSixteenBitLimits) {
  const std::string insert = "INSERT INTO earlier VALUES(1);\r\nGO\r\n";
  std::string batches32768;
  for (int i = 0; i < 32768; ++i) batches32768 += insert;
  const std::string cancelled = " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: ";
  const std::string syntax = "near \"BOGUS\": syntax error" + cancelled;
  const std::string tooMany = " batches; at most 32,767 can run: split it into several scripts." + cancelled;
  const struct { std::string script, prompt; int pumped; } rows[] = {
      {"BOGUS;\r\nGO\r\nCREATE TABLE t(x);\r\nGO\r\n", syntax + "0BOGUS;\r\n", 2},
      {"CREATE TABLE t(x);\r\nGO\r\nINSERT INTO t VALUES(1);\r\nGO\r\nBOGUS;\r\nGO\r\n", syntax + "2\r\nBOGUS;\r\n", 4},
      // Past 32768 batches the limit itself overflows: nothing of the script runs.
      {batches32768 + insert, "Overflow: the script has 32,769" + tooMany + "0", 1},
      // Exactly 32768: all run, then the step past the last index overflows.
      {batches32768, "Overflow: the script has 32,768" + tooMany + "32767\r\nINSERT INTO earlier VALUES(1);\r\n",
       1 + 32768},
  };
  program.Write("CATALOGOS_01.sql", "CREATE TABLE earlier(x);\r\nGO\r\n");
  for (const auto& row : rows) {
    program.Write("CATALOGOS_02.sql", row.script);
    EXPECT_EQ(Update(), ExitStatus::Failed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"16 ¡Atencion!: " + row.prompt});
    EXPECT_EQ(desktop.pumped, row.pumped);
    EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0);
  }
}

}  // namespace
}  // namespace vandrel::testing
