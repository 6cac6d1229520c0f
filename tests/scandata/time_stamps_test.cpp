// Scan time stamps: the dilation factor from the files' modification times, the
// "timestampanalysis" report with its outliers, the corrected "tcorr_" copies and
// their reload, and the reset of the times from the file times.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "numerics/one_based.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/system.h"
#include "scandata/file_list.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/time_stamps.h"
#include "scandata_test_support.h"
#include "services/answer_policy.h"

namespace tarmic::testing {
namespace {

constexpr std::int64_t kBaseSeconds = 1600000000;  // a file time in September 2020

class TimeStampTest : public ScanDataTest {
 protected:
  void SetUp() override {
    ScanDataTest::SetUp();
    UiEvents().Clear();
  }
  void TearDown() override {
    UiEvents().Clear();
    ScanDataTest::TearDown();
  }

  // Writes one scan per recorded time, named a.ra1, b.ra1, ..., gives file k the
  // modification time kBaseSeconds + offsets[k], and loads them all.
  std::vector<std::string> LoadRun(const std::string& name, const std::vector<double>& times,
                                   const std::vector<std::int64_t>& offsets,
                                   const std::vector<std::string>& descriptions = {}) {
    dir = ScratchDir(name);
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < times.size(); ++k) {
      const std::string path = dir + "/" + std::string(1, static_cast<char>('a' + k)) + ".ra1";
      std::string text = (descriptions.empty() ? "scan" : descriptions[k]) + "\nR 1 20.0 50000 " +
                         std::to_string(static_cast<long>(times[k])) + " " +
                         std::to_string(times[k] * 2.7e7) + " 280 1\n";
      for (int i = 0; i < 20; ++i)
        text += "   " + std::to_string(5.9 + 0.01 * i).substr(0, 6) + "  1.00000e-01   0.00000e+00 \n";
      WriteText(path, text);
      FileTimes t;
      t.valid = true;
      t.lastWrite = (kBaseSeconds + offsets[k]) * 1000000000LL;
      t.lastAccess = t.lastWrite;
      EXPECT_TRUE(SetFileTimes(path, t));
      paths.push_back(path);
    }
    LoadAllData(&GetBackend().MainWindow(), MakeSelectionBuffer(paths).c_str(), FrontEndAnswers());
    return paths;
  }

  // Recorded span 3600 s, file times span 3700 s; loaded without the check.
  std::vector<std::string> LoadDilatedRun(const std::string& name) {
    TimeStamps().bCheckTimeStamps = false;
    return LoadRun(name, {1000, 2800, 4600}, {0, 1850, 3700});
  }

  std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (const TranscriptEntry& e : backend->Transcript())
      if (e.kind == "MessageBox" || e.kind == "TextViewer" || e.kind == "Input")
        out.push_back(e.kind + " " + e.caption + ": " + e.text);
    return out;
  }

  ScopedHeadlessBackend backend;
  std::string dir;
};

TEST_F(TimeStampTest, DilatedRunIsCorrectedIntoCopiesAndReloaded) {
  // Recorded span 3600 s, file times span 3700 s: factor 1.027778.
  backend->QueueMessageBox(IDYES, "CHECK TIME STAMP");
  LoadRun("dilated", {1000, 2800, 4600}, {0, 1850, 3700});

  const std::string report = dir + "/timestampanalysis.ra1";
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"TextViewer : " + report,
                                               "MessageBox CHECK TIME STAMP: save corrected files and reload?"}));
  const std::string text = ReadText(report);
  EXPECT_EQ(text.rfind("t1 = ", 0), 0u);
  EXPECT_NE(text.find("t2 = "), std::string::npos);
  EXPECT_NE(text.find("\tdelta-t(2-1) = 1850.0 sec, \t1800.0 elapsed time difference recorded in file; "
                      "discrepancy = 50.0; [residual from OS projection = "),
            std::string::npos);
  EXPECT_NE(text.find("t3 = "), std::string::npos) << "the last scan is listed when a correction is due";
  EXPECT_EQ(text.find("OUTLIER"), std::string::npos);
  EXPECT_NE(text.find("\n\n--> correction factor (delta-file timestamp/delta-recorded time) = 1.027778\n"),
            std::string::npos);

  // The copies are loaded now, their times scaled, and named by the stored list.
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "tcorr_a.ra1");
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].recordedTime, 2877.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[3].recordedTime, 4727.0);
  EXPECT_TRUE(DataSet().pScanInfo[1].timeStampOk);
  EXPECT_EQ(DataSet().pScanInfo[1].description, "[TIMESTAMP CORRECTED 1.027778]scan");
  EXPECT_EQ(FileList().ppStoredFileNames[3], dir + "/tcorr_c.ra1");
  EXPECT_EQ(ReadText(dir + "/list_corr.ra1"),
            "newformat n=1\n" + dir + "\ntcorr_a.ra1\ntcorr_b.ra1\ntcorr_c.ra1\n");
  EXPECT_EQ(GetFileTimes(dir + "/tcorr_b.ra1").lastWrite, GetFileTimes(dir + "/b.ra1").lastWrite)
      << "copies keep the instrument's file times";
  EXPECT_EQ(ReadText(dir + "/a.ra1").rfind("scan\n", 0), 0u) << "the originals are untouched";
  EXPECT_EQ(backend->Headless().Title(), "SEDIMENTATION ANALYSIS -> " + dir + "/tcorr_a.ra1...");
  EXPECT_TRUE(backend->AllAnswersUsed());
}

TEST_F(TimeStampTest, ScanOffTheProjectionByMoreThan60SecondsIsAnOutlier) {
  TimeStamps().bCheckTimeStamps = false;
  // factor 3700 / 3600; scan 2 is projected to 1850 s, scan 3 to 2775 s.
  LoadRun("outliers", {1000, 2800, 3700, 4600}, {0, 1850 + 61, 2775 + 60, 3700});
  ASSERT_EQ(DataSet().nScans, 4);
  bool error = true;
  double* recorded = nullptr;
  double* files = nullptr;
  const double factor = TimeStampAnalysis(false, &error, &recorded, &files);
  EXPECT_FALSE(error);
  EXPECT_NEAR(factor, 3700.0 / 3600.0, 1e-12);
  EXPECT_DOUBLE_EQ(recorded[2], 1800.0);
  EXPECT_DOUBLE_EQ(files[2], 1911.0);
  EXPECT_DOUBLE_EQ(files[4], 3700.0);
  free_dvector(recorded, 1, DataSet().nScans);
  free_dvector(files, 1, DataSet().nScans);

  const std::string text = ReadText(dir + "/timestampanalysis.ra1");
  EXPECT_NE(text.find("OUTLIER " + dir + "/b.ra1: t2 = "), std::string::npos);
  EXPECT_EQ(text.find("OUTLIER " + dir + "/c.ra1"), std::string::npos);
  EXPECT_NE(text.find("\n\n--> attention - found 1 files with odd time stamp (see above)"), std::string::npos);
  EXPECT_EQ(FileList().nStoredFiles, 4) << "the stored list still names the loaded scans";
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TimeStampTest, EnterOnEveryQuestionNeverWritesOrChangesTheScans) {
  // Copied files: a short recorded span asks for a factor by hand; a dilated run
  // offers corrected copies. Enter (the default button) declines both.
  backend->QueueMessageBoxEnter("CHECK TIME STAMP");
  LoadRun("enter_manual", {1000, 1030}, {0, 30});
  const std::string manualDir = dir;
  backend->QueueMessageBoxEnter("CHECK TIME STAMP");
  LoadRun("enter_dilated", {1000, 2800, 4600}, {0, 1850, 3700});
  EXPECT_TRUE(backend->AllAnswersUsed());
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "a.ra1");
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[3].recordedTime, 4600.0);
  for (const std::string& d : {manualDir, dir})
    for (const auto& entry : std::filesystem::directory_iterator(d))
      EXPECT_EQ(entry.path().filename().string().rfind("tcorr_", 0), std::string::npos) << entry.path();
  for (const TranscriptEntry& e : backend->Transcript())
    if (e.kind == "MessageBox") EXPECT_EQ(DefaultButtonResult(e.style), IDNO) << e.text;
}

TEST_F(TimeStampTest, RunWithinTheThresholdWritesNoReport) {
  LoadRun("on_time", {1000, 4600}, {0, 3601});
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(std::filesystem::exists(dir + "/timestampanalysis.ra1"));
}

TEST_F(TimeStampTest, ShortRecordedSpanAsksForAFactorByHand) {
  backend->QueueMessageBox(IDNO, "CHECK TIME STAMP");
  LoadRun("manual", {1000, 1030}, {0, 30});
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "MessageBox CHECK TIME STAMP: Attention: no time stamp information available - "
                         "enter manually (version# >= 6)?"}));
  EXPECT_EQ(DataSet().ppScanFileNames[1], "a.ra1");

  backend->ClearTranscript();
  backend->QueueMessageBox(IDYES, "CHECK TIME STAMP");
  backend->QueueInput("1.05");
  backend->QueueMessageBox(IDYES, "CHECK TIME STAMP");
  EXPECT_EQ(CheckTimeStamps(&GetBackend().MainWindow(), FrontEndAnswers()), 1);
  EXPECT_EQ(Boxes()[1], "Input CHECK TIME STAMP: dilation factor");
  EXPECT_EQ(ReadText(dir + "/tcorr_b.ra1").rfind("[TIMESTAMP CORRECTED 1.050000 (manual)]scan\nR 1 20.0 50000 1081 ", 0),
            0u);
  EXPECT_EQ(FileList().ppStoredFileNames[2], dir + "/tcorr_b.ra1");
}

TEST_F(TimeStampTest, CorrectionStopsWhenACopyCannotBeWritten) {
  LoadDilatedRun("unwritable");
  std::filesystem::create_directory(dir + "/tcorr_b.ra1");  // no file can take this name
  backend->QueueMessageBox(IDYES, "CHECK TIME STAMP");
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_EQ(CheckTimeStamps(&GetBackend().MainWindow(), FrontEndAnswers()), 0);
  const std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_NE(boxes[2].find("could not write " + dir + "/tcorr_b.ra1"), std::string::npos);
  EXPECT_EQ(FileList().ppStoredFileNames[2], dir + "/b.ra1");
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].recordedTime, 2800.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].time, 2800.0);
  EXPECT_FALSE(DataSet().pScanInfo[2].timeStampOk);
  EXPECT_FALSE(std::filesystem::exists(dir + "/list_corr.ra1"));
}

TEST_F(TimeStampTest, MarkedOrMixedRunsAreNotAnalysed) {
  TimeStamps().bCheckTimeStamps = false;
  LoadRun("marked", {1000, 2800, 4600}, {0, 5000, 9000},
          {"[T OK]scan", "scan", "[TIMESTAMP CORRECTED 1.01]scan"});
  bool mixed = false;
  EXPECT_EQ(TimeStampMarks(&mixed), 1);
  EXPECT_TRUE(mixed);
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_EQ(CheckTimeStamps(&GetBackend().MainWindow(), FrontEndAnswers()), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"MessageBox Error: Attention: some scans time corrected, others not"}));

  // Equilibrium data are never corrected; their records become marked.
  DataSet().bEquilibriumMode = true;
  EXPECT_EQ(CheckTimeStamps(&GetBackend().MainWindow(), FrontEndAnswers()), 0);
  for (int i = 1; i <= DataSet().nScans; ++i) EXPECT_TRUE(DataSet().pScanInfo[i].timeStampOk);
}

TEST_F(TimeStampTest, ResetFromFileTimesReadsEveryTimeBeforeChangingAny) {
  auto paths = LoadDilatedRun("reset");
  std::filesystem::remove(paths[2]);
  backend->QueueMessageBox(IDYES, "FIX TIME AND W2T");
  backend->QueueMessageBox(IDOK, "Error");
  ResetTimesFromFileTimes(&GetBackend().MainWindow(), FrontEndAnswers());
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "MessageBox FIX TIME AND W2T: using #1 (" + paths[0] + ") as reference for t (1000.000000), w^2t",
                         "MessageBox Error: \n\aAttention: could not open " + paths[2]}));
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].time, 2800.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[3].time, 4600.0);
}

TEST_F(TimeStampTest, ResetFromFileTimesRelativeToAPickedScan) {
  int saves = 0;
  GetDataSetHooks().saveRawDataSet = [&](Window*) { ++saves; };
  LoadDilatedRun("reset_pick");
  const double omega2tRef = DataSet().pScanInfo[2].omega2t;
  backend->QueueMessageBox(IDNO, "FIX TIME AND W2T");
  backend->QueueInput("2");
  backend->QueueMessageBox(IDYES, "FIX TIME AND W2T");
  backend->QueueMessageBox(IDYES, "");
  ResetTimesFromFileTimes(&GetBackend().MainWindow(), FrontEndAnswers());
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].time, 2800.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[1].time, 2800.0 - 1850.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[3].recordedTime, 2800.0 + 1850.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[3].timeAtLoad, 2800.0 + 1850.0);
  const float w = static_cast<float>(50000 * 3.14159265358979323846 / 30.0);
  EXPECT_NEAR(DataSet().pScanInfo[3].omega2t, omega2tRef + static_cast<double>(w) * w * 1850.0, 1.0);
  EXPECT_EQ(saves, 1);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

}  // namespace
}  // namespace tarmic::testing
