// One Crank-Nicolson step of a finite-element Lamm system with a fixed mass matrix
// M and transport matrix A, M dc/dt = A c:
//   (M - dt/2 A) c_new = (M + dt/2 A) c_old,
// with the factors of the left-hand matrix kept, so that a repeated step of the
// same length on the same matrices costs one product and two substitutions.
//
// Arrays are one-based over rows 1..n (tridiagonal.h); the caller owns them.
#pragma once

#include "lamm/tridiagonal.h"

namespace tarmic {

// Solves (implicit) out = (explicit) start over rows 1..N with matrices already
// formed, the right-hand side going through rhs (all arrays one-based), keeping the
// factors in f. A failed pivot leaves out = start and returns the status of the
// failed solve.
TridagStatus CrankNicolsonStage(ConstTridiagonal implicitM, ConstTridiagonal explicitM,
                                const double* start, double* rhs, double* out, int N,
                                TridagFactors f);

struct CrankNicolsonSystem {
  ConstTridiagonal mass;       // M
  ConstTridiagonal transport;  // A
  Tridiagonal implicitM;       // storage of M - dt/2 A
  Tridiagonal explicitM;       // storage of M + dt/2 A
  double* rhs = nullptr;       // work array of the right-hand side
  TridagFactors factors;       // factors of M - dt/2 A, kept between steps
  int n = 0;                   // rows
};

// Advances old[1..n] by dt into c[1..n]. With refactor the step matrices are
// formed for dt and factorised; otherwise the factors of the last factorising step
// are reused (the caller guarantees the same dt and matrices). On a vanished pivot
// c is restored to old and the status names the pivot.
TridagStatus CrankNicolsonStep(const CrankNicolsonSystem& sys, double dt, bool refactor,
                               const double* old, double* c);

}  // namespace tarmic
