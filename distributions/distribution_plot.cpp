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
  auto& distributionPlotPart = DistributionPlot();
  distributionPlotPart.bDistPlotClaimed = true;
  distributionPlotPart.sDistPlotClaim = ModelDataStamp();
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
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bContiSModel || modelFlagsPart.bCsConformationalChange || modelFlagsPart.bCsFloatingVbar || modelFlagsPart.bCsScalingLaw ||
         modelFlagsPart.bCsWormChain || modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsff0Model ||
         modelFlagsPart.bCsff0OneDiscrete || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bBufferSedCorrection ||
         modelFlagsPart.bCsMsTable || modelFlagsPart.bCsInvariantD || modelFlagsPart.bCsNonideal || modelFlagsPart.bCsModel521;
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
  auto& dataPlotsPart = DataPlots();
  Local().g_threePanes = three;
  if (three) {
    dataPlotsPart.nDataPlotBottom = 350;
    dataPlotsPart.nResidualPlotTop = 405;
    dataPlotsPart.nPlotAreaBottom = 575;
  } else {
    dataPlotsPart.nDataPlotBottom = 475;
    dataPlotsPart.nResidualPlotTop = 550;
    dataPlotsPart.nPlotAreaBottom = 950;
  }
  const auto& h = GetDistributionHooks().paneLayoutChanged;
  if (h) h(three);
}

void RelayoutOtherPlots(bool redraw) {
  auto& dataPlotsPart = DataPlots();
  if (!dataPlotsPart.pDataPlot && !dataPlotsPart.pResidualsPlot) return;
  LayoutDataAndResidualPlots();
  if (redraw) {
    RedrawResidualPlot(false);
    RedrawDataPlot(false);
  }
}

void NewPlotPlaced() {
  auto& dataPlotsPart = DataPlots();
  auto& distributionPlotPart = DistributionPlot();
  distributionPlotPart.pDistPlot = new CWINPlot();
  distributionPlotPart.pDistPlot->SetPlotRect(DistributionPlotRectTop(), dataPlotsPart.nPlotAreaLeft, distributionPlotPart.nDistPlotBottom, dataPlotsPart.nPlotAreaRight);
}

// The distribution curve in black and, with both regularisations, the second one in
// blue.
void AddDistributionCurves() {
  auto& distributionPlotPart = DistributionPlot();
  distributionPlotPart.pDistPlot->AddCurve(distributionPlotPart.pDistCurve);
  distributionPlotPart.pDistPlot->SetCurveColor(0, kBlack);
  if (GetContiRunSettings().showBoth && distributionPlotPart.pDistCurve2) {
    distributionPlotPart.pDistPlot->AddCurve(distributionPlotPart.pDistCurve2);
    distributionPlotPart.pDistPlot->SetCurveColor(1, kSecondCurveColor);
  }
}

// The map or projection of the c(s,ff0) result and, for the map, the marginal
// distribution curve.
void BuildSizeShapePart() {
  auto& dataPlotsPart = DataPlots();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  auto& plotRedrawPart = PlotRedraw();
  const int first = ModelFlags().bCsff0OneDiscrete ? 2 : 1;
  const int n = distributionVectorsPart.nFf0Grid - first + 1;
  if (n < 1) return;
  const float* xs = distributionVectorsPart.pCsff0S;
  const float* ys = distributionVectorsPart.pCsff0Ff0;
  const char* xTitle = "sed coefficient [S]";
  const char* yTitle = "c(s,*) or ff0";
  const bool projection = distributionModelsPart.bCsff0ViewSM || distributionModelsPart.bCsff0ViewSRs || distributionModelsPart.bCsff0ViewSD || distributionModelsPart.bCsff0ViewMFf0;
  if (distributionModelsPart.bCsff0ViewSM) {
    ys = distributionVectorsPart.pCsff0M;
    yTitle = "molar mass [Da]";
  } else if (distributionModelsPart.bCsff0ViewSRs) {
    ys = distributionVectorsPart.pCsff0Rs;
    yTitle = "Stokes radius (nm)";
  } else if (distributionModelsPart.bCsff0ViewSD) {
    ys = distributionVectorsPart.pCsff0D;
    yTitle = "D (cm^2/sec)";
  } else if (distributionModelsPart.bCsff0ViewMFf0) {
    xs = distributionVectorsPart.pCsff0M;
    xTitle = "molar mass [Da]";
    yTitle = "frictional ratio";
  }
  distributionPlotPart.pMapXVector = ViewOf(const_cast<float*>(xs) + first - 1, n);
  distributionPlotPart.pMapYVector = ViewOf(const_cast<float*>(ys) + first - 1, n);
  distributionPlotPart.pMapCurve = new CCurve(distributionPlotPart.pMapXVector, distributionPlotPart.pMapYVector);
  distributionPlotPart.pDistPlot->AddCurve(distributionPlotPart.pMapCurve);
  distributionPlotPart.pDistPlot->SetMapYGrid(0, distributionVectorsPart.pCsff0Values, first, distributionVectorsPart.nFf0Grid, projection);
  if (!projection) {
    distributionPlotPart.pDistPlot->SetMapYRange(distributionGridPart.fFf0Min, distributionGridPart.fFf0Max);
    distributionPlotPart.pDistPlot->bColorBar = 1;
    distributionPlotPart.pDistPlot->nColorBarOffset = 0;
    distributionPlotPart.pDistPlot->SetCurveStyle(0, 11);
    // Cells as bars: half a row high and 1.2 half-columns wide.
    const int size1 = distributionGridPart.nFf0Values > 1
                          ? static_cast<int>(0.5 * (distributionPlotPart.nDistPlotBottom - distributionPlotPart.nDistPlotTop) / (distributionGridPart.nFf0Values - 1)) + 1
                          : -1;
    const int size2 = distributionGridPart.fDistGridCount > 1.0f
                          ? static_cast<int>(0.5 * 1.2 * (dataPlotsPart.nPlotAreaRight - dataPlotsPart.nPlotAreaLeft) /
                                             (distributionGridPart.fDistGridCount - 1.0f)) + 1
                          : -1;
    if (size1 >= 0) distributionPlotPart.pDistPlot->nMarkSize = size1;
    if (size2 >= 0) distributionPlotPart.pDistPlot->nMarkSizeY = size2;
    plotRedrawPart.nErrorBarCap = static_cast<int>(std::floor(1.5 * distributionPlotPart.pDistPlot->nMarkSize));
    if (distributionPlotPart.pDistCurve) {
      distributionPlotPart.pDistPlot->AddCurve(distributionPlotPart.pDistCurve);
      distributionPlotPart.pDistPlot->SetCurveColor(1, kBlack);
    }
    distributionPlotPart.pDistPlot->SetXAxisLabel(xTitle);
    distributionPlotPart.pDistPlot->SetYAxisLabel(yTitle);
    distributionPlotPart.pDistPlot->SetYMinLabel(Format("ff0=%.2f", static_cast<double>(distributionGridPart.fFf0Min)).c_str());
    distributionPlotPart.pDistPlot->SetYMaxLabel(Format("ff0=%.2f", static_cast<double>(distributionGridPart.fFf0Max)).c_str());
  } else {
    distributionPlotPart.pDistPlot->SetCurveStyle(0, 9);
    if (distributionPlotPart.nMapMarkSize >= 0) distributionPlotPart.pDistPlot->nMarkSize = distributionPlotPart.nMapMarkSize;
    plotRedrawPart.nErrorBarCap = static_cast<int>(std::floor(1.5 * distributionPlotPart.pDistPlot->nMarkSize));
    distributionPlotPart.pDistPlot->SetXAxisLabel(xTitle);
    distributionPlotPart.pDistPlot->SetYAxisLabel(yTitle);
  }
}

void MakeDistributionCurves(float* x) {
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  distributionPlotPart.pDistXVector = ViewOf(x, distributionVectorsPart.nDistGrid);
  if (!distributionPlotPart.pDistYVector) distributionPlotPart.pDistYVector = ViewOf(distributionVectorsPart.pDistValues, distributionVectorsPart.nDistGrid);
  if (!distributionPlotPart.pDistY2Vector) distributionPlotPart.pDistY2Vector = ViewOf(distributionVectorsPart.pDistValues2, distributionVectorsPart.nDistGrid);
  distributionPlotPart.pDistCurve = new CCurve(distributionPlotPart.pDistXVector, distributionPlotPart.pDistYVector);
  distributionPlotPart.pDistCurve2 = new CCurve(distributionPlotPart.pDistXVector, distributionPlotPart.pDistY2Vector);
}

void DeleteCurvesAndPlot() {
  auto& distributionPlotPart = DistributionPlot();
  DeleteAndClear(distributionPlotPart.pDistCurve);
  DeleteAndClear(distributionPlotPart.pDistCurve2);
  DeleteAndClear(distributionPlotPart.pDistXVector);
  DeleteAndClear(distributionPlotPart.pDistPlot);
}

// The plot with its curves and the vectors they view (not the grid vectors).
void DeletePlotObjects() {
  auto& distributionPlotPart = DistributionPlot();
  DeleteAndClear(distributionPlotPart.pDistYVector);
  DeleteAndClear(distributionPlotPart.pDistY2Vector);
  DeleteCurvesAndPlot();
  DeleteAndClear(distributionPlotPart.pMapCurve);
  DeleteAndClear(distributionPlotPart.pMapXVector);
  DeleteAndClear(distributionPlotPart.pMapYVector);
}

void SetTitles(const char* x, const char* y) {
  auto& distributionPlotPart = DistributionPlot();
  distributionPlotPart.pDistPlot->SetXAxisLabel(x);
  distributionPlotPart.pDistPlot->SetYAxisLabel(y);
}

// Values v[2..N] from densities over s back to amplitudes, then to densities over
// M; point 1 is left alone.
void DensityOverSToDensityOverM(float* v) {
  auto& distributionVectorsPart = DistributionVectors();
  const int n = distributionVectorsPart.nDistGrid;
  if (!v || n < 3) return;
  const float* s = distributionVectorsPart.pDistGrid;
  const float* M = distributionVectorsPart.pDistS;
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
  auto& distributionPlotPart = DistributionPlot();
  auto& modelFlagsPart = ModelFlags();
  return distributionPlotPart.pDistPlot && (modelFlagsPart.bContiModel || modelFlagsPart.bBoundaryAnalysis) && distributionPlotPart.nDistPlotDataSet == DataSet().nDataSetGeneration &&
         distributionPlotPart.nDistPlotModel == ActiveModelIdentity() && (!distributionPlotPart.bDistPlotClaimed || distributionPlotPart.sDistPlotClaim == CurrentDataStamp());
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
  auto& dataPlotsPart = DataPlots();
  auto& distributionPlotPart = DistributionPlot();
  if (!distributionPlotPart.pDistPlot) return;
  distributionPlotPart.pDistPlot->SetPlotRect(DistributionPlotRectTop(), dataPlotsPart.nPlotAreaLeft, distributionPlotPart.nDistPlotBottom, dataPlotsPart.nPlotAreaRight);
  distributionPlotPart.pDistPlot->Redraw();
}

const char* DistributionYTitle() {
  auto& modelFlagsPart = ModelFlags();
  if (DataSet().bDLSData) return "Scattering Intensity";
  if (modelFlagsPart.bBoundaryAnalysis || modelFlagsPart.bVanHoldeWeischet) return "fraction";
  if (modelFlagsPart.bLsgModel || modelFlagsPart.bLsgOneDiscrete) return "ls-g*(s)";
  if (MolarMassModel()) return MolarMassYTitle();
  return "c(s)";
}

void ClearDistribution() {
  auto& distributionPlotPart = DistributionPlot();
  FreeDistributionVectors();
  DeletePlotObjects();
  distributionPlotPart.bCsff0Shown = false;
  SetThreePaneLayout(false);
  if (DataPlots().pDataPlot && distributionPlotPart.bRelayoutOnClear) RelayoutOtherPlots(true);
  const auto& h = GetDistributionHooks().deleteIntegrateButton;
  if (h) h();
}

const MetaFile* RedrawDistributionPlot() {
  auto& distributionPlotPart = DistributionPlot();
  if (!distributionPlotPart.pDistPlot) return nullptr;
  distributionPlotPart.pDistPlot->Rescale();
  distributionPlotPart.pDistPlot->Redraw();
  return distributionPlotPart.pDistPlot->hPicture.get();
}

std::unique_ptr<MetaFile> DrawPriorOverlay() {
  auto& distributionModelsPart = DistributionModels();
  auto& distributionPriorPart = DistributionPrior();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  if (!distributionPlotPart.pDistPlot || (!distributionModelsPart.bUsePrior && !distributionPriorPart.bPriorFromDiscreteSpecies)) return nullptr;
  const int n = distributionVectorsPart.nDistGrid;
  if (n < 1 || !distributionVectorsPart.pPriorProbability || !distributionVectorsPart.pPriorProbabilityWork) return nullptr;
  // A prior without a positive value has no shape to show.
  if (!(*std::max_element(distributionVectorsPart.pPriorProbability + 1, distributionVectorsPart.pPriorProbability + n + 1) > 0.0)) return nullptr;
  std::vector<float> x(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) x[static_cast<std::size_t>(i)] = static_cast<float>(distributionVectorsPart.pPriorProbabilityWork[i]);
  // Only the prior's shape matters: its peak is put at the top of the range shown.
  return distributionPlotPart.pDistPlot->DrawArraysScaledDoubleY(x.data(), distributionVectorsPart.pPriorProbability, n, distributionPlotPart.pDistPlot->fYMax,
                                            kPriorOverlayColor, 14, 0);
}

const MetaFile* GetDistributionPlotMetafile() {
  auto& distributionPlotPart = DistributionPlot();
  return distributionPlotPart.pDistPlot ? distributionPlotPart.pDistPlot->hPicture.get() : nullptr;
}

void SetupDistributionPlot() {
  auto& dataPlotsPart = DataPlots();
  auto& dataSetPart = DataSet();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  distributionPlotPart.nDistPlotDataSet = dataSetPart.nDataSetGeneration;
  distributionPlotPart.nDistPlotModel = ActiveModelIdentity();
  distributionPlotPart.bDistPlotClaimed = false;
  // The previous plot goes, but not the vectors of the new grid.
  if (distributionPlotPart.pDistPlot) DeletePlotObjects();
  float* x = distributionVectorsPart.pDistGrid;
  if (MolarMassModel() || (dataSetPart.bDLSData && modelFlagsPart.bDLSDModel)) {
    x = distributionVectorsPart.pDistS;
  } else {
    distributionPlotPart.bCMTransformed = false;
  }
  DeleteAndClear(distributionPlotPart.pDistYVector);
  DeleteAndClear(distributionPlotPart.pDistY2Vector);
  MakeDistributionCurves(x);
  NewPlotPlaced();

  if (!IsSizeShapeModel()) {
    AddDistributionCurves();
    distributionPlotPart.bCsff0Shown = false;
  } else {
    BuildSizeShapePart();
    distributionPlotPart.bCsff0Shown = true;
  }

  if (dataSetPart.bDLSData) {
    SetTitles(modelFlagsPart.bDLSDModel ? "log diffusion coefficient (cm^2/sec)" : "log hydrodynamic radius (m)",
              "Scattering Intensity");
    distributionPlotPart.pDistPlot->bLogTicksX = 1;
  } else if (IsSizeShapeModel()) {
    if (!DistributionModels().bCsff0ViewMFf0) distributionPlotPart.pDistPlot->SetXAxisLabel("sed coefficient [S]");
  } else if (MolarMassModel()) {
    SetTitles("molar mass [Da]", MolarMassYTitle());
  } else if (modelFlagsPart.bCvConstantD || modelFlagsPart.bElectroLsgModel) {
    SetTitles("migration velocity [um/sec]", "c(s)");
  } else {
    SetTitles("sed coefficient [S]", DistributionYTitle());
  }
  distributionPlotPart.pDistPlot->ToggleYFromZero();
  distributionPlotPart.pDistPlot->ToggleConnectPoints();

  SetThreePaneLayout(true);
  if (dataPlotsPart.pDataPlot || dataPlotsPart.pResidualsPlot) {
    RelayoutOtherPlots(true);
    const auto& h = GetDistributionHooks().createIntegrateButton;
    if (h) h();
  }
}

void RecreateDistributionPlot() {
  auto& dataPlotsPart = DataPlots();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  if ((modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete) && distributionPlotPart.bCsff0Shown) return;
  if (!distributionPlotPart.pDistPlot) {
    if (!CsFamily()) {
      distributionGridPart.fDistMin = 10000.0f;
      distributionGridPart.fDistMax = 500000.0f;
    } else {
      distributionGridPart.fDistMin = 0.0f;
      distributionGridPart.fDistMax = 20.0f;
    }
    StoreGridLimitsInParams();
    return;
  }
  DeleteCurvesAndPlot();
  const bool sAxis = CsFamily() || LightScatteringRhModel();
  float* x = sAxis ? distributionVectorsPart.pDistGrid : distributionVectorsPart.pDistS;
  if (x && distributionVectorsPart.nDistGrid >= 1) {
    distributionGridPart.fDistMin = x[1];
    distributionGridPart.fDistMax = x[distributionVectorsPart.nDistGrid];
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
  distributionPlotPart.pDistPlot->ToggleYFromZero();
  distributionPlotPart.pDistPlot->ToggleConnectPoints();
  SetThreePaneLayout(true);
  if (dataPlotsPart.pDataPlot || dataPlotsPart.pResidualsPlot) RelayoutOtherPlots(!distributionPlotPart.bFMScalingLawSwitching);
  // The note comes with the new plot, also in the middle of a run's grid set-up,
  // while the distribution it is about is still on show (its claim holds: a view
  // of it changed); after a change of the model or a value there is nothing to
  // integrate until the next Run, and a box then only takes the keys typed next.
  if (!distributionPlotPart.bMofsTableRun && !distributionPlotPart.bQuietRecreate && FitOfLoadedData())
    ShowDistributionNote("may need to recalculate before integrating distribution data");
}

void TransformToCM() {
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  if (!distributionPlotPart.pDistPlot || distributionPlotPart.bCsff0Shown || distributionPlotPart.bMofsTableRun || distributionPlotPart.bCMTransformed) return;
  DensityOverSToDensityOverM(distributionVectorsPart.pDistValues);
  if (GetContiRunSettings().showBoth) DensityOverSToDensityOverM(distributionVectorsPart.pDistValues2);
  PlotDistributionOverM();
}

void PlotDistributionOverM() {
  auto& distributionPlotPart = DistributionPlot();
  if (!distributionPlotPart.pDistPlot) return;
  DeleteCurvesAndPlot();
  MakeDistributionCurves(DistributionVectors().pDistS);
  NewPlotPlaced();
  AddDistributionCurves();
  SetTitles("molar mass [Da]", MolarMassYTitle());
  distributionPlotPart.pDistPlot->ToggleYFromZero();
  distributionPlotPart.pDistPlot->ToggleConnectPoints();
  SetThreePaneLayout(true);
  RelayoutOtherPlots(true);
  distributionPlotPart.bCMTransformed = true;
}

void CreateSizeShapePlot() {
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  if (!IsSizeShapeModel() || !distributionVectorsPart.pCsff0S || !distributionVectorsPart.pCsff0Rs || !distributionVectorsPart.pCsff0D || !distributionVectorsPart.pCsff0M || !distributionVectorsPart.pCsff0Values ||
      !distributionPlotPart.bCsff0Shown || !distributionPlotPart.pDistPlot) {
    return;
  }
  DeleteAndClear(distributionPlotPart.pDistPlot);
  DeleteAndClear(distributionPlotPart.pMapCurve);
  DeleteAndClear(distributionPlotPart.pMapXVector);
  DeleteAndClear(distributionPlotPart.pMapYVector);
  NewPlotPlaced();
  BuildSizeShapePart();
  distributionPlotPart.pDistPlot->ToggleYFromZero();
  distributionPlotPart.pDistPlot->ToggleConnectPoints();
}

SetAsideDistribution::SetAsideDistribution() {
  auto& distributionPlotPart = DistributionPlot();
  // Nothing is set aside yet: the swap takes the distribution on show.
  errorBarCap_ = PlotRedraw().nErrorBarCap;
  dataSet_ = distributionPlotPart.nDistPlotDataSet;
  model_ = distributionPlotPart.nDistPlotModel;
  claimed_ = distributionPlotPart.bDistPlotClaimed;
  claim_ = distributionPlotPart.sDistPlotClaim;
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
  auto& distributionPlotPart = DistributionPlot();
  using std::swap;
  swap(DistributionVectors(), vectors_);
  swap(distributionPlotPart.pDistPlot, plot_);
  swap(distributionPlotPart.pDistXVector, xVector_);
  swap(distributionPlotPart.pDistYVector, yVector_);
  swap(distributionPlotPart.pDistY2Vector, y2Vector_);
  swap(distributionPlotPart.pDistCurve, curve_);
  swap(distributionPlotPart.pDistCurve2, curve2_);
  swap(distributionPlotPart.pMapXVector, mapX_);
  swap(distributionPlotPart.pMapYVector, mapY_);
  swap(distributionPlotPart.pMapCurve, mapCurve_);
  swap(distributionPlotPart.bCsff0Shown, csff0Shown_);
  swap(distributionPlotPart.bCMTransformed, cmTransformed_);
  swap(distributionPlotPart.nDistPlotDataSet, dataSet_);
  swap(distributionPlotPart.nDistPlotModel, model_);
  swap(distributionPlotPart.bDistPlotClaimed, claimed_);
  swap(distributionPlotPart.sDistPlotClaim, claim_);
  swap(PlotRedraw().nErrorBarCap, errorBarCap_);
}

void SetAsideDistribution::PutBack() {
  auto& dataPlotsPart = DataPlots();
  auto& distributionPlotPart = DistributionPlot();
  if (!held_) return;
  held_ = false;
  // What was built since goes; the other plots are laid out once, below.
  distributionPlotPart.bRelayoutOnClear = false;
  ClearDistribution();
  distributionPlotPart.bRelayoutOnClear = true;
  Swap();
  const bool shown = distributionPlotPart.pDistPlot != nullptr;
  SetThreePaneLayout(shown);
  if (!dataPlotsPart.pDataPlot && !dataPlotsPart.pResidualsPlot) return;
  RelayoutOtherPlots(true);
  const auto& button = GetDistributionHooks().createIntegrateButton;
  if (shown && !distributionPlotPart.bDistTransformed && button) button();
}

void DistributionPlotState::ReleaseAtAnalysisEnd() { DeletePlotObjects(); }

void ResetDistributionPlot() {
  auto& distributionPlotPart = DistributionPlot();
  DeletePlotObjects();
  Local().g_threePanes = false;
  distributionPlotPart.bCsff0Shown = distributionPlotPart.bCMTransformed = distributionPlotPart.bMofsTableRun = distributionPlotPart.bQuietRecreate = false;
  distributionPlotPart.bRelayoutOnClear = true;
  distributionPlotPart.bFMScalingLawSwitching = false;
  distributionPlotPart.bDistPlotClaimed = false;
  distributionPlotPart.sDistPlotClaim = LoadedDataStamp{};
  distributionPlotPart.nDistPlotTop = 630;
  distributionPlotPart.nDistPlotBottom = 950;
  distributionPlotPart.nMapMarkSize = 10;
}

}  // namespace tarmic
