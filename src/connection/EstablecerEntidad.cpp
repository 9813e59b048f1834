#include "Mod_Main.h"
#include "shell/error_trap.h"
#include "shell/program_end.h"
#include "shell/routine_error_report.h"

namespace vandrel {

using automation::Args;
using automation::InvokeKind;

bool EstablecerEntidad(std::string& Entidad) {
  return Trapped(
      [&](LineLabel& line) {
        line = 10;
        GestorDatos = automation::CreateObject("Quillmere.QuillMain");
        line = 20;
        const std::string carpeta = services.env->Environ("ProgramFiles") + "\\Corvessa\\";
        line = 30;
        Args ruta{carpeta + "quillmereconfig.ini"};
        GestorDatos->Invoke("setParametersPath", InvokeKind::PropertyPut, ruta);
        line = 40;
        Args ninguno;
        GestorDatos->Invoke("LoadParameters", InvokeKind::Method, ninguno);
        line = 50;
        Args entidad{Entidad};
        const automation::Variant tag =
            GestorDatos->Invoke("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, entidad);
        if (tag.IsText() && tag.Text() == "ACCESS") {
          line = 60;
          EndProgram(ExitStatus::Access);
        }
        line = 70;
        line = 80;
        Args entidad2{Entidad};
        const automation::Variant porEntidad = GestorDatos->Invoke(
            "getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, entidad2);
        Args sinArgs;
        const automation::Variant conexion = porEntidad.AsObject()->Invoke(
            "GetAssemblyConnection", InvokeKind::MethodOrPropertyGet, sinArgs);
        ConexionActual =
            automation::QueryInterface<ado::Connection>(conexion.AsObject(), "Connection");
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
