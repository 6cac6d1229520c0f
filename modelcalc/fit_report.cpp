#include "modelcalc/fit_report.h"
#include "numerics/analysis.h"

#include <utility>

#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "platform/types.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"
#include "services/run_switches.h"

namespace tarmic {

namespace {
std::size_t Idx(int i) { return static_cast<std::size_t>(i); }
}  // namespace

FitPointsTarget::FitPointsTarget(SimplexObjective objective) : FitPointsTarget(std::move(objective), CurrentFitPoints()) {}

FitPointsTarget::FitPointsTarget(SimplexObjective objective, const FitPointsData& points)
    : objective_(std::move(objective)), data_(points), points_(static_cast<std::size_t>(CountFitPoints(points))) {}

bool FitPointsTarget::Evaluate(const float* p) {
  refused_ = !(objective_(p) < kNoModelRmsd);
  return !FitState().bFitInterrupted;
}

void FitPointsTarget::Values(double* model, double* data) const {
  const DataSetState& rows = *data_.data;
  std::size_t k = 0;
  ForEachFitPoint(data_, [&](int s, int i) {
    model[k] = rows.ppFit[Idx(s)][i];
    if (data) data[k] = rows.ppSignal[Idx(s)][i];
    ++k;
  });
}

FitOutcome NoteRefusedTrials(FitReport& report, FitOutcome outcome) {
  const bool result = (outcome == FitOutcome::Completed || outcome == FitOutcome::Interrupted) &&
                      !report.stoppedBeforeResult && AnalysisSwitches().bModelComputed;
  const RefusedTrials& refused = report.refused;
  if (refused.count == 0 || !result || !report.message.empty()) return outcome;
  std::string text = refused.count > 1 ? Format(kFitWentRoundRefusedText, refused.count)
                                       : std::string(kFitWentRoundOneRefusedText);
  if (FitConverged(outcome, report)) text += kFitConvergedText;
  if (!refused.reason.empty())
    text += (refused.count > 1 ? "\nThe reason of the first: " : "\nThe reason: ") + refused.reason;
  report.notes.push_back({"refused-trials", text});
  if (!bBatchMode) report.message = {std::move(text), "Note", MB_OK | MB_ICONINFORMATION, false};
  return outcome;
}

namespace {
// This module's own state in the analysis.
struct LocalState {
  FitEnd gLastFitEnd{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }
}  // namespace

bool FitConverged(FitOutcome outcome, const FitReport& report) { return WhyNotConverged(outcome, report).empty(); }

std::string WhyNotConverged(FitOutcome outcome, const FitReport& report) {
  switch (outcome) {
    case FitOutcome::NotStarted: return "not-started";
    case FitOutcome::Interrupted: return "interrupted";
    case FitOutcome::Failed: return "failed";
    case FitOutcome::Completed: break;
  }
  if (report.stoppedBeforeResult) return "stopped-before-result";
  if (report.simplexNotConverged) return "evaluation-limit";
  if (!report.converged) return "no-convergence-test";
  if (!report.atBound.empty()) return "at-bound";
  if (report.localStepGain > 0.0) return "lower-point-near-the-end";
  if (report.gridRefined != 0) return "finer-grid-needed";
  return "";
}

const FitEnd& LastFitEnd() { return Local().gLastFitEnd; }
void KeepLastFitEnd(FitOutcome outcome, const FitReport& report) { Local().gLastFitEnd = {outcome, report}; }
void ForgetLastFit() { Local().gLastFitEnd = {}; }

FitOutcome NothingFloated(FitReport& report) {
  report.converged = true;
  return FitOutcome::Completed;
}

}  // namespace tarmic
