// The buffer-mismatch model: its component solve against the static-grid
// propagator and the closed cell's conservation, the cancellation of matched
// sample and reference components, and how failures and interrupts are reported.
#include "propagators/buffer_sedimentation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/static_grid_core.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

constexpr double kM = 6.0, kB = 7.2, kRpm = 50000;
constexpr int kRadii = 121;
const std::vector<double> kTimes = {1000, 2000, 3000};

// Interference scans at kTimes on kRadii radii from kM to kB with zero signal and
// zero fit, the discrete-species model with fixed amplitudes: the buffer profiles
// are added to ppFit.
class BufferModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetScanDataGlobals();
    ResetModelFlags();
    ResetModelParams();
    ResetBufferSedimentation();
    ResetSimArrays();
    ResetSimRunState();
    bUserAbort = false;
    AnalysisSwitches().bRampRotorSpeed = false;
    ScanFile().bInterferenceData = true;
    ModelFlags().bDiscreteModel = true;
    ModelFlags().bBufferSedCorrection = true;
    ModelParams().bLinearAmplitudes = AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
    ModelParams().pSpeciesS[4] = ModelParams().pSpeciesMassOrD[4] = 0.0f;
    const int scans = static_cast<int>(kTimes.size());
    AllocScanTables(scans);
    for (int s = 1; s <= scans; ++s) {
      float* r = vector(1, kRadii);
      float* y = vector(1, kRadii);
      for (int k = 1; k <= kRadii; ++k) {
        r[k] = static_cast<float>(kM + (kB - kM) * (k - 1) / (kRadii - 1));
        y[k] = 0.0f;
      }
      DataSet().pScanInfo[static_cast<std::size_t>(s)].time = kTimes[static_cast<std::size_t>(s - 1)];
      DataSet().pScanInfo[static_cast<std::size_t>(s)].rpm = static_cast<float>(kRpm);
      InstallScanArrays(s, kRadii, r, y, nullptr, false);
    }
    DataSet().fMeniscus = static_cast<float>(kM);
    DataSet().fBottom = static_cast<float>(kB);
  }
  void TearDown() override {
    bUserAbort = false;
    ResetBufferSedimentation();
    ResetModelFlags();
    ResetScanDataGlobals();
    ResetSimArrays();
  }
  static float Fit(int scan, int k) { return DataSet().ppFit[static_cast<std::size_t>(scan)][k]; }
  static float Radius(int scan, int k) { return DataSet().ppRadius[static_cast<std::size_t>(scan)][k]; }
};

// The static-grid propagator's profiles of the same species on the same 200-node
// grid, untruncated, at kTimes.
std::vector<std::vector<double>> StaticGridProfiles(double s, double D) {
  ResetSimArrays();
  ResetSimRunState();
  LammSettings().nLammGridPoints = 200;
  LammSettings().bClaverie = true;
  LammSettings().bMovingHat = false;
  EXPECT_TRUE(AllocSimArrays());
  for (int i = 1; i <= 200; ++i) LammArrays().pLammConc[i] = 1.0;
  SimRun().dSimS = s;
  SimRun().dSimD = D;
  SimRun().dSimRpm = SimRun().dFinalRpm = kRpm;
  SimRun().dMaxRelChange = 0.1;
  SimRun().dMaxRelChangeLow = 0.005;
  SimRun().dMaxRelChangeTarget = 0.02;
  SimRunSettings settings;
  settings.meniscus = kM;
  settings.bottom = kB;
  settings.rampRotorSpeed = false;
  settings.truncateGrid = false;
  std::vector<std::vector<double>> profiles(kTimes.size());
  ScanTimeRecorder recorder(kTimes, [&](int k, const double*, const double* c, int n) {
    profiles[static_cast<std::size_t>(k)].assign(c, c + n + 1);
  });
  recorder.Start();
  EXPECT_TRUE(SolveLammClaverie(settings, {s, D}, recorder).ok());
  return profiles;
}

// Only the sample component (same buffer, no meniscus mismatch): the fit values are
// that component's Lamm solution, as the static-grid propagator computes it, and the
// closed cell keeps the amount of every profile.
TEST_F(BufferModelTest, SampleComponentAloneIsThePlainLammSolution) {
  struct Species {
    double s, D;  // S, 1e-7 cm^2/s
  };
  for (const Species sp : {Species{4.0, 6.0}, Species{0.5, 50.0}}) {
    for (int s = 1; s <= 3; ++s)
      std::fill(DataSet().ppFit[static_cast<std::size_t>(s)] + 1,
                DataSet().ppFit[static_cast<std::size_t>(s)] + kRadii + 1, 0.0f);
    BufferSedimentation().BufferSed.sampleS = sp.s;
    BufferSedimentation().BufferSed.sampleD = sp.D;
    BufferSedimentation().BufferSed.signal = 2.0;
    ASSERT_TRUE(CalculateBufferSedimentation(nullptr).ok());
    const auto reference = StaticGridProfiles(sp.s, sp.D * 1e-7);
    const double h = (kB - kM) / 199;
    for (int scan = 1; scan <= 3; ++scan) {
      double worst = 0;
      for (int k = 1; k <= kRadii; ++k) {
        const double x = Radius(scan, k);
        const int i = std::min(199, 1 + static_cast<int>((x - kM) / h));
        const double f = (x - (kM + (i - 1) * h)) / h;
        const auto& c = reference[static_cast<std::size_t>(scan - 1)];
        const double expected =
            2.0 * (c[static_cast<std::size_t>(i)] +
                   f * (c[static_cast<std::size_t>(i) + 1] - c[static_cast<std::size_t>(i)]));
        worst = std::max(worst, std::fabs(Fit(scan, k) - expected));
      }
      EXPECT_LT(worst, 2.0 * 3e-3) << "s " << sp.s << " scan " << scan;
    }
  }

  // Conservation in the closed cell: sum of W_i c_i is the loading's.
  BufferComponentRun run;
  run.D = 6e-7;
  run.s = 4.0;
  run.meniscus = kM;
  run.bottom = kB;
  run.amplitude = 1.5;
  run.rpm = kRpm;
  run.scanTimes = {500, 1500, 4000};
  const double h = (kB - kM) / 199;
  std::vector<double> amounts, plateaus;
  const SimOutcome outcome =
      SolveBufferComponent(run, [&](int, const double* r, const double* c, int n) {
        amounts.push_back(StaticGridWeightedSum(r, c, n, false, h));
        plateaus.push_back(c[120]);
      });
  ASSERT_TRUE(outcome.ok()) << outcome.message;
  ASSERT_EQ(amounts.size(), 3u);
  const double loaded = 1.5 * (kB * kB - kM * kM) / 2;
  for (double a : amounts) EXPECT_NEAR(a / loaded, 1.0, 1e-10);
  // The plateau dilutes radially: c0 exp(-2 s w^2 t).
  const double sw2 = test::Sw2(4.0, kRpm);
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_NEAR(plateaus[k], 1.5 * std::exp(-2 * sw2 * run.scanTimes[k]), 2e-3);
}

// Sample and reference components that are the same buffer at the same meniscus and
// concentration cancel exactly, whether given as the same buffer with a meniscus
// mismatch of 0 or as a different reference buffer with the same values; a real
// meniscus mismatch leaves a signal; the sign of the entered signal flips it.
TEST_F(BufferModelTest, MatchedComponentsCancelToNoSignal) {
  auto fitPeak = [] {
    float peak = 0;
    for (int s = 1; s <= 3; ++s)
      for (int k = 1; k <= kRadii; ++k) peak = std::max(peak, std::fabs(Fit(s, k)));
    return peak;
  };
  BufferSedimentation().bMeniscusMismatch = true;
  MeniscusDifference() = 0.0;
  BufferSedimentation().BufferSed.relativeConc = 1.0;
  // Zero up to the rounding of the float fit values (30 signal units, 1e-7 relative).
  ASSERT_TRUE(CalculateBufferSedimentation(nullptr).ok());
  EXPECT_LT(fitPeak(), 1e-5f);

  BufferSedimentation().BufferSed.differentReference = true;
  BufferSedimentation().BufferSed.refD = BufferSedimentation().BufferSed.sampleD;
  BufferSedimentation().BufferSed.refS = BufferSedimentation().BufferSed.sampleS;
  ASSERT_TRUE(CalculateBufferSedimentation(nullptr).ok());
  EXPECT_LT(fitPeak(), 1e-5f);

  // The reference meniscus 0.05 cm further in: the reference's depletion zone lies
  // left of the sample meniscus, so near the sample meniscus the sample's own
  // depletion dominates (a negative signal); the sign of the signal flips it.
  BufferSedimentation().BufferSed.differentReference = false;
  MeniscusDifference() = 0.05;
  ASSERT_TRUE(CalculateBufferSedimentation(nullptr).ok());
  const float nearMeniscus = Fit(1, 1);
  EXPECT_LT(nearMeniscus, -0.5f);
  // A different reference buffer lies at its own meniscus, m - dm, also without the
  // mismatch option: with the sample's values it is the same signal.
  auto clearFit = [] {
    for (int s = 1; s <= 3; ++s)
      std::fill(DataSet().ppFit[static_cast<std::size_t>(s)] + 1,
                DataSet().ppFit[static_cast<std::size_t>(s)] + kRadii + 1, 0.0f);
  };
  clearFit();
  BufferSedimentation().bMeniscusMismatch = false;
  BufferSedimentation().BufferSed.differentReference = true;
  ASSERT_TRUE(CalculateBufferSedimentation(nullptr).ok());
  EXPECT_FLOAT_EQ(Fit(1, 1), nearMeniscus);
  BufferSedimentation().BufferSed.differentReference = false;
  BufferSedimentation().bMeniscusMismatch = true;
  for (int s = 1; s <= 3; ++s)
    std::fill(DataSet().ppFit[static_cast<std::size_t>(s)] + 1,
              DataSet().ppFit[static_cast<std::size_t>(s)] + kRadii + 1, 0.0f);
  BufferSedimentation().BufferSed.signalSign = -1.0;
  ASSERT_TRUE(CalculateBufferSedimentation(nullptr).ok());
  EXPECT_FLOAT_EQ(Fit(1, 1), -nearMeniscus);
}

// Failures are outcomes, not silence: an interrupt made before is kept and nothing
// is computed; missing destination arrays, a relative concentration of 0 and a
// solve that gives up after repeated rejections are reported.
TEST_F(BufferModelTest, FailuresAreReportedAndAnInterruptIsKept) {
  bUserAbort = true;
  SimOutcome outcome = CalculateBufferSedimentation(nullptr);
  EXPECT_EQ(outcome.status, SimStatus::Interrupted);
  EXPECT_TRUE(bUserAbort);
  EXPECT_EQ(Fit(2, 1), 0.0f);
  bUserAbort = false;

  // Linear amplitudes: the profiles go to the species table, which does not exist.
  ModelParams().bLinearAmplitudes = true;
  SimRun().iCurrentSpecies = 4;
  outcome = CalculateBufferSedimentation(nullptr);
  EXPECT_EQ(outcome.status, SimStatus::NotAllocated);
  EXPECT_FALSE(outcome.message.empty());
  ModelParams().bLinearAmplitudes = false;

  BufferSedimentation().bMeniscusMismatch = true;
  BufferSedimentation().BufferSed.relativeConc = 0.0;
  EXPECT_EQ(CalculateBufferSedimentation(nullptr).status, SimStatus::InvalidInput);
  EXPECT_EQ(Fit(2, 1), 0.0f);

  // A sharp front at the meniscus that the first step leaves undershooting: every
  // later trial keeps a negative value, and the solve gives up.
  BufferComponentRun run;
  run.D = 1e-11;
  run.s = 2000;
  run.meniscus = kM;
  run.bottom = kB;
  run.amplitude = 1.0;
  run.rpm = 60000;
  run.scanTimes = {100, 200};
  int recorded = 0;
  outcome = SolveBufferComponent(run, [&](int, const double*, const double*, int) { ++recorded; });
  EXPECT_EQ(outcome.status, SimStatus::Diverged);
  EXPECT_EQ(recorded, 0);
}

}  // namespace
}  // namespace tarmic
