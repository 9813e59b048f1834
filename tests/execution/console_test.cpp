// The built program run without a display, as a user runs it: its exact output, its exit
// status and what it left in the databases.
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
  int64_t Paises() const { return inst.Value("CATALOGOS", "SELECT count(*) FROM paises"); }
  const Installation inst;
  Program vandrel{VANDREL_EXE, inst.program.path()};
};

// Progress on stdout, every box on stderr under its title, and the exit status. Folder, script
// and locale as Linux users have them: a backslash in the folder's name, a byte-order mark and
// LF line ends, the C locale (which gets UTF-8) and a single-byte locale.
TEST_F(ConsoleTest, EachEndingAsTheUserSeesIt) {
  const std::string paises = "CREATE TABLE IF NOT EXISTS paises(id);\nGO\nINSERT INTO paises VALUES(1);\nGO\n";
  const auto folder = inst.program.Write("mis\\programas/CATALOGOS_01.sql", "\xEF\xBB\xBF" + paises).parent_path();
  inst.program.Write("mis\\programas/INTERNOS_01.sql", "CREATE TABLE IF NOT EXISTS usuarios(id INTEGER);\r\nGO\r\n");
  vandrel = Program(VANDREL_EXE, folder);
  Outcome o = Run({"LC_ALL=C"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(BeforeSummary(o.out), "Vandrel de Base de Datos de Corvessa v.2.0.1\nPreparando ...\nBuscando actualizaciones ... \n"
                   "  CATALOGOS_01.sql\nBuscando actualizaciones 1 de 1\n"
                   "  INTERNOS_01.sql\nBuscando actualizaciones 1 de 2\n"
                   "Ejecutando actualización 1 de 2\nEjecutando actualización 2 de 2\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(Paises(), 1);

  // A reader that goes away does not stop the run.
  const std::string command = "cd '" + folder.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                              "ProgramFiles='" + inst.programFiles.str() +
                              "' bash -c './vandrelsql | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Paises(), 2);

  if (const locale_t cp1252 = newlocale(LC_ALL_MASK, "es_ES.CP1252", locale_t{})) {
    freelocale(cp1252);
    inst.program.Write("mis\\programas/CATALOGOS_01.sql", paises);
    o = Run({"LC_ALL=es_ES.CP1252"});
    EXPECT_EQ(o.exit, 0) << o.err;
    EXPECT_NE(o.out.find("\nEjecutando actualizaci\xF3n 1 de 2\n"), std::string::npos) << o.out;
    EXPECT_EQ(Paises(), 3);
  }

  inst.program.Write("mis\\programas/INTERNOS_02.sql",
                     "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(2);\r\nGO\r\n");
  o = Run();
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.err, "== ¡Atencion! ==\nno such table: nada Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1"
                   "\r\nINSERT INTO nada VALUES(2);\r\n\n");

  std::filesystem::remove(folder / "INTERNOS_02.sql");
  std::filesystem::remove(inst.Db("INTERNOS"));
  o = Run();
  EXPECT_EQ(o.exit, 2);
  EXPECT_EQ(o.err, "== VandrelSQL v.2.0.1 ==\nNo existe la base de datos de la entidad INTERNOS (SQLITE, " +
                       inst.Db("INTERNOS") + ")Entidad buscada:INTERNOS\r\n"
                       "in VandrelSQL.Mod_Main.EstablecerEntidad at line 80\n== VandrelSQL v.2.0.1 ==\n"
                       "Error estableciendo conexion con la entidadINTERNOS en el archivo INTERNOS_01.sql no se "
                       "puede continuar con la actualizacion\n== VandrelSQL ==\n Actualización Cancelada. \n");

  if (!std::filesystem::exists("/opt/Corvessa/quillmereconfig.ini")) {  // without ProgramFiles
    o = vandrel.Run("");
    EXPECT_EQ(o.exit, 2);
    EXPECT_THAT(o.err, ::testing::HasSubstr("No existe el archivo de configuración /opt/Corvessa/quillmereconfig.ini"));
  }
}

// Typing an option to learn about the program must never run an update.
TEST_F(ConsoleTest, ArgumentsNeverRunTheUpdate) {
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  const std::string usage = "Uso: vandrelsql [CARPETA | --help | --version]\n";
  const std::string refused = "vandrelsql: argumento no reconocido: ";
  // Of --help's text only the start: the rest is free to change.
  const struct { std::vector<std::string> args; int exit; std::string outStart, err; } rows[] = {
      {{"--help"}, 0, "Vandrel de Base de Datos de Corvessa v.2.0.1\n" + usage, ""},
      {{"--version"}, 0, "VandrelSQL v.2.0.1\n", ""},
      {{"-h"}, 64, "", refused + "-h; no se ha ejecutado nada\n" + usage},
      {{"--help", "x"}, 64, "", refused + "x; no se ha ejecutado nada\n" + usage},
      {{""}, 64, "", refused + "; no se ha ejecutado nada\n" + usage},
  };
  for (const auto& row : rows) {
    const Outcome o = Run({}, row.args);
    EXPECT_EQ(o.exit, row.exit) << row.args[0];
    EXPECT_EQ(row.outStart.empty() ? o.out : o.out.substr(0, row.outStart.size()), row.outStart) << row.args[0];
    EXPECT_EQ(o.err, row.err);
  }
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0);
}

}  // namespace
}  // namespace vandrel::testing
