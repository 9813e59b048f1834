#include <gtest/gtest.h>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "shell/identity.h"
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
  std::string Report(const std::string& description, const std::string& entity, int line) {
    return description + "Entidad buscada:" + entity +
           "\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line " + std::to_string(line);
  }
  std::string Ini() const { return folder.str() + "/Corvessa/quillmereconfig.ini"; }

  TempFolder folder;
  FolderEnv env{folder.str()};
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};
  const bool registered = (quillmere::Register(), true);
};

TEST_F(EstablecerEntidadTest, TwoCallsGiveTwoConnectionsAndOneCommand) {
  folder.Write("Corvessa/catalogos.db", "");
  WriteIni("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  ASSERT_TRUE(Call("CATALOGOS"));
  const auto firstManager = GestorDatos;
  const auto firstConnection = ConexionActual;
  const auto command = ComandoActual;
  ASSERT_NE(firstConnection, nullptr);
  EXPECT_EQ(command->ActiveConnection, firstConnection);

  ASSERT_TRUE(Call("CATALOGOS"));
  EXPECT_NE(GestorDatos, firstManager);
  EXPECT_NE(ConexionActual, firstConnection);
  EXPECT_EQ(ComandoActual, command);
  EXPECT_EQ(ComandoActual->ActiveConnection, ConexionActual);
  EXPECT_EQ(ConexionActual->BeginTrans(), 1);
  ConexionActual->Execute("CREATE TABLE t (a)");
  ConexionActual->CommitTrans();
  EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(EstablecerEntidadTest, OnlyTheExactAccessTagEndsTheProgram) {
  WriteIni("[SYSTABLAS]\nTag=ACCESS\n[NCM]\nTag=Access\nConnection=x\n");
  EXPECT_EQ(Ends([&] { Call("SYSTABLAS"); }), ExitStatus::Access);
  EXPECT_TRUE(desktop.boxes.empty());

  bool result = true;
  EXPECT_EQ(Ends([&] { result = Call("NCM"); }), std::nullopt);
  EXPECT_FALSE(result);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].prompt,
            Report("Etiqueta desconocida \"Access\" para la entidad NCM en la línea 4 de " + Ini() +
                       " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)",
                   "NCM", 80));
  EXPECT_EQ(desktop.boxes[0].style, shell::vbExclamation);
  EXPECT_EQ(desktop.boxes[0].title, "VandrelSQL v.2.0.1");
}

TEST_F(EstablecerEntidadTest, EachFailingStepReportsItsLabelAndKeepsTheConnection) {
  folder.Write("Corvessa/catalogos.db", "");
  WriteIni("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n[NCM]\nTag=SQLITE\n"
           "Connection=falta.db\n");
  ASSERT_TRUE(Call("CATALOGOS"));
  const auto kept = ConexionActual;

  automation::RegisterClass("Quillmere.QuillMain", [] { return automation::ObjectPtr(); });
  EXPECT_FALSE(Call("CATALOGOS"));
  quillmere::Register();

  EXPECT_FALSE(Call("INTERNOS"));  // no section: the tag cannot be obtained
  EXPECT_FALSE(Call("NCM"));       // the database file is missing

  ProgramFiles(folder.str() + "/nada");
  EXPECT_FALSE(Call("CATALOGOS"));

  ASSERT_EQ(desktop.boxes.size(), 4u);
  EXPECT_EQ(desktop.boxes[0].prompt,
            Report("ActiveX component can't create object: Quillmere.QuillMain", "CATALOGOS", 10));
  EXPECT_EQ(desktop.boxes[1].prompt,
            Report("La entidad INTERNOS no tiene sección en " + Ini(), "INTERNOS", 50));
  EXPECT_EQ(desktop.boxes[2].prompt,
            Report("No existe la base de datos de la entidad NCM (SQLITE, " + folder.str() +
                       "/Corvessa/falta.db)",
                   "NCM", 80));
  EXPECT_EQ(desktop.boxes[3].prompt,
            Report("No existe el archivo de configuración " + folder.str() +
                       "/nada/Corvessa/quillmereconfig.ini",
                   "CATALOGOS", 40));
  EXPECT_EQ(ConexionActual, kept);
  EXPECT_EQ(ComandoActual->ActiveConnection, kept);
}

TEST_F(EstablecerEntidadTest, TheConfigurationPathFollowsProgramFilesUnchanged) {
  // A trailing backslash doubles the separator; an unset variable leaves "\Corvessa\".
  ProgramFiles(folder.str() + "\\");
  folder.Write("Corvessa/catalogos.db", "");
  WriteIni("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  EXPECT_TRUE(Call("CATALOGOS"));

  ProgramFiles(folder.str() + "/falta\\");
  EXPECT_FALSE(Call("CATALOGOS"));
  ProgramFiles("");
  EXPECT_FALSE(Call("CATALOGOS"));
  ASSERT_EQ(desktop.boxes.size(), 2u);
  EXPECT_EQ(desktop.boxes[0].prompt,
            Report("No existe el archivo de configuración " + folder.str() +
                       "/falta//Corvessa/quillmereconfig.ini",
                   "CATALOGOS", 40));
  EXPECT_EQ(desktop.boxes[1].prompt,
            Report("No existe el archivo de configuración /Corvessa/quillmereconfig.ini",
                   "CATALOGOS", 40));
}

}  // namespace
}  // namespace vandrel::testing
