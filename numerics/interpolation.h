// Resampling of curves from one abscissa grid onto another, and polynomial
// interpolation.
//
// All arrays are one-based (one_based.h): a curve is x[1..n], y[1..n] with x
// ascending (not checked). The resampling family interpolates linearly inside the
// source range and uses a fixed rule beyond its ends:
//   - an output that starts or ends at most one end-interval width beyond the source
//     is extrapolated linearly from that end interval;
//   - farther out, every output point beyond that end gets one constant: the mean of
//     the ten end values of the source (the end value itself when the source has
//     fewer than eleven points).
// Nothing is written unless both curves have at least five points, the ranges
// overlap, and the first five output abscissae lie at or below the fifth source
// abscissa from the end. The result tells whether the output was written (true) or
// left untouched because a guard failed (false), so that callers need not work on
// stale values. Arithmetic is carried in long double and stored in the output's type.
#pragma once

#include <vector>

namespace tarmic {

// float output, float input.
bool InterpolateCurve(int nOut, const float* xOut, float* yOut, int nIn, const float* xIn,
                      const float* yIn);
// float output, double input.
bool InterpolateCurveFromDouble(int nOut, const float* xOut, float* yOut, int nIn,
                                const double* xIn, const double* yIn);
// As InterpolateCurveFromDouble, but adds each resampled value to yOut[i].
bool AddInterpolatedCurveFromDouble(int nOut, const float* xOut, float* yOut, int nIn,
                                    const double* xIn, const double* yIn);
// The resampling of InterpolateCurveFromDouble planned once for fixed abscissae:
// for many curves on the same grids (every scan of a Lamm solution) the positions
// and weights are found once, and each curve then costs one multiply-add per
// output point, in double. The values agree with InterpolateCurveFromDouble to the
// rounding of double arithmetic.
//
// Apply gives y[i] = (float)((1 - w[i]) v[k[i]] + w[i] v[k[i] + 1]): the two
// products and the sum in double, rounded once to float (no fused multiply-add), in
// vector lanes where the processor has AVX-512 or AVX2 and the same bits without.
// One plan is used by one thread at a time.
enum class ResamplingLanes { Plain, Avx2, Avx512 };
class ResamplingPlan {
 public:
  // Plans the resampling of curves on u[1..m] onto x[1..n]; false (an empty plan)
  // when a guard of the resampling family fails.
  bool Plan(int n, const float* x, int m, const double* u);
  // Whether this plan was made for exactly these abscissae (their values).
  bool IsFor(int n, const float* x, int m, const double* u) const;
  // The same for output abscissae that the caller keeps unchanged at one address
  // while it uses the plan: x is compared by its address (and n), u by its values.
  // The caller forgets the plan (Forget) before x may change.
  bool IsForFixedOutput(int n, const float* x, int m, const double* u) const;
  void Forget() { planned_ = false; x_.clear(); u_.clear(); xAt_ = nullptr; }
  // y[1..n] from v[1..m]; false (nothing written) for an empty plan.
  bool Apply(const double* v, float* y) const;
  // As Apply, always in plain code (the reference of the vector form, for tests).
  bool ApplyPlain(const double* v, float* y) const;
  // As Apply in the lanes named; false (nothing written) for an empty plan or lanes
  // the processor does not have.
  bool ApplyInLanes(ResamplingLanes lanes, const double* v, float* y) const;

 private:
  bool planned_ = false;  // a plan that passed the guards
  std::vector<double> u_;  // the abscissae planned for, one-based
  std::vector<float> x_;
  const float* xAt_ = nullptr;  // where x was when planned
  // Output points 1..leadEnd_-1 take leadConst_ of the curve, points trailFrom_..n
  // take trailConst_, the others the line through input points k_[i], k_[i] + 1:
  // (1 - w_[i]) v[k] + w_[i] v[k + 1].
  enum class EndValue { Mean10First, First, Mean10Last, Last };
  int leadEnd_ = 1, trailFrom_ = 1;
  EndValue leadConst_ = EndValue::First, trailConst_ = EndValue::Last;
  std::vector<int> k_;
  std::vector<double> w_;
  bool ApplyEnds(const double* v, float* y) const;
};

// double output, float input.
bool InterpolateCurveToDouble(int nOut, const double* xOut, double* yOut, int nIn,
                              const float* xIn, const float* yIn);
// double output, double input.
bool InterpolateCurveDouble(int nOut, const double* xOut, double* yOut, int nIn,
                            const double* xIn, const double* yIn);

// Linear interpolation onto the output points inside [xIn[1], xIn[nIn]] only; all
// other output points keep their values. No minimum point count (at least two input
// points are needed to form an interval; with one, only an output point equal to it
// is set). Returns false when the ranges do not overlap (nothing written).
bool InterpolateCurveDoubleInside(int nOut, const double* xOut, double* yOut, int nIn,
                                  const double* xIn, const double* yIn);

// Polynomial of degree n-1 through (xa[1..n], ya[1..n]) evaluated at x by Neville's
// algorithm: *y gets the value, *dy the last correction (an error estimate). Two
// equal abscissae end the command through nrerror ("Error in routine polint").
void polint(const float* xa, const float* ya, int n, float x, float* y, float* dy);

}  // namespace tarmic
