// The solvent, frictional-ratio and mass-relation settings that the hydrodynamic
// relations and the rod and worm-like-chain models read.
//
// The model, distribution and calculator commands set these values; they are kept
// here, in the lowest library, because the relations that read them live here and
// the library may not depend on the code above it. Units: partial-specific volumes
// in ml/g, densities in g/ml, viscosities relative to STANDARDVISCOSITY, lengths
// in nm, masses in g/mol (Da).
#pragma once

namespace tarmic {

// Viscosity of water at 20 C (Pa s) and its density (g/ml): the standard
// conditions of s20,w.
inline constexpr float STANDARDVISCOSITY = 0.001002f;
inline constexpr float fDensityWater20 = 0.99823f;

// Partial-specific volume at the experimental temperature (0.73) and at 20 C (0.73).
extern float VBAR;
extern float VBAR20;
// Buffer density (1.0) and the buoyancy product VBAR x fBufferDensity (0.73); whoever
// changes either factor keeps fVRho up to date.
extern float fBufferDensity;
extern float fVRho;
// Buffer viscosity relative to STANDARDVISCOSITY (1.0).
extern float RELVISCOSITY;
// Weight-average frictional ratio f/f0 of the distribution models (1.2).
extern float fFrictionalRatio;

// vbar(M) = dVbarOffset + dVbarIncrement (M / 10^nVbarMassScale)^(1/3)
// (1.04248, 0.01909, 8).
extern double dVbarOffset;
extern double dVbarIncrement;
extern int nVbarMassScale;
// Power law s(M) = dSPowerLawA M^dSPowerLawB of the c(M) models (0.0159, 0.47).
extern double dSPowerLawA;
extern double dSPowerLawB;
// Scaling law s = fScalingKs M^fScalingExponent (0.003, 0.667).
extern float fScalingKs;
extern float fScalingExponent;

// Worm-like chain: persistence length (nm, 36.0), dehydrated cross-section (nm^2,
// 23.0), monomer mass (Da, 9000) and hydration (g/g, 0.4).
extern float fWormPersistenceLength;
extern float fWormCrossSection;
extern float fWormMonomerMass;
extern float fWormHydration;

// Restores every value above to its default.
void ResetSolventConstants();

}  // namespace tarmic
