#include "shell/window_loader.h"

#include <dlfcn.h>

#include <cstdlib>

#include "platform/locale_text.h"
#include "shell/qt/display_probe.h"

namespace vandrel::shell {

bool ChooseWindow() {
  // Qt aborts the process when the platform it is told to use cannot be reached: a
  // desktop profile's QT_QPA_PLATFORM=wayland carried over SSH must give the console.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') return NamedPlatformAnswers(platform);
  if (XAnswers()) return true;
  if (!WaylandAnswers()) return false;
  // Qt would otherwise try X first and abort on a DISPLAY that does not answer.
  ::setenv("QT_QPA_PLATFORM", "wayland", 1);
  return true;
}

WindowEntry LoadWindow(const std::string& folder, FILE* err) {
  const std::string path = folder + "/" + kWindowLibrary;
  // RTLD_NOW: a symbol missing from an unsuitable library shows here, not in the middle of
  // the run.
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = library == nullptr ? nullptr : ::dlsym(library, kWindowEntry);
  if (entry != nullptr) return reinterpret_cast<WindowEntry>(entry);
  const char* why = ::dlerror();
  const std::string line = "vandrelsql: no se puede abrir la ventana (" +
                           std::string(why != nullptr ? why : path) +
                           "); la actualización sigue en la terminal\n";
  const std::string text = platform::ToLocaleText(line);
  std::fwrite(text.data(), 1, text.size(), err);
  std::fflush(err);
  if (library != nullptr) ::dlclose(library);
  return nullptr;
}

}  // namespace vandrel::shell
