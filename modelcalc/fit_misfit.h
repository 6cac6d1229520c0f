// Whether a fit ended systematically worse than the noise of its data: the noise
// is estimated from the residuals themselves, in a way that neither the noise's
// own correlation along a scan nor a pattern the model does not fit lowers or
// raises it. A fit whose residuals fail the test below gets a note: the model misses
// a feature of the data or the fit ended in a local minimum, and a species whose
// amplitude went to zero or whose s changed sign is named.
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
// Whether the misfit is systematic is a statistical test, not a ratio
// (NeighbourScanTest): the residuals of two scans that follow each other, at the same
// radius, are independent when the model is right, whatever the noise's correlation
// along a scan, so the sum of their products has mean zero; a misfit the model leaves
// changes slowly from one scan to the next and makes it positive. The sum is taken of
// blocks of 1, 4, 16 and 64 neighbouring points (the larger blocks gather a smooth
// misfit above the noise) and divided by its standard deviation under the noise,
// taken from the differences of the two scans (in which a misfit that changes slowly
// cancels) with the noise's correlation along a scan; the largest of the
// standardised sums is held against the normal quantile of the false-alarm rate
// shared by the scales (Verdicts()). Where the fit
// solves time-invariant noise, which makes the residuals of one radius sum to zero
// over the scans, the products' expected -1/S of the noise is added back. The rmsd
// over the noise is shown, not judged, except where no two scans share radii.
//
// Works on the fit points of the loaded scans (fit_rmsd.h), signal minus fit.
// UI thread only (reads the shared scan arrays).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "modelcalc/fit_report.h"

namespace tarmic {

inline constexpr std::array<int, 6> kMisfitLags = {1, 2, 4, 8, 16, 32};
// The largest correlation of neighbouring residuals the within-scan model fits: a
// larger one cannot be told from a smooth misfit.
inline constexpr double kMisfitMostCorrelation = 0.95;
// The sizes of the blocks of neighbouring points the test of a systematic misfit
// sums, the fewest blocks a pair of scans needs at a scale, and the longest lag (in
// blocks) of the noise's correlation along a scan that its variance counts.
inline constexpr std::array<int, 4> kMisfitScales = {1, 4, 16, 64};
inline constexpr int kMisfitLeastBlocks = 8;
inline constexpr int kMisfitMostLag = 32;
// Fewer fit points than this make no estimate.
inline constexpr long long kMisfitMinPoints = 200;

// The test of a systematic misfit on the residuals of neighbouring scans.
struct MisfitTest {
  bool ran = false;     // two scans share radii (else the within-scan ratio decides)
  double z = 0.0;       // the largest standardised sum of the products over the scales
  int scale = 0;        // the block size (points) of that sum
  int scales = 0;       // the scales that had enough points
  double threshold = 0.0;  // the normal quantile z is held against
  bool fires = false;
};

struct ResidualNoise {
  double rmsd = 0.0;   // of signal minus fit over the fit points
  double noise = 0.0;  // estimated from the residuals; 0 when not estimated
  long long points = 0;
  // The estimate came from differences between scans at the same radius (else from
  // the within-scan model of the noise's correlation).
  bool betweenScans = false;
  MisfitTest test;
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
    "The residuals show a systematic misfit: the residuals of neighbouring scans agree at the "
    "same radius beyond what their noise allows (%.1f standard deviations, where a fit of the "
    "right model exceeds %.1f once in %.0f fits); the rmsd (%.3g) is %.3g times the noise that "
    "the residuals themselves show (%.3g). The model misses a feature of the data, or the fit "
    "ended in a local minimum and not at the best fit.";
inline constexpr const char* kSystematicMisfitRatioText =
    "The residuals show a systematic misfit: the rmsd (%.3g) is %.2g times the noise that "
    "the residuals themselves show (%.3g, from differences of residuals within each scan), so "
    "the fit may have ended in a local minimum and not at the best fit.";
inline constexpr const char* kSpeciesAmplitudeZeroText = " The amplitude of species %d went to zero.";
inline constexpr const char* kSpeciesSignChangedText =
    " The s of species %d changed its sign (%.3g S at the start, %.3g S at the end).";

// The test of a systematic misfit on residuals scans[j][i] of scans following each
// other in time at radii radius[j][i] (each in increasing order); tiScans > 0 when
// the fit solved time-invariant noise over that many scans. Exposed for the tests.
struct ScanResidualRow {
  std::vector<float> radius;
  std::vector<double> value;
};
MisfitTest NeighbourScanTest(const std::vector<ScanResidualRow>& scans, int tiScans);

// After a fit with a result (outcome Completed or Interrupted, FitOfLoadedData, not
// DLS data): sets report.misfitRatio and report.systematicMisfit, and when the fit
// is systematically worse than the noise adds the note to report.message (a note
// of its own, caption "Note", or after the message there; not in batch mode).
void NoteSystematicMisfit(FitReport& report, FitOutcome outcome, const SpeciesAtStart& start);

}  // namespace tarmic
