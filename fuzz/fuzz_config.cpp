// quillmereconfig.ini of any content: loading it and asking for an entity either works or
// fails with the manager's Error; nothing else (a crash, another exception) is allowed.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/error.h"
#include "quillmere/quillmere.h"

namespace {

// A file in memory, opened again by name for every input: nothing is left on disk, even
// when a run crashes.
const std::string& ScratchFile() {
  static const std::string path = [] {
    const int fd = memfd_create("vandrel-fuzz-ini", 0);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vandrel::automation;
  FILE* f = std::fopen(ScratchFile().c_str(), "wb");
  if (f == nullptr || std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  auto manager = quillmere::Create();
  try {
    Args path{ScratchFile()};
    manager->Invoke("setParametersPath", InvokeKind::PropertyPut, path);
    Args none;
    manager->Invoke("LoadParameters", InvokeKind::Method, none);
  } catch (const vandrel::Error&) {
    return 0;
  }
  for (const char* entity : {"CATALOGOS", "INTERNOS", "NCM", "SYSTABLAS"}) {
    try {
      Args e{entity};
      manager->Invoke("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, e);
      Args e2{entity};
      // The object only; opening a connection is the drivers' business, not parsing.
      manager->Invoke("getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, e2);
    } catch (const vandrel::Error&) {
    }
  }
  return 0;
}
