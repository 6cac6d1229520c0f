#include "lamm/static_grid_core.h"

#include <algorithm>
#include <cmath>

#include "lamm/element_integrals.h"
#include "lamm/fe_assembly.h"

namespace tarmic {

void StaticGridRow(const double* r, int N, int i, int np, bool nonUniform, double h, double sw2,
                   double D, bool outflowBottom, double m[3], double a[3]) {
  if (nonUniform) {
    for (int k = 0; k < 3; ++k) {
      const int j = i - 1 + k;
      m[k] = static_cast<double>(IntegrateMassElement(r, N, i, j, np));
      a[k] = static_cast<double>(sw2 * IntegrateSedimentationElement(r, N, i, j, np) -
                                 D * IntegrateStiffnessElement(r, N, i, j, np));
    }
  } else {
    EquidistantLammRow(r[i], h, i, np, sw2, D, m, a);
  }
  if (i == 1) m[0] = a[0] = 0.0;
  if (i == np) m[2] = a[2] = 0.0;
  if (outflowBottom && i == np) {
    // Flux of the end node, r D dc/dr - sw2 r^2 c with dc/dr from the last element.
    const double g = r[np] - r[np - 1];
    a[0] += D * r[np] / g;
    a[1] -= sw2 * r[np] * r[np] + D * r[np] / g;
  }
}

namespace {

// The scan of StaticGridRelativeChange node by node, from the last row down: it
// stops at the first value below -negLevel.
double RelativeChangeScan(const double* c, const double* old, int first, int last, double floor,
                          double negLevel, bool testNegative, bool* negative) {
  double e =
      (c[last] > floor && old[last] >= floor) ? std::fabs((c[last] - old[last]) / old[last]) : 0.0;
  for (int i = last - 1; i >= first; --i) {
    if (testNegative && c[i] < -negLevel) {
      *negative = true;
      return e;
    }
    const double diff = c[i] - old[i];
    double ref = old[i];
    if (ref <= floor) {
      // A nearly empty node: its change is measured against a filled neighbour.
      if (diff <= floor) continue;
      ref = old[i + 1];
      if (ref <= floor) {
        if (i < 2 || old[i - 1] <= floor) continue;
        ref = old[i - 1];
      }
    }
    e = std::max(e, std::fabs(diff / ref));
  }
  return e;
}

}  // namespace

double StaticGridRelativeChange(const double* c, const double* old, int first, int last,
                                double cmax, double negLevel, bool testNegative, bool* negative) {
  *negative = false;
  const double floor = 1e-4 * cmax;
  if (testNegative) {
    bool any = false;
    for (int i = first; i < last; ++i) any |= c[i] < -negLevel;
    // Rare: the node-by-node scan finds the first one from the end.
    if (any) return RelativeChangeScan(c, old, first, last, floor, negLevel, true, negative);
  }
  if (first >= last) return RelativeChangeScan(c, old, first, last, floor, negLevel, false, negative);
  double e =
      (c[last] > floor && old[last] >= floor) ? std::fabs((c[last] - old[last]) / old[last]) : 0.0;
  int i = first;
  if (first == 1) {
    // Row 1 has no left neighbour.
    const double diff = c[1] - old[1];
    const bool own = old[1] > floor;
    if (own || (diff > floor && old[2] > floor)) e = std::max(e, std::fabs(diff / (own ? old[1] : old[2])));
    i = 2;
  }
  // Every node's ratio |diff| / ref with selections instead of branches (0 for a
  // node that is skipped) and no division that a selection drops, so that the loop
  // runs without mispredicted branches or in vector lanes; the largest ratio does not
  // depend on the order.
  for (; i < last; ++i) {
    const double diff = c[i] - old[i];
    const double own = old[i], right = old[i + 1], left = old[i - 1];
    const bool measured = own > floor || (diff > floor && (right > floor || left > floor));
    const double ref = own > floor ? own : (right > floor ? right : left);
    const double ratio = (measured ? std::fabs(diff) : 0.0) / (measured ? ref : 1.0);
    e = ratio > e ? ratio : e;
  }
  return e;
}

ActiveWindowBounds ActiveWindowBoundsFor(int N) {
  return {static_cast<int>(std::floor(0.95 * N)), static_cast<int>(std::floor(0.1 * N))};
}

double StaticGridStepBound(double s, double D, double rpm) {
  const double bound = s == 0 ? 1000.0 : 0.5 * rpm * rpm * D / s;
  return std::clamp(bound, 10.0, 1000.0);
}

int AdvanceActiveStart(const double* c, int first, int last, double level, int maxFirst) {
  for (int i = first; i <= last - 10; ++i) {
    if ((c[i] + c[i + 1] + c[i + 2]) / 3 > level) break;
    first = i;
  }
  return std::min(first, maxFirst);
}

int GrownActiveEnd(const double* c, int last, int grow, int N, double plateauLevel) {
  for (int i = last; i >= std::max(3, last - grow); --i) {
    if ((c[i] + c[i - 1] + c[i - 2]) / 3 < plateauLevel) {
      const int edge = last + grow;
      return edge > N - 10 ? N : edge;
    }
  }
  return last;
}

bool SmoothActiveStartEdge(double* c, int L, double level) {
  const double m = (c[L - 1] + c[L] + c[L + 1] + c[L + 2] + c[L + 3]) * 0.2;
  if (m >= 10 * level) return false;
  if ((c[L] - m) * (c[L - 1] - m) < 0 && (c[L + 1] - m) * (c[L] - m) != 0) {
    // 5 + 10 + 20 + 40 + 60 = 135 = 5 x 27: the ramp keeps the sum 5 m.
    c[L - 1] = 5 * m / 27;
    c[L] = 10 * m / 27;
    c[L + 1] = 20 * m / 27;
    c[L + 2] = 40 * m / 27;
    c[L + 3] = 60 * m / 27;
  }
  return true;
}

void SpreadBandUndershoot(double* c, const double* r, int N) {
  for (int i = 2; i < N; ++i) {
    if (c[i] < 1e-10) {
      c[i - 1] += 0.5 * c[i] * r[i] / r[i - 1];
      c[i + 1] += 0.5 * c[i] * r[i] / r[i + 1];
      c[i] = 0.0;
    }
  }
}

double StaticGridNodeWeight(const double* r, int N, int i, bool nonUniform, double h) {
  if (nonUniform) return static_cast<double>(IntegrateNodeWeight(r, N, i, N));
  if (i == 1) return (3 * r[1] + h) * h / 6;
  if (i == N) return (3 * r[N] - h) * h / 6;
  return r[i] * h;
}

double StaticGridWeightedSum(const double* r, const double* c, int N, bool nonUniform, double h) {
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) sum += StaticGridNodeWeight(r, N, i, nonUniform, h) * c[i];
  return sum;
}

void ReflectMeniscusUndershoot(double* c, const double* r, int N, bool nonUniform, double h) {
  const double w1 = StaticGridNodeWeight(r, N, 1, nonUniform, h);
  const double w2 = StaticGridNodeWeight(r, N, 2, nonUniform, h);
  // W1 c1 + W2 c2 is kept: c1 -> -c1 adds -2 W1 c1, node 2 gives it up.
  const double d = -c[1] * w1 / w2;
  c[1] = -c[1];
  c[2] -= 2 * d;
}

}  // namespace tarmic
