// What a batch run adds to an analysis on request, through the window's own
// commands and computations: Save Systematic Noise (--save-noise) and the
// Monte-Carlo confidence limits of a distribution's peaks (--monte-carlo N), each
// writing into the run's staging folder. Main thread only.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarmic {

class BatchBackend;
class TXLAWindow;

// Why the analysis in effect cannot take the options (a model without a
// distribution for --monte-carlo, no systematic noise fitted for --save-noise);
// empty when it can.
std::string ExtrasRefusal(int monteCarloSets, bool saveNoise);

// Save Systematic Noise into stage, its dialogs answered with the names they
// propose. Empty when the files were written, otherwise why not.
std::string SaveNoiseInto(TXLAWindow& window, BatchBackend& backend, const std::string& stage);

// The confidence level of the Monte-Carlo limit files, the start value of the
// window's question.
inline constexpr float kBatchMonteCarloConfidence = 0.68f;

// The 68 % limits of one peak over the Monte-Carlo sets (the 16 % and 84 % points
// of the sets' peaks): its weight-average position (over the sets whose peak has
// an area) and its area.
inline constexpr double kMonteCarloLow = 0.16, kMonteCarloHigh = 0.84;
struct MonteCarloPeak {
  float positionLow = 0.0f, positionHigh = 0.0f;
  int positionSets = 0;  // 0: no set has an area there, the position has no limits
  float areaLow = 0.0f, areaHigh = 0.0f;
};
struct PeakLimits {
  // For each peak of the summary, in its order.
  std::vector<MonteCarloPeak> peaks;
  std::string error;  // why the sets were not computed; empty when they were
};
// Monte Carlo for Distributions with `sets` data sets: the limit and mean files
// into stage, then the integrated statistics of every peak of the measured
// distribution between its limits; the measured distribution is shown again at
// the end.
PeakLimits MonteCarloOfPeaks(TXLAWindow& window, int sets, const std::string& stage);

}  // namespace tarmic
