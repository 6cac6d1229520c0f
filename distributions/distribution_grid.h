// The distribution grid: the points, in the model's own unit, at which a continuous
// distribution is resolved (s for the s-grid models, M for the molar-mass models,
// log10 Rh and log10 D for light-scattering data), the companion value of each
// point, the distribution vectors, the prior weights and, for the two-dimensional
// c(s,ff0) models, the (s, f/f0) cells. SetupContiGrid builds all of it at the start
// of an analysis and allocates the kernel array and the normal-equation workspace.
//
// All vectors are one-based float vectors (doubles for the prior) made by the
// allocators of numerics/one_based.h; null while no grid exists.
#pragma once

#include <string>

namespace tarmic {

// Requested number of grid points (kept in pParams[1 + 2 kSpeciesSlots]; 100).
extern float fDistGridCount;
// Number of grid points: the integer part of fDistGridCount.
extern int nDistGrid;
// Grid limits in the model's unit (pParams[1], pParams[1 + kSpeciesSlots]).
extern float fDistMin;
extern float fDistMax;
// [1..nDistGrid]: the grid in its spacing unit (s in S; log10 Rh in m for
// light-scattering data; 0 for the molar-mass models until a run sets s).
extern float* pDistGrid;
// [1..nDistGrid]: the companion value: M (g/mol) for the molar-mass and s-grid
// models, log10 D for light-scattering data, s where no mass applies.
extern float* pDistS;
// [1..nDistGrid]: the distribution, and the Tikhonov-Phillips distribution shown
// beside a maximum-entropy one.
extern float* pDistValues;
extern float* pDistValues2;
// [1..nDistGrid]: prior probability of every grid point (0.01 when made), and a
// second vector of the prior computations.
extern double* pPriorProbability;
extern double* pPriorProbabilityWork;

// c(s,ff0): the f/f0 range and the number of f/f0 values (1.0, 2.0, 10).
extern float fFf0Min;
extern float fFf0Max;
extern int nFf0Values;
// Number of (s, f/f0) cells, nFf0Values x nDistGrid; cell (j-1) nDistGrid + i is
// grid point i of f/f0 row j.
extern int nFf0Grid;
// [1..nFf0Grid]: s, f/f0, M (g/mol), D (cm^2/s), Stokes radius (nm) and value of
// every cell.
extern float* pCsff0S;
extern float* pCsff0Ff0;
extern float* pCsff0M;
extern float* pCsff0D;
extern float* pCsff0Rs;
extern float* pCsff0Values;
// [1..nFf0Values]: the f/f0 of every row, and a second row vector (f/f0 prior).
extern float* pFf0Axis;
extern float* pFf0AxisWork;

// Grid options.
extern bool bUseStoredGrid;   // take the s grid from the stored grid file
extern bool bLogGrid;         // space the s grid logarithmically
extern bool bDLSGridLinearD;  // light-scattering grid even in D
extern bool bDLSGridLogD;     // ... even in log10 D
extern bool bDLSGridLogRh;    // ... even in log10 Rh

// The settings of the last grid that decide whether the kernels of the c(s,ff0)
// models can be used again.
struct Csff0GridKey {
  float gridCount = 0.0f;
  int ff0Grid = 0;
  int ff0Values = 0;
  float distMin = 0.0f;
  float distMax = 0.0f;
  float ff0Min = 0.0f;
  float ff0Max = 0.0f;
};
extern Csff0GridKey sLastCsff0Grid;

// The settings of the grid checked before anything is released: a grid count of at
// least one (and within the int range), at least one f/f0 value for the c(s,ff0)
// models, finite limits, non-negative molar-mass limits, and kernels and workspace
// that fit in the memory available (GridMemoryRefusal, modelfit/param_checks.h).
// The refusal of unusable settings (empty when usable); nothing changes.
std::string ContiGridSettingsRefusal();

// Builds the grid of the active model, its vectors, the kernel array and the
// normal-equation workspace. False when the run must not go on: the settings are
// refused (ContiGridSettingsRefusal, nothing changed), a warning was declined, the
// stored grid is missing, the DLS limits make no grid, the M(s) table is unusable,
// or memory could not be had (the previous distribution is gone by then). The
// refusals and failures meant for the error box go to *error (when given) for the
// caller to show; the questions and warnings of the set-up are shown when met.
bool SetupContiGrid(std::string* error = nullptr);

// The grid rules on their own, for a grid already allocated with n points:
// s evenly spaced from lo to hi, or evenly in ln s (lo > 0).
void FillLinearGrid(float* grid, int n, float lo, float hi);
void FillLogGrid(float* grid, int n, float lo, float hi);
// M evenly spaced in M^(2/3) from lo to hi, with the ends exactly lo and hi.
void FillMolarMassGrid(float* grid, int n, float lo, float hi);

// Releases the grid vectors and makes them anew for n points: pDistGrid, pDistS,
// pDistValues, pDistValues2 zero, pPriorProbability 0.01, pPriorProbabilityWork 0.
void MakeDistributionVectors(int n);

// Writes fDistMin, fDistMax and fDistGridCount into their slots of the parameter
// vector and the species values behind those slots, so that the next packing of
// the parameters keeps them.
void StoreGridLimitsInParams();
// The grid settings from the parameter vector: limits, grid count, stored and
// logarithmic grid switches, and the f/f0 range and count of the c(s,ff0) models.
void ReadGridSettingsFromParams();

// Releases the grid vectors and the c(s,ff0) vectors.
void FreeDistributionVectors();

// The grid vectors and the c(s,ff0) vectors of one distribution with their
// lengths, nDistGrid and nFf0Grid: a distribution held apart from the current one.
struct DistributionVectorSet {
  float *grid = nullptr, *s = nullptr, *values = nullptr, *values2 = nullptr;
  double *prior = nullptr, *priorWork = nullptr;
  float *cellS = nullptr, *cellFf0 = nullptr, *cellM = nullptr, *cellD = nullptr,
        *cellRs = nullptr, *cellValues = nullptr, *ff0Axis = nullptr, *ff0AxisWork = nullptr;
  int distLength = 0, cellLength = 0, rowLength = 0;
  int gridPoints = 0, cells = 0;
};
// Exchanges the current vectors (with nDistGrid and nFf0Grid) and those of set:
// with an empty set the current distribution is taken out (no vector exists
// afterwards); swapping again puts it back.
void SwapDistributionVectors(DistributionVectorSet& set);
// Releases everything and restores the defaults of this file.
void ResetDistributionGrid();

}  // namespace tarmic
