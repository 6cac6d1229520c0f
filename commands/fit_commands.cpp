// The Fit command (discrete-species models, and the refinement of continuous
// models) and the choice of the fit
// algorithm (simplex, simulated annealing, Marquardt-Levenberg), which the
// preference file keeps on its fit-algorithm line.
#include "app/paint.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/save_outcome.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distributions/distribution_kernels.h"
#include "modelcalc/conti_fit.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/fit_limit_prompts.h"
#include "modelfit/model_flags.h"
#include "modelfit/param_checks.h"
#include "scandata/data_set.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "resources/command_ids.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {


// Values of the fit-algorithm line of the preference file.
constexpr int kFitSimplexValue = 1;
constexpr int kFitAnnealingValue = 2;
constexpr int kFitMarquardtValue = 3;

constexpr const char* kAnnealCaption = "Fit With Simulated Annealing";

void ChooseFitAlgorithm(TXLAWindow& window, int value) {
  const ExclusiveOption options[] = {{&bFitSimplex, kCmFitSimplex},
                                     {&bFitAnnealing, kCmFitAnnealing},
                                     {&bFitMarquardt, kCmFitMarquardt}};
  // The one box ChooseExclusiveOption shows is the question.
  const ScopedQuestion question(QuestionId::SaveAsDefaultSetting, IDNO);
  ChooseExclusiveOption(window, options, 3, value, "save as default setting?", kPrefFitAlgorithm);
}

// A whole number typed into the number input; the value stays on Cancel.
void AskCount(TXLAWindow& window, int* value, const char* prompt, const Quantity& quantity) {
  float typed = 0.0f;
  if (AskFloat(window, &typed, static_cast<float>(*value), prompt, kAnnealCaption, quantity))
    *value = static_cast<int>(typed);
}

}  // namespace

void TXLAWindow::CmFitSimplex() {
  ChooseFitAlgorithm(*this, kFitSimplexValue);
}

void TXLAWindow::CmFitMarquardt() {
  ChooseFitAlgorithm(*this, kFitMarquardtValue);
}

// Simulated annealing: the start temperature (a relative increase of the rmsd), the
// number of temperature steps, the evaluations per temperature and the final
// method; each value stays as it was when its input is cancelled.
void TXLAWindow::CmFitAnnealing() {
  float typed = 0.0f;
  if (AskFloat(*this, &typed, SearchSettings().fAnnealStartTemp, "starting 'temperature' (rel increase glob.chisq)",
               kAnnealCaption, kAnnealTemperature))
    SearchSettings().fAnnealStartTemp = typed;
  SearchSettings().fAnnealTemp = SearchSettings().fAnnealStartTemp;
  AskCount(*this, &SearchSettings().nAnnealTemps, "# of temperature steps", NamedAs("number of temperature steps", kAnnealSteps));
  AskCount(*this, &SearchSettings().nAnnealIters, "# of iterations per temperature",
           NamedAs("number of iterations per temperature", kAnnealSteps));
  int final = SearchSettings().bAnnealFinalML ? 1 : (SearchSettings().bAnnealFinalSimplex ? 2 : 0);
  AskCount(*this, &final, "final ML (1), Simplex (2), or none (0)", {"final fit", "", Count(0.0, 2.0)});
  SearchSettings().bAnnealFinalML = final == 1;
  SearchSettings().bAnnealFinalSimplex = final == 2;
  ChooseFitAlgorithm(*this, kFitAnnealingValue);
}

// The width of the start simplex around the parameters, entered in percent of each
// parameter; only a positive width spans a simplex, anything else keeps the width.
void TXLAWindow::CmSimplexRandomization() {
  float typed = 0.0f;
  if (AskFloat(*this, &typed, 100.0f * SearchSettings().fSimplexRandomization, "%initial randomization in simplex",
               nullptr, kSimplexRandomization) &&
      typed > 0.0f)
    SearchSettings().fSimplexRandomization = 0.01f * typed;
}

// Fits the floated parameters of the discrete-species model by the chosen method
// and shows fit and residuals. An interrupted fit keeps the best point found and
// says that it was interrupted, and whether the model of that point is shown.
void TXLAWindow::CmFit() {
  AnalysisCommandOutcome analysis(true);
  if (const std::string mismatch = ContinuousModelDataMismatch(); !mismatch.empty()) {
    CommandMessageBox(*this, mismatch, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  // A continuous model refines its nonlinear parameters around the distribution.
  const bool continuous = IsContinuousModel();
  if (!DiscreteModelActive() && !(continuous && KernelModelAvailable())) {
    CommandMessageBox(*this, ModelNotRunnableText(), "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (!RequireFitPoints(*this)) return;
  // A fit starts from values some computation can use.
  if (const std::string refusal = RunValuesRefusal(); !refusal.empty()) {
    PlayErrorSound();
    CommandMessageBox(*this, refusal, "ERROR", MB_OK);
    return;
  }
  // A floated meniscus or bottom that starts outside its kept range would stay at
  // the range's end: a range around the start is proposed first.
  if (!ProposeRangesHoldingStarts(&GetHandle())) return;
  const FitMethod method = bFitMarquardt    ? FitMethod::Marquardt
                           : bFitAnnealing ? FitMethod::Annealing
                                           : FitMethod::Simplex;
  bFitInProgress = true;
  FitReport report;
  FitComputation fit = FitLoadedData(&GetHandle(), method, report);
  bFitInProgress = false;
  const FitOutcome outcome = fit.end;
  analysis.Keep(std::move(fit.outcome));
  if (outcome == FitOutcome::NotStarted) {
    ShowContiRunMessage(*this, report.message);
    return;
  }
  if (outcome == FitOutcome::Completed) DataSet().bDataChanged = false;
  // The result text is drawn with the next paint. What the fit met (the save of
  // the best values among it) is reported once.
  ReportFit(*this, report);
  // The result text is of the model of the best point: none when a key stopped it.
  bShowFitStatistics = !report.stoppedBeforeResult;
  if (DataPlots().pDataPlot) RedrawDataPlot(true);
  if (DataPlots().pResidualsPlot) RedrawResidualPlot(true);
  RepaintMain();
  // A key that stopped the model of the best point leaves none on show; one that
  // stopped the one run of a refinement with nothing floated has said so in that
  // run's note (report.message).
  if (outcome == FitOutcome::Interrupted && !bBatchMode && !report.stoppedBeforeResult)
    CommandMessageBox(*this, "fit interrupted: the best parameters found so far are shown",
                      "ATTENTION", MB_OK | MB_ICONINFORMATION);
  if (outcome == FitOutcome::Interrupted && !bBatchMode && report.stoppedBeforeResult &&
      report.message.empty())
    CommandMessageBox(*this, kFitStoppedBeforeModelText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
}

}  // namespace tarmic
