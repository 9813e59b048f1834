// One script's batches read, cut and executed on the current connection exactly as the
// update run does it, without the run's failure path: the failure is handed back to the
// caller, who reports it (EjecutarScript) or records it (the rehearsal).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Mod_Main.h"
#include "platform/ado/batch_place.h"
#include "platform/text_file.h"
#include "shell/error_trap.h"

namespace vandrel {

// Told of each batch by EjecutarLotes; what it throws fails the script like the batch would.
class ObservadorDeLotes {
 public:
  virtual ~ObservadorDeLotes() = default;
  virtual void AntesDelLote(int64_t /*indice*/, int64_t /*lotes*/) {}
  virtual void DespuesDelLote(int64_t /*indice*/) {}
};

// How far a script got: after a failure, what the report shows.
struct CorridaDeScript {
  int16_t IndiceLote = 0;
  std::string TextoLote;
  std::string ruta;                       // the script as opened
  std::string_view pieza;                 // the batch's piece of TextoScript
  std::optional<ado::BatchPlace> lugar;   // set when the batch itself failed
  std::unique_ptr<platform::TextFile> archivo;
};

// REQUIRES: the current connection has a transaction open; TextoScript is empty.
// Reads `Registro`'s script into TextoScript, cuts it and executes its batches in order.
// On success TextoScript is empty again. Throws whatever failed, with `line` at the
// failing step and `corrida` saying where; TextoScript then still holds the text, for
// LugarDeLaCorrida.
void EjecutarLotes(const RegistroScript& Registro, CorridaDeScript& corrida, LineLabel& line,
                   ObservadorDeLotes* observador = nullptr);

// The failing batch's place in its script file, or nothing when it is not known. Never
// throws: failing to find it must not keep a report back.
std::optional<shell::FailurePlace> LugarDeLaCorrida(const RegistroScript& Registro,
                                                    const CorridaDeScript& corrida,
                                                    const std::string& descripcion) noexcept;

}  // namespace vandrel
