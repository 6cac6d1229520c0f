// The points a derivative-free search has evaluated, and what a quadratic surface
// through the lowest of them says of the minimum.
//
// The objective of the model fits is the rmsd of a whole model computation over
// `points` fit points. Near the minimum the sum of squares is close to a quadratic
// in the parameters, but an objective computed by a solver with its own step
// control (the Lamm kernels) is smooth only to the solver's accuracy: its values
// scatter about that quadratic by about a chi-square unit on a large data set. A
// search that compares single values then goes on "improving" by the scatter,
// evaluation after evaluation, and the lowest value it finds lies where the scatter
// happened to be low, not nearer the minimum. A least-squares quadratic through
// many evaluated points averages the scatter out and places the minimum to a small
// fraction of a standard error.
//
// Vectors are one-based (p[1..n]), as the searches pass them. Not thread-safe.
#pragma once

#include <vector>

namespace tarmic {

// The window of the points the surface is fitted to, in chi-square units above the
// lowest value: a few standard errors round the minimum, where the sum of squares
// is close to quadratic.
inline constexpr double kSurfaceWindow = 50.0;

// What the surface says of the lowest point evaluated.
struct SurfaceVerdict {
  // The surface is determined: at least twice as many points in the window as it
  // has coefficients, a curvature that is positive in every direction, and a
  // minimum within the extent of those points (not extrapolated).
  bool determined = false;
  // How far the lowest point lies above the surface's minimum, in chi-square units
  // (a point k standard errors away lies k^2 / 2 ... k^2 above it).
  double gain = 0.0;
};

class EvaluatedPoints {
 public:
  // Records p[1..n] and its value. Values without a result (not finite, or at or
  // above kNoModelRmsd) are not kept; every point of one record has the n of the
  // first (others are not kept).
  void Add(const float* p, int n, float y);
  void Clear();
  int Count() const { return static_cast<int>(y_.size()); }
  // The full quadratic in the entries (1, u_i, u_i u_j), least squares over the
  // lowest points within kSurfaceWindow of the lowest value (at most 400), the
  // values in chi-square units, chi2 - chi2_lowest ~ points ((y / y_lowest)^2 - 1).
  SurfaceVerdict Surface(long long points) const;

 private:
  int n_ = 0;
  std::vector<float> p_;  // point k at p_[k n_ .. k n_ + n_ - 1]
  std::vector<float> y_;
};

}  // namespace tarmic
