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
  DistributionVectors().pDistGrid = ZeroFloatVector(n);
  DistributionVectors().pDistS = ZeroFloatVector(n);
  DistributionVectors().pDistValues = ZeroFloatVector(n);
  DistributionVectors().pDistValues2 = ZeroFloatVector(n);
  DistributionVectors().pPriorProbability = FilledDoubleVector(n, 0.01);
  DistributionVectors().pPriorProbabilityWork = FilledDoubleVector(n, 0.0);
  DistributionVectors().distLength = n;
}

void FreeGridVectorsOnly() {
  FreeFloat(DistributionVectors().pDistGrid, DistributionVectors().distLength);
  FreeFloat(DistributionVectors().pDistS, DistributionVectors().distLength);
  FreeFloat(DistributionVectors().pDistValues, DistributionVectors().distLength);
  FreeFloat(DistributionVectors().pDistValues2, DistributionVectors().distLength);
  FreeDouble(DistributionVectors().pPriorProbability, DistributionVectors().distLength);
  FreeDouble(DistributionVectors().pPriorProbabilityWork, DistributionVectors().distLength);
  DistributionVectors().distLength = 0;
}

void AllocCellVectors(int cells, int rows) {
  DistributionVectors().pCsff0S = ZeroFloatVector(cells);
  DistributionVectors().pCsff0Ff0 = ZeroFloatVector(cells);
  DistributionVectors().pCsff0M = ZeroFloatVector(cells);
  DistributionVectors().pCsff0D = ZeroFloatVector(cells);
  DistributionVectors().pCsff0Rs = ZeroFloatVector(cells);
  DistributionVectors().pCsff0Values = ZeroFloatVector(cells);
  DistributionVectors().cellLength = cells;
  DistributionVectors().pFf0Axis = ZeroFloatVector(rows);
  DistributionVectors().pFf0AxisWork = ZeroFloatVector(rows);
  DistributionVectors().rowLength = rows;
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
  if (DistributionGrid().bLogGrid && DistributionGrid().fDistMax > 0.0f && DistributionGrid().fDistMin >= 0.0f) {
    FillLogGrid(DistributionVectors().pDistGrid, n, DistributionGrid().fDistMin > 0.0f ? DistributionGrid().fDistMin : 0.01f, DistributionGrid().fDistMax);
  } else {
    DistributionGrid().bLogGrid = false;
    FillLinearGrid(DistributionVectors().pDistGrid, n, DistributionGrid().fDistMin, DistributionGrid().fDistMax);
  }
  SaveDistributionGrid(DistributionVectors().pDistGrid, n);
}

// The stored s grid replaces the grid and its vectors; false when none is stored.
bool LoadStoredSGrid() {
  DistributionGrid().bLogGrid = false;
  AnalysisSwitches().pParamFitFlags[4] = 0;
  ModelParams().pSpeciesMassOrDFit[4] = 0;
  int n = 0;
  float* stored = LoadDistributionGrid(&n);
  if (!stored || n < 1) return false;
  FreeGridVectorsOnly();
  AllocDistributionVectors(n);
  for (int i = 1; i <= n; ++i) DistributionVectors().pDistGrid[i] = stored[i];
  free_vector(stored, 1, n);
  DistributionVectors().nDistGrid = n;
  DistributionGrid().fDistGridCount = static_cast<float>(n);
  DistributionGrid().fDistMin = DistributionVectors().pDistGrid[1];
  DistributionGrid().fDistMax = DistributionVectors().pDistGrid[n];
  StoreGridLimitsInParams();
  return true;
}

// The (s, f/f0) cells of the c(s,ff0) models.
void BuildSizeShapeCells(int n) {
  for (int j = 1; j <= DistributionGrid().nFf0Values; ++j) {
    DistributionVectors().pFf0Axis[j] = DistributionGrid().nFf0Values > 1 ? DistributionGrid().fFf0Min + static_cast<float>(j - 1) * (DistributionGrid().fFf0Max - DistributionGrid().fFf0Min) /
                                                 static_cast<float>(DistributionGrid().nFf0Values - 1)
                                 : DistributionGrid().fFf0Min;
    for (int i = 1; i <= n; ++i) {
      const int k = (j - 1) * n + i;
      DistributionVectors().pCsff0S[k] = DistributionVectors().pDistGrid[i];
      DistributionVectors().pCsff0Ff0[k] = DistributionVectors().pFf0Axis[j];
    }
  }
  const float T = DataSet().fTemperatureK - 273.15f;
  for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) {
    DistributionVectors().pCsff0M[k] = CalculateMff02(DistributionVectors().pCsff0S[k], DistributionVectors().pCsff0Ff0[k]);
    DistributionVectors().pCsff0D[k] = DFromMandS(DistributionVectors().pCsff0M[k], DistributionVectors().pCsff0S[k], T);
    DistributionVectors().pCsff0Rs[k] = 1e9f * DFromRh(DistributionVectors().pCsff0D[k], T);
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
  if (!(DistributionGrid().fDistMin > 0.0f) || !(DistributionGrid().fDistMax > DistributionGrid().fDistMin)) {
    *error = Format("the limits of the DLS distribution must be positive, the lower below the "
                    "upper (now %g and %g)",
                    static_cast<double>(DistributionGrid().fDistMin), static_cast<double>(DistributionGrid().fDistMax));
    return false;
  }
  if (!DistributionGrid().bDLSGridLinearD && !DistributionGrid().bDLSGridLogD && !DistributionGrid().bDLSGridLogRh) {
    DistributionGrid().bDLSGridLogRh = ModelFlags().bDLSRhModel || ModelFlags().bDLSTimeCourseModel;
    DistributionGrid().bDLSGridLogD = !DistributionGrid().bDLSGridLogRh;
  }
  const float T = DataSet().pDLSInfo.size() > 1 ? DataSet().pDLSInfo[1].temperatureC : 20.0f;
  auto SE = [T](double x) { return static_cast<double>(DFromRh(static_cast<float>(x), T)); };
  auto log10SE = [&SE](double lg) { return std::log10(SE(std::pow(10.0, lg))); };
  const double lo = DistributionGrid().fDistMin, hi = DistributionGrid().fDistMax;
  enum Spacing { kNone, kLogRh, kLogD, kLinearD } spacing = kNone;
  double a = 0.0, b = 0.0;
  if (ModelFlags().bDLSRhModel || ModelFlags().bDLSTimeCourseModel) {
    if (DistributionGrid().bDLSGridLogRh) {
      spacing = kLogRh;
      a = std::log10(lo * 1e-9);
      b = std::log10(hi * 1e-9);
    } else if (DistributionGrid().bDLSGridLogD) {
      spacing = kLogD;
      a = std::log10(SE(lo * 1e-9));
      b = std::log10(SE(hi * 1e-9));
    } else if (DistributionGrid().bDLSGridLinearD) {
      spacing = kLinearD;
      a = SE(lo * 1e-9);
      b = SE(hi * 1e-9);
    }
  } else if (ModelFlags().bDLSDModel) {
    if (DistributionGrid().bDLSGridLogD) {
      spacing = kLogD;
      a = std::log10(lo * 1e-7);
      b = std::log10(hi * 1e-7);
    } else if (DistributionGrid().bDLSGridLinearD) {
      spacing = kLinearD;
      a = lo * 1e-7;
      b = hi * 1e-7;
    } else if (DistributionGrid().bDLSGridLogRh) {
      spacing = kLogRh;
      a = std::log10(SE(lo * 1e-7));
      b = std::log10(SE(hi * 1e-7));
    }
  }
  switch (spacing) {
    case kNone: break;
    case kLogRh:
      FillEven(DistributionVectors().pDistGrid, n, a, b);
      for (int i = 1; i <= n; ++i) DistributionVectors().pDistS[i] = static_cast<float>(log10SE(DistributionVectors().pDistGrid[i]));
      break;
    case kLogD:
      FillEven(DistributionVectors().pDistS, n, a, b);
      for (int i = 1; i <= n; ++i) DistributionVectors().pDistGrid[i] = static_cast<float>(log10SE(DistributionVectors().pDistS[i]));
      break;
    case kLinearD:
      FillEven(DistributionVectors().pDistS, n, a, b);
      for (int i = 1; i <= n; ++i) {
        DistributionVectors().pDistS[i] = static_cast<float>(std::log10(static_cast<double>(DistributionVectors().pDistS[i])));
        DistributionVectors().pDistGrid[i] = static_cast<float>(log10SE(DistributionVectors().pDistS[i]));
      }
      break;
  }
  return true;
}

// The companion value of every s-grid point: M where a mass applies, s itself
// otherwise.
void FillSGridCompanions(int n) {
  const bool noMass = ModelFlags().bElectroLsgModel || ModelFlags().bCvConstantD || ModelFlags().bZoneLsgModel || SolventConstants().VBAR == 0.0f;
  for (int i = 1; i <= n; ++i) {
    const float s = DistributionVectors().pDistGrid[i];
    DistributionVectors().pDistS[i] = noMass ? s : CalculateM(SolventConstants().fVRho <= 1.0f ? std::fabs(s) : s);
  }
}

// An ls-g*(s) grid whose every boundary lies beyond the right fit limit already in
// the first scan has only kernels without signal in the fitted range: it is
// clipped to the observable range sLeft..sRight (0..sRight when the left limit gives
// no lower bound), and the limits in the parameter vector follow.
void ClipLsgGrid(int n, double sLeft, double sRight) {
  const double lo = sLeft >= 0.0 && sLeft < sRight ? sLeft : 0.0;
  if (DistributionGrid().bLogGrid && lo > 0.0)
    FillLogGrid(DistributionVectors().pDistGrid, n, static_cast<float>(lo), static_cast<float>(sRight));
  else
    FillLinearGrid(DistributionVectors().pDistGrid, n, static_cast<float>(lo), static_cast<float>(sRight));
  DistributionGrid().fDistMin = DistributionVectors().pDistGrid[1];
  DistributionGrid().fDistMax = DistributionVectors().pDistGrid[n];
  StoreGridLimitsInParams();
  FillSGridCompanions(n);
  SaveDistributionGrid(DistributionVectors().pDistGrid, n);
}

// The ls-g*(s) grid against the fit limits: a boundary from the meniscus must be
// able to reach them. Asks once per data set; false when the user declines. A grid
// entirely beyond the observable range is clipped to it.
bool CheckLsgGridAgainstFitLimits(int n) {
  if (DataSet().nScans < 1) return true;
  const ScanInfo& first = DataSet().pScanInfo[static_cast<std::size_t>(DataSet().pScanOrder[1])];
  const ScanInfo& last = DataSet().pScanInfo[static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(DataSet().nScans)])];
  const double omega = static_cast<double>(last.rpm) * kTwoPiOver60;
  const double w2 = omega * omega * 1e-13;
  if (!(w2 * first.time > 0.0) || !(DataSet().fMeniscus > 0.0f) || !(DataSet().fFitLeftLim > 0.0f) ||
      !(DataSet().fFitRightLim > 0.0f)) {
    return true;
  }
  const double sLeft = std::log(DataSet().fFitLeftLim / DataSet().fMeniscus) / (w2 * last.time);
  const double sRight = std::log(DataSet().fFitRightLim / DataSet().fMeniscus) / (w2 * first.time);
  if (DistributionVectors().pDistGrid[1] <= sRight) {
    if (DataSet().bFitLimitWarningAccepted) return true;
    const double reach = DataSet().fMeniscus * std::exp(w2 * DistributionVectors().pDistGrid[n] * last.time);
    if (reach >= DataSet().fFitLeftLim) return true;
    const std::string question = Format(
        "smax %g too low - boundary does not reach left fit limit in last scan!\nnote: fit "
        "limits correspond to s-values of %.2f-%.2f\ncontinue anyway? (maybe looking at "
        "flotation?)",
        static_cast<double>(DistributionVectors().pDistGrid[n]), sLeft, sRight);
    if (!AskYesNo(question, "ERROR")) return false;
    DataSet().bFitLimitWarningAccepted = true;
    return true;
  }
  if (!DataSet().bFitLimitWarningAccepted) {
    const std::string question = Format(
        "smin %g too low - boundary would be beyond right fit limit in last scan!\nnote: fit "
        "limits correspond to s-values of %.2f-%.2f\ncontinue anyway (may cause crash)?",
        static_cast<double>(DistributionVectors().pDistGrid[1]), sLeft, sRight);
    if (!AskYesNo(question, "ERROR")) return false;
    DataSet().bFitLimitWarningAccepted = true;
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
  return IsSGridModel() && !DataSet().bDLSData && !ModelFlags().bLsgModel && !ModelFlags().bLsgOneDiscrete && !ModelFlags().bCvConstantD &&
         !ModelFlags().bCsInvariantD && !ModelFlags().bCsScalingLaw && !ModelFlags().bCsMsTable && !ModelFlags().bBoundaryAnalysis && !ModelFlags().bElectroLsgModel &&
         !ModelFlags().bZoneLsgModel && SolventConstants().VBAR > 0.0f;
}

}  // namespace

std::string BuoyancySignRefusal(double lo, double hi) {
  if (!KernelsTakeMassFromS() || !std::isfinite(lo) || !std::isfinite(hi)) return std::string();
  const double vbarRho = static_cast<double>(SolventConstants().VBAR) * SolventConstants().fBufferDensity;
  const double buoyancy = 1.0 - vbarRho;
  const double low = std::min(lo, hi), high = std::max(lo, hi);
  const std::string solvent = Format("vbar %.4g ml/g x density %.5g g/ml = %.4g", static_cast<double>(SolventConstants().VBAR),
                                     static_cast<double>(SolventConstants().fBufferDensity), vbarRho);
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
  const double count = std::floor(static_cast<double>(DistributionGrid().fDistGridCount));
  if (!(count >= 1.0)) return "the distribution needs at least one grid point";
  const bool sizeShape = IsSizeShapeModel();
  if (sizeShape && DistributionGrid().nFf0Values < 1) return "the distribution needs at least one f/f0 value";
  if (!DistributionGrid().bUseStoredGrid && (!std::isfinite(DistributionGrid().fDistMin) || !std::isfinite(DistributionGrid().fDistMax))) {
    return Format("the grid limits %g and %g must be finite numbers",
                  static_cast<double>(DistributionGrid().fDistMin), static_cast<double>(DistributionGrid().fDistMax));
  }
  if (!DistributionGrid().bUseStoredGrid && count >= 2.0 && std::fabs(static_cast<double>(DistributionGrid().fDistMax) - DistributionGrid().fDistMin) < kMinGridSpan)
    return GridRangeRefusal(std::min(DistributionGrid().fDistMin, DistributionGrid().fDistMax), std::max(DistributionGrid().fDistMin, DistributionGrid().fDistMax), count);
  if (!DataSet().bDLSData && !IsSGridModel() && (DistributionGrid().fDistMin < 0.0f || DistributionGrid().fDistMax < 0.0f))
    return "the molar mass limits of the distribution must not be negative";
  // The kernel array and the workspace are estimated before the old ones go: a
  // grid the machine cannot hold is refused with what it would need (an
  // over-committed allocation would otherwise be killed while it is filled).
  const double unknowns = sizeShape ? count * DistributionGrid().nFf0Values : count;
  const std::string refusal =
      unknowns > static_cast<double>(std::numeric_limits<int>::max())
          ? Format("a grid of %.0f points is more than the program can index - choose fewer grid points",
                   unknowns)
          : GridMemoryRefusal(unknowns, DataSet().nScans, CurrentGrid().nGridPoints);
  return refusal;
}

bool BuildContiGridPoints(std::string* error) {
  // 3. The vectors.
  DistributionVectors().nDistGrid = static_cast<int>(std::floor(DistributionGrid().fDistGridCount));
  const int n = DistributionVectors().nDistGrid;
  const bool sizeShape = IsSizeShapeModel();
  AllocDistributionVectors(n);
  if (sizeShape) {
    DistributionVectors().nFf0Grid = DistributionGrid().nFf0Values * n;
    AllocCellVectors(DistributionVectors().nFf0Grid, DistributionGrid().nFf0Values);
  }

  // 4. and 5. The grid.
  if (!DataSet().bDLSData) {
    if (!IsSGridModel()) {
      FillMolarMassGrid(DistributionVectors().pDistS, n, DistributionGrid().fDistMin, DistributionGrid().fDistMax);
    } else {
      if (!DistributionGrid().bUseStoredGrid) {
        BuildSGrid(n);
      } else if (!LoadStoredSGrid()) {
        return false;
      } else if (std::string refusal = BuoyancySignRefusal(DistributionGrid().fDistMin, DistributionGrid().fDistMax); !refusal.empty()) {
        // The stored grid's limits are known only now.
        *error = std::move(refusal);
        return false;
      }
      const int m = DistributionVectors().nDistGrid;
      // ls-g*(s): the grid against the fit limits (the planar ls-g*(v) has no such
      // relation, nor have equilibrium data, where no boundary moves).
      if (ModelFlags().bLsgModel && !ModelFlags().bElectroLsgModel && !DataSet().bEquilibriumMode && !CheckLsgGridAgainstFitLimits(m))
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
  const int unknowns = sizeShape ? DistributionVectors().nFf0Grid : DistributionVectors().nDistGrid;
  if (!AllocKernelArrays(unknowns, DataSet().nScans, CurrentGrid().nGridPoints, error)) return false;
  if (!AllocNormalEquationArrays(unknowns, DataSet().nScans, CurrentGrid().nGridPoints, error)) {
    FreeKernelArrays();
    return false;
  }

  // 9. The tables of the M(s)-table and nonideal models.
  if (!sizeShape) {
    if (ModelFlags().bCsMsTable && !LoadMofsTable(error)) return false;
    // The total signal the nonideal kernels sediment in, from the data or the last fit.
    if (ModelFlags().bCsNonideal) BuildCtotTables();
  }
  // What decides whether the c(s,ff0) kernels can be used again: the settings of
  // the grid just built (with its cell count), so that the next Run with the same
  // settings finds them equal.
  DistributionGrid().sLastCsff0Grid = Csff0GridKey{DistributionGrid().fDistGridCount, DistributionVectors().nFf0Grid, DistributionGrid().nFf0Values, DistributionGrid().fDistMin,
                                DistributionGrid().fDistMax,       DistributionGrid().fFf0Min,  DistributionGrid().fFf0Max};
  return true;
}

bool GridSetupWritesStoredGrid() {
  return IsContinuousModel() && !DataSet().bDLSData && IsSGridModel() && AnalysisSwitches().pParamFitFlags[kContiFitGridFromFile] == 0;
}

void MakeDistributionVectors(int n) {
  FreeGridVectorsOnly();
  AllocDistributionVectors(n);
}

void StoreGridLimitsInParams() {
  AnalysisSwitches().pParams[kContiSlotGridMin] = ModelParams().pSpeciesMassOrD[1] = DistributionGrid().fDistMin;
  AnalysisSwitches().pParams[kContiSlotGridMax] = ModelParams().pSpeciesS[1] = DistributionGrid().fDistMax;
  AnalysisSwitches().pParams[kContiSlotGridCount] = ModelParams().pSpeciesAmplitude[1] = DistributionGrid().fDistGridCount;
}

void ReadGridSettingsFromParams() {
  DistributionGrid().fDistMin = AnalysisSwitches().pParams[kContiSlotGridMin];
  DistributionGrid().fDistMax = AnalysisSwitches().pParams[kContiSlotGridMax];
  DistributionGrid().fDistGridCount = AnalysisSwitches().pParams[kContiSlotGridCount];
  DistributionGrid().bUseStoredGrid = AnalysisSwitches().pParamFitFlags[kContiFitGridFromFile] != 0;
  DistributionGrid().bLogGrid = AnalysisSwitches().pParamFitFlags[kContiFitLogGrid] != 0;
  if (IsSizeShapeModel()) {
    DistributionGrid().fFf0Min = AnalysisSwitches().pParams[kContiSlotShape1];
    DistributionGrid().fFf0Max = AnalysisSwitches().pParams[kContiSlotShape2];
    DistributionGrid().nFf0Values = TruncateToInt(std::floor(AnalysisSwitches().pParams[kContiSlotShape3]));
  }
}

void FreeDistributionVectors() {
  FreeGridVectorsOnly();
  FreeFloat(DistributionVectors().pCsff0S, DistributionVectors().cellLength);
  FreeFloat(DistributionVectors().pCsff0Ff0, DistributionVectors().cellLength);
  FreeFloat(DistributionVectors().pCsff0M, DistributionVectors().cellLength);
  FreeFloat(DistributionVectors().pCsff0D, DistributionVectors().cellLength);
  FreeFloat(DistributionVectors().pCsff0Rs, DistributionVectors().cellLength);
  FreeFloat(DistributionVectors().pCsff0Values, DistributionVectors().cellLength);
  DistributionVectors().cellLength = 0;
  FreeFloat(DistributionVectors().pFf0Axis, DistributionVectors().rowLength);
  FreeFloat(DistributionVectors().pFf0AxisWork, DistributionVectors().rowLength);
  DistributionVectors().rowLength = 0;
}

void ResetDistributionGrid() {
  FreeDistributionVectors();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  ReleaseSpareDistributionArrays();
  // Every member of the vector set back to its initial value, one added later too.
  DistributionVectors() = kInitialDistributionVectors;
  DistributionGrid().fDistGridCount = 100.0f;
  DistributionGrid().fDistMin = DistributionGrid().fDistMax = 0.0f;
  DistributionGrid().fFf0Min = 1.0f;
  DistributionGrid().fFf0Max = 2.0f;
  DistributionGrid().nFf0Values = 10;
  DistributionGrid().bUseStoredGrid = DistributionGrid().bLogGrid = false;
  DistributionGrid().bDLSGridLinearD = DistributionGrid().bDLSGridLogD = DistributionGrid().bDLSGridLogRh = false;
  DistributionGrid().sLastCsff0Grid = Csff0GridKey{};
}

}  // namespace tarmic
