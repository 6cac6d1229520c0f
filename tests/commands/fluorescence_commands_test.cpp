// The fluorescence tools of the Options menu: the correction commands with
// their questions and check marks, "FloTools", and "Sort Fluorescence Data To
// Disk" on a small folder of made-up fluorescence scans.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "commands_test_support.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/fluorescence_sorting.h"
#include "numerics/text_lines.h"
#include "platform/system.h"
#include "resources/menus.h"
#include "scandata/scan_file.h"
#include "storage/atomic_file.h"
#include "resources/command_ids.h"
#include "tests/support/read_rewrites.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;

// A fluorescence scan file: detector settings in the description, type F, three
// columns (radius, signal, noise); omega^2 t is that of 45000 rpm for the time.
std::string ScanText(int cell, double time, const char *detector) {
  std::string text = std::string("FDS scan ") + detector + "\n";
  text += "F " + std::to_string(cell) + " 20.0 45000 " + std::to_string(time) + " " +
          std::to_string(2.2206e7 * time) + " 488 1\n";
  for (int i = 0; i < 20; ++i)
    text += std::to_string(6.0 + 0.05 * i) + " " +
            std::to_string(200.0 + 10.0 * i) + " 1.0\n";
  return text;
}

// Modification time of the k-th made-up file, ns since the epoch.
std::int64_t WriteTime(int k) {
  return (1000000000LL + 3600LL * k) * 1000000000LL;
}

class FluorescenceCommandTest : public testing::CommandTest {
protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetFluorescenceDetection();
    ResetFileNameTables();
    Handle().AttachMenu(GetMenuResource(kMenuFull));
    folder_ = ProgramDir() + "/run";
    fs::create_directories(folder_);
    const char *cellOne = "Voltage: 550.5 Gain: 8 Range: 3";
    Put(1, "A00001.FA1", ScanText(1, 100, cellOne));
    Put(2, "A00002.FA1", ScanText(1, 400, cellOne));
    Put(3, "A00003.FA1", ScanText(1, 700, cellOne));
    Put(4, "A00004.FA1", ScanText(1, 1300, cellOne));
    Put(5, "B00001.FA2", ScanText(2, 150, "Voltage: 600 Gain: 4 Range: 2"));
    Put(6, "A00005.FA4", ScanText(4, 200, cellOne)); // the reference cell
    Put(7, "C00001.FA1", ScanText(1, 300, cellOne)); // not A0 or B0
    Put(8, "A10001.FA1", ScanText(1, 300, cellOne));
    testing::WriteFile(folder_ + "/A00006.RA1",
                       "not a scan"); // not an F extension
  }
  void TearDown() override {
    ResetFluorescenceDetection();
    ResetFileNameTables();
    CommandTest::TearDown();
  }
  void Put(int k, const std::string &name, const std::string &text) {
    const std::string path = folder_ + "/" + name;
    testing::WriteFile(path, text);
    FileTimes t = GetFileTimes(path);
    t.lastWrite = WriteTime(k);
    ASSERT_TRUE(SetFileTimes(path, t));
  }
  void LoadTwo() {
    LoadThroughDialog({folder_ + "/A00001.FA1", folder_ + "/A00003.FA1"});
    ASSERT_EQ(DataSet().nScans, 2);
    ASSERT_TRUE(ScanFile().bFluorescenceData);
    Backend().ClearTranscript();
  }
  std::string Sorted(const std::string &name) {
    return folder_ + "/sorted/" + name;
  }

  std::string folder_;
};

TEST_F(FluorescenceCommandTest,
       SortingTheFolderCopiesUnderDetectorNamesWithTimesAndWritesLists) {
  LoadTwo();
  Backend().QueueMessageBox(
      IDYES, "SORT FLUORESCENCE AUC DATA"); // all data in the folder
  Backend().QueueMessageBox(IDYES,
                            "SORT FLUORESCENCE AUC DATA"); // make list files
  for (const char *v : {"0", "1000", "2", "4"})
    Backend().QueueInput(v); // tmin tmax target cell
  Backend().QueueMessageBox(
      IDNO, "SORT FLUORESCENCE AUC DATA"); // no signal threshold
  Dispatch(kCmSortFluorescenceData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(Captions().size(), 3u); // no error box

  const std::string a = ".FA1_A_PMV550_r3_g8", b = ".FA2_B_PMV600_r2_g4";
  int k = 0;
  for (const std::string &name :
       {"00001" + a, "00002" + a, "00003" + a, "00004" + a, "00001" + b}) {
    ++k;
    ASSERT_TRUE(fs::exists(Sorted(name))) << name;
    EXPECT_EQ(
        testing::ReadFile(Sorted(name)),
        testing::ReadFile(
            folder_ + "/" +
            (k == 5 ? "B00001.FA2" : "A0000" + std::to_string(k) + ".FA1")));
    EXPECT_EQ(GetFileTimes(Sorted(name)).lastWrite, WriteTime(k)) << name;
  }
  // Nothing else: not the reference cell, not C0..., A1..., nor the R file.
  int files = 0;
  for (const auto &e : fs::directory_iterator(folder_ + "/sorted"))
    files += e.is_regular_file();
  EXPECT_EQ(files, 5 + 2);
  // Minimum interval (1000 - 0)/2 = 500 s: 100 s is taken, 400 s too soon, 700
  // s taken, 1300 s past t max.
  EXPECT_EQ(testing::ReadFile(Sorted("list" + a)), "newformat n=1\n" + folder_ +
                                                       "/sorted\n00001" + a +
                                                       "\n00003" + a + "\n");
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_TRUE(ScanFile().bFluorescenceData);

  // t min 0, t max 0 and target 100: each list keeps only its first scan; with
  // the signal test, scans with a point below the minimum signal in [rmin,
  // rmax] are left out (all made-up scans rise from 200 to 390 between 6.0
  // and 6.95 cm).
  fs::remove_all(folder_ + "/sorted");
  Backend().QueueMessageBox(IDYES, "SORT FLUORESCENCE AUC DATA");
  Backend().QueueMessageBox(IDYES, "SORT FLUORESCENCE AUC DATA");
  for (const char *v : {"0", "0", "100", "4"})
    Backend().QueueInput(v);
  Backend().QueueMessageBox(IDYES, "SORT FLUORESCENCE AUC DATA");
  for (const char *v : {"6.0", "6.1", "205", "100"})
    Backend().QueueInput(v);
  Dispatch(kCmSortFluorescenceData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(fs::exists(Sorted("00001" + a))); // 200 at 6.0 cm is below 205
  files = 0;
  for (const auto &e : fs::directory_iterator(folder_ + "/sorted"))
    files += e.is_regular_file();
  EXPECT_EQ(files, 0);
}

TEST_F(FluorescenceCommandTest,
       SortingTheLoadedScansReportsAFailedCopyAndKeepsWhatItHas) {
  Backend().QueueMessageBox(IDOK, "Sort Fluorescence AUC data");
  Dispatch(kCmSortFluorescenceData);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"please load data"}));

  LoadTwo();
  // The second copy's place is taken by a folder: that copy fails.
  const std::string blocked = Sorted("00003.FA1_A_PMV550_r3_g8");
  fs::create_directories(blocked);
  Backend().QueueMessageBox(IDNO, "SORT FLUORESCENCE AUC DATA");
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmSortFluorescenceData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(BoxTexts()[1], "could not copy file to new destination " + blocked + "\n" + blocked + ": " +
                              std::strerror(EISDIR));
  const std::string first = Sorted("00001.FA1_A_PMV550_r3_g8");
  EXPECT_EQ(testing::ReadFile(first), testing::ReadFile(folder_ + "/A00001.FA1"));
  EXPECT_EQ(GetFileTimes(first).lastWrite, WriteTime(1));
  for (const auto &e : fs::directory_iterator(folder_ + "/sorted"))
    EXPECT_FALSE(IsSaveTemporaryName(e.path().filename().string())) << e.path();
  EXPECT_TRUE(fs::exists(folder_ + "/A00003.FA1"));

  // Once the place is free the copy is made, over the earlier one.
  fs::remove(blocked);
  Backend().QueueMessageBox(IDNO, "SORT FLUORESCENCE AUC DATA");
  Dispatch(kCmSortFluorescenceData);
  EXPECT_EQ(GetFileTimes(blocked).lastWrite, WriteTime(3));
}

// The sorted folder holds whole copies only. A copy ended midway (a child that
// wrote half a copy and ended) leaves a hidden temporary, which no reader takes and
// the next copy into the folder takes away; a copy whose source can no longer be
// read (or, for a user the folder's mode holds, whose folder cannot be written)
// stops the sorting, names the file and leaves nothing of itself.
TEST_F(FluorescenceCommandTest, SortedCopiesAreWholeAndAFailedOrEndedCopyLeavesNothing) {
  LoadTwo();
  fs::create_directories(folder_ + "/sorted");
  const std::string first = Sorted("00001.FA1_A_PMV550_r3_g8"), second = Sorted("00003.FA1_A_PMV550_r3_g8");
  const pid_t child = ::fork();
  if (child == 0) {
    AtomicFile half(first);
    const std::string text = testing::ReadFile(folder_ + "/A00001.FA1");
    const bool written = half.IsOpen() && std::fwrite(text.data(), 1, text.size() / 2, half.File()) > 0 &&
                         std::fflush(half.File()) == 0;
    ::_exit(written ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  auto names = [&] {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(folder_ + "/sorted"))
      found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  };
  ASSERT_EQ(names().size(), 1u);
  EXPECT_TRUE(IsSaveTemporaryName(names()[0])) << names()[0];

  fs::remove(folder_ + "/A00003.FA1");
  Backend().QueueMessageBox(IDNO, "SORT FLUORESCENCE AUC DATA");
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmSortFluorescenceData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(BoxTexts()[1], "could not copy file to new destination " + second + "\n" + folder_ +
                              "/A00003.FA1: " + std::strerror(ENOENT));
  EXPECT_EQ(testing::ReadFile(first), testing::ReadFile(folder_ + "/A00001.FA1"));
  EXPECT_EQ(GetFileTimes(first).lastWrite, WriteTime(1));
  EXPECT_EQ(names(), std::vector<std::string>{fs::path(first).filename().string()});

  if (::geteuid() == 0) return;  // root writes into any folder
  Put(3, "A00003.FA1", ScanText(1, 700, "Voltage: 550.5 Gain: 8 Range: 3"));
  fs::permissions(folder_ + "/sorted", fs::perms::owner_read | fs::perms::owner_exec);
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDNO, "SORT FLUORESCENCE AUC DATA");
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmSortFluorescenceData);
  fs::permissions(folder_ + "/sorted", fs::perms::owner_all);
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(BoxTexts()[1],
            "could not copy file to new destination " + first + "\n" + first + ": " + std::strerror(EACCES));
  EXPECT_EQ(names(), std::vector<std::string>{fs::path(first).filename().string()});
}

// A scan whose first line does not name the detector's keys is not filed under
// gain 0 and range 0: the sorting names it and copies the others. Keys after a
// parenthesis, a tab or a ';' are read as they stand.
TEST_F(FluorescenceCommandTest, SortingNamesAScanWithoutDetectorKeysAndFilesNoneUnderZero) {
  Put(9, "A00009.FA1", ScanText(1, 1600, "(cell 1)\tVoltage:\t+550.5 ;Gain: 8 Range: 3"));
  Put(10, "A00010.FA1", ScanText(1, 1900, "(cell 1) no detector keys"));
  // The load says the keys are missing; the sorting names the scan again.
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  LoadThroughDialog({folder_ + "/A00009.FA1", folder_ + "/A00010.FA1"});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(DataSet().nScans, 2);
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDNO, "SORT FLUORESCENCE AUC DATA");
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmSortFluorescenceData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(BoxTexts()[1], "not sorted: " + folder_ + "/A00010.FA1 - line 1 does not name the detector's "
                           "\"Voltage:\", \"Gain:\" and \"Range:\"");
  EXPECT_TRUE(fs::exists(Sorted("00009.FA1_A_PMV550_r3_g8")));
  EXPECT_FALSE(fs::exists(Sorted("00010.FA1_A_PMV0_r0_g0")));
}

TEST_F(FluorescenceCommandTest, CorrectionCommandsSwitchAskAndMarkBothIds) {
  // No fluorescence data: declining the question switches the option off.
  FluorescenceDetection().bExcitationShadow = FluorescenceDetection().bFitConeRadius = true;
  Backend().QueueMessageBox(IDNO, "Signal Excitation Shadow");
  Dispatch(kCmExcitationShadowAlt);
  EXPECT_FALSE(FluorescenceDetection().bExcitationShadow || FluorescenceDetection().bFitConeRadius);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmExcitationShadow));

  LoadTwo();
  const float recorded = DataSet().ppSignal[1][10];
  // Nonlinear detection: an exponent of 0 is refused and asked again.
  Backend().QueueMessageBox(IDYES, "Nonlinear Detection");
  Backend().QueueInput("0");
  Backend().QueueMessageBox(IDOK, "Nonlinear Detection");
  Backend().QueueInput("0.8");
  Backend().QueueMessageBox(IDNO,
                            "Nonlinear Detection"); // fit power coefficient?
  Backend().QueueInput("100");                      // baseline
  Backend().QueueMessageBox(IDYES, "Nonlinear Detection"); // show transformed
  Dispatch(kCmNonlinearDetectionAlt);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(FluorescenceDetection().bNonlinearDetection && FluorescenceDetection().bShowTransformed && FluorescenceDetection().bTransformedShown);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 0.8f);
  EXPECT_NEAR(DataSet().ppSignal[1][10], std::pow(recorded - 100.0, 0.8) + 100.0, 1e-3);
  // Switched off through the menu item: the recorded data are shown again.
  Backend().QueueMessageBox(IDNO, "Nonlinear Detection");
  Dispatch(kCmNonlinearDetection);
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection || FluorescenceDetection().bTransformedShown);
  EXPECT_EQ(DataSet().ppSignal[1][10], recorded);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmNonlinearDetection));

  // FloTools: the dialog's options carry their check marks.
  Backend().QueueDialog(IDOK, TransferBuffer{{{617, "0.004"}}, {{625, true}}});
  Dispatch(kCmFloTools);
  EXPECT_TRUE(FluorescenceDetection().bRadialConvolution);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConvolutionWidth, 0.004f);
  EXPECT_TRUE(Handle().IsMenuItemChecked(kCmSignalRadialConvolution));
}

// Nonlinear detection proposes an exponent its own prompt takes (1, the linear
// response, while none is set), and a cancelled input leaves the option and every
// value as they were, as it does for the other corrections: nothing is left on
// with a value the parameter file would refuse, and the quick save writes no file
// its reader refuses.
TEST_F(FluorescenceCommandTest, ProposalsLieInTheirRangeAndACancelChangesNothing) {
  LoadTwo();
  ASSERT_EQ(FluorescenceDetection().fPowerCoefficient, 0.0f);
  for (const int cancelAt : {1, 2}) {  // the exponent, the baseline
    SCOPED_TRACE(cancelAt);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDYES, "Nonlinear Detection");
    if (cancelAt == 2) {
      Backend().QueueInput("0.8");
      Backend().QueueMessageBox(IDYES, "Nonlinear Detection");  // fit power coefficient?
    }
    Backend().QueueInput(std::nullopt);
    Dispatch(kCmNonlinearDetection);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection || FluorescenceDetection().bFitPowerCoefficient || FluorescenceDetection().bTransformedShown);
    EXPECT_EQ(FluorescenceDetection().fPowerCoefficient, 0.0f);
    EXPECT_FALSE(Handle().IsMenuItemChecked(kCmNonlinearDetection));
    const auto& t = Backend().Transcript();
    const auto input = std::find_if(t.begin(), t.end(), [](const TranscriptEntry &e) { return e.kind == "Input"; });
    ASSERT_NE(input, t.end());
    EXPECT_EQ(input->initial, "1.000000");
  }
  const struct {
    int command;
    const char *caption;
    const bool *option;
  } corrections[] = {
      {kCmSignalRadialConvolution, "Signal Radial Convolution", &FluorescenceDetection().bRadialConvolution},
      {kCmExcitationShadow, "Signal Excitation Shadow", &FluorescenceDetection().bExcitationShadow},
      {kCmSignalMagnificationDrift, "Signal Amplitude Change With Time", &FluorescenceDetection().bMagnificationDrift},
      {kCmSignalMagnificationGradient, "Signal Amplitude Change With Radius", &FluorescenceDetection().bMagnificationGradient},
  };
  for (const auto &c : corrections) {
    Backend().QueueMessageBox(IDYES, c.caption);
    Backend().QueueInput(std::nullopt);
    Dispatch(c.command);
    EXPECT_TRUE(Backend().AllAnswersUsed()) << c.caption;
    EXPECT_FALSE(*c.option) << c.caption;
    EXPECT_FALSE(Handle().IsMenuItemChecked(c.command)) << c.caption;
  }

  // A state the parameter file refuses is not written.
  FluorescenceDetection().bNonlinearDetection = true;
  const SaveResult saved = TmpSaveBestParams(&Handle(), false);
  FluorescenceDetection().bNonlinearDetection = false;
  EXPECT_FALSE(saved.ok);
  EXPECT_NE(saved.message.find("would not load again: lines 157 and 158"), std::string::npos) << saved.message;
}

// The number inputs of the correction commands are judged as the dialog and the
// parameter file judge the same values: a value out of range beeps, names the
// value and its range and is asked again.
TEST_F(FluorescenceCommandTest, CorrectionInputsRefuseValuesOutOfRangeNamingThem) {
  LoadTwo();
  FluorescenceDetection().fConeRadius = 0.05f;
  Backend().QueueMessageBox(IDYES, "Signal Excitation Shadow");
  Backend().QueueInput("-1");
  Backend().QueueMessageBox(IDOK, "Signal Excitation Shadow");
  Backend().QueueInput("1e30");
  Backend().QueueMessageBox(IDOK, "Signal Excitation Shadow");
  Backend().QueueInput("0.04");
  Backend().QueueMessageBox(IDNO, "Signal Excitation Shadow"); // fit cone radius?
  Dispatch(kCmExcitationShadow);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConeRadius, 0.04f);
  // The refusals among the boxes (the others are the questions).
  auto refusals = [&] {
    std::vector<std::string> r;
    for (const std::string &t : BoxTexts())
      if (t.find(" must ") != std::string::npos)
        r.push_back(t);
    return r;
  };
  EXPECT_EQ(refusals(),
            (std::vector<std::string>{
                "the cone radius -1 cm must lie between 0 and 20 cm",
                "the cone radius 1e+30 cm must lie between 0 and 20 cm"}));

  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDYES, "Nonlinear Detection");
  Backend().QueueInput("0");
  Backend().QueueMessageBox(IDOK, "Nonlinear Detection");
  Backend().QueueInput("1");
  Backend().QueueMessageBox(IDNO, "Nonlinear Detection"); // fit power coefficient?
  Backend().QueueInput("1e30");                            // baseline
  Backend().QueueMessageBox(IDOK, "Nonlinear Detection");
  Backend().QueueInput("0");
  Backend().QueueMessageBox(IDNO, "Nonlinear Detection"); // show transformed?
  Dispatch(kCmNonlinearDetection);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(refusals(),
            (std::vector<std::string>{
                "the power coefficient d(log(a))/dc 0 must lie between 1e-06 and 1000",
                "the baseline for the power law 1e+30 must lie between -1e+06 and 1e+06"}));
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 1.0f);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerBaseline, 0.0f);
}

} // namespace
} // namespace tarmic

namespace tarmic {
namespace {


// The scans of the folder are one set for the sorting: another program rewrites
// all of them (in place at the same size or another, or by new files renamed over
// them; the detector's settings kept or changed, which changes the sorted names)
// between two reads of the sorting, once or twice. The sorted folder then holds
// the copies of the old scans, all of them, or of the new ones, all of them, or
// nothing with a note naming a changed scan; never copies of both.
TEST_F(FluorescenceCommandTest, ScansRewrittenWhileSortedGiveOneWholeSetOrNone) {
  LoadTwo();
  const std::vector<std::pair<std::string, int>> scans = {
      {"A00001.FA1", 1}, {"A00002.FA1", 1}, {"A00003.FA1", 1},
      {"A00004.FA1", 1}, {"B00001.FA2", 2}, {"A00005.FA4", 4}};
  // Version 0 is the old set; the signal's first digit tells the version (2, 3,
  // 4), another size adds a digit to every signal, and the changed settings
  // move the voltage.
  auto text = [](int cell, int version, bool otherSize, bool otherVoltage) {
    std::string t = ScanText(cell, 100.0 * cell, version > 0 && otherVoltage
                                                     ? "Voltage: 700 Gain: 8 Range: 3"
                                                     : "Voltage: 550.5 Gain: 8 Range: 3");
    if (version == 0)
      return t;
    std::string out;
    for (std::size_t at = 0; at < t.size();) {
      std::size_t end = t.find('\n', at);
      std::string line = t.substr(at, end - at);
      // Rows "r signal 1.0": the signal 2xx becomes (2 + version)xx.
      if (const std::size_t sp = line.find(' '); line.rfind("6.", 0) == 0 || line.rfind("7.", 0) == 0) {
        line[sp + 1] = static_cast<char>('2' + version);
        if (otherSize)
          line.insert(sp + 2, "0");
      }
      out += line + "\n";
      at = end + 1;
    }
    return out;
  };
  struct Way {
    const char *what;
    bool rename, otherSize, otherVoltage;
  };
  const Way ways[] = {{"in place, same size", false, false, false},
                      {"in place, another size", false, true, false},
                      {"renamed over, same size", true, false, false},
                      {"in place, other detector settings", false, false, true}};
  const int kScans = static_cast<int>(scans.size());
  int old = 0, fresh = 0, refused = 0;
  for (const Way &way : ways)
    for (int first = 1; first <= 2 * kScans + 1; first += 1)
      for (int second = 0; second <= 2 * kScans + 1; second += 3) {
        if (second != 0 && second <= first)
          continue;
        const std::string what = std::string(way.what) + ", after read " + std::to_string(first) +
                                 (second ? " and " + std::to_string(second) : "");
        fs::remove_all(folder_ + "/sorted");
        int k = 0;
        for (const auto &[name, cell] : scans)
          Put(++k, name, text(cell, 0, false, false));
        test::ReadRewrites r;
        r.dir = folder_ + "/";
        r.skip = "/sorted/";
        r.at = {first};
        if (second)
          r.at.insert(second);
        r.rewrite = [&](int version) {
          for (const auto &[name, cell] : scans) {
            const std::string path = folder_ + "/" + name;
            if (way.rename) {
              testing::WriteFile(path + ".new", text(cell, version, way.otherSize, way.otherVoltage));
              fs::rename(path + ".new", path);
            } else {
              testing::WriteFile(path, text(cell, version, way.otherSize, way.otherVoltage));
            }
          }
        };
        const SortOutcome out = [&] {
          test::ScopedReadRewrites rewrites(r);
          return SortFluorescenceFolder(nullptr, FolderSortOptions{});
        }();
        std::vector<std::string> sorted;
        for (const auto &e : fs::directory_iterator(folder_ + "/sorted"))
          sorted.push_back(e.path().filename().string());
        if (!out.errors.empty()) {
          ++refused;
          ASSERT_EQ(out.errors.size(), 1u) << what;
          EXPECT_EQ(out.errors[0].rfind("nothing was sorted: the files were changed while they were read", 0), 0u)
              << what << ": " << out.errors[0];
          EXPECT_NE(out.errors[0].find(folder_ + "/A00001.FA1"), std::string::npos) << what;
          EXPECT_EQ(out.copied, 0) << what;
          EXPECT_TRUE(sorted.empty()) << what << ": " << sorted.front();
          continue;
        }
        // Every copy is the scan as it stands now (one version throughout, the last
        // written), under the name its own settings give.
        EXPECT_EQ(out.copied, kScans) << what;
        ASSERT_EQ(static_cast<int>(sorted.size()), kScans) << what;
        const std::string volts = r.done > 0 && way.otherVoltage ? "700" : "550";
        for (const auto &[name, cell] : scans) {
          const std::string source = testing::ReadFile(folder_ + "/" + name);
          EXPECT_EQ(source, text(cell, r.done, way.otherSize, way.otherVoltage)) << what;
          const std::string expected = name.substr(1) + "_" + name.substr(0, 1) + "_PMV" + volts + "_r3_g8";
          ASSERT_TRUE(fs::exists(Sorted(expected))) << what << ": " << expected;
          EXPECT_EQ(testing::ReadFile(Sorted(expected)), source) << what << ": " << expected;
        }
        ++(r.done == 0 ? old : fresh);
      }
  std::printf("[ sweep    ] %d sortings copied the old scans, %d the new ones, %d were refused\n", old, fresh,
              refused);
  EXPECT_GT(old, 0);
  EXPECT_GT(fresh, 0);
  EXPECT_GT(refused, 0);
}

} // namespace
} // namespace tarmic
