// c(s,ff0), c(s) with one discrete component, ls-g*(s) and c(v) with constant D on
// data made by the discrete-species model computation or a closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>

#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_storage.h"
#include "distributions/distribution_variants.h"
#include "distributions/install_hooks.h"
#include "modelcalc_test_support.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/interpolation.h"
#include "services/answer_policy.h"
#include "services/path_table.h"
#include "numerics/rods_worms.h"
#include "platform/headless/headless_backend.h"
#include "propagators/buffer_sedimentation.h"

namespace tarmic {
namespace {

using test::DiffusionFromSAndFf0;

struct Species {
  double s;          // S, or um/s in the planar cell
  double D;          // 1e-7 cm^2/s; 0: no diffusion
  double amplitude;  // loading signal
};

class ContiModelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    InstallDistributionHooks();
    // Tikhonov-Phillips, normal equations and Lamm equations on 2 threads.
    GetDistributionHooks().runSettings = [] {
      ContiRunSettings s;
      s.maxEntropy = false;
      s.threads = 2;
      return s;
    };
  }
  void TearDown() override { ResetAll(); }

  static void ResetAll() {
    ResetDistributionEngine();
    ResetDistributionHooks();
    ResetModelFitHooks();
    test::ResetModelCalcState();
  }

  // scans x 200 radii every interval s at 50,000 rpm, signal = the discrete-species
  // model of the given species plus Gaussian noise.
  static void MakeData(std::initializer_list<Species> species, int scans, double interval,
                       double noise) {
    test::InstallVelocityScans(scans, 200, interval, 50000.0f);
    ModelFlags().bDiscreteModel = true;
    // The first amplitude is the total loading, the others fractions of it.
    double total = 0.0;
    for (const Species& sp : species) total += sp.amplitude;
    int k = 0;
    for (const Species& sp : species) {
      ++k;
      AnalysisSwitches().pSpeciesLinked[k] = 1;
      ModelParams().pSpeciesS[k] = static_cast<float>(sp.s);
      ModelParams().pSpeciesMassOrD[k] = static_cast<float>(sp.D);
      ModelParams().pSpeciesAmplitude[k] = static_cast<float>(k == 1 ? total : sp.amplitude / total);
    }
    for (++k; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
    PackModelParams();
    AllocSpeciesSignalArrays();
    ModelParams().bLinearAmplitudes = false;
    ASSERT_TRUE(CalculateModel(nullptr).ok());
    test::DataFromFitWithNoise(noise, 5);
  }

  // The continuous model whose flags are set next: grid, confidence level 0.68,
  // solvent, f/f0 1.25; no systematic noise.
  static void ContinuousParams(float lo, float hi, float count) {
    ResetModelFlags();
    ModelFlags().bContiModel = true;
    test::SetContinuousParams(lo, hi, count, 0.68f, 1.25f, DataSet().fMeniscus, DataSet().fBottom);
  }

  static float Area(float lo, float hi, float* mean = nullptr) {
    float area = 0.0f, avg = 0.0f, total = 0.0f;
    IntegrateDistribution(lo, hi, &area, &avg, &total, nullptr, nullptr, nullptr);
    if (mean) *mean = avg;
    return area;
  }

  ScopedHeadlessBackend backend;
};

// Two species of 4 S, f/f0 1.2 (0.6) and 2.0 (0.4): the same boundary speed, the
// second spreads 2.15 times faster (D ~ (f/f0)^-3/2). The (s, f/f0) map puts their
// amounts in the right rows; the kernels are kept, and a second Run with the same
// grid uses them again.
TEST_F(ContiModelsTest, CsFf0SeparatesEqualSByTheirFrictionalRatios) {
  MakeData({{4.0, DiffusionFromSAndFf0(4.0, 1.2), 0.6}, {4.0, DiffusionFromSAndFf0(4.0, 2.0), 0.4}},
           10, 1200.0, 0.002);
  ContinuousParams(2.5f, 5.5f, 13.0f);
  ModelFlags().bCsff0Model = true;
  AnalysisSwitches().pParams[kContiSlotShape1] = 1.2f;  // f/f0 from 1.2 to 2.0 in 5 rows
  AnalysisSwitches().pParams[kContiSlotShape2] = 2.0f;
  AnalysisSwitches().pParams[kContiSlotShape3] = 5.0f;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  ASSERT_EQ(DistributionVectors().nFf0Grid, 65);
  EXPECT_NEAR(DistributionVectors().pFf0Axis[2], 1.4f, 1e-5);
  double low = 0.0, high = 0.0, sMean = 0.0, total = 0.0;
  for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) {
    const double c = DistributionVectors().pCsff0Values[k];
    if (DistributionVectors().pCsff0Ff0[k] < 1.5f) low += c;
    if (DistributionVectors().pCsff0Ff0[k] > 1.7f) high += c;
    sMean += c * DistributionVectors().pCsff0S[k];
    total += c;
  }
  EXPECT_NEAR(low, 0.6, 0.06);
  EXPECT_NEAR(high, 0.4, 0.06);
  EXPECT_NEAR(sMean / total, 4.0, 0.05);
  // D and the Stokes radius of each cell follow from its s and M.
  EXPECT_NEAR(DistributionVectors().pCsff0D[5 * 13], DiffusionFromSAndFf0(5.5, 2.0) * 1e-7, 0.01 * DistributionVectors().pCsff0D[5 * 13]);
  EXPECT_NE(DistributionStorage().pppKernels, nullptr);

  DataSet().bDataChanged = false;  // as the Run command leaves it after a result
  int kernelRuns = 0;
  GetDistributionHooks().writeDebugLog = [&](const std::string& text) {
    kernelRuns += text == "\n RunContiSed loop and sims done";
  };
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_EQ(kernelRuns, 0);
  EXPECT_NEAR(DistributionVectors().pCsff0Values[1] + DistributionVectors().pCsff0Values[DistributionVectors().nFf0Grid], 0.0, 0.05);
}

// c(s) with one discrete component given by s and D: 0.3 of a small species (1 S,
// D 2e-6) outside the s grid next to 0.5 of a 4 S, f/f0 1.25 species. The discrete
// amplitude stands in point 1 (kept through the normalisation), the grid peak
// carries the other.
TEST_F(ContiModelsTest, CsWithOneDiscreteComponentRecoversItsAmount) {
  MakeData({{4.0, DiffusionFromSAndFf0(4.0, 1.25), 0.5}, {1.0, 20.0, 0.3}}, 10, 1200.0, 0.002);
  ContinuousParams(2.0f, 8.0f, 25.0f);
  ModelFlags().bCsOneDiscreteD = true;
  AnalysisSwitches().pParams[kVariantSlotDiscreteS] = 1.0f;
  AnalysisSwitches().pParams[kVariantSlotDiscreteMD] = 20.0f;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[1], 1.0f);
  EXPECT_NEAR(DistributionVectors().pDistValues[1], 0.3, 0.015);
  float mean = 0.0f;
  EXPECT_NEAR(Area(2.2f, 8.0f, &mean), 0.5, 0.025);
  EXPECT_NEAR(mean, 4.0, 0.05);
}

// ls-g*(s) of one non-diffusing species of 5 S: the apparent distribution peaks at
// 5 S and holds its amount. A grid wholly beyond the observable range (every
// boundary past the right fit limit already in the first scan) is refused when the
// warning is declined and clipped to the observable range when it is accepted.
TEST_F(ContiModelsTest, LsgPeaksAtTheSOfANonDiffusingSpeciesAndClipsAGridBeyondTheData) {
  MakeData({{5.0, 0.0, 1.0}}, 10, 1200.0, 0.002);
  ContinuousParams(1.0f, 10.0f, 37.0f);
  ModelFlags().bLsgModel = true;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  int peak = 1;
  for (int i = 2; i <= DistributionVectors().nDistGrid; ++i)
    if (DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[peak]) peak = i;
  EXPECT_NEAR(DistributionVectors().pDistGrid[peak], 5.0, 0.26);
  float mean = 0.0f;
  EXPECT_NEAR(Area(1.0f, 10.0f, &mean), 1.0, 0.03);
  EXPECT_NEAR(mean, 5.0, 0.1);

  // s_right = ln(r_right / m) / (w^2 t_first): about 51 S at 50,000 rpm, 1200 s.
  const double w2 = std::pow(50000.0 / 60.0 * 2.0 * M_PI, 2.0) * 1e-13;
  const double sRight = std::log(DataSet().fFitRightLim / DataSet().fMeniscus) / (w2 * 1200.0);
  const double sLeft = std::log(DataSet().fFitLeftLim / DataSet().fMeniscus) / (w2 * 12000.0);
  ContinuousParams(60.0f, 90.0f, 20.0f);
  ModelFlags().bLsgModel = true;
  // The run asks the policy of its settings: the window's, which shows the box.
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings settings;
    settings.answers = AskingPolicy();
    return settings;
  };
  backend->QueueMessageBox(IDNO, "ERROR");
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::NotStarted);
  ASSERT_FALSE(backend->Transcript().empty());
  EXPECT_EQ(backend->Transcript().back().text.rfind("smin 60 too low", 0), 0u);
  backend->QueueMessageBox(IDYES, "ERROR");
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_TRUE(backend->AllAnswersUsed());
  EXPECT_NEAR(DistributionVectors().pDistGrid[DistributionVectors().nDistGrid], sRight, 1e-3 * sRight);
  EXPECT_NEAR(DistributionVectors().pDistGrid[1], sLeft, 1e-3);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], DistributionVectors().pDistGrid[DistributionVectors().nDistGrid]);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) EXPECT_TRUE(std::isfinite(DistributionVectors().pDistValues[i])) << i;
  // Once accepted, a later grid beyond the data is clipped without a question.
  ContinuousParams(60.0f, 90.0f, 20.0f);
  ModelFlags().bLsgModel = true;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_NEAR(DistributionVectors().pDistGrid[DistributionVectors().nDistGrid], sRight, 1e-3 * sRight);
}

// exp(z^2) erfc(z) for z >= 0, asymptotically beyond 25.
double Erfcx(double z) {
  if (z < 25.0) return std::exp(z * z) * std::erfc(z);
  const double q = 1.0 / (2.0 * z * z);
  return (1.0 - q + 3.0 * q * q) / (z * std::sqrt(M_PI));
}

// Drift v (cm/s) and diffusion D (cm^2/s) from a uniform loading c = 1 next to a
// wall at x = 0 with no flux through it (v c - D c' = 0): the closed form of the
// convection-diffusion equation on the half line,
//   c = 1 - erfc(a)/2 - sqrt(v^2 t/(pi D)) exp(-a^2)
//         + (1 + v x/D + v^2 t/D) exp(v x/D) erfc(b)/2,
// a = (x - v t)/(2 sqrt(D t)), b = (x + v t)/(2 sqrt(D t)), with
// exp(v x/D) erfc(b) = exp(-a^2) erfcx(b).
double PlanarBoundary(double x, double t, double v, double D) {
  const double w = 2.0 * std::sqrt(D * t);
  const double a = (x - v * t) / w, b = (x + v * t) / w;
  const double g = std::exp(-a * a);
  return 1.0 - 0.5 * std::erfc(a) - std::sqrt(v * v * t / (M_PI * D)) * g +
         0.5 * (1.0 + v * x / D + v * v * t / D) * g * Erfcx(b);
}

// Electrophoresis: 0.8 of one species migrating at 2 um/s with D 5e-7 cm^2/s from
// the meniscus, the data from the closed form above (the layer at the far end is
// 0.0025 cm thin, outside the fitted range). Every velocity point of c(v) with
// that constant D gets its planar kernel: the distribution peaks at 2 um/s with the
// species' amount.
// c(s) with the buffer-mismatch component: data of a 4 S species (0.5) and a slowly
// sedimenting buffer component (1 S, D 3e-6) of signal 0.3, with time- and
// radial-invariant noise. Held fixed at 0.3, the buffer amplitude stays exactly
// that and only the distribution is solved; fixed at half of it, it still stays
// there (it is not solved); solved, it comes back as the buffer signal.
TEST_F(ContiModelsTest, CsWithBufferHoldsAFixedBufferAmplitudeAndSolvesAFreeOne) {
  MakeData({{4.0, DiffusionFromSAndFf0(4.0, 1.25), 0.5}}, 10, 1200.0, 0.002);
  ContinuousParams(2.0f, 8.0f, 25.0f);
  ModelFlags().bContiSModel = true;
  ModelFlags().bBufferSedCorrection = true;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  BufferSedimentation().BufferSed.sampleS = 1.0;
  BufferSedimentation().BufferSed.sampleD = 30.0;
  BufferSedimentation().BufferSed.signal = 0.3;
  BufferSedimentation().BufferSed.fitSignal = false;
  BufferSedimentation().BufferSed.interferenceNoteShown = true;
  // The buffer profile added to the data on each scan's radii, then the noise.
  const SimOutcome made = CalculateBufferSedimentation(
      nullptr, [](int scan, const double* r, const double* v, int n, bool) {
        const std::size_t j = static_cast<std::size_t>(scan);
        std::vector<float> add(static_cast<std::size_t>(DataSet().pnPoints[j]) + 1, 0.0f);
        ASSERT_TRUE(InterpolateCurveFromDouble(DataSet().pnPoints[j], DataSet().ppRadius[j], add.data(), n, r, v));
        for (int i = 1; i <= DataSet().pnPoints[j]; ++i) DataSet().ppSignal[j][i] += add[static_cast<std::size_t>(i)];
      });
  ASSERT_TRUE(made.ok());
  for (int j = 1; j <= DataSet().nScans; ++j)
    for (int i = 1; i <= DataSet().pnPoints[test::Idx(j)]; ++i)
      DataSet().ppSignal[test::Idx(j)][i] += static_cast<float>(0.01 * std::sin(20.0 * DataSet().ppRadius[test::Idx(j)][i]) + 0.004 * j);
  ASSERT_TRUE(BuildCommonRadialGrid());
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();

  for (double fixed : {0.3, 0.15}) {
    BufferSedimentation().BufferSed.signal = fixed;
    ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
    EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[1], static_cast<float>(fixed));
    EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.signal, fixed);
    if (fixed == 0.3) {
      float mean = 0.0f;
      EXPECT_NEAR(Area(2.2f, 8.0f, &mean), 0.5, 0.025);
      EXPECT_NEAR(mean, 4.0, 0.05);
      EXPECT_NEAR(test::ResidualRms(), 0.002, 0.0004);
      // Monte-Carlo sets keep the buffer at its fixed amplitude and the species
      // where the data put it (the grid is even: values weigh alike).
      ASSERT_EQ(MonteCarloDistributions(nullptr, 4, 0.68f, "", false).status, MonteCarloOutcome::Completed);
      for (int k = 1; k <= ContiMonteCarlo().nMCSets; ++k) {
        const std::vector<float>& set = ContiMonteCarlo().ppMCDistributions[static_cast<std::size_t>(k)];
        EXPECT_FLOAT_EQ(set[1], 0.3f);
        double sum = 0.0, moment = 0.0;
        for (int i = 2; i <= DistributionVectors().nDistGrid; ++i) {
          sum += set[static_cast<std::size_t>(i)];
          moment += set[static_cast<std::size_t>(i)] * DistributionVectors().pDistGrid[i];
        }
        EXPECT_NEAR(moment / sum, 4.0, 0.05) << k;
      }
      EndMonteCarloDistributions(nullptr);
    } else {
      EXPECT_GT(test::ResidualRms(), 0.004);  // the missing buffer shows in the fit
    }
  }
  BufferSedimentation().BufferSed.fitSignal = true;
  BufferSedimentation().BufferSed.signal = 1.0;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_NEAR(BufferSedimentation().BufferSed.signal, 0.3, 0.015);
  EXPECT_NEAR(test::ResidualRms(), 0.002, 0.0004);

  // ls-g*(s) models the buffer component in its first point as well (its steps
  // leave the species' diffusion in the residuals, hence the wider bound).
  ModelFlags().bContiSModel = false;
  ModelFlags().bLsgModel = true;
  BufferSedimentation().BufferSed.signal = 1.0;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_NEAR(BufferSedimentation().BufferSed.signal, 0.3, 0.06);
  ModelFlags().bLsgModel = false;
}

// c(s) of worm-like chains: after the run the chain's M(s) relation of the grid is
// in the table file, one row per grid point, s (S) and M (kDa) at standard
// conditions; every row lies on the chain's s(M).
TEST_F(ContiModelsTest, WormChainRunWritesItsMOfSTable) {
  MakeData({{4.0, DiffusionFromSAndFf0(4.0, 1.25), 0.5}}, 10, 1200.0, 0.002);
  ContinuousParams(2.0f, 8.0f, 13.0f);
  ModelFlags().bContiSModel = true;
  ModelFlags().bCsWormChain = true;
  AnalysisSwitches().pParams[kVariantSlotModel] = 36.0f;   // persistence length, nm
  AnalysisSwitches().pParams[kVariantSlotValue] = 23.0f;   // cross-section, nm^2
  AnalysisSwitches().pParams[kVariantSlotLow] = 9000.0f;   // monomer mass
  AnalysisSwitches().pParams[kVariantSlotHigh] = 0.4f;     // hydration
  const std::string path = std::string(TARMIC_TEST_OUTPUT_DIR) + "/wormchain_mofs.dat";
  std::remove(path.c_str());
  const std::string saved = std::exchange(szWormChainMofsFile, path);
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  szWormChainMofsFile = saved;
  std::ifstream table(path);
  int rows = 0;
  for (double s = 0.0, M = 0.0; table >> s >> M; ++rows) {
    EXPECT_NEAR(s, 2.0 + 0.5 * rows, 1e-4);
    EXPECT_NEAR(SFromMWormChain(static_cast<float>(M * 1000.0)), s, 2e-3 * s);
  }
  EXPECT_EQ(rows, 13);
}

// Fluorescence data with nonlinear detection (exponent 1.5): the recorded signal is
// the power law's inverse of a 4 S boundary of 0.8 plus noise. The distribution is
// fitted in the transformed domain, where the signal is linear in the
// concentration: the amount and s come back and the fit lies at the noise there;
// afterwards the recorded data are shown again, with the fit carried to them.
TEST_F(ContiModelsTest, CsOnNonlinearDetectionDataIsFittedInTheTransformedDomain) {
  constexpr double kE = 1.5, kNoise = 0.002;
  MakeData({{4.0, DiffusionFromSAndFf0(4.0, 1.25), 0.8}}, 10, 1200.0, kNoise);
  for (int j = 1; j <= DataSet().nScans; ++j)
    for (float& v : std::span(DataSet().ppSignal[test::Idx(j)] + 1, DataSet().pnPoints[test::Idx(j)]))
      v = static_cast<float>(InversePowerTransform(v, kE, 0.0));
  ASSERT_TRUE(BuildCommonRadialGrid());
  std::vector<float> recorded(DataSet().ppSignal[5] + 1, DataSet().ppSignal[5] + DataSet().pnPoints[5] + 1);
  InstallFluorescenceDetectionHooks();
  FluorescenceDetection().bNonlinearDetection = true;
  FluorescenceDetection().fPowerCoefficient = static_cast<float>(kE);
  FluorescenceDetection().fPowerBaseline = 0.0f;
  FluorescenceDetection().bShowTransformed = false;
  ContinuousParams(2.0f, 8.0f, 25.0f);
  ModelFlags().bContiSModel = true;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  float mean = 0.0f;
  EXPECT_NEAR(Area(2.0f, 8.0f, &mean), 0.8, 0.02);
  EXPECT_NEAR(mean, 4.0, 0.05);
  EXPECT_NEAR(FluorescenceDetection().fTransformedRmsd, kNoise, 0.15 * kNoise);
  for (int i = 1; i <= DataSet().pnPoints[5]; ++i) EXPECT_EQ(DataSet().ppSignal[5][i], recorded[static_cast<std::size_t>(i) - 1]);
  // The fit shown with the recorded data is the transformed fit carried back.
  const int k = DataSet().pnPoints[5] / 2;
  EXPECT_NEAR(PowerTransform(DataSet().ppFit[5][k], kE, 0.0), FluorescenceDetection().ppTransformedFit[5][static_cast<std::size_t>(k)], 1e-5);
}

TEST_F(ContiModelsTest, CvWithConstantDRecoversTheVelocity) {
  test::InstallVelocityScans(10, 200, 300.0, 50000.0f);
  const double v = 2e-4, D = 5e-7;
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0.0, 0.002);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    const std::size_t sj = static_cast<std::size_t>(j);
    for (int i = 1; i <= DataSet().pnPoints[sj]; ++i)
      DataSet().ppSignal[sj][i] = static_cast<float>(
          0.8 * PlanarBoundary(DataSet().ppRadius[sj][i] - DataSet().fMeniscus, DataSet().pScanInfo[sj].time, v, D) + noise(random));
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
  ContinuousParams(0.5f, 4.0f, 15.0f);
  ModelFlags().bCvConstantD = true;
  AnalysisSwitches().pParams[kVariantSlotCvD] = 5.0f;
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_FALSE(LammGlobals().bElectrophoresis);  // the geometry switch is restored
  float mean = 0.0f;
  EXPECT_NEAR(Area(0.5f, 4.0f, &mean), 0.8, 0.02);
  EXPECT_NEAR(mean, 2.0, 0.03);
}

}  // namespace
}  // namespace tarmic
