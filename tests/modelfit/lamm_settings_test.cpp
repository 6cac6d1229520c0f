// The Lamm equation settings: defaults, the preference file, the dialog
// "Numerical Control of Lamm Equation Solution" and the times from omega^2 t.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "modelfit/lamm_dialog.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/transfer_fields.h"
#include "numerics/value_ranges.h"
#include "prompts/dialog_question.h"
#include "services/engine_notice.h"
#include "modelfit_test_support.h"
#include "resources/dialogs.h"

namespace tarmic {
namespace {

using testing::ModelFitTest;

std::string ScratchFile(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "modelfit";
  fs::create_directories(dir);
  const fs::path file = dir / name;
  fs::remove(file);
  return file.string();
}

void WriteValues(const std::string& path, int count, float value) {
  std::ofstream out(path);
  for (int i = 0; i < count; ++i) out << value << "\n";
}

class LammSettingsTest : public ModelFitTest {
 protected:
  void SetUp() override {
    ModelFitTest::SetUp();
    szLammParamsIni = ScratchFile(::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                  std::string(".ini"));
  }
};

TEST_F(LammSettingsTest, PreferenceFileRoundTripsEverySetting) {
  // Every setting gets a value other than its default, goes through the file and
  // comes back after a reset.
  const std::vector<std::pair<bool*, bool>> flags = {
      {&LammSettings().bShutOffBackDiffusion, false}, {&AnalysisSwitches().bTimesFromW2t, true},  {&AnalysisSwitches().bRampRotorSpeed, false},
      {&LammSettings().bAutoFEAlgorithm, false},      {&LammSettings().bClaverie, true},      {&LammSettings().bMovingHat, false},
      {&AnalysisSwitches().bInitialDataProfile, true}, {&LammSettings().bSimulateRadialResolution, true},
      {&LammSettings().bCheckAcceleration, false}};
  const std::vector<std::pair<int*, int>> counts = {
      {&LammSettings().nDefaultGridPoints, 600}, {&LammSettings().nGridSizeUpper, 3000}, {&LammSettings().nGridSizeLower, 50}};
  // Values of every magnitude the settings hold in use: back-diffusion levels near
  // 1e-6, where six decimals kept one digit (2.5e-6 came back 20 % off), and fit
  // tolerances near 1e-5. The settings are held as floats; each comes back as the
  // float it was.
  for (const double small : {1.0, 1e-3}) {
    SCOPED_TRACE(small);
    const std::vector<std::pair<double*, double>> doubles = {
        {&LammSettings().dBackDiffusionLevel, small < 1 ? 2.5e-6 : 2e-3}, {&LammSettings().dAutoSGridValue, 2.5 * small},
        {&LammSettings().dMaxDcOverC, small < 1 ? 0.0123456 : 0.5}, {&LammSettings().dTruncationLevel, small < 1 ? 1.23e-6 : 1e-5}};
    const std::vector<std::pair<float*, float>> floats = {{&LammSettings().fAutoAlgorithmS, 3.5f},
                                                          {&LammSettings().fRefitTolerance, small < 1 ? 1.5e-5f : 0.002f},
                                                          {&LammSettings().fScanVelocity, 3.0f},
                                                          {&LammSettings().fRadialConvolutionRange, small < 1 ? 6.01e-7f : 0.008f}};
    for (auto [v, x] : flags) *v = x;
    for (auto [v, x] : counts) *v = x;
    for (auto [v, x] : doubles) *v = x;
    for (auto [v, x] : floats) *v = x;
    ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);

    ResetLammSettings();
    ASSERT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
    for (std::size_t i = 0; i < flags.size(); ++i) EXPECT_EQ(*flags[i].first, flags[i].second) << i;
    for (std::size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(*counts[i].first, counts[i].second) << i;
    EXPECT_EQ(static_cast<float>(LammSettings().dBackDiffusionLevel), static_cast<float>(doubles[0].second));
    EXPECT_EQ(static_cast<float>(LammSettings().dAutoSGridValue), static_cast<float>(doubles[1].second));
    EXPECT_EQ(static_cast<float>(LammSettings().dMaxDcOverC), static_cast<float>(doubles[2].second));
    // The truncation level is held as its log10.
    EXPECT_NEAR(LammSettings().dTruncationLevel, doubles[3].second, 1e-6 * doubles[3].second);
    for (std::size_t i = 0; i < floats.size(); ++i) EXPECT_EQ(*floats[i].first, floats[i].second) << i;
    // The derived step-control bounds are not part of the file.
    EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverCLow, 0.1);
  }
}

TEST_F(LammSettingsTest, MissingFileLeavesTheDefaults) {
  EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 0);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 1000);
}

TEST_F(LammSettingsTest, TwentyNineValuesSetNothingThirtySetEverySetting) {
  // A file that ends early is not read, and the box says so naming the file.
  for (const int lines : {20, 29}) {
    WriteValues(szLammParamsIni, lines, 0.0f);
    backend_->QueueMessageBox(IDOK, "LAMM EQUATION PARAMETERS");
    EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 0);
    EXPECT_TRUE(LammSettings().bAutoGridSize);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].second, "the Lamm equation settings file " + szLammParamsIni + " is not read: it ends after line " +
                                     std::to_string(lines) + ", and the settings take 30 lines; every setting keeps its value");
    backend_->ClearTranscript();
  }

  // Thirty zeros: the switches are read; the values for which 0 is outside their
  // range keep their settings, and one box names each of those lines.
  WriteValues(szLammParamsIni, 30, 0.0f);
  backend_->QueueMessageBox(IDOK, "LAMM EQUATION PARAMETERS");
  EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
  EXPECT_FALSE(LammSettings().bAutoGridSize);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 1000) << "no grid of 0 points";
  EXPECT_FALSE(AnalysisSwitches().bTimesFromW2t);
  EXPECT_TRUE(AnalysisSwitches().bRampRotorSpeed);
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverC, 1.0) << "a max dc/c of 0 never ends a Run";
  EXPECT_DOUBLE_EQ(LammSettings().dTruncationLevel, 1e-6) << "a level of 1 cuts the whole grid";
  EXPECT_FALSE(LammSettings().bCheckAcceleration);
  ASSERT_EQ(Boxes().size(), 1u);
  for (const char* line : {"line 3 holds ", "line 5 holds ", "line 17 holds ", "\": the max dc/c 0 must lie between 0.01 and 10",
                           "line 22 holds "})
    EXPECT_NE(Boxes()[0].second.find(line), std::string::npos) << line;
  EXPECT_EQ(Boxes()[0].second.rfind("the Lamm equation settings file " + szLammParamsIni, 0), 0u);
}

// Grid values no grid can be built from (a points per sigma of 1e6 saved as default
// made every later start hang at its first Run) are brought to the nearest valid
// value, and the lines are named; limits that would cross keep both.
TEST_F(LammSettingsTest, GridValuesOutOfRangeAreBroughtIntoRange) {
  ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);
  std::vector<std::string> lines;
  {
    std::ifstream in(szLammParamsIni);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
  }
  ASSERT_EQ(lines.size(), 31u);
  backend_->AnswerUnscriptedBoxes(IDOK);
  auto readWith = [&](const std::vector<std::pair<int, const char*>>& changes) {
    std::vector<std::string> changed = lines;
    for (const auto& [index, text] : changes) changed[static_cast<std::size_t>(index)] = text;
    std::ofstream(szLammParamsIni, std::ios::trunc) << [&] {
      std::string all;
      for (const std::string& l : changed) all += l + "\n";
      return all;
    }();
    ResetLammSettings();
    backend_->ClearTranscript();
    return ReadLammEqParameterPreferences(nullptr);
  };
  // 4 default size, 5 points per sigma, 6 upper and 7 lower limit.
  EXPECT_EQ(readWith({{4, "1e12"}, {5, "1000000"}, {6, "1e9"}, {7, "3"}}), 1);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 100000);
  EXPECT_EQ(LammSettings().fPointsPerSigma, 1000.0f);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 100000);
  EXPECT_EQ(LammSettings().nGridSizeLower, 5);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("line 5 holds \"1e12\": the default FE grid size 1e+12 grid points must lie between 5 and "
                                   "100000 grid points; 100000 is used"),
            std::string::npos);
  EXPECT_NE(Boxes()[0].second.find("line 8 holds \"3\": the lower limit 3 grid points must lie between 5 and "
                                   "100000 grid points; 5 is used"),
            std::string::npos) << Boxes()[0].second;
  EXPECT_EQ(readWith({{6, "50"}, {7, "60"}}), 1);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 2000);
  EXPECT_EQ(LammSettings().nGridSizeLower, 75);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("lines 7 and 8: "), std::string::npos);
  // The text read is named, not only the value a float makes of it; a switch holds
  // 0 or 1 by its text.
  EXPECT_EQ(readWith({{7, "9999999999999999999"}, {8, "0.99999999999999999"}}), 1);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("line 8 holds \"9999999999999999999\": the lower limit"), std::string::npos)
      << Boxes()[0].second;
  EXPECT_NE(Boxes()[0].second.find("line 9 holds \"0.99999999999999999\", which is neither 0 nor 1"),
            std::string::npos)
      << Boxes()[0].second;
  EXPECT_EQ(readWith({{4, "600"}, {5, "20"}, {6, "100000"}, {7, "5"}}), 1);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 600);
  EXPECT_EQ(LammSettings().fPointsPerSigma, 20.0f);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 100000);
  EXPECT_EQ(LammSettings().nGridSizeLower, 5);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LammSettingsTest, ValuesOutsideTheirRangeLeaveTheirSettings) {
  // Every entry -2: the settings whose range holds no negative value keep their
  // values; the truncation exponent, "when optimized" and the s of the moving grid
  // (a frame floating with a floating species) are taken.
  const float sAuto = LammSettings().fAutoAlgorithmS, perSigma = LammSettings().fPointsPerSigma, refit = LammSettings().fRefitTolerance;
  const float velocity = LammSettings().fScanVelocity, convolution = LammSettings().fRadialConvolutionRange;
  const double backLevel = LammSettings().dBackDiffusionLevel, dcOverC = LammSettings().dMaxDcOverC;
  const int grid = LammSettings().nDefaultGridPoints, upper = LammSettings().nGridSizeUpper, lower = LammSettings().nGridSizeLower;
  const bool autoGrid = LammSettings().bAutoGridSize;
  WriteValues(szLammParamsIni, 31, -2.0f);
  backend_->QueueMessageBox(IDOK, "LAMM EQUATION PARAMETERS");
  EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
  EXPECT_EQ(LammSettings().fAutoAlgorithmS, sAuto);
  EXPECT_EQ(LammSettings().dBackDiffusionLevel, backLevel);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, grid);
  EXPECT_EQ(LammSettings().fPointsPerSigma, perSigma);
  EXPECT_EQ(LammSettings().nGridSizeUpper, upper);
  EXPECT_EQ(LammSettings().nGridSizeLower, lower);
  EXPECT_EQ(LammSettings().dAutoSGridValue, -2.0);
  EXPECT_EQ(LammSettings().fRefitTolerance, refit);
  EXPECT_EQ(LammSettings().dMaxDcOverC, dcOverC);
  EXPECT_EQ(LammSettings().fScanVelocity, velocity);
  EXPECT_EQ(LammSettings().fRadialConvolutionRange, convolution);
  EXPECT_FLOAT_EQ(LammSettings().fAutoAlgorithmSOptimized, -2.0f);
  EXPECT_NEAR(LammSettings().dTruncationLevel, 0.01, 1e-12);
  EXPECT_EQ(LammSettings().bAutoGridSize, autoGrid) << "a switch of -2 keeps its setting";

  // A truncation exponent whose level would cut the whole grid keeps the level.
  {
    std::ofstream out(szLammParamsIni);
    for (int i = 0; i < 31; ++i) out << (i == 21 ? "1e30" : i == 2 || i == 15 ? "0.001" : "6") << "\n";
  }
  backend_->ClearTranscript();
  backend_->QueueMessageBox(IDOK, "LAMM EQUATION PARAMETERS");
  EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
  EXPECT_NEAR(LammSettings().dTruncationLevel, 0.01, 1e-12);
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 6) << "values in range are taken";
  EXPECT_FLOAT_EQ(LammSettings().fScanVelocity, 6.0f);
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverC, 6.0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].second.find("\nline 22 holds \"1e30\": the log10 of the truncation level 1e+30 must lie between -30 and -1"),
            std::string::npos);
}

// The switches and grid sizes of the settings file are whole numbers: each line
// the reader takes as one (a switch On(p[i]), a count floor(p[i])) has a whole row,
// and a fraction there ("1000.5", "0.5") keeps the setting with a note that names
// the file, the line and the text; the next save writes the setting as it was.
TEST_F(LammSettingsTest, WholeNumberLinesTakeNoFraction) {
  std::ifstream source(std::string(TARMIC_SOURCE_DIR) + "/modelfit/lamm_settings.cpp");
  const std::string code((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
  const std::regex cut(R"(\b(?:On|floor|static_cast<int>)\s*\(\s*p\[(\d+)\]\s*\))");
  int found = 0;
  for (auto it = std::sregex_iterator(code.begin(), code.end(), cut); it != std::sregex_iterator(); ++it, ++found)
    EXPECT_TRUE(EntryOf(LammSettingsEntries(), std::stoi((*it)[1])).whole) << "line " << std::stoi((*it)[1]) + 1;
  EXPECT_GE(found, 17) << "the census found the switches and grid sizes";

  ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);
  std::vector<std::string> saved;
  {
    std::ifstream in(szLammParamsIni);
    for (std::string l; std::getline(in, l);) saved.push_back(l);
  }
  for (const FileEntry& row : LammSettingsEntries()) {
    if (!row.whole) continue;
    const std::string fraction = row.index == 4 ? "1000.5" : "0.5";
    {
      std::ofstream out(szLammParamsIni, std::ios::trunc);
      for (std::size_t k = 0; k < saved.size(); ++k) out << (static_cast<int>(k) == row.index ? fraction : saved[k]) << "\n";
    }
    backend_->ClearTranscript();
    backend_->QueueMessageBox(IDOK, "LAMM EQUATION PARAMETERS");
    EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
    ASSERT_EQ(Boxes().size(), 1u) << row.index;
    EXPECT_NE(Boxes()[0].second.find(szLammParamsIni), std::string::npos);
    EXPECT_NE(Boxes()[0].second.find("\nline " + std::to_string(row.index + 1) + " holds \"" + fraction + "\", which " +
                                     (row.flag ? "is neither 0 nor 1" : "is not a whole number")),
              std::string::npos)
        << Boxes()[0].second;
    ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);
    std::ifstream in(szLammParamsIni);
    for (std::size_t k = 0; k < saved.size(); ++k) {
      std::string l;
      std::getline(in, l);
      EXPECT_EQ(l, saved[k]) << "line " << k + 1 << " after a fraction in line " << row.index + 1;
    }
  }
}

// Every switch of the settings file (each line the reader takes with On(p[N])) has
// a flag row, and every flag row is such a switch. A switch holds 0 or 1 by its
// text: "2", "0.5", "1e-30" (and "-1", which was read as off) keep the setting with
// a note naming the file, the line and the text, and 0 and 1 are taken as off and
// on without a word.
TEST_F(LammSettingsTest, EverySwitchLineHoldsZeroOrOne) {
  std::ifstream source(std::string(TARMIC_SOURCE_DIR) + "/modelfit/lamm_settings.cpp");
  const std::string code((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
  const std::regex read(R"(\bOn\s*\(\s*p\[(\d+)\]\s*\))");
  std::set<int> switches, flags;
  for (auto it = std::sregex_iterator(code.begin(), code.end(), read); it != std::sregex_iterator(); ++it)
    switches.insert(std::stoi((*it)[1]));
  for (const FileEntry& row : LammSettingsEntries())
    if (row.flag) flags.insert(row.index);
  EXPECT_EQ(switches, flags);
  ASSERT_GE(flags.size(), 14u) << "the census found the switches";

  ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);
  std::vector<std::string> saved;
  {
    std::ifstream in(szLammParamsIni);
    for (std::string l; std::getline(in, l);) saved.push_back(l);
  }
  backend_->AnswerUnscriptedBoxes(IDOK);
  auto readWith = [&](int index, const std::string& text) {
    std::ofstream out(szLammParamsIni, std::ios::trunc);
    for (std::size_t k = 0; k < saved.size(); ++k) out << (static_cast<int>(k) == index ? text : saved[k]) << "\n";
    out.close();
    backend_->ClearTranscript();
    return ReadLammEqParameterPreferences(nullptr);
  };
  for (const int index : flags) {
    const std::string line = "\nline " + std::to_string(index + 1) + " holds \"";
    for (const char* text : {"2", "0.5", "1e-30", "-1"}) {
      ASSERT_EQ(readWith(index, text), 1);
      ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);
      std::ifstream in(szLammParamsIni);
      std::string kept;
      for (int k = 0; k <= index; ++k) std::getline(in, kept);
      EXPECT_EQ(kept, saved[static_cast<std::size_t>(index)]) << "line " << index + 1 << " of " << text;
      ASSERT_EQ(Boxes().size(), 1u) << "line " << index + 1 << " of " << text;
      EXPECT_NE(Boxes()[0].second.find(szLammParamsIni), std::string::npos);
      EXPECT_NE(Boxes()[0].second.find(line + text + "\", which is neither 0 nor 1"), std::string::npos)
          << Boxes()[0].second;
    }
    for (const char* text : {"0", "1"}) {
      ASSERT_EQ(readWith(index, text), 1);
      EXPECT_TRUE(Boxes().empty()) << "line " << index + 1 << " of " << text;
      ASSERT_EQ(SaveLammEqParameterPreferences(nullptr), 1);
      std::ifstream in(szLammParamsIni);
      std::string written;
      for (int k = 0; k <= index; ++k) std::getline(in, written);
      EXPECT_EQ(written, text) << "line " << index + 1;
    }
  }
}

TEST_F(LammSettingsTest, TimesFromOmegaSquaredT) {
  DataSet().nScans = 1;
  DataSet().pScanInfo.assign(2, ScanInfo{});
  DataSet().pScanInfo[1].rpm = 50000.0f;
  const double omega = 50000.0 * M_PI / 30.0;
  DataSet().pScanInfo[1].omega2t = omega * omega * 1200.0;
  DataSet().pScanInfo[1].time = 1234.0;
  SwitchOnTimesFromW2t(nullptr);
  EXPECT_TRUE(AnalysisSwitches().bTimesFromW2t);
  EXPECT_FALSE(AnalysisSwitches().bRampRotorSpeed);
  EXPECT_NEAR(DataSet().pScanInfo[1].time, 1200.0, 1e-6);
}

// --- the dialog ---

class LammDialogTest : public LammSettingsTest {
 protected:
  void SetUp() override {
    LammSettingsTest::SetUp();
    InitLammParamsTransfer(record_);
  }
  TransferBuffer record_;
};

TEST_F(LammDialogTest, ToleranceIsEnteredInPercent) {
  backend_->QueueDialog(IDOK, TransferBuffer{{{628, "1"}}, {}});
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_FLOAT_EQ(LammSettings().fRefitTolerance, 0.01f);
  FillLammParamsTransfer(record_);
  EXPECT_EQ(FieldText(record_, 628), "1.000");
}

TEST_F(LammDialogTest, NegativeTruncationExponentIsAcceptedButNegativeValuesElsewhereAreNot) {
  backend_->QueueDialog(IDOK, TransferBuffer{{{643, "-5"}, {629, "-1"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, TransferBuffer{{{629, "0.5"}}, {}});
  backend_->QueueMessageBox(IDNO, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_NEAR(LammSettings().dTruncationLevel, 1e-5, 1e-12);
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverC, 0.5);
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverCLow, 0.025);
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverCHigh, 0.1);
  EXPECT_EQ(backend_->BeepCount(), 1);
}

TEST_F(LammDialogTest, AutomaticAlgorithmLeavesTheMovingHatOn) {
  LammSettings().bClaverie = true;
  LammSettings().bMovingHat = false;
  backend_->QueueDialog(IDOK, TransferBuffer{{}, {{622, true}}});
  backend_->QueueMessageBox(IDNO, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_FALSE(LammSettings().bClaverie);
  EXPECT_TRUE(LammSettings().bMovingHat);
}

// The dialog, its refusal and its question go through the engine's doors: the
// presenters installed see them in the order the user saw them, and the backend
// shows nothing itself.
TEST_F(LammDialogTest, TheDialogItsRefusalAndItsQuestionAreRaisedInOrder) {
  std::vector<std::string> seen;
  std::vector<TransferBuffer> typed = {TransferBuffer{{{629, "-1"}}, {}}, TransferBuffer{{{629, "0.5"}}, {}}};
  ScopedDialogPresenter dialogs([&](const DialogTemplate& dialog, TransferBuffer& buffer) {
    seen.push_back("dialog " + dialog.name);
    if (typed.empty()) return IDCANCEL;
    for (const auto& [id, text] : typed.front().text) buffer.text[id] = text;
    typed.erase(typed.begin());
    return IDOK;
  });
  ScopedNoticePresenter notices([&](const EngineNotice& notice) {
    seen.push_back("box " + notice.caption);
    return notice.caption == "Input Error" ? IDOK : IDNO;
  });
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  const std::string dialog = "dialog " + std::to_string(kLammParamsDialogId);
  EXPECT_EQ(seen, (std::vector<std::string>{dialog, "box Input Error", dialog, "box LAMM EQUATION PARAMETERS"}));
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverC, 0.5);
  EXPECT_TRUE(backend_->Transcript().empty());
}

TEST_F(LammDialogTest, LeavingTheMovingHatWithAFixedStepDropsTheStepAndAsksAgain) {
  LammSettings().bAutoFEAlgorithm = false;
  LammSettings().bFixTimeStep = true;
  backend_->QueueDialog(IDOK, TransferBuffer{{}, {{624, true}}});
  backend_->QueueMessageBox(IDOK, "TARMIC");
  backend_->QueueDialog(IDOK);
  backend_->QueueMessageBox(IDNO, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_FALSE(LammSettings().bFixTimeStep);
  EXPECT_TRUE(LammSettings().bClaverie);
  EXPECT_EQ(Boxes()[0].second, "switching off fixed dt - confirm");
}

TEST_F(LammDialogTest, OnlyCheckAccelerationChangedDoesNotOfferToSave) {
  backend_->QueueDialog(IDOK, TransferBuffer{{}, {{924, false}}});
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_FALSE(LammSettings().bCheckAcceleration);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LammDialogTest, ChangedAlgorithmOffersToSaveAndYesWritesTheFile) {
  backend_->QueueDialog(IDOK, TransferBuffer{{}, {{620, true}}});
  backend_->QueueMessageBox(IDYES, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_TRUE(AnalysisSwitches().bTimesFromW2t);
  EXPECT_FALSE(AnalysisSwitches().bRampRotorSpeed);
  ResetLammSettings();
  EXPECT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
  EXPECT_TRUE(AnalysisSwitches().bTimesFromW2t);
}

TEST_F(LammDialogTest, IntensityDataCannotUseTheExperimentalInitialDistribution) {
  ScanFile().bIntensityData = true;
  backend_->QueueDialog(IDOK, TransferBuffer{{}, {{630, true}}});
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_FALSE(AnalysisSwitches().bInitialDataProfile);
  EXPECT_TRUE(AnalysisSwitches().bUniformLoading);
}

TEST_F(LammDialogTest, ChangedGridSizeResizesTheSimulationArrays) {
  int resizedTo = 0;
  GetModelFitHooks().resizeSimArrays = [&](int n) {
    resizedTo = n;
    return true;
  };
  backend_->QueueDialog(IDOK, TransferBuffer{{{616, "3000.7"}}, {}});
  backend_->QueueMessageBox(IDNO, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 3000);
  EXPECT_EQ(LammSettings().nLammGridPoints, 3000);
  EXPECT_EQ(resizedTo, 3000);
}

// Grid values no grid can be built from keep the dialog open, one message naming
// the field for each; the values are taken once all can be used.
TEST_F(LammDialogTest, GridValuesOutOfRangeAreRefusedNamingTheField) {
  backend_->QueueDialog(IDOK, TransferBuffer{{{617, "1000000"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, TransferBuffer{{{617, "10"}, {616, "3e9"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, TransferBuffer{{{616, "1000"}, {619, "1000"}, {618, "3000"}}, {}});
  backend_->QueueMessageBox(IDOK, "Input Error");
  backend_->QueueDialog(IDOK, TransferBuffer{{{618, "100"}}, {}});
  backend_->QueueMessageBox(IDNO, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_TRUE(backend_->AllAnswersUsed());
  ASSERT_GE(Boxes().size(), 3u);
  EXPECT_EQ(Boxes()[0].second, "the \"points per sigma\" 1e+06 must lie between 0.01 and 1000");
  EXPECT_EQ(Boxes()[1].second,
            "the \"default FE grid size\" 3e+09 grid points must lie between 5 and 100000 grid points");
  EXPECT_EQ(Boxes()[2].second,
            "the \"lower limit\" 3000 of the grid size must not be above its \"upper limit\" 1000");
  EXPECT_EQ(backend_->BeepCount(), 3);
  EXPECT_EQ(LammSettings().fPointsPerSigma, 10.0f);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 1000);
  EXPECT_EQ(LammSettings().nGridSizeLower, 100);
}

TEST_F(LammDialogTest, CancelChangesNothing) {
  backend_->QueueDialog(IDCANCEL, TransferBuffer{{{616, "50"}}, {{623, true}}});
  EXPECT_FALSE(RunLammParametersDialog(nullptr, record_));
  EXPECT_EQ(LammSettings().nDefaultGridPoints, 1000);
  EXPECT_FALSE(LammSettings().bFixTimeStep);
}

}  // namespace
}  // namespace tarmic

namespace tarmic {
namespace {

// Every edit of the Lamm dialog, typed with a text that is no number, a negative
// number or an absurd one, is refused with one box naming the setting and its
// range; the values it opens with pass OK unchanged. A negative s of the moving
// grid (a frame floating with a floating species) is taken by the dialog and by
// the settings file.
TEST_F(LammDialogTest, EveryFieldRefusesNoNumbersAndAbsurdValuesNamingTheSetting) {
  backend_->QueueDialog(IDOK);
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_TRUE(Boxes().empty());
  const TransferBuffer opened = record_;
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kLammParamsDialogId));
  for (const DialogField& f : LammDialogFields()) {
    // Named as the dialog labels the field.
    std::string label(ControlLabel(dialog, f.id));
    while (!label.empty() && label.back() == ' ') label.pop_back();
    const std::string name = "the \"" + label + "\"";
    // "When optimized" and the truncation exponent are signed: -1e30 is absurd there.
    for (const char* typed : {"nan", "inf", "-inf", "abc", "", "-1", "1e30", "-1e30"}) {
      const std::string text = typed;
      if (text == "-1" && (f.id == 639 || f.id == 643 || f.id == 627)) continue;
      SCOPED_TRACE(std::to_string(f.id) + " = \"" + text + "\"");
      backend_->ClearTranscript();
      backend_->QueueDialog(IDOK, TransferBuffer{{{f.id, text}}, {}});
      backend_->QueueMessageBox(IDOK, "Input Error");
      backend_->QueueDialog(IDCANCEL);
      EXPECT_FALSE(RunLammParametersDialog(nullptr, record_));
      ASSERT_EQ(Boxes().size(), 1u);
      EXPECT_EQ(Boxes()[0].second.rfind(name, 0), 0u) << Boxes()[0].second;
      EXPECT_NE(Boxes()[0].second.find(" must lie between "), std::string::npos) << Boxes()[0].second;
      record_ = opened;
    }
  }
  backend_->ClearTranscript();
  backend_->QueueDialog(IDOK, TransferBuffer{{{627, "-5"}}, {{626, false}}});
  backend_->QueueMessageBox(IDNO, "LAMM EQUATION PARAMETERS");
  EXPECT_TRUE(RunLammParametersDialog(nullptr, record_));
  EXPECT_DOUBLE_EQ(LammSettings().dAutoSGridValue, -5.0);
  std::vector<float> settings = LammSettingsVector();
  ResetLammSettings();
  {
    std::ofstream out(szLammParamsIni);
    for (const float v : settings) out << v << "\n";
  }
  backend_->ClearTranscript();
  ASSERT_EQ(ReadLammEqParameterPreferences(nullptr), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_DOUBLE_EQ(LammSettings().dAutoSGridValue, -5.0);
  EXPECT_FALSE(LammSettings().bAutoSGrid);
}

}  // namespace
}  // namespace tarmic
