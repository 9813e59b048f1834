// Where a failed batch failed, as the person at the console and vandrelsql-check show it:
// the built programs on every engine, over the forms a script file takes.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/databases.h"
#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

struct Where {
  int line;
  int column;  // 0: only the statement's or the batch's start is known
};

struct Row {
  const char* name;
  const char* ends;  // what each "\n" of `script` becomes
  bool bom;
  std::string script;
  int batch;  // the failing batch's index, and its first and last lines in the file
  int first, last;
  Where sqlite, postgres;  // ODBC tells only the batch: its first line with text
  int odbc;
};

// Each GO spelling after each kind of line end; multi-byte characters before the error;
// an error in the third statement that no engine places; an error at the end of the input.
const Row kRows[] = {
    {"crlf_go_every_spelling", "\r\n", false,
     "CREATE TABLE t1 (a INTEGER PRIMARY KEY, b TEXT NOT NULL);\nGO\ngo\n"
     "INSERT INTO t1 VALUES (1, 'x');\nGo\ngO\nINSERT INTO t1 VALUES (2, 'y');\nSELECT b FORM t1;\nGO\n",
     4, 7, 8, {8, 15}, {8, 15}, 7},
    {"lf_upper_go_multibyte_before", "\n", false,
     "CREATE TABLE t2 (a INTEGER PRIMARY KEY, b TEXT NOT NULL);\nGO\n-- ñandú, café\n"
     "INSERT INTO t2 VALUES (1, 'ñandú');\nINSERT INTO t2 VALUES (2, 'café'), (3, nope);\nGO\n",
     1, 3, 5, {5, 40}, {5, 40}, 3},
    {"cr_third_statement_violates_key", "\r", false,
     "CREATE TABLE t3 (a INTEGER PRIMARY KEY, b TEXT NOT NULL);\ngO\nINSERT INTO t3 VALUES (1, 'a');\n"
     "INSERT INTO t3 VALUES (2, 'b');\n\n  INSERT INTO t3 VALUES (1, 'c');\nGO\n",
     1, 3, 6, {6, 0}, {6, 0}, 3},
    {"bom_crlf_first_line", "\r\n", true, "CREATE TABLE t4 (a INTEGER,, b TEXT);\nGO\n",
     0, 1, 1, {1, 28}, {1, 28}, 1},
    {"lf_lower_go_end_of_input", "\n", false,
     "CREATE TABLE t5 (a INTEGER);\ngo\nINSERT INTO t5 VALUES (1);\nSELECT (1\n\nGO\n",
     1, 3, 5, {4, 0}, {4, 9}, 3},
};

std::string FileText(const Row& row) {
  std::string text = row.bom ? "\xEF\xBB\xBF" : "";
  for (const char c : row.script) text += c == '\n' ? std::string(row.ends) : std::string(1, c);
  return text;
}

// The line the console adds after the report, and the report's first line.
struct Shown {
  std::string placeLine, firstLine, report;
};

Shown Split(const std::string& err) {
  Shown shown;
  const std::string header = "== ¡Atencion! ==\n";
  if (err.rfind(header, 0) != 0 || err.size() < 2 || err.back() != '\n') return shown;
  const auto lastStart = err.rfind('\n', err.size() - 2) + 1;
  shown.placeLine = err.substr(lastStart, err.size() - 1 - lastStart);
  shown.report = err.substr(header.size(), lastStart - header.size());
  const std::string description = shown.report.substr(0, shown.report.find(" Actualización Cancelada."));
  shown.firstLine = description.substr(0, description.find_first_of("\r\n"));
  return shown;
}

TEST(FailurePlace, ConsoleAndCheckShowTheFailingStatementsLineAndColumn) {
  const bool server = !TestServer().empty();
  std::optional<PgDatabase> pg, odbc;
  if (server) {
    pg.emplace();
    odbc.emplace();
  }
  struct Started {
    const Row* row;
    std::string engine;
    Where expected;
    std::unique_ptr<Installation> inst;
    std::unique_ptr<Program> program;
    pid_t pid;
  };
  std::vector<Started> runs;
  for (const Row& row : kRows) {
    std::vector<std::pair<std::string, Where>> engines = {{"SQLITE", row.sqlite}};
    if (server) {
      engines.push_back({"POSTGRESQL", row.postgres});
      engines.push_back({"ODBC", {row.odbc, 0}});
    }
    for (const auto& [engine, expected] : engines) {
      std::string section;
      if (engine == "POSTGRESQL") section = "[CATALOGOS]\nTag=POSTGRESQL\nConnection=" + pg->conninfo() + "\n";
      if (engine == "ODBC") section = "[CATALOGOS]\nTag=ODBC\nConnection=" + OdbcConnectionString(odbc->name()) + "\n";
      auto inst = std::make_unique<Installation>(
          section.empty() ? std::vector<std::string>{"CATALOGOS"} : std::vector<std::string>{}, section);
      inst->program.Write("CATALOGOS_01.sql", FileText(row));
      auto program = std::make_unique<Program>(VANDREL_EXE, inst->program.path());
      // Started together: each waits its two seconds at the same time as the others.
      const pid_t pid = program->Start(inst->programFiles.str());
      runs.push_back({&row, engine, expected, std::move(inst), std::move(program), pid});
    }
  }

  for (Started& run : runs) {
    SCOPED_TRACE(std::string(run.row->name) + " on " + run.engine);
    const Outcome o = run.program->Wait(run.pid);
    EXPECT_EQ(1, o.exit) << o.err;
    const Shown shown = Split(o.err);
    const std::string linea = " - Linea: " + std::to_string(run.row->batch);
    const auto at = shown.report.find(linea);
    EXPECT_TRUE(at != std::string::npos && !std::isdigit(shown.report[at + linea.size()])) << shown.report;
    const std::string path =
        std::filesystem::canonical(run.inst->program.path()).string() + "/CATALOGOS_01.sql";
    std::string place = path + ":" + std::to_string(run.expected.line);
    if (run.expected.column > 0) place += ":" + std::to_string(run.expected.column);
    EXPECT_EQ(place + ": error: " + shown.firstLine, shown.placeLine) << o.err;
  }

  // The check names the lines of the same batch; it reads the SQLite rows' folders.
  for (const Started& run : runs) {
    if (run.engine != "SQLITE") continue;
    SCOPED_TRACE(run.row->name);
    TempFolder bin;
    Program check(VANDREL_CHECK_EXE, bin.path());
    const Outcome checked = check.Wait(check.Start("", 0, {}, {"--json", run.inst->program.str()}));
    const auto doc = nlohmann::json::parse(checked.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << checked.out << checked.err;
    const auto& batch = doc["scripts"][0]["batches"][static_cast<std::size_t>(run.row->batch)];
    EXPECT_EQ(run.row->first, batch["first_line"]) << batch.dump();
    EXPECT_EQ(run.row->last, batch["last_line"]) << batch.dump();
  }
}

}  // namespace
}  // namespace vandrel::testing
