// The static grid of a real-valued node count (the distribution kernels' grids): a
// solution that follows D continuously, on no fewer nodes than the whole count and
// at least as close to a fine solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "services/run_switches.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

using test::Experiment;
using test::MakeSolver;

// 50 scans a minute apart from 10 min on at 50,000 rpm, 6.0-7.2 cm, fitted 6.05-7.1.
Experiment MinuteScans() {
  Experiment e;
  e.scans = 50;
  e.firstTime = 600.0;
  e.interval = 60.0;
  e.radii = 601;
  e.rightLimit = 7.1f;
  e.Build();
  return e;
}

std::vector<double> FitRangeProfiles(const Experiment& e) {
  std::vector<double> p;
  for (int scan = 1; scan <= e.scans; ++scan)
    for (int j = 1; j <= e.radii; ++j)
      if (e.outRadii[j] >= e.leftLimit && e.outRadii[j] <= e.rightLimit) p.push_back(e.rows[scan][j]);
  return p;
}

struct Sweep {
  double second = 0.0;  // norm of the second differences of the profiles along D
  int nodes = 1 << 30;  // the fewest nodes of the sweep
};

// The profiles along D (1 + k 5e-4), k = 0..40: a 2 % range over which the whole
// count changes by a few nodes (and the grading at the bottom with it).
Sweep SweepD(double s, double D, bool smooth) {
  Sweep sweep;
  std::vector<std::vector<double>> profiles;
  for (int k = 0; k <= 40; ++k) {
    Experiment e = MinuteScans();
    LammDiscretizationSettings settings;
    settings.bSmoothGridSize = smooth;
    auto o = MakeSolver(e, s, D * (1 + 5e-4 * k), settings);
    EXPECT_EQ(o->Solve(), 0);
    sweep.nodes = std::min(sweep.nodes, o->nGrid);
    profiles.push_back(FitRangeProfiles(e));
  }
  double sum = 0.0;
  for (std::size_t k = 1; k + 1 < profiles.size(); ++k)
    for (std::size_t j = 0; j < profiles[k].size(); ++j)
      sum += std::pow(profiles[k + 1][j] - 2 * profiles[k][j] + profiles[k - 1][j], 2);
  sweep.second = std::sqrt(sum);
  return sweep;
}

// Along D the whole count's profiles step by a node's discretisation error each time
// the count or the grading changes; the real count's change smoothly, the steps gone
// to a few per cent, for species graded at the bottom (1.3, 2.5 S), one the grid
// sized for the boundary resolves there (4.5 S) and species whose back-diffusion is
// shut off (7, 11 S). (The rest element at the bottom itself left 4.5 S at half the
// whole count's steps. At 3.8 S a third remains: the step control's own count of
// steps, which changes by one or two along the sweep.)
TEST(SmoothGrid, ProfilesFollowDWithoutTheStepsOfAWholeCount) {
  ResetLammGlobals();
  ResetRunSwitches();
  for (const double s : {1.3, 2.5, 4.5, 7.0, 11.0}) {
    const double D = 8.3e-7 * std::sqrt(2.5 / s);  // f/f0 about 1.3
    const Sweep whole = SweepD(s, D, false), smooth = SweepD(s, D, true);
    std::printf("s %4.1f S: second differences %.2e (whole count) %.2e (real count), nodes %d %d\n", s,
                whole.second, smooth.second, whole.nodes, smooth.nodes);
    EXPECT_LT(smooth.second, 0.05 * whole.second) << s;
    EXPECT_GE(smooth.nodes, whole.nodes) << s;
  }
}

// Against an equidistant grid eight times finer with a tenth of the step tolerance:
// the real count's profiles, resampled by cubics through the corrected nodal values,
// are as close as the whole count's lines, for a species piling up at the bottom and
// one that leaves through it (cubics through the uncorrected values were 25-75 %
// farther off in rms).
TEST(SmoothGrid, ProfilesAreAsCloseToAFineSolutionAsTheWholeCounts) {
  ResetLammGlobals();
  ResetRunSwitches();
  for (const double s : {2.5, 7.0}) {
    const double D = 8.3e-7 * std::sqrt(2.5 / s);
    double worst[2] = {0.0, 0.0}, rms[2] = {0.0, 0.0};
    Experiment fine = MinuteScans();
    LammDiscretizationSettings refined;
    refined.bOptimizeGrid = false;
    refined.bAutoVariant = false;
    refined.fPointsPerSigma = 40.0f;
    refined.nMaxGrid = 8000;
    refined.dTolerance = refined.dToleranceIn = 0.1;
    auto r = MakeSolver(fine, s, D, refined);
    ASSERT_EQ(r->Solve(), 0);
    const std::vector<double> reference = FitRangeProfiles(fine);
    for (const bool smooth : {false, true}) {
      Experiment e = MinuteScans();
      LammDiscretizationSettings settings;
      settings.bSmoothGridSize = smooth;
      auto o = MakeSolver(e, s, D, settings);
      ASSERT_EQ(o->Solve(), 0);
      const std::vector<double> p = FitRangeProfiles(e);
      for (std::size_t j = 0; j < p.size(); ++j) {
        worst[smooth] = std::max(worst[smooth], std::fabs(p[j] - reference[j]));
        rms[smooth] += std::pow(p[j] - reference[j], 2) / static_cast<double>(p.size());
      }
    }
    std::printf("s %4.1f S: difference from the fine solution, largest and rms: %.2e %.2e (whole count), %.2e %.2e (real count)\n",
                s, worst[0], std::sqrt(rms[0]), worst[1], std::sqrt(rms[1]));
    EXPECT_LE(worst[1], worst[0]) << s;
    EXPECT_LE(rms[1], rms[0]) << s;
  }
}

}  // namespace
}  // namespace tarmic
