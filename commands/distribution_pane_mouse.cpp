// The right button and the mouse move on the distribution pane.
#include "commands/distribution_pane_mouse.h"

#include <algorithm>
#include <cmath>

#include "app/markers.h"
#include "app/mouse.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "commands/distribution_peak_tools.h"
#include "commands/distribution_range_tools.h"
#include "commands/text_format.h"
#include "distributions/distribution_plot.h"
#include "modelfit/model_flags.h"
#include "numerics/hydrodynamics.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// Bands of at most this width in pixels do nothing.
constexpr int kMinBandWidth = 10;
constexpr Color kBandShade = RGB(255, 0, 0);

int Trunc(double v) { return std::isfinite(v) ? static_cast<int>(v) : 0; }

// The band of an integration spans the whole pane (not for the c(s,ff0) map, whose
// second coordinate is selected too).
bool FullHeightBand() { return bRangeSelectMode && !ModelFlags().bCsff0Model && !ModelFlags().bCsff0OneDiscrete; }

int ClientRowOf(const TXLAWindow& window, int displayRow) {
  return window.fClientHeight > 0 ? Trunc(displayRow * window.fClientHeight / 1000.0) : 0;
}

// The distribution plot's second coordinate at a client row.
float MapYOfRow(const TXLAWindow& window, int row) {
  return DistributionPlot().pDistPlot ? DistributionPlot().pDistPlot->PixelRowToMapY(PlotUnitsY(window, row)) : 0.0f;
}

}  // namespace

bool SBasedContinuousModel() {
  return ModelFlags().bContiSModel || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM || ModelFlags().bCsConformationalChange ||
         ModelFlags().bCsFloatingVbar || ModelFlags().bCsScalingLaw || ModelFlags().bCsWormChain || ModelFlags().bCsMsTable || ModelFlags().bCsInvariantD ||
         ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsModel521;
}

std::string MolarMassReadoutText(float M, float mMin) {
  const double m = M, lo = mMin;
  if (M > 1e7f) return FormatText("|Mf=%.1f (>%.1f) MDa", m * 1e-6, lo * 1e-6);
  if (M > 1e6f) return FormatText("|Mf=%.2f (>%.2f) MDa", m * 1e-6, lo * 1e-6);
  if (M > 1e5f) return FormatText("|Mf=%.0f (>%.0f) kDa", m * 0.001, lo * 0.001);
  if (M > 1e4f) return FormatText("|Mf=%.1f (>%.1f) kDa", m * 0.001, lo * 0.001);
  if (M > 1000.0f) return FormatText("|Mf=%.2f (>%.2f) kDa", m * 0.001, lo * 0.001);
  if (M > 100.0f) return FormatText("|Mf=%.0f (>%.0f) Da", m, lo);
  return FormatText("|Mf=%.1f (>%.1f) Da", m, lo);
}

bool DistributionPaneRightPress(TXLAWindow& window, unsigned /*modKeys*/, const Point& point) {
  if (!IsInDistributionPane(window, point.x, point.y)) return false;
  const int row = FullHeightBand() ? ClientRowOf(window, DistributionPlot().nDistPlotBottom) : point.y;
  ptBandStart = ptBandCurrent = ptBandPrev = ptBandMaxX = ptBandMinX = Point{point.x, row};
  window.bRightDragActive = true;
  bDistZoomDrag = true;
  bDistRangeArmed = true;
  bDistDrag = true;
  bRubberBandActive = true;
  Window& w = window.GetHandle();
  w.SetCapture();
  w.SetCursor(CursorShape::Cross);
  window.pBandDC = w.ClientDC();
  return true;
}

bool DistributionPaneMouseMove(TXLAWindow& window, const Point& point) {
  if (!bRubberBandActive || !bDistDrag) return false;
  ptBandCurrent = Point{point.x, FullHeightBand() ? ClientRowOf(window, DistributionPlot().nDistPlotTop) : point.y};
  // Inverting twice erases: the band drawn last goes, the new one comes.
  window.DrawRubberBandRect(ptBandStart.x, ptBandStart.y, ptBandPrev.x, ptBandPrev.y);
  window.DrawRubberBandRect(ptBandStart.x, ptBandStart.y, ptBandCurrent.x, ptBandCurrent.y);
  if (FullHeightBand() && DistributionPlot().pDistPlot && !DataSet().bDLSData && !ModelFlags().bBoundaryAnalysis) {
    // The shading follows the band: the old range in black, the widest range
    // reached as plain curve, the new range shaded in red.
    const auto x = [&window](int column) { return DistributionXOfColumn(window, column); };
    HighlightDistributionRange(window, x(ptBandStart.x), x(ptBandPrev.x), 13, kBlack);
    HighlightDistributionRange(window, x(ptBandMinX.x), x(ptBandMaxX.x), -1, kBlack);
    HighlightDistributionRange(window, x(ptBandStart.x), x(ptBandCurrent.x), 12, kBandShade);
  }
  ptBandPrev = ptBandCurrent;
  ptBandMaxX.x = std::max(ptBandMaxX.x, ptBandCurrent.x);
  ptBandMinX.x = std::min(ptBandMinX.x, ptBandCurrent.x);
  return true;
}

bool DistributionPaneRightRelease(TXLAWindow& window, const Point& /*point*/) {
  if (!window.bRightDragActive || !bDistDrag) return false;
  window.DrawRubberBandRect(ptBandStart.x, ptBandStart.y, ptBandCurrent.x, ptBandCurrent.y);
  const int xmin = std::min(ptBandStart.x, ptBandCurrent.x);
  const int xmax = std::max(ptBandStart.x, ptBandCurrent.x);
  const int ymin = std::min(ptBandStart.y, ptBandCurrent.y);
  const int ymax = std::max(ptBandStart.y, ptBandCurrent.y);
  if (xmax - xmin > kMinBandWidth) {
    if (DistributionPlot().pDistPlot) {
      const float x1 = DistributionXOfColumn(window, xmin);
      const float x2 = DistributionXOfColumn(window, xmax);
      if (bRangeSelectMode)
        IntegrateSelectedRange(window, x1, x2, MapYOfRow(window, ymax), MapYOfRow(window, ymin));
      if (bDistZoomDrag) ZoomDistributionPlot(window, x1, x2);
    }
    bZoomStepHasY = true;
    if (!bDistZoomDrag) window.RepaintMain();
  }
  Window& w = window.GetHandle();
  w.ReleaseCapture();
  w.SetCursor(CursorShape::Arrow);
  window.pBandDC.reset();
  window.bRightDragActive = false;
  bRubberBandActive = false;
  bZoomDataPlot = false;
  bDistDrag = false;
  if (bRangeQuestionPending) nDragLinePixel = window.RadiusToPixelColumn(fCursorValue);
  if (bRangeQuestionPending && bAskMeniscusRangeShift) window.FinishMarkerMove(false);
  return true;
}

bool DistributionPaneRightDoubleClick(TXLAWindow& window, unsigned modKeys, const Point& point) {
  bDistDrag = false;
  if (!IsInDistributionPane(window, point.x, point.y)) return false;
  if (modKeys == (MK_RBUTTON | MK_CONTROL) && SBasedContinuousModel()) {
    // The molar mass of the s under the pointer, written beside it.
    const float s = DistributionXOfColumn(window, point.x);
    szReadoutLine1 = MolarMassReadoutText(PeakMolarMass(s), CalculateMff02(s, 1.0f));
    DrawReadoutText(window, point.x, point.y, szReadoutLine1);
    return true;
  }
  FullscaleDistributionPlot(window);
  window.RepaintMain();
  return true;
}

void DistributionPaneEscape(TXLAWindow& window) {
  if (nPeakLabels > 0) RemovePeakLabels(window);
  if (bCursorActive) {
    bRangeSelectMode = false;
    bDistZoomDrag = false;
  }
  CancelRangeSelection(window);
}

bool PressIntegrateButton(TXLAWindow& window, float bx, float by) {
  // The hit toggles the button: it stays in its new state.
  if (!pIntegrateButton || !pIntegrateButton->HitTest(bx, by)) return false;
  ShowIntegrateButton(window);
  ClickIntegrateButton(window);
  return true;
}

bool OverIntegrateButton(float bx, float by) {
  if (!pIntegrateButton) return false;
  const CScreenButton& b = *pIntegrateButton;
  const float x = 1.4f * bx;
  const float l = static_cast<float>(std::min(b.nLeft, b.nRight));
  const float r = static_cast<float>(std::max(b.nLeft, b.nRight));
  const float t = static_cast<float>(std::min(b.nTop, b.nBottom));
  const float bottom = static_cast<float>(std::max(b.nTop, b.nBottom));
  return l <= x && x <= r && t <= by && by <= bottom;
}

}  // namespace tarmic
