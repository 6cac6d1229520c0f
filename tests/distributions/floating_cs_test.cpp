// c(s) over negative s: floating species, made by an independent finite-volume
// solution of the Lamm equation with a known truth and noise, are recovered when
// vbar x density exceeds 1; a grid of s that the solvent and vbar forbid is refused
// once, before any kernel, with the reason.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/install_hooks.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/solvent_constants.h"
#include "scandata/fit_limits.h"
#include "scandata/scan_loading.h"
#include "services/path_table.h"
#include "tests/support/reference_lamm_solution.h"

namespace tarmic::testing {
namespace {

constexpr int kScans = 30;
constexpr double kInterval = 300.0;  // s
constexpr double kRpm = 50000.0;
constexpr double kNoise = 0.005;
constexpr double kTrueS = -5.0, kLoading = 0.6;
constexpr double kFloatingVbar = 1.1, kDensity = 0.99823, kViscosity = 0.01002, kFf0 = 1.25;

// D of a compact particle of s (S) and f/f0 at 20 C, from s = M (1 - vbar rho) /
// (N_A f), f = f/f0 6 pi eta R0 and R0 = (3 M vbar / (4 pi N_A))^(1/3) (CGS), then
// D = R T s / (M (1 - vbar rho)).
double TrueD(double s, double vbar) {
  const double NA = 6.02214e23, R = 8.31451e7, T = 293.15;
  const double buoyancy = 1.0 - vbar * kDensity;
  const double c = std::cbrt(3.0 * vbar / (4.0 * M_PI * NA));
  const double M = std::pow(s * 1e-13 * NA * kFf0 * 6.0 * M_PI * kViscosity * c / buoyancy, 1.5);
  return R * T * s * 1e-13 / (M * buoyancy);
}

class FloatingCs : public DistributionTest {
 protected:
  void SetUp() override {
    DistributionTest::SetUp();
    ResetLammSettings();
    ResetLammGlobals();
    ResetModelFitHooks();
    ResetSolventConstants();
    InstallDistributionHooks();
  }
  void TearDown() override {
    ResetModelFitHooks();
    ResetSolventConstants();
    DistributionTest::TearDown();
  }

  struct Species {
    double s, D, loading;  // S, cm^2/s, OD
  };
  // Floating species (by default the one of kTrueS) in `scans` scans `interval` s
  // apart (30 and 300 s by default) on radii 6.0-7.2 cm, 0.003 cm apart, with noise;
  // species do not interact, so their signals add.
  static void InstallData(const std::vector<Species>& species = {{kTrueS, TrueD(kTrueS, kFloatingVbar),
                                                                   kLoading}},
                          int scans = kScans, double interval = kInterval) {
    const int n = 401;
    std::vector<double> times, radii;
    for (int j = 1; j <= scans; ++j) times.push_back(interval * j);
    for (int i = 0; i < n; ++i) radii.push_back(kMeniscus + 0.003 * i);
    std::vector<std::vector<double>> truth(static_cast<std::size_t>(scans), std::vector<double>(n, 0.0));
    for (const Species& one : species) {
      ReferenceLammProblem p;
      p.s_svedberg = one.s;
      p.d_cm2_per_s = one.D;
      p.rpm = kRpm;
      p.loading = one.loading;
      p.cells = 2400;
      p.max_time_step_s = 2;
      const auto one_truth = ReferenceLammSolution::scans(p, times, radii);
      for (std::size_t j = 0; j < truth.size(); ++j)
        for (std::size_t i = 0; i < truth[j].size(); ++i) truth[j][i] += one_truth[j][i];
    }
    std::mt19937 random(29);
    std::normal_distribution<double> gauss(0.0, kNoise);
    AllocScanTables(scans);
    for (int j = 1; j <= scans; ++j) {
      float* r = tarmic::vector(1, n);
      float* y = tarmic::vector(1, n);
      for (int i = 1; i <= n; ++i) {
        r[i] = static_cast<float>(radii[static_cast<std::size_t>(i - 1)]);
        y[i] = static_cast<float>(truth[static_cast<std::size_t>(j - 1)][static_cast<std::size_t>(i - 1)] +
                                  gauss(random));
      }
      ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(j)];
      info.time = info.recordedTime = info.timeAtLoad = times[static_cast<std::size_t>(j - 1)];
      info.rpm = static_cast<float>(kRpm);
      info.temperature = 20.0f;
      InstallScanArrays(j, n, r, y, nullptr, false);
    }
    DataSet().fMeniscus = static_cast<float>(kMeniscus);
    DataSet().fBottom = static_cast<float>(kBottom);
    DataSet().fTemperatureK = 293.15f;
    ASSERT_TRUE(BuildCommonRadialGrid());
    DataSet().fFitLeftLim = 6.05f;
    DataSet().fFitRightLim = 7.15f;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
  }

  // Plain c(s) from lo to hi S over count points with the given vbar, water at 20 C.
  static void SetCs(float lo, float hi, float count, float vbar) {
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    AnalysisSwitches().pParams[kContiSlotGridMin] = lo;
    AnalysisSwitches().pParams[kContiSlotGridMax] = hi;
    AnalysisSwitches().pParams[kContiSlotGridCount] = count;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    AnalysisSwitches().pParams[kContiSlotVbar] = vbar;
    AnalysisSwitches().pParams[kContiSlotDensity] = static_cast<float>(kDensity);
    AnalysisSwitches().pParams[kContiSlotViscosity] = static_cast<float>(kViscosity);
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = static_cast<float>(kFf0);
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
    AnalysisSwitches().pParams[14] = DataSet().fBottom;
    for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
    AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
  }

  static double Rmsd() {
    double sum = 0.0;
    long count = 0;
    for (int j = 1; j <= DataSet().nScans; ++j) {
      const std::size_t s = static_cast<std::size_t>(j);
      for (int p = DataSet().pFitFirst[s]; p <= DataSet().pFitLast[s]; ++p, ++count)
        sum += (DataSet().ppSignal[s][p] - DataSet().ppFit[s][p]) * (DataSet().ppSignal[s][p] - DataSet().ppFit[s][p]);
    }
    return std::sqrt(sum / static_cast<double>(count));
  }
};

// In water a protein of vbar 0.73 sediments: negative s have no mass and no D by
// the frictional ratio. A c(s) over them is refused before any kernel, with the
// reason and what to do, once; so is positive s where vbar x density exceeds 1.
// Grids whose s have the sign of the buoyancy, or end at 0, go on.
TEST_F(FloatingCs, GridOfSTheBuoyancyForbidsIsRefusedWithItsReason) {
  InstallData();
  SetCs(-10.0f, -1.0f, 30.0f, 0.73f);
  ContiRunResult run = RunContiSed(nullptr);
  EXPECT_EQ(run.outcome, ContiRunOutcome::NotStarted);
  EXPECT_NE(run.message.text.find("negative s"), std::string::npos) << run.message.text;
  EXPECT_NE(run.message.text.find("nothing floats"), std::string::npos) << run.message.text;
  EXPECT_NE(run.message.text.find("vbar x density above 1"), std::string::npos) << run.message.text;
  EXPECT_EQ(DistributionStorage().pppKernels, nullptr);
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);

  // An evaluation inside a Fit or a time course says the same, before any kernel.
  UnpackModelParams();
  DistributionModels().bContiInnerRun = true;
  run = RunContiSed(nullptr);
  DistributionModels().bContiInnerRun = false;
  EXPECT_EQ(run.outcome, ContiRunOutcome::NotStarted);
  EXPECT_NE(run.message.text.find("nothing floats"), std::string::npos) << run.message.text;
  EXPECT_EQ(DistributionStorage().pppKernels, nullptr);

  SetCs(1.0f, 10.0f, 30.0f, static_cast<float>(kFloatingVbar));
  run = RunContiSed(nullptr);
  EXPECT_EQ(run.outcome, ContiRunOutcome::NotStarted);
  EXPECT_NE(run.message.text.find("nothing sediments"), std::string::npos) << run.message.text;

  // Settings the buoyancy allows: nothing to refuse.
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  SolventConstants().VBAR = 0.73f;
  SolventConstants().fBufferDensity = static_cast<float>(kDensity);
  EXPECT_EQ(BuoyancySignRefusal(0.0, 15.0), "");
  EXPECT_NE(BuoyancySignRefusal(-0.5, 15.0), "");
  SolventConstants().VBAR = static_cast<float>(kFloatingVbar);
  EXPECT_EQ(BuoyancySignRefusal(-10.0, 0.0), "");
  // A stored grid is judged once it is read.
  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "floating_cs";
  std::filesystem::create_directories(dir);
  DataSet().szSdistPath = (dir / "sdist").string();
  float stored[] = {0.0f, -3.0f, -2.0f, -1.0f};  // index 0 unused
  ASSERT_TRUE(SaveDistributionGrid(stored, 3));
  SolventConstants().VBAR = 0.73f;
  DistributionGrid().bUseStoredGrid = true;
  std::string why;
  EXPECT_FALSE(SetupContiGrid(AskingPolicy(), &why));
  EXPECT_NE(why.find("nothing floats"), std::string::npos) << why;
  DistributionGrid().bUseStoredGrid = false;
  // A model with its own D needs no mass: c(s) with an invariant D takes any s.
  ModelFlags().bContiSModel = false;
  ModelFlags().bCsInvariantD = true;
  SolventConstants().VBAR = 0.73f;
  EXPECT_EQ(BuoyancySignRefusal(-10.0, -1.0), "");
}

// With the vbar of floating material the same grid recovers the floating species:
// its peak at the true s holding the loading, the rmsd at the noise.
TEST_F(FloatingCs, FloatingSpeciesIsRecoveredWhenVbarTimesDensityExceedsOne) {
  InstallData();
  SetCs(-10.0f, -1.0f, 37.0f, static_cast<float>(kFloatingVbar));
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  float area = 0.0f, mean = 0.0f, total = 0.0f;
  IntegrateDistribution(-8.0f, -2.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(mean, kTrueS, 0.02 * std::fabs(kTrueS));
  EXPECT_NEAR(area, kLoading, 0.03 * kLoading);
  EXPECT_NEAR(Rmsd(), kNoise, 0.1 * kNoise);
}

// Kernels of a grid reaching far past two floating species (to -150 S, 15 S apart,
// where the boundary leaves the meniscus before the first scan) cannot be solved
// and are left out. They hold exactly zero, the note names them, and the area is
// the loading (0.7 OD): the regularisation must not spread material into columns
// that are no part of the problem (it had given them 0.017 each, and the area 1.47).
// Three scans 50 s apart keep the solutions that fail on every refined grid short.
TEST_F(FloatingCs, KernelsLeftOutOfAFarGridHoldNoMaterial) {
  InstallData({{-8.0, 2.27e-7, 0.3}, {-20.0, 1.435e-7, 0.4}}, 3, 50.0);
  SetCs(-150.0f, 0.0f, 11.0f, 0.9f);
  AnalysisSwitches().pParams[kContiSlotDensity] = 1.2f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.3f;
  const ContiRunResult run = RunContiSed(nullptr);
  ASSERT_EQ(run.outcome, ContiRunOutcome::Computed) << run.message.text;
  // "N of the 11 kernels of the distribution (s from a to b S; s = c S) ...".
  const std::string& note = run.message.text;
  int failed = 0, kernels = 0;
  ASSERT_EQ(std::sscanf(note.c_str(), "%d of the %d kernels", &failed, &kernels), 2) << note;
  EXPECT_EQ(kernels, 11);
  const std::size_t open = note.find('('), close = note.find(')');
  ASSERT_LT(open, close) << note;
  std::vector<std::pair<double, double>> ranges;
  std::stringstream list(note.substr(open + 1, close - open - 1));
  for (std::string range; std::getline(list, range, ';');) {
    double lo = 0, hi = 0;
    if (std::sscanf(range.c_str(), " s from %lf to %lf S", &lo, &hi) == 2 ||
        (std::sscanf(range.c_str(), " s = %lf S", &lo) == 1 && (hi = lo, true)))
      ranges.emplace_back(lo, hi);
    else
      ADD_FAILURE() << range;
  }
  int inside = 0;
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
    const double s = DistributionVectors().pDistGrid[i];
    for (const auto& [lo, hi] : ranges) {
      if (s < lo - 1e-4 || s > hi + 1e-4) continue;
      ++inside;
      EXPECT_EQ(DistributionVectors().pDistValues[i], 0.0f) << "s " << s;
    }
  }
  EXPECT_EQ(inside, failed) << note;
  // Only s far beyond both species is left out; the area is the loading.
  ASSERT_FALSE(ranges.empty());
  EXPECT_LT(ranges.back().second, -30.0) << note;
  float area = 0.0f, mean = 0.0f, total = 0.0f;
  IntegrateDistribution(-150.0f, 0.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(area, 0.7, 0.05) << "mean " << mean;
}

}  // namespace
}  // namespace tarmic::testing
