// The fit vector of the nonlinear refinement of a continuous-distribution model:
// the floated nonlinear parameters around the linear (distribution) solve.
//
// The vector is one-based, [1..n]. Its entries, in this fixed order and each only
// while its condition holds at packing:
//   1-13  the floated extra values of the fits (FloatingExtras, fit_driver.h):
//         solvent vbar, fluorescence corrections, buffer-mismatch values. The buffer
//         signal is left out: the distribution solves it as the amplitude of its
//         first (unit-signal buffer) kernel.
//   14 f/f0 (pParams[11])            15 second f/f0 of the bimodal models (pParams[10])
//   16 vbar of the floating-vbar c(s) (pParams[11], ml/g)
//   17 Ks of the scaling law (pParams[11], S / (g/mol)^bs)   18 bs (pParams[18])
//   19 persistence length of the worm-like chain (pParams[11], nm)
//   20 invariant D (pParams[11], 1e-7 cm^2/s)
//   21 log10 ks, 22 log10 kD of the nonideal c(s) (pParams[20], [21])
//   23 s of the discrete component (S): pParams[17] with the c(s,ff0) and the
//      bimodal-f/f0 one-discrete models, else pParams[6]
//   24 D (1e-7 cm^2/s, with the discrete-D model) or M (g/mol) of the discrete
//      component: pParams[16] with those two models, else pParams[10]
//   25 meniscus, 26 bottom (cm)   27 lamella width of zone centrifugation (cm)
//   28 constant D of c(v) (pParams[3], 1e-7 cm^2/s)
// Entries 14-27 are floated by the fit switch of their pParams slot; 28 by
// bFitCvConstantD. Packing raises a value below the packing bound of its entry (in
// the model and in the vector); unpacking holds each value to the bounds of its
// entry and brings the model variables in line with the vector
// (UnpackModelParams). The bounds: f/f0 >= 0.01, second f/f0 >= 0, vbar >= 0.1,
// Ks >= 1e-8, bs >= 0.001, persistence length >= 0.1, invariant D >= 0.001, D or M
// of the discrete component >= 0.001, meniscus and bottom within their ranges
// (when set), lamella width and constant D >= 0; those of the extra values as in
// the discrete fit.
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

namespace tarmic {

class Window;
struct MLWorkSet;
struct FitBounds;

// The state of this module in an analysis (numerics/analysis.h).
struct ContiFitParamsState {
  // The constant D of c(v) is floated (no dialog sets it yet; off).
  bool bFitCvConstantD = false;
};
// The current analysis' ContiFitParamsState.
inline ContiFitParamsState& ContiFitParams() { return CurrentPart<ContiFitParamsState>(); }

// Writes the fit vector into out[1..max] (out may be null) and returns its length.
int GetContiParams(int max, float* out);
// Applies a fit vector of the current length, each value held to its bounds
// (nothing when values is null). A meniscus or bottom that moved rebuilds the
// radial grid of the simulation arrays.
void ApplyContiParams(const float* values);
// The bounds ApplyContiParams holds each value to, into out[1..max]; returns the
// length of the vector.
int GetContiParamBounds(int max, FitBounds* out);
// The floated values that stand at an end of their bounds, as "name = value".
std::vector<std::string> ContiValuesAtLimit();
// The bounds the continuous fit holds pParams entry slot to while it is floated;
// unbounded when the model floats no value there.
FitBounds ContiSlotBounds(int slot);
// The relative scale of the simplex perturbation of entry i (1-based position in
// the vector): 0.01 for meniscus and bottom, 0.1 for the lamella width, else 1.
float ContiSimplexStepScale(int i);
// The Marquardt-Levenberg derivative factor and absolute derivative value of every
// entry into w.derivFactor / w.derivStep (w made for n = GetContiParams(0, null)).
void InitContiMLDerivativeFactors(MLWorkSet& w);

// The pParams slots of the discrete component's s and of its D or M (entries 23
// and 24 above).
int ContiDiscreteSSlot();
int ContiDiscreteDMSlot();

// Restores the values of this file to their defaults (tests).
void ResetContiFitParams();

}  // namespace tarmic
