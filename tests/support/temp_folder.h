// A real temporary folder that acts as the program folder of the routines under test.
#pragma once

#include <filesystem>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support/recording.h"

namespace vandrel::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes `content` to `name` inside the folder (creating subfolders) and returns its path.
  std::filesystem::path Write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

// The real system, with the program folder moved and environment variables overridden.
class FolderEnv : public platform::EnvWrapper {
 public:
  explicit FolderEnv(std::string folder)
      : EnvWrapper(platform::Env::Default()), folder_(std::move(folder)) {}
  std::string ProgramFolder() override { return folder_; }
  std::string Environ(const std::string& name) override {
    auto it = environ.find(name);
    return it != environ.end() ? it->second : EnvWrapper::Environ(name);
  }

  std::map<std::string, std::string> environ;

 private:
  std::string folder_;
};

// A program folder for the scripts and a ProgramFiles folder holding Corvessa/ with the
// configuration and the databases.
struct Installation {
  TempFolder program, programFiles;

  // Empty SQLite files Corvessa/<entity>.db (in lower case) for `entities`, and a
  // configuration naming them followed by `more`.
  explicit Installation(const std::vector<std::string>& entities = {"CATALOGOS", "INTERNOS"},
                        const std::string& more = "");
  static std::string SqliteSection(const std::string& entity);
  void Config(const std::string& ini) const { programFiles.Write("Corvessa/quillmereconfig.ini", ini); }
  std::string Ini() const { return programFiles.str() + "/Corvessa/quillmereconfig.ini"; }
  std::string Db(const std::string& entity) const;
  // `sql` on the entity's SQLite file: the first column of the first row, -1 for none.
  int64_t Value(const std::string& entity, const std::string& sql) const;
};

// Points the module at `env` and `desktop`, fresh state, and restores it on destruction.
class ModuleFixture {
 public:
  ModuleFixture(platform::Env* env, shell::Desktop* desktop);
  ~ModuleFixture();
};

}  // namespace vandrel::testing
