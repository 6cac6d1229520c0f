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
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (!HaveGrid()) return;
  const GridFitPoints points = CurrentGridFitPoints();
  const int count = points.Count();
  currentGridPart.fGridSignalTotal = static_cast<float>(dataSetPart.nScans * points.Sum(currentGridPart.pAverageScan));
  currentGridPart.fGridPointTotal = static_cast<float>(dataSetPart.nScans) * static_cast<float>(count);
  for (int i = 1; i <= dataSetPart.nScans && i < static_cast<int>(currentGridPart.ppGridSignal.size()); ++i) {
    const float* row = currentGridPart.ppGridSignal[static_cast<std::size_t>(i)];
    currentGridPart.pScanMeans[i] = count > 0 ? static_cast<float>(points.Sum(row) / count) : 0.0f;
  }
}

// The points of radii r[1..n] inside the fit limits: *first the first at or beyond
// the left limit, *last the last at or before the right one; a limit that is not set
// (FitLeftLimitSet, FitRightLimitSet: 0 on scans, never on DLS data, where 0 is a lag
// of 1 s) lets the range run from the first or to the last point. When no point lies inside
// -- the limits beyond the radii on either side, or between two neighbouring
// points -- the range is empty: *first = n + 1, *last = n.
void RangeInsideLimits(const float* r, int n, int* first, int* last) {
  auto& dataSetPart = DataSet();
  int a = 1, b = n;
  if (FitLeftLimitSet())
    while (a <= n && !(r[a] >= dataSetPart.fFitLeftLim)) ++a;
  if (FitRightLimitSet())
    while (b >= 1 && !(r[b] <= dataSetPart.fFitRightLim)) --b;
  if (b < a) a = n + 1, b = n;
  *first = a;
  *last = b;
}

// Every scan's point range and the grid's from the present limits, and the fit-range
// totals. (The initial-distribution profile, once the initial-data tools load one,
// is extrapolated to the meniscus and the bottom at these points.)
void SetFitRanges() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    const std::size_t s = static_cast<std::size_t>(i);
    RangeInsideLimits(dataSetPart.ppRadius[s], dataSetPart.pnPoints[s], &dataSetPart.pFitFirst[s], &dataSetPart.pFitLast[s]);
  }
  if (!HaveGrid()) return;
  RangeInsideLimits(currentGridPart.pGridRadius, currentGridPart.nGridPoints, &currentGridPart.iFitFirst, &currentGridPart.iFitLast);
  ComputeFitRangeTotals();
}

}  // namespace

void SetDefaultFitLimitsWhenUnset() { SetDefaultFitLimitsWhenUnset(DataSet().fMeniscus, DataSet().fBottom); }

void SetDefaultFitLimitsWhenUnset(float meniscus, float bottom) {
  auto& dataSetPart = DataSet();
  if (dataSetPart.fFitLeftLim == 0.0f) {
    dataSetPart.fFitLeftLim = meniscus;
    SetLeftFitLimitIndices();
  }
  if (dataSetPart.fFitRightLim == 0.0f) {
    dataSetPart.fFitRightLim = bottom;
    SetRightFitLimitIndices();
  }
}

void SetLeftFitLimitIndices() {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (dataSetPart.nScans < 1) return;
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    const float first = dataSetPart.ppRadius[static_cast<std::size_t>(i)][1];
    if (dataSetPart.fFitLeftLim < first) dataSetPart.fFitLeftLim = first;
  }
  if (!dataSetPart.bDLSData && (dataSetPart.fMeniscus + 0.01 > dataSetPart.fFitLeftLim || dataSetPart.fFitLeftLim > dataSetPart.fBottom))
    dataSetPart.fFitLeftLim = static_cast<float>(dataSetPart.fMeniscus + 0.01);
  SetFitRanges();
}

void SetRightFitLimitIndices() {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (dataSetPart.nScans < 1) return;
  if (!dataSetPart.bDLSData) {
    for (int i = 1; i <= dataSetPart.nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      const float last = dataSetPart.ppRadius[s][dataSetPart.pnPoints[s]];
      if (last < dataSetPart.fFitRightLim) {
        if (!bBatchMode)
          RaiseError(Format("possible problem with right limit in file %s\nsetting right limit to %1.3f",
                           dataSetPart.ppScanFileNames[s].c_str(), static_cast<double>(last)));
        dataSetPart.fFitRightLim = last;
      }
    }
    if (!(dataSetPart.fFitRightLim >= dataSetPart.fMeniscus && dataSetPart.fFitRightLim >= dataSetPart.fFitLeftLim && dataSetPart.fBottom - 0.01 >= dataSetPart.fFitRightLim))
      dataSetPart.fFitRightLim = static_cast<float>(dataSetPart.fBottom - 0.01);
  }
  SetFitRanges();
}

float MeniscusRangeHalfWidth() { return ScanFile().bFluorescenceData ? 0.1f : 0.02f; }
float BottomRangeHalfWidth() { return ScanFile().bFluorescenceData ? 0.1f : 0.05f; }

void SetDefaultFitLimits() {
  auto& dataSetPart = DataSet();
  if (dataSetPart.bFitRangesSet) return;
  const float meniscusRange = MeniscusRangeHalfWidth();
  const float bottomRange = BottomRangeHalfWidth();
  dataSetPart.fMinMeniscus = dataSetPart.fMeniscus - meniscusRange;
  dataSetPart.fMaxMeniscus = std::min(dataSetPart.fMeniscus + meniscusRange, dataSetPart.fFitLeftLim - 0.001f);
  dataSetPart.fMinBottom = std::max(dataSetPart.fBottom - bottomRange, dataSetPart.fFitRightLim + 0.001f);
  dataSetPart.fMaxBottom = dataSetPart.fBottom + bottomRange;
  // The four bounds now stand over the data as dashed lines (DLS data show none):
  // the ranges shown are the ones kept, so a later meniscus or bottom pick leaves
  // them where they are and the range questions propose them.
  if (!dataSetPart.bDLSData && dataSetPart.fMinMeniscus != 0 && dataSetPart.fMaxMeniscus != 0 && dataSetPart.fMinBottom != 0 && dataSetPart.fMaxBottom != 0)
    dataSetPart.bFitRangesSet = true;
}

}  // namespace tarmic
