// The loading options and the settings kept in the preference file, chosen from
// the menus of the window.
#include <utility>

#include "app/diagnostics_log.h"
#include "app/preferences.h"
#include "commands_test_support.h"
#include "numerics/cvector.h"
#include "services/path_table.h"
#include "plot/data_plots.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using OptionCommandTest = CommandTest;

// The numbers of the preference file, one per line.
std::vector<float> PreferenceFile() {
  CVector v;
  v.ReadFromFile(szParamsIni.c_str());
  std::vector<float> out;
  for (std::uint32_t i = 0; i < v.Length(); ++i) out.push_back(v.Get(static_cast<int>(i)));
  return out;
}

TEST_F(OptionCommandTest, SetNColumnsAcceptsTwoToTwentyAndRefusesOtherCounts) {
  // Counts outside 2..20 (the huge one once made a file read take minutes) are
  // refused with a message; the option stays off and the count as it was.
  // A fraction is no count either.
  for (const char* entry : {"2147483647", "21", "1.9", "-3", "1e30", "4.9", "20.5"}) {
    Backend().ClearTranscript();
    Backend().QueueInput(entry);
    Backend().QueueMessageBox(IDOK, "SET N COLUMNS");
    Backend().QueueInput(std::nullopt);
    Dispatch(kCmSetNColumns);
    EXPECT_FALSE(ScanFile().bSetNColumns) << entry;
    EXPECT_TRUE(Backend().AllAnswersUsed()) << entry;  // the refusal was shown
    EXPECT_EQ(ScanFile().nDataColumns, 2) << entry;
  }
  for (auto [entry, count] : {std::pair{"4", 4}, std::pair{"20", 20}, std::pair{"2", 2}}) {
    Backend().ClearTranscript();
    Backend().QueueInput(entry);
    Dispatch(kCmSetNColumns);
    EXPECT_TRUE(ScanFile().bSetNColumns) << entry;
    EXPECT_EQ(ScanFile().nDataColumns, count) << entry;
    EXPECT_TRUE(BoxTexts().empty()) << entry;
    Dispatch(kCmSetNColumns);  // switch off again
  }
}

TEST_F(OptionCommandTest, RadialResolutionIsAtLeastAThousandthCentimetreAndCanBeSaved) {
  // Below the finest step: refused with the range and asked again.
  Backend().QueueInput("0.0001");
  Backend().QueueMessageBox(IDOK, "RADIAL RESOLUTION");
  Backend().QueueInput("0.001");
  Backend().QueueMessageBox(IDYES, "SET PREFERENCE");
  Dispatch(kCmSetRadialResolution);
  EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, 0.001f);
  const std::vector<float> prefs = PreferenceFile();
  ASSERT_EQ(prefs.size(), 19u);
  EXPECT_FLOAT_EQ(prefs[1], 0.001f);
  // Above the coarsest step a start accepts, the step is refused and nothing saved.
  Backend().QueueInput("0.2");
  Backend().QueueMessageBox(IDOK, "RADIAL RESOLUTION");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmSetRadialResolution);
  EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, 0.001f);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

TEST_F(OptionCommandTest, RadialResolutionReloadsTheDataOnTheNewGrid) {
  LoadVelocitySet();
  const int finePoints = CurrentGrid().nGridPoints;
  Backend().QueueInput("0.01");
  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Backend().QueueMessageBox(IDYES);
  Dispatch(kCmSetRadialResolution);
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_LT(CurrentGrid().nGridPoints, finePoints / 5);
  EXPECT_EQ(FileList().nStoredFiles, 3);
}

TEST_F(OptionCommandTest, FitAlgorithmChoiceIsExclusiveAndStoredOnLineTwelve) {
  ASSERT_EQ(WritePreferences(&Win()), 1);
  Backend().QueueMessageBox(IDYES, "SET PREFERENCE");
  Dispatch(kCmFitMarquardt);
  EXPECT_TRUE(bFitMarquardt);
  EXPECT_FALSE(bFitSimplex);
  EXPECT_FLOAT_EQ(PreferenceFile()[12], 3.0f);
  // Not saved: the running program uses it, the file keeps the stored choice.
  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Dispatch(kCmFitSimplex);
  EXPECT_TRUE(bFitSimplex);
  EXPECT_FALSE(bFitMarquardt);
  EXPECT_FLOAT_EQ(PreferenceFile()[12], 3.0f);
}

TEST_F(OptionCommandTest, FitUpdatingPreferencesAskEachPaneAndTheInterval) {
  Backend().QueueMessageBox(IDYES, "UPDATE DURING FIT");
  Backend().QueueMessageBox(IDNO, "UPDATE DURING FIT");
  Backend().QueueMessageBox(IDYES, "UPDATE DURING FIT");
  Backend().QueueMessageBox(IDNO, "UPDATE DURING FIT");
  Backend().QueueInput("2.5");
  Backend().QueueMessageBox(IDYES, "SET PREFERENCE");
  Dispatch(kCmChangeFitUpdating);
  EXPECT_TRUE(DataPlots().bUpdateDataPlotDuringFit);
  EXPECT_FALSE(DataPlots().bUpdateResidualPlotDuringFit);
  EXPECT_TRUE(DataPlots().bUpdateResidualBitmapDuringFit);
  EXPECT_FALSE(DataPlots().bUpdateDistributionDuringFit);
  EXPECT_FLOAT_EQ(DataPlots().fMaxUpdateInterval, 2.5f);
  const std::vector<float> prefs = PreferenceFile();
  ASSERT_EQ(prefs.size(), 19u);
  EXPECT_FLOAT_EQ(prefs[4], 1.0f);
  EXPECT_FLOAT_EQ(prefs[15], 2.5f);

  // Esc at any step of the chain (a Yes/No box closed gives IDCANCEL, the interval
  // cancelled gives no text) leaves the four switches, the interval and the file
  // as they were.
  const std::string file = ReadFile(szParamsIni);
  for (int escAt = 0; escAt < 6; ++escAt) {
    for (int step = 0; step < 6; ++step) {
      if (step == 4) {
        if (step == escAt) Backend().QueueInput(std::nullopt);
        else Backend().QueueInput("7");
      } else {
        Backend().QueueMessageBox(step == escAt ? IDCANCEL : (step == 5 ? IDYES : IDNO),
                                  step == 5 ? "SET PREFERENCE" : "UPDATE DURING FIT");
      }
      if (step == escAt) break;
    }
    Dispatch(kCmChangeFitUpdating);
    EXPECT_TRUE(Backend().AllAnswersUsed()) << escAt;
    EXPECT_TRUE(DataPlots().bUpdateDataPlotDuringFit && DataPlots().bUpdateResidualBitmapDuringFit) << escAt;
    EXPECT_FALSE(DataPlots().bUpdateResidualPlotDuringFit || DataPlots().bUpdateDistributionDuringFit) << escAt;
    EXPECT_FLOAT_EQ(DataPlots().fMaxUpdateInterval, 2.5f) << escAt;
    EXPECT_EQ(ReadFile(szParamsIni), file) << escAt;
  }
}

// Each question of the chain shows the current setting as its default answer:
// Enter at every step keeps every combination of the four switches.
TEST_F(OptionCommandTest, FitUpdatingQuestionsAnswerWithTheCurrentSettingOnEnter) {
  bool* const panes[] = {&DataPlots().bUpdateDataPlotDuringFit, &DataPlots().bUpdateResidualPlotDuringFit,
                         &DataPlots().bUpdateResidualBitmapDuringFit, &DataPlots().bUpdateDistributionDuringFit};
  for (int set = 0; set < 16; ++set) {
    for (int i = 0; i < 4; ++i) *panes[i] = (set >> i) & 1;
    for (int i = 0; i < 4; ++i) Backend().QueueMessageBoxEnter("UPDATE DURING FIT");
    Backend().QueueInput("1.5");
    Backend().QueueMessageBoxEnter("SET PREFERENCE");
    Dispatch(kCmChangeFitUpdating);
    EXPECT_TRUE(Backend().AllAnswersUsed()) << set;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(*panes[i], ((set >> i) & 1) != 0) << set << " pane " << i;
  }
}

// Every command whose save fails says so, also after an earlier failure of the
// session; one command reports its failure once however often it writes.
TEST_F(OptionCommandTest, EachCommandReportsItsFailedPreferenceWrite) {
  // /proc/loadavg cannot be written, not even by root.
  szParamsIni = "/proc/loadavg";
  for (const char* step : {"0.002", "0.003"}) {
    Backend().ClearTranscript();
    Backend().QueueInput(step);
    Backend().QueueMessageBox(IDYES, "SET PREFERENCE");  // save as default setting?
    Backend().QueueMessageBox(IDOK, "ERROR");
    Dispatch(kCmSetRadialResolution);
    EXPECT_TRUE(Backend().AllAnswersUsed()) << step;
    EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, std::stof(step));
    ASSERT_FALSE(Backend().Transcript().empty());
    EXPECT_EQ(Backend().Transcript().back().text.rfind("could not write to disk into directory /proc/loadavg", 0),
              0u);
  }
  // Within one command a second failed write stays silent.
  const std::size_t boxes = Backend().Transcript().size();
  EXPECT_EQ(WritePreferences(nullptr), 0);
  EXPECT_EQ(Backend().Transcript().size(), boxes);
}

}  // namespace
}  // namespace tarmic::testing
