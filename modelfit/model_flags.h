// The model flags: one switch per model family and variant. A model command
// clears them all (ResetModelFlags, the common part of every model switch) and
// then sets its own. The code that tests them goes through them in a fixed order
// and the first match wins, so a variant command that shares the set-up of plain
// c(s) clears bContiSModel again after that set-up and sets its own flag.
//
// Switches of the data (equilibrium, DLS, intensity data) and the Lamm options
// live with the scan data set and the Lamm settings; the special cell geometries
// (bElectrophoresis, bLinearGeometry, ...) with the Lamm solver.
#pragma once

#include "numerics/analysis.h"

#include <vector>

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct ModelFlagsState {
  // --- discrete-species and self-association models ---
  bool bDiscreteModel = false;  // non-interacting discrete species
  bool bMonomerDimer = false;  // rapid monomer-dimer self-association
  bool bMonomerTrimer = false;  // rapid monomer-trimer self-association
  bool bAssoc124 = false;  // rapid 1-2-4 self-association
  bool bAssoc148 = false;  // rapid 1-4-8 self-association
  bool bNonidealSpecies = false;  // non-ideal sedimentation of one species
  bool bNonIdealMultiple = false;  // non-ideal sedimentation of several species
  bool bHeteroAssocModel = false;  // reacting system A + B <--> AB
  bool bZoneCentrifugation = false;  // analytical zone (band-loading) centrifugation
  bool bFaxenApproximation = false;  // analytic Faxen boundaries
  bool bStokesRadii = false;  // DLS: discrete Stokes radii
  bool bCumulants = false;  // DLS: cumulant analysis
  bool bBufferSedCorrection = false;  // species slot 4 is the sedimenting buffer component

  // --- continuous distributions ---
  bool bContiModel = false;  // a continuous-distribution model is active
  bool bContiSModel = false;  // plain c(s) and the analytical-zone c(s)
  bool bLsgModel = false;  // ls-g*(s)
  bool bLsgOneDiscrete = false;  // ls-g*(s) with one discrete Lamm equation component
  bool bCsff0Model = false;  // c(s,ff0)
  bool bCsff0OneDiscrete = false;  // c(s,ff0) with one discrete component
  bool bCsOneDiscreteD = false;  // c(s) with one discrete component given by s and D
  bool bCsOneDiscreteM = false;  // ... given by s and M
  bool bCsConformationalChange = false;
  bool bCsFloatingVbar = false;  // c(s) with fixed f/f0 and floating vbar
  bool bCsWormChain = false;  // c(s) for worm-like chains
  bool bCsScalingLaw = false;  // c(s) with the general scaling law s = Ks M^bs
  bool bCsBimodalFf0 = false;  // c(s) with bimodal f/f0
  bool bCsBimodalFf0OneDiscrete = false;
  bool bCsInvariantD = false;  // c(s) with invariant D
  bool bCsMsTable = false;  // c(s) with an M(s) table
  bool bCsModel521 = false;  // c(s) of linear rods
  bool bCsNonideal = false;  // c(s) with concentration-dependent s and D
  bool bCMPriorVbar = false;  // c(M) with vbar(M)
  bool bCMPowerLawModel = false;  // c(M) with the power law s = a M^b
  bool bConstantDModel = false;  // c(Mb) with invariant D (buoyant mass)
  bool bFMScalingLaw = false;  // f(M) vs M with the scaling law
  bool bCvConstantD = false;  // electrophoresis: c(v) with constant D
  bool bElectroLsgModel = false;  // electrophoresis: ls-g*(v)
  bool bZoneLsgModel = false;  // analytical zone centrifugation ls-g*(s)
  bool bDLSRhModel = false;  // DLS: I(Rh)
  bool bDLSDModel = false;  // DLS: I(D)
  bool bDLSTimeCourseModel = false;  // DLS: I(Rh,t) time course
  bool bBoundaryAnalysis = false;  // ls-g*(s) area-fraction extrapolation or van Holde-Weischet
  bool bVanHoldeWeischet = false;  // the direct-boundary van Holde-Weischet analysis

  // The species' second value is the molar mass M instead of D ("Fit M and s").
  // A parametrisation, not a model: the model reset leaves it.
  bool bFitMAndS = false;
};
// The current analysis' ModelFlagsState.
inline ModelFlagsState& ModelFlags() { return CurrentPart<ModelFlagsState>(); }

// Clears every model flag above except bFitMAndS and bBufferSedCorrection (the
// buffer mismatch is a correction that stays on across model commands, each of which
// checks that it fits the new model).
void ResetModelFlags();
// The flags ResetModelFlags clears, in one fixed order (bit k of a model's key is the
// k-th of them).
std::vector<bool*> ResettableModelFlags();

// --- families, as the parameter code groups the models ---
// Any continuous distribution or boundary analysis.
bool IsContinuousModel();
bool IsSelfAssociationModel();   // monomer-dimer, monomer-trimer, 1-2-4, 1-4-8
bool IsNonidealModel();          // non-ideal single or multiple species
bool IsScalingLawModel();        // c(s) or f(M) with the scaling law
bool IsCsff0Model();             // c(s,ff0) with or without a discrete component
// A discrete-species model whose species slots mean what they say (not the
// self-association, non-ideal, reacting or continuous models).
bool IsDiscreteSpeciesModel();

}  // namespace tarmic
