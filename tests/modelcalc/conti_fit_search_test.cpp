// The surface search of the distributions' refinement: on bowls of known minimum and
// standard errors (one to three values, correlated, with a scatter of the values),
// and on the c(s) Fit of meniscus and f/f0 against a fine grid of the same objective.
#include "modelcalc/surface_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tests/modelcalc/modelcalc_test_support.h"

#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/install_hooks.h"
#include "modelcalc/conti_fit.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/evaluated_points.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/modelfit_hooks.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

using test::Idx;

// ---- An independent quadratic fit: plain least squares by normal equations --------

bool Solve(std::vector<double> a, std::vector<double> b, int n, std::vector<double>& x) {
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::abs(a[Idx(r * n + c)]) > std::abs(a[Idx(p * n + c)])) p = r;
    if (!(std::abs(a[Idx(p * n + c)]) > 0.0)) return false;
    for (int k = 0; k < n; ++k) std::swap(a[Idx(c * n + k)], a[Idx(p * n + k)]);
    std::swap(b[Idx(c)], b[Idx(p)]);
    for (int r = c + 1; r < n; ++r) {
      const double f = a[Idx(r * n + c)] / a[Idx(c * n + c)];
      for (int k = c; k < n; ++k) a[Idx(r * n + k)] -= f * a[Idx(c * n + k)];
      b[Idx(r)] -= f * b[Idx(c)];
    }
  }
  x.assign(Idx(n), 0.0);
  for (int r = n - 1; r >= 0; --r) {
    double v = b[Idx(r)];
    for (int k = r + 1; k < n; ++k) v -= a[Idx(r * n + k)] * x[Idx(k)];
    x[Idx(r)] = v / a[Idx(r * n + r)];
  }
  return true;
}

// The minimum of the quadratic through values z (chi-square units) at points u, and
// each entry's standard error from its curvature (covariance 2 H^-1).
struct GridBowl {
  bool ok = false;
  std::vector<double> minimum, se;
};
GridBowl FitGrid(const std::vector<std::vector<double>>& u, const std::vector<double>& z, int n) {
  const int q = (n + 1) * (n + 2) / 2;
  std::vector<double> ata(Idx(q * q), 0.0), atz(Idx(q), 0.0), beta;
  for (std::size_t k = 0; k < z.size(); ++k) {
    std::vector<double> r{1.0};
    for (int i = 0; i < n; ++i) r.push_back(u[k][Idx(i)]);
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) r.push_back(i == j ? 0.5 * u[k][Idx(i)] * u[k][Idx(i)] : u[k][Idx(i)] * u[k][Idx(j)]);
    for (int i = 0; i < q; ++i) {
      atz[Idx(i)] += r[Idx(i)] * z[k];
      for (int j = 0; j < q; ++j) ata[Idx(i * q + j)] += r[Idx(i)] * r[Idx(j)];
    }
  }
  GridBowl bowl;
  if (!Solve(ata, atz, q, beta)) return bowl;
  std::vector<double> h(Idx(n * n)), g(Idx(n));
  int c = 1 + n;
  for (int i = 0; i < n; ++i) {
    g[Idx(i)] = -beta[Idx(1 + i)];
    for (int j = i; j < n; ++j, ++c) h[Idx(i * n + j)] = h[Idx(j * n + i)] = beta[Idx(c)];
  }
  if (!Solve(h, g, n, bowl.minimum)) return bowl;
  bowl.ok = true;
  for (int i = 0; i < n; ++i) {
    std::vector<double> e(Idx(n), 0.0), col;
    e[Idx(i)] = 1.0;
    Solve(h, e, n, col);
    bowl.ok = bowl.ok && col[Idx(i)] > 0.0;
    bowl.se.push_back(std::sqrt(2.0 * std::max(col[Idx(i)], 0.0)));
  }
  return bowl;
}

// ---- Bowls of known minimum -------------------------------------------------------

// A value's deterministic scatter in [-1, 1] from the bits of the point.
double Scatter(const float* p, int n) {
  std::uint64_t h = 1469598103934665603ull;
  for (int i = 1; i <= n; ++i) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &p[i], sizeof bits);
    h = (h ^ bits) * 1099511628211ull;
    h ^= h >> 29;
  }
  return static_cast<double>(h % 2000001ull) / 1e6 - 1.0;
}

struct BowlCase {
  const char* name;
  int n;
  double correlation;  // between every pair of entries
  double scatter;      // rms of the values' scatter, chi-square units
  double lopsided;     // how much more steeply the first entry rises below its minimum
  double design;       // the design steps, in standard errors
  int most;            // the evaluations it ends within
};

// chi2(p) = u' R^-1 u + scatter, u_i = (p_i - truth_i) / se_i (the first entry's u
// times `lopsided` below its minimum: chi-square rises lopsided^2 times as steeply
// there), R the correlation matrix: each entry's standard error is se_i on a
// symmetric bowl. The objective is the rmsd over kPoints points of noise 0.005 that
// chi-square belongs to. The reference is the minimum of the quadratic through a 7^n
// grid of the smooth bowl two of its standard errors either side of the minimum (as
// the grid the c(s) Fit is measured against), in that quadratic's standard errors.
class SurfaceSearchBowls : public ::testing::TestWithParam<BowlCase> {};

TEST_P(SurfaceSearchBowls, EndsWithinAThirdOfAStandardErrorOfTheGridsMinimum) {
  const BowlCase c = GetParam();
  const int n = c.n;
  constexpr long long kPoints = 100000;
  constexpr double kY0 = 0.005;
  const std::vector<double> truth{0.0, 1.3, 6.0, 7.2}, se{0.0, 0.004, 6e-5, 1e-4};
  // R^-1 for equal correlations r: (I - r/(1 + (n - 1) r) J) / (1 - r).
  const double r = c.correlation;
  auto chi2 = [&](const std::vector<double>& p) {
    double s = 0.0, sum = 0.0;
    for (int i = 1; i <= n; ++i) {
      double u = (p[Idx(i)] - truth[Idx(i)]) / se[Idx(i)];
      if (i == 1 && u < 0.0) u *= c.lopsided;
      s += u * u;
      sum += u;
    }
    return (s - r / (1.0 + (n - 1) * r) * sum * sum) / (1.0 - r);
  };
  int evaluations = 0;
  auto f = [&](const float* p) {
    ++evaluations;
    std::vector<double> x(p, p + n + 1);
    const double z = chi2(x) + c.scatter * std::sqrt(3.0) * Scatter(p, n);
    return static_cast<float>(kY0 * std::sqrt(1.0 + std::max(z, -0.5 * kPoints) / kPoints));
  };
  // The grid's minimum and standard errors: its spacing from the surface of the
  // grid before (started from the symmetric bowl's).
  GridBowl grid;
  std::vector<double> centre = truth, gridSe = se;
  for (int round = 0; round < 4; ++round) {
    std::vector<std::vector<double>> u;
    std::vector<double> z;
    const int cells = static_cast<int>(std::pow(7, n));
    for (int k = 0; k < cells; ++k) {
      std::vector<double> uk(Idx(n)), x = centre;
      for (int i = 0, rest = k; i < n; ++i, rest /= 7) {
        uk[Idx(i)] = -2.0 + 4.0 * (rest % 7) / 6.0;
        x[Idx(i + 1)] += uk[Idx(i)] * gridSe[Idx(i + 1)];
      }
      u.push_back(uk);
      z.push_back(chi2(x));
    }
    grid = FitGrid(u, z, n);
    ASSERT_TRUE(grid.ok);
    for (int i = 1; i <= n; ++i) {
      centre[Idx(i)] += grid.minimum[Idx(i - 1)] * gridSe[Idx(i)];
      gridSe[Idx(i)] *= grid.se[Idx(i - 1)];
    }
  }
  // Started 20 standard errors off in every entry, the design c.design standard errors wide.
  std::vector<float> start(Idx(n) + 1, 0.0f);
  std::vector<double> scale(Idx(n) + 1, 0.0);
  std::vector<FitBounds> bounds(Idx(n) + 1);
  for (int i = 1; i <= n; ++i) {
    start[Idx(i)] = static_cast<float>(truth[Idx(i)] + 20.0 * se[Idx(i)] * (i % 2 ? -1.0 : 1.0));
    scale[Idx(i)] = c.design * se[Idx(i)];
  }
  const SurfaceSearchEnd end = SurfaceSearch(f, start, scale, bounds, kPoints, 40);
  EXPECT_TRUE(end.placed);
  EXPECT_EQ(end.evaluations, evaluations);
  EXPECT_LE(end.evaluations, c.most);
  for (int i = 1; i <= n; ++i)
    EXPECT_NEAR((end.point[Idx(i)] - centre[Idx(i)]) / gridSe[Idx(i)], 0.0, 0.3) << "entry " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Bowls, SurfaceSearchBowls,
    ::testing::Values(BowlCase{"one", 1, 0.0, 0.0, 1.0, 15.0, 6}, BowlCase{"oneRough", 1, 0.0, 0.5, 1.0, 15.0, 6},
                      BowlCase{"oneLopsidedRough", 1, 0.0, 1.0, 2.0, 8.0, 6},
                      BowlCase{"two", 2, 0.0, 0.0, 1.0, 15.0, 12}, BowlCase{"twoRough", 2, 0.0, 0.5, 1.0, 15.0, 12},
                      BowlCase{"twoCorrelated", 2, 0.7, 0.5, 1.0, 15.0, 12},
                      BowlCase{"twoLopsided", 2, 0.0, 0.0, 2.0, 8.0, 14},
                      BowlCase{"twoLopsidedRough", 2, 0.3, 1.0, 2.0, 8.0, 14},
                      BowlCase{"three", 3, 0.3, 0.0, 1.0, 15.0, 20}, BowlCase{"threeRough", 3, 0.3, 0.5, 1.0, 15.0, 20},
                      BowlCase{"threeLopsidedRough", 3, 0.3, 1.0, 2.0, 8.0, 22}),
    [](const auto& info) { return std::string(info.param.name); });

// A minimum beyond a bound: the search ends at the bound, not outside it.
TEST(SurfaceSearch, HoldsItsPointsToTheBounds) {
  const std::vector<float> start{0.0f, 1.0f};
  const std::vector<double> scale{0.0, 0.2};
  const std::vector<FitBounds> bounds{FitBounds::None(), FitBounds::Within(0.5f, 1.2f)};
  std::vector<float> seen;
  auto f = [&](const float* p) {
    seen.push_back(p[1]);
    const double u = (p[1] - 2.0) / 0.01;
    return static_cast<float>(0.005 * std::sqrt(1.0 + u * u / 1e5));
  };
  const SurfaceSearchEnd end = SurfaceSearch(f, start, scale, bounds, 100000, 20);
  for (float v : seen) EXPECT_TRUE(v >= 0.5f && v <= 1.2f) << v;
  EXPECT_FLOAT_EQ(end.point[1], 1.2f);
}

// ---- The c(s) Fit against a fine grid of its objective ------------------------------

constexpr int kScans = 12;
constexpr int kRadii = 200;
constexpr double kS = 4.4, kFf0 = 1.3, kNoise = 0.005;

class ContiFitSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    InstallDistributionHooks();
    test::InstallCsFitData(kScans, kRadii, 1200.0, kS, kFf0, kNoise);
  }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    test::ResetModelCalcState();
    ResetDistributionEngine();
    ResetDistributionHooks();
    ResetModelFitHooks();
    ResetContiFitParams();
  }
  // c(s) from 2 to 8 S on 30 points; f/f0 floated with the meniscus, or the meniscus alone.
  static void SetCs(float meniscus, float ff0, bool floatFf0) {
    ResetModelFlags();
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    test::SetContinuousParams(2.0f, 8.0f, 30.0f, 0.68f, ff0, meniscus, 7.2f);
    AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = floatFf0 ? 1 : 0;
    AnalysisSwitches().pParamFitFlags[13] = 1;
    UnpackModelParams();
  }

  // Where the end e lies against the minimum of the quadratic through a grid of the
  // objective two standard errors either side of it (7 points an entry), in that
  // surface's standard errors. The grid's spacing comes from each entry's curvature,
  // measured by steps that rise 1-20 units.
  static std::vector<double> OffsetsFromGrid(const std::vector<float>& e) {
    const int n = static_cast<int>(e.size()) - 1;
    const double points = static_cast<double>(CountFitPoints());
    DistributionModels().bFinalFitEvaluation = false;
    std::vector<float> p = e;
    auto rmsd = [&](const std::vector<double>& d) {
      for (int i = 1; i <= n; ++i) p[Idx(i)] = static_cast<float>(e[Idx(i)] + d[Idx(i - 1)]);
      return static_cast<double>(ContiSimplexSim(p.data(), nullptr));
    };
    const double y0 = rmsd(std::vector<double>(Idx(n), 0.0));
    std::vector<double> se(Idx(n), 0.0);
    for (int i = 0; i < n; ++i) {
      double step = std::abs(e[Idx(i + 1)]) * 1e-3;
      for (int round = 0; round < 8; ++round) {
        std::vector<double> d(Idx(n), 0.0);
        d[Idx(i)] = step;
        const double up = rmsd(d);
        d[Idx(i)] = -step;
        const double down = rmsd(d);
        const double rise = points * (up * up + down * down - 2.0 * y0 * y0) / (2.0 * y0 * y0);
        se[Idx(i)] = rise > 0.0 ? step / std::sqrt(rise) : step;
        if (rise >= 1.0 && rise <= 20.0) break;
        step = rise > 0.0 ? step * std::sqrt(4.0 / rise) : 4.0 * step;
      }
    }
    std::vector<std::vector<double>> u;
    std::vector<double> y;
    const int side = 7, cells = n == 1 ? side : side * side;
    for (int k = 0; k < cells; ++k) {
      std::vector<double> uk(Idx(n)), d(Idx(n));
      int rest = k;
      for (int i = 0; i < n; ++i) {
        uk[Idx(i)] = -2.0 + 4.0 * (rest % side) / (side - 1);
        rest /= side;
        d[Idx(i)] = uk[Idx(i)] * se[Idx(i)];
      }
      u.push_back(uk);
      y.push_back(rmsd(d));
    }
    const double lowest = *std::min_element(y.begin(), y.end());
    std::vector<double> z;
    for (double v : y) z.push_back(points * (v * v / (lowest * lowest) - 1.0));
    const GridBowl bowl = FitGrid(u, z, n);
    EXPECT_TRUE(bowl.ok);
    std::vector<double> off;
    for (int i = 0; i < n && bowl.ok; ++i) off.push_back(-bowl.minimum[Idx(i)] / bowl.se[Idx(i)]);
    return off;
  }

  ScopedHeadlessBackend backend;
};

// From starts inside and outside the meniscus, with f/f0 high and low, and with the
// meniscus alone: the Fit ends within 0.3 standard errors of the minimum of the
// surface through a 7 x 7 (7) grid of its objective round the end. Its evaluations
// are deterministic and recorded: the search's own (the first start spends its 18
// and ends by the steps from the end; the objective of these 12 scans jumps by
// units of chi-square between neighbouring grids), and the whole Fit's with the
// grid at the end (the end point, unless the search evaluated it last, and its
// finer solution) and the final regularised evaluation.
// Each start a case of its own (a whole fit and its grid, dear under the sanitizers).
struct Start {
  float meniscus, ff0;
  bool floatFf0;
  int search, fit;  // evaluations at most
};
const Start kStarts[] = {Start{5.99f, 1.5f, true, 18, 29}, Start{6.004f, 1.15f, true, 17, 20},
                         Start{5.995f, 1.3f, false, 6, 9}};

class ContiFitSearchStart : public ContiFitSearch, public ::testing::WithParamInterface<int> {};

TEST_P(ContiFitSearchStart, EndsNearTheMinimumOfAFineGridWithinItsEvaluations) {
  for (const Start s : {kStarts[GetParam()]}) {
    SCOPED_TRACE(testing::Message() << "start " << s.meniscus << " " << s.ff0);
    SetCs(s.meniscus, s.ff0, s.floatFf0);
    FitReport report;
    ASSERT_EQ(ContiFit(nullptr, FitMethod::Simplex, report), FitOutcome::Completed);
    EXPECT_TRUE(report.converged);
    const int n = GetContiParams(0, nullptr);
    EXPECT_LE(ContiSearchEvaluations(), s.search);
    EXPECT_LE(FitState().nFitSim, s.fit);
    std::vector<float> end(Idx(n) + 1, 0.0f);
    GetContiParams(n, end.data());
    for (double off : OffsetsFromGrid(end)) EXPECT_LE(std::abs(off), 0.3);
  }
}

INSTANTIATE_TEST_SUITE_P(Starts, ContiFitSearchStart, ::testing::Range(0, static_cast<int>(std::size(kStarts))));

}  // namespace
}  // namespace tarmic
