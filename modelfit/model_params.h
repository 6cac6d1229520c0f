// The parameter vector of every model and the model variables behind it.
//
// All models share one vector pParams[1..34] of floats with one fit switch per
// entry (pParamFitFlags, 1 = floated; both declared with the scan data set). The
// fit drivers vary the vector; the computations read the model variables.
// PackModelParams copies the model variables into the vector, UnpackModelParams
// the vector into the model variables; every computation, fit and report unpacks
// first, and every change of the model variables outside a fit packs afterwards.
//
// The discrete-species models keep their values in four 1-based species slots.
// Layout of the vector:
//   1-4   pSpeciesMassOrD[1..4]   (M under bFitMAndS, else D in 1e-7 cm^2/s)
//   5-8   pSpeciesS[1..4]         (S)
//   9-12  pSpeciesAmplitude[1..4] (loading signal)
//   13    fMeniscus (bVaryMeniscus)   14 fBottom (bVaryBottom)   15 fBaseline (bBaselineOption)
//   16-19 pSpeciesExtra[1..4]
//   20-22 three model scalars; log10 ks and kd in 20 and 21 for the non-ideal options
//   23    zone models: lamella width  24 time offset t0 ("Fit t0")
//   25-34 ten further value/fit pairs (multiple-species non-ideal model)
// The continuous-distribution models reuse the slots for their settings (the
// kContiSlot... constants below).
#pragma once

#include "numerics/analysis.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

inline constexpr int nSpeciesSlots = 4;
inline constexpr int nModelParams = kModelParams;

// The state of this module in an analysis (numerics/analysis.h).
struct ModelParamsState {
  // Loading signal, second value (M or D), s and a further value per slot [1..4],
  // each with its fit switch.
  float pSpeciesAmplitude[nSpeciesSlots + 1] = {};
  int pSpeciesAmplitudeFit[nSpeciesSlots + 1] = {};
  float pSpeciesMassOrD[nSpeciesSlots + 1] = {};
  int pSpeciesMassOrDFit[nSpeciesSlots + 1] = {};
  float pSpeciesS[nSpeciesSlots + 1] = {};
  int pSpeciesSFit[nSpeciesSlots + 1] = {};
  float pSpeciesExtra[nSpeciesSlots + 1] = {};
  int pSpeciesExtraFit[nSpeciesSlots + 1] = {};

  bool bVaryMeniscus = false;  // meniscus floated
  bool bVaryBottom = false;  // bottom floated
  float fBaseline = 0.0f;  // baseline signal (the switch is bBaselineOption)
  // Switches of the linear part of the discrete fit (UpdateLinearFitFlags).
  bool bVaryBaseline = false;  // the baseline is solved linearly
  bool bLinearAmplitudes = false;  // the amplitudes are solved linearly
};
// The current analysis' ModelParamsState.
inline ModelParamsState& ModelParams() { return CurrentPart<ModelParamsState>(); }

// Slots that the continuous-distribution models read.
inline constexpr int kContiSlotGridMin = 1;         // s min, M min, v min, Mb min
inline constexpr int kContiSlotGridMax = 5;
inline constexpr int kContiSlotGridCount = 9;       // resolution, rounded down
inline constexpr int kContiSlotConfidence = 2;      // confidence level (F ratio)
inline constexpr int kContiSlotVbar = 3;            // VBAR (model-dependent, see PackModelParams)
inline constexpr int kContiSlotFrictionalRatio = 11;
inline constexpr int kContiSlotDensity = 7;         // buffer density, g/ml
inline constexpr int kContiSlotViscosity = 12;      // buffer viscosity, Poise
inline constexpr int kContiFitGridFromFile = 3;     // fit switch 3: "s grid from file"
inline constexpr int kContiFitLogGrid = 4;          // fit switch 4: "log spaced s grid"
inline constexpr int kContiSlotShape1 = 10;         // c(s,ff0): smallest f/f0; shape values
inline constexpr int kContiSlotShape2 = 6;          // c(s,ff0): largest f/f0
inline constexpr int kContiSlotShape3 = 8;          // c(s,ff0): number of f/f0 values
inline constexpr int kContiSlotDiscrete1 = 16;      // models with one discrete species
inline constexpr int kContiSlotDiscrete2 = 17;
inline constexpr int kContiSlotScalingExponent = 18;  // bs of the scaling-law models
// Relative viscosity of a viscosity in Poise: 1 / 0.01002.
inline constexpr float kRelViscosityPerPoise = 99.8004f;

// Once at start-up: every species slot zero; species 1 included with amplitude 0.5
// (floated), M = 50000 under bFitMAndS else D = 5.0 (floated), s = 4.0 (floated);
// time offset, baseline and the slot-22 scalar 0 with their switches off; then
// PackModelParams.
void InitModelParams();

// Model variables into the vector, then the model-specific copies (reacting
// system, self-association and non-ideal records, continuous settings) and the
// consistency checks.
void PackModelParams();
// The vector into the model variables (the fit switches of slots 25-34 are not
// copied back; their values 25, 26, 27, 30, 31 and 34 become 0 when negative),
// then the same model-specific steps.
void UnpackModelParams();
// Packs, clears every fit switch 1..34, unpacks: a model chosen by a command that
// runs it starts with nothing floated.
void CheckParameters();
// After the Parameters dialog: derives the switches of the linear part of the fit
// (fitted baseline, linear amplitudes) from the model and the data.
void UpdateLinearFitFlags();

// The self-association oligomer: M_n = n M_1 under bFitMAndS, else
// D_n = D_1 (s_n / s_1) / n (D_1 when s_1 is 0).
float OligomerMassOrD(float m1OrD1, float s1, float sn, int n);

// The model variable and its fit switch behind a species slot of the vector (1-12
// and 16-19), which PackModelParams copies into that slot: for the code that sets
// a value before the vector is packed.
float& SpeciesSlotValue(int slot);
int& SpeciesSlotFit(int slot);

// Clears the model variables and the vector and runs InitModelParams (tests).
void ResetModelParams();

}  // namespace tarmic
