// The one narrow seam between the program and the operating system: the program folder,
// the directory search, the environment and text files. `Env::Default()` is the real
// system; tests derive from `EnvWrapper` to move the program folder or break one call.
//
// Threads: Dir and DirNext share one search per object, so a search belongs to one thread
// (the update routines'). ProgramFolder, Environ and OpenText keep no state between calls
// and may be called from any thread; each TextFile belongs to the thread that reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/text_file.h"

namespace vandrel::platform {

// Attribute filter of the directory search: ordinary files (not hidden, not folders).
constexpr int kAttrArchive = 32;

class Env {
 public:
  virtual ~Env() = default;

  // The process-wide real implementation. Never null; never destroyed.
  static Env* Default();

  // Folder of the running executable, without a trailing separator.
  virtual std::string ProgramFolder() = 0;

  // First match of `pattern` (a folder path, then a file-name pattern with `*`; "\" is a
  // separator too): files to read, not folders nor links that point nowhere. Returns the
  // name without folder, or "" when nothing matches or the folder does not exist. Throws
  // Error when the folder cannot be read, or naming a match that cannot be read as a file
  // (a named pipe, a device, a link it cannot follow, a file it may not open).
  virtual std::string Dir(const std::string& pattern, int attributes) = 0;
  // Next match of the last Dir call; "" when exhausted. Throws when no search was started.
  virtual std::string DirNext() = 0;

  // Value of an environment variable; "" when unset.
  virtual std::string Environ(const std::string& name) = 0;

  // Opens a text file for reading ("\" accepted as a separator). Throws Error naming the
  // file when it cannot be opened.
  virtual std::unique_ptr<TextFile> OpenText(const std::string& path) = 0;
};

// Forwards every call to another Env; override the calls a test wants to change.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  std::string ProgramFolder() override { return target_->ProgramFolder(); }
  std::string Dir(const std::string& pattern, int attributes) override {
    return target_->Dir(pattern, attributes);
  }
  std::string DirNext() override { return target_->DirNext(); }
  std::string Environ(const std::string& name) override { return target_->Environ(name); }
  std::unique_ptr<TextFile> OpenText(const std::string& path) override {
    return target_->OpenText(path);
  }

 private:
  Env* target_;
};

// A path as the program builds it ("\" separators) in the form the system takes.
std::string NativePath(const std::string& path);

}  // namespace vandrel::platform
