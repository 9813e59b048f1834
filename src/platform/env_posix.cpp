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

#include "platform/env.h"
#include "platform/error.h"

namespace vandrel::platform {

std::string NativePath(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

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
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.') continue;  // hidden, and "." / ".."
      if (fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) != 0) continue;
      struct stat st {};
      if (stat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      matches_.push_back(name);
    }
    const int readErr = errno;
    uselocale(userLocale);
    closedir(dir);
    if (readErr != 0) throw SystemError("Cannot search folder " + folder, readErr);

    // Case-insensitive ordinal order, as users of the program have always seen it.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(matches_.size());
    for (auto& m : matches_) keyed.emplace_back(UpperAscii(m), std::move(m));
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < keyed.size(); ++i) matches_[i] = std::move(keyed[i].second);
    return DirNext();
  }

  std::string DirNext() override {
    if (!searching_) throw InvalidProcedureCall();
    if (next_ >= matches_.size()) return {};
    return matches_[next_++];
  }

  std::string Environ(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
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
