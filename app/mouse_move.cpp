// The mouse move: it moves the drag line of a dragged marker, draws the rubber
// band of a right drag, and highlights a marker within reach of the pointer with a
// dashed line and the sizing cursor.

#include "app/marker_lines.h"
#include "app/markers.h"
#include "app/mouse.h"
#include "app/mouse_hit_tests.h"
#include "app/onplot_tools.h"
#include "app/paint.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "app/mouse_slide.h"
#include "services/run_switches.h"
#include "plot/data_plots.h"
#include "plot/temperature_plot.h"

namespace tarmic {

namespace {

struct HoverMarker {
  Marker marker;
  Color colour;
};

// The markers in the order the hover tests them, with their hover colours.
constexpr HoverMarker kHoverOrder[] = {
    {Marker::Meniscus, crMeniscusHover},   {Marker::RightLimit, crFitLimitHover},
    {Marker::MinMeniscus, crRangeHover},   {Marker::MaxMeniscus, crRangeHover},
    {Marker::MinBottom, crRangeHover},     {Marker::MaxBottom, crRangeHover},
    {Marker::LeftLimit, crFitLimitHover},  {Marker::Bottom, crBottomHover}};

void ShowHover(TXLAWindow& window, int column, Color colour) {
  window.DrawDashedMarkerLine(column, colour, nRangeMarkerDashes, 1);
  window.GetHandle().SetCursor(CursorShape::SizeWE);
  bHoverIdle = false;
}

// Highlights the first marker within reach of column x; false when none is.
bool HoverMarkers(TXLAWindow& window, int x) {
  ComputeMarkerColumns(window);
  for (const HoverMarker& h : kHoverOrder) {
    // Only markers whose lines are shown respond.
    if (!MarkerVisible(h.marker)) continue;
    const int column = MarkerColumn(h.marker);
    if (NearColumn(x, column)) {
      ShowHover(window, column, h.colour);
      return true;
    }
  }
  if (bRangeQuestionPending && NearColumn(x, nDragLinePixel)) {
    // The placed line of a dropped marker can be taken again.
    window.GetHandle().SetCursor(CursorShape::SizeWE);
    bHoverIdle = false;
    return true;
  }
  if (MarkerVisible(Marker::RefMeniscus) && NearColumn(x, nRefMeniscusColumn)) {
    ShowHover(window, nRefMeniscusColumn, crRefMeniscusHover);
    return true;
  }
  return false;
}

}  // namespace

void TXLAWindow::EvMouseMove(unsigned /*modKeys*/, const Point& point) {
  // A computation is interrupted by keys and buttons only: moving the mouse alone
  // must not end a long run or fit.
  if (bRunInProgress || bFitInProgress) return;
  if (!DataPlots().pDataPlot || !DataPlots().pResidualsPlot || bTemperaturePlotShown || bBatchMode) return;
  const int x = point.x, y = point.y;

  if (TemperaturePlot().bTemperatureTrace && TemperaturePlot().pTemperaturePlot) {
    // The traced temperature plot: time and temperature under the pointer.
    fReadoutX = PlotXOfColumn(*this, TemperaturePlot().pTemperaturePlot, x);
    fReadoutY = PlotYOfRow(*this, TemperaturePlot().pTemperaturePlot, y);
    szReadoutLine1 = FormatReadout("%1.3f    ", fReadoutX);
    szReadoutLine2 = FormatReadout("%1.3f    ", fReadoutY);
    DrawReadoutText(*this, 10, 50, szReadoutLine1);
    DrawReadoutText(*this, 10, 70, szReadoutLine2);
    return;
  }

  if (bMarkerDragging) {
    if (!bRangeQuestionPending) RecordMouseSlidePoint(&point);
    DrawCursorLine(x, true, 1);
    nDragLinePixel = x;
    fCursorValue = DataXOfColumn(*this, x);
    return;
  }

  if (MouseMoveOnPlotTools(*this, point)) return;
  if (bRubberBandActive && bZoomDataPlot) {
    ptBandCurrent = Point{x, y};
    // Inverting twice erases: the band drawn last goes, the new one comes.
    DrawRubberBandRect(ptBandStart.x, ptBandStart.y, ptBandPrev.x, ptBandPrev.y);
    DrawRubberBandRect(ptBandStart.x, ptBandStart.y, ptBandCurrent.x, ptBandCurrent.y);
    ptBandPrev = ptBandCurrent;
    if (x > ptBandMaxX.x) ptBandMaxX.x = x;
    if (x < ptBandMinX.x) ptBandMinX.x = x;
    return;
  }

  const bool hovering = IsInDataPane(*this, x, y) && HoverMarkers(*this, x);
  if (!hovering && !bHoverIdle) {
    // The pointer left the markers: arrow cursor, and the normal lines over the
    // hover lines.
    GetHandle().SetCursor(CursorShape::Arrow);
    DrawDataPaneMarkers();
    bHoverIdle = true;
  }
  HoverOverScans(*this, x, y);
}

}  // namespace tarmic
