// The built program as a user runs it: under the display in $DISPLAY, seen and keyed through
// this process's own connection, and with displays that do not answer.
#include <libpq-fe.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <xcb/xtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "shell/qt/display_probe.h"
#include "support/databases.h"
#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::shell {
namespace {

using namespace std::chrono_literals;
using testing::Outcome;
using testing::TempFolder;

// Runs a copy of the program in `folder` (ProgramFiles `folder`/pf) with `env` added, calling
// `while_running` every 200 ms; killed after 60 s.
Outcome RunProgram(const TempFolder& folder, std::vector<std::string> env,
                   const std::function<void()>& while_running = [] {}) {
  // No leak check at the window's exit: the checker's own tracer now and then crashes
  // ("LeakSanitizer has encountered a fatal error", exit 1) while Qt's threads are ending,
  // and fontconfig and D-Bus keep caches until exit anyway. The console runs of the same
  // routines keep the check.
  env.push_back("ASAN_OPTIONS=detect_leaks=0");
  testing::Program vandrel(VANDREL_EXECUTABLE, folder.path());
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = vandrel.Start(folder.str() + "/pf", 0, env);
  while (!testing::Program::Ended(pid)) {
    if (std::chrono::steady_clock::now() - start > 60s) kill(pid, SIGKILL);
    std::this_thread::sleep_for(200ms);
    while_running();
  }
  return vandrel.Wait(pid);
}

// Presses and releases Return (keycode 36 in the X keymaps), as a person dismissing a box.
void PressReturn() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_test_fake_input(c, XCB_KEY_PRESS, 36, XCB_CURRENT_TIME, root, 0, 0, 0);
  xcb_test_fake_input(c, XCB_KEY_RELEASE, 36, XCB_CURRENT_TIME, root, 0, 0, 0);
  xcb_flush(c);
  xcb_disconnect(c);
}

// Dark pixels in `area`: how many, and the columns from the first to the last of them.
std::pair<int, int> Ink(const QImage& image, const QRect& area) {
  int pixels = 0, first = area.right(), last = area.left() - 1;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (qGray(image.pixel(x, y)) >= 100) continue;
      ++pixels;
      first = std::min(first, x);
      last = std::max(last, x);
    }
  }
  return {pixels, last - first + 1};
}

class ExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XAnswers()) GTEST_SKIP() << "no X display answers in DISPLAY";
    static int argc = 1;
    static char name[] = "window_e2e_test";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) new QGuiApplication(argc, argv);
    underX = {"DISPLAY=" + std::string(std::getenv("DISPLAY"))};
  }

  std::vector<std::string> underX;
  const TempFolder folder;
};

// A display that does not answer gives the console front end, never an abort: unset, or
// named by QT_QPA_PLATFORM.
TEST(Executable, DisplayThatDoesNotAnswerGivesTheConsole) {
  const TempFolder folder;
  int unused = 99;  // xvfb-run counts up from 99, so look below it
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(unused))) --unused;
  const std::string dead = "DISPLAY=:" + std::to_string(unused);
  const std::string runtime = "XDG_RUNTIME_DIR=" + folder.str();
  for (const std::vector<std::string>& env : std::vector<std::vector<std::string>>{
           {dead},
           {"QT_QPA_PLATFORM=xcb", dead},
           {"QT_QPA_PLATFORM=wayland", runtime, "WAYLAND_DISPLAY=nowhere"},
           {"QT_QPA_PLATFORM=wayland", runtime},  // the client library's default socket
           {"QT_QPA_PLATFORM=wayland;xcb", runtime, dead}}) {
    SCOPED_TRACE(env[0]);
    const auto start = std::chrono::steady_clock::now();
    const Outcome run = RunProgram(folder, env);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    EXPECT_EQ(0, run.exit);
    EXPECT_EQ(
        "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
        "Preparando ...\n"
        "Buscando actualizaciones ... \n",
        testing::BeforeSummary(run.out));
  }
}

// A display answers but the window library cannot be loaded (the window package is not
// installed, or the file is not a library): one line that says so, then the console.
TEST_F(ExecutableTest, WindowLibraryThatCannotBeLoadedGivesTheConsole) {
  static const struct {
    const char* name;
    const char* library;  // the library's bytes; nullptr: no library
  } cases[] = {
      {"missing", nullptr},
      {"not_a_library", "not an ELF file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempFolder here;
    testing::Program vandrel(VANDREL_EXECUTABLE, here.path());
    std::filesystem::remove(here.path() / "vandrelsql-window.so");
    if (c.library != nullptr) here.Write("vandrelsql-window.so", c.library);
    const pid_t pid = vandrel.Start(here.str() + "/pf", 0, underX);
    const auto start = std::chrono::steady_clock::now();
    while (!testing::Program::Ended(pid)) {
      if (std::chrono::steady_clock::now() - start > 60s) kill(pid, SIGKILL);
      std::this_thread::sleep_for(100ms);
    }
    const Outcome run = vandrel.Wait(pid);
    EXPECT_EQ(0, run.exit);
    EXPECT_EQ(
        "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
        "Preparando ...\n"
        "Buscando actualizaciones ... \n",
        testing::BeforeSummary(run.out));
    EXPECT_EQ(0u, run.err.find("vandrelsql: no se puede abrir la ventana (")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("vandrelsql-window.so")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("); la actualización sigue en la terminal\n"))
        << run.err;
  }
}

// While the first batch waits for a lock the test holds, the screen already shows the
// whole list and the status of the run.
TEST_F(ExecutableTest, ListAndStatusAreOnTheScreenWhileTheFirstBatchRuns) {
  if (testing::TestServer().empty()) GTEST_SKIP() << "no PostgreSQL test server";
  const testing::PgDatabase db;
  testing::PgRow(db.conninfo(), "CREATE TABLE cerrojo (a INT)");
  PGconn* holder = PQconnectdb((db.conninfo() + " connect_timeout=10").c_str());
  ASSERT_EQ(CONNECTION_OK, PQstatus(holder));
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE cerrojo IN ACCESS EXCLUSIVE MODE"));
  folder.Write("pf/Corvessa/quillmereconfig.ini",
               "[CATALOGOS]\nTag=POSTGRESQL\nConnection=" + db.conninfo() + " application_name=vandrel_paint\n");
  folder.Write("CATALOGOS_01.sql", "INSERT INTO cerrojo VALUES (1)\r\nGO\r\n");
  for (const char* name : {"CATALOGOS_02.sql", "CATALOGOS_03.sql"}) folder.Write(name, "SELECT 1\r\nGO\r\n");
  QImage shot;
  const Outcome run = RunProgram(folder, underX, [&] {
    if (!shot.isNull() || db.Value("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                                   "'vandrel_paint' AND wait_event_type = 'Lock'") < 1) {
      return;
    }
    shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    PQclear(PQexec(holder, "ROLLBACK"));
  });
  PQfinish(holder);
  EXPECT_EQ(0, run.exit) << run.err;
  ASSERT_FALSE(shot.isNull());
  // The window is centred, without a frame on a bare X server.
  const QPoint window((shot.width() - 478) / 2, (shot.height() - 246) / 2);
  EXPECT_GT(Ink(shot, {window + QPoint(40, 78), QSize(300, 3 * 14)}).first, 300) << "the list is empty";
  // "Ejecutando actualización 1 de 3" is twice as wide as "Preparando ...".
  EXPECT_GT(Ink(shot, {window + QPoint(36, 206), QSize(397, 14)}).second, 180) << "the status is not the run's";
}

// A failed batch's box is dismissed with Return and the program ends with 1; with no
// clipboard manager running the batch stays on the clipboard, byte for byte (large enough
// to need the incremental transfer).
TEST_F(ExecutableTest, FailedBatchStaysOnTheClipboardAfterTheProgramEnds) {
  ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));  // the clipboard's keeper becomes our child
  folder.Write("pf/Corvessa/catalogos.db", "");
  folder.Write("pf/Corvessa/quillmereconfig.ini", "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  const std::string batch = "\r\nINSERT INTO nada VALUES ('ñandú " + std::string(400'000, 'x') + "')\r\n";
  folder.Write("CATALOGOS_01.sql", "SELECT 1\r\nGO" + batch + "GO\r\n");
  int ticks = 0;
  const Outcome run = RunProgram(folder, underX, [&] {
    if (++ticks > 15) PressReturn();  // after the two-second start and the box
  });
  EXPECT_EQ(1, run.exit);
  EXPECT_EQ("", run.out);  // the window, not the console
  const std::string pasted = QGuiApplication::clipboard()->text().toStdString();
  std::istringstream keepers(testing::Slurp("/proc/self/task/" + std::to_string(getpid()) + "/children"));
  for (pid_t keeper; keepers >> keeper;) {
    kill(keeper, SIGKILL);
    waitpid(keeper, nullptr, 0);
  }
  EXPECT_TRUE(batch == pasted) << pasted.size() << " of " << batch.size() << " bytes pasted";
}

}  // namespace
}  // namespace vandrel::shell
