// The left mouse button: question buttons, marker grab and drag, the throw, the
// data-point readout and the double-click pick modes.
#include "app/mouse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "app/marker_lines.h"
#include "app/marker_question.h"
#include "app/mouse_hit_tests.h"
#include "app/onplot_tools.h"
#include "app/paint_state.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "services/error_box.h"
#include "app/mouse_slide.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

bool bMarkerDragging = false;
bool bSlideEndedByKey = false;
bool bHoverIdle = true;
std::string szReadoutLine1;
std::string szReadoutLine2;
float fReadoutX = 0.0f;
float fReadoutY = 0.0f;
int nLeftLimitColumn = 0;
int nRightLimitColumn = 0;
int nMeniscusColumn = 0;
int nMinMeniscusColumn = 0;
int nMaxMeniscusColumn = 0;
int nBottomColumn = 0;
int nMinBottomColumn = 0;
int nMaxBottomColumn = 0;
int nRefMeniscusColumn = 0;

void ResetMouseState() {
  bMarkerDragging = false;
  bSlideEndedByKey = false;
  bHoverIdle = true;
  nPickedPointIndex = 0;
  szReadoutLine1.clear();
  szReadoutLine2.clear();
  fReadoutX = fReadoutY = 0.0f;
  for (Marker m : kAllMarkers) MarkerColumn(m) = 0;
}

// ---------------------------------------------------------------- coordinates

int& MarkerColumn(Marker m) {
  switch (m) {
    case Marker::LeftLimit: return nLeftLimitColumn;
    case Marker::RightLimit: return nRightLimitColumn;
    case Marker::Meniscus: return nMeniscusColumn;
    case Marker::MinMeniscus: return nMinMeniscusColumn;
    case Marker::MaxMeniscus: return nMaxMeniscusColumn;
    case Marker::Bottom: return nBottomColumn;
    case Marker::MinBottom: return nMinBottomColumn;
    case Marker::MaxBottom: return nMaxBottomColumn;
    case Marker::RefMeniscus: return nRefMeniscusColumn;
  }
  return nMeniscusColumn;
}

void ComputeMarkerColumns(TXLAWindow& window) {
  for (Marker m : kAllMarkers) MarkerColumn(m) = window.RadiusToPixelColumn(MarkerRadius(m));
}

std::string FormatReadout(const char* format, double value) {
  const int n = std::snprintf(nullptr, 0, format, value);
  if (n <= 0) return std::string();
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, value);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void DrawReadoutText(TXLAWindow& window, int x, int y, const std::string& text, Color colour) {
  Window& w = window.GetHandle();
  std::unique_ptr<DC> dc = w.ClientDC();
  dc->SetTextColor(colour);
  dc->TextOut(ReadoutColumn(x, w.ClientSize()), y, text);
  dc.reset();
  w.Refresh();
}

void ShowMoveTarget(TXLAWindow& window, Marker m) {
  // Padded, so that a longer name written before is covered whole.
  szReadoutLine2 = "moves the " + MarkerName(m);
  szReadoutLine2.resize(std::max<std::size_t>(szReadoutLine2.size(), 44), ' ');
  DrawReadoutText(window, 10, 70, szReadoutLine2, MarkerTextColour(m));
}

std::optional<Marker> MarkerUnderColumn(int x) {
  std::optional<Marker> best;
  int bestDistance = 0;
  for (Marker m : kAllMarkers) {
    if (!MarkerVisible(m) || !NearColumn(x, MarkerColumn(m))) continue;
    const int distance = std::abs(x - MarkerColumn(m));
    if (!best || distance < bestDistance) {
      best = m;
      bestDistance = distance;
    }
  }
  return best;
}

// ---------------------------------------------------------------- the press

namespace {

// While Run or Fit computes a button only asks it to stop; while an auxiliary plot
// occupies the window nothing happens. True when the handler may go on.
bool PassButtonGate(const TXLAWindow& window) {
  if (bTemperaturePlotShown) return false;
  if (window.bRunInProgress || window.bFitInProgress) {
    bUserAbort = true;
    return false;
  }
  return true;
}

// Whether a band of the right button is being drawn.
bool BandActive() { return bRubberBandActive && bZoomDataPlot; }

void ShowReadoutLines(TXLAWindow& window) {
  DrawReadoutText(window, 10, 50, szReadoutLine1);
  DrawReadoutText(window, 10, 70, szReadoutLine2);
}

}  // namespace

void TXLAWindow::EvLButtonDown(unsigned /*modKeys*/, const Point& point) {
  if (!PassButtonGate(*this)) return;
  const int x = point.x, y = point.y;
  const float bx = ButtonX(*this, x), by = ButtonY(*this, y);

  // The peak labels and the scan-edit offer.
  if (PressOnPlotLabels(*this, bx, by)) return;

  // The question buttons of a dropped marker.
  if (pFitLimitYesButton && pFitLimitYesButton->HitTest(bx, by)) {
    ClickFitLimitQuestionButton(*this, 1);
    return;
  }
  if (pFitLimitCancelButton && pFitLimitCancelButton->HitTest(bx, by)) {
    ClickFitLimitQuestionButton(*this, 0);
    return;
  }
  // The noise and integrate buttons; the press goes on.
  PressOnPlotButtons(*this, bx, by);

  // A press anywhere else answers a dropped marker's question with cancel.
  if (bRangeQuestionPending) {
    FinishMarkerMove(false);
    return;
  }

  if (!BandActive() && IsInDataPane(*this, x, y) && DataPlots().pDataPlot) {
    ComputeMarkerColumns(*this);
    // Only a marker whose line is shown can be taken: the nearest, named at once.
    if (const std::optional<Marker> grabbed = MarkerUnderColumn(x)) {
      MarkerHoldFlag(*grabbed) = true;
      ShowMoveTarget(*this, *grabbed);
    }
    if (AnyMarkerHeld()) {
      bMarkerDragging = true;
      DrawCursorLine(x, false, 1);
      bCursorActive = true;
      ResetMouseSlideHistory();
      RecordMouseSlidePoint(&point);
      return;
    }
  }

  if (DataSet().nScans > 0) {
    const int xu = PlotUnitsX(*this, x), yu = PlotUnitsY(*this, y);
    const int tx = fClientWidth > 0 ? TruncToInt(nScanPickTolerance * kPlotUnitsAcross / fClientWidth) : 0;
    const int ty = fClientHeight > 0 ? TruncToInt(nScanPickTolerance * kPlotUnitsDown / fClientHeight) : 0;
    int hit = 0;
    if (DataPlots().pDataPlot) {
      for (int k = 1; k <= DataSet().nScans && !hit; ++k)
        if (HitDataPoint(DataSet().pScanOrder[static_cast<std::size_t>(k)], xu, yu, tx, ty)) hit = k;
    }
    if (!hit && DataPlots().pResidualsPlot) {
      for (int k = 1; k <= DataSet().nScans && !hit; ++k)
        if (HitResidualPoint(DataSet().pScanOrder[static_cast<std::size_t>(k)], xu, yu, tx, ty)) hit = k;
    }
    if (!hit) {
      // Blanks wipe an earlier readout.
      szReadoutLine1 = std::string(14, ' ');
      szReadoutLine2 = std::string(14, ' ');
    } else {
      const std::size_t s = static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(hit)]);
      const int i = nPickedPointIndex;
      szReadoutLine1 = FormatReadout("r = %1.4f    ", DataSet().ppRadius[s][i]);
      szReadoutLine2 = FormatReadout("a = %1.4f    ", DataSet().ppSignal[s][i]);
    }
    ShowReadoutLines(*this);
    AfterScanReadout(*this, x, y, hit);
  }
}

// ---------------------------------------------------------------- the release

void TXLAWindow::EvLButtonUp(unsigned /*modKeys*/, const Point& point) {
  if (!PassButtonGate(*this)) return;
  if (BandActive()) return;
  if (!bMarkerDragging) return;
  bMarkerDragging = false;
  nDragLinePixel = point.x;
  fCursorValue = DataXOfColumn(*this, point.x);
  bSlideEndedByKey = false;
  if (!bRangeQuestionPending) {
    RecordMouseSlidePoint(&point);
    ThrowDraggedMarker();
  }
  if (!bSlideEndedByKey) {
    // The move waits for its answer beside the pointer.
    bRangeQuestionPending = true;
    if (AnyMarkerHeld()) ShowFitLimitQuestionButtons(*this, nDragLinePixel, point.y);
  }
  // A key that ended the slide has answered already; the answer leaves the
  // question flag as it should be (set when a meniscus or bottom commit now asks
  // whether its fit range moves along).
}

// ---------------------------------------------------------------- the throw

void TXLAWindow::ThrowDraggedMarker() {
  if (!DataPlots().pDataPlot) return;
  // The plot rectangle in client columns (it is kept in plot units).
  const auto column = [this](int plotUnits) {
    return TruncToInt(std::floor(plotUnits * static_cast<double>(fClientWidth) / kPlotUnitsAcross));
  };
  const int plotLeft = column(std::min(DataPlots().pDataPlot->nLeft, DataPlots().pDataPlot->nRight));
  const int plotRight = column(std::max(DataPlots().pDataPlot->nLeft, DataPlots().pDataPlot->nRight));
  if (nDragLinePixel < plotLeft || nDragLinePixel > plotRight) return;

  // The slide stays between the held marker's neighbours.
  int lo = plotLeft, hi = plotRight;
  auto col = [this](float r) { return RadiusToPixelColumn(r); };
  if (bHoldMeniscus || bHoldRefMeniscus) {
    hi = col(DataSet().fMinBottom);
  } else if (bHoldBottom) {
    lo = col(DataSet().fMaxMeniscus);
  } else if (bHoldLeftLimit) {
    lo = col(DataSet().fMaxMeniscus);
    hi = col(DataSet().fFitRightLim);
  } else if (bHoldRightLimit) {
    lo = col(DataSet().fFitLeftLim);
    hi = col(DataSet().fMinBottom);
  } else if (bHoldMinMeniscus) {
    hi = col(DataSet().fMaxMeniscus);
  } else if (bHoldMaxMeniscus) {
    lo = col(DataSet().fMinMeniscus);
    hi = col(DataSet().fFitLeftLim);
  } else if (bHoldMinBottom) {
    lo = col(DataSet().fFitRightLim);
    hi = col(DataSet().fMaxBottom);
  } else if (bHoldMaxBottom) {
    lo = col(DataSet().fMinBottom);
  }

  int* positions = nullptr;
  float* steps = nullptr;
  int count = 0;
  if (!CalculateMouseSlidePath(&positions, &steps, &count, lo, hi, nDragLinePixel)) return;
  int key = -1;
  for (int i = 1; positions && steps && i <= count; ++i) {
    if (steps[i] <= 0) continue;
    int c = 0;
    if (GetKeyPressChar(&c)) {
      key = c;
      break;
    }
    WaitSeconds(steps[i]);
    nDragLinePixel = positions[i];
    fCursorValue = DataXOfColumn(*this, positions[i]);
    DrawCursorLine(positions[i], true, 1);
  }
  if (positions) free_ivector(positions, 1, count);
  if (steps) free_vector(steps, 1, count);

  // A key during the slide answers at once.
  if (key == 9 || key == 13) {
    bSlideEndedByKey = true;
    FinishMarkerMove(true);
  } else if (key == 27) {
    bSlideEndedByKey = true;
    FinishMarkerMove(false);
  }
}

// ---------------------------------------------------------------- the double-click

void TXLAWindow::EvLButtonDblClk(unsigned modKeys, const Point& point) {
  if (!PassButtonGate(*this)) return;
  if (bMarkerDragging) return;
  const int x = point.x, y = point.y;
  if (bRangeQuestionPending && bAskMeniscusRangeShift) FinishMarkerMove(false);

  // The press of this double-click took a bound of the meniscus or bottom range:
  // a double-click is the pick of a fitting limit, which takes precedence over
  // the dashed bounds lying under it (a bound is moved by dragging it).
  if (bRangeQuestionPending && !bAskBottomRangeShift &&
      (bHoldMinMeniscus || bHoldMaxMeniscus || bHoldMinBottom || bHoldMaxBottom)) {
    FinishMarkerMove(false);
    RedrawPlots();
  }
  if (bRangeQuestionPending) {
    // A placed marker moves to the pointer.
    DrawCursorLine(x, true, 1);
    nDragLinePixel = x;
    fCursorValue = DataXOfColumn(*this, x);
    return;
  }
  // A double-click on a noise or the integrate button is a press.
  if (OverOnPlotButton(ButtonX(*this, x), ButtonY(*this, y))) {
    EvLButtonDown(modKeys, point);
    return;
  }
  // Without the data plot no pick could be shown or ended.
  if (!DataPlots().pDataPlot) return;

  StartPick(DataXOfColumn(*this, x), fCursorValue != 0, modKeys);
  if (AnyMarkerHeld()) ShowFitLimitQuestionButtons(*this, x, y);
}

void TXLAWindow::StartPick(float radius, bool eraseOld, unsigned modKeys) {
  fCursorValue = radius;
  DrawCursorLine(RadiusToPixelColumn(fCursorValue), eraseOld, 1);
  bCursorActive = true;

  // The whole modifier word selects the pick.
  if (modKeys == (MK_LBUTTON | MK_CONTROL)) {
    bPickMeniscusBottom = true;
    bPickFitLimit = false;
    bPickRefMeniscus = false;
    bHoldMeniscus = true;
  } else if (modKeys == (MK_LBUTTON | MK_SHIFT)) {
    bPickRefMeniscus = DataSet().fMeniscus != 0;
    bPickMeniscusBottom = false;
    bPickFitLimit = false;
    bCursorActive = bPickRefMeniscus;
    bHoldRefMeniscus = true;
  } else {
    bPickFitLimit = true;
    bPickMeniscusBottom = false;
    bPickRefMeniscus = false;
    bHoldLeftLimit = true;
  }

  szReadoutLine1 = FormatReadout("%1.4f    ", fCursorValue);
  DrawReadoutText(*this, 10, 50, szReadoutLine1);
  if (bPickFitLimit) {
    ShowMoveTarget(*this, FitLimitPickTarget(fCursorValue));
  } else if (bPickRefMeniscus) {
    ShowMoveTarget(*this, Marker::RefMeniscus);
  } else if (bPickMeniscusBottom) {
    szReadoutLine2 = "moves the meniscus or the bottom            ";
    DrawReadoutText(*this, 10, 70, szReadoutLine2, crMeniscusMarker);
  }
  bRangeQuestionPending = true;
}

}  // namespace tarmic
