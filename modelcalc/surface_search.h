// A model-based search of one to three nonlinear values whose objective is costly and
// rough: the refinement of a distribution's meniscus, bottom and f/f0, where every
// evaluation is a whole c(s) analysis and the values scatter about a smooth quadratic
// by up to about a unit of chi-square.
//
// The search fits a quadratic surface to the points it evaluated and lets that
// surface choose the next point:
//
//  - a design of (n + 1)(n + 2) / 2 points round the start (the start, a step up and
//    down along each entry, a step up along each pair), each entry's step its
//    expected scale: the surface of every coefficient from the first points;
//  - while the surface's minimum lies farther than three standard errors (from the
//    surface's own curvature) from every evaluated point, a step to it from the
//    lowest point, held to a trust region that widens when the step lowers the
//    value and narrows when it does not; a surface without a minimum gives the
//    trust region's lowest point of the surface;
//  - then a star of design points round it (round the evaluated point within a
//    standard error of it, else round the minimum itself): three standard errors
//    up and down along each entry and up along each pair, far enough to rise above
//    the scatter of the values (up to about a unit on large sets); an evaluated
//    point two to three standard errors out on a side (within three in every
//    entry) stands for the star's point there;
//  - the end, where the surface's minimum lies within the star: the minimum is the
//    end (the scatter of single values makes the lowest one no better). A minimum
//    beyond the star gets itself evaluated and a point on each side of it in each
//    entry where none brackets it.
//
// Points are weighted 1 / ((1 + h / 10) (1 + h / 50)) by their height h above the
// lowest (chi-square units, the lowest rmsd's square the unit): the points near the
// minimum place it, those far above keep only a share of the curvature.
//
// Vectors are one-based (p[1..n]), as the fit vectors. Not thread-safe.
#pragma once

#include <functional>
#include <vector>

#include "modelcalc/marquardt.h"

namespace tarmic {

// The entries the search takes at most (the surface's coefficients grow as n^2).
inline constexpr int kSurfaceSearchMostEntries = 3;

struct SurfaceSearchEnd {
  // The end, p[1..n] held to the bounds: the surface's minimum when placed, else the
  // point of the lowest surface value (the lowest value before a surface).
  std::vector<float> point;
  // The surface placed the minimum within the evaluations allowed.
  bool placed = false;
  bool interrupted = false;
  int evaluations = 0;
  // The lowest point's height above the surface's minimum (chi-square units).
  double gain = 0.0;
  // The rms of the values about the surface (chi-square units): the objective's
  // roughness the design reach and the end respect; 0 before the surface has
  // points to spare.
  double roughness = 0.0;
  // Each entry's standard error from the surface's curvature, one-based.
  std::vector<double> se;
};

// Searches f from start (one-based, n = start.size() - 1, 1 <= n <=
// kSurfaceSearchMostEntries) with the design steps scale[1..n] (positive), each value
// held to bounds[1..n]; points: the fit points of the objective's rmsd (the unit of
// its chi-square). f returns the rmsd, or kNoModelRmsd or more for a point without
// a result (the search steps back from it). At most `most` evaluations; stop()
// true (the fit was interrupted) ends it at once.
SurfaceSearchEnd SurfaceSearch(const std::function<float(const float*)>& f, const std::vector<float>& start,
                               const std::vector<double>& scale, const std::vector<FitBounds>& bounds,
                               long long points, int most, const std::function<bool()>& stop = {});

}  // namespace tarmic
