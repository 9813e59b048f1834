#include <gtest/gtest.h>

#include <new>

#include "shell/error_trap.h"
#include "shell/routine_error_report.h"
#include "support/recording.h"

namespace vandrel::testing {
namespace {

// The forms: plain, with the entity looked for (with and without a description), and an
// empty description. Which routine and label each step reports is the callers' tests'.
TEST(RoutineErrorReportTest, ExactTextsOfTheForms) {
  RecordingDesktop desktop;
  const std::string entity = "INTERNOS";
  ShowRoutineError(desktop, {"Boom", 180}, kEnEjecutarActualizaciones);
  ShowRoutineError(desktop, {"No driver", 40}, kEnEstablecerEntidad, &entity);
  ShowRoutineError(desktop, {"", 10}, kEnEstablecerEntidad, &entity);
  ShowRoutineError(desktop, {"", 400}, kEnObtenerListado);
  std::vector<std::string> prompts;
  for (const Box& box : desktop.boxes) {
    prompts.push_back(box.prompt);
    EXPECT_EQ(box.style, 48);
    EXPECT_EQ(box.title, "VandrelSQL v.2.0.1");
  }
  EXPECT_EQ(prompts, (std::vector<std::string>{
                         "Boom\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line 180",
                         "No driverEntidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 40",
                         "Entidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 10",
                         "\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line 400"}));
}

// The label of the failing step is kept (the routines' tests prove each of theirs); memory
// failures are described as the runtime does; the end of the program is untouched.
TEST(ErrorTrapTest, RecordsTheLabelOfTheFailingStepAndLetsProgramEndPass) {
  EXPECT_EQ(Trapped([](LineLabel& line) -> std::string { line = 20; throw std::bad_alloc(); },
                    [](const TrappedError& e) { return e.description + "@" + std::to_string(e.line); }),
            "Out of memory@20");
  int handled = 0;
  auto ended = Ends([&] {
    Trapped([](LineLabel&) { EndProgram(ExitStatus::Access); }, [&](const TrappedError&) { ++handled; });
  });
  EXPECT_EQ(ended, ExitStatus::Access);
  EXPECT_EQ(handled, 0);

  // The handler runs disarmed: what it raises leaves the routine.
  EXPECT_THROW(Trapped([](LineLabel&) { throw Error("first"); },
                       [](const TrappedError&) { throw Error("second"); }),
               Error);
}

}  // namespace
}  // namespace vandrel::testing
