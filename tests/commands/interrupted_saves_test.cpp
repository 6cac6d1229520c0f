// What a load says of a set of files whose interrupted save could not be finished,
// at each kind of door that reads files the program saves; and two instances
// saving fit and noise into one folder at the same time.
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "distribution_window_test_support.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/noise_subtraction.h"
#include "storage/atomic_file.h"
#include "numerics/one_based.h"
#include "commands/program_services.h"
#include "storage/folder_lock.h"
#include "resources/command_ids.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/initial_data.h"
#include "scandata/radial_grid.h"
#include "services/path_table.h"
#include "tests/support/hold_folder.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUnfinishedNote = "a save of a set of files was interrupted and could not be finished";

class InterruptedSavesTest : public DistributionWindowTest {
 protected:
  std::string DataDir() { return ProgramDir() + "/data"; }

  // The journal of a save on another machine (two hours old, so ended) of a set in
  // dir and in a folder beside it that is not there (a share not mounted): no load
  // can finish it.
  static void PlantUnfinishedSet(const fs::path& dir) {
    const fs::path journal = dir / ".tarmic-save-elsewhere-4242-77-0.journal";
    std::ofstream(journal) << "tarmic save journal 1\nboot -\ncopies 2\n.\n../gone\nrenames 2\n"
                              ".a.dat.tmp-elsewhere-4242-77-0.part\na.dat\n"
                              "../gone/.b.dat.tmp-elsewhere-4242-77-1.part\n../gone/b.dat\nend\n";
    fs::last_write_time(journal, fs::file_time_type::clock::now() - std::chrono::hours(2));
  }

  // The message boxes that tell of the unfinished set; each names the folder away.
  int UnfinishedNotes() {
    int n = 0;
    for (const std::string& text : BoxTexts())
      if (text.find(kUnfinishedNote) != std::string::npos) {
        EXPECT_NE(text.find(ProgramDir() + "/gone"), std::string::npos) << text;
        ++n;
      }
    return n;
  }
};

// Set Initial Data (a loader of the data set, its box handed to the command),
// Subtract Blank Scan (a tool whose outcome the command shows) and a dropped
// parameter file (read by the command itself) each say so when the folder of the
// file read holds a set that cannot be finished, and read the file all the same.
TEST_F(InterruptedSavesTest, LoadsOfSavedFilesSayWhenASetCannotBeFinished) {
  LoadSyntheticRun();
  const fs::path folder = fs::path(ProgramDir()) / "blank";
  fs::create_directories(folder);
  const std::string profile = (folder / "profile.ra1").string();
  fs::copy_file(DataDir() + "/" + DataSet().ppScanFileNames[Idx(1)], profile);
  PlantUnfinishedSet(folder);

  Backend().ClearTranscript();
  Backend().QueueOpenFiles({profile});
  Backend().AnswerUnscriptedBoxes(IDOK);
  Dispatch(kCmSetInitialData);
  EXPECT_EQ(UnfinishedNotes(), 1) << "Set Initial Data";
  EXPECT_GT(InitialData().nInitPoints, 0);

  Backend().ClearTranscript();
  Backend().QueueOpenFiles({profile});
  Backend().AnswerUnscriptedBoxes(IDNO);
  Dispatch(kCmSubtractBlankScan);
  EXPECT_EQ(UnfinishedNotes(), 1) << "Subtract Blank Scan";
  EXPECT_NEAR(DataSet().ppSignal[Idx(1)][DataSet().pnPoints[Idx(1)] / 2], 0.0f, 1e-5f) << "the blank was subtracted";

  ChooseSmallCs();
  Backend().AnswerUnscriptedBoxes(IDYES);
  Dispatch(kCmUpdateSavedFitParameters);
  const std::string parameters = (folder / "~tmppars.ra1").string();
  fs::copy_file(DataSet().szTmpParsPath, parameters, fs::copy_options::overwrite_existing);
  Backend().ClearTranscript();
  Backend().AnswerUnscriptedBoxes(IDYES);
  Drop({parameters});
  EXPECT_EQ(UnfinishedNotes(), 1) << "dropped parameter file";
  EXPECT_TRUE(fs::exists(folder / ".tarmic-save-elsewhere-4242-77-0.journal"));
}

// Set Initial Data, Subtract Blank Scan and a dropped parameter file read their
// file only once another instance saving into its folder is done: the wait is
// shown on the window's line, naming the folder, and the file is read after it.
TEST_F(InterruptedSavesTest, LoadsOfSavedFilesWaitForASaveInTheirFolder) {
  LoadSyntheticRun();
  const fs::path folder = fs::path(ProgramDir()) / "held";
  fs::create_directories(folder);
  const std::string profile = (folder / "profile.ra1").string();
  fs::copy_file(DataDir() + "/" + DataSet().ppScanFileNames[Idx(1)], profile);
  ChooseSmallCs();
  Backend().AnswerUnscriptedBoxes(IDYES);
  Dispatch(kCmUpdateSavedFitParameters);
  const std::string parameters = (folder / "~tmppars.ra1").string();
  fs::copy_file(DataSet().szTmpParsPath, parameters, fs::copy_options::overwrite_existing);

  std::vector<std::string> shown;
  GetFolderWaitHooks().show = [&](const std::string& text) { shown.push_back(text); };
  struct Reinstall {
    ~Reinstall() { InstallProgramServices(); }
  } reinstall;
  auto waitedFor = [&](const char* door, auto load) {
    shown.clear();
    const pid_t other = HoldFolderInChild(folder, 600);
    ASSERT_GT(other, 0);
    load();
    ASSERT_EQ(::waitpid(other, nullptr, 0), other);
    ASSERT_FALSE(shown.empty()) << door << ": read without waiting for the save";
    EXPECT_NE(shown[0].find(fs::canonical(folder).string()), std::string::npos) << shown[0];
  };
  waitedFor("Set Initial Data", [&] {
    Backend().QueueOpenFiles({profile});
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmSetInitialData);
  });
  EXPECT_GT(InitialData().nInitPoints, 0);
  waitedFor("Subtract Blank Scan", [&] {
    Backend().QueueOpenFiles({profile});
    Backend().AnswerUnscriptedBoxes(IDNO);
    Dispatch(kCmSubtractBlankScan);
  });
  EXPECT_NEAR(DataSet().ppSignal[Idx(1)][DataSet().pnPoints[Idx(1)] / 2], 0.0f, 1e-5f) << "the blank was subtracted";
  waitedFor("dropped parameter file", [&] {
    Backend().AnswerUnscriptedBoxes(IDYES);
    Drop({parameters});
  });
}

// Subtract Noise from Eq Data reads a scan and saves the corrected scan beside it,
// in the folder it read: the save is not held up by the load's own hold of the
// folder, and the corrected file is the scan less the fitted TI noise.
TEST_F(InterruptedSavesTest, ACorrectedScanIsSavedBesideTheScanItWasReadFrom) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().bFitTINoise = true;
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::string input = DataDir() + "/" + DataSet().ppScanFileNames[Idx(1)];
  const std::string output = DataDir() + "/corrected.ra1";
  Backend().QueueOpenFiles({input});
  Backend().QueueSaveFile(output);
  Backend().AnswerUnscriptedBoxes(IDOK);
  Dispatch(kCmSubtractNoiseFromEqData);
  ASSERT_TRUE(fs::exists(output)) << "the corrected scan was not saved beside its input";
  const ScanRead in = ReadScan(input), out = ReadScan(output);
  ASSERT_FALSE(out.y.empty());
  // At the radii of the common grid: the scan less the TI noise there.
  int compared = 0;
  for (std::size_t k = 0; k < out.r.size(); ++k)
    for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) {
      if (std::fabs(CurrentGrid().pGridRadius[g] - out.r[k]) > 1e-6f) continue;
      for (std::size_t i = 0; i < in.r.size(); ++i)
        if (in.r[i] == out.r[k]) {
          const float noise = CurrentGrid().pTINoise[g] + (CurrentGrid().pRemovedTINoise ? CurrentGrid().pRemovedTINoise[g] : 0.0f);
          EXPECT_NEAR(in.y[i] - out.y[k], noise, 2e-4f) << "at r = " << out.r[k];
          ++compared;
        }
    }
  EXPECT_GT(compared, 10);
}

// The values of a two-column table (RI noise: time, value).
std::vector<float> TableValues(const std::string& path) {
  std::ifstream in(path);
  std::vector<float> values;
  for (float t = 0.0f, v = 0.0f; in >> t >> v;) values.push_back(v);
  return values;
}

int gToOther = -1, gFromOther = -1;
// The two instances start the replacement of each set together (once all their
// temporaries are written, each waits up to 5 s for the other), and each step of
// it takes a little while, as on a slow disk: their saves overlap.
void PauseAtStep(int step) {
  if (step == 0) {
    char c = 'x';
    (void)!::write(gToOther, &c, 1);
    pollfd other{gFromOther, POLLIN, 0};
    if (::poll(&other, 1, 5000) > 0) (void)!::read(gFromOther, &c, 1);
  }
  ::usleep(5000);
}

// Two instances each saving the fit and the noise into one folder again and again,
// without kills: every time both have ended, every scan's fit + residuals is its
// data, all fits come from one save, and TIN and RIN come from one save.
TEST_F(InterruptedSavesTest, TwoInstancesSavingFitAndNoiseIntoOneFolderNeverMix) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const int n = DataSet().nScans;
  auto path = [&](char letter, int s) {
    return DataDir() + "/" + letter + DataSet().ppScanFileNames[Idx(s)].substr(1);
  };
  auto saveFit = [&] { SaveFitDataIntoTheRunsFolder(); };
  auto saveNoise = [&] { SaveNoiseIntoTheRunsFolder(); };
  saveFit();
  saveNoise();
  std::vector<std::vector<float>> data(Idx(n) + 1), fit0(Idx(n) + 1);
  for (int s = 1; s <= n; ++s) {
    data[Idx(s)].assign(DataSet().ppSignal[Idx(s)] + DataSet().pFitFirst[Idx(s)], DataSet().ppSignal[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
    fit0[Idx(s)] = ReadScan(path('f', s)).y;
  }
  const std::vector<float> ti0 = ReadScan(DataDir() + "/TIN.ra1").y, ri0 = TableValues(DataDir() + "/RIN.ra1");
  ASSERT_FALSE(ti0.empty());
  ASSERT_FALSE(ri0.empty());

  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    pid_t children[2];
    int pipes[2][2];  // [k]: from instance k to the other
    ASSERT_EQ(::pipe(pipes[0]), 0);
    ASSERT_EQ(::pipe(pipes[1]), 0);
    for (int k = 0; k < 2; ++k) {
      children[k] = ::fork();
      ASSERT_GE(children[k], 0);
      if (children[k] != 0) continue;
      gToOther = pipes[k][1];
      gFromOther = pipes[1 - k][0];
      SetSaveStepHookForTesting(PauseAtStep);
      // Each save of each instance moves fit and noise by its own amount.
      const float step = k == 0 ? 0.01f : -0.013f;
      for (int i = 1; i <= 2; ++i) {
        const float d = step * static_cast<float>(i + 2 * round);
        for (int s = 1; s <= n; ++s)
          for (int p = 1; p <= DataSet().pnPoints[Idx(s)]; ++p) DataSet().ppFit[Idx(s)][p] += d;
        for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) CurrentGrid().pTINoise[g] += d;
        for (int j = 1; j <= n; ++j) CurrentGrid().pRINoise[j] += d;
        saveFit();
        saveNoise();
      }
      ::_exit(0);
    }
    for (const pid_t child : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (auto& ends : pipes) {
      ::close(ends[0]);
      ::close(ends[1]);
    }
    EXPECT_EQ(RecoverInterruptedSavesOf({path('f', 1)}), "");
    float fitShift = 0.0f;
    for (int s = 1; s <= n; ++s) {
      const ScanRead f = ReadScan(path('f', s)), r = ReadScan(path('r', s));
      ASSERT_EQ(f.y.size(), r.y.size());
      ASSERT_EQ(f.y.size(), fit0[Idx(s)].size());
      bool whole = true;
      for (std::size_t p = 0; p < f.y.size(); ++p) whole = whole && std::fabs(f.y[p] + r.y[p] - data[Idx(s)][p]) < 2e-4f;
      EXPECT_TRUE(whole) << "fit and residuals of scan " << s << " come from different saves";
      const float shift = f.y[0] - fit0[Idx(s)][0];
      if (s == 1) fitShift = shift;
      EXPECT_NEAR(shift, fitShift, 2e-4f) << "the fit of scan " << s << " comes from another save";
    }
    const float tiShift = ReadScan(DataDir() + "/TIN.ra1").y[0] - ti0[0];
    const float riShift = TableValues(DataDir() + "/RIN.ra1")[0] - ri0[0];
    EXPECT_NEAR(tiShift, riShift, 2e-4f) << "TIN and RIN come from different saves";
  }
}

}  // namespace
}  // namespace tarmic::testing
