// The distribution plot and the pane layout while it is shown.
#include "distributions/distribution_plot.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "distributions/conti_run_settings.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/metafile.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set_hooks.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

void ClaimDistributionPlot() {
  DistributionPlot().bDistPlotClaimed = true;
  DistributionPlot().sDistPlotClaim = ModelDataStamp();
}

namespace {

constexpr Color kSecondCurveColor = RGB(0, 0, 255);

template <typename T>
void DeleteAndClear(T*& p) {
  delete p;
  p = nullptr;
}

bool LightScatteringRhModel() { return ModelFlags().bDLSRhModel || ModelFlags().bDLSTimeCourseModel; }

// The c(s) family: the models whose distribution is over s.
bool CsFamily() {
  return ModelFlags().bContiSModel || ModelFlags().bCsConformationalChange || ModelFlags().bCsFloatingVbar || ModelFlags().bCsScalingLaw ||
         ModelFlags().bCsWormChain || ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsff0Model ||
         ModelFlags().bCsff0OneDiscrete || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM || ModelFlags().bBufferSedCorrection ||
         ModelFlags().bCsMsTable || ModelFlags().bCsInvariantD || ModelFlags().bCsNonideal || ModelFlags().bCsModel521;
}

bool MolarMassModel() { return !DataSet().bDLSData && !IsSGridModel(); }

const char* MolarMassYTitle() {
  return ModelFlags().bFMScalingLaw && AnalysisSwitches().pParamFitFlags[10] != 0 ? "f(M)" : "c(M)";
}

// A view of the one-based array v[1..n].
CVector* ViewOf(float* v, int n) {
  auto* vec = new CVector();
  if (v && n > 0) vec->AttachNR(v, static_cast<std::uint32_t>(n), 1);
  return vec;
}

// This module's own state in the analysis.
struct LocalState {
  // Whether the three-pane layout is set.
bool g_threePanes = false;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// The three panes while a distribution is shown, or the two without it.
void SetThreePaneLayout(bool three) {
  Local().g_threePanes = three;
  if (three) {
    DataPlots().nDataPlotBottom = 350;
    DataPlots().nResidualPlotTop = 405;
    DataPlots().nPlotAreaBottom = 575;
  } else {
    DataPlots().nDataPlotBottom = 475;
    DataPlots().nResidualPlotTop = 550;
    DataPlots().nPlotAreaBottom = 950;
  }
  const auto& h = GetDistributionHooks().paneLayoutChanged;
  if (h) h(three);
}

void RelayoutOtherPlots(bool redraw) {
  if (!DataPlots().pDataPlot && !DataPlots().pResidualsPlot) return;
  LayoutDataAndResidualPlots();
  if (redraw) {
    RedrawResidualPlot(false);
    RedrawDataPlot(false);
  }
}

void NewPlotPlaced() {
  DistributionPlot().pDistPlot = new CWINPlot();
  DistributionPlot().pDistPlot->SetPlotRect(DistributionPlotRectTop(), DataPlots().nPlotAreaLeft, DistributionPlot().nDistPlotBottom, DataPlots().nPlotAreaRight);
}

// The distribution curve in black and, with both regularisations, the second one in
// blue.
void AddDistributionCurves() {
  DistributionPlot().pDistPlot->AddCurve(DistributionPlot().pDistCurve);
  DistributionPlot().pDistPlot->SetCurveColor(0, kBlack);
  if (GetContiRunSettings().showBoth && DistributionPlot().pDistCurve2) {
    DistributionPlot().pDistPlot->AddCurve(DistributionPlot().pDistCurve2);
    DistributionPlot().pDistPlot->SetCurveColor(1, kSecondCurveColor);
  }
}

// The map or projection of the c(s,ff0) result and, for the map, the marginal
// distribution curve.
void BuildSizeShapePart() {
  const int first = ModelFlags().bCsff0OneDiscrete ? 2 : 1;
  const int n = DistributionVectors().nFf0Grid - first + 1;
  if (n < 1) return;
  const float* xs = DistributionVectors().pCsff0S;
  const float* ys = DistributionVectors().pCsff0Ff0;
  const char* xTitle = "sed coefficient [S]";
  const char* yTitle = "c(s,*) or ff0";
  const bool projection = DistributionModels().bCsff0ViewSM || DistributionModels().bCsff0ViewSRs || DistributionModels().bCsff0ViewSD || DistributionModels().bCsff0ViewMFf0;
  if (DistributionModels().bCsff0ViewSM) {
    ys = DistributionVectors().pCsff0M;
    yTitle = "molar mass [Da]";
  } else if (DistributionModels().bCsff0ViewSRs) {
    ys = DistributionVectors().pCsff0Rs;
    yTitle = "Stokes radius (nm)";
  } else if (DistributionModels().bCsff0ViewSD) {
    ys = DistributionVectors().pCsff0D;
    yTitle = "D (cm^2/sec)";
  } else if (DistributionModels().bCsff0ViewMFf0) {
    xs = DistributionVectors().pCsff0M;
    xTitle = "molar mass [Da]";
    yTitle = "frictional ratio";
  }
  DistributionPlot().pMapXVector = ViewOf(const_cast<float*>(xs) + first - 1, n);
  DistributionPlot().pMapYVector = ViewOf(const_cast<float*>(ys) + first - 1, n);
  DistributionPlot().pMapCurve = new CCurve(DistributionPlot().pMapXVector, DistributionPlot().pMapYVector);
  DistributionPlot().pDistPlot->AddCurve(DistributionPlot().pMapCurve);
  DistributionPlot().pDistPlot->SetMapYGrid(0, DistributionVectors().pCsff0Values, first, DistributionVectors().nFf0Grid, projection);
  if (!projection) {
    DistributionPlot().pDistPlot->SetMapYRange(DistributionGrid().fFf0Min, DistributionGrid().fFf0Max);
    DistributionPlot().pDistPlot->bColorBar = 1;
    DistributionPlot().pDistPlot->nColorBarOffset = 0;
    DistributionPlot().pDistPlot->SetCurveStyle(0, 11);
    // Cells as bars: half a row high and 1.2 half-columns wide.
    const int size1 = DistributionGrid().nFf0Values > 1
                          ? static_cast<int>(0.5 * (DistributionPlot().nDistPlotBottom - DistributionPlot().nDistPlotTop) / (DistributionGrid().nFf0Values - 1)) + 1
                          : -1;
    const int size2 = DistributionGrid().fDistGridCount > 1.0f
                          ? static_cast<int>(0.5 * 1.2 * (DataPlots().nPlotAreaRight - DataPlots().nPlotAreaLeft) /
                                             (DistributionGrid().fDistGridCount - 1.0f)) + 1
                          : -1;
    if (size1 >= 0) DistributionPlot().pDistPlot->nMarkSize = size1;
    if (size2 >= 0) DistributionPlot().pDistPlot->nMarkSizeY = size2;
    PlotRedraw().nErrorBarCap = static_cast<int>(std::floor(1.5 * DistributionPlot().pDistPlot->nMarkSize));
    if (DistributionPlot().pDistCurve) {
      DistributionPlot().pDistPlot->AddCurve(DistributionPlot().pDistCurve);
      DistributionPlot().pDistPlot->SetCurveColor(1, kBlack);
    }
    DistributionPlot().pDistPlot->SetXAxisLabel(xTitle);
    DistributionPlot().pDistPlot->SetYAxisLabel(yTitle);
    DistributionPlot().pDistPlot->SetYMinLabel(Format("ff0=%.2f", static_cast<double>(DistributionGrid().fFf0Min)).c_str());
    DistributionPlot().pDistPlot->SetYMaxLabel(Format("ff0=%.2f", static_cast<double>(DistributionGrid().fFf0Max)).c_str());
  } else {
    DistributionPlot().pDistPlot->SetCurveStyle(0, 9);
    if (DistributionPlot().nMapMarkSize >= 0) DistributionPlot().pDistPlot->nMarkSize = DistributionPlot().nMapMarkSize;
    PlotRedraw().nErrorBarCap = static_cast<int>(std::floor(1.5 * DistributionPlot().pDistPlot->nMarkSize));
    DistributionPlot().pDistPlot->SetXAxisLabel(xTitle);
    DistributionPlot().pDistPlot->SetYAxisLabel(yTitle);
  }
}

void MakeDistributionCurves(float* x) {
  DistributionPlot().pDistXVector = ViewOf(x, DistributionVectors().nDistGrid);
  if (!DistributionPlot().pDistYVector) DistributionPlot().pDistYVector = ViewOf(DistributionVectors().pDistValues, DistributionVectors().nDistGrid);
  if (!DistributionPlot().pDistY2Vector) DistributionPlot().pDistY2Vector = ViewOf(DistributionVectors().pDistValues2, DistributionVectors().nDistGrid);
  DistributionPlot().pDistCurve = new CCurve(DistributionPlot().pDistXVector, DistributionPlot().pDistYVector);
  DistributionPlot().pDistCurve2 = new CCurve(DistributionPlot().pDistXVector, DistributionPlot().pDistY2Vector);
}

void DeleteCurvesAndPlot() {
  DeleteAndClear(DistributionPlot().pDistCurve);
  DeleteAndClear(DistributionPlot().pDistCurve2);
  DeleteAndClear(DistributionPlot().pDistXVector);
  DeleteAndClear(DistributionPlot().pDistPlot);
}

// The plot with its curves and the vectors they view (not the grid vectors).
void DeletePlotObjects() {
  DeleteAndClear(DistributionPlot().pDistYVector);
  DeleteAndClear(DistributionPlot().pDistY2Vector);
  DeleteCurvesAndPlot();
  DeleteAndClear(DistributionPlot().pMapCurve);
  DeleteAndClear(DistributionPlot().pMapXVector);
  DeleteAndClear(DistributionPlot().pMapYVector);
}

void SetTitles(const char* x, const char* y) {
  DistributionPlot().pDistPlot->SetXAxisLabel(x);
  DistributionPlot().pDistPlot->SetYAxisLabel(y);
}

// Values v[2..N] from densities over s back to amplitudes, then to densities over
// M; point 1 is left alone.
void DensityOverSToDensityOverM(float* v) {
  const int n = DistributionVectors().nDistGrid;
  if (!v || n < 3) return;
  const float* s = DistributionVectors().pDistGrid;
  const float* M = DistributionVectors().pDistS;
  auto sWidth = [s, n](int i) {
    if (i == 2) return std::fabs(s[3] - s[2]) / 2.0f;
    if (i == n) return std::fabs(s[n] - s[n - 1]) / 2.0f;
    return std::fabs(s[i + 1] - s[i - 1]) / 2.0f;
  };
  auto mWidth = [M, n](int i) {
    if (i == 2) return (M[3] - M[2]) / 2.0f;
    if (i == n) return (M[n] - M[n - 1]) / 2.0f;
    return (M[i + 1] - M[i - 1]) / 2.0f;
  };
  for (int i = 2; i <= n; ++i) {
    const float w = mWidth(i);
    const float a = v[i] * sWidth(i);
    v[i] = w != 0.0f ? a / w : a;
  }
}

}  // namespace

bool DistributionPaneShown() {
  return DistributionPlot().pDistPlot && (ModelFlags().bContiModel || ModelFlags().bBoundaryAnalysis) && DistributionPlot().nDistPlotDataSet == DataSet().nDataSetGeneration &&
         DistributionPlot().nDistPlotModel == ActiveModelIdentity() && (!DistributionPlot().bDistPlotClaimed || DistributionPlot().sDistPlotClaim == CurrentDataStamp());
}

bool MatchPaneLayoutToDistribution() {
  const bool shown = DistributionPaneShown();
  if (shown == Local().g_threePanes) return false;
  SetThreePaneLayout(shown);
  LayoutDataAndResidualPlots();
  return true;
}

int DistributionPlotRectTop() {
  // The residual plot's x tick labels end at the same row whatever their height (its
  // plot area gives them the room); the button below them grows with its text.
  return DistributionPlot().nDistPlotTop + (PlotTextHeight(hButtonFont.height) - hButtonFont.height);
}

void RelayoutDistributionPlot() {
  if (!DistributionPlot().pDistPlot) return;
  DistributionPlot().pDistPlot->SetPlotRect(DistributionPlotRectTop(), DataPlots().nPlotAreaLeft, DistributionPlot().nDistPlotBottom, DataPlots().nPlotAreaRight);
  DistributionPlot().pDistPlot->Redraw();
}

const char* DistributionYTitle() {
  if (DataSet().bDLSData) return "Scattering Intensity";
  if (ModelFlags().bBoundaryAnalysis || ModelFlags().bVanHoldeWeischet) return "fraction";
  if (ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete) return "ls-g*(s)";
  if (MolarMassModel()) return MolarMassYTitle();
  return "c(s)";
}

void ClearDistribution() {
  FreeDistributionVectors();
  DeletePlotObjects();
  DistributionPlot().bCsff0Shown = false;
  SetThreePaneLayout(false);
  if (DataPlots().pDataPlot && DistributionPlot().bRelayoutOnClear) RelayoutOtherPlots(true);
  const auto& h = GetDistributionHooks().deleteIntegrateButton;
  if (h) h();
}

const MetaFile* RedrawDistributionPlot() {
  if (!DistributionPlot().pDistPlot) return nullptr;
  DistributionPlot().pDistPlot->Rescale();
  DistributionPlot().pDistPlot->Redraw();
  return DistributionPlot().pDistPlot->hPicture.get();
}

std::unique_ptr<MetaFile> DrawPriorOverlay() {
  if (!DistributionPlot().pDistPlot || (!DistributionModels().bUsePrior && !DistributionPrior().bPriorFromDiscreteSpecies)) return nullptr;
  const int n = DistributionVectors().nDistGrid;
  if (n < 1 || !DistributionVectors().pPriorProbability || !DistributionVectors().pPriorProbabilityWork) return nullptr;
  // A prior without a positive value has no shape to show.
  if (!(*std::max_element(DistributionVectors().pPriorProbability + 1, DistributionVectors().pPriorProbability + n + 1) > 0.0)) return nullptr;
  std::vector<float> x(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) x[static_cast<std::size_t>(i)] = static_cast<float>(DistributionVectors().pPriorProbabilityWork[i]);
  // Only the prior's shape matters: its peak is put at the top of the range shown.
  return DistributionPlot().pDistPlot->DrawArraysScaledDoubleY(x.data(), DistributionVectors().pPriorProbability, n, DistributionPlot().pDistPlot->fYMax,
                                            kPriorOverlayColor, 14, 0);
}

const MetaFile* GetDistributionPlotMetafile() {
  return DistributionPlot().pDistPlot ? DistributionPlot().pDistPlot->hPicture.get() : nullptr;
}

void SetupDistributionPlot() {
  DistributionPlot().nDistPlotDataSet = DataSet().nDataSetGeneration;
  DistributionPlot().nDistPlotModel = ActiveModelIdentity();
  DistributionPlot().bDistPlotClaimed = false;
  // The previous plot goes, but not the vectors of the new grid.
  if (DistributionPlot().pDistPlot) DeletePlotObjects();
  float* x = DistributionVectors().pDistGrid;
  if (MolarMassModel() || (DataSet().bDLSData && ModelFlags().bDLSDModel)) {
    x = DistributionVectors().pDistS;
  } else {
    DistributionPlot().bCMTransformed = false;
  }
  DeleteAndClear(DistributionPlot().pDistYVector);
  DeleteAndClear(DistributionPlot().pDistY2Vector);
  MakeDistributionCurves(x);
  NewPlotPlaced();

  if (!IsSizeShapeModel()) {
    AddDistributionCurves();
    DistributionPlot().bCsff0Shown = false;
  } else {
    BuildSizeShapePart();
    DistributionPlot().bCsff0Shown = true;
  }

  if (DataSet().bDLSData) {
    SetTitles(ModelFlags().bDLSDModel ? "log diffusion coefficient (cm^2/sec)" : "log hydrodynamic radius (m)",
              "Scattering Intensity");
    DistributionPlot().pDistPlot->bLogTicksX = 1;
  } else if (IsSizeShapeModel()) {
    if (!DistributionModels().bCsff0ViewMFf0) DistributionPlot().pDistPlot->SetXAxisLabel("sed coefficient [S]");
  } else if (MolarMassModel()) {
    SetTitles("molar mass [Da]", MolarMassYTitle());
  } else if (ModelFlags().bCvConstantD || ModelFlags().bElectroLsgModel) {
    SetTitles("migration velocity [um/sec]", "c(s)");
  } else {
    SetTitles("sed coefficient [S]", DistributionYTitle());
  }
  DistributionPlot().pDistPlot->ToggleYFromZero();
  DistributionPlot().pDistPlot->ToggleConnectPoints();

  SetThreePaneLayout(true);
  if (DataPlots().pDataPlot || DataPlots().pResidualsPlot) {
    RelayoutOtherPlots(true);
    const auto& h = GetDistributionHooks().createIntegrateButton;
    if (h) h();
  }
}

void RecreateDistributionPlot() {
  if ((ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete) && DistributionPlot().bCsff0Shown) return;
  if (!DistributionPlot().pDistPlot) {
    if (!CsFamily()) {
      DistributionGrid().fDistMin = 10000.0f;
      DistributionGrid().fDistMax = 500000.0f;
    } else {
      DistributionGrid().fDistMin = 0.0f;
      DistributionGrid().fDistMax = 20.0f;
    }
    StoreGridLimitsInParams();
    return;
  }
  DeleteCurvesAndPlot();
  const bool sAxis = CsFamily() || LightScatteringRhModel();
  float* x = sAxis ? DistributionVectors().pDistGrid : DistributionVectors().pDistS;
  if (x && DistributionVectors().nDistGrid >= 1) {
    DistributionGrid().fDistMin = x[1];
    DistributionGrid().fDistMax = x[DistributionVectors().nDistGrid];
    StoreGridLimitsInParams();
  }
  MakeDistributionCurves(x);
  NewPlotPlaced();
  AddDistributionCurves();
  if (CsFamily()) {
    SetTitles("sed coefficient [S]", "c(s)");
  } else if (DataSet().bDLSData) {
    SetTitles(LightScatteringRhModel() ? "hydrodynamic radius (nm)"
                                       : "diffusion coefficient (10^-7 cm^2/sec)",
              "Scattering Intensity");
  } else {
    SetTitles("molar mass [Da]", MolarMassYTitle());
  }
  DistributionPlot().pDistPlot->ToggleYFromZero();
  DistributionPlot().pDistPlot->ToggleConnectPoints();
  SetThreePaneLayout(true);
  if (DataPlots().pDataPlot || DataPlots().pResidualsPlot) RelayoutOtherPlots(!DistributionPlot().bFMScalingLawSwitching);
  // The note comes with the new plot, also in the middle of a run's grid set-up.
  if (!DistributionPlot().bMofsTableRun && !DistributionPlot().bQuietRecreate)
    ShowDistributionNote("may need to recalculate before integrating distribution data");
}

void TransformToCM() {
  if (!DistributionPlot().pDistPlot || DistributionPlot().bCsff0Shown || DistributionPlot().bMofsTableRun || DistributionPlot().bCMTransformed) return;
  DensityOverSToDensityOverM(DistributionVectors().pDistValues);
  if (GetContiRunSettings().showBoth) DensityOverSToDensityOverM(DistributionVectors().pDistValues2);
  PlotDistributionOverM();
}

void PlotDistributionOverM() {
  if (!DistributionPlot().pDistPlot) return;
  DeleteCurvesAndPlot();
  MakeDistributionCurves(DistributionVectors().pDistS);
  NewPlotPlaced();
  AddDistributionCurves();
  SetTitles("molar mass [Da]", MolarMassYTitle());
  DistributionPlot().pDistPlot->ToggleYFromZero();
  DistributionPlot().pDistPlot->ToggleConnectPoints();
  SetThreePaneLayout(true);
  RelayoutOtherPlots(true);
  DistributionPlot().bCMTransformed = true;
}

void CreateSizeShapePlot() {
  if (!IsSizeShapeModel() || !DistributionVectors().pCsff0S || !DistributionVectors().pCsff0Rs || !DistributionVectors().pCsff0D || !DistributionVectors().pCsff0M || !DistributionVectors().pCsff0Values ||
      !DistributionPlot().bCsff0Shown || !DistributionPlot().pDistPlot) {
    return;
  }
  DeleteAndClear(DistributionPlot().pDistPlot);
  DeleteAndClear(DistributionPlot().pMapCurve);
  DeleteAndClear(DistributionPlot().pMapXVector);
  DeleteAndClear(DistributionPlot().pMapYVector);
  NewPlotPlaced();
  BuildSizeShapePart();
  DistributionPlot().pDistPlot->ToggleYFromZero();
  DistributionPlot().pDistPlot->ToggleConnectPoints();
}

SetAsideDistribution::SetAsideDistribution() {
  // Nothing is set aside yet: the swap takes the distribution on show.
  errorBarCap_ = PlotRedraw().nErrorBarCap;
  dataSet_ = DistributionPlot().nDistPlotDataSet;
  model_ = DistributionPlot().nDistPlotModel;
  claimed_ = DistributionPlot().bDistPlotClaimed;
  claim_ = DistributionPlot().sDistPlotClaim;
  Swap();
}

SetAsideDistribution::~SetAsideDistribution() {
  if (!held_) return;
  Swap();
  DeletePlotObjects();
  FreeDistributionVectors();
  Swap();
}

void SetAsideDistribution::Swap() {
  using std::swap;
  swap(DistributionVectors(), vectors_);
  swap(DistributionPlot().pDistPlot, plot_);
  swap(DistributionPlot().pDistXVector, xVector_);
  swap(DistributionPlot().pDistYVector, yVector_);
  swap(DistributionPlot().pDistY2Vector, y2Vector_);
  swap(DistributionPlot().pDistCurve, curve_);
  swap(DistributionPlot().pDistCurve2, curve2_);
  swap(DistributionPlot().pMapXVector, mapX_);
  swap(DistributionPlot().pMapYVector, mapY_);
  swap(DistributionPlot().pMapCurve, mapCurve_);
  swap(DistributionPlot().bCsff0Shown, csff0Shown_);
  swap(DistributionPlot().bCMTransformed, cmTransformed_);
  swap(DistributionPlot().nDistPlotDataSet, dataSet_);
  swap(DistributionPlot().nDistPlotModel, model_);
  swap(DistributionPlot().bDistPlotClaimed, claimed_);
  swap(DistributionPlot().sDistPlotClaim, claim_);
  swap(PlotRedraw().nErrorBarCap, errorBarCap_);
}

void SetAsideDistribution::PutBack() {
  if (!held_) return;
  held_ = false;
  // What was built since goes; the other plots are laid out once, below.
  DistributionPlot().bRelayoutOnClear = false;
  ClearDistribution();
  DistributionPlot().bRelayoutOnClear = true;
  Swap();
  const bool shown = DistributionPlot().pDistPlot != nullptr;
  SetThreePaneLayout(shown);
  if (!DataPlots().pDataPlot && !DataPlots().pResidualsPlot) return;
  RelayoutOtherPlots(true);
  const auto& button = GetDistributionHooks().createIntegrateButton;
  if (shown && !DistributionPlot().bDistTransformed && button) button();
}

void ResetDistributionPlot() {
  DeletePlotObjects();
  Local().g_threePanes = false;
  DistributionPlot().bCsff0Shown = DistributionPlot().bCMTransformed = DistributionPlot().bMofsTableRun = DistributionPlot().bQuietRecreate = false;
  DistributionPlot().bRelayoutOnClear = true;
  DistributionPlot().bFMScalingLawSwitching = false;
  DistributionPlot().bDistPlotClaimed = false;
  DistributionPlot().sDistPlotClaim = LoadedDataStamp{};
  DistributionPlot().nDistPlotTop = 630;
  DistributionPlot().nDistPlotBottom = 950;
  DistributionPlot().nMapMarkSize = 10;
}

}  // namespace tarmic
