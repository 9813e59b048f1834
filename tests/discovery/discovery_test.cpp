#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "Mod_Main.h"
#include "platform/error.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

namespace fs = std::filesystem;

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
    for (std::size_t i = 1; i < ListaScripts.size(); ++i) found.push_back(ListaScripts[i].Entidad + ":" + ListaScripts[i].Archivo);
    return found;
  }
};

// Categories in run order; within one, letter case neither orders ("catalogos_a" before
// "CATALOGOS_B") nor matches, also under a Turkish locale where "i" is not the lower case
// of "I". Only regular files (or links to them) named ENTITY_*.sql: a folder, or a link
// that points nowhere, is no script and no failure of the listing.
TEST_F(DiscoveryTest, ScriptsOfEachCategoryInRunOrder) {
  EXPECT_TRUE(Listed().empty());
  for (const char* name :
       {"systablas_i.sql", "ncm_z.SQL", "INTERNOS_02.sql", "internos_01.sql", "CATALOGOS_B.sql",
        "catalogos_a.SQL", "CATALOGOS_.sql", "CATALOGOS_10.sql", "CATALOGOS_9.sql", "XCATALOGOS_1.sql",
        "CATALOGOS1.sql", "CATALOGOS_1.txt", "CATALOGOS_1.sql.bak", ".CATALOGOS_hidden.sql",
        "sub/CATALOGOS_2.sql", "NCM_old.sql/inner.sql", "INTERNOS-1.sql"})
    folder.Write(name, "");
  fs::create_directory(folder.path() / "SYSTABLAS_dir.sql");
  for (const auto& [target, link] : {std::pair{"ncm_z.SQL", "NCM_link.sql"}, {"sub", "NCM_dirlink.sql"},
                                     {"gone.sql", "CATALOGOS_00_old.sql"}, {"ncm_z.SQL/x.sql", "NCM_through_a_file.sql"}})
    fs::create_symlink(folder.path() / target, folder.path() / link);
  const std::vector<std::string> inRunOrder{
      "CATALOGOS:CATALOGOS_.sql", "CATALOGOS:CATALOGOS_10.sql", "CATALOGOS:CATALOGOS_9.sql",
      "CATALOGOS:catalogos_a.SQL", "CATALOGOS:CATALOGOS_B.sql", "INTERNOS:internos_01.sql",
      "INTERNOS:INTERNOS_02.sql", "NCM:NCM_link.sql", "NCM:ncm_z.SQL", "SYSTABLAS:systablas_i.sql"};
  EXPECT_EQ(Listed(), inRunOrder);
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "tr_TR.UTF-8") == nullptr) GTEST_SKIP() << "no tr_TR.UTF-8 locale";
  const auto underTurkish = Listed();
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(underTurkish, inRunOrder);
}

// What stands where a script should and cannot be read stops the listing, naming the first
// in run order, before anything runs: a pipe would be waited on, a device read for ever.
// (Links the user cannot follow: the built program, run as another user, in console_test.)
TEST_F(DiscoveryTest, ScriptsThatCannotBeReadStopTheListingNamingThem) {
  const struct {
    const char* name;
    std::function<void(const fs::path&)> make;
    const char* why;
  } rows[] = {
      {"named_pipe", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       "it is a named pipe, not a regular file"},
      {"link_to_device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       "it is a device, not a regular file"},
      {"link_to_itself", [](const fs::path& p) { fs::create_symlink(p, p); },
       "Too many levels of symbolic links"},
      {"loop_of_two_links",
       [](const fs::path& p) {
         fs::create_symlink(p, p.parent_path() / "otro");
         fs::create_symlink(p.parent_path() / "otro", p);
       },
       "Too many levels of symbolic links"},
  };
  for (const auto& row : rows) {
    TempFolder here;
    here.Write("CATALOGOS_01.sql", "");
    here.Write("INTERNOS_02.sql", "");
    row.make(here.path() / "INTERNOS_01.sql");
    FolderEnv at(here.str());
    ModuleFixture fixture(&at, &desktop);
    EXPECT_EQ(Ends([] { ObtenerListadoSql(); }), ExitStatus::Failed) << row.name;
    ASSERT_EQ(desktop.boxes.size(), 1u) << row.name;
    EXPECT_EQ(desktop.boxes[0].prompt, "Cannot open " + here.str() + "/INTERNOS_01.sql: " + row.why +
                                           "\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line 110")
        << row.name;
    desktop.boxes.clear();
  }
}

// A backslash in a folder's own name is that name's, not a separator; where nothing exists
// as written, it separates as on Windows.
TEST(NativePathTest, BackslashesInNamesThatExist) {
  TempFolder root;
  const std::string base = root.str();
  fs::create_directories(root.path() / "mis\\programas" / "sub");
  fs::create_directories(root.path() / "a" / "b");
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

// Breaks the directory search at its `failAt`th call (never at 0).
struct FailingDirEnv : FolderEnv {
  FailingDirEnv(std::string folder, int at) : FolderEnv(std::move(folder)), failAt(at) {}
  std::string Dir(const std::string& pattern, int attributes) override { return Tick(), FolderEnv::Dir(pattern, attributes); }
  std::string DirNext() override { return Tick(), FolderEnv::DirNext(); }
  void Tick() { if (++calls == failAt) throw Error("Device unavailable"); }
  int failAt, calls = 0;
};

// Each step's failure is reported with its routine and label, and the program ends there.
TEST_F(DiscoveryTest, FailureReportsItsStepAndEnds) {
  folder.Write("INTERNOS_1.sql", "");
  folder.Write("NCM_1.sql", "");
  const std::string here = folder.str(), deep = here + "/" + std::string(5000, 'x'), refused = "status surface refused: ";
  const std::string search = "\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line ", gone = "Device unavailable" + search;
  const std::string list = "\r\nin VandrelSQL.Mod_Main.ListarActualizacionesEnPantalla at line ";
  // The program folder; the failing call of the search (Dir CATALOGOS, Dir INTERNOS, DirNext
  // INTERNOS, Dir NCM) or operation of the window; the report.
  const std::tuple<std::string, int, int, std::string> rows[] = {
      {here, 1, 0, gone + "10"}, {here, 2, 0, gone + "110"}, {here, 3, 0, gone + "200"}, {here, 4, 0, gone + "210"},
      {deep, 0, 0, "Cannot search folder " + deep + "/: File name too long" + search + "10"},
      {here, 0, 1, refused + "clear" + list + "20"},
      {here, 0, 2, refused + "status Buscando actualizaciones ... " + list + "30"},
      {here, 0, 3, refused + "add INTERNOS_1.sql" + list + "50"},
      {here, 0, 4, refused + "status Buscando actualizaciones 1 de 1" + list + "60"},
      {here, 0, 5, refused + "max 1" + list + "70"}, {here, 0, 6, refused + "add NCM_1.sql" + list + "50"}};
  for (const auto& [programFolder, searchFailsAt, windowFailsAt, says] : rows) {
    FailingDirEnv failing(programFolder, searchFailsAt);
    ModuleFixture fixture(&failing, &desktop);
    RecordingStatus window;
    window.fail_at = windowFailsAt;
    bool wentOn = false;
    EXPECT_EQ(Ends([&] { ObtenerListadoSql(); ListarActualizacionesEnPantalla(window); wentOn = true; }), ExitStatus::Failed);
    EXPECT_FALSE(wentOn);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].prompt, says);
    desktop.boxes.clear();
  }
}

}  // namespace
}  // namespace vandrel::testing
