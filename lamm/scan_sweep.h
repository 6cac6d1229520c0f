// A scan of a scanning absorbance optical system: the head crosses the cell from
// the meniscus to the bottom at a finite speed, so the recorded profile is taken in
// partial sweeps at successive times, each over the radii the head has reached.
#pragma once

namespace tarmic {

// Partial sweeps in which a scan is assembled.
inline constexpr int kScanSweeps = 100;

// Takes partial sweep k (0-based) of `sweeps` from the grid profile r[1..n] (cm),
// c[1..n] into out[1..n]: sweep 0 first zeroes out; the points after *lastCopied up
// to the head radius (inclusive) take their current values, on the last sweep all
// remaining points; *lastCopied advances. rOut (may be null) receives the radii the
// values were taken at (a moving grid changes them between sweeps). Returns true
// when the scan is complete (k = sweeps - 1).
bool TakeScanSweep(int k, int sweeps, int n, const double* r, const double* c, double head,
                   int* lastCopied, double* out, double* rOut);

}  // namespace tarmic
