// The updater's module: its state, alive until the program ends, and its five routines.
// Each routine arms its error trap first and ends the program on every failure, except
// EstablecerEntidad, which reports and returns false.
#pragma once

#include <string>
#include <vector>

#include "execution/run_events.h"
#include "platform/ado/connection.h"
#include "platform/automation/object.h"
#include "platform/env.h"
#include "shell/desktop.h"
#include "shell/status_surface.h"

namespace vandrel {

struct RegistroScript {
  std::string Archivo;  // file name as stored on disk, no folder
  std::string Entidad;  // "CATALOGOS", "INTERNOS", "NCM" or "SYSTABLAS"
};

// Slot 0 is never used; slots 1..UBound hold the scripts in run order.
extern std::vector<RegistroScript> ListaScripts;
extern automation::ObjectPtr GestorDatos;
extern ado::ConnectionPtr ConexionActual;
extern ado::CommandPtr ComandoActual;
extern std::string TextoScript;

int32_t UBoundListaScripts();

// The platform seams the routines use, set once by the front end (or a test).
struct Services {
  platform::Env* env = platform::Env::Default();
  shell::Desktop* desktop = nullptr;
  std::vector<RunEvents*> events;  // listeners of the run, none by default
};
extern Services services;

// Tells every listener; a listener's failure never reaches the routine.
template <class Event, class... Args>
void Notify(Event event, const Args&... args) noexcept {
  for (RunEvents* listener : services.events) try {
      (listener->*event)(args...);
    } catch (...) {
    }
}

// The data-access manager's configuration file, as EstablecerEntidad names it.
std::string RutaConfiguracion();

// The path under which a script of the list is opened: beside the program.
std::string RutaScript(const RegistroScript& Registro);

// What the window's load event does: ListaScripts holds the single empty slot 0.
void InitModule();
// What the end of the program does to the module: releases the connection (an open
// transaction is rolled back, never committed), the command, the manager and the texts.
void ReleaseModule();

void ObtenerListadoSql();
// The entities whose scripts ObtenerListadoSql looks for ("ENTIDAD_*.sql"), in run order.
std::vector<std::string> EntidadesBuscadas();
void ListarActualizacionesEnPantalla(shell::StatusSurface& Vandrel);
bool EstablecerEntidad(std::string& Entidad);
bool EjecutarScript(const RegistroScript& Registro);
[[noreturn]] void EjecutarActualizaciones(shell::StatusSurface& Vandrel);

}  // namespace vandrel
