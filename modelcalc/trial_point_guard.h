// The one check every search of a fit passes a trial point through before any model
// is computed from it. A search can propose a point that is no point of the fit:
// the annealing's simplex, wandering over parameters whose models are refused (all
// one value), expands without bound until a value overflows and the next trial
// holds NaN. Such a point is refused before the evaluation: no solver sees it, and
// it is no refused trial of the fit (nothing computed it).
//
// A trial point is refused when a value is no number or infinite, or when its
// magnitude exceeds kAbsurdTrialFactor times the larger of its start value's
// magnitude and 1: no search of a fit moves a value by six orders of magnitude (an
// s of 20 S to 2e7 S, a D of 1e-7 cm^2/s to 0.1 cm^2/s), and the model of such a
// value is meaningless or too costly to compute.
//
// Vectors are one-based [1..n], in the units of the fit vector they guard. Not
// thread-safe on one object (it holds no state that changes after construction).
#pragma once

#include <vector>

namespace tarmic {

inline constexpr float kAbsurdTrialFactor = 1e6f;

class TrialPointGuard {
 public:
  // No start known: only values that are no finite number are refused.
  TrialPointGuard() = default;
  // start[1..n]: the fit vector the search starts from (start[0] unused).
  explicit TrialPointGuard(std::vector<float> start);
  // The trial point p[1..n] (n of the start; every value when none is known is
  // checked for finiteness only up to the length given) may be evaluated.
  bool Admits(const float* p, int n) const;

 private:
  std::vector<float> limit_;  // [1..n]: the largest magnitude of each value
};

}  // namespace tarmic
