// Monte-Carlo statistics of a continuous distribution.
//
// From the unregularised best fit of the current distribution model, N synthetic
// data sets are made (best fit plus Gaussian noise with the rmsd of that fit). For
// each set only the right-hand side of the normal equations is rebuilt (the normal
// matrix depends on the kernels alone), the set is regularised again at the
// confidence level of the analysis, and its distribution is kept. From the N
// distributions follow, per grid point, the mean and confidence limits, and on
// request the statistics of the integrated concentration and weight-average s
// between two limits.
//
// The synthetic data never enter the measured scans or their grid rows (which, for
// data sharing one radius array, are the scans' own arrays): they live in a grid
// buffer of their own. The data means of the noise elimination, the right-hand
// side and the regularised solution of the measured data are kept and restored when
// the sets are done, so the fit, noise and distribution shown afterwards are those of
// the measured data.
//
// Indices are 1-based; G is the number of unknowns (nDistGrid, or nFf0Grid for the
// c(s,ff0) models).
#pragma once

#include "numerics/analysis.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "distributions/distribution_peaks.h"
#include "scandata/radial_grid.h"
#include "services/outcome_message.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct ContiMonteCarloState {
  // --- result store (alive from a computation to EndMonteCarloDistributions) ---
  // Rows 1..nMCSets of G values: the distribution of each set (c(s,ff0): the
  // two-dimensional values); row 0 is empty.
  std::vector<std::vector<float>> ppMCDistributions{};
  // c(s,ff0): rows 1..nMCSets of nDistGrid values, the projection of each set on s.
  std::vector<std::vector<float>> ppMCProjections{};
  // [1..nDistGrid]: mean, lower and upper limit of the last limit evaluation.
  std::vector<float> pMCMean{};
  std::vector<float> pMCLowerLimit{};
  std::vector<float> pMCUpperLimit{};
  int nMCSets = 0;  // sets in the store
  int nMCSetNumber = 0;  // set being made (0: the best fit)
  float fMCRmsd = 0.0f;  // rmsd of the best fit (the noise of every set)
  bool bCurvesShown = false;  // the two limit curves are in the distribution plot

  // The integral statistics left for a batch series: mean sw, standard deviation of
  // sw, lower sw, upper sw, mean c, standard deviation of c, lower c, upper c.
  float MCIntegralStats[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};
// The current analysis' ContiMonteCarloState.
inline ContiMonteCarloState& ContiMonteCarlo() { return CurrentPart<ContiMonteCarloState>(); }

// The integrated values of the sets between two limits (Monte Carlo for
// integrated sw): the weight-average s and the concentration, their means,
// standard deviations and 16 % and 84 % points.
struct MonteCarloSwResult {
  float swMean = 0, swStd = 0, swLow = 0, swHigh = 0;
  float cMean = 0, cStd = 0, cLow = 0, cHigh = 0;
  int swSets = 0;  // sets with a positive integral between the limits
  bool computed = false;  // there were stored sets to take them from
};

enum class MonteCarloOutcome {
  Completed,    // every set computed; the store holds nMCSets sets
  NotStarted,   // no data, fewer than 2 sets, or the grid or the best fit failed
  Interrupted,  // a key stopped it; the store holds the sets done (>= 2) or none
};

// The limits of one peak of the measured distribution over the sets (the
// kMonteCarloLow and kMonteCarloHigh points of the sets' peaks): its weight-average
// position (over the sets whose peak has an area) and its area.
inline constexpr double kMonteCarloLow = 0.16, kMonteCarloHigh = 0.84;
struct MonteCarloPeak {
  float position = 0.0f, area = 0.0f;  // of the measured distribution's peak
  float positionLow = 0.0f, positionHigh = 0.0f;
  int positionSets = 0;  // 0: no set has an area there, the position has no limits
  float areaLow = 0.0f, areaHigh = 0.0f;
};

// What a Monte-Carlo computation hands up: how it ended, the sets done of those
// asked, the seed of their noise, the limits of the measured distribution's
// labelled peaks, the integrated values' limits (Monte Carlo for integrated sw),
// the files written and its messages as records ("interrupted", "not-started").
struct MonteCarloResult {
  MonteCarloOutcome status = MonteCarloOutcome::NotStarted;
  int setsAsked = 0;
  int setsDone = 0;  // the sets kept in the store (none when fewer than 2 were done)
  std::uint32_t seed = 0;
  float confidence = 0.0f;
  std::vector<MonteCarloPeak> peaks;
  MonteCarloSwResult integrated;  // computed false unless asked for
  std::vector<std::string> written;
  std::vector<OutcomeMessage> messages;
};

// The computation: N sets, limit curves at confidence c (0 < c < 1), the result
// files in the directory of `path` (its name part is not used; an empty path writes
// no file), each set written to "<k>.dat" when writeEachSet. A key press stops it:
// during the best fit before any set, what was on show (distribution, fit, noise,
// bModelComputed) staying as it was; during the sets with the sets done kept.
// Outside batch mode the limits are evaluated and drawn at the end.
MonteCarloResult MonteCarloDistributions(Window* window, int sets, float c,
                                         const std::string& path, bool writeEachSet);

// Mean and limits at confidence c from the stored sets, written to "lim%3.0f.dat"
// (upper, then lower) and "mean.dat" (each file written added to *written); the
// plot shows the mean with the limits. False without results.
bool MonteCarloConfidenceLimits(float c, std::vector<std::string>* written = nullptr);

// The limits of each of peaks (of the measured distribution) over the stored sets:
// each set's peak is its own highest point within the peak's extent, delimited
// and integrated by the rule of the labels (FindDistributionPeak), as the measured
// peak was. The sets are made from the best fit's model and regularised again, so
// their peaks scatter about a centre of their own (their median), which
// regularisation can move from the measured value by more than the scatter
// itself: the limits are the sets' scatter below and above their median, laid
// about the measured peak's position and area. Empty without stored sets.
std::vector<MonteCarloPeak> MonteCarloPeakLimits(const std::vector<DistributionPeak>& peaks);

// Integrated concentration c_k and weight-average s of every set between smin and
// smax: means, standard deviations and the 16 % and 84 % points. In batch mode they
// go to MCIntegralStats as well; otherwise the command shows MonteCarloSwText.
MonteCarloSwResult MonteCarloSwStatistics(Window* window, float smin, float smax);
// The statistics as the box shows them ("average sw = ..."), or that no set has
// signal between the limits.
std::string MonteCarloSwText(const MonteCarloSwResult& r);
// Whether the Monte-Carlo sets are computed with maximum entropy alone although the
// settings show both regularisations: the command says so before it starts them
// ("only calculating for maximum entropy regularization").
bool MonteCarloOnlyMaximumEntropy();

// MonteCarloDistributions, then MonteCarloSwStatistics when sets were stored (into
// the result's integrated values).
MonteCarloResult MonteCarloIntegratedSw(Window* window, int sets, float c, float smin,
                                        float smax, const std::string& path, bool writeEachSet);

// Releases the store, removes the limit curves and shows the result of the
// measured data (its regularised solution, fit and noise).
void EndMonteCarloDistributions(Window* window);

// Whether a result store exists.
bool MonteCarloResultsAvailable();

// The files a computation at confidence c writes into its directory, each with
// what it holds, in the order written: the upper and the lower limit
// ("lim<thousandths>.dat"), the mean, for c(s,ff0) the sum of the sets, and with
// writeEachSet "0.dat" (the best fit) to "<sets>.dat". A later run replaces them.
std::vector<std::pair<std::string, std::string>> MonteCarloResultFiles(float c, bool writeEachSet,
                                                                       int sets);

// Rebuilds pNormalRhs[1..order] and dSumSqData of the current normal equations
// for the data grid[s][1..nGridPoints], s = 1..nScans, centred by the noise model
// of the switches with the data's own means over the fit points `fit` (the stored
// means of the measured data are not touched) and the kernels centred with their
// stored means; points that do not count enter nothing. Rows are dealt
// round-robin to `threads` workers (1: in the calling thread); every entry sums in
// the same order, so any thread count gives the same bits. False when the
// workspace does not fit the data.
bool RebuildMonteCarloRhs(const std::vector<std::vector<float>>& grid, int threads,
                          const GridFitPoints& fit);

// The k-th smallest of values[1..n] (k kept inside 1..n); values are rearranged.
float selectkth(int k, int n, float* values);

// The c(s,ff0) result, one line "%e %e %e %e %e %e" per cell: s, M, f/f0, D,
// Stokes radius, value. False (reported) when it cannot be written.
bool WriteSizeShapeDistribution(const std::string& fileName);

// Releases the store and restores the defaults of this file.
void ResetMonteCarlo();

}  // namespace tarmic
