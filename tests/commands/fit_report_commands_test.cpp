// The commands around the saved fit parameters: "Update Saved Fit Parameters"
// (827), "Copy Fit Parameters" (204), "Show Last Fit Info Again" (517), the offer
// when the same data are loaded again and a dropped parameter file.
#include "distribution_window_test_support.h"

#include <cstdlib>
#include <optional>

#include "app/onplot_tools.h"
#include "commands/model_commands.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using FitReportCommandTest = DistributionWindowTest;

// Saved with 827, the state comes back when the same data are loaded again and the
// user accepts; a dropped parameter file restores it as well.
TEST_F(FitReportCommandTest, SavedParametersAreOfferedOnReloadAndOnDrop) {
  LoadSyntheticRun();
  const std::vector<std::string> files = [] {
    std::vector<std::string> f;
    for (int i = 1; i <= DataSet().nScans; ++i) f.push_back(DataSet().szDataDirectory + "/" + DataSet().ppScanFileNames[i]);
    return f;
  }();
  Dispatch(kCmDiscreteSpecies);
  ModelParams().pSpeciesS[1] = 6.5f;
  AnalysisSwitches().pSpeciesLinked[2] = 1;
  ModelParams().pSpeciesS[2] = 11.0f;
  PackModelParams();
  Dispatch(kCmUpdateSavedFitParameters);
  ASSERT_TRUE(std::filesystem::exists(DataSet().szTmpParsPath));
  EXPECT_EQ(Lines(ReadFile(DataSet().szTmpParsPath)).size(), Idx(kSavedParamCount));
  EXPECT_TRUE(BoxTexts().empty());

  ModelParams().pSpeciesS[1] = 1.0f;
  AnalysisSwitches().pSpeciesLinked[2] = 0;
  PackModelParams();
  Backend().QueueMessageBox(IDYES, "");
  LoadThroughDialog(files);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "load previous analysis?");
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], 6.5f);
  EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[2], 1);

  // Dropped: asked by its name, then restored.
  const std::string saved = DataSet().szTmpParsPath;
  ModelParams().pSpeciesS[1] = 2.0f;
  PackModelParams();
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDYES);
  Drop({saved});
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "switch to parameter file ~tmppars.ra1?");
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], 6.5f);
}

// A new load hides the distribution of the set before until a Run; restoring a
// continuous analysis keeps its saved baseline and computes no species model in
// its place (which would fit the baseline to the whole signal).
TEST_F(FitReportCommandTest, ANewLoadShowsNoOldDistributionAndARestoredBaselineStays) {
  LoadSyntheticRun();
  std::vector<std::string> files;
  for (int i = 1; i <= DataSet().nScans; ++i) files.push_back(DataSet().szDataDirectory + "/" + DataSet().ppScanFileNames[i]);
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_NE(DistributionPanePicture(), nullptr);
  AnalysisSwitches().pParams[15] = -0.001775f;
  UnpackModelParams();
  Dispatch(kCmUpdateSavedFitParameters);

  // Declined: the data are new, the distribution pane stays empty until a Run.
  Backend().QueueMessageBox(IDNO, "");
  LoadThroughDialog(files);
  SetCellAndLimits();
  EXPECT_EQ(DistributionPanePicture(), nullptr);
  Dispatch(kCmRun);
  EXPECT_NE(DistributionPanePicture(), nullptr);

  // Accepted: the saved analysis comes back as saved.
  Backend().QueueMessageBox(IDYES, "");
  Backend().QueueMessageBox(IDOK, "");  // the c(s) command's note on the old plot
  LoadThroughDialog(files);
  EXPECT_TRUE(ModelFlags().bContiModel);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[15], -0.001775f);
  EXPECT_FALSE(AnalysisSwitches().bModelComputed) << "no fit curve before the Run";
  EXPECT_EQ(DistributionPanePicture(), nullptr);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// "Copy Data Plot" after a Run holds what the data pane shows: the data plot and,
// over it, each scan's fitted curve through the model values at their place.
TEST_F(FitReportCommandTest, CopiedDataPlotHoldsTheFittedCurves) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  Dispatch(kCmCopyDataPlot);
  const MetaFile* copy = Backend().ClipboardPicture();
  ASSERT_NE(copy, nullptr);
  for (int i = 1; i <= DataSet().nScans; i += DataSet().nScans - 1) {
    const std::size_t s = static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(i)]);
    const Color colour = DataPlots().pDataPlot->GetCurveColor(i - 1);
    for (int p = DataSet().pFitFirst[s] + 5; p <= DataSet().pFitLast[s] - 5; p += (DataSet().pFitLast[s] - DataSet().pFitFirst[s]) / 3) {
      const int x = DataPlots().pDataPlot->MapX(DataSet().ppRadius[s][p]), y = DataPlots().pDataPlot->MapY(DataSet().ppFit[s][p]);
      Color pen = kBlack;
      bool found = false;
      for (const MetaRecord& r : copy->Records()) {
        if (r.op == MetaOp::SelectPen) pen = r.pen.color;
        if (r.op == MetaOp::LineTo && pen == colour && std::abs(r.a - x) <= 1 && std::abs(r.b - y) <= 1)
          found = true;
      }
      EXPECT_TRUE(found) << "scan " << s << " point " << p;
    }
  }
}

// A parameter file that cannot be written: the save itself shows nothing and hands
// back the reason; "Update Saved Fit Parameters" shows it once in the error box.
TEST_F(FitReportCommandTest, FailedParameterSaveIsReportedOnceByTheCommand) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  DataSet().szTmpParsPath = ProgramDir() + "/blocked.ra1";
  std::filesystem::create_directories(DataSet().szTmpParsPath);  // a folder where the file goes
  const SaveResult direct = TmpSaveBestParams(&Handle(), false);
  EXPECT_FALSE(direct.ok);
  EXPECT_NE(direct.message.find(DataSet().szTmpParsPath), std::string::npos);
  EXPECT_TRUE(BoxTexts().empty());
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmUpdateSavedFitParameters);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Error"});
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{direct.message});
  // Written again once the folder is gone.
  std::filesystem::remove(DataSet().szTmpParsPath);
  EXPECT_TRUE(TmpSaveBestParams(&Handle(), false).ok);
  EXPECT_EQ(Lines(ReadFile(DataSet().szTmpParsPath)).size(), Idx(kSavedParamCount));
}

// Restoring runs the model command of the saved model: every model with a command
// comes back as itself; a continuous one with the check mark its command gives.
TEST_F(FitReportCommandTest, RestoreRunsTheModelCommandOfTheSavedModel) {
  DataSet().szTmpParsPath = ProgramDir() + "/~tmppars.ra1";
  for (int id : {275, 235, 526, 872, 277, 279, 887, 198, 227, 893, 246, 280, 281}) {
    Dispatch(id);
    ASSERT_EQ(ActiveModelCommand(), id);
    const bool marked = Handle().IsMenuItemChecked(id);
    TmpSaveBestParams(&Handle(), false);
    Dispatch(id == kCmDiscreteSpecies ? kCmContinuousCs : kCmDiscreteSpecies);
    ASSERT_EQ(ReloadParameters(&Handle(), DataSet().szTmpParsPath, AskingPolicy()), 1) << id;
    EXPECT_EQ(ActiveModelCommand(), id);
    if (IsContinuousModel()) {
      EXPECT_EQ(Handle().IsMenuItemChecked(id), marked) << id;
    }
  }
  EXPECT_TRUE(BoxTexts().empty());
}

// 204 puts the report on the clipboard; 517 shows the text of the current fit.
TEST_F(FitReportCommandTest, CopyAndShowTheFitInformation) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  Rmsd().fFitRmsd = 0.0f;
  Dispatch(kCmCopyFitParameters);
  const std::string clip = Backend().ClipboardTextValue();
  EXPECT_EQ(clip.rfind("\n\ncomponent 1 included:\nD\t=\t", 0), 0u);
  EXPECT_NE(clip.find("(first is total, next are fractions)"), std::string::npos);

  for (int i = 1; i <= DataSet().nScans; ++i)
    for (int j = 1; j <= DataSet().pnPoints[i]; ++j) DataSet().ppFit[i][j] = DataSet().ppSignal[i][j] + 0.01f;
  SetModelComputed(true);  // the rows stand for a model computed for these data
  const int before = InkInRows(0, 300);
  Dispatch(kCmShowLastFitInfo);
  EXPECT_NEAR(Rmsd().fFitRmsd, 0.01f, 1e-4f);
  EXPECT_FLOAT_EQ(Rmsd().fFitRmsd, FitRmsd());
  EXPECT_GT(InkInRows(0, 300), before);
  EXPECT_TRUE(BoxTexts().empty());
}

// The last fit's information is shown with the data it was fitted to only: after
// other data are loaded, Ctrl+O and the printed block say that the loaded data
// have no fit, instead of the earlier fit's values under the new files' names with
// an rmsd of the new data against no model.
TEST_F(FitReportCommandTest, LastFitInfoBelongsToTheDataItWasFittedTo) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  ModelParams().pSpeciesS[1] = static_cast<float>(kSyntheticS);
  ModelParams().pSpeciesMassOrD[1] = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f) * 1e7f;
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
  PackModelParams();
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  auto printedBlock = [&] {
    MetaFileDC dc;
    GetShellHooks().drawBestFitInfo(Win(), dc, 300, 100);
    return dc.Close()->Texts();
  };
  auto shownText = [&](bool box) {
    Backend().ClearTranscript();
    if (box) Backend().QueueMessageBox(IDOK, "ATTENTION");
    Handle().Screen().Fill(kWhite);
    Dispatch(kCmShowLastFitInfo);
    return InkInRows(0, 300);
  };
  EXPECT_GT(shownText(false), 0);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_LT(Rmsd().fFitRmsd, 3.0 * kSyntheticNoise);
  const std::vector<std::string> fitted = printedBlock();
  ASSERT_FALSE(fitted.empty());
  EXPECT_EQ(fitted[0].rfind("fitting files 00001.ra1 to 00010.ra1", 0), 0u);

  LoadThroughDialog(CopyVelocitySet(ProgramDir() + "/other"));
  ASSERT_EQ(DataSet().nScans, 3);
  const std::string none = "no fit of the loaded data yet: Run or Fit first";
  EXPECT_EQ(shownText(true), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{none});
  EXPECT_EQ(printedBlock(), std::vector<std::string>{none});
}

// The rmsd of a text, or -1 when it has none: "rmsd=%f (n=...".
double RmsdIn(const std::string& text) {
  const std::size_t at = text.find("rmsd=");
  return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + 5);
}

// Every place that shows, copies, prints or saves the quality of a fit gives it
// only with the data it belongs to. After other data are loaded, the clipboard
// report, the report of Save Fit Data, the window's result text with its runs
// test, the printed block and the error interval say that the loaded data have no
// fit (they gave the earlier data's rmsd beside parameters never fitted to them); a
// Run of the new data brings their own rmsd, that of the noise, at every place.
TEST_F(FitReportCommandTest, FitQualityIsGivenOnlyWithItsData) {
  const std::string none = "no fit of the loaded data yet: Run or Fit first";
  auto copied = [&] {
    Dispatch(kCmCopyFitParameters);
    return Backend().ClipboardTextValue();
  };
  int reports = 0;
  auto savedReport = [&] {
    const std::string path = ProgramDir() + "/report" + std::to_string(++reports) + ".txt";
    Backend().QueueSaveFile(std::nullopt);  // no fitted scans
    Backend().QueueSaveFile(std::nullopt);  // no residuals
    Backend().QueueSaveFile(path);
    Dispatch(kCmSaveFitData);
    return ReadFile(path);
  };
  auto joined = [](const std::vector<std::string>& lines) {
    std::string t;
    for (const std::string& line : lines) t += line + "\n";
    return t;
  };
  auto windowText = [&] {
    MetaFileDC dc;
    GetShellHooks().showFitResultText(Win(), dc);
    return joined(dc.Close()->Texts());
  };
  auto printedBlock = [&] {
    MetaFileDC dc;
    GetShellHooks().drawBestFitInfo(Win(), dc, 300, 100);
    return joined(dc.Close()->Texts());
  };
  auto species = [](double s) {
    ModelParams().pSpeciesS[1] = static_cast<float>(s);
    ModelParams().pSpeciesMassOrD[1] = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f) * 1e7f;
    ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
    PackModelParams();
  };

  // A poor model of the first data: s 20 % too high.
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  species(1.2 * kSyntheticS);
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const double poor = RmsdIn(copied());
  EXPECT_GT(poor, 5.0 * kSyntheticNoise);
  EXPECT_NEAR(RmsdIn(savedReport()), poor, 1e-6);
  const std::string shown = windowText();
  EXPECT_NEAR(RmsdIn(shown), poor, 1e-6);
  EXPECT_NE(shown.find("Runs test Z"), std::string::npos) << shown;
  EXPECT_NEAR(RmsdIn(printedBlock()), poor, 1e-6);

  // The same run loaded anew from another folder: no fit of it yet.
  std::filesystem::create_directories(ProgramDir() + "/again");
  LoadThroughDialog(WriteSyntheticRun(ProgramDir() + "/again"));
  ASSERT_EQ(DataSet().nScans, kSyntheticScans);
  SetCellAndLimits();
  Backend().ClearTranscript();
  for (const std::string& text : {copied(), windowText(), printedBlock()}) {
    EXPECT_NE(text.find(none), std::string::npos) << text;
    EXPECT_EQ(text.find("rmsd"), std::string::npos) << text;
    EXPECT_EQ(text.find("Runs test"), std::string::npos) << text;
  }
  EXPECT_TRUE(BoxTexts().empty());
  // Save Fit Data has no fit to save: it says so and asks for no file.
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{none});
  EXPECT_EQ(Shown("SaveFile"), 0);
  Backend().ClearTranscript();
  // The error interval takes its critical rmsd from the fit: none to take.
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmErrorInS);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{none});

  // A Run with the true s: the rmsd of the noise, the same at every place (a Run
  // computes no rmsd of its own: the value kept was the poor model's).
  Backend().ClearTranscript();
  species(kSyntheticS);
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const double good = RmsdIn(copied());
  EXPECT_GT(good, 0.5 * kSyntheticNoise);
  EXPECT_LT(good, 1.5 * kSyntheticNoise);
  EXPECT_NEAR(RmsdIn(savedReport()), good, 1e-6);
  EXPECT_NEAR(RmsdIn(windowText()), good, 1e-6);
  EXPECT_NEAR(RmsdIn(printedBlock()), good, 1e-6);
  EXPECT_TRUE(BoxTexts().empty());
}

}  // namespace
}  // namespace tarmic::testing
