// The Monte-Carlo command on a computed c(s): its questions, the limits shown until
// its last box is closed, and the distribution of the measured data afterwards; the
// prior from the distribution's peaks reruns the analysis with that prior.
#include "distribution_window_test_support.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelfit/model_params.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class MonteCarloCommandTest : public DistributionWindowTest {
 protected:
  void RunSmallCs() {
    LoadSyntheticRun();
    ChooseSmallCs();
    Dispatch(kCmRun);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  }
  static std::vector<float> Shown() { return std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1); }
};

// A count of sets beyond what the analysis takes, or a confidence level outside
// (0, 1), is asked again with the reason, not silently.
TEST_F(MonteCarloCommandTest, SetsAndConfidenceOutsideTheirRangesAreAskedAgainWithTheReason) {
  RunSmallCs();
  Backend().QueueInput("200000");
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");
  Backend().QueueInput("1.5");
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");
  Backend().QueueInput("5");
  Backend().QueueInput("1");
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmMonteCarloDistributions);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{
                "the number of Monte-Carlo data sets 200000 must lie between 2 and 100000",
                "the number of Monte-Carlo data sets 1.5 must be a whole number between 2 and 100000",
                "the confidence level 1 must lie between 0.0001 and 0.9999"}));
}

TEST_F(MonteCarloCommandTest, MonteCarloShowsLimitsThenTheMeasuredDistribution) {
  // Without a distribution the command says so.
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmMonteCarloDistributions);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  RunSmallCs();
  const std::vector<float> shown = Shown();
  const std::string dir = ProgramDir() + "/mc";
  std::filesystem::create_directories(dir);
  Backend().QueueInput("5");     // sets
  Backend().QueueInput("0.68");  // confidence
  Backend().QueueFolder(dir);
  Backend().QueueMessageBox(IDNO);                                   // not every set
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");  // the summary
  Dispatch(kCmMonteCarloDistributions);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(std::filesystem::exists(dir + "/mean.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/1.dat"));
  EXPECT_FALSE(MonteCarloResultsAvailable());
  EXPECT_FALSE(Win().bRunInProgress);
  EXPECT_EQ(Shown(), shown);

  // The prior of the distribution's peaks: the analysis runs again with it.
  Dispatch(kCmPriorDiscreteSpecies);
  EXPECT_TRUE(DistributionModels().bUsePrior);
  EXPECT_TRUE(DistributionPrior().bPriorFromDiscreteSpecies);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_GT(DistributionPrior().pPriorTableX.size(), 2u);
}

// The summary names the folder the dialog chose and every file the run wrote there.
TEST_F(MonteCarloCommandTest, TheSummaryNamesTheFolderAndEveryFileWritten) {
  RunSmallCs();
  const std::string dir = ProgramDir() + "/mc files";
  std::filesystem::create_directories(dir);
  Backend().ClearTranscript();
  Backend().QueueInput("4");     // sets
  Backend().QueueInput("0.68");  // confidence: limits at the 16 % and 84 % points
  Backend().QueueFolder(dir);
  Backend().QueueMessageBox(IDYES);  // every set to a file
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");
  Dispatch(kCmMonteCarloDistributions);
  ASSERT_TRUE(Backend().AllAnswersUsed());
  const std::string summary = Backend().Transcript().back().text;
  EXPECT_EQ(summary.rfind("4 sets: the plot shows the mean and the limits at P = 0.680.", 0), 0u) << summary;
  EXPECT_NE(summary.find("folder " + dir + ":"), std::string::npos) << summary;

  std::set<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    written.insert(entry.path().filename().string());
  EXPECT_EQ(written, (std::set<std::string>{"lim840.dat", "lim160.dat", "mean.dat", "0.dat", "1.dat",
                                            "2.dat", "3.dat", "4.dat"}));
  for (const char* file : {"lim840.dat", "lim160.dat", "mean.dat", "0.dat ... 4.dat"})
    EXPECT_NE(summary.find(std::string("\n  ") + file + "  ("), std::string::npos) << file;
}

// While the summary is open the window shows the mean with the two limit curves
// (upper red, lower blue), also after a paint request meanwhile; the summary speaks of replacing files only when
// the folder held files of an earlier run.
TEST_F(MonteCarloCommandTest, TheSummaryIsShownOverTheMeanAndBothLimitsAndSaysOnlyWhatHappened) {
  RunSmallCs();
  const std::string dir = ProgramDir() + "/mc limits";
  std::filesystem::create_directories(dir);
  for (const bool earlierRun : {false, true}) {
    std::string summary;
    int upper = 0, lower = 0;
    bool meanShown = false;
    HeadlessBackend::UnscriptedRules rules;
    rules.box = [&](std::string_view text, std::string_view caption, unsigned) {
      if (caption == "Monte Carlo for Distributions" && text.find(" sets: ") != std::string_view::npos) {
        summary = std::string(text);
        // The distribution curve holds the mean, beside the two limit curves.
        meanShown = DistributionPlot().pDistPlot && DistributionPlot().pDistPlot->nCurves == 3 && ContiMonteCarlo().pMCMean.size() == Idx(DistributionVectors().nDistGrid) + 1 &&
                    std::equal(ContiMonteCarlo().pMCMean.begin() + 1, ContiMonteCarlo().pMCMean.end(), DistributionVectors().pDistValues + 1);
        Paint();  // a paint request while the box is open keeps the picture
        upper = InkInRows(635, 945, true);
        const Image& screen = Handle().Screen();
        for (int y = 635 * screen.Height() / 1000; y < 945 * screen.Height() / 1000; ++y)
          for (int x = 0; x < screen.Width(); ++x) lower += screen.Pixel(x, y) == RGB(0, 0, 255);
      }
      // Yes to replacing the earlier run's files, No to writing every set.
      return text.find("already exist") != std::string_view::npos ? IDYES : IDNO;
    };
    Backend().SetUnscriptedRules(rules);
    Backend().QueueInput("6");
    Backend().QueueInput("0.68");
    Backend().QueueFolder(dir);
    Dispatch(kCmMonteCarloDistributions);
    ASSERT_TRUE(Backend().AllAnswersUsed());
    ASSERT_FALSE(summary.empty());
    EXPECT_EQ(summary.find("replacing") != std::string::npos, earlierRun) << summary;
    EXPECT_TRUE(meanShown);
    EXPECT_GT(upper, 20) << "the upper limit is drawn";
    EXPECT_GT(lower, 20) << "the lower limit is drawn";
  }
}

// The result files go to a folder chosen in the folder dialog, which opens in the
// data folder (not the program's working folder); Cancel there computes nothing.
TEST_F(MonteCarloCommandTest, TheResultFolderIsChosenStartingInTheDataFolder) {
  RunSmallCs();
  const auto folderDialogs = [&] {
    std::vector<std::pair<std::string, std::string>> shown;
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.kind == "Folder") shown.emplace_back(e.caption, e.text);
    return shown;
  };
  const std::pair<std::string, std::string> expected{"folder for the Monte-Carlo result files",
                                                     DataSet().szDataDirectory};
  Backend().ClearTranscript();
  Backend().QueueInput("3");
  Backend().QueueInput("0.68");
  Backend().QueueFolder(std::nullopt);
  Dispatch(kCmMonteCarloDistributions);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(folderDialogs(), (std::vector<std::pair<std::string, std::string>>{expected}));
  EXPECT_FALSE(std::filesystem::exists(DataSet().szDataDirectory + "/mean.dat"));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});

  const std::string dir = ProgramDir() + "/chosen";
  std::filesystem::create_directories(dir);
  Backend().ClearTranscript();
  Backend().QueueInput("3");
  Backend().QueueInput("0.68");
  Backend().QueueFolder(dir);
  Backend().QueueMessageBox(IDNO);  // not every set
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");
  Dispatch(kCmMonteCarloDistributions);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(folderDialogs(), (std::vector<std::pair<std::string, std::string>>{expected}));
  EXPECT_TRUE(std::filesystem::exists(dir + "/mean.dat"));
  EXPECT_FALSE(std::filesystem::exists(DataSet().szDataDirectory + "/mean.dat"));
}

// The integrated weight-average s: with both regularisations shown the command says
// first that the sets use maximum entropy; after the sets it shows their statistics,
// then the summary, in that order.
TEST_F(MonteCarloCommandTest, IntegratedSwShowsItsStatisticsBeforeTheSummary) {
  RunSmallCs();
  const std::string dir = ProgramDir() + "/mcsw";
  std::filesystem::create_directories(dir);
  bRegShowBoth = true;
  Backend().ClearTranscript();
  Backend().QueueInput("5");     // sets
  Backend().QueueInput("0.68");  // confidence
  Backend().QueueFolder(dir);
  Backend().QueueMessageBox(IDNO);  // not every set
  Backend().QueueInput("2");        // lower integration limit
  Backend().QueueInput("9");        // upper integration limit
  for (int box = 0; box < 3; ++box)
    Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");
  Dispatch(kCmMonteCarloIntegratedSw);
  bRegShowBoth = false;
  EXPECT_TRUE(Backend().AllAnswersUsed());
  std::vector<std::string> boxes;
  for (const TranscriptEntry& e : Backend().Transcript())
    if (e.kind == "MessageBox" && e.caption == "Monte Carlo for Distributions")
      boxes.push_back(e.text);
  ASSERT_EQ(boxes.size(), 4u);  // the question on writing every set first
  EXPECT_EQ(boxes[1], "only calculating for maximum entropy regularization");
  EXPECT_EQ(boxes[2].rfind("average sw = ", 0), 0u) << boxes[2];
  EXPECT_EQ(boxes[3].rfind("5 sets: ", 0), 0u) << boxes[3];
  EXPECT_FALSE(MonteCarloResultsAvailable());
}

// On c(M) the integration limits are molar masses, as the distribution's grid:
// limits in S take in no part of it and are refused before any set is computed;
// limits in M give the weight-average M of the species.
TEST_F(MonteCarloCommandTest, IntegratedWeightAverageOfCMTakesLimitsInM) {
  LoadSyntheticRun();
  ChooseSmallCM();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_FALSE(IsSGridModel());
  const std::string dir = ProgramDir() + "/mcm";
  std::filesystem::create_directories(dir);
  const auto ask = [&](const char* lower, const char* upper) {
    Backend().ClearTranscript();
    Backend().QueueInput("5");     // sets
    Backend().QueueInput("0.68");  // confidence
    Backend().QueueFolder(dir);
    Backend().QueueMessageBox(IDNO);  // not every set
    Backend().QueueInput(lower);
    Backend().QueueInput(upper);
  };

  ask("2", "9");
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmMonteCarloIntegratedSw);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(BoxTexts()[1].rfind("the integration limits 2 to 9 take in no part of the distribution", 0),
            0u)
      << BoxTexts()[1];
  EXPECT_FALSE(std::filesystem::exists(dir + "/mean.dat"));

  ask("20000", "400000");
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");  // the statistics
  Backend().QueueMessageBox(IDOK, "Monte Carlo for Distributions");  // the summary
  Dispatch(kCmMonteCarloIntegratedSw);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(BoxTexts().size(), 3u);
  const float mw = NumberAfter(BoxTexts()[1], "average sw = ");
  const double mass = CalculateM(static_cast<float>(kSyntheticS));
  EXPECT_NEAR(mw, mass, 0.1 * mass) << BoxTexts()[1];
  EXPECT_NEAR(NumberAfter(BoxTexts()[1], "average c = "), kSyntheticLoading, 0.1 * kSyntheticLoading);
}

}  // namespace
}  // namespace tarmic::testing
