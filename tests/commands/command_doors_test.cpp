// Walks through every command of the response table with every question answered
// by what it asks, the way a user who says Yes to everything would meet the
// program's doors, and checks two rules that must hold for every door, also for a
// command added later:
//  - a save never replaces a file that exists without the user's Yes: the walk is
//    made twice, the first time to let every save write its files, the second time
//    with every "already exists" question answered No; no file that existed before
//    a command may have other contents after it;
//  - a command that changes the loaded data (signals, radii, times, scans), the model
//    or a value or setting the model reads ends the claim of the fit on show to them
//    (FitOfLoadedData), and a claim that holds after a command is what a Run gives.
// Number inputs take the value they propose (the first few of a command), file
// dialogs name files in the test's own folders, template dialogs are cancelled.
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/printout.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distribution_window_test_support.h"
#include "distributions/distribution_grid.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "storage/atomic_file.h"
#include "scandata/analysis_switches.h"
#include "scandata/scan_file.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

// The loaded data as a user sees them: every scan's radii, signal, third column
// and time, copied.
struct LoadedData {
  std::vector<std::vector<float>> radius, signal, third;
  std::vector<double> time;
  bool operator==(const LoadedData&) const = default;
};

LoadedData CopyOfLoadedData() {
  LoadedData d;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const int n = DataSet().pnPoints[Idx(s)];
    auto copy = [n](const float* a) {
      return a ? std::vector<float>(a + 1, a + 1 + n) : std::vector<float>();
    };
    d.radius.push_back(copy(DataSet().ppRadius[Idx(s)]));
    d.signal.push_back(copy(DataSet().ppSignal[Idx(s)]));
    d.third.push_back(copy(DataSet().ppThirdColumn[Idx(s)]));
    d.time.push_back(DataSet().pScanInfo[Idx(s)].time);
  }
  return d;
}

class CommandDoorsTest : public DistributionWindowTest {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    files_ = CopyVelocitySet(ProgramDir() + "/data");
    fs::create_directories(ProgramDir() + "/out");
    fs::create_directories(ProgramDir() + "/blank");
    blank_ = ProgramDir() + "/blank/00002.ra1";
    fs::copy_file(files_[1], blank_);
    if (const char* path = std::getenv("PATH")) oldPath_ = path;
    fs::create_directories(ProgramDir() + "/emptybin");
    setenv("PATH", (ProgramDir() + "/emptybin").c_str(), 1);
    Backend().Headless().Resize(240, 180);
    UiEvents().Clear();
    Win().EvSize(SIZE_RESTORED, Size{240, 180});
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    DistributionWindowTest::TearDown();
    test::ResetModelCalcState();
  }

  // Every question answered by what it asks; "already exists" by replaceAnswer.
  void AnswerEverything(int replaceAnswer) {
    HeadlessBackend::UnscriptedRules rules;
    rules.box = [this, replaceAnswer](std::string_view text, std::string_view, unsigned) {
      if (onBox_) onBox_(text);
      if (text.find("already exists") != std::string_view::npos) {
        askedReplace_ = true;
        return replaceAnswer;
      }
      return IDYES;
    };
    rules.input = [this](std::string_view, std::string_view initial) -> std::optional<std::string> {
      if (++inputs_ > 6) return std::nullopt;
      return std::string(initial);
    };
    rules.open = [this](const FileDialogOptions&) { return std::vector<std::string>{blank_}; };
    rules.save = [this](const FileDialogOptions& o) -> std::optional<std::string> {
      std::string name = fs::path(o.defaultName).filename().string();
      if (name.empty()) name = "saved";
      if (fs::path(name).extension().empty() && !o.defaultExt.empty())
        name += "." + o.defaultExt.substr(o.defaultExt.find_first_not_of('.'));
      return ProgramDir() + "/out/" + name;
    };
    rules.folder = [this](const FileDialogOptions&) -> std::optional<std::string> {
      return ProgramDir() + "/out";
    };
    Backend().SetUnscriptedRules(rules);
    Backend().CancelUnscriptedDialogs();
  }

  void Load() {
    Backend().QueueOpenFiles(files_);
    Dispatch(kCmLoadNewFiles);
  }

  // The velocity set loaded and a c(s) distribution with TI noise computed for it,
  // on a coarse grid; again whenever a command left less.
  void EnsureFitOfTheSet() {
    // The rows of the set and of its blank hold three columns: a column count that
    // "Set n Columns" left (2 by default) would refuse them, as any row of another
    // count is refused.
    ScanFile().bSetNColumns = false;
    if (DataSet().nScans == 3 && ModelFlags().bContiSModel && FitOfLoadedData() && DistributionVectors().pDistValues) return;
    Backend().ClearTranscript();
    if (DataSet().nScans != 3 || DataSet().ppScanFileNames[1] != "00001.ra1") Load();
    ASSERT_EQ(DataSet().nScans, 3);
    Dispatch(kCmContinuousCs);
    AnalysisSwitches().pParams[kContiSlotGridCount] = 10.0f;
    AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
    UnpackModelParams();
    AnalysisSwitches().bFitTINoise = true;
    Dispatch(kCmRun);
    ASSERT_TRUE(FitOfLoadedData());
  }

  std::set<int> CommandIds() {
    std::set<int> ids;
    for (const ResponseEntry& e : MainWindowResponseTable())
      if (e.message == 0) ids.insert(e.id);
    return ids;
  }

  // Chooses a command and paints after it; input answers count per command.
  void Choose(int id) {
    inputs_ = 0;
    askedReplace_ = false;
    Backend().ClearTranscript();
    DispatchAndPaint(id);
    UiEvents().Clear();
  }

  // Contents of every file the saves may reach, except the files the program keeps
  // for itself beside the data (saved best parameters, distribution grid, notes),
  // which it rewrites at every fit without a question.
  std::map<std::string, std::string> SavedFiles() {
    std::map<std::string, std::string> files;
    const std::set<std::string> own = {fs::path(DataSet().szTmpParsPath).lexically_normal().string(),
                                       fs::path(DataSet().szSdistPath).lexically_normal().string(),
                                       fs::path(DataSet().szNotesPath).lexically_normal().string()};
    for (const char* folder : {"/data", "/out", "/blank"}) {
      std::error_code ec;
      for (const auto& e : fs::recursive_directory_iterator(ProgramDir() + folder, ec)) {
        if (!e.is_regular_file() || IsSaveTemporaryName(e.path().filename().string())) continue;
        const std::string path = e.path().lexically_normal().string();
        if (own.count(path)) continue;
        files[path] = ReadFile(path);
      }
    }
    return files;
  }

  // Pixels of the back-buffer that a fresh paint of the window changes (the fresh
  // paint stays); while a box is open, of the window as it stands under the box.
  int StalePixels() {
    if (Win().bRunInProgress || Win().bFitInProgress || bPrinting) return 0;
    const bool modal = Win().bModalBoxOpen, dialog = bFileDialogOpen;
    Win().bModalBoxOpen = bFileDialogOpen = false;
    const Image before = Handle().Screen();
    PaintWindow(Win());
    Win().bModalBoxOpen = modal;
    bFileDialogOpen = dialog;
    const Image& after = Handle().Screen();
    int stale = 0;
    for (int y = 0; y < after.Height(); ++y)
      for (int x = 0; x < after.Width(); ++x) stale += before.Pixel(x, y) != after.Pixel(x, y);
    return stale;
  }
  // Chooses a command as a user does, through the message loop, over a window that
  // shows the result; the boxes that opened over a stale picture, by their text.
  std::vector<std::string> ChooseThroughEvents(int id) {
    inputs_ = 0;
    askedReplace_ = false;
    Backend().ClearTranscript();
    UiEvents().Clear();
    PaintWindow(Win());
    std::vector<std::string> stale;
    onBox_ = [&](std::string_view text) {
      const std::function<void(std::string_view)> self = std::move(onBox_);
      if (StalePixels() > 0) stale.emplace_back(text);
      onBox_ = self;
    };
    UiEvents().Post(Event::Command(id));
    for (int i = 0; i < 1000; ++i) {
      std::optional<Event> e = UiEvents().Take();
      if (!e) break;
      if (e->type != EventType::Quit) DispatchEvent(Win(), *e);
    }
    onBox_ = nullptr;
    UiEvents().Clear();
    return stale;
  }

  std::function<void(std::string_view)> onBox_;
  std::vector<std::string> files_;
  std::string blank_;
  std::string oldPath_;
  int inputs_ = 0;
  bool askedReplace_ = false;
};

// The commands of the list in shards by their place in it, each shard a case of its
// own: every command is a fit and more, dear under the sanitizers.
constexpr int kCommandShards = 4;

std::set<int> ShardOf(const std::set<int>& all, int shard) {
  std::set<int> ids;
  int place = 0;
  for (int id : all)
    if (place++ * kCommandShards / static_cast<int>(all.size()) == shard) ids.insert(id);
  return ids;
}

class CommandDoorsShard : public CommandDoorsTest, public ::testing::WithParamInterface<int> {};

TEST_P(CommandDoorsShard, EverySaveAsksBeforeItReplacesAFile) {
  const std::set<int> all = CommandIds();
  ASSERT_GT(all.size(), 240u);
  const std::set<int> ids = ShardOf(all, GetParam());
  ASSERT_FALSE(ids.empty());

  // First round: every save writes its files (Yes to replacing too).
  AnswerEverything(IDYES);
  std::set<int> wrote;
  for (int id : ids) {
    EnsureFitOfTheSet();
    const std::map<std::string, std::string> before = SavedFiles();
    Choose(id);
    if (SavedFiles() != before) wrote.insert(id);
  }

  // Second round, of the commands that wrote, on the files of the first: No to
  // every replacement. A file that existed before a command keeps its contents.
  AnswerEverything(IDNO);
  std::set<int> asked;
  for (int id : wrote) {
    SCOPED_TRACE("command " + std::to_string(id) + " \"" + CommandDisplayName(id) + "\"");
    EnsureFitOfTheSet();
    const std::map<std::string, std::string> before = SavedFiles();
    Choose(id);
    if (askedReplace_) asked.insert(id);
    const std::map<std::string, std::string> after = SavedFiles();
    for (const auto& [path, contents] : before) {
      const auto it = after.find(path);
      EXPECT_TRUE(it != after.end() && it->second == contents)
          << path << " was replaced or removed without a question";
    }
  }

  // The doors met (the options the walk switches on the way may give a save other
  // names the second time): the saves of fits, distributions, noise, data sets,
  // Monte-Carlo results and sorted equilibrium data are among them.
  std::string list;
  for (int id : wrote) list += "\n  " + CommandDisplayName(id) + (asked.count(id) ? " (asked)" : "");
  std::cout << "commands that wrote files: " << wrote.size() << ", asked before replacing: " << asked.size()
            << list << "\n";
  // Each door is a command of the list, and met in its shard.
  for (int door : {kCmSaveFitData, kCmSaveContinuousDistribution, kCmSaveNoise, kCmSaveRawDataSet,
                   kCmMonteCarloDistributions, kCmSortEqData}) {
    EXPECT_TRUE(all.count(door)) << CommandDisplayName(door) << " is no command of the list";
    if (ids.count(door)) {
      EXPECT_TRUE(wrote.count(door) || asked.count(door)) << CommandDisplayName(door) << " was not met as a save door";
    }
  }
}

// Every command, on the fit of the set: one that changed the loaded data ended the
// fit's claim; one that left the data as they were either ended it (a model
// switched, a value or option changed; counted) or left a claim that the computation
// itself confirms: a Run of the values on show gives the same fit rows, so a command
// that changed a value or setting the computation reads without ending the claim
// fails here. The commands in four shards (by their place in the list), each a case
// of its own: every command is a fit and a Run, dear under the sanitizers.
TEST_P(CommandDoorsShard, EveryCommandThatChangesTheDataOrAValueEndsTheFitsClaim) {
  const std::set<int> all = CommandIds();
  const std::set<int> ids = ShardOf(all, GetParam());
  ASSERT_FALSE(ids.empty());
  AnswerEverything(IDYES);
  std::set<int> changed, ended;
  for (int id : ids) {
    SCOPED_TRACE("command " + std::to_string(id) + " \"" + CommandDisplayName(id) + "\"");
    EnsureFitOfTheSet();
    const unsigned generation = DataSet().nDataSetGeneration;
    const LoadedData before = CopyOfLoadedData();
    const std::vector<std::string> staleBoxes = ChooseThroughEvents(id);
    // Whatever the command ended, the window shows the state it left, and no box
    // opened over a result whose claim had ended.
    if (!FitOfLoadedData()) {
      EXPECT_EQ(staleBoxes, std::vector<std::string>{}) << "boxes opened over the old result";
      EXPECT_EQ(StalePixels(), 0) << "the old result stays on the screen";
    }
    // A new load (or a set released) is no change of the same data.
    if (DataSet().nDataSetGeneration != generation || DataSet().nScans != 3) continue;
    if (!(CopyOfLoadedData() == before)) {
      changed.insert(id);
      EXPECT_FALSE(FitOfLoadedData()) << "the data changed under the fit and it still claims them";
      // The rmsd of a fit is not offered for data it was not computed for.
      EXPECT_EQ(RmsdLine(), std::string(kNoFitOfLoadedDataText));
      continue;
    }
    if (!FitOfLoadedData()) {
      ended.insert(id);
      continue;
    }
    std::vector<std::vector<float>> shown;
    for (int s = 1; s <= DataSet().nScans; ++s) shown.emplace_back(DataSet().ppFit[Idx(s)] + 1, DataSet().ppFit[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
    Choose(kCmRun);
    ASSERT_TRUE(FitOfLoadedData());
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int j = DataSet().pFitFirst[Idx(s)]; j <= DataSet().pFitLast[Idx(s)]; ++j)
        ASSERT_NEAR(DataSet().ppFit[Idx(s)][j], shown[Idx(s - 1)][Idx(j - 1)], 1e-5f)
            << "scan " << s << " point " << j << ": the claim held for values the fit was not computed for";
  }
  for (const auto& [what, set] : {std::pair<const char*, const std::set<int>*>{"changed the loaded data", &changed},
                                  {"ended the claim of unchanged data", &ended}}) {
    std::string list;
    for (int id : *set) list += "\n  " + CommandDisplayName(id);
    std::cout << "commands that " << what << ": " << set->size() << list << "\n";
  }
  // The doors named are commands of the list, each met in its shard.
  for (int door : {kCmInvertRawData, kCmSubtractBlankScan, kCmRecalibrateRadius, kCmSubtractTINoise,
                   kCmExcludeRegion, kCmMirrorRawData}) {
    EXPECT_TRUE(all.count(door)) << CommandDisplayName(door) << " is no command of the list";
    if (ids.count(door))
      EXPECT_TRUE(changed.count(door)) << CommandDisplayName(door) << " was not met as a change of the data";
  }
  for (int door : {kCmContinuousCM, kCmDiscreteSpecies}) {
    EXPECT_TRUE(all.count(door)) << CommandDisplayName(door) << " is no command of the list";
    if (ids.count(door))
      EXPECT_TRUE(ended.count(door)) << CommandDisplayName(door) << " was not met as a change of the model";
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, CommandDoorsShard, ::testing::Range(0, kCommandShards));

}  // namespace
}  // namespace tarmic::testing
