// The Parameters and Run commands and the numerical settings of the model: the
// Lamm-equation parameters and the fit limits of meniscus and bottom.
#include "app/global_eq_view.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/global_equilibrium_commands.h"
#include "commands/save_outcome.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "modelfit/fit_limit_prompts.h"
#include "modelfit/lamm_dialog.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/model_steps.h"
#include "modelcalc/time_course.h"
#include "modelfit/param_checks.h"
#include "modelfit/params_dialog.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "plot/data_plots.h"
#include "platform/backend.h"
#include "commands/equilibrium_sorting.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// A record that no dialog has used yet takes its defaults first.
bool Unused(const TransferBuffer& record) { return record.text.empty() && record.checked.empty(); }

}  // namespace

void TXLAWindow::ParametersCommand() {
  // In the equilibrium-test view the command only leaves that view.
  if (bEqTestView) {
    EndEqTestMode(*this);
    RepaintMain();
    return;
  }
  // In the view of a global analysis: its fitted values with their errors.
  if (bGlobalEqView) {
    ShowGlobalEqParameters(*this);
    return;
  }
  if (!RequireChosenModel(*this)) return;
  if (Unused(paramsTransfer)) InitParamsTransfer(paramsTransfer);
  if (RunParametersDialog(&GetHandle(), paramsTransfer, &bModalBoxOpen)) RepaintMain();
}

void TXLAWindow::CmRun() {
  AnalysisCommandOutcome analysis(false);
  if (const std::string mismatch = ContinuousModelDataMismatch(); !mismatch.empty()) {
    CommandMessageBox(*this, mismatch, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (!RunnableModelActive()) {
    CommandMessageBox(*this, ModelNotRunnableText(), "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (!RequireLoadedData(*this) || !RequireFitPoints(*this)) return;
  if (DiscreteModelActive()) {
    analysis.Keep(RunDiscreteModel());
    return;
  }
  DistributionModels().bContiInnerRun = false;
  DistributionPlot().bFMScalingLawSwitching = false;
  bRunInProgress = true;
  if (ModelFlags().bDLSTimeCourseModel) {
    TimeCourseTable course;
    RunContinuousModel(&GetHandle(), course);
    bRunInProgress = false;
    // A stopped time course is no complete computation.
    analysis.Keep(OutcomeOfRun(!course.stopped && AnalysisSwitches().bModelComputed));
    if (course.stopped && !bBatchMode)
      CommandMessageBox(*this, TimeCourseStoppedText(course, AnalysisSwitches().bModelComputed), "ERROR", MB_OK);
    // The windows done are written where the user chooses.
    if (course.done >= 1) {
      FileDialogOptions options;
      options.title = "save the time course (radii.dat, times.dat, sizes.dat) in";
      options.filter = "dat files (*.dat)|*.dat|All Files (*.*)|*.*";
      options.defaultName = "sizes.dat";
      options.defaultExt = "dat";
      if (const std::optional<std::string> chosen = AskSaveFilePath(*this, options);
          chosen && MayReplace(*this, TimeCourseFiles(*chosen)))
        WriteTimeCourse(course, *chosen);
    }
    RepaintMain();
    return;
  }
  const ContiRunResult run = RunContiSed(&GetHandle());
  bRunInProgress = false;
  analysis.Keep(OutcomeOfRun(run.outcome == ContiRunOutcome::Computed));
  ShowContiRunMessage(*this, run.message);
  if (run.outcome == ContiRunOutcome::Computed) DataSet().bDataChanged = false;
  RepaintMain();
}

// Computes the discrete-species model with the current parameters, redrawing while
// it computes, and shows fit and residuals. The computation shows its own boxes.
// Returns the outcome the computation returned (none computed for a refusal).
AnalysisOutcome TXLAWindow::RunDiscreteModel() {
  // Values no computation can use, whatever route they came by, are refused before
  // the last fit goes.
  if (const std::string refusal = RunValuesRefusal(); !refusal.empty()) {
    PlayErrorSound();
    CommandMessageBox(*this, refusal, "ERROR", MB_OK);
    return OutcomeOfRun(false);
  }
  bRunInProgress = true;
  ModelSteps().bLiveDisplay = true;
  const LastModelFit last;
  const bool earlierModel = AnalysisSwitches().bModelComputed;
  RunComputation run = RunLoadedData(&GetHandle());
  const ModelResult& result = run.result;
  ModelSteps().bLiveDisplay = false;
  bRunInProgress = false;
  if (result.status == ModelStatus::NotStarted) {
    if (!result.message.empty()) CommandMessageBox(*this, result.message, "", MB_OK);
    return std::move(run.outcome);
  }
  // A key that a solution took stops the Run; one that came after the last solution
  // is no stop of this Run and does not stop the next computation either.
  const bool stopped = result.status == ModelStatus::Interrupted;
  bUserAbort = false;
  if (stopped) bStopRealtimeUpdate = true;
  if (result.status == ModelStatus::Computed) DataSet().bDataChanged = false;
  // A Run that has no model to show keeps the last fit on show.
  if (result.status != ModelStatus::Computed) last.PutBack();
  // The partial model of a stopped Run is not shown; the note says what is.
  if (stopped && !bBatchMode)
    CommandMessageBox(*this, StoppedRunText(earlierModel), "ERROR", MB_OK);
  // A failed solution has shown its own message; a model without finite values
  // says so here.
  if (result.status == ModelStatus::Failed && !result.message.empty()) {
    PlayErrorSound();
    CommandMessageBox(*this, result.message, "ERROR", MB_OK);
  }
  // Amplitudes of rows a failed or interrupted Run left unfinished are no finding.
  if (result.status == ModelStatus::Computed && !result.amplitudesSolved) {
    PlayErrorSound();
    CommandMessageBox(*this, "the amplitudes could not be solved (NNLS)", "ERROR", MB_OK);
  }
  if (DataPlots().pDataPlot) RedrawDataPlot(true);
  if (DataPlots().pResidualsPlot) RedrawResidualPlot(true);
  RepaintMain();
  return std::move(run.outcome);
}

void TXLAWindow::CmSetFitLimits() {
  RunFitLimitPrompts(&GetHandle());
}

void TXLAWindow::CmLammEquationParameters() {
  if (Unused(lammParamsTransfer)) InitLammParamsTransfer(lammParamsTransfer);
  RunLammParametersDialog(&GetHandle(), lammParamsTransfer, &bModalBoxOpen);
}

}  // namespace tarmic
