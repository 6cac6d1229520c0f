// The shared simulation arrays of the global-state Lamm propagators and the
// radial grids they work on.
//
// All propagators of the discrete-species models (static grid and moving hat,
// ideal and concentration-dependent, the reacting system) work on one set of
// one-based arrays of N = nLammGridPoints doubles (index 0 exists and is unused, so
// every array has N + 1 entries). They are cut from a few zero-filled blocks:
//   - the base block (always): profile, grid, step and transport matrices;
//   - the moving-hat block (when the moving hat is the chosen algorithm at
//     allocation): element matrices on the reference grid and the whole-interval
//     propagator;
//   - the reacting-system block (A + B <--> AB): the levels of free A and free B,
//     their fluxes, the complex, the transport matrices of A and B and the element
//     families of the complex;
//   - the concentration-dependent block (self-association and non-ideal models):
//     node coefficients and the seven-pattern element integrals.
// Tridiagonal matrices are three arrays: Lower[i] couples row i to node i-1,
// Diag[i] to node i, Upper[i] to node i+1; Lower[1] and Upper[N] hold 0.
//
// The arrays live in the user-interface thread only. Allocation records the grid
// size and the blocks; AllocSimArrays reallocates whenever either changed, so a
// grid is never built into arrays of another size.
#pragma once

#include "numerics/analysis.h"

#include "lamm/fe_assembly.h"
#include "lamm/lamm_setup_parts.h"
#include "lamm/tridiagonal.h"

namespace tarmic {

class CCurve;
class CVector;
class Window;

// Largest grid the simulation arrays accept (about 45 MB of arrays), and the
// smallest a propagator can work on: those of the Lamm solutions.
inline constexpr int kMaxSimGridPoints = kMaxLammGridPoints;
inline constexpr int kMinSimGridPoints = kMinLammGridPoints;

// ---- the arrays other subsystems read ----
// The state of this module in an analysis (numerics/analysis.h).
struct SimArraysState {
  double* pSimPlotWork = nullptr;  // work array of the progress display (the recorded profile)
  double* pLammConc = nullptr;  // profile c(r_i) at the current time (signal units)
  double* pLammRadius = nullptr;  // radial grid r_1..r_N, cm; r_1 = meniscus, r_N = bottom
  double* pLammRadius2 = nullptr;  // moving hat: reference (co-moving) grid r0 (null without it)
  double* pFreeA = nullptr;  // reacting system: free A, B at the new time level
  double* pFreeB = nullptr;  // (concentration units; null without the block)
  double* pComplex = nullptr;  // complex Ka A B
  bool bSimArraysAllocated = false;
  int nSimGridPointsAllocated = 0;  // N at allocation
  CCurve* pSimMassCurve = nullptr;
  bool bOptimizedGridPending = false;
  double dOptimizedGridRadius = 0.0;  // r*, cm
  double dOptimizedGridStep = 0.0;  // h0, cm
  bool bOptimizedGridBuilt = false;  // the last grid built was the widening one
  int nCosolventPoints = 50;  // n (50)
  bool bCosolventExtraArrays = false;  // the second block of 14 arrays
  bool bCosolventArrays = false;  // allocated
  double* pCosolventRadius = nullptr;  // first of the 22 arrays; equidistant m..b
  // The work arrays and the mass curve, given back when the analysis ends.
  void ReleaseAtAnalysisEnd();
};
inline SimArraysState& LammArrays() { return CurrentPart<SimArraysState>(); }

// The propagators' own work arrays of one allocation. The allocation sets them
// all together (null for a block it did not allocate); a propagator takes them
// at its entry through SimWork() and only writes the values they point to.
struct SimWorkArrays {
  // ---- base block ----
  double* pLammConcOld = nullptr;  // profile at the start of the step
  double* pLammRhs = nullptr;      // right-hand side of the step system
  double* pStepDiag = nullptr;     // left step matrix M - dt/2 A
  double* pStepUpper = nullptr;
  double* pStepLower = nullptr;
  double* pTridagGamma = nullptr;  // elimination factors of the tridiagonal solver
  double* pTridagBeta = nullptr;   // its pivots
  double* pRhsLower = nullptr;     // right step matrix M + dt/2 A
  double* pRhsDiag = nullptr;
  double* pRhsUpper = nullptr;
  double* pTransportLower = nullptr;  // transport matrix A of M dc/dt = A c
  double* pTransportDiag = nullptr;
  double* pTransportUpper = nullptr;
  double* pMassLower = nullptr;  // mass matrix M (integral of r phi_i phi_j)
  double* pMassDiag = nullptr;
  double* pMassUpper = nullptr;

  // ---- moving-hat block ----
  double* pHatStiffLower =
      nullptr;  // stiffness K (integral of r phi_i' phi_j') on the reference grid
  double* pHatStiffDiag = nullptr;
  double* pHatStiffUpper = nullptr;
  double* pHatSedLower = nullptr;  // sedimentation S (integral of r^2 phi_i' phi_j) x s w^2
  double* pHatSedDiag = nullptr;
  double* pHatSedUpper = nullptr;
  double* pHatMotionLower = nullptr;  // motion of the nodes relative to the species
  double* pHatMotionDiag = nullptr;
  double* pHatMotionUpper = nullptr;
  double* pFullHatRhsLower = nullptr;  // right matrix of a whole hat interval
  double* pFullHatRhsDiag = nullptr;
  double* pFullHatRhsUpper = nullptr;
  double* pFullHatStepLower = nullptr;  // left matrix of a whole hat interval
  double* pFullHatStepDiag = nullptr;
  double* pFullHatStepUpper = nullptr;
  double* pFullHatGamma = nullptr;  // its elimination factors (pivots in pFullHatBeta)
  double* pFullHatBeta = nullptr;
  // Transport at the end of a moving-hat step: the storage of the left step matrix.
  double* pHatEndTransportLower = nullptr;
  double* pHatEndTransportDiag = nullptr;
  double* pHatEndTransportUpper = nullptr;

  // ---- reacting-system block (see reacting_system.h) ----
  double* pFreeAOld = nullptr;  // free A, B at the start of the step
  double* pFreeBOld = nullptr;
  double* pFreeAOlder = nullptr;  // at the start of the previous step
  double* pFreeBOlder = nullptr;
  double* pFreeATemp = nullptr;  // predictor estimates of the new level
  double* pFreeBTemp = nullptr;
  double* pFluxA = nullptr;  // reaction fluxes (residual of each species' own transport)
  double* pFluxB = nullptr;
  double* pReactPartner = nullptr;      // partner profile at which the complex terms are linearised
  double* pReactPartnerRate = nullptr;  // its rate of change, 1/s
  double* pTransALower =
      nullptr;  // transport T_A = D_A K - w^2 s_A S of free A (in full; the steps halve it)
  double* pTransADiag = nullptr;
  double* pTransAUpper = nullptr;
  double* pTransBLower = nullptr;  // the same for free B
  double* pTransBDiag = nullptr;
  double* pTransBUpper = nullptr;
  // The complex's families in the seven (column j, partner node k) patterns of
  // kElementPairs: E = Ka x integral of r phi_i phi_j phi_k, F = Ka x (D_AB x integral
  // of r phi_i' (phi_j phi_k)' - w^2 s_AB x integral of r^2 phi_i' phi_j phi_k).
  double* pComplexMassElem[kElementPairs] = {};
  double* pComplexTransportElem[kElementPairs] = {};
  double* pReactNodeWeight = nullptr;  // integral of r phi_i on the reacting grid, cm^2

  // ---- concentration-dependent block ----
  double* pLocalS = nullptr;       // s at the nodes, S
  double* pLocalD = nullptr;       // D at the nodes, cm^2/s
  double* pLammConcNew = nullptr;  // predictor profile
  // Three-index element integrals in the seven (column, coefficient node) patterns
  // of kElementPairs (lamm/fe_assembly.h): pDiffElem = integral of r phi_i' phi_j'
  // phi_k, pSedElem = w^2 x integral of r^2 phi_i' phi_j phi_k.
  double* pDiffElem[kElementPairs] = {};
  double* pSedElem[kElementPairs] = {};
};
// The work arrays of the current allocation (all null without one).
const SimWorkArrays& SimWork();

// ---- allocation ----

// The cell a grid is laid in, in cm. The builders take it as a value: the model
// computation lays its grid in its input's cell, whatever the data set holds. A
// cell that is `none` (correlation data, which has no cell) gets arrays but no
// grid. The forms without a cell (sim_arrays_doors.h) take the data set's.
struct GridCell {
  double meniscus = 0.0, bottom = 0.0;
  bool none = false;
};

// Allocates the arrays for N = nLammGridPoints and the blocks the current model
// and algorithm need (or keeps them when they match), builds the grid in cell and
// returns true. False, with everything released, when N is outside
// kMinSimGridPoints..kMaxSimGridPoints or memory is short.
bool AllocSimArrays(const GridCell& cell);
// Frees and reallocates for n nodes, the grid in cell. False, changing nothing,
// when the arrays do not exist or n is outside the accepted range.
bool ResizeSimArrays(int n, const GridCell& cell);
// Releases everything and nulls every pointer; safe to call twice.
void FreeSimArrays();
// True when the allocated blocks fit the current model flags and algorithm.
bool SimArraysMatchModel();

// Builds pLammRadius (and for the moving hat pLammRadius2) in cell with N nodes
// for the chosen algorithm: moving hat geometric; static grid equidistant or
// widening (optimised); otherwise cell-centred. Nothing without arrays or without
// a cell. The moving grid's ends are the cell's until a solve sets its own.
void BuildLammGrid(const GridCell& cell);

// The optimised static grid: equidistant up to r*, widening beyond.
// Resizes the static grid in cell so that it is equidistant up to r* and widens
// beyond; returns the new N.
int OptimizeStaticGridSize(double rStar, const GridCell& cell);
// Refines an optimised static grid in cell towards the bottom for the reduced
// molar mass sigma (cm^-2): the equilibrium exponent reaches 10 at r_B, the
// spacing grows geometrically from there to the bottom. False without arrays or
// without the optimised grid. The caller refines only for a species whose
// back-diffusion is not shut off (one whose material piles up at the bottom),
// whatever the option says for other species.
bool RefineGridAtBottom(double sigma, const GridCell& cell);

// Moves the inner radii of the moving-hat grid to the present time:
// pLammRadius[i] = pLammRadius2[i] exp((dSimTime - dHatT0) dFrameSedOmega2); the
// ends stay at the cell of the last build or solve.
void MoveHatGrid();

// ---- the cosolute grid ----
// The 22 (+ 14) arrays of n + 1 doubles, in allocation order (1-based in k).
double* CosolventArray(int k);
// Allocates them for nCosolventPoints and lays their equidistant grid in cell.
bool AllocCosolventArrays(const GridCell& cell);
void FreeCosolventArrays();

// ---- views of the matrices for the shared finite-element core ----
inline Tridiagonal SimMassMatrix(const SimWorkArrays& w) {
  return {w.pMassLower, w.pMassDiag, w.pMassUpper};
}
inline Tridiagonal SimTransportMatrix(const SimWorkArrays& w) {
  return {w.pTransportLower, w.pTransportDiag, w.pTransportUpper};
}
inline Tridiagonal SimStepMatrix(const SimWorkArrays& w) {
  return {w.pStepLower, w.pStepDiag, w.pStepUpper};
}
inline Tridiagonal SimRhsMatrix(const SimWorkArrays& w) {
  return {w.pRhsLower, w.pRhsDiag, w.pRhsUpper};
}
inline TridagFactors SimTridagFactors(const SimWorkArrays& w) {
  return {w.pTridagGamma, w.pTridagBeta};
}

// Frees the arrays and restores the grid state to its defaults (tests).
void ResetSimArrays();

}  // namespace tarmic
