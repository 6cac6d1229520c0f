// Operations of the static-grid Crank-Nicolson solution shared by the solver object
// (CLammIdeal) and the global-state propagator: the matrix rows of the fixed
// radial grid, the error measure of a step, the active window of a truncated grid
// and the small corrections of the profile.
//
// Grids and profiles are one-based arrays r[1..N] (cm) and c[1..N]; the active
// window is the rows first..last that are solved, the nodes before it are held at
// 0 and the nodes after it at the analytic plateau.
#pragma once

namespace tarmic {

// Row i of the mass matrix M (integral of r phi_i phi_j) and of the transport
// matrix A = sw2 S - D K of M dc/dt = A c for a homogeneous solvent, on a system
// whose last node is np: m and a receive the entries (i, i-1), (i, i), (i, i+1).
// The equidistant grid of step h uses the closed forms, a non-uniform grid the
// element integrals. With outflowBottom the last row also loses the flux
// sw2 r^2 c - r D dc/dr through its end (the material leaves the system there).
// sw2 = s w^2 (1/s), D in cm^2/s.
void StaticGridRow(const double* r, int N, int i, int np, bool nonUniform, double h, double sw2,
                   double D, bool outflowBottom, double m[3], double a[3]);

// Largest relative change of a step from old to c over the rows first..last.
// Nodes below 1e-4 cmax (cmax: the caller's reference, at least the largest value)
// are measured against a filled neighbour or skipped. With testNegative a value
// below -negLevel ends the scan and sets *negative (the step must be shortened).
double StaticGridRelativeChange(const double* c, const double* old, int first, int last,
                                double cmax, double negLevel, bool testNegative, bool* negative);

// The scale of the floor 1e-4 cmax below which a node's change is not measured: the
// window maximum, at least cmaxAtLeast (the loading) and at most cmaxAtMost. A
// floating species piles up at the meniscus, inside the window, to hundreds of times
// its plateau; a floor scaled by that peak left the foot of the boundary unmeasured,
// the steps grew and the boundary drifted from the true solution (by 4e-3 of a
// loading of 0.5 within 3400 s). Its cap is the plateau the boundary can hold.
inline constexpr double kNoStepFloorCap = 1e308;
inline double StepFloorScale(double windowMax, double cmaxAtLeast, double cmaxAtMost) {
  const double m = windowMax < cmaxAtMost ? windowMax : cmaxAtMost;
  return m > cmaxAtLeast ? m : cmaxAtLeast;
}

// What one pass over the active window first..last of a static-grid step finds.
struct StaticGridStepMeasure {
  bool finite = true;      // every value of the window finite and at most 1e100
  double windowMax = 0.0;  // the largest value of the window (at least 0)
  double change = 0.0;     // StaticGridRelativeChange with cmax = StepFloorScale(...)
  bool negative = false;   // as *negative of StaticGridRelativeChange
};

// The finite check, the window maximum and the relative change of a step, the same
// values as the separate passes give, in one pass over the window. The change needs
// the floor 1e-4 cmax, which is known only at the end of the pass: the pass measures
// with floorGuess and notes the compared values nearest to it; only when the real
// floor would measure another set of nodes (or a value below -negLevel is found with
// testNegative) is the change measured again. The change is meaningless when the
// window is not finite.
StaticGridStepMeasure MeasureStaticGridStep(const double* c, const double* old, int first,
                                            int last, double cmaxAtLeast, double floorGuess,
                                            double negLevel, bool testNegative,
                                            double cmaxAtMost = kNoStepFloorCap);


// The new first active row: moves right over nodes whose three-point mean is not
// above level, at most to last - 10 and to maxFirst.
// The bounds of the active window on a grid of N nodes: its first row stops at
// leftMax = floor(0.95 N), and a window whose end is cut starts with, and grows by,
// grow = floor(0.1 N) rows.
struct ActiveWindowBounds {
  int leftMax;
  int grow;
};
ActiveWindowBounds ActiveWindowBoundsFor(int N);

// Largest step of a static-grid solution, s: half the time in which the boundary
// moves by its own spread, 0.5 rpm^2 D / s, kept between 10 and 1000 s (1000 s for
// s = 0). s in S, D in cm^2/s, rotor speed in rpm.
double StaticGridStepBound(double s, double D, double rpm);

int AdvanceActiveStart(const double* c, int first, int last, double level, int maxFirst);

// The new last active row: grows by grow rows (to N when within 10 of it) when a
// three-point mean within grow rows of the end has fallen below the plateau level;
// otherwise last.
int GrownActiveEnd(const double* c, int last, int grow, int N, double plateauLevel);

// The edge of an emptied region at row L (> 3): false when the region has refilled
// (five-point mean at least 10 level); values oscillating about their mean are
// replaced by a ramp 5/27..60/27 of it with the same total.
bool SmoothActiveStartEdge(double* c, int L, double level);

// Band loading: nodes below 1e-10 hand their r-weighted value to their neighbours.
void SpreadBandUndershoot(double* c, const double* r, int N);

// Node weights integral of r phi_i dr of node i of the static grid.
double StaticGridNodeWeight(const double* r, int N, int i, bool nonUniform, double h);
// Sum of W_i c_i over the grid (the amount per radian and unit height).
double StaticGridWeightedSum(const double* r, const double* c, int N, bool nonUniform, double h);
// A small negative value at the meniscus is mirrored; node 2 gives up the amount.
void ReflectMeniscusUndershoot(double* c, const double* r, int N, bool nonUniform, double h);

}  // namespace tarmic
