// Root-mean-square deviation between two rows per scan over the fit range: the
// measure of goodness of fit shown after every model computation.
#pragma once

#include <cmath>
#include <cstddef>

#include "scandata/data_set.h"

namespace tarmic {

// sqrt(sum (a - b)^2 / count) over the points pFitFirst[s]..pFitLast[s]
// (1-based, inclusive) of every scan s of the data set, in display order; 0
// when there are no points. rowA(s) and rowB(s) give scan s's one-based rows
// (null skips the scan).
template <class RowA, class RowB>
double RmsdOverFitPoints(RowA rowA, RowB rowB) {
  double sum = 0.0;
  long long count = 0;
  for (int k = 1;
       k <= nScans && static_cast<std::size_t>(k) < pScanOrder.size(); ++k) {
    const int s = pScanOrder[static_cast<std::size_t>(k)];
    if (s < 1 || static_cast<std::size_t>(s) >= pnPoints.size())
      continue;
    const auto u = static_cast<std::size_t>(s);
    const float *a = rowA(s);
    const float *b = rowB(s);
    if (!a || !b)
      continue;
    const int first = u < pFitFirst.size() ? pFitFirst[u] : 1;
    const int last = u < pFitLast.size() ? pFitLast[u] : pnPoints[u];
    for (int i = first < 1 ? 1 : first; i <= last && i <= pnPoints[u]; ++i) {
      const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
      sum += d * d;
      ++count;
    }
  }
  return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

// The rmsd of signal minus fit (ppSignal, ppFit) over the fit range of every
// scan.
float FitRmsd();

} // namespace tarmic
