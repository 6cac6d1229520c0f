// Tests of the preference files: what a start reads, what is written, the single-line
// update of the "SET PREFERENCE" commands and the last data directory.
#include "app/preferences.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "services/path_table.h"
#include "services/sounds.h"
#include "numerics/value_ranges.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "scandata/radial_grid.h"
#include "scandata/time_stamps.h"
#include "tests/app/shell_test_support.h"
#include "tests/watchdog.h"

namespace tarmic {
namespace {

using shell_test::AcceptedDefaults;
using shell_test::ReadFile;
using shell_test::ReadLines;
using shell_test::ScratchDir;
using shell_test::WriteFile;
using shell_test::WritePreferenceFile;

class Preferences : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_test::ResetShellState();
    SetupPathTable(dir_.path(), "");
  }
  void TearDown() override { shell_test::ResetShellState(); }

  ScopedHeadlessBackend backend_;
  ScratchDir dir_{"prefs"};
};

TEST_F(Preferences, MissingFileKeepsTheStartValuesWithoutAMessage) {
  EXPECT_EQ(LoadPreferences(nullptr), 0);
  EXPECT_FALSE(bDisclaimerAccepted);
  EXPECT_EQ(nThreads, 2);
  EXPECT_DOUBLE_EQ(TimeStamps().dTimeStampThreshold, 1.001);
  EXPECT_TRUE(backend_->Transcript().empty());
  EXPECT_FALSE(std::filesystem::exists(szParamsIni));
}

TEST_F(Preferences, WrittenSettingsReadBackUnchanged) {
  bDisclaimerAccepted = true;
  RadialGrid().fRadialStep = 0.0025f;
  DataPlots().bUpdateResidualBitmapDuringFit = true;
  DataPlots().bUpdateDistributionDuringFit = true;
  bPlaySounds = true;
  DataPlots().bColorScansByTime = false;
  bWizardMessages = false;
  bRegMaxEnt = false;
  bRegShowBoth = true;
  nThreads = 6;
  bFitSimplex = false;
  bFitMarquardt = true;
  bSuppressBaselineCorrelation = false;
  LammThreadCount() = 3;
  DataPlots().fMaxUpdateInterval = 2.5f;
  bAlwaysLoadG2 = true;
  TimeStamps().dTimeStampThreshold = 1.00437;
  ASSERT_EQ(WritePreferences(nullptr), 1);
  EXPECT_EQ(ReadLines(szParamsIni).size(), 19u);

  shell_test::ResetShellState();
  SetupPathTable(dir_.path(), "");
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_TRUE(bDisclaimerAccepted);
  EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, 0.0025f);
  EXPECT_TRUE(DataPlots().bUpdateResidualBitmapDuringFit);
  EXPECT_FALSE(DataPlots().bUpdateResidualPlotDuringFit);
  EXPECT_TRUE(DataPlots().bUpdateDistributionDuringFit);
  EXPECT_TRUE(bPlaySounds);
  EXPECT_FALSE(DataPlots().bColorScansByTime);
  EXPECT_FALSE(bWizardMessages);
  EXPECT_TRUE(bRegShowBoth);
  EXPECT_FALSE(bRegMaxEnt);
  EXPECT_TRUE(bMultiThreading);
  EXPECT_EQ(nThreads, 6);
  EXPECT_TRUE(bFitMarquardt);
  EXPECT_FALSE(bFitSimplex);
  EXPECT_FALSE(bSuppressBaselineCorrelation);
  EXPECT_EQ(LammThreadCount(), 3);
  EXPECT_FLOAT_EQ(DataPlots().fMaxUpdateInterval, 2.5f);
  EXPECT_TRUE(bAlwaysLoadG2);
  EXPECT_TRUE(TimeStamps().bCheckTimeStamps);
  EXPECT_DOUBLE_EQ(TimeStamps().dTimeStampThreshold, 1.00437);
}

TEST_F(Preferences, TimeStampCheckAndThresholdSurviveSaveAndLoad) {
  ASSERT_EQ(WritePreferences(nullptr), 1);
  const auto lines = ReadLines(szParamsIni);
  EXPECT_EQ(lines[kPrefCheckTimeStamps], "1");
  EXPECT_EQ(lines[kPrefTimeStampThreshold], "100");
  // Saved threshold and check; what a load gives back. A threshold below the file's
  // resolution keeps the check on; a check off stays off whatever the threshold.
  struct Case { double threshold; bool check; double loaded; };
  for (const Case& c : {Case{1.001, true, 1.001}, Case{1.000001, true, 1.0}, Case{1.001, false, 1.001}}) {
    TimeStamps().dTimeStampThreshold = c.threshold;
    TimeStamps().bCheckTimeStamps = c.check;
    ASSERT_EQ(WritePreferences(nullptr), 1);
    TimeStamps().dTimeStampThreshold = 5.0;
    TimeStamps().bCheckTimeStamps = !c.check;
    ASSERT_EQ(LoadPreferences(nullptr), 1);
    EXPECT_EQ(TimeStamps().bCheckTimeStamps, c.check) << c.threshold;
    EXPECT_EQ(TimeStamps().dTimeStampThreshold, c.loaded) << c.threshold;
  }
}

TEST_F(Preferences, OldFilesWithTheSignedCheckLineStillRead) {
  auto lines = AcceptedDefaults();
  lines[kPrefCheckTimeStamps] = "-100";
  lines[kPrefTimeStampThreshold] = "99";
  WritePreferenceFile(szParamsIni, lines);
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_FALSE(TimeStamps().bCheckTimeStamps);
  EXPECT_DOUBLE_EQ(TimeStamps().dTimeStampThreshold, 1.00099);
}

// Every line the writer stores as a switch (Switch(...) in the writer's list, in
// the order of the lines) has a flag row, but the check of time stamps, which older
// files wrote signed (above). A switch holds 0 or 1 by its text: "2", "0.5" and
// "1e-30" take the line's default with a note naming the file, the line and the
// text; 0 and 1 are read without a word and written back as they were.
TEST_F(Preferences, EverySwitchLineHoldsZeroOrOne) {
  const std::string code = ReadFile(std::string(TARMIC_SOURCE_DIR) + "/app/preferences.cpp");
  const std::size_t from = code.find("std::vector<std::string> PreferenceLines() {");
  ASSERT_NE(from, std::string::npos);
  const std::string writer = code.substr(from, code.find("\n}\n", from) - from);
  std::set<int> written, flags;
  int line = 0;
  for (std::size_t at = writer.find("text +="); at != std::string::npos; at = writer.find("text +=", at + 1), ++line)
    if (writer.compare(writer.find_first_not_of(' ', at + 7), 7, "Switch(") == 0 && line != kPrefCheckTimeStamps)
      written.insert(line);
  EXPECT_EQ(line, kPreferenceLines) << "the writer's lines were counted";
  for (const FileEntry& row : PreferenceEntries())
    if (row.flag) flags.insert(row.index);
  EXPECT_EQ(written, flags);
  ASSERT_GE(flags.size(), 11u);

  backend_->AnswerUnscriptedBoxes(IDOK);
  for (const int index : flags) {
    for (const char* text : {"2", "0.5", "1e-30", "0", "1"}) {
      SCOPED_TRACE("line " + std::to_string(index + 1) + " = " + text);
      auto lines = AcceptedDefaults();
      lines[static_cast<std::size_t>(index)] = text;
      WritePreferenceFile(szParamsIni, lines);
      ResetPreferences();
      backend_->ClearTranscript();
      ASSERT_EQ(LoadPreferences(nullptr), 1);
      std::string notes;
      for (const TranscriptEntry& e : backend_->Transcript())
        if (e.caption == "PREFERENCES") notes += e.text;
      // Written anew from the settings read.
      std::filesystem::remove(szParamsIni);
      ASSERT_EQ(WritePreferences(nullptr), 1);
      const std::string back = ReadLines(szParamsIni)[static_cast<std::size_t>(index)];
      if (std::string(text) == "0" || std::string(text) == "1") {
        EXPECT_EQ(notes, "");
        EXPECT_EQ(back, text);
      } else {
        EXPECT_EQ(notes, szParamsIni + ", line " + std::to_string(index + 1) + " holds \"" + text +
                             "\", which is neither 0 nor 1; the default is used");
        EXPECT_TRUE(back == "0" || back == "1") << back;
      }
    }
  }
}

TEST_F(Preferences, ThresholdEncodingRoundsToTheFileResolution) {
  EXPECT_EQ(EncodeTimeStampThreshold(static_cast<float>(1.002)), 200);
  for (int units : {1, 7, 99, 100, 250, 12345}) {
    EXPECT_EQ(EncodeTimeStampThreshold(DecodeTimeStampThreshold(units)), units) << units;
  }
}

TEST_F(Preferences, FifteenLineFileTakesTheDefaultsOfTheRestAndIsRewritten) {
  auto lines = AcceptedDefaults();
  lines[kPrefSounds] = "1";
  lines[kPrefLammThreads] = "5";
  lines.resize(15);
  WritePreferenceFile(szParamsIni, lines);
  TimeStamps().dTimeStampThreshold = 1.003;
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_TRUE(bPlaySounds);
  EXPECT_EQ(LammThreadCount(), 5);
  EXPECT_FLOAT_EQ(DataPlots().fMaxUpdateInterval, 1.0f);
  EXPECT_FALSE(bAlwaysLoadG2);
  EXPECT_TRUE(TimeStamps().bCheckTimeStamps);
  EXPECT_DOUBLE_EQ(TimeStamps().dTimeStampThreshold, 1.003);
  const auto written = ReadLines(szParamsIni);
  ASSERT_EQ(written.size(), 19u);
  EXPECT_EQ(written[kPrefTimeStampThreshold], "300");
  EXPECT_TRUE(backend_->Transcript().empty());
}

TEST_F(Preferences, MissingRefreshLinesAreAskedFor) {
  WritePreferenceFile(szParamsIni, {"1", "0.002"});
  backend_->QueueMessageBox(IDYES, "SET PREFERENCE");
  backend_->QueueMessageBox(IDNO, "SET PREFERENCE");
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  const auto& t = backend_->Transcript();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].text, "update residuals bitmap during fit?");
  EXPECT_EQ(t[1].text, "update residuals plot during fit?");
  EXPECT_TRUE(DataPlots().bUpdateResidualBitmapDuringFit);
  EXPECT_FALSE(DataPlots().bUpdateResidualPlotDuringFit);
  EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, 0.002f);
  EXPECT_EQ(ReadLines(szParamsIni).size(), 19u);
}

TEST_F(Preferences, ThreadCountsAreAtLeastOne) {
  // Counts outside 0 to 256, and fractions (no count), take the default (2) after a note.
  backend_->AnswerUnscriptedBoxes(IDOK);
  struct Case { const char* threads; const char* lamm; bool multi; int n; int lammMax; };
  for (const Case& c : {Case{"0.5", "0.25", true, 2, 2}, Case{"0", "-3", false, 1, 2},
                        Case{"4", "1e30", true, 4, 256}}) {
    auto lines = AcceptedDefaults();
    lines[kPrefThreads] = c.threads;
    lines[kPrefLammThreads] = c.lamm;
    WritePreferenceFile(szParamsIni, lines);
    ASSERT_EQ(LoadPreferences(nullptr), 1);
    EXPECT_EQ(bMultiThreading, c.multi) << c.threads;
    EXPECT_EQ(nThreads, c.n) << c.threads;
    EXPECT_GE(LammThreadCount(), 1) << c.lamm;
    EXPECT_LE(LammThreadCount(), c.lammMax) << c.lamm;
  }
}

TEST_F(Preferences, AChangedFitAlgorithmRewritesTheFile) {
  auto lines = AcceptedDefaults();
  lines[kPrefFitAlgorithm] = "2";
  lines[kPrefRadialStep] = "0.001";  // another spelling, so that a rewrite shows
  WritePreferenceFile(szParamsIni, lines);
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_TRUE(bFitAnnealing);
  EXPECT_FALSE(bFitSimplex);
  EXPECT_FALSE(bFitMarquardt);
  EXPECT_EQ(ReadLines(szParamsIni)[kPrefRadialStep], "0.001");
}

TEST_F(Preferences, UnknownRegularisationOrAlgorithmValuesChangeNothing) {
  backend_->AnswerUnscriptedBoxes(IDOK);
  auto lines = AcceptedDefaults();
  lines[kPrefRegularisation] = "7";
  lines[kPrefFitAlgorithm] = "0";
  WritePreferenceFile(szParamsIni, lines);
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_TRUE(bRegMaxEnt);
  EXPECT_FALSE(bRegSecondDerivative);
  EXPECT_TRUE(bFitSimplex);
}

TEST_F(Preferences, SavePreferenceReplacesOneLineAndKeepsTheOthers) {
  WritePreferenceFile(szParamsIni, AcceptedDefaults());
  ASSERT_EQ(SavePreference(nullptr, kPrefSounds, 0), 1);
  ASSERT_EQ(SavePreference(nullptr, kPrefAlwaysLoadG2, 1), 1);
  auto expected = AcceptedDefaults();
  expected[kPrefAlwaysLoadG2] = "1";
  EXPECT_EQ(ReadLines(szParamsIni), expected);
}

TEST_F(Preferences, SavePreferenceNeverAppendsALine) {
  auto lines = AcceptedDefaults();
  lines.resize(15);
  WritePreferenceFile(szParamsIni, lines);
  const std::string before = ReadFile(szParamsIni);
  EXPECT_EQ(SavePreference(nullptr, kPrefTimeStampThreshold, 300), 0);
  EXPECT_EQ(ReadFile(szParamsIni), before);
  EXPECT_EQ(SavePreference(nullptr, kPrefLammThreads, 3), 1);
}

// Every line of the file tried with 0, -1, nan, +-1e30 and the ends of its range
// (generated from the table): a value its row refuses is named in one note with
// the file and line, and the line takes its default; a value its row takes is read
// without a word.
TEST_F(Preferences, EveryLineOutsideItsRangeIsNamedAndTakesItsDefault) {
  backend_->AnswerUnscriptedBoxes(IDOK);
  for (const FileEntry& row : PreferenceEntries()) {
    std::vector<double> values = {0.0, -1.0, NAN, 1e30, -1e30};
    if (row.rule == EntryRule::kRange) values.insert(values.end(), {row.quantity.range.low, row.quantity.range.high});
    for (const double x : values) {
      SCOPED_TRACE("line " + std::to_string(row.index + 1) + " = " + std::to_string(x));
      auto lines = AcceptedDefaults();
      char text[64];
      std::snprintf(text, sizeof text, "%.9g", x);
      lines[static_cast<std::size_t>(row.index)] = text;
      WritePreferenceFile(szParamsIni, lines);
      ResetPreferences();
      backend_->ClearTranscript();
      // A line that is no number ends the numbers: the lines after it are missing.
      if (std::isnan(x)) continue;
      ASSERT_EQ(LoadPreferences(nullptr), 1);
      std::string notes;
      for (const TranscriptEntry& e : backend_->Transcript())
        if (e.caption == "PREFERENCES") notes += e.text;
      const bool refused = !EntryRefusal(row, x).empty();
      // A switch is judged by its text, which the note quotes.
      const std::string named = szParamsIni + ", line " + std::to_string(row.index + 1) + (row.flag ? " holds \"" : ": ");
      EXPECT_EQ(notes.find(named) != std::string::npos, refused)
          << notes;
      EXPECT_GE(nThreads, 1);
      EXPECT_LE(nThreads, 256);
      EXPECT_GE(LammThreadCount(), 1);
      EXPECT_LE(LammThreadCount(), 256);
      EXPECT_GE(RadialGrid().fRadialStep, kFinestRadialStep);
      EXPECT_LE(RadialGrid().fRadialStep, kCoarsestRadialStep);
      EXPECT_TRUE(std::isfinite(TimeStamps().dTimeStampThreshold) && std::isfinite(DataPlots().fMaxUpdateInterval));
    }
  }
}

// Only the lines of the set and values their rows take are stored: an index beyond
// the 19 lines (a settings file fuzzed with indices up to 23 wrote outside the
// list of known lines) or a value outside the line's range leaves the file alone.
TEST_F(Preferences, SavePreferenceRefusesLinesOutsideTheSetAndValuesOutsideTheirRange) {
  WritePreferenceFile(szParamsIni, AcceptedDefaults());
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  auto longer = AcceptedDefaults();
  for (int i = 0; i < 5; ++i) longer.push_back("7");  // more numbers than the set has lines
  WritePreferenceFile(szParamsIni, longer);
  const std::string before = ReadFile(szParamsIni);
  for (int line : {-1, int{kPreferenceLines}, kPreferenceLines + 1, 23}) {
    EXPECT_EQ(SavePreference(nullptr, line, 1), 0) << line;
    EXPECT_EQ(ReadFile(szParamsIni), before) << line;
  }
  EXPECT_EQ(SavePreference(nullptr, kPrefThreads, 1000), 0);
  EXPECT_EQ(SavePreference(nullptr, kPrefFitAlgorithm, 4), 0);
  EXPECT_EQ(ReadFile(szParamsIni), before);
  EXPECT_EQ(SavePreference(nullptr, kPrefThreads, 256), 1);
  EXPECT_EQ(ReadLines(szParamsIni)[kPrefThreads], "256");
  EXPECT_TRUE(backend_->Transcript().empty());
}

TEST_F(Preferences, AFailedWriteIsReportedOnceAndReturnsZero) {
  // /proc/loadavg reads as numbers but cannot be written, not even by root.
  szParamsIni = "/proc/loadavg";
  backend_->QueueMessageBox(IDOK, "ERROR");
  EXPECT_EQ(SavePreference(nullptr, 0, 1), 0);
  EXPECT_EQ(SavePreference(nullptr, 0, 1), 0);
  EXPECT_EQ(WritePreferences(nullptr), 0);
  ASSERT_EQ(backend_->Transcript().size(), 1u);
  // The system's reason follows, so that a full disk is not taken for a missing
  // directory.
  EXPECT_EQ(backend_->Transcript()[0].text,
            "could not write to disk into directory /proc/loadavg \n"
            "Please generate directory or make write-accessible\n"
            "/proc/loadavg: No such file or directory");
}

// Two programs share the file: a whole-file write of one replaces only the lines
// whose settings it changed, so that what the other saved meanwhile stays.
TEST_F(Preferences, AWholeFileWriteKeepsWhatAnotherProgramSavedMeanwhile) {
  WritePreferenceFile(szParamsIni, AcceptedDefaults());
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  // The other program switches sounds on and stores 4 threads.
  auto other = AcceptedDefaults();
  other[6] = "1";
  other[11] = "4";
  WritePreferenceFile(szParamsIni, other);
  // This one changes the radial step and saves all its settings as defaults.
  RadialGrid().fRadialStep = 0.002f;
  ASSERT_EQ(WritePreferences(nullptr), 1);
  ResetPreferences();
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, 0.002f);
  EXPECT_TRUE(bPlaySounds);
  EXPECT_EQ(nThreads, 4);
  // A file it has not read is written whole.
  ResetPreferences();
  std::filesystem::remove(szParamsIni);
  bPlaySounds = false;
  ASSERT_EQ(WritePreferences(nullptr), 1);
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_FALSE(bPlaySounds);
}

// A radial step no load can work with is replaced by the default at start, with
// one note; the ends of the allowed range are kept.
TEST_F(Preferences, RadialStepOutsideItsRangeFallsBackWithANote) {
  struct Case {
    const char* line;
    float step;  // after the start
    bool note;
  } cases[] = {{"1e30", 0.001f, true},  {"0", 0.001f, true},     {"-0.01", 0.001f, true},
               {"0.0005", 0.001f, true}, {"0.2", 0.001f, true},  {"0.0010", 0.001f, false},
               {"0.1", 0.1f, false},     {"0.0050", 0.005f, false}};
  for (const Case& c : cases) {
    auto lines = AcceptedDefaults();
    lines[kPrefRadialStep] = c.line;
    WritePreferenceFile(szParamsIni, lines);
    backend_->ClearTranscript();
    RadialGrid().fRadialStep = 0.5f;
    if (c.note) backend_->QueueMessageBox(IDOK, "PREFERENCES");
    EXPECT_EQ(LoadPreferences(nullptr), 1) << c.line;
    EXPECT_FLOAT_EQ(RadialGrid().fRadialStep, c.step) << c.line;
    EXPECT_TRUE(backend_->AllAnswersUsed()) << c.line;
    ASSERT_EQ(backend_->Transcript().size(), c.note ? 1u : 0u) << c.line;
    if (c.note) {
      EXPECT_EQ(backend_->Transcript()[0].text.find('\n'), std::string::npos) << "one line";
      EXPECT_NE(backend_->Transcript()[0].text.find("between 0.001 and 0.1 cm"), std::string::npos);
    }
    EXPECT_EQ(ReadLines(szParamsIni), lines) << "the file is left as it is";
  }
}

// A pipe in place of a settings file would keep the start waiting for a writer: it
// is not opened, it is named once, and the next save puts a settings file there.
TEST_F(Preferences, PipeInPlaceOfASettingsFileIsNamedOnceAndNotRead) {
  ASSERT_EQ(::mkfifo(szParamsIni.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(szLastDirIni.c_str(), 0600), 0);
  backend_->QueueMessageBox(IDOK, "PREFERENCES");
  backend_->QueueMessageBox(IDOK, "PREFERENCES");
  std::string directory = "/start/";
  {
    testing::Watchdog watchdog("reading settings files that are pipes");
    EXPECT_EQ(LoadPreferences(nullptr), 0);
    EXPECT_EQ(LoadPreferences(nullptr), 0);
    ReadLastDataDirectory(nullptr, directory);
    ReadLastDataDirectory(nullptr, directory);
  }
  EXPECT_EQ(directory, "/start/");
  EXPECT_FALSE(bDisclaimerAccepted);
  EXPECT_TRUE(backend_->AllAnswersUsed());
  ASSERT_EQ(backend_->Transcript().size(), 2u);
  EXPECT_EQ(backend_->Transcript()[0].text, "the settings file " + szParamsIni +
                                                " is not read: it is not a regular file (a pipe, a "
                                                "device or a folder)");
  EXPECT_NE(backend_->Transcript()[1].text.find(szLastDirIni), std::string::npos);

  bDisclaimerAccepted = true;
  {
    testing::Watchdog watchdog("saving over a settings pipe");
    ASSERT_EQ(WritePreferences(nullptr), 1);
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(szParamsIni));
  bDisclaimerAccepted = false;
  EXPECT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_TRUE(bDisclaimerAccepted);
}

TEST_F(Preferences, LastDataDirectoryOfAFileIsItsDirectoryAndOfADirectoryItself) {
  const std::string data = dir_.path() + "run1/";
  std::filesystem::create_directories(data);
  SaveLastDataDirectory(nullptr, data + "scan.ra1");
  std::string read = "unchanged";
  ReadLastDataDirectory(nullptr, read);
  EXPECT_EQ(read, data);
  SaveLastDataDirectory(nullptr, dir_.path() + "run1");  // without the slash
  ReadLastDataDirectory(nullptr, read);
  EXPECT_EQ(read, data);
}

TEST_F(Preferences, LongDataDirectoriesAreKeptWhole) {
  std::string data = dir_.path();
  for (int i = 0; i < 8; ++i) data += "a_rather_long_directory_name_" + std::to_string(i) + "/";
  ASSERT_GT(data.size(), 260u);
  std::filesystem::create_directories(data);
  SaveLastDataDirectory(nullptr, data + "scan.ra1");
  std::string read;
  ReadLastDataDirectory(nullptr, read);
  EXPECT_EQ(read, data);
}

TEST_F(Preferences, UnreadableLastDirectoryFileLeavesTheDirectoryAlone) {
  std::string read = "/start/";
  ReadLastDataDirectory(nullptr, read);
  EXPECT_EQ(read, "/start/");
  WriteFile(szLastDirIni, "");
  ReadLastDataDirectory(nullptr, read);
  EXPECT_EQ(read, "/start/");
}

TEST_F(Preferences, BoundLammThreadCountIsTheOneReadAndWritten) {
  int solverThreads = 7;
  BindLammThreadCount(&solverThreads);
  EXPECT_EQ(solverThreads, 2);  // the preference's value is handed over
  auto lines = AcceptedDefaults();
  lines[kPrefLammThreads] = "3";
  WritePreferenceFile(szParamsIni, lines);
  ASSERT_EQ(LoadPreferences(nullptr), 1);
  EXPECT_EQ(solverThreads, 3);
  BindLammThreadCount(nullptr);
  EXPECT_EQ(LammThreadCount(), 3);
}

}  // namespace
}  // namespace tarmic
