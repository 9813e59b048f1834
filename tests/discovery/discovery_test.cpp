#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "Mod_Main.h"
#include "platform/error.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

class DiscoveryTest : public ::testing::Test {
 protected:
  TempFolder folder;
  FolderEnv env{folder.str()};
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};

  std::vector<std::string> Found() {
    std::vector<std::string> found;
    for (std::size_t i = 1; i < ListaScripts.size(); ++i)
      found.push_back(ListaScripts[i].Entidad + ":" + ListaScripts[i].Archivo);
    return found;
  }
};

TEST_F(DiscoveryTest, CategoriesInRunOrderWhateverTheNames) {
  for (const char* name :
       {"SYSTABLAS_a.sql", "ncm_z.SQL", "INTERNOS_02.sql", "INTERNOS_01.sql", "catalogos_b.SQL",
        "CATALOGOS_A.sql", "CATALOGOS_.sql", "CATALOGOS_10.sql", "CATALOGOS_9.sql"})
    folder.Write(name, "");
  ObtenerListadoSql();
  EXPECT_EQ(Found(), (std::vector<std::string>{
                         "CATALOGOS:CATALOGOS_.sql", "CATALOGOS:CATALOGOS_10.sql",
                         "CATALOGOS:CATALOGOS_9.sql", "CATALOGOS:CATALOGOS_A.sql",
                         "CATALOGOS:catalogos_b.SQL", "INTERNOS:INTERNOS_01.sql",
                         "INTERNOS:INTERNOS_02.sql", "NCM:ncm_z.SQL", "SYSTABLAS:SYSTABLAS_a.sql"}));
  EXPECT_EQ(ListaScripts[0].Archivo, "");
  EXPECT_EQ(ListaScripts[0].Entidad, "");
  EXPECT_EQ(UBoundListaScripts(), 9);
  EXPECT_TRUE(desktop.boxes.empty());
}

// Under a Turkish locale "i" is not the lower case of "I": names must still match.
TEST_F(DiscoveryTest, LetterCaseIgnoredWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "tr_TR.UTF-8") == nullptr) GTEST_SKIP() << "no tr_TR.UTF-8 locale";
  folder.Write("internos_01.sql", "");
  folder.Write("systablas_i.sql", "");
  ObtenerListadoSql();
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(Found(), (std::vector<std::string>{"INTERNOS:internos_01.sql", "SYSTABLAS:systablas_i.sql"}));
}

TEST_F(DiscoveryTest, NamesThatMustNotMatch) {
  for (const char* name : {"XCATALOGOS_1.sql", "CATALOGOS1.sql", "CATALOGOS_1.txt",
                           "CATALOGOS_1.sql.bak", ".CATALOGOS_hidden.sql", "sub/CATALOGOS_2.sql",
                           "NCM_old.sql/inner.sql", "INTERNOS-1.sql"})
    folder.Write(name, "");
  std::filesystem::create_directory(folder.path() / "SYSTABLAS_dir.sql");
  folder.Write("NCM_real.sql", "");
  std::filesystem::create_symlink(folder.path() / "NCM_real.sql", folder.path() / "NCM_link.sql");
  std::filesystem::create_symlink(folder.path() / "sub", folder.path() / "NCM_dirlink.sql");
  ObtenerListadoSql();
  EXPECT_EQ(Found(), (std::vector<std::string>{"NCM:NCM_link.sql", "NCM:NCM_real.sql"}));
}

TEST_F(DiscoveryTest, EmptyFolderLeavesOnlySlotZero) {
  ObtenerListadoSql();
  EXPECT_EQ(UBoundListaScripts(), 0);
  EXPECT_TRUE(desktop.boxes.empty());
}

// The directory search breaks at a known call: the report quotes that step's label.
class FailingDirEnv : public FolderEnv {
 public:
  using FolderEnv::FolderEnv;
  int fail_at_call = 0;
  std::string Dir(const std::string& pattern, int attributes) override {
    Tick();
    return FolderEnv::Dir(pattern, attributes);
  }
  std::string DirNext() override {
    Tick();
    return FolderEnv::DirNext();
  }

 private:
  void Tick() {
    if (++calls_ == fail_at_call) throw Error("Device unavailable");
  }
  int calls_ = 0;
};

TEST_F(DiscoveryTest, FailureReportsTheLabelOfTheFailingStep) {
  folder.Write("INTERNOS_1.sql", "");
  struct Case {
    int call;
    int line;
  };
  // Calls: Dir CATALOGOS (10), Dir INTERNOS (110), DirNext INTERNOS (200), Dir NCM (210).
  for (Case c : {Case{1, 10}, Case{2, 110}, Case{3, 200}, Case{4, 210}}) {
    FailingDirEnv failing(folder.str());
    failing.fail_at_call = c.call;
    RecordingDesktop boxes;
    ModuleFixture fixture(&failing, &boxes);
    EXPECT_EQ(Ends([] { ObtenerListadoSql(); }), ExitStatus::Failed);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].prompt,
              "Device unavailable\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line " +
                  std::to_string(c.line));
    EXPECT_EQ(boxes.boxes[0].style, 48);
    EXPECT_EQ(boxes.boxes[0].title, "VandrelSQL v.2.0.1");
  }
}

TEST_F(DiscoveryTest, FolderThatCannotBeSearchedIsReportedWithItsName) {
  FolderEnv deep(folder.str() + "/" + std::string(5000, 'x'));
  RecordingDesktop boxes;
  ModuleFixture fixture(&deep, &boxes);
  EXPECT_EQ(Ends([] { ObtenerListadoSql(); }), ExitStatus::Failed);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_NE(boxes.boxes[0].prompt.find("Cannot search folder " + folder.str()), std::string::npos);
  EXPECT_NE(boxes.boxes[0].prompt.find("at line 10"), std::string::npos);
}

}  // namespace
}  // namespace vandrel::testing
