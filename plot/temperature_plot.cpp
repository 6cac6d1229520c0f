#include "plot/temperature_plot.h"
#include "numerics/analysis.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "numerics/ccurve.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  // The curve of the plot; the plot refers to it without owning it.
std::unique_ptr<CCurve> gTemperatureCurve{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// Point style of the marks (joined by lines when the plot connects its points).
constexpr int kMarkStyle = 6;
constexpr int kMarkSize = 8;

}  // namespace

bool BuildTemperaturePlot() {
  FreeTemperaturePlot();
  if (DataSet().nScans < 1) return false;
  std::vector<float> time, temperature;
  for (int i = 1; i <= DataSet().nScans; ++i) {
    // Display order is time order; a table without that order falls back to scan order.
    int s = i;
    if (static_cast<std::size_t>(i) < DataSet().pScanOrder.size() && DataSet().pScanOrder[static_cast<std::size_t>(i)] >= 1)
      s = DataSet().pScanOrder[static_cast<std::size_t>(i)];
    const ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(s)];
    time.push_back(static_cast<float>(info.time));
    temperature.push_back(info.temperature);
  }
  Local().gTemperatureCurve = std::make_unique<CCurve>(time.data(), temperature.data(),
                                               static_cast<std::uint32_t>(time.size()), 0, 0);
  TemperaturePlot().pTemperaturePlot = new CWINPlot();
  TemperaturePlot().pTemperaturePlot->SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom, DataPlots().nPlotAreaRight);
  TemperaturePlot().pTemperaturePlot->SetXAxisLabel("time (sec)");
  TemperaturePlot().pTemperaturePlot->SetYAxisLabel("temperature (C)");
  TemperaturePlot().pTemperaturePlot->AddCurve(Local().gTemperatureCurve.get());
  TemperaturePlot().pTemperaturePlot->SetCurveStyle(0, kMarkStyle);
  TemperaturePlot().pTemperaturePlot->nMarkSize = kMarkSize;
  TemperaturePlot().pTemperaturePlot->ToggleConnectPoints();
  return true;
}

void FreeTemperaturePlot() {
  delete TemperaturePlot().pTemperaturePlot;
  TemperaturePlot().pTemperaturePlot = nullptr;
  Local().gTemperatureCurve.reset();
}

}  // namespace tarmic
