// The entry checks of the parameter dialog and the grid checks of the continuous
// models.
#include <gtest/gtest.h>

#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "modelfit/params_dialog.h"
#include "modelfit/transfer_fields.h"
#include "modelfit_test_support.h"
#include "platform/system.h"
#include "scandata/data_set.h"

namespace tarmic {
namespace {

using testing::ModelFitTest;

class ParamChecksTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    bDiscreteModel = true;
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
    pParams[kContiSlotGridMin] = 1.0f;
    pParams[kContiSlotGridMax] = 10.0f;
    pParams[kContiSlotGridCount] = 50.0f;
    pParams[kContiSlotDensity] = 1.0f;
    pParams[kContiSlotViscosity] = 0.01002f;
    pParams[kContiSlotVbar] = 0.73f;
    pParams[kContiSlotFrictionalRatio] = 1.2f;
    pParams[kContiSlotConfidence] = 0.68f;
    pParams[13] = fMeniscus = 6.0f;  // meniscus and bottom, cm
    pParams[14] = fBottom = 7.2f;
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
  ExpectRefused("Input Error", "Invalid Entry");
}

TEST_F(ParamChecksTest, ZeroWrittenWithALeadingZeroPassesBothTests) {
  SetFieldText(record_, 406, "0");
  SetFieldText(record_, 413, "0.000");
  EXPECT_TRUE(ParamsBoxCanClose(record_));
}

TEST_F(ParamChecksTest, MinusZeroAndLettersAreNoNumbers) {
  SetFieldText(record_, 406, "-0");
  ExpectRefused("Input Error", "Invalid Entry");
  backend_->ClearTranscript();
  SetFieldText(record_, 406, "abc");
  ExpectRefused("Input Error", "Invalid Entry");
}

TEST_F(ParamChecksTest, ANegativeNumberPassesTheSignedFieldsButNotThePositiveOnes) {
  SetFieldText(record_, 433, "-1");
  EXPECT_TRUE(ParamsBoxCanClose(record_));
  SetFieldText(record_, 413, "-1");
  ExpectRefused("Input Error", "Invalid Entry");
}

TEST_F(ParamChecksTest, BufferTextInSpeciesFourPassesWhileTheBufferModelIsOn) {
  for (int id : {426, 427, 428}) SetFieldText(record_, id, "buffer");
  bBufferSedCorrection = true;
  EXPECT_TRUE(ParamsBoxCanClose(record_));
  bBufferSedCorrection = false;
  ExpectRefused("Input Error", "Invalid Entry");
}

TEST_F(ParamChecksTest, DlsDataRefuseFloatingRadiusAndSOfOneSpecies) {
  bDLSData = true;
  SetFieldChecked(record_, 403, false);
  SetFieldChecked(record_, 417, true);  // species 3 floats its radius ...
  SetFieldChecked(record_, 418, true);  // ... and its s
  ExpectRefused("Parameter Error", "linear dependent floating parameters for modeling DLS data");
}

TEST_F(ParamChecksTest, InvariantDMustBePositive) {
  bDiscreteModel = false;
  bContiModel = bCsInvariantD = true;
  UseUsableDistribution();
  SetFieldText(record_, 419, "0.0");
  ExpectRefused("Parameter Error",
                "the diffusion coefficient D (1e-7 cm^2/s) 0 must lie between 1e-06 and 10000");
}

// Settings of a continuous model that no computation can use are refused at OK
// with a sentence naming the value and its range; the neighbouring good values pass.
TEST_F(ParamChecksTest, ImpossibleContinuousSettingsKeepTheDialogOpen) {
  bDiscreteModel = false;
  bContiModel = bContiSModel = true;
  UseUsableDistribution();
  ASSERT_TRUE(ParamsBoxCanClose(record_));
  const TransferBuffer good = record_;
  struct Case {
    int id;
    const char* bad;
    const char* fine;  // the nearest value that passes
    const char* text;
  } cases[] = {
      {406, "11", "9.9", "the lower grid limit 11 must not be above the upper limit 10"},
      {405, "0.5", "1", "the resolution 0 grid points must lie between 1 and 100000 grid points"},
      {421, "0", "0.01", "the buffer density 0 g/ml must lie between 0.01 and 5 g/ml"},
      {426, "0", "0.00001", "the buffer viscosity 0 P must lie between 1e-05 and 1000 P"},
      {435, "7.2", "7.19", "the meniscus 7.2 cm must lie below the bottom 7.2 cm"},
      // Values a computation would take without a word, far from any particle or rotor.
      {419, "0", "0.1", "the frictional ratio f/f0 0 must lie between 0.1 and 50"},
      {419, "1e30", "50", "the frictional ratio f/f0 1e+30 must lie between 0.1 and 50"},
      {420, "-0.5", "0.01", "the partial specific volume -0.5 ml/g must lie between 0.01 and 3 ml/g"},
      {437, "100", "20", "the bottom 100 cm must lie between 0 and 20 cm"},
      {437, "5000", "7.3", "the bottom 5000 cm must lie between 0 and 20 cm"},
      {413, "2", "1.5", "the confidence level 2 must lie between 0 and 1.5"},
      {406, "9.9999", "9.99", "the grid from 9.9999 to 10 is too narrow: its upper limit must exceed the "
                              "lower limit by at least 0.001"},
      // Dense solutions, organic solvents and the cold: the ends of the ranges pass.
      {421, "5.01", "5", "the buffer density 5.01 g/ml must lie between 0.01 and 5 g/ml"},
      {426, "1000.5", "1000", "the buffer viscosity 1000.5 P must lie between 1e-05 and 1000 P"},
      {433, "1e30", "-1e6", "the baseline 1e+30 must lie between -1e+06 and 1e+06"},
      {407, "1e30", "9e15", "the upper grid limit 1e+30 must lie between -1e+16 and 1e+16"},
      {405, "1e30", "100000", "the resolution 1e+30 grid points must lie between 1 and 100000 grid points"},
  };
  for (const Case& c : cases) {
    backend_->ClearTranscript();
    record_ = good;
    SetFieldText(record_, c.id, c.bad);
    SCOPED_TRACE(c.text);
    ExpectRefused("Parameter Error", c.text);
    SetFieldText(record_, c.id, c.fine);
    EXPECT_TRUE(ParamsBoxCanClose(record_)) << c.id << " " << c.fine;
  }
}

// --- grid checks ---

class GridChecksTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    bContiModel = bContiSModel = true;
    pParams[kContiSlotGridMin] = 0.0f;
    pParams[kContiSlotGridMax] = 15.0f;
    pParamFitFlags[kContiFitLogGrid] = 1;
  }
};

TEST_F(GridChecksTest, LogGridFromZeroIsSwitchedOffWithOneMessage) {
  backend_->QueueMessageBox(IDOK, "");
  EXPECT_FALSE(CheckGridSettings());
  EXPECT_EQ(pParamFitFlags[kContiFitLogGrid], 0);
  EXPECT_EQ(pSpeciesMassOrDFit[kContiFitLogGrid], 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].second, "smin = 0 is incompatible with log spacing of grid\n - switching off - please cconfirm");
}

TEST_F(GridChecksTest, LogGridWithNegativeLimitIsSwitchedOff) {
  pParams[kContiSlotGridMin] = -1.0f;
  backend_->QueueMessageBox(IDOK, "");
  EXPECT_FALSE(CheckGridSettings());
  EXPECT_EQ(pParamFitFlags[kContiFitLogGrid], 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("smin < 0 and smax < 0"), std::string::npos);
}

TEST_F(GridChecksTest, PositiveLogGridPasses) {
  pParams[kContiSlotGridMin] = 0.5f;
  EXPECT_TRUE(CheckGridSettings());
  EXPECT_EQ(pParamFitFlags[kContiFitLogGrid], 1);
}

// The f/f0 grid of c(s,ff0) is judged at OK: two or more values rising from f/f0
// min to f/f0 max.
TEST_F(ParamChecksTest, SizeAndShapeGridNeedsTwoRisingFrictionalRatios) {
  bDiscreteModel = false;
  bContiModel = bCsff0Model = true;
  UseUsableDistribution();
  SetFieldText(record_, 412, "2");  // f/f0 min
  SetFieldText(record_, 414, "2");  // f/f0 max
  SetFieldText(record_, 428, "1.9");  // count, rounded down
  ExpectRefused("Parameter Error", "the f/f0 resolution 1 values must lie between 2 and 1000 values");
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
  pParamFitFlags[kContiFitLogGrid] = 0;
  pParams[kContiSlotGridCount] = 1e9f;
  EXPECT_EQ(refusal().rfind("a grid of 1000000000 points needs ", 0), 0u);

  // 64 MB: the (3N+10)(N+1) doubles of the workspace alone grow as N^2; 1000 points
  // take about 24 MB, 4000 points about 384 MB.
  SetAvailableMemoryOverride([] { return std::uint64_t{64} << 20; });
  pParams[kContiSlotGridCount] = 1000.0f;
  EXPECT_EQ(refusal(), "");
  pParams[kContiSlotGridCount] = 4000.0f;
  EXPECT_NE(refusal().find("64 MB are available"), std::string::npos);
  // The c(s,ff0) cells count: 100 s values times 40 f/f0 values are 4000 unknowns.
  bContiSModel = false;
  bCsff0Model = true;
  pParams[kContiSlotGridCount] = 100.0f;
  pParams[kContiSlotShape1] = 1.0f;
  pParams[kContiSlotShape2] = 3.0f;
  pParams[kContiSlotShape3] = 40.0f;
  EXPECT_EQ(refusal().rfind("a grid of 4000 points needs ", 0), 0u);
  pParams[kContiSlotShape3] = 10.0f;
  EXPECT_EQ(refusal(), "");
  SetAvailableMemoryOverride(nullptr);
}

}  // namespace
}  // namespace tarmic
