// The kernels that are not solutions of the ideal sector-cell Lamm equation: the
// sharp boundaries of non-diffusing species (ls-g*(s), its zone-centrifugation
// form and the electrophoretic ls-g*(v)) and the Lamm equation solutions in the
// planar cell of electrophoresis (c(v) with constant D). Both write the kernel of
// grid point i at every scan; they run in the user-interface thread.
//
// Units: s in S, velocities in um/s, D in cm^2/s, radii in cm, times in s.
#pragma once

#include "propagators/sim_run.h"

namespace tarmic {

class Window;

// Kernel i = the unit-loading profile of a non-diffusing species of s (a velocity
// in um/s for ls-g*(v)) at every scan on the kernel radii radii[1..n]: the boundary
// from the meniscus at m exp(s w^2 t) (m + v t in the planar cell), the plateau
// diluted radially by exp(-2 s w^2 t), a band with zone centrifugation.
void StepBoundaryKernel(int i, double s, const float* radii, int n);

// Kernel i = the Lamm equation solution of unit loading in the planar cell with
// constant drift v (um/s) and diffusion D (cm^2/s), solved on the static grid of
// nDefaultGridPoints nodes and recorded at the scan times. The geometry and
// propagator switches are restored on return.
SimOutcome ElectrophoresisKernel(Window* window, int i, double v, double D);

}  // namespace tarmic
