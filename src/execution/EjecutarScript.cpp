#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "Mod_Main.h"
#include "execution/current.h"
#include "execution/script_batches.h"
#include "execution/script_run.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"

namespace vandrel {

std::optional<shell::FailurePlace> LugarDeLaCorrida(const RegistroScript& Registro,
                                                    const CorridaDeScript& corrida,
                                                    const std::string& descripcion) noexcept try {
  if (!corrida.lugar) return std::nullopt;
  const LugarEnScript enScript = LugarDelFallo(TextoScript, corrida.pieza, *corrida.lugar);
  shell::FailurePlace place;
  place.path = platform::NativePath(corrida.ruta);
  place.file = Registro.Archivo;
  place.line = enScript.lugar.line;
  if (enScript.exacto) place.column = enScript.lugar.column;
  place.batchLine = enScript.lineaDelLote;
  place.message = descripcion.substr(0, descripcion.find_first_of("\r\n"));
  return place;
} catch (...) {
  return std::nullopt;
}

void EjecutarLotes(const RegistroScript& Registro, CorridaDeScript& corrida, LineLabel& line,
                   ObservadorDeLotes* observador) {
  int16_t& IndiceLote = corrida.IndiceLote;
  std::string& TextoLote = corrida.TextoLote;
  std::vector<std::string_view> Lotes;
  // A failure of the batch `enCurso` or, pipelined, of one handed over before it: `corrida`
  // then shows the batch that failed.
  const auto fallo = [&](std::int64_t enCurso) {
    std::int64_t lote = enCurso;
    try {
      throw;
    } catch (const ado::BatchError& e) {
      corrida.lugar = e.Place();
      lote = e.Batch().value_or(enCurso);
    } catch (...) {
      corrida.lugar = ado::BatchPlace{};
    }
    if (lote != IndiceLote && lote >= 0 && static_cast<std::size_t>(lote) < Lotes.size()) {
      IndiceLote = static_cast<int16_t>(lote);
      corrida.pieza = Lotes[static_cast<std::size_t>(lote)];
      TextoLote.assign(corrida.pieza).append("\r\n");
    }
  };
  const auto drenar = [&](std::int64_t ultimoEnviado) {
    try {
      Conexion().Drain();
    } catch (...) {
      fallo(ultimoEnviado);
      throw;
    }
  };
  platform::Env& env = *services.env;
  line = 10;
  corrida.ruta = RutaScript(Registro);
  Notify(&RunEvents::ScriptStarted, Registro.Archivo, corrida.ruta);
  line = 20;
  corrida.archivo = env.OpenText(corrida.ruta);
  line = 30;
  corrida.archivo->ReadAllLines(TextoScript);
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
    corrida.pieza = Lotes[static_cast<std::size_t>(IndiceLote)];
    // A batch that cannot be formed is reported with its own number and what of it was
    // formed, never with the previous batch's text; a block too small for it is freed
    // first, which leaves room.
    if (TextoLote.capacity() < corrida.pieza.size() + 2) TextoLote = std::string();
    TextoLote.clear();
    TextoLote.reserve(corrida.pieza.size() + 2);
    TextoLote.assign(corrida.pieza).append("\r\n");
    line = 210;
    Notify(&RunEvents::BatchStarting, int64_t{IndiceLote}, int64_t{limite} + 1);
    if (observador != nullptr) observador->AntesDelLote(IndiceLote, int64_t{limite} + 1);
    services.desktop->DoEvents();
    line = 220;
    ado::Connection& conexion = Conexion();
    try {
      conexion.Execute(TextoLote, ado::adOptionUnspecified, IndiceLote);
      // An observer hears of a batch once it has run, not merely been sent.
      if (observador != nullptr) conexion.Drain();
    } catch (...) {
      fallo(IndiceLote);
      throw;
    }
    if (observador != nullptr) observador->DespuesDelLote(IndiceLote);
    line = 230;
    if (IndiceLote == std::numeric_limits<int16_t>::max()) {
      drenar(IndiceLote);
      throw DemasiadosLotes(ultimo);
    }
    IndiceLote = static_cast<int16_t>(IndiceLote + 1);
  }
  // Every batch has run before the script ends.
  if (limite >= 0) drenar(limite);
  line = 240;
  corrida.archivo->Close();
  line = 260;
  TextoScript.clear();
}

bool EjecutarScript(const RegistroScript& Registro) {
  CorridaDeScript corrida;
  return Trapped(
      [&](LineLabel& line) {
        EjecutarLotes(Registro, corrida, line);
        line = 280;
        Notify(&RunEvents::ScriptEnded);
        return true;
      },
      // Anything this path raises (a failed rollback) leaves the routine for the run's trap.
      [&](const TrappedError& error) -> bool {
        Notify(&RunEvents::ScriptEnded);
        // Found once: the record and the report show the same place.
        const std::optional<shell::FailurePlace> place =
            LugarDeLaCorrida(Registro, corrida, error.description);
        FailedBatch fallo;
        fallo.script = Registro.Archivo;
        fallo.index = corrida.IndiceLote;
        fallo.text = corrida.TextoLote;
        fallo.message = error.description;
        fallo.place = place ? &*place : nullptr;
        Notify(&RunEvents::BatchFailed, fallo);
        Conexion().RollbackTrans();
        const std::string informe = error.description + " Actualización Cancelada. Script: " +
                                    Registro.Archivo + " - Linea: " +
                                    std::to_string(corrida.IndiceLote);
        services.desktop->MsgBoxWithBatch(informe + corrida.TextoLote, informe.size(),
                                          shell::vbCritical, "¡Atencion!", place);
        services.desktop->ClipboardClear();
        services.desktop->ClipboardSetText(corrida.TextoLote);
        EndProgram(ExitStatus::Failed);
      });
}

}  // namespace vandrel
