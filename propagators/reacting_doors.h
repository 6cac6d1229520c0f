// The reacting system's forms that take the values from the current analysis'
// model record (ReactingSystemState), for the callers that work on the record as it
// stands (the model's commands, tests and benchmarks). The model computation takes
// its values from its input and does not include this header, so a call of these
// forms there does not compile.
#pragma once

#include "propagators/reacting_system.h"

namespace tarmic {

// The model's values of the record for a solve (the flux tables as
// FluxTablesEnabled() says now).
ReactingValues CurrentReactingValues();

// Solves the record's values (fReactDA/DB/DAB in cm^2/s) and keeps what the solve
// derives in the record, as the form that takes the values does.
SimOutcome SolveReactingLamm(const SimRunSettings& settings, SimProgress& progress);

// Ka, ab(0), extico of AB of the record; the uniform loading equilibrium in every
// level when the arrays exist.
void InitReactingSystem();

// Replaces the record's masses fReactDA/DB/DAB by D in cm^2/s for a solve (as
// ReactingMassesToD of reacting_values.h); false, changing nothing, when it cannot.
bool ReactingMassesToD(bool massAndS, double rt, double vRho);

}  // namespace tarmic
