#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "check/run_check.h"
#include "support/databases.h"

namespace vandrel::testing {
namespace {

// The outcome of each entity, "CATALOGOS=passed INTERNOS=failed ".
std::string Outcomes(const nlohmann::json& doc) {
  std::string out;
  for (const auto& e : doc["rehearsal"]["entities"])
    out += e["entity"].get<std::string>() + "=" + e["outcome"].get<std::string>() + " ";
  return out;
}

// Whether `path` is a JUnit document that xmllint reads without complaint.
std::string XmlProblem(const std::filesystem::path& path) {
  const std::string command = "xmllint --noout '" + path.string() + "' 2>&1";
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return "cannot start xmllint";
  std::string said;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) said += buf;
  const int status = ::pclose(p);
  return status == 0 ? "" : "xmllint: " + said;
}

const std::string kSchema = "CREATE TABLE IF NOT EXISTS a(x INTEGER);\r\nGO\r\n";

// Each row: the scripts of a folder, rehearsed on SQLite files that must come out byte for
// byte as they went in, with the exit status, each entity's outcome and lines of the output.
TEST(RehearseSqlite, OutcomesStatusAndUntouchedFiles) {
  struct Row {
    const char* name;
    std::map<std::string, std::string> scripts;
    const char* extraIni;  // after the CATALOGOS, INTERNOS and NCM sections
    int exit;
    const char* outcomes;
    std::vector<std::string> lines;  // each found in the human output
    bool foreignKeys = false;        // CATALOGOS asks SQLite to enforce them
  };
  const Row rows[] = {
      {"passes_twice_trigger_end_is_no_commit",
       {{"CATALOGOS_01.sql", kSchema + "CREATE TRIGGER IF NOT EXISTS tr AFTER INSERT ON a BEGIN "
                                       "SELECT 1; END;\r\nGO\r\nINSERT INTO a VALUES (1);\r\n"
                                       "INSERT INTO a VALUES (2);\r\nGO\r\n"},
        {"INTERNOS_01.sql", "SELECT 1;\r\nGO\r\n"}},
       "", 0, "CATALOGOS=passed INTERNOS=passed ", {"  CATALOGOS: superada dos veces (1 script, 3 lotes por ejecución)"}},
      {"second_run_fails",
       {{"CATALOGOS_01.sql", "CREATE TABLE t(x);\r\nGO\r\n"}},
       "", 1, "CATALOGOS=failed ",
       {"falla en la segunda ejecución", "/CATALOGOS_01.sql:1:14: error: table t already exists",
        "    CATALOGOS_01.sql, lote 0, segunda ejecución; la próxima actualización se detendría aquí"}},
      {"failing_statement_in_a_batch_and_a_commit_elsewhere",
       {{"CATALOGOS_01.sql", kSchema + "INSERT INTO a VALUES (1);\r\nINSERT INTO a VALUES (2);\r\n"
                                       "INSERT INTO nope VALUES (3);\r\nGO\r\n"},
        {"INTERNOS_01.sql", kSchema + "INSERT INTO a VALUES (1);\r\nCOMMIT;\r\nGO\r\n"}},
       "", 1, "CATALOGOS=failed INTERNOS=not-proven ",
       {"/CATALOGOS_01.sql:5: error: no such table: nope",
        "    CATALOGOS_01.sql, lote 1, primera ejecución; la actualización real se detendría aquí",
        "  INTERNOS: no probada, ", "/INTERNOS_01.sql:4: error: el lote termina la transacción: el "
                                    "ensayo no puede seguir sin confirmar"}},
      {"rollback_then_a_write_would_commit_it",
       {{"CATALOGOS_01.sql", kSchema + "ROLLBACK;\r\nCREATE TABLE b(x);\r\nGO\r\n"}},
       "", 3, "CATALOGOS=not-proven ", {"/CATALOGOS_01.sql:4: error: el lote termina"}},
      {"entities_on_one_file_share_a_transaction",
       {{"CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS s(x);\r\nGO\r\n"},
        {"INTERNOS_01.sql", "INSERT INTO s VALUES (1);\r\nGO\r\n"}},
       "[INTERNOS]\nTag=SQLITE\nConnection=./sub/../catalogos.db\n", 0,
       "CATALOGOS=passed INTERNOS=passed ", {"  INTERNOS: superada dos veces (1 script, 1 lote por ejecución), "}},
      {"after_a_failure_on_a_shared_file_nothing_more_is_rehearsed",
       {{"CATALOGOS_01.sql", "CREATE TABLE s(x);\r\nGO\r\nSELECT nope;\r\nGO\r\n"},
        {"INTERNOS_01.sql", "INSERT INTO s VALUES (1);\r\nGO\r\n"}},
       "[INTERNOS]\nTag=SQLITE\nConnection=catalogos.db\n", 1, "CATALOGOS=failed INTERNOS=not-rehearsed ",
       {"no ensayada, ", "la entidad CATALOGOS se detuvo antes en la misma base de datos"}},
      {"access_and_a_missing_database",
       {{"CATALOGOS_01.sql", kSchema}, {"INTERNOS_01.sql", kSchema}, {"SYSTABLAS_01.sql", kSchema}},
       "[INTERNOS]\nTag=SQLITE\nConnection=no-such.db\n[SYSTABLAS]\nTag=ACCESS\n", 2,
       "CATALOGOS=passed INTERNOS=not-rehearsed SYSTABLAS=not-proven ",
       {"no-such.db", "la entidad tiene la etiqueta ACCESS"}},
      {"deferred_foreign_key_fails_at_commit",
       {{"CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS p(id INTEGER PRIMARY KEY);\r\n"
                             "CREATE TABLE IF NOT EXISTS c(pid INTEGER REFERENCES p(id) "
                             "DEFERRABLE INITIALLY DEFERRED);\r\nINSERT INTO c VALUES (5);\r\nGO\r\n"}},
       "", 1, "CATALOGOS=failed ",
       {"  CATALOGOS: falla, ", ": falla al confirmar\n", "CATALOGOS: error: FOREIGN KEY constraint failed"},
       true},
      {"access_alone_is_not_proven",
       {{"CATALOGOS_01.sql", kSchema}, {"SYSTABLAS_01.sql", kSchema}}, "[SYSTABLAS]\nTag=ACCESS\n", 3,
       "CATALOGOS=passed SYSTABLAS=not-proven ", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string ini = row.foreignKeys
                          ? "[CATALOGOS]\nTag=SQLITE\nConnection=file:catalogos.db?foreign_keys=on\n"
                          : Installation::SqliteSection("CATALOGOS");
    if (std::string(row.extraIni).find("[INTERNOS]") == std::string::npos)
      ini += Installation::SqliteSection("INTERNOS");
    Installation setup({"CATALOGOS", "INTERNOS"});
    setup.Config(ini + row.extraIni);
    setup.programFiles.Write("Corvessa/sub/keep", "");
    SqliteRow(setup.Db("CATALOGOS"), "CREATE TABLE kept(x); INSERT INTO kept VALUES (7)");
    const std::string before = Slurp(setup.Db("CATALOGOS"));
    for (const auto& [name, text] : row.scripts) setup.program.Write(name, text);

    const auto junit = setup.program.path() / "rehearsal.xml";
    const Outcome human = RunCheck({"--rehearse", setup.program.str()}, setup.programFiles.str());
    const Outcome json = RunCheck({"--rehearse", "--json", "--junit", junit.string(), setup.program.str()},
                                  setup.programFiles.str());
    EXPECT_EQ(row.exit, human.exit) << human.out << human.err;
    EXPECT_EQ(row.exit, json.exit) << json.err;
    for (const std::string& line : row.lines)
      EXPECT_NE(std::string::npos, human.out.find(line)) << line << "\n" << human.out;
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(row.outcomes, Outcomes(doc)) << doc["rehearsal"].dump(1);
    EXPECT_EQ("", XmlProblem(junit));
    EXPECT_EQ(before, Slurp(setup.Db("CATALOGOS"))) << "the database file changed";
    EXPECT_FALSE(std::filesystem::exists(setup.Db("CATALOGOS") + "-journal"));
  }
}

// What the JSON and JUnit documents say of each script: batches run, rows changed by each,
// the failure's batch and run.
TEST(RehearseSqlite, ReportsPerScript) {
  Installation setup({"CATALOGOS"});
  setup.program.Write("CATALOGOS_01.sql", kSchema + "INSERT INTO a VALUES (1), (2);\r\nGO\r\n"
                                                    "DELETE FROM a;\r\nGO\r\n");
  setup.program.Write("CATALOGOS_02.sql", "CREATE TABLE once(x);\r\nGO\r\n");
  const auto junit = setup.program.path() / "r.xml";
  const Outcome ran = RunCheck({"--rehearse", "--json", "--junit", junit.string(), setup.program.str()},
                               setup.programFiles.str());
  ASSERT_EQ(1, ran.exit) << ran.err;
  const auto doc = nlohmann::json::parse(ran.out)["rehearsal"];
  EXPECT_EQ(1, doc["status"]);
  const auto& scripts = doc["entities"][0]["scripts"];
  EXPECT_EQ("passed", scripts[0]["outcome"]);
  for (const auto& run : scripts[0]["runs"]) {
    EXPECT_EQ(3, run["batches_run"]);
    EXPECT_EQ(nlohmann::json::parse("[0, 2, 2]"), run["rows_changed"]) << run.dump();
  }
  EXPECT_EQ("failed", scripts[1]["outcome"]);
  EXPECT_EQ("passed", scripts[1]["runs"][0]["outcome"]);
  EXPECT_EQ("failed", scripts[1]["runs"][1]["outcome"]);
  const auto& stop = doc["entities"][0]["stop"];
  EXPECT_EQ("CATALOGOS_02.sql", stop["script"]);
  EXPECT_EQ(2, stop["run"]);
  EXPECT_EQ(0, stop["batch"]);
  EXPECT_EQ(1, stop["line"]);

  const std::string xml = Slurp(junit);
  EXPECT_EQ("", XmlProblem(junit));
  EXPECT_NE(std::string::npos, xml.find("<testsuite name=\"CATALOGOS\" tests=\"2\" failures=\"1\""))
      << xml;
  EXPECT_NE(std::string::npos, xml.find("<testcase classname=\"CATALOGOS\" name=\"CATALOGOS_01.sql\""));
  EXPECT_NE(std::string::npos, xml.find("type=\"second-run\">")) << xml;
  EXPECT_NE(std::string::npos, xml.find("lote 0, segunda ejecución:\nCREATE TABLE once(x);&#13;\n"))
      << xml;
}

TEST(RehearseSqlite, JunitWithoutRehearsalIsABadArgument) {
  Installation setup({"CATALOGOS"});
  const Outcome ran = RunCheck({"--junit", "x.xml", setup.program.str()}, setup.programFiles.str());
  EXPECT_EQ(64, ran.exit);
}

}  // namespace
}  // namespace vandrel::testing
