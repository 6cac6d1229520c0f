// The buffer mismatch commands: the dialog "Buffer Mismatch" through command 552
// (values in, settings out, Cancel, refused entries, the c(s,ff0) refusal) and the
// subtraction of the buffer mismatch from the data (command 576).
#include "app/preferences.h"
#include "commands/buffer_commands.h"
#include "commands/buffer_dialog.h"
#include "commands/program_services.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/markers.h"
#include "commands_test_support.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "modelfit/transfer_fields.h"
#include "numerics/interpolation.h"
#include "propagators/buffer_sedimentation.h"
#include "resources/dialogs.h"
#include "resources/menus.h"
#include "scandata/analysis_switches.h"
#include "scandata/scan_file.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

class BufferCommandsTest : public testing::CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetModelFlags();
    ResetModelParams();
    ResetBufferSedimentation();
    fMeniscusDifference = 0.1;
    InstallBufferMismatchHooks();
  }
  void TearDown() override {
    BindMeniscusDifference(nullptr);
    SetRefMeniscusShownTest(nullptr);
    ResetModelFitHooks();
    ResetBufferSedimentation();
    ResetModelFlags();
    ResetModelParams();
    CommandTest::TearDown();
  }
};

TEST_F(BufferCommandsTest, DialogAppliesItsValuesAndCancelOrRefusedEntriesChangeNothing) {
  LoadVelocitySet();
  Handle().AttachMenu(GetMenuResource(kMenuFull));  // the menu with item 552
  ModelFlags().bDiscreteModel = true;
  // Values in: the model on, a negative signal (excess on the reference side), the
  // meniscus mismatch with its fits, a reference fit that has no reference buffer.
  Backend().QueueDialog(
      IDOK, TransferBuffer{
                {{556, "50"}, {558, "0.3"}, {560, "-12.5"}, {563, "0.02"}, {565, "0.9"}},
                {{553, true}, {561, false}, {562, true}, {566, true}, {567, false}, {569, true}}});
  Backend().QueueMessageBox(IDOK, "Attention");  // not interference data (once a run)
  Dispatch(kCmBufferSedimentation);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(ModelFlags().bBufferSedCorrection);
  EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.signal, 12.5);
  EXPECT_EQ(BufferSedimentation().BufferSed.signalSign, -1.0);
  EXPECT_TRUE(BufferSedimentation().bMeniscusMismatch);
  EXPECT_DOUBLE_EQ(fMeniscusDifference, 0.02);  // the marker's value is the model's
  EXPECT_FALSE(BufferSedimentation().BufferSed.fitRefD);  // no reference buffer: nothing of it floats
  // Mb from s and D at the data's temperature: 1e-6 s RT / D.
  EXPECT_NEAR(BufferSedimentation().BufferSed.sampleMb, 1e-6 * 0.3 * DataSet().fRT / 50, 1e-3);
  // Species slot 4 carries the buffer component, its amplitude fixed like the signal.
  EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[4], 1);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[4], 0);

  // Cancel: the dialog showed the negative signal again, and nothing changes.
  Backend().QueueDialog(IDCANCEL, TransferBuffer{{{560, "3"}}, {{553, false}}});
  Dispatch(kCmBufferSedimentation);
  EXPECT_EQ(FieldText(Win().bufferSedParamsTransfer, 560), "-12.500 ");
  EXPECT_TRUE(ModelFlags().bBufferSedCorrection);
  EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.signal, 12.5);

  // A relative concentration of 0 (and an invalid number) are refused and the
  // dialog stays open; a Cancel then leaves everything.
  Backend().QueueDialog(IDOK, TransferBuffer{{{565, "0"}}, {}});
  Backend().QueueMessageBox(IDOK, "Input Error");
  Backend().QueueDialog(IDOK, TransferBuffer{{{565, "nan"}}, {}});
  Backend().QueueMessageBox(IDOK, "Input Error");
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmBufferSedimentation);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(Backend().BeepCount(), 2);
  EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.relativeConc, 0.9);

  // Switching the model off frees slot 4 and removes the check mark.
  Backend().QueueDialog(IDOK, TransferBuffer{{}, {{553, false}}});
  Dispatch(kCmBufferSedimentation);
  EXPECT_FALSE(ModelFlags().bBufferSedCorrection);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmBufferSedimentation));
  EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[4], 0);

  // c(s,ff0) models refuse the buffer mismatch without a dialog.
  ModelFlags().bDiscreteModel = false;
  ModelFlags().bCsff0Model = true;
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmBufferSedimentation);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // Without data the values are derived at 20 deg C, which is said on every OK.
  FreeDataSet();
  ModelFlags().bCsff0Model = false;
  Backend().QueueDialog(IDOK, TransferBuffer{{{556, "50"}, {558, "0.3"}}, {}});
  Backend().QueueMessageBox(IDOK, "");  // "assuming t = 20 'C"
  Dispatch(kCmBufferSedimentation);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_NEAR(BufferSedimentation().BufferSed.sampleMb, 1e-6 * 0.3 * 8.314e7 * 293 / 50, 1e-3);
}

// Every edit of both templates, typed with a text that is no number, a negative
// or an absurd number, is refused with one box naming the field by its label and
// giving its range; the values the dialog opens with pass OK unchanged. A buffer
// component does not float (s -1 S is refused), nor has it a negative D or Mb.
TEST_F(BufferCommandsTest, EveryFieldRefusesNoNumbersAndImpossibleValuesNamingTheField) {
  LoadVelocitySet();
  for (const bool mass : {false, true}) {
    ModelFlags().bFitMAndS = mass;
    SCOPED_TRACE(mass ? "Mb" : "D");
    const DialogTemplate& dialog =
        GetDialogTemplate(std::to_string(mass ? kBufferSedMassDialogId : kBufferSedDialogId));
    TransferBuffer record;
    InitBufferSedParamsTransfer(record);
    Backend().ClearTranscript();
    Backend().QueueDialog(IDOK);
    EXPECT_TRUE(RunBufferSedDialog(nullptr, record));
    EXPECT_TRUE(BoxTexts().empty());
    const TransferBuffer opened = record;
    for (const int id : {556, 558, 560, 563, 565, 568, 570}) {
      const std::string label = "the \"" + std::string(ControlLabel(dialog, id)) + "\"";
      ASSERT_GT(label.size(), 8u);
      for (const char* typed : {"nan", "inf", "abc", "", "1e30", "-1e30", "-1"}) {
        const std::string text = typed;
        // Signal and meniscus difference are signed.
        if (text == "-1" && (id == 560 || id == 563)) continue;
        SCOPED_TRACE(std::to_string(id) + " = \"" + text + "\"");
        Backend().ClearTranscript();
        record = opened;
        Backend().QueueDialog(IDOK, TransferBuffer{{{id, text}}, {}});
        Backend().QueueMessageBox(IDOK, "Input Error");
        Backend().QueueDialog(IDCANCEL);
        EXPECT_FALSE(RunBufferSedDialog(nullptr, record));
        ASSERT_EQ(BoxTexts().size(), 1u);
        EXPECT_EQ(BoxTexts()[0].rfind(label, 0), 0u) << BoxTexts()[0];
        EXPECT_NE(BoxTexts()[0].find(" must lie between "), std::string::npos) << BoxTexts()[0];
      }
    }
  }
  ModelFlags().bFitMAndS = false;
  TransferBuffer record;
  InitBufferSedParamsTransfer(record);
  FillBufferSedTransfer(record);
  SetFieldText(record, 558, "-1");
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "Input Error");
  EXPECT_FALSE(BufferSedBoxCanClose(record));
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "the \"buffer s (sample side)\" -1 S must lie between 0 and 1e+08 S");
}

// Command 576 shows its note, subtracts the buffer component's profile (a sample
// component alone here) from every scan and switches the model off; with the model
// off it does nothing.
TEST_F(BufferCommandsTest, SubtractionRemovesTheBufferProfileAndSwitchesTheModelOff) {
  LoadVelocitySet();
  Handle().AttachMenu(GetMenuResource(kMenuFull));
  Handle().CheckMenuItem(kCmBufferSedimentation, true);
  AnalysisSwitches().bRampRotorSpeed = false;
  ScanFile().bInterferenceData = true;
  DataSet().fMeniscus = DataSet().ppRadius[1][1] - 0.02f;
  DataSet().fBottom = DataSet().ppRadius[1][DataSet().pnPoints[1]] + 0.05f;
  ModelFlags().bBufferSedCorrection = true;
  BufferSedimentation().BufferSed.signal = 0.8;
  std::vector<std::vector<float>> before(4);
  for (int s = 1; s <= 3; ++s) before[s].assign(DataSet().ppSignal[s], DataSet().ppSignal[s] + DataSet().pnPoints[s] + 1);

  // The expected profile of each scan: the component solved directly.
  std::vector<std::vector<float>> expected(4);
  BufferComponentRun run;
  run.D = 86e-7;
  run.s = 0.21;
  run.meniscus = DataSet().fMeniscus;
  run.bottom = DataSet().fBottom;
  run.amplitude = 0.8;
  run.rpm = DataSet().pScanInfo[3].rpm;
  for (int k = 1; k <= 3; ++k) run.scanTimes.push_back(DataSet().pScanInfo[DataSet().pScanOrder[k]].time);
  ASSERT_TRUE(SolveBufferComponent(run, [&](int k, const double* r, const double* c, int n) {
                const int s = DataSet().pScanOrder[k + 1];
                expected[s].assign(DataSet().pnPoints[s] + 1, 0.0f);
                InterpolateCurveFromDouble(DataSet().pnPoints[s], DataSet().ppRadius[s], expected[s].data(), n, r, c);
              }).ok());

  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmSubtractBufferMismatch);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(ModelFlags().bBufferSedCorrection);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmBufferSedimentation));
  for (int s = 1; s <= 3; ++s) {
    double worst = 0, largest = 0;
    for (int j = 1; j <= DataSet().pnPoints[s]; ++j) {
      const double removed = before[s][j] - DataSet().ppSignal[s][j];
      worst = std::max(worst, std::fabs(removed - expected[s][j]));
      largest = std::max(largest, std::fabs(removed));
    }
    EXPECT_LT(worst, 1e-5) << "scan " << s;
    EXPECT_GT(largest, 0.1) << "scan " << s;  // the depletion at the meniscus was removed
  }

  const float kept = DataSet().ppSignal[1][1];
  Dispatch(kCmSubtractBufferMismatch);  // the model is off now: no note, no change
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(DataSet().ppSignal[1][1], kept);
}

}  // namespace
}  // namespace tarmic
