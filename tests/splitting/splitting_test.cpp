#include <gtest/gtest.h>

#include <clocale>
#include <random>

#include "execution/script_batches.h"
#include "platform/text_file.h"
#include "splitting/reference_split.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

using Pieces = std::vector<std::string>;
const TempFolder folder;
const std::string kScript = (folder.path() / "script.sql").string();

// `bytes` written to a file and read back as a script run reads it.
std::string Read(const std::string& bytes) {
  folder.Write("script.sql", bytes);
  std::string text;
  auto file = platform::OpenTextFile(kScript);
  file->ReadAllLines(text);
  file->Close();
  return text;
}

Pieces Cut(std::string_view text) {
  const auto pieces = CortarLotes(text);
  return {pieces.begin(), pieces.end()};
}

// LC_CTYPE for a scope; `ok` says whether the locale exists.
struct CtypeLocale {
  explicit CtypeLocale(const char* name) : ok(std::setlocale(LC_CTYPE, name) != nullptr) {}
  ~CtypeLocale() { std::setlocale(LC_CTYPE, saved.c_str()); }
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  const bool ok;
};

std::string NotValid(std::size_t offset, int line, const std::string& codeset, const char* from) {
  return "Cannot read " + kScript + ": the byte at offset " + std::to_string(offset) + " (line " +
         std::to_string(line) + ") is not valid " + codeset + " text; convert the file to " +
         codeset + ", e.g. with iconv -f " + from + " -t " + codeset;
}

// Files as written on disk, cut the way a script run cuts them: the rules by example, and
// what lies outside the differential tests' alphabet (a byte-order mark).
TEST(SplittingTest, EdgeCasesThroughRealFiles) {
  const std::tuple<const char*, std::string, Pieces> rows[] = {
      {"mixed_case_leaves_stray_cr", "A\r\ngo\r\nB\r\nGo\r\n", {"A\r", "\r\nB\r", "\r\n"}},
      {"first_line_is_not_a_separator", "GO\r\nA\r\nGO\r\n", {"GO\r\nA", "\r\n"}},
      {"goto_cut_after_two_letters", "A\r\nGOTO x\r\nB\r\nGO\r\n", {"A", "TO x\r\nB", "\r\n"}},
      {"indented", "A\r\n  GO\r\nB\r\nGO\r\n", {"A\r\n  GO\r\nB", "\r\n"}},
      {"two_in_a_row", "A\r\nGO\r\nGO\r\nB\r\nGO\r\n", {"A", "", "\r\nB", "\r\n"}},
      {"lf_only_mixed_case", "A\nGO\nB\ngO\nC\nGo 2\n", {"A", "\nB", "\nC", " 2\n\r\n"}},
      {"lone_lf_in_crlf_file", "A\r\nB\nGO\r\nC\r\nGO\r\n", {"A\r\nB", "\r\nC", "\r\n"}},
      {"bom_only", "\xEF\xBB\xBF", {}},
      {"bom_later_is_text", "A\r\n\xEF\xBB\xBF\r\n", {"A\r\n\xEF\xBB\xBF\r\n"}},
      {"bom_then_first_line_go", "\xEF\xBB\xBFGO\r\nA\r\nGO\r\n", {"GO\r\nA", "\r\n"}},
  };
  for (const auto& [name, file, pieces] : rows) {
    std::string text = Read(file);
    NormalizarSeparadores(text);
    EXPECT_EQ(Cut(text), pieces) << name;
  }
}

// Random texts over the letters that matter, against the literal nine passes and split;
// the split on its own takes any text, not only normalised ones.
TEST(SplittingTest, NormaliseAndCutMatchTheLiteralPasses) {
  static constexpr char kAlphabet[] = {'A', 'g', 'G', 'o', 'O', '\r', '\n', ' '};
  std::mt19937 random(20240611);
  for (int round = 0; round < 200000; ++round) {
    std::string text(random() % 161, ' ');  // several 64-byte strides
    for (char& c : text) c = kAlphabet[random() % 8];
    std::string normalised = text;
    NormalizarSeparadores(normalised);
    ASSERT_EQ(normalised, ReferenceNormalise(text)) << "round " << round;
    ASSERT_EQ(Cut(text), ReferenceSplit(text)) << "round " << round;
    ASSERT_EQ(Cut(normalised), ReferenceSplit(normalised)) << "round " << round;
  }
}

// The reader against the literal line rule, with line ends and multibyte characters on the
// boundaries of the blocks it reads in.
TEST(SplittingTest, ReadingMatchesTheLiteralLineRule) {
  static const std::string kPieces[] = {"A", "g", "O", "\r", "\n", " ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"};
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    for (int i = 0; i < round % 60; ++i) bytes += kPieces[random() % 9];
    ASSERT_EQ(Read(bytes), ReferenceLines(bytes)) << "round " << round;
  }
  // Whatever power of two the reader's blocks are, something straddles each boundary.
  for (const std::string straddler : {"\r", "\r\n", "\n\r", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"}) {
    for (std::size_t before = 1; before <= straddler.size(); ++before) {
      std::string bytes(std::size_t{1} << 21, 'x');
      for (std::size_t boundary = 1 << 10; boundary < bytes.size(); boundary <<= 1)
        bytes.replace(boundary - before, straddler.size(), straddler);
      ASSERT_EQ(Read(bytes), ReferenceLines(bytes)) << ::testing::PrintToString(straddler) << " from " << before;
    }
  }
}

// Random files, one '#' in each: its place in the text as read and normalised is where an
// editor shows it in the file, whatever the line ends, GO lines, BOM and multi-byte text.
TEST(SplittingTest, PlacesInTheNormalisedTextAreTheFilesLinesAndColumns) {
  static const std::vector<std::string> kAlphabet = {"A", "g", "G", "o", "O", "\r", "\n", " ", "é", "\r\n"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 1000; ++round) {
    std::vector<std::string> parts(random() % 40);
    for (std::string& part : parts) part = kAlphabet[random() % kAlphabet.size()];
    parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(random() % (parts.size() + 1)), "#");
    std::string file = random() % 4 == 0 ? "\xEF\xBB\xBF" : "";
    platform::TextPlace expected;  // counted the plain way: a line end is CR LF, CR or LF
    bool found = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      file += parts[i];
      if (parts[i] == "#") found = true;
      if (found) continue;
      const bool crThenLf = parts[i] == "\r" && i + 1 < parts.size() && parts[i + 1].front() == '\n';
      if (parts[i] == "\r\n" || parts[i] == "\n" || (parts[i] == "\r" && !crThenLf)) {
        ++expected.line;
        expected.column = 1;
      } else if (!crThenLf) {
        ++expected.column;
      }
    }
    std::string text = Read(file);
    NormalizarSeparadores(text);
    platform::ReadTextPlaces places(text);
    const auto at = text.find('#');
    ASSERT_NE(std::string::npos, at);
    ASSERT_EQ(expected, places.At(at)) << "round " << round;
  }
}

TEST(SplittingTest, InvalidUtf8NamesFileAndOffset) {
  const std::string far(300000, 'a');
  const std::tuple<std::string, std::size_t, int> rows[] = {
      {"A\r\nB\xC3(", 4, 2},            // a lead byte without its continuation
      {"AB\xE2\x82", 2, 1},             // a sequence cut off by the end of the file
      {"\xC0\x80", 0, 1},               // overlong
      {"xy\xED\xA0\x80", 2, 1},         // surrogate
      {"\xF4\x90\x80\x80", 0, 1},       // beyond U+10FFFF
      {"z\x80", 1, 1},                  // continuation byte alone
      {far + "\xFF" + far, 300000, 1},  // far into the file
      {"a\nb\rc\r\n\n" + far + "\n\xE9", 300009, 6},  // lines as an editor counts them
      {"\xEF\xBB\xBF\xFF", 3, 1},       // after a byte-order mark
  };
  for (const char* locale : {"C", "C.UTF-8"}) {
    CtypeLocale ctype(locale);
    ASSERT_TRUE(ctype.ok) << locale;
    for (const auto& [bytes, offset, line] : rows)
      EXPECT_EQ(ErrorOf([&] { Read(bytes); }), NotValid(offset, line, "UTF-8", "WINDOWS-1252")) << locale;
  }
}

// The single-byte code page of the Windows program, as a locale made by scripts/setup.
TEST(SplittingTest, SingleByteLocaleIsConverted) {
  CtypeLocale ctype("es_ES.CP1252");
  if (!ctype.ok) GTEST_SKIP() << "locale es_ES.CP1252 missing: run scripts/setup";
  EXPECT_EQ(Read("caf\xE9\r\ngo \x80\rx"), "caf\xC3\xA9\r\ngo \xE2\x82\xAC\r\nx\r\n");
  EXPECT_EQ(ErrorOf([] { Read("AB\r\n\x81"); }), NotValid(4, 2, "CP1252", "UTF-8"));
  // Only a file read as UTF-8 has a byte-order mark; here those bytes are characters.
  EXPECT_EQ(Read("\xEF\xBB\xBFx"), "\xC3\xAF\xC2\xBB\xC2\xBFx\r\n");
}

// Thousands are grouped however many groups there are (the full text is the run's).
TEST(SplittingTest, BatchOverflowGroupsEveryThousand) {
  EXPECT_EQ(std::string(DemasiadosLotes(1234567).Description()).substr(0, 42),
            "Overflow: the script has 1,234,567 batches");
}

}  // namespace
}  // namespace vandrel::testing
