// The progress recorder of the model computation, driven by a stand-in propagator
// whose profile is the time stamp c = t at every node: what a recorded scan holds
// tells when each of its points was taken.
#include "modelcalc/simulation_progress.h"

#include <gtest/gtest.h>

#include <cmath>
#if defined(__x86_64__)
#include <cpuid.h>
#endif
#include <set>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/scan_sweep.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "platform/headless/headless_backend.h"
#include "platform/image.h"
#include "plot/data_plots.h"
#include "modelcalc/simulation_messages.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {
namespace {

constexpr int kN = 201;
constexpr double kTimes[] = {1000.0, 2000.0};

class SimulationProgress : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSimRunState();
    ResetLammGlobals();
    ResetRunSwitches();
    ResetLammSettings();
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
    LammSettings().nLammGridPoints = kN;
    LammSettings().bClaverie = true;
    LammSettings().bMovingHat = false;
    ASSERT_TRUE(AllocSimArrays());
    // Two scans whose radii are the grid nodes, in reverse display order.
    AllocScanTables(2);
    for (int s = 1; s <= 2; ++s) {
      float* r = vector(1, kN);
      float* y = vector(1, kN);
      for (int i = 1; i <= kN; ++i) {
        r[i] = static_cast<float>(LammArrays().pLammRadius[i]);
        y[i] = 0.0f;
      }
      InstallScanArrays(s, kN, r, y, nullptr, false);
      DataSet().pScanInfo[static_cast<std::size_t>(s)].time = DataSet().pScanInfo[static_cast<std::size_t>(s)].recordedTime =
          kTimes[2 - s];
    }
    DataSet().pScanOrder[1] = 2;
    DataSet().pScanOrder[2] = 1;
    ModelParams().bLinearAmplitudes = AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
    ScanFile().bAbsorbanceData = true;
    ScanFile().bIntensityData = false;
  }
  void TearDown() override {
    ModelOptions().bFinalProfileToFit = false;
    AnalysisSwitches().bScanTimeCorrection = false;
    // The plots drawn from the scans go with them (no later test may lay them out).
    ReleaseDataAndResidualPlots();
    FreeDataSet();
    FreeSimArrays();
  }
  // Steps of dt (landing on the recorder's stop times) while the run goes on, up to
  // tEnd; the profile is the time stamp. Returns the steps taken.
  static int Run(SimProgress& progress, double dt, double tEnd,
                 const std::function<void()>& afterStep = {}) {
    int steps = 0;
    while (SimRun().bSimContinue && SimClock().dSimTime < tEnd) {
      double step = dt;
      LandStepOnStopTime(SimClock().dSimTime, &step);
      SimClock().dSimTime += step;
      for (int i = 1; i <= kN; ++i) LammArrays().pLammConc[i] = SimClock().dSimTime;
      ++steps;
      progress.Step(0.01);
      if (afterStep) afterStep();
    }
    return steps;
  }
};

// 2.4 cm/min over 1.2 cm: the scan takes 30 s in 100 sweeps of 0.3 s, the head
// advancing 0.012 cm (two nodes) per sweep.
TEST_F(SimulationProgress, TimeResolvedScansAreAssembledOver100SweepsAndRecordedOnce) {
  AnalysisSwitches().bScanTimeCorrection = true;
  LammSettings().fScanVelocity = 2.4f;
  const double v = LammSettings().fScanVelocity / 60.0, dts = (DataSet().fBottom - DataSet().fMeniscus) / v / kScanSweeps;
  // The sweep that takes node i: the first whose head reaches it.
  auto sweepOf = [&](int i) {
    int k = 0;
    while (k < kScanSweeps - 1 && LammArrays().pLammRadius[i] > DataSet().fMeniscus + (k + 1) * dts * v) ++k;
    return k;
  };
  ShowSimulationProgress progress;
  progress.Start();
  bool checkedFirstSweep = false;
  Run(progress, 7.0, 1e5, [&] {
    if (SimClock().dSimTime == kTimes[0]) {
      // After the first sweep the points beyond the head are still 0.
      for (int i = 1; i <= kN; ++i)
        EXPECT_EQ(LammArrays().pSimPlotWork[i], sweepOf(i) == 0 ? kTimes[0] : 0.0) << i;
      checkedFirstSweep = true;
    }
  });
  EXPECT_TRUE(checkedFirstSweep);
  // The run stops after the last sweep of the last scan.
  EXPECT_EQ(SimRun().bSimContinue, 0);
  EXPECT_NEAR(SimClock().dSimTime, kTimes[1] + 99 * dts, 1e-9);
  // The last scan as assembled: 100 sweeps at their times.
  std::set<double> sweeps;
  for (int i = 1; i <= kN; ++i) {
    EXPECT_NEAR(LammArrays().pSimPlotWork[i], kTimes[1] + sweepOf(i) * dts, 1e-9) << i;
    sweeps.insert(std::round((LammArrays().pSimPlotWork[i] - kTimes[1]) / dts));
  }
  EXPECT_EQ(sweeps.size(), static_cast<std::size_t>(kScanSweeps));
  // Each scan was added once to its fit row (at the scan radii, between the
  // sweeps of neighbouring nodes).
  for (int p = 1; p <= 2; ++p) {
    const float* fit = DataSet().ppFit[static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(p)])];
    for (int i = 1; i <= kN; ++i)
      EXPECT_NEAR(fit[i], kTimes[p - 1] + sweepOf(i) * dts, dts + 1e-3) << p << " " << i;
  }
}

// Without the final-profile option the run ends at the last scan; with it the run
// goes on and the final profile replaces the last scan once, both when the run
// reaches the far end of time and when the propagator stops by its own rule.
TEST_F(SimulationProgress, FinalProfileIsRecordedOnceIntoTheLastScan) {
  {
    ShowSimulationProgress progress;
    progress.Start();
    Run(progress, 300.0, 1e5);
    EXPECT_EQ(SimRun().bSimContinue, 0);
    EXPECT_EQ(SimClock().dSimTime, kTimes[1]);
    FinishSimRun(progress, SimStopReason::Progress, nullptr);
    EXPECT_FLOAT_EQ(DataSet().ppFit[2][50], kTimes[0]);  // scan 2 is shown first
    EXPECT_FLOAT_EQ(DataSet().ppFit[1][50], kTimes[1]);
  }
  ModelOptions().bFinalProfileToFit = true;
  for (const bool ownStop : {false, true}) {
    for (int s = 1; s <= 2; ++s)
      for (int i = 1; i <= kN; ++i) DataSet().ppFit[static_cast<std::size_t>(s)][i] = 0.0f;
    SimClock().dSimTime = 0.0;
    SimRun().bSimContinue = 1;
    ShowSimulationProgress progress;
    progress.Start();
    // Large steps reach the far end of time; the own stop comes at 5000 s.
    const int steps = Run(progress, 1e6, ownStop ? 5000.0 : 1e12);
    EXPECT_LT(steps, 200);
    const double end = SimClock().dSimTime;
    EXPECT_TRUE(ownStop ? SimRun().bSimContinue == 1 : end >= kFinalProfileTime);
    FinishSimRun(progress, ownStop ? SimStopReason::SteadyState : SimStopReason::Progress, nullptr);
    EXPECT_FLOAT_EQ(DataSet().ppFit[2][50], kTimes[0]);
    EXPECT_FLOAT_EQ(DataSet().ppFit[1][50], end) << "the final profile, added once";
  }
}

// A key pressed during the run stops it at the step that sees it, not only at the
// next scan (which tiny steps may never reach): nothing more is recorded.
TEST_F(SimulationProgress, KeyPressStopsTheRunAtTheNextStep) {
  ScopedHeadlessBackend backend;
  static_cast<HeadlessWindow&>(GetBackend().MainWindow()).PressKey('X');
  ShowSimulationProgress progress;
  progress.Start();
  EXPECT_EQ(Run(progress, 300.0, 1e5), 1);
  EXPECT_EQ(SimClock().dSimTime, 300.0);
  EXPECT_TRUE(bUserAbort);
  EXPECT_EQ(FinishSimRun(progress, SimStopReason::Progress, nullptr).status, SimStatus::Interrupted);
  EXPECT_FLOAT_EQ(DataSet().ppFit[2][50], 0.0f);
  EXPECT_FLOAT_EQ(DataSet().ppFit[1][50], 0.0f);
}

#if defined(__x86_64__)
// Whether the upper halves of the vector registers are in use: bit 2 of the
// in-use state that XGETBV reports for ECX = 1; false where the processor has no
// such report (the test is skipped there).
bool CanSeeUpperHalves() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid_count(1, 0, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
  return __get_cpuid_count(0xD, 1, &a, &b, &c, &d) && (a & 4u);
}
bool UpperHalvesInUse() {
  unsigned lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  return (lo & 4u) != 0;
}
// What window code compiled for the wide registers may leave behind.
void UseUpperHalves() { __asm__ volatile("vpcmpeqd %%ymm8, %%ymm8, %%ymm8" ::: "xmm8"); }

// The key poll of a step runs window code (here: a pump that leaves the upper
// halves in use); the step's arithmetic after it, and the next step, run with
// them clean.
TEST_F(SimulationProgress, StepCleansTheVectorStateAfterItsKeyPoll) {
  if (!CanSeeUpperHalves()) GTEST_SKIP() << "no report of the vector state in use";
  ScopedHeadlessBackend backend;
  int dirtied = 0;
  backend->SetPumpHook([&] {
    UseUpperHalves();
    if (UpperHalvesInUse()) ++dirtied;
  });
  for (const bool live : {false, true}) {
    SimProgressOptions options;
    options.liveDisplay = live;
    ShowSimulationProgress progress(options);
    progress.Start();
    const int before = dirtied;
    SimClock().dSimTime = 10.0;
    progress.Step(0.01);
    const bool inUse = UpperHalvesInUse();
    ASSERT_GT(dirtied, before) << "the step polled no keys";
    EXPECT_FALSE(inUse) << "live display " << live;
  }
  backend->SetPumpHook(nullptr);
}
#endif

// With the live display the reacting system's free A, free B and complex are drawn
// over the data plot at each scan time, in blue, green and red; without the switch
// none of the three is drawn. The cosolute profile of a sedimenting cosolute is
// drawn with each recorded scan outside fits.
TEST_F(SimulationProgress, ReactingAndCosoluteProfilesAreDrawnAtScanTimes) {
  ScopedHeadlessBackend backend;
  HeadlessWindow& window = backend->Headless();
  FreeSimArrays();
  ModelFlags().bHeteroAssocModel = true;
  ASSERT_TRUE(AllocSimArrays());
  for (int i = 1; i <= kN; ++i) {
    // Three levels within the range of the data (0 to 1).
    LammArrays().pFreeA[i] = 0.2;
    LammArrays().pFreeB[i] = 0.5;
    LammArrays().pComplex[i] = 0.8;
    for (int s = 1; s <= 2; ++s) DataSet().ppSignal[static_cast<std::size_t>(s)][i] = static_cast<float>(i) / kN;
  }
  RebuildDataAndResidualPlots();
  ASSERT_NE(DataPlots().pDataPlot, nullptr);
  auto count = [&](Color c) {
    int n = 0;
    const Image& screen = window.Screen();
    for (int y = 0; y < screen.Height(); ++y)
      for (int x = 0; x < screen.Width(); ++x) n += screen.Pixel(x, y) == c;
    return n;
  };
  // One simulated run through the window, as the live display draws it.
  auto simulate = [&](bool live) {
    SimProgressOptions options;
    options.liveDisplay = live;
    SimRun().pSimWindow = &window;
    SimClock().dSimTime = 0.0;
    SimRun().bSimContinue = 1;
    ShowSimulationProgress progress(options);
    progress.Start();
    Run(progress, 300.0, 1e5);
    SimRun().pSimWindow = nullptr;
  };
  const Color colours[3] = {RGB(0, 0, 255), RGB(0, 255, 0), RGB(255, 0, 0)};
  for (bool show : {false, true}) {
    SCOPED_TRACE(show ? "shown" : "switched off");
    SimulationDisplay().bShowComplex = show;
    int before[3];
    for (int k = 0; k < 3; ++k) before[k] = count(colours[k]);
    simulate(true);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(count(colours[k]) > before[k], show) << k;
  }
  SimulationDisplay().bShowComplex = true;
  ModelFlags().bHeteroAssocModel = false;

  // The sedimenting cosolute's profile, in blue, with each recorded scan; not while
  // a fit evaluates.
  SolventSettings().gInhomSolvent.bInhomogeneousSolvent = SolventSettings().gInhomSolvent.bSedimentingCosolute = true;
  SolventSettings().gInhomSolvent.bShowCosoluteProfile = true;
  ASSERT_TRUE(AllocCosolventArrays());
  for (int i = 1; i <= LammArrays().nCosolventPoints; ++i) CosolventArray(2)[i] = 0.35;
  for (bool fitting : {true, false}) {
    SCOPED_TRACE(fitting ? "fit running" : "no fit");
    SimulationMessages().bFitRunning = fitting;
    const int before = count(colours[0]);
    simulate(false);
    EXPECT_EQ(count(colours[0]) > before, !fitting);
  }
  SimulationMessages().bFitRunning = false;
  ResetInhomSolventSettings();
  FreeCosolventArrays();
}

}  // namespace
}  // namespace tarmic
