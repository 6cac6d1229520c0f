// Loading scan sets through the scripted backend, as the menu commands do: the
// loaded set's order, geometry, grid and derived paths, the "LOAD ERROR" boxes, and
// that a failed load leaves the previous set in place. Also the stored file list,
// the scan-list files and the small files kept beside the data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "numerics/one_based.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "services/answer_policy.h"
#include "text/number_token.h"
#include "scandata/analysis_switches.h"
#include "scandata/experiment_file.h"
#include "scandata/file_list.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"
#include "scandata/time_stamps.h"
#include "scandata_test_support.h"
#include "tests/watchdog.h"

namespace tarmic::testing {
namespace {

// A scan file in the instrument format with n points from 5.90 cm in steps of
// 0.01 cm.
std::string ScanText(const std::string& description, char type, double time, float temperature = 20.0f,
                     int n = 121) {
  std::string s = description + "\n" + type + " 1 " + std::to_string(temperature) + " 40000 " +
                  std::to_string(static_cast<long>(time)) + " 1.0e10 280 1\n";
  char line[96];
  for (int i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "   %1.4f  %1.5e   %1.5e \n", 5.90 + 0.01 * i, 0.2 + 0.001 * i, 0.01);
    s += line;
  }
  return s;
}

class ScanLoadingTest : public ScanDataTest {
 protected:
  void SetUp() override {
    ScanDataTest::SetUp();
    UiEvents().Clear();
    auto& hooks = GetDataSetHooks();
    hooks.progressBegin = [this](Window*) { calls.push_back("progressBegin"); };
    hooks.progressEnd = [this] { calls.push_back("progressEnd"); };
    hooks.rebuildDataAndResidualPlots = [this] { calls.push_back("rebuild"); };
    hooks.redrawDataPlot = [this](bool) { calls.push_back("redrawData"); };
    hooks.redrawResidualPlot = [this](bool) { calls.push_back("redrawResiduals"); };
    hooks.writeDebugLog = [this](Window*, const std::string& text) { log += text; };
    hooks.runAfterReload = [this](Window*) { calls.push_back("run"); };
  }
  void TearDown() override {
    UiEvents().Clear();
    ScanDataTest::TearDown();
  }

  Window* MainWindow() { return &GetBackend().MainWindow(); }

  // "Load New Files": the open-file dialog, then the loader with its selection.
  void LoadNewFiles(const std::vector<std::string>& paths) {
    backend->QueueOpenFiles(paths);
    FileDialogOptions options;
    options.multiSelect = true;
    std::vector<std::string> chosen = GetBackend().OpenFileDialog(options);
    if (!chosen.empty()) LoadAllData(MainWindow(), MakeSelectionBuffer(chosen).c_str(), FrontEndAnswers());
  }
  // "Add More Files".
  void AddMoreFiles(const std::vector<std::string>& paths) {
    backend->QueueOpenFiles(paths);
    FileDialogOptions options;
    options.multiSelect = true;
    std::vector<std::string> chosen = GetBackend().OpenFileDialog(options);
    if (!chosen.empty()) AddMoreData(MainWindow(), MakeSelectionBuffer(chosen).c_str(), FrontEndAnswers());
  }

  std::vector<std::string> SetAbsPaths() {
    return {FixturePath("set_abs/00001.ra1"), FixturePath("set_abs/00002.ra1"),
            FixturePath("set_abs/00003.ra1")};
  }

  std::vector<std::string> MessageTexts() {
    std::vector<std::string> out;
    for (const TranscriptEntry& e : backend->Transcript())
      if (e.kind == "MessageBox") out.push_back(e.caption + ": " + e.text);
    return out;
  }

  ScopedHeadlessBackend backend;
  std::vector<std::string> calls;
  std::string log;
};

TEST_F(ScanLoadingTest, LoadNewFilesOrdersScansByTimeAndSetsGridAndLimits) {
  LoadNewFiles(SetAbsPaths());
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_TRUE(MessageTexts().empty());
  EXPECT_EQ(DataSet().ppScanFileNames[1], "00001.ra1");
  // Elapsed times 3000, 1000, 2000 s in loading order.
  EXPECT_EQ(DataSet().pScanOrder[1], 2);
  EXPECT_EQ(DataSet().pScanOrder[2], 3);
  EXPECT_EQ(DataSet().pScanOrder[3], 1);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.90f);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.10f);
  EXPECT_NEAR(DataSet().fFitLeftLim, 5.91f, 1e-6) << "meniscus + 0.005, raised to meniscus + 0.01";
  EXPECT_NEAR(DataSet().fFitRightLim, 6.95f, 1e-6) << "bottom - 0.15";
  // The default ranges of meniscus and bottom, shown from now on and kept; below
  // the meniscus guessed from the first radius the range reaches 0.05 cm.
  EXPECT_NEAR(DataSet().fMinMeniscus, 5.85f, 1e-6);
  EXPECT_NEAR(DataSet().fMaxBottom, 7.15f, 1e-6);
  EXPECT_TRUE(DataSet().bFitRangesSet);
  EXPECT_GE(CurrentGrid().pGridRadius[CurrentGrid().iFitFirst], DataSet().fFitLeftLim);
  EXPECT_LE(CurrentGrid().pGridRadius[CurrentGrid().iFitLast], DataSet().fFitRightLim);
  EXPECT_GE(DataSet().ppRadius[1][DataSet().pFitFirst[1]], DataSet().fFitLeftLim);
  EXPECT_LT(DataSet().ppRadius[1][DataSet().pFitFirst[1] - 1], DataSet().fFitLeftLim);
  EXPECT_LE(DataSet().ppRadius[1][DataSet().pFitLast[1]], DataSet().fFitRightLim);
  EXPECT_GT(DataSet().ppRadius[1][DataSet().pFitLast[1] + 1], DataSet().fFitRightLim);
  EXPECT_EQ(DataSet().szDataDirectory, DirectoryOf(SetAbsPaths()[0]));
  EXPECT_FLOAT_EQ(DataSet().ppResiduals[2][5], DataSet().ppSignal[2][5]);
  EXPECT_TRUE(UiEvents().Any([](const Event& e) { return e.type == EventType::Paint; }));
}

TEST_F(ScanLoadingTest, ScansWithEqualTimesKeepTheirLoadingOrder) {
  const std::string dir = ScratchDir("equal_times");
  TimeStamps().bCheckTimeStamps = false;
  WriteText(dir + "/a.ra1", ScanText("a", 'R', 2000));
  WriteText(dir + "/b.ra1", ScanText("b", 'R', 1000));
  WriteText(dir + "/c.ra1", ScanText("c", 'R', 1000));
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1", dir + "/c.ra1"});
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().pScanOrder[1], 2);
  EXPECT_EQ(DataSet().pScanOrder[2], 3);
  EXPECT_EQ(DataSet().pScanOrder[3], 1);
}

TEST_F(ScanLoadingTest, UnreadableFileKeepsThePreviousSet) {
  LoadNewFiles(SetAbsPaths());
  ASSERT_EQ(DataSet().nScans, 3);
  float* const radiusBefore = DataSet().ppRadius[1];
  const int gridBefore = CurrentGrid().nGridPoints;

  const std::string dir = ScratchDir("bad_in_selection");
  CopyFixture("interference.ip1", dir + "/00001.ip1");
  CopyFixture("one_row.ra1", dir + "/00002.ip1");
  calls.clear();
  backend->QueueMessageBox(IDOK, "LOAD ERROR");
  LoadNewFiles({dir + "/00001.ip1", dir + "/00002.ip1"});
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"LOAD ERROR: " + dir + "/00002.ip1\nthe file holds fewer than two data rows"}));
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().ppRadius[1], radiusBefore);
  EXPECT_EQ(CurrentGrid().nGridPoints, gridBefore);
  EXPECT_EQ(DataSet().ppScanFileNames[3], "00003.ra1");
  EXPECT_TRUE(ScanFile().bAbsorbanceData);
  EXPECT_FALSE(ScanFile().bInterferenceData) << "the kind flags still describe the loaded set";
  EXPECT_EQ(calls, (std::vector<std::string>{"progressBegin", "progressEnd"}));
}

TEST_F(ScanLoadingTest, NonFiniteValueIsRefusedWithPathAndLineAndTheSetStays) {
  LoadNewFiles(SetAbsPaths());
  ASSERT_EQ(DataSet().nScans, 3);
  float* const radiusBefore = DataSet().ppRadius[1];
  const std::string dir = ScratchDir("non_finite");
  // 1e999 overflows to infinity; 1e39 overflows single precision.
  std::string dataLine = ScanText("overflow in data", 'R', 2000.0, 20.0f, 10);
  dataLine.replace(dataLine.find("2.03000e-01"), 11, "1e999");  // line 6
  std::string header = ScanText("overflow in line 2", 'R', 2000.0, 20.0f, 10);
  header.replace(header.find("1.0e10"), 6, "1e39");
  WriteText(dir + "/00001.ra1", ScanText("good", 'R', 1000.0, 20.0f, 10));
  WriteText(dir + "/00002.ra1", dataLine);
  WriteText(dir + "/00003.ra1", header);
  for (auto [bad, why] :
       {std::pair<const char*, const char*>{"00002.ra1", "line 6 holds \"1e999\", which is beyond 3.4e38"},
        std::pair<const char*, const char*>{
            "00003.ra1", "line 2 holds the omega^2 t 1e+39, outside what a rotor reaches in a run (0 to 1.097e+16)"}}) {
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK, "LOAD ERROR");
    LoadNewFiles({dir + "/00001.ra1", dir + "/" + bad});
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"LOAD ERROR: " + dir + "/" + bad + "\n" + why}));
    EXPECT_EQ(DataSet().nScans, 3);
    EXPECT_EQ(DataSet().ppRadius[1], radiusBefore);
    EXPECT_EQ(DataSet().ppScanFileNames[3], "00003.ra1");
  }
}

TEST_F(ScanLoadingTest, InterferenceWithAbsorbanceFilesIsMixedDataTypes) {
  LoadNewFiles(SetAbsPaths());
  const std::string dir = ScratchDir("mixed");
  CopyFixture("absorbance.ra1", dir + "/a.ra1");
  CopyFixture("interference.ip1", dir + "/b.ip1");
  backend->QueueMessageBox(IDOK, "ERROR");
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ip1"});
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"ERROR: mixed data types"}));
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "00001.ra1");
}

TEST_F(ScanLoadingTest, AbsorbanceWithIntensityFilesIsNotMixed) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("not_mixed");
  CopyFixture("absorbance.ra1", dir + "/a.ra1");
  CopyFixture("intensity.ri1", dir + "/b.ri1");
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ri1"});
  EXPECT_TRUE(MessageTexts().empty());
  EXPECT_EQ(DataSet().nScans, 2);
}

// The second file column is the sample, the third the reference: they stay where
// they are, and the grid holds log10(reference / sample).
TEST_F(ScanLoadingTest, IntensityScansHoldTheSampleAsSignalAndTheReferenceAsThirdColumn) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("intensity");
  CopyFixture("intensity.ri1", dir + "/a.ri1");
  CopyFixture("intensity.ri1", dir + "/b.ri1");
  AnalysisSwitches().bInitialDataProfile = true;
  AnalysisSwitches().bUniformLoading = false;
  backend->QueueMessageBox(IDOK, "ATTENTION");  // two copies: one time
  LoadNewFiles({dir + "/a.ri1", dir + "/b.ri1"});
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_FLOAT_EQ(DataSet().ppSignal[1][1], 1000.0f);
  EXPECT_FLOAT_EQ(DataSet().ppThirdColumn[1][1], 500.0f);
  EXPECT_NE(DataSet().ppThirdCurve[1], nullptr);
  EXPECT_FALSE(AnalysisSwitches().bInitialDataProfile);
  EXPECT_TRUE(AnalysisSwitches().bUniformLoading);
  // The sample column of the fixture rises linearly with radius.
  const double sample = 1000.0 + 1000.0 * (CurrentGrid().pGridRadius[3] - 5.90);
  EXPECT_NEAR(CurrentGrid().ppGridSignal[1][3], std::log10(500.0 / sample), 1e-4);
}

TEST_F(ScanLoadingTest, InterferenceDataFitSystematicNoise) {
  TimeStamps().bCheckTimeStamps = false;
  int buttons = 0;
  GetDataSetHooks().createNoiseButtons = [&](Window* w) {
    EXPECT_EQ(w, nullptr);
    ++buttons;
  };
  const std::string dir = ScratchDir("interference_set");
  CopyFixture("interference.ip1", dir + "/a.ip1");
  CopyFixture("interference.ip1", dir + "/b.ip1");
  backend->QueueMessageBox(IDOK, "ATTENTION");  // two copies: one time
  LoadNewFiles({dir + "/a.ip1", dir + "/b.ip1"});
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_TRUE(AnalysisSwitches().bFitTINoise && AnalysisSwitches().bFitRINoise);
  EXPECT_EQ(buttons, 1);
  EXPECT_DOUBLE_EQ(DataSet().dSignalPerConcentration, 3.3);
  EXPECT_FALSE(CurrentGrid().bGridCopies) << "both scans share one radius array";
}

TEST_F(ScanLoadingTest, OneFileOffersEquilibriumMode) {
  backend->QueueMessageBox(IDOK, "ERROR");
  backend->QueueMessageBox(IDNO, "LOAD ERROR");
  LoadNewFiles({FixturePath("absorbance.ra1")});
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"ERROR: only one file selected",
                                                      "LOAD ERROR: switch to Equilibrium Data Mode?"}));
  EXPECT_EQ(DataSet().nScans, 0);
  EXPECT_FALSE(DataSet().bEquilibriumMode);

  backend->QueueMessageBox(IDOK, "ERROR");
  backend->QueueMessageBox(IDYES, "LOAD ERROR");
  LoadNewFiles({FixturePath("absorbance.ra1")});
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  ASSERT_EQ(DataSet().nScans, 1);
  EXPECT_EQ(DataSet().szDataDirectory, DirectoryOf(FixturePath("absorbance.ra1")));
  EXPECT_EQ(ScanFilePath(1), FixturePath("absorbance.ra1"));
  EXPECT_TRUE(DataSet().pScanInfo[1].timeStampOk) << "equilibrium data count as checked";
  EXPECT_TRUE(backend->AllAnswersUsed());
}

TEST_F(ScanLoadingTest, TooManyScansAreRefusedAndTheSetStays) {
  LoadNewFiles(SetAbsPaths());
  std::vector<std::string> many;
  for (int i = 0; i < kMaxScans + 1; ++i) many.push_back("/nowhere/" + std::to_string(i) + ".ra1");
  AnalysisSwitches().bRealtimeMode = true;
  backend->QueueMessageBox(IDOK, "LOAD ERROR");
  LoadNewFiles(many);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"LOAD ERROR: too many scans selected: at most 1000 scans can be loaded"}));
  EXPECT_TRUE(AnalysisSwitches().bRealtimeLoadError);
  EXPECT_EQ(DataSet().nScans, 3);
}

TEST_F(ScanLoadingTest, TemperatureFluctuationsAreReportedAfterLoading) {
  TimeStamps().bCheckTimeStamps = false;
  int temperaturePlots = 0;
  GetDataSetHooks().showTemperaturePlot = [&](Window*) { ++temperaturePlots; };
  const std::string dir = ScratchDir("temperatures");
  WriteText(dir + "/a.ra1", ScanText("a", 'R', 1000, 20.0f));
  WriteText(dir + "/b.ra1", ScanText("b", 'R', 2000, 21.5f));
  backend->QueueMessageBox(IDOK, "ERROR");
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1"});
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"ERROR: temperature fluctuations exceed 1.0 degrees"}));
  EXPECT_EQ(temperaturePlots, 1);
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_NEAR(DataSet().fTemperatureK, 294.65f, 1e-4) << "the temperature of the last loaded scan";
}

// Velocity scans that all hold one time show no movement: loaded, with a word.
// Equal times of some scans, or of equilibrium data, say nothing.
TEST_F(ScanLoadingTest, VelocityScansThatAllHoldOneTimeAreReported) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("one_time");
  for (const char* name : {"a", "b", "c"}) WriteText(dir + "/" + name + ".ra1", ScanText(name, 'R', 1000));
  const std::vector<std::string> files = {dir + "/a.ra1", dir + "/b.ra1", dir + "/c.ra1"};
  backend->QueueMessageBox(IDOK, "ATTENTION");
  LoadNewFiles(files);
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"ATTENTION: all 3 scans hold the same time, 1000 s: a sedimentation "
                                      "velocity analysis needs scans taken at different times - check "
                                      "line 2 of the scan files"}));
  backend->ClearTranscript();
  DataSet().bEquilibriumMode = true;
  LoadNewFiles(files);
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_TRUE(MessageTexts().empty());
}

// A pipe among the selected files would keep the load waiting for a writer for
// ever: it is left out, and the note names it. So are the temporaries a save left
// behind when the program was ended during it, of the present naming and of the
// earlier one.
TEST_F(ScanLoadingTest, PipesAndUnfinishedSavesAreLeftOutAndNamed) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("pipe");
  WriteText(dir + "/a.ra1", ScanText("a", 'R', 1000));
  WriteText(dir + "/b.ra1", ScanText("b", 'R', 2000));
  // Cut short, with a time of its own: read as a scan it would load.
  WriteText(dir + "/.b.ra1.tmp-host-4242-0.part", ScanText("b", 'R', 2000, 20.0f, 51));
  WriteText(dir + "/b.ra1.tmp4242_1", ScanText("b", 'R', 2500, 20.0f, 51));
  ASSERT_EQ(::mkfifo((dir + "/c.ra1").c_str(), 0600), 0);
  backend->QueueMessageBox(IDOK, "ATTENTION");
  {
    Watchdog watchdog("loading a selection with a pipe");
    LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1", dir + "/c.ra1", dir + "/.b.ra1.tmp-host-4242-0.part",
                  dir + "/b.ra1.tmp4242_1"});
  }
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                "ATTENTION: not loaded - written by this program, not scan data:\n"
                                ".b.ra1.tmp-host-4242-0.part (unfinished save)\n"
                                "b.ra1.tmp4242_1 (unfinished save)\n"
                                "not loaded - not a regular file (a pipe, a device or a folder):\nc.ra1"}));
  // Read directly, the pipe is refused at once with the reason.
  ScanInfo info;
  int n = 0;
  float *r = nullptr, *y = nullptr;
  std::string why;
  {
    Watchdog watchdog("reading a pipe");
    EXPECT_EQ(ReadScanFile((dir + "/c.ra1").c_str(), &info, &n, &r, &y, nullptr, nullptr, 0.0f, &why), 0);
  }
  EXPECT_EQ(why, "it is not a regular file (a pipe, a device or a folder)");
}

TEST_F(ScanLoadingTest, AddMoreFilesWithOneBadFileAddsTheGoodOnes) {
  const std::string dir = ScratchDir("add_more");
  for (const char* name : {"00001.ra1", "00002.ra1", "00003.ra1"})
    CopyFixture(std::string("set_abs/") + name, dir + "/" + name);
  CopyFixture("one_row.ra1", dir + "/00004.ra1");
  LoadNewFiles({dir + "/00001.ra1", dir + "/00003.ra1"});
  ASSERT_EQ(DataSet().nScans, 2);

  calls.clear();
  backend->QueueMessageBox(IDOK, "LOAD ERROR");
  AddMoreFiles({dir + "/00002.ra1", dir + "/00004.ra1"});
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"LOAD ERROR: " + dir + "/00004.ra1\nthe file holds fewer than two data rows"}));
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().ppScanFileNames[3], "00002.ra1");
  EXPECT_EQ(DataSet().pScanOrder[1], 3) << "the added scan has the earliest time";
  EXPECT_NE(DataSet().ppDataCurve[3], nullptr);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "rebuild"), calls.end());
}

// Added files that cannot join the set (their grid cannot be built) leave the kind
// flags of the loaded set.
TEST_F(ScanLoadingTest, AddedFilesThatDoNotJoinLeaveTheKindOfTheLoadedSet) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("add_kind");
  CopyFixture("interference.ip1", dir + "/a.ip1");
  CopyFixture("interference.ip1", dir + "/b.ip1");
  CopyFixture("absorbance.ra1", dir + "/c.ra1");
  backend->QueueMessageBox(IDOK, "ATTENTION");  // two copies: one time
  LoadNewFiles({dir + "/a.ip1", dir + "/b.ip1"});
  ASSERT_EQ(DataSet().nScans, 2);
  ASSERT_TRUE(ScanFile().bInterferenceData);
  const float step = RadialGrid().fRadialStep;
  RadialGrid().fRadialStep = 1.0e-7f;  // no common grid can be built for absorbance scans
  backend->ClearTranscript();
  backend->QueueMessageBox(IDOK, "Error");
  AddMoreFiles({dir + "/c.ra1"});
  EXPECT_EQ(DataSet().nScans, 2);
  ASSERT_EQ(MessageTexts().size(), 1u);
  EXPECT_NE(MessageTexts()[0].find("cannot be used for the common grid"), std::string::npos);
  EXPECT_TRUE(ScanFile().bInterferenceData);
  EXPECT_FALSE(ScanFile().bAbsorbanceData);
  RadialGrid().fRadialStep = step;
}

TEST_F(ScanLoadingTest, AddedFileWithoutTimeStampMarkIsReportedOnce) {
  const std::string dir = ScratchDir("add_unmarked");
  WriteText(dir + "/a.ra1", ScanText("[T OK]a", 'R', 1000));
  WriteText(dir + "/b.ra1", ScanText("[T OK]b", 'R', 2000));
  WriteText(dir + "/c.ra1", ScanText("c", 'R', 3000));
  WriteText(dir + "/d.ra1", ScanText("d", 'R', 4000));
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1"});
  backend->QueueMessageBox(IDOK, "LOAD ERROR");
  AddMoreFiles({dir + "/c.ra1", dir + "/d.ra1"});
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"LOAD ERROR: " + dir + "/c.ra1\n time stamp correction discrepancy with previous data!"}));
  EXPECT_EQ(DataSet().nScans, 4);
}

TEST_F(ScanLoadingTest, ReloadsReadTheStoredList) {
  LoadNewFiles(SetAbsPaths());
  StoreFileList(1);  // without scan number 1
  ASSERT_EQ(FileList().nStoredFiles, 2);
  EXPECT_EQ(FileList().ppStoredFileNames[1], FixturePath("set_abs/00002.ra1"));

  ReloadDataSelection(MainWindow(), FrontEndAnswers());
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "00002.ra1");

  StoreFileList(0);
  LoadDataFromFileList(MainWindow(), FrontEndAnswers());
  EXPECT_EQ(DataSet().nScans, 2);
}

TEST_F(ScanLoadingTest, FailedReloadKeepsTheSet) {
  LoadNewFiles(SetAbsPaths());
  FileList().nStoredFiles = 1;
  FileList().ppStoredFileNames = {"", "/nowhere/missing.ra1"};
  backend->QueueMessageBox(IDOK, "LOAD ERROR");
  LoadDataFromFileList(MainWindow(), FrontEndAnswers());
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"LOAD ERROR: /nowhere/missing.ra1\nthe file cannot be opened"}));
  EXPECT_EQ(DataSet().nScans, 3);
}

TEST_F(ScanLoadingTest, ScanListFileWithGroupsLoadsTheFirstOfEachGroup) {
  const std::string dir = ScratchDir("list_groups");
  std::string list = "newformat n=2\n" + dir + "\n";
  for (int i = 1; i <= 6; ++i) {
    const std::string name = "s" + std::to_string(i) + ".ra1";
    WriteText(dir + "/" + name, ScanText("[T OK]" + name, 'R', 1000.0 * i));
    list += name + "\n";
  }
  WriteText(dir + "/series.lst", list);
  ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/series.lst").c_str()));
  EXPECT_EQ(DataSet().nFilesPerScan, 2);
  ASSERT_EQ(FileList().nStoredFiles, 3);
  EXPECT_EQ(FileList().ppStoredFileNames[2], dir + "/s3.ra1");
  EXPECT_EQ(FileList().ppStoredFileNames[3], dir + "/s5.ra1");
  LoadDataFromFileList(MainWindow(), FrontEndAnswers());
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().ppScanFileNames[3], "s5.ra1");
}

TEST_F(ScanLoadingTest, OldFormatListReadsUnderscoresAsPointsAndSkipsComments) {
  const std::string dir = ScratchDir("list_old");
  WriteText(dir + "/names.txt", "% a velocity run\n/data/run7\nrun_01_ra1\n% the next scan\nrun_02_ra1 % late\n\nignored_ra1\n");
  ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/names.txt").c_str()));
  ASSERT_EQ(FileList().nStoredFiles, 2);
  EXPECT_EQ(FileList().ppStoredFileNames[1], "/data/run7/run.01.ra1");
  EXPECT_EQ(FileList().ppStoredFileNames[2], "/data/run7/run.02.ra1");
  EXPECT_EQ(DataSet().szDataDirectory, "/data/run7");
}

TEST_F(ScanLoadingTest, ListCorrRoundTripsAlsoForOneScan) {
  const std::string dir = ScratchDir("listcorr");
  WriteText(dir + "/a.ra1", ScanText("a", 'R', 1000));
  WriteText(dir + "/b.ra1", ScanText("b", 'R', 2000));
  TimeStamps().bCheckTimeStamps = false;
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1"});
  StoreFileList(0);
  ASSERT_TRUE(WriteScanListFile());
  EXPECT_EQ(ReadText(dir + "/list_corr.ra1"), "newformat n=1\n" + dir + "\na.ra1\nb.ra1\n");
  FreeFileList();
  ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/list_corr.ra1").c_str()));
  EXPECT_EQ(FileList().nStoredFiles, 2);
  EXPECT_EQ(FileList().ppStoredFileNames[2], dir + "/b.ra1");

  // One scan: the writer gives the directory and the name, the reader reads them
  // back as that file; a list of a single line names the file by its path.
  for (const char* header : {"newformat n=1", "newformat n= 1", "NEWFORMAT N=\t1 "}) {
    WriteText(dir + "/one.lst", std::string(header) + "\n" + dir + "\na.ra1\n");
    ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/one.lst").c_str())) << header;
    ASSERT_EQ(FileList().nStoredFiles, 1);
    EXPECT_EQ(FileList().ppStoredFileNames[1], dir + "/a.ra1");
  }
  WriteText(dir + "/path.lst", dir + "/b.ra1\n");
  ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/path.lst").c_str()));
  ASSERT_EQ(FileList().nStoredFiles, 1);
  EXPECT_EQ(FileList().ppStoredFileNames[1], dir + "/b.ra1");
}

// The header "newformat n=N" with any blanks (spaces, tabs, several) after the word
// and around "=" and N, in any case, is the header: the directory and every name
// stay in their places. A first line that begins with the word but is no such
// header is refused naming line 1, never taken as the directory.
TEST_F(ScanLoadingTest, ListHeaderIsReadByItsWordsWhateverTheBlanks) {
  const std::string dir = ScratchDir("list_header");
  const std::vector<std::string> blanks = {"", " ", "\t", "  ", " \t ", "\t\t"};
  int headers = 0;
  for (const std::string& word : {"newformat", "NewFormat", "NEWFORMAT"})
    for (const std::string& afterWord : blanks)
      for (const std::string& aroundEquals : blanks)
        for (const std::string& beforeN : blanks) {
          const std::string header = word + afterWord + "n" + aroundEquals + "=" + beforeN + "2" + aroundEquals;
          SCOPED_TRACE(header);
          WriteText(dir + "/h.lst", header + "\n" + dir + "\na.ra1\nb.ra1\nc.ra1\nd.ra1\n");
          if (afterWord.empty()) {
            // "newformatn=2": no blank after the word.
            backend->QueueMessageBox(IDOK);
            EXPECT_FALSE(ReadScanListFile(MainWindow(), (dir + "/h.lst").c_str(), false));
            continue;
          }
          ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/h.lst").c_str(), false));
          EXPECT_EQ(DataSet().nFilesPerScan, 2);
          ASSERT_EQ(FileList().nStoredFiles, 2);
          EXPECT_EQ(FileList().ppStoredFileNames[1], dir + "/a.ra1");
          EXPECT_EQ(FileList().ppStoredFileNames[2], dir + "/c.ra1");
          ++headers;
        }
  EXPECT_EQ(headers, 3 * 5 * 6 * 6);
  // Each refused header with what line 1 is said to hold.
  const std::pair<std::string, std::string> refused[] = {
      {"newformat", "\"newformat\", which is no header"},
      {"newformat m=2", "\"newformat m=2\", which is no header"},
      {"newformat\tn:2", "\"newformat\tn:2\", which is no header"},
      {"newformatn=2", "\"newformatn=2\", which is no header"},
      {"newformat n 2", "\"newformat n 2\", which is no header"},
      {"newformat n=", "\"\" as the number of files per scan"},
      {"newformat\tn =2.5", "\"2.5\" as the number of files per scan"},
      {"newformat  n=\t0", "\"0\" as the number of files per scan"},
      {"newformat\tn=10000 ", "\"10000\" as the number of files per scan"},
  };
  for (const auto& [header, holds] : refused) {
    SCOPED_TRACE(header);
    WriteText(dir + "/bad.lst", header + "\n" + dir + "\na.ra1\n");
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK);
    EXPECT_FALSE(ReadScanListFile(MainWindow(), (dir + "/bad.lst").c_str(), false));
    const std::vector<std::string> said = MessageTexts();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("line 1 holds " + holds), std::string::npos) << said[0];
  }
}

TEST_F(ScanLoadingTest, ListFileOfMoreThanTheScanLimitIsRefused) {
  const std::string dir = ScratchDir("list_many");
  std::string list = "newformat n=1\n/data\n";
  for (int i = 0; i <= kMaxScans; ++i) list += std::to_string(i) + ".ra1\n";
  WriteText(dir + "/many.lst", list);
  FileList().nStoredFiles = 1;
  FileList().ppStoredFileNames = {"", "/data/kept.ra1"};
  backend->QueueMessageBox(IDOK, "LOAD ERROR");
  EXPECT_FALSE(ReadScanListFile(MainWindow(), (dir + "/many.lst").c_str()));
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"LOAD ERROR: too many scans selected: at most 1000 scans can be loaded"}));
  EXPECT_EQ(FileList().ppStoredFileNames[1], "/data/kept.ra1");
}

TEST_F(ScanLoadingTest, SeriesListReleasesTheSetAndItsEditsWalkTheListedScans) {
  LoadNewFiles(SetAbsPaths());
  ASSERT_EQ(DataSet().nScans, 3);
  const std::string dir = ScratchDir("list_series");
  WriteText(dir + "/series.lst", "newformat n=1\n/data/run\na.ra1\nb.ra1\n");
  ASSERT_TRUE(ReadScanListFile(MainWindow(), (dir + "/series.lst").c_str()));
  // The loaded set is released; nScans counts the listed scans to be loaded.
  EXPECT_TRUE(DataSet().pnPoints.empty());
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(DataSet().szDataDirectory, "/data/run");

  FileList().ppStoredFileNames.push_back("/data/run/extra.ra1");  // beyond the listed scans
  FileList().nStoredFiles = 3;
  ChangeCellInFileList(2);
  EXPECT_EQ(FileList().ppStoredFileNames[1], "/data/run/a.ra2");
  EXPECT_EQ(FileList().ppStoredFileNames[3], "/data/run/extra.ra1");
  ChangeCellInFileList(9);
  EXPECT_EQ(FileList().ppStoredFileNames[2], "/data/run/b.ra2");
  ChangeSubdirInFileList(7);
  EXPECT_EQ(FileList().ppStoredFileNames[1], "/data/7/a.ra2");
  EXPECT_EQ(CheckListedFilesExist(), 0);
  FileList().ppStoredFileNames = {"", FixturePath("absorbance.ra1"), FixturePath("intensity.ri1"), "/missing.ra1"};
  EXPECT_EQ(CheckListedFilesExist(), 1);
  DataSet().nScans = 0;
}

// What the reader notes of the files of a load (values that were not recorded) is
// shown after the load in one box, each note once with the first file that holds
// it; "Add More Files" shows the notes of its files; batch runs log them.
TEST_F(ScanLoadingTest, NotesOfTheFilesAreShownOnceAfterTheLoad) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("notes");
  auto scan = [](const char* line2) {
    std::string text = std::string("noted\n") + line2 + "\n";
    for (int i = 0; i < 50; ++i) text += Format("   %.4f  0.2   0.01 \n", 5.9 + 0.01 * i);
    return text;
  };
  WriteText(dir + "/a.ra1", scan("R 1 20.0 40000 1000 0 280 1"));
  WriteText(dir + "/b.ra1", scan("R 1 20.0 40000 2000 0 0 1"));
  WriteText(dir + "/c.ra1", scan("R 1 20.0 40000 3000 0 280 1"));
  WriteText(dir + "/d.ra1", scan("R 1 20.0 40000 4000 7.0e10 0 1"));
  backend->QueueMessageBox(IDOK, "ATTENTION");
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1", dir + "/c.ra1"});
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{
                "ATTENTION: " + dir + "/a.ra1 (and 2 more files):\nline 2 holds the omega^2 t 0 at a time "
                "above 0: it was not recorded, so no acceleration phase is estimated and times taken "
                "from omega^2 t would be 0\n\n" + dir + "/b.ra1:\nline 2 holds the wavelength 0: no "
                "wavelength was recorded"}));
  backend->ClearTranscript();
  backend->QueueMessageBox(IDOK, "ATTENTION");
  AddMoreFiles({dir + "/d.ra1"});
  EXPECT_EQ(DataSet().nScans, 4);
  ASSERT_EQ(MessageTexts().size(), 1u);
  EXPECT_EQ(MessageTexts()[0].rfind("ATTENTION: " + dir + "/d.ra1:\nline 2 holds the wavelength 0", 0), 0u);

  backend->ClearTranscript();
  bBatchMode = true;
  LoadNewFiles({dir + "/a.ra1", dir + "/c.ra1"});
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_TRUE(MessageTexts().empty());
  EXPECT_NE(log.find(dir + "/a.ra1 (and 1 more files):\nline 2 holds the omega^2 t 0"), std::string::npos);
  bBatchMode = false;
}

// Scan lists and experiment files name the line of a value that is no number as a
// whole or no value of its kind, and say so of a file that is no plain text; the
// loaded set and the stored list stay. The experiment file the program writes
// reads back.
TEST_F(ScanLoadingTest, ListsAndExperimentFilesRefuseImpossibleValuesWithTheirLine) {
  const std::string dir = ScratchDir("list_xp_values");
  FileList().nStoredFiles = 1;
  FileList().ppStoredFileNames = {"", "/data/kept.ra1"};
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } lists[] = {
      {"hex.lst", "newformat n=0x10\n/data\na.ra1\n",
       "line 1 holds \"0x10\" as the number of files per scan, which is no whole number from 1 to 9999"},
      {"zero.lst", "newformat n=0\n/data\na.ra1\n",
       "line 1 holds \"0\" as the number of files per scan, which is no whole number from 1 to 9999"},
      {"word.lst", "newformat n=2files\n/data\na.ra1\n",
       "line 1 holds \"2files\" as the number of files per scan, which is no whole number from 1 to 9999"},
      {"words.lst", "newformat n= 2 files\n/data\na.ra1\n",
       "line 1 holds \"2 files\" as the number of files per scan, which is no whole number from 1 to 9999"},
      {"none.lst", "newformat n= \n/data\na.ra1\n",
       "line 1 holds \"\" as the number of files per scan, which is no whole number from 1 to 9999"},
      {"utf16.lst", std::string("\xFF\xFEn\0e\0w\0", 8), "the file is not plain text: it is UTF-16 text"},
  };
  for (const auto& l : lists) {
    const std::string path = dir + "/" + l.name;
    WriteText(path, l.text);
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK);
    EXPECT_FALSE(ReadScanListFile(MainWindow(), path.c_str())) << l.name;
    ASSERT_EQ(MessageTexts().size(), 1u) << l.name;
    EXPECT_NE(MessageTexts()[0].find(path), std::string::npos) << MessageTexts()[0];
    EXPECT_NE(MessageTexts()[0].find(l.message), std::string::npos) << MessageTexts()[0];
    EXPECT_EQ(FileList().ppStoredFileNames[1], "/data/kept.ra1") << l.name;
  }

  ExperimentFile written;
  written.directory = dir;
  written.files = {"a.ra1", "b.ra1"};
  written.meniscus = 5.9f;
  written.fitRightLimit = 7.0f;
  written.temperature = 20.0f;
  const std::string text = FormatXpFile(written);
  auto replaced = [&text](const std::string& line, const std::string& by) {
    std::string t = text;
    const std::size_t at = t.find(line);
    return t.replace(at, line.size(), by);
  };
  const struct {
    const char* name;
    std::string text;
    std::string why;  // empty: read
  } xps[] = {
      {"written", text, ""},
      {"meniscus", replaced("5.9 (Meniscus)", "1e30 (Meniscus)"),
       "line 7 holds the meniscus 1e+30 cm, outside the positions of a scan (-1e+06 to 1e+06 cm)"},
      {"density", replaced("1 (fBufferDensity)", "-1 (fBufferDensity)"),
       "line 4 holds the buffer density -1 g/ml, outside the densities of a buffer (0.01 to 5 g/ml)"},
      {"temperature", replaced("20 (Temperature)", "293.15 (Temperature)"),
       "holds the temperature 293.15 C, outside the temperatures of a sample (-40 to 200 C)"},
      {"hex_vbar", replaced("0.73 (VBAR)", "0x1 (VBAR)"), "line 6 holds \"0x1\" for the partial specific volume, which is not a number"},
      {"beyond_float", replaced("0.73 (VBAR)", "1e39 (VBAR)"),
       "line 6 holds \"1e39\" for the partial specific volume, which is beyond 3.4e38"},
      {"binary", text + std::string("\0\0", 2), "the file is not plain text: it holds binary data"},
  };
  for (const auto& x : xps) {
    const std::string path = dir + "/" + x.name + ".xp";
    WriteText(path, x.text);
    ExperimentFile read;
    read.bufferDensity = -7.0f;
    std::string why;
    const bool ok = LoadXpFile(path, &read, &why);
    if (x.why.empty()) {
      ASSERT_TRUE(ok) << why;
      EXPECT_EQ(read.files, written.files);
      EXPECT_FLOAT_EQ(read.fitRightLimit, 7.0f);
      EXPECT_FLOAT_EQ(read.temperature, 20.0f);
    } else {
      EXPECT_FALSE(ok) << x.name;
      EXPECT_EQ(why.rfind(path + ": ", 0), 0u) << why;
      EXPECT_NE(why.find(x.why), std::string::npos) << why;
      EXPECT_FLOAT_EQ(read.bufferDensity, -7.0f) << "untouched";
    }
  }
}

// An experiment file names every line it cannot use - a misspelt key, a value
// without a key - instead of leaving that value "not given"; the values that enter
// the model are judged with their line, and every message names a key by its label.
// What the program writes loads again whole (one file, and three, whose indexed keys
// grow with the files), and a record that would not load is not written.
TEST_F(ScanLoadingTest, ExperimentFileNamesTheLinesItCannotUse) {
  const std::string dir = ScratchDir("xp_lines");
  ExperimentFile written;
  written.type = kXpSedVelocity;
  written.directory = dir;
  written.meniscus = 5.9f;
  written.bottom = 7.2f;
  for (const std::vector<std::string>& files :
       {std::vector<std::string>{"a.ra1"}, std::vector<std::string>{"a.ra1", "b.ra1", "c.ra1"}}) {
    written.files = files;
    const std::string path = dir + "/written.xp";
    std::string why;
    ASSERT_TRUE(WriteXpFile(path, written, &why)) << why;
    ExperimentFile back;
    ASSERT_TRUE(LoadXpFile(path, &back, &why)) << why;
    EXPECT_EQ(FormatXpFile(back), FormatXpFile(written));
  }
  const std::string text = FormatXpFile(written);
  // Every number before a key is written as the rest are, in its shortest text
  // ("1", "1e-06", "0"), the fixed ones too.
  {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      const std::string value = line.substr(0, line.find(" ("));
      if (const NumberScan v = ScanNumber(value); v)
        EXPECT_EQ(value, RoundTripText(v.value)) << line;
    }
  }
  auto replaced = [&text](const std::string& line, const std::string& by) {
    std::string t = text;
    const std::size_t at = t.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    return t.replace(at, line.size(), by);
  };
  const struct {
    const char* name;
    std::string text;
    std::string why;  // empty: read
  } xps[] = {
      {"misspelt", replaced("5.9 (Meniscus)", "6.2 (Menicsus)"),
       "line 7 holds the key \"Menicsus\", which is no key of an experiment file"},
      {"no_key", replaced("5.9 (Meniscus)", "6.2"), "line 7 holds \"6.2\" without a key in parentheses"},
      {"empty_key", replaced("5.9 (Meniscus)", "6.2 ()"),
       "line 7 holds \"6.2 ()\" without a key in parentheses"},
      {"vbar", replaced("0.73 (VBAR)", "5 (VBAR)"),
       "line 6 holds the partial specific volume 5 ml/g, outside"},
      {"vbar20", replaced("0.73 (global VBAR20)", "-0.7 (global VBAR20)"),
       "holds the partial specific volume at 20 C -0.7 ml/g, outside"},
      {"baseline", replaced("0 (xBaseline)", "1e7 (xBaseline)"), "holds the baseline 1e+07, outside"},
      {"viscosity", replaced("0.001002 (fBufferViscosity)", "1e-9 (fBufferViscosity)"),
       "line 5 holds the buffer viscosity 1e-09 Pa s, outside"},
      {"no_number", replaced("1 (fBufferDensity)", "dense (fBufferDensity)"),
       "line 4 holds \"dense\" for the buffer density, which is not a number"},
      // 0 stands for "not given"; a blank line holds nothing.
      {"vbar20_not_given", replaced("0.73 (global VBAR20)", "0 (global VBAR20)"), ""},
      {"blank_line", replaced("0.73 (VBAR)\n", "0.73 (VBAR)\n\n"), ""},
  };
  for (const auto& x : xps) {
    SCOPED_TRACE(x.name);
    const std::string path = dir + "/" + x.name + ".xp";
    WriteText(path, x.text);
    ExperimentFile read;
    std::string why;
    const bool ok = LoadXpFile(path, &read, &why);
    if (x.why.empty()) {
      EXPECT_TRUE(ok) << why;
      EXPECT_FLOAT_EQ(read.meniscus, 5.9f);
      continue;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(why.rfind(path + ": ", 0), 0u) << why;
    EXPECT_NE(why.find(x.why), std::string::npos) << why;
    for (const char* key : {"VBAR", "fBuffer", "xBaseline", "(Meniscus)"})
      EXPECT_EQ(why.find(key), std::string::npos) << "a key named by its internal name: " << why;
  }

  // Every key line the program writes, its value replaced by each of a sweep of
  // values no row of the table of valid values holds (a word, a value a float
  // holds as 0, values far outside every range, and for the switches anything but
  // 0 and 1): the keys the reader applies refuse each with their line and label,
  // never with the key itself; the others are known and skipped.
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  int applied = 0;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const std::size_t open = lines[i].find('(');
    ASSERT_NE(open, std::string::npos) << lines[i];
    const std::string key = lines[i].substr(open + 1, lines[i].rfind(')') - open - 1);
    const bool flag = key.starts_with("blocal");
    int refused = 0, refusedOfTheFirstFour = 0, tried = 0;
    // A switch is judged by its text: "0.99999999999999999" is no 1, though its
    // double is.
    for (const char* value : {"x", "1e-320", "1e30", "-1e30", "0.5", "2", "-3", "1e-30", "0.99999999999999999",
                              "1.00000000000000001"}) {
      ++tried;
      std::string t = text;
      const std::size_t at = t.find(lines[i]);
      t.replace(at, open, std::string(value) + " ");
      const std::string path = dir + "/word.xp";
      WriteText(path, t);
      ExperimentFile read;
      std::string why;
      if (LoadXpFile(path, &read, &why)) continue;
      ++refused;
      if (tried <= 4) ++refusedOfTheFirstFour;
      EXPECT_EQ(why.rfind(path + ": line", 0), 0u) << why;
      EXPECT_NE(why.find(std::to_string(i + 1) + " hold"), std::string::npos) << why;
      EXPECT_EQ(why.find(key), std::string::npos) << "named by its key: " << why;
    }
    if (refused == 0) continue;
    ++applied;
    // A switch takes 0 and 1 alone; the rest refuse at least the first four.
    EXPECT_EQ(flag ? refused : refusedOfTheFirstFour, flag ? 10 : 4) << key;
  }
  EXPECT_EQ(applied, 26) << "keys whose value the reader uses";

  // The type line names one of the three types as a whole number.
  for (const char* type : {"2.5", "1e999", "7", "-1", "0", "2", "3x", "nan", "2.9999999999999999"}) {
    std::string t = text;
    t.replace(0, t.find(' '), type);
    const std::string path = dir + "/type.xp";
    WriteText(path, t);
    ExperimentFile read;
    std::string why;
    EXPECT_FALSE(LoadXpFile(path, &read, &why)) << type;
    EXPECT_EQ(why, Format("%s: line 1 holds \"%s\" as the experiment type, which is none of 1 (SEDVELOCITY), "
                          "3 (SEDEQUILIBRIUM) and 4 (MULTISEDEQ)", path.c_str(), type));
  }

  // The program writes no file it would not load: the record is refused whole.
  written.vbar = 5.0f;
  const std::string path = dir + "/refused.xp";
  std::string why;
  EXPECT_FALSE(WriteXpFile(path, written, &why));
  EXPECT_NE(why.find("would not load again: line 6 holds the partial specific volume 5 ml/g"), std::string::npos)
      << why;
  EXPECT_FALSE(std::filesystem::exists(path));
}

// A distribution grid cut at any byte is refused, never read short: the line
// "end <count>" shows the grid whole, so a cut at a line end (the 75 of 76 points
// that look like a whole file) is told from the file as written. A grid whose end
// line counts otherwise, or that goes on after it, is refused naming its line.
TEST_F(ScanLoadingTest, DistributionGridCutAtAnyByteIsRefusedNeverReadShort) {
  const std::string dir = ScratchDir("grid_cuts");
  DataSet().szSdistPath = dir + "/sdist.ra1";
  // Values of several lengths, so that cuts fall inside numbers of each form.
  const float grid[] = {0.0f, 0.1f, 0.5f, 1.25f, 3.0f, 7.5f, 12.0f, 100.0f};  // index 0 unused
  constexpr int kValues = 7;
  ASSERT_TRUE(SaveDistributionGrid(grid, kValues));  // one-based
  const std::string whole = ReadText(DataSet().szSdistPath);
  std::vector<float> read;
  std::string why;
  ASSERT_TRUE(ReadDistributionGrid(DataSet().szSdistPath, &read, &why)) << why;
  ASSERT_EQ(read.size(), static_cast<std::size_t>(kValues));
  for (int i = 0; i < kValues; ++i) EXPECT_EQ(read[i], grid[i + 1]);
  int refused = 0;
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    WriteText(DataSet().szSdistPath, whole.substr(0, cut));
    why.clear();
    const bool ok = ReadDistributionGrid(DataSet().szSdistPath, &read, &why);
    if (cut == whole.size()) {
      EXPECT_TRUE(ok) << why;
      EXPECT_EQ(read.size(), static_cast<std::size_t>(kValues));
      continue;
    }
    EXPECT_FALSE(ok) << "cut at byte " << cut << " read " << read.size() << " values";
    EXPECT_TRUE(read.empty()) << cut;
    EXPECT_NE(why.find(DataSet().szSdistPath), std::string::npos) << why;
    refused += !ok;
  }
  EXPECT_EQ(refused, static_cast<int>(whole.size()));

  const std::pair<std::string, std::string> bad[] = {
      {"0.5\n1.5\n2.5\nend 4\n", "line 4 says the grid has 4 values, and 3 come before it"},
      {"0.5\n1.5\nend 3\n", "line 3 says the grid has 3 values, and 2 come before it"},
      {"0.5\n1.5\nend 2\n2.5\n", "line 4 follows the line \"end\" that ends the grid (line 3)"},
      {"0.5\n1.5\nend two\n", "line 3 holds \"end two\", which is not \"end\" and the count"},
      {"0.5\n1.5\n", "it has no line \"end 2\" after its 2 values (line 2 is the last)"},
  };
  for (const auto& [text, reason] : bad) {
    WriteText(DataSet().szSdistPath, text);
    EXPECT_FALSE(ReadDistributionGrid(DataSet().szSdistPath, &read, &why)) << text;
    EXPECT_NE(why.find(DataSet().szSdistPath + " cannot be read: " + reason), std::string::npos) << why;
  }
  // Blank lines anywhere and a grid written by hand with its end line are read.
  WriteText(DataSet().szSdistPath, "\n0.5\n\n1.5\nend 2\n\n");
  EXPECT_TRUE(ReadDistributionGrid(DataSet().szSdistPath, &read, &why)) << why;
  EXPECT_EQ(read, (std::vector<float>{0.5f, 1.5f}));
}

TEST_F(ScanLoadingTest, DistributionGridAndEquilibriumProfileBesideTheData) {
  TimeStamps().bCheckTimeStamps = false;
  const std::string dir = ScratchDir("beside");
  WriteText(dir + "/a.ra1", ScanText("a", 'R', 1000));
  WriteText(dir + "/b.ra1", ScanText("b", 'R', 2000));
  LoadNewFiles({dir + "/a.ra1", dir + "/b.ra1"});

  const float grid[] = {0, 0.5f, 1.5f, 2.5f};
  ASSERT_TRUE(SaveDistributionGrid(grid, 3));
  int n = 0;
  float* back = LoadDistributionGrid(&n);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(n, 3);
  EXPECT_FLOAT_EQ(back[3], 2.5f);
  free_vector(back, 1, n);

  // A stored grid is taken whole or not at all: a line that is no number, or a
  // grid that does not rise, refuses it naming the line.
  const std::pair<const char*, std::string> bad[] = {
      {"0.5\n1.5\n5abc\n2.5\n", "line 3 holds \"5abc\", which is not a number"},
      {"0.5\n1,5\n2.5\n", "line 2 holds \"1,5\", which is not a number"},
      {"0.5\n\n1.5\n1.5\n", "line 4 holds 1.5, which does not rise above the 1.5 of line 3"},
      {"0.5\n2.5\n1.5\n", "line 3 holds 1.5, which does not rise above the 2.5 of line 2"},
  };
  for (const auto& [text, why] : bad) {
    WriteText(DataSet().szSdistPath, text);
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK);
    n = -1;
    EXPECT_EQ(LoadDistributionGrid(&n), nullptr) << text;
    EXPECT_EQ(n, -1);
    ASSERT_EQ(MessageTexts().size(), 1u) << text;
    EXPECT_NE(MessageTexts()[0].find(DataSet().szSdistPath + " cannot be read: " + why), std::string::npos) << MessageTexts()[0];
  }

  std::filesystem::remove(DataSet().szSdistPath);
  backend->QueueMessageBox(IDOK);
  n = -1;
  EXPECT_EQ(LoadDistributionGrid(&n), nullptr);
  EXPECT_EQ(n, -1);

  for (int k = 1; k <= DataSet().pnPoints[2]; ++k) DataSet().ppFit[2][k] = 0.75f;
  ASSERT_TRUE(SaveEquilibriumProfile((dir + "/eq.ra1").c_str()));
  const std::string text = ReadText(dir + "/eq.ra1");
  EXPECT_EQ(text.rfind("[T OK]equilibrium\nR 1 20.0 40000 2000 ", 0), 0u);
  EXPECT_NE(text.find("   5.9000  7.50000e-01   0.00000e+00 \n"), std::string::npos);
}

}  // namespace
}  // namespace tarmic::testing

namespace tarmic {
namespace {

// A distribution grid that cannot be written (its folder is missing) is said once,
// not at every Run and Fit; once written, a new failure is said again.
TEST(DistributionGridFile, AFolderThatCannotBeWrittenIsSaidOnce) {
  ScopedHeadlessBackend backend;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tarmic_sdist_once";
  std::filesystem::remove_all(dir);
  const float grid[4] = {0.0f, 1.0f, 2.0f, 3.0f};
  const std::string saved = DataSet().szSdistPath;
  DataSet().szSdistPath = (dir / "sdist.ra1").string();
  backend->QueueMessageBox(IDOK, "Error");
  for (int run = 0; run < 3; ++run) EXPECT_FALSE(SaveDistributionGrid(grid, 3));
  EXPECT_EQ(backend->Transcript().size(), 1u);
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(SaveDistributionGrid(grid, 3));
  std::filesystem::remove_all(dir);
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(SaveDistributionGrid(grid, 3));
  EXPECT_EQ(backend->Transcript().size(), 2u);
  EXPECT_TRUE(backend->AllAnswersUsed());
  DataSet().szSdistPath = saved;
}

}  // namespace
}  // namespace tarmic
