// The check every search of a fit passes at its end before the fit is called
// converged (the discrete fit's simplex passes, annealing and Marquardt-Levenberg,
// and the refinement of the continuous distributions). A search's own convergence
// test only says that it stopped moving; the check asks whether the place where it
// stopped is a minimum the data define:
//
//  - a value at a physical limit (a D or a concentration at 0, a value at the end of
//    its range) that the model does not put there itself: the fit ended "at a bound",
//    the value is named, and the fit counts as not converged;
//  - a local step from the end (the Gauss-Newton step from the derivatives at the end
//    point, a few evaluations): when it lowers the sum of squares by more than
//    the least gain (two units of chi-square of the data's own noise, and more on a
//    rough objective; verdict_thresholds.h), the end was no
//    minimum; the search goes on from the lower point, or says that it did not
//    converge;
//  - the model's numerical accuracy (fit_grid_check.h): the discretisation error of
//    the fit's grid at the end values against the noise; where it exceeds a tenth of
//    the noise the fit goes on on a finer grid.
//
// What the check found goes into FitReport (atBound, localStepGain, gridRefined),
// into the note of the fit (SayFitEnd) and, by FitConverged, into the batch's status.
// Main thread only.
#pragma once

#include <string>
#include <vector>

#include "modelcalc/fit_report.h"
#include "modelcalc/marquardt.h"

namespace tarmic {

// The least gain and the roughness factor: verdict_thresholds.h; kEndCheckRounds:
// marquardt.h (Marquardt-Levenberg takes the end step from its own derivatives).

// The unit of chi-square of the data on show: the square of the noise the residuals
// show (fit_misfit.h), or of their rmsd when no estimate can be made. 0 without
// fit points.
double ChiSquareUnit();

// The result of a local step from an end point.
struct EndStep {
  bool ran = false;         // the derivatives and the step could be computed
  double gain = 0.0;        // lowering of the sum of squares, units of chi-square
  // How far the objective departs from its own linearised model along the step
  // taken: |gain - the decrease the model promised|, units of chi-square. A smooth
  // objective near its minimum keeps its promise; the changes of grids and time
  // steps with the values make it rough.
  double roughness = 0.0;
  std::vector<float> point; // the point of the step (one-based), when it is lower
  std::vector<double> model;  // the target's model there (MLTarget::Values)
  bool interrupted = false;
};

// Takes the forward differences of the target's model at p[1..n] (each step inwards
// from a bound), solves the Gauss-Newton step over the values not held at a bound
// whose step points outwards, and evaluates the step (held to the bounds): n + 2
// evaluations; where the step is not lower although the linearised model promises
// more than the least gain, its half and quarter too. unit: the chi-square
// unit (ChiSquareUnit). atP: the target's model at p when the caller has it (one
// evaluation fewer). steps[1..n]: each value's difference step (DerivativeSteps of
// the values' Marquardt derivatives: a meniscus or bottom, whose value is a position,
// has no relative scale); null: a thousandth of each value. Every caller says which.
EndStep LocalStepFromEnd(MLTarget& target, const std::vector<float>& p,
                         const std::vector<FitBounds>& bounds, double unit,
                         const std::vector<double>* steps, const std::vector<double>* atP = nullptr);

// Whether a step gain, after the rounds the search went on, says that the end was no
// minimum: it exceeds the least gain (Verdicts().endStepChiSquare) and the objective's
// roughness along the step, times Verdicts().endStepRoughnessFactor.
bool EndStepGains(double gain, double roughness);

// What a search does after the check of its end.
enum class EndCheck { Ends, GoesOn, Interrupted };
// The step from a search's end at p (one-based, as applied) on the fit's own target:
// GoesOn when it found a point lower by more than Verdicts().endStepGoesOn (p takes
// it) and fewer than kEndCheckRounds rounds (counted in rounds) went on before; after
// them the search ends at the lower point, and the gain goes into
// report.localStepGain where EndStepGains says the end was no minimum.
// takeLower: p takes the step's point also where it is lower by less than the search
// goes on for (the search ends there; its model is the one computed last).
// steps: as for LocalStepFromEnd. atNext (when given) takes the model at the point p
// moved to, for the next round's atP.
EndCheck StepFromEnd(MLTarget& target, std::vector<float>& p, const std::vector<FitBounds>& bounds,
                     const std::vector<double>* steps, FitReport& report, int& rounds,
                     const std::vector<double>* atP = nullptr, bool takeLower = false,
                     std::vector<double>* atNext = nullptr);

// Clears what a check found before (a search starts; annealing's final method).
void ForgetFitEndFindings(FitReport& report);

// The values a search ended at a bound with ("name = value"), into report.atBound.
void NoteValuesAtBound(FitReport& report, std::vector<std::string> values);

inline constexpr const char* kFitAtBoundText =
    "The fit did not converge to a minimum within the values' ranges: it ended at a bound "
    "(%s). The values shown are the best within the ranges; a start nearer the expected "
    "values, or a model without this value, may fit better.";
inline constexpr const char* kFitLocalStepText =
    "The fit did not converge: a step from its end lowers the sum of squares by %.3g units "
    "of the noise's chi-square, so its end is no minimum.";
inline constexpr const char* kFitGridRefinedText =
    "The fit's grid is too coarse for the noise of the data (grid): at the end values the "
    "model on its grid (%d times the nodes of the settings) differs from the model on twice "
    "the nodes by more than a tenth of the noise, after the fit went on on finer grids.";

inline constexpr const char* kSpeciesNotDeterminedText =
    "Species %d is not determined by the data: without it, the other species refitted, the "
    "sum of squares rises by less than chance would raise it at %.0f %% confidence, so its "
    "values are no result.";
inline constexpr const char* kHeldMeniscusText =
    "The data place the meniscus elsewhere than where the fit held it (%.4f cm): its score "
    "(%.3g units of the noise's chi-square, where chance gives more than 6.6 once in a hundred "
    "fits) points %s. The values found hold for a meniscus the data contradict; float it.";
inline constexpr const char* kSpeciesImplausibleText =
    "The fit places a species where the data cannot show it: %s; its values are no result, "
    "those of the other species are kept.";

// After the search of a fit with a result: adds what the check found to
// report.message (the note of its own, caption "Note", or after the message there),
// and clears report.converged when it found anything. Not in batch mode (the batch's
// status says it).
void SayFitEnd(FitReport& report, FitOutcome outcome);

}  // namespace tarmic
