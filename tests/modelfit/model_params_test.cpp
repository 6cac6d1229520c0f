// The parameter vector: start-up values, synchronisation with the model
// variables, the repairs made on the way, the switches of the linear fit, and the
// fit ranges of meniscus and bottom.
#include <gtest/gtest.h>

#include "modelfit/fit_limit_prompts.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit_test_support.h"
#include "numerics/number_input.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"

namespace tarmic {
namespace {

using testing::ModelFitTest;

class ModelParamsTest : public ModelFitTest {};

// --- start-up ---

// --- synchronisation ---

TEST_F(ModelParamsTest, PackAndUnpackCarryEverySpeciesSlotThrough) {
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    ModelParams().pSpeciesMassOrD[k] = 10.0f * k;
    ModelParams().pSpeciesS[k] = 1.5f * k;
    ModelParams().pSpeciesAmplitude[k] = 0.1f * k;
    ModelParams().pSpeciesExtra[k] = 7.0f + k;
    ModelParams().pSpeciesSFit[k] = k % 2;
  }
  DataSet().fMeniscus = 6.01f;
  DataSet().fBottom = 7.2f;
  ModelParams().bVaryBottom = true;
  PackModelParams();
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[3], 30.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[8], 6.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[12], 0.4f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[19], 11.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[13], 6.01f);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[14], 1);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[7], 1);

  for (int k = 1; k <= nSpeciesSlots; ++k) ModelParams().pSpeciesMassOrD[k] = ModelParams().pSpeciesS[k] = 0.0f;
  DataSet().fBottom = 0.0f;
  ModelParams().bVaryBottom = false;
  UnpackModelParams();
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesMassOrD[2], 20.0f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[4], 6.0f);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.2f);
  EXPECT_TRUE(ModelParams().bVaryBottom);
}

TEST_F(ModelParamsTest, CheckParametersClearsEveryFitSwitchMeniscusAndBottomIncluded) {
  ModelParams().bVaryMeniscus = ModelParams().bVaryBottom = true;
  ModelParams().pSpeciesExtraFit[2] = 1;
  PackModelParams();
  CheckParameters();
  for (int i = 1; i <= nModelParams; ++i) EXPECT_EQ(AnalysisSwitches().pParamFitFlags[i], 0) << i;
  EXPECT_FALSE(ModelParams().bVaryMeniscus);
  EXPECT_FALSE(ModelParams().bVaryBottom);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[1], 0);
}

TEST_F(ModelParamsTest, NegativeConcentrationOfExtraPairsBecomesZeroButSValuesKeepTheirSign) {
  AnalysisSwitches().pParams[27] = -0.3f;
  AnalysisSwitches().pParams[28] = -2.0f;
  AnalysisSwitches().pParams[31] = -1.0f;
  AnalysisSwitches().pParams[33] = -4.0f;
  UnpackModelParams();
  EXPECT_EQ(AnalysisSwitches().pParams[27], 0.0f);
  EXPECT_EQ(ModelOptions().pExtraPairValue[3], 0.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[31], 0.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[28], -2.0f);
  EXPECT_FLOAT_EQ(ModelOptions().pExtraPairValue[4], -2.0f);
  EXPECT_FLOAT_EQ(ModelOptions().pExtraPairValue[9], -4.0f);
}

TEST_F(ModelParamsTest, ExtraPairFitSwitchesAreNotTakenBackFromTheVector) {
  ModelOptions().pExtraPairFit[2] = 1;
  PackModelParams();
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[26], 1);
  AnalysisSwitches().pParamFitFlags[26] = 0;
  UnpackModelParams();
  EXPECT_EQ(ModelOptions().pExtraPairFit[2], 1);
}

TEST_F(ModelParamsTest, ElectrophoresisBottomIsMeniscusPlusLength) {
  ModelFlags().bDiscreteModel = true;
  LammGlobals().bElectrophoresis = true;
  DataSet().fMeniscus = 1.0f;
  ModelOptions().fElectroLength = 2.5f;
  PackModelParams();
  EXPECT_FLOAT_EQ(DataSet().fBottom, 3.5f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[14], 3.5f);
}

// --- models that derive values ---

TEST_F(ModelParamsTest, MonomerDimerDerivesTheFixedDimerDiffusionCoefficient) {
  ModelFlags().bMonomerDimer = true;
  ModelParams().pSpeciesMassOrD[1] = 6.0f;
  ModelParams().pSpeciesS[1] = 2.0f;
  ModelParams().pSpeciesS[2] = 3.0f;
  ModelParams().pSpeciesMassOrDFit[2] = 1;
  PackModelParams();
  // D2 = D1 (s2 / s1) / 2
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[2], 4.5f);
  EXPECT_FLOAT_EQ(ModelOptions().fD2, 4.5f);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[2], 0);
}

// --- continuous models ---

void SetContinuousSlots(float vbar, float density, float viscosity, float ff0) {
  AnalysisSwitches().pParams[kContiSlotVbar] = vbar;
  AnalysisSwitches().pParams[kContiSlotDensity] = density;
  AnalysisSwitches().pParams[kContiSlotViscosity] = viscosity;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = ff0;
}

TEST_F(ModelParamsTest, ContinuousModelTakesSolventAndFrictionalRatioFromTheVector) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  SetContinuousSlots(0.72f, 1.01f, 0.01002f, 1.3f);
  int applied = 0;
  GetModelFitHooks().applyContinuousSettings = [&] { ++applied; };
  UnpackModelParams();
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.72f);
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.01f);
  EXPECT_NEAR(SolventConstants().RELVISCOSITY, 1.0f, 1e-5f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.3f);
  EXPECT_FLOAT_EQ(SolventConstants().fVRho, 0.72f * 1.01f);
  EXPECT_EQ(applied, 1);
}

TEST_F(ModelParamsTest, FloatingVbarModelSwapsVbarAndFrictionalRatioSlots) {
  ModelFlags().bContiModel = ModelFlags().bCsFloatingVbar = true;
  SetContinuousSlots(1.4f, 1.0f, 0.01002f, 0.75f);
  UnpackModelParams();
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.4f);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.75f);
}

TEST_F(ModelParamsTest, ScalingLawTakesKsAndExponentAndNeverFloatsTheExponent) {
  ModelFlags().bContiModel = ModelFlags().bCsScalingLaw = true;
  SetContinuousSlots(0.73f, 1.0f, 0.01002f, 0.01f);
  AnalysisSwitches().pParams[kContiSlotScalingExponent] = 0.5f;
  AnalysisSwitches().pParamFitFlags[kContiSlotScalingExponent] = 1;
  UnpackModelParams();
  EXPECT_FLOAT_EQ(SolventConstants().fScalingKs, 0.01f);
  EXPECT_FLOAT_EQ(SolventConstants().fScalingExponent, 0.5f);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiSlotScalingExponent], 0);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.2f);
}

TEST_F(ModelParamsTest, InvariantDOfZeroIsReplacedAndTheWarningNamesTheValue) {
  ModelFlags().bContiModel = ModelFlags().bCsInvariantD = true;
  SetContinuousSlots(0.73f, 1.0f, 0.01002f, 0.0f);
  backend_->QueueMessageBox(IDOK, "Warning");
  UnpackModelParams();
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[11], 0.001f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[3], 0.001f);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("has been changed to 0.001!"), std::string::npos);
  // A D that is merely small passes silently.
  AnalysisSwitches().pParams[11] = 1e-6f;
  UnpackModelParams();
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ModelParamsTest, SolventGradientRestoresStandardDensityAndViscosity) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  GetModelFitHooks().inhomogeneousSolventOn = [] { return true; };
  SolventConstants().fBufferDensity = 0.99823f;
  SolventConstants().RELVISCOSITY = 1.0f;
  SetContinuousSlots(0.73f, 1.05f, 0.01002f, 1.2f);
  backend_->QueueMessageBox(IDOK, "Parameter Error");
  PackModelParams();
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotDensity], 0.99823f);
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 0.99823f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotViscosity], 0.01002f);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].second, "standard conditions cannot be changed - switch off solvent gradient");
  // The repaired entries pass the next synchronisation, and a change of the
  // viscosity below 1e-7 relative is accepted silently.
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f * (1.0f + 2e-8f);
  AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f * (1.0f + 2e-7f);
  UnpackModelParams();
  EXPECT_EQ(Boxes().size(), 1u);
  // Changes repaired one synchronisation after the other (a fit moving the values)
  // show the box once; after a passing check the next change shows it again.
  AnalysisSwitches().pParams[kContiSlotDensity] = 1.1f;
  backend_->QueueMessageBox(IDOK, "Parameter Error");
  UnpackModelParams();
  AnalysisSwitches().pParams[kContiSlotDensity] = 1.2f;
  UnpackModelParams();
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotDensity], 0.99823f);
  UnpackModelParams();
  AnalysisSwitches().pParams[kContiSlotDensity] = 1.3f;
  backend_->QueueMessageBox(IDOK, "Parameter Error");
  UnpackModelParams();
  EXPECT_EQ(Boxes().size(), 3u);
}

// --- linear fit switches ---

TEST_F(ModelParamsTest, AmplitudesAreSolvedLinearlyWhenEveryIncludedSpeciesFloatsIt) {
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().pSpeciesLinked[2] = 1;
  ModelParams().pSpeciesAmplitudeFit[1] = ModelParams().pSpeciesAmplitudeFit[2] = 1;
  UpdateLinearFitFlags();
  EXPECT_TRUE(ModelParams().bLinearAmplitudes);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[1], 0);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[2], 0);
}

TEST_F(ModelParamsTest, OneFixedAmplitudeOrTheNonidealOptionKeepsAmplitudesNonlinear) {
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().pSpeciesLinked[2] = 1;
  ModelParams().pSpeciesAmplitudeFit[1] = 1;
  ModelParams().pSpeciesAmplitudeFit[2] = 0;
  UpdateLinearFitFlags();
  EXPECT_FALSE(ModelParams().bLinearAmplitudes);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[1], 1);

  ModelParams().pSpeciesAmplitudeFit[2] = 1;
  ModelOptions().bC1Nonideal = true;
  UpdateLinearFitFlags();
  EXPECT_FALSE(ModelParams().bLinearAmplitudes);
}

TEST_F(ModelParamsTest, ExcludedSpeciesLoseTheirFitSwitches) {
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().pSpeciesLinked[3] = 0;
  ModelParams().pSpeciesSFit[3] = ModelParams().pSpeciesMassOrDFit[3] = 1;
  UpdateLinearFitFlags();
  EXPECT_EQ(ModelParams().pSpeciesSFit[3], 0);
  EXPECT_EQ(ModelParams().pSpeciesMassOrDFit[3], 0);
}

TEST_F(ModelParamsTest, TimeInvariantNoiseSolvesTheBaselineLinearly) {
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().bBaselineOption = 1;
  AnalysisSwitches().bFitTINoise = true;
  ModelOptions().pModelScalarFit[3] = 1;
  UpdateLinearFitFlags();
  EXPECT_TRUE(ModelParams().bVaryBaseline);
  EXPECT_EQ(AnalysisSwitches().bBaselineOption, 0);
  EXPECT_EQ(ModelOptions().pModelScalarFit[3], 0);
}

TEST_F(ModelParamsTest, ExperimentalInitialDistributionFixesTheFirstAmplitudeAndDropsTINoise) {
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().bInitialDataProfile = true;
  AnalysisSwitches().bBaselineOption = 1;
  AnalysisSwitches().bFitTINoise = true;
  UpdateLinearFitFlags();
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[1], 1.0f);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[1], 0);
  EXPECT_FALSE(AnalysisSwitches().bFitTINoise);
}

// --- fit ranges of meniscus and bottom ---

class FitLimitPromptTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
    DataSet().fFitLeftLim = 6.05f;
    DataSet().fFitRightLim = 7.0f;
  }
};

TEST_F(FitLimitPromptTest, ZeroForTheFirstLimitAsksNothingMoreAndRestoresAutomaticLimits) {
  DataSet().bFitRangesSet = true;
  DataSet().fMaxMeniscus = 6.5f;
  backend_->QueueInput("0");
  EXPECT_TRUE(RunFitLimitPrompts(nullptr));
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.02f);
  EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.15f);
  // The automatic ranges are shown now, and kept.
  EXPECT_TRUE(DataSet().bFitRangesSet);
}

TEST_F(FitLimitPromptTest, RangesPlacedByTheLoadAreKeptAndProposed) {
  // A load places the default ranges around meniscus 6.0 and bottom 7.2.
  DataSet().bFitRangesSet = false;
  SetDefaultFitLimits();
  EXPECT_TRUE(DataSet().bFitRangesSet);
  // The meniscus moves: the ranges shown stay where they are ...
  DataSet().fMeniscus = 6.01f;
  DataSet().fBottom = 7.19f;
  SetDefaultFitLimits();
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.98f);
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.02f);
  EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.15f);
  EXPECT_FLOAT_EQ(DataSet().fMaxBottom, 7.25f);
  // ... and the range questions propose them, not ranges around the moved values.
  backend_->QueueInput(std::nullopt);
  EXPECT_FALSE(RunFitLimitPrompts(nullptr));
  ASSERT_FALSE(backend_->Transcript().empty());
  EXPECT_EQ(backend_->Transcript()[0].initial, FormatInputValue(6.02f));

  // DLS data show no ranges: theirs follow the ends of the lag-time range.
  DataSet().bDLSData = true;
  DataSet().bFitRangesSet = false;
  SetDefaultFitLimits();
  EXPECT_FALSE(DataSet().bFitRangesSet);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.99f);
  DataSet().bDLSData = false;
}

// A range that does not hold the start value inside (a meniscus pick below the
// range moves its lower end onto the meniscus; a value typed outside it) is not
// proposed: the fit would start at, or be held to, an end of it. The proposal is
// then centred on the start value, narrowed where it would reach over a fitting
// limit. Each question is answered with its proposal; the proposals shown come back.
TEST_F(FitLimitPromptTest, ProposedRangesHoldTheStartValueInside) {
  auto answered = [&](const std::vector<float>& values) {
    backend_->ClearTranscript();
    for (float v : values) backend_->QueueInput(FormatInputValue(v));
    EXPECT_TRUE(RunFitLimitPrompts(nullptr));
    std::vector<std::string> shown, expected;
    for (const TranscriptEntry& e : backend_->Transcript()) shown.push_back(e.initial);
    for (float v : values) expected.push_back(FormatInputValue(v));
    EXPECT_EQ(shown, expected);
  };
  DataSet().bFitRangesSet = true;
  DataSet().fMinBottom = 7.15f;
  DataSet().fMaxBottom = 7.25f;
  // The meniscus 6.0 at the lower end of its range: 6.0 +- 0.02.
  DataSet().fMinMeniscus = 6.0f;
  DataSet().fMaxMeniscus = 6.009f;
  answered({6.02f, 5.98f, 7.25f, 7.15f});
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.98f);
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.02f);

  // Meniscus and bottom moved outside their ranges: ranges centred on them, the
  // meniscus's narrowed to end 0.001 cm left of the fitting limit 6.05.
  DataSet().fMeniscus = 6.04f;
  DataSet().fBottom = 7.32f;
  answered({6.049f, 6.031f, 7.37f, 7.27f});

  // Ranges that hold the values inside stay the proposals.
  DataSet().fMeniscus = 6.035f;
  DataSet().fBottom = 7.3f;
  answered({6.049f, 6.031f, 7.37f, 7.27f});
}

TEST_F(FitLimitPromptTest, FourAnswersBecomeTheUserLimits) {
  for (const char* v : {"6.03", "5.97", "7.3", "7.1"}) backend_->QueueInput(v);
  EXPECT_TRUE(RunFitLimitPrompts(nullptr));
  EXPECT_TRUE(DataSet().bFitRangesSet);
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.03f);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.97f);
  EXPECT_FLOAT_EQ(DataSet().fMaxBottom, 7.3f);
  EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.1f);
  const auto& t = backend_->Transcript();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].caption, "SET RANGE FOR MENISCUS VARIATION");
  EXPECT_EQ(t[3].caption, "SET RANGE FOR BOTTOM VARIATION");
}

TEST_F(FitLimitPromptTest, CancelHalfWayChangesNoLimit) {
  DataSet().fMaxMeniscus = 6.02f;
  DataSet().fMinMeniscus = 5.98f;
  backend_->QueueInput("6.1");
  backend_->QueueInput(std::nullopt);
  EXPECT_FALSE(RunFitLimitPrompts(nullptr));
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.02f);
  EXPECT_FALSE(DataSet().bFitRangesSet);
}

TEST_F(FitLimitPromptTest, ElectrophoresisAsksOnlyForTheMeniscus) {
  LammGlobals().bElectrophoresis = true;
  backend_->QueueInput("6.1");
  backend_->QueueInput("5.9");
  EXPECT_TRUE(RunFitLimitPrompts(nullptr));
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_EQ(backend_->Transcript().size(), 2u);
}

}  // namespace
}  // namespace tarmic
