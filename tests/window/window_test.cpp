// The window on Qt's offscreen platform, with its real timer, controls and boxes.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "shell/qt/progress_bar.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/report_box.h"
#include "shell/qt/vandrel.h"
#include "support/recording.h"
#include "support/temp_folder.h"

void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

// Fontconfig keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace vandrel::shell {
namespace {

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    quillmere::Register();
  }

  testing::TempFolder folder;
  testing::FolderEnv env{folder.str()};
  testing::RecordingDesktop desktop;
  testing::ModuleFixture module{&env, &desktop};
};

// Layout, texts and fonts, and the load event's work before the first paint.
TEST_F(WindowTest, OpensAsDesigned) {
  ListaScripts.assign(3, {"x.sql", "CATALOGOS"});
  Vandrel window(desktop);
  EXPECT_EQ(1u, ListaScripts.size());
  EXPECT_EQ("", ListaScripts[0].Archivo);
  const std::tuple<QLabel*, const char*, double> labels[] = {
      {window.Label1, "Vandrel de Base de Datos de Corvessa", 12},
      {window.Lbl_AppVer, "v.2.0.1", 9.75},  // before the window is shown
      {window.Lbl_StatusPrg, "Preparando ...", 9}};
  for (const auto& [label, text, points] : labels) {
    EXPECT_EQ(text, label->text());
    const QFont font = label->font();
    EXPECT_EQ("Tahoma", font.family()) << text;
    EXPECT_DOUBLE_EQ(points, font.pointSizeF());
    EXPECT_EQ(QFont::Bold, font.weight());
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
  }
  window.ShowCentred();
  EXPECT_EQ("Vandrel", window.windowTitle());
  EXPECT_EQ(QSize(478, 246), window.size());
  const QPoint off = window.frameGeometry().center() - window.screen()->availableGeometry().center();
  EXPECT_TRUE(std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1) << off.x() << "," << off.y();
  EXPECT_FALSE(window.isMaximized() || window.isMinimized());
  EXPECT_EQ(2, window.Shp1->lineWidth());
  EXPECT_EQ(Qt::AlignCenter, window.Lbl_StatusPrg->alignment());
  const QRect version = window.Lbl_AppVer->geometry();
  EXPECT_EQ(QRect(418, 44, version.width(), 16), version);
  EXPECT_GE(version.width(), std::max(45, window.Lbl_AppVer->sizeHint().width()));
  EXPECT_TRUE(window.Timer1->isActive());
  EXPECT_EQ(2000, window.Timer1->interval());
  for (int side : {16, 24, 32, 48}) EXPECT_EQ(QSize(side, side), window.windowIcon().actualSize(QSize(side, side)));
  // Where each control stands, also after resizing: nothing reacts to it.
  const std::pair<QWidget*, QRect> places[] = {
      {window.Shp1, {2, 2, 473, 63}},     {window.Label1, {16, 20, 366, 19}},
      {window.List1, {36, 76, 397, 121}}, {window.Lbl_StatusPrg, {36, 206, 397, 14}},
      {window.prgbar, {6, 224, 455, 7}}};
  for (bool resized : {false, true}) {
    if (resized) window.resize(900, 700);
    Pump(50);
    for (const auto& [widget, place] : places) EXPECT_EQ(place, widget->geometry()) << resized;
  }
}

// What the run does to the controls besides what a run shows, and the progress's refusals.
TEST_F(WindowTest, StatusSurfaceActsOnTheControls) {
  Vandrel window(desktop);
  StatusSurface& surface = window;
  surface.AddListEntry("CATALOGOS_01.sql");
  surface.ClearList();
  EXPECT_EQ(0, window.List1->count());
  surface.SetProgressMax(4);
  surface.SetProgressValue(2);
  EXPECT_NEAR(ProgressBar::kSteps / 2, window.prgbar->value(), 1);
  for (const auto& refused : std::vector<std::function<void()>>{
           [&] { surface.SetProgressMax(0.0001f); }, [&] { surface.SetProgressMax(0); },
           [&] { surface.SetProgressValue(5); }, [&] { surface.SetProgressValue(0); }}) {
    EXPECT_EQ("Invalid property value", testing::ErrorOf(refused));
    EXPECT_FLOAT_EQ(4.0f, window.prgbar->Max());
    EXPECT_FLOAT_EQ(2.0f, window.prgbar->Value());
  }
  surface.SetProgressMax(1);  // below the value, which follows it
  EXPECT_EQ(ProgressBar::kSteps, window.prgbar->value());
}

// Closing while waiting ends the program with 4, and a tick after it runs nothing.
TEST_F(WindowTest, CloseBeforeTheRunEndsWithoutRunning) {
  folder.Write("CATALOGOS_01.sql", "CREATE TABLE t (a INT)\nGO\n");
  Vandrel window(desktop);
  window.ShowCentred();
  // Posted, so that it comes before the tick however long showing the window took.
  QMetaObject::invokeMethod(&window, [&] { EXPECT_TRUE(window.close()); }, Qt::QueuedConnection);
  EXPECT_EQ(4, QApplication::exec());
  EXPECT_FALSE(window.Timer1->isActive());
  window.Timer1_Timer();
  EXPECT_FALSE(window.RunStarted());
  EXPECT_EQ(0, window.List1->count());
}

// Every form of report: its own text whole, wrapped by nothing but the box's width, in a view
// no taller than it; the batch whole in a view of its own, no broken line under its scroll
// bar, only a long one bounded and said so; the box over the window and within the screen,
// a narrow one too.
TEST_F(WindowTest, BoxesShowEveryReportWholeAndFitTheScreen) {
  const std::string longName = "CATALOGOS_2024_actualizacion_de_clientes_y_proveedores.sql";
  const std::string longTable(180, 't');
  std::string huge = "\r\nINSERT INTO t VALUES ('" + std::string(700'000, 'x') + "')\r\n";
  for (int i = 0; i < 12'000; ++i) huge += "INSERT INTO t VALUES (" + std::to_string(i) + ");\r\n";
  std::string bands = "\r\nINSERT INTO bandas VALUES ('FOO FIGHTERS', 'NIRVANA', 'THE BEATLES', "
                      "'QUEEN', 'LED ZEPPELIN', 'PINK FLOYD', 'FOO FIGHTERS')\r\n";
  for (int i = 0; i < 20; ++i) bands += "INSERT INTO bandas VALUES ('FOO FIGHTERS " + std::to_string(i) + "');\r\n";
  const std::string shortReport = "no such table: bandas Actualización Cancelada. Script: CATALOGOS_01.sql - Linea: 3";
  const struct {
    std::string report, batch;
    int style;
    bool bounded;
    QRect area = QRect();  // the screen's available area, when not the real one's
  } rows[] = {
      {" Actualización Cancelada. ", "", vbCritical, false},
      {shortReport, bands, vbCritical, false},
      {shortReport, bands, vbCritical, false, QRect(0, 0, 420, 700)},
      {"Imposible abrir " + std::string(400, 'p'), bands, vbExclamation, false, QRect(0, 0, 300, 900)},
      {"Imposible abrir /home/usuario/instalaciones/" + std::string(150, 'p') +
           "/Corvessa/quillmereconfig.iniEntidad buscada:CATALOGOS\r\nEstablecerEntidad at line 40",
       "", vbExclamation, false},
      {"no such table: " + longTable + " Actualización Cancelada. Script: " + longName + " - Linea: 7",
       "\r\nINSERT INTO " + longTable + " VALUES (1)\r\n", vbCritical, false},
      {"Error de sintaxis Actualización Cancelada. Script: " + longName + " - Linea: 0", huge, vbCritical, true},
  };
  const auto view = [](const std::string& s) { return QString::fromStdString(s).replace("\r\n", "\n"); };
  Vandrel window(desktop);
  window.ShowCentred();
  QtDesktop real(&window);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.report.substr(0, 60) + (row.area.isValid() ? " (narrow)" : ""));
    bool seen = false;
    const auto check = [&] {
      auto* box = dynamic_cast<ReportBox*>(QApplication::activeModalWidget());
      ASSERT_NE(nullptr, box);
      seen = true;
      Pump(50);
      EXPECT_EQ(&window, box->parentWidget());
      EXPECT_EQ(Qt::ApplicationModal, box->windowModality());
      EXPECT_EQ("¡Atencion!", box->windowTitle());
      EXPECT_EQ(view(row.report), box->ReportView->toPlainText());
      EXPECT_FALSE(box->ReportView->verticalScrollBar()->isVisible());
      const int textHeight = static_cast<int>(std::ceil(box->ReportView->document()->size().height()));
      EXPECT_LE(textHeight, box->ReportView->viewport()->height());
      EXPECT_LE(box->ReportView->viewport()->height(), textHeight + 1) << "taller than its text";
      EXPECT_LE(box->ReportView->document()->idealWidth(), box->ReportView->viewport()->width());
      const QSize screen = row.area.isValid() ? row.area.size() : box->screen()->availableGeometry().size();
      EXPECT_EQ(screen, screen.expandedTo(box->frameGeometry().size()));
      EXPECT_LE(std::abs(box->geometry().center().x() - window.geometry().center().x()), 2);
      EXPECT_EQ(box->OkButton, QApplication::focusWidget());
      EXPECT_EQ(row.batch.empty(), box->BatchView == nullptr);
      if (box->BatchView != nullptr) {
        EXPECT_EQ(row.bounded, box->BatchNote != nullptr && box->WholeBatchButton != nullptr);
        if (row.bounded) {
          EXPECT_EQ("Se muestran los primeros 65.536 de los 1.048.917 caracteres del lote; al pulsar OK el "
                    "lote completo queda en el portapapeles.", box->BatchNote->text());
          EXPECT_LE(box->BatchView->toPlainText().size(), ReportBox::kShownBatchChars * 21 / 20);
          box->WholeBatchButton->click();
          EXPECT_EQ("Lote completo: 1.048.917 caracteres.", box->BatchNote->text());
        }
        // The view breaks long lines for drawing; nothing else differs, and every broken
        // line is seen whole beside the scroll bar.
        EXPECT_EQ(view(row.batch).remove('\n'), box->BatchView->toPlainText().remove('\n'));
        const QFontMetricsF metrics(box->BatchView->font());
        const double room = box->BatchView->viewport()->width() -
                            2 * box->BatchView->document()->documentMargin();
        for (const QString& line : box->BatchView->toPlainText().left(100'000).split('\n'))
          ASSERT_LE(metrics.horizontalAdvance(line), room) << line.toStdString();
      }
      box->OkButton->click();
    };
    QTimer::singleShot(0, check);
    if (row.area.isValid()) {
      ReportBox box(&window, QMessageBox::Critical, "¡Atencion!", view(row.report),
                    view(row.batch), {}, row.area);
      box.exec();
    } else if (row.batch.empty()) {
      real.MsgBox(row.report, row.style, std::string("¡Atencion!"));
    } else {
      real.MsgBoxWithBatch(row.report + row.batch, row.report.size(), row.style, "¡Atencion!");
    }
    EXPECT_TRUE(seen);
  }
}

// The place of a failure under the report, and the batch view opened at its line, marked,
// past a line long enough to be broken for drawing.
TEST_F(WindowTest, BoxShowsThePlaceAndOpensTheBatchAtItsLine) {
  std::string batch = "\r\n-- " + std::string(500, 'x') + "\r\n";
  for (int line = 47; line <= 110; ++line)
    batch += "INSERT INTO t VALUES (" + std::to_string(line) + ", 'ñandú');\r\n";
  FailurePlace place;
  place.path = "/opt/vandrelsql/CATALOGOS_01.sql";
  place.file = "CATALOGOS_01.sql";
  place.line = 57;
  place.column = 12;
  place.batchLine = 45;  // the line of the batch's first character, after "GO"
  place.message = "no such table: t";
  const std::string report = "no such table: t Actualización Cancelada. Script: CATALOGOS_01.sql - Linea: 3";
  Vandrel window(desktop);
  window.ShowCentred();
  QtDesktop real(&window);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = dynamic_cast<ReportBox*>(QApplication::activeModalWidget());
    ASSERT_NE(nullptr, box);
    seen = true;
    Pump(50);
    ASSERT_NE(nullptr, box->PlaceLabel);
    EXPECT_EQ("CATALOGOS_01.sql, línea 57, columna 12", box->PlaceLabel->text());
    EXPECT_TRUE(box->PlaceLabel->isVisible());
    const QTextCursor at = box->BatchView->textCursor();
    EXPECT_EQ("INSERT INTO t VALUES (57, 'ñandú');", at.block().text());
    EXPECT_TRUE(box->BatchView->viewport()->rect().contains(box->BatchView->cursorRect(at)))
        << "the marked line is out of view";
    const auto marks = box->BatchView->extraSelections();
    ASSERT_EQ(1, marks.size());
    EXPECT_EQ("INSERT INTO t VALUES (57, 'ñandú');", marks[0].cursor.selectedText());
    box->OkButton->click();
  });
  real.MsgBoxWithBatch(report + batch, report.size(), vbCritical, "¡Atencion!", place);
  EXPECT_TRUE(seen);
}

// Before a batch the waiting messages are processed when the window shows something new, and
// otherwise at most every few milliseconds.
TEST_F(WindowTest, DoEventsShowsEveryChangeAndOtherwiseAsksTheLoopSparingly) {
  Vandrel window(desktop);
  int delivered = 0;
  const auto post = [&] { QTimer::singleShot(0, &window, [&] { ++delivered; }); };
  // Whether the second of two calls within 4 ms asks the loop again: a busy machine may hold
  // this thread back between them, so try until they came that close.
  QtDesktop pump;
  for (int attempt = 1;; ++attempt) {
    pump = QtDesktop();  // never pumped yet
    QElapsedTimer both;
    both.start();
    pump.DoEvents();
    delivered = 0;
    post();
    pump.DoEvents();
    if (both.nsecsElapsed() < 4'000'000) break;
    ASSERT_LT(attempt, 1000) << "never two calls within 4 ms";
  }
  EXPECT_EQ(0, delivered) << "asked the event loop again at once, with nothing new to show";
  window.SetStatusText("Ejecutando actualización 2 de 2");
  pump.DoEvents();
  EXPECT_EQ(1, delivered) << "a new status text must be painted before the next batch";
  post();
  std::this_thread::sleep_for(std::chrono::milliseconds(6));
  pump.DoEvents();
  EXPECT_EQ(2, delivered);
}

// A real run against SQLite files, started by the real two-second timer. When each batch
// starts, the screen already shows the whole list, the status and the progress the widgets
// hold. Closing during the run is refused, and the timer does not tick again although the
// run keeps the event loop going past it.
TEST_F(WindowTest, RunPaintsListStatusAndProgressBeforeEachBatch) {
  const testing::Installation inst({"CATALOGOS"});
  setenv("ProgramFiles", inst.programFiles.str().c_str(), 1);
  for (const char* name : {"CATALOGOS_01.sql", "CATALOGOS_02.sql", "CATALOGOS_03.sql"}) {
    folder.Write(name, "CREATE TABLE IF NOT EXISTS t (a INT)\r\nGO\r\n");
  }
  QElapsedTimer clock;
  clock.start();
  Vandrel window(desktop);
  QtDesktop real(&window);
  int ticks = 0;
  QObject::connect(window.Timer1, &QTimer::timeout, [&] { ++ticks; });
  std::vector<std::string> statuses;
  desktop.on_pump = [&] {
    real.DoEvents();
    statuses.push_back(window.Lbl_StatusPrg->text().toStdString());
    ASSERT_EQ(3, window.List1->count());
    const QRect area = window.List1->geometry() | window.Lbl_StatusPrg->geometry() | window.prgbar->geometry();
    const QImage painted = window.screen()->grabWindow(window.winId(), area.x(), area.y(), area.width(),
                                                       area.height()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(painted == window.grab(area).toImage().convertToFormat(QImage::Format_RGB32))
        << "batch " << statuses.size() << " starts before the window shows it";
    if (statuses.size() > 1) return;
    EXPECT_GE(clock.elapsed(), 1800);  // a coarse timer may come up to 5% early
    EXPECT_FALSE(window.close());
    Pump(2500);
  };
  window.ShowCentred();
  EXPECT_EQ(0, QApplication::exec());
  EXPECT_EQ((std::vector<std::string>{"Ejecutando actualización 1 de 3", "Ejecutando actualización 2 de 3",
                                      "Ejecutando actualización 3 de 3"}),
            statuses);
  EXPECT_EQ("CATALOGOS_01.sql", window.List1->item(0)->text());
  EXPECT_EQ(window.prgbar->maximum(), window.prgbar->value());
  EXPECT_EQ(1, ticks);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_TRUE(window.RunEnded());
  EXPECT_FALSE(window.Timer1->isActive());
}

}  // namespace
}  // namespace vandrel::shell
