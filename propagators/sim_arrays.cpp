#include "propagators/sim_arrays.h"
#include "numerics/analysis.h"

#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "lamm/moving_hat_core.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/statistics.h"
#include "propagators/sim_clock.h"

namespace tarmic {

namespace {

// The blocks of one allocation and what they were allocated for.
struct SimBlocks {
  std::vector<double> base, mass, hat, reacting, concDependent;
  bool movingHat = false;
  bool reactingModel = false;
  bool concDependentModel = false;
  SimWorkArrays work;  // where the propagators' work arrays point
  std::unique_ptr<CVector> massX, massY;
};

struct CosolventBlocks {
  std::vector<double> main, extra;
  int n = 0;
};

// The cell ends of the moving grid last laid (BuildLammGrid) or solved on
// (SetHatCellEnds).
struct HatCellEnds {
  bool set = false;
  double meniscus = 0.0, bottom = 0.0;  // cm
};
// This module's own state in the analysis.
struct LocalState {
  SimBlocks gBlocks{};
  CosolventBlocks gCosolvent{};
  HatCellEnds gHatEnds{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }
constexpr int kCosolventMain = 22, kCosolventExtra = 14;

constexpr int kBaseArrays = 15, kMassArrays = 4, kHatArrays = 18, kReactingArrays = 34,
              kConcDependentArrays = 17;

bool WantsConcDependentBlock() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bMonomerDimer || modelFlagsPart.bAssoc148 || modelFlagsPart.bAssoc124 || modelFlagsPart.bMonomerTrimer || modelFlagsPart.bNonidealSpecies ||
         modelFlagsPart.bCsNonideal;
}

// Cuts a zero-filled block of count arrays of n + 1 doubles; false when memory is short.
bool CutBlock(std::vector<double>& block, int count, int n, double** const* targets) {
  try {
    block.assign(static_cast<std::size_t>(count) * (n + 1), 0.0);
  } catch (const std::bad_alloc&) {
    block.clear();
    return false;
  }
  for (int k = 0; k < count; ++k) *targets[k] = block.data() + static_cast<std::size_t>(k) * (n + 1);
  return true;
}

void NullAll() {
  auto& localPart = Local();
  auto& lammArraysPart = LammArrays();
  double** all[] = {&lammArraysPart.pSimPlotWork, &lammArraysPart.pLammConc, &lammArraysPart.pLammRadius, &lammArraysPart.pLammRadius2,
                    &lammArraysPart.pFreeA,       &lammArraysPart.pFreeB,    &lammArraysPart.pComplex};
  for (double** p : all) *p = nullptr;
  localPart.gBlocks.work = {};
}

}  // namespace

const SimWorkArrays& SimWork() { return Local().gBlocks.work; }

bool SimArraysMatchModel() {
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  auto& localPart = Local();
  return lammArraysPart.bSimArraysAllocated && lammArraysPart.nSimGridPointsAllocated == lammSettingsPart.nLammGridPoints &&
         localPart.gBlocks.movingHat == lammSettingsPart.bMovingHat && localPart.gBlocks.reactingModel == ModelFlags().bHeteroAssocModel &&
         localPart.gBlocks.concDependentModel == WantsConcDependentBlock();
}

void SimArraysState::ReleaseAtAnalysisEnd() { FreeSimArrays(); }

void FreeSimArrays() {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  localPart.gBlocks.base.clear();
  localPart.gBlocks.base.shrink_to_fit();
  localPart.gBlocks.mass = {};
  localPart.gBlocks.hat = {};
  localPart.gBlocks.reacting = {};
  localPart.gBlocks.concDependent = {};
  delete lammArraysPart.pSimMassCurve;
  lammArraysPart.pSimMassCurve = nullptr;
  localPart.gBlocks.massX.reset();
  localPart.gBlocks.massY.reset();
  NullAll();
  lammArraysPart.bSimArraysAllocated = false;
  lammArraysPart.nSimGridPointsAllocated = 0;
}

bool AllocSimArrays(const GridCell& cell) {
  auto& simClockPart = SimClock();
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  auto& localPart = Local();
  auto& modelFlagsPart = ModelFlags();
  // Arrays of another size or another set of blocks are replaced: building a grid
  // of N nodes into arrays of fewer would write past them.
  if (lammArraysPart.bSimArraysAllocated && !SimArraysMatchModel()) FreeSimArrays();
  if (!lammArraysPart.bSimArraysAllocated) {
    const int n = lammSettingsPart.nLammGridPoints;
    SimWorkArrays& w = localPart.gBlocks.work;
    if (n < kMinSimGridPoints || n > kMaxSimGridPoints) return false;
    double** base[kBaseArrays] = {
        &lammArraysPart.pSimPlotWork, &lammArraysPart.pLammConc,      &lammArraysPart.pLammRadius,       &w.pLammConcOld,   &w.pLammRhs,
        &w.pStepDiag,  &w.pTridagGamma, &w.pRhsLower,       &w.pRhsDiag,       &w.pRhsUpper,
        &w.pStepUpper, &w.pStepLower,   &w.pTransportUpper, &w.pTransportDiag, &w.pTransportLower};
    double** mass[kMassArrays] = {&w.pMassUpper, &w.pMassDiag, &w.pMassLower, &w.pTridagBeta};
    bool ok = CutBlock(localPart.gBlocks.base, kBaseArrays, n, base) &&
              CutBlock(localPart.gBlocks.mass, kMassArrays, n, mass);
    localPart.gBlocks.movingHat = lammSettingsPart.bMovingHat;
    if (ok && lammSettingsPart.bMovingHat) {
      double** hat[kHatArrays] = {&w.pHatStiffLower,    &w.pHatStiffDiag,     &w.pHatStiffUpper,
                                  &w.pHatSedLower,      &w.pHatSedDiag,       &w.pHatSedUpper,
                                  &w.pHatMotionLower,   &w.pHatMotionDiag,    &w.pHatMotionUpper,
                                  &lammArraysPart.pLammRadius2,        &w.pFullHatRhsLower,  &w.pFullHatRhsDiag,
                                  &w.pFullHatRhsUpper,  &w.pFullHatStepLower, &w.pFullHatStepDiag,
                                  &w.pFullHatStepUpper, &w.pFullHatGamma,     &w.pFullHatBeta};
      ok = CutBlock(localPart.gBlocks.hat, kHatArrays, n, hat);
      w.pHatEndTransportLower = w.pStepLower;
      w.pHatEndTransportDiag = w.pStepDiag;
      w.pHatEndTransportUpper = w.pStepUpper;
    }
    localPart.gBlocks.reactingModel = modelFlagsPart.bHeteroAssocModel;
    if (ok && modelFlagsPart.bHeteroAssocModel) {
      double** re[kReactingArrays] = {
          &lammArraysPart.pFreeA,         &lammArraysPart.pFreeB,          &w.pFreeAOld,         &w.pFreeBOld,    &w.pFreeAOlder,
          &w.pFreeBOlder,  &w.pFreeATemp,    &w.pFreeBTemp,        &w.pFluxA,       &w.pFluxB,
          &lammArraysPart.pComplex,       &w.pReactPartner, &w.pReactPartnerRate, &w.pTransALower, &w.pTransADiag,
          &w.pTransAUpper, &w.pTransBLower,  &w.pTransBDiag,       &w.pTransBUpper};
      for (int k = 0; k < kElementPairs; ++k) {
        re[19 + k] = &w.pComplexMassElem[k];
        re[19 + kElementPairs + k] = &w.pComplexTransportElem[k];
      }
      re[33] = &w.pReactNodeWeight;
      ok = CutBlock(localPart.gBlocks.reacting, kReactingArrays, n, re);
    }
    localPart.gBlocks.concDependentModel = WantsConcDependentBlock();
    if (ok && localPart.gBlocks.concDependentModel) {
      double** cd[kConcDependentArrays] = {&w.pLocalS};
      for (int k = 0; k < kElementPairs; ++k) {
        cd[1 + k] = &w.pDiffElem[k];
        cd[1 + kElementPairs + k] = &w.pSedElem[k];
      }
      cd[15] = &w.pLocalD;
      cd[16] = &w.pLammConcNew;
      ok = CutBlock(localPart.gBlocks.concDependent, kConcDependentArrays, n, cd);
    }
    if (!ok) {
      FreeSimArrays();
      return false;
    }
    lammArraysPart.nSimGridPointsAllocated = n;
    lammArraysPart.bSimArraysAllocated = true;
  }
  BuildLammGrid(cell);
  if (simClockPart.bShowSimMass && lammSettingsPart.bMovingHat && !lammArraysPart.pSimMassCurve) {
    const auto n = static_cast<std::uint32_t>(lammArraysPart.nSimGridPointsAllocated);
    localPart.gBlocks.massX = std::make_unique<CVector>(n, 0);
    localPart.gBlocks.massY = std::make_unique<CVector>(n, 0);
    lammArraysPart.pSimMassCurve = new CCurve(localPart.gBlocks.massX.get(), localPart.gBlocks.massY.get());
  }
  return true;
}

bool ResizeSimArrays(int n, const GridCell& cell) {
  if (!LammArrays().bSimArraysAllocated) return false;
  if (n < kMinSimGridPoints || n > kMaxSimGridPoints) return false;
  FreeSimArrays();
  LammSettings().nLammGridPoints = n;
  return AllocSimArrays(cell);
}

void BuildLammGrid(const GridCell& cell) {
  auto& simClockPart = SimClock();
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  if (!lammArraysPart.bSimArraysAllocated || cell.none) return;
  const int N = lammArraysPart.nSimGridPointsAllocated;
  const double m = cell.meniscus, b = cell.bottom;
  double* r = lammArraysPart.pLammRadius;
  lammArraysPart.bOptimizedGridBuilt = false;
  if (lammSettingsPart.bMovingHat) {
    // Geometric: node 2 half a ratio from the meniscus (1.5 ratios for a frame
    // moving inward), each further node one ratio on.
    LayMovingHatGrid(r, N, m, b, simClockPart.dFrameS < 0);
    if (lammArraysPart.pLammRadius2)
      for (int i = 1; i <= N; ++i) lammArraysPart.pLammRadius2[i] = r[i];
    Local().gHatEnds = {true, m, b};
  } else if (lammSettingsPart.bClaverie && lammArraysPart.bOptimizedGridPending) {
    // Equidistant up to r*, then increments h0 sqrt(((r - m)/(r* - m)) (r*/r)).
    const double h0 = lammArraysPart.dOptimizedGridStep, rs = lammArraysPart.dOptimizedGridRadius;
    r[1] = m;
    int i = 1;
    while (i < N - 1) {
      const double last = r[i];
      const double h = last < rs ? h0 : h0 * std::sqrt(((last - m) / (rs - m)) * (rs / last));
      if (last + h >= b) break;
      r[++i] = last + h;
    }
    for (int k = i + 1; k <= N; ++k) r[k] = b;  // the next point is the bottom
    lammArraysPart.bOptimizedGridBuilt = true;
  } else if (lammSettingsPart.bClaverie) {
    for (int i = 1; i <= N; ++i) r[i] = m + (i - 1) * (b - m) / (N - 1);
  } else {
    for (int i = 1; i <= N; ++i) r[i] = m + (i - 0.5) * (b - m) / N;
  }
}

namespace {

// Points of the widening grid from the meniscus until a point would reach the
// bottom (at most limit).
int CountWideningPoints(double m, double b, double rs, double h0, int limit) {
  double r = m;
  int count = 1;
  while (count < limit) {
    const double h = r < rs ? h0 : h0 * std::sqrt(((r - m) / (rs - m)) * (rs / r));
    if (r + h >= b) break;
    r += h;
    ++count;
  }
  return count + 1;  // the bottom
}

}  // namespace

int OptimizeStaticGridSize(double rStar, const GridCell& cell) {
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  const double m = cell.meniscus, b = cell.bottom;
  int N = lammSettingsPart.nLammGridPoints;
  if (m == 0 || b == 0 || rStar <= m || N < 50 || lammSettingsPart.bMovingHat || !lammSettingsPart.bClaverie) {
    if (lammArraysPart.bSimArraysAllocated) ResizeSimArrays(N, cell);
    return lammSettingsPart.nLammGridPoints;
  }
  const double h0 = (b - m) / (N - 1);
  const int count = CountWideningPoints(m, b, std::min(rStar, b), h0, N);
  FreeSimArrays();
  if (count >= 50) {
    lammSettingsPart.nLammGridPoints = count;
    lammArraysPart.bOptimizedGridPending = true;
    lammArraysPart.dOptimizedGridRadius = std::min(rStar, b);
    lammArraysPart.dOptimizedGridStep = h0;
    AllocSimArrays(cell);
    lammArraysPart.bOptimizedGridPending = false;
  } else {
    lammSettingsPart.nLammGridPoints = 50;
    AllocSimArrays(cell);
  }
  return lammSettingsPart.nLammGridPoints;
}

bool RefineGridAtBottom(double sigma, const GridCell& cell) {
  auto& lammArraysPart = LammArrays();
  if (!lammArraysPart.bSimArraysAllocated || !lammArraysPart.bOptimizedGridBuilt) return false;
  const int N = lammArraysPart.nSimGridPointsAllocated;
  const double m = cell.meniscus, b = cell.bottom;
  double* r = lammArraysPart.pLammRadius;
  double rB = m + 0.1 * (b - m);
  if (sigma > 10) rB = std::max(rB, b * std::sqrt(std::max(0.0, 1 - 10 / (sigma * b * b))));
  // Stretch the equidistant start until a point passes r_B.
  int iB = N - 1;
  for (int i = 2; i < N; ++i) {
    r[i] = m + 1.1 * (r[i] - m);
    if (r[i] > rB) {
      iB = i;
      break;
    }
  }
  if (iB >= N - 1) {
    r[N] = b;
    return true;
  }
  const double hB = r[iB] - r[iB - 1];
  const int K = N - iB;
  // q with r_(iB) + sum_(k=1..K) q^k hB = b.
  auto gap = [&](double q) {
    double sum = 0.0, p = 1.0;
    for (int k = 1; k <= K; ++k) {
      p *= q;
      sum += p;
    }
    return r[iB] + sum * hB - b;
  };
  const BrentResult q = BrentSearch(gap, 0.0, 10.0, 1e-6, 100);
  if (!q.converged) return false;
  double p = 1.0;
  for (int i = iB + 1; i < N; ++i) {
    p *= q.root;
    r[i] = r[i - 1] + p * hB;
  }
  r[N] = b;
  return true;
}

void SetHatCellEnds(double meniscus, double bottom) { Local().gHatEnds = {true, meniscus, bottom}; }

void MoveHatGrid() {
  auto& lammArraysPart = LammArrays();
  auto& simClockPart = SimClock();
  if (!lammArraysPart.bSimArraysAllocated || !lammArraysPart.pLammRadius2) return;
  const int N = lammArraysPart.nSimGridPointsAllocated;
  const double e = std::exp((simClockPart.dSimTime - simClockPart.dHatT0) * simClockPart.dFrameSedOmega2);
  const HatCellEnds& ends = Local().gHatEnds;
  // The ends of a grid laid by a solve that did not record them are its own.
  lammArraysPart.pLammRadius[1] = ends.set ? ends.meniscus : lammArraysPart.pLammRadius2[1];
  for (int i = 2; i < N; ++i) lammArraysPart.pLammRadius[i] = lammArraysPart.pLammRadius2[i] * e;
  lammArraysPart.pLammRadius[N] = ends.set ? ends.bottom : lammArraysPart.pLammRadius2[N];
}

double* CosolventArray(int k) {
  auto& localPart = Local();
  if (!LammArrays().bCosolventArrays) return nullptr;
  const int n = localPart.gCosolvent.n;
  if (k >= 1 && k <= kCosolventMain) return localPart.gCosolvent.main.data() + static_cast<std::size_t>(k - 1) * (n + 1);
  if (k > kCosolventMain && k <= kCosolventMain + kCosolventExtra && !localPart.gCosolvent.extra.empty())
    return localPart.gCosolvent.extra.data() + static_cast<std::size_t>(k - kCosolventMain - 1) * (n + 1);
  return nullptr;
}

void FreeCosolventArrays() {
  auto& lammArraysPart = LammArrays();
  Local().gCosolvent = {};
  lammArraysPart.bCosolventArrays = false;
  lammArraysPart.pCosolventRadius = nullptr;
}

bool AllocCosolventArrays(const GridCell& cell) {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  const int n = lammArraysPart.nCosolventPoints;
  if (lammArraysPart.bCosolventArrays && (n != localPart.gCosolvent.n || lammArraysPart.bCosolventExtraArrays != !localPart.gCosolvent.extra.empty()))
    FreeCosolventArrays();
  // The grid needs two points at least (its spacing divides by n - 1).
  if (n < 2 || n > kMaxSimGridPoints) return false;
  if (!lammArraysPart.bCosolventArrays) {
    try {
      localPart.gCosolvent.main.assign(static_cast<std::size_t>(kCosolventMain) * (n + 1), 0.0);
      if (lammArraysPart.bCosolventExtraArrays)
        localPart.gCosolvent.extra.assign(static_cast<std::size_t>(kCosolventExtra) * (n + 1), 0.0);
    } catch (const std::bad_alloc&) {
      FreeCosolventArrays();
      return false;
    }
    localPart.gCosolvent.n = n;
    lammArraysPart.bCosolventArrays = true;
  }
  lammArraysPart.pCosolventRadius = CosolventArray(1);
  const double m = cell.meniscus, b = cell.bottom;
  for (int i = 1; i <= n; ++i) lammArraysPart.pCosolventRadius[i] = m + (i - 1) * (b - m) / (n - 1);
  return true;
}

void ResetSimArrays() {
  auto& lammArraysPart = LammArrays();
  FreeSimArrays();
  FreeCosolventArrays();
  Local().gHatEnds = {};
  lammArraysPart.bOptimizedGridPending = false;
  lammArraysPart.dOptimizedGridRadius = lammArraysPart.dOptimizedGridStep = 0.0;
  lammArraysPart.bOptimizedGridBuilt = false;
  lammArraysPart.nCosolventPoints = 50;
  lammArraysPart.bCosolventExtraArrays = false;
}

}  // namespace tarmic
