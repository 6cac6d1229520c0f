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

#include "lamm/fe_assembly.h"
#include "lamm/tridiagonal.h"

namespace tarmic {

class CCurve;
class CVector;
class Window;

// Largest grid the simulation arrays accept (about 45 MB of arrays).
inline constexpr int kMaxSimGridPoints = 100000;
// Smallest grid a propagator can work on.
inline constexpr int kMinSimGridPoints = 5;

// ---- base block ----
extern double* pSimPlotWork;   // work array of the progress display (the recorded profile)
extern double* pLammConc;      // profile c(r_i) at the current time (signal units)
extern double* pLammRadius;    // radial grid r_1..r_N, cm; r_1 = meniscus, r_N = bottom
extern double* pLammConcOld;   // profile at the start of the step
extern double* pLammRhs;       // right-hand side of the step system
extern double* pStepDiag;      // left step matrix M - dt/2 A
extern double* pStepUpper;
extern double* pStepLower;
extern double* pTridagGamma;   // elimination factors of the tridiagonal solver
extern double* pTridagBeta;    // its pivots
extern double* pRhsLower;      // right step matrix M + dt/2 A
extern double* pRhsDiag;
extern double* pRhsUpper;
extern double* pTransportLower;  // transport matrix A of M dc/dt = A c
extern double* pTransportDiag;
extern double* pTransportUpper;
extern double* pMassLower;     // mass matrix M (integral of r phi_i phi_j)
extern double* pMassDiag;
extern double* pMassUpper;

// ---- moving-hat block (null without it) ----
extern double* pHatStiffLower;   // stiffness K (integral of r phi_i' phi_j') on the reference grid
extern double* pHatStiffDiag;
extern double* pHatStiffUpper;
extern double* pHatSedLower;     // sedimentation S (integral of r^2 phi_i' phi_j) x s w^2
extern double* pHatSedDiag;
extern double* pHatSedUpper;
extern double* pHatMotionLower;  // motion of the nodes relative to the species
extern double* pHatMotionDiag;
extern double* pHatMotionUpper;
extern double* pLammRadius2;     // reference (co-moving) grid r0
extern double* pFullHatRhsLower;  // right matrix of a whole hat interval
extern double* pFullHatRhsDiag;
extern double* pFullHatRhsUpper;
extern double* pFullHatStepLower;  // left matrix of a whole hat interval
extern double* pFullHatStepDiag;
extern double* pFullHatStepUpper;
extern double* pFullHatGamma;    // its elimination factors (pivots in pFullHatBeta)
extern double* pFullHatBeta;
// Transport at the end of a moving-hat step: the storage of the left step matrix.
extern double* pHatEndTransportLower;
extern double* pHatEndTransportDiag;
extern double* pHatEndTransportUpper;

// ---- reacting-system block (null without it; see reacting_system.h) ----
extern double* pFreeA;          // free A, B at the new time level (concentration units)
extern double* pFreeB;
extern double* pFreeAOld;       // at the start of the step
extern double* pFreeBOld;
extern double* pFreeAOlder;     // at the start of the previous step
extern double* pFreeBOlder;
extern double* pFreeATemp;      // predictor estimates of the new level
extern double* pFreeBTemp;
extern double* pFluxA;          // reaction fluxes (residual of each species' own transport)
extern double* pFluxB;
extern double* pComplex;        // complex Ka A B
extern double* pReactPartner;      // partner profile at which the complex terms are linearised
extern double* pReactPartnerRate;  // its rate of change, 1/s
extern double* pTransALower;    // transport T_A = D_A K - w^2 s_A S of free A (in full; the steps halve it)
extern double* pTransADiag;
extern double* pTransAUpper;
extern double* pTransBLower;    // the same for free B
extern double* pTransBDiag;
extern double* pTransBUpper;
// The complex's families in the seven (column j, partner node k) patterns of
// kElementPairs: E = Ka x integral of r phi_i phi_j phi_k, F = Ka x (D_AB x integral
// of r phi_i' (phi_j phi_k)' - w^2 s_AB x integral of r^2 phi_i' phi_j phi_k).
extern double* pComplexMassElem[kElementPairs];
extern double* pComplexTransportElem[kElementPairs];
extern double* pReactNodeWeight;  // integral of r phi_i on the reacting grid, cm^2

// ---- concentration-dependent block (null without it) ----
extern double* pLocalS;        // s at the nodes, S
extern double* pLocalD;        // D at the nodes, cm^2/s
extern double* pLammConcNew;   // predictor profile
// Three-index element integrals in the seven (column, coefficient node) patterns
// of kElementPairs (lamm/fe_assembly.h): pDiffElem = integral of r phi_i' phi_j'
// phi_k, pSedElem = w^2 x integral of r^2 phi_i' phi_j phi_k.
extern double* pDiffElem[kElementPairs];
extern double* pSedElem[kElementPairs];

// ---- allocation ----
extern bool bSimArraysAllocated;
extern int nSimGridPointsAllocated;  // N at allocation

// The display curve of the total amount (moving hat with bShowSimMass).
extern CCurve* pSimMassCurve;

// Allocates the arrays for N = nLammGridPoints and the blocks the current model
// and algorithm need (or keeps them when they match), builds the grid and returns
// true. False, with everything released, when N is outside
// kMinSimGridPoints..kMaxSimGridPoints or memory is short.
bool AllocSimArrays();
// Frees and reallocates for n nodes. False, changing nothing, when the arrays do
// not exist or n is outside the accepted range.
bool ResizeSimArrays(int n);
// Releases everything and nulls every pointer; safe to call twice.
void FreeSimArrays();
// True when the allocated blocks fit the current model flags and algorithm.
bool SimArraysMatchModel();

// Builds pLammRadius (and for the moving hat pLammRadius2) from fMeniscus, fBottom
// and N for the chosen algorithm: moving hat geometric; static grid equidistant or
// widening (optimised); otherwise cell-centred. Nothing without arrays or with DLS
// data.
void BuildLammGrid();

// The optimised static grid: equidistant up to r*, widening beyond.
extern bool bOptimizedGridPending;
extern double dOptimizedGridRadius;  // r*, cm
extern double dOptimizedGridStep;    // h0, cm
extern bool bOptimizedGridBuilt;     // the last grid built was the widening one
// Resizes the static grid so that it is equidistant up to r* and widens beyond;
// returns the new N.
int OptimizeStaticGridSize(double rStar);
// Refines an optimised static grid towards the bottom for the reduced molar mass
// sigma (cm^-2): the equilibrium exponent reaches 10 at r_B, the spacing grows
// geometrically from there to the bottom. False without arrays or without the
// optimised grid. The caller refines only for a species whose back-diffusion is not
// shut off (one whose material piles up at the bottom), whatever the option says for
// other species.
bool RefineGridAtBottom(double sigma);

// Moves the inner radii of the moving-hat grid to the present time:
// pLammRadius[i] = pLammRadius2[i] exp((dSimTime - dHatT0) dFrameSedOmega2).
void MoveHatGrid();

// ---- the cosolute grid ----
extern int nCosolventPoints;        // n (50)
extern bool bCosolventExtraArrays;  // the second block of 14 arrays
extern bool bCosolventArrays;       // allocated
extern double* pCosolventRadius;    // first of the 22 arrays; equidistant m..b
// The 22 (+ 14) arrays of n + 1 doubles, in allocation order (1-based in k).
double* CosolventArray(int k);
bool AllocCosolventArrays();
void FreeCosolventArrays();

// ---- views of the matrices for the shared finite-element core ----
inline Tridiagonal SimMassMatrix() { return {pMassLower, pMassDiag, pMassUpper}; }
inline Tridiagonal SimTransportMatrix() { return {pTransportLower, pTransportDiag, pTransportUpper}; }
inline Tridiagonal SimStepMatrix() { return {pStepLower, pStepDiag, pStepUpper}; }
inline Tridiagonal SimRhsMatrix() { return {pRhsLower, pRhsDiag, pRhsUpper}; }
inline TridagFactors SimTridagFactors() { return {pTridagGamma, pTridagBeta}; }

// Frees the arrays and restores the grid state to its defaults (tests).
void ResetSimArrays();

}  // namespace tarmic
