// The whole update run against real script files, real SQLite files and the PostgreSQL
// test server, through the real data-access manager; only the window and the person
// pressing OK are stand-ins.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "support/databases.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

std::string Repeat(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

class RunTest : public ::testing::TestWithParam<std::string> {
 protected:
  TempFolder program;
  TempFolder programFiles;
  FolderEnv env{program.str()};
  RecordingStatus window;
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};
  std::unique_ptr<PgDatabase> pg;

  void SetUp() override {
    quillmere::Register();
    env.environ["ProgramFiles"] = programFiles.str();
    if (GetParam() == "POSTGRESQL") {
      if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
      pg = std::make_unique<PgDatabase>();
    }
    programFiles.Write("Corvessa/catalogos.db", "");
    programFiles.Write("Corvessa/internos.db", "");
    Config("");
  }

  // CATALOGOS always on SQLite; INTERNOS on the engine under test; `extra` is appended.
  void Config(const std::string& extra) {
    std::string internos = pg ? "Tag=POSTGRESQL\nConnection=" + pg->conninfo() + "\n"
                              : "Tag=SQLITE\nConnection=internos.db\n";
    programFiles.Write("Corvessa/quillmereconfig.ini",
                       "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n\n[INTERNOS]\n" +
                           internos + extra);
  }

  void Script(const std::string& name, const std::string& text) { program.Write(name, text); }

  ExitStatus Run() {
    auto ended = Ends([&] { EjecutarActualizaciones(window); });
    ReleaseModule();  // what the end of the program does: roll back whatever is open
    EXPECT_TRUE(ended.has_value()) << "the run returned instead of ending the program";
    return ended.value_or(ExitStatus::Failed);
  }

  int64_t Catalogos(const std::string& sql) {
    return SqliteValue((programFiles.path() / "Corvessa/catalogos.db").string(), sql);
  }
  int64_t Internos(const std::string& sql) {
    return pg ? pg->Value(sql) : SqliteValue((programFiles.path() / "Corvessa/internos.db").string(), sql);
  }
  int64_t InternosHasTable(const std::string& table) {
    return pg ? pg->Value("SELECT count(*) FROM pg_tables WHERE tablename = '" + table + "'")
              : Internos("SELECT count(*) FROM sqlite_master WHERE name = '" + table + "'");
  }
};

INSTANTIATE_TEST_SUITE_P(Engines, RunTest, ::testing::Values("SQLITE", "POSTGRESQL"));

TEST_P(RunTest, OneTransactionPerEntityCommittedAtTheChangeAndAtTheEnd) {
  Script("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER PRIMARY KEY, nombre TEXT);\r\nGO\r\n"
                             "INSERT INTO paises VALUES(1, 'AR');\r\nGO\r\n");
  Script("CATALOGOS_02.sql", "INSERT INTO paises VALUES(2, 'UY');\r\nGO\r\n");
  Script("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER PRIMARY KEY);\r\nGO\r\n");
  Script("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\n");
  Script("INTERNOS_03.sql", "INSERT INTO usuarios VALUES(2);\r\nINSERT INTO usuarios VALUES(3);\r\nGO\r\n");

  // Seen from another connection while the run works: CATALOGOS becomes visible only when
  // the first INTERNOS script starts.
  std::vector<int64_t> catalogosSeen;
  desktop.on_pump = [&] { catalogosSeen.push_back(Catalogos("SELECT count(*) FROM sqlite_master WHERE name='paises'")); };

  EXPECT_EQ(Run(), ExitStatus::Finished);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(catalogosSeen, (std::vector<int64_t>{0, 0, 0, 1, 1, 1}));

  std::vector<std::string> expected{"clear", "status Buscando actualizaciones ... "};
  const char* names[] = {"CATALOGOS_01.sql", "CATALOGOS_02.sql", "INTERNOS_01.sql",
                         "INTERNOS_02.sql", "INTERNOS_03.sql"};
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
  EXPECT_EQ(Catalogos("SELECT count(*) FROM paises"), 2);
  EXPECT_EQ(Internos("SELECT count(*) FROM usuarios"), 3);
}

TEST_P(RunTest, FailingBatchRollsBackTheWholeEntityAndKeepsEarlierEntities) {
  Script("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  Script("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\n");
  Script("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(1);\r\nGO\r\n");
  Script("INTERNOS_03.sql", "INSERT INTO usuarios VALUES(2);\r\nGO\r\n");

  EXPECT_EQ(Run(), ExitStatus::Failed);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  const Box& box = desktop.boxes[0];
  EXPECT_EQ(box.style, 16);
  EXPECT_EQ(box.title, "¡Atencion!");
  const std::string tail =
      " Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1\r\nINSERT INTO nada VALUES(1);\r\n";
  ASSERT_GT(box.prompt.size(), tail.size());
  EXPECT_EQ(box.prompt.substr(box.prompt.size() - tail.size()), tail);
  EXPECT_NE(box.prompt.substr(0, box.prompt.size() - tail.size()).find("nada"), std::string::npos)
      << "the engine's own text names the missing table: " << box.prompt;
  EXPECT_EQ(desktop.clipboard_ops,
            (std::vector<std::string>{"clear", "set \r\nINSERT INTO nada VALUES(1);\r\n"}));
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master WHERE name='paises'"), 1);
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
  EXPECT_EQ(Run(), ExitStatus::Failed);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].style, 48);
  const std::string at180 = "\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line 180";
  ASSERT_GT(desktop.boxes[0].prompt.size(), at180.size());
  EXPECT_EQ(desktop.boxes[0].prompt.substr(desktop.boxes[0].prompt.size() - at180.size()), at180);
  EXPECT_EQ(InternosHasTable("c"), 0);
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master WHERE name='paises'"), 1);

  // The same violation in the first entity fails the commit at the change of entity.
  desktop.boxes.clear();
  InitModule();
  Script("CATALOGOS_02.sql", deferredViolation);
  EXPECT_EQ(Run(), ExitStatus::Failed);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  const std::string at130 = "\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line 130";
  ASSERT_GT(desktop.boxes[0].prompt.size(), at130.size());
  EXPECT_EQ(desktop.boxes[0].prompt.substr(desktop.boxes[0].prompt.size() - at130.size()), at130);
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master WHERE name='c'"), 0);
}

TEST_P(RunTest, ConnectionFailuresCancelTheRun) {
  Script("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  Script("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\n");
  const auto connectionFailure = [](const char* start, const char* entity, const char* file) {
    return std::string(start) + entity + " en el archivo " + file +
           " no se puede continuar con la actualizacion";
  };

  // At a change of entity: message B, the word "entidad" running into the name.
  programFiles.Write("Corvessa/quillmereconfig.ini",
                     "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n"
                     "[INTERNOS]\nTag=SQLITE\nConnection=no-such.db\n");
  EXPECT_EQ(Run(), ExitStatus::Cancelled);
  ASSERT_EQ(desktop.boxes.size(), 3u);
  EXPECT_EQ(desktop.boxes[0].style, 48);
  EXPECT_NE(desktop.boxes[0].prompt.find(
                "Entidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 80"),
            std::string::npos)
      << desktop.boxes[0].prompt;
  EXPECT_EQ(desktop.boxes[1].prompt, connectionFailure("Error estableciendo conexion con la entidad",
                                                       "INTERNOS", "INTERNOS_01.sql"));
  EXPECT_EQ(desktop.boxes[1].style, 16);
  EXPECT_EQ(desktop.boxes[1].title, "VandrelSQL v.2.0.1");
  EXPECT_EQ(desktop.boxes[2].prompt, " Actualización Cancelada. ");
  EXPECT_EQ(desktop.boxes[2].style, 16);
  EXPECT_EQ(desktop.boxes[2].title, "VandrelSQL");
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master WHERE name='paises'"), 1);

  // On the first script: message A, with the blank.
  desktop.boxes.clear();
  InitModule();
  programFiles.Write("Corvessa/quillmereconfig.ini", "[INTERNOS]\nTag=SQLITE\nConnection=internos.db\n");
  EXPECT_EQ(Run(), ExitStatus::Cancelled);
  ASSERT_EQ(desktop.boxes.size(), 3u);
  EXPECT_NE(desktop.boxes[0].prompt.find("Entidad buscada:CATALOGOS\r\n"), std::string::npos);
  EXPECT_EQ(desktop.boxes[1].prompt, connectionFailure("Error estableciendo conexion con la entidad ",
                                                       "CATALOGOS", "CATALOGOS_01.sql"));
  EXPECT_EQ(desktop.boxes[2].prompt, " Actualización Cancelada. ");
}

TEST_P(RunTest, AccessTagEndsTheRunSilently) {
  Script("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  Script("INTERNOS_01.sql", "CREATE TABLE usuarios(id INTEGER);\r\nGO\r\n");

  // At a change of entity: the earlier entity stays committed.
  programFiles.Write("Corvessa/quillmereconfig.ini",
                     "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[INTERNOS]\nTag=ACCESS\n");
  EXPECT_EQ(Run(), ExitStatus::Access);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master WHERE name='paises'"), 1);

  // On the first script: nothing begun, nothing shown.
  InitModule();
  window.events.clear();
  programFiles.Write("Corvessa/quillmereconfig.ini", "[CATALOGOS]\nTag=ACCESS\n[INTERNOS]\nTag=ACCESS\n");
  EXPECT_EQ(Run(), ExitStatus::Access);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(window.events.back(), "status Ejecutando actualización 1 de 2");
}

TEST_P(RunTest, NoScriptEndsAtOnceWithoutConnecting) {
  // A configuration that cannot be read proves no connection was asked for.
  programFiles.Write("Corvessa/quillmereconfig.ini", "this is not an ini file");
  EXPECT_EQ(Run(), ExitStatus::Finished);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_EQ(window.events, (std::vector<std::string>{"clear", "status Buscando actualizaciones ... "}));
}

// Batch numbering and the 16-bit limits: SQLite only, the engine plays no part here.
class BatchLimitTest : public RunTest {};
INSTANTIATE_TEST_SUITE_P(Sqlite, BatchLimitTest, ::testing::Values("SQLITE"));

TEST_P(BatchLimitTest, ReportShowsTheFailingBatchNumberAndText) {
  struct Case {
    std::string script;
    std::string tail;  // what follows the description
  };
  const Case cases[] = {
      {"BOGUS;\r\nGO\r\nCREATE TABLE t(x);\r\nGO\r\n",
       " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0BOGUS;\r\n"},
      {"CREATE TABLE t(x);\r\nGO\r\nINSERT INTO t VALUES(1);\r\nGO\r\nBOGUS;\r\nGO\r\n",
       " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 2\r\nBOGUS;\r\n"},
  };
  for (const Case& c : cases) {
    desktop.boxes.clear();
    desktop.clipboard_ops.clear();
    InitModule();
    Script("CATALOGOS_01.sql", "CREATE TABLE earlier(x);\r\nGO\r\n");
    Script("CATALOGOS_02.sql", c.script);
    EXPECT_EQ(Run(), ExitStatus::Failed);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    const std::string& prompt = desktop.boxes[0].prompt;
    ASSERT_GT(prompt.size(), c.tail.size());
    EXPECT_EQ(prompt.substr(prompt.size() - c.tail.size()), c.tail);
    EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master"), 0) << "earlier script rolled back too";
  }
}

TEST_P(BatchLimitTest, ScriptRemovedBeforeItsTurn) {
  Script("CATALOGOS_01.sql", "CREATE TABLE earlier(x);\r\nGO\r\n");
  Script("CATALOGOS_02.sql", "CREATE TABLE t(x);\r\nGO\r\n");
  desktop.on_pump = [&] { std::filesystem::remove(program.path() / "CATALOGOS_02.sql"); };
  EXPECT_EQ(Run(), ExitStatus::Failed);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  const std::string& prompt = desktop.boxes[0].prompt;
  const std::string tail = " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0";
  ASSERT_GT(prompt.size(), tail.size());
  EXPECT_EQ(prompt.substr(prompt.size() - tail.size()), tail);
  EXPECT_NE(prompt.substr(0, prompt.size() - tail.size()).find("CATALOGOS_02.sql"), std::string::npos)
      << "the description names the file: " << prompt;
  EXPECT_EQ(desktop.clipboard_ops, (std::vector<std::string>{"clear", "set "}));
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master"), 0);
}

TEST_P(BatchLimitTest, SixteenBitBatchCounter) {
  const std::string insert = "INSERT INTO t VALUES(1);\r\nGO\r\n";
  Script("CATALOGOS_01.sql", "CREATE TABLE t(x);\r\nGO\r\n");

  // More than 32768 batches: the limit itself overflows, nothing of the script runs.
  Script("CATALOGOS_02.sql", Repeat(insert, 32769));
  EXPECT_EQ(Run(), ExitStatus::Failed);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].prompt, "Overflow Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0");
  EXPECT_EQ(desktop.pumped, 1);

  // Exactly 32768: all run, then the step past the last index overflows and all is undone.
  desktop.boxes.clear();
  desktop.pumped = 0;
  InitModule();
  Script("CATALOGOS_02.sql", Repeat(insert, 32768));
  EXPECT_EQ(Run(), ExitStatus::Failed);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].prompt,
            "Overflow Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 32767\r\n"
            "INSERT INTO t VALUES(1);\r\n");
  EXPECT_EQ(desktop.pumped, 1 + 32768);
  EXPECT_EQ(Catalogos("SELECT count(*) FROM sqlite_master"), 0);
}

}  // namespace
}  // namespace vandrel::testing
