// The built executable run as a user would: under the display in $DISPLAY with a real
// window, and with a DISPLAY that does not answer. Keys are pressed through XTEST.
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "shell/qt/display_probe.h"
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

// A DISPLAY that does not answer gives the console front end, never an abort.
TEST(Executable, DisplayThatDoesNotAnswerGivesTheConsole) {
  const TempFolder folder;
  int unused = 99;  // xvfb-run counts up from 99, so look below it
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(unused))) --unused;
  const Timed run = RunProgram(folder, {"DISPLAY=:" + std::to_string(unused)});
  EXPECT_EQ(0, run.outcome.exit);
  EXPECT_EQ(
      "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
      "Preparando ...\n"
      "Buscando actualizaciones ... \n",
      run.outcome.out);
  EXPECT_GE(run.seconds, 1.9);
}

}  // namespace
}  // namespace vandrel::shell
