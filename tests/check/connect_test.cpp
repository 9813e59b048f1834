#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "check/run_check.h"
#include "support/databases.h"

namespace vandrel::testing {
namespace {

// Each entity as the updater asks for it: open and rolled back, ACCESS, or the manager's
// failure without the password.
TEST(CheckConnect, EachEntityReported) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  const std::string password = "clave-que-no-vale";
  Installation setup({"CATALOGOS"}, "[INTERNOS]\nTag=POSTGRESQL\nConnection=" + TestServer() +
                                        "\n[NCM]\nTag=POSTGRESQL\nConnection=" + TestServer() +
                                        " user=vandrel_pw password=" + password +
                                        "\n[SYSTABLAS]\nTag=ACCESS\n");
  for (const char* name : {"CATALOGOS_1.sql", "INTERNOS_1.sql", "NCM_1.sql", "SYSTABLAS_1.sql"})
    setup.program.Write(name, "SELECT 1;\r\nGO\r\n");

  const Outcome ran = RunCheck({"--json", "--connect", setup.program.str()}, setup.programFiles.str());
  EXPECT_EQ(2, ran.exit) << ran.out << ran.err;
  EXPECT_EQ("", SecretShown(ran.out + ran.err, {password}));
  std::string statuses;
  const auto doc = nlohmann::json::parse(ran.out);
  for (const auto& c : doc["connections"]) {
    statuses += c["entity"].get<std::string>() + "=" + c["status"].get<std::string>() + " ";
    EXPECT_EQ(c["status"] == "error", c["message"].is_string()) << c.dump();
  }
  EXPECT_EQ("CATALOGOS=ok INTERNOS=ok NCM=error SYSTABLAS=ACCESS ", statuses);
}

// Where the Tag does not name the engine (ODBC), the connection does: what that engine
// refuses inside a transaction is found only once it is known.
TEST(CheckConnect, EngineOfAnOdbcEntityFromItsConnection) {
  if (TestServer().empty()) GTEST_SKIP() << "VANDREL_TEST_PG is not set";
  Installation setup({}, "[INTERNOS]\nTag=ODBC\nConnection=" + OdbcConnectionString("postgres") + "\n");
  setup.program.Write("INTERNOS_1.sql", "SELECT 1;\r\nGO\r\nVACUUM;\r\nGO\r\n");
  const struct {
    std::vector<std::string> args;
    int exit;
    const char* kinds;
  } cases[] = {
      {{"--json", setup.program.str()}, 0, ""},
      {{"--json", "--connect", setup.program.str()}, 1, " 3:not-in-transaction"},
  };
  for (const auto& c : cases) {
    const Outcome ran = RunCheck(c.args, setup.programFiles.str());
    EXPECT_EQ(c.exit, ran.exit) << ran.out << ran.err;
    std::string kinds;
    const auto doc = nlohmann::json::parse(ran.out);
    for (const auto& f : doc["scripts"][0]["findings"])
      kinds += " " + std::to_string(f["line"].get<int>()) + ":" + f["kind"].get<std::string>();
    EXPECT_EQ(c.kinds, kinds) << c.args[1];
  }
}

}  // namespace
}  // namespace vandrel::testing
