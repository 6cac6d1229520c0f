// The rmsd of signal minus fit written out in the tests from the data set's rows,
// apart from the program's own sums, for checking the rmsd of a fit against.
#pragma once

#include <cmath>
#include <vector>

#include "scandata/data_set.h"
#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic::test {

// sqrt(sum (signal - fit)^2 / N) over the points i of the scans s (numbers) for
// which take(s, i) holds; *count receives N.
template <class Take>
double SignalMinusFitRmsd(const std::vector<int>& scans, Take take, long long* count) {
  double sum = 0.0;
  long long n = 0;
  for (const int s : scans)
    for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i) {
      if (!take(s, i)) continue;
      const double d = static_cast<double>(DataSet().ppSignal[Idx(s)][i]) - static_cast<double>(DataSet().ppFit[Idx(s)][i]);
      sum += d * d;
      ++n;
    }
  *count = n;
  return std::sqrt(sum / static_cast<double>(n));
}

}  // namespace tarmic::test
