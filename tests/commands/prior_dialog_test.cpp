// "Use Prior Probabilities": the dialog refuses invalid entries with a reason and
// changes nothing on Cancel; a Gaussian peak typed in becomes the prior of the next
// Run's grid, which the maximum-entropy distribution follows where the data are
// silent; a prior file is checked when chosen, interpolated onto the grid, switched
// off with "Use Prior" and on again by its source button.
#include "distribution_window_test_support.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "modelfit/model_options.h"
#include "modelfit/params_dialog.h"
#include "scandata/radial_grid.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class PriorDialogTest : public DistributionWindowTest {
 protected:
  void TearDown() override {
    ResetDistributionPrior();
    DistributionModels().bUsePrior = false;
    DistributionWindowTest::TearDown();
  }

  // The distribution at the grid point nearest to s over that nearest to 9.2 S,
  // where the data hold no species.
  static double SilentRatio(double s) {
    auto nearest = [](double x) {
      int best = 1;
      for (int i = 2; i <= DistributionVectors().nDistGrid; ++i)
        if (std::fabs(DistributionVectors().pDistGrid[i] - x) < std::fabs(DistributionVectors().pDistGrid[best] - x)) best = i;
      return best;
    };
    return DistributionVectors().pDistValues[nearest(s)] / DistributionVectors().pDistValues[nearest(9.2)];
  }

  // Run, with the note on the ratio answered.
  void RunAtRatio2() {
    Backend().QueueMessageBox(IDOK, "");
    Dispatch(kCmRun);
  }
  static TransferBuffer PeakAnswer(const char* width) {
    TransferBuffer answer;
    answer.checked = {{818, true}, {820, true}, {778, true}};
    answer.text = {{788, "2.0"}, {798, width}, {808, "10"}};
    return answer;
  }
};

TEST_F(PriorDialogTest, PeaksAndFilesBecomeThePriorOfTheNextRun) {
  LoadSyntheticRun();
  ChooseSmallCs();
  // Maximum entropy at a chi-square ratio of 2 (the program says so in a note):
  // regularised strongly enough for the reference to shape the silent regions.
  bRegMaxEnt = true;
  AnalysisSwitches().pParams[kContiSlotConfidence] = 2.0f;
  UnpackModelParams();
  RunAtRatio2();
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const double silentWithout = SilentRatio(2.0);

  // A negative width is refused with its reason; Cancel then changes nothing.
  Backend().QueueDialog(IDOK, PeakAnswer("-0.4"));
  Backend().QueueMessageBox(IDOK, "Input Error");
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_NE(BoxText("Input Error").find("peak #1"), std::string::npos);
  EXPECT_FALSE(DistributionModels().bUsePrior);
  EXPECT_EQ(DistributionPrior().pPriorPeakWidth[1], -1.0);

  // A Gaussian of area 10 and width 0.4 S at 2 S, away from the species at 5 S: the
  // next Run's prior is 0.001 + 10 exp(-(2 - s)^2 / 0.4^2) / (1.772 x 0.4) on its
  // grid.
  Backend().QueueDialog(IDOK, PeakAnswer("0.4"));
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_TRUE(DistributionModels().bUsePrior);
  EXPECT_EQ(DistributionPrior().pPriorPeakLocation[1], 2.0);
  EXPECT_NEAR(DistributionPrior().pPriorPeakWidth[1], 0.4, 1e-6);
  RunAtRatio2();
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
    const double d = 2.0 - DistributionVectors().pDistGrid[i];
    EXPECT_NEAR(DistributionVectors().pPriorProbability[i], 0.001 + 10.0 * std::exp(-d * d / 0.16) / (1.772 * 0.4), 1e-5)
        << i;
  }
  // Maximum entropy takes the prior as its reference: where the data are silent the
  // distribution follows its shape.
  EXPECT_GT(SilentRatio(2.0), 1000.0 * silentWithout);

  // The dialog shows the peak again; an unusable file is reported and changes
  // nothing.
  Backend().QueueDialog(IDOK, TransferBuffer{{}, {{819, true}, {821, true}}});
  const std::string bad = ProgramDir() + "/short.dat";
  WriteFile(bad, "1 1\n2 1\n");
  Backend().QueueOpenFiles({bad});
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(Win().priorParamsTransfer.text[788], "2.000 ");
  EXPECT_EQ(Win().priorParamsTransfer.text[777], "no filename selected");
  EXPECT_TRUE(DistributionPrior().szPriorFile.empty());

  // A valid file: its weights interpolated onto the grid (linear in s here).
  const std::string good = ProgramDir() + "/prior.dat";
  std::string table;
  for (int k = 0; k <= 12; ++k) table += std::to_string(k) + " " + std::to_string(1.0 + k) + "\n";
  WriteFile(good, table);
  Backend().QueueDialog(IDOK, TransferBuffer{{}, {{819, true}, {821, true}}});
  Backend().QueueOpenFiles({good});
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(DistributionPrior().szPriorFile, good);
  RunAtRatio2();
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) EXPECT_NEAR(DistributionVectors().pPriorProbability[i], 1.0 + DistributionVectors().pDistGrid[i], 1e-4);

  // "Use Prior" off switches the file off; the file's source button alone switches
  // the prior on again with the same file.
  Backend().QueueDialog(IDOK, TransferBuffer{{}, {{818, false}}});
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_FALSE(DistributionModels().bUsePrior);
  EXPECT_TRUE(DistributionPrior().szPriorFile.empty());
  Backend().QueueDialog(IDOK, TransferBuffer{{}, {{819, true}}});
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(Win().priorParamsTransfer.text[777], good);
  EXPECT_TRUE(DistributionModels().bUsePrior);
  EXPECT_EQ(DistributionPrior().szPriorFile, good);
}

TEST_F(PriorDialogTest, PriorStandsOverTheDistributionWithItsPeakAtTheTopOfTheRange) {
  LoadSyntheticRun();
  ChooseSmallCs();
  // A Gaussian prior of width 0.4 S at 2 S.
  Backend().QueueDialog(IDOK, PeakAnswer("0.4"));
  Dispatch(kCmUsePriorProbabilities);
  ASSERT_TRUE(DistributionModels().bUsePrior);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);

  // The light-red pixels of the screen: how many, and the highest of them.
  const Color light = RGB(255, 100, 100);
  auto lightRed = [&](int* count, Point* top) {
    const Image& screen = Handle().Screen();
    *count = 0;
    *top = Point{-1, screen.Height()};
    for (int y = 0; y < screen.Height(); ++y)
      for (int x = 0; x < screen.Width(); ++x)
        if (screen.Pixel(x, y) == light) {
          if (y < top->y) *top = Point{x, y};
          ++*count;
        }
  };
  int count = 0;
  Point top;
  Paint();
  lightRed(&count, &top);
  EXPECT_GT(count, 20);
  // The prior's peak lies at 2 S (the grid point nearest it) and touches the top of
  // the range the plot shows.
  const int topRow =
      static_cast<int>(DistributionPlot().pDistPlot->MapY(DistributionPlot().pDistPlot->fYMax) * Win().fClientHeight / 1000.0);
  EXPECT_NEAR(top.y, topRow, 2);
  EXPECT_NEAR(top.x, ColumnOf(2.0f), ColumnOf(2.4f) - ColumnOf(2.0f));

  // A prior without a positive value has no shape to show.
  std::vector<double> kept(DistributionVectors().pPriorProbability + 1, DistributionVectors().pPriorProbability + DistributionVectors().nDistGrid + 1);
  std::fill(DistributionVectors().pPriorProbability + 1, DistributionVectors().pPriorProbability + DistributionVectors().nDistGrid + 1, 0.0);
  Paint();
  lightRed(&count, &top);
  EXPECT_EQ(count, 0);
  std::copy(kept.begin(), kept.end(), DistributionVectors().pPriorProbability + 1);

  // Without a prior nothing is drawn.
  DistributionModels().bUsePrior = false;
  Paint();
  lightRed(&count, &top);
  EXPECT_EQ(count, 0);
}

// The peak rows of the prior dialog and the answers asked after the Parameters
// dialog's "c1 nonideal" had no ranges: an amplitude of 500 (the dialog gives 0.01
// to 100 beside the field), a width of 1e30 S, a location of -2e9 S, log10 ks of
// 50 (10^50 leaves the float range) and a signal per mg/ml of 0 (the signal is
// divided by it) were taken. Each is refused naming the peak or the answer, the
// value and the range; the dialog stays open, the question is asked again. The
// Parameters dialog refuses a bottom of 0 with data loaded as the parameter file
// does.
TEST_F(PriorDialogTest, PeakRowsNonidealAnswersAndAnUnsetBottomAreJudgedLikeTheFiles) {
  const struct {
    int field;
    const char* text;
    const char* reason;
  } kRows[] = {
      {808, "500", "the peak #1 amplitude 500 must lie between 0.01 and 100 (0: not set)"},
      {798, "1e30", "the peak #1 width 1e+30 S must lie between 0 and 1e+08 S"},
      {788, "-2e9", "the peak #1 location -2e+09 S must lie between -1e+08 and 1e+08 S"},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.text);
    TransferBuffer answer = PeakAnswer("0.4");
    answer.text[r.field] = r.text;
    Backend().ClearTranscript();
    Backend().QueueDialog(IDOK, answer);
    Backend().QueueMessageBox(IDOK, "Input Error");
    Backend().QueueDialog(IDCANCEL);
    Dispatch(kCmUsePriorProbabilities);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(BoxText("Input Error"), r.reason);
    EXPECT_FALSE(DistributionModels().bUsePrior);
  }
  // A row left unticked is emptied on OK: its values need only be numbers.
  TransferBuffer answer = PeakAnswer("0.4");
  answer.checked[779] = false;
  answer.text[809] = "500";
  Backend().QueueDialog(IDOK, answer);
  Dispatch(kCmUsePriorProbabilities);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(DistributionModels().bUsePrior);
  EXPECT_DOUBLE_EQ(DistributionPrior().pPriorPeakAmplitude[1], 10.0);
  EXPECT_EQ(DistributionPrior().pPriorPeakAmplitude[2], 0.0);

  Dispatch(kCmDiscreteSpecies);
  TransferBuffer record;
  InitParamsTransfer(record);
  TransferBuffer c1;
  c1.checked = {{kIdC1Nonideal, true}};
  Backend().ClearTranscript();
  Backend().QueueDialog(IDOK, c1);
  Backend().QueueInput("50");
  Backend().QueueMessageBox(IDOK, "NONIDEAL COMPONENT 1");
  Backend().QueueInput("-1.5");
  Backend().QueueMessageBox(IDNO, "NONIDEAL COMPONENT 1");  // fit ks?
  Backend().QueueInput("-2");
  Backend().QueueMessageBox(IDNO, "NONIDEAL COMPONENT 1");  // fit kd?
  Backend().QueueInput("0");
  Backend().QueueMessageBox(IDOK, "NONIDEAL COMPONENT 1");
  Backend().QueueInput("3.3");
  EXPECT_TRUE(RunParametersDialog(nullptr, record));
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FLOAT_EQ(ModelOptions().fLogKs, -1.5f);
  EXPECT_FLOAT_EQ(ModelOptions().fLogKd, -2.0f);
  EXPECT_DOUBLE_EQ(DataSet().dSignalPerConcentration, static_cast<double>(3.3f));
  std::vector<std::string> refusals;
  for (const TranscriptEntry& e : Backend().Transcript())
    if (e.kind == "MessageBox" && e.text.find("must lie") != std::string::npos) refusals.push_back(e.text);
  EXPECT_EQ(refusals, (std::vector<std::string>{"the log10(ks/(mg/ml)) 50 must lie between -30 and 2",
                                                "the signal per mg/ml 0 must lie between 1e-06 and 1e+09"}));

  // The signal per mg/ml in the dialog of a non-ideal species, which the signal is
  // divided by, refused at 0 as the answer above is.
  Dispatch(kCmNonidealSingle);
  InitParamsTransfer(record);
  TransferBuffer perConc;
  perConc.text = {{440, "0"}};
  Backend().ClearTranscript();
  Backend().QueueDialog(IDOK, perConc);
  Backend().QueueMessageBox(IDOK, "Input Error");
  Backend().QueueDialog(IDCANCEL);
  EXPECT_FALSE(RunParametersDialog(nullptr, record));
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::string perConcRefusal = BoxText("Input Error");
  EXPECT_NE(perConcRefusal.find(" 0 must lie between 1e-06 and 1e+09"), std::string::npos) << perConcRefusal;
  EXPECT_DOUBLE_EQ(DataSet().dSignalPerConcentration, static_cast<double>(3.3f));

  // A bottom of 0 in the Parameters dialog with data loaded: the next grid rebuilt
  // moved the right fitting limit to -0.01 cm and the left one next to the
  // meniscus. Refused as the parameter file refuses it; the limits stay.
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  TransferBuffer bottom;
  bottom.text = {{437, "0"}};
  Backend().ClearTranscript();
  Backend().QueueDialog(IDOK, bottom);
  Backend().QueueMessageBox(IDOK, "Parameter Error");
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmParameters);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxText("Parameter Error"), "the meniscus 6 cm must lie below the bottom 0 cm");
  EXPECT_FLOAT_EQ(DataSet().fBottom, static_cast<float>(kCellBottom));
  BuildCommonRadialGrid();
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, kLeftLimit);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, kRightLimit);
}

}  // namespace
}  // namespace tarmic::testing
