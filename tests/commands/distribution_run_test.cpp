// Run, integrate, copy, save and restore of continuous distributions with the whole
// window, on a synthetic run made with the Lamm solver.
#include "distribution_window_test_support.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/panes.h"
#include "commands/distribution_commands.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_integration.h"
#include "modelcalc/model_steps.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/model_params.h"
#include "services/path_table.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class DistributionRunTest : public DistributionWindowTest {
 protected:
  // Pixels of the distribution pane's rows that a paint colours only because of the
  // distribution plot's picture.
  int DistributionPaneInk() {
    Paint();
    const int with = InkInRows(635, 945);
    const auto hook = GetShellHooks().distributionPicture;
    GetShellHooks().distributionPicture = nullptr;
    Handle().Screen().Fill(kWhite);
    Paint();
    const int without = InkInRows(635, 945);
    GetShellHooks().distributionPicture = hook;
    return with - without;
  }
};

TEST_F(DistributionRunTest, RunComputesTheDistributionTheFitAndTheThirdPane) {
  LoadSyntheticRun();
  ChooseSmallCs();
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  EXPECT_FALSE(Win().bRunInProgress);
  EXPECT_FALSE(DataSet().bDataChanged);
  EXPECT_EQ(DistributionVectors().nDistGrid, 40);
  // Three panes: the data and residual panes moved up.
  EXPECT_EQ(nDataPaneBottom, 350);
  EXPECT_EQ(nResidualPaneTop, 405);
  EXPECT_EQ(nResidualPaneBottom, 575);
  // The fit lies over the data.
  EXPECT_LT(FitRmsd(), 3.0 * kSyntheticNoise);
  // The distribution has its peak at the species' s.
  float area = 0, mean = 0, total = 0;
  IntegrateDistribution(2.0f, 9.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(mean, kSyntheticS, 0.05 * kSyntheticS);
  EXPECT_NEAR(area, kSyntheticLoading, 0.1 * kSyntheticLoading);

  // The picture of the distribution in the third pane, with the integrate button.
  EXPECT_GT(DistributionPaneInk(), 200);
  Paint();
  ASSERT_NE(pIntegrateButton, nullptr);
  EXPECT_EQ(pIntegrateButton->CurrentLabel(), "integrate");
}

// Fit of s from a start 10 % off through Ctrl+F: s comes back, the fit lies over the
// data, and the best parameters are saved for the next load of these data.
TEST_F(DistributionRunTest, FitOfTheDiscreteModelRecoversTheSpeciesAndSavesIt) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  ModelParams().pSpeciesS[1] = static_cast<float>(1.1 * kSyntheticS);
  ModelParams().pSpeciesSFit[1] = 1;
  ModelParams().pSpeciesMassOrD[1] = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f) * 1e7f;
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
  PackModelParams();
  std::remove(DataSet().szTmpParsPath.c_str());
  PressKeyAndRun('F', MK_CONTROL);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], kSyntheticS, 0.01 * kSyntheticS);
  EXPECT_LT(FitRmsd(), 3.0 * kSyntheticNoise);
  EXPECT_TRUE(std::ifstream(DataSet().szTmpParsPath).good());
  EXPECT_FALSE(Win().bFitInProgress);
}

// Fit of a c(s) model with the meniscus floated, stopped by a key in its first
// evaluation: the command says the fit was interrupted (it did not converge), the
// start point is computed with regularisation and shown, and the c(s) parameters
// are saved.
TEST_F(DistributionRunTest, InterruptedFitOfCsIsReportedAndShowsTheBestPoint) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().pParamFitFlags[13] = 1;
  UnpackModelParams();
  std::remove(DataSet().szTmpParsPath.c_str());
  UiEvents().Post(Event::KeyDown('S'));
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmFit);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxText("ATTENTION"), "fit interrupted: the best parameters found so far are shown");
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NE(DistributionPlot().pDistPlot, nullptr);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, static_cast<float>(kCellMeniscus));
  EXPECT_LT(FitRmsd(), 3.0 * kSyntheticNoise);
  EXPECT_TRUE(std::ifstream(DataSet().szTmpParsPath).good());
  EXPECT_FALSE(Win().bFitInProgress);
}

// A Run that ends without a result after the last one made way for its new grid
// keeps that result on show: a kernel whose solution fails, a key press during the
// kernels, a grid set-up that fails after the release. The distribution and its
// grid, the plot with its curves and the integrate button, the fit rows,
// residuals and noise, bModelComputed and the rmsd stay; each error, and the note of
// the key, is shown once.
TEST_F(DistributionRunTest, RunEndingWithoutAResultKeepsTheLastOne) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  const auto rows = [](const std::vector<float*>& from, auto count) {
    std::vector<std::vector<float>> all;
    for (int s = 1; s <= DataSet().nScans; ++s) all.emplace_back(from[Idx(s)] + 1, from[Idx(s)] + count(s) + 1);
    return all;
  };
  const auto points = [](int s) { return DataSet().pnPoints[Idx(s)]; };
  struct Shown {
    std::vector<float> values, grid, ti, ri;
    std::vector<std::vector<float>> fit, residuals;
    const CWINPlot* plot;
    const CCurve* curve;
    double rmsd;
    bool operator==(const Shown&) const = default;
  };
  const auto shown = [&] {
    return Shown{{DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1},
                 {DistributionVectors().pDistGrid + 1, DistributionVectors().pDistGrid + DistributionVectors().nDistGrid + 1},
                 {CurrentGrid().pTINoise + 1, CurrentGrid().pTINoise + CurrentGrid().nGridPoints + 1},
                 {CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1},
                 rows(DataSet().ppFit, points),
                 rows(DataSet().ppResiduals, points),
                 DistributionPlot().pDistPlot,
                 DistributionPlot().pDistCurve,
                 FitRmsd()};
  };
  const Shown before = shown();
  ASSERT_TRUE(std::any_of(before.ri.begin(), before.ri.end(), [](float v) { return v != 0.0f; }));
  const int inkBefore = DistributionPaneInk();
  ASSERT_GT(inkBefore, 200);
  const std::string mofs = ProgramDir() + "/mofs.dat";
  std::ofstream(mofs) << "2 20\n";

  struct Case {
    const char* name;
    std::function<void()> set, unset;
    ContiRunOutcome outcome;
  } cases[] = {
      // D of the first grid point is not finite: its Lamm equation is refused. (The
      // frictional ratio reaches the kernels past the Run's check of the vector,
      // which refuses one of 1e-30.)
      {"failed kernel",
       [] {
         const auto apply = GetModelFitHooks().applyContinuousSettings;
         GetModelFitHooks().applyContinuousSettings = [apply] {
           if (apply) apply();
           SolventConstants().fFrictionalRatio = 1e-30f;
         };
       },
       [] {}, ContiRunOutcome::Failed},
      {"key press", [] { UiEvents().Post(Event::KeyDown('S')); }, [] {},
       ContiRunOutcome::Interrupted},
      {"M(s) table of one row",
       [&] {
         ModelFlags().bCsMsTable = true;
         szMofsFile = mofs;
       },
       [] { ModelFlags().bCsMsTable = false; }, ContiRunOutcome::NotStarted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const float ff0 = AnalysisSwitches().pParams[kContiSlotFrictionalRatio];
    const auto applyHook = GetModelFitHooks().applyContinuousSettings;
    c.set();
    UnpackModelParams();
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmRun);
    EXPECT_EQ(ContiRun().eLastContiRunOutcome, c.outcome);
    c.unset();
    GetModelFitHooks().applyContinuousSettings = applyHook;
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = ff0;
    UnpackModelParams();
    std::vector<std::string> texts;
    for (const TranscriptEntry& box : Backend().Transcript()) texts.push_back(box.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << "a box shown twice";
    // A key is said as an error is: the note of the stopped Run.
    EXPECT_FALSE(texts.empty());
    ASSERT_TRUE(AnalysisSwitches().bModelComputed && DistributionVectors().pDistValues && DistributionVectors().pDistGrid);
    EXPECT_FALSE(Win().bRunInProgress);
    EXPECT_TRUE(shown() == before);
    EXPECT_EQ(DistributionPaneInk(), inkBefore);
    EXPECT_EQ(nDataPaneBottom, 350);
    ASSERT_NE(pIntegrateButton, nullptr);
    EXPECT_EQ(pIntegrateButton->CurrentLabel(), "integrate");
  }
  // The same settings give a new result again.
  Dispatch(kCmRun);
  EXPECT_EQ(ContiRun().eLastContiRunOutcome, ContiRunOutcome::Computed);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NE(DistributionPlot().pDistPlot, before.plot);
  EXPECT_EQ(std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1), before.values);
}

// A Run of the discrete-species model that ends without a model keeps the last
// fit on show: a species whose coefficients give no finite values, a key press.
TEST_F(DistributionRunTest, DiscreteRunEndingWithoutAModelKeepsTheLastFit) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  ModelParams().pSpeciesS[1] = static_cast<float>(kSyntheticS);
  ModelParams().pSpeciesMassOrD[1] = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f) * 1e7f;
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
  AnalysisSwitches().bFitRINoise = ModelParams().bVaryBaseline = true;
  PackModelParams();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const auto fit = [] {
    std::vector<float> all(CurrentGrid().pRINoise + 1, CurrentGrid().pRINoise + DataSet().nScans + 1);
    for (int s = 1; s <= DataSet().nScans; ++s) all.insert(all.end(), DataSet().ppFit[Idx(s)] + 1, DataSet().ppFit[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
    return all;
  };
  const std::vector<float> before = fit();
  const double rmsd = FitRmsd();
  ASSERT_LT(rmsd, 3.0 * kSyntheticNoise);

  for (const bool key : {false, true}) {
    SCOPED_TRACE(key ? "key press" : "s of 1e8 S");
    if (key)
      UiEvents().Post(Event::KeyDown('S'));
    else
      AnalysisSwitches().pParams[1 + nSpeciesSlots] = 1e8f;  // s of species 1: in range, but no solution
    Backend().ClearTranscript();
    // The solution of an absurd s is refused with its error boxes.
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmRun);
    EXPECT_FALSE(Backend().Transcript().empty());
    AnalysisSwitches().pParams[1 + nSpeciesSlots] = static_cast<float>(kSyntheticS);
    UnpackModelParams();
    EXPECT_TRUE(AnalysisSwitches().bModelComputed);
    EXPECT_EQ(fit(), before);
    EXPECT_DOUBLE_EQ(FitRmsd(), rmsd);
  }
}

// A grid reaching past the largest observable s stops the run at the kernels: the
// Run command shows the run's message once, after the run, and no result is left.
TEST_F(DistributionRunTest, RunShowsTheMessageItsKernelsEndedWith) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().pParams[kContiSlotGridMax] = 5000.0f;
  UnpackModelParams();
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(Backend().Transcript().size(), 1u);
  EXPECT_EQ(BoxText("").rfind("sedimentation coefficient #", 0), 0u) << BoxText("");
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_FALSE(Win().bRunInProgress);

  // A grid its set-up cannot make (an M(s) table of one row) is reported by the
  // command in the error box.
  AnalysisSwitches().pParams[kContiSlotGridMax] = 5.0f;
  UnpackModelParams();
  ModelFlags().bCsMsTable = true;
  szMofsFile = ProgramDir() + "/mofs.dat";
  std::ofstream(szMofsFile) << "2 20\n";
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmRun);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_NE(BoxText("Error").find("needs at least two rows"), std::string::npos) << BoxText("Error");
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
}

// A Run refused for its settings changes nothing: the last distribution, its plot
// and bModelComputed stay. A grid the machine cannot hold is refused with what it
// would need before anything is allocated, and kernels that cannot be had are
// reported.
TEST_F(DistributionRunTest, RefusedRunKeepsTheLastResult) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  const std::vector<float> values(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  const CWINPlot* const plot = DistributionPlot().pDistPlot;
  const int inkBefore = DistributionPaneInk();
  ASSERT_GT(inkBefore, 200);
  struct Case {
    int slot;     // of pParams
    float value;  // set before the Run, the old one restored after it
    const char* caption;
    const char* text;  // the start of the message
  } cases[] = {
      {kContiSlotGridCount, 0.0f, "Error", "the distribution needs at least one grid point"},
      {kContiSlotGridCount, -3.0f, "Error", "the distribution needs at least one grid point"},
      {kContiSlotGridCount, 1e9f, "Error", "a grid of 1000000000 points needs "},
      {kContiSlotGridCount, 1e6f, "Error", "a grid of 1000000 points needs "},
      {kContiSlotGridMax, INFINITY, "Error", "the grid limits 0 and inf must be finite numbers"},
      {13, 7.5f, "ERROR", "the meniscus 7.5 cm must lie below the bottom 7.2 cm"},
      {13, NAN, "ERROR", "the meniscus nan cm must lie below the bottom 7.2 cm"},
      // Values the kernels cannot use, set without the Parameters dialog.
      {kContiSlotDensity, -1.0f, "Error", "the buffer density -1 g/ml must lie between 0.01 and 5 g/ml"},
      {kContiSlotViscosity, 0.0f, "Error", "the buffer viscosity 0 P must lie between 1e-05 and 1000 P"},
      {kContiSlotDensity, 1e30f, "Error", "the buffer density 1e+30 g/ml must lie between 0.01 and 5 g/ml"},
      {kContiSlotViscosity, 1e30f, "Error", "the buffer viscosity 1e+30 P must lie between 1e-05 and 1000 P"},
      {14, 5000.0f, "Error", "the bottom 5000 cm must lie between 0 and 20 cm"},
      {13, 1e-30f, "Error", "the meniscus 1e-30 cm must lie between 1 and 20 cm (0: not set)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const float old = AnalysisSwitches().pParams[c.slot];
    AnalysisSwitches().pParams[c.slot] = c.value;
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, c.caption);
    Dispatch(kCmRun);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(BoxText(c.caption).rfind(c.text, 0), 0u) << BoxText(c.caption);
    AnalysisSwitches().pParams[c.slot] = old;
    UnpackModelParams();
    EXPECT_TRUE(AnalysisSwitches().bModelComputed && DistributionPlot().pDistPlot == plot && !Win().bRunInProgress);
    ASSERT_EQ(DistributionVectors().nDistGrid, static_cast<int>(values.size()));
    EXPECT_TRUE(std::equal(values.begin(), values.end(), DistributionVectors().pDistValues + 1));
  }
  EXPECT_EQ(DistributionPaneInk(), inkBefore);
  // The same settings run again once they are usable.
  Dispatch(kCmRun);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(DistributionVectors().nDistGrid, 40);

  // Kernels whose size cannot even be counted are refused with a message.
  std::string why;
  EXPECT_FALSE(AllocKernelArrays(INT_MAX, INT_MAX, INT_MAX, &why));
  EXPECT_EQ(why.rfind("could not allocate the kernels of 2147483647 grid points", 0), 0u);
  EXPECT_EQ(DistributionStorage().pppKernels, nullptr);
}

TEST_F(DistributionRunTest, IntegrationOverADrawnRangeGivesTheWeightAverageS) {
  // Ctrl+I arms the selection for integration.
  RunSmallCsAndPressCtrlI();
  EXPECT_EQ(pIntegrateButton->CurrentLabel(), "select range");

  // A band from 2 S to 9 S over the distribution pane.
  Backend().QueueMessageBox(IDOK, "INTEGRATE DISTRIBUTION");
  DragRight(2.0f, 9.0f);
  const std::string text = BoxText("INTEGRATE DISTRIBUTION");
  ASSERT_FALSE(text.empty());
  EXPECT_NEAR(NumberAfter(text, "Weight (Signal) Average = "), kSyntheticS, 0.05 * kSyntheticS);

  // The clipboard holds area and average.
  const std::vector<std::string> fields = Fields(Lines(Backend().ClipboardTextValue()).at(0));
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_NEAR(std::strtof(fields[1].c_str(), nullptr),
              NumberAfter(text, "Weight (Signal) Average = "), 1e-3);
  // The selection is over, the button off, the capture released.
  EXPECT_FALSE(bDistRangeArmed);
  EXPECT_FALSE(bRangeSelectMode);
  EXPECT_EQ(pIntegrateButton->CurrentLabel(), "integrate");
  EXPECT_FALSE(Backend().Headless().IsCaptured());
}

TEST_F(DistributionRunTest, CopyDistributionGivesOneTabSeparatedRowPerGridPoint) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  Dispatch(kCmCopyDistribution);
  const std::vector<std::string> rows = Lines(Backend().ClipboardTextValue());
  ASSERT_EQ(static_cast<int>(rows.size()), 1 + DistributionVectors().nDistGrid);
  // The header names the columns as the plot's axes.
  EXPECT_EQ(Fields(rows[0]), (std::vector<std::string>{DistributionPlot().pDistPlot->szXLabel, DistributionPlot().pDistPlot->szYLabel}));
  EXPECT_EQ(DistributionPlot().pDistPlot->szXLabel, "sed coefficient [S]");
  for (int i : {1, DistributionVectors().nDistGrid / 2, DistributionVectors().nDistGrid}) {
    const std::vector<std::string> f = Fields(rows[Idx(i)]);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_NEAR(std::strtof(f[0].c_str(), nullptr), DistributionVectors().pDistGrid[i], 1e-4);
    EXPECT_NEAR(std::strtof(f[1].c_str(), nullptr), DistributionVectors().pDistValues[i],
                1e-5 + 1e-5 * std::fabs(DistributionVectors().pDistValues[i]));
  }
  Dispatch(kCmCopyDistributionPlot);
  ASSERT_NE(Backend().ClipboardPicture(), nullptr);
  EXPECT_FALSE(Backend().ClipboardPicture()->Records().empty());

  // DLS distributions are copied over the axis their plot has: log10 Rh for the
  // radius models, log10 D for I(D).
  DataSet().bDLSData = ModelFlags().bDLSRhModel = true;
  EXPECT_NEAR(std::strtof(Fields(Lines(DistributionTableText())[1])[0].c_str(), nullptr),
              DistributionVectors().pDistGrid[1], 1e-4);
  ModelFlags().bDLSRhModel = false;
  ModelFlags().bDLSDModel = true;
  EXPECT_NEAR(std::strtof(Fields(Lines(DistributionTableText())[1])[0].c_str(), nullptr),
              DistributionVectors().pDistS[1], 1e-4 * std::fabs(DistributionVectors().pDistS[1]));
  DataSet().bDLSData = ModelFlags().bDLSDModel = false;
}

TEST_F(DistributionRunTest, SavedCMComesBackAsCMWhateverModelIsActive) {
  LoadSyntheticRun();
  ChooseSmallCM();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_FALSE(IsSGridModel());
  std::vector<float> masses(DistributionVectors().pDistS + 1, DistributionVectors().pDistS + DistributionVectors().nDistGrid + 1);
  std::vector<float> values(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);

  const std::string path = ProgramDir() + "/saved_cm.dat";
  Backend().QueueSaveFile(path);
  Dispatch(kCmSaveContinuousDistribution);
  ASSERT_TRUE(std::filesystem::exists(path));

  // The user switches to c(s); the c(M) no longer holds, and no note about
  // integrating it takes the keys typed next.
  Backend().ClearTranscript();
  Dispatch(kCmContinuousCs);
  ASSERT_TRUE(ModelFlags().bContiSModel);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});

  // Restoring the file chooses c(M) again (its plot is rebuilt with a note too).
  Backend().QueueMessageBox(IDOK);
  ASSERT_TRUE(RestoreSavedDistribution(Win(), path));
  EXPECT_TRUE(ModelFlags().bContiModel);
  EXPECT_FALSE(ModelFlags().bContiSModel);
  EXPECT_FALSE(IsSGridModel());
  EXPECT_TRUE(Handle().IsMenuItemChecked(kCmContinuousCM));
  ASSERT_EQ(DistributionVectors().nDistGrid, static_cast<int>(masses.size()));
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
    EXPECT_NEAR(DistributionVectors().pDistS[i], masses[Idx(i - 1)], 1e-3f * masses[Idx(i - 1)]);
    EXPECT_NEAR(DistributionVectors().pDistValues[i], values[Idx(i - 1)], 1e-6f + 1e-5f * std::fabs(values[Idx(i - 1)]));
  }
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // A damaged saved c(M) (a row that is not numbers after the kind line) is
  // refused before the model changes: c(s) stays the model, and its plot stays.
  Dispatch(kCmContinuousCs);
  ASSERT_TRUE(ModelFlags().bContiSModel);
  const CWINPlot* plotBefore = DistributionPlot().pDistPlot;
  const int gridBefore = DistributionVectors().nDistGrid;
  std::string text = ReadFile(path);
  text.insert(text.find('\n', text.find('\n') + 1) + 1, "damaged row\n");
  WriteFile(path, text);
  EXPECT_FALSE(ReadSavedDistributionKind(path).has_value());
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK);  // "... is not a saved distribution"
  EXPECT_FALSE(RestoreSavedDistribution(Win(), path));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{path + " is not a saved distribution: line 3 has too few values "
                                                        "(2 of 4): \"damaged row\""});
  EXPECT_TRUE(ModelFlags().bContiSModel);
  EXPECT_FALSE(Handle().IsMenuItemChecked(kCmContinuousCM));
  EXPECT_EQ(DistributionPlot().pDistPlot, plotBefore);
  EXPECT_EQ(DistributionVectors().nDistGrid, gridBefore);
}

// Without a distribution on show (no model yet, or c(s) chosen but not run) the
// save and the copies say what to do first, and neither a file dialog nor the
// clipboard is touched.
TEST_F(DistributionRunTest, SaveAndCopyWithoutADistributionSaySo) {
  for (const bool chosen : {false, true}) {
    if (chosen) {
      LoadSyntheticRun();
      ChooseSmallCs();
    }
    for (const int command : {kCmSaveContinuousDistribution, kCmCopyDistribution, kCmCopyDistributionPlot}) {
      Backend().ClearTranscript();
      Backend().AnswerUnscriptedBoxes(IDOK);
      Dispatch(command);
      EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNoDistributionText}) << command << " chosen " << chosen;
    }
  }
  EXPECT_EQ(Backend().ClipboardTextValue(), "");
  EXPECT_EQ(Backend().ClipboardPicture(), nullptr);
}

// A save that cannot write its file says so once, in the error box, from the command.
TEST_F(DistributionRunTest, SaveThatCannotWriteIsReportedOnce) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::string path = ProgramDir() + "/no such folder/distribution.dat";
  Backend().ClearTranscript();
  Backend().QueueSaveFile(path);
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmSaveContinuousDistribution);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"could not write the distribution to " + path + "\n" + path +
                                                 ": " + std::strerror(ENOENT)});
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
}

TEST_F(DistributionRunTest, RangeHighlightTurnsTheFittedBoundaryRedOnlyInsideTheRange) {
  LoadSyntheticRun();
  ChooseSmallCs();
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  Paint();
  const int before = InkInRows(50, 350, true);
  // The species' own range: the boundary region of every scan turns red.
  Win().HighlightRangeInData(static_cast<float>(kSyntheticS) - 1.0f,
                             static_cast<float>(kSyntheticS) + 1.0f);
  const int inside = InkInRows(50, 350, true);
  EXPECT_GT(inside, before + 100);
  // A range far above the species: the fits stay grey, nothing new is red.
  Handle().Screen().Fill(kWhite);
  Paint();
  Win().HighlightRangeInData(11.0f, 11.5f);
  EXPECT_LT(InkInRows(50, 350, true), before + 20);
}

}  // namespace
}  // namespace tarmic::testing

namespace tarmic::testing {
namespace {

// A fault that every kernel meets (a partial specific volume of 0 that reached the
// engine without the dialog) is said once per command, not in a box per grid point.
TEST_F(DistributionRunTest, AFaultEveryKernelMeetsIsSaidOncePerCommand) {
  LoadSyntheticRun();
  ChooseSmallCs();
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.0f;
  UnpackModelParams();
  Backend().AnswerUnscriptedBoxes(IDOK);
  for (int run = 1; run <= 2; ++run) {
    Backend().ClearTranscript();
    Dispatch(kCmRun);
    // A partial specific volume of 0 is refused before the first kernel: said once.
    int vbarBoxes = 0;
    for (const TranscriptEntry& e : Backend().Transcript())
      vbarBoxes += e.text.find("VBAR <= 0") != std::string::npos ||
                   e.text.find("the partial specific volume 0 ml/g") != std::string::npos;
    EXPECT_EQ(vbarBoxes, 1) << "run " << run;
  }
}


// Absurd results are not results: a species of s = 1e20 S leaves no computed
// model; a c(s) grid narrower than anything the data can tell apart and reversed
// fitting limits are refused before anything is computed, and the last
// distribution stays on show.
TEST_F(DistributionRunTest, AbsurdSettingsGiveNoResult) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  ModelParams().pSpeciesS[1] = 1e20f;
  ModelParams().pSpeciesMassOrD[1] = 6.0f;
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
  PackModelParams();
  Backend().AnswerUnscriptedBoxes(IDOK);
  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(BoxText("ERROR"), "the sedimentation coefficient s 1e+20 S must lie between -1e+08 and 1e+08 S");
  // Within the range, but with a D no such particle has: the computation says so.
  ModelParams().pSpeciesS[1] = 1e8f;
  PackModelParams();
  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_FALSE(Backend().Transcript().empty());

  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  float area = 0, mean = 0, total = 0, after = 0;
  IntegrateDistribution(0.0f, 12.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  AnalysisSwitches().pParams[kContiSlotGridMin] = 1e-20f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 1e-19f;
  UnpackModelParams();
  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_EQ(BoxText("Error").rfind("the grid from 1e-20 to 1e-19 is too narrow", 0), 0u) << BoxText("Error");
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 12.0f;
  UnpackModelParams();
  std::swap(DataSet().fFitLeftLim, DataSet().fFitRightLim);
  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_EQ(BoxText("ERROR"), "the left fitting limit 7.1 cm must lie below the right fitting limit 6.05 cm");
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  IntegrateDistribution(0.0f, 12.0f, &area, &mean, &after, nullptr, nullptr, nullptr);
  EXPECT_EQ(after, total);
  // The discrete model refuses them as well.
  Dispatch(kCmDiscreteSpecies);
  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_EQ(BoxText(""), "the left fitting limit 7.1 cm must lie below the right fitting limit 6.05 cm");
}

}  // namespace
}  // namespace tarmic::testing
