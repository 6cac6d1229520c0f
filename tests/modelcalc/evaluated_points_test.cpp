// The quadratic surface through evaluated points: on rmsd values made from a known
// chi-square surface (correlated parameters, standard errors of very different
// size) with a scatter about it such as a solver with its own step control leaves,
// it says how far the lowest point lies above the true minimum; it says nothing
// where the points cannot determine it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "modelcalc/evaluated_points.h"
#include "modelcalc/fit_report.h"

namespace tarmic {
namespace {

constexpr long long kPoints = 100000;  // fit points of the rmsd
constexpr double kNoise = 0.005;

// A uniform number in [-1, 1) from a counter (splitmix64): the scatter of each
// evaluation and the cloud of points are fixed by the case.
double Uniform(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * 0x1.0p-52 - 1.0;
}

// chi2(p) = sum over i of (z_i)^2 with z = L^-1 (p - minimum) / se: entries of
// standard errors se_i, neighbours correlated by rho.
struct Surface {
  int n;
  std::vector<double> minimum, se;
  double rho;
  double ChiSquare(const std::vector<double>& p) const {
    // Correlation 1 on the diagonal, rho next to it: chi2 = d' C^-1 d, solved by
    // Gaussian elimination of the small tridiagonal system.
    std::vector<double> d(static_cast<std::size_t>(n)), diag(static_cast<std::size_t>(n), 1.0),
        x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) d[i] = (p[i] - minimum[i]) / se[i];
    std::vector<double> rhs = d;
    for (int i = 1; i < n; ++i) {
      const double f = rho / diag[i - 1];
      diag[i] -= f * rho;
      rhs[i] -= f * rhs[i - 1];
    }
    for (int i = n - 1; i >= 0; --i) x[i] = (rhs[i] - (i + 1 < n ? rho * x[i + 1] : 0.0)) / diag[i];
    double chi = 0.0;
    for (int i = 0; i < n; ++i) chi += d[i] * x[i];
    return chi;
  }
};

// The rmsd at chi-square chi above the minimum plus the scatter.
float Rmsd(double chi, double scatter) {
  return static_cast<float>(kNoise * std::sqrt((static_cast<double>(kPoints) + chi + scatter) /
                                               static_cast<double>(kPoints)));
}

struct SurfaceCase {
  int n;
  double scatter;  // chi-square units, uniform in +-scatter
  int count;       // points, spread over +-3 standard errors round a shifted centre
};

class SurfaceSweep : public ::testing::TestWithParam<SurfaceCase> {};

TEST_P(SurfaceSweep, SaysHowFarTheLowestPointLiesAboveTheMinimum) {
  const SurfaceCase c = GetParam();
  Surface s{c.n, {}, {}, 0.6};
  for (int i = 0; i < c.n; ++i) {
    s.minimum.push_back(1.0 + i);
    s.se.push_back(std::pow(10.0, -1 - 2 * i));  // 0.1, 0.001, 1e-5
  }
  std::uint64_t state = 17 + static_cast<std::uint64_t>(c.n * 131 + c.count);
  EvaluatedPoints points;
  double lowestRmsd = 1e300, lowestChi = 0.0;
  for (int k = 0; k < c.count; ++k) {
    std::vector<double> p(static_cast<std::size_t>(c.n));
    std::vector<float> one(static_cast<std::size_t>(c.n) + 1, 0.0f);
    for (int i = 0; i < c.n; ++i) {
      p[i] = s.minimum[i] + s.se[i] * (0.7 + 3.0 * Uniform(state));
      one[i + 1] = static_cast<float>(p[i]);
      p[i] = one[i + 1];  // the point as the search holds it
    }
    const double chi = s.ChiSquare(p);
    const float y = Rmsd(chi, c.scatter * Uniform(state));
    points.Add(one.data(), c.n, y);
    if (y < lowestRmsd) {
      lowestRmsd = y;
      lowestChi = chi;
    }
  }
  const SurfaceVerdict v = points.Surface(kPoints);
  ASSERT_TRUE(v.determined);
  // The smooth surface's height of the lowest point, within what the scatter
  // leaves of its average over the points (and the float values' resolution).
  EXPECT_NEAR(v.gain, lowestChi, 0.02 + 0.1 * c.scatter) << "scatter " << c.scatter;
}

INSTANTIATE_TEST_SUITE_P(Parameters, SurfaceSweep,
                         ::testing::Values(SurfaceCase{1, 0.0, 12}, SurfaceCase{1, 1.0, 40},
                                           SurfaceCase{2, 0.0, 20}, SurfaceCase{2, 0.5, 60},
                                           SurfaceCase{2, 2.0, 150}, SurfaceCase{3, 0.0, 40},
                                           SurfaceCase{3, 1.0, 200}));

// Points that cannot determine the surface leave it undetermined: too few, all on
// one line, a minimum beyond the points, a saddle, no value with a result.
TEST(SurfaceVerdictTest, PointsThatCannotDetermineItSayNothing) {
  auto verdict = [](const std::vector<std::vector<float>>& ps, auto value) {
    EvaluatedPoints points;
    for (const std::vector<float>& p : ps) {
      std::vector<float> one(p.size() + 1, 0.0f);
      for (std::size_t i = 0; i < p.size(); ++i) one[i + 1] = p[i];
      points.Add(one.data(), static_cast<int>(p.size()), value(p));
    }
    return points.Surface(kPoints);
  };
  auto bowl = [](const std::vector<float>& p) {
    double chi = 0.0;
    for (float x : p) chi += (x - 1.0) * (x - 1.0) / 1e-4;
    return Rmsd(chi, 0.0);
  };
  std::vector<std::vector<float>> grid;
  for (int a = -2; a <= 2; ++a)
    for (int b = -2; b <= 2; ++b) grid.push_back({1.0f + 0.01f * a, 1.0f + 0.01f * b});
  ASSERT_TRUE(verdict(grid, bowl).determined);
  EXPECT_NEAR(verdict(grid, bowl).gain, 0.0, 1e-3);
  // Eleven points for six coefficients.
  EXPECT_FALSE(verdict(std::vector<std::vector<float>>(grid.begin(), grid.begin() + 11), bowl).determined);
  // On one line.
  std::vector<std::vector<float>> line;
  for (int a = -6; a <= 6; ++a) line.push_back({1.0f + 0.01f * a, 1.0f + 0.02f * a});
  EXPECT_FALSE(verdict(line, bowl).determined);
  // The minimum far beyond the points.
  auto shifted = [](const std::vector<float>& p) {
    return Rmsd((p[0] - 1.2) * (p[0] - 1.2) / 1e-3 + (p[1] - 1.0) * (p[1] - 1.0) / 1e-3, 0.0);
  };
  EXPECT_FALSE(verdict(grid, shifted).determined);
  // A saddle.
  auto saddle = [](const std::vector<float>& p) {
    return Rmsd(20.0 + (p[0] - 1.0) * (p[0] - 1.0) / 1e-4 - (p[1] - 1.0) * (p[1] - 1.0) / 1e-5, 0.0);
  };
  EXPECT_FALSE(verdict(grid, saddle).determined);
  // Values without a result are not kept.
  EXPECT_FALSE(verdict(grid, [](const std::vector<float>&) { return kNoModelRmsd; }).determined);
  EXPECT_FALSE(verdict(grid, [](const std::vector<float>&) { return std::nanf(""); }).determined);
}

}  // namespace
}  // namespace tarmic
