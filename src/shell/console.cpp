#include "shell/console.h"

#include "shell/identity.h"
#include "shell/window_texts.h"

namespace vandrel::shell {

void ConsoleStatus::ShowStart() {
  Line(std::string(kTitulo) + " " + identity::VersionText());
  Line(kPreparando);
}

void ConsoleStatus::AddListEntry(const std::string& text) { Line("  " + text); }

void ConsoleStatus::SetStatusText(const std::string& text) { Line(text); }

void ConsoleStatus::Line(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleDesktop::ShowBox(const std::string& prompt, int /*style*/, const std::string& title) {
  std::string text = "== " + title + " ==\n" + prompt + "\n";
  std::fwrite(text.data(), 1, text.size(), err_);
  std::fflush(err_);
}

}  // namespace vandrel::shell
