// The sums of a kernel's profiles, gathered as a solver writes them.
#include "numerics/profile_sums.h"

#include <algorithm>

namespace tarmic {

namespace {

using ScanSumsFn = void (*)(const float*, int, int, int, double*, double*);
[[gnu::target("avx512f")]] void ScanSumsAvx512(const float* row, int nGrid, int fitFirst, int nFit,
                                               double* radius, double* scan) {
  AddScanSums(row, nGrid, fitFirst, nFit, radius, scan);
}
[[gnu::target("avx2")]] void ScanSumsAvx2(const float* row, int nGrid, int fitFirst, int nFit,
                                          double* radius, double* scan) {
  AddScanSums(row, nGrid, fitFirst, nFit, radius, scan);
}
void ScanSumsBaseline(const float* row, int nGrid, int fitFirst, int nFit, double* radius,
                      double* scan) {
  AddScanSums(row, nGrid, fitFirst, nFit, radius, scan);
}

ScanSumsFn BestScanSums() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return ScanSumsAvx512;
  if (__builtin_cpu_supports("avx2")) return ScanSumsAvx2;
  return ScanSumsBaseline;
}

}  // namespace

void ProfileSums::Begin(float* const* rows, int s0, int s1, int nGrid, int fitFirst, int nFit) {
  rows_ = rows;
  s0_ = s0;
  s1_ = s1;
  nGrid_ = nGrid;
  fitFirst_ = fitFirst;
  nFit_ = nFit;
  const bool usable = rows && s0 >= 1 && s1 >= s0 && nGrid >= 1 && fitFirst >= 1 && nFit >= 0 &&
                      fitFirst + nFit - 1 <= nGrid;
  next_ = 0;
  if (!usable) return;
  radius_.assign(static_cast<std::size_t>(nGrid) + 1, 0.0);
  scan_.assign(static_cast<std::size_t>(s1) + 1, 0.0);
  next_ = s0;
}

void ProfileSums::Written(int scan, const float* row, int n) {
  if (!rows_ || radius_.empty()) return;
  if (scan == s0_) {
    // The first row (again): the sums start afresh.
    std::fill(radius_.begin(), radius_.end(), 0.0);
    next_ = s0_;
  }
  if (next_ == 0 || scan != next_ || next_ > s1_ || row != rows_[scan] || n != nGrid_) {
    next_ = 0;
    return;
  }
  static const ScanSumsFn sums = BestScanSums();
  sums(row, nGrid_, fitFirst_, nFit_, radius_.data(), &scan_[static_cast<std::size_t>(scan)]);
  ++next_;
}

bool ProfileSums::CompleteFor(float* const* rows, int s0, int s1, int nGrid, int fitFirst,
                              int nFit) const {
  return rows_ && rows == rows_ && next_ == s1_ + 1 && s0 == s0_ && s1 == s1_ && nGrid == nGrid_ &&
         fitFirst == fitFirst_ && nFit == nFit_;
}

}  // namespace tarmic
