// The check of the grid at a fit's end: whether the model the fit ended with is
// solved finely enough for the noise of its data. Every fit end passes it (the
// discrete fit's simplex passes, Marquardt-Levenberg and annealing, for the ideal,
// non-ideal and reacting models alike, and the refinement of the continuous
// distributions), through the check of the search's end (fit_end_check.h).
//
// The measure: the model at the end values is computed on the grid the fit used
// and once more on a finer one (twice the nodes, time steps of half the step
// control: GridRefinement, modelfit/lamm_settings.h); the rms difference of the two
// over the fit points is the discretisation error of the fit's grid. It must stay
// below kGridErrorShare of the noise of the data (the residual noise estimate,
// fit_misfit.h, else the rmsd), and its sum of squares below kGridErrorChiSquare
// units of chi-square. Where it does not, the search goes on on the finer
// grid; after kGridCheckRounds such rounds the fit ends on the finest grid it
// reached and says "grid" (FitReport::gridRefined, the factor of the grid the
// error still exceeded the share on).
//
// Main thread only (the model computation's globals).
#pragma once

#include <functional>
#include <vector>

#include "modelcalc/fit_report.h"

namespace tarmic {

// The largest discretisation error at the fit points: rms at most kGridErrorShare of
// the noise, and its sum of squares over the fit points at most kGridErrorChiSquare
// units of chi-square of the noise. The first alone does not serve: a solution's
// error lies mostly along the boundary's shift and spread, the derivatives of s and
// D, and moves a fitted value by up to (error rms) sqrt(points) / noise standard
// errors: a twentieth of the noise over 20,000 points (1,000 nodes, 0.002 OD) moved
// s by 5 standard errors. The sum of squares bounds that shift in every direction of
// the values: below one unit, by less than one standard error.
inline constexpr double kGridErrorShare = 0.1;
inline constexpr double kGridErrorChiSquare = 1.0;
// The rounds a fit goes on on a finer grid before it ends flagged (factor 4 at most).
inline constexpr int kGridCheckRounds = 2;

// The model in force is a solution of the Lamm equation whose values depend on its
// grid (velocity data; not DLS, not sedimentation equilibrium, not the closed-form
// boundaries).
bool GridDependentModel();

// The model on show at the fit points, in their order, and the rms difference of
// two such lists (0 when their lengths differ or they are empty).
std::vector<double> ModelAtFitPoints();
double RmsDifference(const std::vector<double>& a, const std::vector<double>& b);

// The noise of the data on show for the check: the residual noise estimate, else
// the rmsd of the residuals.
double GridCheckNoise();

// Which limit holds the error: both (the fits of values, whose standard errors the
// chi-square bound keeps), or the share of the noise alone (the regularised
// distributions: their solution departs from the best fit by the confidence level's
// share of chi-square, some 80 units over 16,000 points at 0.68, by design, and a
// grid error of a few units is within what that regularisation accepts).
enum class GridLimit { Values, NoiseShare };

// The measure at the values in force. compute: one model computation of them
// (false when it was stopped or refused); evaluatedHere: the model on show is
// already theirs on the refinement in force (a computation is saved).
// Which model the measure leaves on show: the finer one, or, where it computes both,
// the one of the refinement in force (computed last), which a search that ends there
// then need not compute again.
enum class GridOnShow { Finer, InForce };
struct GridError {
  bool measured = false;     // both solutions computed
  bool interrupted = false;  // a key stopped one of them
  int factor = 1;            // the refinement the error is of
  double error = 0.0;        // rms difference of it and twice it at the fit points
  double noise = 0.0;        // GridCheckNoise of the model on the fit's refinement
  long long points = 0;      // fit points
  GridLimit limit = GridLimit::Values;
  // Both models at the fit points (ModelAtFitPoints), and whether the one of the
  // refinement in force is the model on show afterwards.
  std::vector<double> inForce, finer;
  bool inForceOnShow = false;
  // The largest error the grid may have (see kGridErrorChiSquare).
  double Limit() const;
  bool TooCoarse() const { return measured && error > Limit(); }
};
// Computes the model on the refinement in force and on twice it and restores the
// refinement; the model on show is that of the finer solution afterwards, unless
// onShow asks for the other and it was not evaluated here (then the finer is computed
// first).
GridError MeasureGridError(const std::function<bool()>& compute, bool evaluatedHere,
                           GridOnShow onShow = GridOnShow::Finer);

// What the check of a fit's end says.
enum class GridVerdict { Holds, GoesOn, Ends, Interrupted };
// The check at a fit's end: Holds when the error is below the share (or the model
// has no grid); GoesOn when it is not and fewer than kGridCheckRounds rounds
// (counted in rounds) went on before: the finer refinement is then in force and the
// search goes on there; Ends after those rounds (report.gridRefined takes the
// factor).
// measured (when given) takes the measure.
GridVerdict CheckGridAtEnd(const std::function<bool()>& compute, bool evaluatedHere, FitReport& report,
                           int& rounds, GridLimit limit = GridLimit::Values, GridOnShow onShow = GridOnShow::Finer,
                           GridError* measured = nullptr);

// A fit starts on the settings' own grid.
void StartFitOnSettingsGrid();

}  // namespace tarmic
