// The whole update run against real script files, real SQLite files and the PostgreSQL
// test server, through the real data-access manager; only the window and the person
// pressing OK are stand-ins.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "support/databases.h"
#include "support/update_run.h"

namespace vandrel::testing {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

// CATALOGOS always on SQLite, INTERNOS on the engine under test.
class RunTest : public ::testing::TestWithParam<std::string>, public UpdateRun {
 protected:
  std::unique_ptr<PgDatabase> pg;

  void SetUp() override {
    if (GetParam() != "POSTGRESQL") return;
    if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
    pg = std::make_unique<PgDatabase>();
    Config(SqliteSection("CATALOGOS") + "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + pg->conninfo() + "\n");
  }
  void Script(const std::string& name, const std::string& text) { program.Write(name, text); }
  // One table created in each entity.
  void TwoEntities() {
    Script("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
    Script("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\n");
  }
  int64_t CatalogosHasTable(const std::string& table) {
    return Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name = '" + table + "'");
  }
  int64_t Internos(const std::string& sql) { return pg ? pg->Value(sql) : Value("INTERNOS", sql); }
  int64_t InternosHasTable(const std::string& table) {
    return pg ? pg->Value("SELECT count(*) FROM pg_tables WHERE tablename = '" + table + "'")
              : Value("INTERNOS", "SELECT count(*) FROM sqlite_master WHERE name = '" + table + "'");
  }
  const Box& OnlyBox() {
    EXPECT_EQ(desktop.boxes.size(), 1u);
    static const Box none{"", 0, ""};
    return desktop.boxes.empty() ? none : desktop.boxes[0];
  }
};

INSTANTIATE_TEST_SUITE_P(Engines, RunTest, ::testing::Values("SQLITE", "POSTGRESQL"));

TEST_P(RunTest, OneTransactionPerEntityCommittedAtTheChangeAndAtTheEnd) {
  const char* names[] = {"CATALOGOS_01.sql", "CATALOGOS_02.sql", "INTERNOS_01.sql", "INTERNOS_02.sql",
                         "INTERNOS_03.sql"};
  Script(names[0], "CREATE TABLE paises(id INTEGER PRIMARY KEY, nombre TEXT);\r\nGO\r\n"
                   "INSERT INTO paises VALUES(1, 'AR');\r\nGO\r\n");
  Script(names[1], "INSERT INTO paises VALUES(2, 'UY');\r\nGO\r\n");
  Script(names[2], "CREATE TABLE usuarios(id INTEGER PRIMARY KEY);\r\nGO\r\n");
  Script(names[3], "INSERT INTO usuarios VALUES(1);\r\nGO\r\n");
  Script(names[4], "INSERT INTO usuarios VALUES(2);\r\nINSERT INTO usuarios VALUES(3);\r\nGO\r\n");

  // Seen from another connection while the run works: CATALOGOS becomes visible only when
  // the first INTERNOS script starts.
  std::vector<int64_t> catalogosSeen;
  desktop.on_pump = [&] { catalogosSeen.push_back(CatalogosHasTable("paises")); };

  EXPECT_EQ(Update(), ExitStatus::Finished);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(catalogosSeen, (std::vector<int64_t>{0, 0, 0, 1, 1, 1}));

  std::vector<std::string> expected{"clear", "status Buscando actualizaciones ... "};
  for (int i = 1; i <= 5; ++i) {
    expected.push_back(std::string("add ") + names[i - 1]);
    expected.push_back("status Buscando actualizaciones 1 de " + std::to_string(i));
    expected.push_back("max " + std::to_string(i));
  }
  for (int i = 1; i <= 5; ++i) {
    expected.push_back("status Ejecutando actualización " + std::to_string(i) + " de 5");
    expected.push_back("value " + std::to_string(i));
  }
  EXPECT_EQ(window.events, expected);
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM paises"), 2);
  EXPECT_EQ(Internos("SELECT count(*) FROM usuarios"), 3);
}

TEST_P(RunTest, FailingBatchRollsBackTheWholeEntityAndKeepsEarlierEntities) {
  TwoEntities();
  Script("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(1);\r\nGO\r\n");
  Script("INTERNOS_03.sql", "INSERT INTO usuarios VALUES(2);\r\nGO\r\n");

  EXPECT_EQ(Update(), ExitStatus::Failed);
  const Box& box = OnlyBox();
  EXPECT_EQ(box.style, 16);
  EXPECT_EQ(box.title, "¡Atencion!");
  const std::string tail =
      " Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1\r\nINSERT INTO nada VALUES(1);\r\n";
  EXPECT_THAT(box.prompt, EndsWith(tail));
  EXPECT_LT(box.prompt.find("nada"), box.prompt.size() - tail.size())
      << "the engine's own text names the missing table: " << box.prompt;
  EXPECT_EQ(desktop.clipboard_ops,
            (std::vector<std::string>{"clear", "set \r\nINSERT INTO nada VALUES(1);\r\n"}));
  EXPECT_EQ(CatalogosHasTable("paises"), 1);
  EXPECT_EQ(InternosHasTable("usuarios"), 0);
  EXPECT_EQ(window.events.back(), "status Ejecutando actualización 3 de 4");
}

TEST_P(RunTest, FailingFinalCommitIsReportedAtLine180AndTheChangeOfEntityAt130) {
  const std::string deferredViolation =
      "CREATE TABLE p(id INTEGER PRIMARY KEY);\r\n"
      "CREATE TABLE c(pid INTEGER REFERENCES p(id) DEFERRABLE INITIALLY DEFERRED);\r\nGO\r\n"
      "INSERT INTO c VALUES(99);\r\nGO\r\n";
  Script("CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS paises(id INTEGER);\r\nGO\r\n");
  Script("INTERNOS_01.sql", deferredViolation);
  EXPECT_EQ(Update(), ExitStatus::Failed);
  EXPECT_EQ(OnlyBox().style, 48);
  EXPECT_THAT(OnlyBox().prompt, EndsWith("\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line 180"));
  EXPECT_EQ(InternosHasTable("c"), 0);
  EXPECT_EQ(CatalogosHasTable("paises"), 1);

  // The same violation in the first entity fails the commit at the change of entity.
  Script("CATALOGOS_02.sql", deferredViolation);
  EXPECT_EQ(Update(), ExitStatus::Failed);
  EXPECT_THAT(OnlyBox().prompt, EndsWith("\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line 130"));
  EXPECT_EQ(CatalogosHasTable("c"), 0);
}

// At a change of entity the word "entidad" runs into the name; on the first script it has
// its blank. Either way the three boxes, and what was committed stays.
TEST_P(RunTest, ConnectionFailuresCancelTheRun) {
  TwoEntities();
  const struct {
    std::string ini, entity, entityText, firstBox;
  } cases[] = {
      {SqliteSection("CATALOGOS") + "[INTERNOS]\nTag=SQLITE\nConnection=no-such.db\n", "INTERNOS",
       "entidadINTERNOS", "Entidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 80"},
      {SqliteSection("INTERNOS"), "CATALOGOS", "entidad CATALOGOS", "Entidad buscada:CATALOGOS\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entity);
    Config(c.ini);
    EXPECT_EQ(Update(), ExitStatus::Cancelled);
    ASSERT_EQ(desktop.boxes.size(), 3u);
    EXPECT_EQ(desktop.boxes[0].style, 48);
    EXPECT_THAT(desktop.boxes[0].prompt, HasSubstr(c.firstBox));
    const Box second{"Error estableciendo conexion con la " + c.entityText + " en el archivo " + c.entity +
                         "_01.sql no se puede continuar con la actualizacion", 16, "VandrelSQL v.2.0.1"};
    const Box third{" Actualización Cancelada. ", 16, "VandrelSQL"};
    for (const auto& [shown, expected] : {std::pair{desktop.boxes[1], second}, {desktop.boxes[2], third}}) {
      EXPECT_EQ(shown.prompt, expected.prompt);
      EXPECT_EQ(shown.style, expected.style);
      EXPECT_EQ(shown.title, expected.title);
    }
    EXPECT_EQ(CatalogosHasTable("paises"), 1);
  }
}

// At a change of entity: the earlier entity stays committed, nothing is shown.
TEST_P(RunTest, AccessTagEndsTheRunSilently) {
  TwoEntities();
  Config(SqliteSection("CATALOGOS") + "[INTERNOS]\nTag=ACCESS\n");
  EXPECT_EQ(Update(), ExitStatus::Access);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(CatalogosHasTable("paises"), 1);
}

TEST_P(RunTest, NoScriptEndsAtOnceWithoutConnecting) {
  // A configuration that cannot be read proves no connection was asked for.
  Config("this is not an ini file");
  EXPECT_EQ(Update(), ExitStatus::Finished);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(window.events, (std::vector<std::string>{"clear", "status Buscando actualizaciones ... "}));
}

// Batch numbering and the 16-bit limits: SQLite only, the engine plays no part here. The
// entity's earlier script is rolled back with the failing one.
class BatchLimitTest : public RunTest {};
INSTANTIATE_TEST_SUITE_P(Sqlite, BatchLimitTest, ::testing::Values("SQLITE"));

TEST_P(BatchLimitTest, ReportShowsTheFailingBatchNumberTextAndTheSixteenBitLimits) {
  const auto repeat = [](int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += "INSERT INTO earlier VALUES(1);\r\nGO\r\n";
    return out;
  };
  struct Case {
    std::string script;
    std::string prompt;  // the whole prompt, or its end after the engine's description
    int pumped;        // 0: not checked
  };
  const std::string cancelled = " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: ";
  const Case cases[] = {
      {"BOGUS;\r\nGO\r\nCREATE TABLE t(x);\r\nGO\r\n", cancelled + "0BOGUS;\r\n", 0},
      {"CREATE TABLE t(x);\r\nGO\r\nINSERT INTO t VALUES(1);\r\nGO\r\nBOGUS;\r\nGO\r\n",
       cancelled + "2\r\nBOGUS;\r\n", 0},
      // More than 32768 batches: the limit itself overflows, nothing of the script runs.
      {repeat(32769), "Overflow: the script has 32,769 batches; at most 32,767 can run: split it into several scripts." + cancelled + "0", 1},
      // Exactly 32768: all run, then the step past the last index overflows.
      {repeat(32768), "Overflow: the script has 32,768 batches; at most 32,767 can run: split it into "
                      "several scripts." + cancelled + "32767\r\nINSERT INTO earlier VALUES(1);\r\n", 1 + 32768},
  };
  Script("CATALOGOS_01.sql", "CREATE TABLE earlier(x);\r\nGO\r\n");
  for (const Case& c : cases) {
    Script("CATALOGOS_02.sql", c.script);
    EXPECT_EQ(Update(), ExitStatus::Failed);
    if (c.pumped == 0) {
      EXPECT_THAT(OnlyBox().prompt, EndsWith(c.prompt));
    } else {
      EXPECT_EQ(OnlyBox().prompt, c.prompt);
      EXPECT_EQ(desktop.pumped, c.pumped);
    }
    EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0);
  }
}

}  // namespace
}  // namespace vandrel::testing
