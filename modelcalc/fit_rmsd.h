// Root-mean-square deviation between two rows per scan over the fit range: the
// measure of goodness of fit shown after every model computation, and the point
// set every nonlinear fit works on.
//
// The scans that take part are those at display positions FitScanRange() gives:
// the scan window of the time-dependent fits when it is on, otherwise every scan
// except a first scan that serves as the initial distribution. Within a scan the
// points pFitFirst[s]..pFitLast[s] (1-based, inclusive) count.
#pragma once

#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct RmsdState {
  // The first scan serves as the initial distribution (its fit is its own data and
  // the model starts at display position 2).
  bool bFirstScanIsInitial = false;
  // Scan window of the time-dependent fits: display positions first..last only.
  bool bFitScanWindow = false;
  int iFitScanWindowFirst = 1;
  int iFitScanWindowLast = 1;

  // rmsd of the last FitRmsd (or of the best vertex a search shows) and the number
  // of points it counted.
  float fFitRmsd = 0.0f;
  float fFitPoints = 0.0f;
};
// The current analysis' RmsdState.
inline RmsdState& Rmsd() { return CurrentPart<RmsdState>(); }

// The data a fit's rmsd is taken over, as one value: the data set record it reads
// (the scans' display order, point counts, fit-limit indices, signal and fit rows)
// and the rmsd's record of which scans take part (an initial first scan, the scan
// window). The functions that take it reach no analysis bound to the thread, so a
// fit's objective is a function of the data it was given. It refers to the records,
// it copies nothing: built once per fit (CurrentFitPoints, the analysis' door), it
// sees the fit rows each evaluation writes and the fit limits a floated meniscus
// moves, as the records hold them at the time of the evaluation. Valid while the
// analysis that holds the records lives and its scan tables are not made again.
struct FitPointsData {
  const DataSetState* data = nullptr;
  const RmsdState* scans = nullptr;
};
// The fit points of the current analysis' data set.
inline FitPointsData CurrentFitPoints() { return {&DataSet(), &Rmsd()}; }

// The display positions [*first, *last] whose scans enter the rmsd and the fits.
void FitScanRange(const FitPointsData& points, int* first, int* last);
void FitScanRange(int* first, int* last);

// Calls fn(s, i) for every fit point: scan number s (in display order over
// FitScanRange) and point index i within pFitFirst[s]..pFitLast[s] (clamped to
// the scan's points).
template <class Fn>
void ForEachFitPoint(const FitPointsData& points, Fn fn) {
  int firstPos = 1, lastPos = 0;
  FitScanRange(points, &firstPos, &lastPos);
  const DataSetState& data = *points.data;
  for (int k = firstPos; k <= lastPos && static_cast<std::size_t>(k) < data.pScanOrder.size(); ++k) {
    const int s = data.pScanOrder[static_cast<std::size_t>(k)];
    if (s < 1 || static_cast<std::size_t>(s) >= data.pnPoints.size()) continue;
    const auto u = static_cast<std::size_t>(s);
    const int count = data.pnPoints[u];
    const int first = u < data.pFitFirst.size() ? data.pFitFirst[u] : 1;
    const int last = std::min(u < data.pFitLast.size() ? data.pFitLast[u] : count, count);
    for (int i = first < 1 ? 1 : first; i <= last; ++i) fn(s, i);
  }
}
// The same over the current analysis' data set.
template <class Fn>
void ForEachFitPoint(Fn fn) {
  ForEachFitPoint(CurrentFitPoints(), fn);
}

// The number of fit points ForEachFitPoint visits, over all scans.
long long CountFitPoints(const FitPointsData& points);
long long CountFitPoints();

// sqrt(sum (a - b)^2 / count) over the fit points, accumulated in double; 0 when
// there are no points. rowA(s) and rowB(s) give scan s's one-based rows (null
// skips the scan). *count (optional) receives the number of points.
template <class RowA, class RowB>
double RmsdOverFitPoints(const FitPointsData& points, RowA rowA, RowB rowB, long long* count = nullptr) {
  double sum = 0.0;
  long long n = 0;
  ForEachFitPoint(points, [&](int s, int i) {
    const float* a = rowA(s);
    const float* b = rowB(s);
    if (!a || !b) return;
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += d * d;
    ++n;
  });
  if (count) *count = n;
  return n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}
template <class RowA, class RowB>
double RmsdOverFitPoints(RowA rowA, RowB rowB, long long* count = nullptr) {
  return RmsdOverFitPoints(CurrentFitPoints(), rowA, rowB, count);
}

// The rmsd of signal minus fit (ppSignal, ppFit) over the fit points of points,
// stored nowhere; *count (optional) receives the number of points.
double FitPointsRmsd(const FitPointsData& points, long long* count = nullptr);

// The same rounded as the fits take it, stored as the rmsd on show of the current
// analysis (fFitRmsd, fFitPoints): the objective of a fit on its data.
float FitRmsd(const FitPointsData& points);

// The rmsd of signal minus fit (ppSignal, ppFit) over the fit points of the current
// analysis; stores it in fFitRmsd and the number of points in fFitPoints.
float FitRmsd();

// Whether the fit on show belongs to the loaded data, the model and the values on
// show is FitOfLoadedData (scandata/analysis_switches.h); where it does not hold,
// the places that show, copy, print or save a fit say this instead.
extern const char kNoFitOfLoadedDataText[];

// Restores the values of this file to their defaults (tests).
void ResetFitRmsd();

} // namespace tarmic
