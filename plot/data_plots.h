// The two plots of the main window: the data plot (upper: the measured values of
// every scan) and the residual plot (lower: signal minus model of every scan), with
// one curve per scan in the scan's colour. This module builds them from the data
// set, lays them out in the plot area, recomputes the residuals, writes the
// per-scan rms file "ScanRms.dat", and holds the preferences of the panes' refresh
// during fits (the refresh itself: plot/fit_pane_refresh.h).
#pragma once

#include "numerics/analysis.h"

#include <optional>
#include <utility>

#include <cstdint>
#include <vector>

#include "platform/metafile.h"
#include "platform/types.h"

namespace tarmic {

class CWINPlot;
class Window;

// The plots; null until data are loaded. Only RebuildDataAndResidualPlots and
// ReleaseDataAndResidualPlots delete them.
// The state of this module in an analysis (numerics/analysis.h).
struct DataPlotsState {
  CWINPlot* pDataPlot = nullptr;
  CWINPlot* pResidualsPlot = nullptr;
  int nPlotAreaLeft = 75;  // 75
  int nPlotAreaRight = 975;  // 975
  int nPlotAreaTop = 50;  // 50
  int nPlotAreaBottom = 950;  // 950
  int nDataPlotBottom = 475;  // 475: bottom of the data plot in the split layout
  int nResidualPlotTop = 550;  // 550: top of the residual plot in the split layout
  bool bShowData = true;  // the data pane is shown
  bool bShowResiduals = true;  // the residual pane is shown
  bool bShowResidualsBitmap = true;  // the residual bitmap's strip is shown above the residual plot
  bool bColorScansByTime = true;  // scan colours along a colour-temperature ramp
  bool bWriteScanRms = true;  // residual redraws write ScanRms.dat
  int nWorstScan = 0;
  std::uint32_t nLastFitRefreshTick = 0;
  bool bFitRefreshStarted = false;
  bool bUpdateDataPlotDuringFit = false;
  bool bUpdateResidualPlotDuringFit = false;
  bool bUpdateResidualBitmapDuringFit = false;
  bool bUpdateDistributionDuringFit = false;
  float fMaxUpdateInterval = 1.0f;  // seconds
  int nPaneClientHeight = 0;
};
inline DataPlotsState& DataPlots() { return CurrentPart<DataPlotsState>(); }

// The plot area in layout units (x in a width of 1000, y in picture units). The
// distribution views move the plots up to make room for their own plot.

// Scan number with the largest rms residual in the last ScanRms.dat pass; 0 when none.
// State of the refresh throttle during fits.

// Preferences of the refresh during fits, read from the preference file at
// start-up and changed by "Change Fit Updating Preferences".

// Deletes both plots and builds them anew from the data set: one curve per scan in
// display order (the third-column curves of intensity data follow in the data
// plot), scan colours, styles by kind of data, y titles. Nothing without data.
void RebuildDataAndResidualPlots();
// Deletes both plots and forgets the worst scan (the data set is released).
void ReleaseDataAndResidualPlots();
// Rescales when asked and records the data plot's picture again.
void RedrawDataPlot(bool rescale);
// Recomputes every scan's residuals (signal minus model; 0 outside the scan's fit
// limits when both limits are set), rescales when asked, writes ScanRms.dat when
// both fit limits are set, and records the residual plot's picture again. A
// rescale shows the x window of the zoomed data plot (FollowDataPlotZoom) when one
// is set, else the fitting limits (or all data).
void RedrawResidualPlot(bool rescale);
// The residual pane follows the data plot's zoom: with a window, the residuals are
// shown over that x range (y fitted to it); without one (the full range), over
// their own. Rescales and records the residual plot's picture.
void FollowDataPlotZoom(std::optional<std::pair<float, float>> xWindow);
// Signal minus model of scan s into out[1..pnPoints[s]], as RedrawResidualPlot
// computes it; the data set is not changed.
void ComputeScanResiduals(int s, float* out);
// The client rectangles (pixels) that the fit's text block may fill, top to bottom:
// the plot areas of the panes shown (data, residuals, then lowerPane, the plot of the
// pane below them when there is one), each a little inside its frame. Texts of the
// plots (tick labels, axis titles), the residual bitmap and the on-plot buttons lie
// outside them. Empty without plots.
std::vector<Rect> FitTextRegions(Size client, const CWINPlot* lowerPane);
// The client column where a readout drawn at column x while a computation runs
// starts: x, or the left edge of the first of FitTextRegions when x lies left of it,
// so that no readout covers an axis's labels or title.
int ReadoutColumn(int x, Size client);
// Client rectangles that texts drawn earlier in the same paint took from those
// regions (the realtime update's status lines): FitTextRegions starts each region
// below the ones that lie in it. The window sets them around the fit's text.
void SetTakenTextCells(std::vector<Rect> cells);
// The layouts that the "Show Data" and "Show Residuals" commands apply; each
// records the pictures of the plots it placed.
void LayoutDataPlotOnly();
void LayoutResidualPlotOnly();
void LayoutDataAndResidualPlots();
// Top of the residual plot in the split layout: below the residual bitmap's band
// when the bitmap is shown, which is never so high that the residual plot would
// leave the plot area.
int SplitLayoutResidualPlotTop();
// Height of the residual bitmap's band in the split layout, picture units: the
// bitmap's one pixel row per scan at the height of the client area the panes are
// laid out for (one unit per scan while that is not known), limited so that the
// residual plot keeps kMinResidualPlotHeight. The band lies between
// nResidualPlotTop, which is clear of the data plot's x tick labels, and the
// residual plot.
int ResidualBitmapBand();
// The band the bitmap's rows take before that limit, picture units.
int ResidualBitmapRowUnits();
// The client height (pixels) the panes are laid out for; 0 while not known.
// Sets it (the window, at every change of its size). When the bitmap's band changes
// with it, a residual plot in the split layout is placed anew below the band (its
// picture is recorded at its next Redraw). True when the height changed.
bool SetPaneClientHeight(int pixels);
inline constexpr int kMinResidualPlotHeight = 100;

// The recorded pictures, null without the plot. The residual plot's shows its
// curves only while the fit on show holds its claim (FitOfLoadedData).
const MetaFile* GetDataPlotMetafile();
const MetaFile* GetResidualPlotMetafile();

// Writes one line "name \trms" per scan in display order and sets nWorstScan. When
// the file cannot be created: info sound, "could not open ScanRms file", and no
// further attempts (bWriteScanRms = 0).
void WriteScanRmsFile();

// Colour of the scans at display position 1..nScans (black below 1).
Color ScanColor(int position);
// Colour-temperature ramp of value/max: black, blue, cyan, yellow, red.
Color FalseColor(int value, int max);

// Installs the plot operations that the scan data set calls (rebuild, redraws,
// release, the loading progress line).
void InstallDataSetPlotHooks();

// Deletes the plots and sets the globals of this module, of the plot fonts and of
// the plot class to their defaults (ResetPlotting, plot/plot_reset.h, does all).
void ResetDataPlots();

}  // namespace tarmic
