// Loading scans through the window: "Load New Files" with the scripted file
// dialog, scan-list files, "Add More Files", files dropped on the window, and Exit.
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>

#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "commands_test_support.h"
#include "services/path_table.h"
#include "plot/data_plots.h"
#include "plot/temperature_plot.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

using LoadCommandTest = CommandTest;

std::string SetDirectory() { return fs::path(ScanFixture("set_abs/00001.ra1")).parent_path().string(); }

std::vector<std::string> LoadedNames() {
  std::vector<std::string> names;
  for (int s = 1; s <= DataSet().nScans; ++s) names.push_back(DataSet().ppScanFileNames[Idx(s)]);
  return names;
}

// A copy of a fixture under another name in the test's own directory.
std::string CopyAs(const std::string& dir, const std::string& fixture, const std::string& name) {
  const std::string path = dir + "/" + name;
  fs::copy_file(ScanFixture(fixture), path, fs::copy_options::overwrite_existing);
  return path;
}

TEST_F(LoadCommandTest, LoadNewFilesLoadsTheChosenScansIntoPlots) {
  LoadThroughDialog(VelocitySet());
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_NE(DataPlots().pDataPlot, nullptr);
  ASSERT_EQ(DataSet().pScanOrder.size(), 4u);
  EXPECT_EQ(DataSet().pScanOrder[1], 2);  // recorded at 1000 s
  EXPECT_EQ(DataSet().pScanOrder[3], 1);  // recorded at 3000 s
  EXPECT_TRUE(Handle().IsMenuItemEnabled(kCmAddMoreFiles));
  EXPECT_FALSE(bFileDialogOpen);
}

TEST_F(LoadCommandTest, TheNextDialogStartsInTheDirectoryOfTheLastLoad) {
  LoadVelocitySet();
  EXPECT_EQ(ReadFile(szLastDirIni), SetDirectory() + "/");
  Backend().QueueOpenFiles({});
  Dispatch(kCmLoadNewFiles);
  EXPECT_EQ(Win().ofnLoad.directory, SetDirectory() + "/");
}

TEST_F(LoadCommandTest, LoadKeepsOldSetWhenAFileIsBad) {
  LoadVelocitySet();
  const std::vector<std::string> before = LoadedNames();
  const CWINPlot* plotBefore = DataPlots().pDataPlot;
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({ScanFixture("absorbance.ra1"), ScanFixture("empty.ra1")});
  EXPECT_EQ(Captions(), std::vector<std::string>{"LOAD ERROR"});
  EXPECT_EQ(LoadedNames(), before);
  EXPECT_EQ(DataPlots().pDataPlot, plotBefore);
}

TEST_F(LoadCommandTest, NoLoadStartsWhileAFileDialogIsOpen) {
  // A load command reaching the window from a nested event loop of an open file
  // dialog must not open a second dialog (no answer is queued: a dialog would fail
  // the test).
  bFileDialogOpen = true;
  Dispatch(kCmLoadNewFiles);
  Dispatch(kCmAddMoreFiles);
  Drop(VelocitySet());
  EXPECT_EQ(Shown("OpenFile"), 0);
  EXPECT_EQ(DataSet().nScans, 0);
}

TEST_F(LoadCommandTest, ScanListFileLoadsTheScansItNames) {
  const std::string list = ProgramDir() + "/list_run.ra1";
  WriteFile(list, "newformat n=1\n" + SetDirectory() + "\n00002.ra1\n00003.ra1\n");
  LoadThroughDialog({list});
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"00002.ra1", "00003.ra1"}));
  EXPECT_EQ(FileList().nStoredFiles, 2);
}

TEST_F(LoadCommandTest, ScanListWithABadFileKeepsSetAndStoredList) {
  LoadVelocitySet();
  StoreFileList(0);
  const std::vector<std::string> stored = FileList().ppStoredFileNames;
  const std::string list = ProgramDir() + "/list_bad.ra1";
  WriteFile(list, "newformat n=1\n" + fs::path(ScanFixture("empty.ra1")).parent_path().string() +
                      "\nabsorbance.ra1\nempty.ra1\n");
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({list});
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(FileList().ppStoredFileNames, stored);
  EXPECT_EQ(DataSet().szDataDirectory, SetDirectory());
}

TEST_F(LoadCommandTest, MissingFilesCanBeReadFromTheLastDataDirectory) {
  WriteFile(szLastDirIni, SetDirectory() + "/");
  std::vector<std::string> elsewhere;
  for (const char* name : {"00001.ra1", "00002.ra1", "00003.ra1"})
    elsewhere.push_back(ProgramDir() + "/gone/" + name);
  Backend().QueueMessageBox(IDYES, "LOAD ERROR");
  LoadThroughDialog(elsewhere);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0].rfind("could not find files in " + ProgramDir() + "/gone - use file from ", 0),
            0u);
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(DataSet().szDataDirectory, SetDirectory());
  EXPECT_FALSE(AnalysisSwitches().bUseOtherDirectory);
}

TEST_F(LoadCommandTest, AddMoreFilesAddsScansToTheSet) {
  LoadThroughDialog({ScanFixture("set_abs/00001.ra1"), ScanFixture("set_abs/00002.ra1")});
  ASSERT_EQ(DataSet().nScans, 2);
  Backend().QueueOpenFiles({ScanFixture("set_abs/00003.ra1")});
  Dispatch(kCmAddMoreFiles);
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"00001.ra1", "00002.ra1", "00003.ra1"}));
  EXPECT_EQ(DataPlots().pDataPlot->nCurves, 3);
}

TEST_F(LoadCommandTest, AddMoreFilesSkipsScansAlreadyLoadedAndSaysSo) {
  LoadThroughDialog({ScanFixture("set_abs/00001.ra1"), ScanFixture("set_abs/00002.ra1")});
  ASSERT_EQ(DataSet().nScans, 2);
  const std::vector<int> pointsBefore = DataSet().pnPoints;
  Backend().ClearTranscript();
  // The loaded two again, one of them spelt through "..", and one new scan: only the
  // new one is added, and the note names the two left out.
  const std::string dotted = SetDirectory() + "/../set_abs/00002.ra1";
  Backend().QueueOpenFiles({ScanFixture("set_abs/00001.ra1"), dotted, ScanFixture("set_abs/00003.ra1")});
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmAddMoreFiles);
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"00001.ra1", "00002.ra1", "00003.ra1"}));
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_NE(BoxTexts()[0].find("already loaded"), std::string::npos);
  EXPECT_NE(BoxTexts()[0].find("00001.ra1"), std::string::npos);
  EXPECT_NE(BoxTexts()[0].find("00002.ra1"), std::string::npos);
  EXPECT_EQ(BoxTexts()[0].find("00003.ra1"), std::string::npos);
  EXPECT_EQ(DataPlots().pDataPlot->nCurves, 3);

  // Nothing new at all: the set stays as it is, and the refusal says why.
  Backend().ClearTranscript();
  Backend().QueueOpenFiles(VelocitySet());
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  Dispatch(kCmAddMoreFiles);
  EXPECT_EQ(DataSet().nScans, 3);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_NE(BoxTexts()[0].find("already loaded"), std::string::npos);
  EXPECT_EQ(DataSet().pnPoints[1], pointsBefore[1]);
}

TEST_F(LoadCommandTest, DroppedScanFilesLoadWithoutAQuestionIntoAnEmptyWindow) {
  Drop({ScanFixture("set_abs/00003.ra1"), ScanFixture("set_abs/00001.ra1"),
        ScanFixture("set_abs/00002.ra1")});
  EXPECT_TRUE(Captions().empty());
  // Loaded in the order of their names, shown in the order of their times.
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"00001.ra1", "00002.ra1", "00003.ra1"}));
  EXPECT_EQ(DataSet().szDataDirectory, SetDirectory());
}

TEST_F(LoadCommandTest, DroppedFilesAskBeforeErasingTheLoadedData) {
  LoadThroughDialog({ScanFixture("set_abs/00001.ra1"), ScanFixture("set_abs/00002.ra1")});
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDNO, "LOAD DATA");
  Drop(VelocitySet());
  EXPECT_EQ(DataSet().nScans, 2);

  Backend().QueueMessageBox(IDYES, "LOAD DATA");
  Drop(VelocitySet());
  EXPECT_EQ(DataSet().nScans, 3);
}

// The title names the set loaded last, whether it was dropped or chosen in the
// dialog; a load that fails leaves the title with the set that stays.
TEST_F(LoadCommandTest, TheTitleFollowsTheSetLoadedLast) {
  const auto title = [](const std::string& first) { return "SEDIMENTATION ANALYSIS -> " + first + "..."; };
  Drop(VelocitySet());
  EXPECT_EQ(Backend().MainWindow().Title(), title(SetDirectory() + "/00001.ra1"));

  const std::string dir = ProgramDir();
  const std::vector<std::string> copies = {CopyAs(dir, "set_abs/00001.ra1", "b1.ra1"),
                                           CopyAs(dir, "set_abs/00002.ra1", "b2.ra1")};
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({copies[0], CopyAs(dir, "empty.ra1", "b3.ra1")});
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_EQ(Backend().MainWindow().Title(), title(SetDirectory() + "/00001.ra1"));

  LoadThroughDialog(copies);
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(Backend().MainWindow().Title(), title(fs::path(copies[0]).string()));

  Backend().QueueMessageBox(IDYES, "LOAD DATA");
  Drop(VelocitySet());
  EXPECT_EQ(Backend().MainWindow().Title(), title(SetDirectory() + "/00001.ra1"));
}

TEST_F(LoadCommandTest, DroppingOnlyOtherFilesSaysSoAndKeepsTheSet) {
  LoadVelocitySet();
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Drop({ScanFixture("intensity.ri1"), ScanFixture("fluorescence.fa1")});
  EXPECT_EQ(Captions(), std::vector<std::string>{"ATTENTION"});
  EXPECT_EQ(DataSet().nScans, 3);
}

TEST_F(LoadCommandTest, DroppedBadFileKeepsSetAndStoredList) {
  LoadVelocitySet();
  StoreFileList(0);
  const std::vector<std::string> stored = FileList().ppStoredFileNames;
  const std::string bad = CopyAs(ProgramDir(), "empty.ra1", "00009.ra1");
  Backend().QueueMessageBox(IDYES, "LOAD DATA");
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  Drop({ScanFixture("set_abs/00001.ra1"), bad});
  EXPECT_EQ(Captions(), (std::vector<std::string>{"LOAD DATA", "LOAD ERROR"}));
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"00001.ra1", "00002.ra1", "00003.ra1"}));
  EXPECT_EQ(FileList().ppStoredFileNames, stored);
  EXPECT_EQ(DataSet().szDataDirectory, SetDirectory());
}

TEST_F(LoadCommandTest, EquilibriumModeStartsOnlyWithASingleFileThatLoaded) {
  LoadVelocitySet();
  // One unreadable file, with "switch to Equilibrium Data Mode?" agreed to.
  Backend().QueueMessageBox(IDOK, "ERROR");       // "only one file selected"
  Backend().QueueMessageBox(IDYES, "LOAD ERROR");  // the switch
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");   // the file cannot be read
  LoadThroughDialog({ScanFixture("empty.ra1")});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"00001.ra1", "00002.ra1", "00003.ra1"}));
  // Declined: nothing is read and the mode stays.
  Backend().QueueMessageBox(IDOK, "ERROR");
  Backend().QueueMessageBox(IDNO, "LOAD ERROR");
  LoadThroughDialog({ScanFixture("absorbance.ra1")});
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_EQ(DataSet().nScans, 3);
  // Agreed to with a readable file: the single scan is the new set, in equilibrium mode.
  Backend().QueueMessageBox(IDOK, "ERROR");
  Backend().QueueMessageBox(IDYES, "LOAD ERROR");
  Backend().QueueMessageBox(IDOK, "Error");  // the fit limits of the new set
  LoadThroughDialog({ScanFixture("absorbance.ra1")});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  EXPECT_EQ(LoadedNames(), std::vector<std::string>{"absorbance.ra1"});
}

TEST_F(LoadCommandTest, ElectrophoresisModeEndsOnlyWithANewLoadedSet) {
  LoadVelocitySet();
  ScanFile().bElectrophoresisMode = true;  // as an electrophoresis load leaves it
  // Cancelled dialog, an unreadable selection, a dropped unreadable file: the mode stays.
  Backend().QueueOpenFiles({});
  Dispatch(kCmLoadNewFiles);
  EXPECT_TRUE(ScanFile().bElectrophoresisMode);
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({ScanFixture("absorbance.ra1"), ScanFixture("empty.ra1")});
  EXPECT_TRUE(ScanFile().bElectrophoresisMode);
  const std::string bad = CopyAs(ProgramDir(), "empty.ra1", "00009.ra1");
  Backend().QueueMessageBox(IDYES, "LOAD DATA");
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  Drop({ScanFixture("set_abs/00001.ra1"), bad});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(ScanFile().bElectrophoresisMode);
  EXPECT_EQ(DataSet().nScans, 3);
  // A set of ordinary scans that loads leaves the mode.
  LoadThroughDialog(VelocitySet());
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_FALSE(ScanFile().bElectrophoresisMode);
}

TEST_F(LoadCommandTest, ExitReleasesTheDataAndEndsTheLoop) {
  LoadVelocitySet();
  Dispatch(kCmExit);
  EXPECT_EQ(DataSet().nScans, 0);
  EXPECT_EQ(DataPlots().pDataPlot, nullptr);
  EXPECT_TRUE(UiEvents().Any([](const Event& e) { return e.type == EventType::Quit; }));
}

TEST(DroppedFileKinds, ScanExtensionsAreTheInterferenceAndAbsorbanceCells) {
  for (const char* name : {"a.ip1", "a.IP8", "a.ra1", "a.RA8", "a.R00", "dir.x/a.r00"})
    EXPECT_TRUE(IsDroppableScanFile(name)) << name;
  for (const char* name : {"a.ip0", "a.ip9", "a.ra9", "a.ri1", "a.fa1", "a.r01", "ra1", "a.ra10", "a.ra"})
    EXPECT_FALSE(IsDroppableScanFile(name)) << name;
}

// "load sedimentation equilibrium data": one file is a data set without the
// single-file question; a cancelled dialog leaves the data mode as it was.
// "Change Cell (Same Selection)": the same scans of another cell; a cell whose
// files are missing changes nothing.
TEST_F(LoadCommandTest, EquilibriumLoadAndChangeCell) {
  const std::string dir = ProgramDir() + "/cells";
  fs::create_directories(dir);
  std::vector<std::string> cell1;
  for (const char* n : {"00001", "00002", "00003"}) {
    cell1.push_back(CopyAs(dir, std::string("set_abs/") + n + ".ra1", std::string(n) + ".ra1"));
    CopyAs(dir, std::string("set_abs/") + n + ".ra1", std::string(n) + ".ra2");
  }
  Backend().QueueOpenFiles({});
  Dispatch(kCmLoadEquilibriumData);
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  Backend().QueueOpenFiles({cell1[0]});
  Dispatch(kCmLoadEquilibriumData);
  ASSERT_EQ(DataSet().nScans, 1);
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  EXPECT_TRUE(Captions().empty());

  DataSet().bEquilibriumMode = false;
  LoadThroughDialog(cell1);
  ASSERT_EQ(DataSet().nScans, 3);
  Backend().QueueInput("2");
  Dispatch(kCmChangeCell);
  ASSERT_EQ(DataSet().nScans, 3);
  // The stored list is in display order (by time): 00002, 00003, 00001.
  const std::vector<std::string> cell2{"00002.ra2", "00003.ra2", "00001.ra2"};
  EXPECT_EQ(LoadedNames(), cell2);
  EXPECT_EQ(DataSet().szDataDirectory, dir);
  Backend().QueueInput("3");
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  Dispatch(kCmChangeCell);
  EXPECT_EQ(LoadedNames(), cell2);
  EXPECT_EQ(FileNameOf(FileList().ppStoredFileNames[1]).back(), '2');
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// With the program's services installed, the notes of a load are shown by the
// loading command, each once, in their order: the temperature fluctuations (with
// the temperature plot), the scans that all hold one time, the reader's notes.
TEST_F(LoadCommandTest, TheNotesOfALoadAreShownOnceByTheCommandInTheirOrder) {
  InstallProgramServices();
  ASSERT_TRUE(GetDataSetHooks().showLoadMessage);
  const std::string dir = ProgramDir() + "/one_time";
  fs::create_directories(dir);
  std::vector<std::string> files;
  for (const char* name : {"a", "b", "c"}) {
    const bool warm = name[0] == 'c';
    std::string text =
        std::string(name) + "\nR 1 " + (warm ? "21.5" : "20.0") + " 40000 1000 0 280 1\n";
    for (int i = 0; i < 60; ++i) text += Format("   %.4f  0.2   0.01 \n", 5.9 + 0.01 * i);
    files.push_back(dir + "/" + name + ".ra1");
    WriteFile(files.back(), text);
  }
  for (const char* caption : {"ERROR", "ATTENTION", "ATTENTION"})
    Backend().QueueMessageBox(IDOK, caption);
  LoadThroughDialog(files);
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(Captions(), (std::vector<std::string>{"ERROR", "ATTENTION", "ATTENTION"}));
  const std::vector<std::string> texts = BoxTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "temperature fluctuations exceed 1.0 degrees");
  EXPECT_EQ(texts[1],
            "all 3 scans hold the same time, 1000 s: a sedimentation velocity analysis needs "
            "scans taken at different times - check line 2 of the scan files");
  EXPECT_EQ(texts[2].rfind(files[0] + " (and 2 more files):\nline 2 holds the omega^2 t 0", 0), 0u);
  EXPECT_NE(TemperaturePlot().pTemperaturePlot, nullptr);
}

// The data mode of a new set: the equilibrium loader starts equilibrium mode, the
// velocity loaders end it with a set of several scans (chosen files, a scan list,
// dropped files); a single scan, added files and a load that fails keep it. The
// title and the check mark of the equilibrium loader show the mode.
TEST_F(LoadCommandTest, VelocityLoadersOfSeveralScansEndEquilibriumMode) {
  const auto enterEquilibrium = [this] {
    Backend().QueueOpenFiles({ScanFixture("set_abs/00001.ra1")});
    Dispatch(kCmLoadEquilibriumData);
    ASSERT_EQ(DataSet().nScans, 1);
    ASSERT_TRUE(DataSet().bEquilibriumMode);
  };
  const auto titleMarked = [this] { return Handle().Title().ends_with(kEquilibriumTitleMark); };
  enterEquilibrium();
  EXPECT_EQ(Handle().Title(), "SEDIMENTATION ANALYSIS -> " + ScanFixture("set_abs/00001.ra1") +
                                  "..." + kEquilibriumTitleMark);
  EXPECT_TRUE(Handle().IsMenuItemChecked(kCmLoadEquilibriumData));

  // Kept: added files, one more single scan, and a selection that cannot be read.
  Backend().QueueOpenFiles({ScanFixture("set_abs/00002.ra1"), ScanFixture("set_abs/00003.ra1")});
  Dispatch(kCmAddMoreFiles);
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  LoadThroughDialog({ScanFixture("set_abs/00002.ra1")});
  EXPECT_EQ(LoadedNames(), std::vector<std::string>{"00002.ra1"});
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({ScanFixture("absorbance.ra1"), ScanFixture("empty.ra1")});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  EXPECT_TRUE(titleMarked());

  // Ended: several chosen scans, a scan list, dropped scans.
  LoadThroughDialog(VelocitySet());
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_EQ(Handle().Title(), "SEDIMENTATION ANALYSIS -> " + VelocitySet().front() + "...");
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmLoadEquilibriumData));

  enterEquilibrium();
  const std::string list = ProgramDir() + "/list_run.ra1";
  WriteFile(list, "newformat n=1\n" + SetDirectory() + "\n00002.ra1\n00003.ra1\n");
  LoadThroughDialog({list});
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_FALSE(titleMarked());

  enterEquilibrium();
  Backend().QueueMessageBox(IDYES, "LOAD DATA");
  Drop(VelocitySet());
  EXPECT_EQ(DataSet().nScans, 3);
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_FALSE(titleMarked());
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmLoadEquilibriumData));
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// Writes count scans of cell 1, one per time of times(i) (s) at the speed of
// rpm(i), with the profile(i, r) plus Gaussian noise of deviation 0.004 on the
// radii from-to cm every 0.003 cm; returns the paths.
std::vector<std::string> WriteScanSeries(const std::string& dir, int count, const std::function<double(int)>& times,
                                         const std::function<double(int)>& rpm,
                                         const std::function<double(int, double)>& profile, double from = 5.90,
                                         double to = 7.19) {
  fs::create_directories(dir);
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 0.004);
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    const double w = rpm(i) * 2.0 * std::acos(-1.0) / 60.0;
    std::string text = Format("scan %d\nR 1 20.0 %.0f %.0f %.5e 280 1\n", i, rpm(i), times(i), w * w * times(i));
    for (double r = from; r < to; r += 0.003) text += Format("%.4f %.5f 0.01\n", r, profile(i, r) + noise(random));
    files.push_back(Format("%s/%05d.ra1", dir.c_str(), i + 1));
    WriteFile(files.back(), text);
  }
  return files;
}

// Scans of a velocity run loaded through "load sedimentation equilibrium data":
// a note at the load says that they look like a velocity run and how to load one,
// and the data stay loaded as chosen. Two sedimenting species (4 S, D 6e-7 cm^2/s;
// 8 S, D 4e-7 cm^2/s) at 50000 rpm scanned every 6 min: the boundary of each at
// m exp(s w^2 t), spread by diffusion, the plateau diluted by exp(-2 s w^2 t).
// Equilibrium data give no note: the exponential profile of a 50 kDa protein at
// 15000 rpm (sigma = M (1 - vbar rho) w^2 / (R T)) scanned every 20 min once it
// stopped changing, the same with interference offsets that differ by scan, and
// three speeds scanned every 3 h, and the approach to equilibrium of a 3 mm column
// (6.9-7.2 cm) scanned every 20 min for 24 h, which relaxes from the uniform loading
// with the time of its slowest mode, (b - m)^2 / (pi^2 D) = 4.2 h for D 6e-7 cm^2/s,
// and so stops changing. Velocity scans loaded as velocity data give none.
TEST_F(LoadCommandTest, AVelocityRunLoadedAsEquilibriumDataIsNamedAtTheLoad) {
  InstallProgramServices();
  const double meniscus = 6.0;
  const auto boundary = [&](double s, double d, double t, double r) {
    const double w2 = std::pow(50000.0 * 2.0 * std::acos(-1.0) / 60.0, 2.0);
    const double rb = meniscus * std::exp(s * 1e-13 * w2 * t);
    return r < meniscus ? 0.0 : std::exp(-2.0 * s * 1e-13 * w2 * t) * 0.5 * std::erfc((rb - r) / (2.0 * std::sqrt(d * t)));
  };
  const auto velocity = [&](int i, double r) {
    const double t = 1200.0 + 360.0 * i;
    return 0.4 * boundary(4.0, 6e-7, t, r) + 0.5 * boundary(8.0, 4e-7, t, r);
  };
  const auto velocityTime = [](int i) { return 1200.0 + 360.0 * i; };
  // The recorded speed wavers by a few rpm from scan to scan, as rotors report it.
  const auto fast = [](int i) { return 50000.0 + 10.0 * (i % 2); };
  const std::vector<std::string> run = WriteScanSeries(ProgramDir() + "/run", 12, velocityTime, fast, velocity);

  Backend().QueueOpenFiles(run);
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmLoadEquilibriumData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(DataSet().nScans, 12);
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  ASSERT_EQ(BoxTexts().size(), 1u) << ::testing::PrintToString(BoxTexts());
  const std::string note = BoxTexts()[0];
  EXPECT_NE(note.find("these 12 scans of cell 1 at 50000 rpm look like a sedimentation velocity run"),
            std::string::npos) << note;
  EXPECT_NE(note.find("6.0 min apart"), std::string::npos) << note;
  EXPECT_NE(note.find("Load New Files (Ctrl+L)"), std::string::npos) << note;

  // The same scans as a velocity run: no note.
  Backend().ClearTranscript();
  LoadThroughDialog(run);
  ASSERT_EQ(DataSet().nScans, 12);
  EXPECT_FALSE(DataSet().bEquilibriumMode);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});

  // Equilibrium profiles: M (1 - vbar rho) w^2 / (2 R T) with M 50 kDa, vbar 0.73,
  // water at 20 C, referred to 7.0 cm.
  const auto equilibrium = [](double rpm, double r) {
    const double w2 = std::pow(rpm * 2.0 * std::acos(-1.0) / 60.0, 2.0);
    const double half = 5e4 * (1.0 - 0.73 * 0.9982) * w2 / (2.0 * 8.314462618e7 * 293.15);
    return 0.5 * std::exp(half * (r * r - 49.0));
  };
  const auto slow = [](int) { return 15000.0; };
  const auto every20Min = [](int i) { return 86400.0 + 1200.0 * i; };
  const std::vector<std::vector<std::string>> sets = {
      WriteScanSeries(ProgramDir() + "/eq", 8, every20Min, slow,
                      [&](int, double r) { return equilibrium(15000.0, r); }),
      WriteScanSeries(ProgramDir() + "/eq_offsets", 8, every20Min, slow,
                      [&](int i, double r) { return equilibrium(15000.0, r) + 0.05 * (i % 3); }),
      WriteScanSeries(
          ProgramDir() + "/eq_speeds", 9, [](int i) { return 72000.0 + 10800.0 * i; },
          [](int i) { return 10000.0 + 5000.0 * (i / 3); },
          [&](int i, double r) { return equilibrium(10000.0 + 5000.0 * (i / 3), r); }),
      WriteScanSeries(
          ProgramDir() + "/eq_approach", 72, [](int i) { return 1200.0 * (i + 1); }, slow,
          [&](int i, double r) {
            const double tau = 0.3 * 0.3 / (std::acos(-1.0) * std::acos(-1.0) * 6e-7);
            return equilibrium(15000.0, r) + (0.5 - equilibrium(15000.0, r)) * std::exp(-1200.0 * (i + 1) / tau);
          },
          6.9, 7.2),
  };
  for (const std::vector<std::string>& files : sets) {
    SCOPED_TRACE(files.front());
    Backend().ClearTranscript();
    Backend().QueueOpenFiles(files);
    Dispatch(kCmLoadEquilibriumData);
    EXPECT_EQ(DataSet().nScans, static_cast<int>(files.size()));
    EXPECT_TRUE(DataSet().bEquilibriumMode);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace tarmic::testing
