#include <dirent.h>
#include <fnmatch.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/ascii.h"
#include "platform/env.h"
#include "platform/error.h"

namespace vandrel::platform {

// A backslash is a separator, as on Windows, except where a folder's or file's own name
// holds one (Linux allows it): from each name on, the longest run of names joined by
// backslashes that exists as written is taken whole. So the program folder
// /srv/mis\programas followed by \CATALOGOS_*.sql is searched in that folder.
std::string NativePath(const std::string& path) {
  if (path.find('\\') == std::string::npos) return path;
  struct Name {
    std::string text;
    char after;  // '/', '\\' or 0 at the end
  };
  std::vector<Name> names;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      names.push_back({path.substr(start, i - start), i == path.size() ? '\0' : path[i]});
      start = i + 1;
    }
  std::string native;
  for (std::size_t j = 0; j < names.size();) {
    std::size_t last = j;
    for (std::size_t k = j; k + 1 < names.size() && names[k].after == '\\'; ++k) last = k + 1;
    std::size_t taken = j;
    std::string whole;
    for (; last > j; --last) {
      whole = names[j].text;
      for (std::size_t k = j + 1; k <= last; ++k) whole += "\\" + names[k].text;
      struct stat st {};
      if (!names[j].text.empty() && lstat((native + whole).c_str(), &st) == 0) {
        taken = last;
        break;
      }
    }
    if (taken == j) whole = names[j].text;
    native += whole;
    if (names[taken].after != '\0') native += '/';
    j = taken + 1;
  }
  return native;
}

namespace {

class PosixEnv final : public Env {
 public:
  std::string ProgramFolder() override {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) throw SystemError("/proc/self/exe", ec.value());
    std::string folder = exe.parent_path().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }

  std::string Dir(const std::string& pattern, int attributes) override {
    (void)attributes;  // only ordinary files are ever searched for
    matches_.clear();
    next_ = 0;
    searching_ = true;

    const std::string native = NativePath(pattern);
    const auto slash = native.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    const std::string mask = slash == std::string::npos ? native : native.substr(slash + 1);

    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
      if (errno == ENOENT || errno == ENOTDIR) return {};
      throw SystemError("Cannot search folder " + folder, errno);
    }
    // Letter case is ignored as the Windows search did, whatever the user's locale: a
    // Turkish one, say, would not take "i" for "I".
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const locale_t userLocale = uselocale(cLocale);
    int readErr = 0;
    for (;;) {
      // Only readdir's own errno tells of a failure.
      errno = 0;
      const dirent* entry = readdir(dir);
      if (entry == nullptr) {
        readErr = errno;
        break;
      }
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.') continue;  // hidden, and "." / ".."
      if (fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) != 0) continue;
      matches_.push_back(name);
    }
    uselocale(userLocale);
    closedir(dir);
    if (readErr != 0) throw SystemError("Cannot search folder " + folder, readErr);

    // Case-insensitive ordinal order, as users of the program have always seen it.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(matches_.size());
    for (auto& m : matches_) keyed.emplace_back(AsciiUpper(m), std::move(m));
    std::sort(keyed.begin(), keyed.end());
    matches_.clear();
    // A script that cannot be read stops the search, so the run stops before anything of it
    // runs rather than leave the script out in silence; the first in run order is named.
    std::vector<std::string> files;
    for (auto& [key, name] : keyed)
      if (IsTextFileToRead(folder + name)) files.push_back(std::move(name));
    matches_ = std::move(files);
    return DirNext();
  }

  std::string DirNext() override {
    if (!searching_) throw InvalidProcedureCall();
    if (next_ >= matches_.size()) return {};
    return matches_[next_++];
  }

  std::string Environ(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    // Windows always sets ProgramFiles; Linux's place for add-on programs is /opt, where the
    // program itself is installed.
    if (name == "ProgramFiles" && (value == nullptr || *value == '\0')) return "/opt";
    return value == nullptr ? std::string() : std::string(value);
  }

  std::unique_ptr<TextFile> OpenText(const std::string& path) override {
    return OpenTextFile(NativePath(path));
  }

 private:
  std::vector<std::string> matches_;
  std::size_t next_ = 0;
  bool searching_ = false;
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace vandrel::platform
