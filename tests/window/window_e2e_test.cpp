// The built executable run as a user would: under the display in $DISPLAY with a real
// window, and with a DISPLAY that does not answer. Keys are pressed through XTEST.
#include <libpq-fe.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <cstdio>
#include <algorithm>

#include <QImage>
#include <gtest/gtest.h>

#include "shell/qt/display_probe.h"
#include "support/databases.h"
#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::shell {
namespace {

using namespace std::chrono_literals;
using testing::Outcome;
using testing::Program;
using testing::TempFolder;

// Runs a copy of the program in `folder` (ProgramFiles `folder`/pf) with `env` added;
// `while_running` is called every 200 ms until it ends (killed after 60 s).
struct Timed {
  Outcome outcome;
  double seconds = 0;
};
Timed RunProgram(const TempFolder& folder, std::vector<std::string> env,
               const std::function<void()>& while_running = {}) {
  // The test build's program is sanitized; fontconfig and D-Bus keep caches until exit.
  const std::string suppressions = folder.Write(".lsan", "leak:libfontconfig\nleak:libdbus-1\n").string();
  env.push_back("LSAN_OPTIONS=suppressions=" + suppressions + ":print_suppressions=0");
  Program vandrel(VANDREL_EXECUTABLE, folder.path());
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = vandrel.Start(folder.str() + "/pf", 0, env);
  while (!Program::Ended(pid)) {
    if (std::chrono::steady_clock::now() - start > 60s) kill(pid, SIGKILL);
    std::this_thread::sleep_for(200ms);
    if (while_running) while_running();
  }
  Timed run{vandrel.Wait(pid), 0};
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return run;
}

// Presses and releases Return on the display, as a person dismissing a box would.
void PressReturn() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c) == 0) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    // Find the keycode of Return (keysym 0xff0d).
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* map = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
    if (map != nullptr) {
      const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
      for (int i = 0; i < count * map->keysyms_per_keycode; ++i) {
        if (syms[i] != 0xff0d) continue;
        const auto code = static_cast<uint8_t>(setup->min_keycode + i / map->keysyms_per_keycode);
        xcb_test_fake_input(c, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, root, 0, 0, 0);
        break;
      }
      free(map);
    }
    xcb_flush(c);
  }
  xcb_disconnect(c);
}

// The display xvfb-run gave the tests.
std::vector<std::string> UnderX() { return {"DISPLAY=" + std::string(std::getenv("DISPLAY"))}; }

class ExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XAnswers()) GTEST_SKIP() << "no X display answers in DISPLAY";
  }
};

// No scripts: the window opens, waits two seconds and the program ends with 0.
TEST_F(ExecutableTest, WindowRunWithoutScriptsEndsWithZero) {
  const TempFolder folder;
  const Timed run = RunProgram(folder, UnderX());
  EXPECT_EQ(0, run.outcome.exit);
  EXPECT_EQ("", run.outcome.out);  // the window, not the console
  EXPECT_GE(run.seconds, 1.9);
}

// A failing batch: the "¡Atencion!" box is dismissed with Return; exit status 1.
TEST_F(ExecutableTest, FailedRunBoxDismissedWithAKeyEndsWithOne) {
  const TempFolder folder;
  folder.Write("pf/Corvessa/catalogos.db", "");
  folder.Write("pf/Corvessa/quillmereconfig.ini", "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  folder.Write("CATALOGOS_01.sql", "INSERT INTO nada VALUES (1)\r\nGO\r\n");
  int ticks = 0;
  const Timed run = RunProgram(folder, UnderX(), [&] {
    if (++ticks > 15) PressReturn();  // after the two-second start and the box
  });
  EXPECT_EQ(1, run.outcome.exit);
}

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
    const Timed run = RunProgram(folder, env);
    EXPECT_EQ(0, run.outcome.exit);
    EXPECT_EQ(
        "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
        "Preparando ...\n"
        "Buscando actualizaciones ... \n",
        run.outcome.out);
    EXPECT_GE(run.seconds, 1.9);
  }
}

// Dark pixels in `area` of `image`, and the columns they span.
struct InkSeen {
  int pixels = 0;
  int width = 0;
};
InkSeen Ink(const QImage& image, int left, int top, int width, int height) {
  InkSeen ink;
  int first = width, last = -1;
  for (int y = top; y < top + height; ++y) {
    for (int x = left; x < left + width; ++x) {
      if (qGray(image.pixel(x, y)) >= 100) continue;
      ++ink.pixels;
      first = std::min(first, x - left);
      last = std::max(last, x - left);
    }
  }
  ink.width = last - first + 1;
  return ink;
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
  const TempFolder folder;
  folder.Write("pf/Corvessa/quillmereconfig.ini", "[CATALOGOS]\nTag=POSTGRESQL\nConnection=" + db.conninfo() +
                                                      " application_name=vandrel_paint\n");
  folder.Write("CATALOGOS_01.sql", "INSERT INTO cerrojo VALUES (1)\r\nGO\r\n");
  folder.Write("CATALOGOS_02.sql", "SELECT 1\r\nGO\r\n");
  folder.Write("CATALOGOS_03.sql", "SELECT 1\r\nGO\r\n");
  const std::string shot = folder.str() + "/shot.png";
  bool taken = false;
  const Timed run = RunProgram(folder, UnderX(), [&] {
    if (taken || testing::PgValue(db.conninfo(),
                                  "SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                                  "'vandrel_paint' AND wait_event_type = 'Lock'") < 1) {
      return;
    }
    taken = true;
    EXPECT_EQ(0, std::system(("timeout 30 " SCREEN_GRAB " " + shot).c_str()));
    PQclear(PQexec(holder, "ROLLBACK"));
  });
  PQfinish(holder);
  EXPECT_EQ(0, run.outcome.exit);
  ASSERT_TRUE(taken);
  const QImage image(QString::fromStdString(shot));
  ASSERT_FALSE(image.isNull());
  // The window is centred, without a frame on a bare X server.
  const int x = (image.width() - 478) / 2, y = (image.height() - 246) / 2;
  EXPECT_GT(Ink(image, x + 40, y + 78, 300, 3 * 14).pixels, 300) << "the list is empty";
  // "Ejecutando actualización 1 de 3" is twice as wide as "Preparando ...".
  EXPECT_GT(Ink(image, x + 36, y + 206, 397, 14).width, 180) << "the status is not the run's";
}

// Reaps what the clipboard helpers left behind: they become this process's children.
void EndClipboardServers() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = testing::Slurp(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 2, "%*c %d", &ppid) != 1 || ppid != getpid()) continue;
    const pid_t pid = std::stoi(name);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// After OK the program ends; with no clipboard manager running the failed batch is still
// on the clipboard, byte for byte (large enough to need the incremental transfer).
TEST_F(ExecutableTest, FailedBatchStaysOnTheClipboardAfterTheProgramEnds) {
  ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
  const TempFolder folder;
  folder.Write("pf/Corvessa/catalogos.db", "");
  folder.Write("pf/Corvessa/quillmereconfig.ini", "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  const std::string batch = "\r\nINSERT INTO nada VALUES ('ñandú " + std::string(400'000, 'x') + "')\r\n";
  folder.Write("CATALOGOS_01.sql", "SELECT 1\r\nGO" + batch + "GO\r\n");
  int ticks = 0;
  const Timed run = RunProgram(folder, UnderX(), [&] {
    if (++ticks > 15) PressReturn();
  });
  EXPECT_EQ(1, run.outcome.exit);
  std::string pasted;
  if (FILE* paste = popen("timeout 20 xclip -o -selection clipboard", "r")) {
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, paste)) > 0;) pasted.append(buffer, n);
    pclose(paste);
  }
  EndClipboardServers();
  EXPECT_EQ(batch.size(), pasted.size());
  EXPECT_TRUE(batch == pasted);
}

}  // namespace
}  // namespace vandrel::shell
