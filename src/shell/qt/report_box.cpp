#include "shell/qt/report_box.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cmath>
#include <string>

namespace vandrel::shell {
namespace {

constexpr int kBatchLines = 12;

// Line ends as the views draw them: CR LF and a lone CR would otherwise show as blanks.
QString ForView(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

// Breaks lines longer than `columns` so that the view needs no costly wrapping: the first
// `chars` characters of `text`, never half a surrogate pair.
QString BrokenAt(const QString& text, qsizetype chars, int columns) {
  if (chars < text.size() && chars > 0 && text.at(chars - 1).isHighSurrogate()) --chars;
  QString out;
  out.reserve(chars + chars / columns + 1);
  int column = 0;
  for (qsizetype i = 0; i < chars; ++i) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\n')) {
      column = 0;
    } else if (column == columns && !c.isLowSurrogate()) {
      out += QLatin1Char('\n');
      column = 0;
    }
    out += c;
    if (c != QLatin1Char('\n')) ++column;
  }
  return out;
}

// 1234567 as "1.234.567".
QString Grouped(qsizetype n) {
  std::string digits = std::to_string(n);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ".");
  return QString::fromStdString(digits);
}

}  // namespace

ReportBox::ReportBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                     const QString& report, const QString& batch, QRect area)
    : QDialog(parent), batch_(ForView(batch)) {
  setWindowTitle(title);
  setWindowModality(Qt::ApplicationModal);
  const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  const QRect avail = area.isValid()        ? area
                      : screen != nullptr ? screen->availableGeometry()
                                          : QRect(0, 0, 800, 600);

  auto* layout = new QGridLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  int iconWidth = 0;
  if (icon == QMessageBox::Critical || icon == QMessageBox::Warning) {
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    const QStyle::StandardPixmap which = icon == QMessageBox::Critical ? QStyle::SP_MessageBoxCritical
                                                                       : QStyle::SP_MessageBoxWarning;
    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("IconLabel"));
    iconLabel->setPixmap(style()->standardIcon(which, nullptr, this).pixmap(QSize(side, side), devicePixelRatio()));
    layout->addWidget(iconLabel, 0, 0, 3, 1, Qt::AlignTop);
    iconWidth = side + 2 * layout->horizontalSpacing();
  }
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int widest = std::clamp(avail.width() - 120 - iconWidth, 200, 760);

  // The report: whole, wrapped (anywhere when a word is wider than the box), scrolled only
  // when it is taller than its share of the screen.
  ReportView = new QTextEdit(this);
  ReportView->setObjectName(QStringLiteral("ReportView"));
  ReportView->setReadOnly(true);
  ReportView->setFrameShape(QFrame::NoFrame);
  ReportView->viewport()->setAutoFillBackground(false);
  ReportView->setLineWrapMode(QTextEdit::WidgetWidth);
  ReportView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  ReportView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ReportView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  ReportView->setFocusPolicy(Qt::ClickFocus);
  ReportView->setPlainText(ForView(report));
  // Measured on a document of its own: the view lays its own out again at whatever width
  // it has at the moment, which before it is shown is not the box's.
  QTextDocument measure;
  measure.setDefaultFont(ReportView->font());
  measure.setDocumentMargin(ReportView->document()->documentMargin());
  measure.setDefaultTextOption(ReportView->document()->defaultTextOption());
  measure.setPlainText(ReportView->toPlainText());
  const int natural = static_cast<int>(std::ceil(measure.idealWidth())) + 1;
  const int width = batch.isEmpty() ? std::clamp(natural, 240, widest) : widest;
  measure.setTextWidth(width);
  const int height = static_cast<int>(std::ceil(measure.size().height()));
  const int tallest = batch.isEmpty() ? avail.height() - 160 : avail.height() * 2 / 5;
  if (height > tallest) {
    ReportView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ReportView->setFixedSize(width + scrollBar, std::max(tallest, 40));
  } else {
    ReportView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ReportView->setFixedSize(width, height);
  }
  layout->addWidget(ReportView, 0, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  OkButton = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  if (!batch.isEmpty()) {
    BatchView = new QPlainTextEdit(this);
    BatchView->setObjectName(QStringLiteral("BatchView"));
    BatchView->setReadOnly(true);
    BatchView->setLineWrapMode(QPlainTextEdit::NoWrap);
    BatchView->setFocusPolicy(Qt::ClickFocus);
    BatchView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics metrics(BatchView->font());
    // Whole columns of the font's real (fractional) advance, beside the vertical scroll bar
    // and the cursor: a broken line never runs under the bar.
    const double inner = ReportView->width() - scrollBar - 2 * BatchView->frameWidth() -
                         2 * BatchView->document()->documentMargin() - BatchView->cursorWidth() - 1;
    const double advance =
        std::max(1.0, QFontMetricsF(BatchView->font()).horizontalAdvance(QLatin1Char('M')));
    batchColumns_ = std::max(20, static_cast<int>(std::floor(inner / advance)));
    const int lines = std::clamp(static_cast<int>(batch_.count(QLatin1Char('\n'))) + 1, 3, kBatchLines);
    const int viewHeight = lines * metrics.lineSpacing() + 2 * BatchView->frameWidth() +
                           2 * static_cast<int>(std::ceil(BatchView->document()->documentMargin())) +
                           scrollBar;
    BatchView->setFixedSize(ReportView->width(), std::min(viewHeight, avail.height() / 3));
    layout->addWidget(BatchView, 1, 1);
    if (batch_.size() > kShownBatchChars) {
      BatchNote = new QLabel(
          QStringLiteral("Se muestran los primeros %1 de los %2 caracteres del lote; al pulsar OK "
                         "el lote completo queda en el portapapeles.")
              .arg(Grouped(kShownBatchChars), Grouped(batch_.size())),
          this);
      BatchNote->setObjectName(QStringLiteral("BatchNote"));
      BatchNote->setWordWrap(true);
      BatchNote->setFixedWidth(ReportView->width());
      layout->addWidget(BatchNote, 2, 1);
      WholeBatchButton = buttons->addButton(QStringLiteral("Mostrar el lote completo"),
                                            QDialogButtonBox::ActionRole);
      WholeBatchButton->setAutoDefault(false);
      connect(WholeBatchButton, &QPushButton::clicked, this, [this] {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ShowBatch(static_cast<int>(batch_.size()));
        QGuiApplication::restoreOverrideCursor();
        BatchNote->setText(QStringLiteral("Lote completo: %1 caracteres.").arg(Grouped(batch_.size())));
        WholeBatchButton->setEnabled(false);
      });
      ShowBatch(kShownBatchChars);
    } else {
      ShowBatch(static_cast<int>(batch_.size()));
    }
  }
  layout->addWidget(buttons, 3, 0, 1, 2);
  OkButton->setDefault(true);
  OkButton->setFocus();
}

void ReportBox::ShowBatch(int chars) {
  BatchView->setPlainText(BrokenAt(batch_, chars, batchColumns_));
}

}  // namespace vandrel::shell
