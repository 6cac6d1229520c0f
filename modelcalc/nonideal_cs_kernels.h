// Kernels of the non-ideal c(s): every species of the distribution sediments with
//   s(r, t) = s0 / (1 + ks c_tot(r, t)),   D(r, t) = D0 (1 + kd c_tot(r, t)),
// where c_tot is the total signal of the whole distribution, read from the
// total-concentration tables (distributions/ctot_tables.h) at every radius of the
// Lamm grid and the middle of every step. The coefficients do not depend on the
// kernel's own profile, so a kernel is linear in its loading and the distribution
// remains a linear superposition of kernels. ks and kd are entered per mg/ml
// (10^fLogKs, 10^fLogKd) and divided by the signal per mg/ml.
//
// Each kernel is one concentration-dependent propagator run in the user-interface
// thread: the algorithm (static grid below the normalised s threshold, moving hat
// above) and the grid size are chosen for the point's s and D as for a discrete
// species, the loading is 1 at every node, and the profiles at the scan times go
// into the kernel rows of the point on the common grid.
//
// Units: s in S, D in cm^2/s, radii in cm, times in s.
#pragma once

#include "propagators/sim_run.h"

namespace tarmic {

class Window;

// Kernel of grid point i (1-based) of the non-ideal c(s) for s (S) and D (cm^2/s).
// Changes the propagator choice and nLammGridPoints as the point needs (the run
// restores the choice afterwards). The outcome is the propagator's; arrays that
// cannot be had, or ks and kd undefined by a non-positive signal per mg/ml, come
// back refused with a message, as does an inhomogeneous solvent with a sedimenting
// cosolute (bFitInterrupted is set then: a series or fit must stop).
SimOutcome NonidealCsKernel(Window* window, int i, double s, double D);

}  // namespace tarmic
