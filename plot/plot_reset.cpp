#include "plot/plot_reset.h"

#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "plot/temperature_plot.h"

namespace tarmic {

void ResetPlotting() {
  ResetDataPlots();
  FreeTemperaturePlot();
  TemperaturePlot().bTemperatureTrace = false;
  ResidualBitmap().bBitmapBlackAndWhite = true;
  ResidualBitmap().bBitmapContinuousShading = true;
  ResidualBitmap().fResidualBitmapScale = 0.05f;
}

}  // namespace tarmic
