// TXLAWindow::Paint: the one place where the client area is composed. The plots
// are recorded pictures in the 1399 x 1000 picture space; Paint maps that space
// onto the client area, plays the pictures of the current view, and draws over
// them what the pictures do not hold: the marker lines, the cursor line, the fitted
// curves, the noise and initial profiles, the residual bitmap, the prior over the
// distribution and the on-plot buttons.
#include "app/paint.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/analysis_views.h"
#include "app/global_eq_view.h"
#include "app/marker_lines.h"
#include "app/marker_question.h"
#include "app/markers.h"
#include "app/mouse.h"
#include "app/onplot_tools.h"
#include "app/panes.h"
#include "app/printout.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "numerics/interpolation.h"
#include "platform/dc.h"
#include "platform/gdi.h"
#include "platform/metafile.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/screen_button.h"
#include "plot/temperature_plot.h"
#include "plot/text_flow.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/initial_data.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "services/error_box.h"

namespace tarmic {

namespace {

// What the last screen paint showed of a computed result: whether it showed one
// (fit curves, residuals and their bitmap, a distribution and its button) and the
// data, model and values it belonged to then.
struct PaintedResult {
  bool shown = false;
  LoadedDataStamp stamp;
  // The realtime update's status lines it showed, empty for none.
  std::string banner;
  // The claim of a result painted away because it had ended, until a paint shows
  // a result again.
  std::optional<LoadedDataStamp> paintedAway;
};
PaintedResult gPainted;

// The realtime status lines the window shows now: only while the update runs.
std::string CurrentBanner() {
  return bRealtimeUpdateMode ? szRealtimeLine1 + "\n" + szRealtimeLine2 : std::string();
}

}  // namespace

void ResetPaintState() {
  nClientWidth = 1400;
  nClientHeight = 1000;
  bShowDisclaimerText = true;
  bForcedRepaint = false;
  bTemperaturePlotShown = false;
  bFileDialogOpen = false;
  bShowFitStatistics = false;
  gPainted = PaintedResult{};
}

bool PaintedResultEnded() { return gPainted.shown && CurrentDataStamp() != gPainted.stamp; }

bool PaintedBannerEnded() { return gPainted.banner != CurrentBanner(); }

void PaintWindow(TXLAWindow& window) {
  Window& handle = window.GetHandle();
  std::unique_ptr<DC> dc = handle.ClientDC();
  const Rect client = handle.ClientRect();
  // The background is erased before the window paints, as a paint request asks;
  // not while the window keeps its picture (a box open over the mean and limits of
  // a Monte-Carlo run would otherwise stand over an empty window).
  if (!window.KeepsPicture()) {
    dc->SelectPen(NullPen());
    Brush white = SolidBrush(kWhite);
    Brush oldBrush = dc->SelectBrush(white);
    dc->Rectangle(client.left, client.top, client.right, client.bottom);
    dc->SelectBrush(oldBrush);
    handle.TextLines().Clear();
  }
  try {
    window.Paint(*dc, true, client);
  } catch (const FatalError&) {
    // Already reported; the picture stays as far as it got.
  }
  handle.Refresh();
}

void RepaintWhatAnEndedResultShowed(TXLAWindow& window, bool now) {
  if (!PaintedResultEnded() && !PaintedBannerEnded()) return;
  if (PaintedResultEnded()) gPainted.paintedAway = gPainted.stamp;
  // A computation keeps its picture until it ends (and paints it then); a printed
  // page is no screen.
  if (!now || window.bRunInProgress || window.bFitInProgress || bPrinting) {
    window.GetHandle().Invalidate();
    return;
  }
  // Before a box opens: painted at once, as the window stands under the box.
  const bool modal = window.bModalBoxOpen, fileDialog = bFileDialogOpen;
  window.bModalBoxOpen = false;
  bFileDialogOpen = false;
  PaintWindow(window);
  window.bModalBoxOpen = modal;
  bFileDialogOpen = fileDialog;
}

void RepaintAResultThatHoldsAgain(TXLAWindow& window) {
  if (!gPainted.paintedAway || gPainted.shown || window.KeepsPicture() || bPrinting) return;
  if (*gPainted.paintedAway != CurrentDataStamp() || !FitOfLoadedData()) return;
  gPainted.paintedAway.reset();
  PaintWindow(window);
}

void ResetPaintingAndInteraction() {
  ResetPaintState();
  ResetPaneLayout();
  ResetMarkerLines();
  ResetMarkerState();
  ResetFitLimitQuestion();
  ResetMouseState();
  ResetZoomState();
  ResetAnalysisViews();
  ResetGlobalEqView();
}

namespace {

// The warranty text of the first paint: nine lines, one every 15 pixels from
// y = 55. The lines are empty.
constexpr int kWarrantyLines = 9;
const char* const kWarrantyText[kWarrantyLines] = {"", "", "", "", "", "", "", "", ""};

void DrawWarrantyText(DC& dc) {
  Font font;
  font.height = 12;
  font.weight = 600;
  font.escapement = 0;
  font.family = FontFamily::Serif;
  const Font oldFont = dc.SelectFont(font);
  const Color oldColor = dc.SetTextColor(RGB(100, 100, 100));
  for (int i = 0; i < kWarrantyLines; ++i) dc.TextOut(10, 55 + 15 * i, kWarrantyText[i]);
  dc.SetTextColor(oldColor);
  dc.SelectFont(oldFont);
}

void PlayPicture(DC& dc, const MetaFile* picture) {
  if (picture) picture->Play(dc);
}

// The panes of the global equilibrium analysis' view.
void PlayGlobalEqView(DC& dc) {
  if (GetShellHooks().globalEqPictures)
    for (const MetaFile* picture : GetShellHooks().globalEqPictures()) PlayPicture(dc, picture);
}

void PlayOwned(DC& dc, const std::unique_ptr<MetaFile>& picture) {
  if (picture) picture->Play(dc);
}

// The two status lines of the realtime update at the top of the plot areas of the
// data and residual panes, as the fit's text is placed; returns their cells (client
// pixels). Over the test of approach to equilibrium, whose plot stands in the data
// pane, they keep their place near its top (picture units 500, 30).
std::vector<Rect> DrawRealtimeStatus(DC& dc, Size client, int minTextPixels) {
  if (bEqTestView) {
    dc.TextOut(500, 30, szRealtimeLine1);
    dc.TextOut(500, 50, szRealtimeLine2);
    return {};
  }
  PixelDrawingScope pixels(dc);
  std::vector<Rect> regions = FitTextRegions(client, nullptr);
  if (regions.empty()) regions.push_back(Rect{10, 10, std::max(client.cx, 11), std::max(client.cy, 11)});
  return DrawFlowedLines(dc, {szRealtimeLine1, szRealtimeLine2}, regions, minTextPixels);
}

}  // namespace

std::vector<std::unique_ptr<MetaFile>> FittedCurveOverlays(std::optional<Color> colour, int stride) {
  std::vector<std::unique_ptr<MetaFile>> overlays;
  // The fit on show belongs to the data, model and values that computed it.
  if (!DataPlots().pDataPlot || !FitOfLoadedData()) return overlays;
  for (int i = 1; i <= DataSet().nScans && static_cast<std::size_t>(i) < DataSet().pScanOrder.size(); ++i) {
    if (stride > 1 && (i - 1) % stride != 0 && i != DataSet().nScans) continue;
    const int s = DataSet().pScanOrder[static_cast<std::size_t>(i)];
    if (s < 1 || static_cast<std::size_t>(s) >= DataSet().ppFitCurve.size()) continue;
    overlays.push_back(DataPlots().pDataPlot->DrawCurveOverlay(DataSet().ppFitCurve[static_cast<std::size_t>(s)],
                                                   colour.value_or(DataPlots().pDataPlot->GetCurveColor(i - 1)),
                                                   -1, 1));
  }
  return overlays;
}

std::unique_ptr<MetaFile> NoiseProfileOverlay() {
  if (!DataPlots().pDataPlot || !CurrentGrid().pTINoise || !AnalysisSwitches().bFitTINoise || !CurrentGrid().pGridRadius) return nullptr;
  // Grid points that some scan does not measure hold no noise that was fitted: the
  // line breaks there.
  std::vector<float> noise(CurrentGrid().pTINoise, CurrentGrid().pTINoise + CurrentGrid().nGridPoints + 1);
  for (int g = 1; g <= CurrentGrid().nGridPoints; ++g)
    if (GridPointUnmeasured(g)) noise[static_cast<std::size_t>(g)] = std::numeric_limits<float>::quiet_NaN();
  return DataPlots().pDataPlot->DrawArrays(CurrentGrid().pGridRadius, noise.data(), CurrentGrid().nGridPoints, kBlack, -1, 1);
}

std::vector<std::unique_ptr<MetaFile>> DataPaneOverlays() {
  std::vector<std::unique_ptr<MetaFile>> overlays = FittedCurveOverlays();
  overlays.push_back(NoiseProfileOverlay());
  overlays.push_back(InitialProfileOverlay());
  return overlays;
}

namespace {

// The initial profile in the unit of the data plot (one-based, entry 0 unused): as
// the models use it (absorbance, fringes, ...), and on intensity data, whose plot
// shows the sample intensity, the intensity the profile's absorbance leaves of the
// reference intensity: the profile file's own when it is an intensity scan, else
// that of the first displayed scan at the profile's radii. Empty when there is no
// reference intensity to take.
std::vector<float> InitialProfileInPlotUnit() {
  const auto n = static_cast<std::size_t>(InitialData().nInitPoints);
  std::vector<float> values(InitialData().pInitSignal.begin(), InitialData().pInitSignal.begin() + static_cast<std::ptrdiff_t>(n) + 1);
  if (!ScanFile().bIntensityData) return values;
  std::vector<float> reference;
  const bool intensityFile = InitialData().ScanInfoTemplate.scanType == 'I' || InitialData().ScanInfoTemplate.scanType == 'V';
  if (intensityFile && InitialData().pInitThird.size() > n) {
    reference.assign(InitialData().pInitThird.begin(), InitialData().pInitThird.begin() + static_cast<std::ptrdiff_t>(n) + 1);
  } else if (DataSet().nScans > 0 && DataSet().pScanOrder.size() > 1) {
    const auto s = static_cast<std::size_t>(DataSet().pScanOrder[1]);
    if (s >= DataSet().ppThirdColumn.size() || !DataSet().ppThirdColumn[s]) return {};
    reference.assign(n + 1, 0.0f);
    if (!InterpolateCurve(InitialData().nInitPoints, InitialData().pInitRadius.data(), reference.data(), DataSet().pnPoints[s], DataSet().ppRadius[s],
                          DataSet().ppThirdColumn[s]))
      return {};
  } else {
    return {};
  }
  for (std::size_t i = 1; i <= n; ++i) values[i] = IntensityFromAbsorbance(values[i], reference[i]);
  return values;
}

}  // namespace

std::unique_ptr<MetaFile> InitialProfileOverlay() {
  if (!DataPlots().pDataPlot || !AnalysisSwitches().bInitialDataProfile || InitialData().nInitPoints < 1) return nullptr;
  if (InitialData().pInitRadius.size() <= static_cast<std::size_t>(InitialData().nInitPoints) ||
      InitialData().pInitSignal.size() <= static_cast<std::size_t>(InitialData().nInitPoints))
    return nullptr;
  const std::vector<float> shown = InitialProfileInPlotUnit();
  if (shown.empty()) return nullptr;
  return DataPlots().pDataPlot->DrawArrays(InitialData().pInitRadius.data(), shown.data(), InitialData().nInitPoints, kInitialProfileColor, -1, 0);
}

std::unique_ptr<MetaFile> DataPanePicture() {
  const MetaFile* plot = GetDataPlotMetafile();
  if (!plot) return nullptr;
  std::vector<MetaRecord> records = plot->Records();
  for (const std::unique_ptr<MetaFile>& overlay : DataPaneOverlays()) {
    if (!overlay) continue;
    // Each overlay starts from the state the plot's picture began with.
    MetaRecord save{};
    save.op = MetaOp::SaveDC;
    records.push_back(save);
    records.insert(records.end(), overlay->Records().begin(), overlay->Records().end());
    MetaRecord restore{};
    restore.op = MetaOp::RestoreDC;
    restore.a = -1;
    records.push_back(restore);
  }
  return std::make_unique<MetaFile>(std::move(records));
}

bool TXLAWindow::KeepsPicture() const {
  return bRunInProgress || bFitInProgress || bModalBoxOpen || bFileDialogOpen;
}

void TXLAWindow::Paint(DC& dc, bool erase, const Rect& /*rect*/) {
  BeforePaintOnPlotTools(bPrinting ? nullptr : &dc);
  if (bShowDisclaimerText) {
    // Written once per run, before the gate, so that even a gated first paint
    // shows it.
    DrawWarrantyText(dc);
    bShowDisclaimerText = false;
  }

  if (KeepsPicture()) return;
  if (!DataPlots().pDataPlot && !DataPlots().pResidualsPlot && !TemperaturePlot().pTemperaturePlot && !bGlobalEqView)
    return;

  if (bPrinting) {
    if (bGlobalEqView)
      PlayGlobalEqView(dc);
    else
      PaintPrintedPage(dc);
    return;
  }

  // A paint that does not erase asks for one that does.
  if (!erase && !bForcedRepaint) {
    bForcedRepaint = true;
    GetHandle().Invalidate();
    return;
  }
  bForcedRepaint = false;

  // Three panes only while the distribution pane has a distribution of the data
  // shown: a new data set or a model without one takes the whole height.
  if (GetShellHooks().layoutPanes) GetShellHooks().layoutPanes();

  const Size client = GetHandle().ClientSize();
  SetScreenMapping(dc, client);
  fClientWidth = static_cast<float>(client.cx);
  fClientHeight = static_cast<float>(client.cy);
  nClientWidth = client.cx;
  nClientHeight = client.cy;
  bTemperaturePlotShown = false;
  gPainted.banner.clear();

  // The view of the global equilibrium analysis stands in for both panes.
  if (bGlobalEqView) {
    PlayGlobalEqView(dc);
    return;
  }

  // A temperature plot waiting to be shown covers the whole view once: it is drawn,
  // freed, and the input handlers repaint the normal view at the next key or click.
  // In trace mode it stays, and the mouse move reads coordinates off it.
  if (TemperaturePlot().pTemperaturePlot) {
    TemperaturePlot().pTemperaturePlot->Rescale();
    if (TemperaturePlot().pTemperaturePlot->Redraw()) PlayPicture(dc, TemperaturePlot().pTemperaturePlot->hPicture.get());
    if (TemperaturePlot().bTemperatureTrace) return;
    FreeTemperaturePlot();
    bTemperaturePlotShown = true;
    return;
  }

  // Whatever this paint shows of a result is decided from its claim below; what it
  // showed is kept, so that the end of the claim paints the window again.
  gPainted.shown = FitOfLoadedData() || DistributionPanePicture() != nullptr;
  if (gPainted.shown) {
    gPainted.stamp = CurrentDataStamp();
    gPainted.paintedAway.reset();
  }

  if (DataPlots().bShowData) PlayPicture(dc, GetDataPlotMetafile());
  if (GetShellHooks().eqTestPicture) PlayPicture(dc, GetShellHooks().eqTestPicture());

  if (DataPlots().pDataPlot) {
    if (DataPlots().bShowData && !bEqTestView) {
      if (MarkerVisible(Marker::Meniscus)) {
        DrawMarkerLine(dc, RadiusToPixelColumn(DataSet().fMeniscus), crMeniscusMarker, 1);
        if (MarkerVisible(Marker::RefMeniscus))
          DrawMarkerLine(dc, RadiusToPixelColumn(MarkerRadius(Marker::RefMeniscus)),
                         crRefMeniscusMarker, 1);
      }
      if (!DataSet().bDLSData) {
        for (float r : {DataSet().fMaxMeniscus, DataSet().fMinMeniscus, DataSet().fMaxBottom, DataSet().fMinBottom}) {
          if (r != 0)
            DrawDashedMarkerLine(dc, RadiusToPixelColumn(r), crRangeMarker, nRangeMarkerDashes, 1);
        }
      }
      if (MarkerVisible(Marker::Bottom))
        DrawMarkerLine(dc, RadiusToPixelColumn(DataSet().fBottom), crBottomMarker, 1);
      if (MarkerVisible(Marker::LeftLimit))
        DrawMarkerLine(dc, RadiusToPixelColumn(DataSet().fFitLeftLim), crFitLimitMarker, 1);
      if (MarkerVisible(Marker::RightLimit))
        DrawMarkerLine(dc, RadiusToPixelColumn(DataSet().fFitRightLim), crFitLimitMarker, 1);
      // The repaint has wiped the old cursor line already.
      if (bCursorActive) DrawCursorLine(dc, RadiusToPixelColumn(fCursorValue), false, 1);

      for (const std::unique_ptr<MetaFile>& overlay : DataPaneOverlays()) PlayOwned(dc, overlay);
    }
    if (DataPlots().bShowResiduals) {
      // The residual plot's picture as it was last recorded: painting recomputes
      // no residuals and writes no file.
      PlayPicture(dc, GetResidualPlotMetafile());
      // The bitmap shows residuals of a fit too: none while no fit holds its claim
      // (before the first Run the residual arrays still hold the scans).
      if (DataPlots().bShowResidualsBitmap && !bEqTestMode && FitOfLoadedData()) DrawResidualsBitmap(dc, client);
    }
  }
  if (!bEqTestView) {
    if (const MetaFile* distribution = DistributionPanePicture()) {
      PlayPicture(dc, distribution);
      PlayOwned(dc, DistributionPriorOverlay());
    }
  }
  // The realtime update's status lines, then the fit's text below them, both in the
  // plot areas clear of every label.
  gPainted.banner = CurrentBanner();
  SetTakenTextCells(bRealtimeUpdateMode ? DrawRealtimeStatus(dc, client, GetHandle().MinTextHeight())
                                        : std::vector<Rect>{});
  if (bShowFitStatistics && !bEqTestView) {
    if (GetShellHooks().showFitResultText) GetShellHooks().showFitResultText(*this, dc);
    bShowFitStatistics = false;
  }
  SetTakenTextCells({});

  if (!bTemperaturePlotShown && !bEqTestView && !bVIrezMode) {
    PaintOnPlotButtons(dc);
    if (pFitLimitYesButton) PlayOwned(dc, pFitLimitYesButton->hPicture);
    if (pFitLimitCancelButton) PlayOwned(dc, pFitLimitCancelButton->hPicture);
  }
}

void TXLAWindow::EvSize(unsigned /*sizeType*/, const Size& /*size*/) {
  UpdatePlotTextHeight();
  // The whole client area is painted again, also in batch mode.
  GetHandle().Invalidate();
}

void TXLAWindow::UpdatePlotTextHeight() {
  // The client's height holds 1000 picture units; text keeps the window's minimum
  // text height when the pictures are stretched onto it. Texts span more picture
  // units across in a client narrower than the picture space.
  Window& w = GetHandle();
  const Size client = w.ClientSize();
  const int minPixels = w.MinTextHeight();
  const int units = minPixels > 0 && client.cy > 0
                        ? static_cast<int>(std::ceil(minPixels * fDisplayExtent / client.cy))
                        : 0;
  const bool heightChanged = SetMinPlotTextHeight(units);
  const bool widthChanged = SetPlotTextWidthFactor(PlotTextWidthFactorFor(client));
  // The residual bitmap's rows are pixels: its band follows the client's height.
  const bool bandChanged = SetPaneClientHeight(client.cy);
  if (!heightChanged && !widthChanged && !bandChanged) return;
  // The plots lay out their areas anew for the new text sizes and band.
  if (DataPlots().pDataPlot) DataPlots().pDataPlot->Redraw();
  if (DataPlots().pResidualsPlot) DataPlots().pResidualsPlot->Redraw();
  RelayoutNoiseButtons();
  if (GetShellHooks().textSizeChanged) GetShellHooks().textSizeChanged();
}

}  // namespace tarmic
