#include <fcntl.h>
#include <iconv.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unistr.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/byte_blocks.h"
#include "platform/error.h"
#include "platform/locale_text.h"
#include "platform/text_file.h"

namespace vandrel::platform {
namespace {

namespace bb = blocks;

// Small enough to stay in the cache between the read and the copy into the text.
constexpr std::size_t kChunk = std::size_t{1} << 18;
// The longest incomplete multibyte sequence a chunk can end in.
constexpr std::size_t kCarry = 8;

bool IsUtf8(const std::string& codeset) {
  return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0;
}

// Appends decoded text to the script by the line rule: a line ends at CR, CR LF or the end
// of the text, a lone LF is ordinary, and every line end is written as CR LF.
class LineWriter {
 public:
  explicit LineWriter(std::string& out) : out_(out) {}

  void Feed(const char* p, const char* e) {
    if (p == e) return;
    if (pendingCr_ && *p != '\n') out_.push_back('\n');
    const char* seg = p;
    auto loneCr = [&](const char* cr) {
      out_.append(seg, static_cast<std::size_t>(cr + 1 - seg));
      out_.push_back('\n');
      seg = cr + 1;
    };
    const char* q = p;
    for (; q + bb::kStride < e; q += bb::kStride)
      for (std::uint64_t bits = bb::FindPair64(q, '\r', 1, '\n', false); bits != 0; bits &= bits - 1)
        loneCr(q + std::countr_zero(bits));
    for (; q + 1 < e; ++q)
      if (*q == '\r' && q[1] != '\n') loneCr(q);
    out_.append(seg, static_cast<std::size_t>(e - seg));
    // A CR at the end waits for the next byte to know whether it ends the line alone.
    pendingCr_ = e[-1] == '\r';
    beforeLast_ = e - p >= 2 ? e[-2] : last_;
    last_ = e[-1];
    fed_ = true;
  }

  void Finish() {
    if (!fed_) return;
    if (pendingCr_)
      out_.push_back('\n');
    else if (!(last_ == '\n' && beforeLast_ == '\r'))
      out_.append("\r\n");
  }

 private:
  std::string& out_;
  bool pendingCr_ = false;
  bool fed_ = false;
  char last_ = 0;
  char beforeLast_ = 0;
};

// The first byte of [p, e) that is not valid UTF-8, or null. ASCII goes by in blocks; only
// the runs of blocks that hold other bytes are decoded. A run starts after an ASCII block
// (or at p) and ends before one (or at e), so it never starts or ends inside a sequence.
const char* FirstInvalidUtf8(const char* p, const char* e) {
  constexpr std::size_t kRun = bb::kStride;
  const char* q = p;
  while (q < e) {
    while (q + kRun <= e && !bb::AnyHigh64(q)) q += kRun;
    if (q == e) break;
    const char* r = q + kRun;
    while (r + kRun <= e && bb::AnyHigh64(r)) r += kRun;
    if (r + kRun > e) r = e;
    const auto* s = reinterpret_cast<const std::uint8_t*>(q);
    if (const std::uint8_t* bad = u8_check(s, static_cast<std::size_t>(r - q)))
      return q + (bad - s);
    q = r;
  }
  return nullptr;
}

// How much of the n bytes at p to decode now: all but a multibyte sequence cut off at the end.
std::size_t CompleteUtf8(const char* p, std::size_t n) {
  std::size_t i = n;
  std::size_t continuation = 0;
  while (i > 0 && continuation < 3 && (static_cast<unsigned char>(p[i - 1]) & 0xC0) == 0x80) {
    --i;
    ++continuation;
  }
  if (i == 0) return n;
  const auto lead = static_cast<unsigned char>(p[i - 1]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return continuation + 1 < length ? i - 1 : n;
}

const char* FileKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

Error NotRegular(const std::string& path, mode_t mode) {
  return Error("Cannot open " + path + ": it is " + FileKind(mode) + ", not a regular file");
}

class Iconv {
 public:
  Iconv(const std::string& from, const std::string& path)
      : cd_(iconv_open("UTF-8", from.c_str())) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw Error("Cannot read " + path + ": the locale's codeset " + from + " is not supported");
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

class PosixTextFile final : public TextFile {
 public:
  PosixTextFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixTextFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixTextFile(const PosixTextFile&) = delete;
  PosixTextFile& operator=(const PosixTextFile&) = delete;

  // A named pipe or a device would block or never end: only regular files are read. The
  // handle itself is checked, so a file replaced after discovery is caught too.
  void CheckReadable() {
    struct stat st;
    if (fstat(fd_, &st) != 0) throw SystemError("Cannot open " + path_, errno);
    if (S_ISDIR(st.st_mode)) throw SystemError("Cannot open " + path_, EISDIR);
    if (!S_ISREG(st.st_mode)) throw NotRegular(path_, st.st_mode);
  }

  void ReadAllLines(std::string& out) override {
    codeset_ = LocaleCodeset();
    Reserve(out);
    LineWriter writer(out);
    if (IsUtf8(codeset_))
      ReadUtf8(writer);
    else
      ReadConverted(writer);
    writer.Finish();
  }

  void Close() override {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) throw SystemError("Cannot close " + path_, errno);
  }

 private:
  // Room for the file and some line ends and separators gained on the way, so that the text
  // is not copied to a larger block (which would hold it twice) while it is read or normalised.
  void Reserve(std::string& out) {
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
    const auto size = static_cast<std::size_t>(st.st_size);
    const std::size_t want = out.size() + size + size / 8 + 64;
    if (want > out.capacity()) out.reserve(want);
    AdviseHugePages(out.data() + out.size(), out.capacity() - out.size());
  }

  // Filling a large text page by page costs a fault per 4 KiB, which on a virtual machine
  // can take longer than the rest of the reading; large pages make that a fault per 2 MiB.
  static void AdviseHugePages(char* from, std::size_t length) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kPage = 4096;
    if (length < (std::size_t{8} << 20)) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(from) + kPage - 1) & ~(kPage - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(from) + length;
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // advice only
#else
    (void)from;
    (void)length;
#endif
  }

  // Fills buf with up to kChunk bytes; 0 at the end of the file.
  std::size_t ReadChunk(char* buf) {
    for (;;) {
      const ssize_t got = ::read(fd_, buf, kChunk);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) throw SystemError("Cannot read " + path_, errno);
    }
  }

  [[noreturn]] void Invalid(std::uint64_t offset) const {
    const bool utf8 = IsUtf8(codeset_);
    const std::uint64_t line = LineAt(offset);
    throw TextError("Cannot read " + path_ + ": the byte at offset " + std::to_string(offset) +
                        " (line " + std::to_string(line) + ") is not valid " + codeset_ +
                        " text; convert the file to " + codeset_ + ", e.g. with iconv -f " +
                        (utf8 ? "WINDOWS-1252" : "UTF-8") + " -t " + codeset_,
                    offset, line);
  }

  // The line, as an editor counts them, that holds `offset`.
  std::uint64_t LineAt(std::uint64_t offset) const {
    LineCounter counter;
    char buf[1 << 14];
    for (std::uint64_t at = 0; at < offset;) {
      const ssize_t got = ::pread(fd_, buf, std::min<std::uint64_t>(sizeof buf, offset - at),
                                  static_cast<off_t>(at));
      if (got <= 0) {
        if (got < 0 && errno == EINTR) continue;
        break;
      }
      counter.Feed(std::string_view(buf, static_cast<std::size_t>(got)));
      at += static_cast<std::uint64_t>(got);
    }
    return counter.Next().line;
  }

  void ReadUtf8(LineWriter& writer) {
    auto buf = std::make_unique_for_overwrite<char[]>(kChunk + kCarry);
    std::size_t carry = 0;
    std::uint64_t offset = 0;  // of buf[0] in the file
    for (;;) {
      const std::size_t got = ReadChunk(buf.get() + carry);
      const std::size_t n = carry + got;
      const std::size_t cut = got == 0 ? n : CompleteUtf8(buf.get(), n);
      if (const char* bad = FirstInvalidUtf8(buf.get(), buf.get() + cut))
        Invalid(offset + static_cast<std::uint64_t>(bad - buf.get()));
      // Editors on Windows write a byte-order mark; it is no part of the script.
      const std::size_t skip =
          offset == 0 && cut >= 3 && std::memcmp(buf.get(), "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
      writer.Feed(buf.get() + skip, buf.get() + cut);
      if (got == 0) return;
      carry = n - cut;
      std::memmove(buf.get(), buf.get() + cut, carry);
      offset += cut;
    }
  }

  void ReadConverted(LineWriter& writer) {
    Iconv cd(codeset_, path_);
    auto buf = std::make_unique_for_overwrite<char[]>(kChunk + kCarry);
    auto converted = std::make_unique_for_overwrite<char[]>(kChunk);
    std::size_t carry = 0;
    std::uint64_t offset = 0;
    for (;;) {
      const std::size_t got = ReadChunk(buf.get() + carry);
      char* in = buf.get();
      std::size_t inLeft = carry + got;
      while (inLeft > 0) {
        char* o = converted.get();
        std::size_t outLeft = kChunk;
        const std::size_t r = iconv(cd.get(), &in, &inLeft, &o, &outLeft);
        const int err = errno;
        writer.Feed(converted.get(), o);
        if (r != static_cast<std::size_t>(-1)) break;
        if (err == E2BIG) continue;
        if (err == EINVAL && got != 0 && inLeft <= kCarry) break;  // cut off: wait for the rest
        Invalid(offset + static_cast<std::uint64_t>(in - buf.get()));
      }
      if (got == 0) {
        char* o = converted.get();
        std::size_t outLeft = kChunk;
        iconv(cd.get(), nullptr, nullptr, &o, &outLeft);
        writer.Feed(converted.get(), o);
        return;
      }
      offset += static_cast<std::uint64_t>(in - buf.get());
      carry = inLeft;
      std::memmove(buf.get(), in, carry);
    }
  }

  std::string path_;
  int fd_;
  std::string codeset_;
};

}  // namespace

void LineCounter::Feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (c == '\n' ? !afterCr_ : c == '\r') {
      ++line_;
      column_ = 1;
    } else if (c != '\n' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++column_;
    }
    afterCr_ = c == '\r';
  }
}

TextPlace ReadTextPlaces::At(std::size_t offset) {
  if (offset < at_) *this = ReadTextPlaces(text_);
  // Reading leaves every CR before an LF; a CR before another CR is the one the GO lines'
  // normalisation put in front of a CR LF, and no part of the file.
  std::size_t from = at_;
  for (std::size_t i = at_; i < offset; ++i) {
    if (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\r') {
      counter_.Feed(text_.substr(from, i - from));
      from = i + 1;
    }
  }
  counter_.Feed(text_.substr(from, offset - from));
  at_ = offset;
  return counter_.Next();
}

std::unique_ptr<TextFile> OpenTextFile(const std::string& path) {
  // Without O_NONBLOCK, opening a named pipe waits for a writer for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) throw SystemError("Cannot open " + path, errno);
  std::unique_ptr<PosixTextFile> file;
  try {
    file = std::make_unique<PosixTextFile>(path, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  file->CheckReadable();
  return file;
}

bool IsTextFileToRead(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    // A link to nothing, or a name gone since the folder was read: there is no file.
    if (err == ENOENT || err == ENOTDIR) return false;
    throw SystemError("Cannot open " + path, err);
  }
  if (S_ISDIR(st.st_mode)) return false;
  // Opening a device may act on it (a tape rewinds): refused without opening.
  if (!S_ISREG(st.st_mode)) throw NotRegular(path, st.st_mode);
  OpenTextFile(path)->Close();
  return true;
}

}  // namespace vandrel::platform
