// The dialog "Tools For Fitting Fluorescence AUC data" (FloTools): its values
// taken into the settings, Cancel, and the refused entries shown again.
#include "commands/flo_tools_dialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelcalc/fluorescence_detection.h"
#include "modelfit/transfer_fields.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"
#include "resources/dialogs.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"
#include "tests/modelcalc/fluorescence_scans.h"

namespace tarmic {
namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

float Recorded(int s, int i) { return test::RecordedFluorescence(s, i); }

double Forward(double v) { return test::DetectorForward(v); }

class FloToolsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { test::InstallFluorescenceScans(Recorded); }
  void TearDown() override { test::ReleaseFluorescenceScans(); }
  float Signal(int s, int i) { return DataSet().ppSignal[Idx(s)][i]; }
  // The texts of the message boxes shown.
  std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const auto& e : backend_->Transcript())
      if (e.kind == "MessageBox") boxes.push_back(e.text);
    return boxes;
  }

  ScopedHeadlessBackend backend_;
};

TEST_F(FloToolsDialogTest, FloToolsDialogTakesItsValuesCancelLeavesThemAndRefusesBadExponents) {
  FluorescenceDetection().fConeRadius = 0.05f;
  FluorescenceDetection().fPowerCoefficient = 1.0f;
  TransferBuffer record;
  InitFloToolsTransfer(record);

  // Cancel: the record shows the settings, nothing changes.
  backend_->QueueDialog(IDCANCEL);
  EXPECT_FALSE(RunFloToolsDialog(nullptr, record));
  EXPECT_EQ(FieldText(record, 616), "0.0500");
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection || FluorescenceDetection().bExcitationShadow);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConeRadius, 0.05f);

  // Values in, settings out. Nonlinear detection switched on keeps the stored
  // coefficient, baseline, fit flag and display choice: the data stay as recorded.
  FluorescenceDetection().fPowerBaseline = 0.05f;
  // clang-format off
  const TransferBuffer entries{
      {{612, "1.02"}, {614, "-0.5"}, {616, "0.03"}, {617, "0.004"}, {619, "3"}, {618, "0.7"}, {627, "0.1"}},
      {{613, true}, {615, true}, {621, true}, {835, true}, {623, true}, {622, true}, {625, true},
       {626, true}, {630, true}, {640, true}}};
  // clang-format on
  backend_->QueueDialog(IDOK, entries);
  EXPECT_TRUE(RunFloToolsDialog(nullptr, record));
  EXPECT_TRUE(FluorescenceDetection().bMagnificationGradient && FluorescenceDetection().bFitMagnificationGradient && FluorescenceDetection().bExponentialDrift);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fMagnificationDrift, -0.5f);
  EXPECT_TRUE(FluorescenceDetection().bExcitationShadow && FluorescenceDetection().bFitConeRadius && FluorescenceDetection().bRadialConvolution);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConeRadius, 0.03f);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConvolutionDistFactor, 3.0f);
  EXPECT_TRUE(FluorescenceDetection().bNonlinearDetection);
  EXPECT_FALSE(FluorescenceDetection().bFitPowerCoefficient || FluorescenceDetection().bShowTransformed || FluorescenceDetection().bTransformedShown);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 1.0f);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerBaseline, 0.05f);
  EXPECT_EQ(Signal(1, 25), Recorded(1, 25));

  // Kept on, the entered values are taken and the chosen domain is shown.
  backend_->QueueDialog(IDOK, entries);
  EXPECT_TRUE(RunFloToolsDialog(nullptr, record));
  EXPECT_TRUE(FluorescenceDetection().bNonlinearDetection && FluorescenceDetection().bFitPowerCoefficient && FluorescenceDetection().bShowTransformed);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 0.7f);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerBaseline, 0.1f);
  EXPECT_TRUE(FluorescenceDetection().bTransformedShown);
  EXPECT_NEAR(Signal(1, 25), Forward(Recorded(1, 25)), 1e-5);

  // A zero or negative exponent is refused (beep, "Invalid Entry") and the
  // dialog shows again; so is a text that is not a number. Cancel then keeps
  // everything.
  backend_->ClearTranscript();
  const int beeps = backend_->BeepCount();
  backend_->QueueDialog(IDOK, TransferBuffer{{{618, "0"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, TransferBuffer{{{618, "-0.2"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, TransferBuffer{{{618, "0.5"}, {616, "wide"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDCANCEL);
  EXPECT_FALSE(RunFloToolsDialog(nullptr, record));
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_EQ(backend_->BeepCount() - beeps, 3);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 0.7f);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConeRadius, 0.03f);
  EXPECT_EQ(FluorescenceDetection().dAppliedPower, static_cast<double>(0.7f));

  // Unchecked: switched off, the recorded data are shown again, fit flag and
  // display choice cleared.
  backend_->QueueDialog(IDOK, TransferBuffer{{}, {{626, false}}});
  EXPECT_TRUE(RunFloToolsDialog(nullptr, record));
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection || FluorescenceDetection().bFitPowerCoefficient || FluorescenceDetection().bShowTransformed ||
               FluorescenceDetection().bTransformedShown);
  EXPECT_EQ(Signal(1, 25), Recorded(1, 25));

  // Switched on with no usable stored exponent (0: never set): the entered one is
  // taken, so that no exponent at or below 0 is ever in force; the rest stays.
  FluorescenceDetection().fPowerCoefficient = 0.0f;
  backend_->QueueDialog(IDOK, entries);
  EXPECT_TRUE(RunFloToolsDialog(nullptr, record));
  EXPECT_TRUE(FluorescenceDetection().bNonlinearDetection);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 0.7f);
  EXPECT_FALSE(FluorescenceDetection().bFitPowerCoefficient || FluorescenceDetection().bShowTransformed);
}

// The dialog closes with OK at the values it opens with (the power coefficient 0
// of detection never set among them); every edit typed with a text that is no
// number, a negative or an absurd number is refused with one box naming the field
// by its label and giving its range.
TEST_F(FloToolsDialogTest, OpeningValuesPassAndEveryFieldRefusesBadValuesNamingIt) {
  ASSERT_EQ(FluorescenceDetection().fPowerCoefficient, 0.0f);  // the start-up state
  TransferBuffer record;
  InitFloToolsTransfer(record);
  backend_->QueueDialog(IDOK);
  EXPECT_TRUE(RunFloToolsDialog(nullptr, record));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection);
  const TransferBuffer opened = record;
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kFloToolsDialogId));
  for (const int id : {612, 614, 616, 617, 619, 618, 627}) {
    const std::string label = "the \"" + std::string(ControlLabel(dialog, id)) + "\"";
    for (const char* typed : {"nan", "inf", "abc", "", "1e30", "-1e30", "-1"}) {
      const std::string text = typed;
      // Gradient, drift and baseline are signed.
      if (text == "-1" && (id == 612 || id == 614 || id == 627)) continue;
      SCOPED_TRACE(std::to_string(id) + " = \"" + text + "\"");
      backend_->ClearTranscript();
      record = opened;
      backend_->QueueDialog(IDOK, TransferBuffer{{{id, text}}, {}});
      backend_->QueueMessageBox(IDOK, "Input Error");
      backend_->QueueDialog(IDCANCEL);
      EXPECT_FALSE(RunFloToolsDialog(nullptr, record));
      const std::vector<std::string> boxes = Boxes();
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].rfind(label, 0), 0u) << boxes[0];
      EXPECT_NE(boxes[0].find(" must lie between "), std::string::npos) << boxes[0];
    }
  }
  // Switched on, the power law needs an exponent above 0.
  backend_->ClearTranscript();
  record = opened;
  backend_->QueueDialog(IDOK, TransferBuffer{{{618, "0"}}, {{626, true}}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDCANCEL);
  EXPECT_FALSE(RunFloToolsDialog(nullptr, record));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0],
            "the \"power coefficient d(log(a))/dc\" 0 must lie between 1e-06 and 1000");
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection);
}

}  // namespace
}  // namespace tarmic
