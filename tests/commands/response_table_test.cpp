// Tests of the main window's response table with the whole window: every menu
// identifier and every accelerator reaches its member, commands that are not built
// yet name themselves, help mode, and the start that ends on a declined disclaimer.
#include "commands/response_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <utility>

#include "app/app_main.h"
#include "app/xla_window.h"
#include "commands/unavailable_commands.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"
#include "resources/menus.h"
#include "tests/app/shell_test_support.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

using shell_test::AcceptedDefaults;

// All command identifiers of both menus and of the accelerator table.
std::set<int> AllMenuAndAcceleratorCommands() {
  std::set<int> ids;
  for (std::string_view name : {kMenuVirez, kMenuFull}) {
    for (int id : MenuCommandIds(GetMenuResource(name))) ids.insert(id);
  }
  for (const Accelerator& a : GetAcceleratorTable(kAcceleratorTableId).entries) {
    ids.insert(a.command);
  }
  return ids;
}

class ResponseTable : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_test::ResetShellState();
    InstallResponseTable();
    SetupPathTable(dir_.path(), "");
    shell_test::WritePreferenceFile(szParamsIni, AcceptedDefaults());
    window_ = std::make_unique<TXLAWindow>("Sedimentation Analysis");
    window_->SetupWindow();
    UiEvents().Clear();
  }
  void TearDown() override {
    window_.reset();
    SetResponseTable({});
    shell_test::ResetShellState();
  }
  const ResponseEntry* Command(int id) const { return window_->Find(0, id); }

  ScopedHeadlessBackend backend_;
  shell_test::ScratchDir dir_{"table"};
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(ResponseTable, NoCommandHasTwoEntries) {
  std::set<int> commands;
  for (const ResponseEntry& e : MainWindowResponseTable())
    if (e.message == 0) {
      EXPECT_TRUE(commands.insert(e.id).second) << "twice: " << e.id;
    }
}

TEST_F(ResponseTable, EveryMenuItemAndAcceleratorHasAnEntry) {
  for (int id : AllMenuAndAcceleratorCommands()) {
    EXPECT_NE(Command(id), nullptr) << id;
  }
}

// The README's "What TARMIC does not do" names exactly the unavailable commands.
TEST(ReadmeList, NamesExactlyTheUnavailableCommands) {
  std::ifstream in(std::string(TARMIC_TEST_DATA_DIR) + "/../../README.md");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t start = text.find("## What TARMIC does not do");
  ASSERT_NE(start, std::string::npos);
  const std::string section = text.substr(start);
  std::set<int> listed;
  const std::regex id("\\b([1-9][0-9]{2})\\b");
  for (auto it = std::sregex_iterator(section.begin(), section.end(), id); it != std::sregex_iterator(); ++it)
    listed.insert(std::stoi((*it)[1].str()));
  // Numbers that are part of names ("Protein Solutions 99, version 5.20.05" and the like)
  // are no command identifiers; only identifiers of the response table count.
  std::set<int> commands;
  for (int n : listed)
    if (IsUnavailableCommand(n) || !NotAvailableText(n).starts_with("command ")) commands.insert(n);
  const auto unavailable = UnavailableCommands();
  EXPECT_EQ(commands, std::set<int>(unavailable.begin(), unavailable.end()));
}

TEST_F(ResponseTable, EmptyAndUnknownIdentifiersDoNothing) {
  EXPECT_TRUE(DispatchCommand(*window_, kCmEmpty));
  EXPECT_FALSE(DispatchCommand(*window_, 12345));
  EXPECT_FALSE(DispatchCommand(*window_, 222));
  EXPECT_TRUE(backend_->Transcript().empty());
  EXPECT_TRUE(UiEvents().Empty());
}

TEST_F(ResponseTable, AcceleratorsWorkWithTheAttachedMenu) {
  // Ctrl+L loads through command 200 although "MENU_VIREZ" has no such item.
  ASSERT_FALSE(backend_->Headless().HasMenuItem(kCmLoadNewFiles));
  backend_->Headless().PressKey('L', MK_CONTROL);
  backend_->QueueOpenFiles({});  // the file dialog, cancelled
  // Alt+I reaches command 542 (its dialog, cancelled).
  backend_->Headless().PressKey('I', MK_ALT);
  backend_->QueueDialog(IDCANCEL);
  PostQuitMessage(0);
  EXPECT_EQ(RunMessageLoop(*window_), 0);
  const auto& t = backend_->Transcript();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].kind, "OpenFile");
  EXPECT_EQ(t[1].caption, "Inhomogeneous Solvent Parameters");
}

TEST_F(ResponseTable, HelpKeyOnAMenuItemOnlyOffersTheHelp) {
  UiEvents().Post(Event::HelpCommand(kCmRun));
  backend_->QueueMessageBox(IDOK, "HELP");
  UiEvents().Post(Event::HelpCommand(kCmExit));  // does not end the program
  backend_->QueueMessageBox(IDOK, "HELP");
  UiEvents().Post(Event::Command(kCmEmpty));
  PostQuitMessage(7);
  EXPECT_EQ(RunMessageLoop(*window_), 7);
  EXPECT_FALSE(window_->bHelpMode);
  EXPECT_EQ(backend_->MessageBoxCaptions(), (std::vector<std::string>{"HELP", "HELP"}));
}

TEST_F(ResponseTable, ScreenshotByAcceleratorReachesTheClipboard) {
  backend_->Headless().PressKey('C', MK_CONTROL);
  PostQuitMessage(0);
  RunMessageLoop(*window_);
  ASSERT_NE(backend_->ClipboardBitmap(), nullptr);
  EXPECT_EQ(backend_->ClipboardBitmap()->Width(), backend_->Headless().ClientSize().cx);
}

class ProgramStart : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_test::ResetShellState();
    InstallResponseTable();
  }
  void TearDown() override {
    SetResponseTable({});
    shell_test::ResetShellState();
  }
  int Run() {
    std::string arg = dir_.Program();
    char* argv[] = {arg.data(), nullptr};
    return OwlMain(1, argv);
  }
  ScopedHeadlessBackend backend_;
  shell_test::ScratchDir dir_{"start"};
};

TEST_F(ProgramStart, DeclinedDisclaimerRunsExitAndNeverShowsTheWindow) {
  backend_->QueueDialog(IDCANCEL);
  UiEvents().Post(Event::Command(kCmRun));
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(backend_->Headless().IsShown());
  ASSERT_EQ(backend_->Transcript().size(), 1u);
  EXPECT_EQ(backend_->Transcript()[0].caption, "About");
}

TEST_F(ProgramStart, ExitCommandEndsTheProgram) {
  shell_test::WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  UiEvents().Post(Event::Command(kCmExit));
  UiEvents().Post(Event::Command(kCmRun));  // after Exit: never reached
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(backend_->Headless().IsShown());
  EXPECT_TRUE(backend_->Transcript().empty());
}

}  // namespace
}  // namespace tarmic
