// The model commands of the continuous distributions, the Parameters and Run
// commands and the numerical settings, through the window's response table.
#include "distribution_window_test_support.h"

#include "app/preferences.h"
#include "commands/model_commands.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "modelfit/lamm_settings.h"
#include "services/path_table.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using ModelCommandTest = DistributionWindowTest;

TEST_F(ModelCommandTest, ContinuousCsAfterCMTakesAnSRangeAndUnchecksCM) {
  Dispatch(kCmContinuousCM);
  AnalysisSwitches().pParams[kContiSlotGridCount] = 70.0f;
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  UnpackModelParams();
  Dispatch(kCmContinuousCs);
  EXPECT_TRUE(ModelFlags().bContiModel);
  EXPECT_TRUE(ModelFlags().bContiSModel);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmContinuousCM));
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], 0.0f);
  // Settings of a continuous model stay.
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridCount], 70.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotConfidence], 0.68f);
}

TEST_F(ModelCommandTest, CsVariantsKeepTheGridAndGiveSlot11TheirOwnMeaning) {
  Dispatch(kCmContinuousCs);
  AnalysisSwitches().pParams[kContiSlotGridMin] = 1.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 15.0f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.4f;
  UnpackModelParams();

  const float engineD = DistributionKernels().fInvariantD;
  Dispatch(kCmContinuousCsInvariantD);  // invariant D: slot 11 is D, the engine's
  EXPECT_TRUE(ModelFlags().bCsInvariantD);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], 1.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], 15.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], engineD);

  Dispatch(kCmContinuousCsScalingLaw);  // scaling law: slot 11 is Ks, slot 18 bs
  EXPECT_TRUE(ModelFlags().bCsScalingLaw);
  EXPECT_FALSE(ModelFlags().bCsInvariantD);

  Dispatch(kCmContinuousCs);  // back to f/f0, which the variants left alone
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], 1.4f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.4f);
}

TEST_F(ModelCommandTest, DiscreteFitSwitchesDoNotBecomeGridOptions) {
  // A discrete species 3 and 4 with floated second values: fit switches 3 and 4.
  AnalysisSwitches().pParamFitFlags[3] = AnalysisSwitches().pParamFitFlags[4] = 1;
  UnpackModelParams();
  Dispatch(kCmContinuousCs);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitGridFromFile], 0);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitLogGrid], 0);
}

// The floating-vbar c(s) keeps f/f0 in slot 3 and vbar in slot 11, the other
// models the other way round: a switch between them keeps both values what they
// are, from a discrete model and from c(s).
TEST_F(ModelCommandTest, FloatingVbarModelKeepsVbarAndFrictionalRatio) {
  Dispatch(kCmDiscreteSpecies);
  Dispatch(kCmContinuousCsFloatingVbar);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.73f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.2f);

  Dispatch(kCmContinuousCs);
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.4f;
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.71f;
  UnpackModelParams();
  Dispatch(kCmContinuousCsFloatingVbar);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.71f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.4f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotVbar], 1.4f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], 0.71f);
  Dispatch(kCmContinuousCs);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.71f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.4f);
}

// Floated values of discrete species do not become floated settings of a
// distribution (species 3's loading stands where c(s) keeps f/f0, species 2's s
// where the one-discrete c(s) keeps its discrete s).
TEST_F(ModelCommandTest, FloatedSpeciesValuesAreNotFloatedDistributionSettings) {
  Dispatch(kCmDiscreteSpecies);
  for (int k = 1; k <= 3; ++k) AnalysisSwitches().pSpeciesLinked[k] = 1;
  ModelParams().pSpeciesAmplitudeFit[3] = ModelParams().pSpeciesSFit[2] = ModelParams().pSpeciesAmplitudeFit[2] = 1;
  PackModelParams();
  Dispatch(kCmContinuousCs);
  for (int slot = 1; slot <= 12; ++slot) EXPECT_EQ(AnalysisSwitches().pParamFitFlags[slot], 0) << slot;
}

TEST_F(ModelCommandTest, ParametersByAcceleratorChangeTheContinuousModel) {
  Dispatch(kCmContinuousCs);
  TransferBuffer answers;
  answers.text[405] = "60";    // resolution
  answers.text[406] = "0.5";   // s min
  answers.text[407] = "14";    // s max
  answers.text[413] = "0.68";  // confidence level
  answers.text[419] = "1.35";  // f/f0
  Backend().QueueDialog(IDOK, answers);
  PressKeyAndRun('P', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridCount], 60.0f);
  EXPECT_FLOAT_EQ(DistributionGrid().fDistMin, 0.5f);
  EXPECT_FLOAT_EQ(DistributionGrid().fDistMax, 14.0f);
  EXPECT_FLOAT_EQ(DistributionModels().fConfidenceLevel, 0.68f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.35f);
}

TEST_F(ModelCommandTest, CancelledParametersChangeNothing) {
  Dispatch(kCmContinuousCs);
  const float before = AnalysisSwitches().pParams[kContiSlotGridMax];
  TransferBuffer answers;
  answers.text[407] = "3";
  Backend().QueueDialog(IDCANCEL, answers);
  Dispatch(kCmParameters);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], before);
  EXPECT_FLOAT_EQ(DistributionGrid().fDistMax, before);
}

TEST_F(ModelCommandTest, RunWithoutDataSaysLoadDataFirst) {
  Dispatch(kCmContinuousCs);
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
}

TEST_F(ModelCommandTest, RunWithoutMeniscusAndBottomAsksForThem) {
  LoadSyntheticRun();
  Dispatch(kCmContinuousCs);
  DataSet().fMeniscus = 0.0f;
  AnalysisSwitches().pParams[13] = 0.0f;
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
}

TEST_F(ModelCommandTest, RunOfAModelNotBuiltSaysSo) {
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  // A continuous model the distribution engine does not compute for equilibrium
  // data: the electrophoresis c(v) has no equilibrium profile.
  ModelFlags().bContiModel = ModelFlags().bCvConstantD = true;
  DataSet().bEquilibriumMode = true;
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmRun);
  EXPECT_NE(BoxTexts().back().find("cannot be computed for the loaded data"), std::string::npos);
}

// At a first start no model is chosen: every command that works on the model says
// so, as Run does, before it asks anything, with and without loaded data (the
// parameter file is not written, nothing is copied).
TEST_F(ModelCommandTest, CommandsOnTheModelSayChooseAModelFirst) {
  const int commands[] = {kCmParameters,       kCmFit,           kCmRun,
                          kCmCopyFitParameters, kCmUpdateSavedFitParameters,
                          kCmSaveFitData,      kCmGenerateSingle, kCmGenerateSeries};
  for (bool loaded : {false, true}) {
    if (loaded) LoadSyntheticRun();
    for (int id : commands) {
      if (id == kCmSaveFitData && !loaded) continue;  // says "load data first"
      SCOPED_TRACE(::testing::Message() << "command " << id << (loaded ? " with data" : " at start"));
      Backend().ClearTranscript();
      Backend().QueueMessageBox(IDOK, "ATTENTION");
      Dispatch(id);
      EXPECT_TRUE(Backend().AllAnswersUsed());
      EXPECT_EQ(BoxTexts(), std::vector<std::string>{"choose a model first (Model menu)"});
    }
  }
  EXPECT_FALSE(std::filesystem::exists(DataSet().szTmpParsPath));
  EXPECT_EQ(Backend().ClipboardTextValue(), "");
  // Ctrl+P, as the newcomer presses it.
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  PressKeyAndRun('P', MK_CONTROL);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"choose a model first (Model menu)"});
}

}  // namespace
}  // namespace tarmic::testing
