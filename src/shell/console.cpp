#include "shell/console.h"

#include <algorithm>
#include <cstdint>

#include "platform/locale_text.h"
#include "shell/batch_view.h"
#include "shell/identity.h"
#include "shell/window_texts.h"

namespace vandrel::shell {
namespace {

// A script's name may hold any byte but "/" and NUL: a line end in it would forge status
// lines, an escape sequence drive the terminal. Control characters (C0, DEL, C1) are shown
// as C escapes.
std::string Escaped(const std::string& utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                    static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
    if (c >= 0x20 && c != 0x7F && !c1) {
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      const auto code = c1 ? static_cast<unsigned char>(utf8[++i]) : c;
      out += c1 ? "\\u00" : "\\x";
      out += kHex[code >> 4];
      out += kHex[code & 0xF];
    }
  }
  return out;
}

}  // namespace

void ConsoleStatus::ShowStart() {
  Line(std::string(kTitulo) + " " + identity::VersionText());
  Line(kPreparando);
}

void ConsoleStatus::AddListEntry(const std::string& text) { Line("  " + text); }

void ConsoleStatus::SetStatusText(const std::string& text) { Line(text); }

// The terminal shows the locale's codeset, as the scripts are read in it.
void ConsoleStatus::Line(const std::string& utf8) {
  const std::string text = platform::ToLocaleText(Escaped(utf8));
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleDesktop::ShowBox(const std::string& prompt, int /*style*/, const std::string& title) {
  Write("== " + title + " ==\n" + prompt + "\n");
}

void ConsoleDesktop::ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                                      const std::string& title,
                                      const std::optional<FailurePlace>& place) {
  batch_at = std::min(batch_at, prompt.size());
  std::optional<int64_t> failingLine;
  if (place)
    failingLine = static_cast<int64_t>(std::min<std::uint64_t>(place->LineInBatch(), INT64_MAX));
  if (auto view = BatchView(std::string_view(prompt).substr(batch_at), failingLine, recordPath_))
    ShowBox(prompt.substr(0, batch_at) + *view, style, title);
  else
    ShowBox(prompt, style, title);
  if (place) Write(Escaped(place->CompilerLine()) + "\n");
}

void ConsoleDesktop::Write(const std::string& utf8) {
  const std::string text = platform::ToLocaleText(utf8);
  std::fwrite(text.data(), 1, text.size(), err_);
  std::fflush(err_);
}

}  // namespace vandrel::shell
