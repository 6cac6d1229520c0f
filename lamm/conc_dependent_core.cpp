#include "lamm/conc_dependent_core.h"

#include <algorithm>
#include <cmath>

namespace tarmic {

bool AccumulateRelativeChange(const double* now, const double* old, int N, double negTolerance,
                              double& change) {
  double top = now[1];
  for (int i = 2; i <= N; ++i) top = std::max(top, now[i]);
  const double thr = 1e-4 * top;
  if (now[N] > thr && old[N] >= thr) change = std::max(change, std::fabs((now[N] - old[N]) / old[N]));
  for (int i = N - 1; i >= 1; --i) {
    if (now[i] < -negTolerance) return false;
    const double d = now[i] - old[i];
    if (old[i] > thr)
      change = std::max(change, std::fabs(d / old[i]));
    else if (d > thr) {
      if (old[i + 1] > thr)
        change = std::max(change, std::fabs(d / old[i + 1]));
      else if (i > 1 && old[i - 1] > thr)
        change = std::max(change, std::fabs(d / old[i - 1]));
    }
  }
  return true;
}

}  // namespace tarmic
