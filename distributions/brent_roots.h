// Brent's root finder (inverse quadratic interpolation with bisection fallback) in
// two versions: double precision for general use, and single precision with a
// widening of the bracket, used by the regularisation and the worm-like-chain
// model. Both take plain function pointers, so a call with a function of either
// precision selects its version unambiguously.
//
// A root that cannot be bracketed, or an iteration that does not converge, is a
// failure: it is reported (error box, or the series code in batch mode) and
// *failed (when given) is set; the returned value must then not be used. Without a
// failure *failed is cleared.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct BrentRootsState {
  // Set once the worm-like-chain model has met an unbracketed root: the first such
  // failure is silent, later ones are reported. Never cleared.
  bool bWormChainWarned = false;
};
// The current analysis' BrentRootsState.
inline BrentRootsState& BrentRoots() { return CurrentPart<BrentRootsState>(); }

// Root of func between x1 and x2 to the absolute tolerance tol (at most 200
// iterations; per step 6e-8 |b| + tol/2). An unbracketed start reports "too many
// iterations finding root" (series code 5); no convergence reports "Maximum number
// of iterations exceeded in zbrent" (series code 4). Both return 0.
double zbrent(double (*func)(double), double x1, double x2, double tol, bool* failed = nullptr);

// Single precision: when func(x1) and func(x2) have the same sign, x2 is doubled up
// to 10 times until they differ. Still unbracketed: "problem in regularization,
// cannot reach chi-square increase; try using fewer scans" (series code 3); with the
// worm-like-chain model the first time nothing is shown, later "problem in finding
// M(s) for low Mw in worm-like chain model". Returns 0 then, as after "Maximum
// number of iterations exceeded in zbrent" (series code 4).
float zbrent(float (*func)(float), float x1, float x2, float tol, bool* failed = nullptr);

}  // namespace tarmic
