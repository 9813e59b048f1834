#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/error.h"
#include "platform/text_file.h"

namespace vandrel::platform {
namespace {

class PosixTextFile final : public TextFile {
 public:
  PosixTextFile(std::string path, FILE* f) : path_(std::move(path)), f_(f) {}
  ~PosixTextFile() override {
    if (f_ != nullptr) fclose(f_);
  }

  void ReadAllLines(std::string& out) override {
    bool lineOpen = false;
    int c;
    while ((c = getc(f_)) != EOF) {
      if (c == '\r') {
        int n = getc(f_);
        if (n != '\n' && n != EOF) ungetc(n, f_);
        out += "\r\n";
        lineOpen = false;
      } else {
        out += static_cast<char>(c);
        lineOpen = true;
      }
    }
    if (ferror(f_)) throw SystemError("Cannot read " + path_, errno);
    if (lineOpen) out += "\r\n";
  }

  void Close() override {
    FILE* f = f_;
    f_ = nullptr;
    if (f != nullptr && fclose(f) != 0) throw SystemError("Cannot close " + path_, errno);
  }

 private:
  std::string path_;
  FILE* f_;
};

}  // namespace

std::unique_ptr<TextFile> OpenTextFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) throw SystemError("Cannot open " + path, errno);
  return std::make_unique<PosixTextFile>(path, f);
}

}  // namespace vandrel::platform
