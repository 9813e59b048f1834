#include "shell/desktop.h"

#include "shell/identity.h"

namespace vandrel::shell {

void Desktop::MsgBox(const std::string& prompt, int style, const std::optional<std::string>& title) {
  ShowBox(prompt, style, title.value_or(identity::kApplicationTitle));
}

}  // namespace vandrel::shell
