#include "modelcalc/fit_rmsd.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

void FitScanRange(const FitPointsData& points, int* first, int* last) {
  const DataSetState& data = *points.data;
  const RmsdState& scans = *points.scans;
  if (scans.bFitScanWindow) {
    *first = scans.iFitScanWindowFirst < 1 ? 1 : scans.iFitScanWindowFirst;
    *last = scans.iFitScanWindowLast > data.nScans ? data.nScans : scans.iFitScanWindowLast;
    return;
  }
  *first = scans.bFirstScanIsInitial ? 2 : 1;
  *last = data.nScans;
}

void FitScanRange(int* first, int* last) { FitScanRange(CurrentFitPoints(), first, last); }

long long CountFitPoints(const FitPointsData& points) {
  long long n = 0;
  ForEachFitPoint(points, [&n](int, int) { ++n; });
  return n;
}

long long CountFitPoints() { return CountFitPoints(CurrentFitPoints()); }

double FitPointsRmsd(const FitPointsData& points, long long* count) {
  auto row = [](const std::vector<float*>& rows) {
    return [&rows](int s) -> const float* {
      const auto u = static_cast<std::size_t>(s);
      return u < rows.size() ? rows[u] : nullptr;
    };
  };
  return RmsdOverFitPoints(points, row(points.data->ppSignal), row(points.data->ppFit), count);
}

float FitRmsd(const FitPointsData& points) {
  auto& rmsdPart = Rmsd();
  long long count = 0;
  rmsdPart.fFitRmsd = static_cast<float>(FitPointsRmsd(points, &count));
  rmsdPart.fFitPoints = static_cast<float>(count);
  return rmsdPart.fFitRmsd;
}

float FitRmsd() { return FitRmsd(CurrentFitPoints()); }

const char kNoFitOfLoadedDataText[] = "no fit of the loaded data yet: Run or Fit first";

void ResetFitRmsd() {
  auto& rmsdPart = Rmsd();
  rmsdPart.bFitScanWindow = false;
  rmsdPart.iFitScanWindowFirst = rmsdPart.iFitScanWindowLast = 1;
  rmsdPart.fFitRmsd = rmsdPart.fFitPoints = 0.0f;
}

} // namespace tarmic
