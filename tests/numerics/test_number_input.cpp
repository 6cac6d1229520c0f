// The number checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "numerics/number_input.h"

namespace tarmic {
namespace {

// ----------------------------------------------------------------- the checks

// The texts the files take are numbers in a typed field too, signed and bare
// zeros among them; non-numbers, trailing text, a zero byte inside and values a
// float cannot hold are not.
TEST(NumberChecks, ValidAndInvalidTexts) {
  for (const char* text : {"0", "0.0", "0e5", "2.5", "+3", ".5", "6.5E-3", " 12 ", "3e38", "-0", "+0", ".0",
                           "-0.000000", "-.0e7"})
    EXPECT_TRUE(IsValidFloat(text) && IsValidPositiveFloat(text)) << text;
  EXPECT_TRUE(IsValidFloat("-7"));
  EXPECT_FALSE(IsValidPositiveFloat("-7"));
  float v = 5.0f;
  EXPECT_TRUE(ParseFloatText("-0.000000", &v));
  EXPECT_EQ(v, 0.0f);
  EXPECT_FALSE(std::signbit(v));
  for (const std::string& text : std::vector<std::string>{"", "nan", "inf", "-inf", "0x10", "1.5x", "0abc", "1e", "1e+", "--1", "1 2",
                                 "1,5", "e5", ".", "1e39", "1e400", "1e-46", std::string("1\0 5", 4),
                                 std::string("1\0", 2), std::string(" \0", 2)}) {
    EXPECT_FALSE(IsValidFloat(text)) << text;
    EXPECT_FALSE(IsValidPositiveFloat(text)) << text;
    EXPECT_FALSE(ParseFloatText(text, &v)) << text;
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

// A zero behind blanks is a zero as much as " 1" is a one, with or without its
// sign and leading '0'; values that are not 0 but too small for a float (stored as 0 or without their
// digits) are no number in a typed text nor on a line of a file, whose refusal
// says why; a line of a settings file keeps its place when it is blank.
TEST(NumberChecks, ZeroBehindBlanksCountsAndTinyValuesAreNoNumber) {
  for (const char* text : {" 0", "\t0.0 ", " 0e5"}) EXPECT_TRUE(IsValidFloat(text)) << text;
  for (const char* text : {" .0", " -0", "\t+0 "}) EXPECT_TRUE(IsValidFloat(text)) << text;
  float v = 7.0f;
  EXPECT_TRUE(ParseFloatText(" 0", &v));
  EXPECT_EQ(v, 0.0f);
  for (const char* text : {"1e-320", "1e-50", "-1e-46"}) {
    EXPECT_FALSE(IsValidFloat(text)) << text;
    EXPECT_EQ(FileLineNumber(text), std::nullopt) << text;
  }
  EXPECT_EQ(FileLineNumber("1e-40"), static_cast<double>(1e-40f));
  EXPECT_EQ(NoNumberText(40, "1e-320"), "line 40 holds \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)");
  EXPECT_EQ(NoNumberText(3, " 1.5abc"), "line 3 holds \"1.5abc\", which is not a number");
  EXPECT_EQ(NoNumberText(5, "  "), "line 5 holds no number");

  const std::vector<NumberLine> lines = NumberLinesInPlace({"1", "", "x", " ", "3", "", "  "});
  ASSERT_EQ(lines.size(), 5u) << "blank lines after the last value have no place";
  for (std::size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(lines[k].line, k + 1);
  EXPECT_EQ(lines[0].value, 1.0);
  EXPECT_EQ(lines[1].value, std::nullopt);
  EXPECT_EQ(lines[2].value, std::nullopt);
  EXPECT_EQ(lines[3].value, std::nullopt);
  EXPECT_EQ(lines[4].value, 3.0);
}

TEST(NumberChecks, CurrentValueTextFollowsItsSize) {
  EXPECT_EQ(FormatInputValue(0.5f), "0.500000");
  EXPECT_EQ(FormatInputValue(0.01f), "1.000000e-02");
}

}  // namespace
}  // namespace tarmic
