// Prior probabilities of the regularisation: the weight per grid point towards which
// maximum entropy (as its reference) and the second-derivative regularisation (as
// the weights of the penalty) pull a distribution. The prior comes from a two-column
// file (x, weight), from up to ten Gaussian or delta peaks typed in, or from a table
// made of the peaks of the current distribution; the c(s,ff0) models may weight the
// f/f0 direction by up to ten Gaussians as well.
//
// Only the shape of a prior matters: the regularisations scale it (regularization.h,
// PriorWeights), so a flat prior is the same as none.
//
// Arrays are 1-based; locations and widths are in the grid's unit (S for c(s)).
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

namespace tarmic {

constexpr int kPriorPeaks = 10;

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionPriorState {
  // The prior file in use (empty: none), and the last one chosen (kept while the file
  // is switched off, so that "From File" can take it again).
  std::string szPriorFile{};
  std::string szLastPriorFile{};
  // The peak rows 1..kPriorPeaks: location, width (0: a delta peak; -1 marks an empty
  // row) and amplitude (element 0 unused).
  double pPriorPeakLocation[kPriorPeaks + 1]{};
  double pPriorPeakWidth[kPriorPeaks + 1]{};
  double pPriorPeakAmplitude[kPriorPeaks + 1]{};
  // The prior comes from peaks picked in the current distribution, or from an
  // imported boundary table: both give the tabulated prior below.
  bool bPriorFromDiscreteSpecies = false;
  bool bPriorFromGJT = false;
  // The tabulated prior: abscissae and values [1..n] (element 0 unused).
  std::vector<double> pPriorTableX{};
  std::vector<double> pPriorTableY{};
  // Gaussians over f/f0 of the c(s,ff0) models (0-based, kPriorPeaks each); a row
  // with location, width or amplitude 0 is not used.
  double pFf0PriorLocation[kPriorPeaks]{};
  double pFf0PriorWidth[kPriorPeaks]{};
  double pFf0PriorAmplitude[kPriorPeaks]{};
};
// The current analysis' DistributionPriorState.
inline DistributionPriorState& DistributionPrior() { return CurrentPart<DistributionPriorState>(); }

// A prior table as read from a file, [1..n] (element 0 unused).
struct PriorTable {
  std::vector<double> x;
  std::vector<double> y;
  int Count() const { return x.empty() ? 0 : static_cast<int>(x.size()) - 1; }
};
// Reads a prior file: one record per non-blank line, the first two numbers of the
// line (x, prior weight); further fields are ignored. The file must hold at least 5
// records with increasing x, no negative weight and some positive weight. On
// failure *table is untouched and *error names the file, the line and the fault.
bool ReadPriorFile(const std::string& path, PriorTable* table, std::string* error);

// Fills pPriorProbabilityWork with the grid abscissae and, with bUsePrior,
// pPriorProbability with the prior for the current grid (and pFf0AxisWork with the
// f/f0 prior of the c(s,ff0) models when bFf0Prior). A prior file that can no longer
// be read is reported (not in batch mode) and switches the prior off. Returns true.
bool BuildPriorProbability();

// The centroid, minus the peak location, of the piecewise-linear profile through
// (x[j-1], 0), (x[j], h + r), (x[j+1], h - r), (x[j+2], 0); the location itself when
// the profile's area is 0. Its root in r places a delta peak of height h at the
// location by the two grid points j and j + 1.
double DeltaPeakCentroidOffset(const float* x, int j, double h, double location, double r);

// The file switched off (kept as the last file) and on again.
void SwitchPriorFileOff();
void SwitchPriorFileOn();
// Clears every peak row (width -1).
void ClearPriorPeaks();

// Builds the tabulated prior from the peaks of the current distribution, each taken
// as a pure species: the distribution is split at its local minima, and every part
// whose maximum exceeds 1 % of the largest value becomes a Gaussian of the part's
// area at its weight-average position, one grid interval wide, on the grid's
// abscissae, above a floor of 1e-3 of the largest table value. False (nothing
// changed) without a distribution or without a peak.
bool BuildPriorFromDistributionPeaks();

// Restores the defaults of this file.
void ResetDistributionPrior();

// Installs BuildPriorProbability as the grid's prior step (distribution hooks).
void InstallDistributionPrior();

}  // namespace tarmic
