// Whether a fit ended systematically worse than the noise of its data: the noise
// is estimated from the residuals themselves, from differences of residuals a few
// points apart within each scan, which a smooth misfit (a lost species, a boundary
// in the wrong place) barely changes while they carry the full noise. A fit whose
// rmsd exceeds that estimate by the factor kSystematicMisfitRatio gets a note: it
// may have ended in a local minimum, and a species whose amplitude went to zero or
// whose s changed sign is named.
//
// Estimator: for each lag k of kMisfitLags (points within a scan), the median of
// |r[i+k] - r[i]| over the fit points divided by 0.6745 sqrt(2) (the median of the
// magnitude of a difference of two independent normal values of deviation sigma is
// 0.6745 sqrt(2) sigma); the noise is the largest of these. The median ignores the
// few steep points of a misfit at a boundary; the longer lags carry the full noise
// when it is correlated over up to eight neighbouring points (interference optics,
// a smoothing camera), where neighbouring differences alone would see only part of it.
//
// Works on the fit points of the loaded scans (fit_rmsd.h), signal minus fit.
// UI thread only (reads the shared scan arrays).
#pragma once

#include <array>
#include <string>

#include "modelcalc/fit_driver.h"

namespace tarmic {

inline constexpr std::array<int, 4> kMisfitLags = {1, 2, 4, 8};
// A fit at the noise has an rmsd within a few per cent of the estimate (its own
// error and the noise's correlation beyond eight points); 25 % above it is a sum
// of squares 56 % above the noise's, thousands of units of chi-square on any data
// set the estimate is made for.
inline constexpr double kSystematicMisfitRatio = 1.25;
// Fewer fit points than this make no estimate.
inline constexpr long long kMisfitMinPoints = 200;

struct ResidualNoise {
  double rmsd = 0.0;   // of signal minus fit over the fit points
  double noise = 0.0;  // estimated from the residuals; 0 when not estimated
  long long points = 0;
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
    "the residuals themselves show (%.3g, from differences of neighbouring residuals), so "
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
