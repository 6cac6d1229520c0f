// The Parameters command: choice of the dialog variant, the transfer of the model
// state into the record and back, Cancel, reopening after failed checks, and the
// follow-up questions of particular models.
#include <gtest/gtest.h>

#include <algorithm>

#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit/params_dialog.h"
#include "modelfit/transfer_fields.h"
#include "modelfit_test_support.h"
#include "numerics/number_input.h"
#include "platform/system.h"
#include "resources/dialogs.h"
#include "scandata/fit_limits.h"

namespace tarmic {
namespace {

using testing::ModelFitTest;

TransferBuffer Answers(std::initializer_list<std::pair<const int, std::string>> texts,
                       std::initializer_list<std::pair<const int, bool>> checks = {}) {
  TransferBuffer b;
  b.text = texts;
  b.checked = checks;
  return b;
}

class ParamsDialogTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    DataSet().bDataChanged = false;  // the dialog's own marks are what the tests read
    InitParamsTransfer(record_);
  }

  // Chooses plain c(s) with a usable grid and solvent in the vector.
  void ChooseContinuousCs() {
    ResetModelFlags();
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 15.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 150.0f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
    AnalysisSwitches().pParams[kContiSlotDensity] = 1.0f;
    AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.25f;
    AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = 1;
    UnpackModelParams();
  }

  TransferBuffer record_;
};

// --- the variant ---

TEST_F(ParamsDialogTest, EveryChosenVariantExistsAsATemplate) {
  bool* flags[] = {&ModelFlags().bDiscreteModel, &ModelFlags().bMonomerDimer, &ModelFlags().bMonomerTrimer, &ModelFlags().bAssoc124, &ModelFlags().bAssoc148,
                   &ModelFlags().bNonidealSpecies, &ModelFlags().bNonIdealMultiple, &ModelFlags().bHeteroAssocModel, &ModelFlags().bContiSModel,
                   &ModelFlags().bLsgModel, &ModelFlags().bLsgOneDiscrete, &ModelFlags().bCsff0Model, &ModelFlags().bCsff0OneDiscrete, &ModelFlags().bCsOneDiscreteD,
                   &ModelFlags().bCsOneDiscreteM, &ModelFlags().bCsConformationalChange, &ModelFlags().bCsFloatingVbar, &ModelFlags().bCsWormChain,
                   &ModelFlags().bCsScalingLaw, &ModelFlags().bCsBimodalFf0, &ModelFlags().bCsBimodalFf0OneDiscrete, &ModelFlags().bCsInvariantD,
                   &ModelFlags().bCsMsTable, &ModelFlags().bCsModel521, &ModelFlags().bCsNonideal, &ModelFlags().bCMPriorVbar, &ModelFlags().bConstantDModel,
                   &ModelFlags().bFMScalingLaw, &ModelFlags().bCvConstantD, &ModelFlags().bElectroLsgModel, &ModelFlags().bZoneLsgModel, &ModelFlags().bDLSRhModel,
                   &ModelFlags().bDLSDModel, &ModelFlags().bDLSTimeCourseModel, &ModelFlags().bVanHoldeWeischet};
  const std::vector<int>& ids = ParamsDialogTemplateIds();
  for (bool* flag : flags) {
    for (bool mAndS : {false, true}) {
      ResetModelFlags();
      ModelFlags().bFitMAndS = mAndS;
      *flag = true;
      const int id = SelectParamsTemplate();
      EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
    }
  }
}

// --- filling the record ---

TEST_F(ParamsDialogTest, ValuesThatRoundToZeroAreWrittenWithoutSign) {
  EXPECT_EQ(FormatField("%.5f", -1e-7), "0.00000");
  EXPECT_EQ(FormatField("%.5f", -0.25), "-0.25000");
  EXPECT_EQ(FormatField("%.5f", 1e9), "1000000000.00000");
}

// --- the dialog on the screen ---

TEST_F(ParamsDialogTest, EveryEditFieldIsWideEnoughForTheValueWrittenIntoIt) {
  // Discrete species with D and s of two integer digits, then molar masses (written
  // without decimals), in the scripted backend's font: each filled field is at least
  // as wide as its text plus the field's frame and margins, and no control reaches
  // into the next one of its row.
  ResetModelFlags();
  ModelFlags().bDiscreteModel = true;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    AnalysisSwitches().pParams[k] = 26.6665f;      // D
    AnalysisSwitches().pParams[4 + k] = -10.02f;   // s
    AnalysisSwitches().pParams[8 + k] = 1.2345f;   // c
  }
  for (bool mass : {false, true}) {
    ModelFlags().bFitMAndS = mass;
    if (mass)
      for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pParams[k] = 1234567.0f;
    UnpackModelParams();
    backend_->QueueDialog(IDCANCEL);
    RunParametersDialog(nullptr, record_);
    TransferBuffer shown = record_;  // the texts the dialog opened with
    FillParamsTransfer(shown);
    const DialogTemplate& t = GetParamsDialogTemplate(SelectParamsTemplate());
    const DialogPixelLayout& layout = backend_->LastDialogLayout();
    ASSERT_EQ(layout.controls.size(), t.controls.size());
    TextRenderer& font = GetBackend().Text();
    int fields = 0;
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
      const DialogControl& c = t.controls[i];
      const Rect& r = layout.controls[i];
      if (c.kind == ControlKind::Edit && !shown.text[c.id].empty()) {
        ++fields;
        const int textWidth = font.Measure(Font{}, 13, shown.text[c.id]).width;
        EXPECT_GE(r.right - r.left, textWidth + 6) << c.id << " \"" << shown.text[c.id] << "\"";
      }
      // The next control of the same row starts right of this one.
      if (i + 1 < t.controls.size() && t.controls[i + 1].y / 14 == c.y / 14 && t.controls[i + 1].x > c.x)
        EXPECT_LE(r.right, layout.controls[i + 1].left) << c.id;
    }
    EXPECT_GE(fields, 12);
    for (const Rect& r : layout.controls) EXPECT_LE(r.right, layout.client.cx);
  }
}

// --- the round trip ---

TEST_F(ParamsDialogTest, OkWritesTheAnswersIntoTheContinuousModel) {
  ChooseContinuousCs();
  backend_->QueueDialog(IDOK, Answers({{406, "0.5"}, {407, "20"}, {405, "200"}, {413, "0.95"}, {420, "0.72"},
                                       {421, "1.01"}, {426, "0.0101"}, {419, "1.3"}},
                                      {{416, false}, {455, true}, {424, true}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_EQ(backend_->Transcript()[0].caption, "Continuous Sedimentation Coefficient Distribution c(s)");
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMin], 0.5f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], 20.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridCount], 200.0f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotConfidence], 0.95f);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio], 0);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitLogGrid], 1);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.72f);
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.01f);
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.3f);
  EXPECT_NEAR(SolventConstants().RELVISCOSITY, 0.0101f * 99.8004f, 1e-5f);
  EXPECT_TRUE(AnalysisSwitches().bFitRINoise);
  // Continuous models compute on the static grid.
  EXPECT_TRUE(LammSettings().bClaverie);
  EXPECT_FALSE(LammSettings().bMovingHat);
  EXPECT_FALSE(DataSet().bDataChanged);
}

TEST_F(ParamsDialogTest, CancelChangesNeitherModelNorVectorNorRecord) {
  ChooseContinuousCs();
  FillParamsTransfer(record_);
  SetFieldText(record_, 443, "kept");
  const TransferBuffer recordBefore = record_;
  float paramsBefore[nModelParams + 1];
  int flagsBefore[nModelParams + 1];
  std::copy(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams), paramsBefore);
  std::copy(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags), flagsBefore);
  const bool tiBefore = AnalysisSwitches().bFitTINoise;

  backend_->QueueDialog(IDCANCEL, Answers({{406, "3"}}, {{431, true}}));
  EXPECT_FALSE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(std::equal(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams), paramsBefore));
  EXPECT_TRUE(std::equal(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags), flagsBefore));
  EXPECT_EQ(AnalysisSwitches().bFitTINoise, tiBefore);
  EXPECT_EQ(record_.text, recordBefore.text);
  EXPECT_EQ(record_.checked, recordBefore.checked);
  EXPECT_FALSE(ModelOptions().bParamsDialogOpened);
  EXPECT_FALSE(DataSet().bDataChanged);

  // Cancel in the dialog reopened after a grid the memory cannot hold (64 MB, 4000
  // points need about 400 MB): the values before the first dialog come back, not
  // the refused 4000 grid points.
  SetAvailableMemoryOverride([] { return std::uint64_t{64} << 20; });
  backend_->QueueDialog(IDOK, Answers({{405, "4000"}}, {{431, !tiBefore}}));
  backend_->QueueMessageBox(IDOK, "Error");
  backend_->QueueDialog(IDCANCEL);
  EXPECT_FALSE(RunParametersDialog(nullptr, record_));
  SetAvailableMemoryOverride(nullptr);
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_TRUE(std::equal(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams), paramsBefore));
  EXPECT_TRUE(std::equal(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags), flagsBefore));
  EXPECT_EQ(AnalysisSwitches().bFitTINoise, tiBefore);
  EXPECT_EQ(record_.text, recordBefore.text);
}

TEST_F(ParamsDialogTest, HiddenFieldsKeepTheirTextAndPassTheChecks) {
  ChooseContinuousCs();
  backend_->QueueDialog(IDOK);
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  // 443 (the fixed time step) is not part of the c(s) variant.
  EXPECT_EQ(GetParamsDialogTemplate(320).Find(443), nullptr);
  EXPECT_EQ(FieldText(record_, 443), "1.00");
}

TEST_F(ParamsDialogTest, AnInvalidEntryShowsTheDialogAgainWithTheTypedText) {
  ChooseContinuousCs();
  backend_->QueueDialog(IDOK, Answers({{407, "abc"}}));
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, Answers({{407, "12"}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_EQ(DialogCount(), 2);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotGridMax], 12.0f);
}

TEST_F(ParamsDialogTest, ChangingTheMeniscusMarksTheDataChangedButAFitSwitchDoesNot) {
  ModelFlags().bDiscreteModel = true;
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  PackModelParams();
  backend_->QueueDialog(IDOK, Answers({}, {{404, false}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_FALSE(DataSet().bDataChanged);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[5], 0);

  backend_->QueueDialog(IDOK, Answers({{435, "6.0100"}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(DataSet().bDataChanged);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[13], 6.01f);
}

TEST_F(ParamsDialogTest, FloatingTheMeniscusTheFirstTimeAsksForItsRangeOnce) {
  ModelFlags().bDiscreteModel = true;
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  PackModelParams();
  backend_->QueueDialog(IDOK, Answers({}, {{434, true}}));
  backend_->QueueInput("0");
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(AnalysisSwitches().bVariationRangesAsked);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[13], 1);
  backend_->QueueDialog(IDOK);
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(backend_->AllAnswersUsed());
}

TEST_F(ParamsDialogTest, OnlyTheRangesOfFloatedValuesAreAsked) {
  // The meniscus floated alone: its two limits, under its own title; the bottom's
  // range stays the default around the bottom. Then the bottom alone.
  for (int box : {434, 436}) {
    ResetModelFlags();
    ModelFlags().bDiscreteModel = true;
    AnalysisSwitches().bVariationRangesAsked = false;
    DataSet().bFitRangesSet = false;
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
    DataSet().fFitLeftLim = 6.1f;
    DataSet().fFitRightLim = 7.0f;
    PackModelParams();
    backend_->ClearTranscript();
    backend_->QueueDialog(IDOK, Answers({}, {{434, box == 434}, {436, box == 436}}));
    backend_->QueueInput(box == 434 ? "6.03" : "7.3");
    backend_->QueueInput(box == 434 ? "5.97" : "7.1");
    EXPECT_TRUE(RunParametersDialog(nullptr, record_));
    std::vector<std::string> titles;
    for (const TranscriptEntry& e : backend_->Transcript())
      if (e.kind == "Input") titles.push_back(e.caption);
    const std::string title = box == 434 ? "SET RANGE FOR MENISCUS VARIATION" : "SET RANGE FOR BOTTOM VARIATION";
    EXPECT_EQ(titles, (std::vector<std::string>{title, title}));
    if (box == 434) {
      EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.03f);
      EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.97f);
      EXPECT_FLOAT_EQ(DataSet().fMaxBottom, 7.25f);
      EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.15f);
    } else {
      EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.1f);
      EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.98f);
    }
  }
}

// The ranges a load placed around a meniscus of 6.02 (the first radius) end at
// 6.00: the meniscus typed as 6.00 with its fit box ticked is proposed a range
// around it, not 6.00 as its lower limit.
TEST_F(ParamsDialogTest, TickingTheMeniscusFitProposesARangeAroundTheStart) {
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().bVariationRangesAsked = false;
  DataSet().fMeniscus = 6.02f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitLeftLim = 6.1f;
  DataSet().fFitRightLim = 7.0f;
  DataSet().bFitRangesSet = false;
  SetDefaultFitLimits();
  ASSERT_FLOAT_EQ(DataSet().fMinMeniscus, 6.0f);
  PackModelParams();
  backend_->QueueDialog(IDOK, Answers({{435, "6.00"}}, {{434, true}}));
  backend_->QueueInput(FormatInputValue(6.02f));
  backend_->QueueInput(FormatInputValue(5.98f));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  std::vector<std::string> proposed;
  for (const TranscriptEntry& e : backend_->Transcript())
    if (e.kind == "Input") proposed.push_back(e.initial);
  EXPECT_EQ(proposed, (std::vector<std::string>{FormatInputValue(6.02f), FormatInputValue(5.98f)}));
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.0f);
  EXPECT_LT(DataSet().fMinMeniscus, DataSet().fMeniscus);
  EXPECT_GT(DataSet().fMaxMeniscus, DataSet().fMeniscus);
}

TEST_F(ParamsDialogTest, LogGridFromZeroReopensTheDialogWithLogSpacingOff) {
  ChooseContinuousCs();
  backend_->QueueDialog(IDOK, Answers({{406, "0"}}, {{424, true}}));
  backend_->QueueMessageBox(IDOK, "");
  backend_->QueueDialog(IDCANCEL);
  EXPECT_FALSE(RunParametersDialog(nullptr, record_));
  EXPECT_EQ(DialogCount(), 2);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitLogGrid], 0);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ParamsDialogTest, EquilibriumDataSwitchTINoiseOff) {
  ModelFlags().bDiscreteModel = true;
  DataSet().bEquilibriumMode = true;
  backend_->QueueDialog(IDOK, Answers({}, {{431, true}}));
  backend_->QueueMessageBox(IDOK, "");
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_FALSE(AnalysisSwitches().bFitTINoise);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].second, "switching off TI noise - not implemented for sed eq data");
}

TEST_F(ParamsDialogTest, NoiseButtonsFollowTheNoiseSwitches) {
  ChooseContinuousCs();
  int created = 0;
  int deleted = 0;
  GetDataSetHooks().createNoiseButtons = [&](Window*) { ++created; };
  GetDataSetHooks().deleteNoiseButtons = [&](Window*) { ++deleted; };
  backend_->QueueDialog(IDOK, Answers({}, {{431, true}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  backend_->QueueDialog(IDOK, Answers({}, {{431, false}, {455, false}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_EQ(created, 1);
  EXPECT_EQ(deleted, 1);
}

TEST_F(ParamsDialogTest, LinearAmplitudeModeShowsTheAmplitudeBoxTicked) {
  ModelFlags().bDiscreteModel = true;
  backend_->QueueDialog(IDOK);
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  ASSERT_TRUE(ModelParams().bLinearAmplitudes);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[9], 0);  // solved linearly, not floated
  // The next run shows the box ticked, and leaving it so keeps the linear mode.
  backend_->QueueDialog(IDOK);
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(FieldChecked(record_, 402));
  EXPECT_TRUE(ModelParams().bLinearAmplitudes);
}

TEST_F(ParamsDialogTest, NonidealFirstSpeciesAsksForItsConstants) {
  ModelFlags().bDiscreteModel = true;
  backend_->QueueDialog(IDOK, Answers({}, {{kIdC1Nonideal, true}}));
  backend_->QueueInput("-1.5");
  backend_->QueueMessageBox(IDYES, "NONIDEAL COMPONENT 1");
  backend_->QueueInput("-2");
  backend_->QueueMessageBox(IDNO, "NONIDEAL COMPONENT 1");
  backend_->QueueInput("3.3");
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_TRUE(ModelOptions().bC1Nonideal);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[20], -1.5f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[21], -2.0f);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[20], 1);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[21], 0);
  EXPECT_DOUBLE_EQ(DataSet().dSignalPerConcentration, static_cast<double>(3.3f));
  EXPECT_TRUE(ModelOptions().bRepulsiveNonideality);
  EXPECT_FALSE(ModelParams().bLinearAmplitudes);
  // Switched off, ks and kd are read by nothing and no longer floated.
  backend_->QueueDialog(IDOK, Answers({}, {{kIdC1Nonideal, false}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[20], 0);
}

// Values that are no molar masses keep their decimals in the molar-mass
// parametrisation: the Stokes radius of the DLS model, extico a of A + B <-> AB.
TEST_F(ParamsDialogTest, OnlyMolarMassesAreShownInWholeGrams) {
  ModelFlags().bFitMAndS = true;
  ModelFlags().bDiscreteModel = true;
  ModelParams().pSpeciesMassOrD[1] = 50123.4f;
  ModelParams().pSpeciesMassOrD[4] = 0.8f;
  TransferBuffer shown;
  FillParamsTransfer(shown);
  EXPECT_EQ(shown.text[406], "50123");
  ModelFlags().bStokesRadii = true;
  ModelParams().pSpeciesMassOrD[1] = 3.4f;
  FillParamsTransfer(shown);
  EXPECT_EQ(shown.text[406], "3.40000");
  ModelFlags().bStokesRadii = ModelFlags().bDiscreteModel = false;
  ModelFlags().bHeteroAssocModel = true;
  FillParamsTransfer(shown);
  EXPECT_EQ(shown.text[427], "0.80000");
  ModelFlags().bHeteroAssocModel = ModelFlags().bFitMAndS = false;
}

TEST_F(ParamsDialogTest, MultipleNonidealSpeciesKeepTheBorrowedBoxesOwnStates) {
  ModelFlags().bNonIdealMultiple = true;
  const bool own401 = FieldChecked(record_, 401);
  backend_->QueueDialog(IDOK, Answers({{439, "6.5"}, {443, "0.2"}, {414, "-3"}}, {{401, !own401}, {411, true}}));
  backend_->QueueInput("1.1");
  backend_->QueueInput("0.9");
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[25], 6.5f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[27], 0.2f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[28], -3.0f);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[25], own401 ? 0 : 1);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[28], 1);
  EXPECT_FLOAT_EQ(ModelOptions().fNonidealExtinction[1], 1.1f);
  EXPECT_FLOAT_EQ(ModelOptions().fNonidealExtinction[2], 0.9f);
  EXPECT_EQ(FieldChecked(record_, 401), own401);
}

TEST_F(ParamsDialogTest, FailedScalingLawCalibrationShowsTheDialogAgain) {
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bCsScalingLaw = true;
  ChooseContinuousCs();
  ModelFlags().bContiSModel = false;
  ModelFlags().bCsScalingLaw = true;
  int calls = 0;
  GetModelFitHooks().calibrateCMPowerLaw = [&](Window*) {
    ++calls;
    return 0;
  };
  backend_->QueueDialog(IDOK, Answers({}, {{425, true}, {416, false}}));
  backend_->QueueMessageBox(IDOK, "Parameter Error");
  backend_->QueueDialog(IDOK, Answers({}, {{425, false}, {416, false}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(DialogCount(), 2);
  EXPECT_EQ(backend_->Transcript()[0].caption, "c(s) for ideal sedimentation with general scaling law s=Ks*M^bs");
}

TEST_F(ParamsDialogTest, SuccessfulCalibrationKeepsTheCalibratedConstants) {
  ChooseContinuousCs();
  ModelFlags().bContiSModel = false;
  ModelFlags().bCsScalingLaw = true;
  GetModelFitHooks().calibrateCMPowerLaw = [](Window*) {
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 0.02f;
    AnalysisSwitches().pParams[kContiSlotScalingExponent] = 0.6f;
    return 1;
  };
  backend_->QueueDialog(IDOK, Answers({}, {{425, true}}));
  EXPECT_TRUE(RunParametersDialog(nullptr, record_));
  EXPECT_FLOAT_EQ(SolventConstants().fScalingKs, 0.02f);
  EXPECT_FLOAT_EQ(SolventConstants().fScalingExponent, 0.6f);
  EXPECT_FALSE(ModelOptions().bCalibrateScalingLaw);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio], 0);
}

}  // namespace
}  // namespace tarmic
