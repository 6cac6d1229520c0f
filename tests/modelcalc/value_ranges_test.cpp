// The table of valid values at its doors, generated from the table itself: every
// entry of the parameter file and every field of the Parameters and Lamm dialogs
// is tried with 0, -1, nan, +-1e30 and the two ends of its range. A value is
// refused with the file and line (or by the dialog, naming the field) and the
// analysis before it stays, or it is taken and the state it leaves can be run. No
// door takes what another refuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "modelcalc/fit_persistence.h"
#include "modelfit/lamm_dialog.h"
#include "modelfit/lamm_settings.h"
#include "services/path_table.h"
#include "modelfit/param_checks.h"
#include "modelfit/params_dialog.h"
#include "modelfit/transfer_fields.h"
#include "numerics/value_ranges.h"
#include "platform/headless/headless_backend.h"
#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic {
namespace {

using test::Idx;

// The slot of the parameter vector that an index of the file holds (0: none), by
// the file's layout: the species blocks (amplitude, D or M, s, fifth value), the
// cell, the discrete component's values and the further pairs.
int SlotOfIndex(int index) {
  if (index >= 1 && index <= 36) {
    const int k = (index - 1) / 9 + 1, at = (index - 1) % 9;
    return at == 1 ? 8 + k : at == 3 ? k : at == 5 ? 4 + k : at == 7 ? 15 + k : 0;
  }
  if (index >= 131 && index <= 149 && index % 2 == 1) return 25 + (index - 131) / 2;
  switch (index) {
    case 39: return 13;
    case 40: return 14;
    case 89: return 16;
    case 90: return 17;
    default: return 0;
  }
}

// The range a value of the file meets: its row's, or for a value of the vector
// the range of the role the current model gives its slot (none: any number).
std::optional<ValueRange> RangeOf(const FileEntry& row) {
  if (row.rule == EntryRule::kRange) return row.quantity.range;
  for (const SlotRole& role : SlotRolesOf(CurrentModelValueRoles()))
    if (role.slot == SlotOfIndex(row.index)) return role.quantity.range;
  return std::nullopt;
}

// The values every entry is tried with: 0, -1, nan, +-1e30 and the ends of its range.
std::vector<double> TrialValues(const std::optional<ValueRange>& r) {
  std::vector<double> v = {0.0, -1.0, NAN, 1e30, -1e30};
  if (r) {
    v.push_back(r->low);
    v.push_back(r->high);
  }
  return v;
}

// Whether a refusal names a line of the file: "line 25: ", "lines 94 and 95: " or
// with their texts, "line 25 holds ..." and "lines 94 and 95 hold ...".
bool NamesLine(const std::string& why, int line) {
  const std::string n = std::to_string(line);
  return why.find("line " + n + ":") != std::string::npos || why.find("line " + n + " ") != std::string::npos || why.find("lines " + n + " and") != std::string::npos ||
         why.find(" and " + n + ":") != std::string::npos || why.find(" and " + n + " hold") != std::string::npos;
}

std::string Text(double x) {
  if (std::isnan(x)) return "nan";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.9g", x);
  return buffer;
}

// What a user sees of the model: the vector and the settings beside it.
struct ModelState {
  std::vector<float> params;
  float left, right;
  int gridPoints;
  double maxDcOverC;
  bool operator==(const ModelState&) const = default;
};
ModelState StateNow() {
  return {std::vector<float>(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams)), DataSet().fFitLeftLim, DataSet().fFitRightLim,
          LammSettings().nDefaultGridPoints, LammSettings().dMaxDcOverC};
}

class ValueRangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("tarmic_ranges_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    test::ResetModelCalcState();
    ResetFitPersistenceHooks();
    LammGlobals().bLinearGeometry = LammGlobals().bPlanarQuadrature = LammGlobals().bExternalLoadingCell = LammGlobals().bElectrophoresis = false;
    ModelFlags().bFitMAndS = ModelFlags().bBufferSedCorrection = false;
    DataSet().szTmpParsPath = (dir_ / "~tmppars.ra1").string();
    // Three scans on radii 6.02-7.18 cm in a cell of 6.0-7.2 cm, fitted 6.05-7.1 cm.
    test::InstallVelocityScans(3, 60, 600.0, 50000.0f);
    backend_->AnswerUnscriptedBoxes(IDOK);
  }
  void TearDown() override {
    test::ResetModelCalcState();
    std::filesystem::remove_all(dir_);
  }

  // Two species of the discrete model (D, s, loading), or c(s) from 0.5 to 12 S on
  // 40 points at P 0.68 in water with vbar 0.73 and f/f0 1.2.
  static void UseModel(bool continuous) {
    ResetModelFlags();
    AnalysisSwitches().bEqAnalysisModel = false;
    for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k <= 2;
    if (continuous) {
      ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
      test::SetContinuousParams(0.5f, 12.0f, 40.0f, 0.68f, 1.2f, 6.0f, 7.2f);
      UnpackModelParams();
    } else {
      ModelFlags().bDiscreteModel = true;
      ModelParams().pSpeciesMassOrD[1] = 5.0f;
      ModelParams().pSpeciesS[1] = 4.0f;
      ModelParams().pSpeciesAmplitude[1] = 0.6f;
      ModelParams().pSpeciesMassOrD[2] = 3.0f;
      ModelParams().pSpeciesS[2] = 9.0f;
      ModelParams().pSpeciesAmplitude[2] = 0.3f;
      DataSet().fMeniscus = 6.0f;
      DataSet().fBottom = 7.2f;
      PackModelParams();
    }
  }

  // The model saved, its lines.
  std::vector<std::string> SavedLines() {
    EXPECT_TRUE(TmpSaveBestParams(nullptr, false).ok);
    std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kSavedParamCount));
    return lines;
  }
  void Write(const std::vector<std::string>& lines) {
    std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
    for (const std::string& l : lines) out << l << "\n";
  }

  // The base file with line index + 1 holding x, reloaded: 1 taken, 0 refused; why
  // holds the text of the refusal.
  int ReloadWith(const std::vector<std::string>& base, int index, double x, std::string* why) {
    std::vector<std::string> lines = base;
    lines[Idx(index)] = Text(x);
    Write(lines);
    backend_->ClearTranscript();
    const int result = ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy());
    why->clear();
    for (const TranscriptEntry& e : backend_->Transcript())
      if (e.kind == "MessageBox" && e.text.find("cannot be used") != std::string::npos) *why = e.text;
    return result;
  }

  ScopedHeadlessBackend backend_;
  std::filesystem::path dir_;
};

// Every entry of the parameter file, for a discrete and a continuous model: a value
// outside its row is refused with its line and the analysis stays; every value
// taken leaves a state whose values are finite and that the Run accepts. The
// user's cases among them: line 38 (baseline) 1e30, line 5 (s min of c(s)) -1e30,
// lines 25 and 30 (density, viscosity) 1e30, line 43 (right fitting limit) 50,
// line 44 (grid size) 1e30 and line 63 (max dc/c) 0, -1 and -1e30 were all taken.
TEST_F(ValueRangesTest, EveryParameterFileEntryIsRefusedWithItsLineOrLeavesARunnableState) {
  const std::span<const FileEntry> rows = ParameterFileEntries();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kSavedParamCount));
  for (const bool continuous : {false, true}) {
    UseModel(continuous);
    const std::vector<std::string> base = SavedLines();
    ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
    const ModelState before = StateNow();
    int refused = 0, taken = 0;
    for (const FileEntry& row : rows) {
      ASSERT_EQ(&row - rows.data(), row.index) << "rows in index order";
      // The model codes and switches of other models lead elsewhere: the entries
      // of the model's own values are tried.
      if (row.index == 72 || row.index == 173 || (row.rule == EntryRule::kAny && row.index != 0)) continue;
      for (const double x : TrialValues(RangeOf(row))) {
        SCOPED_TRACE((continuous ? "c(s), line " : "discrete, line ") + std::to_string(row.index + 1) + " = " +
                     Text(x));
        std::string why;
        const int result = ReloadWith(base, row.index, x, &why);
        // The ends of a row's own range are taken (the grid-size limits only where
        // they do not cross the other limit).
        const bool end = row.rule == EntryRule::kRange &&
                         (x == row.quantity.range.low || x == row.quantity.range.high);
        if (end && row.index != 93 && row.index != 94) EXPECT_EQ(result, 1) << why;
        // A solver setting outside its range is brought to the nearest valid value.
        const bool clamped = NearestSettingValue(row, x, nullptr, nullptr);
        if (clamped && row.index != 93 && row.index != 94) EXPECT_EQ(result, 1) << why;
        if (result == 0) {
          ++refused;
          EXPECT_TRUE(NamesLine(why, row.index + 1)) << why;
          EXPECT_TRUE(StateNow() == before) << "the analysis before the file stays";
        } else {
          ++taken;
          if (!clamped) EXPECT_EQ(EntryRefusal(row, x), "") << "a value outside its row was taken";
          // A setting of a continuous model left at 0 (vbar, f/f0, density, viscosity)
          // takes the program's current value instead: the state, not x, is judged.
          const bool filledFromCurrent = continuous && x == 0.0;
          if (const std::optional<ValueRange> r = RangeOf(row); r && !filledFromCurrent && !clamped)
            EXPECT_EQ(QuantityRefusal({"value", "", *r}, x), "") << "a value outside its slot's range was taken";
          EXPECT_EQ(RunValuesRefusal(), "");
          for (int s = 1; s <= nModelParams; ++s) EXPECT_TRUE(std::isfinite(AnalysisSwitches().pParams[s])) << "slot " << s;
          // Back to the base analysis for the next value.
          Write(base);
          ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
        }
      }
    }
    EXPECT_GT(refused, 150);
    EXPECT_GT(taken, 100);
  }
}

// The user's cases by name: refused with the line and the reason.
TEST_F(ValueRangesTest, TheReportedFileValuesAreRefusedWithTheirLines) {
  UseModel(true);
  const std::vector<std::string> base = SavedLines();
  const struct {
    int line;
    double value;
    const char* why;  // after the line and its text
  } cases[] = {
      {38, 1e30, "the baseline 1e+30 must lie between -1e+06 and 1e+06"},
      {38, -1e30, "the baseline -1e+30 must lie between -1e+06 and 1e+06"},
      {5, -1e30, "the lower grid limit -1e+30 must lie between -1e+16 and 1e+16"},
      {25, 1e30, "the buffer density 1e+30 g/ml must lie between 0.01 and 5 g/ml"},
      {30, 1e30, "the buffer viscosity 1e+30 P must lie between 1e-05 and 1000 P"},
      {43, 50, "the right fitting limit 50 cm must lie between 0 and 7.2 cm (0: not set)"},
      {43, 1e30, "the right fitting limit 1e+30 cm must lie between 0 and 7.2 cm (0: not set)"},
      {63, 0, "the max dc/c 0 must lie between 0.01 and 10"},
      {63, -1e30, "the max dc/c -1e+30 must lie between 0.01 and 10"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(ReloadWith(base, c.line - 1, c.value, &why), 0) << c.why;
    EXPECT_EQ(why, "the parameter file " + DataSet().szTmpParsPath + " cannot be used: line " + std::to_string(c.line) +
                       " holds \"" + Text(c.value) + "\": " + c.why);
  }
  // The grid size is a setting of the solver: 1e30 is brought to the largest grid,
  // and the box says so with the line.
  std::string why;
  EXPECT_EQ(ReloadWith(base, 43, 1e30, &why), 1) << why;
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 100000);
  ASSERT_FALSE(backend_->Transcript().empty());
  EXPECT_NE(backend_->Transcript()[0].text.find("\nline 44 holds \"1e+30\": the default FE grid size 1e+30 grid points must lie "
                                                "between 5 and 100000 grid points; 100000 is used"),
            std::string::npos);
}

// A meniscus almost on the rotor's axis is no cell: the parameter file refuses it
// as the Parameters dialog and the Run do, with its line and the range.
TEST_F(ValueRangesTest, AMeniscusNearTheAxisIsRefusedWithItsLine) {
  for (const bool continuous : {false, true}) {
    UseModel(continuous);
    const std::vector<std::string> base = SavedLines();
    for (const double meniscus : {1e-30, 0.001}) {
      std::string why;
      EXPECT_EQ(ReloadWith(base, 39, meniscus, &why), 0);
      EXPECT_NE(why.find("line 40 holds \"" + Text(meniscus) + "\": the meniscus " + Text(meniscus) +
                         " cm must lie between 1 and 20 cm (0: not set)"),
                std::string::npos)
          << why;
    }
  }
}

// Fitting limits: beyond the bottom, below 0 or crossed they are refused; a right
// limit beyond the data's last radius (7.18 cm) but inside the cell stands for "to
// the end" in older files: it is taken, moved, and the box says so with the line.
TEST_F(ValueRangesTest, FittingLimitsOutsideTheCellAreRefusedAndOutsideTheDataMovedWithANote) {
  UseModel(false);
  const std::vector<std::string> base = SavedLines();
  std::string why;
  EXPECT_EQ(ReloadWith(base, 41, -0.5, &why), 0);
  EXPECT_NE(why.find("line 42 holds \"-0.5\": the left fitting limit -0.5 cm must lie between 0 and 7.2 cm"),
            std::string::npos);
  std::vector<std::string> crossed = base;
  crossed[41] = "7.0";
  crossed[42] = "6.5";
  Write(crossed);
  EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0);

  backend_->ClearTranscript();
  EXPECT_EQ(ReloadWith(base, 42, 7.195, &why), 1);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, DataSet().ppRadius[1][DataSet().pnPoints[1]]);
  ASSERT_EQ(backend_->Transcript().size(), 1u);
  EXPECT_NE(backend_->Transcript()[0].text.find("line 43: the right fitting limit 7.195 cm is set to 7.18 cm"),
            std::string::npos)
      << backend_->Transcript()[0].text;
}

// The Parameters dialog and the parameter file judge the same values the same way:
// every value of a field of the dialog that the dialog takes, the file takes at the
// field's entry (so a saved analysis reads back), and every value the entry's row
// refuses, the dialog refuses.
TEST_F(ValueRangesTest, TheParametersDialogTakesNoValueTheParameterFileRefuses) {
  // Field of the dialog and the entry of the file that keeps its value: the species
  // blocks (amplitude, second value, s), baseline, meniscus and bottom.
  std::vector<std::pair<int, int>> fields = {{433, 37}, {435, 39}, {437, 40}};
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    fields.push_back({405 + 7 * (k - 1), 1 + 9 * (k - 1) + 1});
    fields.push_back({406 + 7 * (k - 1), 1 + 9 * (k - 1) + 3});
    fields.push_back({407 + 7 * (k - 1), 1 + 9 * (k - 1) + 5});
  }
  for (const bool continuous : {false, true}) {
    UseModel(continuous);
    const std::vector<std::string> base = SavedLines();
    TransferBuffer record;
    InitParamsTransfer(record);
    FillParamsTransfer(record);
    ASSERT_TRUE(ParamsBoxCanClose(record));
    for (const auto& [id, index] : fields) {
      const FileEntry& row = EntryOf(ParameterFileEntries(), index);
      for (const double x : TrialValues(RangeOf(row))) {
        SCOPED_TRACE((continuous ? "c(s), field " : "discrete, field ") + std::to_string(id) + " = " + Text(x));
        TransferBuffer typed = record;
        SetFieldText(typed, id, Text(x));
        backend_->ClearTranscript();
        const bool dialogTakes = ParamsBoxCanClose(typed);
        if (!dialogTakes) EXPECT_FALSE(backend_->Transcript().empty()) << "refused without a word";
        if (!EntryRefusal(row, x).empty()) EXPECT_FALSE(dialogTakes);
        std::string why;
        const int fileTakes = ReloadWith(base, index, x, &why);
        // A bottom of 0 with data loaded moved the right fitting limit to -0.01 cm:
        // the file refuses it with its line.
        if (index == 40 && x == 0.0) {
          EXPECT_EQ(fileTakes, 0);
          EXPECT_TRUE(NamesLine(why, 41)) << why;
          continue;
        }
        if (dialogTakes) EXPECT_EQ(fileTakes, 1) << why;
        if (fileTakes) {
          Write(base);
          ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
        }
      }
    }
  }
}

// The Lamm dialog, the Lamm settings file and the parameter file judge the Lamm
// settings alike: a value of a field is taken by the dialog exactly when its row
// takes it, the settings file takes it then and otherwise names its line, and the
// parameter file takes what the dialog takes.
TEST_F(ValueRangesTest, TheLammDialogAndTheSettingsFilesJudgeEveryValueAlike) {
  UseModel(false);
  const std::vector<std::string> base = SavedLines();
  szLammParamsIni = (dir_ / "lamm.ini").string();
  // Lamm settings entry and the parameter file's entry of the same setting.
  const std::pair<int, int> inParameterFile[] = {{4, 43}, {5, 92}, {6, 93}, {7, 94}, {15, 65},
                                                 {16, 62}, {24, 118}, {25, 119}};
  TransferBuffer record;
  InitLammParamsTransfer(record);
  FillLammParamsTransfer(record);
  ASSERT_TRUE(LammPBoxCanClose(record));
  for (const DialogField& f : LammDialogFields()) {
    const FileEntry& row = EntryOf(LammSettingsEntries(), f.entry);
    for (const double x : TrialValues(row.quantity.range)) {
      SCOPED_TRACE("field " + std::to_string(f.id) + " = " + Text(x * f.scale));
      // The grid-size limits are tried where they do not cross.
      if (f.entry == 6 && x < LammSettings().nGridSizeLower) continue;
      if (f.entry == 7 && x > LammSettings().nGridSizeUpper) continue;
      TransferBuffer typed = record;
      SetFieldText(typed, f.id, Text(x * f.scale));
      backend_->ClearTranscript();
      const bool dialogTakes = LammPBoxCanClose(typed);
      EXPECT_EQ(dialogTakes, EntryRefusal(row, x).empty());
      if (!dialogTakes) EXPECT_FALSE(backend_->Transcript().empty()) << "refused without a word";
      // The Lamm settings file: the value is taken exactly when the dialog takes it;
      // otherwise its line is named and the setting stays.
      {
        std::vector<float> settings = LammSettingsVector();
        settings[Idx(f.entry)] = static_cast<float>(x);
        std::ofstream out(szLammParamsIni, std::ios::trunc);
        for (const float v : settings) out << Text(v) << "\n";
      }
      const std::vector<float> before = LammSettingsVector();
      backend_->ClearTranscript();
      ASSERT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
      const bool named = !backend_->Transcript().empty() && NamesLine(backend_->Transcript()[0].text, f.entry + 1);
      EXPECT_EQ(named, !dialogTakes);
      // A solver setting outside its range takes the nearest valid value, any other
      // value refused keeps its setting.
      double nearest = 0.0;
      const bool clamped = NearestSettingValue(row, x, &nearest, nullptr);
      if (!dialogTakes)
        EXPECT_EQ(LammSettingsVector()[Idx(f.entry)], clamped ? static_cast<float>(nearest) : before[Idx(f.entry)]);
      ResetLammSettings();
      for (const auto& [entry, index] : inParameterFile) {
        if (entry != f.entry) continue;
        std::string why;
        EXPECT_EQ(ReloadWith(base, index, x, &why), dialogTakes || clamped ? 1 : 0) << why;
        Write(base);
        ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
      }
    }
  }
}

}  // namespace
}  // namespace tarmic
