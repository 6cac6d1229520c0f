// "Full Command Set" in the Options menu: the window attaches the full command set
// at once and back, every item of either menu shows the program's state after each
// switch, the c(s) recipe of the example set works from the full menu, and the
// commands this version does not build are greyed there with their help in reach.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/menu_state.h"
#include "app/mouse.h"
#include "app/online_help.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distribution_window_test_support.h"
#include "resources/menus.h"
#include "modelcalc/fit_rmsd.h"
#include "scandata/text_io.h"

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

// The README's paragraph on doing step 3 of the example from the menu, one line.
std::string MenuRouteParagraph() {
  const std::string readme = ReadFile(std::string(TARMIC_SOURCE_DIR) + "/README.md");
  const std::size_t from = readme.find("Step 3 can also be done from the menu");
  const std::size_t to = readme.find("The test", from);
  if (from == std::string::npos || to == std::string::npos) return {};
  std::string text = readme.substr(from, to - from);
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// The word after `label` in text, without the comma or full stop that ends it.
std::string WordAfter(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return {};
  std::string word = text.substr(at + label.size(), text.find(' ', at + label.size()) - at - label.size());
  while (!word.empty() && (word.back() == ',' || word.back() == '.')) word.pop_back();
  return word;
}

// The c(s) recipe of the example set from the full menu instead of a parameter file,
// with the values as the README's paragraph gives them: the model from the Model
// menu, its grid, f/f0, solvent and cell in Parameters, the fitting limits picked on
// the data plot, then Run; the rmsd the README quotes, to its digits.
TEST_F(FullCommandSetTest, CsChosenFromTheFullMenuFindsTheTwoSpeciesOfTheExample) {
  const std::string route = MenuRouteParagraph();
  ASSERT_FALSE(route.empty());
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
  ASSERT_EQ(DataSet().nScans, 20);

  ASSERT_TRUE(Choose(kCmFullCommandSet));
  ASSERT_TRUE(Choose(kCmContinuousCs));
  EXPECT_TRUE(ModelFlags().bContiSModel);
  EXPECT_TRUE(Menu().IsMenuItemChecked(kCmContinuousCs));
  // Parameters: each field under the label the README names it by.
  const std::pair<const char*, int> fields[] = {
      {"s min ", 406},           {"s max ", 407},           {"resolution ", 405},     {"confidence level ", 413},
      {"frictional ratio ", 419}, {"buffer density ", 421}, {"meniscus ", 435},       {"bottom ", 437}};
  TransferBuffer entered;
  for (const auto& [label, id] : fields) {
    entered.text[id] = WordAfter(route, label);
    EXPECT_FALSE(entered.text[id].empty()) << label;
  }
  ASSERT_NE(route.find("uncheck \"fit\" beside baseline"), std::string::npos) << route;
  entered.checked[432] = false;
  Backend().QueueDialog(IDOK, entered);
  ASSERT_TRUE(Choose(kCmParameters));

  // The fitting limits: a double-click near each, the arrow keys until the readout
  // reads it to three decimals, Enter. The dashed bounds of the meniscus and bottom
  // ranges stand where a load with variation ranges puts them, one of them on the
  // right limit the route asks for: the double-click still picks the fitting limit,
  // and the readout names it.
  const std::string limits = WordAfter(route, "limits of the parameter file, ");
  const std::string rightLimit = WordAfter(route, "limits of the parameter file, " + limits + " and ");
  ASSERT_FALSE(limits.empty());
  ASSERT_FALSE(rightLimit.empty());
  DataSet().fMinMeniscus = 5.95f;
  DataSet().fMaxMeniscus = 6.04f;
  DataSet().fMinBottom = 7.15f;
  DataSet().fMaxBottom = 7.25f;
  Paint();
  ASSERT_NE(route.find("moves the left fitting limit"), std::string::npos) << route;
  for (const std::string& limit : {limits, rightLimit}) {
    const double r = std::stod(limit);
    Menu().Click(Win().RadiusToPixelColumn(static_cast<float>(r)), static_cast<int>(0.3 * Win().fClientHeight), false, 0,
                 true);
    PostQuitMessage(0);
    RunMessageLoop(Win());
    for (int press = 0; press < 100 && Format("%.3f", std::stod(szReadoutLine1)) != Format("%.3f", r); ++press)
      PressKeyAndRun(std::stod(szReadoutLine1) < r ? VK_RIGHT : VK_LEFT);
    ASSERT_EQ(Format("%.3f", std::stod(szReadoutLine1)), Format("%.3f", r));
    EXPECT_EQ(szReadoutLine2.substr(0, szReadoutLine2.find_last_not_of(' ') + 1),
              std::string("moves the ") + (limit == limits ? "left" : "right") + " fitting limit");
    PressKeyAndRun(VK_RETURN);
  }
  EXPECT_NEAR(DataSet().fFitLeftLim, std::stod(limits), 0.0005);
  EXPECT_NEAR(DataSet().fFitRightLim, std::stod(rightLimit), 0.0005);

  Backend().ClearTranscript();
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
  // Ctrl+O: the rmsd the README quotes, to its last digit.
  const std::string rmsd = WordAfter(route, "the rmsd, ");
  ASSERT_NE(rmsd.find('.'), std::string::npos) << route;
  Rmsd().fFitRmsd = 0.0f;
  PressKeyAndRun('O', MK_CONTROL);
  EXPECT_NEAR(Rmsd().fFitRmsd, std::stod(rmsd), 0.5 * std::pow(10.0, -static_cast<double>(rmsd.size() - rmsd.find('.') - 1)));

  // Two peaks, at the species' 4.0 and 8.0 S, and nothing of note between them.
  std::vector<double> peaks;
  double highest = 0.0;
  for (int k = 1; k <= DistributionVectors().nDistGrid; ++k) highest = std::max(highest, static_cast<double>(DistributionVectors().pDistValues[k]));
  for (int k = 2; k < DistributionVectors().nDistGrid; ++k)
    if (DistributionVectors().pDistValues[k] > 0.1 * highest && DistributionVectors().pDistValues[k] >= DistributionVectors().pDistValues[k - 1] && DistributionVectors().pDistValues[k] > DistributionVectors().pDistValues[k + 1])
      peaks.push_back(DistributionVectors().pDistGrid[k]);
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
      EXPECT_EQ(DataSet().nScans, kSyntheticScans);
      EXPECT_EQ(Shown(), before);
    }
  }
  EXPECT_GT(asked.size(), 200u);
}

}  // namespace
}  // namespace tarmic::testing
