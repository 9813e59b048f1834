// Bad scripts, folders and configurations, each with the outcome a person can act on: the
// message says what and where, the exit status fits, each entity is whole or untouched,
// and no message or clipboard text shows a password or a whole connection string.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "stress/endings.h"
#include "stress/workload.h"
#include "support/silent_server.h"
#include "support/update_run.h"

namespace vandrel::testing {
namespace {
namespace fs = std::filesystem;

const std::string kPgLine = "Connection=host=127.0.0.1 port=1 dbname=x user=y password=" + std::string(kSecret) + "\n";
const std::string kOdbcLine = "Connection=Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Uid=y;Pwd=" +
                              std::string(kSecret) + "\n";

class BadInputTest : public ::testing::Test, public UpdateRun {
 protected:
  BadInputTest() { Config(SqliteSection("CATALOGOS") + SqliteSection("INTERNOS") + "[NCM]\nTag=POSTGRESQL\n" + kPgLine); }
  void TearDown() override {
    EXPECT_EQ(CheckNoSecret(desktop, {kSecret, kPgLine.substr(11, kPgLine.size() - 12),
                                      kOdbcLine.substr(11, kOdbcLine.size() - 12)}), "");
  }
  // The run, whose ending must be one of the program's.
  ExitStatus Checked() {
    const ExitStatus status = Update();
    EXPECT_EQ(CheckEnding(status, desktop.boxes), "");
    return status;
  }
  int64_t Tables() { return Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE type = 'table'"); }
};

#define EXPECT_SAYS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

TEST_F(BadInputTest, TextNotValidInTheCodesetOrWithANulIsRefusedNotCutShort) {
  const std::pair<std::string, std::string> cases[] = {
      {"INSERT INTO a VALUES('caf\xE9');\r\nGO\r\n",
       "CATALOGOS_02.sql: the byte at offset 25 (line 1) is not valid UTF-8 text"},
      {std::string("INSERT INTO a VALUES(1);\0INSERT INTO a VALUES(2);\r\nGO\r\n", 55), "NUL character at offset"},
  };
  for (const auto& [script, says] : cases) {
    program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x TEXT);\r\nGO\r\n");
    program.Write("CATALOGOS_02.sql", script);
    EXPECT_EQ(Checked(), ExitStatus::Failed);
    EXPECT_EQ(desktop.boxes.at(0).title, "¡Atencion!");
    EXPECT_SAYS(First(), says);
    EXPECT_SAYS(First(), " Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0");
    EXPECT_EQ(Tables(), 0) << "the entity's earlier script is rolled back too";
  }
}

TEST_F(BadInputTest, LargeScriptAndSingleLineOf100MiBRunWhole) {
  // 64 MiB in batches of 64 KiB of inserts; 1 GiB with VANDREL_LONG_TESTS=1.
  const int64_t size = int64_t{LongTests() ? 1024 : 64} << 20;
  int64_t rows = 0, written = 0;
  {
    std::ofstream out(program.path() / "CATALOGOS_01.sql", std::ios::binary);
    out << "CREATE TABLE grande(id INTEGER, relleno TEXT);\r\nGO\r\n";
    while (written < size) {
      std::string batch;
      while (batch.size() < 65536)
        batch += "INSERT INTO grande VALUES(" + std::to_string(++rows) + ", '" + std::string(90, 'x') + "');\r\n";
      out << batch << "GO\r\n";
      written += static_cast<int64_t>(batch.size());
    }
  }
  const std::size_t line = std::size_t{100} << 20;
  program.Write("CATALOGOS_02.sql", "CREATE TABLE linea(t TEXT);\r\nGO\r\nINSERT INTO linea VALUES('" +
                                        std::string(line, 'y') + "');\r\nGO\r\n");
  EXPECT_EQ(Checked(), ExitStatus::Finished) << First().substr(0, 1000);
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM grande"), rows);
  EXPECT_EQ(Value("CATALOGOS", "SELECT length(t) FROM linea"), static_cast<int64_t>(line));
}

// A named pipe would block the open for ever, a link to a device be read until memory
// runs out, both with the entity's transaction open.
TEST_F(BadInputTest, ScriptReplacedBeforeItsTurn) {
  const fs::path second = program.path() / "CATALOGOS_02.sql";
  const struct {
    const char* what;
    std::function<void()> replace;
    const char* says;
  } cases[] = {
      {"a folder", [&] { fs::create_directory(second); }, "Is a directory"},
      {"nothing", [] {}, "No such file or directory"},
      {"a named pipe", [&] { ASSERT_EQ(mkfifo(second.c_str(), 0600), 0); },
       "it is a named pipe, not a regular file"},
      {"a link to a device", [&] { fs::create_symlink("/dev/zero", second); },
       "it is a device, not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
    program.Write("CATALOGOS_02.sql", "INSERT INTO a VALUES(1);\r\nGO\r\n");
    desktop.on_pump = [&] {
      if (!fs::is_regular_file(second) || fs::is_symlink(second)) return;
      fs::remove(second);
      c.replace();
    };
    EXPECT_EQ(Checked(), ExitStatus::Failed);
    EXPECT_SAYS(First(), "Cannot open ");
    EXPECT_SAYS(First(), "CATALOGOS_02.sql: " + std::string(c.says));
    EXPECT_THAT(First(), ::testing::EndsWith(" Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0"));
    EXPECT_EQ(desktop.clipboard_ops, (std::vector<std::string>{"clear", "set "})) << "no batch text";
    EXPECT_EQ(Tables(), 0);
    fs::remove_all(second);
  }
}

TEST_F(BadInputTest, FileNamesWithBlanksAccentsAndQuotes) {
  const std::string names[] = {"CATALOGOS_01 alta de países.sql", "CATALOGOS_02 'simple' \"doble\".sql",
                               "CATALOGOS_03 `ñandú` ; $(x).sql"};
  program.Write(names[0], "CREATE TABLE IF NOT EXISTS a(x INTEGER);\r\nGO\r\n");
  program.Write(names[1], "INSERT INTO a VALUES(1);\r\nGO\r\n");
  program.Write(names[2], "INSERT INTO a VALUES(2);\r\nGO\r\n");
  EXPECT_EQ(Checked(), ExitStatus::Finished);
  for (const auto& n : names)
    EXPECT_NE(std::find(window.events.begin(), window.events.end(), "add " + n), window.events.end()) << n;
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM a"), 2);

  program.Write(names[2], "INSERT INTO nada VALUES(2);\r\nGO\r\n");
  EXPECT_EQ(Checked(), ExitStatus::Failed);
  EXPECT_SAYS(First(), "Script: " + names[2] + " - Linea: 0");
  EXPECT_EQ(Value("CATALOGOS", "SELECT count(*) FROM a"), 2) << "the second run is rolled back whole";
}

TEST_F(BadInputTest, TenThousandScripts) {
  for (int i = 0; i < 10000; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "INTERNOS_%05d.sql", i);
    program.Write(name, i == 0 ? "CREATE TABLE muchos(i INTEGER);\r\nGO\r\n"
                               : i % 1000 == 0 ? "INSERT INTO muchos VALUES(" + std::to_string(i) + ");\r\nGO\r\n" : "");
  }
  EXPECT_EQ(Checked(), ExitStatus::Finished) << First();
  EXPECT_EQ(window.events.at(2), "add INTERNOS_00000.sql");
  EXPECT_EQ(window.events.back(), "value 10000");
  EXPECT_NE(std::find(window.events.begin(), window.events.end(), "add INTERNOS_09999.sql"), window.events.end());
  EXPECT_EQ(Value("INTERNOS", "SELECT count(*) FROM muchos"), 9);
}

TEST_F(BadInputTest, ConfigurationFaultsCancelWithTheirCause) {
  struct Case {
    const char* name;
    int line;         // of EstablecerEntidad that fails; 60 ends quietly, for ACCESS
    std::string ini;  // "-" for no file
    std::string says;
    std::string programFiles = "";  // when not the installation's
  };
  const std::string ini = Installation::Ini();
  const SilentServer silent;
  const std::string silentPort = std::to_string(silent.port());
  std::vector<Case> cases = {
      {"missing", 40, "-", "No existe el archivo de configuración " + ini},
      {"empty", 50, "", "La entidad CATALOGOS no tiene sección en " + ini},
      {"malformed", 40, "[CATALOGOS]\nTag=SQLITE\nesto no es una clave\n", "Línea 3 mal formada en " + ini},
      {"duplicate section", 40, "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[CATALOGOS]\nTag=SQLITE\n",
       "Línea 4 de " + ini + ": la sección [CATALOGOS] ya aparece en la línea 1"},
      {"unknown tag", 80, "[CATALOGOS]\nTag=MYSQL\nConnection=catalogos.db\n",
       "Etiqueta desconocida \"MYSQL\" para la entidad CATALOGOS en la línea 2 de " + ini},
      {"missing Connection", 80, "[CATALOGOS]\nTag=SQLITE\n", "Falta Connection para la entidad CATALOGOS"},
      {"SQLite file that does not exist", 80, "[CATALOGOS]\nTag=SQLITE\nConnection=no/existe.db\n",
       "No existe la base de datos de la entidad CATALOGOS (SQLITE, " + programFiles.str() + "/Corvessa/no/existe.db)"},
      {"server refusing connections", 80, "[CATALOGOS]\nTag=POSTGRESQL\n" + kPgLine, "Connection refused"},
      {"ODBC server refusing connections", 80, "[CATALOGOS]\nTag=ODBC\n" + kOdbcLine,
       "No se puede abrir la base de datos de la entidad CATALOGOS"},
      {"server that never answers", 80, "[CATALOGOS]\nTag=POSTGRESQL\nConnection=host=127.0.0.1 port=" + silentPort +
       " dbname=x connect_timeout=1 password=" + kSecret + "\n", "timeout expired"},
      {"ODBC server that never answers", 80, "[CATALOGOS]\nTag=ODBC\nConnection=Driver={PostgreSQL Unicode};"
       "Server=127.0.0.1;Port=" + silentPort + ";Uid=y;pqopt={connect_timeout=1};Pwd=" + kSecret + "\n", "timeout expired"},
      {"ACCESS", 60, "[CATALOGOS]\nTag=ACCESS\n", ""},
      {"ProgramFiles unset", 40, "-", "No existe el archivo de configuración /Corvessa/quillmereconfig.ini", "unset"},
      {"ProgramFiles pointing nowhere", 40, "-",
       "No existe el archivo de configuración /no/such/folder/Corvessa/quillmereconfig.ini", "/no/such/folder"},
  };
  if (!TestServer().empty())
    cases.push_back({"wrong password", 80, "[CATALOGOS]\nTag=POSTGRESQL\nConnection=" + TestServer() +
                     " user=vandrel_pw password=" + kSecret + "\n", "password authentication failed for user \"vandrel_pw\""});
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(ini);
    if (c.ini != "-") Config(c.ini);
    env.environ["ProgramFiles"] = c.programFiles.empty() ? programFiles.str()
                                  : c.programFiles == "unset" ? "" : c.programFiles;
    if (c.line == 60) {
      EXPECT_EQ(Checked(), ExitStatus::Access);
      EXPECT_TRUE(desktop.boxes.empty());
    } else {
      EXPECT_EQ(Checked(), ExitStatus::Cancelled);
      EXPECT_SAYS(First(), c.says);
      EXPECT_THAT(First(), ::testing::EndsWith("Entidad buscada:CATALOGOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line " +
                                               std::to_string(c.line)));
    }
    EXPECT_EQ(Tables(), 0);
  }
}

TEST_F(BadInputTest, DatabaseLockedByAnotherProgramBeyondTheWait) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(Db("CATALOGOS").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(Checked(), ExitStatus::Failed);
  EXPECT_SAYS(First(), "database is locked (" + Db("CATALOGOS") + ")");
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Tables(), 0);
}

}  // namespace
}  // namespace vandrel::testing
