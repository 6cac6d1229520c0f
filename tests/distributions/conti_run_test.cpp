// Whole distribution analyses on synthetic sedimentation velocity data made with the
// Lamm equation solver: three species at 2, 6 and 11 S (loading 0.2, 0.5 and 0.3,
// f/f0 1.25) at 50,000 rpm in a 6.0-7.2 cm cell, 40 scans every 300 s, Gaussian
// noise of 0.005 and a time-invariant and a radial-invariant offset pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_plot.h"
#include "distributions/install_hooks.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/hydrodynamics.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "plot/winplot.h"
#include "scandata/fit_limits.h"
#include "scandata/scan_file.h"

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
  VBAR = 0.73f;
  fBufferDensity = 0.99823f;
  fVRho = VBAR * fBufferDensity;
  RELVISCOSITY = 1.0f;
  fFrictionalRatio = kFf0;
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
  std::vector<std::vector<float>> block(4, std::vector<float>((kScans + 1) * (set.n + 1), 0.0f));
  std::vector<std::vector<float*>> rows(4, std::vector<float*>(kScans + 1, nullptr));
  std::vector<float**> out(4, nullptr);
  double s[4] = {0, 0, 0, 0}, D[4] = {0, 0, 0, 0};
  for (int k = 1; k <= 3; ++k) {
    for (int j = 1; j <= kScans; ++j) rows[k][j] = block[k].data() + j * (set.n + 1);
    out[k] = rows[k].data();
    s[k] = kSpeciesS[k - 1];
    D[k] = DFromM(CalculateM(static_cast<float>(s[k])), 20.0f);
  }
  CLammIdeal t;
  t.SetIdealModel();
  t.LoadSedimentationParameters(s[3], D[3], kMeniscus, kBottom, 1.0, 6.001f, 7.199f);
  t.SkipAccelerationCheck();
  t.LoadOutputParameters(nullptr, records.data(), out[1], set.radii.data(), set.n, nullptr,
                         nullptr, false, nullptr, kScans, 1, true, true, false, 0.0f, false, 0.0f,
                         false);
  LammDiscretizationSettings fine;
  fine.fPointsPerSigma = 10.0f;
  fine.nMaxGrid = 4000;
  fine.dTolerance = fine.dToleranceIn = 0.3;
  t.LoadDiscretizationParameters(fine);
  t.SetSolventConditions(20.0, VBAR, fBufferDensity, RELVISCOSITY);
  bUserAbort = false;
  EXPECT_EQ(CLRunMTList(&t, 3, s, D, nullptr, out.data(), set.radii.data(), set.n, nullptr, nullptr), 0);

  SeedRandomGenerators(20240607u);
  set.signal.assign(kScans + 1, std::vector<float>(static_cast<std::size_t>(set.n) + 1, 0.0f));
  for (int j = 1; j <= kScans; ++j) {
    for (int p = 1; p <= set.n; ++p) {
      double v = TIPattern(set.radii[p]) + RIPattern(j) + GaussianRandomDouble(kNoise);
      for (int k = 1; k <= 3; ++k) v += kLoading[k - 1] * rows[k][j][p];
      set.signal[j][p] = static_cast<float>(v);
    }
  }
  return set;
}

const SyntheticSet& Synthetic() {
  static const SyntheticSet set = MakeSyntheticSet();
  return set;
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
      ScanInfo& info = pScanInfo[static_cast<std::size_t>(j)];
      info.time = info.recordedTime = info.timeAtLoad = 300.0 * j;
      info.rpm = 50000.0f;
      info.temperature = 20.0f;
      InstallScanArrays(j, set.n, r, y, nullptr, false);
    }
    bAbsorbanceData = false;
    fMeniscus = static_cast<float>(kMeniscus);
    fBottom = static_cast<float>(kBottom);
    fTemperatureK = 293.15f;
    ASSERT_TRUE(BuildCommonRadialGrid());
    fFitLeftLim = kLeftLimit;
    fFitRightLim = kRightLimit;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
    SetSolvent();
  }

  // The parameters of a continuous model: grid, confidence level, solvent, f/f0,
  // with TI and RI noise.
  static void SetContinuousParams(float lo, float hi, float count) {
    bContiModel = true;
    pParams[kContiSlotGridMin] = lo;
    pParams[kContiSlotGridMax] = hi;
    pParams[kContiSlotGridCount] = count;
    pParams[kContiSlotConfidence] = 0.68f;
    pParams[kContiSlotVbar] = 0.73f;
    pParams[kContiSlotDensity] = 0.99823f;
    pParams[kContiSlotViscosity] = 0.01002f;
    pParams[kContiSlotFrictionalRatio] = kFf0;
    pParams[13] = fMeniscus;
    pParams[14] = fBottom;
    for (int i = 1; i <= nModelParams; ++i) pParamFitFlags[i] = 0;
    bFitTINoise = bFitRINoise = true;
  }

  static double Rmsd() {
    double sum = 0.0;
    long count = 0;
    for (int j = 1; j <= nScans; ++j) {
      const std::size_t s = static_cast<std::size_t>(j);
      for (int p = 1; p <= pnPoints[s]; ++p) {
        const float r = ppRadius[s][p];
        if (r < fFitLeftLim || r > fFitRightLim) continue;
        const double d = ppSignal[s][p] - ppFit[s][p];
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
    double tiMean = 0.0, tiTrue = 0.0;
    int nP = 0;
    for (int g = iFitFirst; g <= iFitLast; ++g, ++nP) {
      tiMean += pTINoise[g];
      tiTrue += TIPattern(pGridRadius[g]);
    }
    tiMean /= nP;
    tiTrue /= nP;
    double worstTI = 0.0;
    for (int g = iFitFirst; g <= iFitLast; ++g) {
      const double d = (pTINoise[g] - tiMean) - (TIPattern(pGridRadius[g]) - tiTrue);
      worstTI = std::max(worstTI, std::fabs(d));
    }
    double riMean = 0.0, riTrue = 0.0;
    for (int j = 1; j <= nScans; ++j) {
      riMean += pRINoise[j];
      riTrue += RIPattern(j);
    }
    riMean /= nScans;
    riTrue /= nScans;
    double worstRI = 0.0;
    for (int j = 1; j <= nScans; ++j) {
      worstRI = std::max(worstRI, std::fabs((pRINoise[j] - riMean) - (RIPattern(j) - riTrue)));
    }
    EXPECT_LT(worstTI, tolerance);
    EXPECT_LT(worstRI, tolerance);
  }
};

TEST_F(ContiRunTest, CsRecoversPeaksAreasNoiseAndRmsd) {
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 150.0f);
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  EXPECT_TRUE(bModelComputed);
  EXPECT_EQ(nDistGrid, 150);
  EXPECT_EQ(pppKernels, nullptr);  // released after the result

  ExpectSPeaksAndRmsd();
  ExpectNoisePatternsRecovered(0.005);
  // After every run the static grid with the automatic choice is selected.
  EXPECT_TRUE(bClaverie);
  EXPECT_FALSE(bMovingHat);
  EXPECT_TRUE(bAutoFEAlgorithm);
}

TEST_F(ContiRunTest, CsWithSecondDerivativeRegularisationRecoversThePeaks) {
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.maxEntropy = false;
    s.multiThreading = false;
    return s;
  };
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 150.0f);
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  ExpectSPeaksAndRmsd();
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
  EXPECT_NEAR(pDistGrid[nDistGrid], SFromMandD(400000.0f, DFromM(400000.0f, 20.0f), 20.0f), 1e-3);
  const float windows[4] = {3000.0f, static_cast<float>(std::sqrt(M[0] * M[1])),
                            static_cast<float>(std::sqrt(M[1] * M[2])), 390000.0f};
  for (int k = 0; k < 3; ++k) {
    float area = 0.0f, mean = 0.0f;
    Peak(windows[k], windows[k + 1], &area, &mean);
    EXPECT_NEAR(mean, M[k], 0.05 * M[k]) << "peak " << k;
  }
  EXPECT_STREQ(DistributionYTitle(), "c(M)");
}

TEST_F(ContiRunTest, KeyDuringTheKernelsEndsTheRunWithoutAResult) {
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 40.0f);
  bModelComputed = true;  // a previous result
  UiEvents().Post(Event::KeyDown('S'));
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::Interrupted);
  EXPECT_FALSE(bModelComputed);
  EXPECT_FALSE(bUserAbort);
  EXPECT_EQ(ppNormalMatrix, nullptr);
  EXPECT_EQ(pDistValues, nullptr);
}

TEST_F(ContiRunTest, KeyDuringTheNormalEquationsEndsTheRunWithoutAResult) {
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.multiThreading = false;
    return s;
  };
  // The key arrives once the kernels are done.
  GetDistributionHooks().writeDebugLog = [](const std::string& text) {
    if (text == "\n RunContiSed starting normal equations") UiEvents().Post(Event::KeyDown('S'));
  };
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 40.0f);
  bModelComputed = true;
  backend->QueueMessageBox(IDOK, "ERROR");  // "user interrupt"
  EXPECT_EQ(RunContiSed(&backend->MainWindow()), ContiRunOutcome::Interrupted);
  EXPECT_TRUE(backend->AllAnswersUsed());
  EXPECT_EQ(backend->Transcript().back().text, "user interrupt");
  EXPECT_FALSE(bModelComputed);
  EXPECT_FALSE(bUserAbort);
  EXPECT_EQ(pDistValues, nullptr);
  EXPECT_EQ(hContiDC, nullptr);
}

TEST_F(ContiRunTest, RunWithTheWindowDrawsAndComputes) {
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 30.0f);
  EXPECT_EQ(RunContiSed(&backend->MainWindow()), ContiRunOutcome::Computed);
  EXPECT_TRUE(bModelComputed);
  EXPECT_NE(GetDistributionPlotMetafile(), nullptr);
  EXPECT_EQ(hContiDC, nullptr);
}

TEST_F(ContiRunTest, NoScansDoesNothingAndMissingGeometryIsReported) {
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 30.0f);
  FreeDataSet();
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::NotStarted);
  EXPECT_TRUE(backend->Transcript().empty());
  EXPECT_TRUE(bClaverie);

  InstallData();
  bContiSModel = true;
  fMeniscus = 0.0f;
  backend->QueueMessageBox(IDOK);
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::NotStarted);
  EXPECT_EQ(backend->Transcript().back().text, "set Meniscus and Bottom first");
}

TEST_F(ContiRunTest, ZeroFitLimitsAreTheMeniscusAndTheBottom) {
  bContiSModel = true;
  SetContinuousParams(0.0f, 15.0f, 20.0f);
  fFitLeftLim = fFitRightLim = 0.0f;
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  // The limit indices bring the limits just inside the data.
  EXPECT_NEAR(fFitLeftLim, fMeniscus, 0.02);
  EXPECT_NEAR(fFitRightLim, fBottom, 0.02);
  EXPECT_LT(iFitFirst, 10);
  EXPECT_GT(iFitLast, nGridPoints - 10);
}

TEST_F(ContiRunTest, GridBeyondTheLargestObservableSStopsBeforeAnySolution) {
  bContiSModel = true;
  SetContinuousParams(0.0f, 400.0f, 20.0f);
  const double sMax = LargestObservableS();
  // ln(7.1 / 6.0) / (omega^2 300 s) at 50,000 rpm.
  const double omega = 50000.0 / 60.0 * 2.0 * M_PI;
  EXPECT_NEAR(sMax, std::log(pGridRadius[iFitLast] / 6.0) * 1e13 / (omega * omega * 300.0), 1e-3);
  backend->QueueMessageBox(IDOK, "");
  EXPECT_EQ(RunContiSed(nullptr), ContiRunOutcome::NotStarted);
  EXPECT_TRUE(backend->AllAnswersUsed());
  EXPECT_EQ(backend->Transcript().back().text.rfind("sedimentation coefficient #", 0), 0u);
  EXPECT_EQ(pppKernels, nullptr);
  EXPECT_FALSE(bModelComputed);
}

TEST_F(ContiRunTest, GridPointsTakeTheSpeciesOfTheirModel) {
  const float T = 20.0f;
  KernelPointList list;
  list.Resize(1);
  MakeDistributionVectors(1);

  bContiModel = bCsInvariantD = true;
  fInvariantD = 5.0f;
  pDistGrid[1] = 4.0f;
  ASSERT_TRUE(SetupKernelPoint(1, T, 0.0, list));
  EXPECT_DOUBLE_EQ(list.D[1], 5e-7f);
  EXPECT_FLOAT_EQ(pDistS[1], MFromSandD(4.0f, 5e-7f, T));

  ResetModelFlags();
  bContiModel = bCMPowerLawModel = true;
  pDistS[1] = 50000.0f;
  ASSERT_TRUE(SetupKernelPoint(1, T, 0.0, list));
  EXPECT_FLOAT_EQ(pDistGrid[1], static_cast<float>(SFromM(50000.0)));
  EXPECT_FLOAT_EQ(pDistS[1], 50000.0f);

  ResetModelFlags();
  bContiModel = bCMPriorVbar = true;
  ASSERT_TRUE(SetupKernelPoint(1, T, 0.0, list));
  EXPECT_DOUBLE_EQ(list.vbar[1], VbarFromMass(50000.0));

  ResetModelFlags();
  bContiModel = bCsScalingLaw = true;
  fScalingKs = 0.01f;
  fScalingExponent = 0.6f;
  pDistGrid[1] = 5.0f;
  ASSERT_TRUE(SetupKernelPoint(1, T, 0.0, list));
  EXPECT_FLOAT_EQ(pDistS[1], MFromSScalingLaw(5.0f));
  EXPECT_DOUBLE_EQ(list.D[1], DFromMandS(pDistS[1], 5.0f, T));
}

TEST_F(ContiRunTest, ThreadedKernelsEqualSerialKernels) {
  bContiSModel = true;
  SetContinuousParams(0.5f, 14.0f, 12.0f);
  UnpackModelParams();
  ASSERT_TRUE(SetupContiGrid());
  KernelPointList list;
  list.Resize(nDistGrid);
  for (int i = 1; i <= nDistGrid; ++i) ASSERT_TRUE(SetupKernelPoint(i, 20.0f, 0.0, list));
  auto kernels = [&] {
    std::vector<float> all;
    for (int k = 1; k <= nDistGrid; ++k)
      for (int j = 1; j <= nScans; ++j)
        all.insert(all.end(), pppKernels[k][j] + 1, pppKernels[k][j] + nGridPoints + 1);
    return all;
  };
  nLammThreads = 1;
  ASSERT_EQ(RunSVContiSedList(nullptr, nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  const std::vector<float> serial = kernels();
  nLammThreads = 3;
  for (int k = 1; k <= nDistGrid; ++k)
    for (int j = 1; j <= nScans; ++j)
      for (int g = 1; g <= nGridPoints; ++g) pppKernels[k][j][g] = -1.0f;
  ASSERT_EQ(RunSVContiSedList(nullptr, nDistGrid, list.s.data(), list.D.data(), list.vbar.data()), 0);
  EXPECT_EQ(kernels(), serial);
}

TEST_F(ContiRunTest, SavedCmDistributionIsRestoredAsCm) {
  SetContinuousParams(2000.0f, 400000.0f, 60.0f);
  ASSERT_EQ(RunContiSed(nullptr), ContiRunOutcome::Computed);
  const std::vector<float> M(pDistS + 1, pDistS + nDistGrid + 1);
  const std::vector<float> c(pDistValues + 1, pDistValues + nDistGrid + 1);
  const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "conti_run";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "cm.dat").string();
  ASSERT_TRUE(SaveContiDistribution(path));
  EXPECT_EQ(ReadSavedDistributionKind(path), DistributionKind::MolarMass);

  // Under a c(s) model the file is refused; under c(M) it comes back over M.
  ClearDistribution();
  ResetModelFlags();
  bContiModel = bContiSModel = true;
  backend->QueueMessageBox(IDOK);
  EXPECT_FALSE(RestoreContiDistribution(path));
  EXPECT_TRUE(backend->AllAnswersUsed());
  EXPECT_EQ(pDistValues, nullptr);
  ResetModelFlags();
  bContiModel = true;
  ASSERT_TRUE(RestoreContiDistribution(path));
  ASSERT_EQ(nDistGrid, static_cast<int>(M.size()));
  for (int i = 1; i <= nDistGrid; ++i) {
    EXPECT_FLOAT_EQ(pDistS[i], M[static_cast<std::size_t>(i - 1)]);
    EXPECT_FLOAT_EQ(pDistValues[i], c[static_cast<std::size_t>(i - 1)]);
  }
  ASSERT_NE(pDistPlot, nullptr);
  EXPECT_EQ(pDistPlot->szXLabel, "molar mass [Da]");
  EXPECT_EQ(pDistPlot->szYLabel, "c(M)");
}

}  // namespace
}  // namespace tarmic::testing
