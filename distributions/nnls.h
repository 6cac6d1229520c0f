// Non-negative least squares on the normal equations of a distribution fit, by the
// active-set method of Lawson and Hanson applied directly to A x = b (A the N x N
// normal matrix, so the cost does not grow with the number of data points).
#pragma once

namespace tarmic {

// Solves ppNormalMatrixReg x = pNormalRhs with x >= 0 into pDistSolution, over the
// nNEQUnknowns unknowns of the last build (distribution_storage.h); pNNLSPassive
// marks the unknowns left free. Returns true when x satisfies the optimality
// conditions (every unknown held at 0 has a gradient b - A x of at most 1e-10).
//
// Failures are reported and returned as false, never as a result: "max #iteration
// exceeded in NNLS" after N x N outer steps (series code 1), "matrix not positive
// definite in NNLS" when a passive subsystem cannot be factorised or the equations
// hold a value that is not a number (series code 2).
// pDistSolution then holds the last feasible iterate, which is never negative.
//
// The unknown of a kernel left out (UnknownLeftOut) stays at 0: it is no part of
// the problem.
//
// An unknown whose column is numerically dependent on the free ones (for example
// two identical kernels) is held at 0 instead of making the subsystem singular.
//
// The interrupt is looked at before every step: with bUserAbort set, or a key
// press taken (which sets it), it returns false at once without a report;
// pDistSolution then holds the last feasible iterate.
bool NNLS();

}  // namespace tarmic
