#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <functional>
#include <random>

#include "check/check.h"
#include "check/run_check.h"
#include "support/update_run.h"

namespace vandrel::testing {
namespace {

using namespace std::string_literals;

// Each trap on a real file, one case each; no case has an upper-case GO after a lone LF.
TEST(CheckFindings, EachTrapOnItsLine) {
  std::string batches;  // more than the updater runs
  for (int i = 0; i < 32768; ++i) batches += "SELECT 1;\r\nGO\r\n";
  const struct {
    std::string text;
    const char* found;    // " line:kind:severity" for each finding, in line order
    const char* message;  // part of the first finding's message
  } cases[] = {
      {"SELECT 1;\r\nGO\r\n", "", ""},
      {"SELECT 1;\r\nGO\r\n\r\nSELECT 2;\r\n", " 4:text-after-last-go:warning", ""},
      {"SELECT 1;\r\nGO\r\n-- fin\r\n/* nota */\r\n", " 3:text-after-last-go:note",
       "solo comentarios"},
      {"SELECT 1;\rGO\rSELECT 2;\r", " 3:text-after-last-go:warning", ""},
      {"\r\nSELECT 1;\r\n", " 2:no-separator:warning", ""},
      {"SELECT 1;\r\nGO 5\r\nSELECT 2;\r\nGO\r\n", " 2:go-with-text:warning",
       "«5», no es parte del separador: va al principio del lote 1"},
      {"SELECT 1;\r\ngood\r\nGO\r\nSELECT 2;\r\nGO\r\n", " 2:go-with-text:warning", "«od»"},
      {"SELECT 1;\r\nGO 5\r\n", " 2:go-with-text:warning 2:text-after-last-go:warning",
       "texto tras la última línea GO, que no se ejecuta"},
      {"SELECT 1;\r\n  GO\r\nGO\r\n", " 2:go-not-separator:warning", "sangrada"},
      {"go\r\nSELECT 1;\r\nGO\r\n", " 1:go-not-separator:warning", "primera línea"},
      {batches, " 65534:too-many-batches:error", "32768 lotes"},
      {"SELECT 1;\r\nCOPY t (a) FROM\r\n  STDIN;\r\nGO\r\n", " 2:copy-with-client:error", ""},
      {"COPY (SELECT 1) TO STDOUT;\r\nGO\r\n", " 1:copy-with-client:error", ""},
      // Read as the engine reads it: not in a string, a comment or another statement.
      {"SELECT 'COPY t FROM STDIN';\r\n-- COPY t FROM STDIN\r\nSELECT 1 FROM stdin;\r\nGO\r\n", "", ""},
      {"SELECT 1;\r\n\\i otro.sql\r\nGO\r\n", " 2:client-command:error", ""},
      {"SELECT 1;\r\nSELECT '\xff';\r\nGO\r\n", " 2:invalid-text:error", "offset 19"},
      {"\rSELECT 1;\nSELECT '\xff';\r\nGO\r\n", " 3:invalid-text:error", "(line 3)"},
      {"SELECT 1;\r\nGO\r\nSELECT\r\n 'a\0b';\r\nGO\r\n"s, " 4:nul-character:error",
       "el lote 1 fallará: The command text contains a NUL character at offset 13"},
      {"SELECT 1;\r\nGO\r\n'\0'"s, " 3:text-after-last-go:warning", ""},  // never sent
      {"SELECT 1;\r\nSELECT 2;\nSELECT 3;\r\nGO\r\n", " 2:mixed-line-ends:note", "CR LF: 3, LF: 1, CR: 0"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    folder.Write("CATALOGOS_01.sql", c.text);
    check::FolderEnv env(folder.str());
    const check::ScriptReport r = check::CheckScript(env, {"CATALOGOS_01.sql", "CATALOGOS"});
    std::string found;
    for (const check::Finding& f : r.findings)
      found += " " + std::to_string(f.line) + ":" + f.kind + ":" + f.severity;
    EXPECT_EQ(c.found, found) << c.text.substr(0, 50);
    const std::string first = r.findings.empty() ? "" : r.findings[0].message;
    EXPECT_NE(first.find(c.message), std::string::npos) << c.found << ": " << first;
    EXPECT_EQ(found.find("invalid-text") != std::string::npos, !r.error.empty()) << c.found << r.error;
  }
}

// What the engine of the entity's Tag refuses inside the transaction the updater holds,
// read as its drivers read a text; only batches that run count.
TEST(CheckFindings, StatementsThatCannotRunInATransactionByEngine) {
  using check::Engine;
  const struct {
    Engine engine;
    const char* text;
    const char* found;  // " line:kind" for each finding
  } cases[] = {
      {Engine::Postgres, "SELECT 1;\r\nGO\r\nSELECT 2;\r\nvacuum analyze t;\r\nGO\r\n", " 4:not-in-transaction"},
      {Engine::Postgres, "Create Database x;\r\nGO\r\n", " 1:not-in-transaction"},
      {Engine::Postgres, "DROP DATABASE x;\r\nGO\r\n", " 1:not-in-transaction"},
      {Engine::Postgres, "CREATE INDEX CONCURRENTLY i ON t (a);\r\nGO\r\n", " 1:not-in-transaction"},
      {Engine::Postgres, "CREATE UNIQUE INDEX CONCURRENTLY i ON t (a);\r\nGO\r\n", " 1:not-in-transaction"},
      {Engine::Postgres, "ALTER SYSTEM SET work_mem = '8MB';\r\nGO\r\n", " 1:not-in-transaction"},
      {Engine::Postgres, "CREATE TABLESPACE s LOCATION '/x';\r\nDROP TABLESPACE s;\r\nGO\r\n",
       " 1:not-in-transaction 2:not-in-transaction"},
      {Engine::Postgres, "CREATE INDEX i ON t (a);\r\nBEGIN;\r\nGO\r\n", ""},
      {Engine::Postgres,
       "SELECT 'VACUUM';\r\n/* VACUUM; */ SELECT $$ALTER SYSTEM$$;\r\n-- VACUUM\r\nGO\r\n", ""},
      {Engine::Postgres, "SELECT 1;\r\nGO\r\nVACUUM;\r\n", " 3:text-after-last-go"},
      {Engine::Sqlite, "VACUUM;\r\nGO\r\n", " 1:not-in-transaction"},
      {Engine::Sqlite, "SELECT 1;\r\n  begin transaction;\r\nGO\r\n", " 2:not-in-transaction"},
      {Engine::Sqlite, "ALTER SYSTEM SET x = 1;\r\nGO\r\n", ""},
      {Engine::Any, "VACUUM;\r\nBEGIN;\r\nCREATE DATABASE x;\r\nGO\r\n", ""},
      {Engine::Any, "COPY t FROM STDIN;\r\nGO\r\n", " 1:copy-with-client"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    folder.Write("CATALOGOS_01.sql", c.text);
    check::FolderEnv env(folder.str());
    const check::ScriptReport r = check::CheckScript(env, {"CATALOGOS_01.sql", "CATALOGOS"}, c.engine);
    std::string found;
    for (const check::Finding& f : r.findings) found += " " + std::to_string(f.line) + ":" + f.kind;
    EXPECT_EQ(c.found, found) << c.text;
  }
}

// The engine comes from the entity's Tag; anything unreadable holds the scripts to every
// engine's rules.
TEST(CheckFindings, EngineFromTheEntitysTag) {
  struct WithProgramFiles final : platform::EnvWrapper {
    explicit WithProgramFiles(std::string pf) : EnvWrapper(platform::Env::Default()), pf_(std::move(pf)) {}
    std::string Environ(const std::string& name) override {
      return name == "ProgramFiles" ? pf_ : target()->Environ(name);
    }
    std::string pf_;
  };
  quillmere::Register();
  TempFolder pf;
  pf.Write("Corvessa/quillmereconfig.ini",
           "[CATALOGOS]\nTag=SQLITE\nConnection=c.db\n[INTERNOS]\nTag=POSTGRESQL\nConnection=host=x\n"
           "[NCM]\nTag=ODBC\nConnection=DSN=x\n[SYSTABLAS]\nTag=ACCESS\n");
  TempFolder empty;
  const struct {
    const TempFolder* programFiles;
    const char* entity;
    check::Engine engine;
  } cases[] = {
      {&pf, "CATALOGOS", check::Engine::Sqlite},   {&pf, "INTERNOS", check::Engine::Postgres},
      {&pf, "NCM", check::Engine::Any},            {&pf, "SYSTABLAS", check::Engine::Any},
      {&pf, "VENTAS", check::Engine::Any},         {&empty, "CATALOGOS", check::Engine::Any},
  };
  for (const auto& c : cases) {
    WithProgramFiles env(c.programFiles->str());
    EXPECT_EQ(c.engine, check::EngineOf(env, c.entity)) << c.entity;
  }
}

// Files that look like update scripts but that the updater passes by, each with its reason;
// what it runs, and what does not look meant, is not named.
TEST(CheckFindings, FilesThatWillNotRun) {
  TempFolder folder;
  for (const char* name : {"CATALOGOS_01.sql", "catalogos_02.SQL", "VENTAS_01.sql", "CATALOGO_11.sql",
                           "catalogos-10.sql", "CATALOGOS_01.sql.bak", "CATALOGOS_01.SQL~",
                           ".NCM_01.sql", "notas.txt"})
    folder.Write(name, "SELECT 1;\r\nGO\r\n");
  std::filesystem::create_directory(folder.path() / "INTERNOS_viejos");
  check::FolderEnv env(folder.str());
  const std::vector<check::Discovered> scripts = check::DiscoverScripts(env);
  std::string found;
  for (const check::NotRun& n : check::FilesNotRun(env, scripts)) {
    EXPECT_EQ(folder.str() + "/" + n.file, n.path);
    EXPECT_EQ("warning", n.finding.severity);
    EXPECT_EQ(0u, n.finding.message.find("no se ejecutará: ")) << n.finding.message;
    const std::string& m = n.finding.message;
    found += " " + n.file + (m.find("«.sql»") != std::string::npos   ? ":suffix"
                             : m.find("ocultos") != std::string::npos ? ":hidden"
                             : m.find("entidad") != std::string::npos ? ":prefix"
                                                                      : ":other");
  }
  EXPECT_EQ(" .NCM_01.sql:hidden catalogos-10.sql:prefix CATALOGOS_01.sql.bak:suffix "
            "CATALOGOS_01.SQL~:suffix CATALOGO_11.sql:prefix VENTAS_01.sql:prefix",
            found);
  // One file asked for by name is judged whatever its name.
  const auto one = check::FilesNotRun(env, scripts, "notas.txt");
  ASSERT_EQ(1u, one.size());
  EXPECT_NE(std::string::npos, one[0].finding.message.find("«.sql»"));
  EXPECT_TRUE(check::FilesNotRun(env, scripts, "CATALOGOS_01.sql").empty());
}

// The real manager and what it hands out, with every text a connection is to run written
// down before it runs.
struct Recording final : ado::Connection {
  Recording(automation::ObjectPtr r, std::vector<std::string>* s) : real(std::move(r)), sent(s) {}
  automation::Variant Invoke(const std::string& name, automation::InvokeKind kind, automation::Args& args) override {
    automation::Variant result = real->Invoke(name, kind, args);
    if (!result.IsObject()) return result;
    return std::make_shared<Recording>(result.AsObject(), sent);
  }
  ado::Connection& Real() { return dynamic_cast<ado::Connection&>(*real); }
  int BeginTrans() override { return Real().BeginTrans(); }
  void CommitTrans() override { Real().CommitTrans(); }
  void RollbackTrans() override { Real().RollbackTrans(); }
  void Execute(std::string_view text, int options, std::int64_t batch) override {
    sent->emplace_back(text);
    Real().Execute(text, options, batch);
  }
  void Drain() override { Real().Drain(); }
  const automation::ObjectPtr real;
  std::vector<std::string>* const sent;
};

// Valid statements with every line end and every spelling of the separator. An upper-case
// GO after a lone LF comes only inside a block comment, so the run succeeds whether or not
// that line cuts (SQLite takes a comment left open at the end of a text).
std::string GeneratedScript(std::mt19937& rng) {
  static const char* const kLines[] = {"SELECT 1;", "-- nota", "", "SELECT 'go';",
                                       "  SELECT 2;", "/* nota\nGO -- */", "/* nota\r\nGO -- */"};
  static const char* const kEnds[] = {"\r\n", "\r", "\n"};
  static const char* const kSeparators[] = {"GO", "go", "Go -- fin", "gO"};
  std::string text, end = "\r\n";
  for (int i = 0, lines = 20 + static_cast<int>(rng() % 60); i < lines; ++i) {
    const bool cut = i > 0 && rng() % 4 == 0;
    text += cut ? kSeparators[end == "\n" ? 1 + rng() % 3 : rng() % 4] : kLines[rng() % 7];
    text += end = kEnds[rng() % 3];
  }
  return text;
}

// Whatever the check shows is what a real run sends, batch for batch and in order.
TEST(CheckJson, BatchesAreWhatTheUpdaterSends) {
  UpdateRun run;
  std::vector<std::string> sent, shown, files;
  automation::RegisterClass(quillmere::kProgId, [&sent] {
    return std::make_shared<Recording>(quillmere::Create(), &sent);
  });
  std::mt19937 rng(20261208);
  const std::vector<std::string> names = {"CATALOGOS_01.sql", "CATALOGOS_02.sql", "catalogos_10.SQL",
                                          "INTERNOS_a.sql", "INTERNOS_b.sql"};
  for (const std::string& name : names) run.program.Write(name, GeneratedScript(rng));

  const Outcome checked = RunCheck({"--json", run.program.str()});
  ASSERT_TRUE(checked.exit == 0 || checked.exit == 1) << checked.out << checked.err;
  ASSERT_EQ(ExitStatus::Finished, run.Update()) << run.First();
  quillmere::Register();
  const auto doc = nlohmann::json::parse(checked.out);
  for (const auto& script : doc["scripts"]) {
    files.push_back(script["file"]);
    for (const auto& batch : script["batches"]) shown.push_back(batch["text"]);
  }
  EXPECT_EQ(names, files);
  EXPECT_GT(sent.size(), 20u);
  EXPECT_EQ(sent, shown);
}

// What the check calls an error is what the run stops on, in the same words: both find,
// read and refuse through the same code.
TEST(CheckAndRun, SameVerdictInTheSameWords) {
  const struct {
    const char* name;
    std::function<void(const TempFolder&)> lay;
    int checkExit;
  } rows[] = {
      {"nul_in_second_batch",
       [](const TempFolder& f) {
         f.Write("CATALOGOS_01.sql", "CREATE TABLE a(x);\r\nGO\r\nINSERT INTO a VALUES('\0');\r\nGO\r\n"s);
       },
       1},
      {"invalid_byte", [](const TempFolder& f) { f.Write("CATALOGOS_01.sql", "SELECT '\xff';\r\nGO\r\n"); }, 2},
      {"named_pipe",
       [](const TempFolder& f) {
         f.Write("CATALOGOS_01.sql", "CREATE TABLE a(x);\r\nGO\r\n");
         ASSERT_EQ(mkfifo((f.path() / "INTERNOS_01.sql").c_str(), 0600), 0);
       },
       2},
      {"link_loop", [](const TempFolder& f) { std::filesystem::create_symlink("NCM_01.sql", f.path() / "NCM_01.sql"); }, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    UpdateRun run;
    row.lay(run.program);
    const Outcome checked = RunCheck({"--json", run.program.str()});
    EXPECT_EQ(checked.exit, row.checkExit) << checked.out << checked.err;
    const auto doc = nlohmann::json::parse(checked.out);
    std::string said = doc["error"].is_string() ? doc["error"].get<std::string>() : "";
    for (const auto& script : doc["scripts"]) {
      if (script["error"].is_string()) said = script["error"];
      for (const auto& f : script["findings"])
        if (f["kind"] == "nul-character") said = f["message"].get<std::string>().substr(f["message"].get<std::string>().find(": ") + 2);
    }
    ASSERT_FALSE(said.empty()) << checked.out;
    EXPECT_EQ(run.Update(), ExitStatus::Failed);
    EXPECT_EQ(run.First().substr(0, said.size()), said);
    EXPECT_EQ(run.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0);
  }
}

// Exit status and the human output's form; the folder is left as it was.
TEST(CheckProgram, ExitStatusAndOutput) {
  TempFolder clean, trap, unreadable, notes, stray, backslash;
  clean.Write("CATALOGOS_01.sql", "SELECT 1;\r\nGO\r\n");
  notes.Write("CATALOGOS_01.sql", "SELECT 1;\r\nGO\r\n-- fin\r\n");
  stray.Write("CATALOGOS_01.sql.bak", "SELECT 1;\r\n");
  trap.Write("NCM_01.sql", "SELECT 1;\r\nGO\r\nSELECT 2;\r\n");
  unreadable.Write("NCM_01.sql", "SELECT '\xff';\r\nGO\r\n");
  unreadable.Write("NCM_02.sql", "SELECT 1;\r\nSELECT '\0';\r\nGO\r\n"s);
  const std::string mine = backslash.Write("mis\\programas/INTERNOS_01.sql", "SELECT 1;\r\nGO\r\n").parent_path();
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string shown;  // in stdout; the usage in stderr
  } cases[] = {
      {{clean.str()}, 0, "CATALOGOS_01.sql (CATALOGOS): 1 lote\n"},
      {{trap.str() + "/"}, 1, trap.str() + "/NCM_01.sql:3: warning: texto tras la última línea GO"},
      {{"--batches", trap.str()}, 1, "--- lote 0, línea 1 ---\nSELECT 1;\r\n"},
      {{unreadable.str()}, 2, "/NCM_01.sql:1: error: Cannot read"},
      {{unreadable.str()}, 2, "/NCM_02.sql:2: error: el lote 0 fallará: The command text contains a NUL"},
      {{mine}, 0, "INTERNOS_01.sql (INTERNOS): 1 lote\n"},
      {{clean.str() + "/no-such-folder"}, 2, "error: No existe la carpeta"},
      {{clean.str() + "/CATALOGOS_01.sql"}, 0, "CATALOGOS_01.sql (CATALOGOS): 1 lote\n1 script"},
      {{trap.str() + "/NCM_01.sql"}, 1, "NCM_01.sql:3: warning: texto tras la última"},
      {{notes.str()}, 0, "CATALOGOS_01.sql:3: note: texto tras la última línea GO"},
      {{stray.str()}, 1, "CATALOGOS_01.sql.bak: warning: no se ejecutará"},
      {{"--json", stray.str() + "/CATALOGOS_01.sql.bak"}, 1, "\"kind\": \"will-not-run\""},
      {{"--nope"}, 64, "Uso: vandrelsql-check"},
      {{"--help"}, 0, "--connect"},
  };
  for (const auto& c : cases) {
    const Outcome ran = RunCheck(c.args);
    EXPECT_EQ(c.exit, ran.exit) << c.args[0] << "\n" << ran.out << ran.err;
    EXPECT_NE((c.exit == 64 ? ran.err : ran.out).find(c.shown), std::string::npos) << c.args[0] << "\n" << ran.out << ran.err;
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(trap.path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(std::vector<std::string>{"NCM_01.sql"}, left);
}

}  // namespace
}  // namespace vandrel::testing
