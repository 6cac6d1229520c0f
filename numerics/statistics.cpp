// Statistics of the fits.
#include "numerics/statistics.h"

#include <cmath>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/one_based.h"

namespace tarmic {

float CalculateRunsTestZ(const float* const* A, const float* const* B, int first, int last,
                         const int* order, const int* firstPoint, const int* lastPoint) {
  if (A == nullptr || B == nullptr || order == nullptr || firstPoint == nullptr ||
      lastPoint == nullptr)
    return 0.0f;
  // Counts are kept as floats, as the statistic is.
  float nPlus = 0.0f, nMinus = 0.0f, runs = 0.0f;
  for (int k = first; k <= last; ++k) {
    const int s = order[k];
    float sign = 0.0f;
    for (int p = firstPoint[s]; p <= lastPoint[s]; ++p) {
      const float d = A[s][p] - B[s][p];
      if (p == firstPoint[s]) {
        runs += 1.0f;  // every scan opens a new run
        sign = d > 0.0f ? 1.0f : -1.0f;
      } else if (sign * d < 0.0f) {
        runs += 1.0f;
        sign = -sign;
      }
      if (d > 0.0f)
        nPlus += 1.0f;
      else
        nMinus += 1.0f;
    }
  }
  const float n = nPlus + nMinus;
  if (n == 0.0f || n == 1.0f) return 0.0f;
  // For random signs: mean 2 n+ n- / N + 1, variance
  // 2 n+ n- (2 n+ n- - N) / (N^2 (N - 1)).
  const float twoPlusMinus = 2.0f * nPlus * nMinus;
  const float mean = twoPlusMinus / n + 1.0f;
  const float variance = twoPlusMinus * (twoPlusMinus - n) / (n * n * (n - 1.0f));
  const float sigma = std::sqrt(variance);
  if (sigma == 0.0f) return 0.0f;
  return std::fabs(runs - mean + 0.5f) / sigma;
}

double CalculateFProbability(double F, double nu1, double nu2) {
  if (nu1 == 0.0 && nu2 == 0.0) return 0.0;
  return betai(0.5 * nu2, 0.5 * nu1, nu2 / (nu2 + nu1 * F));
}

double CalculateCriticalF(double P, double nu1, double nu2) {
  if (!(P > 0.0 && P < 1.0) || !(nu1 > 0.0) || !(nu2 > 0.0) || !std::isfinite(nu1) ||
      !std::isfinite(nu2)) {
    RaiseError("invalid confidence level or degrees of freedom in CalculateCriticalF");
    return 0.0;
  }
  const double tail = 1.0 - P;
  // g falls from P at F = 0 to -(1 - P) as F grows: exactly one root.
  const auto g = [=](double F) { return CalculateFProbability(F, nu1, nu2) - tail; };
  // Start from [1, 2] and move the ends until the root lies between them: the
  // critical ratio exceeds 2 for small degrees of freedom or high confidence, and
  // is below 1 for confidence levels under 1/2.
  double lo = 1.0, hi = 2.0;
  for (int i = 0; i < 1000 && g(lo) < 0.0; ++i) {
    hi = lo;
    lo *= 0.5;
  }
  for (int i = 0; i < 1000 && g(hi) > 0.0; ++i) {
    lo = hi;
    hi *= 2.0;
  }
  return statzbrent(g, lo, hi, 1e-7);
}

double betai(double a, double b, double x) {
  if (!(x >= 0.0 && x <= 1.0)) nrerror("Bad x in routine betai");
  double bt = 0.0;
  if (x != 0.0 && x != 1.0)
    bt = std::exp(gammln(a + b) - gammln(a) - gammln(b) + a * std::log(x) +
                  b * std::log(1.0 - x));
  // The continued fraction converges fast for x < (a + 1) / (a + b + 2); above, use
  // I_x(a, b) = 1 - I_(1-x)(b, a).
  if (x < (a + 1.0) / (a + b + 2.0)) return bt * betacf(a, b, x) / a;
  return 1.0 - bt * betacf(b, a, 1.0 - x) / b;
}

double betacf(double a, double b, double x) {
  constexpr int MAXIT = 10000;
  constexpr double EPS = 3.0e-7;
  constexpr double FPMIN = 1.0e-30;
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::fabs(d) < FPMIN) d = FPMIN;
  d = 1.0 / d;
  double h = d;
  // Modified Lentz evaluation: each pass applies the even and the odd term.
  for (int m = 1; m <= MAXIT; ++m) {
    const int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < FPMIN) d = FPMIN;
    c = 1.0 + aa / c;
    if (std::fabs(c) < FPMIN) c = FPMIN;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < FPMIN) d = FPMIN;
    c = 1.0 + aa / c;
    if (std::fabs(c) < FPMIN) c = FPMIN;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < EPS) return h;
  }
  nrerror("a or b too big, or MAXIT too small in betacf");
}

double gammln(double x) {
  static const double cof[6] = {76.18009172947146,     -86.50532032941678,
                                24.01409824083091,     -1.231739572450155,
                                0.1208650973866179e-2, -0.5395239384953e-5};
  double y = x;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  for (double c : cof) ser += c / ++y;
  return -tmp + std::log(2.5066282746310007 * ser / x);
}

BrentResult BrentSearch(const std::function<double(double)>& f, double x1, double x2, double tol,
                        int maxIterations) {
  constexpr double EPS = 3.0e-8;
  BrentResult result;
  double a = x1, b = x2, c = x2;
  double d = 0.0, e = 0.0;
  double fa = f(a), fb = f(b);
  result.bracketed = !((fa > 0.0 && fb > 0.0) || (fa < 0.0 && fb < 0.0));
  double fc = fb;
  for (int iter = 1; iter <= maxIterations; ++iter) {
    if ((fb > 0.0 && fc > 0.0) || (fb < 0.0 && fc < 0.0)) {
      // The root lies between b and a: make c the other end.
      c = a;
      fc = fa;
      e = d = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      // Keep b the best estimate.
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double tol1 = 2.0 * EPS * std::fabs(b) + 0.5 * tol;
    const double xm = 0.5 * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0.0) {
      result.root = b;
      result.converged = true;
      return result;
    }
    if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      // Inverse quadratic interpolation (secant when only two points differ).
      const double s = fb / fa;
      double p = 0.0, q = 0.0;
      if (a == c) {
        p = 2.0 * xm * s;
        q = 1.0 - s;
      } else {
        const double qq = fa / fc;
        const double r = fb / fc;
        p = s * (2.0 * xm * qq * (qq - r) - (b - a) * (r - 1.0));
        q = (qq - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (p > 0.0) q = -q;
      p = std::fabs(p);
      const double min1 = 3.0 * xm * q - std::fabs(tol1 * q);
      const double min2 = std::fabs(e * q);
      if (2.0 * p < (min1 < min2 ? min1 : min2)) {
        e = d;  // accept the interpolation
        d = p / q;
      } else {
        d = xm;  // bisect
        e = d;
      }
    } else {
      d = xm;
      e = d;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tol1 ? d : (xm >= 0.0 ? std::fabs(tol1) : -std::fabs(tol1));
    fb = f(b);
  }
  return result;
}

double statzbrent(const std::function<double(double)>& f, double x1, double x2, double tol) {
  const BrentResult result = BrentSearch(f, x1, x2, tol, 100);
  if (!result.bracketed) RaiseError("Root must be bracketed in statzbrent");
  if (!result.converged) {
    RaiseError("Maximum number of iterations exceeded in statzbrent");
    return 0.0;
  }
  return result.root;
}

}  // namespace tarmic
