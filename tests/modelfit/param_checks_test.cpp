// The entry checks of the parameter dialog and the grid checks of the continuous
// models.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "modelfit/params_dialog.h"
#include "modelfit/transfer_fields.h"
#include "modelfit_test_support.h"
#include "platform/system.h"
#include "resources/dialogs.h"
#include "scandata/data_set.h"

namespace tarmic {
namespace {

using testing::ModelFitTest;

class ParamChecksTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    ModelFlags().bDiscreteModel = true;
    InitParamsTransfer(record_);
    FillParamsTransfer(record_);
  }
  // Expects the entry check to fail with one box of this caption and text.
  void ExpectRefused(const std::string& caption, const std::string& text) {
    backend_->QueueMessageBox(IDOK, caption);
    EXPECT_FALSE(ParamsBoxCanClose(record_));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].second, text);
  }

  // A grid and solvent that pass, in the vector and the record: 1-10 S on 50
  // points at P 0.68, vbar 0.73, density 1.0, viscosity 0.01002 P, f/f0 1.2, cell
  // 6.0-7.2 cm.
  void UseUsableDistribution() {
    AnalysisSwitches().pParams[kContiSlotGridMin] = 1.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 10.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 50.0f;
    AnalysisSwitches().pParams[kContiSlotDensity] = 1.0f;
    AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
    AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.2f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus = 6.0f;  // meniscus and bottom, cm
    AnalysisSwitches().pParams[14] = DataSet().fBottom = 7.2f;
    UnpackModelParams();
    InitParamsTransfer(record_);
    FillParamsTransfer(record_);
  }

  TransferBuffer record_;
};

TEST_F(ParamChecksTest, FilledRecordPassesEvenWhereTheVariantHidesFields) {
  EXPECT_TRUE(ParamsBoxCanClose(record_));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ParamChecksTest, AnEmptyFieldKeepsTheDialogOpen) {
  SetFieldText(record_, 407, "");
  ExpectRefused("Input Error", "the \"s\" of Component 1 is empty: it must lie between -1e+08 and 1e+08 S");
}

TEST_F(ParamChecksTest, ZeroWrittenWithALeadingZeroPassesBothTests) {
  SetFieldText(record_, 406, "0");
  SetFieldText(record_, 413, "0.000");
  EXPECT_TRUE(ParamsBoxCanClose(record_));
}

// A field takes the zeros the files take ("-0", "+0", ".0", "-0.000000"); letters,
// a zero byte inside and values a float holds as 0 are no number, named with the
// field and its range.
TEST_F(ParamChecksTest, SignedZerosAreNumbersAndLettersAreNone) {
  for (const char* zero : {"-0", "+0", ".0", "-0.000000"}) {
    SetFieldText(record_, 406, zero);
    EXPECT_TRUE(ParamsBoxCanClose(record_)) << zero;
  }
  const struct {
    std::string text, shown;
  } none[] = {{"abc", "abc"}, {std::string("1\0 5", 4), "1  5"}, {"1e-46", "1e-46"}};
  for (const auto& n : none) {
    backend_->ClearTranscript();
    SetFieldText(record_, 406, n.text);
    ExpectRefused("Input Error",
                  "the \"D\" of Component 1 \"" + n.shown + "\" is no number: it must lie between 0 and 10000");
  }
}

TEST_F(ParamChecksTest, ANegativeNumberPassesTheSignedFieldsButNotThePositiveOnes) {
  SetFieldText(record_, 433, "-1");
  EXPECT_TRUE(ParamsBoxCanClose(record_));
  SetFieldText(record_, 413, "-1");
  ExpectRefused("Input Error", "the \"D\" of Component 2 -1 must be a number of at least 0");
}

TEST_F(ParamChecksTest, BufferTextInSpeciesFourPassesWhileTheBufferModelIsOn) {
  for (int id : {426, 427, 428}) SetFieldText(record_, id, "buffer");
  ModelFlags().bBufferSedCorrection = true;
  EXPECT_TRUE(ParamsBoxCanClose(record_));
  ModelFlags().bBufferSedCorrection = false;
  ExpectRefused("Input Error", "the \"fraction\" of Comp. 4/Buffer \"buffer\" is no number: it must be a number of at least 0");
}

TEST_F(ParamChecksTest, DlsDataRefuseFloatingRadiusAndSOfOneSpecies) {
  DataSet().bDLSData = true;
  SetFieldChecked(record_, 403, false);
  SetFieldChecked(record_, 417, true);  // species 3 floats its radius ...
  SetFieldChecked(record_, 418, true);  // ... and its s
  ExpectRefused("Parameter Error", "linear dependent floating parameters for modeling DLS data");
}

TEST_F(ParamChecksTest, InvariantDMustBePositive) {
  ModelFlags().bDiscreteModel = false;
  ModelFlags().bContiModel = ModelFlags().bCsInvariantD = true;
  UseUsableDistribution();
  SetFieldText(record_, 419, "0.0");
  ExpectRefused("Input Error", "the \"D (1e-7 cm^2/s)\" 0 must lie between 1e-06 and 10000");
}

// Settings of a continuous model that no computation can use are refused at OK
// with a sentence naming the value and its range; the neighbouring good values pass.
TEST_F(ParamChecksTest, ImpossibleContinuousSettingsKeepTheDialogOpen) {
  ModelFlags().bDiscreteModel = false;
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  UseUsableDistribution();
  ASSERT_TRUE(ParamsBoxCanClose(record_));
  const TransferBuffer good = record_;
  // A value out of its range is refused naming the field ("Input Error"), two
  // values out of order naming both ("Parameter Error").
  constexpr const char* kField = "Input Error";
  constexpr const char* kOrder = "Parameter Error";
  struct Case {
    int id;
    const char* bad;
    const char* fine;  // the nearest value that passes
    const char* caption;
    const char* text;
  } cases[] = {
      {406, "11", "9.9", kOrder, "the lower grid limit 11 must not be above the upper limit 10"},
      {405, "0.5", "1", kField, "the \"resolution\" 0 grid points must lie between 1 and 100000 grid points"},
      {421, "0", "0.01", kField, "the \"buffer density\" 0 g/ml must lie between 0.01 and 5 g/ml"},
      {426, "0", "0.00001", kField, "the \"buffer viscosity (P)\" 0 P must lie between 1e-05 and 1000 P"},
      {435, "7.2", "7.19", kOrder, "the meniscus 7.2 cm must lie below the bottom 7.2 cm"},
      // Values a computation would take without a word, far from any particle or rotor.
      {419, "0", "0.1", kField, "the \"frictional ratio\" 0 must lie between 0.1 and 50"},
      {419, "1e30", "50", kField, "the \"frictional ratio\" 1e+30 must lie between 0.1 and 50"},
      {420, "-0.5", "0.01", kField, "the \"partial specific volume\" -0.5 ml/g must lie between 0.01 and 3 ml/g"},
      {437, "100", "20", kField, "the \"bottom\" 100 cm must lie between 0 and 20 cm"},
      {437, "5000", "7.3", kField, "the \"bottom\" 5000 cm must lie between 0 and 20 cm"},
      {435, "1e-30", "1", kField, "the \"meniscus\" 1e-30 cm must lie between 1 and 20 cm (0: not set)"},
      {413, "2", "1.5", kField, "the \"confidence level (F-ratio)\" 2 must lie between 0 and 1.5"},
      {406, "9.9999", "9.99", kOrder, "the grid from 9.9999 to 10 is too narrow: its upper limit must exceed the "
                                      "lower limit by at least 0.001"},
      // Dense solutions, organic solvents and the cold: the ends of the ranges pass.
      {421, "5.01", "5", kField, "the \"buffer density\" 5.01 g/ml must lie between 0.01 and 5 g/ml"},
      {426, "1000.5", "1000", kField, "the \"buffer viscosity (P)\" 1000.5 P must lie between 1e-05 and 1000 P"},
      {433, "1e30", "-1e6", kField, "the \"baseline\" 1e+30 must lie between -1e+06 and 1e+06"},
      {407, "1e30", "9e15", kField, "the \"s max\" 1e+30 must lie between -1e+16 and 1e+16"},
      {405, "1e30", "100000", kField, "the \"resolution\" 1e+30 grid points must lie between 1 and 100000 grid points"},
  };
  for (const Case& c : cases) {
    backend_->ClearTranscript();
    record_ = good;
    SetFieldText(record_, c.id, c.bad);
    SCOPED_TRACE(c.text);
    ExpectRefused(c.caption, c.text);
    SetFieldText(record_, c.id, c.fine);
    EXPECT_TRUE(ParamsBoxCanClose(record_)) << c.id << " " << c.fine;
  }
}

// --- grid checks ---

class GridChecksTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 15.0f;
    AnalysisSwitches().pParamFitFlags[kContiFitLogGrid] = 1;
  }
};

TEST_F(GridChecksTest, LogGridFromZeroIsSwitchedOffWithOneMessage) {
  backend_->QueueMessageBox(IDOK, "");
  EXPECT_FALSE(CheckGridSettings());
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitLogGrid], 0);
  EXPECT_EQ(ModelParams().pSpeciesMassOrDFit[kContiFitLogGrid], 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].second, "smin = 0 is incompatible with log spacing of grid\n - switching off - please cconfirm");
}

TEST_F(GridChecksTest, LogGridWithNegativeLimitIsSwitchedOff) {
  AnalysisSwitches().pParams[kContiSlotGridMin] = -1.0f;
  backend_->QueueMessageBox(IDOK, "");
  EXPECT_FALSE(CheckGridSettings());
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitLogGrid], 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("smin < 0 and smax < 0"), std::string::npos);
}

TEST_F(GridChecksTest, PositiveLogGridPasses) {
  AnalysisSwitches().pParams[kContiSlotGridMin] = 0.5f;
  EXPECT_TRUE(CheckGridSettings());
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiFitLogGrid], 1);
}

// The f/f0 grid of c(s,ff0) is judged at OK: two or more values rising from f/f0
// min to f/f0 max.
TEST_F(ParamChecksTest, SizeAndShapeGridNeedsTwoRisingFrictionalRatios) {
  ModelFlags().bDiscreteModel = false;
  ModelFlags().bContiModel = ModelFlags().bCsff0Model = true;
  UseUsableDistribution();
  SetFieldText(record_, 412, "2");  // f/f0 min
  SetFieldText(record_, 414, "2");  // f/f0 max
  SetFieldText(record_, 428, "1.9");  // count, rounded down
  ExpectRefused("Input Error", "the \"f/f0 resolution\" 1 values must lie between 2 and 1000 values");
  backend_->ClearTranscript();
  SetFieldText(record_, 428, "10");
  ExpectRefused("Parameter Error", "the f/f0 max 2 must lie above the f/f0 min 2");
  SetFieldText(record_, 414, "3");
  EXPECT_TRUE(ParamsBoxCanClose(record_));
}

// The grid is bounded by what its kernels and normal equations need against the
// memory available: refused with both figures, before anything is allocated.
TEST_F(GridChecksTest, GridBeyondTheMemoryOfTheMachineIsRefusedWithItsSize) {
  // The text of the one box of a refused check; empty when the grid passes.
  backend_->AnswerUnscriptedBoxes(IDOK);
  auto refusal = [&]() -> std::string {
    backend_->ClearTranscript();
    const bool passed = CheckGridSettings();
    if (passed) return "";
    EXPECT_EQ(Boxes().size(), 1u);
    return Boxes().empty() ? "refused without a box" : Boxes()[0].second;
  };
  AnalysisSwitches().pParamFitFlags[kContiFitLogGrid] = 0;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 1e9f;
  EXPECT_EQ(refusal().rfind("a grid of 1000000000 points needs ", 0), 0u);

  // 64 MB: the (3N+10)(N+1) doubles of the workspace alone grow as N^2; 1000 points
  // take about 24 MB, 4000 points about 384 MB.
  SetAvailableMemoryOverride([] { return std::uint64_t{64} << 20; });
  AnalysisSwitches().pParams[kContiSlotGridCount] = 1000.0f;
  EXPECT_EQ(refusal(), "");
  AnalysisSwitches().pParams[kContiSlotGridCount] = 4000.0f;
  EXPECT_NE(refusal().find("64 MB are available"), std::string::npos);
  // The c(s,ff0) cells count: 100 s values times 40 f/f0 values are 4000 unknowns.
  ModelFlags().bContiSModel = false;
  ModelFlags().bCsff0Model = true;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 100.0f;
  AnalysisSwitches().pParams[kContiSlotShape1] = 1.0f;
  AnalysisSwitches().pParams[kContiSlotShape2] = 3.0f;
  AnalysisSwitches().pParams[kContiSlotShape3] = 40.0f;
  EXPECT_EQ(refusal().rfind("a grid of 4000 points needs ", 0), 0u);
  AnalysisSwitches().pParams[kContiSlotShape3] = 10.0f;
  EXPECT_EQ(refusal(), "");
  SetAvailableMemoryOverride(nullptr);
}


// --- the sweep of every number field ---

// Every number field of a variant, typed with a text that is no number, is
// refused with one box that names the field by its label and gives its range; the
// values the dialog opens with pass OK unchanged. Run for a variant of each model
// family, through the dialog as the user meets it.
// The cells of the zone and electrophoresis models: a band of -1 cm (a fit of
// zeros) or 1e30 cm, a channel that starts at -1 cm or 1e30 cm, and a channel of
// length -1, 0 (its bottom on its meniscus) or 1e30 cm are refused at OK, naming
// the field and its range; the Run refuses the same values however they came in.
TEST_F(ParamChecksTest, ZoneBandAndElectrophoresisChannelLieWithinTheirRanges) {
  const auto refusal = [this](int id, const char* typed) {
    TransferBuffer typedRecord = record_;
    SetFieldText(typedRecord, id, typed);
    backend_->ClearTranscript();
    backend_->AnswerUnscriptedBoxes(IDOK);
    const bool closes = ParamsBoxCanClose(typedRecord);
    const std::vector<std::pair<std::string, std::string>> boxes = Boxes();
    return closes ? std::string() : (boxes.empty() ? std::string("(no box)") : boxes[0].second);
  };
  tarmic::testing::ResetEverything();
  ModelFlags().bDiscreteModel = ModelFlags().bZoneCentrifugation = true;
  AnalysisSwitches().pParams[23] = 0.1f;
  UseUsableDistribution();
  ASSERT_EQ(SelectParamsTemplate(), 317);
  EXPECT_EQ(refusal(428, "0.05"), "");
  EXPECT_EQ(refusal(428, "-1"), "the \"lamella width\" -1 cm must lie between 0.0001 and 2 cm");
  EXPECT_EQ(refusal(428, "1e30"), "the \"lamella width\" 1e+30 cm must lie between 0.0001 and 2 cm");
  AnalysisSwitches().pParams[23] = -1.0f;
  EXPECT_EQ(RunValuesRefusal(), "the lamella width -1 cm must lie between 0.0001 and 2 cm");

  tarmic::testing::ResetEverything();
  ModelFlags().bDiscreteModel = LammGlobals().bElectrophoresis = true;
  UseUsableDistribution();
  ASSERT_EQ(SelectParamsTemplate(), 322);
  EXPECT_EQ(refusal(437, "1.2"), "");
  for (const char* m : {"-1", "1e30"})
    EXPECT_NE(refusal(435, m).find("\"meniscus\" " + std::string(m == std::string("-1") ? "-1" : "1e+30") +
                                    " cm must lie between 0 and 1e+06 cm"),
              std::string::npos)
        << m;
  for (const char* l : {"-1", "0", "1e30"})
    EXPECT_NE(refusal(437, l).find("\"length\""), std::string::npos) << l;
  EXPECT_EQ(refusal(437, "0"), "the \"length\" 0 cm must lie between 0.001 and 1e+06 cm");
  // Values that reached the vector by other routes: the Run names them.
  AnalysisSwitches().pParams[13] = 6.0f;
  AnalysisSwitches().pParams[14] = 6.0f;
  EXPECT_EQ(RunValuesRefusal(), "the meniscus 6 cm must lie below the bottom 6 cm");
  AnalysisSwitches().pParams[13] = -1.0f;
  EXPECT_EQ(RunValuesRefusal(), "the meniscus -1 cm must lie between 0 and 1e+06 cm");
}

TEST_F(ParamChecksTest, EveryNumberFieldRefusesWhatIsNoNumberNamingTheFieldAndItsRange) {
  struct Family {
    int templateId;
    std::function<void()> select;
  } families[] = {
      {400, [] { ModelFlags().bDiscreteModel = true; }},
      {306, [] { ModelFlags().bDiscreteModel = ModelFlags().bFitMAndS = true; }},
      {307, [] { ModelFlags().bMonomerDimer = true; }},
      {318, [] { ModelFlags().bHeteroAssocModel = true; }},
      {892, [] { ModelFlags().bNonIdealMultiple = true; }},
      {320, [] { ModelFlags().bContiModel = ModelFlags().bContiSModel = true; }},
      {596, [] { ModelFlags().bContiModel = ModelFlags().bCsff0Model = true; }},
      {311, [] { ModelFlags().bContiModel = true; }},
      {317, [] {
         ModelFlags().bDiscreteModel = ModelFlags().bZoneCentrifugation = true;
         AnalysisSwitches().pParams[23] = 0.1f;  // the lamella width the model command packs
       }},
      {322, [] { ModelFlags().bDiscreteModel = LammGlobals().bElectrophoresis = true; }},
      {573, [] { ModelFlags().bDiscreteModel = ModelFlags().bBufferSedCorrection = true; }},
      {324, [] { ModelFlags().bVanHoldeWeischet = true; }},
      {328, [] { ModelFlags().bCvConstantD = true; }},
      {333, [] { ModelFlags().bDLSRhModel = true; }},
      {586, [] { ModelFlags().bCsNonideal = true; }},
      {871, [] {
         ModelFlags().bCsBimodalFf0OneDiscrete = true;
         // The second f/f0 and its s range as the model command stores them.
         AnalysisSwitches().pParams[kContiSlotShape1] = 2.0f;
         AnalysisSwitches().pParams[kContiSlotShape2] = 10.0f;
         AnalysisSwitches().pParams[kContiSlotShape3] = 20.0f;
       }},
  };
  for (const Family& family : families) {
    tarmic::testing::ResetEverything();
    family.select();
    UseUsableDistribution();  // also a usable cell for every model
    if (ModelFlags().bCsff0Model) {
      AnalysisSwitches().pParams[kContiSlotShape1] = 1.0f;
      AnalysisSwitches().pParams[kContiSlotShape2] = 2.0f;
      AnalysisSwitches().pParams[kContiSlotShape3] = 5.0f;
      UnpackModelParams();
    }
    InitParamsTransfer(record_);
    ASSERT_EQ(SelectParamsTemplate(), family.templateId);
    SCOPED_TRACE("template " + std::to_string(family.templateId));
    // The values it opens with pass.
    backend_->ClearTranscript();
    backend_->QueueDialog(IDOK);
    EXPECT_TRUE(RunParametersDialog(nullptr, record_));
    EXPECT_TRUE(Boxes().empty()) << Boxes()[0].second;
    const DialogTemplate& t = GetParamsDialogTemplate(family.templateId);
    for (const DialogControl& c : t.controls) {
      if (c.kind != ControlKind::Edit) continue;
      const std::string label = "the \"" + std::string(ControlLabel(t, c.id)) + "\"";
      for (const char* typed : {"nan", "inf", "-inf", "1e999", "abc", ""}) {
        SCOPED_TRACE(std::to_string(c.id) + " = \"" + typed + "\"");
        backend_->ClearTranscript();
        backend_->QueueDialog(IDOK, TransferBuffer{{{c.id, typed}}, {}});
        backend_->QueueMessageBox(IDOK, "Input Error");
        backend_->QueueDialog(IDCANCEL);
        EXPECT_FALSE(RunParametersDialog(nullptr, record_));
        ASSERT_EQ(Boxes().size(), 1u);
        const std::string text = Boxes()[0].second;
        EXPECT_EQ(text.rfind(label, 0), 0u) << text;
        EXPECT_TRUE(text.find(" must lie between ") != std::string::npos ||
                    text.find(" must be a number") != std::string::npos)
            << text;
      }
    }
  }
  // Absurd numbers: a meniscus almost on the axis, a negative D, an s of 1e30 S,
  // a negative grid size.
  tarmic::testing::ResetEverything();
  ModelFlags().bDiscreteModel = true;
  UseUsableDistribution();
  InitParamsTransfer(record_);
  FillParamsTransfer(record_);
  const struct {
    int id;
    const char* typed;
    const char* text;
  } absurd[] = {
      {435, "1e-30", "the \"meniscus\" 1e-30 cm must lie between 1 and 20 cm (0: not set)"},
      {406, "-1", "the \"D\" of Component 1 -1 must lie between 0 and 10000"},
      // Species 2 is not included: its values need only be numbers.
      {407, "1e30", "the \"s\" of Component 1 1e+30 S must lie between -1e+08 and 1e+08 S"},
      {413, "-1", "the \"D\" of Component 2 -1 must be a number of at least 0"},
      {439, "-5", "the \"Lamm grid size\" -5 grid points must lie between 5 and 100000 grid points"},
  };
  for (const auto& a : absurd) {
    backend_->ClearTranscript();
    TransferBuffer typed = record_;
    SetFieldText(typed, a.id, a.typed);
    backend_->QueueMessageBox(IDOK, "Input Error");
    EXPECT_FALSE(ParamsBoxCanClose(typed));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].second, a.text);
  }
}

}  // namespace
}  // namespace tarmic
