// Whole distribution analyses on synthetic sedimentation velocity data made with the
// Lamm equation solver: three species at 2, 6 and 11 S (loading 0.2, 0.5 and 0.3,
// f/f0 1.25) at 50,000 rpm in a 6.0-7.2 cm cell, 40 scans every 300 s, Gaussian
// noise of 0.005 and a time-invariant and a radial-invariant offset pattern.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_storage.h"
#include "distributions/install_hooks.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/hydrodynamics.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "platform/system.h"
#include "platform/worker_threads.h"
#include "plot/winplot.h"
#include "scandata/fit_limits.h"
#include "scandata/scan_file.h"
#include "tests/watchdog.h"

namespace tarmic::testing {
namespace {

constexpr int kScans = 40;
constexpr double kRadialStep = 0.003;  // cm
constexpr float kLeftLimit = 6.05f, kRightLimit = 7.1f;
constexpr double kNoise = 0.005;
constexpr double kSpeciesS[3] = {2.0, 6.0, 11.0};
constexpr double kLoading[3] = {0.2, 0.5, 0.3};
constexpr float kFf0 = 1.25f;

void SetSolvent() {
  ResetSolventConstants();
  SolventConstants().VBAR = 0.73f;
  SolventConstants().fBufferDensity = 0.99823f;
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  SolventConstants().RELVISCOSITY = 1.0f;
  SolventConstants().fFrictionalRatio = kFf0;
}

// Molar mass of a species of s (S) at f/f0 1.25 by the hydrodynamic relations.
double TrueMass(double s) {
  SetSolvent();
  return CalculateM(static_cast<float>(s));
}

// TI offset at radius r and RI offset of scan j.
double TIPattern(double r) {
  return 0.02 * std::sin(2.0 * M_PI * (r - 6.0) / 0.31) + 0.01 * std::cos(7.0 * (r - 6.0));
}
double RIPattern(int j) { return 0.015 * std::sin(0.9 * j) - 0.005; }

struct SyntheticSet {
  std::vector<float> radii;                // [1..n]
  std::vector<std::vector<float>> signal;  // [scan][1..n]
  int n = 0;
};

// The three boundaries by the Lamm solver on a finer grid and with a tighter step
// control than the kernels use, plus offsets and noise (fixed seed).
SyntheticSet MakeSyntheticSet() {
  SetSolvent();
  SyntheticSet set;
  set.n = static_cast<int>(std::lround((kBottom - kMeniscus) / kRadialStep)) + 1;
  set.radii.assign(static_cast<std::size_t>(set.n) + 1, 0.0f);
  for (int k = 1; k <= set.n; ++k) set.radii[k] = static_cast<float>(kMeniscus + kRadialStep * (k - 1));

  std::vector<LammScanRecord> records(kScans + 1);
  for (int j = 1; j <= kScans; ++j) {
    records[j].time = records[j].timeUncorrected = 300.0 * j;
    records[j].rpm = 50000.0f;
    records[j].temperature = 20.0f;
  }
  // Species k's scan j is out[k][j][1..n], all in one block.
  const std::size_t row = static_cast<std::size_t>(set.n) + 1, per = kScans + 1;
  std::vector<float> block(4 * per * row, 0.0f);
  std::vector<float*> rows(4 * per, nullptr);
  float** out[4] = {};
  double s[4] = {}, D[4] = {};
  for (std::size_t k = 1; k <= 3; ++k) {
    for (std::size_t j = 0; j < per; ++j) rows[k * per + j] = &block[(k * per + j) * row];
    out[k] = &rows[k * per];
    s[k] = kSpeciesS[k - 1];
    D[k] = DFromM(CalculateM(static_cast<float>(s[k])), 20.0f);
  }
  CLammIdeal t;
  t.SetIdealModel();
  t.LoadSedimentationParameters(s[3], D[3], kMeniscus, kBottom, 1.0, 6.001f, 7.199f);
  t.SkipAccelerationCheck();
  t.LoadOutputParameters({.pScans = records.data(),
                          .ppOut = out[1],
                          .pOutRadii = set.radii.data(),
                          .nOutRadii = set.n,
                          .nScanCount = kScans});
  LammDiscretizationSettings fine;
  fine.fPointsPerSigma = 10.0f;
  fine.nMaxGrid = 4000;
  fine.dTolerance = fine.dToleranceIn = 0.3;
  t.LoadDiscretizationParameters(fine);
  t.SetSolventConditions(20.0, SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
  bUserAbort = false;
  EXPECT_EQ(CLRunMTList(&t, 3, s, D, nullptr, out, set.radii.data(), set.n, nullptr, nullptr), 0);

  SeedRandomGenerators(20240607u);
  set.signal.assign(kScans + 1, std::vector<float>(static_cast<std::size_t>(set.n) + 1, 0.0f));
  for (int j = 1; j <= kScans; ++j) {
    for (int p = 1; p <= set.n; ++p) {
      double v = TIPattern(set.radii[p]) + RIPattern(j) + GaussianRandomDouble(kNoise);
      for (int k = 1; k <= 3; ++k) v += kLoading[k - 1] * out[k][j][p];
      set.signal[j][p] = static_cast<float>(v);
    }
  }
  return set;
}

const SyntheticSet& Synthetic() {
  static const SyntheticSet set = MakeSyntheticSet();
  return set;
}

// The note of a Run that a key stopped: the program's "user interrupt" (caption
// "ERROR"), that the Run was stopped, and, where the result of before the Run is on
// show again, that it is the earlier one.
void ExpectStoppedRunNote(const RunMessage& note, bool earlierOnShow, const std::string& what = "") {
  EXPECT_EQ(note.caption, "ERROR") << what;
  EXPECT_EQ(note.text.rfind("user interrupt\n", 0), 0u) << what << ": " << note.text;
  EXPECT_NE(note.text.find("stopped before it had a result"), std::string::npos) << what;
  EXPECT_EQ(note.text.find("the result on show is the earlier one") != std::string::npos, earlierOnShow)
      << what << ": " << note.text;
}

class ContiRunTest : public DistributionTest {
 protected:
  void SetUp() override {
    DistributionTest::SetUp();
    ResetLammSettings();
    ResetLammGlobals();
    ResetModelFitHooks();
    InstallDistributionHooks();
    InstallData();
  }
  void TearDown() override {
    ResetModelFitHooks();
    SetSolvent();
    DistributionTest::TearDown();
  }

  static void InstallData() {
    const SyntheticSet& set = Synthetic();
    AllocScanTables(kScans);
    for (int j = 1; j <= kScans; ++j) {
      float* r = tarmic::vector(1, set.n);
      float* y = tarmic::vector(1, set.n);
      for (int p = 1; p <= set.n; ++p) {
        r[p] = set.radii[p];
        y[p] = set.signal[j][p];
      }
      ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(j)];
      info.time = info.recordedTime = info.timeAtLoad = 300.0 * j;
      info.rpm = 50000.0f;
      info.temperature = 20.0f;
      InstallScanArrays(j, set.n, r, y, nullptr, false);
    }
    ScanFile().bAbsorbanceData = false;
    DataSet().fMeniscus = static_cast<float>(kMeniscus);
    DataSet().fBottom = static_cast<float>(kBottom);
    DataSet().fTemperatureK = 293.15f;
    ASSERT_TRUE(BuildCommonRadialGrid());
    DataSet().fFitLeftLim = kLeftLimit;
    DataSet().fFitRightLim = kRightLimit;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
    SetSolvent();
  }

  // The parameters of a continuous model: grid, confidence level, solvent, f/f0,
  // with TI and RI noise.
  static void SetContinuousParams(float lo, float hi, float count) {
    ModelFlags().bContiModel = true;
    AnalysisSwitches().pParams[kContiSlotGridMin] = lo;
    AnalysisSwitches().pParams[kContiSlotGridMax] = hi;
    AnalysisSwitches().pParams[kContiSlotGridCount] = count;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
    AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f;
    AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = kFf0;
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
    AnalysisSwitches().pParams[14] = DataSet().fBottom;
    for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
    AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  }

  // The c(s) kernel points of a 12-point grid from 0.5 to 14 S.
  static KernelPointList CsKernelPoints() {
    ModelFlags().bContiSModel = true;
    SetContinuousParams(0.5f, 14.0f, 12.0f);
    UnpackModelParams();
    KernelPointList list;
    EXPECT_TRUE(SetupContiGrid(AskingPolicy()));
    list.Resize(DistributionVectors().nDistGrid);
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) EXPECT_TRUE(SetupKernelPoint(i, 20.0f, 0.0, list));
    return list;
  }
  // Every kernel value but those of point `skip`, and the kernels set to -1.
  static std::vector<float> Kernels(int skip = 0) {
    std::vector<float> all;
    for (int k = 1; k <= DistributionVectors().nDistGrid; ++k)
      for (int j = 1; k != skip && j <= DataSet().nScans; ++j)
        all.insert(all.end(), DistributionStorage().pppKernels[k][j] + 1, DistributionStorage().pppKernels[k][j] + CurrentGrid().nGridPoints + 1);
    return all;
  }
  static void SpoilKernels() {
    for (int k = 1; k <= DistributionVectors().nDistGrid; ++k)
      for (int j = 1; j <= DataSet().nScans; ++j)
        for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) DistributionStorage().pppKernels[k][j][g] = -1.0f;
  }

  static double Rmsd() {
    double sum = 0.0;
    long count = 0;
    for (int j = 1; j <= DataSet().nScans; ++j) {
      const std::size_t s = static_cast<std::size_t>(j);
      for (int p = 1; p <= DataSet().pnPoints[s]; ++p) {
        const float r = DataSet().ppRadius[s][p];
        if (r < DataSet().fFitLeftLim || r > DataSet().fFitRightLim) continue;
        const double d = DataSet().ppSignal[s][p] - DataSet().ppFit[s][p];
        sum += d * d;
        ++count;
      }
    }
    return std::sqrt(sum / static_cast<double>(count));
  }

  // Area and weight-average position of the distribution between lo and hi.
  static void Peak(float lo, float hi, float* area, float* mean) {
    float total = 0.0f;
    IntegrateDistribution(lo, hi, area, mean, &total, nullptr, nullptr, nullptr);
  }

  // The three peaks of c(s) at their s and loading, the rmsd at the noise.
  static void ExpectSPeaksAndRmsd() {
    const float windows[4] = {0.5f, 4.0f, 8.5f, 14.5f};
    for (int k = 0; k < 3; ++k) {
      float area = 0.0f, mean = 0.0f;
      Peak(windows[k], windows[k + 1], &area, &mean);
      EXPECT_NEAR(mean, kSpeciesS[k], 0.02 * kSpeciesS[k]) << "peak " << k;
      EXPECT_NEAR(area, kLoading[k], 0.05 * kLoading[k]) << "peak " << k;
    }
    EXPECT_NEAR(Rmsd(), kNoise, 0.1 * kNoise);
  }

  // The fitted TI profile and RI offsets against the true patterns, each taken
  // relative to its mean over the fit range (a constant may move between the two).
  static void ExpectNoisePatternsRecovered(double tolerance) {
    // Largest difference of fit and truth over [lo, hi], both taken about their means.
    auto worst = [](int lo, int hi, auto fit, auto truth) {
      double fm = 0.0, tm = 0.0, w = 0.0;
      for (int i = lo; i <= hi; ++i) fm += fit(i) / (hi - lo + 1), tm += truth(i) / (hi - lo + 1);
      for (int i = lo; i <= hi; ++i) w = std::max(w, std::fabs((fit(i) - fm) - (truth(i) - tm)));
      return w;
    };
    EXPECT_LT(worst(CurrentGrid().iFitFirst, CurrentGrid().iFitLast, [](int g) { return double(CurrentGrid().pTINoise[g]); },
                    [](int g) { return TIPattern(CurrentGrid().pGridRadius[g]); }), tolerance);
    EXPECT_LT(worst(1, DataSet().nScans, [](int j) { return double(CurrentGrid().pRINoise[j]); }, RIPattern), tolerance);
  }
};

TEST_F(ContiRunTest, CsWithTheWindowRecoversPeaksAreasNoiseAndRmsdAndDraws) {
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 150.0f);
  ASSERT_EQ(RunContiSed(&backend->MainWindow()), ContiRunOutcome::Computed);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NE(GetDistributionPlotMetafile(), nullptr);
  EXPECT_EQ(NormalEquations().hContiDC, nullptr);
  EXPECT_EQ(DistributionVectors().nDistGrid, 150);
  EXPECT_EQ(DistributionStorage().pppKernels, nullptr);  // released after the result

  ExpectSPeaksAndRmsd();
  ExpectNoisePatternsRecovered(0.005);
  // After every run the static grid with the automatic choice is selected.
  EXPECT_TRUE(LammSettings().bClaverie);
  EXPECT_FALSE(LammSettings().bMovingHat);
  EXPECT_TRUE(LammSettings().bAutoFEAlgorithm);
}

TEST_F(ContiRunTest, CmRecoversTheMasses) {
  const double M[3] = {TrueMass(2.0), TrueMass(6.0), TrueMass(11.0)};
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.maxEntropy = false;
    return s;
  };
  SetContinuousParams(2000.0f, 400000.0f, 150.0f);
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  // The molar-mass grid carries the s of every point after the run.
  EXPECT_NEAR(DistributionVectors().pDistGrid[DistributionVectors().nDistGrid], SFromMandD(400000.0f, DFromM(400000.0f, 20.0f), 20.0f), 1e-3);
  const float windows[4] = {3000.0f, static_cast<float>(std::sqrt(M[0] * M[1])),
                            static_cast<float>(std::sqrt(M[1] * M[2])), 390000.0f};
  for (int k = 0; k < 3; ++k) {
    float area = 0.0f, mean = 0.0f;
    Peak(windows[k], windows[k + 1], &area, &mean);
    EXPECT_NEAR(mean, M[k], 0.05 * M[k]) << "peak " << k;
  }
  EXPECT_STREQ(DistributionYTitle(), "c(M)");

  // Saved, the c(M) result is refused under a c(s) model and restored over M under c(M).
  const std::vector<float> Ms(DistributionVectors().pDistS + 1, DistributionVectors().pDistS + DistributionVectors().nDistGrid + 1);
  const std::vector<float> c(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "conti_run";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "cm.dat").string();
  ASSERT_TRUE(SaveContiDistribution(path));
  EXPECT_EQ(ReadSavedDistributionKind(path), DistributionKind::MolarMass);
  ClearDistribution();
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  EXPECT_FALSE(RestoreContiDistribution(path));
  EXPECT_EQ(DistributionVectors().pDistValues, nullptr);
  ResetModelFlags();
  ModelFlags().bContiModel = true;
  ASSERT_TRUE(RestoreContiDistribution(path));
  ASSERT_EQ(DistributionVectors().nDistGrid, static_cast<int>(Ms.size()));
  EXPECT_EQ(std::vector<float>(DistributionVectors().pDistS + 1, DistributionVectors().pDistS + DistributionVectors().nDistGrid + 1), Ms);
  EXPECT_EQ(std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1), c);
  EXPECT_EQ(DistributionPlot().pDistPlot->szXLabel, "molar mass [Da]");
}

// An interrupted run frees its kernels and workspace; the last result (here a fit
// without a distribution) stays as it was, and the new grid goes. The run's note
// says that it was stopped and that the result on show is the earlier one; with no
// result before the run, that nothing is the stopped run's.
TEST_F(ContiRunTest, KeyDuringTheKernelsEndsTheRunKeepingTheLastResult) {
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 40.0f);
  for (const bool earlier : {true, false}) {
    AnalysisSwitches().bModelComputed = earlier;  // a previous result, or none
    UiEvents().Post(Event::KeyDown('S'));
    const ContiRunResult run = RunContiSed(nullptr);
    EXPECT_EQ(run.outcome, ContiRunOutcome::Interrupted);
    ExpectStoppedRunNote(run.message, earlier, earlier ? "earlier result" : "none");
    EXPECT_EQ(AnalysisSwitches().bModelComputed, earlier);
    EXPECT_FALSE(bUserAbort);
    EXPECT_EQ(DistributionStorage().ppNormalMatrix, nullptr);
    EXPECT_EQ(DistributionVectors().pDistValues, nullptr);
  }
}

TEST_F(ContiRunTest, KeyDuringTheNormalEquationsEndsTheRunKeepingTheLastResult) {
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.multiThreading = false;
    return s;
  };
  // The key arrives once the kernels are done.
  GetDistributionHooks().writeDebugLog = [](const std::string& text) {
    if (text == "\n RunContiSed starting normal equations") UiEvents().Post(Event::KeyDown('S'));
  };
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 40.0f);
  AnalysisSwitches().bModelComputed = true;
  // The run hands its "user interrupt" to the command and shows no box itself.
  const ContiRunResult run = RunContiSed(&backend->MainWindow());
  EXPECT_EQ(run.outcome, ContiRunOutcome::Interrupted);
  ExpectStoppedRunNote(run.message, true);
  EXPECT_TRUE(backend->Transcript().empty());
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_FALSE(bUserAbort);
  EXPECT_EQ(DistributionVectors().pDistValues, nullptr);
  EXPECT_EQ(NormalEquations().hContiDC, nullptr);
}

// A key at any moment of a Run ends the Run at the poll that takes it (no poll
// comes after it), the last result staying on show: at the first poll, in the
// middle of the kernels, of the normal equations, of the first non-negative least
// squares and of the regularisation search; with the worker threads the system
// gives and with every one of them refused. In every phase the Run's note says it
// was stopped and that the result on show is the earlier one. The key is typed as the window system
// delivers it: when a poll lets the backend pump its events. During the
// maximum-entropy search the key ends the search at its best point, with the
// message that says so.
TEST_F(ContiRunTest, KeyAtAnyMomentOfARunEndsItAtThatPoll) {
  const testing::Watchdog watchdog("c(s) Runs with a key at many moments");
  struct RealStarts {
    ~RealStarts() { SetWorkerThreadStartFailure(0, nullptr); }
  } realStarts;
  bool maxEntropy = false;
  GetDistributionHooks().runSettings = [&maxEntropy] {
    ContiRunSettings s;
    s.maxEntropy = maxEntropy;
    s.threads = 3;
    return s;
  };
  enum class Phase { Kernels, Equations, Solve } phase = Phase::Kernels;
  // The NNLS solves begun in the solve phase: each sets the solution to 0 and reads
  // the keyboard at its first step, so that a poll that finds the solution all 0 is
  // the start of one.
  long solves = 0;
  const auto countSolve = [&] {
    if (phase != Phase::Solve) return;
    const int n = std::min(DistributionStorage().nNEQUnknowns, DistributionStorage().nWorkspaceUnknowns);
    const auto zero = [](double v) { return v == 0.0; };
    if (DistributionStorage().pDistSolution && std::all_of(DistributionStorage().pDistSolution + 1, DistributionStorage().pDistSolution + n + 1, zero)) ++solves;
  };
  int refreshesAtSolve = 0;
  HeadlessWindow& window = backend->Headless();
  GetDistributionHooks().writeDebugLog = [&](const std::string& text) {
    if (text == "\n RunContiSed starting normal equations") phase = Phase::Equations;
    if (text == "\nStarting Regularization") {
      phase = Phase::Solve;
      solves = 0;
      refreshesAtSolve = window.RefreshCount();
    }
  };
  LammGlobals().nLammThreads = 3;
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.5f, 14.0f, 12.0f);
  // The result on show, and the work of a whole Run.
  backend->SetPumpHook(countSolve);
  ASSERT_EQ(RunContiSed(&window), ContiRunOutcome::Computed);
  backend->SetPumpHook(nullptr);
  const std::vector<float> shown(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  const std::vector<float> fit(DataSet().ppFit[1] + 1, DataSet().ppFit[1] + DataSet().pnPoints[1] + 1);
  const std::vector<float> ti(CurrentGrid().pTINoise + 1, CurrentGrid().pTINoise + CurrentGrid().nGridPoints + 1);
  const int kernels = DistributionVectors().nDistGrid;
  const long solveCount = solves;
  ASSERT_GT(solveCount, 2);

  struct Moment {
    const char* name;
    std::function<bool()> when;
  };
  const std::vector<Moment> moments = {
      {"the first poll", [] { return true; }},
      {"the kernels", [&] { return phase == Phase::Kernels && LammProgress().nLammEquationsDone >= 1; }},
      {"the normal equations", [&] { return phase == Phase::Equations && NormalEquations().nNEQScansDone >= 8; }},
      {"the first NNLS", [&] { return phase == Phase::Solve; }},
      {"the regularisation search",
       [&] { return phase == Phase::Solve && solves > solveCount / 2; }},
  };
  const auto refuse = [] {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  // A latch: the workers take no equation after the first until the interface
  // thread has polled once with one done, so that a poll in the middle of the
  // kernels comes however fast an optimised build solves them (a worker waits; the
  // interface thread, solving when no worker started, never does).
  std::atomic<bool> polled{false};
  SetLammEquationStartHook([&polled](int equation) {
    if (equation > 1 && !IsUiThread())
      while (!polled.load()) std::this_thread::yield();
  });
  struct NoHook {
    ~NoHook() { SetLammEquationStartHook(nullptr); }
  } noHook;
  for (const bool refused : {false, true}) {
    SetWorkerThreadStartFailure(refused ? 1 : 0, refused ? std::function<void()>(refuse) : nullptr);
    for (const Moment& m : moments) {
      const std::string what = std::string(m.name) + (refused ? ", threads refused" : "");
      phase = Phase::Kernels;
      polled = false;
      int pumpAtKey = -1;
      backend->SetPumpHook([&] {
        countSolve();
        if (pumpAtKey < 0 && m.when()) {
          pumpAtKey = backend->PumpCount();
          window.PressKey('S');
        }
        if (LammProgress().nLammEquationsDone.load() >= 1 || pumpAtKey >= 0) polled = true;
      });
      const ContiRunResult run = RunContiSed(&window);
      backend->SetPumpHook(nullptr);
      ASSERT_GE(pumpAtKey, 0) << what << ": no poll in that phase";
      EXPECT_EQ(run.outcome, ContiRunOutcome::Interrupted) << what;
      EXPECT_EQ(backend->PumpCount(), pumpAtKey) << what << ": polls after the key";
      ExpectStoppedRunNote(run.message, true, what);
      if (phase == Phase::Kernels) EXPECT_LT(LammProgress().nLammEquationsDone.load(), kernels) << what;
      if (phase == Phase::Solve) EXPECT_LT(solves, solveCount) << what;
      EXPECT_FALSE(bUserAbort) << what;
      EXPECT_TRUE(AnalysisSwitches().bModelComputed) << what;
      ASSERT_NE(DistributionVectors().pDistValues, nullptr) << what;
      EXPECT_EQ(std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1), shown) << what;
      EXPECT_EQ(std::vector<float>(DataSet().ppFit[1] + 1, DataSet().ppFit[1] + DataSet().pnPoints[1] + 1), fit) << what;
      EXPECT_EQ(std::vector<float>(CurrentGrid().pTINoise + 1, CurrentGrid().pTINoise + CurrentGrid().nGridPoints + 1), ti) << what;
      EXPECT_TRUE(backend->Transcript().empty()) << what;
    }
  }
  SetWorkerThreadStartFailure(0, nullptr);
  SetLammEquationStartHook(nullptr);

  // Maximum entropy: a key after the first point of the search ends it there.
  maxEntropy = true;
  phase = Phase::Kernels;
  int pumpAtKey = -1;
  backend->SetPumpHook([&] {
    if (pumpAtKey < 0 && phase == Phase::Solve && window.RefreshCount() > refreshesAtSolve) {
      pumpAtKey = backend->PumpCount();
      window.PressKey('S');
    }
  });
  backend->QueueMessageBox(IDOK, "ATTENTION");
  const ContiRunResult run = RunContiSed(&window);
  backend->SetPumpHook(nullptr);
  ASSERT_GE(pumpAtKey, 0);
  EXPECT_EQ(run.outcome, ContiRunOutcome::Computed);
  EXPECT_EQ(backend->PumpCount(), pumpAtKey);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text.rfind("caught in local minimum or user interrupt at P = ", 0), 0u);
  EXPECT_FALSE(bUserAbort);
}

TEST_F(ContiRunTest, NoScansDoesNothingAndMissingGeometryIsReported) {
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 30.0f);
  FreeDataSet();
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::NotStarted);
  EXPECT_TRUE(backend->Transcript().empty());
  EXPECT_TRUE(LammSettings().bClaverie);

  InstallData();
  ModelFlags().bContiSModel = true;
  DataSet().fMeniscus = 0.0f;
  const ContiRunResult run = RunContiSed(nullptr);
  EXPECT_EQ(run.outcome, ContiRunOutcome::NotStarted);
  EXPECT_EQ(run.message.text, "set Meniscus and Bottom first");
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST_F(ContiRunTest, ZeroFitLimitsAreTheMeniscusAndTheBottom) {
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 20.0f);
  DataSet().fFitLeftLim = DataSet().fFitRightLim = 0.0f;
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  // The limit indices bring the limits just inside the data.
  EXPECT_NEAR(DataSet().fFitLeftLim, DataSet().fMeniscus, 0.02);
  EXPECT_NEAR(DataSet().fFitRightLim, DataSet().fBottom, 0.02);
  EXPECT_LT(CurrentGrid().iFitFirst, 10);
  EXPECT_GT(CurrentGrid().iFitLast, CurrentGrid().nGridPoints - 10);
}

TEST_F(ContiRunTest, GridBeyondTheLargestObservableSStopsBeforeAnySolution) {
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.0f, 400.0f, 20.0f);
  const double sMax = LargestObservableS();
  // ln(7.1 / 6.0) / (omega^2 300 s) at 50,000 rpm.
  const double omega = 50000.0 / 60.0 * 2.0 * M_PI;
  EXPECT_NEAR(sMax, std::log(CurrentGrid().pGridRadius[CurrentGrid().iFitLast] / 6.0) * 1e13 / (omega * omega * 300.0), 1e-3);
  const ContiRunResult run = RunContiSed(nullptr);
  EXPECT_EQ(run.outcome, ContiRunOutcome::NotStarted);
  EXPECT_EQ(run.message.text.rfind("sedimentation coefficient #", 0), 0u);
  EXPECT_TRUE(backend->Transcript().empty());
  EXPECT_EQ(DistributionStorage().pppKernels, nullptr);
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);

  // The first scan's recorded omega^2 t, 7 % below rpm^2 t after the acceleration:
  // the boundaries have travelled less, a larger s is still observable, and a grid
  // ending between the two limits is computed.
  const double w2t = 0.93 * omega * omega * 300.0;
  DataSet().pScanInfo[static_cast<std::size_t>(DataSet().pScanOrder[1])].omega2t = w2t;
  const double recorded = std::log(CurrentGrid().pGridRadius[CurrentGrid().iFitLast] / 6.0) * 1e13 / w2t;
  EXPECT_NEAR(LargestObservableS(), recorded, 1e-3);
  SetContinuousParams(1.0f, static_cast<float>(0.5 * (sMax + recorded)), 8.0f);
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
}

TEST_F(ContiRunTest, ThreadedKernelsEqualSerialKernels) {
  KernelPointList list = CsKernelPoints();
  ASSERT_FALSE(HasFailure());
  LammGlobals().nLammThreads = 1;
  ASSERT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  const std::vector<float> serial = Kernels();
  LammGlobals().nLammThreads = 3;
  SpoilKernels();
  ASSERT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  EXPECT_EQ(Kernels(), serial);

  // The detection corrections of the fluorescence options reach the kernels: a
  // linear drift of 20 %/h scales the kernel of a scan at t by 1 + 0.2 t / 3600.
  GetDistributionHooks().detectionCorrections = [](CLammIdeal& lamm) {
    lamm.SetTemporalDrift(true, 20.0f, false);
  };
  ASSERT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  GetDistributionHooks().detectionCorrections = nullptr;
  const std::vector<float> drifted = Kernels();
  std::size_t at = 0;
  for (int k = 1; k <= DistributionVectors().nDistGrid; ++k)
    for (int j = 1; j <= DataSet().nScans; ++j) {
      const double factor = 1.0 + 0.2 * DataSet().pScanInfo[static_cast<std::size_t>(j)].recordedTime / 3600.0;
      for (int g = 1; g <= CurrentGrid().nGridPoints; ++g, ++at)
        EXPECT_NEAR(drifted[at], serial[at] * factor, 1e-5 + 1e-5 * std::fabs(serial[at]))
            << k << " " << j << " " << g;
    }
}

// A kernel whose solution meets a singular matrix is reported as that failure: the
// other kernels are computed, the run is not taken for interrupted, and the box
// names the failure.
TEST_F(ContiRunTest, FailedKernelOnAWorkerThreadIsReportedAsThatFailure) {
  const testing::Watchdog watchdog("a kernel list with a failed kernel");
  KernelPointList list = CsKernelPoints();
  ASSERT_FALSE(HasFailure());
  LammGlobals().nLammThreads = 1;
  ASSERT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  // Every kernel but that of point 4, the failing one.
  const std::vector<float> serial = Kernels(4);
  SpoilKernels();
  // Pivots that are not usable: "singular tridiagonal matrix".
  list.s[4] = -1e20;
  list.D[4] = 1e-6;
  LammGlobals().nLammThreads = 3;
  backend->AnswerUnscriptedBoxes(IDOK);
  EXPECT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 3);
  EXPECT_FALSE(bUserAbort);
  EXPECT_EQ(Kernels(4), serial);
  int shown = 0;
  for (const TranscriptEntry& box : backend->Transcript())
    shown += box.caption == "ERROR in simulation" && box.text == "singular tridiagonal matrix!";
  EXPECT_EQ(shown, 1);
}

// A kernel of a floating species of small D (-5 S, 1e-10 cm^2/s) piles up at the
// closed meniscus more sharply than any grid of the kernels resolves: it is refused
// with the amount-balance message naming the meniscus, never handed to the
// distribution as computed; the other kernels are computed.
TEST_F(ContiRunTest, KernelThatLosesTheAmountBalanceIsRefused) {
  KernelPointList list = CsKernelPoints();
  ASSERT_FALSE(HasFailure());
  LammGlobals().nLammThreads = 1;
  ASSERT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  const std::vector<float> serial = Kernels(4);
  SpoilKernels();
  list.s[4] = -5.0;
  list.D[4] = 1e-10;
  backend->AnswerUnscriptedBoxes(IDOK);
  EXPECT_EQ(RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 2);
  EXPECT_EQ(Kernels(4), serial);
  int shown = 0;
  for (const TranscriptEntry& box : backend->Transcript())
    shown += box.text.find("was not used") != std::string::npos &&
             box.text.find("meniscus") != std::string::npos;
  EXPECT_EQ(shown, 1);
}

// c(s) with an invariant D of 1e-10 cm^2/s over s of -9 to 3 S: the floating
// species pile up at the closed meniscus in a layer no grid of the kernels
// resolves, also refined, and their kernels cannot be solved. The Run showed a box
// per list and per failure ("ERROR in simulation: discretization error", "error #2
// in simulation #1"), in a fit one per evaluation. It now shows no box while it
// computes: the kernels not solved are left out (zero, so the distribution holds
// nothing there) and one note after the Run says how many, over which s range, and
// why; the sedimenting kernels are computed and the Run has its result.
TEST_F(ContiRunTest, KernelsThatCannotBeSolvedAreLeftOutAndSaidInOneNote) {
  ModelFlags().bCsInvariantD = true;
  SetContinuousParams(-9.0f, 3.0f, 12.0f);
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 0.001f;  // D in 1e-7 cm^2/s
  backend->AnswerUnscriptedBoxes(IDOK);
  backend->ClearTranscript();
  const ContiRunResult run = RunContiSed(nullptr);
  ASSERT_EQ(run.outcome, ContiRunOutcome::Computed) << run.message.text;
  EXPECT_TRUE(backend->Transcript().empty());
  const std::string& note = run.message.text;
  int failed = 0, kernels = 0;
  double low = 0, high = 0;
  ASSERT_EQ(std::sscanf(note.c_str(), "%d of the %d kernels of the distribution (s from %lf to %lf S)",
                        &failed, &kernels, &low, &high),
            4)
      << note;
  EXPECT_EQ(kernels, 12);
  EXPECT_GE(failed, 2);
  EXPECT_LT(failed, 12);
  // The floating grid points, from the first on; none of the sedimenting ones.
  EXPECT_NEAR(low, -9.0, 1e-3);
  EXPECT_LT(high, 0.0);
  EXPECT_NE(note.find("meniscus"), std::string::npos) << note;
  // The points left out hold no material.
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i)
    if (DistributionVectors().pDistGrid[i] >= low - 1e-4 && DistributionVectors().pDistGrid[i] <= high + 1e-4)
      EXPECT_EQ(DistributionVectors().pDistValues[i], 0.0f) << "s " << DistributionVectors().pDistGrid[i];
}

// A Run on one thread and on eight (kernels and normal equations) gives the same
// distribution, fit and rmsd, bit for bit: what the program prints does not depend
// on the threads.
TEST_F(ContiRunTest, RunOnOneAndOnEightThreadsGivesTheSameBits) {
  const testing::Watchdog watchdog("c(s) Runs on one and eight threads");
  int threads = 1;
  GetDistributionHooks().runSettings = [&threads] {
    ContiRunSettings s;
    s.threads = threads;
    return s;
  };
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.5f, 14.0f, 40.0f);
  std::vector<float> first;
  double firstRmsd = 0.0;
  for (int t : {1, 8}) {
    threads = LammGlobals().nLammThreads = t;
    ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed) << t;
    std::vector<float> values(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
    for (int j : {1, DataSet().nScans}) {  // the fit includes the noise terms
      const float* fit = DataSet().ppFit[static_cast<std::size_t>(j)];
      values.insert(values.end(), fit + 1, fit + DataSet().pnPoints[static_cast<std::size_t>(j)] + 1);
    }
    if (t == 1) {
      first = values;
      firstRmsd = Rmsd();
      continue;
    }
    EXPECT_EQ(values, first);
    EXPECT_EQ(Rmsd(), firstRmsd);
  }
}

// A run whose worker threads the system refuses, some or all of them, computes the
// distribution of a run with all its threads.
TEST_F(ContiRunTest, RefusedThreadsGiveTheDistributionOfAllThreads) {
  const testing::Watchdog watchdog("a c(s) run with refused threads");
  struct ResetStarts {
    ~ResetStarts() { SetWorkerThreadStartFailure(0, nullptr); }
  } reset;
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.threads = 3;
    return s;
  };
  LammGlobals().nLammThreads = 3;
  ModelFlags().bContiSModel = true;
  SetContinuousParams(0.5f, 14.0f, 12.0f);
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const std::vector<float> all(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  for (int nth : {1, 2}) {
    SetWorkerThreadStartFailure(nth, [] {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed) << nth;
    EXPECT_EQ(std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1), all) << nth;
  }
}

// A Run that ends without a result after it has taken the last distribution out for
// a grid of its own (a key during the kernels, an exception on the way out) puts the
// whole distribution object back: every member compared, whatever members the
// object has (the very vectors on show, their lengths, the counts), and the values
// on show untouched. c(s), whose cell vectors are empty, and c(s,ff0), whose cells
// are in use.
TEST_F(ContiRunTest, RunWithoutAResultPutsTheWholeDistributionObjectBack) {
  for (const bool sizeShape : {false, true}) {
    SCOPED_TRACE(sizeShape ? "c(s,ff0)" : "c(s)");
    ResetModelFlags();
    (sizeShape ? ModelFlags().bCsff0Model : ModelFlags().bContiSModel) = true;
    SetContinuousParams(0.5f, 14.0f, 8.0f);
    if (sizeShape) {
      AnalysisSwitches().pParams[kContiSlotShape1] = 1.1f;
      AnalysisSwitches().pParams[kContiSlotShape2] = 1.7f;
      AnalysisSwitches().pParams[kContiSlotShape3] = 3.0f;
    }
    ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
    ASSERT_EQ(DistributionVectors().nFf0Grid, sizeShape ? 24 : 0);
    const DistributionVectorSet before = DistributionVectors();
    const auto shown = [] {
      std::vector<float> v(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
      if (DistributionVectors().pCsff0Values) v.insert(v.end(), DistributionVectors().pCsff0Values + 1, DistributionVectors().pCsff0Values + DistributionVectors().nFf0Grid + 1);
      return v;
    };
    const std::vector<float> values = shown();
    // Another grid count: the run builds a grid of its own.
    AnalysisSwitches().pParams[kContiSlotGridCount] = 10.0f;

    UiEvents().Post(Event::KeyDown('S'));
    EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::Interrupted);
    EXPECT_TRUE(DistributionVectors() == before) << "after a key";
    EXPECT_EQ(shown(), values);

    GetDistributionHooks().writeDebugLog = [](const std::string& text) {
      if (text == "\n RunContiSed starting normal equations") throw std::runtime_error("unforeseen");
    };
    EXPECT_THROW(RunContiSed(nullptr), std::runtime_error);
    GetDistributionHooks().writeDebugLog = nullptr;
    EXPECT_TRUE(DistributionVectors() == before) << "after an exception";
    EXPECT_EQ(shown(), values);
    EXPECT_EQ(DistributionStorage().pppKernels, nullptr);
  }
}

}  // namespace
}  // namespace tarmic::testing
