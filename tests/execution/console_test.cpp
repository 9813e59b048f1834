// The built program, copied into a program folder with scripts, run without a display as
// a user would run it: its exact output, its exit status and what it left in the databases.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

TEST(ConsoleTest, SuccessFailureAndCancellationAsTheUserSeesThem) {
  const Installation inst;
  Program vandrel(VANDREL_EXE, inst.program.path());
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS paises(id INTEGER);\r\nGO\r\nINSERT INTO paises VALUES(1);\r\nGO\r\n");
  inst.program.Write("INTERNOS_01.sql", "CREATE TABLE IF NOT EXISTS usuarios(id INTEGER);\r\nGO\r\n");
  Outcome o = vandrel.Run(inst.programFiles.str());
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
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM paises"), 1);
  EXPECT_EQ(inst.Value("INTERNOS", "SELECT count(*) FROM sqlite_master WHERE name='usuarios'"), 1);

  // A failing batch: the box goes to stderr, the entity is rolled back, status 1.
  inst.program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(2);\r\nGO\r\n");
  o = vandrel.Run(inst.programFiles.str());
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.err,
            "== ¡Atencion! ==\n"
            "no such table: nada Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1"
            "\r\nINSERT INTO nada VALUES(2);\r\n\n");
  EXPECT_EQ(inst.Value("INTERNOS", "SELECT count(*) FROM usuarios"), 0);
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM paises"), 2) << "CATALOGOS ran again and stays";

  // A connection that cannot be made: the three boxes in order, status 2.
  std::filesystem::remove(inst.program.path() / "INTERNOS_02.sql");
  std::filesystem::remove(inst.Db("INTERNOS"));
  o = vandrel.Run(inst.programFiles.str());
  EXPECT_EQ(o.exit, 2);
  const std::string messageB =
      "== VandrelSQL v.2.0.1 ==\n"
      "Error estableciendo conexion con la entidadINTERNOS en el archivo INTERNOS_01.sql no se "
      "puede continuar con la actualizacion\n"
      "== VandrelSQL ==\n"
      " Actualización Cancelada. \n";
  ASSERT_GT(o.err.size(), messageB.size());
  EXPECT_EQ(o.err.substr(o.err.size() - messageB.size()), messageB);
  EXPECT_EQ(o.err.rfind("== VandrelSQL v.2.0.1 ==\n", 0), 0u);
  EXPECT_NE(o.err.find("Entidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 80\n"),
            std::string::npos)
      << o.err;
}

TEST(ConsoleTest, ReaderThatGoesAwayDoesNotStopTheRun) {
  const Installation inst;
  Program vandrel(VANDREL_EXE, inst.program.path());
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  const std::string command = "cd '" + inst.program.str() +
                              "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ProgramFiles='" +
                              inst.programFiles.str() + "' bash -c './vandrelsql | head -n 1 >/dev/null; "
                              "exit ${PIPESTATUS[0]}'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name='paises'"), 1);
}

}  // namespace
}  // namespace vandrel::testing
