#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "Mod_Main.h"
#include "execution/current.h"
#include "execution/script_batches.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"

namespace vandrel {
namespace {

// The place adds to the report; failing to find it (memory) must not keep the report back.
std::optional<shell::FailurePlace> Lugar(const std::string& ruta, const std::string& archivo,
                                         std::string_view pieza,
                                         const std::optional<ado::BatchPlace>& lugar,
                                         const std::string& descripcion) noexcept try {
  if (!lugar) return std::nullopt;
  const LugarEnScript enScript = LugarDelFallo(TextoScript, pieza, *lugar);
  shell::FailurePlace place;
  place.path = platform::NativePath(ruta);
  place.file = archivo;
  place.line = enScript.lugar.line;
  if (enScript.exacto) place.column = enScript.lugar.column;
  place.batchLine = enScript.lineaDelLote;
  place.message = descripcion.substr(0, descripcion.find_first_of("\r\n"));
  return place;
} catch (...) {
  return std::nullopt;
}

}  // namespace

bool EjecutarScript(const RegistroScript& Registro) {
  int16_t IndiceLote = 0;
  std::string TextoLote;
  std::unique_ptr<platform::TextFile> archivo;
  std::vector<std::string_view> Lotes;
  std::string ruta;
  std::string_view pieza;
  std::optional<ado::BatchPlace> lugar;  // set when the engine refused the batch
  return Trapped(
      [&](LineLabel& line) {
        platform::Env& env = *services.env;
        line = 10;
        ruta = RutaScript(Registro);
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
          pieza = Lotes[static_cast<std::size_t>(IndiceLote)];
          // A batch that cannot be formed is reported with its own number and what of it was
          // formed, never with the previous batch's text; a block too small for it is freed
          // first, which leaves room.
          if (TextoLote.capacity() < pieza.size() + 2) TextoLote = std::string();
          TextoLote.clear();
          TextoLote.reserve(pieza.size() + 2);
          TextoLote.assign(pieza).append("\r\n");
          line = 210;
          Notify(&RunEvents::BatchStarting, int64_t{IndiceLote}, int64_t{limite} + 1);
          services.desktop->DoEvents();
          line = 220;
          ado::Connection& conexion = Conexion();
          try {
            conexion.Execute(TextoLote, ado::adOptionUnspecified);
          } catch (const ado::BatchError& e) {
            lugar = e.Place();
            throw;
          } catch (...) {
            lugar = ado::BatchPlace{};
            throw;
          }
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
        // Found once: the record and the report show the same place.
        const std::optional<shell::FailurePlace> place =
            Lugar(ruta, Registro.Archivo, pieza, lugar, error.description);
        FailedBatch fallo;
        fallo.script = Registro.Archivo;
        fallo.index = IndiceLote;
        fallo.text = TextoLote;
        fallo.message = error.description;
        fallo.place = place ? &*place : nullptr;
        Notify(&RunEvents::BatchFailed, fallo);
        Conexion().RollbackTrans();
        const std::string informe = error.description + " Actualización Cancelada. Script: " +
                                    Registro.Archivo + " - Linea: " + std::to_string(IndiceLote);
        services.desktop->MsgBoxWithBatch(informe + TextoLote, informe.size(), shell::vbCritical,
                                          "¡Atencion!", place);
        services.desktop->ClipboardClear();
        services.desktop->ClipboardSetText(TextoLote);
        EndProgram(ExitStatus::Failed);
      });
}

}  // namespace vandrel
