// Cancel changes nothing on the screen: every command of either menu that opens a
// dialog (template dialog, number or text prompt, file or folder dialog) and ends
// when it is cancelled leaves the window as it was, pixel for pixel, with a fitted
// model on show. The window is painted, the command chosen from the attached menu
// and its dialog cancelled, the events the window posts meanwhile (paint requests)
// handled as the message loop handles them, and the screen compared.
#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "app/online_help.h"
#include "commands/unavailable_commands.h"
#include "distribution_window_test_support.h"
#include "modelfit/model_params.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/watchdog.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

int DifferingPixels(const Image& a, const Image& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return a.Width() * a.Height();
  int n = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) n += a.Pixel(x, y) != b.Pixel(x, y);
  return n;
}

bool IsDialog(const TranscriptEntry& e) {
  return e.kind == "Dialog" || e.kind == "Input" || e.kind == "OpenFile" || e.kind == "SaveFile" || e.kind == "Folder";
}

class DialogCancelTest : public DistributionWindowTest {
 protected:
  void TearDown() override {
    DistributionWindowTest::TearDown();
    test::ResetModelCalcState();
  }

  // The synthetic run with the example's two discrete species (its parameter file,
  // loaded as the README's recipe loads it) computed and painted: fit curves,
  // residuals and the residual bitmap on show.
  void ShowSpeciesFit() {
    // The run is simulated once; later the same files are loaded again (a command
    // walked before may have left a model the simulation cannot take).
    if (scans_.empty()) {
      fs::create_directories(ProgramDir() + "/data");
      scans_ = WriteSyntheticRun(ProgramDir() + "/data");
    }
    LoadThroughDialog(scans_);
    ASSERT_EQ(DataSet().nScans, kSyntheticScans);
    Backend().ClearTranscript();
    const std::string file = ProgramDir() + "/data/species.~p";
    fs::copy_file(std::string(TARMIC_EXAMPLES_DIR) + "/two_species/species.~p", file,
                  fs::copy_options::overwrite_existing);
    Backend().QueueMessageBox(IDYES, "");
    LoadThroughDialog({file});
    ASSERT_TRUE(ModelFlags().bDiscreteModel);
    SetCellAndLimits();
    Dispatch(kCmShowResidualsBitmap);
    Dispatch(kCmRun);
    ASSERT_TRUE(FitOfLoadedData()) << ::testing::PrintToString(BoxTexts());
    Paint();
  }

  HeadlessWindow& Menu() { return Backend().Headless(); }

  std::vector<std::string> scans_;
};

// The Parameters dialog of the species model, cancelled with Esc: the fit stays on
// the screen (its opening took the fit away while it was open), and stays what
// Ctrl+O reports.
TEST_F(DialogCancelTest, EscInTheSpeciesParametersKeepsTheFitOnTheScreen) {
  ShowSpeciesFit();
  const Image before = Handle().Screen();
  Backend().QueueDialogKeys({PressedKey(VK_ESCAPE)});
  PressKeyAndRun('P', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(FitOfLoadedData());
  EXPECT_EQ(DifferingPixels(before, Handle().Screen()), 0);
}

// The sweep: every item of both menus, on the fit on show. A command whose one
// interaction is a dialog, cancelled, leaves every pixel as it was. The commands in
// shards by their place in the walk (the basic menu's, then the full menu's not met
// before), each shard a case of its own: every command is a paint and more, dear
// under the sanitizers.
constexpr int kDialogShards = 8;

class DialogCancelShard : public DialogCancelTest, public ::testing::WithParamInterface<int> {};

TEST_P(DialogCancelShard, CancelInEveryDialogOfBothMenusLeavesTheWindowAsItWas) {
  // No outside program is found, whatever the machine has installed.
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  fs::create_directories(ProgramDir() + "/emptybin");
  setenv("PATH", (ProgramDir() + "/emptybin").c_str(), 1);
  Backend().AnswerUnscriptedBoxes(IDNO);
  Backend().CancelUnscriptedDialogs();
  // A small window keeps the paints cheap.
  ResizeClient(400, 300);
  ShowSpeciesFit();
  // The commands that end the program or its agreement, switch the menu under the
  // sweep, or compute a fit without asking first.
  const std::set<int> skipped = {kCmExit, kCmAbout, kCmFullCommandSet, kCmFit, kCmRealtimeUpdate};
  // The walk: each command once, from the first menu that holds it.
  std::vector<std::pair<bool, int>> walk;
  {
    std::set<int> listed;
    for (const bool full : {false, true}) {
      bFullCommandSet = full;
      Win().AttachCommandMenu();
      for (int id : MenuCommandIds(Menu().Menu()))
        if (!skipped.count(id) && !IsUnavailableCommand(id) && listed.insert(id).second) walk.emplace_back(full, id);
    }
  }
  ASSERT_GT(walk.size(), 40u);
  EXPECT_TRUE(std::any_of(walk.begin(), walk.end(), [](const auto& w) { return w.second == kCmParameters; }));
  std::set<int> compared, walked;
  for (std::size_t place = 0; place < walk.size(); ++place) {
    if (static_cast<int>(place * kDialogShards / walk.size()) != GetParam()) continue;
    const auto [full, id] = walk[place];
    if (bFullCommandSet != full || walked.empty()) {
      bFullCommandSet = full;
      Win().AttachCommandMenu();
    }
    walked.insert(id);
    SCOPED_TRACE("command " + std::to_string(id) + " \"" + CommandDisplayName(id) + "\"");
    const testing::Watchdog watchdog("command " + std::to_string(id));
    // A command before may have changed the model, the data or the view.
    if (!FitOfLoadedData() || DataSet().nScans != kSyntheticScans || !ModelFlags().bDiscreteModel) ShowSpeciesFit();
    Paint();
    UiEvents().Clear();
    const Image before = Handle().Screen();
    Backend().ClearTranscript();
    if (!Menu().ChooseMenuItem(id)) continue;
    PostQuitMessage(0);
    RunMessageLoop(Win());
    const std::vector<TranscriptEntry>& shown = Backend().Transcript();
    if (shown.size() != 1 || !IsDialog(shown.front())) continue;
    compared.insert(id);
    EXPECT_EQ(DifferingPixels(before, Handle().Screen()), 0) << shown.front().kind << " " << shown.front().caption;
    EXPECT_FALSE(Win().bModalBoxOpen);
  }
  setenv("PATH", oldPath.c_str(), 1);
  std::printf("%zu commands walked, %zu ended at their cancelled dialog\n", walked.size(), compared.size());
  // More than 40 dialogs over the whole walk: each shard at least its floor, a little
  // under what it met when written (5, 5, 8, 5, 1, 6, 10, 6), the floors adding up to 41.
  constexpr std::size_t kFloors[kDialogShards] = {5, 5, 7, 4, 1, 5, 9, 5};
  EXPECT_GE(compared.size(), kFloors[GetParam()]);
  if (walked.count(kCmParameters)) {
    EXPECT_TRUE(compared.count(kCmParameters));
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, DialogCancelShard, ::testing::Range(0, kDialogShards));

}  // namespace
}  // namespace tarmic::testing
