#include <gtest/gtest.h>

#include <new>

#include "shell/error_trap.h"
#include "shell/identity.h"
#include "shell/routine_error_report.h"
#include "support/recording.h"

namespace vandrel::testing {
namespace {

TEST(IdentityTest, TextsComeFromTheBuildVersion) {
  EXPECT_EQ(identity::VersionText(), "v.2.0.1");
  EXPECT_EQ(identity::TitledBoxTitle(), "VandrelSQL v.2.0.1");
}

TEST(RoutineErrorReportTest, ExactTextsOfTheFourForms) {
  RecordingDesktop desktop;
  std::string entity = "INTERNOS";
  ShowRoutineError(desktop, {"Disk full", 50}, kEnObtenerListado);
  ShowRoutineError(desktop, {"Bad value", 70}, kEnListar);
  ShowRoutineError(desktop, {"Boom", 180}, kEnEjecutarActualizaciones);
  ShowRoutineError(desktop, {"No driver", 40}, kEnEstablecerEntidad, &entity);
  ShowRoutineError(desktop, {"", 10}, kEnEstablecerEntidad, &entity);
  ShowRoutineError(desktop, {"", 400}, kEnObtenerListado);
  ASSERT_EQ(desktop.boxes.size(), 6u);
  EXPECT_EQ(desktop.boxes[0].prompt, "Disk full\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line 50");
  EXPECT_EQ(desktop.boxes[1].prompt,
            "Bad value\r\nin VandrelSQL.Mod_Main.ListarActualizacionesEnPantalla at line 70");
  EXPECT_EQ(desktop.boxes[2].prompt,
            "Boom\r\nin VandrelSQL.Mod_Main.EjecutarActualizaciones at line 180");
  EXPECT_EQ(desktop.boxes[3].prompt,
            "No driverEntidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 40");
  EXPECT_EQ(desktop.boxes[4].prompt,
            "Entidad buscada:INTERNOS\r\nin VandrelSQL.Mod_Main.EstablecerEntidad at line 10");
  EXPECT_EQ(desktop.boxes[5].prompt, "\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line 400");
  for (const Box& box : desktop.boxes) {
    EXPECT_EQ(box.style, 48);
    EXPECT_EQ(box.title, "VandrelSQL v.2.0.1");
  }
}

TEST(ErrorTrapTest, RecordsTheLabelOfTheFailingStepAndLetsProgramEndPass) {
  auto run = [](int failAt) {
    return Trapped(
        [&](LineLabel& line) -> std::string {
          for (int label = 10; label <= 40; label += 10) {
            line = label;
            if (label == failAt) throw Error("failed");
          }
          return "done";
        },
        [](const TrappedError& e) { return e.description + "@" + std::to_string(e.line); });
  };
  EXPECT_EQ(run(0), "done");
  EXPECT_EQ(run(30), "failed@30");

  // Memory failures are described as the runtime does; the end of the program is untouched.
  auto outOfMemory = Trapped([](LineLabel& line) -> std::string { line = 20; throw std::bad_alloc(); },
                             [](const TrappedError& e) { return e.description; });
  EXPECT_EQ(outOfMemory, "Out of memory");
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
