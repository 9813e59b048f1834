#include <limits>

#include "Mod_Main.h"
#include "execution/current.h"
#include "shell/error_trap.h"
#include "shell/identity.h"
#include "shell/program_end.h"
#include "shell/routine_error_report.h"

namespace vandrel {
namespace {

[[noreturn]] void Cancelar() {
  services.desktop->MsgBox(" Actualización Cancelada. ", shell::vbCritical);
  EndProgram(ExitStatus::Cancelled);
}

void MensajeConexion(const char* inicio, const std::string& entidad, const std::string& archivo) {
  services.desktop->MsgBox(inicio + entidad + " en el archivo " + archivo +
                               " no se puede continuar con la actualizacion",
                           shell::vbCritical, identity::TitledBoxTitle());
}

void LiberarConexion() {
  if (ComandoActual) ComandoActual->ActiveConnection.reset();
  ConexionActual.reset();
}

}  // namespace

void EjecutarActualizaciones(shell::StatusSurface& Vandrel) {
  std::string EntidadActual;
  Trapped(
      [&](LineLabel& line) {
        line = 10;
        ObtenerListadoSql();
        for (std::size_t k = 1; k < ListaScripts.size(); ++k)
          Notify(&RunEvents::ScriptListed, ListaScripts[k].Archivo, ListaScripts[k].Entidad);
        line = 20;
        ListarActualizacionesEnPantalla(Vandrel);
        line = 30;
        const int32_t n = UBoundListaScripts();
        bool ok = false;
        for (int32_t i = 1;;) {
          line = 40;
          if (i > n) break;
          const RegistroScript& entrada = ListaScripts.at(i);
          line = 50;
          Vandrel.SetStatusText("Ejecutando actualización " + std::to_string(i) + " de " +
                                std::to_string(n));
          line = 60;
          if (EntidadActual.empty()) {
            EntidadActual = entrada.Entidad;
            line = 70;
            std::string entidad = entrada.Entidad;
            ok = EstablecerEntidad(entidad);
            if (!ok) {
              MensajeConexion("Error estableciendo conexion con la entidad ", EntidadActual,
                              entrada.Archivo);
              Cancelar();
            }
            line = 80;
            Conexion().BeginTrans();
            line = 90;
            Comando().CommandType = ado::adCmdText;
            line = 100;
            ok = EjecutarScript(entrada);
          } else {
            line = 110;
            if (entrada.Entidad == EntidadActual) {
              line = 120;
              ok = EjecutarScript(entrada);
            } else {
              line = 130;
              Conexion().CommitTrans();
              Notify(&RunEvents::EntityCommitted);
              // Two entities may share one database: the next one could not open it while
              // this connection holds it (SQLite's exclusive locking mode).
              LiberarConexion();
              EntidadActual = entrada.Entidad;
              line = 140;
              std::string entidad = entrada.Entidad;
              ok = EstablecerEntidad(entidad);
              if (!ok) {
                // The missing blank after "entidad" is how users have always seen it.
                MensajeConexion("Error estableciendo conexion con la entidad", EntidadActual,
                                entrada.Archivo);
                // Released above: nothing is left to roll back.
                if (ConexionActual) ConexionActual->RollbackTrans();
                Cancelar();
              }
              line = 150;
              Conexion().BeginTrans();
              line = 160;
              Comando().CommandType = ado::adCmdText;
              line = 170;
              ok = EjecutarScript(entrada);
            }
          }
          if (!ok) Cancelar();
          line = 180;
          Vandrel.SetProgressValue(static_cast<float>(i));
          if (i == std::numeric_limits<int32_t>::max()) throw Overflow();
          i = i + 1;
        }
        // Labelled 180 again and no 190: the final commit reports the loop's last label.
        line = 180;
        if (n > 0) {
          Conexion().CommitTrans();
          Notify(&RunEvents::EntityCommitted);
        }
        line = 200;
        EndProgram(ExitStatus::Finished);
      },
      [&](const TrappedError& error) {
        try {
          if (ConexionActual) ConexionActual->RollbackTrans();
        } catch (const std::exception&) {
          // A failed rollback must not hide the error being reported.
        }
        ShowRoutineError(*services.desktop, error, kEnEjecutarActualizaciones);
        EndProgram(ExitStatus::Failed);
      });
  EndProgram(ExitStatus::Failed);  // not reached: both paths above end the program
}

}  // namespace vandrel
