// Element integrals of the special cell geometries, and the numerical (Romberg)
// route for cross-sections that are not a power of r.
//
// Besides the sector-shaped cell the adaptive static-grid propagator handles a
// planar cell ("linear Lamm Equation"), electrophoresis in a planar cell (constant
// drift instead of one proportional to r), a planar cell integrated numerically, and
// the external loading cell, whose channel narrows linearly over a short taper at
// the bottom that is partly filled with oil. The geometry is chosen by the switches
// of lamm_globals.h.
//
// Elements here follow the planar convention: mass = integral of w phi_i phi_j,
// stiffness = integral of w phi_i' phi_j', sedimentation = integral of w r phi_i
// phi_j' (w phi_i phi_j' for electrophoresis), node weight = integral of w phi_i; the
// closed forms of the planar cell give the node weights in units of the grid step.
// Grids are one-based r[1..N]; indices outside 1..N give 0.
#pragma once

#include <functional>

namespace tarmic {

// External loading cell: radial length of the taper (cm), relative narrowing over
// it, its volume (ml) and the cross-section factors (cm) above it.
inline constexpr double kTaperHeight = 0.0373;
inline constexpr double kTaperWidthLoss = 0.311;
inline constexpr double kTaperVolume = 0.0121;
inline constexpr double kCellDepth = 0.32;
inline constexpr double kCellWidth = 1.2;

// The cross-section weight w(r) of the selected geometry.
struct GeometryWeight {
  bool loadingCell = false;   // external loading cell (else w = 1)
  double oilVolume = 0.0;     // ml
  double oilHeight = 0.0;     // height of the oil inside the taper, cm
  double taperStart = kTaperHeight;  // radius where the taper begins, cm
};

// Sets up the weight for the grid r[1..N] from the geometry switches: for the
// external loading cell the oil height h in the taper and the taper start
// r0 = r_N - (A - h).
GeometryWeight SelectGeometryWeight(const double* r, int N);
// 1 above the taper; 1 - (B/A)(r - r0) inside it.
double LoadingCellWeight(const GeometryWeight& g, double r);

// Geometry elements on the grid r[1..N] (meniscus and bottom of the cell in cm).
long double IntegrateMassElementGeom(const double* r, int N, double meniscus, double bottom,
                                     const GeometryWeight& g, int i, int j);
long double IntegrateStiffnessElementGeom(const double* r, int N, double meniscus, double bottom,
                                          const GeometryWeight& g, int i, int j);
long double IntegrateSedimentationElementGeom(const double* r, int N, double meniscus,
                                              double bottom, const GeometryWeight& g, int i, int j);
long double IntegrateNodeWeightGeom(const double* r, int N, double meniscus, double bottom,
                                    const GeometryWeight& g, int i);

// Integral of f over [a, b] by Romberg's method: trapezoid sums with 2^(n-2) new
// points per refinement, extrapolated to zero step over the last five; returns when
// the estimated error is below 3e-6 of the value, or after 20 refinements.
double RombergIntegrate(const std::function<double(double)>& f, double a, double b);

}  // namespace tarmic
