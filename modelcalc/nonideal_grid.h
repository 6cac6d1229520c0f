// The grid of the non-ideal solutions ("c1 nonideal" of the discrete model, the
// non-ideal single-species model and the non-ideal multiple-species model) chosen
// by its accuracy. The node count the
// ideal estimate lays (from the spread of an ideal boundary of the same s and D)
// is too coarse for a boundary that ks sharpens; so a check solves the model on
// that grid and on grids of 2, 4, ... times its nodes until two successive grids
// differ at the fit points by no more than kNonidealGridChangeShare of the noise
// of the data (at most kMostRefinedGridNodes nodes), and the coarser of the two is
// the grid of the model. A fit checks on its first evaluation and keeps the
// choice for its other evaluations; every computation outside a fit checks. The
// check of a fit's end (fit_grid_check.h) measures the grid's error at the end
// values as for every model, and refines all solutions alike where it is too large.
//
// Node counts are counts of Lamm grid nodes; the noise is in signal units. Main
// thread only (the model computation's globals).
#pragma once

#include "numerics/analysis.h"

#include <functional>

#include "modelcalc/model_steps.h"

namespace tarmic {

// The largest rms change at the fit points between a grid and the one of twice its
// nodes that leaves the coarser grid in use, as a part of the noise: a second-order
// solution then lies within 0.1 of the noise of the converged one, which raises
// the rmsd of a fit at the noise by half a per cent.
inline constexpr double kNonidealGridChangeShare = 0.07;

// The state of this module in an analysis (numerics/analysis.h).
struct NonidealGridState {
  // The multiplier of the node count of the non-ideal solutions (1, 2, 4, ...),
  // kept from the last check.
  int nNonidealGridFactor = 1;
};
// The current analysis' NonidealGridState.
inline NonidealGridState& NonidealGrid() { return CurrentPart<NonidealGridState>(); }

// The model in force has a non-ideal solution whose grid the check chooses.
bool NonidealGridModel();

// nodes times nNonidealGridFactor, at most kMostRefinedGridNodes (never fewer than
// nodes).
int NonidealGridNodes(int nodes);

// The least noise the check assumes, as a part of the largest signal at the fit
// points: data made without noise would otherwise ask for the finest grid.
inline constexpr double kLeastNoiseShare = 1e-3;

// The noise of the data at the fit points from differences of neighbouring points
// (a smooth boundary barely changes them): the median of |y(i+1) - y(i)| over
// 0.6745 sqrt 2, at least kLeastNoiseShare of the largest signal. 0 without two
// neighbouring points.
double NeighbourNoiseAtFitPoints();

// Runs compute (one model computation) on the grid the factor in force gives, after
// choosing the factor when a check is due (see above). The result is that of the
// last computation, whose model is on show.
ModelResult ComputeOnAccurateNonidealGrid(const std::function<ModelResult()>& compute);

}  // namespace tarmic
