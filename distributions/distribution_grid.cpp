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
  auto& distributionVectorsPart = DistributionVectors();
  distributionVectorsPart.pDistGrid = ZeroFloatVector(n);
  distributionVectorsPart.pDistS = ZeroFloatVector(n);
  distributionVectorsPart.pDistValues = ZeroFloatVector(n);
  distributionVectorsPart.pDistValues2 = ZeroFloatVector(n);
  distributionVectorsPart.pPriorProbability = FilledDoubleVector(n, 0.01);
  distributionVectorsPart.pPriorProbabilityWork = FilledDoubleVector(n, 0.0);
  distributionVectorsPart.distLength = n;
}

void FreeGridVectorsOnly() {
  auto& distributionVectorsPart = DistributionVectors();
  FreeFloat(distributionVectorsPart.pDistGrid, distributionVectorsPart.distLength);
  FreeFloat(distributionVectorsPart.pDistS, distributionVectorsPart.distLength);
  FreeFloat(distributionVectorsPart.pDistValues, distributionVectorsPart.distLength);
  FreeFloat(distributionVectorsPart.pDistValues2, distributionVectorsPart.distLength);
  FreeDouble(distributionVectorsPart.pPriorProbability, distributionVectorsPart.distLength);
  FreeDouble(distributionVectorsPart.pPriorProbabilityWork, distributionVectorsPart.distLength);
  distributionVectorsPart.distLength = 0;
}

void AllocCellVectors(int cells, int rows) {
  auto& distributionVectorsPart = DistributionVectors();
  distributionVectorsPart.pCsff0S = ZeroFloatVector(cells);
  distributionVectorsPart.pCsff0Ff0 = ZeroFloatVector(cells);
  distributionVectorsPart.pCsff0M = ZeroFloatVector(cells);
  distributionVectorsPart.pCsff0D = ZeroFloatVector(cells);
  distributionVectorsPart.pCsff0Rs = ZeroFloatVector(cells);
  distributionVectorsPart.pCsff0Values = ZeroFloatVector(cells);
  distributionVectorsPart.cellLength = cells;
  distributionVectorsPart.pFf0Axis = ZeroFloatVector(rows);
  distributionVectorsPart.pFf0AxisWork = ZeroFloatVector(rows);
  distributionVectorsPart.rowLength = rows;
}

// The grid set-up's questions depend on the grid it has just built: they are asked
// of the caller's policy between that step and the kernels.
bool AskYesNo(const AnswerPolicy& answers, QuestionId id, const std::string& text) {
  return AnswersYes(answers, {id, text, "ERROR", MB_YESNO | MB_ICONQUESTION});
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
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  if (distributionGridPart.bLogGrid && distributionGridPart.fDistMax > 0.0f && distributionGridPart.fDistMin >= 0.0f) {
    FillLogGrid(distributionVectorsPart.pDistGrid, n, distributionGridPart.fDistMin > 0.0f ? distributionGridPart.fDistMin : 0.01f, distributionGridPart.fDistMax);
  } else {
    distributionGridPart.bLogGrid = false;
    FillLinearGrid(distributionVectorsPart.pDistGrid, n, distributionGridPart.fDistMin, distributionGridPart.fDistMax);
  }
  SaveDistributionGrid(distributionVectorsPart.pDistGrid, n);
}

// The stored s grid replaces the grid and its vectors; false when none is stored.
bool LoadStoredSGrid() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  distributionGridPart.bLogGrid = false;
  analysisSwitchesPart.pParamFitFlags[4] = 0;
  modelParamsPart.pSpeciesMassOrDFit[4] = 0;
  int n = 0;
  float* stored = LoadDistributionGrid(&n);
  if (!stored || n < 1) return false;
  FreeGridVectorsOnly();
  AllocDistributionVectors(n);
  for (int i = 1; i <= n; ++i) distributionVectorsPart.pDistGrid[i] = stored[i];
  free_vector(stored, 1, n);
  distributionVectorsPart.nDistGrid = n;
  distributionGridPart.fDistGridCount = static_cast<float>(n);
  distributionGridPart.fDistMin = distributionVectorsPart.pDistGrid[1];
  distributionGridPart.fDistMax = distributionVectorsPart.pDistGrid[n];
  StoreGridLimitsInParams();
  return true;
}

// The (s, f/f0) cells of the c(s,ff0) models.
void BuildSizeShapeCells(int n) {
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  for (int j = 1; j <= distributionGridPart.nFf0Values; ++j) {
    distributionVectorsPart.pFf0Axis[j] = distributionGridPart.nFf0Values > 1 ? distributionGridPart.fFf0Min + static_cast<float>(j - 1) * (distributionGridPart.fFf0Max - distributionGridPart.fFf0Min) /
                                                 static_cast<float>(distributionGridPart.nFf0Values - 1)
                                 : distributionGridPart.fFf0Min;
    for (int i = 1; i <= n; ++i) {
      const int k = (j - 1) * n + i;
      distributionVectorsPart.pCsff0S[k] = distributionVectorsPart.pDistGrid[i];
      distributionVectorsPart.pCsff0Ff0[k] = distributionVectorsPart.pFf0Axis[j];
    }
  }
  const float T = dataSetPart.fTemperatureK - 273.15f;
  for (int k = 1; k <= distributionVectorsPart.nFf0Grid; ++k) {
    distributionVectorsPart.pCsff0M[k] = CalculateMff02(distributionVectorsPart.pCsff0S[k], distributionVectorsPart.pCsff0Ff0[k]);
    distributionVectorsPart.pCsff0D[k] = DFromMandS(distributionVectorsPart.pCsff0M[k], distributionVectorsPart.pCsff0S[k], T);
    distributionVectorsPart.pCsff0Rs[k] = 1e9f * DFromRh(distributionVectorsPart.pCsff0D[k], T);
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
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  if (!(distributionGridPart.fDistMin > 0.0f) || !(distributionGridPart.fDistMax > distributionGridPart.fDistMin)) {
    *error = Format("the limits of the DLS distribution must be positive, the lower below the "
                    "upper (now %g and %g)",
                    static_cast<double>(distributionGridPart.fDistMin), static_cast<double>(distributionGridPart.fDistMax));
    return false;
  }
  if (!distributionGridPart.bDLSGridLinearD && !distributionGridPart.bDLSGridLogD && !distributionGridPart.bDLSGridLogRh) {
    distributionGridPart.bDLSGridLogRh = modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSTimeCourseModel;
    distributionGridPart.bDLSGridLogD = !distributionGridPart.bDLSGridLogRh;
  }
  const float T = dataSetPart.pDLSInfo.size() > 1 ? dataSetPart.pDLSInfo[1].temperatureC : 20.0f;
  auto SE = [T](double x) { return static_cast<double>(DFromRh(static_cast<float>(x), T)); };
  auto log10SE = [&SE](double lg) { return std::log10(SE(std::pow(10.0, lg))); };
  const double lo = distributionGridPart.fDistMin, hi = distributionGridPart.fDistMax;
  enum Spacing { kNone, kLogRh, kLogD, kLinearD } spacing = kNone;
  double a = 0.0, b = 0.0;
  if (modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSTimeCourseModel) {
    if (distributionGridPart.bDLSGridLogRh) {
      spacing = kLogRh;
      a = std::log10(lo * 1e-9);
      b = std::log10(hi * 1e-9);
    } else if (distributionGridPart.bDLSGridLogD) {
      spacing = kLogD;
      a = std::log10(SE(lo * 1e-9));
      b = std::log10(SE(hi * 1e-9));
    } else if (distributionGridPart.bDLSGridLinearD) {
      spacing = kLinearD;
      a = SE(lo * 1e-9);
      b = SE(hi * 1e-9);
    }
  } else if (modelFlagsPart.bDLSDModel) {
    if (distributionGridPart.bDLSGridLogD) {
      spacing = kLogD;
      a = std::log10(lo * 1e-7);
      b = std::log10(hi * 1e-7);
    } else if (distributionGridPart.bDLSGridLinearD) {
      spacing = kLinearD;
      a = lo * 1e-7;
      b = hi * 1e-7;
    } else if (distributionGridPart.bDLSGridLogRh) {
      spacing = kLogRh;
      a = std::log10(SE(lo * 1e-7));
      b = std::log10(SE(hi * 1e-7));
    }
  }
  switch (spacing) {
    case kNone: break;
    case kLogRh:
      FillEven(distributionVectorsPart.pDistGrid, n, a, b);
      for (int i = 1; i <= n; ++i) distributionVectorsPart.pDistS[i] = static_cast<float>(log10SE(distributionVectorsPart.pDistGrid[i]));
      break;
    case kLogD:
      FillEven(distributionVectorsPart.pDistS, n, a, b);
      for (int i = 1; i <= n; ++i) distributionVectorsPart.pDistGrid[i] = static_cast<float>(log10SE(distributionVectorsPart.pDistS[i]));
      break;
    case kLinearD:
      FillEven(distributionVectorsPart.pDistS, n, a, b);
      for (int i = 1; i <= n; ++i) {
        distributionVectorsPart.pDistS[i] = static_cast<float>(std::log10(static_cast<double>(distributionVectorsPart.pDistS[i])));
        distributionVectorsPart.pDistGrid[i] = static_cast<float>(log10SE(distributionVectorsPart.pDistS[i]));
      }
      break;
  }
  return true;
}

// The companion value of every s-grid point: M where a mass applies, s itself
// otherwise.
void FillSGridCompanions(int n) {
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  auto& solventConstantsPart = SolventConstants();
  const bool noMass = modelFlagsPart.bElectroLsgModel || modelFlagsPart.bCvConstantD || modelFlagsPart.bZoneLsgModel || solventConstantsPart.VBAR == 0.0f;
  for (int i = 1; i <= n; ++i) {
    const float s = distributionVectorsPart.pDistGrid[i];
    distributionVectorsPart.pDistS[i] = noMass ? s : CalculateM(solventConstantsPart.fVRho <= 1.0f ? std::fabs(s) : s);
  }
}

// An ls-g*(s) grid whose every boundary lies beyond the right fit limit already in
// the first scan has only kernels without signal in the fitted range: it is
// clipped to the observable range sLeft..sRight (0..sRight when the left limit gives
// no lower bound), and the limits in the parameter vector follow.
void ClipLsgGrid(int n, double sLeft, double sRight) {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  const double lo = sLeft >= 0.0 && sLeft < sRight ? sLeft : 0.0;
  if (distributionGridPart.bLogGrid && lo > 0.0)
    FillLogGrid(distributionVectorsPart.pDistGrid, n, static_cast<float>(lo), static_cast<float>(sRight));
  else
    FillLinearGrid(distributionVectorsPart.pDistGrid, n, static_cast<float>(lo), static_cast<float>(sRight));
  distributionGridPart.fDistMin = distributionVectorsPart.pDistGrid[1];
  distributionGridPart.fDistMax = distributionVectorsPart.pDistGrid[n];
  StoreGridLimitsInParams();
  FillSGridCompanions(n);
  SaveDistributionGrid(distributionVectorsPart.pDistGrid, n);
}

// The ls-g*(s) grid against the fit limits: a boundary from the meniscus must be
// able to reach them. Asks once per data set; false when the user declines. A grid
// entirely beyond the observable range is clipped to it.
bool CheckLsgGridAgainstFitLimits(int n, const AnswerPolicy& answers) {
  auto& dataSetPart = DataSet();
  auto& distributionVectorsPart = DistributionVectors();
  if (dataSetPart.nScans < 1) return true;
  const ScanInfo& first = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[1])];
  const ScanInfo& last = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(dataSetPart.nScans)])];
  const double omega = static_cast<double>(last.rpm) * kTwoPiOver60;
  const double w2 = omega * omega * 1e-13;
  if (!(w2 * first.time > 0.0) || !(dataSetPart.fMeniscus > 0.0f) || !(dataSetPart.fFitLeftLim > 0.0f) ||
      !(dataSetPart.fFitRightLim > 0.0f)) {
    return true;
  }
  const double sLeft = std::log(dataSetPart.fFitLeftLim / dataSetPart.fMeniscus) / (w2 * last.time);
  const double sRight = std::log(dataSetPart.fFitRightLim / dataSetPart.fMeniscus) / (w2 * first.time);
  if (distributionVectorsPart.pDistGrid[1] <= sRight) {
    if (dataSetPart.bFitLimitWarningAccepted) return true;
    const double reach = dataSetPart.fMeniscus * std::exp(w2 * distributionVectorsPart.pDistGrid[n] * last.time);
    if (reach >= dataSetPart.fFitLeftLim) return true;
    const std::string question = Format(
        "smax %g too low - boundary does not reach left fit limit in last scan!\nnote: fit "
        "limits correspond to s-values of %.2f-%.2f\ncontinue anyway? (maybe looking at "
        "flotation?)",
        static_cast<double>(distributionVectorsPart.pDistGrid[n]), sLeft, sRight);
    if (!AskYesNo(answers, QuestionId::SmaxBelowLeftFitLimit, question)) return false;
    dataSetPart.bFitLimitWarningAccepted = true;
    return true;
  }
  if (!dataSetPart.bFitLimitWarningAccepted) {
    const std::string question = Format(
        "smin %g too low - boundary would be beyond right fit limit in last scan!\nnote: fit "
        "limits correspond to s-values of %.2f-%.2f\ncontinue anyway (may cause crash)?",
        static_cast<double>(distributionVectorsPart.pDistGrid[1]), sLeft, sRight);
    if (!AskYesNo(answers, QuestionId::SminBeyondRightFitLimit, question)) return false;
    dataSetPart.bFitLimitWarningAccepted = true;
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
  auto& modelFlagsPart = ModelFlags();
  return IsSGridModel() && !DataSet().bDLSData && !modelFlagsPart.bLsgModel && !modelFlagsPart.bLsgOneDiscrete && !modelFlagsPart.bCvConstantD &&
         !modelFlagsPart.bCsInvariantD && !modelFlagsPart.bCsScalingLaw && !modelFlagsPart.bCsMsTable && !modelFlagsPart.bBoundaryAnalysis && !modelFlagsPart.bElectroLsgModel &&
         !modelFlagsPart.bZoneLsgModel && SolventConstants().VBAR > 0.0f;
}

}  // namespace

std::string BuoyancySignRefusal(double lo, double hi) {
  auto& solventConstantsPart = SolventConstants();
  if (!KernelsTakeMassFromS() || !std::isfinite(lo) || !std::isfinite(hi)) return std::string();
  const double vbarRho = static_cast<double>(solventConstantsPart.VBAR) * solventConstantsPart.fBufferDensity;
  const double buoyancy = 1.0 - vbarRho;
  const double low = std::min(lo, hi), high = std::max(lo, hi);
  const std::string solvent = Format("vbar %.4g ml/g x density %.5g g/ml = %.4g", static_cast<double>(solventConstantsPart.VBAR),
                                     static_cast<double>(solventConstantsPart.fBufferDensity), vbarRho);
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
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  const double count = std::floor(static_cast<double>(distributionGridPart.fDistGridCount));
  if (!(count >= 1.0)) return "the distribution needs at least one grid point";
  const bool sizeShape = IsSizeShapeModel();
  if (sizeShape && distributionGridPart.nFf0Values < 1) return "the distribution needs at least one f/f0 value";
  if (!distributionGridPart.bUseStoredGrid && (!std::isfinite(distributionGridPart.fDistMin) || !std::isfinite(distributionGridPart.fDistMax))) {
    return Format("the grid limits %g and %g must be finite numbers",
                  static_cast<double>(distributionGridPart.fDistMin), static_cast<double>(distributionGridPart.fDistMax));
  }
  if (!distributionGridPart.bUseStoredGrid && count >= 2.0 && std::fabs(static_cast<double>(distributionGridPart.fDistMax) - distributionGridPart.fDistMin) < kMinGridSpan)
    return GridRangeRefusal(std::min(distributionGridPart.fDistMin, distributionGridPart.fDistMax), std::max(distributionGridPart.fDistMin, distributionGridPart.fDistMax), count);
  if (!dataSetPart.bDLSData && !IsSGridModel() && (distributionGridPart.fDistMin < 0.0f || distributionGridPart.fDistMax < 0.0f))
    return "the molar mass limits of the distribution must not be negative";
  // The kernel array and the workspace are estimated before the old ones go: a
  // grid the machine cannot hold is refused with what it would need (an
  // over-committed allocation would otherwise be killed while it is filled).
  const double unknowns = sizeShape ? count * distributionGridPart.nFf0Values : count;
  const std::string refusal =
      unknowns > static_cast<double>(std::numeric_limits<int>::max())
          ? Format("a grid of %.0f points is more than the program can index - choose fewer grid points",
                   unknowns)
          : GridMemoryRefusal(unknowns, dataSetPart.nScans, CurrentGrid().nGridPoints);
  return refusal;
}

bool BuildContiGridPoints(const AnswerPolicy& answers, std::string* error) {
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  // 3. The vectors.
  distributionVectorsPart.nDistGrid = static_cast<int>(std::floor(distributionGridPart.fDistGridCount));
  const int n = distributionVectorsPart.nDistGrid;
  const bool sizeShape = IsSizeShapeModel();
  AllocDistributionVectors(n);
  if (sizeShape) {
    distributionVectorsPart.nFf0Grid = distributionGridPart.nFf0Values * n;
    AllocCellVectors(distributionVectorsPart.nFf0Grid, distributionGridPart.nFf0Values);
  }

  // 4. and 5. The grid.
  if (!dataSetPart.bDLSData) {
    if (!IsSGridModel()) {
      FillMolarMassGrid(distributionVectorsPart.pDistS, n, distributionGridPart.fDistMin, distributionGridPart.fDistMax);
    } else {
      if (!distributionGridPart.bUseStoredGrid) {
        BuildSGrid(n);
      } else if (!LoadStoredSGrid()) {
        return false;
      } else if (std::string refusal = BuoyancySignRefusal(distributionGridPart.fDistMin, distributionGridPart.fDistMax); !refusal.empty()) {
        // The stored grid's limits are known only now.
        *error = std::move(refusal);
        return false;
      }
      const int m = distributionVectorsPart.nDistGrid;
      // ls-g*(s): the grid against the fit limits (the planar ls-g*(v) has no such
      // relation, nor have equilibrium data, where no boundary moves).
      if (modelFlagsPart.bLsgModel && !modelFlagsPart.bElectroLsgModel && !dataSetPart.bEquilibriumMode && !CheckLsgGridAgainstFitLimits(m, answers))
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
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  // 8. Kernels and normal-equation workspace.
  const bool sizeShape = IsSizeShapeModel();
  const int unknowns = sizeShape ? distributionVectorsPart.nFf0Grid : distributionVectorsPart.nDistGrid;
  if (!AllocKernelArrays(unknowns, dataSetPart.nScans, currentGridPart.nGridPoints, error)) return false;
  if (!AllocNormalEquationArrays(unknowns, dataSetPart.nScans, currentGridPart.nGridPoints, error)) {
    FreeKernelArrays();
    return false;
  }

  // 9. The tables of the M(s)-table and nonideal models.
  if (!sizeShape) {
    if (modelFlagsPart.bCsMsTable && !LoadMofsTable(error)) return false;
    // The total signal the nonideal kernels sediment in, from the data or the last fit.
    if (modelFlagsPart.bCsNonideal) BuildCtotTables();
  }
  // What decides whether the c(s,ff0) kernels can be used again: the settings of
  // the grid just built (with its cell count), so that the next Run with the same
  // settings finds them equal.
  distributionGridPart.sLastCsff0Grid = Csff0GridKey{distributionGridPart.fDistGridCount, distributionVectorsPart.nFf0Grid, distributionGridPart.nFf0Values, distributionGridPart.fDistMin,
                                distributionGridPart.fDistMax,       distributionGridPart.fFf0Min,  distributionGridPart.fFf0Max};
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& distributionGridPart = DistributionGrid();
  auto& modelParamsPart = ModelParams();
  analysisSwitchesPart.pParams[kContiSlotGridMin] = modelParamsPart.pSpeciesMassOrD[1] = distributionGridPart.fDistMin;
  analysisSwitchesPart.pParams[kContiSlotGridMax] = modelParamsPart.pSpeciesS[1] = distributionGridPart.fDistMax;
  analysisSwitchesPart.pParams[kContiSlotGridCount] = modelParamsPart.pSpeciesAmplitude[1] = distributionGridPart.fDistGridCount;
}

void ReadGridSettingsFromParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& distributionGridPart = DistributionGrid();
  distributionGridPart.fDistMin = analysisSwitchesPart.pParams[kContiSlotGridMin];
  distributionGridPart.fDistMax = analysisSwitchesPart.pParams[kContiSlotGridMax];
  distributionGridPart.fDistGridCount = analysisSwitchesPart.pParams[kContiSlotGridCount];
  distributionGridPart.bUseStoredGrid = analysisSwitchesPart.pParamFitFlags[kContiFitGridFromFile] != 0;
  distributionGridPart.bLogGrid = analysisSwitchesPart.pParamFitFlags[kContiFitLogGrid] != 0;
  if (IsSizeShapeModel()) {
    distributionGridPart.fFf0Min = analysisSwitchesPart.pParams[kContiSlotShape1];
    distributionGridPart.fFf0Max = analysisSwitchesPart.pParams[kContiSlotShape2];
    distributionGridPart.nFf0Values = TruncateToInt(std::floor(analysisSwitchesPart.pParams[kContiSlotShape3]));
  }
}

void DistributionVectorsPart::ReleaseAtAnalysisEnd() { FreeDistributionVectors(); }

void FreeDistributionVectors() {
  auto& distributionVectorsPart = DistributionVectors();
  FreeGridVectorsOnly();
  FreeFloat(distributionVectorsPart.pCsff0S, distributionVectorsPart.cellLength);
  FreeFloat(distributionVectorsPart.pCsff0Ff0, distributionVectorsPart.cellLength);
  FreeFloat(distributionVectorsPart.pCsff0M, distributionVectorsPart.cellLength);
  FreeFloat(distributionVectorsPart.pCsff0D, distributionVectorsPart.cellLength);
  FreeFloat(distributionVectorsPart.pCsff0Rs, distributionVectorsPart.cellLength);
  FreeFloat(distributionVectorsPart.pCsff0Values, distributionVectorsPart.cellLength);
  distributionVectorsPart.cellLength = 0;
  FreeFloat(distributionVectorsPart.pFf0Axis, distributionVectorsPart.rowLength);
  FreeFloat(distributionVectorsPart.pFf0AxisWork, distributionVectorsPart.rowLength);
  distributionVectorsPart.rowLength = 0;
}

void ResetDistributionGrid() {
  auto& distributionGridPart = DistributionGrid();
  FreeDistributionVectors();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  ReleaseSpareDistributionArrays();
  // Every member of the vector set back to its initial value, one added later too.
  DistributionVectors() = kInitialDistributionVectors;
  distributionGridPart.fDistGridCount = 100.0f;
  distributionGridPart.fDistMin = distributionGridPart.fDistMax = 0.0f;
  distributionGridPart.fFf0Min = 1.0f;
  distributionGridPart.fFf0Max = 2.0f;
  distributionGridPart.nFf0Values = 10;
  distributionGridPart.bUseStoredGrid = distributionGridPart.bLogGrid = false;
  distributionGridPart.bDLSGridLinearD = distributionGridPart.bDLSGridLogD = distributionGridPart.bDLSGridLogRh = false;
  distributionGridPart.sLastCsff0Grid = Csff0GridKey{};
}

}  // namespace tarmic
