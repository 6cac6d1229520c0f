// The model computation of the discrete-species models: the single entry that
// turns the current model and its parameters into the predicted signal of every
// loaded scan (the fit rows ppFit on the scans' own radii, and the species signal
// tables on the common grid where amplitudes or noise are solved linearly), then
// runs the linear amplitude and noise step.
//
// Three routes:
//   1. the non-interacting species on velocity data without extras go to the
//      per-species solver objects (species_model_cl.h), as does the non-ideal
//      multiple-species model;
//   2. every other model that needs a Lamm solution (rapid self-association, the
//      non-ideal species, the reacting system A + B <-> AB, non-interacting species
//      with buffer correction, an experimental initial distribution or "c1
//      nonideal") runs the global-state propagators on the shared simulation
//      arrays, with the grid sized per species and the finite-element algorithm
//      chosen automatically when the options say so;
//   3. species on sedimentation-equilibrium data, species on dynamic-light-
//      scattering correlation functions (dls_species_signal.h), non-diffusing
//      species, constant species and the analytic Faxen boundaries (chosen for the
//      non-interacting species, on any data) are computed in closed form.
//
// Units: s in S (x 1e-13 s where w^2 enters), D in cm^2/s (entered in 1e-7 cm^2/s),
// M in g/mol, radii cm, times s, rotor speed rpm (w = rpm 2 pi / 60). Per-scan
// tables are one-based by scan number; display position p is scan pScanOrder[p].
#pragma once

#include "numerics/analysis.h"

#include <vector>

#include "modelcalc/fit_rmsd.h"
#include "modelcalc/model_steps.h"
#include "scandata/initial_data.h"
#include "scandata/scan_info.h"

namespace tarmic {

class Window;
struct ModelInput;

// ---- experimental initial distribution ----
// The measured profile the model starts from with "Experimental Initial
// Distribution": radii (cm) and signal [1..nInitialPoints], and the description of
// the scan it came from (its time is the start time of the simulation). 0 points:
// none; the model computation then takes the first scan.
// They are the data set's initial profile (scandata/initial_data.h).
// Releases the initial distribution (when the data it belongs to are freed).
void FreeInitialDistribution();

// The state of this module in an analysis (numerics/analysis.h).
struct ModelComputationState {
  // ---- automatic grid size ----
  int nStaticGridEstimate = 0;  // equidistant static-grid size of the last sized species
  double nHatGridEstimate = 0.0;  // moving-hat grid size of the last sized species
  double fOptimizeRadius = 0.0;  // r*, cm: where the boundary must be resolved
};
// The current analysis' ModelComputationState.
inline ModelComputationState& ModelComputation() { return CurrentPart<ModelComputationState>(); }

// What the grid sizing decided for one species' solve.
struct SpeciesGridChoice {
  bool outflowBottom = false;  // back-diffusion from the bottom shut off
  bool noTruncation = false;   // implausible s and D: no grid truncation in this solve
};
// Sizes the grid of the shared simulation arrays for a species of s (S) and D
// (cm^2/s): the boundary spread sigma = sqrt(D t*) at the time t* the boundary
// reaches the first point inside the fit limits (sigma >= 0.001 cm) gives the
// spacing sigma / fPointsPerSigma; the equidistant count (b - m) / spacing, or the
// moving-hat count whose second interval matches the spacing, clamped to the grid
// limits; an optimised static grid when back-diffusion is shut off. A species that
// does not sediment (s = 0) is sized by its diffusion over the whole run (t* = the
// last scan's time). A frictional ratio below 0.5 (s and D implausible) takes the
// default grid size without truncation. The cell is [meniscus, bottom] (cm).
SpeciesGridChoice SizeGridForSpecies(double s, double D, double meniscus, double bottom);

// The rotor of the simulations: the final speed of the last scan and, with "ramp
// rotor speed" on velocity data, the acceleration of the first scan's record (off
// when it lasts under 10 s).
void SetUpRotorRamp();

// The "normalized s" above which the moving hat is chosen: T / (rpm_last / 30000)^2
// with T the threshold of the options (the optimised one when allowOptimized and
// the static grid is optimised with the automatic grid size, not for zone
// centrifugation).
double NormalizedSThreshold(bool allowOptimized);

// The model computation (see above). Returns how it ended: NotStarted without scans,
// without meniscus and bottom ("set Meniscus and Bottom first"; not needed for DLS
// data), or when the shared arrays cannot be had; Failed when a solution
// failed after its retries (its message shown; the fit holds what the last attempt
// recorded, the scans it did not reach hold 0); Interrupted when the user stopped a
// solution (the remaining species are skipped; the linear step still runs).
// bModelComputed is set for a complete computation only.
//
// Lasting effects besides the fit: the automatic algorithm choice (bMovingHat,
// bClaverie, bFixTimeStep, bAutoSGrid), nLammGridPoints and the size of the shared
// arrays, bUniformLoading/bInitialDataProfile after the reacting model, an initial
// distribution taken from the first scan, default fit limits, dAccelDtMax.
//
// The model's values (species, cell, switches) are in's (model_input.h): the
// computation and the layers below it read them from there, not from the analysis'
// model, and write none of its vector and amplitudes: what the linear step solved
// is result.linear. (The switches and records kept for the display and the fits
// are set as before: the linear switch turned off for intensity correlations of
// several species, the buffer slot linked, D in cm^2/s in the records.) The
// form without an input computes the model of the current analysis: its input
// (CurrentModelInput, with the data set's cell taking the vector's once it is set)
// computed, and the step's values kept in the analysis (KeepLinearStepResult)
// (model_computation_door.cpp).
ModelResult CalculateModel(Window* window, const ModelInput& in);
ModelResult CalculateModel(Window* window);

// Restores every value of this file to its default (tests).
void ResetModelComputation();

}  // namespace tarmic
