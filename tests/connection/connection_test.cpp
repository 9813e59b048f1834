#include <gtest/gtest.h>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

class EstablecerEntidadTest : public ::testing::Test {
 protected:
  EstablecerEntidadTest() { ProgramFiles(folder.str()); }
  ~EstablecerEntidadTest() override { quillmere::Register(); }
  void ProgramFiles(const std::string& value) { env.environ["ProgramFiles"] = value; }  // "" for unset

  void WriteIni(const std::string& ini) { folder.Write("Corvessa/quillmereconfig.ini", ini); }
  bool Call(std::string entity) { return EstablecerEntidad(entity); }
  std::string Ini() const { return folder.str() + "/Corvessa/quillmereconfig.ini"; }

  TempFolder folder;
  FolderEnv env{folder.str()};
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};
  const bool registered = (quillmere::Register(), true);
};

// Each call makes a new manager and connection for the one command. Each step's failure
// shows its own line in the one box, returns false and leaves the connection the last call
// made. A trailing backslash in ProgramFiles doubles the separator;
// an unset variable leaves "\Corvessa\"; only the exact ACCESS tag ends the program.
TEST_F(EstablecerEntidadTest, EachFailingStepReportsItsLineAndKeepsTheConnection) {
  folder.Write("Corvessa/catalogos.db", "");
  WriteIni("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n"
           "[SYSTABLAS]\nTag=ACCESS\n[OTRA]\nTag=Access\nConnection=x\n");
  ProgramFiles(folder.str() + "\\");
  ASSERT_TRUE(Call("CATALOGOS"));
  const auto firstManager = GestorDatos;
  const auto firstConnection = ConexionActual;
  const auto command = ComandoActual;
  ASSERT_TRUE(Call("CATALOGOS"));
  const auto kept = ConexionActual;
  EXPECT_NE(GestorDatos, firstManager);
  EXPECT_NE(kept, firstConnection);
  EXPECT_EQ(ComandoActual, command);
  EXPECT_EQ(Ends([&] { Call("SYSTABLAS"); }), ExitStatus::Access);
  EXPECT_TRUE(desktop.boxes.empty());
  const struct {
    std::string entity, programFiles;  // "-": the manager's class cannot be created
    std::string says;
    int line;
  } rows[] = {
      {"CATALOGOS", "-", "ActiveX component can't create object: Quillmere.QuillMain", 10},
      {"CATALOGOS", folder.str() + "/falta\\",
       "No existe el archivo de configuración " + folder.str() + "/falta//Corvessa/quillmereconfig.ini", 40},
      {"CATALOGOS", "", "No existe el archivo de configuración /Corvessa/quillmereconfig.ini", 40},
      {"INTERNOS", folder.str(), "La entidad INTERNOS no tiene sección en " + Ini(), 50},
      {"OTRA", folder.str(), "Etiqueta desconocida \"Access\" para la entidad OTRA en la línea 7 de " + Ini() +
       " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)", 80},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.says);
    desktop.boxes.clear();
    if (row.programFiles == "-")
      automation::RegisterClass("Quillmere.QuillMain", [] { return automation::ObjectPtr(); });
    else
      ProgramFiles(row.programFiles);
    bool result = true;
    EXPECT_EQ(Ends([&] { result = Call(row.entity); }), std::nullopt);
    quillmere::Register();
    EXPECT_FALSE(result);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].prompt, row.says + "Entidad buscada:" + row.entity +
                                           "\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line " +
                                           std::to_string(row.line));
    EXPECT_EQ(ConexionActual, kept);
    EXPECT_EQ(ComandoActual->ActiveConnection, kept);
  }
}

}  // namespace
}  // namespace vandrel::testing
