// The noise buttons and the entry points of the tools drawn over the plots.
#include "app/onplot_tools.h"

#include <algorithm>
#include <string>

#include "app/analysis_views.h"
#include "app/client_coordinates.h"
#include "app/mouse_hit_tests.h"
#include "app/onplot_scan_edit.h"
#include "app/panes.h"
#include "app/response_table.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "services/error_box.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "platform/raster_dc.h"
#include "plot/winplot.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "resources/command_ids.h"

namespace tarmic {

std::unique_ptr<CScreenButton> pRemoveNoiseButton;
std::unique_ptr<CScreenButton> pRestoreTINoiseButton;

namespace {

constexpr const char* kRemoveNoiseLabel = "remove TI and RI";
constexpr const char* kRestoreTINoiseLabel = "restore TI noise";
// The commands whose work the noise buttons do.

// A push button with one label in both states over (top, left, bottom, right),
// display units.
std::unique_ptr<CScreenButton> MakeNoiseButton(double top, double left, double bottom, double right,
                                               const char* label) {
  auto button = std::make_unique<CScreenButton>();
  button->SetRect(static_cast<float>(top), static_cast<float>(left), static_cast<float>(bottom),
                  static_cast<float>(right));
  const int n = static_cast<int>(std::string(label).size());
  button->SetLabels(label, n, label, n);
  button->nType = 1;
  button->crOnFill = crToolButtonOnFill;
  button->Paint();
  return button;
}

// A push button shows that it was pressed: on for a moment, then off again.
void Flash(TXLAWindow& window, CScreenButton& button) {
  Window& w = window.GetHandle();
  button.Toggle();
  button.Show(w);
  WaitSeconds(0.1f);
  button.Toggle();
  button.Show(w);
}

void Play(DC& dc, const std::unique_ptr<CScreenButton>& button) {
  if (button && button->hPicture) button->hPicture->Play(dc);
}

}  // namespace

// ---------------------------------------------------------------- noise buttons

void CreateNoiseButtons(TXLAWindow* window) {
  // Both buttons are as wide as the longer label needs (its width at the plot text
  // height times the text width factor) and as high as the button font at its plot
  // text height, plus a margin; picture units. They stand stacked at
  // the right end just above the data pane, or side by side when two do not fit
  // above it.
  const Font font{PlotTextHeight(hButtonFont.height), hButtonFont.weight, 0, hButtonFont.family};
  int textWidth = 0;
  for (const char* label : {kRemoveNoiseLabel, kRestoreTINoiseLabel})
    textWidth = std::max(textWidth, DefaultTextRenderer().Measure(font, font.height, label).width);
  const double h = font.height + 4.0;
  const double w = PlotTextWidth(textWidth) + 20.0;
  const double right = DataPlots().nPlotAreaRight * 1.4 - 10.0;
  const bool stacked = nDataPaneTop - 1 - 2 * h >= 0;
  const double removeRight = stacked ? right : right - w - 6.0;
  const double removeTop = stacked ? nDataPaneTop - 1 - 2 * h : nDataPaneTop - 1 - h;
  if (!pRemoveNoiseButton) {
    pRemoveNoiseButton = MakeNoiseButton(removeTop, removeRight - w, removeTop + h - 1,
                                         removeRight, kRemoveNoiseLabel);
  }
  if (!pRestoreTINoiseButton) {
    pRestoreTINoiseButton = MakeNoiseButton(nDataPaneTop - 1 - h, right - w, nDataPaneTop - 2,
                                            right, kRestoreTINoiseLabel);
  }
  if (window) window->RedrawPlots();
}

void RelayoutNoiseButtons() {
  if (!pRemoveNoiseButton && !pRestoreTINoiseButton) return;
  pRemoveNoiseButton.reset();
  pRestoreTINoiseButton.reset();
  CreateNoiseButtons(nullptr);
}

void DeleteNoiseButtons(TXLAWindow* window) {
  pRemoveNoiseButton.reset();
  pRestoreTINoiseButton.reset();
  if (window) window->RedrawPlots();
}

void ClickRemoveNoiseButton(TXLAWindow& window) {
  // While the realtime update reloads the data, the loaded scans keep their noise.
  if (DataSet().nScans <= 0 || !AnalysisSwitches().bFitRINoise || bRealtimeUpdateMode) return;
  DispatchCommand(window, kCmSubtractSystematicNoise);
  window.RedrawPlots();
}

void ClickRestoreTINoiseButton(TXLAWindow& window) {
  if (DataSet().nScans <= 0 || !AnalysisSwitches().bFitTINoise) return;
  DispatchCommand(window, kCmRestoreTINoise);
  window.RedrawPlots();
}

// ---------------------------------------------------------------- mouse and keys

bool PressOnPlotLabels(TXLAWindow& window, float bx, float by) {
  const ShellHooks& hooks = GetShellHooks();
  if (hooks.pressLabel && hooks.pressLabel(window, bx, by)) return true;
  return PressScanEditButtons(window, bx, by);
}

void PressOnPlotButtons(TXLAWindow& window, float bx, float by) {
  // The noise buttons are push buttons: their hit test does not toggle them.
  if (pRemoveNoiseButton && pRemoveNoiseButton->HitTest(bx, by)) {
    Flash(window, *pRemoveNoiseButton);
    ClickRemoveNoiseButton(window);
  } else if (pRestoreTINoiseButton && pRestoreTINoiseButton->HitTest(bx, by)) {
    Flash(window, *pRestoreTINoiseButton);
    ClickRestoreTINoiseButton(window);
  } else if (GetShellHooks().pressButton) {
    GetShellHooks().pressButton(window, bx, by);
  }
}

bool OverOnPlotButton(float bx, float by) {
  if (pRemoveNoiseButton && pRemoveNoiseButton->HitTest(bx, by)) return true;
  if (pRestoreTINoiseButton && pRestoreTINoiseButton->HitTest(bx, by)) return true;
  const ShellHooks& hooks = GetShellHooks();
  return hooks.overButton && hooks.overButton(bx, by);
}

void AfterScanReadout(TXLAWindow& window, int x, int y, int position) {
  if (ScanEditOfferOpen()) ClickScanEditButton(window, 0);
  if (position > 0) ShowScanEditButtons(window, x, y, position);
}

void HoverOverScans(TXLAWindow& window, int x, int y) {
  if (!window.bScanHoverLabel || DataSet().nScans <= 0) return;
  const int xu = PlotUnitsX(window, x), yu = PlotUnitsY(window, y);
  const int tx = PlotUnitsX(window, nScanPickTolerance);
  const int ty = PlotUnitsY(window, nScanPickTolerance);
  int hit = 0;
  if (DataPlots().pDataPlot) {
    for (int k = 1; k <= DataSet().nScans && !hit; ++k)
      if (HitDataPoint(DataSet().pScanOrder[static_cast<std::size_t>(k)], xu, yu, tx, ty)) hit = k;
  }
  if (!hit && DataPlots().pResidualsPlot) {
    for (int k = 1; k <= DataSet().nScans && !hit; ++k)
      if (HitResidualPoint(DataSet().pScanOrder[static_cast<std::size_t>(k)], xu, yu, tx, ty)) hit = k;
  }
  if (hit) {
    ShowScanHoverLabel(window, hit, x, y);
  } else if (pScanHoverLabel) {
    DeleteScanHoverLabel(window);
  }
}

bool RightPressOnPlotTools(TXLAWindow& window, unsigned modKeys, const Point& point) {
  const ShellHooks& hooks = GetShellHooks();
  return hooks.rightPress && hooks.rightPress(window, modKeys, point);
}

bool MouseMoveOnPlotTools(TXLAWindow& window, const Point& point) {
  const ShellHooks& hooks = GetShellHooks();
  return hooks.mouseMove && hooks.mouseMove(window, point);
}

bool RightReleaseOnPlotTools(TXLAWindow& window, const Point& point) {
  const ShellHooks& hooks = GetShellHooks();
  return hooks.rightRelease && hooks.rightRelease(window, point);
}

bool RightDoubleClickOnPlotTools(TXLAWindow& window, unsigned modKeys, const Point& point) {
  const ShellHooks& hooks = GetShellHooks();
  return hooks.rightDoubleClick && hooks.rightDoubleClick(window, modKeys, point);
}

void CharOnPlotTools(TXLAWindow& window) {
  if (ScanEditOfferOpen()) ClickScanEditButton(window, 0);
}

void EscapeOnPlotTools(TXLAWindow& window) {
  const ShellHooks& hooks = GetShellHooks();
  if (hooks.escape) hooks.escape(window);
}

// ---------------------------------------------------------------- paint

void BeforePaintOnPlotTools(DC* screenDC) {
  const ShellHooks& hooks = GetShellHooks();
  if (hooks.beforePaint) hooks.beforePaint(screenDC);
}

const MetaFile* DistributionPanePicture() {
  const ShellHooks& hooks = GetShellHooks();
  return hooks.distributionPicture ? hooks.distributionPicture() : nullptr;
}

std::unique_ptr<MetaFile> DistributionPriorOverlay() {
  const ShellHooks& hooks = GetShellHooks();
  return hooks.distributionPriorOverlay ? hooks.distributionPriorOverlay() : nullptr;
}

void PaintOnPlotButtons(DC& dc) {
  Play(dc, pRemoveNoiseButton);
  Play(dc, pRestoreTINoiseButton);
  const ShellHooks& hooks = GetShellHooks();
  if (hooks.paintButtons) hooks.paintButtons(dc);
  PaintScanEditButtons(dc);
}

void ResetOnPlotTools() {
  pRemoveNoiseButton.reset();
  pRestoreTINoiseButton.reset();
  ResetScanEditTools();
}

}  // namespace tarmic
