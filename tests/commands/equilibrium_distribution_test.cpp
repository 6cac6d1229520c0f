// Continuous distributions on sedimentation-equilibrium data, through the window:
// a two-species equilibrium set at four rotor speeds, made from the Boltzmann
// exponential in closed form, loaded with "load sedimentation equilibrium data".
#include "distribution_window_test_support.h"

#include <algorithm>

#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/noise_fit.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_state.h"
#include "resources/command_ids.h"
#include "scandata/scan_loading.h"

namespace tarmic::testing {
namespace {

// Two species of 25 and 75 kDa (loading signals 0.35 and 0.25), vbar 0.73 in a
// buffer of density 1.0, at 20 C, in a column from 6.90 to 7.20 cm; scans at
// 8,000, 14,000, 20,000 and 30,000 rpm (the last depletes the meniscus, which
// tells the baseline from the lightest masses) on radii 6.92-7.18 cm every
// 0.002 cm, baseline 0.04, Gaussian noise 0.003.
constexpr double kMass[2] = {25000.0, 75000.0};
constexpr double kLoading[2] = {0.35, 0.25};
constexpr float kRpm[4] = {8000.0f, 14000.0f, 20000.0f, 30000.0f};
constexpr double kVbar = 0.73, kDensity = 1.0, kTemperature = 20.0;
constexpr double kColumnTop = 6.90, kColumnBottom = 7.20;
constexpr double kBaseline = 0.04, kNoise = 0.003;
constexpr double kGasConstant = 8.314462618e7;  // erg/(mol K)

// The signal of one species at equilibrium: c(r) = c0 exp(Mb w^2 (r^2 - r0^2) / 2RT)
// with r0 the meniscus and c0 such that the column holds the loaded amount,
// int c r dr = c_load (rb^2 - rm^2) / 2 over the sector.
double EquilibriumSignal(double M, double load, double rpm, double r) {
  const double w = rpm * 2.0 * M_PI / 60.0;
  const double a =
      M * (1.0 - kVbar * kDensity) * w * w / (2.0 * kGasConstant * (kTemperature + 273.15));
  const double rm2 = kColumnTop * kColumnTop, rb2 = kColumnBottom * kColumnBottom;
  const double c0 = load * a * (rb2 - rm2) / std::expm1(a * (rb2 - rm2));
  return c0 * std::exp(a * (r * r - rm2));
}

std::vector<std::string> WriteEquilibriumSet(const std::string& dir) {
  const int n = 131;
  std::vector<float> radii(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int k = 1; k <= n; ++k) radii[Idx(k)] = static_cast<float>(6.92 + 0.002 * (k - 1));
  SeedRandomGenerators(20261207u);
  std::vector<std::string> paths;
  for (int j = 1; j <= 4; ++j) {
    const double rpm = kRpm[j - 1];
    std::vector<float> value(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int p = 1; p <= n; ++p) {
      double v = kBaseline + GaussianRandomDouble(kNoise);
      for (int k = 0; k < 2; ++k) v += EquilibriumSignal(kMass[k], kLoading[k], rpm, radii[Idx(p)]);
      value[Idx(p)] = static_cast<float>(v);
    }
    char name[32];
    std::snprintf(name, sizeof name, "%05d.ra1", j);
    const std::string path = (std::filesystem::path(dir) / name).string();
    const double t = 86400.0 * j, w = rpm * M_PI / 30.0;
    EXPECT_TRUE(WriteRadialScanFile(path.c_str(), n, radii.data(), value.data(), nullptr,
                                    "equilibrium", true, 0, 0, 0, false, 'R', 1,
                                    static_cast<float>(kTemperature), static_cast<float>(rpm), t,
                                    w * w * t, 280.0f, 1));
    paths.push_back(path);
  }
  return paths;
}

class EquilibriumDistributionTest : public DistributionWindowTest {
 protected:
  void LoadEquilibriumSet() {
    const std::string dir = ProgramDir() + "/eqdata";
    std::filesystem::create_directories(dir);
    Backend().QueueOpenFiles(WriteEquilibriumSet(dir));
    Dispatch(kCmLoadEquilibriumData);
    ASSERT_EQ(DataSet().nScans, 4);
    ASSERT_TRUE(DataSet().bEquilibriumMode);
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus = static_cast<float>(kColumnTop);
    AnalysisSwitches().pParams[14] = DataSet().fBottom = static_cast<float>(kColumnBottom);
    DataSet().fFitLeftLim = 6.92f, DataSet().fFitRightLim = 7.18f;
    SetLeftFitLimitIndices(), SetRightFitLimitIndices();
    Backend().ClearTranscript();
  }

  // The grid lo..hi with n points, P 0.68, the solvent, a fitted baseline and no
  // systematic noise.
  static void SetGrid(float lo, float hi, int n) {
    AnalysisSwitches().pParams[kContiSlotGridMin] = lo;
    AnalysisSwitches().pParams[kContiSlotGridMax] = hi;
    AnalysisSwitches().pParams[kContiSlotGridCount] = static_cast<float>(n);
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    AnalysisSwitches().pParams[kContiSlotVbar] = static_cast<float>(kVbar);
    AnalysisSwitches().pParams[kContiSlotDensity] = static_cast<float>(kDensity);
    UnpackModelParams();
    AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
    ModelParams().bVaryBaseline = true;
  }

  // The bottom moved off by the given amount and refined by the simplex alone.
  static void FitBottomFrom(double offset) {
    AnalysisSwitches().pParams[14] = DataSet().fBottom = static_cast<float>(kColumnBottom + offset);
    AnalysisSwitches().pParamFitFlags[14] = 1;
    bFitSimplex = true;
    bFitMarquardt = bFitAnnealing = false;
  }

  // The local maxima of the distribution above 5 % of the highest value.
  static std::vector<float> PeakMasses() {
    std::vector<float> peaks;
    const float top = *std::max_element(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
    for (int i = 2; i < DistributionVectors().nDistGrid; ++i)
      if (DistributionVectors().pDistValues[i] > 0.05f * top && DistributionVectors().pDistValues[i] >= DistributionVectors().pDistValues[i - 1] &&
          DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[i + 1])
        peaks.push_back(DistributionVectors().pDistS[i]);
    return peaks;
  }

  // Two peaks at the true masses with the true signals, baseline and fit at the
  // noise level.
  void ExpectTheTwoSpecies(const char* what) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    const std::vector<float> peaks = PeakMasses();
    ASSERT_EQ(peaks.size(), 2u);
    const float split = std::sqrt(peaks[0] * peaks[1]);
    float area[2], mean[2], total = 0;  // signal and weight-average M of each peak
    IntegrateDistribution(5000.0f, split, &area[0], &mean[0], &total, nullptr, nullptr, nullptr);
    IntegrateDistribution(split, 250000.0f, &area[1], &mean[1], &total, nullptr, nullptr, nullptr);
    for (int k = 0; k < 2; ++k) {
      EXPECT_NEAR(mean[k], kMass[k], 0.05 * kMass[k]) << "species " << k + 1;
      EXPECT_NEAR(area[k] / (area[0] + area[1]), kLoading[k] / (kLoading[0] + kLoading[1]), 0.05)
          << "species " << k + 1;
    }
    EXPECT_NEAR(area[0] + area[1], kLoading[0] + kLoading[1], 0.05);
    EXPECT_NEAR(ModelParams().fBaseline, kBaseline, 0.01);
    const double rmsd = FitRmsd();
    EXPECT_GT(rmsd, 0.8 * kNoise);
    EXPECT_LT(rmsd, 1.15 * kNoise);
  }
};

// Run and Fit of c(M): the kernels are the equilibrium profiles of each grid mass,
// the distribution has the two species; the Fit of the bottom from 0.01 cm off
// brings it back and keeps the species.
TEST_F(EquilibriumDistributionTest, CMRunAndFitFindTheTwoSpecies) {
  LoadEquilibriumSet();
  Dispatch(kCmContinuousCM);
  SetGrid(5000.0f, 250000.0f, 80);
  Dispatch(kCmRun);
  EXPECT_TRUE(BoxTexts().empty()) << BoxTexts().front();
  ExpectTheTwoSpecies("Run");
  // The grid carries the s of each mass; the heaviest are beyond what a velocity
  // run with these scan times could observe, which does not limit equilibrium data.
  EXPECT_GT(LargestObservableS(), 0.0);
  EXPECT_GT(DistributionVectors().pDistGrid[DistributionVectors().nDistGrid], LargestObservableS());

  FitBottomFrom(0.01);
  Backend().ClearTranscript();
  Dispatch(kCmFit);
  EXPECT_TRUE(BoxTexts().empty()) << BoxTexts().front();
  EXPECT_NEAR(DataSet().fBottom, kColumnBottom, 0.004);
  ExpectTheTwoSpecies("Fit");
}

// The other sedimentation models on the same data take the equilibrium profiles
// of their grid masses: c(s) finds the two masses through M(s); c(M) with invariant
// D is a distribution of buoyant mass, found at M (1 - vbar rho); ls-g*(s) warns
// once and computes, as does its Fit. The electrophoresis c(v) is refused.
TEST_F(EquilibriumDistributionTest, OtherModelsOnEquilibriumData) {
  LoadEquilibriumSet();
  const auto expectPeaksAt = [this](double m1, double m2, double tolerance) {
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    const std::vector<float> peaks = PeakMasses();
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_NEAR(peaks[0], m1, tolerance * m1);
    EXPECT_NEAR(peaks[1], m2, tolerance * m2);
    EXPECT_LT(FitRmsd(), 1.15 * kNoise);
  };

  {
    SCOPED_TRACE("c(s)");
    Dispatch(kCmContinuousCs);
    SetGrid(0.5f, 8.0f, 100);
    Dispatch(kCmRun);
    EXPECT_TRUE(BoxTexts().empty()) << BoxTexts().front();
    // The grid steps 0.075 S, about 5 % in M at the lighter species.
    expectPeaksAt(kMass[0], kMass[1], 0.08);
  }
  {
    SCOPED_TRACE("c(M) with invariant D");
    // Another model: the c(s) on show no longer holds, and no note about
    // integrating it takes the keys typed next.
    Backend().ClearTranscript();
    Dispatch(kCmContinuousCMInvariantD);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
    Backend().ClearTranscript();
    SetGrid(1000.0f, 60000.0f, 80);
    Dispatch(kCmRun);
    EXPECT_TRUE(BoxTexts().empty()) << BoxTexts().front();
    const double buoyancy = 1.0 - kVbar * kDensity;
    expectPeaksAt(kMass[0] * buoyancy, kMass[1] * buoyancy, 0.06);
  }
  {
    SCOPED_TRACE("ls-g*(s)");
    Backend().ClearTranscript();
    Dispatch(kCmLsgModel);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
    SetGrid(0.5f, 8.0f, 60);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, "");
    Dispatch(kCmRun);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(BoxTexts().size(), 1u);
    EXPECT_TRUE(AnalysisSwitches().bModelComputed);
    EXPECT_LT(FitRmsd(), 1.15 * kNoise);

    // The refinement warns when it starts, not at its evaluations.
    FitBottomFrom(0.005);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, "");
    Dispatch(kCmFit);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(BoxTexts().size(), 1u);
    EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  }
}

// An equilibrium analysis, then velocity scans loaded with "Load New Files": the
// new set is velocity data (the title and the check mark of the equilibrium loader
// say which mode a set is analysed in), and c(M) fits its Lamm solutions to the
// noise of the data. Loading the velocity set kept equilibrium mode before.
TEST_F(EquilibriumDistributionTest, VelocityScansAfterAnEquilibriumAnalysisAreVelocityData) {
  LoadEquilibriumSet();
  EXPECT_TRUE(Handle().Title().ends_with(kEquilibriumTitleMark)) << Handle().Title();
  EXPECT_TRUE(Handle().IsMenuItemChecked(kCmLoadEquilibriumData));
  Dispatch(kCmContinuousCM);
  SetGrid(5000.0f, 250000.0f, 40);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);

  LoadSyntheticRun();
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_EQ(Handle().Title(),
            "SEDIMENTATION ANALYSIS -> " + ProgramDir() + "/data/00001.ra1...");
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmLoadEquilibriumData));
  // The solvent of the synthetic run, which the equilibrium set shares.
  ASSERT_FLOAT_EQ(SolventConstants().VBAR, 0.73f);
  ASSERT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.0f);
  // The distribution of the equilibrium set is gone with it: choosing c(M) asks nothing.
  Backend().ClearTranscript();
  ChooseSmallCM();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
  Backend().ClearTranscript();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
  Dispatch(kCmRun);
  EXPECT_TRUE(BoxTexts().empty()) << BoxTexts().front();
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const double rmsd = FitRmsd();
  EXPECT_GT(rmsd, 0.8 * kSyntheticNoise);
  EXPECT_LT(rmsd, 1.2 * kSyntheticNoise);
  // The distribution peaks at the mass of the species.
  const float* top = std::max_element(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  const double mass = CalculateM(static_cast<float>(kSyntheticS));
  EXPECT_NEAR(DistributionVectors().pDistS[top - DistributionVectors().pDistValues], mass, 0.1 * mass);
}

// Fitting limits that fall between two neighbouring radii hold no data point: Run
// and Fit say so instead of computing a model over no point, and the result text and
// the saved parameters name it instead of "rmsd=0.000000 (n=0,SSR=0.000000)", which
// reads as a perfect fit.
TEST_F(EquilibriumDistributionTest, LimitsWithoutADataPointAreNamedNotFitted) {
  LoadEquilibriumSet();
  Dispatch(kCmContinuousCM);
  SetGrid(5000.0f, 250000.0f, 40);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(BuildFitResultLines()[kSlotRmsd].rfind("rmsd=", 0), 0u);

  // The radii lie 0.002 cm apart: 7.0000 and 7.0020.
  DataSet().fFitLeftLim = 7.0005f, DataSet().fFitRightLim = 7.0015f;
  SetLeftFitLimitIndices(), SetRightFitLimitIndices();
  ASSERT_FLOAT_EQ(DataSet().fFitLeftLim, 7.0005f);
  ASSERT_FLOAT_EQ(DataSet().fFitRightLim, 7.0015f);
  const std::string named = "no data point lies inside the fitting limits 7.0005 to 7.0015";
  Backend().ClearTranscript();
  for (int command : {kCmRun, kCmFit}) {
    Backend().QueueMessageBox(IDOK, "ERROR");
    Dispatch(command);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{named}) << command;
    EXPECT_TRUE(DataSet().bDataChanged) << command;
    Backend().ClearTranscript();
  }
  EXPECT_EQ(BuildFitResultLines()[kSlotRmsd], named);
  EXPECT_EQ(BuildBestFitInfoLines()[kSlotRmsd], named);

  // The fit was computed for other limits: Save Fit Data has none to save.
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNoFitOfLoadedDataText});
  EXPECT_EQ(Shown("SaveFileDialog"), 0);
}

}  // namespace
}  // namespace tarmic::testing
