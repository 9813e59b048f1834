// A real temporary folder that acts as the program folder of the routines under test.
#pragma once

#include <filesystem>
#include <map>
#include <string>

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

// Points the module at `env` and `desktop`, fresh state, and restores it on destruction.
class ModuleFixture {
 public:
  ModuleFixture(platform::Env* env, shell::Desktop* desktop);
  ~ModuleFixture();
};

}  // namespace vandrel::testing
