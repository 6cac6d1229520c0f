#include "app/client_coordinates.h"

#include <cmath>

#include "app/plot_units.h"
#include "app/xla_window.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"

namespace tarmic {

float ButtonX(TXLAWindow& window, int x) {
  const int w = window.GetHandle().ClientSize().cx;
  return w > 0 ? static_cast<float>(std::floor(1000.0 * x / w)) : 0.0f;
}

float ButtonY(TXLAWindow& window, int y) {
  const int h = window.GetHandle().ClientSize().cy;
  return h > 0 ? static_cast<float>(std::floor(1000.0 * y / h)) : 0.0f;
}

int TruncToInt(double v) { return std::isfinite(v) ? static_cast<int>(v) : 0; }

int PlotUnitsX(const TXLAWindow& window, int x) {
  if (window.fClientWidth <= 0) return 0;
  return TruncToInt(static_cast<double>(x) * kPlotUnitsAcross / window.fClientWidth);
}

int PlotUnitsY(const TXLAWindow& window, int y) {
  if (window.fClientHeight <= 0) return 0;
  return TruncToInt(static_cast<double>(y) * kPlotUnitsDown / window.fClientHeight);
}

float PlotXOfColumn(const TXLAWindow& window, const CWINPlot* plot, int x) {
  if (!plot || plot->fScaleX == 0) return 0.0f;
  const float v = (static_cast<float>(PlotUnitsX(window, x)) - plot->fOffsetX) / plot->fScaleX;
  return plot->bLogX ? std::pow(10.0f, v) : v;
}

float PlotYOfRow(const TXLAWindow& window, const CWINPlot* plot, int y) {
  if (!plot || plot->fScaleY == 0) return 0.0f;
  const float v = (static_cast<float>(PlotUnitsY(window, y)) - plot->fOffsetY) / plot->fScaleY;
  return plot->bLogY ? std::pow(10.0f, v) : v;
}

float DataXOfColumn(const TXLAWindow& window, int x) { return PlotXOfColumn(window, DataPlots().pDataPlot, x); }

float DataYOfRow(const TXLAWindow& window, int y) { return PlotYOfRow(window, DataPlots().pDataPlot, y); }

}  // namespace tarmic
