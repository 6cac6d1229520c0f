// The realtime update of files, the test of approach to equilibrium as its
// analysis, the M* view's hand-over of the data plot, and the serialize-fit series.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/analysis_views.h"
#include "commands/distribution_range_tools.h"
#include "commands/equilibrium_sorting.h"
#include "commands/mstar_view.h"
#include "commands/power_law_calibration.h"
#include "commands/realtime_update.h"
#include "distribution_window_test_support.h"
#include "modelcalc/fit_series.h"
#include "plot/winplot.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

class RealtimeSeriesTest : public DistributionWindowTest {
 protected:
  void TearDown() override {
    ResetRealtimeUpdate();
    ResetMStarView();
    ResetEquilibriumSorting();
    DistributionWindowTest::TearDown();
  }

  HeadlessWindow& Headless() { return Backend().Headless(); }

  // Dispatches the waiting events as the main loop would (paints left out).
  void ProcessEvents() {
    while (std::optional<Event> e = UiEvents().Take())
      if (e->type != EventType::Paint) DispatchToWindow(Win(), *e);
  }

  // The synthetic run in dir, its last scan moved aside; returns its two places.
  std::pair<std::string, std::string> RunWithoutLastScan(const std::string& dir) {
    fs::create_directories(dir);
    std::vector<std::string> paths = WriteSyntheticRun(dir);
    const std::string last = paths.back();
    const std::string aside = ProgramDir() + "/aside.ra1";
    fs::rename(last, aside);
    paths.pop_back();
    LoadThroughDialog(paths);
    return {last, aside};
  }
};

TEST_F(RealtimeSeriesTest, RealtimeUpdateReloadsNewScanAndRunsAgainOverTheKeptZoom) {
  const auto [last, aside] = RunWithoutLastScan(ProgramDir() + "/data");
  ASSERT_EQ(DataSet().nScans, kSyntheticScans - 1);
  SetCellAndLimits();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ZoomDistributionPlot(Win(), 2.0f, 8.0f);
  Backend().ClearTranscript();

  Dispatch(kCmRealtimeUpdate);
  ASSERT_TRUE(bRealtimeUpdateMode);

  // A tick without new files changes nothing.
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  ProcessEvents();
  EXPECT_EQ(DataSet().nScans, kSyntheticScans - 1);
  EXPECT_EQ(szRealtimeLine2.rfind("no new data", 0), 0u) << szRealtimeLine2;

  // The instrument writes the next scan: the tick loads it and runs c(s) again,
  // and the distribution is shown over the range the user had zoomed to.
  fs::rename(aside, last);
  DistributionPlot().pDistPlot->SetRanges(0.0f, 12.0f, 0.0f, 1.0f);
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  ProcessEvents();
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(Captions(), std::vector<std::string>{});
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMin, 2.0f);
  EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->fXMax, 8.0f);
  // The c(s) peak of the reloaded set sits at the simulated 5 S.
  int peak = 1;
  for (int i = 2; i <= DistributionVectors().nDistGrid; ++i)
    if (DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[peak]) peak = i;
  EXPECT_NEAR(DistributionVectors().pDistGrid[peak], kSyntheticS, 0.5);
  EXPECT_EQ(szRealtimeLine2.rfind("updated at", 0), 0u) << szRealtimeLine2;

  // A key press runs an update at once (here: nothing new).
  Headless().PressKey(VK_RIGHT);
  ProcessEvents();
  EXPECT_EQ(szRealtimeLine2.rfind("no new data", 0), 0u);

  // An interrupted run stops the mode at the next tick, with its message.
  bStopRealtimeUpdate = true;
  Backend().QueueMessageBox(IDOK, "REALTIME UPDATE");
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  ProcessEvents();
  EXPECT_FALSE(bRealtimeUpdateMode);
  EXPECT_TRUE(Headless().Timers().empty());
  EXPECT_FALSE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
}

// The status lines of the realtime update stand on the screen while it runs and go
// with it: the box that says it stopped opens over a window without them. No tick
// reloads under an open box or dialog. The screen is read pixel by pixel.
TEST_F(RealtimeSeriesTest, TheBannerLeavesTheScreenBeforeTheBoxThatSaysTheUpdateStopped) {
  LoadSyntheticRun();
  PumpEvents();
  Paint();
  const Image plain = Headless().Screen();
  const auto differing = [&](const Image& a) {
    int n = 0;
    for (int y = 0; y < a.Height(); ++y)
      for (int x = 0; x < a.Width(); ++x) n += Headless().Screen().Pixel(x, y) != a.Pixel(x, y);
    return n;
  };
  Dispatch(kCmRealtimeUpdate);
  PumpEvents();
  ASSERT_TRUE(bRealtimeUpdateMode);
  EXPECT_GT(differing(plain), 0) << "the banner";
  const std::string started = szRealtimeLine2;

  // A tick while a box is open looks at nothing.
  Win().bModalBoxOpen = true;
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  PumpEvents();
  Win().bModalBoxOpen = false;
  EXPECT_EQ(szRealtimeLine2, started);

  // A key stopped the update's run: the next tick ends the mode and says so, over a
  // window painted without the banner.
  bStopRealtimeUpdate = true;
  int underTheBox = -1;
  HeadlessBackend::UnscriptedRules rules;
  rules.box = [&](std::string_view text, std::string_view, unsigned) {
    EXPECT_EQ(text, "realtime update stopped by user interrupt");
    underTheBox = differing(plain);
    return IDOK;
  };
  Backend().SetUnscriptedRules(rules);
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  PumpEvents();
  EXPECT_FALSE(bRealtimeUpdateMode);
  EXPECT_EQ(underTheBox, 0);
  EXPECT_EQ(differing(plain), 0);
}

// A changed scan read by a tick whose Run a key stops: the box that says the Run
// was stopped opens over a window whose banner says new data were found, as a paint
// of it now shows it, not over the last tick's "no new data"; then the box that
// says the update stopped, over a window without the banner.
TEST_F(RealtimeSeriesTest, TheBannerUnderAStoppedRunsBoxSaysNewDataWereFound) {
  const auto [last, aside] = RunWithoutLastScan(ProgramDir() + "/data");
  SetCellAndLimits();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  Dispatch(kCmRealtimeUpdate);
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  PumpEvents();
  ASSERT_EQ(szRealtimeLine2.rfind("no new data", 0), 0u);

  fs::rename(aside, last);
  bool pressed = false;
  Backend().SetPumpHook([&] {
    if (!Win().bRunInProgress || pressed) return;
    pressed = true;
    Headless().PressKey(VK_SPACE);
  });
  std::vector<std::string> boxes;
  HeadlessBackend::UnscriptedRules rules;
  rules.box = [&](std::string_view text, std::string_view caption, unsigned) {
    boxes.push_back(std::string(caption));
    if (caption == "ERROR") {
      EXPECT_EQ(szRealtimeLine2.rfind("new data at", 0), 0u) << szRealtimeLine2 << " under " << text;
      const Image under = Headless().Screen();
      Paint();
      int differing = 0;
      for (int y = 0; y < under.Height(); ++y)
        for (int x = 0; x < under.Width(); ++x) differing += under.Pixel(x, y) != Headless().Screen().Pixel(x, y);
      EXPECT_EQ(differing, 0) << "the window under the box is not what it shows now";
    }
    return IDOK;
  };
  Backend().SetUnscriptedRules(rules);
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  PumpEvents();
  Backend().SetPumpHook({});
  EXPECT_TRUE(pressed);
  EXPECT_EQ(boxes, (std::vector<std::string>{"ERROR", "REALTIME UPDATE"}));
  EXPECT_FALSE(bRealtimeUpdateMode);
}

TEST_F(RealtimeSeriesTest, EquilibriumTestFollowsTheFilesAndEscLeavesItsView) {
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmRealtimeUpdate);  // without data
  EXPECT_FALSE(bRealtimeUpdateMode);
  Backend().ClearTranscript();

  const auto [last, aside] = RunWithoutLastScan(ProgramDir() + "/eq");
  Dispatch(kCmTestApproachToEquilibrium);
  EXPECT_TRUE(bEqTestMode);
  EXPECT_TRUE(bRealtimeUpdateMode);
  ASSERT_NE(pAuxPlot, nullptr);
  ASSERT_NE(GetShellHooks().eqTestPicture(), nullptr);  // painted in place of the panes
  ASSERT_EQ(nEqGroups, 1);
  const int sizeBefore = pEqGroupSizes[1];

  fs::rename(aside, last);
  ASSERT_TRUE(Headless().FireTimer(static_cast<int>(kRealtimeTimerId)));
  ProcessEvents();
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_FALSE(AnalysisSwitches().bEqTestRunning);
  ASSERT_EQ(nEqGroups, 1);
  EXPECT_EQ(pEqGroupSizes[1], sizeBefore + 1);  // the test ran on the new set
  EXPECT_EQ(Captions(), std::vector<std::string>{});

  Headless().PressKey(VK_ESCAPE);
  ProcessEvents();
  EXPECT_FALSE(bEqTestMode);
  EXPECT_EQ(pAuxPlot, nullptr);
  Dispatch(kCmStopRealtimeUpdate);
  EXPECT_FALSE(bRealtimeUpdateMode);
  EXPECT_TRUE(Headless().Timers().empty());
}

TEST_F(RealtimeSeriesTest, MStarViewHandsTheDataPlotOverAndBack) {
  LoadSyntheticRun();
  CWINPlot* const data = DataPlots().pDataPlot;
  const int top = DataPlots().nPlotAreaTop, bottom = DataPlots().nDataPlotBottom;
  StartVIrezTransformation(Win(), false);
  ASSERT_TRUE(bVIrezMode);
  ASSERT_NE(pVIrezPlot, nullptr);
  EXPECT_EQ(DataPlots().pDataPlot, pVIrezPlot);
  DataPlots().nPlotAreaTop = 120;  // the view lays out its panes
  Headless().PressKey(VK_ESCAPE);
  ProcessEvents();
  EXPECT_FALSE(bVIrezMode);
  EXPECT_EQ(pVIrezPlot, nullptr);
  EXPECT_EQ(DataPlots().pDataPlot, data);
  EXPECT_EQ(DataPlots().nPlotAreaTop, top);
  EXPECT_EQ(DataPlots().nDataPlotBottom, bottom);
}

// Writes a scan-list file naming the files (full paths, one directory).
std::string WriteList(const std::string& path, const std::vector<std::string>& files) {
  std::string text = fs::path(files.front()).parent_path().string() + "\n";
  for (const std::string& f : files) text += fs::path(f).filename().string() + "\n";
  WriteFile(path, text);
  return path;
}

TEST_F(RealtimeSeriesTest, SerializeFitByListWritesResultsAndMonteCarloIntegrals) {
  const std::string dir1 = ProgramDir() + "/set1", dir2 = ProgramDir() + "/set2";
  fs::create_directories(dir1);
  fs::create_directories(dir2);
  const std::vector<std::string> run1 = WriteSyntheticRun(dir1);
  const std::vector<std::string> run2 = WriteSyntheticRun(dir2);
  const std::string list1 = WriteList(dir1 + "/list1.ra1", run1);
  const std::string list2 = WriteList(dir2 + "/list2.ra1", run2);
  // A list whose scans are gone: that data set fails, the series goes on.
  const std::string broken = WriteList(ProgramDir() + "/list3.ra1", {ProgramDir() + "/gone/00001.ra1"});

  LoadSyntheticRun();
  ChooseSmallCs();
  Backend().QueueOpenFiles({list1, broken, list2});
  Backend().QueueMessageBox(IDNO, "SERIALIZE FIT");  // restore previous params?
  Backend().QueueMessageBox(IDNO, "SERIALIZE FIT");  // fit? (run only)
  Backend().QueueInput("2");                         // Monte-Carlo sets
  Backend().QueueInput("2");                         // integration limits
  Backend().QueueInput("9");
  Backend().AnswerUnscriptedBoxes(IDOK);             // the load error of the broken list
  Dispatch(kCmSerializeFitByList);

  EXPECT_FALSE(bBatchMode);
  const std::string report = BoxTexts().back();
  EXPECT_NE(report.find("2 of 3 data sets analysed"), std::string::npos) << report;
  EXPECT_NE(report.find(broken + ": "), std::string::npos) << report;
  EXPECT_EQ(report.find(list1 + ":"), std::string::npos) << report;

  for (const std::string& dir : {dir1, dir2}) {
    const std::string dist = ReadFile(dir + "/00001_distribution.dat");
    EXPECT_EQ(dist.rfind("# TARMIC distribution c(s)", 0), 0u) << dir;
  }
  const std::vector<std::string> mc = Lines(ReadFile(dir1 + "/MCintegrals.txt"));
  ASSERT_EQ(mc.size(), 3u);
  for (int k = 1; k <= 2; ++k) {
    const std::vector<std::string> f = Fields(mc[static_cast<std::size_t>(k)]);
    ASSERT_EQ(f.size(), 10u);
    EXPECT_FLOAT_EQ(std::strtof(f[0].c_str(), nullptr), 2.0f);
    EXPECT_FLOAT_EQ(std::strtof(f[1].c_str(), nullptr), 9.0f);
    // Every Monte-Carlo set finds the single 5 S species with its loading 0.8.
    const float savg = std::strtof(f[2].c_str(), nullptr);
    const float slow = std::strtof(f[4].c_str(), nullptr);
    const float sup = std::strtof(f[5].c_str(), nullptr);
    EXPECT_NEAR(savg, kSyntheticS, 0.25);
    EXPECT_LE(slow, sup);
    EXPECT_NEAR(slow, kSyntheticS, 0.25);
    EXPECT_NEAR(sup, kSyntheticS, 0.25);
    EXPECT_NEAR(std::strtof(f[6].c_str(), nullptr), kSyntheticLoading, 0.08);
  }
}

TEST(SeriesErrors, BatchFailuresOnlyRecordTheCode) {
  // In batch mode an engine failure stores its code and shows nothing (a box here
  // would throw UnexpectedBox).
  ScopedHeadlessBackend backend;
  ResetRunSwitches();
  bBatchMode = true;
  ReportDistributionError(3, "problem in regularization");
  EXPECT_EQ(nSeriesErrorCode, 3);
  ReportDistributionMessage(6, "caught", "ATTENTION");
  EXPECT_EQ(nSeriesErrorCode, 6);
  ResetRunSwitches();
  EXPECT_EQ(nSeriesErrorCode, 0);
}

// s = 0.012 M^(2/3) (compact globular proteins, M in g/mol): the calibration gives
// back the law from exact pairs, and the least-squares law of scattered standards;
// on acceptance Ks and bs land in slots 11 and 18.
// A line of the calibration file that begins with a number is a pair of whole
// numbers: "1 5abc" (read as 1 and 5), a decimal comma, nan and a value beyond a
// float refuse the file with their line, where they were taken or skipped without
// a word; headings and comments are still passed over.
TEST_F(RealtimeSeriesTest, PowerLawPairsAreTwoWholeNumbersOrTheFileIsRefused) {
  const std::string file = ProgramDir() + "/pairs.txt";
  const struct {
    const char* text;
    const char* why;
  } bad[] = {
      {"s M\n1.9 14000\n4.4 66000abc\n", "line 3 holds \"66000abc\", which is not a number"},
      {"1,9 14000\n", "line 1 holds \"9 14000\", which is not a number"},
      {"1.9 14000 7\n", "line 1 has too many values (3 of 2): \"1.9 14000 7\""},
      {"1.9 14000\nnan 66000\n", "line 2 holds \"nan\", which is not a number"},
      {"1.9 1e39\n", "line 1 holds \"1e39\", which is beyond 3.4e38"},
      {"1.9\n", "line 1 has too few values (1 of 2): \"1.9\""},
      {"0x10 14000\n", "line 1 holds \"0x10\", which is not a number"},
  };
  for (const auto& b : bad) {
    WriteFile(file, b.text);
    std::vector<float> s, M;
    std::string why;
    EXPECT_FALSE(ReadSMPairs(file, &s, &M, &why)) << b.text;
    EXPECT_EQ(why, b.why) << b.text;
  }
  WriteFile(file, "% standards\ns(S); M(g/mol)\n\n1.9; 14000\n 4.4 , 6.6e4 \n");
  std::vector<float> s, M;
  std::string why;
  ASSERT_TRUE(ReadSMPairs(file, &s, &M, &why)) << why;
  EXPECT_EQ(s, (std::vector<float>{1.9f, 4.4f}));
  EXPECT_EQ(M, (std::vector<float>{14000.0f, 66000.0f}));
}

TEST_F(RealtimeSeriesTest, PowerLawCalibrationRecoversKsAndBs) {
  std::vector<float> s, M;
  for (float m : {1.4e4f, 4.4e4f, 6.6e4f, 1.5e5f, 4.4e5f}) {
    M.push_back(m);
    s.push_back(0.012f * std::pow(m, 2.0f / 3.0f));
  }
  float Ks = 0, bs = 0;
  ASSERT_TRUE(FitPowerLaw(s, M, &Ks, &bs));
  EXPECT_NEAR(Ks, 0.012f, 1e-5f);
  EXPECT_NEAR(bs, 2.0f / 3.0f, 1e-5f);
  EXPECT_FALSE(FitPowerLaw({1.0f, 2.0f}, {5e4f, 5e4f}, &Ks, &bs));   // one M only
  EXPECT_FALSE(FitPowerLaw({1.0f, -2.0f}, {5e4f, 6e4f}, &Ks, &bs));  // one usable pair

  const std::string file = ProgramDir() + "/standards.txt";
  WriteFile(file, "% s  M\n1.9 14000\n4.4 66000\r\nbad line\n7.3 150000\n11.3 440000\n");
  Backend().QueueOpenFiles({file});
  Backend().QueueMessageBox(IDYES, "CALIBRATE POWER LAW");
  ASSERT_EQ(CalibrateCMPowerLaw(Win()), 1);
  EXPECT_TRUE(bTemperaturePlotShown);
  // Reference: the normal equations of the four log-log pairs solved separately
  // (bs = 0.52538, Ks = 0.0129112, so s(66000) = 4.3960).
  EXPECT_NEAR(AnalysisSwitches().pParams[kContiSlotScalingExponent], 0.52538f, 1e-4f);
  EXPECT_NEAR(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], 0.0129112f, 1e-5f);

  // Declined: nothing stored.
  AnalysisSwitches().pParams[kContiSlotScalingExponent] = 0.5f;
  Backend().QueueOpenFiles({file});
  Backend().QueueMessageBox(IDNO, "CALIBRATE POWER LAW");
  EXPECT_EQ(CalibrateCMPowerLaw(Win()), 0);
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotScalingExponent], 0.5f);
}

}  // namespace
}  // namespace tarmic::testing
