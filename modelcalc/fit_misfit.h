// Whether a fit ended systematically worse than the noise of its data: the noise
// is estimated from the residuals themselves, in a way that neither the noise's
// own correlation along a scan nor a pattern the model does not fit lowers or
// raises it. A fit whose rmsd exceeds that estimate by the factor
// kSystematicMisfitRatio gets a note: it may have ended in a local minimum, and a
// species whose amplitude went to zero or whose s changed sign is named.
//
// Estimator (docs/decisions/residual-noise-estimate.md): residuals of two scans
// following each other in time, at the same radius, differ by two independent
// draws of the noise however strongly the noise of one scan is correlated along its
// radii; a time-invariant pattern cancels in the difference, and a radially
// invariant one (an offset of each scan) is taken out by the median difference of
// each pair. The noise is the deviation of d - median(d) over all pairs, from the
// smallest three quarters of their magnitudes (which ignore the points where a misfit
// moves with the boundary from one scan to the next), over sqrt(2).
// Data without two scans on the same radii (a single scan, radii that differ) use
// differences within each scan at lags kMisfitLags and a model of the noise's
// serial correlation: half the squared deviation of the differences at lag k is
// sigma^2 (1 - rho^k) (first-order autoregressive noise), fitted for sigma and rho.
//
// Works on the fit points of the loaded scans (fit_rmsd.h), signal minus fit.
// UI thread only (reads the shared scan arrays).
#pragma once

#include <array>
#include <string>

#include "modelcalc/fit_report.h"

namespace tarmic {

inline constexpr std::array<int, 6> kMisfitLags = {1, 2, 4, 8, 16, 32};
// The largest correlation of neighbouring residuals the within-scan model fits: a
// larger one cannot be told from a smooth misfit.
inline constexpr double kMisfitMostCorrelation = 0.95;
// A fit at the noise has an rmsd within a few per cent of the estimate (the
// estimate's own error); 25 % above it is a sum
// of squares 56 % above the noise's, thousands of units of chi-square on any data
// set the estimate is made for.
inline constexpr double kSystematicMisfitRatio = 1.25;
// Fewer fit points than this make no estimate.
inline constexpr long long kMisfitMinPoints = 200;

struct ResidualNoise {
  double rmsd = 0.0;   // of signal minus fit over the fit points
  double noise = 0.0;  // estimated from the residuals; 0 when not estimated
  long long points = 0;
  // The estimate came from differences between scans at the same radius (else from
  // the within-scan model of the noise's correlation).
  bool betweenScans = false;
};
// The rmsd and noise of the residuals of the fit on show.
ResidualNoise EstimateResidualNoise();

// The species of the discrete model at the start of a fit (slots 1..4): included,
// s, amplitude.
struct SpeciesAtStart {
  bool discrete = false;
  bool included[5] = {};
  float s[5] = {}, amplitude[5] = {};
};
SpeciesAtStart TakeSpeciesAtStart();

inline constexpr const char* kSystematicMisfitText =
    "The residuals show a systematic misfit: the rmsd (%.3g) is %.2g times the noise that "
    "the residuals themselves show (%.3g, from differences of residuals at the same radius), so "
    "the fit may have ended in a local minimum and not at the best fit.";
inline constexpr const char* kSpeciesAmplitudeZeroText = " The amplitude of species %d went to zero.";
inline constexpr const char* kSpeciesSignChangedText =
    " The s of species %d changed its sign (%.3g S at the start, %.3g S at the end).";

// After a fit with a result (outcome Completed or Interrupted, FitOfLoadedData, not
// DLS data): sets report.misfitRatio and report.systematicMisfit, and when the fit
// is systematically worse than the noise adds the note to report.message (a note
// of its own, caption "Note", or after the message there; not in batch mode).
void NoteSystematicMisfit(FitReport& report, FitOutcome outcome, const SpeciesAtStart& start);

}  // namespace tarmic
