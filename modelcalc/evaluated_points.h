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

// What a fit's objective returns for parameters that have no model (the solver
// refused them, or the fit was interrupted): no search takes such a point.
inline constexpr float kNoModelRmsd = 1e10f;

// The window of the points the surface is fitted to, in chi-square units above the
// lowest value: a few standard errors round the minimum, where the sum of squares
// is close to quadratic.
inline constexpr double kSurfaceWindow = 50.0;
// The height (chi-square units) within which the points weigh fully in the fit of
// the surface (a point h above the lowest has the weight 1 / (1 + h / kSurfaceNear))
// and of which the surface needs as many as it has coefficients to be determined.
inline constexpr double kSurfaceNear = 10.0;
// A proposal's step is cut to this many times the extent of the points fitted;
// steps below kProposalLeast of it propose nothing.
inline constexpr double kProposalReach = 2.0;
inline constexpr double kProposalLeast = 1e-3;
// The design points lie sqrt(kDesignScatter s) standard errors from the minimum,
// s the rms of the values about the surface (chi-square units), so that they rise
// above the scatter, but no nearer than kDesignReach and no farther than
// kDesignReachMost: the farther they lie, the more an objective that is not
// symmetric about its minimum moves the surface's.
inline constexpr double kDesignReach = 0.6;
inline constexpr double kDesignReachMost = 2.0;
inline constexpr double kDesignScatter = 3.0;
inline constexpr double kDesignOut = 1.0;
// See EvaluatedPoints::MissingDesign.
inline constexpr double kBracketInner = 0.5;
inline constexpr double kBracketOuter = 2.0;

// What the surface says of the lowest point evaluated.
struct SurfaceVerdict {
  // The surface is determined: at least twice as many points in the window as it
  // has coefficients and as many as it has within kSurfaceNear of the lowest, a
  // curvature that is positive in every direction, and a minimum within the extent
  // of those points (not extrapolated).
  bool determined = false;
  // How far the lowest point lies above the surface's minimum, in chi-square units
  // (a point k standard errors away lies k^2 / 2 ... k^2 above it).
  double gain = 0.0;
  // The point in the window that the surface puts nearest its minimum (an index of
  // EvaluatedPoints::Point), and its height above the minimum: with a scatter about
  // the surface, the lowest value is not that of the point nearest the minimum.
  int nearest = -1;
  double nearestGain = 0.0;
  // The uncertainty of the minimum's place, as a height in chi-square units: the
  // expected height above the minimum of the error of its position, from the
  // covariance of the surface's coefficients (the residuals' variance) measured by
  // its curvature (infinity when no residual is left to measure the scatter by).
  double spread = 0.0;
  // Points near the minimum bracket it: each side of it in each entry has a point
  // (EvaluatedPoints::MissingDesign). A quadratic through points on one side only
  // of a minimum about which the objective is not symmetric misplaces it.
  bool bracketed = false;
};

class EvaluatedPoints {
 public:
  // Records p[1..n] and its value. Values without a result (not finite, or at or
  // above kNoModelRmsd) are not kept; every point of one record has the n of the
  // first (others are not kept).
  void Add(const float* p, int n, float y);
  void Clear();
  int Count() const { return static_cast<int>(y_.size()); }
  // The entries of each point (0 before the first).
  int Size() const { return n_; }
  // Point k (0 <= k < Count()) into p[1..n].
  void Point(int k, float* p) const;
  // The lowest value kept (infinity when none).
  float LowestValue() const;
  // The full quadratic in the entries (1, u_i, u_i u_j), least squares over the
  // lowest points within kSurfaceWindow of the lowest value (at most 400), the
  // values in chi-square units, chi2 - chi2_lowest ~ points ((y / y_lowest)^2 - 1).
  SurfaceVerdict Surface(long long points) const;
  // The next point worth evaluating, p[1..n]: the minimum of the same quadratic
  // fitted to the points in the window, or to the 2 (n + 1)(n + 2) / 2 lowest points
  // when fewer lie in it (far from the minimum the sum of squares of a model fit is
  // still close to quadratic in its nonlinear entries), its step from the lowest
  // point cut to kProposalReach times the extent of those points. False when the
  // points determine no minimum (too few, or a curvature that is not positive), when
  // the minimum is the lowest point itself, or when the proposal was evaluated.
  bool Proposal(long long points, float* p) const;
  // Design point k (0 <= k < 2 n) round the same surface's minimum: entry k / 2
  // moved by the design reach (kDesignReach ... kDesignReachMost, by the scatter of
  // the values about the surface) of its standard error, up for even k and down for
  // odd. Near the minimum the scatter of the values hides the curvature of points
  // close together; points far away misplace the minimum of an objective that is
  // not symmetric about it. Where those points
  // show no positive curvature, the lowest point with entry k / 2 moved by kDesignOut
  // times their extent.
  bool Design(long long points, int k, float* p) const;
  // The first design point (as Design's k) whose side of the surface's minimum no
  // point brackets; -1 when each is bracketed or the surface shows no minimum. A
  // point in the window brackets the side of an entry when it lies at least
  // kBracketInner design reaches from the minimum on that side and within
  // kBracketOuter of them in every entry.
  int MissingDesign(long long points) const;
  // The quadratic of Proposal shows a positive curvature.
  bool ShowsCurvature(long long points) const;

 private:
  // The quadratic through the lowest points: at least atLeast of them (fewer where
  // there are not that many) and every point in the window.
  struct Quadratic {
    bool positive = false;        // determined, with a positive curvature
    int inWindow = 0;             // points within kSurfaceWindow of the lowest
    int nearMinimum = 0;          // points within kSurfaceNear of it
    int used = 0;                 // points fitted
    double gain = 0.0;            // the lowest point's height above the minimum
    std::vector<double> centre;   // the lowest point, entries 0..n-1
    std::vector<double> scale;    // each entry's largest offset from it
    std::vector<double> step;     // the minimum's offset, in units of scale
    std::vector<std::vector<double>> curvature;  // in units of scale
    std::vector<double> se;       // each entry's standard error, in units of scale
    double reach = kDesignReach;  // of the design points, in standard errors
    std::vector<int> fitted;      // the points fitted, lowest first
    std::vector<std::vector<double>> rows;  // their weighted rows (1, u_i, u_i u_j, value)
  };
  Quadratic FitQuadratic(long long points, int atLeast) const;
  // The first design point (as Design's k) whose side of the minimum no point
  // brackets, -1 when every side is bracketed.
  int Unbracketed(const Quadratic& fit) const;
  int n_ = 0;
  std::vector<float> p_;  // point k at p_[k n_ .. k n_ + n_ - 1]
  std::vector<float> y_;
};

}  // namespace tarmic
