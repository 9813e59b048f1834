#include <cstdint>
#include <limits>
#include <memory>

#include "Mod_Main.h"
#include "execution/current.h"
#include "execution/script_batches.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"

namespace vandrel {

bool EjecutarScript(const RegistroScript& Registro) {
  int16_t IndiceLote = 0;
  std::string TextoLote;
  std::unique_ptr<platform::TextFile> archivo;
  std::vector<std::string_view> Lotes;
  return Trapped(
      [&](LineLabel& line) {
        platform::Env& env = *services.env;
        line = 10;
        const std::string ruta = RutaScript(Registro);
        Notify(&RunEvents::ScriptStarted, Registro.Archivo, ruta);
        line = 20;
        archivo = env.OpenText(ruta);
        line = 30;
        archivo->ReadAllLines(TextoScript);
        line = 70;
        NormalizarSeparadores(TextoScript);
        line = 160;
        Lotes = CortarLotes(TextoScript);
        line = 180;
        const int64_t ultimo = static_cast<int64_t>(Lotes.size()) - 1;
        if (ultimo - 1 > std::numeric_limits<int16_t>::max()) throw DemasiadosLotes(ultimo);
        const int16_t limite = static_cast<int16_t>(ultimo - 1);
        IndiceLote = 0;
        while (IndiceLote <= limite) {
          line = 190;
          const std::string_view pieza = Lotes[static_cast<std::size_t>(IndiceLote)];
          TextoLote.reserve(pieza.size() + 2);
          TextoLote.assign(pieza).append("\r\n");
          line = 210;
          Notify(&RunEvents::BatchStarting, int64_t{IndiceLote}, int64_t{limite} + 1);
          services.desktop->DoEvents();
          line = 220;
          Conexion().Execute(TextoLote, ado::adOptionUnspecified);
          line = 230;
          if (IndiceLote == std::numeric_limits<int16_t>::max()) throw DemasiadosLotes(ultimo);
          IndiceLote = static_cast<int16_t>(IndiceLote + 1);
        }
        line = 240;
        archivo->Close();
        line = 260;
        TextoScript.clear();
        line = 280;
        Notify(&RunEvents::ScriptEnded);
        return true;
      },
      // Anything this path raises (a failed rollback) leaves the routine for the run's trap.
      [&](const TrappedError& error) -> bool {
        Notify(&RunEvents::ScriptEnded);
        FailedBatch fallo;
        fallo.script = Registro.Archivo;
        fallo.index = IndiceLote;
        fallo.text = TextoLote;
        fallo.message = error.description;
        Notify(&RunEvents::BatchFailed, fallo);
        Conexion().RollbackTrans();
        const std::string informe = error.description + " Actualización Cancelada. Script: " +
                                    Registro.Archivo + " - Linea: " + std::to_string(IndiceLote);
        services.desktop->MsgBoxWithBatch(informe + TextoLote, informe.size(), shell::vbCritical,
                                          "¡Atencion!");
        services.desktop->ClipboardClear();
        services.desktop->ClipboardSetText(TextoLote);
        EndProgram(ExitStatus::Failed);
      });
}

}  // namespace vandrel
