// The distribution plot: the third pane of the main window, below the data and
// residual plots, showing the current continuous distribution over its grid (black)
// and, with both regularisations, the Tikhonov-Phillips result beside it (blue), or
// the two-dimensional c(s,ff0) result as a map or a projection. The plot's curves
// view the grid and value vectors of distribution_grid.h without owning them.
//
// While the plot exists the plot area is split in three: data rows 50 to 350,
// residuals 405 to 575, distribution nDistPlotTop to nDistPlotBottom; otherwise in
// two: data 50 to 475, residuals 550 to 950.
#pragma once

#include "numerics/analysis.h"

#include <memory>

#include "distributions/distribution_grid.h"
#include "scandata/data_set.h"
#include "platform/types.h"

namespace tarmic {

// The distribution shown has been transformed by a transform command; the next run
// clears it (a transformed distribution is not transformed a second time).
// The state of this module in an analysis (numerics/analysis.h).
class CWINPlot;

struct DistributionPlotState {
  bool bDistTransformed = false;
  bool bDistRhTransformed = false;
  CWINPlot* pDistPlot = nullptr;
  CVector* pDistXVector = nullptr;  // view of pDistS (molar-mass models) or pDistGrid
  CVector* pDistYVector = nullptr;  // view of pDistValues
  CVector* pDistY2Vector = nullptr;  // view of pDistValues2
  CCurve* pDistCurve = nullptr;  // (x, values), black
  CCurve* pDistCurve2 = nullptr;  // (x, second-regularisation values), blue
  CVector* pMapXVector = nullptr;  // c(s,ff0) map or projection
  CVector* pMapYVector = nullptr;
  CCurve* pMapCurve = nullptr;
  bool bCsff0Shown = false;  // the plot shows the c(s,ff0) result
  bool bCMTransformed = false;  // the shown c(s) was converted to c(M) by TransformToCM
  bool bMofsTableRun = false;  // the last run was of c(s) with an M(s) table
  bool bQuietRecreate = false;  // RecreateDistributionPlot shows no note
  bool bRelayoutOnClear = true;  // ClearDistribution lays the data and residual plots out
  bool bFMScalingLawSwitching = false;
  unsigned nDistPlotDataSet = 0;
  int nDistPlotModel = 0;
  bool bDistPlotClaimed = false;
  LoadedDataStamp sDistPlotClaim{};
  int nDistPlotTop = 630;  // 630
  int nDistPlotBottom = 950;  // 950
  int nMapMarkSize = 10;  // 10: symbol size of the c(s,ff0) projections
  // The plot and its curves, given back when the analysis ends.
  void ReleaseAtAnalysisEnd();
};
inline DistributionPlotState& DistributionPlot() { return CurrentPart<DistributionPlotState>(); }
// The distribution shown lies on the Stokes-radius axis; cleared by the next run.

class CWINPlot;
class CVector;
class CCurve;
class MetaFile;

// All null while no distribution is shown.

// The model command "f(M) vs M (with scaling law)" switched the model: the data and
// residual plots are not redrawn by RecreateDistributionPlot (Run and Fit clear it).
// The data set (nDataSetGeneration) that was loaded when the plot was set up: the
// distribution pane shows the plot only while that set is loaded, so a new set
// never shows the distribution of the one before.
// The model (ActiveModelIdentity) chosen when the plot was set up: the pane shows
// the distribution only under that model, never another model's result relabelled.
// A distribution computed by a run claims the data, the model and the values and
// settings it was computed for (the model's claim, ModelDataStamp, as the run
// finished): the pane shows it, and it is copied, saved and integrated, only while
// they are unchanged. A distribution restored from a file makes no such claim.
// The run's result is complete: the distribution on show takes the model's claim.
void ClaimDistributionPlot();

// Whether the distribution pane shows the plot: a distribution model (or boundary
// analysis) is chosen, the plot was made of the data set now loaded under the model
// chosen now, and a computed distribution's claim holds.
bool DistributionPaneShown();
// Lays out three panes while the distribution pane is shown, two otherwise; the data
// and residual plots are placed anew (and recorded) when the layout changed, nothing
// else is recomputed. True when it changed.
bool MatchPaneLayoutToDistribution();
// The top row of the distribution plot's rectangle: nDistPlotTop, moved down by what
// the "integrate" button above it needs beyond its nominal text height (the button
// sits between the residual plot's x tick labels and the plot).
int DistributionPlotRectTop();
// Places the plot for the present text sizes (after the window's size changed).
void RelayoutDistributionPlot();

// Frees the distribution vectors and the plot, sets the two-pane layout (relaying
// out the data and residual plots when bRelayoutOnClear is set), removes the
// integrate button and frees the prior vectors.
void ClearDistribution();
// Rescales and redraws the plot; its picture, or null without a plot.
const MetaFile* RedrawDistributionPlot();
// The prior of the regularisation over the plot, as a light-red dashed line whose
// peak touches the top of the range shown (the plot's last scaling); null without a
// plot, while no prior is used, or when the prior has no positive value.
inline constexpr Color kPriorOverlayColor = RGB(255, 100, 100);
std::unique_ptr<MetaFile> DrawPriorOverlay();
// The plot's last picture (null without a plot); for the distribution pane.
const MetaFile* GetDistributionPlotMetafile();
// Builds vectors, curves and plot for a new grid, with the three-pane layout.
void SetupDistributionPlot();
// Rebuilds the plot from the current grid and values (model switch keeping the
// grid); without a plot only sets the default grid range of the model.
void RecreateDistributionPlot();
// Converts the shown c(s) into c(M) once and plots it over M.
void TransformToCM();
// The plot of TransformToCM for values that are already densities over M: the
// curves over pDistS with the molar-mass titles; sets bCMTransformed.
void PlotDistributionOverM();
// Rebuilds the plot of the c(s,ff0) result in the chosen view.
void CreateSizeShapePlot();

// The y-axis title of the current model's distribution ("c(s)", "c(M)", ...).
const char* DistributionYTitle();

// The distribution on show, set aside while a run builds a grid and a plot of its
// own: its vectors, its plot with the curves and axes as shown, and what the plot
// shows (bCsff0Shown, bCMTransformed, the data set it belongs to). PutBack shows it
// again, in the three-pane layout with the integrate button (none while
// bDistTransformed), in place of whatever was built since: a run that ends without
// a result keeps the last one. Otherwise it is freed with this object. A run sets
// aside no kernels: they are not needed to show a result.
class SetAsideDistribution {
 public:
  SetAsideDistribution();  // takes the distribution on show: none is shown afterwards
  ~SetAsideDistribution();
  SetAsideDistribution(const SetAsideDistribution&) = delete;
  SetAsideDistribution& operator=(const SetAsideDistribution&) = delete;
  void PutBack();

 private:
  void Swap();  // exchanges the held distribution and the current one
  bool held_ = true;
  DistributionVectorSet vectors_;
  CWINPlot* plot_ = nullptr;
  CVector *xVector_ = nullptr, *yVector_ = nullptr, *y2Vector_ = nullptr;
  CCurve *curve_ = nullptr, *curve2_ = nullptr;
  CVector *mapX_ = nullptr, *mapY_ = nullptr;
  CCurve* mapCurve_ = nullptr;
  bool csff0Shown_ = false, cmTransformed_ = false;
  unsigned dataSet_ = 0;
  int model_ = 0;
  bool claimed_ = false;
  LoadedDataStamp claim_;
  int errorBarCap_ = 0;
};

// Restores every value of this file to its default (the plot is freed).
void ResetDistributionPlot();

}  // namespace tarmic
