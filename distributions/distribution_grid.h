// The distribution grid: the points, in the model's own unit, at which a continuous
// distribution is resolved (s for the s-grid models, M for the molar-mass models,
// log10 Rh and log10 D for light-scattering data), the companion value of each
// point, the distribution vectors, the prior weights and, for the two-dimensional
// c(s,ff0) models, the (s, f/f0) cells. SetupContiGrid (conti_grid_setup.h) builds all of it at the start
// of an analysis and allocates the kernel array and the normal-equation workspace.
//
// All vectors are one-based float vectors (doubles for the prior) made by the
// allocators of numerics/one_based.h; null while no grid exists.
#pragma once

#include "numerics/analysis.h"
#include "services/answer_policy.h"

#include <string>

namespace tarmic {

// Requested number of grid points (kept in pParams[1 + 2 kSpeciesSlots]; 100).
// Grid limits in the model's unit (pParams[1], pParams[1 + kSpeciesSlots]).

// c(s,ff0): the f/f0 range and the number of f/f0 values (1.0, 2.0, 10).

// The vectors of one distribution with their lengths, one object that owns them.
// The distribution on show is the one instance gDistributionVectors; the names
// below are references to its members, so that code reads and writes the
// distribution by them. A distribution held apart from the one on show (set aside
// while a run builds its own, distribution_plot.h) is a DistributionVectorSet of its
// own, exchanged with the current one by std::swap: every member, one added later as
// well, changes place with no list to keep. With an empty set the current
// distribution is taken out (no vector exists afterwards, nDistGrid and nFf0Grid are
// 0); swapping again puts it back. The vectors stay where they are, so views of them
// (the plot's CVector objects) stay valid through a swap.
struct DistributionVectorSet {
  // Number of grid points: the integer part of fDistGridCount (100 before any grid).
  int nDistGrid = 0;
  // [1..nDistGrid]: the grid in its spacing unit (s in S; log10 Rh in m for
  // light-scattering data; 0 for the molar-mass models until a run sets s).
  float* pDistGrid = nullptr;
  // [1..nDistGrid]: the companion value: M (g/mol) for the molar-mass and s-grid
  // models, log10 D for light-scattering data, s where no mass applies.
  float* pDistS = nullptr;
  // [1..nDistGrid]: the distribution, and the Tikhonov-Phillips distribution shown
  // beside a maximum-entropy one.
  float* pDistValues = nullptr;
  float* pDistValues2 = nullptr;
  // [1..nDistGrid]: prior probability of every grid point (0.01 when made), and a
  // second vector of the prior computations.
  double* pPriorProbability = nullptr;
  double* pPriorProbabilityWork = nullptr;
  // c(s,ff0): number of (s, f/f0) cells, nFf0Values x nDistGrid; cell
  // (j-1) nDistGrid + i is grid point i of f/f0 row j.
  int nFf0Grid = 0;
  // [1..nFf0Grid]: s, f/f0, M (g/mol), D (cm^2/s), Stokes radius (nm) and value of
  // every cell.
  float* pCsff0S = nullptr;
  float* pCsff0Ff0 = nullptr;
  float* pCsff0M = nullptr;
  float* pCsff0D = nullptr;
  float* pCsff0Rs = nullptr;
  float* pCsff0Values = nullptr;
  // [1..nFf0Values]: the f/f0 of every row, and a second row vector (f/f0 prior).
  float* pFf0Axis = nullptr;
  float* pFf0AxisWork = nullptr;
  // Lengths with which the grid, cell and row vectors were made (for their release).
  int distLength = 0;
  int cellLength = 0;
  int rowLength = 0;

  bool operator==(const DistributionVectorSet&) const = default;
};

// The state before any grid: no vector, nDistGrid at the default grid count.
inline constexpr DistributionVectorSet kInitialDistributionVectors{.nDistGrid = 100};
// The distribution on show in the current analysis (numerics/analysis.h).
struct DistributionVectorsPart {
  DistributionVectorSet vectors = kInitialDistributionVectors;
  // The grid, cell and row vectors, given back when the analysis ends.
  void ReleaseAtAnalysisEnd();
};
inline DistributionVectorSet& DistributionVectors() { return CurrentPart<DistributionVectorsPart>().vectors; }


// Grid options.

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

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionGridState {
  float fDistGridCount = 100.0f;
  float fDistMin = 0.0f;
  float fDistMax = 0.0f;
  float fFf0Min = 1.0f;
  float fFf0Max = 2.0f;
  int nFf0Values = 10;
  bool bUseStoredGrid = false;  // take the s grid from the stored grid file
  bool bLogGrid = false;  // space the s grid logarithmically
  bool bDLSGridLinearD = false;  // light-scattering grid even in D
  bool bDLSGridLogD = false;  // ... even in log10 D
  bool bDLSGridLogRh = false;  // ... even in log10 Rh
  Csff0GridKey sLastCsff0Grid{};
};
inline DistributionGridState& DistributionGrid() { return CurrentPart<DistributionGridState>(); }

// The settings of the grid checked before anything is released: a grid count of at
// least one (and within the int range), at least one f/f0 value for the c(s,ff0)
// models, finite limits, non-negative molar-mass limits, and kernels and workspace
// that fit in the memory available (GridMemoryRefusal, modelfit/param_checks.h).
// The refusal of unusable settings (empty when usable); nothing changes.
std::string ContiGridSettingsRefusal();
// The s grid from lo to hi of a model whose kernels take M, and D, from s by the
// frictional ratio, against the buoyancy 1 - vbar x density: a species floats
// (s < 0) only when vbar x density exceeds 1 and sediments only when it is below 1,
// so s of the other sign have no M and no D. Empty when the grid is usable or the
// model takes D otherwise; else the refusal naming the grid, vbar and density.
// Checked by the Run after the values' ranges (RunValuesRefusal), and by
// SetupContiGrid on a stored grid once it is read.
std::string BuoyancySignRefusal(double lo, double hi);

// The two halves of the grid set-up (SetupContiGrid, distributions/conti_grid_setup.h,
// lays out the plot between them). BuildContiGridPoints: the vectors, the grid of
// the active model and its prior; false (with *error, when a refusal is meant for
// the error box) when the stored grid is missing, a warning was declined or the
// DLS limits make no grid; the warnings of the grid against the fit limits are asked
// of answers. AllocContiGridWorkspace: the kernel array, the
// normal-equation workspace and the tables of the M(s)-table and nonideal models;
// false when memory could not be had or the M(s) table is unusable. Both take a
// non-null error.
bool BuildContiGridPoints(const AnswerPolicy& answers, std::string* error);
bool AllocContiGridWorkspace(std::string* error);
// Whether the grid set-up of the active continuous model writes the stored grid
// file (szSdistPath): an s grid built anew ("s grid from file" off, which the
// set-up reads from the parameter vector) on sedimentation data. The molar-mass
// grids, the light-scattering grids and a grid read from the file write none.
bool GridSetupWritesStoredGrid();

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

// Releases everything and restores the defaults of this file.
void ResetDistributionGrid();

}  // namespace tarmic
