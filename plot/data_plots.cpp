// The data and residual plots of the main window.
#include "plot/data_plots.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <cstdio>
#include <memory>

#include "storage/atomic_file.h"
#include "numerics/ccurve.h"
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

namespace {

// This module's own state in the analysis.
struct LocalState {
  // The progress line of loading, shown while the loaders read files.
std::unique_ptr<CProgressLine> g_loadingProgress{};
  Window* g_loadingWindow = nullptr;
  std::vector<Rect> g_takenTextCells{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// Whether scan s has arrays of its own.
bool HasScan(int s) {
  return s >= 1 && s <= DataSet().nScans && static_cast<std::size_t>(s) < DataSet().pnPoints.size() &&
         static_cast<std::size_t>(s) < DataSet().ppSignal.size() && DataSet().ppSignal[static_cast<std::size_t>(s)];
}

int ScanAtPosition(int k) {
  if (k < 1 || static_cast<std::size_t>(k) >= DataSet().pScanOrder.size()) return 0;
  return DataSet().pScanOrder[static_cast<std::size_t>(k)];
}

// The fit-limit point indices of scan s (0 means the scan's first or last point),
// kept inside the scan.
void FitIndices(int s, int* first, int* last) {
  const std::size_t k = static_cast<std::size_t>(s);
  const int n = DataSet().pnPoints[k];
  *first = (k < DataSet().pFitFirst.size() && DataSet().pFitFirst[k] != 0) ? DataSet().pFitFirst[k] : 1;
  *last = (k < DataSet().pFitLast.size() && DataSet().pFitLast[k] != 0) ? DataSet().pFitLast[k] : n;
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
  if (ScanFile().bAbsorbanceData && !ScanFile().bFluorescenceData) {
    title = "absorbance [OD]";
    residualTitle = "residuals [OD]";
  } else if (ScanFile().bIntensityData) {
    title = residualTitle = "intensity";
  } else if (ScanFile().bFluorescenceData) {
    title = residualTitle = "fluorescence counts";
  } else if (ScanFile().bInterferenceData) {
    title = residualTitle = "fringes";
  } else if (DataSet().bDLSData) {
    const bool field = DataSet().pDLSInfo.size() > 1 && DataSet().pDLSInfo[1].bFieldACF;
    title = residualTitle =
        field ? "g(1) field autocorrelation " : "g(2)-1 intensity autocorrelation ";
  }
  if (title) {
    DataPlots().pDataPlot->SetYAxisLabel(title);
    DataPlots().pResidualsPlot->SetYAxisLabel(residualTitle);
  }
}

}  // namespace

// ---------------------------------------------------------------- layout

int ResidualBitmapRowUnits() {
  // The strip's rows are pixels: in a window lower than the picture space a scan's
  // row takes more than one picture unit.
  if (DataPlots().nPaneClientHeight <= 0) return DataSet().nScans;
  return static_cast<int>(std::ceil(static_cast<double>(DataSet().nScans) * fDisplayExtent / DataPlots().nPaneClientHeight));
}

int ResidualBitmapBand() {
  const int room = DataPlots().nPlotAreaBottom - DataPlots().nResidualPlotTop - kMinResidualPlotHeight;
  const int band = std::min(ResidualBitmapRowUnits(), room);
  return band > 0 ? band : 0;
}

int SplitLayoutResidualPlotTop() {
  return DataPlots().nResidualPlotTop + (DataPlots().bShowResidualsBitmap ? ResidualBitmapBand() : 0);
}

bool SetPaneClientHeight(int pixels) {
  pixels = std::max(pixels, 0);
  if (pixels == DataPlots().nPaneClientHeight) return false;
  const int before = SplitLayoutResidualPlotTop();
  DataPlots().nPaneClientHeight = pixels;
  const int after = SplitLayoutResidualPlotTop();
  if (DataPlots().pResidualsPlot && after != before && DataPlots().pResidualsPlot->nRectTop == before &&
      DataPlots().pResidualsPlot->nRectBottom == DataPlots().nPlotAreaBottom)
    DataPlots().pResidualsPlot->SetPlotRect(after, DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom, DataPlots().nPlotAreaRight);
  return true;
}

void SetTakenTextCells(std::vector<Rect> cells) { Local().g_takenTextCells = std::move(cells); }

namespace {

// The part of region (client pixels) over the plot whose upper third no curve of the
// plot enters: the widest run of such columns, of the region's height; nothing when
// the run is narrower than a short line (80 pixels). sx and sy scale picture units
// to client pixels.
std::optional<Rect> FreeTopColumns(const CWINPlot& plot, const Rect& region, double sx, double sy) {
  const int width = region.right - region.left;
  if (width <= 0) return std::nullopt;
  const int reserved = region.top + (region.bottom - region.top) / 3;
  std::vector<unsigned char> taken(static_cast<std::size_t>(width), 0);
  for (int c = 0; c < plot.nCurves; ++c) {
    const CCurve* curve = plot.GetCurve(c);
    if (!curve || !curve->X() || !curve->Y()) continue;
    const int n = curve->Count();
    int lastColumn = 0;
    bool lastAbove = false;
    for (int i = 0; i < n; ++i) {
      const float x = curve->X()->Get(i), y = curve->Y()->Get(i);
      if (!std::isfinite(x) || !std::isfinite(y)) continue;
      const int column = static_cast<int>(std::floor(plot.MapX(x) * sx)) - region.left;
      const bool above = plot.MapY(y) * sy < reserved;
      // A point in the upper third takes its column, and the line to its neighbour
      // the columns between them.
      if (above || lastAbove) {
        const int from = std::max(0, std::min(column, i > 0 ? lastColumn : column) - 2);
        const int to = std::min(width - 1, std::max(column, i > 0 ? lastColumn : column) + 2);
        for (int k = from; k <= to; ++k) taken[static_cast<std::size_t>(k)] = 1;
      }
      lastColumn = column;
      lastAbove = above;
    }
  }
  int bestStart = 0, bestLength = 0;
  for (int k = 0; k < width;) {
    if (taken[static_cast<std::size_t>(k)]) {
      ++k;
      continue;
    }
    int end = k;
    while (end < width && !taken[static_cast<std::size_t>(end)]) ++end;
    if (end - k > bestLength) {
      bestStart = k;
      bestLength = end - k;
    }
    k = end;
  }
  if (bestLength < 80) return std::nullopt;
  return Rect{region.left + bestStart, region.top, region.left + bestStart + bestLength, region.bottom};
}

}  // namespace

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
    for (const Rect& taken : Local().g_takenTextCells)
      if (taken.left < r.right && r.left < taken.right && taken.top < r.bottom && r.top < taken.bottom)
        r.top = std::max(r.top, taken.bottom + 2);
    if (r.right > r.left && r.bottom > r.top) regions.push_back(r);
  };
  if (DataPlots().bShowData) add(DataPlots().pDataPlot);
  if (DataPlots().bShowResiduals) add(DataPlots().pResidualsPlot);
  // The distribution's peaks reach the top of its pane: the text there takes only
  // the widest run of columns that its curves leave free in the upper third.
  const std::size_t before = regions.size();
  add(lowerPane);
  if (regions.size() > before) {
    const std::optional<Rect> free = FreeTopColumns(*lowerPane, regions.back(), sx, sy);
    if (free)
      regions.back() = *free;
    else
      regions.pop_back();
  }
  return regions;
}

int ReadoutColumn(int x, Size client) {
  const std::vector<Rect> regions = FitTextRegions(client, nullptr);
  return regions.empty() ? x : std::max(x, regions.front().left);
}

void LayoutDataPlotOnly() {
  if (!DataPlots().pDataPlot) return;
  DataPlots().pDataPlot->SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom, DataPlots().nPlotAreaRight);
  DataPlots().pDataPlot->Redraw();
}

void LayoutResidualPlotOnly() {
  if (!DataPlots().pResidualsPlot) return;
  DataPlots().pResidualsPlot->SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom, DataPlots().nPlotAreaRight);
  DataPlots().pResidualsPlot->Redraw();
}

void LayoutDataAndResidualPlots() {
  if (DataPlots().pDataPlot) {
    DataPlots().pDataPlot->SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nDataPlotBottom, DataPlots().nPlotAreaRight);
    DataPlots().pDataPlot->Redraw();
  }
  if (DataPlots().pResidualsPlot) {
    DataPlots().pResidualsPlot->SetPlotRect(SplitLayoutResidualPlotTop(), DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom,
                                DataPlots().nPlotAreaRight);
    DataPlots().pResidualsPlot->Redraw();
  }
}

// ---------------------------------------------------------------- building

namespace {

// A new pair of plots starts unzoomed: the window the residual pane follows goes
// with it.
void DeletePlots() {
  delete DataPlots().pDataPlot;
  DataPlots().pDataPlot = nullptr;
  delete DataPlots().pResidualsPlot;
  DataPlots().pResidualsPlot = nullptr;
}

}  // namespace

void ReleaseDataAndResidualPlots() {
  DeletePlots();
  // The worst scan of a released set names no scan of the next one.
  DataPlots().nWorstScan = 0;
}

void RebuildDataAndResidualPlots() {
  if (DataSet().nScans < 1 || !At(DataSet().ppDataCurve, 1)) return;
  DeletePlots();
  DataPlots().pDataPlot = new CWINPlot();
  DataPlots().pResidualsPlot = new CWINPlot();
  // Scans with points missing (a region excluded, cut on disk) show a gap there.
  DataPlots().pDataPlot->bBreakAtGaps = DataPlots().pResidualsPlot->bBreakAtGaps = 1;
  // Always the split layout, whatever panes are shown.
  DataPlots().pDataPlot->SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nDataPlotBottom, DataPlots().nPlotAreaRight);
  DataPlots().pResidualsPlot->SetPlotRect(SplitLayoutResidualPlotTop(), DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom,
                              DataPlots().nPlotAreaRight);

  // Curve k-1 of each plot shows the scan at display position k.
  std::vector<CCurve*> data, residuals;
  for (int k = 1; k <= DataSet().nScans; ++k) {
    data.push_back(At(DataSet().ppDataCurve, ScanAtPosition(k)));
    residuals.push_back(At(DataSet().ppResidualCurve, ScanAtPosition(k)));
  }
  if (ScanFile().bIntensityData)
    for (int k = 1; k <= DataSet().nScans; ++k) data.push_back(At(DataSet().ppThirdCurve, ScanAtPosition(k)));
  DataPlots().pDataPlot->AddCurves(data);
  DataPlots().pResidualsPlot->AddCurves(residuals);
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const Color color = ScanColor(k);
    DataPlots().pDataPlot->SetCurveStyle(k - 1, ScanFile().bFluorescenceData ? -1 : 6);
    DataPlots().pDataPlot->SetCurveColor(k - 1, color);
    DataPlots().pResidualsPlot->SetCurveStyle(k - 1, -1);
    DataPlots().pResidualsPlot->SetCurveColor(k - 1, color);
    if (ScanFile().bIntensityData) {
      DataPlots().pDataPlot->SetCurveStyle(DataSet().nScans + k - 1, 7);
      DataPlots().pDataPlot->SetCurveColor(DataSet().nScans + k - 1, color);
    }
  }
  if (ScanFile().bInterferenceData) {
    DataPlots().pDataPlot->nMarkSize = 0;
    if (DataSet().nScans > 50)
      for (int k = 0; k < DataSet().nScans; ++k) DataPlots().pDataPlot->SetCurveStyle(k, -1);
  } else {
    DataPlots().pDataPlot->nMarkSize = 2;
  }
  DataPlots().pDataPlot->ShowRightTickLabels();
  SetYTitles();
}

// ---------------------------------------------------------------- redraws

void RedrawDataPlot(bool rescale) {
  if (!DataPlots().pDataPlot) return;
  if (rescale) DataPlots().pDataPlot->Rescale();
  DataPlots().pDataPlot->Redraw();
}

void ComputeScanResiduals(int s, float* out) {
  if (!HasScan(s) || !out) return;
  const std::size_t k = static_cast<std::size_t>(s);
  const int n = DataSet().pnPoints[k];
  const float* signal = DataSet().ppSignal[k];
  const float* fit = At(DataSet().ppFit, s);
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
  if (DataPlots().pResidualsPlot->bFollowXWindow)
    DataPlots().pResidualsPlot->SetXRangeAutoY(DataPlots().pResidualsPlot->fFollowXMin, DataPlots().pResidualsPlot->fFollowXMax);
  else if (FitLimitMode())
    DataPlots().pResidualsPlot->SetXRangeAutoY(DataSet().fFitLeftLim, DataSet().fFitRightLim);
  else
    DataPlots().pResidualsPlot->Rescale();
}
}  // namespace

void FollowDataPlotZoom(std::optional<std::pair<float, float>> xWindow) {
  // Without a residual plot there is nothing to follow: the next pair starts unzoomed.
  if (!DataPlots().pResidualsPlot) return;
  DataPlots().pResidualsPlot->bFollowXWindow = xWindow.has_value();
  if (xWindow) {
    DataPlots().pResidualsPlot->fFollowXMin = xWindow->first;
    DataPlots().pResidualsPlot->fFollowXMax = xWindow->second;
  }
  if (DataSet().nScans == 0) return;
  RescaleResidualPlot();
  DataPlots().pResidualsPlot->Redraw();
}

void RedrawResidualPlot(bool rescale) {
  if (!DataPlots().pResidualsPlot || DataSet().nScans == 0) return;
  for (int s = 1; s <= DataSet().nScans; ++s) ComputeScanResiduals(s, At(DataSet().ppResiduals, s));
  if (FitLimitMode() && DataPlots().bWriteScanRms) WriteScanRmsFile();
  if (rescale) RescaleResidualPlot();
  DataPlots().pResidualsPlot->Redraw();
}

const MetaFile* GetDataPlotMetafile() { return DataPlots().pDataPlot ? DataPlots().pDataPlot->hPicture.get() : nullptr; }

const MetaFile* GetResidualPlotMetafile() {
  if (!DataPlots().pResidualsPlot) return nullptr;
  // Residuals exist only of a fit of the data, model and values on show: before a
  // Run, or once anything it was computed for changed, the plot shows its axes
  // without curves rather than the signal (or an earlier fit's residuals) as
  // residuals. The picture is recorded again only when that changes.
  const int hide = FitOfLoadedData() ? 0 : 1;
  if (DataPlots().pResidualsPlot->bHideCurves != hide) {
    DataPlots().pResidualsPlot->bHideCurves = hide;
    DataPlots().pResidualsPlot->Redraw();
  }
  return DataPlots().pResidualsPlot->hPicture.get();
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
    RaiseNote(text, "ERROR", MB_OK);
    DataPlots().bWriteScanRms = false;
  };
  if (!file.IsOpen()) {
    fail(WithReason("could not open ScanRms file", file.Error()));
    return;
  }
  DataPlots().nWorstScan = 0;
  float largest = 0;
  bool missing = false;  // a scan without residuals inside the fit limits
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const int s = ScanAtPosition(k);
    if (!HasScan(s)) continue;
    const float* r = At(DataSet().ppResiduals, s);
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
    const std::string& name = DataSet().ppScanFileNames[static_cast<std::size_t>(s)];
    std::fprintf(file.File(), "%s \t%s\n", name.c_str(), FormatExp6(rms).c_str());
    if (rms > largest) {
      largest = rms;
      DataPlots().nWorstScan = s;
    }
  }
  if (!file.Commit()) fail(WithReason("could not write ScanRms file", file.Error()));
}

// ---------------------------------------------------------------- colours

Color ScanColor(int position) {
  if (position < 1) return kBlack;
  if (DataPlots().bColorScansByTime) {
    const float f = DataSet().nScans > 0 ? static_cast<float>(position) / static_cast<float>(DataSet().nScans) : 1.0f;
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
    Local().g_loadingProgress.reset();
    Local().g_loadingWindow = window;
    if (!window) return;
    Local().g_loadingProgress = std::make_unique<CProgressLine>();
    Local().g_loadingProgress->Show(*window, 10, 10);
  };
  hooks.progressUpdate = [](float fraction) {
    if (Local().g_loadingProgress && Local().g_loadingWindow) Local().g_loadingProgress->Update(fraction, *Local().g_loadingWindow);
  };
  hooks.progressEnd = [] {
    if (Local().g_loadingProgress && Local().g_loadingWindow) Local().g_loadingProgress->Hide(*Local().g_loadingWindow);
    Local().g_loadingProgress.reset();
    Local().g_loadingWindow = nullptr;
  };
}

void ResetDataPlots() {
  ReleaseDataAndResidualPlots();
  nMinPlotTextHeight = 0;
  fPlotTextWidthFactor = 1.0;
  DataPlots().nPlotAreaLeft = 75;
  DataPlots().nPlotAreaRight = 975;
  DataPlots().nPlotAreaTop = 50;
  DataPlots().nPlotAreaBottom = 950;
  DataPlots().nDataPlotBottom = 475;
  DataPlots().nResidualPlotTop = 550;
  DataPlots().nPaneClientHeight = 0;
  DataPlots().bShowData = true;
  DataPlots().bShowResiduals = true;
  DataPlots().bColorScansByTime = true;
  DataPlots().bWriteScanRms = true;
  DataPlots().nWorstScan = 0;
  DataPlots().nLastFitRefreshTick = 0;
  DataPlots().bFitRefreshStarted = false;
  DataPlots().bUpdateDataPlotDuringFit = false;
  DataPlots().bUpdateResidualPlotDuringFit = false;
  DataPlots().bUpdateResidualBitmapDuringFit = false;
  DataPlots().bUpdateDistributionDuringFit = false;
  DataPlots().fMaxUpdateInterval = 1.0f;
  DataPlots().bShowResidualsBitmap = true;
  PlotScaling().bLogTickMode = 0;
  PlotRedraw().bRescaleRequested = 0;
  PlotRedraw().bDotPhase = true;
  PlotRedraw().nErrorBarCap = 15;
  CreatePlotFonts();
  Local().g_loadingProgress.reset();
  Local().g_loadingWindow = nullptr;
}

}  // namespace tarmic
