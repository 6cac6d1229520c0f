// The one number scanner: what a number is, what it is not and why, and how the
// fields of a table line are found.
#include <gtest/gtest.h>

#include <random>

#include <cfloat>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "text/number_token.h"

namespace tarmic {
namespace {

// Decimal numbers in "C" notation are numbers, with the values the decimal texts
// stand for; blanks around them do not count. Everything else is none, with the
// reason: glued text, a decimal comma, hexadecimal, nan and inf, a lone sign or
// point, an exponent without digits, two numbers. The range is that of the
// precision the number is stored in: float (FLT_MAX 3.40282347e38, smallest normal
// FLT_MIN 1.17549435e-38) or double.
TEST(NumberToken, AWholeFieldIsANumberAndNothingElse) {
  const std::vector<std::pair<const char*, double>> numbers = {
      {"1", 1.0},          {" -2.5e3 ", -2500.0}, {"+7", 7.0},         {"0", 0.0},
      {"-0", 0.0},         {".5", 0.5},          {"5.", 5.0},         {"\t1E-3\r", 0.001},
      {"3.4e38", 3.4e38},  {"1.2e-38", 1.2e-38}, {"1e-40", 1e-40}, {"0e999999", 0.0},   {"0.000", 0.0},
      {"123456789012345678901234567890", 1.2345678901234568e29}};
  for (const auto& [text, value] : numbers) {
    const NumberScan scan = ScanNumber(text);
    EXPECT_TRUE(scan) << text;
    EXPECT_DOUBLE_EQ(scan.value, value) << text;
  }
  EXPECT_FALSE(std::signbit(ScanNumber("-0").value)) << "a zero keeps no sign";

  const std::vector<std::pair<const char*, NumberFault>> faults = {
      {"", NumberFault::kEmpty},          {" \t ", NumberFault::kEmpty},
      {"5abc", NumberFault::kNotNumber},  {"1,5", NumberFault::kNotNumber},
      {"0x10", NumberFault::kNotNumber},  {"nan", NumberFault::kNotNumber},
      {"inf", NumberFault::kNotNumber},   {"-Infinity", NumberFault::kNotNumber},
      {"-", NumberFault::kNotNumber},     {".", NumberFault::kNotNumber},
      {"1e", NumberFault::kNotNumber},    {"1e+", NumberFault::kNotNumber},
      {"1 2", NumberFault::kNotNumber},   {"--1", NumberFault::kNotNumber},
      {"1d3", NumberFault::kNotNumber},   {"e5", NumberFault::kNotNumber},
      {"1e999", NumberFault::kTooLarge},  {"-3.5e38", NumberFault::kTooLarge},
      {"1e39", NumberFault::kTooLarge},   {"1e-320", NumberFault::kTooSmall},
      {"1e-46", NumberFault::kTooSmall},  {"-0.0000000000000000000000000000000000000000000001", NumberFault::kTooSmall},
      {"1e-99999999", NumberFault::kTooSmall}, {"9e99999999", NumberFault::kTooLarge}};
  for (const auto& [text, fault] : faults) {
    const NumberScan scan = ScanNumber(text);
    EXPECT_FALSE(scan) << text;
    EXPECT_EQ(scan.fault, fault) << text;
    EXPECT_EQ(NumberOf(text), std::nullopt) << text;
  }

  // A double holds what a float cannot, down to DBL_MIN 2.2250738585072014e-308.
  EXPECT_EQ(NumberOf("1e39", NumberWidth::kDouble), 1e39);
  EXPECT_EQ(NumberOf("1e-40", NumberWidth::kDouble), 1e-40);
  EXPECT_EQ(NumberOf("2.3e-308", NumberWidth::kDouble), 2.3e-308);
  EXPECT_EQ(NumberOf("1e-320", NumberWidth::kDouble), 1e-320) << "not 0 in a double";
  EXPECT_EQ(ScanNumber("1e-330", NumberWidth::kDouble).fault, NumberFault::kTooSmall);
  EXPECT_EQ(ScanNumber("1.8e308", NumberWidth::kDouble).fault, NumberFault::kTooLarge);
  EXPECT_EQ(ScanNumber("nan", NumberWidth::kDouble).fault, NumberFault::kNotNumber);

  // The reasons as messages give them after the file and line.
  EXPECT_EQ(NumberFaultText("5abc", NumberFault::kNotNumber), "holds \"5abc\", which is not a number");
  EXPECT_EQ(NumberFaultText(" 1e999 ", NumberFault::kTooLarge), "holds \"1e999\", which is beyond 3.4e38");
  EXPECT_EQ(NumberFaultText("1e-330", NumberFault::kTooSmall, NumberWidth::kDouble),
            "holds \"1e-330\", which is not 0 but too small to be held (below 4.9e-324)");
  EXPECT_EQ(NumberFaultText("1e-320", NumberFault::kTooSmall), "holds \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)");
  EXPECT_EQ(NumberFaultText("", NumberFault::kEmpty), "holds no number");
  EXPECT_EQ(NumberFaultText(std::string(50, '7') + "x", NumberFault::kNotNumber),
            "holds \"" + std::string(40, '7') + "...\", which is not a number");
}

std::vector<std::string> Fields(std::string_view line, std::string_view separators) {
  FieldCursor cursor(line, separators);
  std::vector<std::string> out;
  for (std::string_view f; cursor.Next(&f);) out.emplace_back(f);
  return out;
}

// Blanks separate fields. A line that holds a separator of the file is split there
// alone, blanks around a field allowed: a decimal comma beside a blank leaves a
// field with a blank inside, which is no number, rather than splitting one number
// into two. Two separators in a row hold an empty field, one at the line end
// closes the last field; without separators a comma belongs to its field.
TEST(NumberToken, FieldsEndAtBlanksOrAtTheFilesOwnSeparatorAlone) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Fields("  1\t2   3  ", ""), (V{"1", "2", "3"}));
  EXPECT_EQ(Fields("1,5 2", ""), (V{"1,5", "2"}));
  EXPECT_EQ(Fields("1,5 2", ",;"), (V{"1", "5 2"}));
  EXPECT_EQ(Fields("4,000000 0,500000", ",;"), (V{"4", "000000 0", "500000"}));
  EXPECT_EQ(Fields("4.000000 1,5", ",;"), (V{"4.000000 1", "5"}));
  EXPECT_EQ(Fields("1 ; 2;3;", ",;"), (V{"1", "2", "3"}));
  EXPECT_EQ(Fields("1 2 3", ",;"), (V{"1", "2", "3"}));
  EXPECT_EQ(Fields("1,,2", ","), (V{"1", "", "2"}));
  EXPECT_EQ(Fields(",1", ","), (V{"", "1"}));
  EXPECT_EQ(Fields("   ", ","), V{});

  FieldCursor cursor("4e-6; 0.5 ;x", ";");
  std::string_view field;
  NumberScan v = cursor.NextNumber(&field);
  EXPECT_EQ(v.value, 4e-6);
  v = cursor.NextNumber(&field);
  EXPECT_EQ(v.value, 0.5);
  EXPECT_FALSE(cursor.AtEnd());
  v = cursor.NextNumber(&field);
  EXPECT_EQ(v.fault, NumberFault::kNotNumber);
  EXPECT_EQ(field, "x");
  EXPECT_TRUE(cursor.AtEnd());
  v = cursor.NextNumber(&field);
  EXPECT_EQ(v.fault, NumberFault::kEmpty);
  EXPECT_EQ(field, "");
}

// Counts, pids and times that the system and the program's own records write: decimal
// digits alone, within 64 bits; a sign, a point, an exponent, glued text or a value
// past 2^64 - 1 is none (the library functions these replace took "12abc" as 12 and
// threw on an overflow).
TEST(NumberToken, WholeNumbersAreDigitsAloneWithin64Bits) {
  EXPECT_EQ(WholeNumberOf("0"), 0u);
  EXPECT_EQ(WholeNumberOf(" 4242\n"), 4242u);
  EXPECT_EQ(WholeNumberOf("18446744073709551615"), 18446744073709551615ull);
  for (const char* bad : {"", "  ", "18446744073709551616", "99999999999999999999999", "-1", "+1",
                          "1.0", "1e3", "12abc", "0x10", "1 2"})
    EXPECT_EQ(WholeNumberOf(bad), std::nullopt) << '"' << bad << '"';
}

// A whole-number field takes a number without a fraction, in any form a writer
// left it ("1000.000000", "2e3"), and refuses a fraction with its own reason
// instead of cutting or rounding it; the faults of a number stay theirs.
TEST(NumberToken, WholeNumberFieldsRefuseFractions) {
  for (const auto& [text, value] : std::vector<std::pair<const char*, double>>{
           {"2", 2.0}, {" -3 ", -3.0}, {"1000.000000", 1000.0}, {"2e3", 2000.0}, {"0.0", 0.0}, {"16777217", 16777217.0}}) {
    const NumberScan scan = ScanWholeNumber(text);
    EXPECT_TRUE(scan) << text;
    EXPECT_EQ(scan.value, value) << text;
  }
  for (const char* fraction : {"1.5", "2.9", "0.5", "-0.5", "1000.5", "75.5", "1.0000001", "1e-3"}) {
    EXPECT_EQ(ScanWholeNumber(fraction).fault, NumberFault::kNotWhole) << fraction;
    EXPECT_EQ(ScanWholeNumber(fraction, NumberWidth::kFloat).fault, NumberFault::kNotWhole) << fraction;
  }
  EXPECT_EQ(NumberFaultText("1.5", NumberFault::kNotWhole), "holds \"1.5\", which is not a whole number");
  EXPECT_EQ(ScanWholeNumber("2abc").fault, NumberFault::kNotNumber);
  EXPECT_EQ(ScanWholeNumber("").fault, NumberFault::kEmpty);
  EXPECT_EQ(ScanWholeNumber("1e999").fault, NumberFault::kTooLarge);
}

// Whether a text is whole is decided by its digits: the text's digits as one
// integer D and its exponent E = exponent - digits after the point give D x 10^E,
// which is whole when E >= 0 or D ends in -E zeros. Random texts (a fixed seed)
// against that, among them fractions a double rounds to a whole number.
TEST(NumberToken, WholeNumbersAndFlagsAreJudgedByTheirText) {
  std::mt19937 random(87);
  const auto digitsOf = [&](int n, bool zeros) {
    std::string d;
    for (int k = 0; k < n; ++k) d += static_cast<char>('0' + (zeros && random() % 2 ? 0 : random() % 10));
    return d;
  };
  int wholes = 0, fractions = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const std::string integer = digitsOf(1 + static_cast<int>(random() % 6), false);
    const std::string fraction = digitsOf(static_cast<int>(random() % 20), true);
    const int exponent = static_cast<int>(random() % 13) - 6;
    std::string text = integer + (fraction.empty() ? "" : "." + fraction);
    if (random() % 2) text += "e" + std::to_string(exponent);
    const int e = (text.find('e') == std::string::npos ? 0 : exponent) - static_cast<int>(fraction.size());
    const std::string all = integer + fraction;
    bool whole = e >= 0 || all.find_first_not_of('0') == std::string::npos;
    if (!whole) {
      const std::size_t tail = static_cast<std::size_t>(-e);
      whole = all.size() >= tail && all.find_first_not_of('0', all.size() - tail) == std::string::npos;
    }
    const NumberScan scan = ScanWholeNumber(text);
    EXPECT_EQ(scan.fault == NumberFault::kNone, whole) << text;
    EXPECT_EQ(scan.fault == NumberFault::kNotWhole, !whole) << text;
    (whole ? wholes : fractions)++;
  }
  EXPECT_GT(wholes, 2000);
  EXPECT_GT(fractions, 2000);
  for (const char* fraction : {"2.9999999999999999", "0.99999999999999999", "1.00000000000000001", "25e-1"})
    EXPECT_EQ(ScanWholeNumber(fraction).fault, NumberFault::kNotWhole) << fraction;
  for (const char* whole : {"25e-0", "2.50e1", "1000.000", "-0", "12345678901234567890"}) EXPECT_TRUE(ScanWholeNumber(whole)) << whole;
  // A flag is the whole number 0 or 1; an int's whole number lies within its range.
  for (const char* on : {"0", "1", "-0", "1.000", "0e5", "10e-1"}) EXPECT_TRUE(ScanFlag(on)) << on;
  for (const char* off : {"2", "-1", "0.5", "2.5", "1e-30", "0.99999999999999999", "1e400", "1e-400"})
    EXPECT_EQ(ScanFlag(off).fault, NumberFault::kNotFlag) << off;
  EXPECT_EQ(ScanFlag("x").fault, NumberFault::kNotNumber);
  EXPECT_EQ(NumberFaultText("2.5", NumberFault::kNotFlag), "holds \"2.5\", which is neither 0 nor 1");
  EXPECT_EQ(ScanIntNumber("2147483647").value, 2147483647.0);
  EXPECT_EQ(ScanIntNumber("-2147483647").value, -2147483647.0);
  for (const char* beyond : {"2147483648", "9999999999999999999", "-3e9", "1e999"})
    EXPECT_EQ(ScanIntNumber(beyond).fault, NumberFault::kNotInt) << beyond;
  EXPECT_EQ(ScanIntNumber("1.5").fault, NumberFault::kNotWhole);
}

// A row is read whole: as many fields as its shape, from its required ones to all,
// each of its kind; the message quotes the text read.
TEST(NumberToken, ARowHoldsExactlyItsFields) {
  static constexpr RowField kFields[3] = {{"x", FieldKind::kFloat}, {"flag", FieldKind::kFlag}, {nullptr, FieldKind::kWord}};
  RowShape shape = ExactRow(kFields);
  shape.required = 2;
  const struct {
    const char* line;
    RowFault fault;
    std::size_t found;
    const char* text;
  } rows[] = {
      {"1.5 1", RowFault::kNone, 2, ""},
      {"1.5 0 any", RowFault::kNone, 3, ""},
      {"1.5", RowFault::kTooFew, 1, "has too few values (1 of 2 or 3: x, flag): \"1.5\""},
      {"1.5 1 a b", RowFault::kTooMany, 4, "has too many values (4 of 2 or 3: x, flag): \"1.5 1 a b\""},
      {"1.5 2.5", RowFault::kField, 2, "holds \"2.5\" as the flag, which is neither 0 nor 1"},
      {"1.5x 1", RowFault::kField, 2, "holds \"1.5x\" as the x, which is not a number"},
      {"  ", RowFault::kTooFew, 0, "has too few values (0 of 2 or 3: x, flag): \"\""},
  };
  for (const auto& r : rows) {
    double values[3] = {};
    const RowScan scan = ScanTableRow(r.line, shape, values);
    EXPECT_EQ(scan.fault, r.fault) << r.line;
    EXPECT_EQ(scan.found, r.found) << r.line;
    EXPECT_EQ(RowFaultText(r.line, shape, scan), r.text) << r.line;
  }
  static constexpr RowField kNumber{};
  const RowShape pair = UniformRow(kNumber, 2, ",;");
  double values[2] = {};
  EXPECT_EQ(ScanTableRow("4,5 0,5", pair, values).fault, RowFault::kTooMany) << "a decimal comma is a separator's field";
  EXPECT_EQ(ScanTableRow("4;0.5", pair, values).fault, RowFault::kNone);
  EXPECT_EQ(values[1], 0.5);
  EXPECT_EQ(ScanTableRow("4;;0.5", pair, values).fault, RowFault::kTooMany);
}

// Every float of the binade that holds 7.03853069e-26 (bits 0x15ae43fd, whose
// shortest text "7.038531e-26" is read as a double exactly half-way between two
// floats) and of its negative twin is written as a text that reads back as the
// very float. 2^23 floats each, one thread per sign: a few seconds.
TEST(NumberToken, EveryFloatOfTheTieBinadeReadsBack) {
  const float tie = std::bit_cast<float>(0x15ae43fdu);
  EXPECT_EQ(static_cast<float>(ScanNumber(RoundTripText(tie)).value), tie) << RoundTripText(tie);
  const std::uint32_t first = 0x15ae43fdu & 0xff800000u;
  std::uint32_t wrong[2] = {0, 0}, example[2] = {0, 0};
  auto sweep = [&](int k) {
    const std::uint32_t sign = k == 0 ? 0u : 0x80000000u;
    for (std::uint32_t bits = first | sign; bits < (first | sign) + 0x00800000u; ++bits) {
      const float f = std::bit_cast<float>(bits);
      const NumberScan back = ScanNumber(RoundTripText(f));
      if ((!back || static_cast<float>(back.value) != f) && wrong[k]++ == 0) example[k] = bits;
    }
  };
  std::thread negative(sweep, 1);
  sweep(0);
  negative.join();
  for (int k : {0, 1})
    EXPECT_EQ(wrong[k], 0u) << "e.g. bits " << std::hex << example[k] << " are written "
                            << RoundTripText(std::bit_cast<float>(example[k]));
}

}  // namespace
}  // namespace tarmic
