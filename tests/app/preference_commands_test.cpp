// Tests of the "SET PREFERENCE" commands, the screenshot and the repaint routines
// of the main window.
#include <gtest/gtest.h>

#include <string>

#include "app/preferences.h"
#include "app/xla_window.h"
#include "services/path_table.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "resources/menus.h"
#include "scandata/analysis_switches.h"
#include "scandata/time_stamps.h"
#include "tests/app/shell_test_support.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

using shell_test::AcceptedDefaults;
using shell_test::ReadLines;

class PreferenceCommands : public shell_test::WindowFixture {
 protected:
  PreferenceCommands() : WindowFixture("prefcmd", 400, 300) {}
  void SetUp() override {
    WindowFixture::SetUp();
    // The full menu carries every item these commands mark.
    backend_->Headless().AttachMenu(GetMenuResource(kMenuFull));
  }
  std::string Line(int index) { return ReadLines(szParamsIni).at(static_cast<std::size_t>(index)); }
  HeadlessWindow& Screen() { return backend_->Headless(); }
};

TEST_F(PreferenceCommands, SoundsOffSavedWritesZeroOnLineSixOnly) {
  auto lines = AcceptedDefaults();
  lines[kPrefSounds] = "1";
  shell_test::WritePreferenceFile(szParamsIni, lines);
  backend_->QueueMessageBox(IDNO, "SET PREFERENCE");   // Play Sounds?
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");  // save as default setting?
  window_->CmSound();
  EXPECT_FALSE(bPlaySounds);
  EXPECT_FALSE(Screen().IsMenuItemChecked(kCmSound));
  auto expected = lines;
  expected[kPrefSounds] = "0";
  EXPECT_EQ(ReadLines(szParamsIni), expected);
  EXPECT_EQ(backend_->Transcript()[0].text, "Play Sounds?");
}

TEST_F(PreferenceCommands, NotSavingLeavesTheFileAlone) {
  const auto before = ReadLines(szParamsIni);
  backend_->QueueMessageBox(IDNO, "SET PREFERENCE");
  backend_->QueueMessageBox(IDNO, "SET PREFERENCE");
  window_->CmSuppressBaselineCorrelation();
  EXPECT_FALSE(bSuppressBaselineCorrelation);
  EXPECT_FALSE(Screen().IsMenuItemChecked(kCmSuppressBaselineCorrelation));
  EXPECT_EQ(ReadLines(szParamsIni), before);
}

TEST_F(PreferenceCommands, ThreadQuestionsCancelledTurnMultithreadingOff) {
  nThreads = 5;
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");  // Use Multiple Threads?
  backend_->QueueInput(std::nullopt);                  // number of threads
  backend_->QueueInput(std::nullopt);                  // ... for Lamm equations
  backend_->QueueMessageBox(IDNO, "SET PREFERENCE");   // save?
  window_->CmMultipleThreads();
  EXPECT_FALSE(bMultiThreading);
  EXPECT_EQ(nThreads, 5);
  EXPECT_EQ(LammThreadCount(), 1);
  EXPECT_FALSE(Screen().IsMenuItemChecked(kCmMultipleThreads));
}

TEST_F(PreferenceCommands, TypedThreadCountsAreAtLeastOneAndSaved) {
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");
  backend_->QueueInput("0");  // refused, naming the field, and asked again
  backend_->QueueMessageBox(IDOK, "SET PREFERENCE");
  backend_->QueueInput("1");
  backend_->QueueInput("3.7");  // a fraction is no count
  backend_->QueueMessageBox(IDOK, "SET PREFERENCE");
  backend_->QueueInput("3");
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");
  window_->CmMultipleThreads();
  EXPECT_TRUE(bMultiThreading);
  EXPECT_EQ(nThreads, 1);
  EXPECT_EQ(LammThreadCount(), 3);
  EXPECT_EQ(Line(kPrefThreads), "1");
  EXPECT_EQ(Line(kPrefLammThreads), "3");
  EXPECT_EQ(backend_->Transcript()[2].text, "the number of threads 0 must lie between 1 and 256");
}

TEST_F(PreferenceCommands, NoMultithreadingMeansOneThreadEach) {
  backend_->QueueMessageBox(IDNO, "SET PREFERENCE");
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");
  window_->CmMultipleThreads();
  EXPECT_EQ(nThreads, 1);
  EXPECT_EQ(LammThreadCount(), 1);
  EXPECT_EQ(Line(kPrefThreads), "0");
  EXPECT_EQ(Line(kPrefLammThreads), "1");
}

TEST_F(PreferenceCommands, TimeStampThresholdIsStoredAsItIsUsed) {
  DataSet().nScans = 1;  // one scan: no check of the time stamps now
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");
  backend_->QueueInput("1.002");
  window_->CmCheckTimeStamps();
  DataSet().nScans = 0;
  EXPECT_TRUE(TimeStamps().bCheckTimeStamps);
  EXPECT_TRUE(Screen().IsMenuItemChecked(kCmCheckTimeStamps));
  EXPECT_EQ(Line(kPrefCheckTimeStamps), "1");
  EXPECT_EQ(Line(kPrefTimeStampThreshold), "200");
  const double inUse = TimeStamps().dTimeStampThreshold;
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_EQ(TimeStamps().dTimeStampThreshold, inUse);
  EXPECT_DOUBLE_EQ(inUse, 1.002);
}

TEST_F(PreferenceCommands, ScanColoursToggleWithoutAQuestionFirst) {
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");
  window_->CmScanColorByTime();
  EXPECT_FALSE(DataPlots().bColorScansByTime);
  EXPECT_FALSE(Screen().IsMenuItemChecked(kCmScanColorByTime));
  EXPECT_EQ(Line(kPrefScanColorByTime), "0");
  ASSERT_EQ(backend_->Transcript().size(), 1u);
  EXPECT_EQ(backend_->Transcript()[0].text, "save as default setting?");
}

TEST_F(PreferenceCommands, OldFilenameConventionTogglesUnstored) {
  const auto before = ReadLines(szParamsIni);
  window_->CmOldFilenameConvention();
  EXPECT_TRUE(AnalysisSwitches().bOldFilenameConvention);
  EXPECT_TRUE(Screen().IsMenuItemChecked(kCmOldFilenameConvention));
  window_->CmOldFilenameConvention();
  EXPECT_FALSE(AnalysisSwitches().bOldFilenameConvention);
  EXPECT_EQ(ReadLines(szParamsIni), before);
}

TEST_F(PreferenceCommands, ScreenshotCopiesTheClientArea) {
  Screen().Screen().Fill(RGB(1, 2, 3));
  Screen().Screen().SetPixel(399, 299, RGB(9, 9, 9));
  window_->CmCopyScreenshot();
  const Image* copy = backend_->ClipboardBitmap();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Width(), 400);
  EXPECT_EQ(copy->Height(), 300);
  EXPECT_EQ(copy->Pixel(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(copy->Pixel(399, 299), RGB(9, 9, 9));
}

TEST_F(PreferenceCommands, RepaintDoesNothingInBatchMode) {
  UiEvents().Clear();
  bBatchMode = true;
  window_->RepaintMain();
  EXPECT_TRUE(UiEvents().Empty());
  bBatchMode = false;
  window_->RepaintMain();
  ASSERT_FALSE(UiEvents().Empty());
  EXPECT_EQ(UiEvents().Peek()->type, EventType::Paint);
}

}  // namespace
}  // namespace tarmic
