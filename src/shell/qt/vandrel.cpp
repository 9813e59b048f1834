#include "shell/qt/vandrel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "Mod_Main.h"
#include "shell/front_end.h"
#include "shell/identity.h"
#include "shell/qt/progress_bar.h"
#include "shell/qt/qt_desktop.h"
#include "shell/window_texts.h"

namespace vandrel::shell {
namespace {

QFont Tahoma(double points) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPointSizeF(points);
  font.setWeight(QFont::Bold);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, QRect geometry,
                  const QFont& font) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setFont(font);
  return label;
}

}  // namespace

Vandrel::Vandrel(Desktop& desktop) : desktop_(desktop) {
  setObjectName(QStringLiteral("Vandrel"));
  setWindowTitle(QString::fromUtf8(kTituloVentana));
  QIcon icon;
  for (int side : {16, 24, 32, 48}) {
    icon.addFile(QStringLiteral(":/vandrelsql/%1x%1/vandrelsql.png").arg(side), QSize(side, side));
  }
  setWindowIcon(icon);
  resize(kClientWidth, kClientHeight);

  Shp1 = new QFrame(this);
  Shp1->setObjectName(QStringLiteral("Shp1"));
  Shp1->setFrameShape(QFrame::Box);
  Shp1->setFrameShadow(QFrame::Plain);
  Shp1->setLineWidth(2);
  Shp1->setGeometry(2, 2, 473, 63);

  Label1 = MakeLabel(this, "Label1", kTitulo, {16, 20, 366, 19}, Tahoma(12));
  Lbl_AppVer = MakeLabel(this, "Lbl_AppVer", "V.0.0.0", {418, 44, 45, 16}, Tahoma(9.75));

  List1 = new QListWidget(this);
  List1->setObjectName(QStringLiteral("List1"));
  List1->setSortingEnabled(false);
  List1->setSelectionMode(QAbstractItemView::SingleSelection);
  List1->setGeometry(36, 76, 397, 121);

  Lbl_StatusPrg = MakeLabel(this, "Lbl_StatusPrg", kPreparando, {36, 206, 397, 14}, Tahoma(9));
  Lbl_StatusPrg->setAlignment(Qt::AlignCenter);

  prgbar = new ProgressBar(this);
  prgbar->setObjectName(QStringLiteral("prgbar"));
  prgbar->setGeometry(6, 224, 455, 7);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kTimerInterval);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
  Timer1->start();

  Form_Load();
}

void Vandrel::Form_Load() {
  InitModule();
  Lbl_AppVer->setText(QString::fromStdString(identity::VersionText()));
  // The version may be wider in the fallback font than in the designed one: the label
  // grows to the right, as a self-sizing label does, and never clips the text.
  if (Lbl_AppVer->sizeHint().width() > Lbl_AppVer->width()) {
    Lbl_AppVer->resize(Lbl_AppVer->sizeHint().width(), Lbl_AppVer->height());
  }
}

void Vandrel::ShowCentred() {
  // The frame is known only once the window is shown; centre on a guess first so that it
  // does not jump far.
  const auto centre = [this] {
    const QScreen* screen = this->screen();
    if (screen == nullptr) return;
    QRect frame(QPoint(), frameGeometry().size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  };
  centre();
  showNormal();
  centre();
}

void Vandrel::Timer1_Timer() {
  Timer1->stop();
  if (state_ != State::Waiting) return;
  state_ = State::Running;
  const ExitStatus status = RunUpdate(*this, desktop_);
  state_ = State::Ended;
  QCoreApplication::exit(static_cast<int>(status));
}

void Vandrel::closeEvent(QCloseEvent* event) {
  switch (state_) {
    case State::Waiting:
      Timer1->stop();
      state_ = State::ClosedBeforeRun;
      event->accept();
      QCoreApplication::exit(static_cast<int>(ExitStatus::ClosedBeforeRun));
      break;
    case State::Running:
      event->ignore();
      break;
    case State::Ended:
    case State::ClosedBeforeRun:
      event->accept();
      break;
  }
}

void Vandrel::ClearList() {
  List1->clear();
  NoteWindowChanged();
}

void Vandrel::AddListEntry(const std::string& text) {
  List1->addItem(QString::fromStdString(text));
  NoteWindowChanged();
}

void Vandrel::SetStatusText(const std::string& text) {
  Lbl_StatusPrg->setText(QString::fromStdString(text));
  NoteWindowChanged();
}

void Vandrel::SetProgressMax(float max) {
  prgbar->SetMax(max);
  NoteWindowChanged();
}

void Vandrel::SetProgressValue(float value) {
  prgbar->SetValue(value);
  NoteWindowChanged();
}

}  // namespace vandrel::shell
