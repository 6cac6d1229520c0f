// Settings of particular models that the parameter vector and the Parameters
// dialog feed: the self-association and non-ideal records the propagators read,
// the zone lamella, the time offset, the three model scalars and the ten extra
// value/fit pairs of the vector, and the model options behind the dialog's
// borrowed check boxes.
//
// Units: s in S; D in units of 1e-7 cm^2/s as entered (the computations convert);
// M in g/mol; log10 constants of ks and kd in 1/(mg/ml); lengths in cm.
#pragma once

#include "numerics/analysis.h"

#include "scandata/data_set.h"

namespace tarmic {

// --- self-association and non-ideal species (the records the propagators read) ---
// The state of this module in an analysis (numerics/analysis.h).
struct ModelOptionsState {
  float fS1 = 0.0f, fD1 = 0.0f;  // monomer or non-ideal species: s, D (M under bFitMAndS)
  float fS2 = 0.0f, fD2 = 0.0f;  // dimer or trimer: s, D (M under bFitMAndS)
  float fAssocLogK = 0.0f;  // log10 of the association constant
  float fAssocLoading = 0.0f;  // total loading signal
  float fOligoS1 = 0.0f, fOligoS2 = 0.0f, fOligoS3 = 0.0f;
  float fOligoD1 = 0.0f, fOligoD2 = 0.0f, fOligoD3 = 0.0f;
  float fAssocLogKa = 0.0f, fAssocLogKb = 0.0f;
  float fLogKs = -8.0f;
  float fLogKd = -8.0f;
  bool bRepulsiveNonideality = true;  // "repulsive": ks and kd positive (default on)
  bool bDimerNonideal = false;  // monomer-dimer with non-ideal sedimentation
  bool bCosoluteCoefficients = false;  // "Polynomial s(c) and D(c)"
  bool bCsClCoefficients = false;  // "CsCl s(c) and D(c) (molar)"
  bool bC1Nonideal = false;  // "c1 nonideal": species 1 of the discrete model
  float fNonidealExtinction[4] = {0.0f, 1.0f, 1.0f, 1.0f};
  bool bSyntheticBoundary = false;  // multiple-species non-ideal model: "with synthetic boundary"
  bool bFinalProfileToFit = false;
  float fLamellaWidth = 0.1f;  // width of the loaded lamella, cm (0.1)
  bool bZoneInverseLayer = false;  // "invert band (buffer lamella over sample)"
  float fElectroLength = 0.0f;
  float pModelScalar[4] = {};
  int pModelScalarFit[4] = {};
  int bFitLamellaWidth = 0;
  float fTimeOffset = 0.0f;
  int bTimeOffset = 0;
  float pExtraPairValue[11] = {};
  int pExtraPairFit[11] = {};
  bool bScalingLawNoDiffusion = false;  // "no diffusional deconvolution (i.e., ls-g*(s))"
  bool bCalibrateScalingLaw = false;  // "calibrate": run the power-law calibration after OK
  bool bSlideFrame = false;  // van Holde-Weischet: "slide frame"
  bool bFitBoundaryFractions = false;  // van Holde-Weischet: "fit boundary fractions"
  bool bParamsDialogOpened = false;
};
inline ModelOptionsState& ModelOptions() { return CurrentPart<ModelOptionsState>(); }
// 1-2-4 and 1-4-8: the three oligomers (the D fields hold the masses) and log10 Ka, Kb.
// Non-ideality: log10 ks and log10 kd, 1/(mg/ml).
// Signal per mg/ml: the data set's signal of unit concentration.
// Extinction of the species of the multiple-species non-ideal model [1..3].

// --- model computation ---
// The run goes on past the last scan to its own stop (steady state) and the final
// profile is fitted to the last scan (command 223, off).

// --- zone centrifugation ---

// --- electrophoresis ---
// Length of the planar electrophoresis cell, cm: the model's bottom is the meniscus
// plus this length. 0 until the Parameters dialog sets it (the bottom stays then).

// --- vector slots 20 to 34 ---
// Slots 20-22: three model scalars with their fit switches [1..3]. With the
// species-1 non-ideal option or the c(s) model with a non-ideal component, slots 20
// and 21 hold fLogKs and fLogKd instead of the first two values.
// Slot 23: fit switch of the lamella width.
// Slot 24: time offset t0 of the sedimentation (s) and the "Fit t0" option.
// Slots 25-34: ten further value/fit pairs [1..10] (multiple-species non-ideal model).

// --- options of the continuous models edited in the Parameters dialog ---

// --- Parameters command state ---
// Set while the Parameters command runs its dialog; cleared on Cancel.

// Restores every value above to its start-up default.
void ResetModelOptions();

}  // namespace tarmic
