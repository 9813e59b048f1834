#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "execution/script_batches.h"
#include "platform/text_file.h"
#include "splitting/reference_split.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

using Pieces = std::vector<std::string>;

std::string ReadFile(const std::filesystem::path& path) {
  std::string text;
  auto file = platform::OpenTextFile(path.string());
  file->ReadAllLines(text);
  file->Close();
  return text;
}

// LC_CTYPE for a scope; `ok` says whether the locale exists.
struct CtypeLocale {
  explicit CtypeLocale(const char* name) : ok(std::setlocale(LC_CTYPE, name) != nullptr) {}
  ~CtypeLocale() { std::setlocale(LC_CTYPE, saved.c_str()); }
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  const bool ok;
};

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
  TempFolder folder;
  for (const auto& [name, file, pieces] : rows) {
    std::string text = ReadFile(folder.Write(std::string(name) + ".sql", file));
    NormalizarSeparadores(text);
    const auto cut = CortarLotes(text);
    EXPECT_EQ(Pieces(cut.begin(), cut.end()), pieces) << name;
  }
}

// Random texts over the letters that matter, against the literal nine passes and split.
TEST(SplittingTest, NormaliseAndCutMatchTheLiteralPasses) {
  static constexpr char kAlphabet[] = {'A', 'g', 'G', 'o', 'O', '\r', '\n', ' '};
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> letter(0, 7);
  std::uniform_int_distribution<int> length(0, 160);  // several 64-byte strides
  for (int round = 0; round < 200000; ++round) {
    std::string text(static_cast<std::size_t>(length(random)), ' ');
    for (char& c : text) c = kAlphabet[letter(random)];
    std::string normalised = text;
    NormalizarSeparadores(normalised);
    const std::string expected = ReferenceNormalise(text);
    ASSERT_EQ(normalised, expected) << "round " << round;
    // The split on its own takes any text, not only normalised ones.
    for (const std::string* input : {&std::as_const(text), &expected}) {
      const auto pieces = CortarLotes(*input);
      ASSERT_EQ(Pieces(pieces.begin(), pieces.end()), ReferenceSplit(*input)) << "round " << round;
    }
  }
}

// The reader against the literal line rule, with line ends and multibyte characters on the
// boundaries of the blocks it reads in.
TEST(SplittingTest, ReadingMatchesTheLiteralLineRule) {
  TempFolder folder;
  static const std::vector<std::string> kPieces = {"A", "g", "O", "\r", "\n", " ", "\xC3\xA9",
                                                   "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"};
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> piece(0, kPieces.size() - 1);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    const std::size_t count = static_cast<std::size_t>(round % 60);
    for (std::size_t i = 0; i < count; ++i) bytes += kPieces[piece(random)];
    ASSERT_EQ(ReadFile(folder.Write("r.sql", bytes)), ReferenceLines(bytes)) << "round " << round;
  }
  // Whatever power of two the reader's blocks are, something straddles each boundary.
  for (const std::string straddler :
       {"\r", "\r\n", "\n\r", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"}) {
    for (std::size_t before = 1; before <= straddler.size(); ++before) {
      std::string bytes(std::size_t{1} << 21, 'x');
      for (std::size_t boundary = 1 << 10; boundary < bytes.size(); boundary <<= 1)
        bytes.replace(boundary - before, straddler.size(), straddler);
      ASSERT_EQ(ReadFile(folder.Write("big.sql", bytes)), ReferenceLines(bytes))
          << ::testing::PrintToString(straddler) << " from " << before << " before";
    }
  }
}

TEST(SplittingTest, InvalidUtf8NamesFileAndOffset) {
  TempFolder folder;
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
      {"\xEF\xBB\xBF\xFF", 3, 1},        // after a byte-order mark
  };
  for (const char* locale : {"C", "C.UTF-8"}) {
    CtypeLocale ctype(locale);
    ASSERT_TRUE(ctype.ok) << locale;
    for (const auto& [bytes, offset, line] : rows) {
      const auto path = folder.Write("bad.sql", bytes).string();
      EXPECT_EQ(ErrorOf([&] { ReadFile(path); }),
                "Cannot read " + path + ": the byte at offset " + std::to_string(offset) +
                    " (line " + std::to_string(line) +
                    ") is not valid UTF-8 text; convert the file to UTF-8, e.g. with iconv -f "
                    "WINDOWS-1252 -t UTF-8")
          << locale;
    }
  }
}

// The single-byte code page of the Windows program, as a locale made by scripts/setup.
TEST(SplittingTest, SingleByteLocaleIsConverted) {
  CtypeLocale ctype("es_ES.CP1252");
  if (!ctype.ok) GTEST_SKIP() << "locale es_ES.CP1252 missing: run scripts/setup";
  TempFolder folder;
  EXPECT_EQ(ReadFile(folder.Write("latin.sql", "caf\xE9\r\ngo \x80\rx")),
            "caf\xC3\xA9\r\ngo \xE2\x82\xAC\r\nx\r\n");
  const auto path = folder.Write("bad.sql", "AB\r\n\x81").string();
  EXPECT_EQ(ErrorOf([&] { ReadFile(path); }),
            "Cannot read " + path +
                ": the byte at offset 4 (line 2) is not valid CP1252 text; convert the file to "
                "CP1252, e.g. with iconv -f UTF-8 -t CP1252");
  // Only a file read as UTF-8 has a byte-order mark; here those bytes are characters.
  EXPECT_EQ(ReadFile(folder.Write("bom.sql", "\xEF\xBB\xBFx")), "\xC3\xAF\xC2\xBB\xC2\xBFx\r\n");
}

// Thousands are grouped however many groups there are (the full text is the run's).
TEST(SplittingTest, BatchOverflowGroupsEveryThousand) {
  EXPECT_EQ(std::string(DemasiadosLotes(1234567).Description()).substr(0, 42),
            "Overflow: the script has 1,234,567 batches");
}

}  // namespace
}  // namespace vandrel::testing
