// Texts the window shows before the run writes to it.
#pragma once

namespace vandrel::shell {

inline constexpr const char* kTituloVentana = "Vandrel";
inline constexpr const char* kTitulo = "Vandrel de Base de Datos de Corvessa";
inline constexpr const char* kPreparando = "Preparando ...";

}  // namespace vandrel::shell
