// The static-grid propagator of one ideal species: Crank-Nicolson steps of the
// finite-element Lamm equation M dc/dt = A c on the fixed grid pLammRadius, with
// the step length adapted so that no value changes by more than dMaxRelChange
// (relative) per step.
//
// It works on the shared simulation state (sim_arrays.h, sim_run.h): the profile
// pLammConc[1..N] is propagated from dSimTime on; after every accepted step the
// progress records due scans and moves dSimStopTime. For a sedimenting species the
// grid may be truncated: only rows iActiveFirst..iActiveLast are solved, the nodes
// before them hold 0 and the nodes after them the plateau c0 exp(-2 s w^2 t).
//
// Units: radii cm, s in svedberg (x 1e-13 where w^2 enters), D cm^2/s, times s,
// rotor speed rpm. Arrays one-based.
#pragma once

#include "propagators/sim_input.h"

namespace tarmic {

// Propagates pLammConc from dSimTime until the progress ends the run, the profile
// is stationary (SteadyState), the boundary has left the fitted range (FitRange) or
// a step fails. Preconditions: arrays allocated for the model, grid built,
// dSimDt, dSimStopTime/bSimLandOnStop set (ScanTimeRecorder::Start), dSimRpm and
// the acceleration state set. Refuses (InvalidInput) non-finite s, D, rpm, a
// non-positive or non-finite dMaxRelChange, grids below kMinSimGridPoints and grids
// whose bottom does not lie beyond the meniscus.
//
// The state of the solve (step bookkeeping, truncation, plateau, the settings and
// the species) lives in the solve and ends with it: a call depends only on its
// arguments and the shared profile, grid and step state it is documented to read.
// Everything it is given comes in input (settings, species, rotor, geometry); it
// reads no part of the analysis for them, only the shared run state above.
SimOutcome SolveLammClaverie(const SimInput& input, SimProgress& progress);
// The same with the rotor and geometry of the current analysis (CurrentSimInput).
SimOutcome SolveLammClaverie(const SimRunSettings& settings, const SimSpecies& species,
                             SimProgress& progress);

// Total amount in a 2-degree sector of 1.2 cm path.
double ClaverieTotalAmount();
double GeometryTotalAmount();

}  // namespace tarmic
