// The data and residual plots of the main window.
#include "plot/data_plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "storage/atomic_file.h"
#include "numerics/cvector.h"
#include "services/path_table.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "services/engine_notice.h"
#include "platform/system.h"
#include "plot/picture_space.h"
#include "plot/progress_line.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"

namespace tarmic {

CWINPlot* pDataPlot = nullptr;
CWINPlot* pResidualsPlot = nullptr;
int nPlotAreaLeft = 75;
int nPlotAreaRight = 975;
int nPlotAreaTop = 50;
int nPlotAreaBottom = 950;
int nDataPlotBottom = 475;
int nResidualPlotTop = 550;
int nPaneClientHeight = 0;
bool bShowData = true;
bool bShowResidualsBitmap = true;
bool bShowResiduals = true;
bool bColorScansByTime = true;
bool bWriteScanRms = true;
int nWorstScan = 0;
std::uint32_t nLastFitRefreshTick = 0;
bool bFitRefreshStarted = false;
bool bUpdateDataPlotDuringFit = false;
bool bUpdateResidualPlotDuringFit = false;
bool bUpdateResidualBitmapDuringFit = false;
bool bUpdateDistributionDuringFit = false;
float fMaxUpdateInterval = 1.0f;

namespace {

std::vector<Rect> g_takenTextCells;

// Whether scan s has arrays of its own.
bool HasScan(int s) {
  return s >= 1 && s <= nScans && static_cast<std::size_t>(s) < pnPoints.size() &&
         static_cast<std::size_t>(s) < ppSignal.size() && ppSignal[static_cast<std::size_t>(s)];
}

int ScanAtPosition(int k) {
  if (k < 1 || static_cast<std::size_t>(k) >= pScanOrder.size()) return 0;
  return pScanOrder[static_cast<std::size_t>(k)];
}

// The fit-limit point indices of scan s (0 means the scan's first or last point),
// kept inside the scan.
void FitIndices(int s, int* first, int* last) {
  const std::size_t k = static_cast<std::size_t>(s);
  const int n = pnPoints[k];
  *first = (k < pFitFirst.size() && pFitFirst[k] != 0) ? pFitFirst[k] : 1;
  *last = (k < pFitLast.size() && pFitLast[k] != 0) ? pFitLast[k] : n;
  if (*first < 1) *first = 1;
  if (*last > n) *last = n;
}

bool FitLimitMode() { return FitLeftLimitSet() && FitRightLimitSet(); }

template <typename T>
T* At(const std::vector<T*>& v, int s) {
  return static_cast<std::size_t>(s) < v.size() ? v[static_cast<std::size_t>(s)] : nullptr;
}

// floor(255 c) of a colour fraction; the allowance keeps segment ends exact.
int Component(float c) {
  const int k = static_cast<int>(std::floor(255.0f * c + 1e-4f));
  return k < 0 ? 0 : (k > 255 ? 255 : k);
}

// The colour-temperature ramp of a fraction in 0..1.
Color ColorTemperature(float f) {
  if (!(f >= 0.0f)) f = 0.0f;
  if (f > 1.0f) f = 1.0f;
  float r = 0, g = 0, b = 0;
  if (f <= 0.2f) {
    b = f / 0.2f;
  } else if (f <= 0.4f) {
    g = (f - 0.2f) / 0.2f;
    b = 1.0f;
  } else if (f <= 0.65f) {
    r = (f - 0.4f) / 0.25f;
    g = 1.0f;
    b = 1.0f - (f - 0.4f) / 0.25f;
  } else if (f <= 0.9f) {
    r = 1.0f;
    g = 1.0f - (f - 0.65f) / 0.25f;
  } else {
    r = 1.0f - (f - 0.9f) / 0.4f;
  }
  return RGB(Component(r), Component(g), Component(b));
}

int Clamp255(int c) { return c < 0 ? 0 : (c > 255 ? 255 : c); }

void SetYTitles() {
  const char* title = nullptr;
  const char* residualTitle = nullptr;
  if (bAbsorbanceData && !bFluorescenceData) {
    title = "absorbance [OD]";
    residualTitle = "residuals [OD]";
  } else if (bIntensityData) {
    title = residualTitle = "intensity";
  } else if (bFluorescenceData) {
    title = residualTitle = "fluorescence counts";
  } else if (bInterferenceData) {
    title = residualTitle = "fringes";
  } else if (bDLSData) {
    const bool field = pDLSInfo.size() > 1 && pDLSInfo[1].bFieldACF;
    title = residualTitle =
        field ? "g(1) field autocorrelation " : "g(2)-1 intensity autocorrelation ";
  }
  if (title) {
    pDataPlot->SetYAxisLabel(title);
    pResidualsPlot->SetYAxisLabel(residualTitle);
  }
}

// The progress line of loading, shown while the loaders read files.
std::unique_ptr<CProgressLine> g_loadingProgress;
Window* g_loadingWindow = nullptr;

}  // namespace

// ---------------------------------------------------------------- layout

int ResidualBitmapRowUnits() {
  // The strip's rows are pixels: in a window lower than the picture space a scan's
  // row takes more than one picture unit.
  if (nPaneClientHeight <= 0) return nScans;
  return static_cast<int>(std::ceil(static_cast<double>(nScans) * fDisplayExtent / nPaneClientHeight));
}

int ResidualBitmapBand() {
  const int room = nPlotAreaBottom - nResidualPlotTop - kMinResidualPlotHeight;
  const int band = std::min(ResidualBitmapRowUnits(), room);
  return band > 0 ? band : 0;
}

int SplitLayoutResidualPlotTop() {
  return nResidualPlotTop + (bShowResidualsBitmap ? ResidualBitmapBand() : 0);
}

bool SetPaneClientHeight(int pixels) {
  pixels = std::max(pixels, 0);
  if (pixels == nPaneClientHeight) return false;
  const int before = SplitLayoutResidualPlotTop();
  nPaneClientHeight = pixels;
  const int after = SplitLayoutResidualPlotTop();
  if (pResidualsPlot && after != before && pResidualsPlot->nRectTop == before &&
      pResidualsPlot->nRectBottom == nPlotAreaBottom)
    pResidualsPlot->SetPlotRect(after, nPlotAreaLeft, nPlotAreaBottom, nPlotAreaRight);
  return true;
}

void SetTakenTextCells(std::vector<Rect> cells) { g_takenTextCells = std::move(cells); }

std::vector<Rect> FitTextRegions(Size client, const CWINPlot* lowerPane) {
  std::vector<Rect> regions;
  if (client.cx <= 0 || client.cy <= 0) return regions;
  // The screen mapping stretches the picture space onto the client area; the
  // regions keep a few pixels from the frames and their ticks.
  const double sx = static_cast<double>(client.cx) / kPictureWidth;
  const double sy = static_cast<double>(client.cy) / kPictureHeight;
  auto add = [&](const CWINPlot* plot) {
    if (!plot || plot->nRight <= plot->nLeft || plot->nBottom <= plot->nTop) return;
    Rect r{static_cast<int>(std::ceil(plot->nLeft * sx)) + 6,
           static_cast<int>(std::ceil(plot->nTop * sy)) + 3,
           static_cast<int>(std::floor(plot->nRight * sx)) - 4,
           static_cast<int>(std::floor(plot->nBottom * sy)) - 2};
    for (const Rect& taken : g_takenTextCells)
      if (taken.left < r.right && r.left < taken.right && taken.top < r.bottom && r.top < taken.bottom)
        r.top = std::max(r.top, taken.bottom + 2);
    if (r.right > r.left && r.bottom > r.top) regions.push_back(r);
  };
  if (bShowData) add(pDataPlot);
  if (bShowResiduals) add(pResidualsPlot);
  add(lowerPane);
  return regions;
}

int ReadoutColumn(int x, Size client) {
  const std::vector<Rect> regions = FitTextRegions(client, nullptr);
  return regions.empty() ? x : std::max(x, regions.front().left);
}

void LayoutDataPlotOnly() {
  if (!pDataPlot) return;
  pDataPlot->SetPlotRect(nPlotAreaTop, nPlotAreaLeft, nPlotAreaBottom, nPlotAreaRight);
  pDataPlot->Redraw();
}

void LayoutResidualPlotOnly() {
  if (!pResidualsPlot) return;
  pResidualsPlot->SetPlotRect(nPlotAreaTop, nPlotAreaLeft, nPlotAreaBottom, nPlotAreaRight);
  pResidualsPlot->Redraw();
}

void LayoutDataAndResidualPlots() {
  if (pDataPlot) {
    pDataPlot->SetPlotRect(nPlotAreaTop, nPlotAreaLeft, nDataPlotBottom, nPlotAreaRight);
    pDataPlot->Redraw();
  }
  if (pResidualsPlot) {
    pResidualsPlot->SetPlotRect(SplitLayoutResidualPlotTop(), nPlotAreaLeft, nPlotAreaBottom,
                                nPlotAreaRight);
    pResidualsPlot->Redraw();
  }
}

// ---------------------------------------------------------------- building

namespace {

// A new pair of plots starts unzoomed: the window the residual pane follows goes
// with it.
void DeletePlots() {
  delete pDataPlot;
  pDataPlot = nullptr;
  delete pResidualsPlot;
  pResidualsPlot = nullptr;
}

}  // namespace

void ReleaseDataAndResidualPlots() {
  DeletePlots();
  // The worst scan of a released set names no scan of the next one.
  nWorstScan = 0;
}

void RebuildDataAndResidualPlots() {
  if (nScans < 1 || !At(ppDataCurve, 1)) return;
  DeletePlots();
  pDataPlot = new CWINPlot();
  pResidualsPlot = new CWINPlot();
  // Scans with points missing (a region excluded, cut on disk) show a gap there.
  pDataPlot->bBreakAtGaps = pResidualsPlot->bBreakAtGaps = 1;
  // Always the split layout, whatever panes are shown.
  pDataPlot->SetPlotRect(nPlotAreaTop, nPlotAreaLeft, nDataPlotBottom, nPlotAreaRight);
  pResidualsPlot->SetPlotRect(SplitLayoutResidualPlotTop(), nPlotAreaLeft, nPlotAreaBottom,
                              nPlotAreaRight);

  // Curve k-1 of each plot shows the scan at display position k.
  std::vector<CCurve*> data, residuals;
  for (int k = 1; k <= nScans; ++k) {
    data.push_back(At(ppDataCurve, ScanAtPosition(k)));
    residuals.push_back(At(ppResidualCurve, ScanAtPosition(k)));
  }
  if (bIntensityData)
    for (int k = 1; k <= nScans; ++k) data.push_back(At(ppThirdCurve, ScanAtPosition(k)));
  pDataPlot->AddCurves(data);
  pResidualsPlot->AddCurves(residuals);
  for (int k = 1; k <= nScans; ++k) {
    const Color color = ScanColor(k);
    pDataPlot->SetCurveStyle(k - 1, bFluorescenceData ? -1 : 6);
    pDataPlot->SetCurveColor(k - 1, color);
    pResidualsPlot->SetCurveStyle(k - 1, -1);
    pResidualsPlot->SetCurveColor(k - 1, color);
    if (bIntensityData) {
      pDataPlot->SetCurveStyle(nScans + k - 1, 7);
      pDataPlot->SetCurveColor(nScans + k - 1, color);
    }
  }
  if (bInterferenceData) {
    pDataPlot->nMarkSize = 0;
    if (nScans > 50)
      for (int k = 0; k < nScans; ++k) pDataPlot->SetCurveStyle(k, -1);
  } else {
    pDataPlot->nMarkSize = 2;
  }
  pDataPlot->ShowRightTickLabels();
  SetYTitles();
}

// ---------------------------------------------------------------- redraws

void RedrawDataPlot(bool rescale) {
  if (!pDataPlot) return;
  if (rescale) pDataPlot->Rescale();
  pDataPlot->Redraw();
}

void ComputeScanResiduals(int s, float* out) {
  if (!HasScan(s) || !out) return;
  const std::size_t k = static_cast<std::size_t>(s);
  const int n = pnPoints[k];
  const float* signal = ppSignal[k];
  const float* fit = At(ppFit, s);
  int first = 1, last = n;
  if (FitLimitMode()) FitIndices(s, &first, &last);
  for (int j = 1; j <= n; ++j) {
    // Points outside the fit limits count as 0; a scan without model values shows
    // its signal.
    out[j] = (j < first || j > last) ? 0.0f : signal[j] - (fit ? fit[j] : 0.0f);
  }
}

namespace {

// The residual plot's x range: the zoom window, else the fitting limits, else all.
void RescaleResidualPlot() {
  if (pResidualsPlot->bFollowXWindow)
    pResidualsPlot->SetXRangeAutoY(pResidualsPlot->fFollowXMin, pResidualsPlot->fFollowXMax);
  else if (FitLimitMode())
    pResidualsPlot->SetXRangeAutoY(fFitLeftLim, fFitRightLim);
  else
    pResidualsPlot->Rescale();
}
}  // namespace

void FollowDataPlotZoom(std::optional<std::pair<float, float>> xWindow) {
  // Without a residual plot there is nothing to follow: the next pair starts unzoomed.
  if (!pResidualsPlot) return;
  pResidualsPlot->bFollowXWindow = xWindow.has_value();
  if (xWindow) {
    pResidualsPlot->fFollowXMin = xWindow->first;
    pResidualsPlot->fFollowXMax = xWindow->second;
  }
  if (nScans == 0) return;
  RescaleResidualPlot();
  pResidualsPlot->Redraw();
}

void RedrawResidualPlot(bool rescale) {
  if (!pResidualsPlot || nScans == 0) return;
  for (int s = 1; s <= nScans; ++s) ComputeScanResiduals(s, At(ppResiduals, s));
  if (FitLimitMode() && bWriteScanRms) WriteScanRmsFile();
  if (rescale) RescaleResidualPlot();
  pResidualsPlot->Redraw();
}

const MetaFile* GetDataPlotMetafile() { return pDataPlot ? pDataPlot->hPicture.get() : nullptr; }

const MetaFile* GetResidualPlotMetafile() {
  if (!pResidualsPlot) return nullptr;
  // Residuals exist only of a fit of the data, model and values on show: before a
  // Run, or once anything it was computed for changed, the plot shows its axes
  // without curves rather than the signal (or an earlier fit's residuals) as
  // residuals. The picture is recorded again only when that changes.
  const int hide = FitOfLoadedData() ? 0 : 1;
  if (pResidualsPlot->bHideCurves != hide) {
    pResidualsPlot->bHideCurves = hide;
    pResidualsPlot->Redraw();
  }
  return pResidualsPlot->hPicture.get();
}

// ---------------------------------------------------------------- ScanRms.dat

void WriteScanRmsFile() {
  // The user's data directory once the program has started; the current directory
  // before the path table is built. Written at every redraw of the residuals, so
  // it is replaced whole (a reader never sees half a table) and a failure is
  // reported once: the file is then no longer written in this session.
  AtomicFile file(szScanRmsFile.empty() ? "ScanRms.dat" : szScanRmsFile);
  auto fail = [](const std::string& text) {
    PlayInfoSound();
    RaiseBox(text, "ERROR", MB_OK);
    bWriteScanRms = false;
  };
  if (!file.IsOpen()) {
    fail(WithReason("could not open ScanRms file", file.Error()));
    return;
  }
  nWorstScan = 0;
  float largest = 0;
  bool missing = false;  // a scan without residuals inside the fit limits
  for (int k = 1; k <= nScans; ++k) {
    const int s = ScanAtPosition(k);
    if (!HasScan(s)) continue;
    const float* r = At(ppResiduals, s);
    int first, last;
    FitIndices(s, &first, &last);
    float sum = 0;
    int count = 0;
    for (int j = first; r && j <= last; ++j) {
      sum += r[j] * r[j];
      ++count;
    }
    if (count == 0) {
      // No line for it; the scans after it are still listed.
      if (!missing) PlayInfoSound();
      missing = true;
      continue;
    }
    const float rms = std::sqrt(sum / static_cast<float>(count));
    const std::string& name = ppScanFileNames[static_cast<std::size_t>(s)];
    std::fprintf(file.File(), "%s \t%s\n", name.c_str(), FormatExp6(rms).c_str());
    if (rms > largest) {
      largest = rms;
      nWorstScan = s;
    }
  }
  if (!file.Commit()) fail(WithReason("could not write ScanRms file", file.Error()));
}

// ---------------------------------------------------------------- colours

Color ScanColor(int position) {
  if (position < 1) return kBlack;
  if (bColorScansByTime) {
    const float f = nScans > 0 ? static_cast<float>(position) / static_cast<float>(nScans) : 1.0f;
    return ColorTemperature(f);
  }
  // The palette of 14 colours and their darker forms repeats every 28 positions.
  const int p = (position - 1) % 28 + 1;
  const bool darker = p > 14;
  const int i = darker ? p - 14 : p;
  static constexpr int kNamed[8][3] = {{0, 0, 0},       {255, 0, 0},   {0, 255, 0},
                                       {0, 0, 255},     {200, 200, 0}, {255, 0, 255},
                                       {0, 255, 255},   {125, 125, 125}};
  int r, g, b;
  if (i <= 7) {
    r = kNamed[i][0];
    g = kNamed[i][1];
    b = kNamed[i][2];
    if (darker) {  // the named colours lose 70 in each non-zero component
      if (r) r -= 70;
      if (g) g -= 70;
      if (b) b -= 70;
    }
  } else {
    const int a = i - 7, c = i - 8;
    g = (a % 2 == 1) ? 40 * a : 255 - 30 * c;
    r = (c % 2 == 1) ? 40 * a : 255 - 30 * c;
    b = (a % 3 != 0) ? 40 * a : 255 - 30 * c;
    if (darker) {  // the computed colours lose 50 in every component
      r -= 50;
      g -= 50;
      b -= 50;
    }
  }
  // Components of the computed rule that leave 0..255 (position 14: 280; position
  // 22: -10) are held at the ends.
  return RGB(Clamp255(r), Clamp255(g), Clamp255(b));
}

Color FalseColor(int value, int max) {
  return ColorTemperature(static_cast<float>(value) / static_cast<float>(max));
}

// ---------------------------------------------------------------- hooks and reset

void InstallDataSetPlotHooks() {
  DataSetHooks& hooks = GetDataSetHooks();
  hooks.rebuildDataAndResidualPlots = RebuildDataAndResidualPlots;
  hooks.redrawDataPlot = RedrawDataPlot;
  hooks.redrawResidualPlot = RedrawResidualPlot;
  hooks.releaseDataAndResidualPlots = ReleaseDataAndResidualPlots;
  hooks.progressBegin = [](Window* window) {
    g_loadingProgress.reset();
    g_loadingWindow = window;
    if (!window) return;
    g_loadingProgress = std::make_unique<CProgressLine>();
    g_loadingProgress->Show(*window, 10, 10);
  };
  hooks.progressUpdate = [](float fraction) {
    if (g_loadingProgress && g_loadingWindow) g_loadingProgress->Update(fraction, *g_loadingWindow);
  };
  hooks.progressEnd = [] {
    if (g_loadingProgress && g_loadingWindow) g_loadingProgress->Hide(*g_loadingWindow);
    g_loadingProgress.reset();
    g_loadingWindow = nullptr;
  };
}

void ResetDataPlots() {
  ReleaseDataAndResidualPlots();
  nMinPlotTextHeight = 0;
  fPlotTextWidthFactor = 1.0;
  nPlotAreaLeft = 75;
  nPlotAreaRight = 975;
  nPlotAreaTop = 50;
  nPlotAreaBottom = 950;
  nDataPlotBottom = 475;
  nResidualPlotTop = 550;
  nPaneClientHeight = 0;
  bShowData = true;
  bShowResiduals = true;
  bColorScansByTime = true;
  bWriteScanRms = true;
  nWorstScan = 0;
  nLastFitRefreshTick = 0;
  bFitRefreshStarted = false;
  bUpdateDataPlotDuringFit = false;
  bUpdateResidualPlotDuringFit = false;
  bUpdateResidualBitmapDuringFit = false;
  bUpdateDistributionDuringFit = false;
  fMaxUpdateInterval = 1.0f;
  bShowResidualsBitmap = true;
  bLogTickMode = 0;
  bRescaleRequested = 0;
  bDotPhase = true;
  nErrorBarCap = 15;
  CreatePlotFonts();
  g_loadingProgress.reset();
  g_loadingWindow = nullptr;
}

}  // namespace tarmic
