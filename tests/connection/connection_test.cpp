#include <gtest/gtest.h>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

// Each call makes a new manager and connection for the one command. Each step's failure
// shows its own line in the one box, returns false and leaves the connection the last call
// made. A trailing backslash in ProgramFiles doubles the separator; an unset variable leaves
// "\Corvessa\"; only the exact ACCESS tag ends the program.
TEST(EstablecerEntidadTest, EachFailingStepReportsItsLineAndKeepsTheConnection) {
  TempFolder folder;
  FolderEnv env{folder.str()};
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};
  quillmere::Register();
  folder.Write("Corvessa/catalogos.db", "");
  folder.Write("Corvessa/quillmereconfig.ini",
               "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[SYSTABLAS]\nTag=ACCESS\n[OTRA]\nTag=Access\n");
  env.environ["ProgramFiles"] = folder.str() + "\\";
  std::string entity = "CATALOGOS";
  ASSERT_TRUE(EstablecerEntidad(entity));
  const auto [firstManager, firstConnection, command] = std::tuple{GestorDatos, ConexionActual, ComandoActual};
  ASSERT_TRUE(EstablecerEntidad(entity));
  const auto kept = ConexionActual;
  EXPECT_NE(GestorDatos, firstManager);
  EXPECT_NE(kept, firstConnection);
  EXPECT_EQ(ComandoActual, command);
  entity = "SYSTABLAS";
  EXPECT_EQ(Ends([&] { EstablecerEntidad(entity); }), ExitStatus::Access);
  EXPECT_TRUE(desktop.boxes.empty());

  const std::string ini = folder.str() + "/Corvessa/quillmereconfig.ini";
  // ProgramFiles "-": the manager's class cannot be created.
  const struct { std::string entity, programFiles, says; int line; } rows[] = {
      {"CATALOGOS", "-", "ActiveX component can't create object: Quillmere.QuillMain", 10},
      {"CATALOGOS", folder.str() + "/falta\\",
       "No existe el archivo de configuración " + folder.str() + "/falta//Corvessa/quillmereconfig.ini", 40},
      {"CATALOGOS", "", "No existe el archivo de configuración /Corvessa/quillmereconfig.ini", 40},
      {"INTERNOS", folder.str(), "La entidad INTERNOS no tiene sección en " + ini, 50},
      {"OTRA", folder.str(), "Etiqueta desconocida \"Access\" para la entidad OTRA en la línea 7 de " + ini +
                                 " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)", 80},
  };
  for (auto row : rows) {
    desktop.boxes.clear();
    if (row.programFiles == "-")
      automation::RegisterClass("Quillmere.QuillMain", [] { return automation::ObjectPtr(); });
    else
      env.environ["ProgramFiles"] = row.programFiles;
    bool result = true;
    EXPECT_EQ(Ends([&] { result = EstablecerEntidad(row.entity); }), std::nullopt);
    quillmere::Register();
    EXPECT_FALSE(result);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].prompt, row.says + "Entidad buscada:" + row.entity +
                                           "\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line " + std::to_string(row.line));
    EXPECT_EQ(ConexionActual, kept);
    EXPECT_EQ(ComandoActual->ActiveConnection, kept);
  }
}

}  // namespace
}  // namespace vandrel::testing
