#include "shell/routine_error_report.h"

#include "shell/identity.h"

namespace vandrel {

std::string RoutineErrorPrompt(const TrappedError& error, std::string_view location,
                               const std::string* entity) {
  std::string prompt = error.description;
  if (entity != nullptr) prompt.append("Entidad buscada:").append(*entity);
  prompt.append("\r\n").append(location).append("at line ").append(std::to_string(error.line));
  return prompt;
}

void ShowRoutineError(shell::Desktop& desktop, const TrappedError& error,
                      std::string_view location, const std::string* entity) {
  desktop.MsgBox(RoutineErrorPrompt(error, location, entity), shell::vbExclamation,
                 identity::TitledBoxTitle());
}

}  // namespace vandrel
