// The distribution plot and the pane layout while it is shown.
#include "distributions/distribution_plot.h"

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

CWINPlot* pDistPlot = nullptr;
unsigned nDistPlotDataSet = 0;
int nDistPlotModel = 0;
bool bDistPlotClaimed = false;
LoadedDataStamp sDistPlotClaim;

void ClaimDistributionPlot() {
  bDistPlotClaimed = true;
  sDistPlotClaim = ModelDataStamp();
}
CVector* pDistXVector = nullptr;
CVector* pDistYVector = nullptr;
CVector* pDistY2Vector = nullptr;
CCurve* pDistCurve = nullptr;
CCurve* pDistCurve2 = nullptr;
CVector* pMapXVector = nullptr;
CVector* pMapYVector = nullptr;
CCurve* pMapCurve = nullptr;

bool bCsff0Shown = false;
bool bCMTransformed = false;
bool bMofsTableRun = false;
bool bQuietRecreate = false;
bool bRelayoutOnClear = true;
bool bDistTransformed = false;
bool bDistRhTransformed = false;
bool bFMScalingLawSwitching = false;
int nDistPlotTop = 630;
int nDistPlotBottom = 950;
int nMapMarkSize = 10;

namespace {

constexpr Color kSecondCurveColor = RGB(0, 0, 255);

template <typename T>
void DeleteAndClear(T*& p) {
  delete p;
  p = nullptr;
}

bool LightScatteringRhModel() { return bDLSRhModel || bDLSTimeCourseModel; }

// The c(s) family: the models whose distribution is over s.
bool CsFamily() {
  return bContiSModel || bCsConformationalChange || bCsFloatingVbar || bCsScalingLaw ||
         bCsWormChain || bCsBimodalFf0 || bCsBimodalFf0OneDiscrete || bCsff0Model ||
         bCsff0OneDiscrete || bCsOneDiscreteD || bCsOneDiscreteM || bBufferSedCorrection ||
         bCsMsTable || bCsInvariantD || bCsNonideal || bCsModel521;
}

bool MolarMassModel() { return !bDLSData && !IsSGridModel(); }

const char* MolarMassYTitle() {
  return bFMScalingLaw && pParamFitFlags[10] != 0 ? "f(M)" : "c(M)";
}

// A view of the one-based array v[1..n].
CVector* ViewOf(float* v, int n) {
  auto* vec = new CVector();
  if (v && n > 0) vec->AttachNR(v, static_cast<std::uint32_t>(n), 1);
  return vec;
}

// Whether the three-pane layout is set.
bool g_threePanes = false;

// The three panes while a distribution is shown, or the two without it.
void SetThreePaneLayout(bool three) {
  g_threePanes = three;
  if (three) {
    nDataPlotBottom = 350;
    nResidualPlotTop = 405;
    nPlotAreaBottom = 575;
  } else {
    nDataPlotBottom = 475;
    nResidualPlotTop = 550;
    nPlotAreaBottom = 950;
  }
  const auto& h = GetDistributionHooks().paneLayoutChanged;
  if (h) h(three);
}

void RelayoutOtherPlots(bool redraw) {
  if (!pDataPlot && !pResidualsPlot) return;
  LayoutDataAndResidualPlots();
  if (redraw) {
    RedrawResidualPlot(false);
    RedrawDataPlot(false);
  }
}

void NewPlotPlaced() {
  pDistPlot = new CWINPlot();
  pDistPlot->SetPlotRect(DistributionPlotRectTop(), nPlotAreaLeft, nDistPlotBottom, nPlotAreaRight);
}

// The distribution curve in black and, with both regularisations, the second one in
// blue.
void AddDistributionCurves() {
  pDistPlot->AddCurve(pDistCurve);
  pDistPlot->SetCurveColor(0, kBlack);
  if (GetContiRunSettings().showBoth && pDistCurve2) {
    pDistPlot->AddCurve(pDistCurve2);
    pDistPlot->SetCurveColor(1, kSecondCurveColor);
  }
}

// The map or projection of the c(s,ff0) result and, for the map, the marginal
// distribution curve.
void BuildSizeShapePart() {
  const int first = bCsff0OneDiscrete ? 2 : 1;
  const int n = nFf0Grid - first + 1;
  if (n < 1) return;
  const float* xs = pCsff0S;
  const float* ys = pCsff0Ff0;
  const char* xTitle = "sed coefficient [S]";
  const char* yTitle = "c(s,*) or ff0";
  const bool projection = bCsff0ViewSM || bCsff0ViewSRs || bCsff0ViewSD || bCsff0ViewMFf0;
  if (bCsff0ViewSM) {
    ys = pCsff0M;
    yTitle = "molar mass [Da]";
  } else if (bCsff0ViewSRs) {
    ys = pCsff0Rs;
    yTitle = "Stokes radius (nm)";
  } else if (bCsff0ViewSD) {
    ys = pCsff0D;
    yTitle = "D (cm^2/sec)";
  } else if (bCsff0ViewMFf0) {
    xs = pCsff0M;
    xTitle = "molar mass [Da]";
    yTitle = "frictional ratio";
  }
  pMapXVector = ViewOf(const_cast<float*>(xs) + first - 1, n);
  pMapYVector = ViewOf(const_cast<float*>(ys) + first - 1, n);
  pMapCurve = new CCurve(pMapXVector, pMapYVector);
  pDistPlot->AddCurve(pMapCurve);
  pDistPlot->SetMapYGrid(0, pCsff0Values, first, nFf0Grid, projection);
  if (!projection) {
    pDistPlot->SetMapYRange(fFf0Min, fFf0Max);
    pDistPlot->bColorBar = 1;
    pDistPlot->nColorBarOffset = 0;
    pDistPlot->SetCurveStyle(0, 11);
    // Cells as bars: half a row high and 1.2 half-columns wide.
    const int size1 = nFf0Values > 1
                          ? static_cast<int>(0.5 * (nDistPlotBottom - nDistPlotTop) / (nFf0Values - 1)) + 1
                          : -1;
    const int size2 = fDistGridCount > 1.0f
                          ? static_cast<int>(0.5 * 1.2 * (nPlotAreaRight - nPlotAreaLeft) /
                                             (fDistGridCount - 1.0f)) + 1
                          : -1;
    if (size1 >= 0) pDistPlot->nMarkSize = size1;
    if (size2 >= 0) pDistPlot->nMarkSizeY = size2;
    nErrorBarCap = static_cast<int>(std::floor(1.5 * pDistPlot->nMarkSize));
    if (pDistCurve) {
      pDistPlot->AddCurve(pDistCurve);
      pDistPlot->SetCurveColor(1, kBlack);
    }
    pDistPlot->SetXAxisLabel(xTitle);
    pDistPlot->SetYAxisLabel(yTitle);
    pDistPlot->SetYMinLabel(Format("ff0=%.2f", static_cast<double>(fFf0Min)).c_str());
    pDistPlot->SetYMaxLabel(Format("ff0=%.2f", static_cast<double>(fFf0Max)).c_str());
  } else {
    pDistPlot->SetCurveStyle(0, 9);
    if (nMapMarkSize >= 0) pDistPlot->nMarkSize = nMapMarkSize;
    nErrorBarCap = static_cast<int>(std::floor(1.5 * pDistPlot->nMarkSize));
    pDistPlot->SetXAxisLabel(xTitle);
    pDistPlot->SetYAxisLabel(yTitle);
  }
}

void MakeDistributionCurves(float* x) {
  pDistXVector = ViewOf(x, nDistGrid);
  if (!pDistYVector) pDistYVector = ViewOf(pDistValues, nDistGrid);
  if (!pDistY2Vector) pDistY2Vector = ViewOf(pDistValues2, nDistGrid);
  pDistCurve = new CCurve(pDistXVector, pDistYVector);
  pDistCurve2 = new CCurve(pDistXVector, pDistY2Vector);
}

void DeleteCurvesAndPlot() {
  DeleteAndClear(pDistCurve);
  DeleteAndClear(pDistCurve2);
  DeleteAndClear(pDistXVector);
  DeleteAndClear(pDistPlot);
}

// The plot with its curves and the vectors they view (not the grid vectors).
void DeletePlotObjects() {
  DeleteAndClear(pDistYVector);
  DeleteAndClear(pDistY2Vector);
  DeleteCurvesAndPlot();
  DeleteAndClear(pMapCurve);
  DeleteAndClear(pMapXVector);
  DeleteAndClear(pMapYVector);
}

void SetTitles(const char* x, const char* y) {
  pDistPlot->SetXAxisLabel(x);
  pDistPlot->SetYAxisLabel(y);
}

// Values v[2..N] from densities over s back to amplitudes, then to densities over
// M; point 1 is left alone.
void DensityOverSToDensityOverM(float* v) {
  const int n = nDistGrid;
  if (!v || n < 3) return;
  const float* s = pDistGrid;
  const float* M = pDistS;
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
  return pDistPlot && (bContiModel || bBoundaryAnalysis) && nDistPlotDataSet == nDataSetGeneration &&
         nDistPlotModel == ActiveModelIdentity() && (!bDistPlotClaimed || sDistPlotClaim == CurrentDataStamp());
}

bool MatchPaneLayoutToDistribution() {
  const bool shown = DistributionPaneShown();
  if (shown == g_threePanes) return false;
  SetThreePaneLayout(shown);
  LayoutDataAndResidualPlots();
  return true;
}

int DistributionPlotRectTop() {
  // The residual plot's x tick labels end at the same row whatever their height (its
  // plot area gives them the room); the button below them grows with its text.
  return nDistPlotTop + (PlotTextHeight(hButtonFont.height) - hButtonFont.height);
}

void RelayoutDistributionPlot() {
  if (!pDistPlot) return;
  pDistPlot->SetPlotRect(DistributionPlotRectTop(), nPlotAreaLeft, nDistPlotBottom, nPlotAreaRight);
  pDistPlot->Redraw();
}

const char* DistributionYTitle() {
  if (bDLSData) return "Scattering Intensity";
  if (bBoundaryAnalysis || bVanHoldeWeischet) return "fraction";
  if (bLsgModel || bLsgOneDiscrete) return "ls-g*(s)";
  if (MolarMassModel()) return MolarMassYTitle();
  return "c(s)";
}

void ClearDistribution() {
  FreeDistributionVectors();
  DeletePlotObjects();
  bCsff0Shown = false;
  SetThreePaneLayout(false);
  if (pDataPlot && bRelayoutOnClear) RelayoutOtherPlots(true);
  const auto& h = GetDistributionHooks().deleteIntegrateButton;
  if (h) h();
}

const MetaFile* RedrawDistributionPlot() {
  if (!pDistPlot) return nullptr;
  pDistPlot->Rescale();
  pDistPlot->Redraw();
  return pDistPlot->hPicture.get();
}

std::unique_ptr<MetaFile> DrawPriorOverlay() {
  if (!pDistPlot || (!bUsePrior && !bPriorFromDiscreteSpecies)) return nullptr;
  const int n = nDistGrid;
  if (n < 1 || !pPriorProbability || !pPriorProbabilityWork) return nullptr;
  // A prior without a positive value has no shape to show.
  if (!(*std::max_element(pPriorProbability + 1, pPriorProbability + n + 1) > 0.0)) return nullptr;
  std::vector<float> x(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) x[static_cast<std::size_t>(i)] = static_cast<float>(pPriorProbabilityWork[i]);
  // Only the prior's shape matters: its peak is put at the top of the range shown.
  return pDistPlot->DrawArraysScaledDoubleY(x.data(), pPriorProbability, n, pDistPlot->fYMax,
                                            kPriorOverlayColor, 14, 0);
}

const MetaFile* GetDistributionPlotMetafile() {
  return pDistPlot ? pDistPlot->hPicture.get() : nullptr;
}

void SetupDistributionPlot() {
  nDistPlotDataSet = nDataSetGeneration;
  nDistPlotModel = ActiveModelIdentity();
  bDistPlotClaimed = false;
  // The previous plot goes, but not the vectors of the new grid.
  if (pDistPlot) DeletePlotObjects();
  float* x = pDistGrid;
  if (MolarMassModel() || (bDLSData && bDLSDModel)) {
    x = pDistS;
  } else {
    bCMTransformed = false;
  }
  DeleteAndClear(pDistYVector);
  DeleteAndClear(pDistY2Vector);
  MakeDistributionCurves(x);
  NewPlotPlaced();

  if (!IsSizeShapeModel()) {
    AddDistributionCurves();
    bCsff0Shown = false;
  } else {
    BuildSizeShapePart();
    bCsff0Shown = true;
  }

  if (bDLSData) {
    SetTitles(bDLSDModel ? "log diffusion coefficient (cm^2/sec)" : "log hydrodynamic radius (m)",
              "Scattering Intensity");
    pDistPlot->bLogTicksX = 1;
  } else if (IsSizeShapeModel()) {
    if (!bCsff0ViewMFf0) pDistPlot->SetXAxisLabel("sed coefficient [S]");
  } else if (MolarMassModel()) {
    SetTitles("molar mass [Da]", MolarMassYTitle());
  } else if (bCvConstantD || bElectroLsgModel) {
    SetTitles("migration velocity [um/sec]", "c(s)");
  } else {
    SetTitles("sed coefficient [S]", DistributionYTitle());
  }
  pDistPlot->ToggleYFromZero();
  pDistPlot->ToggleConnectPoints();

  SetThreePaneLayout(true);
  if (pDataPlot || pResidualsPlot) {
    RelayoutOtherPlots(true);
    const auto& h = GetDistributionHooks().createIntegrateButton;
    if (h) h();
  }
}

void RecreateDistributionPlot() {
  if ((bCsff0Model || bCsff0OneDiscrete) && bCsff0Shown) return;
  if (!pDistPlot) {
    if (!CsFamily()) {
      fDistMin = 10000.0f;
      fDistMax = 500000.0f;
    } else {
      fDistMin = 0.0f;
      fDistMax = 20.0f;
    }
    StoreGridLimitsInParams();
    return;
  }
  DeleteCurvesAndPlot();
  const bool sAxis = CsFamily() || LightScatteringRhModel();
  float* x = sAxis ? pDistGrid : pDistS;
  if (x && nDistGrid >= 1) {
    fDistMin = x[1];
    fDistMax = x[nDistGrid];
    StoreGridLimitsInParams();
  }
  MakeDistributionCurves(x);
  NewPlotPlaced();
  AddDistributionCurves();
  if (CsFamily()) {
    SetTitles("sed coefficient [S]", "c(s)");
  } else if (bDLSData) {
    SetTitles(LightScatteringRhModel() ? "hydrodynamic radius (nm)"
                                       : "diffusion coefficient (10^-7 cm^2/sec)",
              "Scattering Intensity");
  } else {
    SetTitles("molar mass [Da]", MolarMassYTitle());
  }
  pDistPlot->ToggleYFromZero();
  pDistPlot->ToggleConnectPoints();
  SetThreePaneLayout(true);
  if (pDataPlot || pResidualsPlot) RelayoutOtherPlots(!bFMScalingLawSwitching);
  // The note comes with the new plot, also in the middle of a run's grid set-up.
  if (!bMofsTableRun && !bQuietRecreate)
    ShowDistributionNote("may need to recalculate before integrating distribution data");
}

void TransformToCM() {
  if (!pDistPlot || bCsff0Shown || bMofsTableRun || bCMTransformed) return;
  DensityOverSToDensityOverM(pDistValues);
  if (GetContiRunSettings().showBoth) DensityOverSToDensityOverM(pDistValues2);
  PlotDistributionOverM();
}

void PlotDistributionOverM() {
  if (!pDistPlot) return;
  DeleteCurvesAndPlot();
  MakeDistributionCurves(pDistS);
  NewPlotPlaced();
  AddDistributionCurves();
  SetTitles("molar mass [Da]", MolarMassYTitle());
  pDistPlot->ToggleYFromZero();
  pDistPlot->ToggleConnectPoints();
  SetThreePaneLayout(true);
  RelayoutOtherPlots(true);
  bCMTransformed = true;
}

void CreateSizeShapePlot() {
  if (!IsSizeShapeModel() || !pCsff0S || !pCsff0Rs || !pCsff0D || !pCsff0M || !pCsff0Values ||
      !bCsff0Shown || !pDistPlot) {
    return;
  }
  DeleteAndClear(pDistPlot);
  DeleteAndClear(pMapCurve);
  DeleteAndClear(pMapXVector);
  DeleteAndClear(pMapYVector);
  NewPlotPlaced();
  BuildSizeShapePart();
  pDistPlot->ToggleYFromZero();
  pDistPlot->ToggleConnectPoints();
}

SetAsideDistribution::SetAsideDistribution() {
  // Nothing is set aside yet: the swap takes the distribution on show.
  errorBarCap_ = nErrorBarCap;
  dataSet_ = nDistPlotDataSet;
  model_ = nDistPlotModel;
  claimed_ = bDistPlotClaimed;
  claim_ = sDistPlotClaim;
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
  swap(gDistributionVectors, vectors_);
  swap(pDistPlot, plot_);
  swap(pDistXVector, xVector_);
  swap(pDistYVector, yVector_);
  swap(pDistY2Vector, y2Vector_);
  swap(pDistCurve, curve_);
  swap(pDistCurve2, curve2_);
  swap(pMapXVector, mapX_);
  swap(pMapYVector, mapY_);
  swap(pMapCurve, mapCurve_);
  swap(bCsff0Shown, csff0Shown_);
  swap(bCMTransformed, cmTransformed_);
  swap(nDistPlotDataSet, dataSet_);
  swap(nDistPlotModel, model_);
  swap(bDistPlotClaimed, claimed_);
  swap(sDistPlotClaim, claim_);
  swap(nErrorBarCap, errorBarCap_);
}

void SetAsideDistribution::PutBack() {
  if (!held_) return;
  held_ = false;
  // What was built since goes; the other plots are laid out once, below.
  bRelayoutOnClear = false;
  ClearDistribution();
  bRelayoutOnClear = true;
  Swap();
  const bool shown = pDistPlot != nullptr;
  SetThreePaneLayout(shown);
  if (!pDataPlot && !pResidualsPlot) return;
  RelayoutOtherPlots(true);
  const auto& button = GetDistributionHooks().createIntegrateButton;
  if (shown && !bDistTransformed && button) button();
}

void ResetDistributionPlot() {
  DeletePlotObjects();
  g_threePanes = false;
  bCsff0Shown = bCMTransformed = bMofsTableRun = bQuietRecreate = false;
  bRelayoutOnClear = true;
  bFMScalingLawSwitching = false;
  bDistPlotClaimed = false;
  sDistPlotClaim = LoadedDataStamp{};
  nDistPlotTop = 630;
  nDistPlotBottom = 950;
  nMapMarkSize = 10;
}

}  // namespace tarmic
