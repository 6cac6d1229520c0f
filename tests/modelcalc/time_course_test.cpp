// The light-scattering time course (windows, keys, written rows) and the
// total-concentration tables of the non-ideal c(s).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "distributions/conti_run.h"
#include "distributions/ctot_tables.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "modelcalc/time_course.h"
#include "modelcalc_test_support.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"

namespace tarmic::test {
namespace {

class TimeCourseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModelCalcState();
    ResetDistributionEngine();
    dir_ = std::filesystem::temp_directory_path() / ("tarmic_tc_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    szBoundaryFractsFile = (dir_ / "fracts.dat").string();
    szNonIdCtotFile = (dir_ / "ctot.dat").string();
  }
  void TearDown() override {
    ResetDistributionEngine();
    FreeCtotArrays();
    ResetModelCalcState();
    std::filesystem::remove_all(dir_);
  }
  static int Lines(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) ++n;
    return n;
  }
  std::filesystem::path dir_;
  ScopedHeadlessBackend backend;
};

// Windows of one minute over records every 60 s: window 1 from record 2, each
// window closing at the first record at or past (w + 0.5) min. The course starts in
// step mode ("r" leaves it); a key between windows enters it again, "s" stops: only the windows computed are
// written, into the chosen directory, and record 1 gets its own data back.
TEST_F(TimeCourseTest, WindowsKeysAndWrittenRows) {
  std::vector<double> t = {0};
  for (int p = 1; p <= 8; ++p) t.push_back(60.0 * p);
  const std::vector<TimeWindow> w = SplitTimeWindows(t, 1.0f);
  // Eight windows are counted (one per minute past 1.5 min); the last record
  // forms window 7, and window 8 repeats it.
  ASSERT_EQ(w.size(), 9u);
  EXPECT_EQ(w[1].first, 2);
  EXPECT_EQ(w[2].last, 3);
  EXPECT_EQ(w[8].first, 8);
  EXPECT_EQ(w[8].last, 8);
  EXPECT_DOUBLE_EQ(w[2].time, 180.0);

  InstallVelocityScans(8, 60, 60.0, 50000.0f);
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  AnalysisSwitches().pParams[1] = 1.0f;
  AnalysisSwitches().pParams[5] = 10.0f;
  AnalysisSwitches().pParams[9] = 12.0f;
  ReadGridSettingsFromParams();
  for (int j = 1; j <= DataSet().nScans; ++j)
    for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) CurrentGrid().ppGridSignal[Idx(j)][g] = static_cast<float>(j);
  HeadlessWindow& window = backend->Headless();
  int calls = 0;
  float meanSeen = 0.0f;
  const auto step = [&](Window*) {
    ++calls;
    meanSeen = CurrentGrid().ppGridSignal[1][5];
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) DistributionVectors().pDistValues[i] = static_cast<float>(calls * 100 + i);
    // The course starts in step mode: r runs on.
    if (calls == 1) window.PressKey('R', 0, 'r');
    if (calls == 2) {
      window.PressKey('X', 0, 'x');  // step mode
      window.PressKey('S', 0, 's');  // stop
    }
    return true;
  };
  bStopRealtimeUpdate = bSeriesInterrupted = false;
  TimeCourseTable course;
  ASSERT_TRUE(RunContinuousModel(&window, course, step));
  // The course asks nothing; its table is written where the command was told.
  EXPECT_TRUE(backend->Transcript().empty());
  WriteTimeCourse(course, (dir_ / "sizes.dat").string());
  // The stop ends a realtime update and a running series as well.
  EXPECT_TRUE(bStopRealtimeUpdate);
  EXPECT_TRUE(bSeriesInterrupted);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(meanSeen, 3.0f);  // window 2 is record 3 alone
  EXPECT_EQ(TimeCourse().nTimeCourseWindowsDone, 2);
  EXPECT_EQ(Lines(dir_ / "sizes.dat"), 2);
  EXPECT_EQ(Lines(dir_ / "times.dat"), 2);
  EXPECT_EQ(Lines(dir_ / "radii.dat"), 12);
  std::ifstream sizes(dir_ / "sizes.dat");
  float first = 0;
  sizes >> first;
  EXPECT_EQ(first, 101.0f);
  EXPECT_EQ(CurrentGrid().ppGridSignal[1][5], 1.0f);
  EXPECT_FALSE(TimeCourse().bTimeCourseStepMode);
}

// ctot tables from data with fitted TI noise: the loaded data stay as they were,
// the levels come from the corrected copy (a sharp boundary of plateau 1 with the
// boundary radius of each scan), and the profile is computed on a grid of any size
// (here larger than the one the tables were built for).
TEST_F(TimeCourseTest, CtotTablesLeaveDataAndFollowAnyGrid) {
  InstallVelocityScans(6, 200, 600.0, 50000.0f);
  ScanFile().bAbsorbanceData = false;
  ASSERT_TRUE(BuildCommonRadialGrid());
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  const auto rb = [](int j) { return 6.05 + 0.1 * j; };
  for (int j = 1; j <= DataSet().nScans; ++j) {
    for (int q = 1; q <= DataSet().pnPoints[Idx(j)]; ++q) {
      const double r = DataSet().ppRadius[Idx(j)][q];
      DataSet().ppSignal[Idx(j)][q] = static_cast<float>((r >= rb(j) ? 1.0 : 0.0) + 0.1 * std::sin(30 * r));
    }
    FillGridSignalRow(j);
  }
  // The fitted TI noise is the sine.
  for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) CurrentGrid().pTINoise[g] = static_cast<float>(0.1 * std::sin(30 * CurrentGrid().pGridRadius[g]));
  AnalysisSwitches().bFitTINoise = true;
  const float before = DataSet().ppSignal[2][100];
  LammSettings().nLammGridPoints = 75;
  ASSERT_TRUE(BuildCtotTables());
  EXPECT_EQ(DataSet().ppSignal[2][100], before);
  EXPECT_EQ(Ctot().nCtotLevels, 75);
  EXPECT_NEAR(Ctot().gCtot.levels[Ctot().nCtotLevels], 1.0 - Ctot().gCtot.step, 1e-5);
  // Level 40 (about half the plateau) lies at the boundary of scan 3.
  EXPECT_NEAR(Ctot().gCtot.byScan[3][40], rb(3), 0.01);
  EXPECT_TRUE(std::filesystem::exists(szNonIdCtotFile));

  // The total at the time of scan 4 on a 2000-node grid: below one level before its
  // boundary (the lowest levels are interpolated from the meniscus), the top level
  // behind it.
  const int N = 2000;
  std::vector<double> r(N + 1), c(N + 1, -1.0);
  for (int i = 1; i <= N; ++i) r[Idx(i)] = 6.0 + 1.2 * (i - 1) / (N - 1);
  CalculateCtotProfile(DataSet().pScanInfo[4].time, r.data(), N, c.data());
  for (int i = 1; i <= N; ++i) {
    if (r[Idx(i)] < rb(4) - 0.02) {
      ASSERT_NEAR(c[Idx(i)], 0.0, Ctot().gCtot.step) << r[Idx(i)];
    }
    if (r[Idx(i)] > rb(4) + 0.02 && r[Idx(i)] < 7.1) {
      ASSERT_NEAR(c[Idx(i)], Ctot().gCtot.levels[Ctot().nCtotLevels], 1e-6) << r[Idx(i)];
    }
  }
  FreeCtotArrays();
  CalculateCtotProfile(100.0, r.data(), N, c.data());
  EXPECT_EQ(c[1000], 0.0);
}

}  // namespace
}  // namespace tarmic::test
