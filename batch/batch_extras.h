// What a batch run adds to an analysis on request, through the window's own
// commands and computations: Save Systematic Noise (--save-noise) and the
// Monte-Carlo confidence limits of a distribution's peaks (--monte-carlo N), each
// writing into the run's staging folder. Main thread only.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "modelcalc/conti_monte_carlo.h"

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

// Monte Carlo for Distributions with `sets` data sets in batch mode: the limit and
// mean files into stage. Its result holds the 68 % limits of each labelled peak of
// the measured distribution, in the summary's order, and the files written; the
// measured distribution is shown again at the end. Empty, or why the limits are
// not all there (the sets not computed, a limit file not written).
std::string MonteCarloOfPeaks(TXLAWindow& window, int sets, const std::string& stage, MonteCarloResult* result);

}  // namespace tarmic
