// The built executable run as a user would: under the display in $DISPLAY with a real
// window, and with a DISPLAY that does not answer. Keys are pressed through XTEST.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/automation/object.h"
#include "platform/error.h"
#include "quillmere/quillmere.h"
#include "shell/qt/display_probe.h"
#include "support/temp_folder.h"

namespace vandrel::shell {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;

struct Outcome {
  int status = -1;
  std::string out;
  double seconds = 0;
};

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a copy of the program in `folder` with `env` changes ("NAME=value", or "NAME" to
// unset); `while_running` is called every 200 ms until it ends (killed after 60 s).
Outcome RunProgram(const TempFolder& folder, const std::vector<std::string>& env,
                   const std::function<void()>& while_running = {}) {
  const std::filesystem::path program = folder.path() / "vandrelsql";
  std::filesystem::copy_file(VANDREL_EXECUTABLE, program,
                             std::filesystem::copy_options::overwrite_existing);
  const std::filesystem::path out = folder.path() / ".out";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) {
      const auto eq = e.find('=');
      if (eq == std::string::npos) unsetenv(e.c_str());
      else setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    // The test build's program is sanitized; fontconfig and D-Bus keep caches until exit.
    const std::string suppressions = (folder.path() / ".lsan").string();
    std::ofstream(suppressions) << "leak:libfontconfig\nleak:libdbus-1\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + suppressions + ":print_suppressions=0").c_str(), 1);
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  Outcome outcome;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() - start > 60s) kill(pid, SIGKILL);
    std::this_thread::sleep_for(200ms);
    if (while_running) while_running();
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  outcome.out = Slurp(out);
  return outcome;
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

const std::vector<std::string> kUnderX = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};

class ExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XAnswers()) GTEST_SKIP() << "no X display answers in DISPLAY";
  }
};

// No scripts: the window opens, waits two seconds and the program ends with 0.
TEST_F(ExecutableTest, WindowRunWithoutScriptsEndsWithZero) {
  const TempFolder folder;
  const Outcome run = RunProgram(folder, kUnderX);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);  // the window, not the console
  EXPECT_GE(run.seconds, 1.9);
}

// A failing batch: the "¡Atencion!" box is dismissed with Return; exit status 1.
TEST_F(ExecutableTest, FailedRunBoxDismissedWithAKeyEndsWithOne) {
  quillmere::Register();
  try {
    automation::CreateObject("Quillmere.QuillMain");
  } catch (const Error&) {
    GTEST_SKIP() << "Quillmere.QuillMain is not built in";
  }
  const TempFolder folder;
  folder.Write("pf/Corvessa/catalogos.db", "");
  folder.Write("pf/Corvessa/quillmereconfig.ini", "[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  folder.Write("CATALOGOS_01.sql", "INSERT INTO nada VALUES (1)\r\nGO\r\n");
  std::vector<std::string> env = kUnderX;
  env.push_back("ProgramFiles=" + folder.str() + "/pf");
  int ticks = 0;
  const Outcome run = RunProgram(folder, env, [&] {
    if (++ticks > 15) PressReturn();  // after the two-second start and the box
  });
  EXPECT_EQ(1, run.status);
}

// A DISPLAY that does not answer gives the console front end, never an abort.
TEST(Executable, DisplayThatDoesNotAnswerGivesTheConsole) {
  const TempFolder folder;
  int unused = 99;  // xvfb-run counts up from 99, so look below it
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(unused))) --unused;
  const Outcome run = RunProgram(
      folder, {"DISPLAY=:" + std::to_string(unused), "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(
      "Vandrel de Base de Datos de Corvessa v.2.0.1\n"
      "Preparando ...\n"
      "Buscando actualizaciones ... \n",
      run.out);
  EXPECT_GE(run.seconds, 1.9);
}

}  // namespace
}  // namespace vandrel::shell
