// Every command of the response table, chosen one after the other on a small loaded
// velocity data set, the way a user might try each menu item: every number input,
// file dialog and dialog box is cancelled and every question answered No (in a
// last round Yes). No command may crash, throw, leave a box bracket open, run on
// after its questions were cancelled or break the paint that follows it, and
// exactly the commands this version does not offer say "not available" (a command
// whose model does not fit the data says what it needs instead). No command is
// skipped: each one ends as soon as its questions are cancelled, and the ones that
// compute (Run, Fit, Prior Knowledge) do so on a coarse c(s) grid. After each command
// every item of the attached menu shows the state MenuItemStateOf gives (the state
// the menu shows when it is attached anew), in both menus: "Full Command Set" is
// walked too.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "app/menu_state.h"
#include "app/preferences.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distribution_window_test_support.h"
#include "distributions/distribution_grid.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "scandata/analysis_switches.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/watchdog.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

constexpr const char* kNotAvailable = " is not available in this version";

// The window as the program makes it, with every service installed.
class CommandWalkTest : public DistributionWindowTest {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    // The scans are copied into the test's own folder: commands that write next to
    // the data (time-corrected copies, averages, saved sets) never touch the
    // sources.
    files_ = CopyVelocitySet(ProgramDir() + "/data");
    // No outside program is found, whatever the machine has installed.
    if (const char* path = std::getenv("PATH")) oldPath_ = path;
    std::filesystem::create_directories(ProgramDir() + "/emptybin");
    setenv("PATH", (ProgramDir() + "/emptybin").c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    DistributionWindowTest::TearDown();
    // The walk switched every option and model at least once: the tests after it
    // start from the defaults.
    test::ResetModelCalcState();
  }

  void Load() {
    Backend().QueueOpenFiles(files_);
    Dispatch(kCmLoadNewFiles);
  }

  // Every item of the attached menu shows the check mark and grey state that
  // MenuItemStateOf gives, the state a menu attached after a switch shows.
  void ExpectMenuShowsTheState() {
    const HeadlessWindow& h = Backend().Headless();
    for (int id : MenuCommandIds(h.Menu())) {
      const MenuItemState state = MenuItemStateOf(id);
      EXPECT_EQ(h.IsMenuItemChecked(id), state.checked) << "check mark of " << id;
      EXPECT_EQ(h.IsMenuItemEnabled(id), state.enabled) << "grey state of " << id;
    }
  }

  // Chooses one command, then paints as the window does next; a command that
  // released the data set (Exit, a declined disclaimer) has the set loaded again.
  void Walk(int id);
  void ComputeDistribution() {
    Walk(kCmContinuousCs);
    AnalysisSwitches().pParams[kContiSlotGridCount] = 10.0f;
    // A c(v) model chosen before leaves its D (5) in the slot c(s) reads as vbar,
    // which the Run refuses: the solvent's vbar stands there for the walk.
    AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
    UnpackModelParams();
    Walk(kCmRun);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed && DistributionVectors().pDistValues);
  }

  std::vector<std::string> files_;
  std::string oldPath_;
  bool reloaded_ = false;            // the last command walked released the data set
  std::set<int> saidNotAvailable_;   // the commands that said "... not available ..."
};

void CommandWalkTest::Walk(int id) {
  SCOPED_TRACE("command " + std::to_string(id) + " \"" + CommandDisplayName(id) + "\"");
  Backend().ClearTranscript();
  // A command whose questions are cancelled must end: a hang fails the test program.
  // No wall-time bound: on a loaded machine a command's own work may take seconds.
  const testing::Watchdog watchdog("command " + std::to_string(id));
  DispatchAndPaint(id);
  EXPECT_FALSE(Win().bModalBoxOpen) << "box bracket left open";
  UiEvents().Clear();
  // What the command left in the menu is what a menu attached now would show (Exit
  // ends the program: its menu is not looked at again).
  if (DataSet().nScans == 3) ExpectMenuShowsTheState();

  const std::vector<std::string> texts = BoxTexts();
  for (const std::string& t : texts)
    if (t.find(kNotAvailable) != std::string::npos) saidNotAvailable_.insert(id);
  if (IsUnavailableCommand(id)) {
    EXPECT_EQ(texts, std::vector<std::string>{NotAvailableText(id)});
  }

  reloaded_ = DataSet().nScans != 3;
  if (reloaded_) {
    Backend().ClearTranscript();
    Load();
    EXPECT_EQ(DataSet().nScans, 3);
  }
}

TEST_F(CommandWalkTest, EveryCommandRunsAndExactlyTheUnavailableOnesSaySo) {
  Backend().AnswerUnscriptedBoxes(IDNO);
  Backend().CancelUnscriptedDialogs();
  // A small window keeps the paint after every command cheap.
  Backend().Headless().Resize(240, 180);
  UiEvents().Clear();
  Win().EvSize(SIZE_RESTORED, Size{240, 180});
  Load();
  ASSERT_EQ(DataSet().nScans, 3);
  // The walk runs in the full command set, whose items are a superset of the other
  // menu's: every check mark a command sets can be compared with the state.
  bFullCommandSet = true;
  Win().AttachCommandMenu();

  std::set<int> ids;
  for (const ResponseEntry& e : MainWindowResponseTable())
    if (e.message == 0) ids.insert(e.id);
  ASSERT_GT(ids.size(), 240u);

  // First every command on the bare data set, in the order of the identifiers (each
  // on the state the ones before it left).
  std::vector<int> keepModel, replaceModel;
  for (int id : ids) {
    const int model = ActiveModelCommand();
    Walk(id);
    (ActiveModelCommand() == model && !reloaded_ ? keepModel : replaceModel).push_back(id);
  }

  // Then every command with a c(s) distribution computed (on a coarse grid of 10
  // values), computed again whenever a command before it released it; the commands
  // that chose another model or released the data set come last, one after the
  // other.
  for (int id : keepModel) {
    if (!(ModelFlags().bContiSModel && AnalysisSwitches().bModelComputed && DistributionVectors().pDistValues)) ComputeDistribution();
    Walk(id);
  }
  for (int id : replaceModel) Walk(id);

  // Last every command once more with every question answered Yes (inputs and
  // dialogs still cancelled), on the state the walk left.
  Backend().AnswerUnscriptedBoxes(IDYES);
  for (int id : keepModel) Walk(id);
  for (int id : replaceModel) Walk(id);

  const std::span<const int> unavailable = UnavailableCommands();
  EXPECT_EQ(saidNotAvailable_, std::set<int>(unavailable.begin(), unavailable.end()));
}

}  // namespace
}  // namespace tarmic::testing
