// Moving-hat propagator of one ideal species (constant s and D) on the shared
// simulation arrays.
//
// The inner grid nodes move with a frame, r = r0 exp(sF w^2 (t - t0)), meniscus and
// bottom stay in place; after one hat interval T (the frame has moved by one grid
// ratio) the profile is handed over to the grid shifted by one node. The
// arithmetic is that of lamm/moving_hat_core.h; this file runs it on the global
// arrays: reference grid pLammRadius2, mass pMass*, stiffness pHatStiff*,
// sedimentation x s w^2 pHatSed*, motion pHatMotion*, the whole-interval
// propagator pFullHatRhs* / pFullHatStep* with its factors pFullHatGamma and
// pFullHatBeta, and the step matrices pRhs* (right) / pStep* (left).
//
// The frame moves with the species ("automatic s_grid") or with the s of the
// settings; it runs at the final rotor speed, the species at the current one.
// Steps: with an error limit dMaxRelChange >= 1 and a moving frame, start-up steps
// of 1 s and 0.1 T, a step to the end of the interval, then whole intervals with
// the propagator factorised once; otherwise fixed steps of dMaxRelChange x T
// (dMaxRelChange seconds for a frame at rest). Scans are hit exactly.
//
// Arrays one-based, radii cm, s in S, D cm^2/s, times s.
#pragma once

#include "propagators/sim_input.h"

namespace tarmic {

// Solves from dSimTime on until the progress ends the run (last scan), the
// boundary leaves the fitted range, the profile stops changing (relative change
// of the real profile below dSteadyStateLimit per second over eleven windows of at
// least 30 s), or the solve fails. Preconditions as for every propagator
// (sim_run.h); needs the moving-hat block of the simulation arrays. Sets
// bHatGridInUse and leaves it set: the caller calls MoveHatGrid for the real radii
// of the final profile. A reduced dMaxRelChange (frame s below 1 S with a limit of
// 1 or more: 0.1) holds for the run only.
// The species, settings and rotor come in input; the solve reads no part of the
// analysis for them (not dSimS, dSimD, the rotor fields of the run state).
SimOutcome SolveLammMovingHat(const SimInput& input, SimProgress& progress);
// The same with the rotor and geometry of the current analysis (CurrentSimInput).
SimOutcome SolveLammMovingHat(const SimRunSettings& settings, const SimSpecies& species,
                              SimProgress& progress);

// The total amount in the cell at dSimTime (2-degree sector, 1.2 cm path) for the
// grid of the last solve: the node weights on the reference grid with its ends
// placed for dSimTime, times e^2. 0 without a solve.
double MovingHatTotalAmount();

// Element integrals on the reference grid pLammRadius2 as it stands (its end nodes
// placed for the current time), 0 outside 1..N:
double IntegrateMassElementHat(int i, int j);           // integral of r phi_i phi_j
double IntegrateStiffnessElementHat(int i, int j);      // integral of r phi_i' phi_j'
double IntegrateSedimentationElementHat(int i, int j);  // integral of r^2 phi_i' phi_j
// F = -integral of r v phi_i phi_j', v the node velocity over sF w^2 (end nodes at rest).
double IntegrateFrameMotionElementHat(int i, int j);
double IntegrateRelativeMotionElementHat(int i, int j);  // F - S
double IntegrateNodeWeightHat(int i);                    // integral of r phi_i

}  // namespace tarmic
