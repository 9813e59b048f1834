// The message box of the window: icon, the report's own text whole and wrapped, the text
// of a failed batch in a view of its own, and OK. Nothing in it is cut without saying so,
// and it fits the screen whatever the lengths.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QRect>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

namespace vandrel::shell {

// Where a batch failed: a line under the report, and the line of the batch to mark.
struct ReportPlace {
  QString text;             // empty: no place known
  qsizetype batchLine = 0;  // 0 the batch's first line
};

class ReportBox final : public QDialog {
 public:
  // A batch longer than this many characters shows only its beginning until the person
  // asks for the whole (laying out megabytes takes seconds).
  static constexpr int kShownBatchChars = 64 * 1024;

  // Application-modal, centred on `parent` when there is one. `batch` empty: no batch view.
  // The box fits `area`, by default the available area of the parent's screen.
  ReportBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& report,
            const QString& batch, const ReportPlace& place = {}, QRect area = QRect());

  QTextEdit* ReportView;
  QLabel* PlaceLabel = nullptr;  // the place of the failure, when known
  QPlainTextEdit* BatchView = nullptr;  // the batch, CR LF shown as line ends
  QLabel* BatchNote = nullptr;          // says how much of a long batch is shown
  QPushButton* WholeBatchButton = nullptr;
  QPushButton* OkButton;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowBatch(int chars);
  void ScrollToMark();

  QString batch_;
  qsizetype markAt_ = -1;  // where the marked line begins in batch_, -1 none
  int batchColumns_ = 80;
};

}  // namespace vandrel::shell
