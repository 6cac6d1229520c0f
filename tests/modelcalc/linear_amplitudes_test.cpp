// The linear step of the model computation (amplitudes by non-negative least squares
// with TI/RI noise or a baseline), the total-and-fractions form of the amplitudes,
// and the equilibrium species signal.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "modelcalc/equilibrium_signal.h"
#include "modelcalc/linear_step_doors.h"
#include "platform/headless/headless_backend.h"
#include "tests/support/production_sources.h"
#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic {
namespace {

constexpr int kScans = 5;
constexpr int kRadii = 240;
constexpr double kMeniscus = 6.0;
constexpr double kBottom = 7.2;
constexpr int kSlotsUsed[] = {1, 2, 4};

using test::Idx;

// The step on the analysis' model, what it solved kept there (as the computation
// does); true when its non-negative solve succeeded.
bool RunStep() {
  const LinearStepResult result = RunLinearAmplitudeStep(CurrentLinearStepInput());
  KeepLinearStepResult(result);
  return result.ok;
}

// The analysis' amplitudes rewritten as total and fractions, and kept.
void TotalAndFractions() {
  const LinearStepInput in = CurrentLinearStepInput();
  LinearStepResult result;
  result.amplitude = in.amplitude;
  AmplitudesToTotalAndFractions(in, result);
  KeepLinearStepResult(result);
}

// Unit signal of species slot k in scan s: a boundary moving out with time,
// broadening and diluting, different per slot.
double UnitSignal(int k, int s, double r) {
  const double sed = 1.5 * k;
  const double t = 0.1 * s;
  const double rb = kMeniscus * std::exp(0.03 * sed * t);
  const double w = 0.01 + 0.05 * std::sqrt(t) / (1.0 + 0.2 * sed);
  return 0.5 * std::erfc((rb - r) / w) * std::exp(-0.06 * sed * t);
}
double TrueTI(double r) { return 0.05 * std::sin(8.0 * r); }
double TrueRI(int s) { return 0.01 * s - 0.02; }

class LinearStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    AllocScanTables(kScans);
    for (int s = 1; s <= kScans; ++s) {
      float* r = tarmic::vector(1, kRadii);
      float* y = tarmic::vector(1, kRadii);
      for (int i = 1; i <= kRadii; ++i) {
        r[i] = static_cast<float>(kMeniscus + (kBottom - kMeniscus) * (i - 1) / (kRadii - 1));
        y[i] = 0.0f;
      }
      DataSet().pScanInfo[Idx(s)].rpm = 3000.0f + 3000.0f * s;
      DataSet().pScanInfo[Idx(s)].temperature = 4.0f * s;
      InstallScanArrays(s, kRadii, r, y, nullptr, false);
    }
    DataSet().fMeniscus = static_cast<float>(kMeniscus);
    DataSet().fBottom = static_cast<float>(kBottom);
    AnalysisSwitches().pSpeciesLinked[1] = AnalysisSwitches().pSpeciesLinked[2] = AnalysisSwitches().pSpeciesLinked[4] = 1;
    AnalysisSwitches().pSpeciesLinked[3] = 0;
    ASSERT_TRUE(BuildCommonRadialGrid());
    ASSERT_EQ(CurrentGrid().nGridPoints, kRadii);
    SetFitRange(20, 220);
    ModelFlags().bDiscreteModel = true;
  }
  void TearDown() override { ResetAll(); }
  static void ResetAll() { test::ResetModelCalcState(); }

  static void SetFitRange(int first, int last) {
    CurrentGrid().iFitFirst = first;
    CurrentGrid().iFitLast = last;
    for (int s = 1; s <= kScans; ++s) {
      DataSet().pFitFirst[Idx(s)] = first;
      DataSet().pFitLast[Idx(s)] = last;
    }
  }
  // Tables of slots 1, 2, 4 hold the unit signals times the applied factors.
  static void FillTables(const std::vector<float>& applied) {
    for (int j = 0; j < 3; ++j) {
      const int k = kSlotsUsed[j];
      LinearAmplitudes().pAppliedAmplitude[k] = applied[Idx(j)];
      for (int s = 1; s <= kScans; ++s)
        for (int i = 1; i <= kRadii; ++i)
          CurrentGrid().pppSpeciesSignal[k][Idx(s)][i] = static_cast<float>(applied[Idx(j)] * UnitSignal(k, s, CurrentGrid().pGridRadius[i]));
    }
  }
  // Data = sum a_j S_k + optional TI, RI, constant and Gaussian noise.
  static void MakeData(const std::vector<double>& amp, bool ti, bool ri, double constant,
                       double sigma) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int s = 1; s <= kScans; ++s) {
      float* y = CurrentGrid().ppGridSignal[Idx(s)];
      for (int i = 1; i <= kRadii; ++i) {
        const double r = CurrentGrid().pGridRadius[i];
        double v = constant + (ti ? TrueTI(r) : 0.0) + (ri ? TrueRI(s) : 0.0) + sigma * noise(random);
        for (int j = 0; j < 3; ++j) v += amp[Idx(j)] * UnitSignal(kSlotsUsed[j], s, r);
        y[i] = static_cast<float>(v);
      }
    }
  }
  static void SetSwitches(bool ti, bool ri, bool vary, bool linear) {
    AnalysisSwitches().bFitTINoise = ti;
    AnalysisSwitches().bFitRINoise = ri;
    ModelParams().bVaryBaseline = vary;
    ModelParams().bLinearAmplitudes = linear;
  }
  static double MeanOverFit(const float* v) {
    double sum = 0.0;
    for (int i = CurrentGrid().iFitFirst; i <= CurrentGrid().iFitLast; ++i) sum += v[i];
    return sum / (CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1);
  }
  ScopedHeadlessBackend backend;
};

// TI and RI noise: exact recovery, TI of zero mean over the fit range, the data
// untouched, and invariance of the amplitudes to added per-scan constants and
// common profiles, which reappear in the RI offsets and the TI profile.
TEST_F(LinearStepTest, TIAndRINoiseRecoveredExactlyAndInvariant) {
  SetSwitches(true, true, true, true);
  FillTables({0.7f, 1.3f, 2.0f});
  const std::vector<double> amp = {0.2, 0.3, 0.5};
  MakeData(amp, true, true, 0.0, 0.0);
  std::vector<float> dataCopy(CurrentGrid().ppGridSignal[1] + 1, CurrentGrid().ppGridSignal[1] + kRadii + 1);
  ASSERT_EQ(ChooseLinearStepVariant(CurrentLinearStepInput()), LinearStepVariant::FitAmplitudesTIRINoise);
  ASSERT_TRUE(RunStep());

  for (int j = 1; j <= 3; ++j) EXPECT_NEAR(LinearAmplitudes().pLinearRhs[j], amp[Idx(j - 1)], 1e-4) << j;
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(LinearAmplitudes().pAppliedAmplitude[kSlotsUsed[j]], amp[Idx(j)], 1e-4);
  // Reported as total and fractions; the tables keep the absolute amplitudes.
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[2], 0.3, 1e-4);
  EXPECT_NEAR(CurrentGrid().pppSpeciesSignal[2][3][100], 0.3 * UnitSignal(2, 3, CurrentGrid().pGridRadius[100]), 1e-5);

  double tiMean = 0.0;
  for (int i = CurrentGrid().iFitFirst; i <= CurrentGrid().iFitLast; ++i) tiMean += TrueTI(CurrentGrid().pGridRadius[i]);
  tiMean /= CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
  EXPECT_NEAR(MeanOverFit(CurrentGrid().pTINoise), 0.0, 1e-6);
  for (int i = 1; i <= kRadii; ++i) ASSERT_NEAR(CurrentGrid().pTINoise[i], TrueTI(CurrentGrid().pGridRadius[i]) - tiMean, 1e-4) << i;
  for (int s = 1; s <= kScans; ++s) EXPECT_NEAR(CurrentGrid().pRINoise[s], TrueRI(s) + tiMean, 1e-4) << s;
  EXPECT_LT(test::ResidualRms(), 2e-5);
  EXPECT_EQ(ModelParams().fBaseline, 0.0f);
  for (int i = 1; i <= kRadii; ++i) ASSERT_EQ(CurrentGrid().ppGridSignal[1][i], dataCopy[Idx(i - 1)]);

  // Add a constant per scan and a profile common to all scans.
  const std::vector<float> oldTI(CurrentGrid().pTINoise + 1, CurrentGrid().pTINoise + kRadii + 1);
  const std::vector<float> oldRI(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + kScans + 1);
  auto profile = [](double r) { return 0.03 * r * r; };
  double profileMean = 0.0;
  for (int i = CurrentGrid().iFitFirst; i <= CurrentGrid().iFitLast; ++i) profileMean += profile(CurrentGrid().pGridRadius[i]);
  profileMean /= CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
  for (int s = 1; s <= kScans; ++s)
    for (int i = 1; i <= kRadii; ++i)
      CurrentGrid().ppGridSignal[Idx(s)][i] += static_cast<float>(0.1 * s + profile(CurrentGrid().pGridRadius[i]));
  ASSERT_TRUE(RunStep());
  for (int j = 1; j <= 3; ++j) EXPECT_NEAR(LinearAmplitudes().pLinearRhs[j], amp[Idx(j - 1)], 1e-4) << j;
  for (int i = 1; i <= kRadii; i += 7)
    EXPECT_NEAR(CurrentGrid().pTINoise[i] - oldTI[Idx(i - 1)], profile(CurrentGrid().pGridRadius[i]) - profileMean, 1e-4);
  for (int s = 1; s <= kScans; ++s)
    EXPECT_NEAR(CurrentGrid().pRINoise[s] - oldRI[Idx(s - 1)], 0.1 * s + profileMean, 1e-4);
  EXPECT_LT(test::ResidualRms(), 5e-5);
}

// Every amplitude-solving variant on data with its own systematic terms and noise:
// amplitudes within the noise, never negative (a species absent from the data
// solves to >= 0), residuals at the noise level, the noise terms recovered, and
// the fit-range totals current after the fit range changed.
TEST_F(LinearStepTest, AmplitudeVariantsRecoverAtNoiseLevel) {
  struct Case {
    const char* name;
    bool ti, ri, vary;
    LinearStepVariant variant;
    double constant;  // baseline in the data
  };
  const Case cases[] = {
      {"TI+RI", true, true, true, LinearStepVariant::FitAmplitudesTIRINoise, 0.0},
      {"TI", true, false, true, LinearStepVariant::FitAmplitudesTINoise, 0.0},
      {"RI", false, true, true, LinearStepVariant::FitAmplitudesRINoise, 0.0},
      {"baseline", false, false, true, LinearStepVariant::FitAmplitudesBaseline, 0.04},
      {"fixed baseline", false, false, false, LinearStepVariant::FitAmplitudesFixedBaseline, 0.04},
  };
  const double sigma = 0.002;
  const std::vector<double> amp = {0.4, 0.0, 0.3};  // slot 2 absent
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetFitRange(20, 220);
    SetSwitches(c.ti, c.ri, c.vary, true);
    FillTables({1.0f, 1.0f, 1.0f});
    MakeData(amp, c.ti, c.ri, c.constant, sigma);
    ModelParams().fBaseline = 0.04f;
    ASSERT_EQ(ChooseLinearStepVariant(CurrentLinearStepInput()), c.variant);
    ASSERT_TRUE(RunStep());
    // A second call after the fit range changed: totals of the new range.
    SetFitRange(30, 200);
    ASSERT_TRUE(RunStep());
    EXPECT_FLOAT_EQ(CurrentGrid().fGridPointTotal, kScans * 171.0f);
    double total = 0.0;
    for (int i = 30; i <= 200; ++i) total += CurrentGrid().pAverageScan[i];
    EXPECT_NEAR(CurrentGrid().fGridSignalTotal, kScans * total, 1e-3);

    for (int j = 1; j <= 3; ++j) {
      EXPECT_GE(LinearAmplitudes().pLinearRhs[j], 0.0f);
      EXPECT_NEAR(LinearAmplitudes().pLinearRhs[j], amp[Idx(j - 1)], 3e-3) << j;
    }
    const double rms = test::ResidualRms();
    EXPECT_GT(rms, 0.8 * sigma);
    EXPECT_LT(rms, 1.05 * sigma);
    if (c.ti && !c.ri) {  // TI alone absorbs the whole common profile
      for (int i = 1; i <= kRadii; i += 5) ASSERT_NEAR(CurrentGrid().pTINoise[i], TrueTI(CurrentGrid().pGridRadius[i]), 3e-3) << i;
    }
    if (!c.ti) {
      for (int i = 1; i <= kRadii; ++i) ASSERT_EQ(CurrentGrid().pTINoise[i], 0.0f);
    }
    if (c.ri && !c.ti) {
      for (int s = 1; s <= kScans; ++s) EXPECT_NEAR(CurrentGrid().pRINoise[s], TrueRI(s), 1e-3);
    }
    if (!c.ri) {
      for (int s = 1; s <= kScans; ++s) EXPECT_EQ(CurrentGrid().pRINoise[s], 0.0f);
    }
    if (c.vary && !c.ti && !c.ri) {
      EXPECT_NEAR(ModelParams().fBaseline, 0.04, 3e-3);
      EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[15], ModelParams().fBaseline);
    }
  }
}

// Skip values, cleared components, empty fit ranges and non-finite data.
TEST_F(LinearStepTest, DegenerateInputsGiveDefinedResults) {
  const std::vector<double> amp = {0.2, 0.3, 0.5};
  MakeData(amp, true, true, 0.0, 0.0);

  // The skip flag: 1.0 with TI and RI noise, 0 with TI noise alone.
  LinearAmplitudes().bSkipLinearFit = true;
  SetSwitches(true, true, true, true);
  FillTables({0.5f, 0.5f, 0.5f});
  ASSERT_TRUE(RunStep());
  for (int j = 1; j <= 3; ++j) EXPECT_EQ(LinearAmplitudes().pLinearRhs[j], 1.0f);
  EXPECT_NEAR(CurrentGrid().pppSpeciesSignal[1][2][50], UnitSignal(1, 2, CurrentGrid().pGridRadius[50]), 1e-6);
  SetSwitches(true, false, true, true);
  ASSERT_TRUE(RunStep());
  for (int j = 1; j <= 3; ++j) EXPECT_EQ(LinearAmplitudes().pLinearRhs[j], 0.0f);
  LinearAmplitudes().bSkipLinearFit = false;

  // A component applied with amplitude 0 is cleared and solves to 0; the others
  // take over what they can.
  SetSwitches(true, true, true, true);
  FillTables({1.0f, 0.0f, 1.0f});
  MakeData({0.2, 0.0, 0.5}, true, true, 0.0, 0.0);
  ASSERT_TRUE(RunStep());
  EXPECT_EQ(LinearAmplitudes().pLinearRhs[2], 0.0f);
  EXPECT_NEAR(LinearAmplitudes().pLinearRhs[1], 0.2, 1e-4);
  EXPECT_NEAR(LinearAmplitudes().pLinearRhs[3], 0.5, 1e-4);

  // An empty fit range: every variant runs and leaves finite values.
  SetFitRange(100, 99);
  const bool flags[][4] = {{1, 1, 1, 1}, {1, 0, 1, 1}, {0, 1, 1, 1}, {0, 0, 1, 1}, {0, 0, 0, 1},
                           {1, 1, 1, 0}, {1, 0, 1, 0}, {0, 1, 1, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}};
  for (const auto& f : flags) {
    SetSwitches(f[0], f[1], f[2], f[3]);
    FillTables({0.3f, 0.3f, 0.3f});
    RunStep();
    EXPECT_TRUE(std::isfinite(ModelParams().fBaseline));
    for (int j = 1; j <= 3; ++j) EXPECT_TRUE(std::isfinite(LinearAmplitudes().pLinearRhs[j]));
    for (int s = 1; s <= kScans; ++s) {
      EXPECT_TRUE(std::isfinite(CurrentGrid().pRINoise[s]));
      for (int i = 1; i <= kRadii; ++i) ASSERT_TRUE(std::isfinite(DataSet().ppFit[Idx(s)][i]) && std::isfinite(CurrentGrid().pTINoise[i]));
    }
  }

  // A data value that is not a number: the failure is reported and the amplitudes
  // are not made from it.
  SetFitRange(20, 220);
  SetSwitches(true, true, true, true);
  FillTables({1.0f, 1.0f, 1.0f});
  CurrentGrid().ppGridSignal[3][60] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(RunStep());
  for (int j = 1; j <= 3; ++j) EXPECT_EQ(LinearAmplitudes().pLinearRhs[j], 0.0f);
}

// RI noise takes the place of the baseline whether the baseline is floated or
// not. Without noise terms the fixed baseline is added to the fit and lingering
// noise profiles are cleared.
TEST_F(LinearStepTest, FixedBaselineAddsNoNoise) {
  SetSwitches(false, true, false, false);
  EXPECT_EQ(ChooseLinearStepVariant(CurrentLinearStepInput()), LinearStepVariant::CalculateRINoise);
  SetSwitches(false, true, false, true);
  EXPECT_EQ(ChooseLinearStepVariant(CurrentLinearStepInput()), LinearStepVariant::FitAmplitudesRINoise);
  SetSwitches(false, false, false, false);
  CurrentGrid().pTINoise[5] = 1.0f;
  CurrentGrid().pRINoise[2] = 1.0f;
  ModelParams().fBaseline = 0.25f;
  DataSet().ppFit[1][10] = 1.0f;
  EXPECT_TRUE(RunStep());
  EXPECT_FLOAT_EQ(DataSet().ppFit[1][10], 1.25f);
  EXPECT_FLOAT_EQ(DataSet().ppFit[2][10], 0.25f);
  EXPECT_EQ(CurrentGrid().pTINoise[5], 0.0f);
  EXPECT_EQ(CurrentGrid().pRINoise[2], 0.0f);
}

// The step is a function of its input: over every variant, an input that differs
// from the model the analysis holds (its switches, linked slots, amplitudes and
// baseline) gives the fit rows, noise and solved values that the same model gives
// through the doors when the analysis holds it, and leaves the analysis' model as
// it was.
TEST_F(LinearStepTest, TheStepIsAFunctionOfItsInputNotOfTheModelHeld) {
  const std::vector<double> amp = {0.25, 0.15, 0.4};
  MakeData(amp, true, true, 0.03, 0.001);
  const auto fitRows = [] {
    std::vector<float> rows;
    for (int s = 1; s <= kScans; ++s) rows.insert(rows.end(), DataSet().ppFit[Idx(s)] + 1, DataSet().ppFit[Idx(s)] + kRadii + 1);
    rows.insert(rows.end(), CurrentGrid().pTINoise + 1, CurrentGrid().pTINoise + kRadii + 1);
    rows.insert(rows.end(), CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + kScans + 1);
    return rows;
  };
  // Fit rows start as the computation leaves them for the variants that add to them.
  const auto resetFits = [] {
    for (int s = 1; s <= kScans; ++s)
      for (int i = 1; i <= kRadii; ++i) DataSet().ppFit[Idx(s)][i] = static_cast<float>(0.2 * UnitSignal(1, s, CurrentGrid().pGridRadius[i]));
  };
  for (int bits = 0; bits < 16; ++bits) {
    const bool ti = bits & 1, ri = bits & 2, vary = bits & 4, linear = bits & 8;
    SCOPED_TRACE(bits);
    // The model the step is given: slots 1, 2, 4 linked, a fixed baseline.
    SetSwitches(ti, ri, vary, linear);
    ModelParams().fBaseline = 0.03f;
    for (int k = 1; k <= 4; ++k) ModelParams().pSpeciesAmplitude[k] = AnalysisSwitches().pParams[8 + k] = 0.1f * k;
    const LinearStepInput given = CurrentLinearStepInput();
    // Through the doors, with the analysis holding that model.
    FillTables({0.5f, 0.5f, 0.5f});
    resetFits();
    ASSERT_TRUE(RunStep());
    const std::vector<float> doorRows = fitRows();
    std::vector<float> doorModel(AnalysisSwitches().pParams + 9, AnalysisSwitches().pParams + 16);
    doorModel.push_back(ModelParams().fBaseline);

    // A misleading model in the analysis: the other switches, slot 2 unlinked and
    // slot 3 linked, other amplitudes and baseline.
    SetSwitches(!ti, !ri, !vary, !linear);
    AnalysisSwitches().pSpeciesLinked[2] = 0;
    AnalysisSwitches().pSpeciesLinked[3] = 1;
    ModelParams().fBaseline = -0.5f;
    for (int k = 1; k <= 4; ++k) ModelParams().pSpeciesAmplitude[k] = AnalysisSwitches().pParams[8 + k] = 9.0f;
    AnalysisSwitches().pParams[15] = -0.5f;
    const std::vector<float> heldParams(AnalysisSwitches().pParams, AnalysisSwitches().pParams + 16);
    FillTables({0.5f, 0.5f, 0.5f});
    resetFits();
    const LinearStepResult result = RunLinearAmplitudeStep(given);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(fitRows(), doorRows);
    EXPECT_EQ(std::vector<float>(AnalysisSwitches().pParams, AnalysisSwitches().pParams + 16), heldParams);
    EXPECT_EQ(ModelParams().fBaseline, -0.5f);
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(ModelParams().pSpeciesAmplitude[k], 9.0f);
    // What it returns is what the doors kept.
    for (int k = 1; k <= 4; ++k)
      EXPECT_EQ(result.written[Idx(k)] ? result.amplitude[Idx(k)] : given.amplitude[Idx(k)], doorModel[Idx(k - 1)]) << k;
    EXPECT_EQ(result.baselineWritten ? result.baseline : given.baseline, doorModel[7]);
    // Put the linked slots back for the next model.
    AnalysisSwitches().pSpeciesLinked[2] = 1;
    AnalysisSwitches().pSpeciesLinked[3] = 0;
  }
}

// The step's unit reaches none of the model's variables: its include closure holds
// no part of the model, its switches or the buffer model, so a read of one there
// cannot compile without a header this census sees.
TEST(LinearStepCensus, TheStepReachesNoModelVariable) {
  const testing::IncludeClosure closure = testing::IncludeClosureOf("modelcalc/linear_amplitudes.cpp");
  ASSERT_TRUE(closure.complete);
  EXPECT_TRUE(closure.parts.count("LinearAmplitudesState"));  // the walk sees the parts
  for (const char* part : {"ModelParamsState", "AnalysisSwitchesState", "ModelFlagsState", "ModelOptionsState",
                           "BufferSedimentationState"})
    EXPECT_FALSE(closure.parts.count(part)) << "the linear step reaches " << part;
  // The computation takes the step's values, never the doors to the analysis.
  for (const char* unit : {"modelcalc/model_computation.cpp", "modelcalc/species_model_cl.cpp", "modelcalc/model_steps.cpp"}) {
    const testing::IncludeClosure computation = testing::IncludeClosureOf(unit);
    ASSERT_TRUE(computation.complete) << unit;
    EXPECT_TRUE(computation.files.count("modelcalc/linear_amplitudes.h")) << unit;
    EXPECT_FALSE(computation.files.count("modelcalc/linear_step_doors.h")) << unit;
  }
}

TEST_F(LinearStepTest, AmplitudesToTotalAndFractions) {
  auto set = [](std::vector<float> a) {
    for (int k = 1; k <= 4; ++k) ModelParams().pSpeciesAmplitude[k] = AnalysisSwitches().pParams[8 + k] = a[Idx(k - 1)];
  };
  // Slots 1, 2, 4 included (slot 3 is not).
  set({0.2f, 0.3f, 7.0f, 0.5f});
  TotalAndFractions();
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[1], 1.0f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[2], 0.3f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[3], 7.0f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[4], 0.5f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[12], 0.5f);
  // All zero.
  set({0.0f, 0.0f, 0.0f, 0.0f});
  TotalAndFractions();
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(ModelParams().pSpeciesAmplitude[k], 0.0f);
  // The buffer slot keeps its absolute amplitude and stays out of the total.
  ModelFlags().bBufferSedCorrection = ModelParams().bLinearAmplitudes = true;
  set({0.2f, 0.6f, 0.0f, 0.05f});
  TotalAndFractions();
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[1], 0.8f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[2], 0.75f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[4], 0.05f);
  EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.signal, 0.05f);  // what "subtract buffer mismatch" takes
  ModelFlags().bBufferSedCorrection = ModelParams().bLinearAmplitudes = false;
}

// The equilibrium profile against c ~ exp(sigma r^2), sigma = Mb w^2 / (2RT), with
// the gas constant taken independently; its sector mean equals the loading; the
// destinations; the magnification gradient.
TEST_F(LinearStepTest, EquilibriumSignalMatchesExponentialWithSectorMeanLoading) {
  const double mb = 15000.0 * (1.0 - 0.73);
  const double loading = 0.8;
  const DetectionCorrections none;
  SimRun().iCurrentSpecies = 1;
  ModelParams().bLinearAmplitudes = true;
  CalculateSedEqSpeciesSignal(mb, loading, none, DataSet().fMeniscus, DataSet().fBottom);
  for (int s = 1; s <= kScans; ++s) {
    const float* c = CurrentGrid().pppSpeciesSignal[1][Idx(s)];
    const double w = DataSet().pScanInfo[Idx(s)].rpm * M_PI / 30.0;
    const double sigma = mb * w * w / (2.0 * 8.314462618e7 * (DataSet().pScanInfo[Idx(s)].temperature + 273.15));
    const double r0 = CurrentGrid().pGridRadius[1];
    double num = 0.0, den = 0.0;
    for (int i = 1; i <= kRadii; ++i) {
      const double r = CurrentGrid().pGridRadius[i];
      ASSERT_NEAR(c[i] / c[1], std::exp(sigma * (r * r - r0 * r0)), 2e-4 * c[i] / c[1]) << s << " " << i;
      if (i > 1) {
        const double rl = CurrentGrid().pGridRadius[i - 1];
        num += 0.5 * (c[i] * r + c[i - 1] * rl) * (r - rl);
        den += 0.5 * (r + rl) * (r - rl);
      }
    }
    EXPECT_NEAR(num / den, loading, 2e-4 * loading) << s;
  }

  // Buoyant mass 0: flat at the loading. A very steep profile stays finite, with
  // the bottom value of the closed form, loading x / (1 - exp(-x)).
  CalculateSedEqSpeciesSignal(0.0, loading, none, DataSet().fMeniscus, DataSet().fBottom);
  for (int i = 1; i <= kRadii; ++i) ASSERT_FLOAT_EQ(CurrentGrid().pppSpeciesSignal[1][2][i], loading);
  std::vector<float> steep(kRadii + 1);
  const float rpm = 60000.0f;
  SedEqSpeciesRow(kRadii, CurrentGrid().pGridRadius, steep.data(), 5e6, loading, rpm, 20.0f, DataSet().fMeniscus, DataSet().fBottom, none);
  const double x = 5e6 * std::pow(rpm * 3.1415927 / 30.0, 2) / (166290200.0 * 293.15) *
                   (double(DataSet().fBottom) * DataSet().fBottom - double(DataSet().fMeniscus) * DataSet().fMeniscus);
  EXPECT_NEAR(steep[kRadii], loading * x / -std::expm1(-x), 1e-4 * loading * x);
  for (int i = 1; i <= kRadii; ++i) ASSERT_TRUE(std::isfinite(steep[Idx(i)]) && steep[Idx(i)] >= 0.0f);

  // RI noise with fixed amplitudes needs the table as well.
  ModelParams().bLinearAmplitudes = false;
  AnalysisSwitches().bFitRINoise = true;
  CalculateSedEqSpeciesSignal(0.0, 0.3, none, DataSet().fMeniscus, DataSet().fBottom);
  EXPECT_FLOAT_EQ(CurrentGrid().pppSpeciesSignal[1][1][7], 0.3f);
  // Without linear amplitudes and noise: added to the fit rows of the scan radii.
  AnalysisSwitches().bFitRINoise = false;
  for (int s = 1; s <= kScans; ++s) DataSet().ppFit[Idx(s)][10] = 0.1f;
  CalculateSedEqSpeciesSignal(0.0, 0.3, none, DataSet().fMeniscus, DataSet().fBottom);
  EXPECT_FLOAT_EQ(DataSet().ppFit[2][10], 0.4f);
  EXPECT_FLOAT_EQ(DataSet().ppFit[2][11], 0.3f);

  // Magnification gradient "1+da/dr" = 1.5: factor 1 + 0.5 (r - meniscus).
  DetectionCorrections gradient;
  gradient.magnificationGradient = true;
  gradient.magnificationGradientValue = 1.5f;
  std::vector<float> plain(kRadii + 1), graded(kRadii + 1);
  SedEqSpeciesRow(kRadii, CurrentGrid().pGridRadius, plain.data(), mb, loading, 20000.0f, 20.0f, DataSet().fMeniscus, DataSet().fBottom, none);
  SedEqSpeciesRow(kRadii, CurrentGrid().pGridRadius, graded.data(), mb, loading, 20000.0f, 20.0f, DataSet().fMeniscus, DataSet().fBottom, gradient);
  for (int i = 1; i <= kRadii; i += 11)
    EXPECT_NEAR(graded[Idx(i)], plain[Idx(i)] * (1.0 + 0.5 * (CurrentGrid().pGridRadius[i] - kMeniscus)), 1e-5);
}

}  // namespace
}  // namespace tarmic
