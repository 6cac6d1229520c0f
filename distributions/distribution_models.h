// The classes of continuous-distribution models that the grid, the regularisation,
// the derived arrays and the integration distinguish, the run switches of inner
// runs, the regularisation settings and the display switches of distributions.
//
// The model switches themselves belong to the model parameters
// (modelfit/model_flags.h). bContiSModel stands for plain c(s) only: each c(s)
// variant command sets it for the common set-up, clears it again and sets its own.
#pragma once

#include "modelfit/model_flags.h"

namespace tarmic {

// --- run switches ---
// The run is an inner step (nonlinear refinement, Monte Carlo, time-course window):
// parameters are not unpacked, the grid is kept, the result is not copied out.
extern bool bContiInnerRun;
// The final evaluation of a nonlinear refinement: it is regularised.
extern bool bFinalFitEvaluation;
// A Monte-Carlo repetition runs: regularised, no progress text.
extern bool bMonteCarloRun;

// --- regularisation settings ---
extern float fConfidenceLevel;  // P of the F test (0.95); above 1 a chi-square ratio
extern bool bUsePrior;          // regularise towards pPriorProbability
extern bool bFf0Prior;          // weight the f/f0 direction by pFf0AxisWork
extern float f2DRegScale;       // weight of the f/f0 direction of c(s,ff0) (10)

// Window length of the light-scattering time course, minutes (1.0).
extern float fTimeCourseWindow;

// --- display of distributions ---
// DLS distributions over linear Rh (nm) or D (1e-7 cm^2/s) instead of log10 (on).
extern bool bDLSLinearAxis;
// Coordinates of the c(s,ff0) result (at most one set; none: s versus f/f0).
extern bool bCsff0ViewSM;
extern bool bCsff0ViewSRs;
extern bool bCsff0ViewSD;
extern bool bCsff0ViewMFf0;

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
