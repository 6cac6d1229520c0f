#include "plot/temperature_plot.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "numerics/ccurve.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

CWINPlot* pTemperaturePlot = nullptr;
bool bTemperatureTrace = false;

namespace {

// The curve of the plot; the plot refers to it without owning it.
std::unique_ptr<CCurve> gTemperatureCurve;

// Point style of the marks (joined by lines when the plot connects its points).
constexpr int kMarkStyle = 6;
constexpr int kMarkSize = 8;

}  // namespace

bool BuildTemperaturePlot() {
  FreeTemperaturePlot();
  if (nScans < 1) return false;
  std::vector<float> time, temperature;
  for (int i = 1; i <= nScans; ++i) {
    // Display order is time order; a table without that order falls back to scan order.
    int s = i;
    if (static_cast<std::size_t>(i) < pScanOrder.size() && pScanOrder[static_cast<std::size_t>(i)] >= 1)
      s = pScanOrder[static_cast<std::size_t>(i)];
    const ScanInfo& info = pScanInfo[static_cast<std::size_t>(s)];
    time.push_back(static_cast<float>(info.time));
    temperature.push_back(info.temperature);
  }
  gTemperatureCurve = std::make_unique<CCurve>(time.data(), temperature.data(),
                                               static_cast<std::uint32_t>(time.size()), 0, 0);
  pTemperaturePlot = new CWINPlot();
  pTemperaturePlot->SetPlotRect(nPlotAreaTop, nPlotAreaLeft, nPlotAreaBottom, nPlotAreaRight);
  pTemperaturePlot->SetXAxisLabel("time (sec)");
  pTemperaturePlot->SetYAxisLabel("temperature (C)");
  pTemperaturePlot->AddCurve(gTemperatureCurve.get());
  pTemperaturePlot->SetCurveStyle(0, kMarkStyle);
  pTemperaturePlot->nMarkSize = kMarkSize;
  pTemperaturePlot->ToggleConnectPoints();
  return true;
}

void FreeTemperaturePlot() {
  delete pTemperaturePlot;
  pTemperaturePlot = nullptr;
  gTemperatureCurve.reset();
}

}  // namespace tarmic
