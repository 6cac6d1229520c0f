// The intensity distributions of DLS correlation functions: a synthetic single
// species (its g1 made by the discrete species' correlation function, with a little
// noise) gives an I(D) and an I(Rh) distribution that peak at the true D and at its
// Stokes radius, with the species' amplitude as area; intensity correlations are
// converted on request; Fit computes the same distribution.
#include "distribution_window_test_support.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "modelcalc/dls_species_signal.h"
#include "propagators/sim_run.h"
#include "scandata/dls_file.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kD = 5e-7;  // cm^2/s
constexpr double kAmplitude = 0.7;
constexpr double kNoise = 1e-3;

class DlsDistributionTest : public DistributionWindowTest {
 protected:
  void TearDown() override {
    DlsFile().bDLSConvertOnWrite = false;
    DistributionWindowTest::TearDown();
  }

  // Two correlation functions at 90 and 173 degrees (633 nm, n 1.33, 20 C, water),
  // 100 lag times 1e-7 .. 10^lastLag s, written as g(1).
  std::vector<std::string> WriteSpecies(double lastLag = -1.0) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, kNoise);
    std::vector<std::string> paths;
    const int n = 100;
    for (int f = 0; f < 2; ++f) {
      DLSInfo record;
      record.temperatureC = 20.0f;
      record.elapsedTime = 60.0 * f;
      record.refractiveIndex = 1.33f;
      record.viscosity = 0.01002f;
      record.scatteringAngle = f == 0 ? 90.0f : 173.0f;
      record.laserWavelength = 6.33e-7f;
      record.bFieldACF = true;
      std::vector<float> x(n + 1), g(n + 1);
      for (int j = 1; j <= n; ++j)
        x[Idx(j)] = static_cast<float>(-7.0 + (lastLag + 7.0) * (j - 1) / (n - 1));
      DlsSpecies species;
      species.D = kD;
      species.dDlsAmplitude = kAmplitude;
      DLSCorrelationProfile(record, species, x.data(), g.data(), n);
      for (int j = 1; j <= n; ++j)
        g[Idx(j)] += static_cast<float>(gauss(random));
      paths.push_back(ProgramDir() + "/acf" + std::to_string(f) + ".dlsdat");
      EXPECT_TRUE(
          WriteDLSDatFromRecord(paths.back().c_str(), n, x.data(), g.data(), "species", record));
    }
    return paths;
  }

  void LoadSpecies(bool asIntensity, double lastLag = -1.0) {
    bAlwaysLoadG2 = asIntensity;
    Backend().QueueOpenFiles(WriteSpecies(lastLag));
    Dispatch(kCmLoadDLSData);
    ASSERT_EQ(DataSet().nScans, 2);
    ASSERT_TRUE(DataSet().bDLSData);
    Backend().ClearTranscript();
  }

  // The model command and its grid (min, max in the model's unit) on 40 points.
  void Choose(int command, float lo, float hi) {
    // A distribution shown before no longer holds under the new model: no note.
    Dispatch(command);
    AnalysisSwitches().pParams[kContiSlotGridMin] = lo;
    AnalysisSwitches().pParams[kContiSlotGridMax] = hi;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 40.0f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    UnpackModelParams();
  }

  // Area and intensity-weighted mean of log10 x of the shown distribution over the
  // linear axis x_i = 10^(g_i + shift): sum of c_i w_i with the bins w_i that the
  // density was made with (half intervals at the ends).
  static void AreaAndMean(const float* logAxis, double shift, double* area, double* meanLog) {
    const int n = DistributionVectors().nDistGrid;
    std::vector<double> x(Idx(n) + 2);
    for (int i = 1; i <= n; ++i)
      x[Idx(i)] = std::pow(10.0, logAxis[i] + shift);
    double a = 0.0, m = 0.0;
    for (int i = 1; i <= n; ++i) {
      const double lo = i > 1 ? x[Idx(i - 1)] : x[1];
      const double hi = i < n ? x[Idx(i + 1)] : x[Idx(n)];
      const double c = DistributionVectors().pDistValues[i] * (hi - lo) / 2.0;
      a += c;
      m += c * (logAxis[i] + shift);
    }
    *area = a;
    *meanLog = m / a;
  }

  // I(Rh) on 1 .. 20 nm: the species at its Stokes radius with its amplitude as area.
  void RunRhAndExpectTheSpecies() {
    // Stokes radius of kD in water at 20 C: R = k T / (6 pi eta D), in nm.
    const double rh = 1.380649e-23 * 293.15 / (6.0 * kPi * 1.002e-3 * kD * 1e-4) * 1e9;
    Choose(503, 1.0f, 20.0f);
    Dispatch(kCmRun);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    double area = 0.0, meanLog = 0.0;
    AreaAndMean(DistributionVectors().pDistGrid, 9.0, &area, &meanLog);
    EXPECT_NEAR(area, kAmplitude, 0.005 * kAmplitude);
    EXPECT_NEAR(meanLog, std::log10(rh), 0.005);
  }
};

TEST_F(DlsDistributionTest, SingleSpeciesPeaksAtItsDAndStokesRadiusWithItsAmplitude) {
  LoadSpecies(false);

  // I(D) on 0.5 .. 50 x 1e-7 cm^2/s.
  Choose(502, 0.5f, 50.0f);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed) << Backend().MessageBoxCaptions().size();
  double area = 0.0, meanLog = 0.0;
  AreaAndMean(DistributionVectors().pDistS, 7.0, &area, &meanLog);
  EXPECT_NEAR(area, kAmplitude, 0.005 * kAmplitude);
  EXPECT_NEAR(meanLog, std::log10(kD * 1e7), 0.005);
  int top = 1;
  for (int i = 2; i <= DistributionVectors().nDistGrid; ++i)
    if (DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[top]) top = i;
  EXPECT_NEAR(DistributionVectors().pDistS[top], std::log10(kD), 0.06);  // within about one grid step

  // Fit with nothing floated computes the same distribution.
  const std::vector<float> run(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  Dispatch(kCmFit);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i)
    EXPECT_NEAR(DistributionVectors().pDistValues[i], run[Idx(i - 1)], 1e-4f * (1.0f + run[Idx(i - 1)]));

  RunRhAndExpectTheSpecies();
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // A sedimentation model on DLS data is refused.
  Backend().ClearTranscript();
  Dispatch(kCmContinuousCs);
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// Correlation functions whose last lag time is 1 s end at log10 = 0, where a cell
// would have no bottom: I(D), I(Rh) and their Fit run on them all the same.
TEST_F(DlsDistributionTest, DataEndingAtOneSecondAreAnalysed) {
  LoadSpecies(false, 0.0);
  ASSERT_EQ(DataSet().fBottom, 0.0f);
  double area = 0.0, meanLog = 0.0;
  Choose(502, 0.5f, 50.0f);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  AreaAndMean(DistributionVectors().pDistS, 7.0, &area, &meanLog);
  EXPECT_NEAR(meanLog, std::log10(kD * 1e7), 0.005);
  AnalysisSwitches().bModelComputed = false;
  Dispatch(kCmFit);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  RunRhAndExpectTheSpecies();
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// A range drawn on a light-scattering distribution is reported in the units of the
// axis, not as the log10 grid values: I(D) from D/4 to 4 D in F (1e-7 cm^2/s) around
// the species' 5 F, I(Rh) in nm around its Stokes radius k T / (6 pi eta D).
TEST_F(DlsDistributionTest, RangeIntegrationReportsFickAndNanometres) {
  LoadSpecies(false);
  const double rh = 1.380649e-23 * 293.15 / (6.0 * kPi * 1.002e-3 * kD * 1e-4) * 1e9;
  const double spread = std::log10(4.0);
  const auto integrate = [&](double centreLog, const char* unit) {
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, "INTEGRATE DISTRIBUTION");
    IntegrateSelectedRange(Win(), static_cast<float>(centreLog - spread), static_cast<float>(centreLog + spread),
                           0.0f, 1.0f);
    const std::string text = BoxText("INTEGRATE DISTRIBUTION");
    EXPECT_NE(text.find(unit), std::string::npos) << text;
    EXPECT_GT(NumberAfter(text, "("), 95.0f) << text;  // percent of the total signal
    return text;
  };
  Choose(502, 0.5f, 50.0f);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  std::string text = integrate(std::log10(kD), " F:");
  EXPECT_NEAR(NumberAfter(text, "Integral from "), kD * 1e7 / 4.0, 1e-3);
  EXPECT_NEAR(NumberAfter(text, " to "), kD * 1e7 * 4.0, 1e-3);
  EXPECT_NEAR(NumberAfter(text, "Signal Average D = "), kD * 1e7, 0.02 * kD * 1e7);

  Choose(503, 1.0f, 20.0f);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  text = integrate(std::log10(rh * 1e-9), " nm:");
  EXPECT_NEAR(NumberAfter(text, "Integral from "), rh / 4.0, 1e-3 * rh);
  EXPECT_NEAR(NumberAfter(text, " to "), rh * 4.0, 1e-3 * rh);
  EXPECT_NEAR(NumberAfter(text, "Signal Average R = "), rh, 0.02 * rh);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// Loaded as g(2) - 1 the data are g(1) only after the question: No runs nothing and
// leaves the data, Yes converts them and gives the distribution of the g(1) load.
TEST_F(DlsDistributionTest, IntensityCorrelationsAreConvertedOnRequest) {
  LoadSpecies(true);
  const float g2 = DataSet().ppSignal[1][10];
  Choose(502, 0.5f, 50.0f);
  Backend().QueueMessageBox(IDNO, "ERROR");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(DataSet().ppSignal[1][10], g2);

  Backend().QueueMessageBox(IDYES, "ERROR");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_TRUE(DataSet().pDLSInfo[1].bFieldACF && DataSet().pDLSInfo[2].bFieldACF);
  EXPECT_NEAR(DataSet().ppSignal[1][10], std::copysign(std::sqrt(std::fabs(g2)), g2), 1e-6);
  double area = 0.0, meanLog = 0.0;
  AreaAndMean(DistributionVectors().pDistS, 7.0, &area, &meanLog);
  EXPECT_NEAR(area, kAmplitude, 0.005 * kAmplitude);
  EXPECT_NEAR(meanLog, std::log10(kD * 1e7), 0.005);
}

}  // namespace
}  // namespace tarmic::testing
