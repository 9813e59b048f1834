#include <limits>

#include "Mod_Main.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"
#include "shell/routine_error_report.h"

namespace vandrel {

void ListarActualizacionesEnPantalla(shell::StatusSurface& Vandrel) {
  Trapped(
      [&](LineLabel& line) {
        line = 10;
        const int32_t n = UBoundListaScripts();
        line = 20;
        Vandrel.ClearList();
        line = 30;
        Vandrel.SetStatusText("Buscando actualizaciones ... ");
        for (int32_t i = 1;;) {
          line = 40;
          if (i > n) break;
          line = 50;
          Vandrel.AddListEntry(ListaScripts.at(i).Archivo);
          line = 60;
          Vandrel.SetStatusText("Buscando actualizaciones 1 de " + std::to_string(i));
          line = 70;
          Vandrel.SetProgressMax(static_cast<float>(i));
          line = 80;
          if (i == std::numeric_limits<int32_t>::max()) throw Overflow();
          i = i + 1;
        }
      },
      [&](const TrappedError& error) {
        ShowRoutineError(*services.desktop, error, kEnListar);
        EndProgram(ExitStatus::Failed);
      });
}

}  // namespace vandrel
