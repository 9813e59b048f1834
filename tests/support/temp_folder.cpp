#include "support/temp_folder.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "Mod_Main.h"
#include "support/databases.h"

namespace vandrel::testing {

TempFolder::TempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "vandrel-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempFolder::Write(const std::string& name, const std::string& content) const {
  auto file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

Installation::Installation(const std::vector<std::string>& entities, const std::string& more) {
  std::string ini;
  for (const std::string& entity : entities) {
    programFiles.Write("Corvessa/" + Lower(entity) + ".db", "");
    ini += SqliteSection(entity);
  }
  Config(ini + more);
}

std::string Installation::SqliteSection(const std::string& entity) {
  return "[" + entity + "]\nTag=SQLITE\nConnection=" + Lower(entity) + ".db\n";
}

std::string Installation::Db(const std::string& entity) const {
  return programFiles.str() + "/Corvessa/" + Lower(entity) + ".db";
}

int64_t Installation::Value(const std::string& entity, const std::string& sql) const {
  return SqliteValue(Db(entity), sql);
}

ModuleFixture::ModuleFixture(platform::Env* env, shell::Desktop* desktop) {
  ReleaseModule();
  InitModule();
  services.env = env;
  services.desktop = desktop;
}

ModuleFixture::~ModuleFixture() {
  ReleaseModule();
  ListaScripts.clear();
  services = Services{};
}

}  // namespace vandrel::testing
