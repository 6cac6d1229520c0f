// Resampling between grids (interior, end rules, guards) and Neville's
// polynomial interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "services/error_box.h"
#include "numerics/interpolation.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

// A one-based array held in a std::vector (element 0 unused).
template <typename T>
struct Grid {
  std::vector<T> v;
  explicit Grid(int n, T fill = T(0)) : v(static_cast<std::size_t>(n) + 1, fill) {}
  T* p() { return v.data(); }
  T& operator[](int i) { return v[static_cast<std::size_t>(i)]; }
  int n() const { return static_cast<int>(v.size()) - 1; }
};

template <typename T>
Grid<T> Uniform(int n, double first, double step) {
  Grid<T> g(n);
  for (int i = 1; i <= n; ++i) g[i] = static_cast<T>(first + step * (i - 1));
  return g;
}

double Line(double x) { return 2.5 * x - 1.0; }

TEST(Resampling, AllWidthsReproduceALineInsideTheSource) {
  Grid<double> ud = Uniform<double>(20, 6.0, 0.05);
  Grid<float> uf = Uniform<float>(20, 6.0, 0.05);
  Grid<double> vd(20);
  Grid<float> vf(20);
  for (int i = 1; i <= 20; ++i) {
    vd[i] = Line(ud[i]);
    vf[i] = static_cast<float>(Line(uf[i]));
  }
  Grid<double> xd = Uniform<double>(33, 6.0, 0.95 / 32.0);
  Grid<float> xf = Uniform<float>(33, 6.0, 0.95f / 32.0f);

  Grid<float> yf1(33), yf2(33);
  Grid<double> yd1(33), yd2(33);
  ASSERT_TRUE(InterpolateCurve(33, xf.p(), yf1.p(), 20, uf.p(), vf.p()));
  ASSERT_TRUE(InterpolateCurveFromDouble(33, xf.p(), yf2.p(), 20, ud.p(), vd.p()));
  ASSERT_TRUE(InterpolateCurveToDouble(33, xd.p(), yd1.p(), 20, uf.p(), vf.p()));
  ASSERT_TRUE(InterpolateCurveDouble(33, xd.p(), yd2.p(), 20, ud.p(), vd.p()));
  for (int i = 1; i <= 33; ++i) {
    EXPECT_NEAR(yf1[i], Line(xf[i]), 2e-5) << i;
    EXPECT_NEAR(yf2[i], Line(xf[i]), 2e-5) << i;
    EXPECT_NEAR(yd1[i], Line(xd[i]), 2e-5) << i;
    EXPECT_NEAR(yd2[i], Line(xd[i]), 1e-12) << i;
  }
}

TEST(Resampling, IdenticalGridsGiveTheSourceValues) {
  Grid<double> u = Uniform<double>(12, 1.0, 0.3);
  Grid<double> v(12);
  for (int i = 1; i <= 12; ++i) v[i] = std::sin(u[i]);
  Grid<double> y(12);
  ASSERT_TRUE(InterpolateCurveDouble(12, u.p(), y.p(), 12, u.p(), v.p()));
  for (int i = 1; i <= 12; ++i) EXPECT_NEAR(y[i], v[i], 1e-14) << i;
}

// Fewer than five points on either side, or grids meeting only at their ends.
TEST(Resampling, TooLittleOverlapLeavesTheOutputAlone) {
  Grid<double> u4 = Uniform<double>(4, 0.0, 1.0), v4(4, 1.0);
  Grid<double> u9 = Uniform<double>(9, 0.0, 0.5), y9(9, -7.0);
  EXPECT_FALSE(InterpolateCurveDouble(9, u9.p(), y9.p(), 4, u4.p(), v4.p()));
  EXPECT_FALSE(InterpolateCurveDouble(4, u4.p(), v4.p(), 9, u9.p(), y9.p()));
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(y9[i], -7.0);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(v4[i], 1.0);
  // The output starts at the input's fourth point from the end: its fifth point lies
  // beyond the input's fifth point from the end.
  Grid<float> u = Uniform<float>(10, 0.0, 1.0), v(10, 3.0f);
  Grid<float> x = Uniform<float>(10, 6.0, 1.0), y(10, -1.0f);
  EXPECT_FALSE(InterpolateCurve(10, x.p(), y.p(), 10, u.p(), v.p()));
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(y[i], -1.0f);
  // Disjoint ranges as well.
  Grid<float> far = Uniform<float>(10, 20.0, 1.0);
  EXPECT_FALSE(InterpolateCurve(10, far.p(), y.p(), 10, u.p(), v.p()));
}

// Source: 12 points at 1, 2, ..., 12 with values i^2 (not a line, so the end
// rules are visible).
struct Source {
  Grid<double> u = Uniform<double>(12, 1.0, 1.0);
  Grid<double> v{12};
  Source() {
    for (int i = 1; i <= 12; ++i) v[i] = static_cast<double>(i) * i;
  }
};

TEST(Resampling, OutputStartingWithinOneStepIsExtrapolatedFromTheFirstInterval) {
  Source s;
  Grid<double> x = Uniform<double>(10, 0.5, 1.0);
  Grid<double> y(10);
  ASSERT_TRUE(InterpolateCurveDouble(10, x.p(), y.p(), 12, s.u.p(), s.v.p()));
  EXPECT_DOUBLE_EQ(y[1], 1.0 - 0.5 * 3.0);  // line through (1, 1) and (2, 4)
  EXPECT_DOUBLE_EQ(y[2], 2.5);              // inside: between (1, 1) and (2, 4)
}

TEST(Resampling, OutputStartingFartherOutGetsTheMeanOfTheFirstTenValues) {
  Source s;
  Grid<double> x(12);
  x[1] = -1.0;
  x[2] = 0.0;
  x[3] = 0.9;
  for (int i = 4; i <= 12; ++i) x[i] = i - 2.0;
  Grid<double> y(12);
  ASSERT_TRUE(InterpolateCurveDouble(12, x.p(), y.p(), 12, s.u.p(), s.v.p()));
  const double mean = (1 + 4 + 9 + 16 + 25 + 36 + 49 + 64 + 81 + 100) * 0.1;
  EXPECT_NEAR(y[1], mean, 1e-12);
  EXPECT_NEAR(y[2], mean, 1e-12);
  EXPECT_NEAR(y[3], mean, 1e-12);
  EXPECT_DOUBLE_EQ(y[4], 4.0);
}

TEST(Resampling, SourceOfTenPointsUsesItsEndValueFarOut) {
  Grid<double> u = Uniform<double>(10, 1.0, 1.0), v(10);
  for (int i = 1; i <= 10; ++i) v[i] = 3.0 * i;
  Grid<double> x = Uniform<double>(16, -2.0, 1.0);  // -2 .. 13
  Grid<double> y(16);
  ASSERT_TRUE(InterpolateCurveDouble(16, x.p(), y.p(), 10, u.p(), v.p()));
  EXPECT_EQ(y[1], 3.0);   // below: V[1]
  EXPECT_EQ(y[3], 3.0);
  EXPECT_EQ(y[16], 30.0);  // above: V[10]
  EXPECT_EQ(y[14], 30.0);
}

TEST(Resampling, TrailingEndRulesMirrorTheLeadingOnes) {
  Source s;
  // Ends half a step beyond the input: extrapolation from the last interval.
  Grid<double> x = Uniform<double>(10, 3.5, 1.0);  // 3.5 .. 12.5
  Grid<double> y(10);
  ASSERT_TRUE(InterpolateCurveDouble(10, x.p(), y.p(), 12, s.u.p(), s.v.p()));
  EXPECT_DOUBLE_EQ(y[10], 144.0 + 0.5 * (144.0 - 121.0));
  // Ends two steps beyond: mean of the last ten values for every point beyond.
  Grid<double> x2 = Uniform<double>(12, 3.0, 1.0);  // 3 .. 14
  Grid<double> y2(12);
  ASSERT_TRUE(InterpolateCurveDouble(12, x2.p(), y2.p(), 12, s.u.p(), s.v.p()));
  double sum = 0;
  for (int i = 3; i <= 12; ++i) sum += static_cast<double>(i) * i;
  EXPECT_NEAR(y2[11], sum * 0.1, 1e-12);
  EXPECT_NEAR(y2[12], sum * 0.1, 1e-12);
  EXPECT_DOUBLE_EQ(y2[10], 144.0);  // the last input abscissa itself
}

TEST(Resampling, AddingTwiceDoublesTheContribution) {
  Grid<double> u = Uniform<double>(8, 0.0, 1.0), v(8);
  for (int i = 1; i <= 8; ++i) v[i] = 1.0 + i;
  Grid<float> x = Uniform<float>(8, 0.25, 0.5);
  Grid<float> once(8, 0.5f), twice(8, 0.5f);
  ASSERT_TRUE(AddInterpolatedCurveFromDouble(8, x.p(), once.p(), 8, u.p(), v.p()));
  ASSERT_TRUE(AddInterpolatedCurveFromDouble(8, x.p(), twice.p(), 8, u.p(), v.p()));
  ASSERT_TRUE(AddInterpolatedCurveFromDouble(8, x.p(), twice.p(), 8, u.p(), v.p()));
  for (int i = 1; i <= 8; ++i) EXPECT_NEAR(twice[i] - 0.5f, 2.0f * (once[i] - 0.5f), 1e-5) << i;
}

TEST(Resampling, InsideVariantChangesOnlyPointsWithinTheSource) {
  Grid<double> u = Uniform<double>(3, 1.0, 1.0), v(3);
  v[1] = 10.0;
  v[2] = 20.0;
  v[3] = 40.0;
  Grid<double> x = Uniform<double>(9, 0.0, 0.5);  // 0 .. 4
  Grid<double> y(9, -1.0);
  ASSERT_TRUE(InterpolateCurveDoubleInside(9, x.p(), y.p(), 3, u.p(), v.p()));
  EXPECT_EQ(y[1], -1.0);  // 0.0
  EXPECT_EQ(y[2], -1.0);  // 0.5
  EXPECT_DOUBLE_EQ(y[3], 10.0);
  EXPECT_DOUBLE_EQ(y[4], 15.0);
  EXPECT_DOUBLE_EQ(y[6], 30.0);
  EXPECT_DOUBLE_EQ(y[7], 40.0);
  EXPECT_EQ(y[8], -1.0);  // 3.5
  EXPECT_EQ(y[9], -1.0);
}

// Output and source grids: count, first abscissa and step of each.
struct GridCase {
  int nOut;
  double outFirst, outStep;
  int nIn;
  double inFirst, inStep;
};

// A plan made once gives what the direct resampling gives, to the rounding of the
// float output, for every end rule (output inside, within one interval beyond the
// ends, far beyond them, sources of ten and more points, repeated abscissae), is
// reused for curves on the same grids only, and writes nothing when a guard fails.
TEST(Resampling, PlannedResamplingMatchesTheDirectOneForEveryEndRule) {
  const GridCase cases[] = {
      {40, 6.1, 0.02, 300, 6.0, 0.004},    // inside
      {40, 5.999, 0.03, 300, 6.0, 0.004},  // within one interval below
      {40, 5.5, 0.05, 300, 6.0, 0.004},    // far out on both sides
      {30, 5.5, 0.05, 10, 6.0, 0.05},      // ten source points: the end values
      {25, 6.0, 0.01, 200, 6.0, 0.001},    // first output on the first source point
  };
  for (const GridCase& k : cases) {
    Grid<float> x = Uniform<float>(k.nOut, k.outFirst, k.outStep);
    Grid<double> u = Uniform<double>(k.nIn, k.inFirst, k.inStep);
    if (k.nIn > 20) u[7] = u[6];  // a repeated abscissa
    ResamplingPlan plan;
    ASSERT_TRUE(plan.Plan(k.nOut, x.p(), k.nIn, u.p()));
    for (int curve = 0; curve < 3; ++curve) {
      Grid<double> v(k.nIn);
      for (int i = 1; i <= k.nIn; ++i) v[i] = std::sin(3.0 * u[i] + curve) + 0.1 * curve * u[i];
      Grid<float> direct(k.nOut, -7.0f), planned(k.nOut, -7.0f);
      ASSERT_TRUE(InterpolateCurveFromDouble(k.nOut, x.p(), direct.p(), k.nIn, u.p(), v.p()));
      ASSERT_TRUE(plan.IsFor(k.nOut, x.p(), k.nIn, u.p()));
      ASSERT_TRUE(plan.Apply(v.p(), planned.p()));
      for (int i = 1; i <= k.nOut; ++i)
        EXPECT_NEAR(planned[i], direct[i], 2e-7 * (1.0 + std::fabs(direct[i]))) << i;
    }
    Grid<double> moved = u;
    moved[k.nIn / 2] += 1e-9;
    EXPECT_FALSE(plan.IsFor(k.nOut, x.p(), k.nIn, moved.p()));
  }
  // No overlap: an empty plan leaves the output alone.
  Grid<float> x = Uniform<float>(10, 8.0, 0.1), y(10, 3.0f);
  Grid<double> u = Uniform<double>(20, 6.0, 0.01), v(20, 1.0);
  ResamplingPlan plan;
  EXPECT_FALSE(plan.Plan(10, x.p(), 20, u.p()));
  EXPECT_FALSE(plan.Apply(v.p(), y.p()));
  EXPECT_EQ(y[5], 3.0f);
}

// The planned lines against their definition, bit for bit: the interval of x found
// by a search of its own, w = (x - u[k]) / (u[k+1] - u[k]), and the two products
// summed in double and rounded once to float. Grids with several outputs per
// interval, outputs that skip many intervals, a repeated abscissa, outputs up to
// the last source point and extrapolated ends; the vector form (where the processor
// has it) and the plain form give the same bits.
TEST(Resampling, PlannedLinesRoundAsTheirDefinition) {
  const GridCase cases[] = {
      {1501, 5.95, 0.0008, 230, 5.9, 0.0059},  // about five outputs per interval
      {601, 6.0, 0.002, 1200, 6.0, 0.001},     // each output skips an interval
      {90, 6.0, 0.013, 900, 6.0, 0.0013},      // ten intervals between outputs
      {333, 5.999, 0.003, 97, 6.0, 0.0104},    // one interval below, ends on u[m]
      {64, 6.0, 0.0005, 40, 6.0, 0.0008},      // the last outputs extrapolated
  };
  for (const GridCase& c : cases) {
    Grid<float> x = Uniform<float>(c.nOut, c.outFirst, c.outStep);
    Grid<double> u = Uniform<double>(c.nIn, c.inFirst, c.inStep);
    u[12] = u[11];  // a repeated abscissa
    Grid<double> v(c.nIn);
    for (int i = 1; i <= c.nIn; ++i) v[i] = std::exp(-std::pow((u[i] - 6.2) / 0.05, 2)) + 1e-3 * i;
    ResamplingPlan plan;
    ASSERT_TRUE(plan.Plan(c.nOut, x.p(), c.nIn, u.p()));
    Grid<float> fast(c.nOut, -1.0f), plain(c.nOut, -2.0f);
    ASSERT_TRUE(plan.Apply(v.p(), fast.p()));
    ASSERT_TRUE(plan.ApplyPlain(v.p(), plain.p()));
    // Each vector form the processor has, whichever Apply chose.
    for (ResamplingLanes lanes : {ResamplingLanes::Avx2, ResamplingLanes::Avx512}) {
      Grid<float> laned(c.nOut, -3.0f);
      if (!plan.ApplyInLanes(lanes, v.p(), laned.p())) continue;
      EXPECT_EQ(std::memcmp(&laned[1], &plain[1], sizeof(float) * static_cast<std::size_t>(c.nOut)), 0)
          << c.nOut << " lanes " << static_cast<int>(lanes);
    }
    int lines = 0;
    for (int i = 1; i <= c.nOut; ++i) {
      EXPECT_EQ(std::memcmp(&fast[i], &plain[i], sizeof(float)), 0) << c.nOut << " " << i;
      const double xi = x[i];
      if (xi < u[1] && xi < 2 * u[1] - u[2]) continue;  // the constant ends
      if (xi > u[c.nIn] && x[c.nOut] > 2 * u[c.nIn] - u[c.nIn - 1]) continue;
      int k = 1;
      if (xi > u[c.nIn]) {
        k = c.nIn - 1;
      } else if (xi >= u[1]) {
        while (k + 1 < c.nIn && u[k + 1] <= xi) ++k;
      }
      const double width = u[k + 1] - u[k];
      const double w = width == 0 ? 1.0 : (xi - u[k]) / width;
      volatile double left = (1.0 - w) * v[k];
      volatile double right = w * v[k + 1];
      const auto expected = static_cast<float>(left + right);
      EXPECT_EQ(std::memcmp(&fast[i], &expected, sizeof(float)), 0) << c.nOut << " " << i;
      ++lines;
    }
    EXPECT_GT(lines, c.nOut / 2);
  }
}

// A plan for output radii kept at one address is found by that address and by the
// source grid's values.
TEST(Resampling, FixedOutputPlansAreFoundByAddressAndSourceValues) {
  Grid<float> x = Uniform<float>(50, 6.0, 0.01), copy = x;
  Grid<double> u = Uniform<double>(80, 5.99, 0.007);
  ResamplingPlan plan;
  ASSERT_TRUE(plan.Plan(50, x.p(), 80, u.p()));
  EXPECT_TRUE(plan.IsForFixedOutput(50, x.p(), 80, u.p()));
  EXPECT_FALSE(plan.IsForFixedOutput(50, copy.p(), 80, u.p()));
  u[40] += 1e-12;
  EXPECT_FALSE(plan.IsForFixedOutput(50, x.p(), 80, u.p()));
}

TEST(PolynomialInterpolation, ThreePointsReproduceTheirParabola) {
  auto f = [](float x) { return 0.5f * x * x - 2.0f * x + 3.0f; };
  float xa[4] = {0.0f, -1.0f, 0.5f, 2.0f};
  float ya[4] = {0.0f, f(xa[1]), f(xa[2]), f(xa[3])};
  for (float x : {-3.0f, -1.0f, 0.0f, 0.75f, 2.0f, 4.5f}) {
    float y = 0.0f;
    float dy = 1.0f;
    polint(xa, ya, 3, x, &y, &dy);
    EXPECT_NEAR(y, f(x), 1e-4f * (1.0f + std::fabs(f(x)))) << x;
  }
}

TEST(PolynomialInterpolation, EqualAbscissaeEndTheCommand) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  float xa[4] = {0, 1.0f, 2.0f, 2.0f};
  float ya[4] = {0, 1.0f, 2.0f, 3.0f};
  float y = 0.0f, dy = 0.0f;
  EXPECT_THROW(polint(xa, ya, 3, 1.5f, &y, &dy), FatalError);
  EXPECT_EQ(backend->Transcript().size(), 1u);
}

}  // namespace
}  // namespace tarmic
