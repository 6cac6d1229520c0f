// The curve class: table files, window queries, interpolation and peaks.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/one_based.h"
#include "numerics/matrix_table.h"
#include "numerics/cvector.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

std::string OutputPath(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "ccurve";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A curve owning copies of the values.
CCurve Make(const std::vector<float>& x, const std::vector<float>& y) {
  return CCurve(x.data(), y.data(), static_cast<std::uint32_t>(x.size()), 0, 0);
}

std::vector<float> Values(const CCurve& c, const CVector* v) {
  std::vector<float> out;
  for (int i = 0; i < c.Count(); ++i) out.push_back(v->Get(i));
  return out;
}
std::vector<float> Xs(const CCurve& c) { return Values(c, c.X()); }
std::vector<float> Ys(const CCurve& c) { return Values(c, c.Y()); }

// ------------------------------------------------------------------ ownership

TEST(CCurveOwnership, CopyOfAnOwningCurveOwnsItsOwnVectors) {
  CCurve a = Make({1, 2}, {3, 4});
  CCurve b(a);
  EXPECT_TRUE(b.OwnsVectors());
  EXPECT_NE(b.X(), a.X());
  EXPECT_EQ(Ys(b), Ys(a));
}

// --------------------------------------------------------------- table files

TEST(CCurveFiles, FieldsSeparatedByBlanksCommasAndSemicolons) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("separators.dat");
  WriteText(path, "1 2" + std::string(300, ' ') + "0\n3;4;0\n5,6,0\n");  // a long line is one record
  CCurve c;
  ASSERT_TRUE(c.ReadFromFile(path.c_str(), 1, 2));
  EXPECT_EQ(Xs(c), (std::vector<float>{1, 3, 5}));
  EXPECT_EQ(Ys(c), (std::vector<float>{2, 4, 6}));
}

TEST(CCurveFiles, LoneCrCrLfAndLfLineEndsReadAlike) {
  // A file with CR-only line ends (or mixed ends) holds one record per line, not one
  // record in all, for the curve, vector and table readers.
  ScopedHeadlessBackend backend;
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    const std::string e = eol;
    const std::string path = OutputPath("line_ends.dat");
    WriteText(path, "1 2" + e + "3 4" + e + e + "5 6" + e + "  " + e + e);  // blank lines are no records
    CCurve c;
    ASSERT_TRUE(c.ReadFromFile(path.c_str(), 1, 2)) << e.size();
    EXPECT_EQ(Xs(c), (std::vector<float>{1, 3, 5}));
    EXPECT_EQ(Ys(c), (std::vector<float>{2, 4, 6}));

    const std::string values = OutputPath("line_ends.ini");
    WriteText(values, "1" + e + "3" + e + e + "5" + e + "  " + e + e);
    CVector v;
    ASSERT_TRUE(v.ReadFromFile(values.c_str()));
    ASSERT_EQ(v.Length(), 3u) << "one number on every line that is not blank";
    EXPECT_EQ(v.Get(2), 5.0f);

    int lines = 0;
    float** m = ReadMatrixTable(path.c_str(), 2, &lines);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(lines, 3);
    EXPECT_EQ(m[3][2], 6.0f);
    free_matrix(m, 1, lines, 1, 2);
  }
  // Mixed ends, the last line without one.
  const std::string path = OutputPath("mixed_ends.dat");
  WriteText(path, "1 2\r3 4\r\n5 6\n7 8\r");
  CCurve c;
  ASSERT_TRUE(c.ReadFromFile(path.c_str(), 1, 2));
  EXPECT_EQ(Xs(c), (std::vector<float>{1, 3, 5, 7}));
}

TEST(CCurveFiles, ColumnsAreCountedFromOne) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("three_columns.dat");
  WriteText(path, "1 2 3\n4 5 6\n");
  CCurve c;
  ASSERT_TRUE(c.ReadFromFile(path.c_str(), 1, 3));
  EXPECT_EQ(Xs(c), (std::vector<float>{1, 4}));
  EXPECT_EQ(Ys(c), (std::vector<float>{3, 6}));
  ASSERT_TRUE(c.ReadFromFile(path.c_str(), 2, 2));  // y from the field after x
  EXPECT_EQ(Ys(c), (std::vector<float>{3, 6}));
}

TEST(CCurveFiles, ShortLineFailsAndLeavesTheCurveAsItWas) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("short_line.dat");
  WriteText(path, "1 2\n3\n5 6\n");
  CCurve c = Make({9}, {8});
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(c.ReadFromFile(path.c_str(), 1, 2));
  EXPECT_EQ(Xs(c), (std::vector<float>{9}));
  EXPECT_EQ(Ys(c), (std::vector<float>{8}));
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text, "\n\aAttention: " + path + " cannot be read: line 2 has too few values (1 of 2): \"3\"");
}

// Every field up to the y column is one number as a whole, the file's separators
// (blanks, ',' and ';') aside: "5abc", a hexadecimal number, nan and inf (which
// a distribution file turned into scans of "nan"), and values a float cannot hold
// refuse the file with the line; the message goes to the caller when it takes it,
// and the curve stays as it was.
TEST(CCurveFiles, EveryNeededFieldIsAWholeNumberAndARefusalNamesItsLine) {
  ScopedHeadlessBackend backend;
  const struct {
    const char* text;
    const char* why;
  } bad[] = {
      {"1 2\n5 nan\n", "line 2 holds \"nan\", which is not a number"},
      {"1 5abc\n", "line 1 holds \"5abc\", which is not a number"},
      {"\n0x10 1\n", "line 2 holds \"0x10\", which is not a number"},
      {"inf 1\n", "line 1 holds \"inf\", which is not a number"},
      {"1 1e39\n", "line 1 holds \"1e39\", which is beyond 3.4e38"},
      {"1 1e-320\n", "line 1 holds \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)"},
      {"1 2\n3 . 4\n", "line 2 has too many values (3 of 2): \"3 . 4\""},
      {"1 2 3\n3 4\n", "line 2 has too few values (2 of 3): \"3 4\""},
  };
  const std::string path = OutputPath("bad_field.dat");
  for (const auto& b : bad) {
    SCOPED_TRACE(b.text);
    WriteText(path, b.text);
    CCurve c = Make({9}, {8});
    std::string failure;
    EXPECT_FALSE(c.ReadFromFile(path.c_str(), 1, 2, &failure));
    EXPECT_EQ(failure, "\n\aAttention: " + path + " cannot be read: " + b.why);
    EXPECT_EQ(Xs(c), (std::vector<float>{9}));
  }
  // Every field is a number, a skipped column and one past the y column too, and
  // every line holds as many as the first.
  WriteText(path, "1;x;3 nan\n");
  CCurve c;
  std::string failure;
  EXPECT_FALSE(c.ReadFromFile(path.c_str(), 1, 3, &failure));
  EXPECT_EQ(failure, "\n\aAttention: " + path + " cannot be read: line 1 holds \"x\", which is not a number");
  WriteText(path, "1 , 2 , 7\n-3;+4e1;0\n5 6 7e3\n");
  ASSERT_TRUE(c.ReadFromFile(path.c_str(), 1, 2, &failure));
  EXPECT_EQ(Xs(c), (std::vector<float>{1, -3, 5}));
  EXPECT_EQ(Ys(c), (std::vector<float>{2, 40, 6}));
  EXPECT_TRUE(backend->Transcript().empty());
}

// No part of a field is read as a number: a line that holds ',' or ';' is split
// there alone, so a decimal comma leaves a field with a blank inside or one field
// more than the table's. Each such line refuses the file.
TEST(CCurveFiles, DecimalCommasAndTrailingWordsRefuseTheFileWithTheirLine) {
  ScopedHeadlessBackend backend;
  const struct {
    const char* line;
    const char* why;
  } bad[] = {
      {"4,000000 0,500000", "has too many values (3 of 2): \"4,000000 0,500000\""},
      {"4.000000 1,5", "holds \"4.000000 1\", which is not a number"},
      {"4 0,5", "holds \"4 0\", which is not a number"},
      {"4;0.5;x", "has too many values (3 of 2): \"4;0.5;x\""},
      {"4 0.5 nan", "has too many values (3 of 2): \"4 0.5 nan\""},
  };
  const std::string path = OutputPath("decimal_commas.dat");
  for (const auto& b : bad) {
    SCOPED_TRACE(b.line);
    WriteText(path, std::string("1 2\n3 4\n") + b.line + "\n5 6\n");
    CCurve c;
    std::string failure;
    EXPECT_FALSE(c.ReadFromFile(path.c_str(), 1, 2, &failure));
    EXPECT_EQ(failure, "\n\aAttention: " + path + " cannot be read: line 3 " + b.why);
  }
}

TEST(CCurveFiles, MissingFileIsReported) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  CCurve c;
  EXPECT_FALSE(c.ReadFromFile(OutputPath("missing.dat").c_str(), 1, 2));
  EXPECT_EQ(backend->Transcript().size(), 1u);
}

TEST(CCurveFiles, WriteThenReadKeepsEveryPoint) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("round_trip.dat");
  CCurve a = Make({6.0f, 6.5f, 7.25f}, {1.2345678e-9f, -3.5f, 4.0e12f});
  ASSERT_TRUE(a.WriteToFile(path.c_str()));
  CCurve b;
  ASSERT_TRUE(b.ReadFromFile(path.c_str(), 1, 2));
  ASSERT_EQ(b.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(b.X()->Get(i), a.X()->Get(i));
    EXPECT_NEAR(b.Y()->Get(i), a.Y()->Get(i), std::fabs(a.Y()->Get(i)) * 1e-6f);
  }
}

// ------------------------------------------------------------------- queries

TEST(CCurveQueries, WindowQueriesStopBeyondX2) {
  CCurve c = Make({0, 1, 1.5f, 2, 3}, {5, 4, 3, 6, 1});
  EXPECT_EQ(c.MinYInWindow(1, 2, 0, 10), 3.0f);
  EXPECT_EQ(c.MinYInWindow(1, 2, 0, 2), 4.0f);
  EXPECT_EQ(c.MinYInWindow(3.5f, 2, 0, 10), 0.0f);
  EXPECT_EQ(c.MaxYInWindow(1, 2, 0, 10), 6.0f);
  EXPECT_FLOAT_EQ(c.MeanYInXRange(1, 2), 13.0f / 3.0f);
}

TEST(CCurveQueries, NearestXTakesTheFirstOnTies) {
  CCurve c = Make({1, 1.5f}, {0, 0});
  EXPECT_EQ(c.IndexOfNearestX(1.25f), 0);
  EXPECT_EQ(CCurve().IndexOfNearestX(1.0f), -1);
}

// --------------------------------------------------------------------- peaks

TEST(CCurvePeaks, PeaksComeHighestFirstWithOneBasedIndices) {
  CCurve c = Make({0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 3, 1, 0, 2, 5, 2, 0});
  float x[11], y[11];
  int idx[11];
  ASSERT_EQ(c.FindPeaks(x, y, idx, 10, 2), 2);
  EXPECT_EQ(idx[1], 7);
  EXPECT_EQ(y[1], 5.0f);
  EXPECT_EQ(x[1], 6.0f);
  EXPECT_EQ(idx[2], 3);
  EXPECT_EQ(y[2], 3.0f);
  ASSERT_EQ(c.FindPeaks(x, y, idx, 1, 2), 1);
  EXPECT_EQ(idx[1], 7);
}

TEST(CCurvePeaks, EqualPeaksKeepTheirIndexOrder) {
  CCurve c = Make({0, 1, 2, 3, 4, 5, 6}, {0, 4, 0, 4, 0, 4, 0});
  float x[4], y[4];
  int idx[4];
  ASSERT_EQ(c.FindPeaks(x, y, idx, 3, 1), 3);
  EXPECT_EQ(idx[1], 2);
  EXPECT_EQ(idx[2], 4);
  EXPECT_EQ(idx[3], 6);
}

TEST(CCurvePeaks, TooShortCurveOrBadArgumentsFindNothing) {
  CCurve c = Make({0, 1, 2, 3}, {0, 5, 5, 0});
  float x[11], y[11];
  EXPECT_EQ(c.FindPeaks(x, y, nullptr, 10, 2), 0);
  EXPECT_EQ(c.FindPeaks(x, y, nullptr, 0, 1), 0);
  EXPECT_EQ(c.FindPeaks(nullptr, y, nullptr, 10, 1), 0);
}

}  // namespace
}  // namespace tarmic
