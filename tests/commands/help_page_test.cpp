// The program's help page: every command of the menus and keys has its entry, and
// "&How to Get Help" and help mode open the page (at the chosen command's entry).
#include <regex>
#include <set>

#include "app/online_help.h"
#include "platform/browser_launch.h"
#include "commands/unavailable_commands.h"
#include "commands_test_support.h"
#include "modelcalc/model_input.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "resources/dialogs.h"
#include "resources/menus.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

// The resource folder of the sources, laid out as beside the program.
std::string ResourceDir() { return std::string(TARMIC_TEST_DATA_DIR) + "/../../resources/"; }

void CollectCommands(const std::vector<MenuItem>& items, std::set<int>* ids) {
  for (const MenuItem& item : items) {
    if (item.popup)
      CollectCommands(item.children, ids);
    else if (item.id != 0)
      ids->insert(item.id);
  }
}

TEST(HelpPage, EveryCommandOfTheMenusAndKeysHasExactlyOneEntry) {
  const std::string page = ReadFile(ResourceDir() + "help/tarmic-help.html");
  ASSERT_FALSE(page.empty());
  std::multiset<int> anchors;
  const std::regex anchor("id=\"cmd-([0-9]+)\"");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), anchor); it != std::sregex_iterator(); ++it)
    anchors.insert(std::stoi((*it)[1].str()));

  std::set<int> commands;
  CollectCommands(GetMenuResource(kMenuVirez).items, &commands);
  CollectCommands(GetMenuResource(kMenuFull).items, &commands);
  for (const Accelerator& a : GetAcceleratorTable(kAcceleratorTableId).entries) commands.insert(a.command);
  ASSERT_GT(commands.size(), 200u);

  for (int id : commands) EXPECT_EQ(anchors.count(id), 1u) << "command " << id;
  // No entry for a command that neither a menu nor a key reaches.
  for (int id : anchors) EXPECT_EQ(commands.count(id), 1u) << "anchor cmd-" << id;
  // An entry says "not available" (class "na") exactly for the commands that this
  // version does not offer.
  const std::regex row("<tr id=\"cmd-([0-9]+)\"( class=\"na\")?>");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), row); it != std::sregex_iterator(); ++it) {
    const int id = std::stoi((*it)[1].str());
    EXPECT_EQ((*it)[2].matched, IsUnavailableCommand(id)) << "command " << id;
  }
  // Every link inside the page leads to an entry.
  const std::regex link("href=\"#cmd-([0-9]+)\"");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), link); it != std::sregex_iterator(); ++it)
    EXPECT_EQ(anchors.count(std::stoi((*it)[1].str())), 1u) << (*it)[0].str();
}

// The page is text for reading: no "&" of a menu's letter marker ("&How to Get
// Help" was printed so). A plain "&" stands between words ("meniscus &amp; bottom").
TEST(HelpPage, ItsTextCarriesNoLetterMarkersOfTheMenus) {
  const std::string page = ReadFile(ResourceDir() + "help/tarmic-help.html");
  ASSERT_FALSE(page.empty());
  const std::regex marker("&amp;[A-Za-z0-9]");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), marker); it != std::sregex_iterator(); ++it)
    ADD_FAILURE() << page.substr(static_cast<std::size_t>(it->position()), 40);
  EXPECT_NE(page.find("How to Get\nHelp"), std::string::npos);
}

// The loading of species 2-4 is a fraction of the first species' total: the
// computation loads c tot x fraction of each further species and the rest of the
// total as the first, so the loadings add up to c tot. Every parameter variant
// whose first species gives the total ("c tot", "I tot") labels the further ones
// "fraction", and the help page says what the fraction is.
TEST(HelpPage, FurtherSpeciesLoadingIsLabelledAndExplainedAsAFraction) {
  ModelInput in;  // every slot on, no buffer component
  const float total = 1.2f;
  const float fractions[] = {0.0f, total, 0.25f, 0.1f, 0.05f};
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    in.species[static_cast<std::size_t>(k)].amplitude = fractions[k];
    in.species[static_cast<std::size_t>(k)].included = true;
  }
  double sum = 0.0;
  for (int k = 1; k <= nSpeciesSlots; ++k) sum += SpeciesLoading(in, k, 1);
  EXPECT_NEAR(sum, total, 1e-6);
  EXPECT_NEAR(SpeciesLoading(in, 2, 1), 0.3, 1e-6);
  EXPECT_NEAR(SpeciesLoading(in, 1, 1), total * (1.0 - 0.25 - 0.1 - 0.05), 1e-6);

  int variants = 0;
  for (int id : ParamsDialogTemplateIds()) {
    const DialogTemplate& t = GetParamsDialogTemplate(id);
    const std::string first(ControlLabel(t, 405));
    // Species blocks: the first amplitude at 405, the further ones at 412, 419, 426.
    if (t.Find(401) == nullptr || !first.ends_with(" tot")) continue;
    ++variants;
    for (int edit : {412, 419, 426})
      if (t.Find(edit) != nullptr) EXPECT_EQ(ControlLabel(t, edit), "fraction") << id << " " << edit;
  }
  // Sector, buffer, zone (D and M) and electrophoresis species, and Stokes radii.
  EXPECT_EQ(variants, 8);

  const std::string page = ReadFile(ResourceDir() + "help/tarmic-help.html");
  const std::size_t block = page.find("<b>Discrete species</b>");
  ASSERT_NE(block, std::string::npos);
  const std::string text = page.substr(block, page.find("</li>", block) - block);
  EXPECT_NE(text.find("\"fraction\""), std::string::npos) << text;
  EXPECT_EQ(text.find("loading concentration (\"c tot\" for the first)"), std::string::npos) << text;
}

using HelpCommandTest = CommandTest;

// The question names where the page will open: the web browser, or without one the
// program's help window (it asked for the web browser there too).
TEST_F(HelpCommandTest, TheQuestionSaysWhereThePageOpens) {
  szProgramDir = ResourceDir();
  for (bool browser : {true, false}) {
    Backend().SetBrowserAvailable(browser);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDYES, "HELP");
    DispatchToWindow(Win(), Event::HelpCommand(kCmRun));
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], browser ? "Open the program's help page in the web browser?"
                                     : "No web browser can be started: open the program's help "
                                       "page in the program's help window?");
  }
  EXPECT_EQ(Backend().OpenedHelpPages().size(), 1u);
  ASSERT_EQ(Backend().HelpWindowPages().size(), 1u);
  EXPECT_EQ(Backend().HelpWindowPages()[0].anchor, "cmd-213");
}

TEST_F(HelpCommandTest, TheHelpPageOpensAtTheCommandChosenInHelpMode) {
  szProgramDir = ResourceDir();
  const std::string page = ResourceDir() + "help/tarmic-help.html";
  const auto& opened = Backend().OpenedHelpPages();

  // F1 on "Run": the page opens at Run's entry, and Run does not compute.
  Backend().QueueMessageBox(IDYES, "HELP");
  DispatchToWindow(Win(), Event::HelpCommand(kCmRun));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].path, page);
  EXPECT_EQ(opened[0].anchor, "cmd-213");
  EXPECT_FALSE(Win().bHelpMode);
  // A command this version does not offer has its entry too.
  Backend().QueueMessageBox(IDYES, "HELP");
  DispatchToWindow(Win(), Event::HelpCommand(kCmFlagTooStrongGradients));
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1].anchor, "cmd-868");
  // "&How to Get Help" chosen normally opens the top of the page.
  Backend().QueueMessageBox(IDYES, "HELP");
  Dispatch(kCmOfferOnlineHelp);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[2].anchor, "");
  // No opens nothing, and the next command runs normally.
  Backend().QueueMessageBox(IDNO, "HELP");
  DispatchToWindow(Win(), Event::HelpCommand(kCmParameters));
  EXPECT_EQ(opened.size(), 3u);
  EXPECT_FALSE(Win().bHelpMode);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // A program directory without the page says so and opens nothing.
  szProgramDir = ProgramDir() + "/";
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDYES, "HELP");
  Backend().QueueMessageBox(IDOK, "HELP");
  Dispatch(kCmOfferOnlineHelp);
  EXPECT_EQ(opened.size(), 3u);
  EXPECT_EQ(BoxTexts().back(), "The help page " + HelpPagePath() + " is missing.");
}

// A desktop without a web browser shows the page in the program's help window, at
// the chosen command's entry in help mode; F1 on the window opens the page's top.
TEST_F(HelpCommandTest, WithoutABrowserThePageOpensInTheHelpWindowAndF1OpensIt) {
  szProgramDir = ResourceDir();
  const std::string page = ResourceDir() + "help/tarmic-help.html";
  Backend().SetBrowserAvailable(false);
  Backend().ClearTranscript();
  const auto& shown = Backend().HelpWindowPages();

  Backend().QueueMessageBox(IDYES, "HELP");
  DispatchToWindow(Win(), Event::HelpCommand(kCmRun));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].path, page);
  EXPECT_EQ(shown[0].anchor, "cmd-213");
  EXPECT_TRUE(Backend().OpenedHelpPages().empty());
  EXPECT_FALSE(Win().bHelpMode);
  // No box besides the question: the page is shown, nothing is reported.
  EXPECT_EQ(BoxTexts().size(), 1u);

  // F1 on the window: the page from its top; the key does nothing else.
  Backend().QueueMessageBox(IDYES, "HELP");
  PressKeyAndRun(VK_F1);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].anchor, "");
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // With a browser the page goes there, as before.
  Backend().SetBrowserAvailable(true);
  Backend().QueueMessageBox(IDYES, "HELP");
  PressKeyAndRun(VK_F1);
  ASSERT_EQ(Backend().OpenedHelpPages().size(), 1u);
  EXPECT_EQ(Backend().OpenedHelpPages()[0].anchor, "");
  EXPECT_EQ(shown.size(), 2u);
}

// A browser that does not start (one that refuses to run as root, one without a
// display, one that ends at once) leaves the help to the program's help window, at
// the same entry, and a message says why; the next F1 offers the help window at once.
TEST_F(HelpCommandTest, ABrowserThatDoesNotStartLeavesTheHelpWindowAndSaysWhy) {
  szProgramDir = ResourceDir();
  const std::string reason = "chromium ended at once with exit code 1: \"Running as root without --no-sandbox is not supported\"";
  int launches = 0;
  SetBrowserLauncherForTesting([&](const std::string&, const std::string&) {
    ++launches;
    return BrowserLaunch{false, reason};
  });
  Backend().QueueMessageBox(IDYES, "HELP");
  Backend().QueueMessageBox(IDOK, "HELP");
  DispatchToWindow(Win(), Event::HelpCommand(kCmRun));
  SetBrowserLauncherForTesting({});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(launches, 1);
  ASSERT_EQ(Backend().HelpWindowPages().size(), 1u);
  EXPECT_EQ(Backend().HelpWindowPages()[0].anchor, "cmd-213");
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(BoxTexts()[1], "The web browser did not open the help page (" + reason +
                               "). The page is shown in the program's help window.");
  EXPECT_TRUE(Backend().OpenedHelpPages().empty());
}

}  // namespace
}  // namespace tarmic::testing

namespace tarmic::testing {
namespace {

// Every command that looks for an outside program (the response table's census of
// the members that do), chosen without its program: the help page's entry names
// the file the command looked for and the places it looked (the "bin" folder, the
// search path), and says that no data are handed over, as the command does when
// the program is found. The README's paragraph names the same places.
TEST_F(CommandTest, HelpAndReadmeSayWhereOutsideProgramsAreLookedForAndThatNoDataGoThere) {
  const std::string page = ReadFile(ResourceDir() + "help/tarmic-help.html");
  const std::string readme = ReadFile(ResourceDir() + "../README.md");
  Backend().AnswerUnscriptedBoxes(IDOK);
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  setenv("PATH", (ProgramDir() + "/temp").c_str(), 1);
  const CommandMember outside = &TXLAWindow::CmOutsideProgram;
  int doors = 0;
  for (const ResponseEntry& e : GetResponseTable()) {
    if (e.kind != DispatchKind::Command || std::get<CommandMember>(e.member) != outside) continue;
    ++doors;
    Backend().ClearTranscript();
    Dispatch(e.id);
    ASSERT_EQ(BoxTexts().size(), 1u) << e.id;
    const std::string box = BoxTexts()[0];
    const std::size_t open = box.find('"'), close = box.find('"', open + 1);
    ASSERT_NE(close, std::string::npos) << box;
    const std::string file = box.substr(open + 1, close - open - 1);
    const std::size_t row = page.find("<tr id=\"cmd-" + std::to_string(e.id) + "\"");
    ASSERT_NE(row, std::string::npos) << e.id;
    const std::string entry = page.substr(row, page.find("</tr>", row) - row);
    EXPECT_NE(entry.find(file), std::string::npos) << entry;
    EXPECT_EQ(box.find("/bin/" + file) != std::string::npos, entry.find("&quot;bin&quot;") != std::string::npos)
        << box << "\n" << entry;
    EXPECT_EQ(box.find("PATH") != std::string::npos, entry.find("PATH") != std::string::npos) << entry;
    EXPECT_NE(entry.find("hands it no data"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("Hands"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("Starts"), std::string::npos) << entry;
  }
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_EQ(doors, 10);
  const std::size_t start = readme.find("Outside programs are not part of TARMIC");
  ASSERT_NE(start, std::string::npos);
  const std::string paragraph = readme.substr(start, readme.find("\n\n", start) - start);
  for (const char* says : {"\"bin\" folder", "beside\nthe program, then on the PATH", "hands it\nno data"})
    EXPECT_NE(paragraph.find(says), std::string::npos) << says;
}

}  // namespace
}  // namespace tarmic::testing
