// Marker, cursor and rubber-band lines in client pixels. Drawn on a device context
// they are given (a paint's, which shows its picture once at its end), or on one of
// their own, after which the window is shown at once.
#include "app/marker_lines.h"

#include <cmath>
#include <memory>

#include "app/plot_units.h"
#include "app/panes.h"
#include "app/xla_window.h"
#include "platform/dc.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"

namespace tarmic {

int nCursorLinePixel = 0;

int DisplayRowToPixel(const TXLAWindow& window, float row) {
  const double pixels = std::floor(static_cast<double>(row) * window.fClientHeight /
                                   static_cast<double>(fDisplayExtent));
  if (!std::isfinite(pixels)) return 0;
  return static_cast<int>(pixels);
}

void ResetMarkerLines() { nCursorLinePixel = 0; }

namespace {

// The top and bottom rows of a pane, display units. Every caller passes pane 1,
// the data pane.
void PaneRows(int /*pane*/, float* top, float* bottom) {
  *top = static_cast<float>(nDataPaneTop);
  *bottom = static_cast<float>(nDataPaneBottom);
}

// Whether client column x lies within the data plot's axes: a marker line stays
// inside it, whatever range the plot shows (a meniscus left of a zoomed data range
// would otherwise cross the axis and its title).
bool InsideDataFrame(const TXLAWindow& window, int x) {
  if (!DataPlots().pDataPlot) return false;
  const auto column = [&window](int units) {
    return static_cast<int>(std::floor(static_cast<double>(units) * window.fClientWidth / kPlotUnitsAcross));
  };
  return x >= column(DataPlots().pDataPlot->nLeft) && x <= column(DataPlots().pDataPlot->nRight);
}

// One vertical line in column x over the pane, with the dc's pen and raster mode;
// nothing outside the data plot's frame.
void PaneColumn(const TXLAWindow& window, DC& dc, int x, int pane) {
  if (!InsideDataFrame(window, x)) return;
  float top, bottom;
  PaneRows(pane, &top, &bottom);
  dc.MoveTo(x, DisplayRowToPixel(window, top));
  dc.LineTo(x, DisplayRowToPixel(window, bottom));
}

}  // namespace

void TXLAWindow::DrawMarkerLine(DC& dc, int xPixel, Color colour, int pane) {
  PixelDrawingScope pixels(dc);
  dc.SelectPen(Pen{PenStyle::Solid, 0, colour});
  dc.SetROP2(Rop2::CopyPen);
  PaneColumn(*this, dc, xPixel, pane);
}

void TXLAWindow::DrawDashedMarkerLine(DC& dc, int xPixel, Color colour, int nDashes, int pane) {
  if (nDashes < 1) return;
  if (nDashes == 1) {
    DrawMarkerLine(dc, xPixel, colour, pane);
    return;
  }
  if (!InsideDataFrame(*this, xPixel)) return;
  PixelDrawingScope pixels(dc);
  dc.SelectPen(Pen{PenStyle::Solid, 0, colour});
  dc.SetROP2(Rop2::CopyPen);
  float top, bottom;
  PaneRows(pane, &top, &bottom);
  // n dashes and n - 1 gaps of one unit each from the top, then two units empty
  // above the bottom row.
  const float d = (bottom - top) / static_cast<float>(2 * nDashes + 1);
  for (int k = 1; k <= nDashes; ++k) {
    dc.MoveTo(xPixel, DisplayRowToPixel(*this, top + static_cast<float>(2 * k - 2) * d));
    dc.LineTo(xPixel, DisplayRowToPixel(*this, top + static_cast<float>(2 * k - 1) * d));
  }
}

void TXLAWindow::DrawCursorLine(DC& dc, int xPixel, bool eraseOld, int pane) {
  PixelDrawingScope pixels(dc);
  dc.SetROP2(Rop2::Not);
  // Inverting the old column again restores what was under it.
  if (nCursorLinePixel != 0 && eraseOld) PaneColumn(*this, dc, nCursorLinePixel, pane);
  nCursorLinePixel = xPixel;
  if (xPixel != 0) PaneColumn(*this, dc, xPixel, pane);
}

void TXLAWindow::DrawMarkerLine(int xPixel, Color colour, int pane) {
  Window& w = GetHandle();
  DrawMarkerLine(*w.ClientDC(), xPixel, colour, pane);
  w.Refresh();
}

void TXLAWindow::DrawDashedMarkerLine(int xPixel, Color colour, int nDashes, int pane) {
  if (nDashes < 1) return;
  Window& w = GetHandle();
  DrawDashedMarkerLine(*w.ClientDC(), xPixel, colour, nDashes, pane);
  w.Refresh();
}

void TXLAWindow::DrawCursorLine(int xPixel, bool eraseOld, int pane) {
  Window& w = GetHandle();
  DrawCursorLine(*w.ClientDC(), xPixel, eraseOld, pane);
  w.Refresh();
}

void TXLAWindow::DrawRubberBandRect(int x1, int y1, int x2, int y2) {
  if (!bRightDragActive || (x1 == x2 && y1 == y2) || !pBandDC) return;
  DC& dc = *pBandDC;
  dc.SetROP2(Rop2::Not);
  // Each segment leaves out its end pixel, so every corner is inverted once and
  // drawing the same rectangle twice restores the screen.
  dc.MoveTo(x1, y1);
  dc.LineTo(x1, y2);
  dc.LineTo(x2, y2);
  dc.LineTo(x2, y1);
  dc.LineTo(x1, y1);
  GetHandle().Refresh();
}

}  // namespace tarmic
