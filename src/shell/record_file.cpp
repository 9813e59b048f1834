#include "shell/record_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/error.h"

namespace vandrel::shell {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Makes `folder` and its missing parents, the new ones readable by their owner only.
void MakeFolders(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) throw SystemError(part, errno);
  }
}

// Other runs may be writing the same record; waiting for them is bounded.
void LockFolder(int dir) {
  using namespace std::chrono_literals;
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (flock(dir, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    if (std::chrono::steady_clock::now() > until) return;  // better unlocked than never
    std::this_thread::sleep_for(10ms);
  }
}

void Rotate(const std::string& path) {
  for (int k = kKeptRecords - 1; k >= 1; --k) {
    const std::string from = path + "." + std::to_string(k);
    const std::string to = path + "." + std::to_string(k + 1);
    if (rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) throw SystemError(from, errno);
  }
  const std::string first = path + ".1";
  if (rename(path.c_str(), first.c_str()) != 0 && errno != ENOENT) throw SystemError(path, errno);
}

}  // namespace

std::string RecordPath(platform::Env& env) {
  std::string state = env.Environ("XDG_STATE_HOME");
  if (!state.starts_with('/')) {
    std::string home = env.Environ("HOME");
    if (!home.starts_with('/')) {
      const passwd* user = getpwuid(geteuid());
      home = user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
    }
    if (!home.starts_with('/')) return {};
    state = home + "/.local/state";
  }
  while (state.size() > 1 && state.back() == '/') state.pop_back();
  return state + "/vandrelsql/vandrelsql.log";
}

void AppendRecord(const std::string& path, std::string_view text) {
  const std::string folder = path.substr(0, path.rfind('/'));
  MakeFolders(folder);
  const Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) throw SystemError(folder, errno);
  LockFolder(dir.get());  // released when `dir` closes

  struct stat now {};
  if (stat(path.c_str(), &now) == 0 && now.st_size > 0 &&
      static_cast<std::uintmax_t>(now.st_size) + text.size() > kRecordRotateBytes)
    Rotate(path);

  const Descriptor file(
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (file.get() < 0) throw SystemError(path, errno);
  struct stat made {};
  if (fstat(file.get(), &made) != 0) throw SystemError(path, errno);
  if (!S_ISREG(made.st_mode)) throw Error(path + ": no es un archivo normal");
  // A file left readable by others (made by hand, say) is closed to them before writing.
  if ((made.st_mode & 077) != 0 && fchmod(file.get(), made.st_mode & 0700) != 0)
    throw SystemError(path, errno);
  while (!text.empty()) {
    const ssize_t n = write(file.get(), text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw SystemError(path, n < 0 ? errno : ENOSPC);
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::optional<FileDigest> DigestFile(const std::string& path) {
  const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat info {};
  if (file.get() < 0 || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::vector<unsigned char> buffer(1 << 16);
  FileDigest digest;
  for (;;) {
    const ssize_t n = read(file.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    digest.size += static_cast<std::uintmax_t>(n);
    if (EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) return std::nullopt;
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), md, &length) != 1) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    digest.sha256 += kHex[md[i] >> 4];
    digest.sha256 += kHex[md[i] & 15];
  }
  return digest;
}

}  // namespace vandrel::shell
