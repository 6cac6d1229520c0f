// A fit of a floated meniscus or bottom that starts outside the range kept for it:
// the Fit proposes a range around the start first, as ticking the box does; a
// value left at the end of its range says how to widen it; and the range laid
// around a meniscus guessed from the data reaches a true meniscus below them.
// The data: 3 S and 7 S, made by Generate Single with noise 0.006.
#include <filesystem>
#include <string>
#include <vector>

#include "distribution_window_test_support.h"
#include "distributions/distribution_grid.h"
#include "modelcalc/fit_result_text.h"
#include "modelfit/fit_limit_prompts.h"
#include "numerics/hydrodynamics.h"
#include "resources/menus.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kNoise = 0.006;
constexpr const char* kMeniscusTitle = "SET RANGE FOR MENISCUS VARIATION";
constexpr const char* kBottomTitle = "SET RANGE FOR BOTTOM VARIATION";

class FitStartRangeTest : public DistributionWindowTest {
 protected:
  std::string DataDir() { return ProgramDir() + "/data"; }

  // 3 S and 7 S (f/f0 1.2, loading 0.4 each) in the 6.0-7.2 cm cell at 50,000 rpm,
  // 10 scans 600 s apart, 0.01 cm apart: generated, written and loaded.
  void GenerateThreeAndSevenS() {
    SetCellAndLimits();
    Dispatch(kCmDiscreteSpecies);
    const float s[3] = {0.0f, 3.0f, 7.0f};
    for (int k = 1; k <= 2; ++k) {
      AnalysisSwitches().pSpeciesLinked[k] = 1;
      ModelParams().pSpeciesS[k] = s[k];
      ModelParams().pSpeciesMassOrD[k] = DFromM(CalculateM(s[k]), 20.0f) * 1e7f;
      ModelParams().pSpeciesAmplitude[k] = 0.4f;
    }
    PackModelParams();
    fs::create_directories(DataDir());
    for (const char* answer : {"0.01", "50000"}) Backend().QueueInput(std::string(answer));
    Backend().QueueMessageBox(IDNO, "GENERATE DATA");  // no acceleration phase
    for (const char* answer : {"600", "10", "0.006"}) Backend().QueueInput(std::string(answer));
    Backend().QueueSaveFile(DataDir() + "/anything.ra0");
    Dispatch(kCmGenerateSingle);
    ASSERT_EQ(DataSet().nScans, 10);
    SetCellAndLimits();
    Backend().ClearTranscript();
  }

  // The meniscus ticked and typed as its start in the Parameters dialog.
  void MeniscusStart(const char* start) {
    TransferBuffer answers;
    answers.checked[434] = true;
    answers.text[435] = start;
    Backend().QueueDialog(IDOK, answers);
    PressKeyAndRun('P', MK_CONTROL);
    ASSERT_TRUE(ModelParams().bVaryMeniscus);
  }

  // The "Input" boxes shown: title and the value proposed.
  std::vector<std::pair<std::string, float>> RangeQuestions() {
    std::vector<std::pair<std::string, float>> asked;
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.kind == "Input") asked.emplace_back(e.caption, std::stof(e.initial));
    return asked;
  }

  // Amplitude-weighted mean s of the distribution between lo and hi.
  static double MeanS(double lo, double hi) {
    double sum = 0.0, weighted = 0.0;
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
      if (DistributionVectors().pDistGrid[i] < lo || DistributionVectors().pDistGrid[i] > hi || DistributionVectors().pDistValues[i] <= 0.0f) continue;
      sum += DistributionVectors().pDistValues[i];
      weighted += DistributionVectors().pDistValues[i] * DistributionVectors().pDistGrid[i];
    }
    return sum > 0.0 ? weighted / sum : 0.0;
  }
};

// The meniscus box already ticked with the range kept at 6.03-6.07: typing 6.00
// asks nothing, and the Fit first proposes 5.98-6.02 around the start. Taken, the
// fit finds the meniscus of the data, the noise and both species. Answered with the
// kept range again, it ends at 6.03: its note says that it ended at a bound, and the
// fit-result text names the command that widens the range, as the Options menu shows it.
TEST_F(FitStartRangeTest, FitStartedOutsideTheMeniscusRangeProposesARangeAroundTheStart) {
  GenerateThreeAndSevenS();
  DataSet().fMinMeniscus = 6.03f;
  DataSet().fMaxMeniscus = 6.07f;
  DataSet().bFitRangesSet = AnalysisSwitches().bVariationRangesAsked = true;
  ChooseSmallCs();
  MeniscusStart("6.00");
  EXPECT_TRUE(RangeQuestions().empty());

  Backend().ClearTranscript();
  Backend().QueueInput(std::string("6.02"));
  Backend().QueueInput(std::string("5.98"));
  PressKeyAndRun('F', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::vector<std::pair<std::string, float>> asked = RangeQuestions();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].first, kMeniscusTitle);
  EXPECT_NEAR(asked[0].second, 6.02f, 1e-4f);
  EXPECT_NEAR(asked[1].second, 5.98f, 1e-4f);
  EXPECT_NEAR(DataSet().fMeniscus, 6.0, 0.003);
  EXPECT_LT(FitRmsd(), 1.15 * kNoise);
  EXPECT_EQ(AtLimitNote(), "");
  EXPECT_NEAR(MeanS(1.5, 5.0), 3.0, 0.15);
  EXPECT_NEAR(MeanS(5.0, 9.0), 7.0, 0.2);

  DataSet().fMinMeniscus = 6.03f;
  DataSet().fMaxMeniscus = 6.07f;
  MeniscusStart("6.00");
  Backend().ClearTranscript();
  Backend().QueueInput(std::string("6.07"));
  Backend().QueueInput(std::string("6.03"));
  // The fit ended at a bound: its note says that it did not converge.
  Backend().QueueMessageBox(IDOK, "Note");
  PressKeyAndRun('F', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  bool atBoundSaid = false;
  for (const TranscriptEntry& entry : Backend().Transcript())
    atBoundSaid = atBoundSaid || entry.text.find("it ended at a bound (Meniscus = 6.03)") != std::string::npos;
  EXPECT_TRUE(atBoundSaid);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.03f);
  const std::string note = AtLimitNote();
  EXPECT_EQ(note.find("Meniscus = 6.03 stands at its limit: no free optimum"), 0u) << note;
  EXPECT_NE(note.find("; widen its range with Set fit limits for meniscus & bottom (Options, Fitting Options)"),
            std::string::npos)
      << note;
  // The command named stands there in the menu the window attaches.
  bool named = false;
  for (const MenuItem& popup : GetMenuResource(kMenuVirez).items)
    for (const MenuItem& sub : popup.children)
      for (const MenuItem& item : sub.children)
        named = named || (item.id == kCmSetFitLimits && popup.text == "&Options" && sub.text == "Fitting Options" &&
                          item.text.starts_with("Set fit limits for meniscus"));
  EXPECT_TRUE(named) << note;
}

// The bottom the same way: a floated bottom outside its kept range is asked for
// before the fit, and a Cancel there fits nothing.
TEST_F(FitStartRangeTest, FitStartedOutsideTheBottomRangeAsksAndCancelFitsNothing) {
  GenerateThreeAndSevenS();
  ChooseSmallCs();
  DataSet().fMinBottom = 7.25f;
  DataSet().fMaxBottom = 7.3f;
  DataSet().bFitRangesSet = AnalysisSwitches().bVariationRangesAsked = true;
  AnalysisSwitches().pParamFitFlags[14] = 1;
  UnpackModelParams();
  ASSERT_TRUE(ModelParams().bVaryBottom);
  AnalysisSwitches().bModelComputed = false;
  Backend().ClearTranscript();
  Backend().QueueInput(std::nullopt);
  PressKeyAndRun('F', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::vector<std::pair<std::string, float>> asked = RangeQuestions();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].first, kBottomTitle);
  EXPECT_NEAR(asked[0].second, 7.2f + 0.05f, 1e-4f);
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.2f);
  EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.25f);
}

// Data cut at 6.02 cm, 0.02 cm beyond the meniscus, loaded without a meniscus: the
// guess is their first radius, and the range kept for the meniscus holds the true
// one inside (not at its end), so a fit from the guess finds it.
TEST_F(FitStartRangeTest, RangeAroundAGuessedMeniscusHoldsOneBelowTheData) {
  GenerateThreeAndSevenS();
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(DataDir())) {
    const std::string p = e.path().string();
    if (e.path().extension() != ".ra0" && e.path().extension() != ".RA0") continue;
    ScanRead s = ReadScan(p);
    std::vector<float> r{0.0f}, y{0.0f};
    for (std::size_t i = 0; i < s.r.size(); ++i)
      if (s.r[i] > 6.015f) {
        r.push_back(s.r[i]);
        y.push_back(s.y[i]);
      }
    const std::string cut = ProgramDir() + "/cut/" + e.path().filename().string();
    fs::create_directories(ProgramDir() + "/cut");
    ASSERT_TRUE(WriteScanFile(cut.c_str(), static_cast<int>(r.size()) - 1, r.data(), y.data(), nullptr, nullptr,
                              true, s.info));
    files.push_back(cut);
  }
  ASSERT_EQ(files.size(), 10u);
  DataSet().fMeniscus = DataSet().fBottom = DataSet().fFitLeftLim = DataSet().fFitRightLim = 0.0f;
  Backend().ClearTranscript();
  LoadThroughDialog(files);
  ASSERT_EQ(DataSet().nScans, 10);
  EXPECT_NEAR(DataSet().fMeniscus, 6.02, 1e-4);
  // Inside by at least a tenth of the default half-width (0.002 cm).
  EXPECT_LE(DataSet().fMinMeniscus, 6.0f - 0.002f);
  EXPECT_GT(DataSet().fMaxMeniscus, DataSet().fMeniscus);
}

// A series fits in batch mode, where nothing may be asked: the range around the
// start is taken as proposed.
TEST_F(FitStartRangeTest, SeriesTakesTheRangeAroundTheStartWithoutAsking) {
  SetCellAndLimits();
  DataSet().fMeniscus = 6.0f;
  DataSet().fMinMeniscus = 6.03f;
  DataSet().fMaxMeniscus = 6.07f;
  DataSet().bFitRangesSet = AnalysisSwitches().bVariationRangesAsked = true;
  ModelParams().bVaryMeniscus = true;
  bBatchMode = true;
  EXPECT_TRUE(ProposeRangesHoldingStarts(&Handle()));
  bBatchMode = false;
  EXPECT_TRUE(RangeQuestions().empty());
  EXPECT_NEAR(DataSet().fMinMeniscus, 5.98f, 1e-5f);
  EXPECT_NEAR(DataSet().fMaxMeniscus, 6.02f, 1e-5f);
}

}  // namespace
}  // namespace tarmic::testing
