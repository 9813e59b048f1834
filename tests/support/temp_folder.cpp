#include "support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "Mod_Main.h"

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
