// The current connection and command, or the runtime's error when none was obtained yet.
#pragma once

#include "Mod_Main.h"
#include "platform/error.h"

namespace vandrel {

inline ado::Connection& Conexion() {
  if (!ConexionActual) throw Error("Object variable or With block variable not set");
  return *ConexionActual;
}

inline ado::Command& Comando() {
  if (!ComandoActual) throw Error("Object variable or With block variable not set");
  return *ComandoActual;
}

}  // namespace vandrel
