// The static grid of a solution near the bottom: a species whose back-diffusion is
// not shut off piles up there over a few D/(s w^2 b), much less than the spacing
// chosen for the boundary; the grid is graded towards the bottom to resolve it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "lamm/back_diffusion.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "services/run_switches.h"
#include "tests/lamm/lamm_test_support.h"
#include "tests/watchdog.h"

namespace tarmic {
namespace {

using test::Experiment;
using test::MakeSolver;

// A slow species in a long run at 50,000 rpm, fitted to 7.15 cm, 0.05 cm from the
// bottom: s 1.8 S, D 1.1e-6 cm^2/s, 40 scans every 300 s. At the end the pile-up
// reaches 15 times the loading at the bottom and decays over 0.03 cm.
constexpr double kSlowS = 1.8, kSlowD = 1.1e-6;

Experiment LongRun() {
  Experiment e;
  e.scans = 40;
  e.radii = 801;  // every 0.0015 cm
  e.Build();
  return e;
}

class LammBottom : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLammGlobals();
    ResetRunSwitches();
  }
};

// The default numerics against an equidistant grid eight times finer with a tenth of
// the step tolerance, close to the bottom late in the run. The grid sized for the
// boundary alone deviated there by 2.7 % of the loading.
TEST_F(LammBottom, PileUpOfASlowSpeciesAgreesWithAFineGrid) {
  Experiment normal = LongRun();
  auto o = MakeSolver(normal, kSlowS, kSlowD, LammDiscretizationSettings{});
  ASSERT_EQ(o->Solve(), 0);
  ASSERT_FALSE(o->bShutOffBackDiffusion);
  ASSERT_TRUE(o->bUseClaverie);

  Experiment fine = LongRun();
  LammDiscretizationSettings refined;
  refined.bOptimizeGrid = false;  // equidistant
  refined.bAutoVariant = false;   // static grid as well
  refined.fPointsPerSigma = 40.0f;
  refined.nMaxGrid = 8000;
  refined.dTolerance = refined.dToleranceIn = 0.1;
  auto r = MakeSolver(fine, kSlowS, kSlowD, refined);
  ASSERT_EQ(r->Solve(), 0);
  ASSERT_GT(r->nGrid, 1000);

  double worst = 0.0, peak = 0.0;
  for (int k = 30; k <= normal.scans; ++k) {
    for (int j = 1; j <= normal.radii; ++j) {
      const double x = normal.outRadii[j];
      if (x < 7.0 || x > normal.rightLimit) continue;
      worst = std::max(worst, static_cast<double>(std::fabs(normal.rows[k][j] - fine.rows[k][j])));
      peak = std::max(peak, static_cast<double>(fine.rows[k][j]));
    }
  }
  EXPECT_GT(peak, 2.0);    // the pile-up reaches into the fitting range
  EXPECT_LT(worst, 1e-3);  // of the loading
}

// The grading keeps the grid of the boundary, shrinks the elements smoothly
// towards the bottom, ends exactly on it and stays within the upper grid limit.
TEST_F(LammBottom, GradedGridKeepsTheBoundarySpacingAndShrinksSmoothly) {
  Experiment e = LongRun();
  auto o = MakeSolver(e, kSlowS, kSlowD, LammDiscretizationSettings{});
  ASSERT_EQ(o->Solve(), 0);
  const std::vector<double>& r = o->pRadius;
  const int N = o->nGrid;
  const int base = std::clamp(static_cast<int>(std::floor(o->fGridSizeB)), o->nMinGrid, o->nMaxGrid);
  ASSERT_GT(N, base);
  EXPECT_TRUE(o->bNonUniformGrid);
  EXPECT_EQ(r[1], e.meniscus);
  EXPECT_EQ(r[N], e.bottom);
  // The spacing sized for the boundary from the meniscus on, then elements that
  // shrink smoothly (by at most 1.5 between neighbours) to a small fraction of it.
  const double h = (e.bottom - e.meniscus) / (base - 1);
  EXPECT_NEAR(r[2] - r[1], h, 1e-9 * h);
  EXPECT_NEAR(r[base / 4] - r[base / 4 - 1], h, 1e-9 * h);
  for (int i = 2; i < N; ++i) {
    const double ratio = (r[i + 1] - r[i]) / (r[i] - r[i - 1]);
    ASSERT_GT(ratio, 0.66) << "node " << i;
    ASSERT_LE(ratio, 1.0 + 1e-9) << "node " << i;
  }
  EXPECT_LT(r[N] - r[N - 1], 0.05 * h);

  // With a tight upper limit the grid keeps to it.
  Experiment limited = LongRun();
  LammDiscretizationSettings settings;
  settings.nMaxGrid = base + 20;
  auto c = MakeSolver(limited, kSlowS, kSlowD, settings);
  ASSERT_EQ(c->Solve(), 0);
  EXPECT_LE(c->nGrid, base + 20);
  EXPECT_EQ(c->pRadius[c->nGrid], e.bottom);
}

// A species whose back-diffusion is shut off keeps the widening grid: nothing is
// added near the bottom.
TEST_F(LammBottom, ShutOffSpeciesIsNotGraded) {
  Experiment e = LongRun();
  e.scans = 4;
  e.Build();
  auto o = MakeSolver(e, 10.0, 4.7e-7, LammDiscretizationSettings{});
  o->LoadSedimentationParameters(10.0, 4.7e-7, e.meniscus, e.bottom, 1.0, 6.05f, 7.1f);
  ASSERT_EQ(o->Solve(), 0);
  ASSERT_TRUE(o->bShutOffBackDiffusion);
  EXPECT_TRUE(o->bOptimizedGridBuilt);
  const int N = o->nGrid;
  EXPECT_GT(o->pRadius[N - 1] - o->pRadius[N - 2], o->pRadius[2] - o->pRadius[1]);
}

// The decision against the direct formula where it can be evaluated, and without
// overflow where the exponentials could not.
TEST(BackDiffusion, LogarithmicTestAgreesWithTheDirectMeanAndNeverOverflows) {
  const double m = 6.0, b = 7.2, rR = 7.1, level = 1e-4;
  double last = 0.0;
  bool switched = false;
  for (double sigma = 0.01; sigma < 100; sigma *= 1.5) {
    const double mean = (std::exp(sigma * (b * b - rR * rR)) - std::exp(sigma * (m * m - rR * rR))) /
                        (sigma * (b * b - m * m));
    EXPECT_EQ(BackDiffusionNegligible(sigma, m, b, rR, level), 1 / mean < level) << sigma;
    // Monotone: once negligible, negligible for every steeper profile.
    if (BackDiffusionNegligible(sigma, m, b, rR, level)) switched = true;
    else EXPECT_FALSE(switched) << sigma;
    last = sigma;
  }
  EXPECT_TRUE(switched);
  EXPECT_GT(last, 50.0);
  // Steep profiles and a right limit far from the bottom: no inf or NaN decides.
  EXPECT_TRUE(BackDiffusionNegligible(1e6, m, b, rR, level));
  EXPECT_TRUE(BackDiffusionNegligible(20.0, m, b, 6.1, level));
  EXPECT_FALSE(BackDiffusionNegligible(0.0, m, b, rR, level));
  EXPECT_FALSE(BackDiffusionNegligible(std::nan(""), m, b, rR, level));
}

// Points per sigma of 1e6, or a bottom of 1e6 cm, ask for a grid far beyond the
// upper limit (over 2^24 nodes, a count that single precision cannot even lower by
// one): the set-up ends at once with the upper limit, for the static and the moving
// grid. The loader keeps its own values for settings out of range.
TEST_F(LammBottom, GridFarBeyondTheUpperLimitEndsAtTheLimit) {
  for (const bool movingHat : {false, true}) {
    for (const bool hugeBottom : {false, true}) {
      Experiment e = LongRun();
      LammDiscretizationSettings settings;
      settings.bOptimizeGrid = false;
      settings.bAutoVariant = false;
      settings.bUseMovingHat = movingHat;
      settings.bUseClaverie = !movingHat;
      auto o = MakeSolver(e, kSlowS, kSlowD, settings);
      if (hugeBottom)
        o->LoadSedimentationParameters(kSlowS, kSlowD, e.meniscus, 1e6, 1.0, e.leftLimit, e.rightLimit);
      else
        o->fPointsPerSigma = 1e6f;  // as an older loader would have taken it
      o->SetRotorFromScans();
      {
        testing::Watchdog watchdog("the grid set-up");
        o->SetUpGrid();
      }
      EXPECT_EQ(o->nGrid, o->nMaxGrid) << movingHat << hugeBottom;
    }
  }
  // Settings out of range keep the solver's own.
  LammDiscretizationSettings absurd;
  absurd.fPointsPerSigma = 1e6f;
  absurd.nMaxGrid = 1000000000;
  absurd.nMinGrid = 3;
  CLammIdeal o;
  const float pointsPerSigma = o.fPointsPerSigma;
  const int lower = o.nMinGrid, upper = o.nMaxGrid;
  o.LoadDiscretizationParameters(absurd);
  EXPECT_EQ(o.fPointsPerSigma, pointsPerSigma);
  EXPECT_EQ(o.nMinGrid, lower);
  EXPECT_EQ(o.nMaxGrid, upper);
  // A lower limit above the upper one is lowered to it.
  absurd.nMinGrid = 5000;
  absurd.nMaxGrid = 300;
  o.LoadDiscretizationParameters(absurd);
  EXPECT_EQ(o.nMaxGrid, 300);
  EXPECT_EQ(o.nMinGrid, 300);
}

}  // namespace
}  // namespace tarmic
