// The classes of continuous-distribution models that the grid, the regularisation,
// the derived arrays and the integration distinguish, the run switches of inner
// runs, the regularisation settings and the display switches of distributions.
//
// The model switches themselves belong to the model parameters
// (modelfit/model_flags.h). bContiSModel stands for plain c(s) only: each c(s)
// variant command sets it for the common set-up, clears it again and sets its own.
#pragma once

#include "numerics/analysis.h"

#include "modelfit/model_flags.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionModelsState {
  // --- run switches ---
  // The run is an inner step (nonlinear refinement, Monte Carlo, time-course window):
  // parameters are not unpacked, the grid is kept, the result is not copied out.
  bool bContiInnerRun = false;
  // The final evaluation of a nonlinear refinement: it is regularised.
  bool bFinalFitEvaluation = false;
  // A Monte-Carlo repetition runs: regularised, no progress text.
  bool bMonteCarloRun = false;

  // --- regularisation settings ---
  float fConfidenceLevel = 0.95f;  // P of the F test (0.95); above 1 a chi-square ratio
  bool bUsePrior = false;  // regularise towards pPriorProbability
  bool bFf0Prior = false;  // weight the f/f0 direction by pFf0AxisWork
  float f2DRegScale = 10.0f;  // weight of the f/f0 direction of c(s,ff0) (10)

  // Window length of the light-scattering time course, minutes (1.0).
  float fTimeCourseWindow = 1.0f;

  // --- display of distributions ---
  // DLS distributions over linear Rh (nm) or D (1e-7 cm^2/s) instead of log10 (on).
  bool bDLSLinearAxis = true;
  // Coordinates of the c(s,ff0) result (at most one set; none: s versus f/f0).
  bool bCsff0ViewSM = false;
  bool bCsff0ViewSRs = false;
  bool bCsff0ViewSD = false;
  bool bCsff0ViewMFf0 = false;
};
// The current analysis' DistributionModelsState.
inline DistributionModelsState& DistributionModels() { return CurrentPart<DistributionModelsState>(); }

// --- model classes ---
// Models whose grid is spaced in s (pDistGrid); the others without DLS data are the
// molar-mass models (pDistS).
bool IsSGridModel();
// The two-dimensional c(s,ff0) models.
bool IsSizeShapeModel();
// Models whose leading grid entry is a discrete species or the buffer component:
// it keeps its amplitude through the normalisation.
bool LeadingEntryIsDiscrete();
// Models whose leading entry is left out of integrals.
bool LeadingEntrySkipped();
// Models whose first unknown carries no entropy in the maximum-entropy
// regularisation.
bool EntropySkipsFirstUnknown();

// Restores every value of this file to its default (the model switches are reset
// with the model parameters).
void ResetDistributionModels();

}  // namespace tarmic
