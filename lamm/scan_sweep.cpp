#include "lamm/scan_sweep.h"

namespace tarmic {

bool TakeScanSweep(int k, int sweeps, int n, const double* r, const double* c, double head,
                   int* lastCopied, double* out, double* rOut) {
  if (k == 0) {
    *lastCopied = 0;
    for (int i = 1; i <= n; ++i) {
      out[i] = 0.0;
      if (rOut) rOut[i] = r[i];
    }
  }
  const bool last = k + 1 >= sweeps;
  while (*lastCopied < n && (last || r[*lastCopied + 1] <= head)) {
    const int i = ++*lastCopied;
    out[i] = c[i];
    if (rOut) rOut[i] = r[i];
  }
  return last;
}

}  // namespace tarmic
