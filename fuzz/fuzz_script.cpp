// Reading a script file and cutting it into batches, against the plain reference (with
// "GO" after a lone LF): the same text, the same batches, and a read failure exactly when
// (and where) the bytes are not valid UTF-8.
#include <sys/mman.h>
#include <unistd.h>
#include <unistr.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "execution/script_batches.h"
#include "platform/error.h"
#include "platform/text_file.h"
#include "splitting/reference_split.h"

namespace {

// A file in memory, opened again by name for every input: nothing is left on disk, even
// when a run crashes.
const std::string& ScratchFile() {
  static const std::string path = [] {
    const int fd = memfd_create("vandrel-fuzz-script", 0);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  FILE* f = std::fopen(ScratchFile().c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);

  std::string text, failure;
  uint64_t offset = UINT64_MAX;
  try {
    auto file = vandrel::platform::OpenTextFile(ScratchFile());
    file->ReadAllLines(text);
    file->Close();
  } catch (const vandrel::TextError& e) {
    failure = e.what();
    offset = e.offset;
  } catch (const vandrel::Error& e) {
    failure = e.what();
  }
  if (const uint8_t* bad = u8_check(data, size)) {
    Check(offset == static_cast<uint64_t>(bad - data), "invalid text not reported at its offset");
    const std::string at = "the byte at offset " + std::to_string(bad - data) + " (line ";
    Check(failure.find(at) != std::string::npos, "the message does not name the offset");
    return 0;
  }
  Check(failure.empty(), "valid text refused");
  // A byte-order mark at the very start is no part of the text.
  const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  Check(text == vandrel::testing::ReferenceLines(bom ? bytes.substr(3) : bytes), "lines");
  const std::string normalised = vandrel::testing::ReferenceNormalise(text);
  vandrel::NormalizarSeparadores(text);
  Check(text == normalised, "separators");
  const auto expected = vandrel::testing::ReferenceSplit(normalised);
  const auto pieces = vandrel::CortarLotes(text);
  Check(pieces.size() == expected.size(), "number of batches");
  for (std::size_t i = 0; i < pieces.size(); ++i) Check(pieces[i] == expected[i], "batch");
  return 0;
}
