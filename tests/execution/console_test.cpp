// The built program, copied into a program folder with scripts, run without a display as
// a user would run it: its exact output, its exit status and what it left in the databases.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/databases.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class ConsoleTest : public ::testing::Test {
 protected:
  TempFolder program;
  TempFolder programFiles;
  std::string out, err;

  void SetUp() override {
    std::filesystem::copy_file(VANDREL_EXE, program.path() / "vandrelsql");
    programFiles.Write("Corvessa/catalogos.db", "");
    programFiles.Write("Corvessa/internos.db", "");
    programFiles.Write("Corvessa/quillmereconfig.ini",
                       "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n"
                       "[INTERNOS]\nTag=SQLITE\nConnection=internos.db\n");
  }

  int Run() {
    const auto dir = program.path();
    const std::string command = "cd '" + dir.string() +
                                "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "ProgramFiles='" + programFiles.str() +
                                "' ./vandrelsql >stdout.txt 2>stderr.txt </dev/null";
    const int status = std::system(command.c_str());
    out = Slurp(dir / "stdout.txt");
    err = Slurp(dir / "stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int64_t Count(const char* db, const std::string& sql) {
    return SqliteValue((programFiles.path() / "Corvessa" / db).string(), sql);
  }
};

TEST_F(ConsoleTest, SuccessFailureAndCancellationAsTheUserSeesThem) {
  program.Write("CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS paises(id INTEGER);\r\nGO\r\nINSERT INTO paises VALUES(1);\r\nGO\r\n");
  program.Write("INTERNOS_01.sql", "CREATE TABLE IF NOT EXISTS usuarios(id INTEGER);\r\nGO\r\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(out,
            "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
            "Preparando ...\n"
            "Buscando actualizaciones ... \n"
            "  CATALOGOS_01.sql\n"
            "Buscando actualizaciones 1 de 1\n"
            "  INTERNOS_01.sql\n"
            "Buscando actualizaciones 1 de 2\n"
            "Ejecutando actualización 1 de 2\n"
            "Ejecutando actualización 2 de 2\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Count("catalogos.db", "SELECT count(*) FROM paises"), 1);
  EXPECT_EQ(Count("internos.db", "SELECT count(*) FROM sqlite_master WHERE name='usuarios'"), 1);

  // A failing batch: the box goes to stderr, the entity is rolled back, status 1.
  program.Write("INTERNOS_02.sql", "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(2);\r\nGO\r\n");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(err,
            "== ¡Atencion! ==\n"
            "no such table: nada Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1"
            "\r\nINSERT INTO nada VALUES(2);\r\n\n");
  EXPECT_EQ(Count("internos.db", "SELECT count(*) FROM usuarios"), 0);
  EXPECT_EQ(Count("catalogos.db", "SELECT count(*) FROM paises"), 2) << "CATALOGOS ran again and stays";

  // A connection that cannot be made: the three boxes in order, status 2.
  std::filesystem::remove(program.path() / "INTERNOS_02.sql");
  std::filesystem::remove(programFiles.path() / "Corvessa/internos.db");
  EXPECT_EQ(Run(), 2);
  const std::string messageB =
      "== VandrelSQL v.2.0.1 ==\n"
      "Error estableciendo conexion con la entidadINTERNOS en el archivo INTERNOS_01.sql no se "
      "puede continuar con la actualizacion\n"
      "== VandrelSQL ==\n"
      " Actualización Cancelada. \n";
  ASSERT_GT(err.size(), messageB.size());
  EXPECT_EQ(err.substr(err.size() - messageB.size()), messageB);
  EXPECT_EQ(err.rfind("== VandrelSQL v.2.0.1 ==\n", 0), 0u);
  EXPECT_NE(err.find("Entidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 80\n"),
            std::string::npos)
      << err;
}

}  // namespace
}  // namespace vandrel::testing
