// Random scripts run twice on the PostgreSQL test server, pipelined and not: the server's
// log of the statements it executed, the committed state, the report, the status lines and
// the exit status must be the same.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "support/databases.h"
#include "support/update_run.h"

namespace vandrel::testing {
namespace {

// One batch of a random script: what it is and whether it fails.
struct Batch {
  std::string text;
  bool fails = false;
};

// Kinds of batches a script holds: single statements of several sorts (which are
// pipelined), and batches that must run alone.
Batch RandomBatch(std::mt19937& random, int& key, bool failing) {
  const int k = ++key;
  const std::string row = "(" + std::to_string(k) + ", 'v" + std::to_string(k) + "')";
  if (failing) {
    switch (random() % 6) {
      case 0: return {"INSERT INTO t VALUES (1, 'again');", true};  // key 1 is always there
      case 1: return {"INSERT INTO t VALUES (" + std::to_string(k) + ",, 'x');", true};
      case 2: return {"SELECT 'ñandú', nope FROM t;", true};
      case 3: return {"-- divide\r\nUPDATE t SET b = (a / 0)::text;", true};
      case 4: return {"DO $$BEGIN RAISE EXCEPTION 'falla %', 'aquí'; END$$;", true};
      default: return {"INSERT INTO t VALUES " + row + ";\r\nINSERT INTO t VALUES (1, 'x');", true};
    }
  }
  switch (random() % 10) {
    case 0: return {"INSERT INTO t VALUES " + row + ";\r\nUPDATE t SET b = b || '+' WHERE a = 1;"};
    case 1: return {"/* note */ UPDATE t SET b = b || 'u' WHERE a % 3 = 0"};
    case 2: return {"SELECT a, b FROM t ORDER BY a;"};
    case 3: return {"DO $$BEGIN INSERT INTO t VALUES (" + std::to_string(k) + ", 'do'); END$$;"};
    case 4: return {"SET search_path = public;"};
    case 5: return {random() % 3 == 0 ? "COMMIT;" : "SAVEPOINT s; RELEASE s;"};
    case 6: return {"-- comment only\r\n"};
    default: return {"INSERT INTO t VALUES " + row + ";"};
  }
}

struct Outcome {
  ExitStatus status;
  std::vector<std::string> executed;  // the texts the server executed, in order
  std::vector<std::string> boxes;     // each report with its place
  std::vector<std::string> events;    // the status lines
  std::vector<std::string> clipboard;
  std::string committed;
  int extended = 0;  // executions through the extended protocol (pipelined)
};

// The server's log, where it writes it (scripts/pg-test-server), from byte `from` on.
std::string ServerLog(const std::string& dataDirectory, std::streamoff from) {
  std::ifstream in(dataDirectory + "/../server.log", std::ios::binary);
  in.seekg(from);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::streamoff LogSize(const std::string& dataDirectory) {
  std::ifstream in(dataDirectory + "/../server.log", std::ios::binary | std::ios::ate);
  return in ? static_cast<std::streamoff>(in.tellg()) : -1;
}

// Each completed statement's text from lines "... LOG:  duration: N ms  statement: TEXT"
// (simple protocol) or "... execute <unnamed>: TEXT" (extended); a text may span lines.
void Executed(const std::string& log, Outcome& run) {
  static const std::regex entry(R"((?:^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d[^\n]*? LOG:  duration: [0-9.]+ ms  (statement|execute <unnamed>): )");
  std::vector<std::pair<std::size_t, std::size_t>> starts;  // where each text begins, and its entry
  std::vector<bool> extended;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), entry); it != std::sregex_iterator(); ++it) {
    starts.push_back({static_cast<std::size_t>(it->position() + it->length()),
                      static_cast<std::size_t>(it->position())});
    extended.push_back((*it)[1] != "statement");
  }
  static const std::regex anyEntry(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::smatch next;
    const auto from = log.begin() + static_cast<std::ptrdiff_t>(starts[i].first);
    const std::size_t end = std::regex_search(from, log.end(), next, anyEntry)
                                ? starts[i].first + static_cast<std::size_t>(next.position())
                                : log.size();
    std::string text = log.substr(starts[i].first, end - starts[i].first);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    run.executed.push_back(text);
    run.extended += extended[i];
  }
}

Outcome RunScripts(const std::vector<std::string>& scripts, bool pipelined) {
  PgDatabase db;
  const std::string dataDirectory = PgRow(db.conninfo(), "SHOW data_directory").at(0);
  db.Value("ALTER DATABASE " + db.name() + " SET log_min_duration_statement = 0");
  db.Value("CREATE TABLE t (a integer PRIMARY KEY, b text); INSERT INTO t VALUES (1, 'uno')");
  UpdateRun update;
  update.Config("[INTERNOS]\nTag=POSTGRESQL\nConnection=" + db.conninfo() + "\n" +
                (pipelined ? "" : "Pipeline=no\n"));
  for (std::size_t i = 0; i < scripts.size(); ++i)
    update.program.Write("INTERNOS_0" + std::to_string(i + 1) + ".sql", scripts[i]);
  const std::streamoff before = LogSize(dataDirectory);
  EXPECT_GE(before, 0) << "no server log beside " << dataDirectory;
  Outcome run;
  run.status = update.Update();
  Executed(ServerLog(dataDirectory, before), run);
  for (const Box& b : update.desktop.boxes) {
    std::string place = b.place;  // the folder is each run's own
    if (place.starts_with(update.program.str())) place.erase(0, update.program.str().size());
    run.boxes.push_back(b.title + ": " + b.prompt + " @ " + place);
  }
  run.events = update.window.events;
  run.clipboard = update.desktop.clipboard_ops;
  run.committed = PgRow(db.conninfo(), "SELECT coalesce(string_agg(a || '=' || b, ' ' ORDER BY a), '') FROM t").at(0);
  return run;
}

TEST(PipelineTest, PipelinedRunsExecuteCommitAndReportWhatUnpipelinedRunsDo) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  std::mt19937 random(20261208);
  int pipelinedSomewhere = 0;
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int key = 1;
    std::vector<std::string> scripts(1 + random() % 3);
    const bool failing = round % 4 != 0;
    const std::size_t failingScript = random() % scripts.size();
    for (std::size_t s = 0; s < scripts.size(); ++s) {
      const std::size_t n = 1 + random() % 40;
      const std::size_t failingBatch = random() % n;
      for (std::size_t i = 0; i < n; ++i) {
        const bool fails = failing && s == failingScript && i == failingBatch;
        scripts[s] += RandomBatch(random, key, fails).text;
        scripts[s] += random() % 2 ? "\r\nGO\r\n" : "\ngo\n";
      }
    }
    const Outcome pipelined = RunScripts(scripts, true);
    const Outcome unpipelined = RunScripts(scripts, false);
    EXPECT_EQ(pipelined.status, unpipelined.status);
    EXPECT_EQ(pipelined.status, failing ? ExitStatus::Failed : ExitStatus::Finished);
    EXPECT_EQ(pipelined.executed, unpipelined.executed);
    EXPECT_EQ(pipelined.committed, unpipelined.committed);
    EXPECT_EQ(pipelined.boxes, unpipelined.boxes);
    EXPECT_EQ(pipelined.events, unpipelined.events);
    EXPECT_EQ(pipelined.clipboard, unpipelined.clipboard);
    EXPECT_EQ(unpipelined.extended, 0);
    EXPECT_FALSE(unpipelined.executed.empty());
    pipelinedSomewhere += pipelined.extended > 0;
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(pipelinedSomewhere, 8) << "the pipeline was hardly used";
}

}  // namespace
}  // namespace vandrel::testing
