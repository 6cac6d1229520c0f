#include "lamm/element_integrals.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace tarmic {

namespace {

using LD = long double;

// Three-point Gauss-Legendre rule on [-1, 1]: exact for polynomials of degree 5.
constexpr LD kGaussX[3] = {-0.774596669241483377035853079956479922L, 0.0L,
                           0.774596669241483377035853079956479922L};
constexpr LD kGaussW[3] = {0.555555555555555555555555555555555556L,
                           0.888888888888888888888888888888888889L,
                           0.555555555555555555555555555555555556L};

// Value and slope of hat k on element e = [r_e, r_(e+1)] at x.
inline LD HatOn(const double* r, int e, int k, LD x) {
  const LD a = r[e], b = r[e + 1];
  if (k == e) return (b - x) / (b - a);
  if (k == e + 1) return (x - a) / (b - a);
  return 0.0L;
}
inline LD HatSlopeOn(const double* r, int e, int k) {
  const LD h = static_cast<LD>(r[e + 1]) - r[e];
  if (k == e) return -1.0L / h;
  if (k == e + 1) return 1.0L / h;
  return 0.0L;
}

// Sums f(e, x) * weight over the quadrature points of every element e (1..N-1) on
// which all listed hats are nonzero. f is exact when its degree on an element is at
// most 5.
template <class F>
LD SumOverCommonElements(const double* r, int N, std::initializer_list<int> hats, F f) {
  int lo = 1, hi = N - 1;
  for (int k : hats) {
    if (k < 1 || k > N) return 0.0L;
    lo = std::max(lo, k - 1);
    hi = std::min(hi, k);
  }
  LD sum = 0.0L;
  for (int e = lo; e <= hi; ++e) {
    const LD a = r[e], b = r[e + 1];
    const LD half = (b - a) / 2, mid = (a + b) / 2;
    for (int q = 0; q < 3; ++q) {
      const LD x = mid + half * kGaussX[q];
      sum += kGaussW[q] * half * f(e, x);
    }
  }
  return sum;
}

inline bool Neighbours(int i, int j) { return std::abs(i - j) <= 1; }

}  // namespace

// ---- Two-index closed forms ----------------------------------------------------

long double IntegrateNodeWeight(const double* r, int N, int i, int n) {
  const int m = std::min(n, N);
  if (m < 2 || i < 1 || i > m) return 0.0L;
  const LD r1 = r[1], r2 = r[2];
  if (i == 1) return (r2 - r1) * (r2 + 2 * r1) / 6;
  const LD rm = r[m], rm1 = r[m - 1];
  if (i == m) return (rm - rm1) * (2 * rm + rm1) / 6;
  const LD a = r[i - 1], b = r[i], c = r[i + 1];
  return (c - a) * (a + b + c) / 6;
}

long double IntegrateMassElement(const double* r, int N, int i, int j, int n) {
  const int m = std::min(n, N);
  if (m < 2 || i < 1 || j < 1 || i > m || j > m || !Neighbours(i, j)) return 0.0L;
  if (i == j) {
    if (i == 1) {
      const LD r1 = r[1], r2 = r[2];
      return (r2 - r1) * (3 * r1 + r2) / 12;
    }
    if (i == m) {
      const LD rm = r[m], rm1 = r[m - 1];
      return (rm - rm1) * (3 * rm + rm1) / 12;
    }
    const LD a = r[i - 1], b = r[i], c = r[i + 1];
    return (c - a) * (a + 2 * b + c) / 12;
  }
  const int k = std::min(i, j);
  const LD a = r[k], b = r[k + 1];
  return (b * b - a * a) / 12;
}

long double IntegrateStiffnessElement(const double* r, int N, int i, int j, int n) {
  const int m = std::min(n, N);
  if (m < 2 || i < 1 || j < 1 || i > m || j > m || !Neighbours(i, j)) return 0.0L;
  if (i == j) {
    if (i == 1) {
      const LD r1 = r[1], r2 = r[2];
      return (r1 + r2) / (2 * (r2 - r1));
    }
    if (i == m) {
      const LD rm = r[m], rm1 = r[m - 1];
      return (rm + rm1) / (2 * (rm - rm1));
    }
    const LD a = r[i - 1], b = r[i], c = r[i + 1];
    return b * (c - a) / ((b - a) * (c - b));
  }
  const int k = std::min(i, j);
  const LD a = r[k], b = r[k + 1];
  return -(a + b) / (2 * (b - a));
}

long double IntegrateSedimentationElement(const double* r, int N, int i, int j, int n) {
  const int m = std::min(n, N);
  if (m < 2 || i < 1 || j < 1 || i > m || j > m || !Neighbours(i, j)) return 0.0L;
  if (i == j) {
    if (i == 1) {
      const LD r1 = r[1], r2 = r[2];
      return -(3 * r1 * r1 + 2 * r1 * r2 + r2 * r2) / 12;
    }
    if (i == m) {
      const LD rm = r[m], rm1 = r[m - 1];
      return (3 * rm * rm + 2 * rm * rm1 + rm1 * rm1) / 12;
    }
    const LD a = r[i - 1], b = r[i], c = r[i + 1];
    return -(c - a) * (a + 2 * b + c) / 12;
  }
  const LD ri = r[i], rj = r[j];
  if (j == i - 1) return (ri * ri + 2 * ri * rj + 3 * rj * rj) / 12;
  return -(ri * ri + 2 * ri * rj + 3 * rj * rj) / 12;
}

// ---- Three-index integrals on a general grid -----------------------------------

long double IntegrateStiffnessElement3(const double* r, int N, int i, int j, int k) {
  return SumOverCommonElements(r, N, {i, j, k}, [&](int e, LD x) {
    return x * HatSlopeOn(r, e, i) * HatSlopeOn(r, e, j) * HatOn(r, e, k, x);
  });
}

long double IntegrateSedimentationElement3(const double* r, int N, int i, int j, int k) {
  return SumOverCommonElements(r, N, {i, j, k}, [&](int e, LD x) {
    return x * x * HatSlopeOn(r, e, i) * HatOn(r, e, j, x) * HatOn(r, e, k, x);
  });
}

long double IntegrateMassElement3(const double* r, int N, int i, int j, int k) {
  return SumOverCommonElements(r, N, {i, j, k}, [&](int e, LD x) {
    return x * HatOn(r, e, i, x) * HatOn(r, e, j, x) * HatOn(r, e, k, x);
  });
}

// ---- Equidistant closed forms --------------------------------------------------

double EquidistantStep(double meniscus, double bottom, int N) {
  return N > 1 ? (bottom - meniscus) / (N - 1) : 0.0;
}

long double IntegrateMassElementEquidistant(const double* r, int N, double hd, int i, int j) {
  const LD h = hd;
  const LD ri = r[i];
  if (j == i) {
    if (i == 1) return (ri + h / 4) * h / 3;
    if (i == N) return (ri - h / 4) * h / 3;
    return 2 * ri * h / 3;
  }
  if (j == i + 1 && j <= N) return (ri + h / 2) * h / 6;
  if (j == i - 1 && j >= 1) return (ri - h / 2) * h / 6;
  return 0.0L;
}

long double IntegrateStiffnessElement3Equidistant(const double* r, int N, double hd, int i, int j,
                                                  int k) {
  if (i < 1 || i > N || j < 1 || j > N || k < 1 || k > N) return 0.0L;
  const LD h = hd, ri = r[i];
  if (i == j && j == k) {
    if (i == 1) return (3 * ri + h) / (6 * h);
    if (i == N) return (3 * ri - h) / (6 * h);
    return ri / h;
  }
  if (j == i - 1 && k == i - 1) return (2 * h - 3 * ri) / (6 * h);
  if (j == i - 1 && k == i) return (h - 3 * ri) / (6 * h);
  if (j == i && k == i - 1) return (3 * ri - 2 * h) / (6 * h);
  if (j == i && k == i + 1) return (3 * ri + 2 * h) / (6 * h);
  if (j == i + 1 && k == i) return -(3 * ri + h) / (6 * h);
  if (j == i + 1 && k == i + 1) return -(3 * ri + 2 * h) / (6 * h);
  return 0.0L;
}

long double IntegrateSedimentationElement3Equidistant(const double* r, int N, double hd, int i,
                                                      int j, int k) {
  if (i < 1 || i > N || j < 1 || j > N || k < 1 || k > N) return 0.0L;
  const LD h = hd, ri = r[i];
  if (j > k) std::swap(j, k);  // symmetric in j and k
  if (i == j && j == k) {
    if (i == 1) return -(h * h + 5 * h * ri + 10 * ri * ri) / 30;
    if (i == N) return (h * h - 5 * h * ri + 10 * ri * ri) / 30;
    return -h * ri / 3;
  }
  if (j == i - 1 && k == i - 1) return (6 * h * h - 15 * h * ri + 10 * ri * ri) / 30;
  if (j == i - 1 && k == i) return (3 * h * h - 10 * h * ri + 10 * ri * ri) / 60;
  if (j == i && k == i + 1) return -(3 * h * h + 10 * h * ri + 10 * ri * ri) / 60;
  if (j == i + 1 && k == i + 1) return -(6 * h * h + 15 * h * ri + 10 * ri * ri) / 30;
  return 0.0L;
}

// ---- Moving grid ---------------------------------------------------------------

long double IntegrateFrameElement(const double* r, int N, int i, int j) {
  if (N < 4 || i < 1 || j < 1 || i > N || j > N || !Neighbours(i, j)) return 0.0L;
  const LD r1 = r[1], r2 = r[2], r3 = r[3];
  const LD rN = r[N], rN1 = r[N - 1], rN2 = r[N - 2];
  // End rows: the velocity lacks the pinned end node on the first and last element.
  if (i == 1 && j == 1) return (r1 + r2) * r2 / 12;
  if (i == 1 && j == 2) return -(r1 + r2) * r2 / 12;
  if (i == 2 && j == 1) return (r1 + 3 * r2) * r2 / 12;
  if (i == 2 && j == 2) return (-r1 * r2 + 2 * r2 * r3 + r3 * r3) / 12;
  if (i == N - 1 && j == N - 1) return (rN * rN1 - 2 * rN1 * rN2 - rN2 * rN2) / 12;
  if (i == N - 1 && j == N) return -(3 * rN1 + rN) * rN1 / 12;
  if (i == N && j == N - 1) return (rN + rN1) * rN1 / 12;
  if (i == N && j == N) return -(rN + rN1) * rN1 / 12;
  const LD ri = r[i];
  if (j == i - 1) {
    const LD rj = r[j];
    return (3 * ri * ri + 2 * ri * rj + rj * rj) / 12;
  }
  if (j == i + 1) {
    const LD rj = r[j];
    return -(3 * ri * ri + 2 * ri * rj + rj * rj) / 12;
  }
  const LD a = r[i - 1], c = r[i + 1];
  return (c - a) * (a + 2 * ri + c) / 12;
}

long double IntegrateRelativeFrameElement(const double* r, int N, int i, int j) {
  if (N < 4 || i < 1 || j < 1 || i > N || j > N || !Neighbours(i, j)) return 0.0L;
  const LD r1 = r[1], r2 = r[2], r3 = r[3];
  const LD rN = r[N], rN1 = r[N - 1], rN2 = r[N - 2];
  if (i == 1 && j == 1) return r1 * r1 / 4 + r1 * r2 / 4 + r2 * r2 / 6;
  if (i == 1 && j == 2) return (r1 * r1 + r1 * r2 + 2 * r2 * r2) / 12;
  if (i == 2 && j == 1) return -r1 * r1 / 4 - r1 * r2 / 12 + r2 * r2 / 6;
  if (i == 2 && j == 2) return -r1 * r1 / 12 - r1 * r2 / 4 + r2 * r3 / 3 + r3 * r3 / 6;
  if (i == N - 1 && j == N - 1) return rN * rN / 12 + rN * rN1 / 4 - rN1 * rN2 / 3 - rN2 * rN2 / 6;
  if (i == N - 1 && j == N) return rN * rN / 4 + rN * rN1 / 12 - rN1 * rN1 / 6;
  if (i == N && j == N - 1) return -(rN * rN + rN * rN1 + 2 * rN1 * rN1) / 12;
  if (i == N && j == N) return -rN * rN / 4 - rN * rN1 / 4 - rN1 * rN1 / 6;
  const LD ri = r[i];
  if (j == i - 1) {
    const LD rj = r[j];
    return (ri * ri - rj * rj) / 6;
  }
  if (j == i + 1) {
    const LD rj = r[j];
    return (rj * rj - ri * ri) / 6;
  }
  const LD a = r[i - 1], c = r[i + 1];
  return (c - a) * (a + 2 * ri + c) / 6;
}

// ---- Second grid ----------------------------------------------------------------

namespace {

// v(r) on element e: the interpolant of r with both end nodes held at 0.
inline LD FrameVelocityOn(const double* r, int N, int e, LD x) {
  LD v = 0.0L;
  if (e >= 2 && e <= N - 1) v += r[e] * HatOn(r, e, e, x);
  if (e + 1 >= 2 && e + 1 <= N - 1) v += r[e + 1] * HatOn(r, e, e + 1, x);
  return v;
}

}  // namespace

long double IntegrateFrameMotionElementRef(const double* r, int N, int i, int j) {
  return -SumOverCommonElements(r, N, {i, j}, [&](int e, LD x) {
    return x * FrameVelocityOn(r, N, e, x) * HatOn(r, e, i, x) * HatSlopeOn(r, e, j);
  });
}

long double IntegrateProductStiffnessElement3Ref(const double* r, int N, int i, int j, int k) {
  // (phi_j phi_k)' = phi_j' phi_k + phi_j phi_k'
  return SumOverCommonElements(r, N, {i, j, k}, [&](int e, LD x) {
    const LD d = HatSlopeOn(r, e, j) * HatOn(r, e, k, x) + HatOn(r, e, j, x) * HatSlopeOn(r, e, k);
    return x * HatSlopeOn(r, e, i) * d;
  });
}

long double IntegrateFrameMotionElement3Ref(const double* r, int N, int i, int j, int k) {
  return -SumOverCommonElements(r, N, {i, j, k}, [&](int e, LD x) {
    const LD d = HatSlopeOn(r, e, j) * HatOn(r, e, k, x) + HatOn(r, e, j, x) * HatSlopeOn(r, e, k);
    return x * FrameVelocityOn(r, N, e, x) * HatOn(r, e, i, x) * d;
  });
}

}  // namespace tarmic
