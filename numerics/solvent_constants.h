// The solvent, frictional-ratio and mass-relation settings that the hydrodynamic
// relations and the rod and worm-like-chain models read.
//
// The model, distribution and calculator commands set these values; they are kept
// here, in the lowest library, because the relations that read them live here and
// the library may not depend on the code above it. Units: partial-specific volumes
// in ml/g, densities in g/ml, viscosities relative to STANDARDVISCOSITY, lengths
// in nm, masses in g/mol (Da).
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// Viscosity of water at 20 C (Pa s) and its density (g/ml): the standard
// conditions of s20,w.
inline constexpr float STANDARDVISCOSITY = 0.001002f;
inline constexpr float fDensityWater20 = 0.99823f;

// The state of this module in an analysis (numerics/analysis.h).
struct SolventConstantsState {
  // Partial-specific volume at the experimental temperature (0.73) and at 20 C (0.73).
  float VBAR = 0.73f;
  float VBAR20 = 0.73f;
  // Buffer density (1.0) and the buoyancy product VBAR x fBufferDensity (0.73); whoever
  // changes either factor keeps fVRho up to date.
  float fBufferDensity = 1.0f;
  float fVRho = 0.73f;
  // Buffer viscosity relative to STANDARDVISCOSITY (1.0).
  float RELVISCOSITY = 1.0f;
  // Weight-average frictional ratio f/f0 of the distribution models (1.2).
  float fFrictionalRatio = 1.2f;

  // vbar(M) = dVbarOffset + dVbarIncrement (M / 10^nVbarMassScale)^(1/3)
  // (1.04248, 0.01909, 8).
  double dVbarOffset = 1.04248;
  double dVbarIncrement = 0.01909;
  int nVbarMassScale = 8;
  // Power law s(M) = dSPowerLawA M^dSPowerLawB of the c(M) models (0.0159, 0.47).
  double dSPowerLawA = 0.0159;
  double dSPowerLawB = 0.47;
  // Scaling law s = fScalingKs M^fScalingExponent (0.003, 0.667).
  float fScalingKs = 0.003f;
  float fScalingExponent = 0.667f;

  // Worm-like chain: persistence length (nm, 36.0), dehydrated cross-section (nm^2,
  // 23.0), monomer mass (Da, 9000) and hydration (g/g, 0.4).
  float fWormPersistenceLength = 36.0f;
  float fWormCrossSection = 23.0f;
  float fWormMonomerMass = 9000.0f;
  float fWormHydration = 0.4f;
};
// The current analysis' SolventConstantsState.
inline SolventConstantsState& SolventConstants() { return CurrentPart<SolventConstantsState>(); }

// Restores every value above to its default.
void ResetSolventConstants();

}  // namespace tarmic
