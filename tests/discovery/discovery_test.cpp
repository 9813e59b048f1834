#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "Mod_Main.h"
#include "platform/env.h"
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

// Letter case does not order names: "catalogos_a" comes before "CATALOGOS_B".
TEST_F(DiscoveryTest, CategoriesInRunOrderWhateverTheNames) {
  for (const char* name :
       {"SYSTABLAS_a.sql", "ncm_z.SQL", "INTERNOS_02.sql", "INTERNOS_01.sql", "CATALOGOS_B.sql",
        "catalogos_a.SQL", "CATALOGOS_.sql", "CATALOGOS_10.sql", "CATALOGOS_9.sql"})
    folder.Write(name, "");
  ObtenerListadoSql();
  EXPECT_EQ(Found(), (std::vector<std::string>{
                         "CATALOGOS:CATALOGOS_.sql", "CATALOGOS:CATALOGOS_10.sql",
                         "CATALOGOS:CATALOGOS_9.sql", "CATALOGOS:catalogos_a.SQL",
                         "CATALOGOS:CATALOGOS_B.sql", "INTERNOS:INTERNOS_01.sql",
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

// A link that points nowhere (or to itself) is no script; a failed stat of it must not be
// taken for a failure of the listing.
TEST_F(DiscoveryTest, DanglingLinksAreSkipped) {
  folder.Write("CATALOGOS_01.sql", "");
  std::filesystem::create_symlink(folder.path() / "gone.sql", folder.path() / "CATALOGOS_00_old.sql");
  std::filesystem::create_symlink(folder.path() / "NCM_self.sql", folder.path() / "NCM_self.sql");
  ObtenerListadoSql();
  EXPECT_EQ(Found(), (std::vector<std::string>{"CATALOGOS:CATALOGOS_01.sql"}));
  EXPECT_TRUE(desktop.boxes.empty());
}

// A backslash in a folder's own name is that name's, not a separator; where nothing exists
// as written, it separates as on Windows.
TEST(NativePathTest, BackslashesInNamesThatExist) {
  TempFolder root;
  const std::string base = root.str();
  std::filesystem::create_directories(root.path() / "mis\\programas" / "sub");
  std::filesystem::create_directories(root.path() / "a" / "b");
  struct Row {
    std::string in, out;
  };
  const Row rows[] = {
      {base + "/mis\\programas\\CATALOGOS_*.sql", base + "/mis\\programas/CATALOGOS_*.sql"},
      {base + "/mis\\programas\\sub\\x.sql", base + "/mis\\programas/sub/x.sql"},
      {base + "\\a\\b\\c", base + "/a/b/c"},
      {base + "/nada\\x", base + "/nada/x"},
      {"\\opt\\Corvessa\\quillmereconfig.ini", "/opt/Corvessa/quillmereconfig.ini"},
      {"plain/path", "plain/path"},
  };
  for (const Row& row : rows) EXPECT_EQ(platform::NativePath(row.in), row.out) << row.in;
}

TEST(EnvironTest, ProgramFilesUnsetOrEmptyReadsAsOpt) {
  const char* saved = std::getenv("ProgramFiles");
  const std::string keep = saved != nullptr ? saved : "";
  platform::Env* env = platform::Env::Default();
  unsetenv("ProgramFiles");
  EXPECT_EQ(env->Environ("ProgramFiles"), "/opt");
  setenv("ProgramFiles", "", 1);
  EXPECT_EQ(env->Environ("ProgramFiles"), "/opt");
  setenv("ProgramFiles", "/srv/p", 1);
  EXPECT_EQ(env->Environ("ProgramFiles"), "/srv/p");
  EXPECT_EQ(env->Environ("VANDREL_SURELY_UNSET"), "");
  if (saved != nullptr) setenv("ProgramFiles", keep.c_str(), 1); else unsetenv("ProgramFiles");
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

// Showing the list breaks at a known step: its own routine and label are reported, and
// the program ends there.
TEST_F(DiscoveryTest, ListingFailureReportsItsRoutineAndEnds) {
  folder.Write("CATALOGOS_1.sql", "");
  folder.Write("NCM_1.sql", "");
  ObtenerListadoSql();
  struct Case {
    int operation;
    int line;
  };
  // Operations: clear (20), status (30), add (50), status (60), max (70), add (50).
  for (Case c : {Case{1, 20}, Case{2, 30}, Case{3, 50}, Case{5, 70}, Case{6, 50}}) {
    RecordingStatus status;
    status.fail_at = c.operation;
    desktop.boxes.clear();
    bool went_on = false;
    EXPECT_EQ(Ends([&] {
                ListarActualizacionesEnPantalla(status);
                went_on = true;
              }),
              ExitStatus::Failed);
    EXPECT_FALSE(went_on);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_NE(desktop.boxes[0].prompt.find(
                  "\r\nin VandrelSQL.Mod_Main.ListarActualizacionesEnPantalla at line " +
                  std::to_string(c.line)),
              std::string::npos)
        << desktop.boxes[0].prompt;
    EXPECT_EQ(desktop.boxes[0].style, 48);
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
