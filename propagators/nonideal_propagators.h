// Propagators of one sedimenting component whose s and D depend on the local
// concentration (a non-ideal species, a rapidly self-associating system, the
// kernels of the non-ideal c(s)); the node coefficients come from
// coefficient_models.h. Both take every step as a predictor-corrector pair of
// Crank-Nicolson stages: a trial with the coefficients of the profile before the
// step, then the step with the coefficients averaged between that profile and
// the trial.
//
// The caller prepares the run as for every global-state propagator (sim_run.h):
// the simulation arrays allocated with the model flag set (so that the
// concentration-dependent block exists; for the moving hat also the moving-hat
// block), pLammConc the initial profile (signal units) on the grid, dSimTime,
// dSimDt = dInitialDt, the error limits, dSimRpm and the acceleration state, and
// a progress object whose Start() set the first scan.
//
// The forms here take a SimInput and read no part of the analysis for what it
// carries (settings, rotor, the model's constants in input.coefficients). The forms
// that take settings and the analysis' model record are in nonideal_doors.h.
#pragma once

#include "propagators/coefficient_models.h"
#include "propagators/sim_input.h"

namespace tarmic {

// Static equidistant grid r_i = m + (i - 1) h with adaptive steps: a step whose
// trial changes the profile by more than dMaxRelChange (relative) is shortened,
// one below dMaxRelChangeLow lets the next grow; a negative trial value halves
// the three limits for the rest of the run (restored on return), and more than
// ten halvings end the run as Diverged. With "fix timestep" every step is
// dMaxRelChange seconds. The 1-2-4 and 1-4-8 models always come here.
SimOutcome SolveNonidealLammClaverie(const SimInput& input, SimProgress& progress);

// Moving grid: the inner nodes move outward as r_i = r0_i exp(w^2 s* (t - t0))
// with the frame s* (the automatic s_grid takes the model's s), so that a boundary
// near s* stays resolved; once the nodes have moved by one interval (period
// T = ln(b/m)/((N - 1) w^2 s*)) the profile is handed one node outward and the
// reference grid r0 (pLammRadius2) is laid again. Fixed steps of dMaxRelChange T
// (the first one 1 s). A floating frame (s* < 0) is refused. Sets bHatGridInUse,
// so that the progress places pLammRadius at the real radii before recording.
// A run that goes on past its last scan to the final profile hands the profile
// over to the static grid then (interpolated onto it; bHatGridInUse cleared),
// whose adaptive steps reach the steady-state stop.
// What the run did is given in *report when report is not null.
struct NonidealHatReport {
  int nHatShifts = 0;        // grid shifts (intervals completed)
  double dHatFixedDt = 1.0;  // the fixed step, s
  double dHatInterval = 1e10;  // hat interval T, s
};
SimOutcome SolveNonidealLammMovingHat(const SimInput& input, SimProgress& progress,
                                      NonidealHatReport* report = nullptr);

// The checks of a run's entry before the model's constants are taken: the arrays
// (with the concentration-dependent block; the moving-hat block when movingHat) and
// the cell, rotor and error limit. False with the refusal.
bool NonidealRunCanStart(const SimRunSettings& settings, bool movingHat, SimOutcome* refused);

// The law's constants into input->coefficients for a run of settings, refused in the
// order of the run's own checks: the entry's (NonidealRunCanStart), then the law's
// (PrepareCoefficientModel: InvalidInput with its message). False with the refusal.
bool PrepareNonidealCoefficients(const SimRunSettings& settings, bool movingHat, const CoefficientModelValues& law,
                                 SimInput* input, SimOutcome* refused);


}  // namespace tarmic
