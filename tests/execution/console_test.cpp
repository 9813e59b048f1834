// The built program, copied into a program folder with scripts, run without a display as
// a user would run it: its exact output, its exit status and what it left in the databases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& env = {}, const std::vector<std::string>& args = {}) {
    return vandrel.Wait(vandrel.Start(inst.programFiles.str(), 0, env, args));
  }
  const Installation inst;
  Program vandrel{VANDREL_EXE, inst.program.path()};
};

// How each ending reaches the console: the progress on stdout, every box on stderr under
// its title, the exit status. (What the boxes say and what stays in the databases belongs
// to the in-process run tests.)
TEST_F(ConsoleTest, SuccessFailureAndCancellationAsTheUserSeesThem) {
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS paises(id INTEGER);\r\nGO\r\n");
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE IF NOT EXISTS usuarios(id INTEGER);\r\nGO\r\n");
  Outcome o = Run();
  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(o.out,
            "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
            "Preparando ...\n"
            "Buscando actualizaciones ... \n"
            "  CATALOGOS_01.sql\n"
            "Buscando actualizaciones 1 de 1\n"
            "  INTERNOS_01.sql\n"
            "Buscando actualizaciones 1 de 2\n"
            "Ejecutando actualización 1 de 2\n"
            "Ejecutando actualización 2 de 2\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(inst.Value("INTERNOS", "SELECT count(*) FROM sqlite_master WHERE name='usuarios'"), 1);

  inst.program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(2);\r\nGO\r\n");
  o = Run();
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.err,
            "== ¡Atencion! ==\n"
            "no such table: nada Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1"
            "\r\nINSERT INTO nada VALUES(2);\r\n\n");

  // The three boxes of a connection that cannot be made, in order.
  std::filesystem::remove(inst.program.path() / "INTERNOS_02.sql");
  std::filesystem::remove(inst.Db("INTERNOS"));
  o = Run();
  EXPECT_EQ(o.exit, 2);
  const std::string lastTwo =
      "== VandrelSQL v.2.0.1 ==\n"
      "Error estableciendo conexion con la entidadINTERNOS en el archivo INTERNOS_01.sql no se "
      "puede continuar con la actualizacion\n"
      "== VandrelSQL ==\n"
      " Actualización Cancelada. \n";
  EXPECT_EQ(o.err.rfind("== VandrelSQL v.2.0.1 ==\n", 0), 0u) << o.err;  // the first box's title
  EXPECT_GT(o.err.size(), lastTwo.size());
  EXPECT_THAT(o.err, ::testing::EndsWith(lastTwo));
}

TEST_F(ConsoleTest, ReaderThatGoesAwayDoesNotStopTheRun) {
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  const std::string command = "cd '" + inst.program.str() +
                              "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ProgramFiles='" +
                              inst.programFiles.str() + "' bash -c './vandrelsql | head -n 1 >/dev/null; "
                              "exit ${PIPESTATUS[0]}'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name='paises'"), 1);
}

// Typing an option to learn about the program must never run an update.
TEST_F(ConsoleTest, ArgumentsNeverRunTheUpdate) {
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  const std::string usage = "Uso: vandrelsql [--help | --version]\n";
  const std::string refused = "vandrelsql: argumento no reconocido: ";
  struct Row {
    std::vector<std::string> args;
    int exit;
    std::string outStart, err;
  };
  const Row rows[] = {
      {{"--help"}, 0, "Vandrel de Base de Datos de Corvessa v.2.0.1\n" + usage, ""},
      {{"--version"}, 0, "VandrelSQL v.2.0.1\n", ""},
      {{"-h"}, 64, "", refused + "-h; no se ha ejecutado nada\n" + usage},
      {{"--help", "x"}, 64, "", refused + "x; no se ha ejecutado nada\n" + usage},
      {{""}, 64, "", refused + "; no se ha ejecutado nada\n" + usage},
  };
  for (const Row& row : rows) {
    const Outcome o = Run({}, row.args);
    EXPECT_EQ(o.exit, row.exit) << row.args[0];
    // Only the start of --help's text: the rest is the help, free to change.
    EXPECT_EQ(row.outStart.empty() ? o.out : o.out.substr(0, row.outStart.size()), row.outStart) << row.args[0];
    EXPECT_EQ(o.err, row.err);
  }
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0);
}

// As a Linux user has them: a folder with a backslash in its name, a script with a
// byte-order mark and LF line ends, a single-byte locale, no ProgramFiles.
TEST_F(ConsoleTest, LinuxFoldersScriptsAndLocales) {
  std::filesystem::create_directories(inst.program.path() / "mis\\programas");
  vandrel = Program(VANDREL_EXE, inst.program.path() / "mis\\programas");
  const std::string script = "CREATE TABLE IF NOT EXISTS paises(id INTEGER);\nGO\nINSERT INTO paises VALUES(1);\nGO\n";
  inst.program.Write("mis\\programas/CATALOGOS_01.sql", "\xEF\xBB\xBF" + script);
  Outcome o = Run({"LC_ALL=C.UTF-8"});
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM paises"), 1);

  const locale_t cp1252 = newlocale(LC_ALL_MASK, "es_ES.CP1252", locale_t{});
  if (cp1252 != locale_t{}) {
    freelocale(cp1252);
    inst.program.Write("mis\\programas/CATALOGOS_01.sql", script);
    o = Run({"LC_ALL=es_ES.CP1252"});
    EXPECT_EQ(o.exit, 0) << o.err;
    EXPECT_NE(o.out.find("\nEjecutando actualizaci\xF3n 1 de 1\n"), std::string::npos) << o.out;
    EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM paises"), 2);
  }

  if (!std::filesystem::exists("/opt/Corvessa/quillmereconfig.ini")) {
    o = vandrel.Run("");
    EXPECT_EQ(o.exit, 2);
    EXPECT_THAT(o.err, ::testing::HasSubstr("No existe el archivo de configuración /opt/Corvessa/quillmereconfig.ini"));
  }
}

}  // namespace
}  // namespace vandrel::testing
