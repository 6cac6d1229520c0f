#include "plot/plot_reset.h"

#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "plot/temperature_plot.h"

namespace tarmic {

void ResetPlotting() {
  ResetDataPlots();
  FreeTemperaturePlot();
  bTemperatureTrace = false;
  bBitmapBlackAndWhite = true;
  bBitmapContinuousShading = true;
  fResidualBitmapScale = 0.05f;
}

}  // namespace tarmic
