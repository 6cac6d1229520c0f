// Names the program makes from the user's file names stay valid UTF-8: the one
// primitive that replaces or takes a character of a name, every door of the
// sources that changes a name by the byte, and the batch's results of scans whose
// names start with a character of two bytes.
#include <regex>
#include <set>

#include "batch_test_support.h"
#include "scandata/text_io.h"
#include "tests/support/production_sources.h"

namespace tarmic::testing {
namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Names of one to four bytes in their first character, ASCII, and a stray byte
// (counted alone, as the name holds it).
TEST(NameCharacters, ReplacingTheFirstCharacterReplacesAllOfItsBytes) {
  struct Case {
    std::string name, replaced, first, rest;
  };
  const Case cases[] = {
      {"00001.ra0", "f0001.ra0", "0", "0001.ra0"},
      {"\xC3\xA9 scan 00001.ra0", "f scan 00001.ra0", "\xC3\xA9", " scan 00001.ra0"},
      {"\xE2\x82\xAC" "1.ra0", "f1.ra0", "\xE2\x82\xAC", "1.ra0"},
      {"\xF0\x9F\x98\x80x.ra0", "fx.ra0", "\xF0\x9F\x98\x80", "x.ra0"},
      {"\xA9x.ra0", "fx.ra0", "\xA9", "x.ra0"},
      {"\xC3", "f", "\xC3", ""},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceCharacterAt(c.name, 0, "f"), c.replaced) << c.name;
    EXPECT_EQ(FirstCharacterOf(c.name), c.first) << c.name;
    EXPECT_EQ(WithoutFirstCharacter(c.name), c.rest) << c.name;
    EXPECT_EQ(FirstCharacterOf(c.name) + WithoutFirstCharacter(c.name), c.name);
    if (ValidUtf8(c.name)) EXPECT_TRUE(ValidUtf8(ReplaceCharacterAt(c.name, 0, "f"))) << c.name;
  }
  // The optics letter of an extension, the third byte.
  EXPECT_EQ(ReplaceCharacterAt(".ri1", 2, "a"), ".ra1");
  EXPECT_EQ(ReplaceCharacterAt(".r\xC3\xA9", 2, "a"), ".ra");
  EXPECT_EQ(ReplaceCharacterAt(".r", 5, "a"), ".r");
}

// No source changes a character of a std::string by the byte or drops its first
// byte: a name made so from "é..." is no UTF-8. Each such door goes through
// ReplaceCharacterAt or WithoutFirstCharacter.
TEST(NameCharacters, NoSourceChangesANameByTheByte) {
  std::vector<std::string> doors;
  std::size_t strings = 0;
  for (const auto& [path, code] : ProductionSources()) {
    if (path == "scandata/text_io.cpp") continue;
    std::set<std::string> names;
    static const std::regex declared(R"(std::string\s*&?\s*(\w+)\s*[=;({,)])");
    for (auto it = std::sregex_iterator(code.begin(), code.end(), declared); it != std::sregex_iterator(); ++it)
      names.insert((*it)[1]);
    strings += names.size();
    static const std::regex changed(R"((^|[^.>\w])(\w+)(\[[^\]\n]+\]\s*=\s*[^=\s"{]|\.substr\(1\)))");
    for (auto it = std::sregex_iterator(code.begin(), code.end(), changed); it != std::sregex_iterator(); ++it)
      if (names.contains((*it)[2])) doors.push_back(path + ": " + (*it)[2].str());
  }
  EXPECT_GT(strings, 1000u);  // the census saw the sources
  EXPECT_TRUE(doors.empty()) << ::testing::PrintToString(doors);
}

// The batch run of the example on scans named "é scan 000NN.ra0": the fitted and
// residual scans are "f scan ..." and "r scan ...", every name written valid UTF-8.
TEST(NameCharacters, BatchResultsOfScansWithAnAccentedFirstLetter) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/NameCharacters";
  batch_fs::remove_all(root);
  const std::string data = root + "/data";
  CopyExample(data);
  std::vector<std::string> args = {"--parameters", data + "/cs.~p"};
  for (const std::string& scan : ExampleScans(data)) {
    const std::string renamed = data + "/\xC3\xA9 scan " + batch_fs::path(scan).filename().string();
    batch_fs::rename(scan, renamed);
    args.push_back(renamed);
  }
  const BatchOutput run = RunBatchProgram(root, args);
  ASSERT_EQ(run.code, 0) << run.err;
  std::size_t fits = 0, residuals = 0;
  for (const auto& e : batch_fs::directory_iterator(data)) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(ValidUtf8(name)) << name;
    fits += name.starts_with("f scan 000");
    residuals += name.starts_with("r scan 000");
  }
  EXPECT_EQ(fits, 20u);
  EXPECT_EQ(residuals, 20u);
}

}  // namespace
}  // namespace tarmic::testing
