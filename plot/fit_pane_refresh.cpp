#include "plot/fit_pane_refresh.h"
#include "numerics/analysis.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "platform/system.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  FitPanePainters g_panePainters{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

}  // namespace

void SetFitPanePainters(FitPanePainters painters) { Local().g_panePainters = std::move(painters); }

const FitPanePainters& GetFitPanePainters() { return Local().g_panePainters; }

void RefreshFitPanesTimed(Window& window) {
  if (!DataPlots().bUpdateDataPlotDuringFit && !DataPlots().bUpdateResidualPlotDuringFit &&
      !DataPlots().bUpdateResidualBitmapDuringFit && !DataPlots().bUpdateDistributionDuringFit)
    return;
  const std::uint32_t now = GetTickCount();
  if (!DataPlots().bFitRefreshStarted) {
    DataPlots().bFitRefreshStarted = true;
    DataPlots().nLastFitRefreshTick = GetTickCount();
  } else {
    const double ms = std::floor(static_cast<double>(DataPlots().fMaxUpdateInterval) * 1000.0);
    const std::uint32_t interval =
        ms <= 0 ? 0u : (ms >= 4294967295.0 ? 4294967295u : static_cast<std::uint32_t>(ms));
    // Elapsed time by unsigned difference, so that the wrap of the 32-bit tick
    // counter does not stop the refreshes.
    if (now - DataPlots().nLastFitRefreshTick <= interval) return;
    DataPlots().nLastFitRefreshTick = GetTickCount();
  }
  if (DataPlots().bUpdateDataPlotDuringFit && Local().g_panePainters.drawDataPane) Local().g_panePainters.drawDataPane(window);
  if (DataPlots().bUpdateResidualPlotDuringFit && Local().g_panePainters.drawResidualPane)
    Local().g_panePainters.drawResidualPane(window);
  if (DataPlots().bUpdateResidualBitmapDuringFit) DrawResidualsBitmap(window);
  if (DataPlots().bUpdateDistributionDuringFit && Local().g_panePainters.drawDistributionPane)
    Local().g_panePainters.drawDistributionPane(window);
}

}  // namespace tarmic
