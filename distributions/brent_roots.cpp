// Brent's method in double and single precision.
#include "distributions/brent_roots.h"

#include <cmath>

#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "numerics/error_box.h"
#include "numerics/run_switches.h"

namespace tarmic {

bool bWormChainWarned = false;

namespace {

constexpr int kMaxIterations = 200;

template <typename T>
bool SameSign(T a, T b) {
  return (a > 0 && b > 0) || (a < 0 && b < 0);
}

// Brent's iteration from a bracket [x1, x2] with f(x1) = fa, f(x2) = fb. Each step
// keeps the root between b (the best point) and c; it takes the inverse quadratic
// (or secant) step when that stays well inside the bracket and shrinks fast enough,
// else bisects. Converges when half the bracket is within 6e-8 |b| + tol / 2.
template <typename T>
bool BrentIterate(T (*func)(T), T x1, T x2, T fa, T fb, T tol, T* root) {
  T a = x1, b = x2, c = x2, d = 0, e = 0;
  T fc = fb;
  for (int iter = 1; iter <= kMaxIterations; ++iter) {
    if (SameSign(fb, fc)) {
      c = a;
      fc = fa;
      e = d = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const T tol1 = static_cast<T>(6e-8) * std::fabs(b) + static_cast<T>(0.5) * tol;
    const T xm = static_cast<T>(0.5) * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0) {
      *root = b;
      return true;
    }
    if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      const T s = fb / fa;
      T p, q;
      if (a == c) {
        p = 2 * xm * s;
        q = 1 - s;
      } else {
        const T qa = fa / fc;
        const T r = fb / fc;
        p = s * (2 * xm * qa * (qa - r) - (b - a) * (r - 1));
        q = (qa - 1) * (r - 1) * (s - 1);
      }
      if (p > 0) q = -q;
      p = std::fabs(p);
      const T min1 = 3 * xm * q - std::fabs(tol1 * q);
      const T min2 = std::fabs(e * q);
      if (2 * p < (min1 < min2 ? min1 : min2)) {
        e = d;
        d = p / q;
      } else {
        d = xm;
        e = d;
      }
    } else {
      d = xm;
      e = d;
    }
    a = b;
    fa = fb;
    if (std::fabs(d) > tol1) {
      b += d;
    } else {
      b += xm >= 0 ? std::fabs(tol1) : -std::fabs(tol1);
    }
    fb = func(b);
  }
  return false;
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
  if (!BrentIterate(func, x1, x2, fa, fb, tol, &root)) {
    ReportDistributionError(4, "Maximum number of iterations exceeded in zbrent");
    return 0.0;
  }
  SetFailed(failed, false);
  return root;
}

float zbrent(float (*func)(float), float x1, float x2, float tol, bool* failed) {
  SetFailed(failed, true);
  const float fa = func(x1);
  float fb = func(x2);
  for (int k = 0; k < 10 && SameSign(fa, fb); ++k) {
    x2 *= 2.0f;
    fb = func(x2);
  }
  if (SameSign(fa, fb)) {
    if (bBatchMode || !bCsWormChain) {
      ReportDistributionError(
          3, "problem in regularization, cannot reach chi-square increase; try using fewer scans");
    } else if (bWormChainWarned) {
      ShowError("problem in finding M(s) for low Mw in worm-like chain model", false);
    } else {
      bWormChainWarned = true;
    }
    return 0.0f;
  }
  float root = 0.0f;
  if (!BrentIterate(func, x1, x2, fa, fb, tol, &root)) {
    ReportDistributionError(4, "Maximum number of iterations exceeded in zbrent");
    return 0.0f;
  }
  SetFailed(failed, false);
  return root;
}

}  // namespace tarmic
