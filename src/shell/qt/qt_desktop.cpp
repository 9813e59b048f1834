#include "shell/qt/qt_desktop.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <string_view>

namespace vandrel::shell {
namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // "…"

// Length of at most `max_chars` characters of `line`, in bytes.
std::size_t CharPrefix(std::string_view line, int max_chars) {
  std::size_t i = 0;
  for (int n = 0; i < line.size(); ++n) {
    if (n == max_chars) return i;
    ++i;
    while (i < line.size() && (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) ++i;
  }
  return i;
}

}  // namespace

std::string BoundedBoxText(const std::string& text, int max_lines, int max_columns) {
  std::string out;
  std::size_t start = 0;
  for (int n = 0;; ++n) {
    if (n == max_lines) {
      if (start < text.size()) out += kEllipsis;
      break;
    }
    const std::size_t end = text.find('\n', start);
    std::string_view line(text.data() + start,
                          (end == std::string::npos ? text.size() : end) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t keep = CharPrefix(line, max_columns);
    out.append(line.substr(0, keep));
    if (keep < line.size()) out += kEllipsis;
    if (end == std::string::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

void QtDesktop::ClipboardClear() { QGuiApplication::clipboard()->clear(); }

void QtDesktop::ClipboardSetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

namespace {
bool windowChanged = true;
}  // namespace

void NoteWindowChanged() { windowChanged = true; }

void QtDesktop::DoEvents() {
  constexpr qint64 kPumpIntervalNs = 4'000'000;
  if (!windowChanged && sincePump_.isValid() && sincePump_.nsecsElapsed() < kPumpIntervalNs) return;
  windowChanged = false;
  QCoreApplication::processEvents();
  sincePump_.start();
}

void QtDesktop::ShowBox(const std::string& prompt, int style, const std::string& title) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0x70) {
    case vbCritical: icon = QMessageBox::Critical; break;
    case vbExclamation: icon = QMessageBox::Warning; break;
    default: break;
  }
  QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(BoundedBoxText(prompt)),
                  QMessageBox::Ok, owner_);
  // Script text is never markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace vandrel::shell
