// The thresholds of the verdicts a fit's end says (fit_misfit.h, fit_end_check.h,
// fit_species_check.h): each is a statistical test or a physical limit whose
// false-alarm rate and power the calibration sweep measures
// (tests/modelcalc/verdict_calibration_test.cpp, bench/bench_verdicts.cpp). They are
// kept in a part of the analysis so that the mutation tests can weaken one at a time
// and show that a test then fails; the program never changes them.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

struct VerdictThresholds {
  // The systematic misfit: the false-alarm rate of the test on residuals of a fit of
  // the true model (one-sided, over all the test's scales together).
  double misfitFalseAlarm = 0.01;
  // Without two scans on the same radii the test cannot run: a fit whose rmsd exceeds
  // the noise the residuals show within each scan by this factor is a misfit.
  double misfitWithinScanRatio = 1.25;
  // A meniscus the fit held: the false-alarm rate of the test that the data place it
  // elsewhere (one degree of freedom).
  double heldValueFalseAlarm = 0.01;
  // The step from a search's end: the least lowering of the sum of squares, in units
  // of chi-square of the data's noise, for which the search takes the lower point and
  // goes on (a third of a standard error along the step is a ninth of a unit). After
  // kEndCheckRounds such rounds, the least lowering that says the end was no minimum:
  // a point within one standard error of the minimum along the step lowers it by at
  // most one unit, two units place the minimum more than 1.4 standard errors away; the
  // objective's roughness measured along the step is added (three times).
  double endStepGoesOn = 0.25;
  double endStepChiSquare = 2.0;
  double endStepRoughnessFactor = 3.0;
  // The simplex confirms an end the surface of its points placed by one restart from a
  // fresh simplex.
  bool confirmingRestart = true;
  // A species is not determined when the data show no evidence of it at this
  // confidence: the sum of squares without it rises by less than this quantile of
  // chi-square (fit_species_check.h).
  double undeterminedConfidence = 0.95;
  // A species whose loading exceeds the largest signal of the data this many times
  // holds more than the data show.
  double loadingOverSignal = 3.0;
};

// The current analysis' thresholds.
inline VerdictThresholds& Verdicts() { return CurrentPart<VerdictThresholds>(); }

// The one-sided standard normal quantile: z with P(Z > z) = upper (0 < upper < 1).
double NormalUpperQuantile(double upper);

}  // namespace tarmic
