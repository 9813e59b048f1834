#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "check/check.h"
#include "check/run_check.h"
#include "platform/automation/object.h"
#include "support/update_run.h"

namespace vandrel::testing {
namespace {

using nlohmann::json;

// Each trap on a real file, one case each; no case has an upper-case GO after a lone LF.
TEST(CheckFindings, EachTrapOnItsLine) {
  static const struct {
    const char* name;
    std::string text;
    const char* found;    // "line:kind ..." in line order
    const char* message;  // part of the first finding's message, or ""
  } cases[] = {
      {"clean", "SELECT 1;\r\nGO\r\n", "", ""},
      {"text_after_last_go", "SELECT 1;\r\nGO\r\n\r\nSELECT 2;\r\n", "4:text-after-last-go", ""},
      {"cr_only_lines_numbered", "SELECT 1;\rGO\rSELECT 2;\r", "3:text-after-last-go", ""},
      {"no_separator", "\r\nSELECT 1;\r\n", "2:no-separator", ""},
      {"go_with_count", "SELECT 1;\r\nGO 5\r\nSELECT 2;\r\nGO\r\n", "2:go-with-text",
       "«5», no es parte del separador: va al principio del lote 1"},
      {"good_cut_after_two_letters", "SELECT 1;\r\ngood\r\nGO\r\nSELECT 2;\r\nGO\r\n",
       "2:go-with-text", "«od»"},
      {"go_rest_lost", "SELECT 1;\r\nGO 5\r\n", "2:go-with-text 2:text-after-last-go",
       "texto tras la última línea GO, que no se ejecuta"},
      {"indented_go", "SELECT 1;\r\n  GO\r\nGO\r\n", "2:go-not-separator", "sangrada"},
      {"first_line_go", "go\r\nSELECT 1;\r\nGO\r\n", "1:go-not-separator", "primera línea"},
      {"too_many_batches", [] { std::string s; for (int i = 0; i < 32768; ++i) s += "SELECT 1;\r\nGO\r\n"; return s; }(),
       "65534:too-many-batches", "32768 lotes"},
      {"copy_from_stdin", "SELECT 1;\r\nCOPY t (a) FROM\r\n  STDIN;\r\nGO\r\n", "2:copy-from-stdin", ""},
      {"client_command", "SELECT 1;\r\n\\i otro.sql\r\nGO\r\n", "2:client-command", ""},
      {"invalid_text", "SELECT 1;\r\nSELECT '\xff';\r\nGO\r\n", "2:invalid-text", "offset 19"},
      {"mixed_line_ends", "SELECT 1;\r\nSELECT 2;\nSELECT 3;\r\nGO\r\n", "2:mixed-line-ends",
       "CR LF: 3, LF: 1, CR: 0"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    folder.Write("CATALOGOS_01.sql", c.text);
    check::FolderEnv env(folder.str());
    const check::ScriptReport r = check::CheckScript(env, {"CATALOGOS_01.sql", "CATALOGOS"});
    std::string found;
    for (const check::Finding& f : r.findings)
      found += (found.empty() ? "" : " ") + std::to_string(f.line) + ":" + f.kind;
    EXPECT_EQ(c.found, found) << c.name;
    if (*c.message != '\0' && !r.findings.empty()) {
      EXPECT_NE(r.findings[0].message.find(c.message), std::string::npos)
          << c.name << ": " << r.findings[0].message;
    }
    EXPECT_EQ(std::string(c.name) == "invalid_text", !r.error.empty()) << c.name << r.error;
  }
}

// A connection that writes down every text the updater hands to Execute.
class RecordingConnection final : public ado::Connection {
 public:
  RecordingConnection(ado::ConnectionPtr real, std::vector<std::string>* sent)
      : real_(std::move(real)), sent_(sent) {}
  int BeginTrans() override { return real_->BeginTrans(); }
  void CommitTrans() override { real_->CommitTrans(); }
  void RollbackTrans() override { real_->RollbackTrans(); }
  void Execute(std::string_view text, int options) override {
    sent_->emplace_back(text);
    real_->Execute(text, options);
  }

 private:
  ado::ConnectionPtr real_;
  std::vector<std::string>* sent_;
};

// The real manager, with the connections it hands out recording.
class RecordingManager final : public automation::Object {
 public:
  RecordingManager(automation::ObjectPtr real, std::vector<std::string>* sent)
      : real_(std::move(real)), sent_(sent) {}
  automation::Variant Invoke(const std::string& name, automation::InvokeKind kind,
                             automation::Args& args) override {
    automation::Variant result = real_->Invoke(name, kind, args);
    if (!result.IsObject() || !result.AsObject()) return result;
    if (auto c = std::dynamic_pointer_cast<ado::Connection>(result.AsObject()))
      return automation::Variant(std::make_shared<RecordingConnection>(c, sent_));
    return automation::Variant(std::make_shared<RecordingManager>(result.AsObject(), sent_));
  }

 private:
  automation::ObjectPtr real_;
  std::vector<std::string>* sent_;
};

// Scripts of valid statements with every line end and every spelling of the separator.
// An upper-case GO after a lone LF comes only inside a block comment, so the run succeeds
// whether or not that line cuts (SQLite takes a comment left open at the end of a text).
std::string GeneratedScript(std::mt19937& rng) {
  static const char* const kLines[] = {"SELECT 1;", "-- nota", "", "SELECT 'go';",
                                       "  SELECT 2;", "/* nota\nGO -- */", "/* nota\r\nGO -- */"};
  static const char* const kEnds[] = {"\r\n", "\r", "\n"};
  static const char* const kSeparators[] = {"GO", "go", "Go -- fin", "gO"};
  std::string text;
  std::string end = "\r\n";
  const int lines = 20 + static_cast<int>(rng() % 60);
  for (int i = 0; i < lines; ++i) {
    if (i > 0 && rng() % 4 == 0)
      text += kSeparators[end == "\n" ? 1 + rng() % 3 : rng() % 4];
    else
      text += kLines[rng() % 7];
    end = kEnds[rng() % 3];
    text += end;
  }
  return text;
}

// Whatever the check shows is what a real run sends, batch for batch and in order.
TEST(CheckJson, BatchesAreWhatTheUpdaterSends) {
  UpdateRun run;
  std::vector<std::string> sent;
  automation::RegisterClass(quillmere::kProgId, [&sent] {
    return std::make_shared<RecordingManager>(quillmere::Create(), &sent);
  });
  std::mt19937 rng(20261208);
  const std::vector<std::string> names = {"CATALOGOS_01.sql", "CATALOGOS_02.sql", "catalogos_10.SQL",
                                          "INTERNOS_a.sql", "INTERNOS_b.sql"};
  for (const std::string& name : names) run.program.Write(name, GeneratedScript(rng));

  const Ran checked = RunCheck("--json '" + run.program.str() + "'");
  ASSERT_TRUE(checked.exit == 0 || checked.exit == 1) << checked.out;
  const json doc = json::parse(checked.out);
  ASSERT_EQ(ExitStatus::Finished, run.Update()) << run.First();
  quillmere::Register();

  std::vector<std::string> shown;
  std::vector<std::string> files;
  for (const json& script : doc["scripts"]) {
    files.push_back(script["file"]);
    for (const json& batch : script["batches"]) shown.push_back(batch["text"]);
  }
  EXPECT_EQ(names, files);
  EXPECT_GT(sent.size(), 20u);
  EXPECT_EQ(sent, shown);
}

// Exit status and the human output's form; the folder is left as it was.
TEST(CheckProgram, ExitStatusAndOutput) {
  TempFolder clean, trap, unreadable;
  clean.Write("CATALOGOS_01.sql", "SELECT 1;\r\nGO\r\n");
  trap.Write("NCM_01.sql", "SELECT 1;\r\nGO\r\nSELECT 2;\r\n");
  unreadable.Write("NCM_01.sql", "SELECT '\xff';\r\nGO\r\n");
  const struct {
    std::string args;
    int exit;
    std::string shown;
  } cases[] = {
      {"'" + clean.str() + "'", 0, "CATALOGOS_01.sql (CATALOGOS): 1 lote\n"},
      {"'" + trap.str() + "/'", 1,
       trap.str() + "/NCM_01.sql:3: warning: texto tras la última línea GO"},
      {"--batches '" + trap.str() + "'", 1, "--- lote 0, línea 1 ---\nSELECT 1;\r\n"},
      {"'" + unreadable.str() + "'", 2, "/NCM_01.sql:1: error: Cannot read"},
      {"'" + clean.str() + "/no-such-folder'", 2, "error: No existe la carpeta"},
      {"--nope 2>&1", 64, "Uso: vandrelsql-check"},
      {"--help", 0, "--connect"},
  };
  for (const auto& c : cases) {
    const Ran ran = RunCheck(c.args);
    EXPECT_EQ(c.exit, ran.exit) << c.args << "\n" << ran.out;
    EXPECT_NE(ran.out.find(c.shown), std::string::npos) << c.args << "\n" << ran.out;
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(trap.path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(std::vector<std::string>{"NCM_01.sql"}, left);
}

}  // namespace
}  // namespace vandrel::testing
