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

  // "ENTITY:file" in run order; slot zero stays empty and nothing is shown.
  std::vector<std::string> Listed() {
    ObtenerListadoSql();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(ListaScripts[0].Entidad + ListaScripts[0].Archivo, "");
    EXPECT_EQ(UBoundListaScripts(), static_cast<int>(ListaScripts.size()) - 1);
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
  EXPECT_EQ(Listed(), (std::vector<std::string>{
                          "CATALOGOS:CATALOGOS_.sql", "CATALOGOS:CATALOGOS_10.sql",
                          "CATALOGOS:CATALOGOS_9.sql", "CATALOGOS:catalogos_a.SQL",
                          "CATALOGOS:CATALOGOS_B.sql", "INTERNOS:INTERNOS_01.sql",
                          "INTERNOS:INTERNOS_02.sql", "NCM:ncm_z.SQL", "SYSTABLAS:SYSTABLAS_a.sql"}));
}

TEST_F(DiscoveryTest, EmptyFolderListsNothing) { EXPECT_TRUE(Listed().empty()); }

// Under a Turkish locale "i" is not the lower case of "I": names must still match.
TEST_F(DiscoveryTest, LetterCaseIgnoredWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "tr_TR.UTF-8") == nullptr) GTEST_SKIP() << "no tr_TR.UTF-8 locale";
  folder.Write("internos_01.sql", "");
  folder.Write("systablas_i.sql", "");
  const auto found = Listed();
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(found, (std::vector<std::string>{"INTERNOS:internos_01.sql", "SYSTABLAS:systablas_i.sql"}));
}

// Only regular files (or links to them) named ENTITY_*.sql; a link that points nowhere (or
// to itself) is no script, and its failed stat is no failure of the listing.
TEST_F(DiscoveryTest, OnlyMatchingNamesOfRegularFiles) {
  for (const char* name : {"XCATALOGOS_1.sql", "CATALOGOS1.sql", "CATALOGOS_1.txt",
                           "CATALOGOS_1.sql.bak", ".CATALOGOS_hidden.sql", "sub/CATALOGOS_2.sql",
                           "NCM_old.sql/inner.sql", "INTERNOS-1.sql", "NCM_real.sql"})
    folder.Write(name, "");
  std::filesystem::create_directory(folder.path() / "SYSTABLAS_dir.sql");
  for (const auto& [target, link] : {std::pair{"NCM_real.sql", "NCM_link.sql"}, {"sub", "NCM_dirlink.sql"},
                                     {"gone.sql", "CATALOGOS_00_old.sql"}, {"NCM_self.sql", "NCM_self.sql"}})
    std::filesystem::create_symlink(folder.path() / target, folder.path() / link);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"NCM:NCM_link.sql", "NCM:NCM_real.sql"}));
}

// A backslash in a folder's own name is that name's, not a separator; where nothing exists
// as written, it separates as on Windows.
TEST(NativePathTest, BackslashesInNamesThatExist) {
  TempFolder root;
  const std::string base = root.str();
  std::filesystem::create_directories(root.path() / "mis\\programas" / "sub");
  std::filesystem::create_directories(root.path() / "a" / "b");
  const std::pair<std::string, std::string> rows[] = {
      {base + "/mis\\programas\\CATALOGOS_*.sql", base + "/mis\\programas/CATALOGOS_*.sql"},
      {base + "/mis\\programas\\sub\\x.sql", base + "/mis\\programas/sub/x.sql"},
      {base + "\\a\\b\\c", base + "/a/b/c"},
      {base + "/nada\\x", base + "/nada/x"},
      {"\\opt\\Corvessa\\quillmereconfig.ini", "/opt/Corvessa/quillmereconfig.ini"},
      {"plain/path", "plain/path"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(platform::NativePath(in), out) << in;
}

TEST(EnvironTest, ProgramFilesUnsetOrEmptyReadsAsOpt) {
  const char* saved = std::getenv("ProgramFiles");
  const std::string keep = saved != nullptr ? saved : "";
  for (auto [value, read] : {std::pair<const char*, const char*>{nullptr, "/opt"}, {"", "/opt"},
                             {"/srv/p", "/srv/p"}}) {
    value != nullptr ? setenv("ProgramFiles", value, 1) : unsetenv("ProgramFiles");
    EXPECT_EQ(platform::Env::Default()->Environ("ProgramFiles"), read) << (value ? value : "unset");
  }
  EXPECT_EQ(platform::Env::Default()->Environ("VANDREL_SURELY_UNSET"), "");
  saved != nullptr ? setenv("ProgramFiles", keep.c_str(), 1) : unsetenv("ProgramFiles");
}

// The directory search breaks at a known call: the report quotes that step's label.
class FailingDirEnv : public FolderEnv {
 public:
  FailingDirEnv(std::string folder, int fail_at) : FolderEnv(std::move(folder)), fail_at_(fail_at) {}
  std::string Dir(const std::string& pattern, int attributes) override {
    return Tick(), FolderEnv::Dir(pattern, attributes);
  }
  std::string DirNext() override { return Tick(), FolderEnv::DirNext(); }

 private:
  void Tick() {
    if (++calls_ == fail_at_) throw Error("Device unavailable");
  }
  int fail_at_, calls_ = 0;
};

TEST_F(DiscoveryTest, FailureReportsTheLabelOfTheFailingStep) {
  folder.Write("INTERNOS_1.sql", "");
  // Calls: Dir CATALOGOS (10), Dir INTERNOS (110), DirNext INTERNOS (200), Dir NCM (210).
  for (auto [call, line] : {std::pair{1, 10}, {2, 110}, {3, 200}, {4, 210}}) {
    FailingDirEnv failing(folder.str(), call);
    RecordingDesktop boxes;
    ModuleFixture fixture(&failing, &boxes);
    EXPECT_EQ(Ends([] { ObtenerListadoSql(); }), ExitStatus::Failed);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].prompt,
              "Device unavailable\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line " +
                  std::to_string(line));
  }
}

// Showing the list breaks at a known step: its own routine and label are reported, and
// the program ends there.
TEST_F(DiscoveryTest, ListingFailureReportsItsRoutineAndEnds) {
  folder.Write("CATALOGOS_1.sql", "");
  folder.Write("NCM_1.sql", "");
  ObtenerListadoSql();
  // Operations: clear (20), status (30), add (50), status (60), max (70), add (50).
  for (auto [operation, line] : {std::pair{1, 20}, {2, 30}, {3, 50}, {5, 70}, {6, 50}}) {
    RecordingStatus status;
    status.fail_at = operation;
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
                  std::to_string(line)),
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
