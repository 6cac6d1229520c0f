// The distribution grid of the active model and its vectors.
#include "distributions/distribution_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "distributions/ctot_tables.h"
#include "distributions/distribution_hooks.h"
#include "distributions/ms_table.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

float fDistGridCount = 100.0f;
float fDistMin = 0.0f;
float fDistMax = 0.0f;

float fFf0Min = 1.0f;
float fFf0Max = 2.0f;
int nFf0Values = 10;

bool bUseStoredGrid = false;
bool bLogGrid = false;
bool bDLSGridLinearD = false;
bool bDLSGridLogD = false;
bool bDLSGridLogRh = false;

Csff0GridKey sLastCsff0Grid;

namespace {

float* ZeroFloatVector(int n) {
  float* v = tarmic::vector(1, n);
  for (int i = 1; i <= n; ++i) v[i] = 0.0f;
  return v;
}

double* FilledDoubleVector(int n, double value) {
  double* v = dvector(1, n);
  for (int i = 1; i <= n; ++i) v[i] = value;
  return v;
}

void FreeFloat(float*& v, int n) {
  if (v) free_vector(v, 1, n);
  v = nullptr;
}

void FreeDouble(double*& v, int n) {
  if (v) free_dvector(v, 1, n);
  v = nullptr;
}

void AllocDistributionVectors(int n) {
  pDistGrid = ZeroFloatVector(n);
  pDistS = ZeroFloatVector(n);
  pDistValues = ZeroFloatVector(n);
  pDistValues2 = ZeroFloatVector(n);
  pPriorProbability = FilledDoubleVector(n, 0.01);
  pPriorProbabilityWork = FilledDoubleVector(n, 0.0);
  gDistributionVectors.distLength = n;
}

void FreeGridVectorsOnly() {
  FreeFloat(pDistGrid, gDistributionVectors.distLength);
  FreeFloat(pDistS, gDistributionVectors.distLength);
  FreeFloat(pDistValues, gDistributionVectors.distLength);
  FreeFloat(pDistValues2, gDistributionVectors.distLength);
  FreeDouble(pPriorProbability, gDistributionVectors.distLength);
  FreeDouble(pPriorProbabilityWork, gDistributionVectors.distLength);
  gDistributionVectors.distLength = 0;
}

void AllocCellVectors(int cells, int rows) {
  pCsff0S = ZeroFloatVector(cells);
  pCsff0Ff0 = ZeroFloatVector(cells);
  pCsff0M = ZeroFloatVector(cells);
  pCsff0D = ZeroFloatVector(cells);
  pCsff0Rs = ZeroFloatVector(cells);
  pCsff0Values = ZeroFloatVector(cells);
  gDistributionVectors.cellLength = cells;
  pFf0Axis = ZeroFloatVector(rows);
  pFf0AxisWork = ZeroFloatVector(rows);
  gDistributionVectors.rowLength = rows;
}

// The grid set-up's questions depend on the grid it has just built: they are asked
// between that step and the kernels (false without a window system).
bool AskYesNo(const std::string& text, const char* caption) {
  return AskDistributionQuestion(text, caption);
}

// Endpoints a, b and the points between them evenly spaced: v[1] = a, v[n] = b.
void FillEven(float* v, int n, double a, double b) {
  v[1] = static_cast<float>(a);
  if (n < 2) return;
  for (int i = 2; i < n; ++i) {
    v[i] = static_cast<float>(a + (b - a) * static_cast<double>(i - 1) / static_cast<double>(n - 1));
  }
  v[n] = static_cast<float>(b);
}

// The s grid of the s-grid models, linear or logarithmic, stored in the data
// directory.
void BuildSGrid(int n) {
  if (bLogGrid && fDistMax > 0.0f && fDistMin >= 0.0f) {
    FillLogGrid(pDistGrid, n, fDistMin > 0.0f ? fDistMin : 0.01f, fDistMax);
  } else {
    bLogGrid = false;
    FillLinearGrid(pDistGrid, n, fDistMin, fDistMax);
  }
  SaveDistributionGrid(pDistGrid, n);
}

// The stored s grid replaces the grid and its vectors; false when none is stored.
bool LoadStoredSGrid() {
  bLogGrid = false;
  pParamFitFlags[4] = 0;
  pSpeciesMassOrDFit[4] = 0;
  int n = 0;
  float* stored = LoadDistributionGrid(&n);
  if (!stored || n < 1) return false;
  FreeGridVectorsOnly();
  AllocDistributionVectors(n);
  for (int i = 1; i <= n; ++i) pDistGrid[i] = stored[i];
  free_vector(stored, 1, n);
  nDistGrid = n;
  fDistGridCount = static_cast<float>(n);
  fDistMin = pDistGrid[1];
  fDistMax = pDistGrid[n];
  StoreGridLimitsInParams();
  return true;
}

// The (s, f/f0) cells of the c(s,ff0) models.
void BuildSizeShapeCells(int n) {
  for (int j = 1; j <= nFf0Values; ++j) {
    pFf0Axis[j] = nFf0Values > 1 ? fFf0Min + static_cast<float>(j - 1) * (fFf0Max - fFf0Min) /
                                                 static_cast<float>(nFf0Values - 1)
                                 : fFf0Min;
    for (int i = 1; i <= n; ++i) {
      const int k = (j - 1) * n + i;
      pCsff0S[k] = pDistGrid[i];
      pCsff0Ff0[k] = pFf0Axis[j];
    }
  }
  const float T = fTemperatureK - 273.15f;
  for (int k = 1; k <= nFf0Grid; ++k) {
    pCsff0M[k] = CalculateMff02(pCsff0S[k], pCsff0Ff0[k]);
    pCsff0D[k] = DFromMandS(pCsff0M[k], pCsff0S[k], T);
    pCsff0Rs[k] = 1e9f * DFromRh(pCsff0D[k], T);
  }
}

// The grids of light-scattering data: pDistS ends as log10 D, pDistGrid as
// log10 Rh, with the Stokes-Einstein relation SE turning radii into D and back.
// Without a spacing chosen the grid is even in the log10 of the model's own unit
// (as the Parameters dialog sets it unless "linear in D" is ticked). False
// (the reason in *error) when the limits cannot make a grid: every spacing takes
// logarithms of radii or D values, so both limits must be positive and in
// increasing order.
bool BuildDLSGrid(int n, std::string* error) {
  if (!(fDistMin > 0.0f) || !(fDistMax > fDistMin)) {
    *error = Format("the limits of the DLS distribution must be positive, the lower below the "
                    "upper (now %g and %g)",
                    static_cast<double>(fDistMin), static_cast<double>(fDistMax));
    return false;
  }
  if (!bDLSGridLinearD && !bDLSGridLogD && !bDLSGridLogRh) {
    bDLSGridLogRh = bDLSRhModel || bDLSTimeCourseModel;
    bDLSGridLogD = !bDLSGridLogRh;
  }
  const float T = pDLSInfo.size() > 1 ? pDLSInfo[1].temperatureC : 20.0f;
  auto SE = [T](double x) { return static_cast<double>(DFromRh(static_cast<float>(x), T)); };
  auto log10SE = [&SE](double lg) { return std::log10(SE(std::pow(10.0, lg))); };
  const double lo = fDistMin, hi = fDistMax;
  enum Spacing { kNone, kLogRh, kLogD, kLinearD } spacing = kNone;
  double a = 0.0, b = 0.0;
  if (bDLSRhModel || bDLSTimeCourseModel) {
    if (bDLSGridLogRh) {
      spacing = kLogRh;
      a = std::log10(lo * 1e-9);
      b = std::log10(hi * 1e-9);
    } else if (bDLSGridLogD) {
      spacing = kLogD;
      a = std::log10(SE(lo * 1e-9));
      b = std::log10(SE(hi * 1e-9));
    } else if (bDLSGridLinearD) {
      spacing = kLinearD;
      a = SE(lo * 1e-9);
      b = SE(hi * 1e-9);
    }
  } else if (bDLSDModel) {
    if (bDLSGridLogD) {
      spacing = kLogD;
      a = std::log10(lo * 1e-7);
      b = std::log10(hi * 1e-7);
    } else if (bDLSGridLinearD) {
      spacing = kLinearD;
      a = lo * 1e-7;
      b = hi * 1e-7;
    } else if (bDLSGridLogRh) {
      spacing = kLogRh;
      a = std::log10(SE(lo * 1e-7));
      b = std::log10(SE(hi * 1e-7));
    }
  }
  switch (spacing) {
    case kNone: break;
    case kLogRh:
      FillEven(pDistGrid, n, a, b);
      for (int i = 1; i <= n; ++i) pDistS[i] = static_cast<float>(log10SE(pDistGrid[i]));
      break;
    case kLogD:
      FillEven(pDistS, n, a, b);
      for (int i = 1; i <= n; ++i) pDistGrid[i] = static_cast<float>(log10SE(pDistS[i]));
      break;
    case kLinearD:
      FillEven(pDistS, n, a, b);
      for (int i = 1; i <= n; ++i) {
        pDistS[i] = static_cast<float>(std::log10(static_cast<double>(pDistS[i])));
        pDistGrid[i] = static_cast<float>(log10SE(pDistS[i]));
      }
      break;
  }
  return true;
}

// The companion value of every s-grid point: M where a mass applies, s itself
// otherwise.
void FillSGridCompanions(int n) {
  const bool noMass = bElectroLsgModel || bCvConstantD || bZoneLsgModel || VBAR == 0.0f;
  for (int i = 1; i <= n; ++i) {
    const float s = pDistGrid[i];
    pDistS[i] = noMass ? s : CalculateM(fVRho <= 1.0f ? std::fabs(s) : s);
  }
}

// An ls-g*(s) grid whose every boundary lies beyond the right fit limit already in
// the first scan has only kernels without signal in the fitted range: it is
// clipped to the observable range sLeft..sRight (0..sRight when the left limit gives
// no lower bound), and the limits in the parameter vector follow.
void ClipLsgGrid(int n, double sLeft, double sRight) {
  const double lo = sLeft >= 0.0 && sLeft < sRight ? sLeft : 0.0;
  if (bLogGrid && lo > 0.0)
    FillLogGrid(pDistGrid, n, static_cast<float>(lo), static_cast<float>(sRight));
  else
    FillLinearGrid(pDistGrid, n, static_cast<float>(lo), static_cast<float>(sRight));
  fDistMin = pDistGrid[1];
  fDistMax = pDistGrid[n];
  StoreGridLimitsInParams();
  FillSGridCompanions(n);
  SaveDistributionGrid(pDistGrid, n);
}

// The ls-g*(s) grid against the fit limits: a boundary from the meniscus must be
// able to reach them. Asks once per data set; false when the user declines. A grid
// entirely beyond the observable range is clipped to it.
bool CheckLsgGridAgainstFitLimits(int n) {
  if (nScans < 1) return true;
  const ScanInfo& first = pScanInfo[static_cast<std::size_t>(pScanOrder[1])];
  const ScanInfo& last = pScanInfo[static_cast<std::size_t>(pScanOrder[static_cast<std::size_t>(nScans)])];
  const double omega = static_cast<double>(last.rpm) * kTwoPiOver60;
  const double w2 = omega * omega * 1e-13;
  if (!(w2 * first.time > 0.0) || !(fMeniscus > 0.0f) || !(fFitLeftLim > 0.0f) ||
      !(fFitRightLim > 0.0f)) {
    return true;
  }
  const double sLeft = std::log(fFitLeftLim / fMeniscus) / (w2 * last.time);
  const double sRight = std::log(fFitRightLim / fMeniscus) / (w2 * first.time);
  if (pDistGrid[1] <= sRight) {
    if (bFitLimitWarningAccepted) return true;
    const double reach = fMeniscus * std::exp(w2 * pDistGrid[n] * last.time);
    if (reach >= fFitLeftLim) return true;
    const std::string question = Format(
        "smax %g too low - boundary does not reach left fit limit in last scan!\nnote: fit "
        "limits correspond to s-values of %.2f-%.2f\ncontinue anyway? (maybe looking at "
        "flotation?)",
        static_cast<double>(pDistGrid[n]), sLeft, sRight);
    if (!AskYesNo(question, "ERROR")) return false;
    bFitLimitWarningAccepted = true;
    return true;
  }
  if (!bFitLimitWarningAccepted) {
    const std::string question = Format(
        "smin %g too low - boundary would be beyond right fit limit in last scan!\nnote: fit "
        "limits correspond to s-values of %.2f-%.2f\ncontinue anyway (may cause crash)?",
        static_cast<double>(pDistGrid[1]), sLeft, sRight);
    if (!AskYesNo(question, "ERROR")) return false;
    bFitLimitWarningAccepted = true;
  }
  if (!(sRight > 0.0)) return true;
  ClipLsgGrid(n, sLeft, sRight);
  return true;
}

}  // namespace

void FillLinearGrid(float* grid, int n, float lo, float hi) { FillEven(grid, n, lo, hi); }

void FillLogGrid(float* grid, int n, float lo, float hi) {
  const double a = std::log(static_cast<double>(lo));
  const double b = std::log(static_cast<double>(hi));
  grid[1] = lo;
  for (int i = 2; i <= n; ++i) {
    grid[i] = static_cast<float>(std::exp(a + (b - a) * static_cast<double>(i - 1) /
                                                  static_cast<double>(n - 1)));
  }
}

void FillMolarMassGrid(float* grid, int n, float lo, float hi) {
  // Evenly spaced in M^(2/3), then back to M; the ends are the limits exactly.
  const double exponent = 0.66666666;
  FillEven(grid, n, std::pow(static_cast<double>(lo), exponent),
           std::pow(static_cast<double>(hi), exponent));
  for (int i = 1; i <= n; ++i) grid[i] = static_cast<float>(std::pow(static_cast<double>(grid[i]), 1.5));
  grid[1] = lo;
  if (n > 1) grid[n] = hi;
}

namespace {

// The s-grid models whose kernels take each point's M, and D from it, from s by the
// frictional ratio and the buoyancy (1 - vbar rho): their s must have the sign of
// the buoyancy. The others give D otherwise (a constant or invariant D, a scaling
// law, a table) or use no D (ls-g*(s), the boundary analyses).
bool KernelsTakeMassFromS() {
  return IsSGridModel() && !bDLSData && !bLsgModel && !bLsgOneDiscrete && !bCvConstantD &&
         !bCsInvariantD && !bCsScalingLaw && !bCsMsTable && !bBoundaryAnalysis && !bElectroLsgModel &&
         !bZoneLsgModel && VBAR > 0.0f;
}

}  // namespace

std::string BuoyancySignRefusal(double lo, double hi) {
  if (!KernelsTakeMassFromS() || !std::isfinite(lo) || !std::isfinite(hi)) return std::string();
  const double vbarRho = static_cast<double>(VBAR) * fBufferDensity;
  const double buoyancy = 1.0 - vbarRho;
  const double low = std::min(lo, hi), high = std::max(lo, hi);
  const std::string solvent = Format("vbar %.4g ml/g x density %.5g g/ml = %.4g", static_cast<double>(VBAR),
                                     static_cast<double>(fBufferDensity), vbarRho);
  if (buoyancy > 0.0 && low < 0.0)
    return Format("the s grid from %g to %g S holds negative s, but with %s, below 1, nothing "
                  "floats: a negative s has no molar mass and no D by the frictional ratio.\n"
                  "A floating species needs vbar x density above 1: enter the partial specific "
                  "volume of the floating material, or a grid of positive s.",
                  low, high, solvent.c_str());
  if (buoyancy < 0.0 && high > 0.0)
    return Format("the s grid from %g to %g S holds positive s, but with %s, above 1, nothing "
                  "sediments: a positive s has no molar mass and no D by the frictional ratio.\n"
                  "A sedimenting species needs vbar x density below 1: enter its partial specific "
                  "volume, or a grid of negative s.",
                  low, high, solvent.c_str());
  if (buoyancy == 0.0 && (low != 0.0 || high != 0.0))
    return Format("with %s nothing sediments or floats: no s other than 0 has a molar mass and a D "
                  "by the frictional ratio.",
                  solvent.c_str());
  return std::string();
}

std::string ContiGridSettingsRefusal() {
  const double count = std::floor(static_cast<double>(fDistGridCount));
  if (!(count >= 1.0)) return "the distribution needs at least one grid point";
  const bool sizeShape = IsSizeShapeModel();
  if (sizeShape && nFf0Values < 1) return "the distribution needs at least one f/f0 value";
  if (!bUseStoredGrid && (!std::isfinite(fDistMin) || !std::isfinite(fDistMax))) {
    return Format("the grid limits %g and %g must be finite numbers",
                  static_cast<double>(fDistMin), static_cast<double>(fDistMax));
  }
  if (!bUseStoredGrid && count >= 2.0 && std::fabs(static_cast<double>(fDistMax) - fDistMin) < kMinGridSpan)
    return GridRangeRefusal(std::min(fDistMin, fDistMax), std::max(fDistMin, fDistMax), count);
  if (!bDLSData && !IsSGridModel() && (fDistMin < 0.0f || fDistMax < 0.0f))
    return "the molar mass limits of the distribution must not be negative";
  // The kernel array and the workspace are estimated before the old ones go: a
  // grid the machine cannot hold is refused with what it would need (an
  // over-committed allocation would otherwise be killed while it is filled).
  const double unknowns = sizeShape ? count * nFf0Values : count;
  const std::string refusal =
      unknowns > static_cast<double>(std::numeric_limits<int>::max())
          ? Format("a grid of %.0f points is more than the program can index - choose fewer grid points",
                   unknowns)
          : GridMemoryRefusal(unknowns, nScans, nGridPoints);
  return refusal;
}

bool BuildContiGridPoints(std::string* error) {
  // 3. The vectors.
  nDistGrid = static_cast<int>(std::floor(fDistGridCount));
  const int n = nDistGrid;
  const bool sizeShape = IsSizeShapeModel();
  AllocDistributionVectors(n);
  if (sizeShape) {
    nFf0Grid = nFf0Values * n;
    AllocCellVectors(nFf0Grid, nFf0Values);
  }

  // 4. and 5. The grid.
  if (!bDLSData) {
    if (!IsSGridModel()) {
      FillMolarMassGrid(pDistS, n, fDistMin, fDistMax);
    } else {
      if (!bUseStoredGrid) {
        BuildSGrid(n);
      } else if (!LoadStoredSGrid()) {
        return false;
      } else if (std::string refusal = BuoyancySignRefusal(fDistMin, fDistMax); !refusal.empty()) {
        // The stored grid's limits are known only now.
        *error = std::move(refusal);
        return false;
      }
      const int m = nDistGrid;
      // ls-g*(s): the grid against the fit limits (the planar ls-g*(v) has no such
      // relation, nor have equilibrium data, where no boundary moves).
      if (bLsgModel && !bElectroLsgModel && !bEquilibriumMode && !CheckLsgGridAgainstFitLimits(m))
        return false;
      FillSGridCompanions(m);
      if (sizeShape) BuildSizeShapeCells(m);
    }
  } else if (!BuildDLSGrid(n, error)) {
    return false;
  }
  // The prior of the new grid (the I(Rh) distribution takes it over log10 Rh, the
  // I(D) distribution over log10 D).
  const auto& prior = GetDistributionHooks().buildPriorProbability;
  if (prior) prior();
  return true;
}

bool AllocContiGridWorkspace(std::string* error) {
  // 8. Kernels and normal-equation workspace.
  const bool sizeShape = IsSizeShapeModel();
  const int unknowns = sizeShape ? nFf0Grid : nDistGrid;
  if (!AllocKernelArrays(unknowns, nScans, nGridPoints, error)) return false;
  if (!AllocNormalEquationArrays(unknowns, nScans, nGridPoints, error)) {
    FreeKernelArrays();
    return false;
  }

  // 9. The tables of the M(s)-table and nonideal models.
  if (!sizeShape) {
    if (bCsMsTable && !LoadMofsTable(error)) return false;
    // The total signal the nonideal kernels sediment in, from the data or the last fit.
    if (bCsNonideal) BuildCtotTables();
  }
  // What decides whether the c(s,ff0) kernels can be used again: the settings of
  // the grid just built (with its cell count), so that the next Run with the same
  // settings finds them equal.
  sLastCsff0Grid = Csff0GridKey{fDistGridCount, nFf0Grid, nFf0Values, fDistMin,
                                fDistMax,       fFf0Min,  fFf0Max};
  return true;
}

bool GridSetupWritesStoredGrid() {
  return IsContinuousModel() && !bDLSData && IsSGridModel() && pParamFitFlags[kContiFitGridFromFile] == 0;
}

void MakeDistributionVectors(int n) {
  FreeGridVectorsOnly();
  AllocDistributionVectors(n);
}

void StoreGridLimitsInParams() {
  pParams[kContiSlotGridMin] = pSpeciesMassOrD[1] = fDistMin;
  pParams[kContiSlotGridMax] = pSpeciesS[1] = fDistMax;
  pParams[kContiSlotGridCount] = pSpeciesAmplitude[1] = fDistGridCount;
}

void ReadGridSettingsFromParams() {
  fDistMin = pParams[kContiSlotGridMin];
  fDistMax = pParams[kContiSlotGridMax];
  fDistGridCount = pParams[kContiSlotGridCount];
  bUseStoredGrid = pParamFitFlags[kContiFitGridFromFile] != 0;
  bLogGrid = pParamFitFlags[kContiFitLogGrid] != 0;
  if (IsSizeShapeModel()) {
    fFf0Min = pParams[kContiSlotShape1];
    fFf0Max = pParams[kContiSlotShape2];
    nFf0Values = TruncateToInt(std::floor(pParams[kContiSlotShape3]));
  }
}

void FreeDistributionVectors() {
  FreeGridVectorsOnly();
  FreeFloat(pCsff0S, gDistributionVectors.cellLength);
  FreeFloat(pCsff0Ff0, gDistributionVectors.cellLength);
  FreeFloat(pCsff0M, gDistributionVectors.cellLength);
  FreeFloat(pCsff0D, gDistributionVectors.cellLength);
  FreeFloat(pCsff0Rs, gDistributionVectors.cellLength);
  FreeFloat(pCsff0Values, gDistributionVectors.cellLength);
  gDistributionVectors.cellLength = 0;
  FreeFloat(pFf0Axis, gDistributionVectors.rowLength);
  FreeFloat(pFf0AxisWork, gDistributionVectors.rowLength);
  gDistributionVectors.rowLength = 0;
}

void ResetDistributionGrid() {
  FreeDistributionVectors();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  ReleaseSpareDistributionArrays();
  // Every member of the vector set back to its initial value, one added later too.
  gDistributionVectors = kInitialDistributionVectors;
  fDistGridCount = 100.0f;
  fDistMin = fDistMax = 0.0f;
  fFf0Min = 1.0f;
  fFf0Max = 2.0f;
  nFf0Values = 10;
  bUseStoredGrid = bLogGrid = false;
  bDLSGridLinearD = bDLSGridLogD = bDLSGridLogRh = false;
  sLastCsff0Grid = Csff0GridKey{};
}

}  // namespace tarmic
