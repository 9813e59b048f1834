#include "shell/qt/qt_desktop.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>

#include "platform/hand_over.h"
#include "shell/qt/report_box.h"

namespace vandrel::shell {
namespace {

bool windowChanged = true;

// Whether an X clipboard manager runs: it takes the text over from Qt when the
// application object goes away.
bool XClipboardManagerRuns() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  if (connection == nullptr) return false;
  static constexpr char kName[] = "CLIPBOARD_MANAGER";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr);
  if (atom == nullptr) return false;
  const xcb_atom_t name = atom->atom;
  free(atom);
  if (name == XCB_ATOM_NONE) return false;
  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, name), nullptr);
  const bool runs = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
  free(owner);
  return runs;
}

}  // namespace

void NoteWindowChanged() { windowChanged = true; }

void QtDesktop::ClipboardClear() {
  QGuiApplication::clipboard()->clear();
  clipboardText_.clear();
  clipboardSet_ = false;
}

void QtDesktop::ClipboardSetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
  clipboardText_ = text;
  clipboardSet_ = true;
}

bool QtDesktop::KeepClipboard() {
  if (!clipboardSet_) return false;
  QCoreApplication::processEvents();  // hear of another program taking the clipboard
  if (!QGuiApplication::clipboard()->ownsClipboard()) return false;
  const QString platform = QGuiApplication::platformName();
  std::vector<std::string> helper;
  if (platform == QLatin1String("xcb")) {
    if (XClipboardManagerRuns()) return false;
    helper = {"xclip", "-selection", "clipboard", "-in"};
  } else if (platform == QLatin1String("wayland")) {
    helper = {"wl-copy"};
  } else {
    return false;
  }
  return platform::HandOver(helper, clipboardText_, std::chrono::seconds(5));
}

void QtDesktop::DoEvents() {
  constexpr qint64 kPumpIntervalNs = 4'000'000;
  if (!windowChanged && sincePump_.isValid() && sincePump_.nsecsElapsed() < kPumpIntervalNs) return;
  if (windowChanged && owner_ != nullptr) {
    // A list lays its rows out on a zero timer and asks for its repaint only then: one
    // pass of the event loop would paint the status but leave the new rows for the next.
    for (QAbstractItemView* view : owner_->findChildren<QAbstractItemView*>()) view->doItemsLayout();
  }
  const bool changed = windowChanged;
  windowChanged = false;
  QCoreApplication::processEvents();
  // What was painted may still wait in the connection to the display server, which is
  // flushed only when the event loop goes idle: the batch would run before it is seen.
  if (changed) QGuiApplication::sync();
  sincePump_.start();
}

namespace {

QMessageBox::Icon IconOf(int style) {
  switch (style & 0x70) {
    case vbCritical: return QMessageBox::Critical;
    case vbExclamation: return QMessageBox::Warning;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

void QtDesktop::ShowBox(const std::string& prompt, int style, const std::string& title) {
  ShowBoxWithBatch(prompt, prompt.size(), style, title, std::nullopt);
}

void QtDesktop::ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                                 const std::string& title, const std::optional<FailurePlace>& place) {
  batch_at = std::min(batch_at, prompt.size());
  ReportPlace marked;
  if (place) {
    marked.text = QString::fromStdString(place->Spanish());
    marked.batchLine = static_cast<qsizetype>(std::min<std::uint64_t>(
        place->LineInBatch() - 1, INT32_MAX));
  }
  ReportBox box(owner_, IconOf(style), QString::fromStdString(title),
                QString::fromUtf8(prompt.data(), static_cast<qsizetype>(batch_at)),
                QString::fromUtf8(prompt.data() + batch_at, static_cast<qsizetype>(prompt.size() - batch_at)),
                marked);
  box.exec();
}

}  // namespace vandrel::shell
