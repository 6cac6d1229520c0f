#include "modelcalc/analysis_outcome.h"

#include "modelcalc/conti_fit_params.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_end_check.h"
#include "modelfit/model_flags.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

AnalysisOutcome OutcomeOfComputation(bool fit) {
  AnalysisOutcome o;
  o.fit = fit;
  if (!FitOfLoadedData()) return o;
  o.status = AnalysisOutcome::Status::Computed;
  if (!fit) return o;
  const FitEnd& end = LastFitEnd();
  o.whyNotConverged = WhyNotConverged(end.outcome, end.report);
  o.fitEnd = FitEndStatus(end.outcome, end.report);
  if (!o.whyNotConverged.empty()) o.status = AnalysisOutcome::Status::NotConverged;
  o.atBounds = IsContinuousModel() ? ContiValuesAtLimit() : FloatedValuesAtLimit();
  o.misfitRatio = end.report.misfitRatio;
  o.systematicMisfit = end.report.systematicMisfit;
  o.messages = end.report.notes;
  return o;
}

const char* OutcomeStatusName(AnalysisOutcome::Status status) {
  switch (status) {
    case AnalysisOutcome::Status::NotComputed: return "not computed";
    case AnalysisOutcome::Status::Computed: return "computed";
    case AnalysisOutcome::Status::NotConverged: return "not converged";
  }
  return "";
}

}  // namespace tarmic
