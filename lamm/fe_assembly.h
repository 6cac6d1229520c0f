// Assembly of the finite-element matrices of the Lamm equation, shared by the
// solution variants: the closed-form rows on an equidistant grid, and the
// element integrals and transport matrix for coefficients s(r), D(r) that vary
// linearly between the nodes.
#pragma once

#include "lamm/tridiagonal.h"

namespace tarmic {

// Row i of the mass matrix M (integral of r phi_i phi_j) and of the transport matrix
// A = sw2 S - D K (S = integral of r^2 phi_i' phi_j, K = integral of r phi_i' phi_j')
// on an equidistant grid of step h whose last node is np: m and a receive the
// entries (i, i-1), (i, i), (i, i+1). sw2 = s w^2 (1/s), D in cm^2/s.
void EquidistantLammRow(double ri, double h, int i, int np, double sw2, double D, double m[3],
                        double a[3]);

// Every row of M and A (constant s w^2 = sw2 and D) on the equidistant grid r[1..N]
// of step h whose last node is N: a closed cell.
void EquidistantLammMatrices(const double* r, int N, double h, double sw2, double D,
                             Tridiagonal mass, Tridiagonal transport);

// The seven (column j, coefficient node k) pairs of a row i of the three-index
// elements, in this order: (i,i-1) (i-1,i-1) (i,i) (i-1,i) (i+1,i) (i,i+1) (i+1,i+1).
inline constexpr int kElementPairs = 7;

// For every row i = 1..N: the mass entries into M, the diffusion integrals
// Dif(i,j,k) = integral of r phi_i' phi_j' phi_k into diff[0..6][i] and w2 times the
// sedimentation integrals Sed(i,j,k) = integral of r^2 phi_i' phi_j phi_k into
// sed[0..6][i] (w2 = w^2 1e-13). With equidistant set, the closed forms of the grid
// of step h are used; otherwise the integrals of the actual grid.
void ThreeIndexElements(const double* r, int N, bool equidistant, double h, double w2,
                        Tridiagonal M, double* const diff[kElementPairs],
                        double* const sed[kElementPairs]);

// Row i of the same integrals on a grid of any spacing: mass entries (i, i-1),
// (i, i), (i, i+1) into mass, the seven diffusion and sedimentation integrals (the
// latter times w2) into diff and sed. Entries of nodes outside 1..N are 0.
void GeneralElementRow(const double* r, int N, int i, double w2, double mass[3],
                       double diff[kElementPairs], double sed[kElementPairs]);

// Transport matrix A(i,j) = sum over k of (s_k Sed(i,j,k) - D_k Dif(i,j,k)) for node
// coefficients s[1..N] (S) and D[1..N] (cm^2/s): the weak form of the Lamm equation
// with s(r) and D(r) interpolated linearly between the nodes, closed ends. With
// openBottom and s_N > 0 the flux through the bottom leaves the cell:
// row N loses r_N^2 s_N w2 c_N + r_N D_N (c_N - c_(N-1)) / (r_N - r_(N-1)).
void VariableCoefficientTransport(const double* r, int N, const double* const diff[kElementPairs],
                                  const double* const sed[kElementPairs], const double* s,
                                  const double* D, double w2, bool openBottom, Tridiagonal A);
// The two parts of that transport for rows from..to, closed ends:
// S(i,j) = sum over k of s_k Sed(i,j,k) and G(i,j) = sum over k of D_k Dif(i,j,k), so
// that A = S - G. A solver whose diffusion is scaled (D / e^2 on a moving grid) forms
// both parts once and combines them for each scale.
void VariableCoefficientParts(int N, const double* const diff[kElementPairs],
                              const double* const sed[kElementPairs], const double* s,
                              const double* D, Tridiagonal S, Tridiagonal G, int from, int to);

}  // namespace tarmic
