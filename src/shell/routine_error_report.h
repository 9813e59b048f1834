// The routine error report: the error's description, the routine and the line at which it
// failed, in an exclamation box titled "VandrelSQL v.2.0.1".
#pragma once

#include <string>
#include <string_view>

#include "shell/desktop.h"
#include "shell/error_trap.h"

namespace vandrel {

inline constexpr std::string_view kEnEstablecerEntidad = "in VandrelSQL.Mod_Main.EstablecerEntidad ";
inline constexpr std::string_view kEnObtenerListado = "in VandrelSQL.Mod_Main.ObtenerListadoSql ";
inline constexpr std::string_view kEnListar =
    "in VandrelSQL.Mod_Main.ListarActualizacionesEnPantalla ";
inline constexpr std::string_view kEnEjecutarActualizaciones =
    "in VandrelSQL.Mod_Main.EjecutarActualizaciones ";

// The prompt: description, then (for the connection routine) "Entidad buscada:" and the
// entity, then CR LF, the location text, "at line " and the label.
std::string RoutineErrorPrompt(const TrappedError& error, std::string_view location,
                               const std::string* entity = nullptr);

// Builds the report and shows it modally; returns when it is closed.
void ShowRoutineError(shell::Desktop& desktop, const TrappedError& error,
                      std::string_view location, const std::string* entity = nullptr);

}  // namespace vandrel
