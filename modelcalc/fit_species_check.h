// What a discrete-species fit's end says of each species beyond where its values
// stand: whether the data determine it at all, and whether its values lie where the
// data could show them.
//
//  - Not determined: a species whose removal (switched off, the others' loadings
//    solved again and, where that is not far beyond the least rise, the others'
//    floated values refitted by Gauss-Newton steps) raises the sum of squares, in
//    units of chi-square of the data's noise, by less than the quantile
//    Verdicts().undeterminedConfidence of chi-square with as many degrees of freedom
//    as the species has values floated (its loading, s and D: 7.8 for three): the
//    likelihood-ratio test, which counts its correlation with the other species, says
//    the data hold no evidence of it. Its s and D are then no result, and neither is
//    a bound they stand at: the fit names the species, not its values.
//  - Sedimented before the first scan: its boundary, meniscus x exp(s w^2 t) at the
//    first scan's w^2 t, lies beyond the bottom of the cell; the data hold nothing of
//    it but a loading the fit may make as large as it likes.
//  - A loading that exceeds the largest signal of the data Verdicts().loadingOverSignal
//    times: more than the data can hold.
// Each finding is a flag of the fit (FitReport); the values of the other species are
// kept. Main thread only.
#pragma once

#include <functional>

#include "modelcalc/fit_report.h"
#include "modelcalc/model_steps.h"

namespace tarmic {

// What the checks need of the fit that ended: its model computation at the values
// as they stand, a fresh objective over its fit vector (each call a new one, with
// its own guard of trial points), the vector's values and bounds (one-based; called
// with 0 and null for the count) and their application. The discrete fit makes it
// (DiscreteFitAccess, fit_driver.h).
struct FitAccess {
  std::function<ModelResult()> compute;
  std::function<SimplexObjective()> objective;
  std::function<int(int max, float* out)> values;
  std::function<int(int max, FitBounds* out)> bounds;
  std::function<void(const float* values)> apply;
};

// After a discrete fit with a result (outcome Completed or Interrupted with its model
// computed): fills report.undeterminedSpecies and report.implausibleSpecies. Costs,
// where two or more species are included, one model computation per species, a few
// Gauss-Newton steps for a species whose removal the others may take over, and one
// to restore the fit's model.
void CheckFittedSpecies(const FitAccess& fit, FitReport& report);

// After a discrete velocity fit whose end converged to a minimum inside its bounds
// and whose meniscus was held (not floated); the score means nothing elsewhere:
// whether the data place it elsewhere. The score test of the held value: the
// residuals' projection on the model's derivative by the meniscus (one model
// computation a step outwards, the loadings solved again; one more to restore the
// fit's model), squared over the derivative's information, in units of chi-square.
// With the other values held it is a lower bound of the likelihood ratio of floating
// the meniscus, so its false-alarm rate stays below Verdicts().heldValueFalseAlarm:
// above the quantile of chi-square with one degree of freedom (6.6 units at 1 %) the
// held meniscus is a misfit: report.heldMeniscusGain (the statistic) and
// heldMeniscusShift (cm, the meniscus' own step towards where the data place it).
void CheckHeldMeniscus(const FitAccess& fit, FitReport& report);

// The quantile p of chi-square with k degrees of freedom (Wilson-Hilferty: within
// 0.5 % for k >= 1 at p = 0.95).
double ChiSquareQuantile(double p, int k);

// The loading of species slot k in the data's signal units, whatever form the
// amplitudes are reported in (total and fractions, or absolute).
double AbsoluteLoading(int k);

}  // namespace tarmic
