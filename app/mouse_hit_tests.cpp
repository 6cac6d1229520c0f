// Hit tests of the mouse handlers.
#include "app/mouse_hit_tests.h"

#include <cstddef>

#include "app/panes.h"
#include "app/xla_window.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

int nPickedPointIndex = 0;

bool IsInDataPane(const TXLAWindow& window, int /*x*/, int y) {
  if (!DataPlots().pDataPlot || !DataPlots().bShowData) return false;
  const int height = window.GetHandle().ClientSize().cy;
  if (height <= 0) return false;
  const double row = static_cast<double>(y) * 1000.0 / height;
  return nDataPaneTop < row && row < nDataPaneBottom;
}

namespace {

bool HitPoint(const CWINPlot* plot, const std::vector<float*>& values, int s, int x, int y,
              int dx, int dy) {
  nPickedPointIndex = 0;
  if (!plot || s < 1 || s > DataSet().nScans) return false;
  const std::size_t k = static_cast<std::size_t>(s);
  if (k >= DataSet().pnPoints.size() || k >= DataSet().ppRadius.size() || k >= values.size()) return false;
  const float* r = DataSet().ppRadius[k];
  const float* v = values[k];
  if (!r || !v) return false;
  for (int i = 1; i <= DataSet().pnPoints[k]; ++i) {
    const int px = plot->MapX(r[i]);
    const int py = plot->MapY(v[i]);
    if (px - dx < x && x < px + dx && py - dy < y && y < py + dy) {
      nPickedPointIndex = i;
      return true;
    }
    // The radii increase: no later point can lie under the pointer.
    if (x < px - nScanPickTolerance) return false;
  }
  return false;
}

}  // namespace

bool HitDataPoint(int s, int x, int y, int dx, int dy) {
  return HitPoint(DataPlots().pDataPlot, DataSet().ppSignal, s, x, y, dx, dy);
}

bool HitResidualPoint(int s, int x, int y, int dx, int dy) {
  // The point found here is recorded as well, so that the readout of a residual
  // hit shows that point and never reads outside the scan.
  return HitPoint(DataPlots().pResidualsPlot, DataSet().ppResiduals, s, x, y, dx, dy);
}

}  // namespace tarmic
