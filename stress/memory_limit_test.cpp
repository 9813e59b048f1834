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

// A batch that cannot be formed is reported with its own number and what of it was formed
// (nothing), never with the batch before it, which would also go to the clipboard.
TEST(MemoryLimitTest, BatchThatCannotBeFormedIsReportedWithItsOwnNumber) {
  const Installation inst({"CATALOGOS"});
  {
    // 400 MiB leave room for the text read (about 1.2 times the file, 250 MiB) but not for
    // one more copy of its second batch (200 MiB).
    std::ofstream out(inst.program.path() / "CATALOGOS_01.sql", std::ios::binary);
    out << "CREATE TABLE a(x INTEGER);\r\nGO\r\n";
    const std::string line = "INSERT INTO a VALUES(2);\r\n" + std::string(998, '-') + "\r\n";
    for (int i = 0; i < 200 * 1024; ++i) out << line;  // about 200 MiB
    out << "GO\r\n";
  }
  Program vandrel(VANDREL_PLAIN_EXE, inst.program.path());
  const Outcome o = vandrel.Run(inst.programFiles.str(), 400 * 1024);
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.exit, 1) << o.err;
  // Nothing follows the number: the text shown (and put on the clipboard) is the batch's.
  const std::string report =
      "== ¡Atencion! ==\nOut of memory Actualización Cancelada. Script: CATALOGOS_01.sql - Linea: 1\n";
  EXPECT_EQ(o.err.substr(0, report.size()), report);
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name = 'a'"), 0);
}

// No room for the signal thread's stack (each thread's stack is as large as the stack
// limit): the program's own one-line message, exit status 1, never an abort.
TEST(MemoryLimitTest, StartUpWithoutMemoryEndsWithOneLine) {
  const Installation inst({"CATALOGOS"});
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE a(x INTEGER);\r\nGO\r\n");
  Program vandrel(VANDREL_PLAIN_EXE, inst.program.path());
  vandrel.stackKiB = 1024 * 1024;
  const Outcome o = vandrel.Run(inst.programFiles.str(), 512 * 1024);
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.err, "vandrelsql: Cannot start the thread that watches for signals: "
                   "Resource temporarily unavailable\n");
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master WHERE name = 'a'"), 0);
}

}  // namespace
}  // namespace vandrel::testing
