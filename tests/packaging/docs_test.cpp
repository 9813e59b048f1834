// The exit statuses a person reads are the same wherever they read them: the manual page,
// --help and the user guide, for each program.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// Status ("0", "64", "128+n") to the words that follow it.
using Statuses = std::map<std::string, std::string>;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

// "128 + N" and "128 + n" are one status.
std::string Status(const std::smatch& m) {
  return m[2].matched ? m[1].str() + "+n" : m[1].str();
}

const std::regex kLead(R"(^\s*(\d+)(\s*\+\s*[Nn])?\b\s*(.*))");

// "0 this; 1 that (or so); 64 ..." after `heading`, up to a blank line or the end.
Statuses FromSentence(const std::string& text, const std::string& heading) {
  Statuses found;
  const std::size_t at = text.find(heading);
  if (at == std::string::npos) return found;
  std::string sentence = text.substr(at + heading.size());
  sentence = sentence.substr(0, sentence.find("\n\n"));
  std::replace(sentence.begin(), sentence.end(), '\n', ' ');
  std::stringstream items(sentence);
  for (std::string item; std::getline(items, item, ';');) {
    std::smatch m;
    if (std::regex_search(item, m, kLead)) found[Status(m)] = m[3].str();
  }
  return found;
}

// The `.TP`/`.B STATUS` entries of a manual page's EXIT STATUS section.
Statuses FromManPage(const std::string& page) {
  Statuses found;
  const std::size_t at = page.find(".SH \"EXIT STATUS\"");
  if (at == std::string::npos) return found;
  std::stringstream lines(page.substr(at + 1, page.find("\n.SH", at + 1) - at));
  std::string status;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (line.rfind(".B ", 0) == 0 && status.empty()) {
      const std::string rest = line.substr(3);
      if (std::regex_search(rest, m, kLead) && m[3].str().empty()) status = Status(m);
    } else if (line == ".TP") {
      status.clear();
    } else if (!status.empty()) {
      found[status] += line + " ";
    }
  }
  return found;
}

// The rows of the Markdown table under `heading`.
Statuses FromTable(const std::string& text, const std::string& heading) {
  Statuses found;
  const std::size_t at = text.find(heading);
  if (at == std::string::npos) return found;
  std::stringstream lines(text.substr(at));
  std::string line;
  std::getline(lines, line);  // the heading
  static const std::regex row(R"(^\| *(\d+)( *\+ *[Nn])? *\| *(.*)\|$)");
  while (std::getline(lines, line) && line.rfind("## ", 0) != 0) {
    std::smatch m;
    if (std::regex_match(line, m, row)) found[Status(m)] = m[3].str();
  }
  return found;
}

std::string Keys(const Statuses& s) {
  std::string keys;
  for (const auto& [status, words] : s) keys += status + " ";
  return keys;
}

TEST(Docs, ExitStatusesAgreeInManualHelpAndGuide) {
  const std::string guide = Read(VANDREL_DOCS "/usage.md");
  const std::string check_guide = guide.substr(guide.find("## Checking scripts"));
  static const struct {
    const char* program;
    Statuses manual, help, usage;
    const char* access;  // the status an entity tagged ACCESS gives
  } cases[] = {
      {"vandrelsql", FromManPage(Read(VANDREL_DOCS "/man/vandrelsql.1")),
       FromSentence(Output(VANDREL_PROGRAM " --help"), "Estado de salida:"),
       FromTable(guide, "## Exit status"), "3"},
      {"vandrelsql-check", FromManPage(Read(VANDREL_DOCS "/man/vandrelsql-check.1")),
       FromSentence(Output(VANDREL_CHECK " --help"), "Estado de salida:"),
       FromSentence(check_guide, "Exit status:"), "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    EXPECT_NE("", Keys(c.manual));
    EXPECT_EQ(Keys(c.manual), Keys(c.help)) << "manual page and --help";
    EXPECT_EQ(Keys(c.manual), Keys(c.usage)) << "manual page and docs/usage.md";
    for (const Statuses* s : {&c.manual, &c.help, &c.usage}) {
      const auto access = s->find(c.access);
      ASSERT_NE(s->end(), access);
      EXPECT_NE(std::string::npos, access->second.find("ACCESS")) << access->second;
    }
  }
}

}  // namespace
