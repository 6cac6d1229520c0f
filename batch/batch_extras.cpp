#include "batch/batch_extras.h"

#include <algorithm>
#include <cmath>

#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "commands/command_support.h"
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
  const std::size_t boxes = backend.Boxes().size(), unanswered = backend.Unanswered().size();
  backend.SaveInto(stage);
  DispatchCommand(window, kCmSaveNoise);
  backend.SaveInto("");
  if (backend.Unanswered().size() != unanswered) return "Save Systematic Noise asked what a batch run does not answer";
  for (std::size_t i = boxes; i < backend.Boxes().size(); ++i)
    if (!backend.Boxes()[i].question) return "Save Systematic Noise: " + BoxLine("", backend.Boxes()[i].text);
  return {};
}

namespace {

// The point at `fraction` of values (sorted in place), as the limit files take it:
// the floor(n fraction)-th smallest, kept inside 1..n.
float PointAt(std::vector<float>& values, double fraction) {
  std::sort(values.begin(), values.end());
  const int n = static_cast<int>(values.size());
  const int k = std::clamp(static_cast<int>(std::floor(n * fraction)), 1, n);
  return values[static_cast<std::size_t>(k - 1)];
}

// Each stored set's peak of the best fit's peak: the set's own highest point
// within the best fit's extent of the peak, delimited and integrated by the rule
// of the labels (FindDistributionPeak), so that every set's peak is found as the
// best fit's was. The set's distribution is put on show while it is looked at.
//
// The sets are made from the best fit's model and regularised again, so their
// peaks scatter about a centre of their own (the median), which regularisation
// can move from the best fit's value by more than the scatter itself. The limits
// describe the peak the summary names: the scatter of the sets below and above
// their median, laid about the best fit's position and area.
MonteCarloPeak SetPeaks(const DistributionPeak& best) {
  MonteCarloPeak result;
  const int n = ContiMonteCarlo().nMCSets;
  const std::vector<float> shown(DistributionVectors().pDistValues, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  std::vector<float> positions, areas;
  for (int k = 1; k <= n; ++k) {
    const std::vector<float>& row = ContiMonteCarlo().ppMCDistributions[static_cast<std::size_t>(k)];
    std::copy(row.begin() + 1, row.begin() + 1 + DistributionVectors().nDistGrid, DistributionVectors().pDistValues + 1);
    int top = std::clamp(best.index, 1, DistributionVectors().nDistGrid);
    for (int i = std::max(1, best.extent.leftIndex); i <= std::min(DistributionVectors().nDistGrid, best.extent.rightIndex); ++i)
      if (DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[top]) top = i;
    const PeakExtent peak = FindDistributionPeak(top, kPeakEdgeFraction);
    areas.push_back(peak.area);
    if (peak.area > 0.0f) positions.push_back(peak.averageX);
  }
  std::copy(shown.begin(), shown.end(), DistributionVectors().pDistValues);
  // The limits of values about `centre`: the sets' points at the low and high
  // fractions, moved by the distance of their median from centre.
  const auto about = [](std::vector<float>& values, float centre, float& low, float& high) {
    const float median = PointAt(values, 0.5);
    low = centre - (median - PointAt(values, kMonteCarloLow));
    high = centre + (PointAt(values, kMonteCarloHigh) - median);
  };
  if (!positions.empty()) {
    about(positions, best.extent.averageX, result.positionLow, result.positionHigh);
    result.positionSets = static_cast<int>(positions.size());
  }
  about(areas, best.extent.area, result.areaLow, result.areaHigh);
  return result;
}

}  // namespace

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
  if (outcome == MonteCarloOutcome::Completed && MonteCarloResultsAvailable()) {
    for (const DistributionPeak& peak : peaks)
      if (peak.labelled) result.peaks.push_back(SetPeaks(peak));
  } else {
    result.error = "the Monte-Carlo sets were not computed";
  }
  EndMonteCarloDistributions(&window.GetHandle());
  bBatchMode = batch;
  return result;
}

}  // namespace tarmic
