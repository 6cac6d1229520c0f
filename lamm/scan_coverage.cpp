#include "lamm/scan_coverage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarmic {

std::string ScanCoverage::Refusal() const {
  char text[400];
  std::snprintf(text, sizeof text,
                "The Lamm equation solution was not computed: its time steps ended at t = %.0f s, "
                "before scan %d of %d, so the later scans were not computed. In \"Numerical "
                "Control of Lamm Equation Solution\" try more grid points or a smaller max dc/c.",
                endTime_, std::min(recorded_ + 1, scans_), scans_);
  return text;
}

bool FittedRangeLeftAt(const double* c, int N, int limitNode, int inward, double level) {
  const double l = std::fabs(level);
  if (limitNode < 1 || limitNode > N || !(std::fabs(c[limitNode]) < l)) return false;
  const int next = std::clamp(limitNode + inward, 1, N);
  return std::fabs(c[next]) < l;
}

}  // namespace tarmic
