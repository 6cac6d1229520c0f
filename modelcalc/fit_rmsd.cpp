#include "modelcalc/fit_rmsd.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

void FitScanRange(int* first, int* last) {
  if (Rmsd().bFitScanWindow) {
    *first = Rmsd().iFitScanWindowFirst < 1 ? 1 : Rmsd().iFitScanWindowFirst;
    *last = Rmsd().iFitScanWindowLast > DataSet().nScans ? DataSet().nScans : Rmsd().iFitScanWindowLast;
    return;
  }
  *first = Rmsd().bFirstScanIsInitial ? 2 : 1;
  *last = DataSet().nScans;
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
  Rmsd().fFitRmsd = static_cast<float>(RmsdOverFitPoints(row(DataSet().ppSignal), row(DataSet().ppFit), &count));
  Rmsd().fFitPoints = static_cast<float>(count);
  return Rmsd().fFitRmsd;
}

const char kNoFitOfLoadedDataText[] = "no fit of the loaded data yet: Run or Fit first";

void ResetFitRmsd() {
  Rmsd().bFitScanWindow = false;
  Rmsd().iFitScanWindowFirst = Rmsd().iFitScanWindowLast = 1;
  Rmsd().fFitRmsd = Rmsd().fFitPoints = 0.0f;
}

} // namespace tarmic
