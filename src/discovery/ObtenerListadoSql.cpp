#include <array>
#include <limits>

#include "Mod_Main.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"
#include "shell/routine_error_report.h"

namespace vandrel {
namespace {

struct Categoria {
  const char* busqueda;
  const char* entidad;
};

// Searched in this order; the run executes the scripts in list order.
constexpr std::array<Categoria, 4> kCategorias{{
    {"\\CATALOGOS_*.sql", "CATALOGOS"},
    {"\\INTERNOS_*.sql", "INTERNOS"},
    {"\\NCM_*.sql", "NCM"},
    {"\\SYSTABLAS_*.sql", "SYSTABLAS"},
}};

}  // namespace

void ObtenerListadoSql() {
  Trapped(
      [&](LineLabel& line) {
        platform::Env& env = *services.env;
        int32_t n = 0;
        RegistroScript trabajo;
        for (int32_t k = 0; k < static_cast<int32_t>(kCategorias.size()); ++k) {
          const int32_t base = 100 * k;
          line = base + 10;
          trabajo.Archivo = env.Dir(env.ProgramFolder() + kCategorias[k].busqueda,
                                    platform::kAttrArchive);
          for (;;) {
            line = base + 20;
            if (trabajo.Archivo.empty()) break;
            line = base + 30;
            trabajo.Entidad = kCategorias[k].entidad;
            line = base + 40;
            if (n == std::numeric_limits<int32_t>::max()) throw Overflow();
            n = n + 1;
            line = base + 50;
            ListaScripts.resize(static_cast<std::size_t>(n) + 1);
            line = base + 60;
            ListaScripts.at(n).Archivo = trabajo.Archivo;
            line = base + 70;
            ListaScripts.at(n).Entidad = trabajo.Entidad;
            line = base + 80;
            trabajo.Archivo.clear();
            line = base + 90;
            trabajo.Entidad.clear();
            line = base + 100;
            trabajo.Archivo = env.DirNext();
          }
        }
      },
      [&](const TrappedError& error) {
        ShowRoutineError(*services.desktop, error, kEnObtenerListado);
        EndProgram(ExitStatus::Failed);
      });
}

std::vector<std::string> EntidadesBuscadas() {
  std::vector<std::string> entidades;
  for (const Categoria& c : kCategorias) entidades.emplace_back(c.entidad);
  return entidades;
}

}  // namespace vandrel
