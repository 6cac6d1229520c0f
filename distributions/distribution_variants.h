// The settings of the continuous c(s) variants whose species follow the grid by a
// relation of their own: the discrete species of the one-discrete models, the
// second frictional ratio of the bimodal models, the conformational change, the
// linear rod, and the constant D of the electrophoretic c(v). The parameter vector
// holds them (ReadVariantSettingsFromParams takes them over at every unpacking).
//
// Units: s in S, M in g/mol, D in 1e-7 cm^2/s, velocities in um/s.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionVariantsState {
  // The discrete species of the one-discrete models: s, M and D (D only for the
  // model whose discrete species is given by s and D).
  float fDiscreteS = 0.34f;
  float fDiscreteM = 350.0f;
  float fDiscreteD = 50.0f;
  // Bimodal f/f0: inside [fBimodalSMin, fBimodalSMax] the species have fSecondFf0.
  float fSecondFf0 = 2.0f;
  float fBimodalSMin = 10.0f;
  float fBimodalSMax = 20.0f;
  // Conformational change: inside [fConformSMin, fConformSMax] the species have the
  // molar mass fConformM.
  float fConformM = 200000.0f;
  float fConformSMin = 7.0f;
  float fConformSMax = 10.0f;
  // Mass per length of the linear rods (Da/nm).
  float fLinearRodParameter = 10000.0f;
  // The one D of every species of the electrophoretic c(v).
  float fCvConstantD = 5.0f;
};
// The current analysis' DistributionVariantsState.
inline DistributionVariantsState& DistributionVariants() { return CurrentPart<DistributionVariantsState>(); }

// Slots of the parameter vector the variants use (besides the grid and solvent).
inline constexpr int kVariantSlotDiscreteS = 6;       // one-discrete: s discrete
inline constexpr int kVariantSlotDiscreteMD = 10;     // one-discrete: D or M discrete
inline constexpr int kVariantSlotShapeDiscreteM = 16; // c(s,ff0) and bimodal with 1 discrete: M
inline constexpr int kVariantSlotShapeDiscreteS = 17; // ...: s
inline constexpr int kVariantSlotValue = 10;          // second f/f0, M of the change, cross section
inline constexpr int kVariantSlotLow = 6;             // lower s of the range, monomer mass
inline constexpr int kVariantSlotHigh = 8;            // upper s of the range, hydration
inline constexpr int kVariantSlotModel = 11;          // rod parameter, persistence length
inline constexpr int kVariantSlotCvD = 3;             // c(v): D

// The variant settings of the active model from the parameter vector.
void ReadVariantSettingsFromParams();
// The settings of the active variant (their current values, the defaults at start)
// written into the vector when its model command chooses it: the vector may hold
// another model's values in those slots.
void StoreVariantDefaultsInParams();

// Restores the defaults.
void ResetDistributionVariants();

}  // namespace tarmic
