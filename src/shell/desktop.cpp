#include "shell/desktop.h"

#include "shell/identity.h"

namespace vandrel::shell {

void Desktop::MsgBox(const std::string& prompt, int style, const std::optional<std::string>& title) {
  ShowBox(prompt, style, title.value_or(identity::kApplicationTitle));
}

void Desktop::MsgBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                              const std::string& title) {
  ShowBoxWithBatch(prompt, batch_at, style, title);
}

}  // namespace vandrel::shell
