// The static-grid propagator against the solver object's static grid, the closed
// cell's conservation and equilibrium, grid truncation, and its step schedule.
#include "propagators/static_grid_propagator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "services/run_switches.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/data_set.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

// One solve of one species: the state set up as the model computation does, the
// scans captured, and the time of every accepted step.
struct SpeciesRun : ScanTimeRecorder {
  std::vector<std::vector<double>> scans;  // profile c[1..N] of each scan
  std::vector<double> scanTimes, stepTimes, amounts;
  std::vector<int> activeLast;
  int fewestRows = 1 << 30;  // fewest active rows of any step
  SimRunSettings settings;
  SimSpecies species;
  SimOutcome outcome;

  SpeciesRun(double s, double D, double rpm, int N, std::vector<double> times, double m = 6.0,
             double b = 7.2, bool finalProfile = false)
      : ScanTimeRecorder(
            times,
            [this](int k, const double*, const double* c, int n) {
              scans[k].assign(c, c + n + 1);
              scanTimes[k] = SimClock().dSimTime;
              amounts[k] = ClaverieTotalAmount();
              activeLast[k] = SimRun().iActiveLast;
            },
            finalProfile) {
    const std::size_t n = times.size();
    scans.resize(n);
    scanTimes.assign(n, -1);
    amounts.assign(n, 0);
    activeLast.assign(n, 0);
    ResetSimArrays();
    ResetSimRunState();
    ResetLammGlobals();
    DataSet().fMeniscus = static_cast<float>(m);
    DataSet().fBottom = static_cast<float>(b);
    LammSettings().nLammGridPoints = N;
    LammSettings().bClaverie = true;
    LammSettings().bMovingHat = false;
    EXPECT_TRUE(AllocSimArrays());
    for (int i = 1; i <= N; ++i) LammArrays().pLammConc[i] = 1.0;
    species = {s, D};
    SimRun().dSimRpm = SimRun().dFinalRpm = rpm;
    Tolerance(1.0);
    settings.meniscus = m;
    settings.bottom = b;
    settings.fitLeft = static_cast<float>(m + 0.05);
    settings.fitRight = static_cast<float>(b - 0.05);
    settings.rampRotorSpeed = false;
  }
  static void Tolerance(double t) {
    SimRun().dMaxRelChange = t;
    SimRun().dMaxRelChangeLow = 0.05 * t;
    SimRun().dMaxRelChangeTarget = 0.2 * t;
  }
  void Step(double change) override {
    stepTimes.push_back(SimClock().dSimTime);
    fewestRows = std::min(fewestRows, SimRun().iActiveLast);
    ScanTimeRecorder::Step(change);
  }
  SimOutcome Solve() {
    Start();
    return outcome = SolveLammClaverie(settings, species, *this);
  }
  double Radius(int i) const { return LammArrays().pLammRadius[i]; }
};

// The same species, grid and scans in the solver object's static grid and in the
// propagator: the same discretisation, so the profiles agree to the time-step error;
// the plateau follows the radial dilution c0 exp(-2 s w^2 t).
TEST(StaticGridPropagator, AgreesWithTheSolverObjectAndThePlateauDilution) {
  const double s = 4.0, D = 6e-7, rpm = 50000;
  test::Experiment e;
  e.scans = 3;
  e.firstTime = 1000;
  e.interval = 1000;
  e.Build();
  auto object = test::MakeSolver(e, s, D, test::ClosedCellSettings(300, false));
  ASSERT_EQ(object->Solve(), 0);

  SpeciesRun run(s, D, rpm, 300, {1000, 2000, 3000});
  ASSERT_TRUE(run.Solve().ok()) << run.outcome.message;
  for (int k = 0; k < 3; ++k) {
    double worst = 0;
    for (int j = 1; j <= e.radii; ++j) {
      // Linear interpolation of the propagator's profile at the output radius.
      const double x = e.outRadii[j], h = (7.2 - 6.0) / 299;
      const int i = std::min(299, 1 + static_cast<int>((x - 6.0) / h));
      const double f = (x - run.Radius(i)) / h;
      const double c = run.scans[k][i] + f * (run.scans[k][i + 1] - run.scans[k][i]);
      worst = std::max(worst, std::fabs(c - e.rows[k + 1][j]));
    }
    EXPECT_LT(worst, 1.5e-3) << "scan " << k;
    const double t = run.scanTimes[k];
    EXPECT_NEAR(run.scans[k][250], std::exp(-2 * test::Sw2(s, rpm) * t), 1e-4) << "plateau at " << t;
  }
}

// A closed cell keeps its amount (sedimenting, and diffusing with s = 0), and a
// small species reaches the equilibrium exponential, where the run stops by itself
// and the scans after the stop get the final profile.
TEST(StaticGridPropagator, ClosedCellConservesAndStopsAtTheEquilibriumExponential) {
  {
    SpeciesRun run(0.0, 1e-5, 50000, 200, {500, 2000, 6000});
    for (int i = 1; i <= 100; ++i) LammArrays().pLammConc[i] = 2.0;  // a step: pure diffusion
    run.settings.truncateGrid = false;
    const double amount = ClaverieTotalAmount();
    ASSERT_TRUE(run.Solve().ok()) << run.outcome.message;
    for (double a : run.amounts) EXPECT_NEAR(a / amount, 1.0, 1e-9);
    EXPECT_LT(run.scans[2][1], 1.95);  // the step has spread out
    EXPECT_GT(run.scans[2][200], 1.05);
  }
  const double m = 6.8, b = 7.2, s = 1.8, D = 5e-6, rpm = 50000;
  SpeciesRun run(s, D, rpm, 200, {1e3, 3e4, 2e5, 1e6}, m, b);
  run.settings.truncateGrid = false;
  SpeciesRun::Tolerance(0.1);
  const double amount = ClaverieTotalAmount();
  ASSERT_TRUE(run.Solve().ok()) << run.outcome.message;
  EXPECT_TRUE(SimRun().bSteadyStateReached);
  EXPECT_LT(SimClock().dSimTime, 2e5);
  for (double a : run.amounts) EXPECT_NEAR(a / amount, 1.0, 1e-9);
  // c = K exp(sigma (r^2 - m^2)), sigma = s w^2 / (2 D), K from the loaded amount.
  const double sigma = test::Sw2(s, rpm) / (2 * D), span = sigma * (b * b - m * m);
  const double K = span / (std::exp(span) - 1);
  for (int i = 1; i <= 200; i += 10) {
    const double r = run.Radius(i), eq = K * std::exp(sigma * (r * r - m * m));
    EXPECT_NEAR(run.scans[3][i] / eq, 1.0, 5e-3) << "r = " << r;
  }
  for (int i = 1; i <= 200; ++i) EXPECT_EQ(run.scans[2][i], LammArrays().pLammConc[i]);
}

// A solve depends on its arguments and the prepared profile only: the same solve
// after a different one (another species and grid, the bottom letting it out so
// that both ends are truncated) gives the same steps and profiles to the last bit,
// whatever the species globals hold.
TEST(StaticGridPropagator, SolveDoesNotDependOnAnEarlierSolve) {
  const std::vector<double> times = {1500, 4000};
  SpeciesRun first(4.0, 6e-7, 50000, 250, times);
  ASSERT_TRUE(first.Solve().ok()) << first.outcome.message;
  {
    SpeciesRun other(9.0, 2e-7, 60000, 320, {3000});
    other.settings.outflowBottom = true;
    ASSERT_TRUE(other.Solve().ok()) << other.outcome.message;
    ASSERT_LT(other.fewestRows, 320);
  }
  SpeciesRun again(4.0, 6e-7, 50000, 250, times);
  SimRun().dSimS = SimRun().dSimD = std::numeric_limits<double>::quiet_NaN();
  ASSERT_TRUE(again.Solve().ok()) << again.outcome.message;
  EXPECT_EQ(again.stepTimes, first.stepTimes);
  EXPECT_EQ(again.scans, first.scans);
}

// With the bottom letting the species out, solving only the rows near the boundary
// (the emptied region and the plateau filled analytically) gives the profile of
// the whole grid; a run whose boundary leaves the fitted range stops there and
// fills the later scans.
TEST(StaticGridPropagator, TruncatedGridGivesTheProfileOfTheWholeGrid) {
  const double s = 5.0, D = 6e-7, rpm = 60000;
  const std::vector<double> times = {2000, 5000, 8000};
  const int N = 300;
  SpeciesRun whole(s, D, rpm, N, times);
  whole.settings.outflowBottom = true;
  whole.settings.truncateGrid = false;
  ASSERT_TRUE(whole.Solve().ok()) << whole.outcome.message;
  SpeciesRun cut(s, D, rpm, N, times);
  cut.settings.outflowBottom = true;
  ASSERT_TRUE(cut.Solve().ok()) << cut.outcome.message;
  EXPECT_LT(cut.fewestRows, N / 2);  // the end rows were truncated
  EXPECT_GT(SimRun().iActiveFirst, 3);        // and the meniscus region at the end
  double worst = 0;
  for (int k = 0; k < 3; ++k)
    for (int i = 1; i <= N; ++i)
      if (cut.Radius(i) >= 6.05 && cut.Radius(i) <= 7.15) {
        worst = std::max(worst, std::fabs(cut.scans[k][i] - whole.scans[k][i]));
      }
  EXPECT_LT(worst, 1e-5);

  SpeciesRun early(s, D, rpm, N, {2000, 5000, 1e6});
  early.settings.outflowBottom = true;
  early.settings.fitRight = 6.4f;
  ASSERT_TRUE(early.Solve().ok());
  EXPECT_LT(SimClock().dSimTime, 1e4);  // the boundary (6 exp(s w^2 t) cm) passes 6.4 cm near 3300 s
  EXPECT_FALSE(SimRun().bSteadyStateReached);
  EXPECT_EQ(early.ScansRecorded(), 3);
  for (int i = 1; i <= N; ++i) EXPECT_EQ(early.scans[2][i], LammArrays().pLammConc[i]);

  // Material put back into the emptied region near the meniscus (as a failing
  // discretisation would): the truncation no longer holds and the solve fails
  // (not diverges), with the profile of the last good step.
  struct RefillRun : SpeciesRun {
    using SpeciesRun::SpeciesRun;
    bool refilled = false;
    void Step(double change) override {
      SpeciesRun::Step(change);
      if (refilled || SimClock().dSimTime < 3000 || SimRun().iActiveFirst <= 3) return;
      for (int i = SimRun().iActiveFirst - 1; i <= SimRun().iActiveFirst + 3; ++i) LammArrays().pLammConc[i] = 0.5;
      refilled = true;
    }
  };
  RefillRun refill(s, D, rpm, N, times);
  refill.settings.outflowBottom = true;
  refill.Solve();
  ASSERT_TRUE(refill.refilled);
  EXPECT_EQ(refill.outcome.status, SimStatus::Singular);
  EXPECT_LT(SimClock().dSimTime, 5000.0);
}

// Steps never go backwards, every scan is recorded exactly at its time (a scan at
// t = 0 gets the loading), the first step is taken as given, and fixed steps have
// the length of the "max dc/c" field except where they land on a scan.
TEST(StaticGridPropagator, StepsLandOnEveryScanTime) {
  for (bool fixed : {false, true}) {
    std::vector<double> times = {100.0, 250.0, 1000.0 / 3};
    if (fixed) times.insert(times.begin(), 0.0);
    SpeciesRun run(5.0, 6e-7, 60000, 200, times);
    run.settings.fixTimestep = fixed;
    run.settings.outflowBottom = true;
    SpeciesRun::Tolerance(fixed ? 7.0 : 0.05);
    SimRun().dSimDt = 5.0;  // a large first step, accepted without the error test
    ASSERT_TRUE(run.Solve().ok()) << run.outcome.message;
    for (std::size_t k = 0; k < times.size(); ++k) EXPECT_EQ(run.scanTimes[k], times[k]);
    if (fixed) {
      EXPECT_EQ(run.scans[0][1], 1.0);  // the scan at t = 0 holds the loading
    }
    ASSERT_GE(run.stepTimes.size(), 3u);
    EXPECT_EQ(run.stepTimes[fixed ? 1 : 0], fixed ? 7.0 : 5.0);
    for (std::size_t k = 1; k < run.stepTimes.size(); ++k) {
      const double dt = run.stepTimes[k] - run.stepTimes[k - 1];
      EXPECT_GT(dt, 0.0);
      if (fixed) {
        const bool lands = std::find(times.begin(), times.end(), run.stepTimes[k]) != times.end();
        if (!lands) {
          EXPECT_NEAR(dt, 7.0, 1e-9);
        }
      }
    }
  }
}

// A floating species of small D (-5 S, 1e-10 cm^2/s) on 75 nodes, ten scans at
// 50,000 rpm: the layer at the closed meniscus oscillates, -1.5 at the second node
// for a loading of 1, while the net amount is kept. No such profile is recorded:
// the run ends as diverged with the message naming the meniscus. Floating species
// of realistic D on a grid that resolves their layer keep the balance and run to
// the end.
TEST(StaticGridPropagator, FloatingSpeciesThatLoseTheBalanceAreNotRecorded) {
  std::vector<double> times;
  for (int k = 1; k <= 10; ++k) times.push_back(300.0 * k);
  for (const auto& [D, N] : {std::pair{1e-10, 75}, std::pair{6e-7, 600}, std::pair{3e-7, 1000}}) {
    SCOPED_TRACE(D);
    SpeciesRun run(-5.0, D, 50000, N, times);
    run.Solve();
    if (D > 1e-9) {
      EXPECT_TRUE(run.outcome.ok()) << run.outcome.message;
      EXPECT_EQ(run.ScansRecorded(), 10);
      continue;
    }
    EXPECT_EQ(run.outcome.status, SimStatus::Diverged);
    EXPECT_NE(run.outcome.message.find("meniscus"), std::string::npos) << run.outcome.message;
    for (int k = 0; k < run.ScansRecorded(); ++k)
      EXPECT_GT(*std::min_element(run.scans[k].begin() + 1, run.scans[k].end()), -0.5) << k;
    EXPECT_LT(run.ScansRecorded(), 10);
  }
}

// Refused input, an empty profile past the last scan, an overflowing profile and a
// step matrix without usable pivot end the run with a status instead of hanging.
TEST(StaticGridPropagator, FailuresEndTheRunWithAStatus) {
  {
    SpeciesRun run(std::numeric_limits<double>::quiet_NaN(), 6e-7, 50000, 100, {100});
    EXPECT_EQ(run.Solve().status, SimStatus::InvalidInput);
    FreeSimArrays();
    EXPECT_EQ(run.Solve().status, SimStatus::NotAllocated);
  }
  {
    SpeciesRun run(4.0, 6e-7, 50000, 100, {100, 200}, 6.0, 7.2, /*finalProfile=*/true);
    for (int i = 1; i <= 100; ++i) LammArrays().pLammConc[i] = 0.0;
    ASSERT_TRUE(run.Solve().ok());
    EXPECT_EQ(run.ScansRecorded(), 2);
    EXPECT_EQ(run.scanTimes[0], 100.0);
    EXPECT_GE(SimClock().dSimTime, kFinalProfileTime);
  }
  {
    SpeciesRun run(4.0, 6e-7, 50000, 100, {100});
    for (int i = 1; i <= 100; ++i) LammArrays().pLammConc[i] = 0.0;
    bUserAbort = true;
    EXPECT_EQ(run.Solve().status, SimStatus::Interrupted);
    bUserAbort = false;
  }
  {
    SpeciesRun run(4.0, 6e-7, 50000, 100, {100});
    LammArrays().pLammConc[50] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(run.Solve().status, SimStatus::Diverged);
  }
  {
    // A step of 1e25 s: M + dt/2 D K is K (singular: constants) to 20 digits.
    SpeciesRun run(0.0, 1e-5, 50000, 100, {1e30});
    run.settings.fixTimestep = true;
    SpeciesRun::Tolerance(1e25);
    const SimOutcome out = run.Solve();
    EXPECT_EQ(out.status, SimStatus::Singular);
    EXPECT_EQ(run.ScansRecorded(), 0);
  }
}

// At the default max dc/c the step control holds a floating boundary (-12 S, D
// 1.5e-7 cm^2/s, 60,000 rpm, 2000 nodes, 12 scans up to 3000 s) as close to the
// solution of max dc/c 0.1 as the sedimenting one of +12 S: within 2e-3 of the
// loading over the fitted range. The step floor had followed the pile-up at the
// meniscus, hundreds of times the plateau, and left the foot of the floating
// boundary unmeasured.
TEST(StaticGridPropagator, DefaultStepsHoldAFloatingBoundaryAsASedimentingOne) {
  std::vector<double> times;
  for (int k = 1; k <= 12; ++k) times.push_back(250.0 * k);
  for (const double s : {-12.0, 12.0}) {
    SCOPED_TRACE(s);
    std::vector<std::vector<double>> at[2];
    for (const int k : {0, 1}) {
      SpeciesRun run(s, 1.5e-7, 60000, 2000, times);
      SpeciesRun::Tolerance(k == 0 ? 1.0 : 0.1);
      run.settings.outflowBottom = s > 0;  // the shut-off a Run applies
      ASSERT_TRUE(run.Solve().ok()) << run.outcome.message;
      at[k] = run.scans;
    }
    double worst = 0.0;
    for (std::size_t k = 0; k < times.size(); ++k)
      for (std::size_t i = 1; i < at[0][k].size(); ++i) {
        const double r = LammArrays().pLammRadius[i];
        if (r >= 6.05 && r <= 7.15) worst = std::max(worst, std::fabs(at[0][k][i] - at[1][k][i]));
      }
    EXPECT_LT(worst, 2e-3);
  }
}

}  // namespace
}  // namespace tarmic
