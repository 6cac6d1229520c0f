// The shared numerical core of the Lamm solvers: element integrals, tridiagonal
// solves and the step-length control.
#include <gtest/gtest.h>

#include "lamm/radial_corrections.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "lamm/element_integrals.h"
#include "lamm/lamm_globals.h"
#include "lamm/moving_hat_core.h"
#include "lamm/special_geometry.h"
#include "lamm/step_control.h"
#include "lamm/tridiagonal.h"

namespace tarmic {
namespace {

// A strictly ascending grid of N radii between 6.0 and 7.2 with random spacing.
std::vector<double> RandomGrid(int N, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.5, 1.5);
  std::vector<double> r(N + 1, 0.0), steps(N, 0.0);
  double sum = 0;
  for (int i = 1; i < N; ++i) sum += steps[i] = u(gen);
  r[1] = 6.0;
  for (int i = 2; i <= N; ++i) r[i] = r[i - 1] + 1.2 * steps[i - 1] / sum;
  return r;
}

std::vector<double> UniformGrid(int N) {
  std::vector<double> r(N + 1, 0.0);
  for (int i = 1; i <= N; ++i) r[i] = 6.0 + 1.2 * (i - 1) / (N - 1);
  return r;
}

// Reference: the integral of f over [a, b] by a 5-point Gauss rule on 64 pieces
// (exact enough for the low-degree polynomials here).
template <class F>
double Quadrature(F f, double a, double b) {
  static const double x[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831,
                              0.9061798459386640};
  static const double w[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889,
                              0.4786286704993665, 0.2369268850561891};
  double sum = 0;
  const int pieces = 64;
  for (int p = 0; p < pieces; ++p) {
    const double lo = a + (b - a) * p / pieces, hi = a + (b - a) * (p + 1) / pieces;
    for (int q = 0; q < 5; ++q) sum += w[q] * (hi - lo) / 2 * f((lo + hi) / 2 + (hi - lo) / 2 * x[q]);
  }
  return sum;
}

double Hat(const std::vector<double>& r, int N, int i, double x) {
  if (i > 1 && x >= r[i - 1] && x <= r[i]) return (x - r[i - 1]) / (r[i] - r[i - 1]);
  if (i < N && x >= r[i] && x <= r[i + 1]) return (r[i + 1] - x) / (r[i + 1] - r[i]);
  return 0.0;
}
double HatSlope(const std::vector<double>& r, int N, int i, double x) {
  if (i > 1 && x > r[i - 1] && x < r[i]) return 1 / (r[i] - r[i - 1]);
  if (i < N && x > r[i] && x < r[i + 1]) return -1 / (r[i + 1] - r[i]);
  return 0.0;
}
// Integral over the whole grid, element by element (so that slopes are defined).
template <class F>
double OverGrid(const std::vector<double>& r, int N, F f) {
  double sum = 0;
  for (int e = 1; e < N; ++e) sum += Quadrature(f, r[e], r[e + 1]);
  return sum;
}

TEST(ElementIntegrals, ClosedFormsEqualTheIntegralsOnAnIrregularGrid) {
  const int N = 9;
  const auto r = RandomGrid(N, 7);
  for (int i = 1; i <= N; ++i) {
    EXPECT_NEAR(IntegrateNodeWeight(r.data(), N, i, N),
                OverGrid(r, N, [&](double x) { return x * Hat(r, N, i, x); }), 1e-12);
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      EXPECT_NEAR(IntegrateMassElement(r.data(), N, i, j, N),
                  OverGrid(r, N, [&](double x) { return x * Hat(r, N, i, x) * Hat(r, N, j, x); }), 1e-12);
      EXPECT_NEAR(IntegrateStiffnessElement(r.data(), N, i, j, N),
                  OverGrid(r, N, [&](double x) { return x * HatSlope(r, N, i, x) * HatSlope(r, N, j, x); }),
                  1e-9);
      EXPECT_NEAR(IntegrateSedimentationElement(r.data(), N, i, j, N),
                  OverGrid(r, N, [&](double x) { return x * x * HatSlope(r, N, i, x) * Hat(r, N, j, x); }),
                  1e-10);
      for (int k = std::max(1, i - 1); k <= std::min(N, i + 1); ++k) {
        EXPECT_NEAR(IntegrateStiffnessElement3(r.data(), N, i, j, k),
                    OverGrid(r, N, [&](double x) {
                      return x * HatSlope(r, N, i, x) * HatSlope(r, N, j, x) * Hat(r, N, k, x);
                    }),
                    1e-9);
        EXPECT_NEAR(IntegrateSedimentationElement3(r.data(), N, i, j, k),
                    OverGrid(r, N, [&](double x) {
                      return x * x * HatSlope(r, N, i, x) * Hat(r, N, j, x) * Hat(r, N, k, x);
                    }),
                    1e-10);
      }
    }
  }
}

TEST(ElementIntegrals, MassRowsSumToNodeWeightsAndStiffnessRowsToZero) {
  const int N = 12;
  const auto r = RandomGrid(N, 3);
  for (int n : {N, 7}) {
    double total = 0;
    for (int i = 1; i <= n; ++i) {
      double mass = 0, stiffness = 0, sedimentationColumn = 0;
      for (int j = 1; j <= N; ++j) {
        mass += IntegrateMassElement(r.data(), N, i, j, n);
        stiffness += IntegrateStiffnessElement(r.data(), N, i, j, n);
        sedimentationColumn += IntegrateSedimentationElement(r.data(), N, j, i, n);
      }
      EXPECT_NEAR(mass, IntegrateNodeWeight(r.data(), N, i, n), 1e-13);
      EXPECT_NEAR(stiffness, 0.0, 1e-9);
      EXPECT_NEAR(sedimentationColumn, 0.0, 1e-11);  // slopes of all hats sum to 0
      total += IntegrateNodeWeight(r.data(), N, i, n);
    }
    EXPECT_NEAR(total, (r[n] * r[n] - r[1] * r[1]) / 2, 1e-12);
    // Beyond the nodes in use everything is 0.
    EXPECT_EQ(IntegrateMassElement(r.data(), N, n + 1, n + 1, n), 0.0L);
  }
  EXPECT_EQ(IntegrateMassElement(r.data(), N, 1, 3, N), 0.0L);
  EXPECT_EQ(IntegrateStiffnessElement(r.data(), N, 0, 1, N), 0.0L);
}

TEST(ElementIntegrals, EquidistantFormsEqualTheGeneralFormsOnAUniformGrid) {
  const int N = 10;
  const auto r = UniformGrid(N);
  const double h = EquidistantStep(6.0, 7.2, N);
  for (int i = 1; i <= N; ++i)
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      EXPECT_NEAR(IntegrateMassElementEquidistant(r.data(), N, h, i, j),
                  IntegrateMassElement(r.data(), N, i, j, N), 1e-13);
      for (int k = std::max(1, i - 1); k <= std::min(N, i + 1); ++k) {
        EXPECT_NEAR(IntegrateStiffnessElement3Equidistant(r.data(), N, h, i, j, k),
                    IntegrateStiffnessElement3(r.data(), N, i, j, k), 1e-9);
        EXPECT_NEAR(IntegrateSedimentationElement3Equidistant(r.data(), N, h, i, j, k),
                    IntegrateSedimentationElement3(r.data(), N, i, j, k), 1e-11);
      }
    }
}

// The moving-grid frame element is minus the integral of r u phi_i phi_j' with the
// node velocity u that vanishes at the pinned end nodes, and R = G - Q.
TEST(ElementIntegrals, FrameElementsOfTheMovingGrid) {
  const int N = 8;
  const auto r = RandomGrid(N, 11);
  auto u = [&](double x) {
    double v = 0;
    for (int k = 2; k < N; ++k) v += r[k] * Hat(r, N, k, x);
    return v;
  };
  for (int i = 1; i <= N; ++i)
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      const double G = OverGrid(r, N, [&](double x) { return -x * u(x) * Hat(r, N, i, x) * HatSlope(r, N, j, x); });
      EXPECT_NEAR(IntegrateFrameElement(r.data(), N, i, j), G, 1e-10) << i << "," << j;
      EXPECT_NEAR(IntegrateFrameMotionElementRef(r.data(), N, i, j), G, 1e-10);
      EXPECT_NEAR(IntegrateRelativeFrameElement(r.data(), N, i, j),
                  G - IntegrateSedimentationElement(r.data(), N, i, j, N), 1e-10)
          << i << "," << j;
    }
}

// The amount on the moving grid at any time of its interval: the ends placed at
// m/e and b/e, times e^2. A uniform profile c holds c (b^2 - m^2) / 2 at every time,
// a linear one c = r the integral of r^2 from m to b; a negative profile holds all of
// it as negative part; the reference grid stays as laid.
TEST(MovingHatAmount, AmountsOfTheMovingGridAreThoseOfTheCell) {
  constexpr int N = 40;
  const double m = 6.0, b = 7.2;
  for (const bool inward : {false, true}) {
    std::vector<double> r0(N + 1);
    const double ratio = LayMovingHatGrid(r0.data(), N, m, b, inward);
    const std::vector<double> laid = r0;
    const double sw2 = (inward ? -1 : 1) * 1e-4;
    const double T = std::log(ratio) / std::fabs(sw2);
    for (const double tau : {0.0, 0.3 * T, T}) {
      const double e = std::exp(sw2 * tau);
      std::vector<double> uniform(N + 1, 2.0), linear(N + 1), negative(N + 1, -1.0);
      linear[1] = m;
      linear[N] = b;
      for (int i = 2; i < N; ++i) linear[i] = r0[i] * e;  // c = r at the real radii
      const ProfileAmount u = MovingHatAmountAt(r0.data(), N, m, b, sw2, tau, uniform.data());
      EXPECT_NEAR(u.net, b * b - m * m, 1e-12);
      EXPECT_EQ(u.negative, 0.0);
      // Linear elements hold c = r exactly.
      const ProfileAmount l = MovingHatAmountAt(r0.data(), N, m, b, sw2, tau, linear.data());
      EXPECT_NEAR(l.net / ((b * b * b - m * m * m) / 3), 1.0, 1e-12);
      const ProfileAmount n = MovingHatAmountAt(r0.data(), N, m, b, sw2, tau, negative.data());
      EXPECT_NEAR(n.negative, 0.5 * (b * b - m * m), 1e-12);
      EXPECT_NEAR(n.Absolute(), -n.net, 1e-12);
    }
    EXPECT_EQ(r0, laid);
  }
}

TEST(Tridiagonal, FactorsAreReusedForTheSameMatrix) {
  const int n = 6;
  std::vector<double> l(n + 1), d(n + 1), u(n + 1), rhs(n + 1), x(n + 1), y(n + 1), gam(n + 1), bet(n + 1);
  for (int i = 1; i <= n; ++i) {
    l[i] = -1.0 - 0.1 * i;
    d[i] = 4.0 + i;
    u[i] = -0.5;
    rhs[i] = std::sin(i);
  }
  const Tridiagonal T{l.data(), d.data(), u.data()};
  ASSERT_EQ(TridagFactorSolve(T, rhs.data(), x.data(), n, {gam.data(), bet.data()}), TridagStatus::Ok);
  std::vector<double> back(n + 1);
  TridiagProduct(T, x.data(), back.data(), n);
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(back[i], rhs[i], 1e-14);
  TridagReuseSolve(l.data(), rhs.data(), y.data(), n, {gam.data(), bet.data()});
  for (int i = 1; i <= n; ++i) EXPECT_EQ(y[i], x[i]);
}

// The step of kept factors in one pass (product and substitutions) gives the bits
// of the product followed by the substitutions, for every parity of the rows and
// every start of the window.
TEST(Tridiagonal, FusedProductAndSolveGiveTheBitsOfTheTwoPasses) {
  for (int n : {2, 3, 4, 5, 8, 9, 221}) {
    std::vector<double> l(n + 1), d(n + 1), u(n + 1), el(n + 1), ed(n + 1), eu(n + 1), v(n + 1);
    for (int i = 1; i <= n; ++i) {
      l[i] = -1.0 - 0.013 * i;
      d[i] = 3.7 + std::cos(i);
      u[i] = -0.9 + 0.001 * i;
      el[i] = 0.31 + 0.002 * i;
      ed[i] = 1.9 - std::sin(0.3 * i);
      eu[i] = 0.27;
      v[i] = std::exp(-0.01 * i) * (1.0 + 0.1 * std::sin(7.0 * i));
    }
    std::vector<double> gam(n + 1), bet(n + 1), x(n + 1);
    const Tridiagonal T{l.data(), d.data(), u.data()};
    const ConstTridiagonal E{el.data(), ed.data(), eu.data()};
    for (int first : {1, 2, 3, n - 1}) {
      if (first < 1 || first >= n) continue;
      std::vector<double> rhs(n + 1, 5.0), twoPass(n + 1, 7.0), rhsFused(n + 1, 6.0), fused(n + 1, 8.0);
      TridiagProduct(E, v.data(), rhs.data(), n, first);
      ASSERT_EQ(TridagFactorSolve(T, rhs.data(), x.data(), n, {gam.data(), bet.data()}, first), TridagStatus::Ok);
      TridagReuseSolve(l.data(), rhs.data(), twoPass.data(), n, {gam.data(), bet.data()}, first);
      TridagProductReuseSolve(E, v.data(), l.data(), rhsFused.data(), fused.data(), n,
                              {gam.data(), bet.data()}, first);
      for (int i = 1; i <= n; ++i) {
        ASSERT_EQ(std::memcmp(&fused[i], &twoPass[i], sizeof(double)), 0) << n << " " << first << " " << i;
        ASSERT_EQ(std::memcmp(&rhsFused[i], &rhs[i], sizeof(double)), 0) << n << " " << first << " " << i;
      }
    }
  }
}

// A vanishing or non-finite pivot makes the solve fail; it never yields a profile.
TEST(Tridiagonal, EveryPivotIsChecked) {
  const int n = 4;
  std::vector<double> l = {0, 0, 1, 1, 1}, d = {0, 0, 2, 2, 2}, u = {0, 1, 1, 1, 0};
  std::vector<double> rhs(n + 1, 1.0), x(n + 1), gam(n + 1), bet(n + 1);
  Tridiagonal T{l.data(), d.data(), u.data()};
  EXPECT_EQ(TridagFactorSolve(T, rhs.data(), x.data(), n, {gam.data(), bet.data()}), TridagStatus::FirstPivot);
  d[1] = 1.0;  // row 2: 2 - 1 x 1/1 = 1; row 3: 2 - 1 x 1 = 1 ...
  d[2] = 1.0;  // row 2 pivot: 1 - 1 = 0
  EXPECT_EQ(TridagFactorSolve(T, rhs.data(), x.data(), n, {gam.data(), bet.data()}), TridagStatus::LaterPivot);
  d[2] = std::nan("");
  EXPECT_EQ(TridagFactorSolve(T, rhs.data(), x.data(), n, {gam.data(), bet.data()}), TridagStatus::LaterPivot);
}

// With an active window the unknowns before it are 0, and the window rows are those
// of the whole system whose right-hand side vanishes before the window.
TEST(Tridiagonal, WindowedSolveZeroesTheCutRegion) {
  const int n = 8, first = 4;
  std::vector<double> l(n + 1, -1.0), d(n + 1, 3.0), u(n + 1, -1.0), rhs(n + 1, 1.0), x(n + 1, 9.0),
      full(n + 1), gam(n + 1), bet(n + 1);
  for (int i = 1; i < first; ++i) rhs[i] = 0.0;
  const Tridiagonal T{l.data(), d.data(), u.data()};
  ASSERT_EQ(TridagFactorSolve(T, rhs.data(), x.data(), n, {gam.data(), bet.data()}, first), TridagStatus::Ok);
  ASSERT_EQ(TridagFactorSolve(T, rhs.data(), full.data(), n, {gam.data(), bet.data()}), TridagStatus::Ok);
  for (int i = 1; i < first; ++i) EXPECT_EQ(x[i], 0.0);
  for (int i = first; i <= n; ++i) EXPECT_NEAR(x[i], full[i], 1e-15);
}

TEST(StepControl, ShrinkAndGrowStayWithinAFactorOfTen) {
  StepControlSettings s;
  double prev = 0;
  bool floored = false;
  // A change of 2 aims at 0.3/2 x dt; blended fully: 0.15 dt.
  EXPECT_NEAR(ShrinkStep(10.0, 2.0, s, &prev, &floored), 1.5, 1e-12);
  EXPECT_EQ(prev, 10.0);
  // An aim within 0.8-1.2 of the old length is halved.
  EXPECT_NEAR(ShrinkStep(10.0, 0.3, s, &prev, &floored), 5.0, 1e-12);
  // A huge change: never below 0.1 dt.
  EXPECT_NEAR(ShrinkStep(10.0, 1e6, s, &prev, &floored), 1.0, 1e-12);
  // Tiny change: never above 10 dt, nor above the largest step.
  EXPECT_NEAR(GrowStep(10.0, 1e-6, s, &prev), 100.0, 1e-12);
  s.dtMax = 50.0;
  EXPECT_NEAR(GrowStep(10.0, 1e-6, s, &prev), 50.0, 1e-12);
  // Nothing changed: ten times the step, without the growth rule cancelling it.
  EXPECT_NEAR(NextStepAfterAccept(10.0, 0.0, 0.1, s, &prev), 100.0, 1e-12);
  EXPECT_NEAR(NextStepAfterAccept(10.0, 0.2, 0.1, s, &prev), 10.0, 1e-12);
  floored = false;
  ShrinkStep(1e-15, 10.0, s, &prev, &floored);
  EXPECT_TRUE(floored);
}

TEST(Romberg, IntegratesACubicExactly) {
  int calls = 0;
  const double v = RombergIntegrate([&](double x) { ++calls; return x * x * x - 2 * x + 1; }, 0.0, 2.0);
  EXPECT_NEAR(v, 4.0 - 4.0 + 2.0, 1e-12);
  EXPECT_LE(calls, 2 + 1 + 2 + 4 + 8);  // returned after the fifth refinement
}

class SpecialGeometry : public ::testing::Test {
 protected:
  void SetUp() override { ResetLammGlobals(); }
  void TearDown() override { ResetLammGlobals(); }
  const int N = 20;
  std::vector<double> r = UniformGrid(20);
};

// The taper of the external loading cell: with no oil it starts 0.0373 cm inside the
// last node (weight 0.689 there); 0.01 ml of oil fill 0.0317 cm of it (weight 0.953).
TEST_F(SpecialGeometry, LoadingCellTaperWeights) {
  LammGlobals().bExternalLoadingCell = true;
  LammGlobals().fLoadingCellOilVolume = 0.0f;
  GeometryWeight g = SelectGeometryWeight(r.data(), N);
  EXPECT_NEAR(LoadingCellWeight(g, r[N]), 0.689, 1e-12);
  LammGlobals().fLoadingCellOilVolume = 0.01f;
  g = SelectGeometryWeight(r.data(), N);
  EXPECT_NEAR(g.oilHeight, 0.0317, 5e-5);
  EXPECT_NEAR(LoadingCellWeight(g, r[N]), 0.953, 5e-4);
  EXPECT_EQ(LoadingCellWeight(g, r[N - 1]), 1.0);
}

// Elements away from the taper, or with the taper full of oil, are those of the
// planar cell; inside the taper they carry its narrowing.
TEST_F(SpecialGeometry, LoadingCellElementsMatchThePlanarCellAboveTheTaper) {
  LammGlobals().bLinearGeometry = true;
  const GeometryWeight planar = SelectGeometryWeight(r.data(), N);
  std::vector<long double> mass, sed;
  for (int i = 1; i <= N; ++i) {
    mass.push_back(IntegrateMassElementGeom(r.data(), N, 6.0, 7.2, planar, i, i));
    sed.push_back(IntegrateSedimentationElementGeom(r.data(), N, 6.0, 7.2, planar, i, std::max(1, i - 1)));
  }
  LammGlobals().bLinearGeometry = false;
  LammGlobals().bExternalLoadingCell = true;
  for (float oil : {0.0f, 0.02f}) {
    LammGlobals().fLoadingCellOilVolume = oil;
    const GeometryWeight g = SelectGeometryWeight(r.data(), N);
    for (int i = 1; i <= N; ++i) {
      const long double m = IntegrateMassElementGeom(r.data(), N, 6.0, 7.2, g, i, i);
      const long double s = IntegrateSedimentationElementGeom(r.data(), N, 6.0, 7.2, g, i, std::max(1, i - 1));
      if (oil > 0.0121f || i < N - 1) {
        EXPECT_NEAR(m, mass[i - 1], 1e-9) << i;
        EXPECT_NEAR(s, sed[i - 1], 1e-9) << i;
      } else if (i == N) {
        EXPECT_LT(m, mass[i - 1]);  // the narrowing channel holds less
      }
    }
  }
  // The numerical route of the planar weight equals the closed form.
  LammGlobals().bExternalLoadingCell = false;
  LammGlobals().bPlanarQuadrature = true;
  const GeometryWeight numeric = SelectGeometryWeight(r.data(), N);
  for (int i = 2; i < N; ++i)
    EXPECT_NEAR(IntegrateMassElementGeom(r.data(), N, 6.0, 7.2, numeric, i, i - 1), mass[0] / 2, 1e-9);
}

}  // namespace
// The excitation shadow at its limits: a cone radius of 0 changes nothing; half the
// signal at the bottom and none a cone radius below it.
TEST(RadialCorrections, ExcitationShadowAtItsLimits) {
  const int n = 101;
  std::vector<float> r(n + 1), c(n + 1), flat(n + 1, 0.7f);
  for (int i = 1; i <= n; ++i) r[i] = 6.0f + 0.01f * (i - 1);
  c = flat;
  ApplyExcitationShadow(n, r.data(), c.data(), 0.0f, 7.0f);
  EXPECT_EQ(c, flat);
  ApplyExcitationShadow(n, r.data(), c.data(), 0.05f, 6.9f);
  EXPECT_FLOAT_EQ(c[80], 0.7f);                  // 6.79: more than w above the bottom
  EXPECT_NEAR(c[91], 0.35f, 1e-5f);              // 6.90: at the bottom
  EXPECT_FLOAT_EQ(c[97], 0.0f);                  // 6.96: more than w below it
}

// The blurs of a profile computed over the cell, against the closed forms of a
// step p at rb = 6.5 cm blurred by the Gaussian exp(-(dr/w)^2) cut off at R: the
// weight beyond rb is F = (erf(R/w) - erf((rb - x)/w)) / (2 erf(R/w)). The grid
// (0.02 cm, the step a pair of points) is coarser than the resolution's window; the
// blur acts at every output spacing, a constant stays constant up to the cell ends,
// and opaque values stay.
TEST(RadialCorrections, BlursOfACellProfileAreTheGaussianConvolutions) {
  const double m = 6.0, b = 7.2, rb = 6.5, p = 1.2;
  std::vector<double> r{0.0}, c{0.0};
  for (int i = 0; i <= 60; ++i) {
    const double x = m + 0.02 * i;
    if (std::fabs(x - rb) < 1e-9) {
      r.push_back(rb);
      c.push_back(0.0);
    }
    r.push_back(x);
    c.push_back(x >= rb - 1e-9 ? p : 0.0);
  }
  const int n = static_cast<int>(r.size()) - 1;
  const int k = 81;
  std::vector<float> x(k + 1), y(k + 1);
  for (int j = 1; j <= k; ++j) x[j] = static_cast<float>(rb - 0.04 + 0.001 * (j - 1));
  auto weightBeyond = [&](double at, double w, double R) {
    const double u = std::clamp((rb - at) / w, -R / w, R / w);
    return (std::erf(R / w) - std::erf(u)) / (2 * std::erf(R / w));
  };

  CellOptics fluorescence;
  fluorescence.meniscus = m;
  fluorescence.bottom = b;
  fluorescence.fluorescence.convolution = true;
  fluorescence.fluorescence.width = 0.01f;
  fluorescence.fluorescence.distFactor = 2.0f;
  ASSERT_TRUE(RecordCellProfile(n, r.data(), c.data(), fluorescence, 0.0, k, x.data(), y.data()));
  for (int j = 1; j <= k; ++j) EXPECT_NEAR(y[j], p * weightBeyond(x[j], 0.01, 0.02), 2e-6) << x[j];

  CellOptics resolution;
  resolution.meniscus = m;
  resolution.bottom = b;
  resolution.resolution = true;
  resolution.resolutionRange = 0.008f;
  const double w = kResolutionWidthPerRange * 0.008;
  ASSERT_TRUE(RecordCellProfile(n, r.data(), c.data(), resolution, 0.0, k, x.data(), y.data()));
  for (int j = 1; j <= k; ++j) {
    const double T = 1 + (std::pow(10.0, -p) - 1) * weightBeyond(x[j], w, 2 * w);
    EXPECT_NEAR(y[j], -std::log10(T), 2e-5) << x[j];
  }

  // A constant: unchanged at the meniscus and the bottom and at radii that end
  // inside the cell; an opaque value stays as it is.
  std::vector<double> flat(c.size(), 0.7);
  std::vector<float> ends{0.0f, 6.0f, 6.005f, 6.3f, 6.9f, 7.195f, 7.2f};
  std::vector<float> out(ends.size());
  for (CellOptics* o : {&fluorescence, &resolution}) {
    ASSERT_TRUE(RecordCellProfile(n, r.data(), flat.data(), *o, 0.0, 6, ends.data(), out.data()));
    for (int j = 1; j <= 6; ++j) EXPECT_NEAR(out[j], 0.7f, 1e-6f) << ends[j];
  }
  std::vector<double> opaque(c.size(), 150.0);
  ASSERT_TRUE(RecordCellProfile(n, r.data(), opaque.data(), resolution, 0.0, 6, ends.data(), out.data()));
  for (int j = 1; j <= 6; ++j) EXPECT_EQ(out[j], 150.0f);

  // The excitation shadow under the convolution is the same on a coarse solver grid
  // as on a fine one (it sets in steeply one cone radius above the bottom).
  CellOptics shadowed = fluorescence;
  shadowed.fluorescence.width = 0.005f;
  shadowed.fluorescence.shadow = true;
  shadowed.fluorescence.coneRadius = 0.1f;
  float at[4] = {0.0f, 7.0975f, 7.1f, 7.15f}, coarse[4], fine[4];
  for (int N : {100, 20000}) {
    std::vector<double> rg(N + 1), one(N + 1, 1.0);
    for (int i = 1; i <= N; ++i) rg[i] = m + (b - m) * (i - 1) / (N - 1);
    ASSERT_TRUE(RecordCellProfile(N, rg.data(), one.data(), shadowed, 0.0, 3, at, N == 100 ? coarse : fine));
  }
  for (int j = 1; j <= 3; ++j) EXPECT_NEAR(coarse[j], fine[j], 2e-5) << at[j];
  EXPECT_LT(fine[2], 0.99f);
}

}  // namespace tarmic
