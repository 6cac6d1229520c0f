// The quadratic surface through evaluated points: on rmsd values made from a known
// chi-square surface (correlated parameters, standard errors of very different
// size) with a scatter about it such as a solver with its own step control leaves,
// it says how far the lowest point lies above the true minimum; it says nothing
// where the points cannot determine it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "modelcalc/evaluated_points.h"
#include "modelcalc/fit_report.h"
#include "modelcalc/simplex.h"
#include "tests/support/production_sources.h"

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

namespace tarmic {
namespace {

// Two entries of standard errors 0.01 and 1e-4 (f/f0 and a meniscus), correlated by
// rho: chi-square d' C^-1 d in closed form.
struct Bowl {
  double rho;
  double ChiSquare(double a, double b) const {
    const double u = (a - 1.3) / 0.01, v = (b - 6.0) / 1e-4;
    return (u * u - 2.0 * rho * u * v + v * v) / (1.0 - rho * rho);
  }
};

EvaluatedPoints PointsOn(const Bowl& bowl, const std::vector<std::pair<double, double>>& at) {
  EvaluatedPoints points;
  for (auto [a, b] : at) {
    const float p[3] = {0.0f, static_cast<float>(a), static_cast<float>(b)};
    points.Add(p, 2, Rmsd(bowl.ChiSquare(p[1], p[2]), 0.0));
  }
  return points;
}

// On a surface without scatter: the proposal from points far up the bowl is its
// minimum; each design point lies kDesignReach marginal standard errors out along
// its entry (chi-square kDesignReach^2 / (1 - rho^2) there, the other entry at its
// best: without scatter the reach is the least); the point nearest the minimum is
// the one of lowest chi-square, and the minimum is placed without spread.
TEST(SurfaceProposalTest, ProposesTheMinimumAndDesignPointsStandardErrorsAway) {
  for (double rho : {0.0, 0.6, -0.8}) {
    const Bowl bowl{rho};
    std::vector<std::pair<double, double>> far, near;
    for (int k = 0; k < 12; ++k) far.emplace_back(1.3 + 0.1 + 0.02 * (k % 4), 6.0 + 3e-3 + 1e-3 * (k / 4));
    float p[3] = {};
    ASSERT_TRUE(PointsOn(bowl, far).Proposal(kPoints, p)) << rho;
    // The step is cut to twice the points' extent: proposals again from there.
    EvaluatedPoints points = PointsOn(bowl, far);
    for (int round = 0; round < 6 && points.Proposal(kPoints, p); ++round)
      points.Add(p, 2, Rmsd(bowl.ChiSquare(p[1], p[2]), 0.0));
    EXPECT_LT(bowl.ChiSquare(p[1], p[2]), 0.01) << rho;

    for (int a = -2; a <= 2; ++a)
      for (int b = -2; b <= 2; ++b) near.emplace_back(1.3 + 0.013 * a, 6.0 + 1.3e-4 * b + 0.4e-4 * a);
    points = PointsOn(bowl, near);
    for (int k = 0; k < 4; ++k) {
      ASSERT_TRUE(points.Design(kPoints, k, p)) << rho << " " << k;
      // To the rounding of the entries and values to float.
      const double expected = kDesignReach * kDesignReach / (1.0 - rho * rho);
      EXPECT_NEAR(bowl.ChiSquare(p[1], p[2]), expected, 0.01 * expected) << rho << " " << k;
    }
    const SurfaceVerdict v = points.Surface(kPoints);
    ASSERT_TRUE(v.determined) << rho;
    int lowest = 0;
    for (int k = 1; k < static_cast<int>(near.size()); ++k)
      if (bowl.ChiSquare(near[k].first, near[k].second) <
          bowl.ChiSquare(near[lowest].first, near[lowest].second))
        lowest = k;
    EXPECT_EQ(v.nearest, lowest) << rho;
    EXPECT_LT(v.spread, 1e-3) << rho;
    // Points all on one line leave a point out of it undetermined.
    EXPECT_FALSE(PointsOn(bowl, {far.begin(), far.begin() + 4}).Proposal(kPoints, p));
  }
}

struct SearchCase {
  double rho;
  double scatter;  // chi-square units, uniform in +-scatter
};

class SurfaceSearchSweep : public ::testing::TestWithParam<SearchCase> {};

// A simplex pass with the surface's proposals and its end rule, from a start 10 and
// 50 standard errors off, on bowls with and without a scatter of the values about
// them: it ends within 0.3 standard errors of the minimum in each entry, in at most
// 30 evaluations (22-29; the simplex alone takes 35-43 to end there).
TEST_P(SurfaceSearchSweep, EndsNearTheMinimumInFewEvaluations) {
  const SearchCase c = GetParam();
  const Bowl bowl{c.rho};
  std::uint64_t state = 99;
  EvaluatedPoints points;
  int evaluations = 0;
  const SimplexObjective objective = [&](const float* p) {
    ++evaluations;
    const float y = Rmsd(bowl.ChiSquare(p[1], p[2]), c.scatter * Uniform(state));
    points.Add(p, 2, y);
    return y;
  };
  SimplexSet s(2);
  const float start[3][2] = {{1.2f, 5.995f}, {1.25f, 5.995f}, {1.2f, 5.9955f}};
  for (int j = 1; j <= 3; ++j) {
    s.p[j][1] = start[j - 1][0];
    s.p[j][2] = start[j - 1][1];
    s.y[j] = objective(s.p[j].data());
  }
  SurfaceProposals proposals(points, kPoints);
  int nfunk = 0;
  const AmoebaEnd end = amoeba(
      s,
      [&] { return SurfacePlacesMinimum(points, kPoints) ? std::numeric_limits<float>::infinity() : 0.0f; },
      objective, nfunk, {}, proposals.AsProposal());
  ASSERT_EQ(end, AmoebaEnd::Converged);
  const SurfaceVerdict v = points.Surface(kPoints);
  ASSERT_TRUE(v.determined);
  float p[3] = {};
  points.Point(v.nearest, p);
  EXPECT_NEAR(p[1], 1.3, 0.3 * 0.01) << c.rho << " " << c.scatter;
  EXPECT_NEAR(p[2], 6.0, 0.3 * 1e-4) << c.rho << " " << c.scatter;
  EXPECT_LE(evaluations, 30) << c.rho << " " << c.scatter;
}

INSTANTIATE_TEST_SUITE_P(Bowls, SurfaceSearchSweep,
                         ::testing::Values(SearchCase{0.0, 0.0}, SearchCase{0.6, 0.0},
                                           SearchCase{-0.8, 0.0}, SearchCase{0.0, 0.5},
                                           SearchCase{0.6, 0.5}, SearchCase{-0.8, 1.0}));

}  // namespace
}  // namespace tarmic

namespace tarmic {
namespace {

struct SpreadCase {
  double rho;
  double scatter;  // chi-square units, uniform in +-scatter (standard deviation scatter / sqrt 3)
};

class SurfaceSpreadSweep : public ::testing::TestWithParam<SpreadCase> {};

// The same 5 x 5 points round a bowl's minimum (+-1.5 standard errors), their values
// scattered anew 400 times: the spread the surface states is the mean height (true
// chi-square) of the error of the minimum it places (the proposal from those points),
// measured over the replicates; the design points lie as far out as their scatter
// asks (sqrt(kDesignScatter s) standard errors, s the rms about the surface).
TEST_P(SurfaceSpreadSweep, StatesHowFarItsMinimumLiesAndDesignsAboveTheScatter) {
  const SpreadCase c = GetParam();
  const Bowl bowl{c.rho};
  std::uint64_t state = 5;
  double stated = 0.0, actual = 0.0, reach2 = 0.0;
  int replicates = 0;
  for (int k = 0; k < 400; ++k) {
    EvaluatedPoints points;
    for (int a = -2; a <= 2; ++a)
      for (int b = -2; b <= 2; ++b) {
        const float p[3] = {0.0f, static_cast<float>(1.3 + 0.0075 * a + 0.002), static_cast<float>(6.0 + 0.75e-4 * b)};
        points.Add(p, 2, Rmsd(bowl.ChiSquare(p[1], p[2]), c.scatter * Uniform(state)));
      }
    const SurfaceVerdict v = points.Surface(kPoints);
    float m[3] = {}, d[3] = {};
    if (!v.determined || !points.Proposal(kPoints, m) || !points.Design(kPoints, 2, d)) continue;
    ++replicates;
    stated += v.spread;
    actual += bowl.ChiSquare(m[1], m[2]);
    // The design point moves the meniscus only: its rise over the minimum placed,
    // in units of the rise one standard error gives there (1 / (1 - rho^2)).
    reach2 += (bowl.ChiSquare(d[1], d[2]) - bowl.ChiSquare(m[1], m[2])) * (1.0 - c.rho * c.rho);
  }
  ASSERT_GT(replicates, 300);
  stated /= replicates;
  actual /= replicates;
  reach2 /= replicates;
  EXPECT_NEAR(stated, actual, 0.3 * actual) << c.rho << " " << c.scatter;
  const double rms = c.scatter / std::sqrt(3.0);
  const double reach = std::clamp(std::sqrt(kDesignScatter * rms), kDesignReach, kDesignReachMost);
  EXPECT_NEAR(std::sqrt(reach2), reach, 0.25 * reach) << c.rho << " " << c.scatter;
}

INSTANTIATE_TEST_SUITE_P(Bowls, SurfaceSpreadSweep,
                         ::testing::Values(SpreadCase{0.0, 0.5}, SpreadCase{0.6, 1.0}, SpreadCase{-0.8, 2.0},
                                           SpreadCase{0.0, 3.0}));

// Points on one side of the minimum only (in either entry, either side) do not
// bracket it, and the missing side is the one named; adding the design points it
// names brackets it within one round (2 n points).
TEST(SurfaceBracketTest, NamesTheSideWithoutPointsUntilADesignPointFillsIt) {
  for (int side = 0; side < 4; ++side) {
    const Bowl bowl{0.6};
    const double sign = side % 2 == 0 ? 1.0 : -1.0;
    std::vector<std::pair<double, double>> at;
    // A 4 x 4 grid from the minimum outwards, 0.4 standard errors apart, on the
    // side `side` names of entry side / 2 (kept inside its first row's offset).
    for (int a = 0; a < 4; ++a)
      for (int b = -2; b <= 1; ++b) {
        const double out = -sign * (0.15 + 0.4 * a), across = 0.4 * b + 0.2;
        at.emplace_back(side / 2 == 0 ? 1.3 + 0.01 * out : 1.3 + 0.01 * across,
                        side / 2 == 0 ? 6.0 + 1e-4 * across : 6.0 + 1e-4 * out);
      }
    EvaluatedPoints points = PointsOn(bowl, at);
    ASSERT_TRUE(points.Surface(kPoints).determined) << side;
    EXPECT_FALSE(points.Surface(kPoints).bracketed) << side;
    EXPECT_EQ(points.MissingDesign(kPoints), side) << side;
    float p[3] = {};
    int added = 0;
    for (int k; (k = points.MissingDesign(kPoints)) >= 0 && added < 4; ++added) {
      ASSERT_TRUE(points.Design(kPoints, k, p)) << side;
      points.Add(p, 2, Rmsd(bowl.ChiSquare(p[1], p[2]), 0.0));
    }
    EXPECT_TRUE(points.Surface(kPoints).bracketed) << side;
    EXPECT_LE(added, 4) << side;
  }
}

// The census of the ends on the surface: no source but the surface's own and the
// searches' end rules (simplex.cpp) reads the verdict's spread, nearest gain or
// bracketing, so every end on the surface takes them together (SurfacePlacesMinimum,
// SimplexRestarts::SurfaceSays); and every source whose passes take the surface's
// proposals ends them by SurfacePlacesMinimum. A search that ends on the spread
// alone, without points bracketing the minimum, fails here.
TEST(SurfaceEndCensus, EveryEndOnTheSurfaceTakesTheWholeRule) {
  const std::set<std::string> rules = {"modelcalc/evaluated_points.cpp", "modelcalc/simplex.cpp"};
  std::set<std::string> strays;
  int proposing = 0, ends = 0;
  for (const auto& [name, code] : testing::ProductionSources()) {
    if (!name.ends_with(".cpp") || rules.count(name)) continue;
    for (const std::string field : {".spread", ".nearestGain", ".bracketed"})
      if (code.find(field) != std::string::npos && code.find("SurfaceVerdict") != std::string::npos)
        strays.insert(name + ": reads the verdict's " + field);
    if (code.find("SurfaceProposals ") != std::string::npos) {
      ++proposing;
      if (code.find("SurfacePlacesMinimum(") == std::string::npos) strays.insert(name + ": proposals without the end");
    }
    for (std::size_t at = code.find("SurfacePlacesMinimum("); at != std::string::npos;
         at = code.find("SurfacePlacesMinimum(", at + 1))
      ++ends;
  }
  EXPECT_EQ(strays, std::set<std::string>{});
  // The refinement of the distributions proposes and ends on the surface.
  EXPECT_GE(proposing, 1);
  EXPECT_GE(ends, 1);
  std::printf("%d sources take the surface's proposals, %d ends on it\n", proposing, ends);
}

}  // namespace
}  // namespace tarmic
