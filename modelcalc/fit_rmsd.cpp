#include "modelcalc/fit_rmsd.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

bool bFirstScanIsInitial = false;
bool bFitScanWindow = false;
int iFitScanWindowFirst = 1;
int iFitScanWindowLast = 1;
float fFitRmsd = 0.0f;
float fFitPoints = 0.0f;

void FitScanRange(int* first, int* last) {
  if (bFitScanWindow) {
    *first = iFitScanWindowFirst < 1 ? 1 : iFitScanWindowFirst;
    *last = iFitScanWindowLast > nScans ? nScans : iFitScanWindowLast;
    return;
  }
  *first = bFirstScanIsInitial ? 2 : 1;
  *last = nScans;
}

long long CountFitPoints() {
  long long n = 0;
  ForEachFitPoint([&n](int, int) { ++n; });
  return n;
}

float FitRmsd() {
  auto row = [](const std::vector<float *> &rows) {
    return [&rows](int s) -> const float * {
      const auto u = static_cast<std::size_t>(s);
      return u < rows.size() ? rows[u] : nullptr;
    };
  };
  long long count = 0;
  fFitRmsd = static_cast<float>(RmsdOverFitPoints(row(ppSignal), row(ppFit), &count));
  fFitPoints = static_cast<float>(count);
  return fFitRmsd;
}

const char kNoFitOfLoadedDataText[] = "no fit of the loaded data yet: Run or Fit first";

void ResetFitRmsd() {
  bFitScanWindow = false;
  iFitScanWindowFirst = iFitScanWindowLast = 1;
  fFitRmsd = fFitPoints = 0.0f;
}

} // namespace tarmic
