// The routines in-process, where a whole run would hide them:
//  - discovering and listing N scripts (ObtenerListadoSql + ListarActualizacionesEnPantalla),
//    with a status surface that keeps nothing and with the console's, against listing the
//    same folder with std::filesystem and sorting the names;
//  - what the console's DoEvents, called before every batch, costs per call.
//
//   routines_bench [scripts=10000]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Mod_Main.h"
#include "shell/console.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class FolderEnv final : public vandrel::platform::EnvWrapper {
 public:
  explicit FolderEnv(std::string folder)
      : EnvWrapper(vandrel::platform::Env::Default()), folder_(std::move(folder)) {}
  std::string ProgramFolder() override { return folder_; }

 private:
  std::string folder_;
};

class NullStatus final : public vandrel::shell::StatusSurface {
 public:
  void ClearList() override {}
  void AddListEntry(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void SetProgressMax(float) override {}
  void SetProgressValue(float) override {}
};

template <typename F>
double Best(int reps, F&& f) {
  double best = 1e300;
  for (int i = 0; i < reps; ++i) {
    const auto start = Clock::now();
    f();
    best = std::min(best, Since(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
  std::string tmpl = (fs::temp_directory_path() / "vandrel-bench-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) return 2;
  const fs::path folder = tmpl;
  // Spread over the four entities, as a large installation would be.
  static const char* const kEntities[] = {"CATALOGOS", "INTERNOS", "NCM", "SYSTABLAS"};
  for (int i = 0; i < n; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s_%05d.sql", kEntities[i % 4], i);
    std::ofstream(folder / name) << "SELECT 1;\r\nGO\r\n";
  }
  FolderEnv env(folder.string());
  vandrel::services.env = &env;
  vandrel::shell::ConsoleDesktop desktop;
  vandrel::services.desktop = &desktop;

  auto discover = [&](vandrel::shell::StatusSurface& status) {
    vandrel::InitModule();
    vandrel::ObtenerListadoSql();
    vandrel::ListarActualizacionesEnPantalla(status);
    if (vandrel::UBoundListaScripts() != n) std::abort();
  };
  NullStatus null;
  const double bare = Best(5, [&] { discover(null); });
  FILE* devnull = std::fopen("/dev/null", "w");
  vandrel::shell::ConsoleStatus console(devnull);
  const double printed = Best(5, [&] { discover(console); });
  const double listing = Best(5, [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    if (static_cast<int>(names.size()) != n) std::abort();
  });
  vandrel::ReleaseModule();
  fs::remove_all(folder);

  std::printf("Discover and list %d scripts: %.4f s (console surface to /dev/null %.4f s), "
              "directory listing and sort %.4f s, ratio %.2f\n",
              n, bare, printed, listing, bare / listing);
  std::printf("RESULT|Discover and list %d scripts|%.4f s|%.4f s (directory_iterator + sort)|"
              "%.2f|none (shown)\n",
              n, bare, listing, bare / listing);
  std::printf("RESULT|The same, console printing the list|%.4f s|%.4f s|%.2f|none (shown)\n",
              printed, listing, printed / listing);

  // DoEvents through the seam, as EjecutarScript calls it.
  vandrel::shell::Desktop* seam = &desktop;
  constexpr int kCalls = 10'000'000;
  const double doEvents = Best(3, [&] {
    for (int i = 0; i < kCalls; ++i) {
      seam->DoEvents();
      asm volatile("" ::: "memory");
    }
  });
  std::printf("Console DoEvents: %.2f ns per batch\n", doEvents / kCalls * 1e9);
  std::printf("RESULT|DoEvents per batch, console|%.1f ns|-|-|none (shown)\n",
              doEvents / kCalls * 1e9);
  return 0;
}
