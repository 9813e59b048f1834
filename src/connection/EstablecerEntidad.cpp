#include "Mod_Main.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"
#include "shell/routine_error_report.h"

namespace vandrel {

using automation::Args;
using automation::InvokeKind;

namespace {

// The entity's Connection value with its passwords blanked, for the listeners of the run;
// "" when the manager cannot tell it.
std::string ConexionDescrita(const automation::Variant& porEntidad) {
  if (services.events.empty()) return {};
  try {
    Args ninguno;
    const automation::Variant texto =
        porEntidad.AsObject()->Invoke("DescribeConnection", InvokeKind::MethodOrPropertyGet, ninguno);
    return texto.IsText() ? texto.Text() : std::string();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

std::string RutaConfiguracion() {
  return services.env->Environ("ProgramFiles") + "\\Corvessa\\quillmereconfig.ini";
}

bool EstablecerEntidad(std::string& Entidad) {
  return Trapped(
      [&](LineLabel& line) {
        line = 10;
        GestorDatos = automation::CreateObject("Quillmere.QuillMain");
        line = 20;
        const std::string configuracion = RutaConfiguracion();
        line = 30;
        Args ruta{configuracion};
        GestorDatos->Invoke("setParametersPath", InvokeKind::PropertyPut, ruta);
        line = 40;
        Args ninguno;
        GestorDatos->Invoke("LoadParameters", InvokeKind::Method, ninguno);
        line = 50;
        Args entidad{Entidad};
        const automation::Variant tag =
            GestorDatos->Invoke("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, entidad);
        Notify(&RunEvents::EntityTagged, Entidad, tag.IsText() ? tag.Text() : std::string());
        if (tag.IsText() && tag.Text() == "ACCESS") {
          line = 60;
          EndProgram(ExitStatus::Access);
        }
        line = 70;
        line = 80;
        Args entidad2{Entidad};
        const automation::Variant porEntidad = GestorDatos->Invoke(
            "getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, entidad2);
        Notify(&RunEvents::EntityDescribed, Entidad, ConexionDescrita(porEntidad));
        Args sinArgs;
        const automation::Variant conexion = porEntidad.AsObject()->Invoke(
            "GetAssemblyConnection", InvokeKind::MethodOrPropertyGet, sinArgs);
        ConexionActual =
            automation::QueryInterface<ado::Connection>(conexion.AsObject(), "Connection");
        Notify(&RunEvents::EntityConnected, Entidad);
        line = 90;
        if (!ComandoActual) ComandoActual = std::make_shared<ado::Command>();
        ComandoActual->ActiveConnection = ConexionActual;
        return true;
      },
      [&](const TrappedError& error) {
        ShowRoutineError(*services.desktop, error, kEnEstablecerEntidad, &Entidad);
        return false;
      });
}

}  // namespace vandrel
