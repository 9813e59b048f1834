#include "stress/endings.h"

#include <regex>

#include "support/program.h"

namespace vandrel::testing {
namespace {

const std::regex kRoutine(
    R"(^[\s\S]*\r\nin VandrelSQL\.Mod_Main\.(ObtenerListadoSql|ListarActualizacionesEnPantalla|EstablecerEntidad|EjecutarActualizaciones) at line \d+$)");
const std::regex kScript(R"(^[\s\S]* Actualización Cancelada\. Script: [^\r\n]+ - Linea: \d+[\s\S]*$)");
const std::regex kConnection(
    R"(^Error estableciendo conexion con la entidad ?[A-Z]+ en el archivo .+ no se puede continuar con la actualizacion$)");

bool Routine(const Box& b, const char* routine = nullptr) {
  std::smatch m;
  return b.style == 48 && b.title == "VandrelSQL v.2.0.1" && std::regex_match(b.prompt, m, kRoutine) &&
         (routine == nullptr || m[1] == routine);
}

}  // namespace

std::string CheckEnding(ExitStatus status, const std::vector<Box>& boxes) {
  std::string shown;
  for (const Box& b : boxes) shown += "\n[" + b.title + "] " + b.prompt.substr(0, 500);
  switch (status) {
    case ExitStatus::Finished:
    case ExitStatus::Access:
      if (boxes.empty()) return "";
      break;
    case ExitStatus::Failed:
      if (boxes.size() == 1 && (Routine(boxes[0]) ||
                                (boxes[0].style == 16 && boxes[0].title == "¡Atencion!" &&
                                 std::regex_match(boxes[0].prompt, kScript))))
        return "";
      // A failure of the rollback after a failed connection at a change of entity.
      if (boxes.size() == 3 && Routine(boxes[0], "EstablecerEntidad") &&
          std::regex_match(boxes[1].prompt, kConnection) && Routine(boxes[2], "EjecutarActualizaciones"))
        return "";
      break;
    case ExitStatus::Cancelled:
      if (boxes.size() == 3 && Routine(boxes[0], "EstablecerEntidad") && boxes[1].style == 16 &&
          boxes[1].title == "VandrelSQL v.2.0.1" && std::regex_match(boxes[1].prompt, kConnection) &&
          boxes[2].style == 16 && boxes[2].title == "VandrelSQL" &&
          boxes[2].prompt == " Actualización Cancelada. ")
        return "";
      break;
    default:
      break;
  }
  return "exit status " + std::to_string(static_cast<int>(status)) +
         " with boxes that are none of the program's endings:" + shown;
}

std::string CheckNoSecret(const RecordingDesktop& desktop, const std::vector<std::string>& secrets) {
  for (const Box& b : desktop.boxes)
    if (auto p = SecretShown(b.title + "\n" + b.prompt, secrets); !p.empty()) return "a box " + p;
  for (const std::string& c : desktop.clipboard_ops)
    if (auto p = SecretShown(c, secrets); !p.empty()) return "the clipboard " + p;
  return "";
}

}  // namespace vandrel::testing
