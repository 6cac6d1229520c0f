#include "modelcalc/fit_rmsd.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

void FitScanRange(int* first, int* last) {
  auto& dataSetPart = DataSet();
  auto& rmsdPart = Rmsd();
  if (rmsdPart.bFitScanWindow) {
    *first = rmsdPart.iFitScanWindowFirst < 1 ? 1 : rmsdPart.iFitScanWindowFirst;
    *last = rmsdPart.iFitScanWindowLast > dataSetPart.nScans ? dataSetPart.nScans : rmsdPart.iFitScanWindowLast;
    return;
  }
  *first = rmsdPart.bFirstScanIsInitial ? 2 : 1;
  *last = dataSetPart.nScans;
}

long long CountFitPoints() {
  long long n = 0;
  ForEachFitPoint([&n](int, int) { ++n; });
  return n;
}

float FitRmsd() {
  auto& dataSetPart = DataSet();
  auto& rmsdPart = Rmsd();
  auto row = [](const std::vector<float *> &rows) {
    return [&rows](int s) -> const float * {
      const auto u = static_cast<std::size_t>(s);
      return u < rows.size() ? rows[u] : nullptr;
    };
  };
  long long count = 0;
  rmsdPart.fFitRmsd = static_cast<float>(RmsdOverFitPoints(row(dataSetPart.ppSignal), row(dataSetPart.ppFit), &count));
  rmsdPart.fFitPoints = static_cast<float>(count);
  return rmsdPart.fFitRmsd;
}

const char kNoFitOfLoadedDataText[] = "no fit of the loaded data yet: Run or Fit first";

void ResetFitRmsd() {
  auto& rmsdPart = Rmsd();
  rmsdPart.bFitScanWindow = false;
  rmsdPart.iFitScanWindowFirst = rmsdPart.iFitScanWindowLast = 1;
  rmsdPart.fFitRmsd = rmsdPart.fFitPoints = 0.0f;
}

} // namespace tarmic
