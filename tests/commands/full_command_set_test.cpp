// "Full Command Set" in the Options menu: the window attaches the full command set
// at once and back, every item of either menu shows the program's state after each
// switch, the c(s) recipe of the example set works from the full menu, and the
// commands this version does not build are greyed there with their help in reach.
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/menu_state.h"
#include "app/online_help.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distribution_window_test_support.h"
#include "resources/menus.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

class FullCommandSetTest : public DistributionWindowTest {
 protected:
  HeadlessWindow& Menu() { return Backend().Headless(); }

  // A click on a menu item, and the message loop until its command is done; false
  // when the item is missing or greyed (nothing was posted).
  bool Choose(int id) {
    if (!Menu().ChooseMenuItem(id)) return false;
    PostQuitMessage(0);
    RunMessageLoop(Win());
    return true;
  }

  // Every item of the attached menu, as the user sees it: check mark and grey state.
  std::vector<std::pair<int, MenuItemState>> Shown() {
    std::vector<std::pair<int, MenuItemState>> items;
    for (int id : MenuCommandIds(Menu().Menu()))
      items.push_back({id, MenuItemState{Menu().IsMenuItemChecked(id), Menu().IsMenuItemEnabled(id)}});
    return items;
  }
};

// The switch from the menu and back: the other menu at once, its check mark, and the
// choice in "tarmic.ini" after the directory line.
TEST_F(FullCommandSetTest, TheSwitchAttachesTheOtherMenuAtOnceAndKeepsTheChoice) {
  fs::create_directories(ProgramDir() + "/data");
  SaveLastDataDirectory(&Win(), ProgramDir() + "/data");
  ASSERT_EQ(Menu().Menu().name, "MENU_VIREZ");
  EXPECT_FALSE(Choose(kCmContinuousCs)) << "no c(s) in the window's menu";

  ASSERT_TRUE(Choose(kCmFullCommandSet));
  EXPECT_EQ(Menu().Menu().name, "MENU_1");
  EXPECT_TRUE(Menu().IsMenuItemChecked(kCmFullCommandSet));
  // The keys stay: Ctrl+L is "Load New Files".
  Menu().PressKey('L', MK_CONTROL);
  const std::optional<Event> key = UiEvents().TakeIf([](const Event& e) { return e.type == EventType::Command; });
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->command, kCmLoadNewFiles);
  UiEvents().Clear();
  EXPECT_EQ(ReadFile(ProgramDir() + "/tarmic.ini"), ProgramDir() + "/data/\nFullCommandSet=1");
  EXPECT_TRUE(ReadFullCommandSetChoice());
  // A later load's directory replaces the first line only.
  SaveLastDataDirectory(&Win(), ProgramDir() + "/");
  EXPECT_EQ(ReadFile(ProgramDir() + "/tarmic.ini"), ProgramDir() + "/\nFullCommandSet=1");

  ASSERT_TRUE(Choose(kCmFullCommandSet));
  EXPECT_EQ(Menu().Menu().name, "MENU_VIREZ");
  EXPECT_FALSE(Menu().IsMenuItemChecked(kCmFullCommandSet));
  EXPECT_EQ(ReadFile(ProgramDir() + "/tarmic.ini"), ProgramDir() + "/\nFullCommandSet=0");
  EXPECT_FALSE(ReadFullCommandSetChoice());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
}

// Whatever the state the commands left, every item of either menu shows after a
// switch what the state says, and what it showed before the switch.
TEST_F(FullCommandSetTest, EveryItemShowsTheStateInBothMenusAfterEachSwitch) {
  LoadSyntheticRun();
  Backend().AnswerUnscriptedBoxes(IDNO);
  // A state away from the defaults, set through commands of both menus.
  for (int id : {kCmFullCommandSet, kCmContinuousCs, kCmShowResidualsBitmap, kCmRegSecondDerivative,
                 kCmFitMarquardt, kCmSound, kCmBitmapBlackAndWhite, kCmFitMAndS, kCmOldFilenameConvention,
                 kCmFullCommandSet})
    Dispatch(id);
  std::vector<std::pair<int, MenuItemState>> before[2];
  for (int round = 0; round < 4; ++round) {
    const bool full = bFullCommandSet;
    SCOPED_TRACE(full ? "MENU_1" : "MENU_VIREZ");
    const std::vector<std::pair<int, MenuItemState>> shown = Shown();
    int checked = 0;
    for (const auto& [id, state] : shown) {
      EXPECT_EQ(state, MenuItemStateOf(id)) << "command " << id;
      checked += state.checked;
    }
    EXPECT_GE(checked, 8);
    EXPECT_TRUE(Menu().IsMenuItemChecked(kCmRegSecondDerivative));
    EXPECT_FALSE(Menu().IsMenuItemChecked(kCmRegMaxEnt));
    EXPECT_EQ(Menu().IsMenuItemChecked(kCmContinuousCs), full) << "only the full menu has c(s)";
    if (!before[full].empty()) {
      EXPECT_EQ(shown, before[full]);
    }
    before[full] = shown;
    Dispatch(kCmFullCommandSet);
  }
}

// The c(s) recipe of the example set from the full menu instead of a parameter file:
// the model from the Model menu, its grid, f/f0 and cell in Parameters, then Run.
TEST_F(FullCommandSetTest, CsChosenFromTheFullMenuFindsTheTwoSpeciesOfTheExample) {
  // A copy of the example's scans: the run writes its files beside them.
  const std::string example = std::string(TARMIC_EXAMPLES_DIR) + "/two_species";
  const std::string dir = ProgramDir() + "/two_species";
  fs::create_directories(dir);
  std::vector<std::string> scans;
  for (const auto& e : fs::directory_iterator(example)) {
    if (e.path().extension() != ".ra0") continue;
    scans.push_back(dir + "/" + e.path().filename().string());
    fs::copy_file(e.path(), scans.back());
  }
  std::sort(scans.begin(), scans.end());
  ASSERT_EQ(scans.size(), 20u);
  LoadThroughDialog(scans);
  ASSERT_EQ(nScans, 20);

  ASSERT_TRUE(Choose(kCmFullCommandSet));
  ASSERT_TRUE(Choose(kCmContinuousCs));
  EXPECT_TRUE(bContiSModel);
  EXPECT_TRUE(Menu().IsMenuItemChecked(kCmContinuousCs));
  // s from 0 to 15 S on 76 points, confidence 0.68, f/f0 1.2, meniscus 6.0 and
  // bottom 7.2 cm.
  Backend().QueueDialog(IDOK, TransferBuffer{{{406, "0"}, {407, "15"}, {405, "76"}, {413, "0.68"},
                                              {419, "1.2"}, {435, "6.0"}, {437, "7.2"}},
                                             {}});
  ASSERT_TRUE(Choose(kCmParameters));
  Backend().ClearTranscript();
  ASSERT_TRUE(Choose(kCmRun));
  ASSERT_TRUE(bModelComputed) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});

  // Two peaks, at the species' 4.0 and 8.0 S, and nothing of note between them.
  std::vector<double> peaks;
  double highest = 0.0;
  for (int k = 1; k <= nDistGrid; ++k) highest = std::max(highest, static_cast<double>(pDistValues[k]));
  for (int k = 2; k < nDistGrid; ++k)
    if (pDistValues[k] > 0.1 * highest && pDistValues[k] >= pDistValues[k - 1] && pDistValues[k] > pDistValues[k + 1])
      peaks.push_back(pDistGrid[k]);
  ASSERT_EQ(peaks.size(), 2u) << ::testing::PrintToString(peaks);
  EXPECT_NEAR(peaks[0], 4.0, 0.1);
  EXPECT_NEAR(peaks[1], 8.0, 0.1);
}

// Every command this version does not build is greyed in the full menu: a click
// does nothing, F1 on it opens the help page at its entry. The window's menu keeps
// them as they were (choosing one says it is not available).
TEST_F(FullCommandSetTest, CommandsNotBuiltAreGreyedWithTheirHelpInReach) {
  // The help page beside the program, as the build puts it.
  fs::create_directories(ProgramDir() + "/help");
  fs::copy_file(std::string(TARMIC_SOURCE_DIR) + "/resources/help/tarmic-help.html", HelpPagePath());
  ASSERT_TRUE(Choose(kCmFullCommandSet));
  const std::vector<int> items = MenuCommandIds(Menu().Menu());
  const std::set<int> inMenu(items.begin(), items.end());
  int greyed = 0;
  for (int id : UnavailableCommands()) {
    if (!inMenu.count(id)) continue;
    SCOPED_TRACE("command " + std::to_string(id) + " " + CommandDisplayName(id));
    ++greyed;
    EXPECT_FALSE(Menu().IsMenuItemEnabled(id));
    Backend().ClearTranscript();
    EXPECT_FALSE(Choose(id));
    EXPECT_EQ(Backend().Transcript().size(), 0u);

    Backend().QueueMessageBox(IDYES, "HELP");
    ASSERT_TRUE(Menu().HelpOnMenuItem(id));
    PostQuitMessage(0);
    RunMessageLoop(Win());
    ASSERT_FALSE(Backend().OpenedHelpPages().empty());
    EXPECT_EQ(Backend().OpenedHelpPages().back().anchor, HelpPageAnchor(id));
    EXPECT_FALSE(Win().bHelpMode);
  }
  EXPECT_GE(greyed, 25);
  // Every other item of the full menu can be chosen while nothing is loaded ...
  for (int id : items) EXPECT_EQ(Menu().IsMenuItemEnabled(id), !IsUnavailableCommand(id)) << id;

  // ... and the window's menu greys none of them.
  ASSERT_TRUE(Choose(kCmFullCommandSet));
  for (int id : MenuCommandIds(Menu().Menu())) EXPECT_TRUE(Menu().IsMenuItemEnabled(id)) << id;
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  ASSERT_TRUE(Choose(kCmCopyMData));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{NotAvailableText(kCmCopyMData)});
}

// F1 on any item of either menu only offers the help: one question, nothing else
// asked, shown or changed.
TEST_F(FullCommandSetTest, HelpModeOnEveryItemOfBothMenusOnlyOffersTheHelp) {
  LoadSyntheticRun();
  Backend().AnswerUnscriptedBoxes(IDNO);
  Backend().CancelUnscriptedDialogs();
  std::set<int> asked;
  for (const bool full : {false, true}) {
    bFullCommandSet = full;
    Win().AttachCommandMenu();
    for (int id : MenuCommandIds(Menu().Menu())) {
      if (!asked.insert(id).second) continue;
      SCOPED_TRACE("command " + std::to_string(id) + " " + CommandDisplayName(id));
      Backend().ClearTranscript();
      const std::vector<std::pair<int, MenuItemState>> before = Shown();
      ASSERT_TRUE(Menu().HelpOnMenuItem(id));
      PostQuitMessage(0);
      RunMessageLoop(Win());
      std::vector<std::string> shown;
      for (const TranscriptEntry& e : Backend().Transcript()) shown.push_back(e.kind + " " + e.caption + ": " + e.text);
      EXPECT_EQ(shown, std::vector<std::string>{"MessageBox HELP: Open the program's help page in the web browser?"});
      EXPECT_FALSE(Win().bHelpMode);
      EXPECT_EQ(bFullCommandSet, full);
      EXPECT_EQ(nScans, kSyntheticScans);
      EXPECT_EQ(Shown(), before);
    }
  }
  EXPECT_GT(asked.size(), 200u);
}

}  // namespace
}  // namespace tarmic::testing
