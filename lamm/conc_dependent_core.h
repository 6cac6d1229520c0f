// Shared by the solutions with concentration-dependent coefficients (the solver
// object's and the global-state propagators'): the relative change of a trial step
// that drives the step-length control. Their Crank-Nicolson stage is
// CrankNicolsonStage of lamm/crank_nicolson_step.h.
#pragma once

#include "lamm/crank_nicolson_step.h"  // CrankNicolsonStage
#include "lamm/tridiagonal.h"

namespace tarmic {

// Largest relative change from old[1..N] to now[1..N], raised into change (which
// the caller starts at 0). Values below 1e-4 of the largest new value are not
// judged by themselves: a change there that exceeds that threshold is related to a
// neighbour above it (the next node outward first). False, leaving change as it
// was found so far, when a value below -negTolerance appears (the step produced a
// negative concentration).
bool AccumulateRelativeChange(const double* now, const double* old, int N, double negTolerance,
                              double& change);

}  // namespace tarmic
