// The whole update run in this process on an Installation, through the real data-access
// manager; only the window and the person pressing OK are stand-ins. Tests that include it
// link vandrel_execution and quillmere.
#pragma once

#include <gtest/gtest.h>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {

class UpdateRun : public Installation {
 public:
  FolderEnv env{program.str()};
  RecordingStatus window;
  RecordingDesktop desktop;
  ModuleFixture module{&env, &desktop};

  UpdateRun() {
    quillmere::Register();
    env.environ["ProgramFiles"] = programFiles.str();
  }

  // A fresh run, then what the end of the program does: roll back whatever is open.
  ExitStatus Update() {
    desktop.boxes.clear();
    desktop.clipboard_ops.clear();
    desktop.pumped = 0;
    window.events.clear();
    InitModule();
    auto ended = Ends([&] { EjecutarActualizaciones(window); });
    ReleaseModule();
    EXPECT_TRUE(ended.has_value()) << "the run returned instead of ending the program";
    return ended.value_or(ExitStatus::Failed);
  }
  std::string First() const { return desktop.boxes.empty() ? "" : desktop.boxes[0].prompt; }
};

}  // namespace vandrel::testing
