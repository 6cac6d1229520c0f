#include "plot/fit_pane_refresh.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "platform/system.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"

namespace tarmic {

namespace {

FitPanePainters g_panePainters;

}  // namespace

void SetFitPanePainters(FitPanePainters painters) { g_panePainters = std::move(painters); }

const FitPanePainters& GetFitPanePainters() { return g_panePainters; }

void RefreshFitPanesTimed(Window& window) {
  if (!bUpdateDataPlotDuringFit && !bUpdateResidualPlotDuringFit &&
      !bUpdateResidualBitmapDuringFit && !bUpdateDistributionDuringFit)
    return;
  const std::uint32_t now = GetTickCount();
  if (!bFitRefreshStarted) {
    bFitRefreshStarted = true;
    nLastFitRefreshTick = GetTickCount();
  } else {
    const double ms = std::floor(static_cast<double>(fMaxUpdateInterval) * 1000.0);
    const std::uint32_t interval =
        ms <= 0 ? 0u : (ms >= 4294967295.0 ? 4294967295u : static_cast<std::uint32_t>(ms));
    // Elapsed time by unsigned difference, so that the wrap of the 32-bit tick
    // counter does not stop the refreshes.
    if (now - nLastFitRefreshTick <= interval) return;
    nLastFitRefreshTick = GetTickCount();
  }
  if (bUpdateDataPlotDuringFit && g_panePainters.drawDataPane) g_panePainters.drawDataPane(window);
  if (bUpdateResidualPlotDuringFit && g_panePainters.drawResidualPane)
    g_panePainters.drawResidualPane(window);
  if (bUpdateResidualBitmapDuringFit) DrawResidualsBitmap(window);
  if (bUpdateDistributionDuringFit && g_panePainters.drawDistributionPane)
    g_panePainters.drawDistributionPane(window);
}

}  // namespace tarmic
