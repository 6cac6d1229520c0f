// Tests of the program's start: the path table and the files made beside the
// program, the first-start disclaimer, the menu check marks taken from the
// preferences, help mode, and a program directory that cannot be written.
#include "app/app_main.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/disclaimer.h"
#include "app/xla_window.h"
#include "services/path_table.h"
#include "platform/system.h"
#include "platform/headless/headless_backend.h"
#include "resources/menus.h"
#include "tests/app/shell_test_support.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

using shell_test::AcceptedDefaults;
using shell_test::ReadFile;
using shell_test::ReadLines;
using shell_test::ScratchDir;
using shell_test::WritePreferenceFile;

class Startup : public ::testing::Test {
 protected:
  void SetUp() override { shell_test::ResetShellState(); }
  void TearDown() override { shell_test::ResetShellState(); }

  // Runs the program with argv[0] in dir until the script ends.
  int RunProgram(const std::string& argv0) {
    std::string arg = argv0;
    char* argv[] = {arg.data(), nullptr};
    return OwlMain(1, argv);
  }

  ScopedHeadlessBackend backend_;
  ScratchDir dir_{"startup"};
};

TEST_F(Startup, PathTableComesFromTheProgramsOwnPath) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  UiEvents().Post(Event::CloseRequest());
  EXPECT_EQ(RunProgram(dir_.Program()), 0);
  EXPECT_EQ(szProgramDir, dir_.path());
  // Settings in the user's configuration directory, written working files in the data
  // directory, temporary files in the cache directory; resources beside the program.
  EXPECT_EQ(szParamsIni, dir_.ConfigDir() + "tarmicparams.ini");
  EXPECT_EQ(szScanRmsFile, dir_.DataDir() + "ScanRms.dat");
  EXPECT_EQ(szTempDir, dir_.CacheDir());
  EXPECT_EQ(szViscosityFile, dir_.path() + "viscosity.dat");
}

TEST_F(Startup, FirstStartMakesTheUsersDirectoriesAndTheLastDirectoryFileAtHome) {
  szProgramDir = dir_.path();
  SetupFilePaths();
  for (const std::string& d : {dir_.ConfigDir(), dir_.DataDir(), dir_.CacheDir()})
    EXPECT_TRUE(std::filesystem::is_directory(d)) << d;
  // The first file dialog opens in the home directory.
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), dir_.path());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "tarmic.ini"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "temp"));

  // A second start keeps the last data directory.
  shell_test::WriteFile(dir_.ConfigDir() + "tarmic.ini", "/data/elsewhere/");
  SetupFilePaths();
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), "/data/elsewhere/");
  EXPECT_TRUE(backend_->Transcript().empty());
}

TEST_F(Startup, SettingsBesideTheProgramAreCarriedOverOnce) {
  auto lines = AcceptedDefaults();
  lines[kPrefWizardMessages] = "1";
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", lines);
  shell_test::WriteFile(dir_.path() + "tarmiclammparams.ini", "lamm\n");
  shell_test::WriteFile(dir_.path() + "tarmic.ini", "/data/run7/");
  szProgramDir = dir_.path();
  SetupFilePaths();
  EXPECT_EQ(ReadLines(dir_.ConfigDir() + "tarmicparams.ini"), lines);
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmiclammparams.ini"), "lamm\n");
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), "/data/run7/");

  // Once carried over, the user's own file is the one that counts.
  shell_test::WriteFile(dir_.path() + "tarmic.ini", "/data/stale/");
  SetupFilePaths();
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), "/data/run7/");
}

TEST_F(Startup, TheProgramDirectoryAsLastDirectoryIsNotCarriedOver) {
  // Earlier runs started "tarmic.ini" with the program directory; the first dialog
  // of a new installation opens at home instead.
  shell_test::WriteFile(dir_.path() + "tarmic.ini", dir_.path());
  szProgramDir = dir_.path();
  SetupFilePaths();
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), dir_.path());  // home == scratch
  ::setenv("HOME", "/nonexistent-home/", 1);
  std::filesystem::remove(dir_.ConfigDir() + "tarmic.ini");
  SetupFilePaths();
  EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), "/nonexistent-home/");
}

TEST_F(Startup, UserDirectoriesFollowXdgAndHome) {
  ::setenv("HOME", "/home/u", 1);
  ::setenv("XDG_CONFIG_HOME", "/etc/xdg-user", 1);
  ::setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  ::unsetenv("XDG_CACHE_HOME");
  UserDirectories d = UserDirectoriesFromEnvironment();
  EXPECT_EQ(d.home, "/home/u/");
  EXPECT_EQ(d.config, "/etc/xdg-user/tarmic/");
  EXPECT_EQ(d.data, "/home/u/.local/share/tarmic/");
  EXPECT_EQ(d.cache, "/home/u/.cache/tarmic/");
  ::unsetenv("HOME");
  d = UserDirectoriesFromEnvironment();
  EXPECT_EQ(d.home, "");
  EXPECT_EQ(d.config, "/etc/xdg-user/tarmic/");
  EXPECT_EQ(d.data, "");
  EXPECT_EQ(d.cache, "");
}

TEST_F(Startup, FirstStartAsksForTheDisclaimerAndAgreeingWritesTheFile) {
  backend_->QueueDialog(IDOK);
  UiEvents().Post(Event::CloseRequest());
  EXPECT_EQ(RunProgram(dir_.Program()), 0);
  ASSERT_EQ(backend_->Transcript().size(), 1u);
  EXPECT_EQ(backend_->Transcript()[0].caption, "About");
  const auto lines = ReadLines(szParamsIni);
  ASSERT_EQ(lines.size(), 19u);
  EXPECT_EQ(lines[0], "1");
  EXPECT_TRUE(backend_->Headless().IsShown());

  // The next start shows no dialog.
  shell_test::ResetShellState();
  backend_->ClearTranscript();
  UiEvents().Post(Event::CloseRequest());
  EXPECT_EQ(RunProgram(dir_.Program()), 0);
  EXPECT_TRUE(backend_->Transcript().empty());
}

// At the first start "don't agree" and closing the box both end the program.
TEST_F(Startup, DecliningTheDisclaimerEndsTheProgramUnshown) {
  for (const int answer : {kDisclaimerDisagree, IDCANCEL}) {
    shell_test::ResetShellState();
    backend_->QueueDialog(answer);
    UiEvents().Post(Event::Command(kCmRun));  // never reached
    EXPECT_EQ(RunProgram(dir_.Program()), 0) << answer;
    EXPECT_FALSE(backend_->Headless().IsShown()) << answer;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "tarmicparams.ini")) << answer;
    EXPECT_FALSE(std::filesystem::exists(dir_.ConfigDir() + "tarmicparams.ini")) << answer;
    EXPECT_EQ(GetMainWindow(), nullptr) << answer;
    UiEvents().Clear();
  }
}

TEST_F(Startup, MenuCheckMarksFollowThePreferences) {
  auto lines = AcceptedDefaults();
  lines[kPrefThreads] = "0";            // multithreading off
  lines[kPrefRegularisation] = "2";     // second derivative
  lines[kPrefFitAlgorithm] = "3";       // Marquardt-Levenberg
  lines[kPrefSuppressBaseline] = "1";
  lines[kPrefWizardMessages] = "1";
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", lines);
  UiEvents().Post(Event::CloseRequest());
  EXPECT_EQ(RunProgram(dir_.Program()), 0);
  HeadlessWindow& w = backend_->Headless();
  const std::pair<int, bool> marks[] = {
      {kCmMultipleThreads, false}, {kCmRegSecondDerivative, true}, {kCmRegMaxEnt, false},
      {kCmFitMarquardt, true},     {kCmFitSimplex, false},         {kCmSuppressBaselineCorrelation, true},
      {kCmWizardMessages, true}};
  for (const auto& [id, checked] : marks) EXPECT_EQ(w.IsMenuItemChecked(id), checked) << id;
}

// The menu a start attaches follows the choice kept in "tarmic.ini" after the
// directory line; a file without it (older files) or with another value keeps the
// window's menu. The start leaves the file as it is.
TEST_F(Startup, TheMenuAtStartIsTheOneKeptInTarmicIni) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  const std::pair<std::string, bool> files[] = {
      {"/data/run7/", false},
      {"/data/run7/\nFullCommandSet=1", true},
      {"/data/run7/\r\nFullCommandSet=1\r\n", true},
      {"/data/run7/\nFullCommandSet=0", false},
      {"/data/run7/\nFullCommandSet=yes", false},
      {"FullCommandSet=1", false},  // the first line is the directory
  };
  std::filesystem::create_directories(dir_.ConfigDir());
  for (const auto& [text, full] : files) {
    SCOPED_TRACE(text);
    shell_test::ResetShellState();
    shell_test::WriteFile(dir_.ConfigDir() + "tarmic.ini", text);
    UiEvents().Post(Event::CloseRequest());
    EXPECT_EQ(RunProgram(dir_.Program()), 0);
    EXPECT_EQ(backend_->Headless().Menu().name, full ? "MENU_1" : "MENU_VIREZ");
    EXPECT_EQ(backend_->Headless().IsMenuItemChecked(kCmFullCommandSet), full);
    EXPECT_EQ(ReadFile(dir_.ConfigDir() + "tarmic.ini"), text);
  }
}

// A "tarmic.ini" that cannot be written still switches the menu, and says that the
// choice is not kept.
TEST_F(Startup, TheSwitchWithoutAWritableTarmicIniIsReported) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  SetupPathTable(dir_.path(), "");
  szLastDirIni = dir_.path() + "missing/tarmic.ini";  // a folder that does not exist
  TXLAWindow w("Sedimentation Analysis");
  backend_->QueueMessageBox(IDOK, "ERROR");
  w.CmFullCommandSet();
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_EQ(backend_->Headless().Menu().name, "MENU_1");
}

// The plot commands keep their items whether or not their programs are there (a
// missing one names itself when chosen).
TEST_F(Startup, FullMenuKeepsTheItemsOfMissingPlotPrograms) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  std::filesystem::create_directories(dir_.path() + "bin");
  shell_test::WriteFile(dir_.path() + "bin/sedmovie", "#!/bin/sh\n");
  SetupPathTable(dir_.path(), "");
  TXLAWindow w("Sedimentation Analysis");
  w.GetHandle().AttachMenu(GetMenuResource(kMenuFull));
  w.SetupWindow();
  HeadlessWindow& h = backend_->Headless();
  for (int id : {878, 880, 881, 882, 883}) EXPECT_TRUE(h.HasMenuItem(id)) << id;
  EXPECT_TRUE(h.HasMenuItem(kCmMakeSedimentationMovie));
  EXPECT_TRUE(h.HasMenuItem(kCmGUSSIDataFitResidualsPlot));
}

TEST_F(Startup, ReadOnlyProgramAndUserDirectoriesStillGiveAWorkingProgram) {
  // Nothing can be made in /proc, whoever runs the test; nor in a home under it.
  const std::string userTemp = dir_.path() + "usertmp/";
  std::filesystem::create_directories(userTemp);
  ::setenv("TMPDIR", userTemp.c_str(), 1);
  ::setenv("HOME", "/proc/home", 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("XDG_DATA_HOME", "/proc/data", 1);
  ::unsetenv("XDG_CACHE_HOME");
  backend_->QueueDialog(IDOK);
  backend_->QueueMessageBox(IDOK, "ERROR");  // preferences cannot be saved: said once
  UiEvents().Post(Event::CloseRequest());
  const int result = RunProgram("/proc/tarmic");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(backend_->Headless().IsShown());
  EXPECT_EQ(szTempDir, userTemp + "tarmic/");
  EXPECT_TRUE(std::filesystem::is_directory(userTemp + "tarmic"));
  EXPECT_EQ(szViscosityFile, "/proc/viscosity.dat");
  EXPECT_TRUE(backend_->AllAnswersUsed());
}

TEST_F(Startup, HelpKeyOnAnOpenMenuStartsHelpMode) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  SetupPathTable(dir_.path(), "");
  TXLAWindow w("Sedimentation Analysis");
  w.EvEnterIdle(0, true);
  EXPECT_FALSE(w.bHelpMode);
  w.EvEnterIdle(MSGF_MENU, false);
  EXPECT_FALSE(w.bHelpMode);
  w.EvEnterIdle(MSGF_MENU, true);
  EXPECT_TRUE(w.bHelpMode);
  backend_->QueueMessageBox(IDOK, "HELP");
  w.OfferOnlineHelp();
  EXPECT_FALSE(w.bHelpMode);
}

TEST_F(Startup, LoadedIntensityDataEnableTheirMenuItem) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  SetupPathTable(dir_.path(), "");
  TXLAWindow w("Sedimentation Analysis");
  HeadlessWindow& h = backend_->Headless();
  h.AttachMenu(GetMenuResource(kMenuFull));
  DataSet().nScans = 2;
  ScanFile().bIntensityData = true;
  w.UpdateMenuForLoadedData();
  EXPECT_TRUE(h.IsMenuItemEnabled(kCmSaveIntensityAsAbsorbance));
  ScanFile().bIntensityData = false;
  w.UpdateMenuForLoadedData();
  EXPECT_FALSE(h.IsMenuItemEnabled(kCmSaveIntensityAsAbsorbance));
  DataSet().nScans = 0;
}

TEST_F(Startup, FluorescenceDataAddNoFloToolsItemToTheAttachedMenu) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  SetupPathTable(dir_.path(), "");
  TXLAWindow w("Sedimentation Analysis");
  DataSet().nScans = 1;
  ScanFile().bFluorescenceData = true;
  w.UpdateMenuForLoadedData();
  EXPECT_FALSE(backend_->Headless().HasMenuItem(kCmFloTools));
  EXPECT_FALSE(w.bFloToolsInserted);

  // The full menu has item 552, before which it goes; other data remove it again.
  backend_->Headless().AttachMenu(GetMenuResource(kMenuFull));
  w.UpdateMenuForLoadedData();
  EXPECT_TRUE(backend_->Headless().HasMenuItem(kCmFloTools));
  ScanFile().bFluorescenceData = false;
  w.UpdateMenuForLoadedData();
  EXPECT_FALSE(backend_->Headless().HasMenuItem(kCmFloTools));
  DataSet().nScans = 0;
}

TEST_F(Startup, MainLoopReturnsTheQuitCode) {
  WritePreferenceFile(dir_.path() + "tarmicparams.ini", AcceptedDefaults());
  PostQuitMessage(3);
  EXPECT_EQ(RunProgram(dir_.Program()), 3);
}

}  // namespace
}  // namespace tarmic
