// Brent's method in double and single precision.
#include "distributions/brent_roots.h"

#include <cmath>

#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "services/run_switches.h"
#include "numerics/statistics.h"

namespace tarmic {

namespace {

constexpr int kMaxIterations = 200;

template <typename T>
bool SameSign(T a, T b) {
  return (a > 0 && b > 0) || (a < 0 && b < 0);
}

// Brent's iteration from a bracket [x1, x2] (the shared root finder of the numerical
// library); the single-precision callers are evaluated in their own precision.
template <typename T>
bool BrentIterate(T (*func)(T), T x1, T x2, T tol, T* root) {
  const BrentResult r = BrentSearch(
      [func](double x) { return static_cast<double>(func(static_cast<T>(x))); },
      static_cast<double>(x1), static_cast<double>(x2), static_cast<double>(tol), kMaxIterations);
  if (!r.converged) return false;
  *root = static_cast<T>(r.root);
  return true;
}

void SetFailed(bool* failed, bool value) {
  if (failed) *failed = value;
}

}  // namespace

double zbrent(double (*func)(double), double x1, double x2, double tol, bool* failed) {
  SetFailed(failed, true);
  const double fa = func(x1);
  const double fb = func(x2);
  if (SameSign(fa, fb)) {
    ReportDistributionError(5, "too many iterations finding root");
    return 0.0;
  }
  double root = 0.0;
  if (!BrentIterate(func, x1, x2, tol, &root)) {
    ReportDistributionError(4, "Maximum number of iterations exceeded in zbrent");
    return 0.0;
  }
  SetFailed(failed, false);
  return root;
}

float zbrent(float (*func)(float), float x1, float x2, float tol, bool* failed) {
  auto& modelFlagsPart = ModelFlags();
  auto& brentRootsPart = BrentRoots();
  SetFailed(failed, true);
  const float fa = func(x1);
  float fb = func(x2);
  for (int k = 0; k < 10 && SameSign(fa, fb); ++k) {
    x2 *= 2.0f;
    fb = func(x2);
  }
  if (SameSign(fa, fb)) {
    if (bBatchMode || !modelFlagsPart.bCsWormChain) {
      ReportDistributionError(
          3, "problem in regularization, cannot reach chi-square increase; try using fewer scans");
    } else if (brentRootsPart.bWormChainWarned) {
      // The worm-like chain M(s) goes on with 0.
      ShowDistributionError("problem in finding M(s) for low Mw in worm-like chain model");
    } else {
      brentRootsPart.bWormChainWarned = true;
    }
    return 0.0f;
  }
  float root = 0.0f;
  if (!BrentIterate(func, x1, x2, tol, &root)) {
    ReportDistributionError(4, "Maximum number of iterations exceeded in zbrent");
    return 0.0f;
  }
  SetFailed(failed, false);
  return root;
}

}  // namespace tarmic
