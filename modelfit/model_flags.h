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

#include <vector>

namespace tarmic {

// --- discrete-species and self-association models ---
extern bool bDiscreteModel;         // non-interacting discrete species
extern bool bMonomerDimer;          // rapid monomer-dimer self-association
extern bool bMonomerTrimer;         // rapid monomer-trimer self-association
extern bool bAssoc124;              // rapid 1-2-4 self-association
extern bool bAssoc148;              // rapid 1-4-8 self-association
extern bool bNonidealSpecies;       // non-ideal sedimentation of one species
extern bool bNonIdealMultiple;      // non-ideal sedimentation of several species
extern bool bHeteroAssocModel;      // reacting system A + B <--> AB
extern bool bZoneCentrifugation;    // analytical zone (band-loading) centrifugation
extern bool bFaxenApproximation;    // analytic Faxen boundaries
extern bool bStokesRadii;           // DLS: discrete Stokes radii
extern bool bCumulants;             // DLS: cumulant analysis
extern bool bBufferSedCorrection;   // species slot 4 is the sedimenting buffer component

// --- continuous distributions ---
extern bool bContiModel;            // a continuous-distribution model is active
extern bool bContiSModel;           // plain c(s) and the analytical-zone c(s)
extern bool bLsgModel;              // ls-g*(s)
extern bool bLsgOneDiscrete;        // ls-g*(s) with one discrete Lamm equation component
extern bool bCsff0Model;            // c(s,ff0)
extern bool bCsff0OneDiscrete;      // c(s,ff0) with one discrete component
extern bool bCsOneDiscreteD;        // c(s) with one discrete component given by s and D
extern bool bCsOneDiscreteM;        // ... given by s and M
extern bool bCsConformationalChange;
extern bool bCsFloatingVbar;        // c(s) with fixed f/f0 and floating vbar
extern bool bCsWormChain;           // c(s) for worm-like chains
extern bool bCsScalingLaw;          // c(s) with the general scaling law s = Ks M^bs
extern bool bCsBimodalFf0;          // c(s) with bimodal f/f0
extern bool bCsBimodalFf0OneDiscrete;
extern bool bCsInvariantD;          // c(s) with invariant D
extern bool bCsMsTable;             // c(s) with an M(s) table
extern bool bCsModel521;            // c(s) of linear rods
extern bool bCsNonideal;            // c(s) with concentration-dependent s and D
extern bool bCMPriorVbar;           // c(M) with vbar(M)
extern bool bCMPowerLawModel;       // c(M) with the power law s = a M^b
extern bool bConstantDModel;        // c(Mb) with invariant D (buoyant mass)
extern bool bFMScalingLaw;          // f(M) vs M with the scaling law
extern bool bCvConstantD;           // electrophoresis: c(v) with constant D
extern bool bElectroLsgModel;       // electrophoresis: ls-g*(v)
extern bool bZoneLsgModel;          // analytical zone centrifugation ls-g*(s)
extern bool bDLSRhModel;            // DLS: I(Rh)
extern bool bDLSDModel;             // DLS: I(D)
extern bool bDLSTimeCourseModel;    // DLS: I(Rh,t) time course
extern bool bBoundaryAnalysis;      // ls-g*(s) area-fraction extrapolation or van Holde-Weischet
extern bool bVanHoldeWeischet;      // the direct-boundary van Holde-Weischet analysis

// The species' second value is the molar mass M instead of D ("Fit M and s").
// A parametrisation, not a model: the model reset leaves it.
extern bool bFitMAndS;

// Clears every model flag above except bFitMAndS and bBufferSedCorrection (the
// buffer mismatch is a correction that stays on across model commands, each of which
// checks that it fits the new model).
void ResetModelFlags();
// The flags ResetModelFlags clears, in one fixed order (bit k of a model's key is the
// k-th of them).
const std::vector<bool*>& ResettableModelFlags();

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
