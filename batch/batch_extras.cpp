#include "batch/batch_extras.h"

#include <algorithm>
#include <cmath>

#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "commands/command_support.h"
#include "commands/save_outcome.h"
#include "distributions/distribution_grid.h"
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
  if (saveNoise && !AnalysisSwitches().bFitTINoise && !AnalysisSwitches().bFitRINoise)
    return "--save-noise: the analysis of the parameter file fits no systematic noise";
  return {};
}

std::string SaveNoiseInto(TXLAWindow& window, BatchBackend& backend, const std::string& stage) {
  const std::size_t unanswered = backend.Unanswered().size();
  backend.SaveInto(stage);
  DispatchCommand(window, kCmSaveNoise);
  backend.SaveInto("");
  if (backend.Unanswered().size() != unanswered) return "Save Systematic Noise asked what a batch run does not answer";
  // The command's box said why; its outcome says whether.
  if (!LastSaveOutcome().saved) return "Save Systematic Noise did not save the noise";
  return {};
}

std::string MonteCarloOfPeaks(TXLAWindow& window, int sets, const std::string& stage, MonteCarloResult* result) {
  // The computation's batch form: no plots drawn at its end, the statistics kept.
  const bool batch = bBatchMode;
  bBatchMode = true;
  window.bRunInProgress = true;
  *result = MonteCarloDistributions(&window.GetHandle(), sets, kBatchMonteCarloConfidence, JoinPath(stage, "mean.dat"),
                                    false);
  window.bRunInProgress = false;
  std::string error;
  if (result->status != MonteCarloOutcome::Completed || result->setsDone < 2) {
    error = "the Monte-Carlo sets were not computed";
  } else {
    // Every limit file is written, or the limits are not there.
    const std::size_t before = result->written.size();
    const bool limits = MonteCarloConfidenceLimits(kBatchMonteCarloConfidence, &result->written);
    if (!limits || result->written.size() - before < MonteCarloResultFiles(kBatchMonteCarloConfidence, false, sets).size())
      error = "the Monte-Carlo limits were not written";
  }
  EndMonteCarloDistributions(&window.GetHandle());
  bBatchMode = batch;
  return error;
}

}  // namespace tarmic
