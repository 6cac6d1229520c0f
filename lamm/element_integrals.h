// Finite-element integrals of the linear hat functions on a radial grid.
//
// The Lamm equation dc/dt = (1/r) d/dr (r D dc/dr - s w^2 r^2 c) is discretised
// with piecewise-linear hats phi_i (1 at r_i, 0 at the neighbouring nodes) and the
// radial weight r of the sector-shaped cell. Every solver needs integrals of
// products of hats, hat slopes and powers of r; they are collected here once, as
// free functions of the grid, so that the solver object and the global-state
// propagators use the same code.
//
// Conventions of every function:
//   - r is a one-based array of node radii r[1..N] in cm, strictly ascending;
//   - phi_1 and phi_N are half hats (only their inner element lies in the grid);
//   - the "grid-following" functions take the number of nodes in use n and work on
//     n' = min(n, N) nodes: node n' gets the end formulas of the last node, nodes
//     beyond it do not exist;
//   - an index outside the grid, or a pair (triple) of hats that do not overlap,
//     gives exactly 0;
//   - arithmetic and results are long double; callers store them as double.
//
// The two-index closed forms are exact; the three-index integrals on a general
// grid are evaluated by three-point Gauss-Legendre quadrature per element, which is
// exact for their polynomial integrands (degree <= 5).
#pragma once

namespace tarmic {

// ---- Two-index integrals on the first n' nodes of the grid ---------------------

// Integral of r phi_i dr (the node weight: amount per unit concentration).
long double IntegrateNodeWeight(const double* r, int N, int i, int n);
// Integral of r phi_i phi_j dr (mass matrix, symmetric).
long double IntegrateMassElement(const double* r, int N, int i, int j, int n);
// Integral of r phi_i' phi_j' dr (diffusion stiffness, symmetric).
long double IntegrateStiffnessElement(const double* r, int N, int i, int j, int n);
// Integral of r^2 phi_i' phi_j dr (sedimentation; the slope is on the FIRST index).
long double IntegrateSedimentationElement(const double* r, int N, int i, int j, int n);

// ---- Three-index integrals on the whole grid (any spacing) ---------------------

// Integral of r phi_i' phi_j' phi_k dr.
long double IntegrateStiffnessElement3(const double* r, int N, int i, int j, int k);
// Integral of r^2 phi_i' phi_j phi_k dr.
long double IntegrateSedimentationElement3(const double* r, int N, int i, int j, int k);
// Integral of r phi_i phi_j phi_k dr.
long double IntegrateMassElement3(const double* r, int N, int i, int j, int k);

// ---- Equidistant grid of step h (node radii from r, spacing from h) ------------

// The spacing of the equidistant grid from meniscus to bottom with N nodes, cm.
double EquidistantStep(double meniscus, double bottom, int N);
// Integral of r phi_i phi_j dr. The first index is not range-checked (1..N).
long double IntegrateMassElementEquidistant(const double* r, int N, double h, int i, int j);
// Integral of r phi_i' phi_j' phi_k dr.
long double IntegrateStiffnessElement3Equidistant(const double* r, int N, double h, int i, int j,
                                                  int k);
// Integral of r^2 phi_i' phi_j phi_k dr (symmetric in j and k).
long double IntegrateSedimentationElement3Equidistant(const double* r, int N, double h, int i,
                                                      int j, int k);

// ---- Elements of the moving grid (reference grid r0 whose inner nodes move) ----
//
// The inner nodes move as r = r0 exp(sF w^2 (t - t0)); the two end nodes stay at
// the meniscus and the bottom. u(r) is the node velocity divided by sF w^2: r on
// every element between two moving nodes, r_2 phi_2 on the first and
// r_(N-1) phi_(N-1) on the last element.

// G(i, j) = -integral of r u(r) phi_i phi_j' dr (the motion of the nodes).
long double IntegrateFrameElement(const double* r, int N, int i, int j);
// R = G - Q with Q the sedimentation element: the transport relative to a frame
// that moves with the species.
long double IntegrateRelativeFrameElement(const double* r, int N, int i, int j);

// ---- Second grid of the global-state propagators -------------------------------
//
// The node velocity there is v(r) = sum over k = 2..N-1 of r_k phi_k(r) (the
// interpolant of r with the two end nodes held at 0).

// -integral of r v(r) phi_i phi_j' dr.
long double IntegrateFrameMotionElementRef(const double* r, int N, int i, int j);
// Integral of r phi_i' (phi_j phi_k)' dr.
long double IntegrateProductStiffnessElement3Ref(const double* r, int N, int i, int j, int k);
// -integral of r v(r) phi_i (phi_j phi_k)' dr.
long double IntegrateFrameMotionElement3Ref(const double* r, int N, int i, int j, int k);

}  // namespace tarmic
