#include <gtest/gtest.h>

#include <new>

#include "shell/error_trap.h"
#include "support/recording.h"

namespace vandrel::testing {
namespace {

// The label of the failing step is kept and a memory failure described as the runtime does;
// the end of the program passes untouched, and what the handler raises leaves the routine.
// (The report's forms are the run, connection and discovery tests'.)
TEST(ErrorTrapTest, KeepsTheLabelAndLetsProgramEndAndTheHandlersErrorsPass) {
  EXPECT_EQ(Trapped([](LineLabel& line) -> std::string { line = 20; throw std::bad_alloc(); },
                    [](const TrappedError& e) { return e.description + "@" + std::to_string(e.line); }),
            "Out of memory@20");
  EXPECT_EQ(Ends([] { Trapped([](LineLabel&) { EndProgram(ExitStatus::Access); }, [](const TrappedError&) {}); }),
            ExitStatus::Access);
  EXPECT_EQ(ErrorOf([] {
              Trapped([](LineLabel&) { throw Error("first"); }, [](const TrappedError&) { throw Error("second"); });
            }),
            "second");
}

}  // namespace
}  // namespace vandrel::testing
