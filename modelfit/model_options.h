// Settings of particular models that the parameter vector and the Parameters
// dialog feed: the self-association and non-ideal records the propagators read,
// the zone lamella, the time offset, the three model scalars and the ten extra
// value/fit pairs of the vector, and the model options behind the dialog's
// borrowed check boxes.
//
// Units: s in S; D in units of 1e-7 cm^2/s as entered (the computations convert);
// M in g/mol; log10 constants of ks and kd in 1/(mg/ml); lengths in cm.
#pragma once

#include "scandata/data_set.h"

namespace tarmic {

// --- self-association and non-ideal species (the records the propagators read) ---
extern float fS1, fD1;       // monomer or non-ideal species: s, D (M under bFitMAndS)
extern float fS2, fD2;       // dimer or trimer: s, D (M under bFitMAndS)
extern float fAssocLogK;     // log10 of the association constant
extern float fAssocLoading;  // total loading signal
// 1-2-4 and 1-4-8: the three oligomers (the D fields hold the masses) and log10 Ka, Kb.
extern float fOligoS1, fOligoS2, fOligoS3;
extern float fOligoD1, fOligoD2, fOligoD3;
extern float fAssocLogKa, fAssocLogKb;
// Non-ideality: log10 ks and log10 kd, 1/(mg/ml).
extern float fLogKs;
extern float fLogKd;
// Signal per mg/ml: the data set's signal of unit concentration.
inline constexpr double& fSignalPerConc = dSignalPerConcentration;
extern bool bRepulsiveNonideality;  // "repulsive": ks and kd positive (default on)
extern bool bDimerNonideal;         // monomer-dimer with non-ideal sedimentation
extern bool bCosoluteCoefficients;  // "Polynomial s(c) and D(c)"
extern bool bCsClCoefficients;      // "CsCl s(c) and D(c) (molar)"
extern bool bC1Nonideal;            // "c1 nonideal": species 1 of the discrete model
// Extinction of the species of the multiple-species non-ideal model [1..3].
extern float fNonidealExtinction[4];
extern bool bSyntheticBoundary;     // multiple-species non-ideal model: "with synthetic boundary"

// --- model computation ---
// The run goes on past the last scan to its own stop (steady state) and the final
// profile is fitted to the last scan (command 223, off).
extern bool bFinalProfileToFit;

// --- zone centrifugation ---
extern float fLamellaWidth;   // width of the loaded lamella, cm (0.1)
extern bool bZoneInverseLayer;  // "invert band (buffer lamella over sample)"

// --- electrophoresis ---
// Length of the planar electrophoresis cell, cm: the model's bottom is the meniscus
// plus this length. 0 until the Parameters dialog sets it (the bottom stays then).
extern float fElectroLength;

// --- vector slots 20 to 34 ---
// Slots 20-22: three model scalars with their fit switches [1..3]. With the
// species-1 non-ideal option or the c(s) model with a non-ideal component, slots 20
// and 21 hold fLogKs and fLogKd instead of the first two values.
extern float pModelScalar[4];
extern int pModelScalarFit[4];
// Slot 23: fit switch of the lamella width.
extern int bFitLamellaWidth;
// Slot 24: time offset t0 of the sedimentation (s) and the "Fit t0" option.
extern float fTimeOffset;
extern int bTimeOffset;
// Slots 25-34: ten further value/fit pairs [1..10] (multiple-species non-ideal model).
extern float pExtraPairValue[11];
extern int pExtraPairFit[11];

// --- options of the continuous models edited in the Parameters dialog ---
extern bool bScalingLawNoDiffusion;  // "no diffusional deconvolution (i.e., ls-g*(s))"
extern bool bCalibrateScalingLaw;    // "calibrate": run the power-law calibration after OK
extern bool bSlideFrame;             // van Holde-Weischet: "slide frame"
extern bool bFitBoundaryFractions;   // van Holde-Weischet: "fit boundary fractions"

// --- Parameters command state ---
// Set while the Parameters command runs its dialog; cleared on Cancel.
extern bool bParamsDialogOpened;

// Restores every value above to its start-up default.
void ResetModelOptions();

}  // namespace tarmic
