// The files users edit by hand: the parameter file, the Lamm settings file
// "tarmiclammparams.ini", the preference file "tarmicparams.ini" and the experiment
// file. A line is one number as a whole or none, a bad line costs that line (or
// refuses the parameter file) and nothing else, the solver settings a file of an
// earlier version holds are brought into today's range, a cell no rotor holds is
// refused, and a file that is no text is said to be none.
#include "distribution_window_test_support.h"

#include <string>
#include <tuple>
#include <vector>

#include "distributions/distribution_transforms.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fluorescence_detection.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/solvent_settings.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "scandata/experiment_file.h"

namespace tarmic::testing {
namespace {

class HandEditedFilesTest : public DistributionWindowTest {
 protected:
  // The synthetic run with a saved analysis of one discrete species; its lines.
  std::vector<std::string> SavedAnalysis() {
    LoadSyntheticRun();
    Dispatch(kCmDiscreteSpecies);
    ModelParams().pSpeciesS[1] = static_cast<float>(kSyntheticS);
    ModelParams().pSpeciesMassOrD[1] = 6.0f;
    PackModelParams();
    Dispatch(kCmUpdateSavedFitParameters);
    Backend().ClearTranscript();
    return Lines(ReadFile(DataSet().szTmpParsPath));
  }

  // The synthetic run's c(s) computed and shown, its parameter file saved; its lines.
  void SavedDistribution(std::vector<std::string>& lines) {
    LoadSyntheticRun();
    ChooseSmallCs();
    Dispatch(kCmRun);
    ASSERT_TRUE(DistributionPlot().pDistPlot != nullptr);
    Dispatch(kCmUpdateSavedFitParameters);
    lines = Lines(ReadFile(DataSet().szTmpParsPath));
  }

  // The box of a parameter file refused for `why`.
  static std::string Refused(const std::string& why) {
    return "the parameter file " + DataSet().szTmpParsPath + " cannot be used: " + why;
  }

  static void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    WriteFile(path, text);
  }

  // The parameter file with one line (from 1) replaced, reloaded; its boxes.
  std::pair<int, std::vector<std::string>> ReloadWith(std::vector<std::string> lines, int line,
                                                      const std::string& text) {
    lines[Idx(line - 1)] = text;
    WriteLines(DataSet().szTmpParsPath, lines);
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    const int result = ReloadParameters(&Handle(), DataSet().szTmpParsPath, AskingPolicy());
    return {result, BoxTexts()};
  }

  // The Lamm settings of today with one line (from 1) replaced, read; its boxes.
  std::vector<std::string> ReadLammSettingsWith(int line, const std::string& text) {
    std::vector<std::string> lines;
    for (const float v : LammSettingsVector()) lines.push_back(std::to_string(v));
    lines[Idx(line - 1)] = text;
    WriteLines(szLammParamsIni, lines);
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    EXPECT_EQ(ReadLammEqParameterPreferences(&Handle()), 1);
    return BoxTexts();
  }

  // The Lamm settings file with line 5 (the default grid size) holding `text`: the
  // note names that line alone ("line 5" + why), the setting keeps its value and
  // the lines after it keep theirs (points per sigma, line 6; max dc/c, line 17).
  void ExpectLammLine5Kept(const std::string& text, const std::string& why) {
    ResetLammSettings();
    SetMaxDcOverC(0.5);
    LammSettings().nDefaultGridPoints = 321;
    const float pointsPerSigma = LammSettingsVector()[Idx(5)];
    const std::vector<std::string> boxes = ReadLammSettingsWith(5, text);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(szLammParamsIni), std::string::npos);
    EXPECT_NE(boxes[0].find("\nline 5" + why), std::string::npos) << boxes[0];
    EXPECT_EQ(boxes[0].find("line 6"), std::string::npos) << boxes[0];
    EXPECT_EQ(LammSettings().nDefaultGridPoints, 321);
    EXPECT_EQ(LammSettingsVector()[Idx(5)], pointsPerSigma);
    EXPECT_EQ(LammSettings().dMaxDcOverC, 0.5);
  }

  // A preference file with 7 threads (line 12) and 5 Lamm threads (line 15), one
  // line (from 1) replaced, read; its boxes (questions among them).
  std::vector<std::string> LoadPreferencesWith(int line, const std::string& text) {
    std::vector<std::string> lines = {"1", "0.0010", "0", "0", "0", "0", "0", "1", "1", "1",
                                      "0", "7", "1", "1", "5", "1.0", "0", "1", "100"};
    lines[Idx(line - 1)] = text;
    WriteLines(szParamsIni, lines);
    nThreads = 2;
    LammThreadCount() = 2;
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    EXPECT_EQ(LoadPreferences(&Win()), 1);
    return BoxTexts();
  }
};

// "40000rpm", a decimal comma, a cut exponent, a Fortran exponent, two numbers,
// hexadecimal, nan, inf and a word are no numbers in any of the three files: the
// parameter file is refused with the line, the Lamm settings file keeps that one
// setting, the preference file gives that one line its default; every other line
// is read, no question is asked and the preference file is not rewritten.
TEST_F(HandEditedFilesTest, ANumberWithATailIsNoNumberInAnyFile) {
  const std::vector<std::string> saved = SavedAnalysis();
  for (const char* text : {"40000rpm", "1,5", "1e", "1d3", "1 2", "0x10", "nan", "inf", "abc"}) {
    SCOPED_TRACE(text);
    // Parameter file, line 44: the default grid size (1000).
    LammSettings().nDefaultGridPoints = 321;
    const auto [result, boxes] = ReloadWith(saved, 44, text);
    EXPECT_EQ(result, 0);
    const std::string why = std::string(" holds \"") + text + "\", which is not a number";
    EXPECT_EQ(boxes, std::vector<std::string>{Refused("line 44" + why)});
    EXPECT_EQ(LammSettings().nDefaultGridPoints, 321);

    // Lamm settings file, line 5: the default grid size; the lines after it are read.
    ExpectLammLine5Kept(text, why);

    // Preference file, line 10: the regularisation; the threads after it stay 7 and 5.
    const std::string before = [&] {
      LoadPreferencesWith(10, "1");
      return ReadFile(szParamsIni);
    }();
    const std::vector<std::string> prefBoxes = LoadPreferencesWith(10, text);
    EXPECT_EQ(prefBoxes, std::vector<std::string>{szParamsIni + ", line 10" + why + "; the default is used"});
    EXPECT_EQ(nThreads, 7);
    EXPECT_EQ(LammThreadCount(), 5);
    EXPECT_TRUE(bRegMaxEnt);
    std::string expected = before;
    expected.replace(expected.find("\n1\n0\n7\n"), 7, std::string("\n") + text + "\n0\n7\n");
    EXPECT_EQ(ReadFile(szParamsIni), expected) << "the file is left as it is";
  }
}

// A blank line of the Lamm settings or the preference file holds no number at its
// own place: that one setting keeps its value or takes its default, and the note
// names the line; the lines after it keep theirs (they moved up one line before:
// Lamm line 5 blank gave grid size 5, preference line 12 blank gave 1 thread and
// 1 Lamm thread without a word).
TEST_F(HandEditedFilesTest, ABlankLineHoldsNoNumberAtItsOwnPlace) {
  LoadSyntheticRun();
  for (const char* blank : {"", "   \t"}) {
    SCOPED_TRACE(::testing::Message() << "blank \"" << blank << "\"");
    ExpectLammLine5Kept(blank, " holds no number");
    const std::vector<std::string> prefBoxes = LoadPreferencesWith(12, blank);
    EXPECT_EQ(prefBoxes, std::vector<std::string>{szParamsIni + ", line 12 holds no number; the default is used"});
    EXPECT_EQ(nThreads, 2) << "the default thread count";
    EXPECT_EQ(LammThreadCount(), 5);
  }
}

// A parameter file loaded over a distribution on show: what the load did to the
// file's own values (settings brought into range, the lines a short file lacks)
// is said first, the note that the distribution may need to be recalculated last.
// A file whose last line has no line end may have been cut inside it ("100" as
// "1"): it is refused, naming the line, and nothing of it is taken.
TEST_F(HandEditedFilesTest, ALoadSaysWhatItDidToTheFileBeforeTheRecalculateNote) {
  std::vector<std::string> good;
  ASSERT_NO_FATAL_FAILURE(SavedDistribution(good));
  ASSERT_EQ(good.size(), static_cast<std::size_t>(kSavedParamCount));
  const std::string recalculate = "may need to recalculate before integrating distribution data";
  auto drop = [&](const std::vector<std::string>& lines, const std::string& tail = "\n") {
    std::string text;
    for (std::size_t k = 0; k < lines.size(); ++k) text += lines[k] + (k + 1 < lines.size() ? "\n" : tail);
    WriteFile(DataSet().szTmpParsPath, text);
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    Backend().QueueMessageBox(IDYES);
    Drop({DataSet().szTmpParsPath});
    return BoxTexts();
  };
  std::vector<std::string> lines = good;
  lines[Idx(92)] = "1000000";  // points per sigma, line 93
  EXPECT_EQ(drop(lines), (std::vector<std::string>{
                             "switch to parameter file ~tmppars.ra1?",
                             "the parameter file " + DataSet().szTmpParsPath +
                                 " holds numerical settings outside their range; the nearest valid values are used:"
                                 "\nline 93 holds \"1000000\": the points per sigma 1e+06 must lie between 0.01 and "
                                 "1000; 1000 is used",
                             recalculate}));
  lines = std::vector<std::string>(good.begin(), good.end() - 10);
  EXPECT_EQ(drop(lines), (std::vector<std::string>{
                             "switch to parameter file ~tmppars.ra1?",
                             "the parameter file " + DataSet().szTmpParsPath +
                                 " ends after line 164 of 174: lines 165 to 174 are missing (switches take their "
                                 "defaults, values stay as they were)",
                             recalculate}));
  lines = std::vector<std::string>(good.begin(), good.end() - 1);
  EXPECT_EQ(drop(lines)[1], "the parameter file " + DataSet().szTmpParsPath +
                                " ends after line 173 of 174: line 174 is missing (switches take their "
                                "defaults, values stay as they were)");
  EXPECT_EQ(drop(good, ""), (std::vector<std::string>{"switch to parameter file ~tmppars.ra1?",
                                                      Refused("it ends inside line 174 (\"" + good.back() +
                                                              "\"), which has no line end: the file may have been cut")}));
}

// A file of an earlier version: max dc/c 0.005, points per sigma 0.005 and fit
// tolerance 1e-6 are set to the nearest valid value (0.01, 0.01, 1e-5) with a note
// naming the line, and the rest of the file loads; a value of the solvent stays
// refused. The Lamm settings file alike.
TEST_F(HandEditedFilesTest, SolverSettingsOfAnEarlierVersionAreBroughtIntoRange) {
  const std::vector<std::string> saved = SavedAnalysis();
  struct Case {
    int parameterLine, lammLine;
    const char* text;
    const char* name;
    int lammIndex;
    double nearest;
  } cases[] = {
      {63, 17, "0.005", "max dc/c 0.005 must lie between 0.01 and 10; 0.01 is used", 16, 0.01},
      {93, 6, "0.005", "points per sigma 0.005 must lie between 0.01 and 1000; 0.01 is used", 5, 0.01},
      {66, 16, "0.000001", "fit tolerance 1e-06 must lie between 1e-05 and 1; 1e-05 is used", 15, 1e-5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLammSettings();
    DataSet().fMeniscus = 5.9f;
    const auto [result, boxes] = ReloadWith(saved, c.parameterLine, c.text);
    ASSERT_EQ(result, 1);
    EXPECT_FLOAT_EQ(DataSet().fMeniscus, static_cast<float>(kCellMeniscus)) << "the rest of the file loads";
    EXPECT_FLOAT_EQ(LammSettingsVector()[Idx(c.lammIndex)], static_cast<float>(c.nearest));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "the parameter file " + DataSet().szTmpParsPath +
                            " holds numerical settings outside their range; the nearest valid values are used:\n"
                            "line " + std::to_string(c.parameterLine) + " holds \"" + c.text + "\": the " + c.name);

    ResetLammSettings();
    const std::vector<std::string> lammBoxes = ReadLammSettingsWith(c.lammLine, c.text);
    EXPECT_FLOAT_EQ(LammSettingsVector()[Idx(c.lammIndex)], static_cast<float>(c.nearest));
    ASSERT_EQ(lammBoxes.size(), 1u);
    EXPECT_EQ(lammBoxes[0], "the Lamm equation settings file " + szLammParamsIni +
                                " holds numerical settings outside their range; the nearest valid values are "
                                "used:\nline " + std::to_string(c.lammLine) + " holds \"" + c.text + "\": the " + c.name);
  }
  // The buffer density describes the solvent: refused as before.
  const auto [result, boxes] = ReloadWith(saved, 54, "0.005");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(boxes, std::vector<std::string>{Refused("line 54 holds \"0.005\": the buffer density 0.005 g/ml must lie "
                                                    "between 0.01 and 5 g/ml")});
}

// A cell no rotor holds: a parameter file with the bottom (line 41) at 0 moved the
// right fitting limit to -0.01 cm; an experiment file with the meniscus (7.1)
// above the bottom (6.1) loaded without a word. Both are refused with the lines.
TEST_F(HandEditedFilesTest, ACellWithoutRoomIsRefusedWithItsLines) {
  const std::vector<std::string> saved = SavedAnalysis();
  const auto [result, boxes] = ReloadWith(saved, 41, "0.000000");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(boxes, std::vector<std::string>{Refused("lines 40 and 41 hold \"" + saved[Idx(39)] +
                                                    "\" and \"0.000000\": the meniscus 6 cm must lie below the bottom 0 cm")});
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, kRightLimit);
  EXPECT_FLOAT_EQ(DataSet().fBottom, static_cast<float>(kCellBottom));

  ExperimentFile xp;
  xp.files = {"a.ra1"};
  xp.directory = ProgramDir();
  xp.meniscus = 7.1f;
  xp.bottom = 6.1f;
  const std::string path = ProgramDir() + "/cell.xp";
  // The program writes no such file; one written by hand is refused on loading.
  std::string why;
  EXPECT_FALSE(WriteXpFile(path, xp, &why));
  EXPECT_FALSE(std::filesystem::exists(path));
  WriteFile(path, FormatXpFile(xp));
  EXPECT_FALSE(LoadXpFile(path, &xp, &why));
  EXPECT_EQ(why, path + ": lines 7 and 8 hold the meniscus 7.1 cm, which must lie below the bottom 6.1 cm");
  // Two numbers where one belongs are no number either.
  xp.meniscus = 5.9f;
  xp.bottom = 7.2f;
  ASSERT_TRUE(WriteXpFile(path, xp));
  std::string text = ReadFile(path);
  text.replace(text.find("5.9 (Meniscus)"), 14, "5.9 7 (Meniscus)");
  WriteFile(path, text);
  EXPECT_FALSE(LoadXpFile(path, &xp, &why));
  EXPECT_EQ(why, path + ": line 7 holds \"5.9 7\" for the meniscus, which is not a number");
}

// Every key of a written experiment file given twice (the copy after every later
// line, and right after the first) refuses the file naming both lines: neither
// value is taken. The type line's name is the type's own: each type with each
// name is read only when they agree.
TEST_F(HandEditedFilesTest, AnExperimentFileWithAKeyTwiceOrATypeNamedAsAnotherIsRefused) {
  ExperimentFile xp;
  xp.files = {"a.ra1", "b.ra1"};
  xp.directory = ProgramDir();
  const std::string path = ProgramDir() + "/keys.xp";
  ASSERT_TRUE(WriteXpFile(path, xp));
  const std::vector<std::string> lines = Lines(ReadFile(path));
  ExperimentFile read;
  std::string why;
  ASSERT_TRUE(LoadXpFile(path, &read, &why)) << why;
  int keys = 0;
  for (std::size_t k = 3; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    const std::string key = line.substr(line.find('(') + 1, line.rfind(')') - line.find('(') - 1);
    for (const bool atEnd : {false, true}) {
      SCOPED_TRACE(line);
      std::vector<std::string> twice = lines;
      const std::size_t copyAt = atEnd ? twice.size() : k + 1;
      twice.insert(twice.begin() + static_cast<std::ptrdiff_t>(copyAt), line);
      WriteLines(path, twice);
      EXPECT_FALSE(LoadXpFile(path, &read, &why));
      EXPECT_EQ(why, path + ": lines " + std::to_string(k + 1) + " and " + std::to_string(copyAt + 1) +
                         " both hold the key \"" + key + "\"");
    }
    ++keys;
  }
  EXPECT_GE(keys, 60);
  const std::pair<int, const char*> types[] = {{1, "SEDVELOCITY"}, {3, "SEDEQUILIBRIUM"}, {4, "MULTISEDEQ"}};
  for (const auto& [number, ownName] : types)
    for (const auto& [other, name] : types)
      for (const std::string& spaced : {std::string(" (ExperimentType: ") + name + ")",
                                        std::string(" (ExperimentType:  ") + name + " )",
                                        std::string("  (ExperimentType: ") + name + ")"}) {
        std::vector<std::string> typed = lines;
        typed[0] = std::to_string(number) + spaced;
        SCOPED_TRACE(typed[0]);
        WriteLines(path, typed);
        const bool ok = LoadXpFile(path, &read, &why);
        EXPECT_EQ(ok, number == other) << why;
        if (ok) {
          EXPECT_EQ(read.type, number);
        } else {
          EXPECT_EQ(why, path + ": line 1 holds \"" + typed[0] + "\": type " + std::to_string(number) + " is " +
                             ownName + ", written \"" + std::to_string(number) + " (ExperimentType: " + ownName +
                             ")\"");
        }
      }
  for (const char* line : {"1 (ExperimentType)", "1 (ExperimentType: sedvelocity)", "1 (ExperimentType: SEDVELOCITY) x",
                           "1 (experimenttype: SEDVELOCITY)"}) {
    std::vector<std::string> typed = lines;
    typed[0] = line;
    WriteLines(path, typed);
    EXPECT_FALSE(LoadXpFile(path, &read, &why)) << line;
  }
}

// A file that is no text: the parameter file says so instead of "line 1 holds no
// number"; the settings files, skipped before without a word, say so once.
TEST_F(HandEditedFilesTest, AFileThatIsNoTextIsSaidToBeNone) {
  const std::string binary("\x7f" "ELF\x02\x01\x01\0\0\0\0", 12);
  const std::string notText = "the file is not plain text: it holds binary data (a zero byte in line 1)";
  SavedAnalysis();
  WriteFile(DataSet().szTmpParsPath, binary);
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "reload parameters");
  EXPECT_EQ(ReloadParameters(&Handle(), DataSet().szTmpParsPath, AskingPolicy()), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{Refused(notText)});

  WriteFile(szLammParamsIni, binary);
  LammSettings().nDefaultGridPoints = 321;
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "LAMM EQUATION PARAMETERS");
  EXPECT_EQ(ReadLammEqParameterPreferences(&Handle()), 0);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 321);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"the Lamm equation settings file " + szLammParamsIni +
                                                 " is not read: " + notText});

  for (const std::string& path : {szParamsIni, szLastDirIni}) {
    WriteFile(path, binary);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, "PREFERENCES");
    if (path == szParamsIni) {
      EXPECT_EQ(LoadPreferences(&Win()), 0);
    } else {
      std::string directory = "/start/";
      ReadLastDataDirectory(&Win(), directory);
      EXPECT_EQ(directory, "/start/");
    }
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"the settings file " + path + " is not read: " + notText});
    EXPECT_TRUE(Backend().AllAnswersUsed());
  }
}

// A parameter file dropped on a window that shows a distribution, refused by the
// checks of the model it selects: its refusal is the only box (two notes "may need
// to recalculate" came before it); a file that loads gives the note once.
TEST_F(HandEditedFilesTest, ARefusedParameterFileShowsItsRefusalAlone) {
  std::vector<std::string> good;
  ASSERT_NO_FATAL_FAILURE(SavedDistribution(good));
  // The file dropped, its switch accepted and its second box (of the caption given) closed.
  const auto drop = [&](const std::vector<std::string>& lines, const std::string& caption) {
    WriteLines(DataSet().szTmpParsPath, lines);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDYES);
    Backend().QueueMessageBox(IDOK, caption);
    Drop({DataSet().szTmpParsPath});
    EXPECT_TRUE(Backend().AllAnswersUsed());
    return BoxTexts();
  };
  std::vector<std::string> lines = good;
  lines[Idx(4)] = "20.0";  // the lower grid limit above the upper (12 S)
  EXPECT_EQ(drop(lines, "reload parameters"),
            (std::vector<std::string>{"switch to parameter file ~tmppars.ra1?",
                                      Refused("lines 5 and 7 hold \"20.0\" and \"" + good[Idx(6)] +
                                              "\": the lower grid limit 20 must not be above the upper limit 12")}));
  EXPECT_EQ(drop(good, ""), (std::vector<std::string>{"switch to parameter file ~tmppars.ra1?",
                                                      "may need to recalculate before integrating distribution data"}));
}


// Values the dialogs refuse are refused by the files as well, and a coefficient
// file users write by hand reads each line as one number: a parameter file with a
// negative buffer Mb (line 102) or s (lines 103 and 111), which the buffer dialog
// refuses, or with nonlinear detection on (line 157) and the power coefficient 0
// (line 158), which the fluorescence dialog refuses, is refused with its lines,
// and a fit no longer stores such values;
// the a(R) series and the solvent's coefficient files took "1.5abc" as 1.5 and
// ended at a line of text without a word.
TEST_F(HandEditedFilesTest, FilesRefuseWhatTheDialogsRefuseAndCoefficientLinesAreWholeNumbers) {
  const std::vector<std::string> saved = SavedAnalysis();
  const struct {
    int line;
    const char* text;
    std::string reason;
  } kBuffer[] = {
      {102, "-5000", "line 102 holds \"-5000\": the buffer Mb -5000 g/mol must lie between 0 and 1e+16 g/mol"},
      {103, "-1", "line 103 holds \"-1\": the buffer s -1 S must lie between 0 and 1e+08 S"},
      {111, "-0.5", "line 111 holds \"-0.5\": the reference s -0.5 S must lie between 0 and 1e+08 S"},
  };
  for (const auto& c : kBuffer) {
    SCOPED_TRACE(c.line);
    const auto [result, boxes] = ReloadWith(saved, c.line, c.text);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(boxes, std::vector<std::string>{Refused(c.reason)});
  }
  {
    std::vector<std::string> lines = saved;
    lines[Idx(156)] = "1.000000";
    const auto [result, boxes] = ReloadWith(lines, 158, "0.000000");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(boxes, std::vector<std::string>{Refused("lines 157 and 158 hold \"1.000000\" and \"0.000000\": the power "
                                                      "coefficient d(log(a))/dc 0 must lie between 1e-06 and 1000 with "
                                                      "nonlinear detection on")});
    EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection);
    // Off, the coefficient 0 stands for one not set.
    lines[Idx(156)] = "0.000000";
    EXPECT_EQ(ReloadWith(lines, 158, "0.000000").first, 1);
  }
  // A fit floated buffer s, reference s and the exponent freely, and the file it
  // saved was then refused: it holds them to the same ranges.
  for (const FloatingExtra& e : FloatingExtras()) {
    const std::string name = e.name;
    if (name == "buffer s" || name == "refs") e.Apply(-1.0f);
    if (name == "nonlin coeff") e.Apply(0.0f);
  }
  EXPECT_EQ(BufferSedimentation().BufferSed.sampleS, 0.0);
  EXPECT_EQ(BufferSedimentation().BufferSed.refS, 0.0);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fPowerCoefficient, 1e-6f);

  // a(R) = 2 halves every value; a line with a tail or of text refuses the file
  // with its line and leaves the distribution as it was.
  FreeDistributionVectors();
  DistributionVectors().nDistGrid = 5;
  DistributionVectors().pDistGrid = tarmic::vector(1, 5);
  DistributionVectors().pDistValues = tarmic::vector(1, 5);
  for (int i = 1; i <= 5; ++i) {
    DistributionVectors().pDistGrid[i] = static_cast<float>(i);
    DistributionVectors().pDistValues[i] = 6.0f;
  }
  const std::string series = ProgramDir() + "/MieScatCoeffs.dat";
  WriteFile(series, "2\n");
  ASSERT_TRUE(ApplyMieScatCorrection(series));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[3], 3.0f);
  for (const auto& [text, line, word] : {std::tuple{"1.5abc\n", 1, "1.5abc"}, std::tuple{"1\n\n0,5\n", 3, "0,5"},
                                         std::tuple{"1\nabc\n0.5\n", 2, "abc"}}) {
    SCOPED_TRACE(text);
    WriteFile(series, text);
    const TransformResult result = ApplyMieScatCorrection(series);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.message, "the coefficients of a(R) in " + series + " cannot be used: line " +
                                  std::to_string(line) + " holds \"" + word + "\", which is not a number");
    EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[3], 3.0f);
  }
  FreeDistributionVectors();

  // The density, viscosity, s(c) and D(c) coefficient files alike (a comment may
  // follow the number after a blank).
  const std::string density = ProgramDir() + "/density.dat";
  std::vector<double> coef;
  std::string why;
  WriteFile(density, "0.99823\n\n0.5 (a comment)\n1.2\n");
  ASSERT_TRUE(ReadCoefficientFile(density, &coef, &why));
  EXPECT_EQ(coef, (std::vector<double>{0.0, 0.99823f, 0.5, 1.2f}));
  WriteFile(density, "0.99823\n0,5\n1.2\n");
  EXPECT_FALSE(ReadCoefficientFile(density, &coef, &why));
  EXPECT_EQ(why, "could not read " + density + ": line 2 holds \"0,5\", which is not a number");
  EXPECT_TRUE(coef.empty());
  // The s(c) and D(c) files of a cosolute: a file that opened but holds no
  // number is said to be unreadable, not to be unopened.
  const InhomSolventSettings kept = SolventSettings().gInhomSolvent;
  SolventSettings().gInhomSolvent.sNonidealPath = density;
  SolventSettings().gInhomSolvent.dNonidealPath = density;
  std::vector<double> s, D;
  std::string message;
  EXPECT_FALSE(ReadCosoluteCoefficientTables(&s, &D, &message));
  EXPECT_EQ(message, "could not read " + density + ": line 2 holds \"0,5\", which is not a number");
  SolventSettings().gInhomSolvent = kept;
}

}  // namespace
}  // namespace tarmic::testing
