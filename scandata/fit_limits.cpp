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

bool HaveGrid() { return CurrentGrid().nGridPoints > 0 && CurrentGrid().pGridRadius && CurrentGrid().pAverageScan && CurrentGrid().pScanMeans; }

// The fit-range totals over the grid's fit points (GridFitPoints): nScans times the
// sum of the mean scan, nScans times the number of points, and each scan's mean (0
// for an empty range).
void ComputeFitRangeTotals() {
  if (!HaveGrid()) return;
  const GridFitPoints points = CurrentGridFitPoints();
  const int count = points.Count();
  CurrentGrid().fGridSignalTotal = static_cast<float>(DataSet().nScans * points.Sum(CurrentGrid().pAverageScan));
  CurrentGrid().fGridPointTotal = static_cast<float>(DataSet().nScans) * static_cast<float>(count);
  for (int i = 1; i <= DataSet().nScans && i < static_cast<int>(CurrentGrid().ppGridSignal.size()); ++i) {
    const float* row = CurrentGrid().ppGridSignal[static_cast<std::size_t>(i)];
    CurrentGrid().pScanMeans[i] = count > 0 ? static_cast<float>(points.Sum(row) / count) : 0.0f;
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
    while (a <= n && !(r[a] >= DataSet().fFitLeftLim)) ++a;
  if (FitRightLimitSet())
    while (b >= 1 && !(r[b] <= DataSet().fFitRightLim)) --b;
  if (b < a) a = n + 1, b = n;
  *first = a;
  *last = b;
}

// Every scan's point range and the grid's from the present limits, and the fit-range
// totals. (The initial-distribution profile, once the initial-data tools load one,
// is extrapolated to the meniscus and the bottom at these points.)
void SetFitRanges() {
  for (int i = 1; i <= DataSet().nScans; ++i) {
    const std::size_t s = static_cast<std::size_t>(i);
    RangeInsideLimits(DataSet().ppRadius[s], DataSet().pnPoints[s], &DataSet().pFitFirst[s], &DataSet().pFitLast[s]);
  }
  if (!HaveGrid()) return;
  RangeInsideLimits(CurrentGrid().pGridRadius, CurrentGrid().nGridPoints, &CurrentGrid().iFitFirst, &CurrentGrid().iFitLast);
  ComputeFitRangeTotals();
}

}  // namespace

void SetDefaultFitLimitsWhenUnset() {
  if (DataSet().fFitLeftLim == 0.0f) {
    DataSet().fFitLeftLim = DataSet().fMeniscus;
    SetLeftFitLimitIndices();
  }
  if (DataSet().fFitRightLim == 0.0f) {
    DataSet().fFitRightLim = DataSet().fBottom;
    SetRightFitLimitIndices();
  }
}

void SetLeftFitLimitIndices() {
  bDataChanged = true;
  if (DataSet().nScans < 1) return;
  for (int i = 1; i <= DataSet().nScans; ++i) {
    const float first = DataSet().ppRadius[static_cast<std::size_t>(i)][1];
    if (DataSet().fFitLeftLim < first) DataSet().fFitLeftLim = first;
  }
  if (!DataSet().bDLSData && (DataSet().fMeniscus + 0.01 > DataSet().fFitLeftLim || DataSet().fFitLeftLim > DataSet().fBottom))
    DataSet().fFitLeftLim = static_cast<float>(DataSet().fMeniscus + 0.01);
  SetFitRanges();
}

void SetRightFitLimitIndices() {
  bDataChanged = true;
  if (DataSet().nScans < 1) return;
  if (!DataSet().bDLSData) {
    for (int i = 1; i <= DataSet().nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      const float last = DataSet().ppRadius[s][DataSet().pnPoints[s]];
      if (last < DataSet().fFitRightLim) {
        if (!bBatchMode)
          RaiseError(Format("possible problem with right limit in file %s\nsetting right limit to %1.3f",
                           DataSet().ppScanFileNames[s].c_str(), static_cast<double>(last)));
        DataSet().fFitRightLim = last;
      }
    }
    if (!(DataSet().fFitRightLim >= DataSet().fMeniscus && DataSet().fFitRightLim >= DataSet().fFitLeftLim && DataSet().fBottom - 0.01 >= DataSet().fFitRightLim))
      DataSet().fFitRightLim = static_cast<float>(DataSet().fBottom - 0.01);
  }
  SetFitRanges();
}

float MeniscusRangeHalfWidth() { return ScanFile().bFluorescenceData ? 0.1f : 0.02f; }
float BottomRangeHalfWidth() { return ScanFile().bFluorescenceData ? 0.1f : 0.05f; }

void SetDefaultFitLimits() {
  if (DataSet().bFitRangesSet) return;
  const float meniscusRange = MeniscusRangeHalfWidth();
  const float bottomRange = BottomRangeHalfWidth();
  DataSet().fMinMeniscus = DataSet().fMeniscus - meniscusRange;
  DataSet().fMaxMeniscus = std::min(DataSet().fMeniscus + meniscusRange, DataSet().fFitLeftLim - 0.001f);
  DataSet().fMinBottom = std::max(DataSet().fBottom - bottomRange, DataSet().fFitRightLim + 0.001f);
  DataSet().fMaxBottom = DataSet().fBottom + bottomRange;
  // The four bounds now stand over the data as dashed lines (DLS data show none):
  // the ranges shown are the ones kept, so a later meniscus or bottom pick leaves
  // them where they are and the range questions propose them.
  if (!DataSet().bDLSData && DataSet().fMinMeniscus != 0 && DataSet().fMaxMeniscus != 0 && DataSet().fMinBottom != 0 && DataSet().fMaxBottom != 0)
    DataSet().bFitRangesSet = true;
}

}  // namespace tarmic
