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
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <array>
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
// `chars` characters of `text`, never half a surrogate pair. Each of `marks`, an index into
// `text`, becomes the index of the same character in what is returned (or its end).
QString BrokenAt(const QString& text, qsizetype chars, int columns,
                 std::array<qsizetype, 2>& marks) {
  if (chars < text.size() && chars > 0 && text.at(chars - 1).isHighSurrogate()) --chars;
  const std::array<qsizetype, 2> in = marks;
  marks = {-1, -1};
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
    for (std::size_t k = 0; k < in.size(); ++k)
      if (in[k] == i) marks[k] = out.size();
    out += c;
    if (c != QLatin1Char('\n')) ++column;
  }
  for (std::size_t k = 0; k < in.size(); ++k)
    if (in[k] >= 0 && marks[k] < 0) marks[k] = out.size();
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
                     const QString& report, const QString& batch, const ReportPlace& place,
                     QRect area)
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
    layout->addWidget(iconLabel, 0, 0, 4, 1, Qt::AlignTop);
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
  if (!place.text.isEmpty()) {
    PlaceLabel = new QLabel(place.text, this);
    PlaceLabel->setObjectName(QStringLiteral("PlaceLabel"));
    PlaceLabel->setWordWrap(true);
    PlaceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PlaceLabel->setFixedWidth(ReportView->width());
    QFont bold = PlaceLabel->font();
    bold.setBold(true);
    PlaceLabel->setFont(bold);
    layout->addWidget(PlaceLabel, 1, 1);
    markAt_ = 0;
    for (qsizetype line = 0; line < place.batchLine && markAt_ >= 0; ++line) {
      markAt_ = batch_.indexOf(QLatin1Char('\n'), markAt_);
      if (markAt_ >= 0) ++markAt_;
    }
    if (markAt_ >= batch_.size()) markAt_ = -1;
  }

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
    layout->addWidget(BatchView, 2, 1);
    // A long batch shows at least up to the line marked.
    const qsizetype markEnd = markAt_ < 0 ? 0 : batch_.indexOf(QLatin1Char('\n'), markAt_);
    const qsizetype shown = std::max<qsizetype>(kShownBatchChars, markEnd < 0 ? batch_.size() : markEnd);
    if (batch_.size() > shown) {
      BatchNote = new QLabel(
          QStringLiteral("Se muestran los primeros %1 de los %2 caracteres del lote; al pulsar OK "
                         "el lote completo queda en el portapapeles.")
              .arg(Grouped(shown), Grouped(batch_.size())),
          this);
      BatchNote->setObjectName(QStringLiteral("BatchNote"));
      BatchNote->setWordWrap(true);
      BatchNote->setFixedWidth(ReportView->width());
      layout->addWidget(BatchNote, 3, 1);
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
      ShowBatch(static_cast<int>(shown));
    } else {
      ShowBatch(static_cast<int>(batch_.size()));
    }
  }
  layout->addWidget(buttons, 4, 0, 1, 2);
  OkButton->setDefault(true);
  OkButton->setFocus();
}

void ReportBox::ShowBatch(int chars) {
  const qsizetype end = markAt_ < 0 ? -1 : batch_.indexOf(QLatin1Char('\n'), markAt_);
  std::array<qsizetype, 2> marks = {markAt_, markAt_ < 0 ? -1 : end < 0 ? batch_.size() : end};
  BatchView->setPlainText(BrokenAt(batch_, chars, batchColumns_, marks));
  if (markAt_ < 0) return;
  // The whole line, over every view line that breaking it made.
  QTextCursor line(BatchView->document());
  line.setPosition(static_cast<int>(marks[0]));
  line.setPosition(static_cast<int>(marks[1]), QTextCursor::KeepAnchor);
  QTextEdit::ExtraSelection marked;
  marked.cursor = line;
  marked.format.setBackground(palette().color(QPalette::Highlight));
  marked.format.setForeground(palette().color(QPalette::HighlightedText));
  marked.format.setProperty(QTextFormat::FullWidthSelection, true);
  BatchView->setExtraSelections({marked});
  line.setPosition(static_cast<int>(marks[0]));
  BatchView->setTextCursor(line);
  ScrollToMark();
}

void ReportBox::ScrollToMark() {
  if (BatchView != nullptr && markAt_ >= 0) BatchView->centerCursor();
}

void ReportBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ScrollToMark();  // the view knows its final size only now
}

}  // namespace vandrel::shell
