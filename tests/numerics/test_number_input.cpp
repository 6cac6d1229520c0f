// The number checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "numerics/number_input.h"

namespace tarmic {
namespace {

// ----------------------------------------------------------------- the checks

// Zero needs its leading zero; non-numbers, trailing text and values beyond a
// float are invalid.
TEST(NumberChecks, ValidAndInvalidTexts) {
  for (const char* text : {"0", "0.0", "0e5", "2.5", "+3", ".5", "6.5E-3", " 12 ", "3e38"})
    EXPECT_TRUE(IsValidFloat(text) && IsValidPositiveFloat(text)) << text;
  EXPECT_TRUE(IsValidFloat("-7"));
  EXPECT_FALSE(IsValidPositiveFloat("-7"));
  EXPECT_FALSE(IsValidFloat(nullptr));
  for (const char* text : {".0", "-0", "", "nan", "inf", "-inf", "0x10", "1.5x", "0abc", "1e",
                           "1e+", "--1", "1 2", "1,5", "e5", ".", "1e39", "1e400"}) {
    EXPECT_FALSE(IsValidFloat(text)) << text;
    EXPECT_FALSE(IsValidPositiveFloat(text)) << text;
  }
}

TEST(NumberChecks, ParseGivesTheValueOfValidTextOnly) {
  float v = 1.0f;
  EXPECT_TRUE(ParseFloatText("2.5e3", &v));
  EXPECT_EQ(v, 2500.0f);
  EXPECT_FALSE(ParseFloatText("2.5kg", &v));
  EXPECT_EQ(v, 2500.0f);
}

// A line of a hand-edited file takes what the writers of those files write, a
// signed zero and blanks or a CR around it included ("%f" writes -1e-7 as
// "-0.000000"), and no text the number input refuses besides; blank lines are left
// out of the numbered lines, and a line number counts every line.
TEST(NumberChecks, AFileLineIsOneNumberAsAWhole) {
  char written[32];
  std::snprintf(written, sizeof written, "%f", -1e-7);
  for (const auto& [text, value] : std::vector<std::pair<std::string, double>>{
           {written, 0.0}, {"-0", 0.0}, {" 40000 ", 40000.0}, {"\t2.5e-3\r", 0.0025f}, {"+7", 7.0}})
    EXPECT_EQ(FileLineNumber(text), value) << text;
  for (const char* text : {"40000rpm", "1,5", "1e", "1d3", "1 2", "0x10", "nan", "inf", "abc", "", "1e39"})
    EXPECT_EQ(FileLineNumber(text), std::nullopt) << text;
  EXPECT_EQ(FileLineNumber(std::string("1\0" "2", 3)), std::nullopt) << "a zero byte ends no number";
  const std::vector<NumberLine> lines = NumberLinesOf({"1", "", "  ", "x", "3"});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].line, 4u);
  EXPECT_EQ(lines[1].value, std::nullopt);
  EXPECT_EQ(lines[2].line, 5u);
  EXPECT_EQ(lines[2].value, 3.0);
}

TEST(NumberChecks, CurrentValueTextFollowsItsSize) {
  EXPECT_EQ(FormatInputValue(0.5f), "0.500000");
  EXPECT_EQ(FormatInputValue(0.01f), "1.000000e-02");
}

}  // namespace
}  // namespace tarmic
