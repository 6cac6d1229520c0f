#include "scandata/fit_limits.h"

#include <algorithm>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "services/run_switches.h"
#include "scandata/data_set.h"
#include "scandata/grid_data.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

bool HaveGrid() { return nGridPoints > 0 && pGridRadius && pAverageScan && pScanMeans; }

// The fit-range totals over the grid's fit points (GridFitPoints): nScans times the
// sum of the mean scan, nScans times the number of points, and each scan's mean (0
// for an empty range).
void ComputeFitRangeTotals() {
  if (!HaveGrid()) return;
  const GridFitPoints points = CurrentGridFitPoints();
  const int count = points.Count();
  fGridSignalTotal = static_cast<float>(nScans * points.Sum(pAverageScan));
  fGridPointTotal = static_cast<float>(nScans) * static_cast<float>(count);
  for (int i = 1; i <= nScans && i < static_cast<int>(ppGridSignal.size()); ++i) {
    const float* row = ppGridSignal[static_cast<std::size_t>(i)];
    pScanMeans[i] = count > 0 ? static_cast<float>(points.Sum(row) / count) : 0.0f;
  }
}

// The points of radii r[1..n] inside the fit limits: *first the first at or beyond
// the left limit, *last the last at or before the right one; a limit that is not set
// (FitLeftLimitSet, FitRightLimitSet: 0 on scans, never on DLS data, where 0 is a lag
// of 1 s) lets the range run from the first or to the last point. When no point lies inside
// -- the limits beyond the radii on either side, or between two neighbouring
// points -- the range is empty: *first = n + 1, *last = n.
void RangeInsideLimits(const float* r, int n, int* first, int* last) {
  int a = 1, b = n;
  if (FitLeftLimitSet())
    while (a <= n && !(r[a] >= fFitLeftLim)) ++a;
  if (FitRightLimitSet())
    while (b >= 1 && !(r[b] <= fFitRightLim)) --b;
  if (b < a) a = n + 1, b = n;
  *first = a;
  *last = b;
}

// Every scan's point range and the grid's from the present limits, and the fit-range
// totals. (The initial-distribution profile, once the initial-data tools load one,
// is extrapolated to the meniscus and the bottom at these points.)
void SetFitRanges() {
  for (int i = 1; i <= nScans; ++i) {
    const std::size_t s = static_cast<std::size_t>(i);
    RangeInsideLimits(ppRadius[s], pnPoints[s], &pFitFirst[s], &pFitLast[s]);
  }
  if (!HaveGrid()) return;
  RangeInsideLimits(pGridRadius, nGridPoints, &iFitFirst, &iFitLast);
  ComputeFitRangeTotals();
}

}  // namespace

void SetDefaultFitLimitsWhenUnset() {
  if (fFitLeftLim == 0.0f) {
    fFitLeftLim = fMeniscus;
    SetLeftFitLimitIndices();
  }
  if (fFitRightLim == 0.0f) {
    fFitRightLim = fBottom;
    SetRightFitLimitIndices();
  }
}

void SetLeftFitLimitIndices() {
  bDataChanged = true;
  if (nScans < 1) return;
  for (int i = 1; i <= nScans; ++i) {
    const float first = ppRadius[static_cast<std::size_t>(i)][1];
    if (fFitLeftLim < first) fFitLeftLim = first;
  }
  if (!bDLSData && (fMeniscus + 0.01 > fFitLeftLim || fFitLeftLim > fBottom))
    fFitLeftLim = static_cast<float>(fMeniscus + 0.01);
  SetFitRanges();
}

void SetRightFitLimitIndices() {
  bDataChanged = true;
  if (nScans < 1) return;
  if (!bDLSData) {
    for (int i = 1; i <= nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      const float last = ppRadius[s][pnPoints[s]];
      if (last < fFitRightLim) {
        if (!bBatchMode)
          RaiseError(Format("possible problem with right limit in file %s\nsetting right limit to %1.3f",
                           ppScanFileNames[s].c_str(), static_cast<double>(last)));
        fFitRightLim = last;
      }
    }
    if (!(fFitRightLim >= fMeniscus && fFitRightLim >= fFitLeftLim && fBottom - 0.01 >= fFitRightLim))
      fFitRightLim = static_cast<float>(fBottom - 0.01);
  }
  SetFitRanges();
}

float MeniscusRangeHalfWidth() { return bFluorescenceData ? 0.1f : 0.02f; }
float BottomRangeHalfWidth() { return bFluorescenceData ? 0.1f : 0.05f; }

void SetDefaultFitLimits() {
  if (bFitRangesSet) return;
  const float meniscusRange = MeniscusRangeHalfWidth();
  const float bottomRange = BottomRangeHalfWidth();
  fMinMeniscus = fMeniscus - meniscusRange;
  fMaxMeniscus = std::min(fMeniscus + meniscusRange, fFitLeftLim - 0.001f);
  fMinBottom = std::max(fBottom - bottomRange, fFitRightLim + 0.001f);
  fMaxBottom = fBottom + bottomRange;
  // The four bounds now stand over the data as dashed lines (DLS data show none):
  // the ranges shown are the ones kept, so a later meniscus or bottom pick leaves
  // them where they are and the range questions propose them.
  if (!bDLSData && fMinMeniscus != 0 && fMaxMeniscus != 0 && fMinBottom != 0 && fMaxBottom != 0)
    bFitRangesSet = true;
}

}  // namespace tarmic
