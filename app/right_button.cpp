// The right mouse button: a drag over the data pane zooms the data plot to the
// dragged rectangle (up to nine remembered steps); a double-click takes one step
// back, and at the outermost step restores the automatic ranges.
#include <algorithm>

#include "app/markers.h"
#include "app/mouse.h"
#include "app/mouse_hit_tests.h"
#include "app/onplot_tools.h"
#include "app/paint_state.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"

namespace tarmic {

namespace {

// The gate of every right-button handler: nothing while an auxiliary plot occupies
// the window; during Run or Fit only the interrupt request. True when the handler
// may go on.
bool PassRightButtonGate(const TXLAWindow& window) {
  if (bTemperaturePlotShown) return false;
  if (window.bRunInProgress || window.bFitInProgress) {
    bUserAbort = true;
    return false;
  }
  return DataPlots().pDataPlot != nullptr;
}

}  // namespace

void TXLAWindow::EvRButtonDown(unsigned modKeys, const Point& point) {
  if (!PassRightButtonGate(*this) || bRightDragActive) return;
  if (RightPressOnPlotTools(*this, modKeys, point)) return;
  // A drag that starts outside the data pane zooms nothing; it is not started at
  // all, so that no drag state outlives a release the window never sees.
  if (!IsInDataPane(*this, point.x, point.y)) return;
  ptBandStart = ptBandCurrent = ptBandPrev = ptBandMaxX = ptBandMinX = point;
  bRightDragActive = true;
  bZoomDataPlot = true;
  bRubberBandActive = true;
  Window& w = GetHandle();
  w.SetCapture();
  w.SetCursor(CursorShape::Cross);
  pBandDC = w.ClientDC();
}

void TXLAWindow::EvRButtonUp(unsigned /*modKeys*/, const Point& point) {
  if (!PassRightButtonGate(*this)) return;
  if (RightReleaseOnPlotTools(*this, point)) return;
  if (bRightDragActive) {
    DrawRubberBandRect(ptBandStart.x, ptBandStart.y, ptBandCurrent.x, ptBandCurrent.y);
    const int xmin = std::min(ptBandStart.x, ptBandCurrent.x);
    const int xmax = std::max(ptBandStart.x, ptBandCurrent.x);
    const int ymin = std::min(ptBandStart.y, ptBandCurrent.y);
    const int ymax = std::max(ptBandStart.y, ptBandCurrent.y);
    if (xmax - xmin > 10) {
      if (bZoomDataPlot) {
        nZoomLevel = std::min(nZoomLevel + 1, kMaxZoomLevel);
        const int level = nZoomLevel;
        afZoomXMin[level] = DataXOfColumn(*this, xmin);
        afZoomXMax[level] = DataXOfColumn(*this, xmax);
        // Screen rows grow downwards.
        afZoomYMin[level] = DataYOfRow(*this, ymax);
        afZoomYMax[level] = DataYOfRow(*this, ymin);
        DataPlots().pDataPlot->SetRanges(afZoomXMin[level], afZoomXMax[level], afZoomYMin[level],
                             afZoomYMax[level]);
        DataPlots().pDataPlot->Redraw();
        FollowDataPlotZoom(std::pair(afZoomXMin[level], afZoomXMax[level]));
      }
      bZoomStepHasY = true;
      RepaintMain();
    }
    // The drag ends whether or not the band was wide enough to act.
    Window& w = GetHandle();
    w.ReleaseCapture();
    w.SetCursor(CursorShape::Arrow);
    pBandDC.reset();
    bRightDragActive = false;
    bRubberBandActive = false;
    bZoomDataPlot = false;
    // A placed marker line follows the new scale.
    if (bRangeQuestionPending) nDragLinePixel = RadiusToPixelColumn(fCursorValue);
  }
  if (bRangeQuestionPending && bAskMeniscusRangeShift) FinishMarkerMove(false);
}

void TXLAWindow::EvRButtonDblClk(unsigned modKeys, const Point& point) {
  if (!PassRightButtonGate(*this) || bMarkerDragging) return;
  bZoomDataPlot = false;
  if (bRangeQuestionPending && bAskMeniscusRangeShift) FinishMarkerMove(false);
  if (RightDoubleClickOnPlotTools(*this, modKeys, point)) return;

  // One zoom step back on the data plot.
  nZoomLevel -= 1;
  if (nZoomLevel < 0) {
    nZoomLevel = 0;
    PlayOkSound();
    return;
  }
  const int level = nZoomLevel;
  if (level == 0) {
    DataPlots().pDataPlot->ResetRanges();
  } else if (bZoomStepHasY) {
    DataPlots().pDataPlot->SetRanges(afZoomXMin[level], afZoomXMax[level], afZoomYMin[level], afZoomYMax[level]);
  } else {
    DataPlots().pDataPlot->SetXRangeAutoY(afZoomXMin[level], afZoomXMax[level]);
  }
  DataPlots().pDataPlot->Redraw();
  FollowDataPlotZoom(level == 0 ? std::nullopt
                                : std::optional(std::pair(afZoomXMin[level], afZoomXMax[level])));
  if (bRangeQuestionPending) nDragLinePixel = RadiusToPixelColumn(fCursorValue);
  RepaintMain();
}

}  // namespace tarmic
