// The linear step that ends every model evaluation: the loading amplitudes of the
// model components solved by non-negative linear least squares, the systematic
// noise (a time-invariant (TI) profile on the common grid, one radial-invariant (RI)
// offset per scan, or one baseline) eliminated from the equations and computed
// afterwards, and the fitted curve of every scan rebuilt from the component signals.
// The nonlinear parameters are optimised around this step, so amplitudes and noise
// never enter the nonlinear search.
//
// Model: D[s][i] = sum_k a_k S_k[s][i] + TI[i] + RI[s] (+ baseline), with D the data
// on the common grid (ppGridSignal), S_k the unit-amplitude signal of component k
// (pppSpeciesSignal[k]), s = 1..nScans, i = 1..nGridPoints. The least squares run
// over the grid's fit points F (GridFitPoints: iFitFirst..iFitLast less the points
// some scan does not support). The noise terms are removed by
// centring data and signals, never carried as unknowns:
//   TI and RI: subtract each scan's mean over F, then the scan average at i;
//   TI:        subtract the scan average at i;
//   RI:        subtract each scan's mean over F;
//   baseline:  subtract the mean over all scans and F;
//   fixed baseline: subtract fBaseline from the data.
// The data rows are only read, never changed. Sums run in double; the 4 x 4 normal
// equations are solved by NNLSNormalEquations (amplitudes >= 0).
//
// Values. The step is given the model's switches, the linked slots, their
// amplitudes and the fixed baseline as a LinearStepInput and returns what it solved
// (the amplitudes in their reported form, the baseline, the buffer's signal) as a
// LinearStepResult: it reads and writes none of the model's variables. The doors
// that take the input from the analysis and keep the result in it are in
// modelcalc/linear_step_doors.h. What it writes is the working state of the
// computation: the fit rows, the noise vectors and the tables below.
//
// Storage. Arrays are one-based; component and species slot indices run 1..4.
// Between evaluations the signal table of a discrete species holds its signal
// multiplied by the amplitude last applied, pAppliedAmplitude[k]; every variant
// first divides that factor out (a zero factor clears the table) and multiplies the
// new amplitude in before it returns. Tables exist for the slots whose inclusion
// flag is set (radial_grid.h); a listed slot without a table contributes nothing.
// The per-component and per-scan means live in the arrays of the common grid:
//   ppComponentScanAverage[k][i]  scan average of component k at grid point i
//   ppComponentScanMean[k][s]     mean of component k in scan s over F
//   pScanMean[s]                  mean of the data of scan s over F
//   fAverageScanTotal, fFitPointTotal  nScans x sum of pAverageScan over F, nScans x |F|
#pragma once

#include "numerics/analysis.h"

#include <array>

#include "scandata/radial_grid.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct LinearAmplitudesState {
  // Signal factor last applied to each species table [1..4] (loading signal units;
  // 0 for a slot without signal). The model computation records the factor it fills
  // a table with (1.0 for a unit-amplitude signal).
  float pAppliedAmplitude[kSpeciesSlots + 1] = {};
  // Set by the model computation when a value the signals need is zero or negative:
  // the amplitude-solving variants with noise then skip the solve (see below).
  bool bSkipLinearFit = false;
  // Components of the linear problem, as species slots, in list order [1..n].
  int nLinearComponents = 0;
  int pLinearComponents[kSpeciesSlots + 1] = {};
  // Normal equations of the last solve, [1..n][1..n] and [1..n]; after the solve
  // pLinearRhs holds the amplitudes (absolute, in list order).
  // Storage of the normal matrix, made once for four components.
  float g_normalMatrix[kSpeciesSlots + 1][kSpeciesSlots + 1] = {};
  float* ppLinearNormalMatrix[kSpeciesSlots + 1] = {nullptr, g_normalMatrix[1], g_normalMatrix[2],
                                                    g_normalMatrix[3], g_normalMatrix[4]};
  float pLinearRhs[kSpeciesSlots + 1] = {};
  // Mean of each unit component signal over all scans and F [1..4].
  float pComponentMeans[kSpeciesSlots + 1] = {};
};
// The current analysis' LinearAmplitudesState.
inline LinearAmplitudesState& LinearAmplitudes() { return CurrentPart<LinearAmplitudesState>(); }

// What the step is given: the switches that choose its variant, the linked slots
// and their amplitudes as the model holds them, and the fixed baseline.
struct LinearStepInput {
  bool discrete = false;          // non-interacting species: a component per linked slot
  bool bufferCorrection = false;  // slot 4 is the buffer component
  bool linearAmplitudes = false;  // the amplitudes are solved
  bool varyBaseline = false;      // the baseline is solved
  bool fitTI = false, fitRI = false;  // time- and radial-invariant noise
  std::array<bool, kSpeciesSlots + 1> linked{};      // [1..4]
  std::array<float, kSpeciesSlots + 1> amplitude{};  // [1..4], the model's (total, fractions)
  float baseline = 0.0f;          // the fixed baseline (signal units)
};

// What the step solved. written[k]: amplitude[k] is the new value of slot k (its
// reported form: the first linked slot the total, further linked slots fractions,
// the buffer slot its absolute signal); other slots keep the model's.
struct LinearStepResult {
  bool ok = true;  // false: the non-negative solve failed (see below)
  std::array<float, kSpeciesSlots + 1> amplitude{};
  std::array<bool, kSpeciesSlots + 1> written{};
  bool baselineWritten = false;  // the step set the baseline (solved, or 0 with noise)
  float baseline = 0.0f;
  // With the buffer correction and solved amplitudes: the buffer's signal, the
  // buffer slot's absolute amplitude, which the buffer model's record takes.
  bool bufferSignalWritten = false;
  double bufferSignal = 0.0;
};

// The ten variants of the linear step. Each writes pTINoise, pRINoise (zero where
// the term is not part of the variant) and ppFit of every scan on its own radii,
// and returns the baseline it set (the fitted one, or 0 where noise terms replace
// it). The amplitude-solving ones also return the amplitudes (pLinearRhs holds them
// absolute, in list order) in the reported form (AmplitudesToTotalAndFractions);
// their ok is false when the non-negative solve failed (not positive definite,
// iteration limit, non-finite equations): the amplitudes are then the last
// feasible non-negative iterate (0 for non-finite equations), and noise and fit are
// consistent with them. The caller reports it.
//
//   variant                      amplitudes   noise terms      skip value
//   FitAmplitudesTIRINoise       solved       TI and RI        1.0
//   FitAmplitudesTINoise         solved       TI               0
//   FitAmplitudesRINoise         solved       RI               0
//   FitAmplitudesBaseline        solved       fitted baseline  (always solved)
//   FitAmplitudesFixedBaseline   solved       fixed baseline   (always solved)
//   CalculateTIRINoise           fixed        TI and RI
//   CalculateTINoise             fixed        TI
//   CalculateRINoise             fixed        RI
//   FitBaseline                  fixed        fitted baseline
//   AddBaselineToFit             fixed        fixed baseline
// With bSkipLinearFit the first three build no equations and set every listed
// amplitude to the skip value. The TI profile of the TI and RI variants has zero
// mean over F. The fitted baseline is the mean residual of the scans' own points
// inside their fit limits (0 when there are none); it has no sign constraint.
// FitBaseline and AddBaselineToFit work on the fit rows as the model computation
// left them; all others rebuild the fit rows from the TI profile, the component
// signals and the RI offsets.
LinearStepResult FitAmplitudesTIRINoise(const LinearStepInput& in);
LinearStepResult FitAmplitudesTINoise(const LinearStepInput& in);
LinearStepResult FitAmplitudesRINoise(const LinearStepInput& in);
LinearStepResult FitAmplitudesBaseline(const LinearStepInput& in);
LinearStepResult FitAmplitudesFixedBaseline(const LinearStepInput& in);
LinearStepResult CalculateTIRINoise(const LinearStepInput& in);
LinearStepResult CalculateTINoise(const LinearStepInput& in);
LinearStepResult CalculateRINoise(const LinearStepInput& in);
LinearStepResult FitBaseline(const LinearStepInput& in);
// Adds the baseline to every point of every scan's fit row (nothing else).
void AddBaselineToFit(float baseline);

// pAverageScan[i] = mean over the scans of ppGridSignal[s][i] at every grid point;
// then fAverageScanTotal and fFitPointTotal over the current fit range.
void CalculateAverageScan();

// The variant the switches choose:
//   fitTI:             linearAmplitudes ? (fitRI ? FitAmplitudesTIRINoise
//                      : FitAmplitudesTINoise) : (fitRI ? CalculateTIRINoise
//                      : CalculateTINoise)
//   else fitRI:        linearAmplitudes ? FitAmplitudesRINoise : CalculateRINoise
//                      (with or without varyBaseline: the RI offsets replace the
//                      baseline, and the model is in the signal tables)
//   else varyBaseline: linearAmplitudes ? FitAmplitudesBaseline : FitBaseline
//   else:              linearAmplitudes ? FitAmplitudesFixedBaseline : AddBaselineToFit
enum class LinearStepVariant {
  FitAmplitudesTIRINoise,
  FitAmplitudesTINoise,
  FitAmplitudesRINoise,
  FitAmplitudesBaseline,
  FitAmplitudesFixedBaseline,
  CalculateTIRINoise,
  CalculateTINoise,
  CalculateRINoise,
  FitBaseline,
  AddBaselineToFit,
};
LinearStepVariant ChooseLinearStepVariant(const LinearStepInput& in);

// The linear step of the model computation: runs exactly the one variant that
// ChooseLinearStepVariant names, after all component signals are ready. Its ok is
// false when that variant's non-negative solve failed (see above).
LinearStepResult RunLinearAmplitudeStep(const LinearStepInput& in);

// The solved amplitudes of the non-interacting discrete species model in the
// reported form: the first linked slot holds the total of the linked amplitudes,
// every further linked slot its fraction of that total (0 when the total is 0).
// With the buffer correction and solved amplitudes, slot 4 keeps its absolute
// amplitude, is left out of the total and is the buffer's signal. Nothing happens
// for other models or when no slot in range is linked. amplitude[] holds the
// absolute amplitudes on entry (the model's for slots the step did not solve). The
// signal tables and pAppliedAmplitude keep the absolute amplitudes.
void AmplitudesToTotalAndFractions(const LinearStepInput& in, LinearStepResult& result);

// Restores every value of this file to its default (tests).
void ResetLinearAmplitudes();

}  // namespace tarmic
