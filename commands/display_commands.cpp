// The display commands of the main window: which panes are shown, the mark size
// of the data, the ranges of the data plot (set, full, the data in the fitting
// limits), the repaint, the scan hover label and the residual bitmap options.
#include <algorithm>
#include <cmath>

#include "app/xla_window.h"
#include "app/zoom.h"
#include "commands/command_support.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {


// Curve styles of the data curves: filled circles, or lines without marks.
constexpr int kStyleCircles = 6;
constexpr int kStyleLines = -1;
// The largest mark half-size taken from the user, pixels: larger marks would cover
// any screen, and the conversion of a huge number to int would be undefined.
constexpr float kMaxMarkSize = 1000.0f;

// Stores a zoom window as a new, deeper level of the data plot's history, fixes
// the plot to it and records its picture.
void PushZoomWindow(float xMin, float xMax, float yMin, float yMax) {
  const int level = std::min(nZoomLevel + 1, kMaxZoomLevel);
  nZoomLevel = level;
  afZoomXMin[level] = xMin;
  afZoomXMax[level] = xMax;
  afZoomYMin[level] = yMin;
  afZoomYMax[level] = yMax;
  bZoomStepHasY = true;
  DataPlots().pDataPlot->SetRanges(xMin, xMax, yMin, yMax);
  DataPlots().pDataPlot->Redraw();
  FollowDataPlotZoom(std::pair(xMin, xMax));
}

}  // namespace

void TXLAWindow::CmShowData() {
  if (!DataPlots().pDataPlot) return;
  DataPlots().bShowData = !DataPlots().bShowData;
  GetHandle().CheckMenuItem(kCmShowData, DataPlots().bShowData);
  ApplyPaneLayout();
  ApplyCurrentZoomToDataPlot();
  RepaintMain();
}

void TXLAWindow::CmShowResiduals() {
  if (!DataPlots().pDataPlot) return;
  DataPlots().bShowResiduals = !DataPlots().bShowResiduals;
  GetHandle().CheckMenuItem(kCmShowResiduals, DataPlots().bShowResiduals);
  ApplyPaneLayout();
  ApplyCurrentZoomToDataPlot();
  RepaintMain();
}

void TXLAWindow::CmDataMarkSize() {
  if (!DataPlots().pDataPlot) return;
  float size = 0.0f;
  if (!AskFloat(*this, &size, static_cast<float>(DataPlots().pDataPlot->nMarkSize),
                "enter data mark size (-1 for lines):", nullptr, {"data mark size", "", Closed(-1.0, 1000.0)}))
    return;
  const int dataCurves = std::min(DataSet().nScans, DataPlots().pDataPlot->nCurves);
  if (size >= 0.0f) {
    // Marks again after the curves had been switched to lines.
    const bool lines = dataCurves > 0 && DataPlots().pDataPlot->GetCurveStyle(0) == kStyleLines;
    DataPlots().pDataPlot->nMarkSize = static_cast<int>(std::floor(std::min(size, kMaxMarkSize)));
    if (lines)
      for (int i = 0; i < dataCurves; ++i) DataPlots().pDataPlot->SetCurveStyle(i, kStyleCircles);
  } else if (size == -1.0f) {
    for (int i = 0; i < dataCurves; ++i) DataPlots().pDataPlot->SetCurveStyle(i, kStyleLines);
  } else {
    return;  // other negative sizes mean nothing
  }
  RedrawDataPlot(false);
  RepaintMain();
}

void TXLAWindow::CmSetRange() {
  if (!DataPlots().pDataPlot) return;
  float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
  if (!AskFloat(*this, &x1, DataPlots().pDataPlot->fXMin, "x minimum:", "SET RANGE", NamedAs("x minimum", kPlotCoordinate)))
    return;
  if (!AskFloat(*this, &x2, DataPlots().pDataPlot->fXMax, "x maximum:", "SET RANGE", NamedAs("x maximum", kPlotCoordinate)))
    return;
  if (!AskFloat(*this, &y1, DataPlots().pDataPlot->fYMin, "y minimum:", "SET RANGE", NamedAs("y minimum", kPlotCoordinate)))
    return;
  if (!AskFloat(*this, &y2, DataPlots().pDataPlot->fYMax, "y maximum:", "SET RANGE", NamedAs("y maximum", kPlotCoordinate)))
    return;
  if (x1 == x2 || y1 == y2) return;  // an empty window cannot be shown
  PushZoomWindow(std::min(x1, x2), std::max(x1, x2), std::min(y1, y2), std::max(y1, y2));
  RepaintMain();
}

void TXLAWindow::CmFullRange() {
  nZoomLevel = 0;
  bZoomDataPlot = false;
  if (DataPlots().pDataPlot) DataPlots().pDataPlot->ResetRanges();
  RedrawDataPlot(true);
  FollowDataPlotZoom(std::nullopt);
  RepaintMain();
}

void TXLAWindow::CmDataRange() {
  if (!DataPlots().pDataPlot || DataSet().nScans < 1 || CurrentGrid().nGridPoints < 1 || !CurrentGrid().pGridRadius) return;
  const int first = std::clamp(CurrentGrid().iFitFirst, 1, CurrentGrid().nGridPoints);
  const int last = std::clamp(CurrentGrid().iFitLast, first, CurrentGrid().nGridPoints);
  // The data inside the fitting limits, with a margin of 0.01 cm and 0.1 signal
  // units, as the program's other zoom windows on the fitted data.
  const float xMin = CurrentGrid().pGridRadius[first] - 0.01f;
  const float xMax = CurrentGrid().pGridRadius[last] + 0.01f;
  bool any = false;
  float yMin = 0.0f, yMax = 0.0f;
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const float* row = CurrentGrid().ppGridSignal[static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(k)])];
    if (!row) continue;
    for (int i = first; i <= last; ++i) {
      if (!any) {
        yMin = yMax = row[i];
        any = true;
      }
      yMin = std::min(yMin, row[i]);
      yMax = std::max(yMax, row[i]);
    }
  }
  if (!any) return;
  yMin -= 0.1f;
  yMax += 0.1f;
  if (xMax > xMin && yMax > yMin) {
    PushZoomWindow(xMin, xMax, yMin, yMax);
  } else {
    RedrawDataPlot(true);
  }
  RepaintMain();
}

void TXLAWindow::CmUpdate() {
  RepaintMain();
}

void TXLAWindow::CmToggleScanHoverLabel() {
  bScanHoverLabel = !bScanHoverLabel;
}

void TXLAWindow::CmShowResidualsBitmap() {
  if (DataPlots().bShowResidualsBitmap) {
    DataPlots().bShowResidualsBitmap = false;
    GetHandle().CheckMenuItem(kCmShowResidualsBitmap, false);
  } else {
    float scale = 0.0f;
    if (AskFloat(*this, &scale, ResidualBitmap().fResidualBitmapScale, "bitmap brightness full scale (0 for autoscale)",
                 "BITMAP BRIGHTNESS SCALE", {"bitmap brightness full scale", "", Closed(0.0, kMaxSignal)}) &&
        scale >= 0.0f) {
      ResidualBitmap().fResidualBitmapScale = scale;
    } else {
      // Cancelled (or a negative scale, which would invert the colours).
      ResidualBitmap().fResidualBitmapScale = ScanFile().bFluorescenceData ? 5.0f : 0.05f;
    }
    DataPlots().bShowResidualsBitmap = true;
    GetHandle().CheckMenuItem(kCmShowResidualsBitmap, true);
  }
  // The residual plot makes room for the strip above it, or takes the room back.
  ApplyPaneLayout();
  RepaintMain();
}

void TXLAWindow::CmBitmapBlackAndWhite() {
  ResidualBitmap().bBitmapBlackAndWhite = !ResidualBitmap().bBitmapBlackAndWhite;
  GetHandle().CheckMenuItem(kCmBitmapBlackAndWhite, ResidualBitmap().bBitmapBlackAndWhite);
}

void TXLAWindow::CmBitmapContinuousShading() {
  ResidualBitmap().bBitmapContinuousShading = !ResidualBitmap().bBitmapContinuousShading;
  GetHandle().CheckMenuItem(kCmBitmapContinuousShading, ResidualBitmap().bBitmapContinuousShading);
}

}  // namespace tarmic
