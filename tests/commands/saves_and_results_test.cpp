// What a user saves and sees belongs to what was computed: a save asks before it
// replaces a file, Save Fit Data writes one set into one folder and only a fit
// that exists, a result is shown, copied and saved only under the model that
// computed it, and the status line of a fit goes with the data it was counted on.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "distribution_window_test_support.h"
#include "distributions/distribution_plot.h"
#include "modelcalc/fit_result_text.h"
#include "scandata/radial_grid.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fluorescence_detection.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

class SavesAndResultsTest : public DistributionWindowTest {
 protected:
  void RunSmallCs() {
    LoadSyntheticRun();
    ChooseSmallCs();
    Dispatch(kCmRun);
    ASSERT_TRUE(FitOfLoadedData());
    Backend().ClearTranscript();
  }
  std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file() && e.path().filename().string()[0] != '.') names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int ReplaceQuestions() {
    int n = 0;
    for (const std::string& t : BoxTexts()) n += t.find("already exists") != std::string::npos;
    return n;
  }
};

// Save Continuous Distribution over an existing file asks first: No keeps the file,
// Yes replaces it with the distribution.
TEST_F(SavesAndResultsTest, SaveContinuousDistributionAsksBeforeReplacingAFile) {
  RunSmallCs();
  const std::string target = ProgramDir() + "/distribution.dat";
  WriteFile(target, "an earlier c(M)\n");
  Backend().QueueSaveFile(target);
  Backend().QueueMessageBox(IDNO, "REPLACE FILES?");
  Dispatch(kCmSaveContinuousDistribution);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(ReplaceQuestions(), 1);
  EXPECT_EQ(ReadFile(target), "an earlier c(M)\n");

  Backend().QueueSaveFile(target);
  Backend().QueueMessageBox(IDYES, "REPLACE FILES?");
  Dispatch(kCmSaveContinuousDistribution);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::vector<std::string> lines = Lines(ReadFile(target));
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[0], "# TARMIC distribution c(s)");
}

// With a new folder typed for the fitted data, the residuals and the report are
// proposed in that folder, and the set lands there whole; the data folder gets
// nothing but the program's own saved parameters. Saved again over itself, the set
// is asked about once, and No leaves every file and names no file that never
// existed.
TEST_F(SavesAndResultsTest, SaveFitDataWritesItsSetIntoOneFolderAskedOnce) {
  RunSmallCs();
  const std::string data = ProgramDir() + "/data";
  const std::string elsewhere = ProgramDir() + "/elsewhere";
  fs::create_directories(elsewhere);
  std::vector<std::string> dataBefore = Files(data);
  std::vector<std::string> proposed;
  HeadlessBackend::UnscriptedRules rules;
  rules.save = [&](const FileDialogOptions& o) -> std::optional<std::string> {
    proposed.push_back(o.directory);
    // The first file goes elsewhere; the others are taken where they are proposed.
    return (proposed.size() == 1 ? elsewhere : o.directory) + "/" + o.defaultName;
  };
  int asked = 0;
  int answer = IDYES;
  rules.box = [&](std::string_view text, std::string_view, unsigned) {
    if (text.find("already exists") != std::string_view::npos) {
      ++asked;
      return answer;
    }
    return IDOK;
  };
  Backend().SetUnscriptedRules(rules);
  Dispatch(kCmSaveFitData);
  ASSERT_EQ(proposed.size(), 3u);
  EXPECT_EQ(proposed[1], elsewhere);
  EXPECT_EQ(proposed[2], elsewhere);
  EXPECT_EQ(asked, 0);
  // Every scan's fit and residuals and the report, and nothing else.
  std::vector<std::string> expected{"fitparams.txt"};
  for (int s = 1; s <= DataSet().nScans; ++s) {
    expected.push_back("f" + DataSet().ppScanFileNames[Idx(s)].substr(1));
    expected.push_back("r" + DataSet().ppScanFileNames[Idx(s)].substr(1));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Files(elsewhere), expected);
  std::vector<std::string> dataAfter = Files(data);
  std::erase(dataAfter, fs::path(DataSet().szTmpParsPath).filename().string());
  std::erase(dataAfter, fs::path(DataSet().szSdistPath).filename().string());
  std::erase(dataBefore, fs::path(DataSet().szSdistPath).filename().string());
  EXPECT_EQ(dataAfter, dataBefore) << "nothing of the set goes to the data folder";

  // The same save again: one question for the whole set; No keeps every file.
  std::map<std::string, std::string> before;
  for (const std::string& f : Files(elsewhere)) before[f] = ReadFile(elsewhere + "/" + f);
  proposed.clear();
  answer = IDNO;
  Backend().ClearTranscript();
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(asked, 1);
  for (const auto& [f, contents] : before) EXPECT_EQ(ReadFile(elsewhere + "/" + f), contents) << f;
  for (const std::string& t : BoxTexts()) EXPECT_EQ(t.find("not replaced"), std::string::npos) << t;

  // Into a fresh folder where only the report exists: the one question names it,
  // and No names no fit or residual file as left alone.
  const std::string fresh = ProgramDir() + "/fresh";
  fs::create_directories(fresh);
  WriteFile(fresh + "/fitparams.txt", "earlier report\n");
  proposed.clear();
  asked = 0;
  Backend().ClearTranscript();
  rules.save = [&](const FileDialogOptions& o) -> std::optional<std::string> {
    proposed.push_back(o.directory);
    return (proposed.size() == 1 ? fresh : o.directory) + "/" + o.defaultName;
  };
  Backend().SetUnscriptedRules(rules);
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Files(fresh), std::vector<std::string>{"fitparams.txt"});
  EXPECT_EQ(ReadFile(fresh + "/fitparams.txt"), "earlier report\n");
  for (const std::string& t : BoxTexts()) {
    EXPECT_EQ(t.find("not replaced"), std::string::npos) << t;
    EXPECT_EQ(t.find(fresh + "/f0"), std::string::npos) << t;
    EXPECT_EQ(t.find(fresh + "/r0"), std::string::npos) << t;
  }
}

// Save Noise is a set too: the RI file is proposed where the TI file went, and the
// pair saved again over itself is asked about once; No keeps both files.
TEST_F(SavesAndResultsTest, SaveNoiseWritesItsPairIntoOneFolderAskedOnce) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  Dispatch(kCmRun);
  ASSERT_TRUE(FitOfLoadedData());
  const std::string elsewhere = ProgramDir() + "/noise";
  fs::create_directories(elsewhere);
  std::vector<std::string> proposed;
  int asked = 0;
  int answer = IDYES;
  HeadlessBackend::UnscriptedRules rules;
  rules.save = [&](const FileDialogOptions& o) -> std::optional<std::string> {
    proposed.push_back(o.directory);
    return (proposed.size() == 1 ? elsewhere : o.directory) + "/" + o.defaultName;
  };
  rules.box = [&](std::string_view text, std::string_view, unsigned) {
    if (text.find("already exists") == std::string_view::npos) return IDOK;
    ++asked;
    return answer;
  };
  Backend().SetUnscriptedRules(rules);
  Dispatch(kCmSaveNoise);
  ASSERT_EQ(proposed.size(), 2u);
  EXPECT_EQ(proposed[1], elsewhere);
  const std::string ext = DataSet().ppScanFileNames[1].substr(DataSet().ppScanFileNames[1].rfind('.'));
  EXPECT_EQ(Files(elsewhere), (std::vector<std::string>{"RIN" + ext, "TIN" + ext}));
  EXPECT_EQ(asked, 0);

  const std::string ti = ReadFile(elsewhere + "/TIN" + ext), ri = ReadFile(elsewhere + "/RIN" + ext);
  for (int k = 1; k <= DataSet().nScans; ++k) CurrentGrid().pRINoise[k] += 0.5f;
  proposed.clear();
  answer = IDNO;
  Dispatch(kCmSaveNoise);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ReadFile(elsewhere + "/TIN" + ext), ti);
  EXPECT_EQ(ReadFile(elsewhere + "/RIN" + ext), ri);
}

// A model chosen but nothing computed: Save Fit Data says what to do first and
// asks for no file (it wrote a fit of zeros for every scan).
TEST_F(SavesAndResultsTest, SaveFitDataWithNothingComputedSaysRunOrFitFirst) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Backend().ClearTranscript();
  const std::vector<std::string> before = Files(ProgramDir() + "/data");
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNoFitOfLoadedDataText});
  EXPECT_EQ(Shown("SaveFile"), 0);
  EXPECT_EQ(Files(ProgramDir() + "/data"), before);
}

// A c(s) computed, then c(M) chosen without a Run: no pane, no copy, no save, no
// Monte Carlo and no rmsd of the c(s) under the c(M) model's name, each saying what
// to do first. Back
// to c(s), its own result is there again, the same values over the same s grid.
TEST_F(SavesAndResultsTest, AResultIsShownCopiedAndSavedOnlyUnderTheModelThatComputedIt) {
  RunSmallCs();
  Backend().AnswerUnscriptedBoxes(IDOK);  // the model switches' notes
  Dispatch(kCmCopyDistribution);
  const std::string table = Backend().ClipboardTextValue();
  const std::vector<std::string> rows = Lines(table);
  ASSERT_EQ(rows.size(), 41u);
  EXPECT_EQ(rows[0].rfind("sed coefficient", 0), 0u) << rows[0];
  // The s grid of the model: 0 to 12 S on 40 points.
  EXPECT_NEAR(std::stod(Fields(rows[1])[0]), 0.0, 1e-6);
  EXPECT_NEAR(std::stod(Fields(rows[40])[0]), 12.0, 1e-4);
  const double rmsd = FitRmsd();
  EXPECT_TRUE(DistributionPaneShown());

  Dispatch(kCmContinuousCM);
  Backend().ClearTranscript();
  EXPECT_FALSE(DistributionPaneShown());
  EXPECT_FALSE(FitOfLoadedData());
  EXPECT_EQ(RmsdLine(), std::string(kNoFitOfLoadedDataText));
  Backend().SetClipboardText("untouched");
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmCopyDistribution);
  EXPECT_EQ(Backend().ClipboardTextValue(), "untouched");
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmSaveContinuousDistribution);
  EXPECT_EQ(Shown("SaveFile"), 0);
  // Nor are Monte-Carlo sets made of the c(s) normal equations under the c(M) name.
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmMonteCarloDistributions);
  EXPECT_EQ(Shown("Input"), 0);
  EXPECT_EQ(BoxTexts().size(), 3u);
  for (const std::string& t : BoxTexts()) EXPECT_NE(t.find("first"), std::string::npos) << t;
  // The copied report of the c(M) model gives no rmsd of the c(s) fit.
  Dispatch(kCmCopyFitParameters);
  const std::string report = Backend().ClipboardTextValue();
  EXPECT_NE(report.find(kNoFitOfLoadedDataText), std::string::npos) << report;
  EXPECT_EQ(report.find("rmsd"), std::string::npos) << report;

  Dispatch(kCmContinuousCs);
  EXPECT_TRUE(DistributionPaneShown());
  EXPECT_TRUE(FitOfLoadedData());
  EXPECT_FLOAT_EQ(FitRmsd(), static_cast<float>(rmsd));
  Dispatch(kCmCopyDistribution);
  EXPECT_EQ(Backend().ClipboardTextValue(), table);
}

// The status line of a fit ("s1, step #2") belongs to the data it was counted on:
// a new load clears it.
TEST_F(SavesAndResultsTest, TheStatusLineOfAFitGoesWithTheDataItWasCountedOn) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().pParamFitFlags[13] = 1;
  UnpackModelParams();
  UiEvents().Post(Event::KeyDown('S'));
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmFit);
  const std::string status = BuildFitResultLines()[kSlotStatus];
  EXPECT_EQ(status.rfind("s", 0), 0u) << status;
  EXPECT_NE(status.find("step #"), std::string::npos) << status;

  Backend().AnswerUnscriptedBoxes(IDNO);  // not the analysis just saved
  LoadSyntheticRun();
  EXPECT_EQ(BuildFitResultLines()[kSlotStatus], "");
}

// Excluding a region with the nonlinear-detection transform on: the grid rebuild
// redraws the plots through the transform, which must not meet the curves of the
// scans' released arrays (it read freed memory). The points in the region go; the
// scans keep their names (the fit overlay and the saves are named by them).
TEST_F(SavesAndResultsTest, ExcludingARegionUnderTheDetectionTransformRedrawsOnlyLiveCurves) {
  LoadSyntheticRun();
  FluorescenceDetection().bNonlinearDetection = true;
  FluorescenceDetection().dAppliedPower = 1.0;
  const int before = DataSet().pnPoints[1];
  const std::vector<std::string> names = DataSet().ppScanFileNames;
  Backend().QueueInput("6.5");
  Backend().QueueInput("6.6");
  Backend().QueueMessageBox(IDNO, "");  // save new data?
  Dispatch(kCmExcludeRegion);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_LT(DataSet().pnPoints[1], before);
  for (int i = 1; i <= DataSet().pnPoints[1]; ++i)
    EXPECT_FALSE(DataSet().ppRadius[1][i] > 6.5f && DataSet().ppRadius[1][i] < 6.6f) << DataSet().ppRadius[1][i];
  EXPECT_EQ(DataSet().ppScanFileNames, names);
  FluorescenceDetection().bNonlinearDetection = false;
}

// The points of an excluded region count in no fit: a c(s) Run on the scans with
// 6.5 to 6.6 cm excluded fits the points outside the region as well as the Run on
// the whole scans did (the residuals there do not grow by the fit of a line bridged
// across the region).
TEST_F(SavesAndResultsTest, AnExcludedRegionLeavesTheFitOfTheOtherPointsAsItWas) {
  const auto rmsdBelow = [](float radius) {
    double sum = 0.0;
    long count = 0;
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int p = DataSet().pFitFirst[Idx(s)]; p <= DataSet().pFitLast[Idx(s)]; ++p)
        if (DataSet().ppRadius[Idx(s)][p] < radius) {
          const double d = DataSet().ppSignal[Idx(s)][p] - DataSet().ppFit[Idx(s)][p];
          sum += d * d;
          ++count;
        }
    return std::sqrt(sum / static_cast<double>(count));
  };
  RunSmallCs();
  const double whole = rmsdBelow(6.5f);
  Backend().QueueInput("6.5");
  Backend().QueueInput("6.6");
  Backend().QueueMessageBox(IDNO, "");  // save new data?
  Dispatch(kCmExcludeRegion);
  Dispatch(kCmRun);
  ASSERT_TRUE(FitOfLoadedData());
  EXPECT_LT(rmsdBelow(6.5f), 1.05 * whole);
  EXPECT_LT(FitRmsd(), 1.05 * kSyntheticNoise);
}

}  // namespace
}  // namespace tarmic::testing
