// Bad scripts, folders and configurations, each with the outcome a person can act on: the
// message says what and where, the exit status fits, each entity is whole or untouched,
// and no message or clipboard text shows a password or a whole connection string.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "Mod_Main.h"
#include "faults/endings.h"
#include "faults/workload.h"
#include "quillmere/quillmere.h"
#include "support/databases.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {
namespace fs = std::filesystem;

class BadInputTest : public ::testing::Test {
 protected:
  TempFolder program, programFiles;
  FolderEnv env{program.str()};
  RecordingStatus window;
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};
  const std::string pgLine = "Connection=host=127.0.0.1 port=1 dbname=x user=y password=" +
                             std::string(kSecret) + "\n";

  void SetUp() override {
    quillmere::Register();
    env.environ["ProgramFiles"] = programFiles.str();
    programFiles.Write("Corvessa/catalogos.db", "");
    programFiles.Write("Corvessa/internos.db", "");
    Config("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[INTERNOS]\nTag=SQLITE\n"
           "Connection=internos.db\n[NCM]\nTag=POSTGRESQL\n" + pgLine);
  }
  void TearDown() override {
    EXPECT_EQ(CheckNoSecret(desktop, {kSecret, pgLine.substr(11, pgLine.size() - 12)}), "");
  }
  void Config(const std::string& text) { programFiles.Write("Corvessa/quillmereconfig.ini", text); }

  ExitStatus Run() {
    desktop.boxes.clear();
    desktop.clipboard_ops.clear();
    window.events.clear();
    InitModule();
    auto ended = Ends([&] { EjecutarActualizaciones(window); });
    ReleaseModule();
    EXPECT_TRUE(ended.has_value());
    const ExitStatus status = ended.value_or(ExitStatus::Failed);
    EXPECT_EQ(CheckEnding(status, desktop.boxes), "");
    return status;
  }
  std::string First() const { return desktop.boxes.empty() ? "" : desktop.boxes[0].prompt; }
  int64_t Catalogos(const std::string& sql) {
    return SqliteValue((programFiles.path() / "Corvessa/catalogos.db").string(), sql);
  }
  int64_t Tables() { return Catalogos("SELECT count(*) FROM sqlite_master WHERE type = 'table'"); }
};

#define EXPECT_SAYS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

TEST_F(BadInputTest, TextNotValidInTheCodesetNamesTheFileAndOffset) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x TEXT);\r\nGO\r\n");
  program.Write("CATALOGOS_02.sql", "INSERT INTO a VALUES('caf\xE9');\r\nGO\r\n");
  EXPECT_EQ(Run(), ExitStatus::Failed);
  EXPECT_EQ(desktop.boxes.at(0).title, "¡Atencion!");
  EXPECT_SAYS(First(), "CATALOGOS_02.sql: the byte at offset 25 is not valid UTF-8 text");
  EXPECT_SAYS(First(), " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0");
  EXPECT_EQ(Tables(), 0) << "the entity's earlier script is rolled back too";
}

TEST_F(BadInputTest, NulByteIsRefusedNotCutShort) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  program.Write("CATALOGOS_02.sql", std::string("INSERT INTO a VALUES(1);\0INSERT INTO a VALUES(2);\r\nGO\r\n", 55));
  EXPECT_EQ(Run(), ExitStatus::Failed);
  EXPECT_SAYS(First(), "NUL character at offset");
  EXPECT_SAYS(First(), "Script: CATALOGOS_02.sql - Linea: 0");
  EXPECT_EQ(Tables(), 0);
}

// A script of `megabytes` MiB in batches of 64 KiB of inserts; returns the rows it inserts.
int64_t WriteLargeScript(const fs::path& path, int64_t megabytes) {
  std::ofstream out(path, std::ios::binary);
  out << "CREATE TABLE grande(id INTEGER, relleno TEXT);\r\nGO\r\n";
  const std::string filler(90, 'x');
  int64_t rows = 0, written = 0;
  while (written < megabytes << 20) {
    std::string batch;
    while (batch.size() < 65536) {
      batch += "INSERT INTO grande VALUES(" + std::to_string(++rows) + ", '" + filler + "');\r\n";
    }
    batch += "GO\r\n";
    out << batch;
    written += static_cast<int64_t>(batch.size());
  }
  return rows;
}

TEST_F(BadInputTest, LargeScriptRunsWhole) {
  // 1 GiB with VANDREL_LONG_TESTS=1.
  const char* longRun = std::getenv("VANDREL_LONG_TESTS");
  const int64_t mib = longRun != nullptr && std::string(longRun) == "1" ? 1024 : 64;
  const int64_t rows = WriteLargeScript(program.path() / "CATALOGOS_01.sql", mib);
  EXPECT_EQ(Run(), ExitStatus::Finished) << First().substr(0, 1000);
  EXPECT_EQ(Catalogos("SELECT count(*) FROM grande"), rows);
}

TEST_F(BadInputTest, SingleLineOf100MiB) {
  const std::size_t size = std::size_t{100} << 20;
  program.Write("CATALOGOS_01.sql", "CREATE TABLE linea(t TEXT);\r\nGO\r\nINSERT INTO linea VALUES('" +
                                        std::string(size, 'y') + "');\r\nGO\r\n");
  EXPECT_EQ(Run(), ExitStatus::Finished) << First().substr(0, 1000);
  EXPECT_EQ(Catalogos("SELECT length(t) FROM linea"), static_cast<int64_t>(size));
}

TEST_F(BadInputTest, ScriptReplacedByAFolderOrRemovedBeforeItsTurn) {
  for (bool folder : {true, false}) {
    SCOPED_TRACE(folder ? "replaced by a folder" : "removed");
    program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
    program.Write("CATALOGOS_02.sql", "INSERT INTO a VALUES(1);\r\nGO\r\n");
    desktop.on_pump = [&] {
      const fs::path second = program.path() / "CATALOGOS_02.sql";
      if (fs::is_regular_file(second)) {
        fs::remove(second);
        if (folder) fs::create_directory(second);
      }
    };
    EXPECT_EQ(Run(), ExitStatus::Failed);
    EXPECT_SAYS(First(), "CATALOGOS_02.sql: " + std::string(folder ? "Is a directory" : "No such file or directory"));
    EXPECT_SAYS(First(), "Script: CATALOGOS_02.sql - Linea: 0");
    EXPECT_EQ(Tables(), 0);
    fs::remove_all(program.path() / "CATALOGOS_02.sql");
  }
}

TEST_F(BadInputTest, FileNamesWithBlanksAccentsAndQuotes) {
  const std::string names[] = {"CATALOGOS_01 alta de países.sql", "CATALOGOS_02 'simple' \"doble\".sql",
                               "CATALOGOS_03 `ñandú` ; $(x).sql"};
  program.Write(names[0], "CREATE TABLE IF NOT EXISTS a(x INTEGER);\r\nGO\r\n");
  program.Write(names[1], "INSERT INTO a VALUES(1);\r\nGO\r\n");
  program.Write(names[2], "INSERT INTO a VALUES(2);\r\nGO\r\n");
  EXPECT_EQ(Run(), ExitStatus::Finished);
  for (const auto& n : names)
    EXPECT_NE(std::find(window.events.begin(), window.events.end(), "add " + n), window.events.end()) << n;
  EXPECT_EQ(Catalogos("SELECT count(*) FROM a"), 2);

  program.Write(names[2], "INSERT INTO nada VALUES(2);\r\nGO\r\n");
  EXPECT_EQ(Run(), ExitStatus::Failed);
  EXPECT_SAYS(First(), "Script: " + names[2] + " - Linea: 0");
  EXPECT_EQ(Catalogos("SELECT count(*) FROM a"), 2) << "the second run is rolled back whole";
}

TEST_F(BadInputTest, TenThousandScripts) {
  for (int i = 0; i < 10000; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "INTERNOS_%05d.sql", i);
    program.Write(name, i == 0 ? "CREATE TABLE muchos(i INTEGER);\r\nGO\r\n"
                               : i % 1000 == 0 ? "INSERT INTO muchos VALUES(" + std::to_string(i) + ");\r\nGO\r\n" : "");
  }
  EXPECT_EQ(Run(), ExitStatus::Finished) << First();
  EXPECT_EQ(window.events.at(2), "add INTERNOS_00000.sql");
  EXPECT_EQ(window.events.back(), "value 10000");
  EXPECT_NE(std::find(window.events.begin(), window.events.end(), "add INTERNOS_09999.sql"), window.events.end());
  EXPECT_EQ(SqliteValue((programFiles.path() / "Corvessa/internos.db").string(), "SELECT count(*) FROM muchos"), 9);
}

TEST_F(BadInputTest, ConfigurationFaultsCancelWithTheirCause) {
  struct Case {
    const char* name;
    std::string ini;  // "-" for no file
    ExitStatus status;
    std::string says;
  };
  const std::string ini = programFiles.str() + "/Corvessa/quillmereconfig.ini";
  const Case cases[] = {
      {"missing", "-", ExitStatus::Cancelled, "No existe el archivo de configuración " + ini},
      {"empty", "", ExitStatus::Cancelled, "La entidad CATALOGOS no tiene sección en " + ini},
      {"malformed", "[CATALOGOS]\nTag=SQLITE\nesto no es una clave\n", ExitStatus::Cancelled,
       "Línea 3 mal formada en " + ini},
      {"duplicate section", "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[CATALOGOS]\nTag=SQLITE\n",
       ExitStatus::Cancelled, "Línea 4 de " + ini + ": la sección [CATALOGOS] ya aparece en la línea 1"},
      {"unknown tag", "[CATALOGOS]\nTag=MYSQL\nConnection=catalogos.db\n", ExitStatus::Cancelled,
       "Etiqueta desconocida \"MYSQL\" para la entidad CATALOGOS en la línea 2 de " + ini},
      {"missing Connection", "[CATALOGOS]\nTag=SQLITE\n", ExitStatus::Cancelled,
       "Falta Connection para la entidad CATALOGOS"},
      {"SQLite file that does not exist", "[CATALOGOS]\nTag=SQLITE\nConnection=no/existe.db\n",
       ExitStatus::Cancelled, "No existe la base de datos de la entidad CATALOGOS (SQLITE, " +
                                  programFiles.str() + "/Corvessa/no/existe.db)"},
      {"server refusing connections", "[CATALOGOS]\nTag=POSTGRESQL\n" + pgLine, ExitStatus::Cancelled,
       "Connection refused"},
      {"ACCESS", "[CATALOGOS]\nTag=ACCESS\n", ExitStatus::Access, ""},
  };
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(ini);
    if (std::string(c.ini) != "-") Config(c.ini);
    EXPECT_EQ(Run(), c.status);
    if (c.status == ExitStatus::Cancelled) {
      EXPECT_SAYS(First(), c.says);
      EXPECT_SAYS(First(), "Entidad buscada:CATALOGOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line ");
    } else {
      EXPECT_TRUE(desktop.boxes.empty());
    }
    EXPECT_EQ(Tables(), 0);
  }
}

TEST_F(BadInputTest, WrongPasswordIsRefusedWithoutShowingIt) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  Config("[CATALOGOS]\nTag=POSTGRESQL\nConnection=" + TestServer() + " user=vandrel_pw password=" +
         kSecret + "\n");
  EXPECT_EQ(Run(), ExitStatus::Cancelled);
  EXPECT_SAYS(First(), "password authentication failed for user \"vandrel_pw\"");
  EXPECT_SAYS(First(), "Entidad buscada:CATALOGOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 80");
}

TEST_F(BadInputTest, ProgramFilesUnsetOrPointingNowhere) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  for (std::string where : {std::string(""), std::string("/no/such/folder")}) {
    SCOPED_TRACE(where);
    env.environ["ProgramFiles"] = where;
    EXPECT_EQ(Run(), ExitStatus::Cancelled);
    EXPECT_SAYS(First(), "No existe el archivo de configuración " + where + "/Corvessa/quillmereconfig.ini");
  }
}

TEST_F(BadInputTest, DatabaseLockedByAnotherProgramBeyondTheWait) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((programFiles.path() / "Corvessa/catalogos.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(Run(), ExitStatus::Failed);
  EXPECT_SAYS(First(), "database is locked (" + (programFiles.path() / "Corvessa/catalogos.db").string() + ")");
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Tables(), 0);
}

}  // namespace
}  // namespace vandrel::testing
