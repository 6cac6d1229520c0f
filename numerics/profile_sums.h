// The sums of a kernel's profiles that the elimination of systematic noise needs
// (per-radius sums over the scans, per-scan sums over the fit range), in one fixed
// order of additions, so that whoever computes them gets the same bits: the solver
// that writes a profile (while it is in the core's cache) or the pass over all
// profiles of the normal equations.
//
// Profiles are one-based rows of floats, row[1..nGrid]; scans s0..s1 are summed in
// this order; sums are in double.
#pragma once

#include <vector>

namespace tarmic {

// Sum of x[0..n-1] in eight interleaved partial sums (lane k takes x[k], x[k+8], ...),
// combined pairwise at the end: independent chains of additions that the compiler
// can put into vector registers.
[[gnu::always_inline]] inline double InterleavedSum(const float* x, int n) {
  double part[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int p = 0;
  for (; p + 8 <= n; p += 8) {
    for (int k = 0; k < 8; ++k) part[k] += x[p + k];
  }
  for (int k = 0; p < n; ++p, ++k) part[k] += x[p];
  return ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
}

// The sums of one scan's profile row: with radius, radius[g] += row[g] at every grid
// point 1..nGrid; with scan, *scan = the interleaved sum of the nFit values from
// row + fitFirst. Inlined into functions compiled for each instruction set; every
// variant adds in the same order.
[[gnu::always_inline]] inline void AddScanSums(const float* row, int nGrid, int fitFirst, int nFit,
                                               double* radius, double* scan) {
  if (radius) {
    for (int g = 1; g <= nGrid; ++g) radius[g] += row[g];
  }
  if (scan) *scan = InterleavedSum(row + fitFirst, nFit);
}

// The sums of one kernel's rows rows[s0..s1], gathered scan by scan as a solver
// writes them. They are complete when every row s0..s1 was written exactly once,
// in this order, since the last time row s0 was written (a solver that starts again
// writes row s0 again); any other order, a row at another address or of another
// length leaves them incomplete until row s0 is written again. One object is used by
// one thread at a time.
class ProfileSums {
 public:
  // Sums of rows[s0..s1] over radii 1..nGrid, the scan sums over the fit range
  // fitFirst..fitFirst+nFit-1 (1 <= fitFirst, fitFirst + nFit - 1 <= nGrid).
  void Begin(float* const* rows, int s0, int s1, int nGrid, int fitFirst, int nFit);
  // The profile of scan `scan` was written into row[1..n].
  void Written(int scan, const float* row, int n);
  // The sums no longer describe the rows (they were written otherwise).
  void Invalidate() { next_ = 0; }
  // Complete sums of exactly these rows, scans, radii and fit range.
  bool CompleteFor(float* const* rows, int s0, int s1, int nGrid, int fitFirst, int nFit) const;
  // radius[1..nGrid]: sum over scans s0..s1 of row[g]; ScanSum(s): the interleaved sum
  // of scan s over the fit range.
  const double* RadiusSums() const { return radius_.data(); }
  double ScanSum(int s) const { return scan_[static_cast<std::size_t>(s)]; }

 private:
  float* const* rows_ = nullptr;
  int s0_ = 1, s1_ = 0, nGrid_ = 0, fitFirst_ = 1, nFit_ = 0;
  int next_ = 0;  // the scan expected next (s1 + 1: complete; 0: not summing)
  std::vector<double> radius_, scan_;
};

}  // namespace tarmic
