// The solve of the reacting system A + B <--> AB (the method: reacting_system.h) as
// a function of its values: the cell and step settings and the model's values in a
// SimInput, the run's working state (the simulation arrays' reacting block, the
// clock, the step) shared with the caller. It reads no part of the analysis for its
// values and writes what it derives (Ka, the complex's loading) to the caller.
#pragma once

#include "lamm/tridiagonal.h"
#include "propagators/reacting_values.h"
#include "propagators/sim_input.h"
#include "propagators/sim_run.h"

namespace tarmic {

// Solves the reacting model of input.reacting in the cell [input.settings.meniscus,
// input.settings.bottom] from the loading equilibrium until the progress ends the
// run (last scan, interrupt, 's' in a flux table), the total signal stops changing
// (steady state) or a step fails. Preconditions: the simulation arrays allocated
// with the reacting model on, dSimRpm, dSimTime = 0, dMaxRelChange = the fixed step
// (s), a progress whose Start() set the first scan. The grid is its own (geometric,
// at rest): bHatGridInUse is cleared. pLammConc holds the total signal after every
// step. bShowSimMass is on (dSimMass = total signal amount) during the run only.
// *derived receives Ka, ab(0) and extico ab once the input is accepted (untouched
// on a refusal: arrays missing, invalid values).
SimOutcome SolveReactingLamm(const SimInput& input, SimProgress& progress, ReactingDerived* derived);

// The derived values of values, taken as those of the next steps of the running
// solve, and the uniform loading equilibrium in every level when the arrays exist.
ReactingDerived LayReactingLoading(const ReactingValues& values);

// Of the running (or last) solve: the mean over the nodes of |FluxA - FluxB| after
// the last corrector pass, and the passes of the last step.
double ReactingFluxMismatch();
int ReactingCorrectorPasses();
// Forgets the running solve (its values, grid factors and counters).
void ResetReactingRun();

// One fixed step (dMaxRelChange s, cut to land on a scan); returns the relative
// change of the total signal.
double ReactingTimeStep();
// Accepts the step of length dSimDt: time, counters, signal.
void AdvanceReactingTime();
// r_1 = m, r_i = m (b/m)^((i - 1.5)/(N - 1)) for i = 2..N-1, r_N = b, into
// pLammRadius (and pLammRadius2 when it exists); dReactOmega2 from dSimRpm.
void BuildReactingGrid(double meniscus, double bottom);
// M, T_A, T_B, the complex families and the node weights on that grid.
void BuildReactingMatrices();
// pLammConc = extico_a A + extico_b B + extico_ab Ka A B and pComplex = Ka A B.
void ComputeReactingSignal();
// The step of length dSimDt from the Old levels into pFreeA, pFreeB: the coupled
// Crank-Nicolson equations of A and B solved by Newton iterations (a predictor from
// the levels extrapolated along the previous step, then corrector passes until the
// update is at rounding level and the fluxes of A and B agree); the predictor starts
// from levels raised to 0 where the extrapolation is negative, the solution itself
// is not clipped; pComplex, pFluxA, pFluxB, dFluxMismatch updated. More than
// maxCorrectorPasses passes set bSimDiverged, a vanishing pivot bSimFailed.
void CoupledReactingStep();

// out = T xbar + M xdot with xbar = (X + Y)/2, xdot = (X - Y)/h (0 when h = 0): the
// residual of the species' own transport over the step, i.e. the rate at which it
// goes into the complex (minus the complex term).
void ComputeReactionFlux(double* out, const double* X, const double* Y, double h,
                         ConstTridiagonal T);

}  // namespace tarmic
