// The window on Qt's offscreen platform, with the real timer, list, labels, progress bar,
// message boxes and clipboard. Only the person pressing OK is stood in for.
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "Mod_Main.h"
#include "platform/error.h"
#include "quillmere/quillmere.h"
#include "shell/qt/progress_bar.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/report_box.h"
#include "shell/qt/vandrel.h"
#include "support/recording.h"
#include "support/temp_folder.h"

// Fontconfig keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace vandrel::shell {
namespace {

using testing::Box;
using testing::FolderEnv;
using testing::ModuleFixture;
using testing::TempFolder;

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The real desktop, except that a box is recorded and "closed" by `on_box` instead of
// waiting for a person.
class PressingOk final : public Desktop {
 public:
  std::vector<Box> boxes;
  std::function<void()> on_box;
  std::function<void()> after_pump;  // runs where the batch would start
  void SetOwner(QWidget* owner) { real_.SetOwner(owner); }
  void ClipboardClear() override { real_.ClipboardClear(); }
  void ClipboardSetText(const std::string& text) override { real_.ClipboardSetText(text); }
  void DoEvents() override {
    real_.DoEvents();
    if (after_pump) after_pump();
  }

 protected:
  void ShowBox(const std::string& prompt, int style, const std::string& title) override {
    boxes.push_back({prompt, style, title});
    if (on_box) on_box();
  }

 private:
  QtDesktop real_;
};

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "window_test";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);
      QApplication::setQuitOnLastWindowClosed(false);
    }
    quillmere::Register();
  }

  TempFolder folder;
  FolderEnv env{folder.str()};
  PressingOk desktop;
  ModuleFixture module{&env, &desktop};
};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Layout, texts and fonts, and the load event's work before the first paint.
TEST_F(WindowTest, OpensAsDesigned) {
  ListaScripts.assign(3, {"x.sql", "CATALOGOS"});
  Vandrel window(desktop);
  EXPECT_EQ(1u, ListaScripts.size());
  EXPECT_EQ("", ListaScripts[0].Archivo);
  EXPECT_EQ(Text("v.2.0.1"), window.Lbl_AppVer->text());  // before the window is shown

  window.ShowCentred();
  EXPECT_EQ(Text("Vandrel"), window.windowTitle());
  EXPECT_EQ(QSize(478, 246), window.size());
  const QRect screen = window.screen()->availableGeometry();
  const QPoint off = window.frameGeometry().center() - screen.center();
  EXPECT_TRUE(std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1) << off.x() << "," << off.y();
  EXPECT_FALSE(window.isMaximized() || window.isMinimized());
  EXPECT_EQ(2, window.Shp1->lineWidth());
  EXPECT_EQ(Text("Vandrel de Base de Datos de Corvessa"), window.Label1->text());
  EXPECT_EQ(Text("Preparando ..."), window.Lbl_StatusPrg->text());
  EXPECT_EQ(Qt::AlignCenter, window.Lbl_StatusPrg->alignment());
  const QRect version = window.Lbl_AppVer->geometry();
  EXPECT_EQ(QRect(418, 44, version.width(), 16), version);
  EXPECT_GE(version.width(), std::max(45, window.Lbl_AppVer->sizeHint().width()));
  EXPECT_TRUE(window.Timer1->isActive());
  EXPECT_EQ(2000, window.Timer1->interval());
  for (int side : {16, 24, 32, 48}) {
    EXPECT_EQ(QSize(side, side), window.windowIcon().actualSize(QSize(side, side)));
  }
  const struct {
    QLabel* label;
    double points;
  } fonts[] = {{window.Label1, 12}, {window.Lbl_AppVer, 9.75}, {window.Lbl_StatusPrg, 9}};
  for (const auto& e : fonts) {
    const QFont font = e.label->font();
    EXPECT_EQ(Text("Tahoma"), font.family()) << e.label->objectName().toStdString();
    EXPECT_DOUBLE_EQ(e.points, font.pointSizeF());
    EXPECT_EQ(QFont::Bold, font.weight());
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
  }
  // Where each control stands, also after resizing: nothing reacts to it.
  const std::pair<QWidget*, QRect> places[] = {
      {window.Shp1, {2, 2, 473, 63}},       {window.Label1, {16, 20, 366, 19}},
      {window.List1, {36, 76, 397, 121}},   {window.Lbl_StatusPrg, {36, 206, 397, 14}},
      {window.prgbar, {6, 224, 455, 7}}};
  for (bool resized : {false, true}) {
    if (resized) {
      window.resize(900, 700);
      Pump(50);
    }
    for (const auto& [widget, place] : places) EXPECT_EQ(place, widget->geometry()) << resized;
  }
}

// The operations on the controls that a run does not show elsewhere, and the progress
// control's refusals.
TEST_F(WindowTest, StatusSurfaceActsOnTheControls) {
  Vandrel window(desktop);
  StatusSurface& surface = window;
  surface.AddListEntry("CATALOGOS_01.sql");
  surface.ClearList();
  EXPECT_EQ(0, window.List1->count());
  surface.SetProgressMax(4);
  surface.SetProgressValue(2);
  EXPECT_FLOAT_EQ(2.0f, window.prgbar->Value());
  EXPECT_NEAR(ProgressBar::kSteps / 2, window.prgbar->value(), 1);
  for (const auto& refused : std::vector<std::function<void()>>{
           [&] { surface.SetProgressMax(0.0001f); }, [&] { surface.SetProgressMax(0); },
           [&] { surface.SetProgressValue(5); }, [&] { surface.SetProgressValue(0); }}) {
    try {
      refused();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_STREQ("Invalid property value", e.Description());
    }
    EXPECT_FLOAT_EQ(4.0f, window.prgbar->Max());
    EXPECT_FLOAT_EQ(2.0f, window.prgbar->Value());
  }
}

// Closing while waiting ends the program with 4 and runs nothing.
TEST_F(WindowTest, CloseBeforeTheRunEndsWithoutRunning) {
  folder.Write("CATALOGOS_01.sql", "CREATE TABLE t (a INT)\nGO\n");
  Vandrel window(desktop);
  window.ShowCentred();
  // Posted, so that it comes before the tick however long showing the window took.
  QMetaObject::invokeMethod(&window, [&] { EXPECT_TRUE(window.close()); }, Qt::QueuedConnection);
  EXPECT_EQ(4, QApplication::exec());
  EXPECT_FALSE(window.Timer1->isActive());
  Pump(2200);  // past the designed tick
  EXPECT_FALSE(window.RunStarted());
  EXPECT_EQ(0, window.List1->count());
  EXPECT_TRUE(desktop.boxes.empty());
}

// The real two-second timer ticks once, although the run keeps the event loop going for
// longer than that; closing during the run is refused.
TEST_F(WindowTest, TimerTicksOnceAndCloseIsRefusedDuringTheRun) {
  folder.Write("CATALOGOS_01.sql", "CREATE TABLE t (a INT)\nGO\n");
  setenv("ProgramFiles", (folder.str() + "/nowhere").c_str(), 1);
  Vandrel window(desktop);
  int ticks = 0;
  int listed = 0;
  QObject::connect(window.Timer1, &QTimer::timeout, [&] { ++ticks; });
  QObject::connect(window.List1->model(), &QAbstractItemModel::rowsInserted, [&] { ++listed; });
  bool close_accepted = true;
  desktop.on_box = [&] {
    if (desktop.boxes.size() > 1) return;
    Pump(2500);
    close_accepted = window.close();
  };
  window.ShowCentred();
  QElapsedTimer clock;
  clock.start();
  // No connection can be had from a missing configuration: the run is cancelled.
  EXPECT_EQ(2, QApplication::exec());
  EXPECT_GE(clock.elapsed(), 1900);
  EXPECT_EQ(1, ticks);
  EXPECT_EQ(1, listed);
  EXPECT_FALSE(close_accepted);
  EXPECT_TRUE(window.RunEnded());
  EXPECT_FALSE(window.Timer1->isActive());
}

// Every report form: the report's own text whole and unwrapped by nothing but the box's
// width, the batch whole in its own view (only a long one bounded, and said so), the box
// over the window and within the screen.
TEST_F(WindowTest, BoxesShowEveryReportWholeAndFitTheScreen) {
  const std::string longName = "CATALOGOS_2024_actualizacion_de_clientes_y_proveedores.sql";
  const std::string longTable(180, 't');
  std::string huge = "\r\nINSERT INTO t VALUES ('" + std::string(3'000'000, 'x') + "')\r\n";
  for (int i = 0; i < 50'000; ++i) huge += "INSERT INTO t VALUES (" + std::to_string(i) + ");\r\n";
  const std::string overBound = "\r\n" + std::string(ReportBox::kShownBatchChars + 10, 'y');
  struct Row {
    std::string report, batch;
    int style;
    bool bounded;
  };
  const Row rows[] = {
      {" Actualización Cancelada. ", "", vbCritical, false},
      {"Imposible abrir /home/usuario/instalaciones/" + std::string(150, 'p') +
           "/Corvessa/quillmereconfig.iniEntidad buscada:CATALOGOS\r\nEstablecerEntidad at line 40",
       "", vbExclamation, false},
      {"no such table: " + longTable + " Actualización Cancelada. Script: " + longName + " - Linea: 7",
       "\r\nINSERT INTO " + longTable + " VALUES (1)\r\n", vbCritical, false},
      {"Error Actualización Cancelada. Script: a.sql - Linea: 3", overBound, vbCritical, true},
      {"Error de sintaxis Actualización Cancelada. Script: " + longName + " - Linea: 0", huge,
       vbCritical, true},
  };
  const auto view = [](std::string s) {
    for (std::size_t at; (at = s.find("\r\n")) != std::string::npos;) s.erase(at, 1);
    return QString::fromStdString(s);
  };
  Vandrel window(desktop);
  window.ShowCentred();
  QtDesktop real(&window);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.report.substr(0, 60));
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* box = dynamic_cast<ReportBox*>(QApplication::activeModalWidget());
      ASSERT_NE(nullptr, box);
      seen = true;
      Pump(50);
      EXPECT_EQ(&window, box->parentWidget());
      EXPECT_EQ(Qt::ApplicationModal, box->windowModality());
      EXPECT_EQ(Text("¡Atencion!"), box->windowTitle());
      EXPECT_EQ(view(row.report), box->ReportView->toPlainText());
      // Whole in sight: no scrolling either way, wrapped within the view.
      EXPECT_FALSE(box->ReportView->verticalScrollBar()->isVisible());
      EXPECT_LE(box->ReportView->document()->size().height(), box->ReportView->viewport()->height());
      EXPECT_LE(box->ReportView->document()->idealWidth(), box->ReportView->viewport()->width());
      EXPECT_TRUE(box->screen()->availableGeometry().size().expandedTo(box->frameGeometry().size()) ==
                  box->screen()->availableGeometry().size());
      EXPECT_LE(std::abs(box->geometry().center().x() - window.geometry().center().x()), 2);
      EXPECT_EQ(box->OkButton, QApplication::focusWidget());
      if (row.batch.empty()) {
        EXPECT_EQ(nullptr, box->BatchView);
      } else {
        ASSERT_NE(nullptr, box->BatchView);
        EXPECT_EQ(row.bounded, box->BatchNote != nullptr && box->WholeBatchButton != nullptr);
        if (row.bounded && row.batch.size() < 1'000'000) box->WholeBatchButton->click();
        const QString shown = box->BatchView->toPlainText();
        if (!row.bounded || row.batch.size() < 1'000'000) {
          // The view breaks long lines for drawing; nothing else differs.
          QString joined = view(row.batch);
          EXPECT_EQ(joined.remove(QLatin1Char('\n')), QString(shown).remove(QLatin1Char('\n')));
        } else {
          EXPECT_TRUE(box->BatchNote->text().contains(Text("65.536 de los 4.488.91")))
              << box->BatchNote->text().toStdString();
          EXPECT_LE(shown.size(), ReportBox::kShownBatchChars + ReportBox::kShownBatchChars / 20);
        }
      }
      box->OkButton->click();
    });
    if (row.batch.empty()) {
      real.MsgBox(row.report, row.style, std::string("¡Atencion!"));
    } else {
      real.MsgBoxWithBatch(row.report + row.batch, row.report.size(), row.style, "¡Atencion!");
    }
    EXPECT_TRUE(seen);
  }
}

// Before a batch, waiting messages are processed when the window shows something new, and
// otherwise at most every few milliseconds.
TEST_F(WindowTest, DoEventsShowsEveryChangeAndOtherwiseAsksTheLoopSparingly) {
  Vandrel window(desktop);
  int delivered = 0;
  const auto post = [&] { QTimer::singleShot(0, &window, [&] { ++delivered; }); };
  // Two calls within 4 ms show whether the second asks the loop again; a busy machine may
  // hold this thread back between them, so try until both came within that time.
  std::unique_ptr<QtDesktop> held;
  for (int attempt = 1;; ++attempt) {
    held = std::make_unique<QtDesktop>();
    QElapsedTimer both;
    both.start();
    held->DoEvents();
    delivered = 0;
    post();
    held->DoEvents();
    if (both.nsecsElapsed() < 4'000'000) break;
    ASSERT_LT(attempt, 1000) << "never two calls within 4 ms";
  }
  QtDesktop& pump = *held;
  EXPECT_EQ(0, delivered) << "asked the event loop again at once, with nothing new to show";
  window.SetStatusText("Ejecutando actualización 2 de 2");
  pump.DoEvents();
  EXPECT_EQ(1, delivered) << "a new status text must be painted before the next batch";
  post();
  QElapsedTimer wait;
  wait.start();
  while (wait.elapsed() < 6) {
  }
  pump.DoEvents();
  EXPECT_EQ(2, delivered);
}

// Dark pixels inside `area`: text drawn there.
int Ink(const QImage& image, const QRect& area) {
  int ink = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) ink += qGray(image.pixel(x, y)) < 100;
  }
  return ink;
}

// A real run against SQLite files through the data-access manager. When each batch starts,
// the screen already shows the whole list, the status and the progress the widgets hold:
// checked from the moment the batch would be sent.
TEST_F(WindowTest, ListStatusAndProgressArePaintedBeforeEachBatch) {
  const testing::Installation inst({"CATALOGOS"});
  setenv("ProgramFiles", inst.programFiles.str().c_str(), 1);
  for (const char* name : {"CATALOGOS_01.sql", "CATALOGOS_02.sql", "CATALOGOS_03.sql"}) {
    folder.Write(name, "CREATE TABLE IF NOT EXISTS t (a INT)\r\nGO\r\n");
  }
  Vandrel window(desktop);
  desktop.SetOwner(&window);
  std::vector<std::string> statuses;
  desktop.after_pump = [&] {
    statuses.push_back(window.Lbl_StatusPrg->text().toStdString());
    ASSERT_EQ(3, window.List1->count());
    const QRect area = window.List1->geometry() | window.Lbl_StatusPrg->geometry() | window.prgbar->geometry();
    const QImage painted = window.screen()
                               ->grabWindow(window.winId(), area.x(), area.y(), area.width(), area.height())
                               .toImage()
                               .convertToFormat(QImage::Format_RGB32);
    const QImage current = window.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(painted == current) << "batch " << statuses.size() << " starts before the window shows it";
    const QRect rows(window.List1->geometry().topLeft() - area.topLeft() + QPoint(4, 4),
                     QSize(window.List1->width() - 8, 3 * 13));
    EXPECT_GT(Ink(painted, rows), 30) << "the list is not drawn";
  };
  window.ShowCentred();
  QTimer::singleShot(0, &window, [&] { window.Timer1_Timer(); });
  EXPECT_EQ(0, QApplication::exec());
  EXPECT_EQ((std::vector<std::string>{"Ejecutando actualización 1 de 3", "Ejecutando actualización 2 de 3",
                                      "Ejecutando actualización 3 de 3"}),
            statuses);
  EXPECT_EQ(Text("CATALOGOS_01.sql"), window.List1->item(0)->text());
  EXPECT_EQ(window.prgbar->maximum(), window.prgbar->value());
  EXPECT_TRUE(desktop.boxes.empty());
}

}  // namespace
}  // namespace vandrel::shell
