#include "Mod_Main.h"

#include <limits>

#include "platform/error.h"

namespace vandrel {

std::vector<RegistroScript> ListaScripts;
automation::ObjectPtr GestorDatos;
ado::ConnectionPtr ConexionActual;
ado::CommandPtr ComandoActual;
std::string TextoScript;
Services services;

int32_t UBoundListaScripts() {
  if (ListaScripts.empty()) throw SubscriptOutOfRange();
  if (ListaScripts.size() - 1 > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
    throw Overflow();
  return static_cast<int32_t>(ListaScripts.size() - 1);
}

std::string RutaScript(const RegistroScript& Registro) {
  return services.env->ProgramFolder() + "\\" + Registro.Archivo;
}

void InitModule() { ListaScripts.assign(1, RegistroScript{}); }

void ReleaseModule() {
  ComandoActual.reset();
  ConexionActual.reset();
  GestorDatos.reset();
  TextoScript.clear();
  TextoScript.shrink_to_fit();
}

}  // namespace vandrel
