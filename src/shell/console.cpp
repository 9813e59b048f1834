#include "shell/console.h"

#include "platform/locale_text.h"
#include "shell/batch_view.h"
#include "shell/identity.h"
#include "shell/window_texts.h"

namespace vandrel::shell {

void ConsoleStatus::ShowStart() {
  Line(std::string(kTitulo) + " " + identity::VersionText());
  Line(kPreparando);
}

void ConsoleStatus::AddListEntry(const std::string& text) { Line("  " + text); }

void ConsoleStatus::SetStatusText(const std::string& text) { Line(text); }

// The terminal shows the locale's codeset, as the scripts are read in it.
void ConsoleStatus::Line(const std::string& utf8) {
  const std::string text = platform::ToLocaleText(utf8);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleDesktop::ShowBox(const std::string& prompt, int /*style*/, const std::string& title) {
  const std::string text = platform::ToLocaleText("== " + title + " ==\n" + prompt + "\n");
  std::fwrite(text.data(), 1, text.size(), err_);
  std::fflush(err_);
}

void ConsoleDesktop::ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at,
                                      int style, const std::string& title) {
  const std::string_view batch = std::string_view(prompt).substr(batch_at);
  if (auto view = BatchView(batch, failingLine_, recordPath_))
    ShowBox(prompt.substr(0, batch_at) + *view, style, title);
  else
    ShowBox(prompt, style, title);
}

}  // namespace vandrel::shell
