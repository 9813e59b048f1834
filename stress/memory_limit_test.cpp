// Under an address-space limit (ulimit -v) below what a script needs, the program reports it
// and exits 1 instead of crashing. It runs the build without sanitizers: they reserve far more.
#include <gtest/gtest.h>

#include <fstream>

#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

TEST(MemoryLimitTest, ScriptLargerThanTheMemoryIsReported) {
  const Installation inst({"CATALOGOS"});
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  {
    std::ofstream out(inst.program.path() / "CATALOGOS_02.sql", std::ios::binary);
    const std::string line = "INSERT INTO a VALUES(1);\r\n" + std::string(998, '-') + "\r\n";
    for (int i = 0; i < 400 * 1024; ++i) out << line;  // about 400 MiB
    out << "GO\r\n";
  }
  Program vandrel(VANDREL_PLAIN_EXE, inst.program.path());
  const Outcome o = vandrel.Run(inst.programFiles.str(), 256 * 1024);
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.exit, 1) << o.err;
  EXPECT_EQ(o.err.rfind("== ¡Atencion! ==\nOut of memory Actualización Cancelada. Script: CATALOGOS_02.sql - Linea: 0", 0), 0u)
      << o.err.substr(0, 1000);
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name = 'a'"), 0);
}

}  // namespace
}  // namespace vandrel::testing
