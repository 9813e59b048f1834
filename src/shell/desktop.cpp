#include "shell/desktop.h"

#include "shell/identity.h"

namespace vandrel::shell {

void Desktop::MsgBox(const std::string& prompt, int style, const std::optional<std::string>& title) {
  ShowBox(prompt, style, title.value_or(identity::kApplicationTitle));
}

void Desktop::MsgBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                              const std::string& title, const std::optional<FailurePlace>& place) {
  ShowBoxWithBatch(prompt, batch_at, style, title, place);
}

std::string FailurePlace::Where() const {
  std::string text = path + ":" + std::to_string(line);
  if (column) text += ":" + std::to_string(*column);
  return text;
}

std::string FailurePlace::CompilerLine() const { return Where() + ": error: " + message; }

std::string FailurePlace::Spanish() const {
  std::string text = file + ", línea " + std::to_string(line);
  if (column) text += ", columna " + std::to_string(*column);
  return text;
}

}  // namespace vandrel::shell
