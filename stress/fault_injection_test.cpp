// A whole multi-entity run with the Nth call to the file layer, the data-access manager or
// a driver failing, for N = 1, 2, 3, ... until a run passes with no fault fired; each call
// is failed once before it reaches the real one and once after it did. Every ending must
// be one of the program's reports with its exit status, explaining the failure, and the
// databases must hold each entity's work whole or not at all.
#include <gtest/gtest.h>

#include <memory>

#include "Mod_Main.h"
#include "quillmere/quillmere.h"
#include "stress/endings.h"
#include "stress/faulty.h"
#include "stress/workload.h"

namespace vandrel::testing {
namespace {

class FaultInjectionTest : public ::testing::TestWithParam<std::string> {
 protected:
  std::unique_ptr<PgDatabase> pg;

  void SetUp() override {
    if (GetParam() == "POSTGRESQL") {
      if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
      pg = std::make_unique<PgDatabase>();
    }
  }
  void TearDown() override { quillmere::Register(); }
};

INSTANTIATE_TEST_SUITE_P(Engines, FaultInjectionTest, ::testing::Values("SQLITE", "POSTGRESQL"));

TEST_P(FaultInjectionTest, FailingEachCallInTurnLeavesEveryEntityWholeOrUntouched) {
  Workload work(pg.get());
  FolderEnv folder(work.program.str());
  folder.environ["ProgramFiles"] = work.programFiles.str();
  FaultPlan plan;
  const auto env = FaultyEnv(&folder, &plan);
  RegisterFaultyManager(&plan);

  int run = 0;
  for (bool after : {false, true}) {
    for (int n = 1;; ++n) {
      plan = FaultPlan{n, after, 0, {}};
      work.WriteScripts(++run);
      RecordingStatus window;
      RecordingDesktop desktop;
      std::optional<ExitStatus> ended;
      {
        ModuleFixture module(env.get(), &desktop);
        ended = Ends([&] { EjecutarActualizaciones(window); });
        ReleaseModule();
      }
      const std::string at = "call " + std::to_string(n) + (after ? " after" : " before") +
                             " (" + (plan.fired.empty() ? "none fired" : plan.fired) + "): ";
      ASSERT_TRUE(ended.has_value()) << at << "the run returned instead of ending";
      const ExitStatus status = *ended;
      EXPECT_EQ(CheckEnding(status, desktop.boxes), "") << at;
      EXPECT_EQ(CheckNoSecret(desktop, work.secrets()), "") << at;
      EXPECT_EQ(work.Check(run, status == ExitStatus::Finished), "") << at;
      if (plan.fired.empty()) {
        EXPECT_EQ(status, ExitStatus::Finished) << at;
        EXPECT_GT(n, work.total_batches()) << "every batch goes through the driver";
        break;
      }
      EXPECT_NE(status, ExitStatus::Finished) << at << "a failure went unreported";
      ASSERT_FALSE(desktop.boxes.empty()) << at;
      EXPECT_NE(desktop.boxes[0].prompt.find(kInjected), std::string::npos)
          << at << "the first report does not explain the failure: " << desktop.boxes[0].prompt;
      if (::testing::Test::HasFailure()) break;
    }
  }
  std::printf("%s: %d runs with a fault injected\n", GetParam().c_str(), run - 2);
}

}  // namespace
}  // namespace vandrel::testing
