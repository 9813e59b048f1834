#include "shell/arguments.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/locale_text.h"
#include "shell/identity.h"
#include "shell/window_texts.h"

namespace vandrel::shell {
namespace {

constexpr const char* kUso = "Uso: vandrelsql [CARPETA | --help | --version]\n";

void Write(FILE* to, const std::string& utf8) {
  const std::string text = platform::ToLocaleText(utf8);
  std::fwrite(text.data(), 1, text.size(), to);
  std::fflush(to);
}

}  // namespace

int HandleArguments(int argc, const char* const* argv, std::string& folder, FILE* out,
                    FILE* err) {
  folder.clear();
  if (argc <= 1) return -1;
  const char* arg = argv[1];
  if (argc == 2 && std::strcmp(arg, "--version") == 0) {
    Write(out, std::string(identity::kProductName) + " " + identity::VersionText() + "\n");
    return 0;
  }
  if (argc == 2 && std::strcmp(arg, "--help") == 0) {
    Write(out, std::string(kTitulo) + " " + identity::VersionText() + "\n" + kUso +
                   "\n"
                   "Sin argumentos ejecuta, en una transacción por entidad, los scripts\n"
                   "CATALOGOS_*.sql, INTERNOS_*.sql, NCM_*.sql y SYSTABLAS_*.sql de la carpeta\n"
                   "del programa, con las conexiones de $ProgramFiles/Corvessa/quillmereconfig.ini\n"
                   "(/opt/Corvessa/quillmereconfig.ini si ProgramFiles no está definida).\n"
                   "\n"
                   "  CARPETA    ejecuta los scripts de CARPETA en lugar de los de la carpeta\n"
                   "             del programa\n"
                   "  --help     muestra esta ayuda y termina sin ejecutar nada\n"
                   "  --version  muestra la versión y termina sin ejecutar nada\n"
                   "\n"
                   "Estado de salida: 0 todo se ejecutó y se confirmó, o no había scripts; 1 se\n"
                   "informó un fallo; 2 se canceló: no hubo conexión para una entidad; 3 una\n"
                   "entidad ACCESS detuvo la ejecución; 4 se cerró la ventana antes de empezar;\n"
                   "64 argumentos no válidos; 128 + N la señal N detuvo la ejecución, que se\n"
                   "deshizo.\n"
                   "\n"
                   "Cada ejecución se anota en $XDG_STATE_HOME/vandrelsql/vandrelsql.log\n"
                   "(~/.local/state/vandrelsql/vandrelsql.log si XDG_STATE_HOME no está definida).\n");
    return 0;
  }
  if (argc == 2 && arg[0] != '-' && arg[0] != '\0') {
    struct stat info {};
    if (stat(arg, &info) != 0 || !S_ISDIR(info.st_mode)) {
      Write(err, std::string("vandrelsql: ") + arg + " no es una carpeta; no se ha ejecutado nada\n" +
                     kUso);
      return kExitUsage;
    }
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(arg, ec).lexically_normal().string();
    if (ec) absolute = arg;
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    folder = absolute;
    return -1;
  }
  const char* bad = arg;
  if (argc > 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "--version") == 0))
    bad = argv[2];
  Write(err, std::string("vandrelsql: argumento no reconocido: ") + bad +
                 "; no se ha ejecutado nada\n" + kUso);
  return kExitUsage;
}

}  // namespace vandrel::shell
