#include "batch/batch_extras.h"

#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "commands/command_support.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_peaks.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelfit/model_flags.h"
#include "platform/events.h"
#include "resources/command_ids.h"
#include "scandata/analysis_switches.h"
#include "scandata/text_io.h"
#include "services/run_switches.h"

namespace tarmic {

std::string ExtrasRefusal(int monteCarloSets, bool saveNoise) {
  if (monteCarloSets > 0 && !IsContinuousModel())
    return "--monte-carlo: the model of the parameter file is no continuous distribution";
  if (monteCarloSets > 0 && IsSizeShapeModel())
    return "--monte-carlo: the peaks of a size-and-shape distribution are not listed";
  if (saveNoise && !bFitTINoise && !bFitRINoise)
    return "--save-noise: the analysis of the parameter file fits no systematic noise";
  return {};
}

std::string SaveNoiseInto(TXLAWindow& window, BatchBackend& backend, const std::string& stage) {
  const std::size_t boxes = backend.Boxes().size(), unanswered = backend.Unanswered().size();
  backend.SaveInto(stage);
  DispatchCommand(window, kCmSaveNoise);
  backend.SaveInto("");
  if (backend.Unanswered().size() != unanswered) return "Save Systematic Noise asked what a batch run does not answer";
  for (std::size_t i = boxes; i < backend.Boxes().size(); ++i)
    if (!backend.Boxes()[i].question) return "Save Systematic Noise: " + BoxLine("", backend.Boxes()[i].text);
  return {};
}

PeakLimits MonteCarloOfPeaks(TXLAWindow& window, int sets, const std::string& stage) {
  PeakLimits result;
  const std::vector<DistributionPeak> peaks = DistributionPeakList();
  // The computation's batch form: no plots drawn at its end, the statistics kept.
  const bool batch = bBatchMode;
  bBatchMode = true;
  window.bRunInProgress = true;
  const MonteCarloOutcome outcome = MonteCarloDistributions(&window.GetHandle(), sets, kBatchMonteCarloConfidence,
                                                            JoinPath(stage, "mean.dat"), false);
  window.bRunInProgress = false;
  if (outcome == MonteCarloOutcome::Completed && !MonteCarloConfidenceLimits(kBatchMonteCarloConfidence))
    result.error = "the Monte-Carlo limits were not written";
  std::string positions, areas;
  if (outcome == MonteCarloOutcome::Completed) {
    for (const DistributionPeak& peak : peaks) {
      if (!peak.labelled) continue;
      const MonteCarloSwResult r = MonteCarloSwStatistics(&window.GetHandle(), peak.extent.leftX, peak.extent.rightX);
      if (!positions.empty()) {
        positions += ' ';
        areas += ' ';
      }
      positions += r.swSets > 0 ? Format("%g:%g", static_cast<double>(r.swLow), static_cast<double>(r.swHigh)) : "-";
      areas += Format("%g:%g", static_cast<double>(r.cLow), static_cast<double>(r.cHigh));
    }
  } else {
    result.error = "the Monte-Carlo sets were not computed";
  }
  EndMonteCarloDistributions(&window.GetHandle());
  bBatchMode = batch;
  result.columns = {{"position-limits", positions}, {"area-limits", areas}};
  return result;
}

}  // namespace tarmic
