// The float vector: views, range statistics, tick labels, smoothing and the
// settings file format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "numerics/cvector.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

std::string OutputPath(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "cvector";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

CVector Make(std::initializer_list<float> values) {
  CVector v;
  for (float x : values) v.Append(x);
  return v;
}

// -------------------------------------------------------------------- views

// A view neither owns, frees nor changes the viewed array (tiny values included).
TEST(CVectorView, AttachNRViewsTheArrayWithoutOwningIt) {
  float* a = vector(1, 5);
  a[1] = 1.0f; a[2] = 1e-31f; a[3] = -1e-35f; a[4] = 4.0f; a[5] = 5.0f;
  {
    CVector v;
    EXPECT_EQ(v.AttachNR(a, 5, 1), 5u);
    EXPECT_EQ(v.Get(4), 5.0f);
  }
  EXPECT_EQ(a[2], 1e-31f);
  EXPECT_EQ(a[3], -1e-35f);
  EXPECT_EQ(a[5], 5.0f);
  free_vector(a, 1, 5);
}

TEST(CVectorView, ChangingAViewNeverWritesIntoTheViewedArray) {
  float a[4] = {0.0f, 1.0f, 2.0f, 6.0f};
  CVector v;
  v.AttachNR(a, 3, 1);
  v.Scale(10.0f);
  EXPECT_EQ(v.Get(2), 60.0f);
  EXPECT_TRUE(v.OwnsData());
  EXPECT_EQ(a[3], 6.0f);

  CVector w;
  w.AttachNR(a, 3, 1);
  ASSERT_TRUE(w.SavitzkyGolaySmooth(1, 1, 1));  // the window shortens at the ends
  EXPECT_FLOAT_EQ(w.Get(0), 1.5f);
  EXPECT_FLOAT_EQ(w.Get(1), 3.0f);
  EXPECT_FLOAT_EQ(w.Get(2), 4.0f);
  EXPECT_EQ(a[1], 1.0f);

  CVector u;
  u.AttachNR(a, 3, 1);
  u = Make({7, 8, 9});
  EXPECT_EQ(u.Get(0), 7.0f);
  EXPECT_EQ(a[1], 1.0f);

  // Reading a file into a view replaces the values it reads, not the array's.
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("into_view.txt");
  WriteText(path, "9\n8\n");
  CVector r;
  r.AttachNR(a, 3, 1);
  r.ReadFromFile(path.c_str());
  EXPECT_EQ(r.Get(0), 9.0f);
  EXPECT_EQ(r.Get(1), 8.0f);
  EXPECT_EQ(r.Get(2), 6.0f);
  EXPECT_EQ(a[1], 1.0f);
  EXPECT_EQ(a[2], 2.0f);
}

// ------------------------------------------------- access and statistics

TEST(CVectorAccess, RangeStatisticsClipTheirRange) {
  CVector v = Make({3, 1, 4, 1, 5, 9, 2, 6, 5, 3});
  EXPECT_EQ(v.Get(-1), 0.0f);
  EXPECT_EQ(v.Get(10), 0.0f);
  EXPECT_EQ(v.MaxInRange(3, 1), 0.0f);
  EXPECT_EQ(v.MaxInRange(-5, 100), 9.0f);
  EXPECT_EQ(v.MaxInRange(-5, -1), 9.0f);
  EXPECT_EQ(v.MinInRange(-5, -1), 1.0f);
  EXPECT_EQ(v.MaxInRange(20, 30), 0.0f);
  EXPECT_EQ(v.MinInRange(6, 9), 2.0f);
}

TEST(CVectorAccess, PositiveRangeStatisticsReportNoneWithOne) {
  CVector v = Make({0, -2, 0.5f, 3});
  bool none = false;
  EXPECT_EQ(v.MinPositiveInRange(0, 3, &none), 0.5f);
  EXPECT_FALSE(none);
  EXPECT_EQ(v.MaxPositiveInRange(0, 3, &none), 3.0f);
  EXPECT_EQ(v.MinPositiveInRange(0, 1, &none), 1.0f);
  EXPECT_TRUE(none);
}

// --------------------------------------------------------------- tick labels

std::string Label(float value, float scale = 1.0f, int size = 32) {
  CVector v = Make({value});
  char out[64] = "xxxx";
  const int n = v.FormatElement(0, out, size, scale);
  EXPECT_EQ(n, static_cast<int>(std::string(out).size()));
  return out;
}

TEST(CVectorLabels, WholeNumbersAreIntegersOthersSixDigitsAndAllFitTheBuffer) {
  EXPECT_EQ(Label(0.25f), "0.25");
  EXPECT_EQ(Label(0.5f, 4.0f), "2");
  EXPECT_EQ(Label(-0.0f), "0");
  EXPECT_EQ(Label(1e30f), "1e+30");
  EXPECT_EQ(Label(1234567.5f, 1.0f, 5), "1.23");
}

// ----------------------------------------------------------------- smoothing

TEST(CVectorSmoothing, WindowLongerThanTheVectorIsReported) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  CVector v = Make({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_FALSE(v.SavitzkyGolaySmooth(5, 5, 2));
  EXPECT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(v.Get(7), 8.0f);
}

TEST(CVectorSmoothing, QuadraticSmoothingKeepsAParabolaUpToTheEnds) {
  // The one-sided windows at the ends are smaller than the order asks; they must
  // still smooth (with the order they support) and a parabola stays a parabola.
  CVector v;
  for (int i = 0; i < 12; ++i) v.Append(static_cast<float>(i * i) * 0.5f + 1.0f);
  ASSERT_TRUE(v.SavitzkyGolaySmooth(2, 2, 2));
  for (int i = 0; i < 12; ++i)
    EXPECT_NEAR(v.Get(i), static_cast<float>(i * i) * 0.5f + 1.0f, 1e-3f) << i;
}

TEST(CVectorSmoothing, ResampledSmoothingKeepsAStraightLine) {
  CVector x, y;
  for (int i = 0; i < 20; ++i) {
    const float xi = 1.0f + 0.1f * static_cast<float>(i) + (i % 3 == 0 ? 0.02f : 0.0f);
    x.Append(xi);
    y.Append(2.0f * xi - 1.0f);
  }
  ASSERT_TRUE(y.SavitzkyGolaySmoothResampled(40, x, 2, 2, 2));
  for (int i = 0; i < 20; ++i) EXPECT_NEAR(y.Get(i), 2.0f * x.Get(i) - 1.0f, 1e-4f) << i;
}

// -------------------------------------------------------------- text files

TEST(CVectorFiles, WriteThenReadKeepsEveryValue) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("round_trip.txt");
  CVector written = Make({1.5f, -2.25f, 0.0f, 12345678.0f, 3.0e20f, 0.125f}), read;
  ASSERT_TRUE(written.WriteToFile(path.c_str()));
  read.ReadFromFile(path.c_str());
  ASSERT_EQ(read.Length(), written.Length());
  for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(read.Get(i), written.Get(i)) << i;
}

TEST(CVectorFiles, AVectorWithDataTakesItsLengthFromTheFile) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("settings.ini");
  WriteText(path, "1\n 2.5 \n\n4\n");
  CVector v;
  ASSERT_TRUE(v.ReadFromFile(path.c_str()));
  ASSERT_EQ(v.Length(), 3u);
  EXPECT_EQ(v.Get(1), 2.5f);

  CVector two = Make({7, 7}), five = Make({0, 0, 0, 0, 9});
  ASSERT_TRUE(two.ReadFromFile(path.c_str()));
  EXPECT_EQ(two.Length(), 2u);
  EXPECT_EQ(two.Get(1), 2.5f);
  ASSERT_TRUE(five.ReadFromFile(path.c_str()));
  EXPECT_EQ(five.Length(), 5u);
  EXPECT_EQ(five.Get(2), 4.0f);
  EXPECT_EQ(five.Get(4), 9.0f);
}

// A file of values is taken whole or refused naming its line: a line that is not
// one number a float holds (glued text, nan, a decimal comma, a value beyond a
// float or one it would hold as 0, a second number) anywhere in a grid of 40 lines
// refuses the file and leaves the vector as it was, rather than giving the values
// before it as the whole grid.
TEST(CVectorFiles, ALineThatIsNoWholeNumberRefusesTheFileNamingIt) {
  ScopedHeadlessBackend backend;
  const std::string path = OutputPath("fields.ini");
  const struct {
    const char* line;
    const char* why;
  } bad[] = {
      {"5abc", "holds \"5abc\", which is not a number"},
      {"nan", "holds \"nan\", which is not a number"},
      {"1,5", "holds \"1,5\", which is not a number"},
      {"0x10", "holds \"0x10\", which is not a number"},
      {"-inf", "holds \"-inf\", which is not a number"},
      {"1e39", "holds \"1e39\", which is beyond 3.4e38"},
      {"1e-320", "holds \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)"},
      {"3 x", "has too many values (2 of 1): \"3 x\""},
  };
  for (const int at : {1, 5, 40}) {
    for (const auto& b : bad) {
      std::string text;
      for (int line = 1; line <= 40; ++line) text += line == at ? std::string(b.line) + "\n" : std::to_string(line) + "\n";
      WriteText(path, text);
      CVector v = Make({1, 2});
      std::string failure;
      EXPECT_FALSE(v.ReadFromFile(path.c_str(), &failure)) << b.line;
      EXPECT_EQ(failure, "\n\aAttention: " + path + " cannot be read: line " + std::to_string(at) + " " + b.why);
      EXPECT_EQ(v.Length(), 2u);
      int nh = -1;
      backend->QueueMessageBox(IDOK);
      EXPECT_EQ(ReadNRVectorFromFile(path.c_str(), &nh, 1), nullptr);
      EXPECT_EQ(nh, 0);
    }
  }
}

TEST(CVectorFiles, MissingFileIsReportedAndTheVectorUnchanged) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  const std::string path = OutputPath("does_not_exist.ini");
  CVector v = Make({1, 2});
  v.ReadFromFile(path.c_str());
  EXPECT_EQ(v.Length(), 2u);
  EXPECT_EQ(v.Get(1), 2.0f);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_NE(backend->Transcript()[0].text.find(path), std::string::npos);
}

}  // namespace
}  // namespace tarmic
