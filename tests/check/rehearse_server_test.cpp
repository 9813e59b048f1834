#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "check/run_check.h"
#include "support/databases.h"

namespace vandrel::testing {
namespace {

// Every driver, two entities on one database: what the rehearsal reports, and that nothing
// it ran is left behind, whatever the scripts do to end the transaction.
TEST(RehearseEveryDriver, NeverCommitsAndSharesOneDatabase) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  enum Engine { kSqlite, kPostgres, kOdbc };
  struct Case {
    const char* name;
    const char* catalogos;
    const char* internos;
    int exit;
    const char* outcomes;
    const char* line;  // found in the human output
  };
  const Case cases[] = {
      {"shared_and_passing", "CREATE TABLE IF NOT EXISTS s(x int);\r\nGO\r\n",
       "INSERT INTO s VALUES (1);\r\nGO\r\n", 0, "CATALOGOS=passed INTERNOS=passed ",
       "  INTERNOS: superada dos veces (1 script, 1 lote por ejecución), "},
      {"commit", "CREATE TABLE c(x int);\r\nINSERT INTO c VALUES (1);\r\nCOMMIT;\r\nGO\r\n",
       "SELECT 1;\r\nGO\r\n", 3, "CATALOGOS=not-proven INTERNOS=not-rehearsed ",
       "/CATALOGOS_01.sql:3: error: el lote termina la transacción"},
      {"second_run_fails", "CREATE TABLE t(x int);\r\nGO\r\n", "SELECT 1;\r\nGO\r\n", 1,
       "CATALOGOS=failed INTERNOS=not-rehearsed ", "falla en la segunda ejecución"},
      {"failing_statement_place", "CREATE TABLE IF NOT EXISTS a(x int);\r\nGO\r\nINSERT INTO a "
                                  "VALUES (1);\r\nINSERT INTO nope VALUES (2);\r\nGO\r\n",
       "SELECT 1;\r\nGO\r\n", 1, "CATALOGOS=failed INTERNOS=not-rehearsed ", "/CATALOGOS_01.sql:"},
  };
  // PostgreSQL's own ways to end a transaction, on the two drivers that reach it.
  const Case postgresOnly[] = {
      {"end", "CREATE TABLE e(x int);\r\nEND;\r\nGO\r\n", "SELECT 1;\r\nGO\r\n", 3,
       "CATALOGOS=not-proven INTERNOS=not-rehearsed ", "/CATALOGOS_01.sql:2: error: el lote"},
      {"prepare_transaction", "CREATE TABLE p(x int);\r\nPREPARE TRANSACTION 'vandrel';\r\nGO\r\n",
       "SELECT 1;\r\nGO\r\n", 3, "CATALOGOS=not-proven INTERNOS=not-rehearsed ", "error: el lote"},
      {"rollback_then_a_write", "CREATE TABLE r(x int);\r\nGO\r\nROLLBACK;\r\nCREATE TABLE w(x int);\r\nGO\r\n",
       "SELECT 1;\r\nGO\r\n", 3, "CATALOGOS=not-proven INTERNOS=not-rehearsed ",
       "/CATALOGOS_01.sql:4: error: el lote"},
      {"deferred_constraint_fails_at_commit",
       "CREATE TABLE IF NOT EXISTS p(id int PRIMARY KEY);\r\nCREATE TABLE IF NOT EXISTS c(pid int "
       "REFERENCES p(id) DEFERRABLE INITIALLY DEFERRED);\r\nINSERT INTO c VALUES (5);\r\nGO\r\n",
       "SELECT 1;\r\nGO\r\n", 1, "CATALOGOS=passed INTERNOS=failed ",
       "falla al confirmar la transacción que comparte con CATALOGOS"},
      {"rollback_alone_goes_on", "CREATE TABLE IF NOT EXISTS r(x int);\r\nROLLBACK;\r\nGO\r\n"
                                 "CREATE TABLE IF NOT EXISTS r2(x int);\r\nGO\r\n",
       "SELECT 1;\r\nGO\r\n", 0, "CATALOGOS=passed INTERNOS=passed ", "  CATALOGOS: superada"},
  };
  for (const Engine engine : {kSqlite, kPostgres, kOdbc}) {
    std::vector<Case> all(std::begin(cases), std::end(cases));
    if (engine != kSqlite) all.insert(all.end(), std::begin(postgresOnly), std::end(postgresOnly));
    for (const Case& c : all) {
      SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(engine));
      Installation setup({"CATALOGOS"});
      PgDatabase db;
      if (engine == kSqlite) {
        setup.Config(Installation::SqliteSection("CATALOGOS") +
                     "[INTERNOS]\nTag=SQLITE\nConnection=catalogos.db\n");
      } else if (engine == kPostgres) {
        // Written differently, the same server and database as libpq reports them.
        setup.Config("[CATALOGOS]\nTag=POSTGRESQL\nConnection=" + db.conninfo() +
                     "\n[INTERNOS]\nTag=POSTGRESQL\nConnection=" + db.conninfo() +
                     " application_name=otra\n");
      } else {
        setup.Config("[CATALOGOS]\nTag=ODBC\nConnection=" + OdbcConnectionString(db.name()) +
                     "\n[INTERNOS]\nTag=ODBC\nConnection=" + OdbcConnectionString(db.name()) + "\n");
      }
      const std::string before = Slurp(setup.Db("CATALOGOS"));
      setup.program.Write("CATALOGOS_01.sql", c.catalogos);
      setup.program.Write("INTERNOS_01.sql", c.internos);

      const Outcome human = RunCheck({"--rehearse", setup.program.str()}, setup.programFiles.str());
      const Outcome json = RunCheck({"--rehearse", "--json", setup.program.str()}, setup.programFiles.str());
      EXPECT_EQ(c.exit, human.exit) << human.out << human.err;
      EXPECT_NE(std::string::npos, human.out.find(c.line)) << human.out;
      std::string outcomes;
      const auto doc = nlohmann::json::parse(json.out);
      for (const auto& e : doc["rehearsal"]["entities"])
        outcomes += e["entity"].get<std::string>() + "=" + e["outcome"].get<std::string>() + " ";
      EXPECT_EQ(c.outcomes, outcomes) << json.out;

      if (engine == kSqlite) {
        EXPECT_EQ(before, Slurp(setup.Db("CATALOGOS")));
      } else {
        EXPECT_EQ(0, db.Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"));
        EXPECT_EQ(0, db.Value("SELECT count(*) FROM pg_prepared_xacts"));
      }
    }
  }
}

}  // namespace
}  // namespace vandrel::testing
