// Monte-Carlo statistics of c(s) on data made from the engine's own kernel: the
// interval holds the truth, the measured result comes back bit for bit, a key stops.
#include "modelcalc/conti_monte_carlo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <system_error>
#include <new>
#include <set>
#include <vector>

#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/install_hooks.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_threads.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/random.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/worker_threads.h"
#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic {
namespace {

using test::Idx;

constexpr int kScans = 8, kRadii = 160;
constexpr float kTrueS = 4.0f;           // grid point 13 of 1..8 S in 0.25 S steps
constexpr int kTruePoint = 13;
constexpr double kLoading = 0.4, kNoise = 0.004;

class MonteCarloTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    InstallDistributionHooks();
    test::InstallVelocityScans(kScans, kRadii, 600.0, 50000.0f);
    // Interference-like data: all scans on one radius array, the grid rows are the
    // scans' own signal arrays.
    ScanFile().bAbsorbanceData = false;
    ASSERT_TRUE(BuildCommonRadialGrid());
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
    ASSERT_FALSE(CurrentGrid().bGridCopies);
    SolventConstants().fFrictionalRatio = 1.25f;
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    // A light regularisation: the sets measure the noise, and the regularisation
    // adds little bias of its own to the weight-average s.
    test::SetContinuousParams(1.0f, 8.0f, 29.0f, 0.51f, 1.25f, DataSet().fMeniscus, DataSet().fBottom);
    AnalysisSwitches().bFitRINoise = true;
    GetDistributionHooks().runSettings = [] {
      ContiRunSettings s;
      s.threads = 3;
      return s;
    };
    MakeDataFromKernel();
  }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    ResetMonteCarlo();
    ResetDistributionEngine();
    ResetDistributionHooks();
    ResetModelFitHooks();
    test::ResetModelCalcState();
  }

  // The engine's kernel of the true grid point (an inner run keeps the kernels),
  // times the loading, plus noise and a radial-invariant offset per scan.
  static void MakeDataFromKernel() {
    UnpackModelParams();
    ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
    ASSERT_FLOAT_EQ(DistributionVectors().pDistGrid[kTruePoint], kTrueS);
    DistributionModels().bContiInnerRun = true;
    ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
    DistributionModels().bContiInnerRun = false;
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, kNoise);
    for (int j = 1; j <= DataSet().nScans; ++j) {
      for (int p = 1; p <= DataSet().pnPoints[Idx(j)]; ++p) {
        DataSet().ppSignal[Idx(j)][p] =
            static_cast<float>(kLoading * DistributionStorage().pppKernels[kTruePoint][j][p] + 0.01 * j + gauss(random));
      }
    }
    FreeKernelArrays();
    FreeNormalEquationArrays();
  }

  static std::vector<std::vector<float>> Rows(const std::vector<float*>& rows) {
    std::vector<std::vector<float>> copy(static_cast<std::size_t>(DataSet().nScans) + 1);
    for (int j = 1; j <= DataSet().nScans; ++j) {
      // One-based rows; the unused element 0 is left out of comparisons.
      copy[Idx(j)].assign(rows[Idx(j)], rows[Idx(j)] + DataSet().pnPoints[Idx(j)] + 1);
      copy[Idx(j)][0] = 0.0f;
    }
    return copy;
  }
  static std::vector<float> Shown() { return std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1); }

  ScopedHeadlessBackend backend;
};

TEST_F(MonteCarloTest, IntervalHoldsTheTruthAndTheMeasuredResultComesBack) {
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const auto signal = Rows(DataSet().ppSignal);
  const auto fit = Rows(DataSet().ppFit);
  const std::vector<float> shown = Shown();
  const std::vector<float> ri(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1);
  const float rmsd = FitRmsd();

  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) /
                                    ("monte_carlo_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  // The statistics come back to the command, which shows them: no box here.
  const MonteCarloResult result =
      MonteCarloIntegratedSw(nullptr, 24, 0.68f, 2.0f, 6.0f, (dir / "any.dat").string(), true);
  ASSERT_EQ(result.status, MonteCarloOutcome::Completed);
  const MonteCarloSwResult& sw = result.integrated;
  EXPECT_TRUE(backend->Transcript().empty());
  EXPECT_TRUE(sw.computed);
  EXPECT_FALSE(DistributionModels().bMonteCarloRun);
  EXPECT_EQ(ContiMonteCarlo().nMCSets, 24);

  // The 16 %-84 % interval of the weight-average s holds the truth (within one
  // standard deviation: a 68 % interval misses it now and then by chance), the
  // mean lies within three standard deviations of it, and the width is that of
  // the noise.
  EXPECT_EQ(sw.swSets, 24);
  EXPECT_LE(sw.swLow, kTrueS + sw.swStd);
  EXPECT_GE(sw.swHigh, kTrueS - sw.swStd);
  EXPECT_LT(std::fabs(sw.swMean - kTrueS), 3.0f * sw.swStd);
  EXPECT_GT(sw.swStd, 0.0f);
  EXPECT_LT(sw.swHigh - sw.swLow, 0.05f);
  EXPECT_NEAR(sw.cMean, kLoading, 0.03 * kLoading);

  // The limits are ordered at every grid point; the result files exist.
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) EXPECT_LE(ContiMonteCarlo().pMCLowerLimit[Idx(i)], ContiMonteCarlo().pMCUpperLimit[Idx(i)]) << i;
  for (const char* name : {"0.dat", "24.dat", "lim840.dat", "lim160.dat", "mean.dat"})
    EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  std::filesystem::remove_all(dir);

  // The measured scans were never written, and their fit and noise are back.
  EXPECT_EQ(Rows(DataSet().ppSignal), signal);
  EXPECT_EQ(Rows(DataSet().ppFit), fit);
  EXPECT_EQ(std::vector<float>(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1), ri);

  // After the end the distribution and rmsd are those of the measured data.
  EndMonteCarloDistributions(nullptr);
  EXPECT_FALSE(MonteCarloResultsAvailable());
  EXPECT_EQ(Shown(), shown);
  EXPECT_EQ(Rows(DataSet().ppFit), fit);
  EXPECT_EQ(FitRmsd(), rmsd);
  EXPECT_EQ(DistributionStorage().pppKernels, nullptr);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
}

// The computation's result as a value: the sets done of those asked, the seed of
// their noise (the same seed gives the same sets and so the same limits), the
// files written (as the folder holds them afterwards), and the limits of the one
// labelled peak, which hold the measured peak and the true species (within the
// interval's own width: a 68 % interval misses now and then by chance), with an
// area near the loading. Fewer than two sets start nothing and say so.
TEST_F(MonteCarloTest, ResultNamesItsSetsSeedFilesAndPeakLimits) {
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) /
                                    ("monte_carlo_result_" + std::to_string(::getpid()));
  struct Case {
    int sets;
    bool eachSet;
  };
  std::vector<MonteCarloPeak> first;
  for (const Case c : {Case{16, false}, Case{6, true}, Case{16, false}}) {
    SCOPED_TRACE(std::to_string(c.sets) + (c.eachSet ? " sets, each written" : " sets"));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    SeedRandomGenerators(77);
    const MonteCarloResult r = MonteCarloDistributions(nullptr, c.sets, 0.68f, (dir / "any.dat").string(), c.eachSet);
    ASSERT_EQ(r.status, MonteCarloOutcome::Completed);
    EXPECT_EQ(r.setsAsked, c.sets);
    EXPECT_EQ(r.setsDone, c.sets);
    EXPECT_EQ(r.seed, 77u);
    EXPECT_TRUE(r.messages.empty());
    std::set<std::string> written, onDisk;
    for (const std::string& f : r.written) written.insert(std::filesystem::path(f).filename().string());
    for (const auto& entry : std::filesystem::directory_iterator(dir)) onDisk.insert(entry.path().filename().string());
    EXPECT_EQ(written.size(), r.written.size());
    EXPECT_EQ(written, onDisk);
    EXPECT_EQ(written.size(), 3u + (c.eachSet ? static_cast<std::size_t>(c.sets) + 1 : 0u));
    ASSERT_EQ(r.peaks.size(), 1u);
    const MonteCarloPeak& p = r.peaks[0];
    EXPECT_EQ(p.positionSets, c.sets);
    EXPECT_LE(p.positionLow, p.position);
    EXPECT_GE(p.positionHigh, p.position);
    EXPECT_LE(p.areaLow, p.area);
    EXPECT_GE(p.areaHigh, p.area);
    const float width = p.positionHigh - p.positionLow;
    EXPECT_GT(width, 0.0f);
    EXPECT_LT(width, 0.1f);
    EXPECT_LE(p.positionLow, kTrueS + width);
    EXPECT_GE(p.positionHigh, kTrueS - width);
    EXPECT_NEAR(p.area, kLoading, 0.05 * kLoading);
    EndMonteCarloDistributions(nullptr);
    if (c.sets != 16) continue;
    if (first.empty()) {
      first = r.peaks;
    } else {
      EXPECT_EQ(p.positionLow, first[0].positionLow);
      EXPECT_EQ(p.positionHigh, first[0].positionHigh);
      EXPECT_EQ(p.areaLow, first[0].areaLow);
      EXPECT_EQ(p.areaHigh, first[0].areaHigh);
    }
  }
  std::filesystem::remove_all(dir);
  const MonteCarloResult none = MonteCarloDistributions(nullptr, 1, 0.68f, "", false);
  EXPECT_EQ(none.status, MonteCarloOutcome::NotStarted);
  EXPECT_EQ(none.setsDone, 0);
  ASSERT_EQ(none.messages.size(), 1u);
  EXPECT_EQ(none.messages[0].id, "not-started");
  EXPECT_TRUE(none.written.empty());
}

TEST_F(MonteCarloTest, KeyStopsTheSetsAndFewerThanTwoSetsDoNothing) {
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const auto fit = Rows(DataSet().ppFit);
  const std::vector<float> shown = Shown();
  EXPECT_EQ(MonteCarloDistributions(nullptr, 1, 0.68f, "", false).status, MonteCarloOutcome::NotStarted);

  // The key arrives as set 4 starts: three sets are kept.
  GetDistributionHooks().writeDebugLog = [](const std::string& text) {
    if (text == "\nMonte-Carlo set 4") UiEvents().Post(Event::KeyDown('S'));
  };
  const MonteCarloResult stopped = MonteCarloDistributions(nullptr, 50, 0.68f, "", false);
  EXPECT_EQ(stopped.status, MonteCarloOutcome::Interrupted);
  EXPECT_EQ(stopped.setsDone, 3);
  ASSERT_EQ(stopped.messages.size(), 1u);
  EXPECT_EQ(stopped.messages[0].id, "interrupted");
  EXPECT_EQ(ContiMonteCarlo().nMCSets, 3);
  EXPECT_FALSE(bUserAbort);
  EXPECT_FALSE(DistributionModels().bMonteCarloRun);
  EXPECT_EQ(Rows(DataSet().ppFit), fit);
  EndMonteCarloDistributions(nullptr);
  EXPECT_EQ(Shown(), shown);
}

// A key before the first set, at the first poll, in the kernels of the best fit or
// in the regularised solution of the measured data (whose key the sets once ran
// past), ends the computation at that poll: no set is computed, and the
// distribution, fit and noise on show stay, with bModelComputed, as after a Run
// that ends without a result. A key in a set keeps the sets before it. With the
// worker threads the system gives and with every one of them refused. The key is
// typed when a poll lets the backend pump its events, as the window system
// delivers it.
TEST_F(MonteCarloTest, KeyAtAnyMomentStopsAndBeforeTheFirstSetKeepsWhatWasShown) {
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const auto fit = Rows(DataSet().ppFit);
  const std::vector<float> shown = Shown();
  const std::vector<float> ri(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1);
  int solves = 0;
  GetDistributionHooks().writeDebugLog = [&solves](const std::string& text) {
    if (text == "\nStarting Regularization") ++solves;
  };
  struct Moment {
    const char* name;
    std::function<bool()> when;
    int setsKept;
  };
  const std::vector<Moment> moments = {
      {"the first poll", [] { return true; }, 0},
      {"the kernels of the best fit", [&] { return solves == 0 && LammProgress().nLammEquationsDone >= 1; }, 0},
      {"the regularised solution of the measured data", [&] { return solves >= 2; }, 0},
      {"set 3", [] { return ContiMonteCarlo().nMCSetNumber >= 3; }, 2},
  };
  struct RealStarts {
    ~RealStarts() { SetWorkerThreadStartFailure(0, nullptr); }
  } realStarts;
  for (const bool refused : {false, true}) {
    if (refused) {
      SetWorkerThreadStartFailure(1, [] {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      });
    }
    for (const Moment& m : moments) {
      const std::string what = std::string(m.name) + (refused ? ", threads refused" : "");
      solves = 0;
      int pumpAtKey = -1;
      backend->SetPumpHook([&] {
        if (pumpAtKey < 0 && m.when()) {
          pumpAtKey = backend->PumpCount();
          backend->Headless().PressKey('S');
        }
      });
      const MonteCarloOutcome outcome = MonteCarloDistributions(nullptr, 2000, 0.68f, "", false).status;
      backend->SetPumpHook(nullptr);
      ASSERT_GE(pumpAtKey, 0) << what << ": no poll then";
      EXPECT_EQ(outcome, MonteCarloOutcome::Interrupted) << what;
      EXPECT_EQ(backend->PumpCount(), pumpAtKey) << what << ": polls after the key";
      EXPECT_EQ(ContiMonteCarlo().nMCSets, m.setsKept) << what;
      EXPECT_FALSE(bUserAbort) << what;
      EXPECT_FALSE(DistributionModels().bMonteCarloRun) << what;
      EndMonteCarloDistributions(nullptr);
      EXPECT_TRUE(AnalysisSwitches().bModelComputed) << what;
      ASSERT_NE(DistributionVectors().pDistValues, nullptr) << what;
      EXPECT_EQ(Shown(), shown) << what;
      EXPECT_EQ(Rows(DataSet().ppFit), fit) << what;
      EXPECT_EQ(std::vector<float>(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1), ri) << what;
    }
  }
}

// The rebuilt right-hand side of the measured data equals the one of the full
// build for every noise model, and any thread count gives the same bits, also when
// the system refuses some of the threads (no memory for a stack).
TEST_F(MonteCarloTest, RhsRebuildMatchesTheNormalEquations) {
  UnpackModelParams();
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  DistributionModels().bContiInnerRun = true;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const auto grid = Rows(CurrentGrid().ppGridSignal);
  for (int model = 0; model < 5; ++model) {
    AnalysisSwitches().bFitTINoise = model == 1 || model == 3;
    AnalysisSwitches().bFitRINoise = model == 2 || model == 3;
    ModelParams().bVaryBaseline = model == 4;
    ASSERT_TRUE(BuildNormalEquations(SelectNoiseModel()));
    const std::vector<double> rhs(DistributionStorage().pNormalRhs, DistributionStorage().pNormalRhs + DistributionVectors().nDistGrid + 1);
    const double sumSq = NormalEquations().dSumSqData;
    ASSERT_TRUE(RebuildMonteCarloRhs(grid, 1, CurrentGridFitPoints()));
    const std::vector<double> serial(DistributionStorage().pNormalRhs, DistributionStorage().pNormalRhs + DistributionVectors().nDistGrid + 1);
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i)
      EXPECT_NEAR(serial[Idx(i)], rhs[Idx(i)], 1e-9 * std::fabs(rhs[Idx(i)]) + 1e-9) << model << " " << i;
    EXPECT_NEAR(NormalEquations().dSumSqData, sumSq, 1e-9 * sumSq) << model;
    for (int threads : {2, 4, 40}) {
      ASSERT_TRUE(RebuildMonteCarloRhs(grid, threads, CurrentGridFitPoints()));
      EXPECT_EQ(std::vector<double>(DistributionStorage().pNormalRhs, DistributionStorage().pNormalRhs + DistributionVectors().nDistGrid + 1), serial) << threads;
    }
    for (int nth : {1, 3}) {
      SetWorkerThreadStartFailure(nth, [] { throw std::bad_alloc(); });
      const bool rebuilt = RebuildMonteCarloRhs(grid, 4, CurrentGridFitPoints());
      SetWorkerThreadStartFailure(0, nullptr);
      ASSERT_TRUE(rebuilt);
      EXPECT_EQ(std::vector<double>(DistributionStorage().pNormalRhs, DistributionStorage().pNormalRhs + DistributionVectors().nDistGrid + 1), serial) << "start " << nth << " refused";
    }
  }
  DistributionModels().bContiInnerRun = false;
}

}  // namespace
}  // namespace tarmic
