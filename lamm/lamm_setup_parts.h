// The set-up of a Lamm equation solution in named parts.
//
// Two kinds of structs live here:
//  - the settings a caller hands to a loader of CLammIdeal (numerics, output
//    binding, non-ideality, inhomogeneous solvent, cosolute). Each field names the member it
//    fills; each struct says itself whether its values can be solved with (Valid).
//  - the parts of the solver object's own set-up state. CLammIdeal inherits them,
//    so the solution routines read the members by their plain names, and a copy of
//    the set-up for a worker thread (CopySetup) is an assignment of each part.
//
// Units as in lamm_ideal.h: radii cm; s in S; D cm^2/s; times s; rotor speed rpm;
// temperature deg C; vbar ml/g; density g/ml; relative viscosity against water at
// 20 C; absolute viscosity Pa s. Arrays are one-based unless a field says otherwise;
// pointers belong to the caller and must outlive the solution.
#pragma once

#include <cmath>

#include <vector>

#include "lamm/lamm_interfaces.h"
#include "numerics/value_ranges.h"

namespace tarmic {

// The grid sizes a solution works with (the table of valid values): fewer nodes
// cannot carry a boundary, and the work arrays of more would take hundreds of
// megabytes.
inline constexpr int kMinLammGridPoints = static_cast<int>(kLammGridSize.range.low);
inline constexpr int kMaxLammGridPoints = static_cast<int>(kLammGridSize.range.high);
// The largest "points per sigma" of the automatic grid size. Above a few dozen the
// grid reaches its upper limit for any boundary anyway.
inline constexpr float kMaxPointsPerSigma = static_cast<float>(kPointsPerSigma.range.high);
// Whether a value may stand as "points per sigma" or as a grid size (a grid size is
// taken as its whole part).
inline bool PointsPerSigmaUsable(double v) { return v > 0.0 && v <= kMaxPointsPerSigma; }
inline bool GridSizeUsable(double v) {
  const double n = std::floor(v);
  return n >= kMinLammGridPoints && n <= kMaxLammGridPoints;
}

// ====================================================================================
// Loader settings
// ====================================================================================

// The numerical options of a solution, as set in the dialog "Numerical Control of
// Lamm Equation Solution"; each field names the member it fills.
struct LammDiscretizationSettings {
  int nMinGrid = 0;                     // "lower limit" of the grid size (kept outside
                                        // kMinLammGridPoints..kMaxLammGridPoints)
  int nMaxGrid = 0;                     // "upper limit" (kept outside that range)
  float fPointsPerSigma = 0.0f;         // "points per sigma" (kept outside 0..kMaxPointsPerSigma)
  bool bMultiSpeciesNonideal = false;   // multi-species option (callers pass false)
  double dBackDiffusionLevel = 0.0;     // "level" of the back-diffusion shut-off (kept when <= 0)
  bool bShutOffBackDiffusionOption = true;  // "shut off back-diffusion"
  bool bOptimizeGrid = true;            // "optimize time-invariant grid spacing"
  bool bAutoGridSize = true;            // "automatic dynamic grid size"
  float fFf0 = 1.0f;                    // f/f0 (callers pass 1.0)
  bool bRampRotor = true;               // "ramp rotor speed"
  bool bFixTimeStep = false;            // "fix timestep"
  int nDisplayOption = 0;               // display option of the variants
  double dStopThreshold = 1e-6;         // change per second below which a run stops
  double dMovingFrameS = 1.0;           // s of the moving frame, S
  bool bAutoSGrid = true;               // "automatic s_grid"
  bool bVariantFlag = false;            // a flag of the variants
  bool bAutoVariant = true;             // "automatic finite element algorithm"
  double dTolerance = 1.0;              // largest accepted relative change per step
  double dTolerance005 = 0.1;           // 0.05 x tolerance as entered (lower bound)
  double dTolerance02 = 0.3;            // 0.2 x tolerance as entered (target)
  double dToleranceIn = 1.0;            // tolerance as entered
  // The factor the tolerances above were divided by to refine the whole solution
  // with its grid: the moving grid, whose step is a share of its grid period (which
  // shortens with the nodes already), takes it back.
  int nStepRefinement = 1;
  int nDefaultGrid = 1000;              // "default FE grid size"
  int nExtraRows = 0;                   // allocation option of the work arrays
  bool bUseMovingHat = false;           // "moving hat algorithm"
  bool bUseClaverie = true;             // "Claverie algorithm"
  float fTruncateLevelF = 1e-4f;        // level of the fit-range stop test
  double dTruncateLevel = 1e-6;         // grid truncation level (10^dialog value)
  bool bTruncateGrid = true;            // "dynamically truncate grid"
  double dDefaultStep = 1.0;            // blend of the step control
  double dGridOption = 2.0;             // fixed factor of the step control
  double dVariantThreshold = 5.0;       // "normalized s for automatic change", S
  double dVariantThresholdOpt = 60.0;   // the same "when optimized", S
};

// Where the solution's profiles go, for LoadOutputParameters. Common radii
// pOutRadii[1..nOutRadii] with ppOut[scan][1..nOutRadii], or (pOutRadii null or
// nOutRadii 0) each scan's own radii ppScanRadii[scan][1..pnScanPoints[scan]];
// ppOut rows are indexed by the scan's index in the records. pScanOrder[1..nScanCount]
// lists the scan indices in time order (identity when null).
struct LammOutputBinding {
  LammDisplay* pDisplay = nullptr;            // progress display (user-interface thread only)
  const LammScanRecord* pScans = nullptr;     // scan records
  float** ppOut = nullptr;                    // profiles [scan][point]
  const float* pOutRadii = nullptr;           // common radii, cm
  int nOutRadii = 0;
  float* const* ppScanRadii = nullptr;        // per-scan radii, cm
  const int* pnScanPoints = nullptr;          // per-scan point counts
  bool bShowReadouts = false;                 // time and amount readouts while solving
  const int* pScanOrder = nullptr;
  int nScanCount = 0;
  int nEquation = 1;                          // number of the equation in a list
  bool bNoProgressText = true;
  bool bNoProgressText2 = true;
  bool bTimeResolution = false;               // "simulate time resolution"
  float fScanVelocity = 0.0f;                 // cm/min (kept when <= 0)
  bool bRadialResolution = false;             // "simulate radial resolution"
  float fConvolutionRange = 0.0f;             // cm (kept when <= 0)
  bool bAbsorbance = false;                   // absorbance data (the resolutions need them)

  bool PerScanRadii() const { return pOutRadii == nullptr || nOutRadii <= 0; }
  // Records, profiles and a positive scan count are given, and per-scan radii come
  // with their point counts.
  bool Valid() const;
};

// The concentration dependence, for LoadNonIdealityParameters:
// s(c) = s (1 - ks c), D(c) = D (1 + kd c) with ks = 10^fLogKs, kd = 10^fLogKd, of
// one species or of nSpecies species sharing the factors of their total.
struct LammNonIdealitySettings {
  bool bIdealModel = false;
  bool bKsKdModel = false;
  bool bConcDependentModel = false;
  bool bFrozenCoefficients = false;
  bool bMultiSpecies = false;
  int nSpecies = 0;                           // entries of the species arrays
  const double* pConc = nullptr;              // species concentrations [1..nSpecies]
  const double* pS = nullptr;                 // species s, S
  const double* pD = nullptr;                 // species D, cm^2/s
  const double* pFourth = nullptr;            // species weights (1.0 each when null)
  float fLogKs = -8.0f;
  float fLogKd = -8.0f;
  bool bKsOn = true;                          // ks taken positive (else negative)
  bool bKdOn = true;                          // kd taken positive
  double dNonIdealParam = 3.3;                // signal units per concentration unit
  double dS = 0.0;                            // s of the main species, S
  double dD = 0.0;                            // D of the main species, cm^2/s
  double dConc0 = 0.0;                        // loading concentration

  // Species left after dropping trailing ones of zero concentration.
  int SpeciesCount() const;
  // A concentration-dependent, non-ideal model with a nonzero main D, a finite
  // nonzero signal factor, species arrays where there are species, every species D
  // > 0, and (multi-species) at least one species.
  bool Valid() const;
};

// The static inhomogeneous solvent (compressible solvent or linear gradient), for
// LoadInhomogeneousSolventParameters. The buffer values overwrite those given to
// SetSolventConditions.
struct LammSolventSettings {
  bool bInhomogeneousSolvent = false;
  bool bInhomogeneousSolvent2 = true;
  bool bCompressibleSolvent = false;
  bool bLinearGradient = false;
  double dCompressibility = 0.0;              // 1/MPa
  float fVbarInhom = 0.73f;                   // vbar in the inhomogeneous solvent, ml/g
  float fViscosity = 1.0f;                    // relative viscosity of the buffer
  float fDensity = 1.0f;                      // buffer density, g/ml
  float fVbar = 0.73f;                        // ml/g
  float fVbarRho = 0.73f;                     // vbar x density
  float fDensity1atm = 0.99823f;              // g/ml at 1 atm
  float fRelViscosity1atm = 1.0f;
  double dDensityMeniscus = 0.99823;          // g/ml
  double dDensityBottom = 0.99823;            // g/ml
  double dViscosityMeniscus = 0.001002;       // Pa s
  double dViscosityBottom = 0.001002;         // Pa s

  // Every value finite, the buffer density and viscosity positive, and with the
  // inhomogeneous solvent on, positive densities and viscosities at 1 atm, meniscus
  // and bottom and a compressibility >= 0.
  bool Valid() const;
};

// The sedimenting cosolute, solved as a second Lamm solution beside the species, for
// LoadCosoluteParameters. The coefficient vectors are zero-based.
struct LammCosoluteSettings {
  bool bInhomogeneousSolvent = false;
  bool bInhomSolventDynamic = false;          // the cosolute gradient forms during the run
  bool bAddWaterCompressibility = false;
  double dCompressibility = 0.0;              // 1/MPa
  bool bSecondSolution = false;               // solve the cosolute
  int nComp2Points = 50;                      // its grid size (at least 3 is used)
  bool bComp2ConcDependent = false;
  bool bComp2EarlyCleanup = false;
  bool bComp2Builtin = false;                 // the built-in cosolute coefficients
  double dComp2S = 0.0;                       // S
  double dComp2D = 0.0;                       // cm^2/s
  double dComp2C0 = 0.0;                      // loading concentration
  std::vector<double> vComp2SPoly, vComp2DPoly;  // s(c), D(c) polynomial coefficients
  std::vector<double> vViscCoef, vDensCoef;      // viscosity and density of the cosolute

  // Every value finite, a compressibility >= 0 and, with the second solution on,
  // D >= 0 and c0 >= 0.
  bool Valid() const;
};

// ====================================================================================
// Parts of the solver object's set-up state (copied whole by CopySetup)
// ====================================================================================

// Cell, species, loading and the solvent of the species.
struct LammSpeciesState {
  double dConc0 = 0.0;               // loading concentration c0
  double dBottom = 0.0;              // cm
  double dMeniscus = 0.0;            // cm
  double dS = 0.0;                   // S
  double dD = 0.0;                   // cm^2/s
  float fRightLimit = 6.0f;          // larger fitting limit, cm
  float fLeftLimit = 7.0f;           // smaller fitting limit, cm
  bool bGeometryValid = false;
  bool bRightLimitInside = false;
  int nGeometryError = 0;            // 1 meniscus/bottom <= 0, 2 c0 < 0, 3 D < 0, 4 not finite
  bool bModelSet = false;
  bool bBandLoading = false;
  float fLamellaWidth = 0.1f;        // cm
  bool bInvertBand = false;
  bool bCheckAcceleration = true;
  double dStartTimeOffset = 0.0;     // s
  float fTemperature = 20.0f;        // deg C
  float fViscosity = 1.0f;           // relative
  float fDensity = 1.0f;             // g/ml
  float fVbar = 0.73f;               // ml/g
  float fVbarRho = 0.73f;
};

// Detection corrections applied to the computed profiles.
struct LammDetectionState {
  double dScanTimeLag = 0.0;         // added to the scan times (finite scan velocity), s
  bool bRadialGradient = false;
  double dRadialGradient = 0.0;      // relative amplitude change per cm
  bool bTemporalDrift = false;
  bool bExponentialDrift = false;
  double dDriftRate = 0.0;           // relative amplitude change per s
  bool bRadialConvolution = false;
  double dConvolutionWidth = 0.0;    // Gaussian width, cm
  double dConvolutionParam = 2.0;    // cut-off in widths
  bool bExcitationShadow = false;
  double dShadowRadius = 0.0;        // cone radius, cm
};

// The bound scans and output, and the scanner's resolution.
struct LammOutputState {
  bool bOutputValid = false;
  LammDisplay* pDisplay = nullptr;   // progress display (user-interface thread only)
  const LammScanRecord* pScans = nullptr;  // 1-based scan records
  int nScanCount = 0;
  const int* pScanIndex = nullptr;   // 1-based scan indices in time order
  std::vector<int> vOwnScanOrder;
  bool bOwnsScanOrder = false;       // pScanIndex points into vOwnScanOrder
  int nEquation = 1;                 // number of the equation in a list
  int nThread = 0;                   // worker-thread number (0 in the user-interface thread)
  float** ppOut = nullptr;           // caller's profiles [scan][point]
  const float* pOutRadii = nullptr;
  int nOutRadii = 0;
  bool bPerScanRadii = false;
  float* const* ppScanRadii = nullptr;
  const int* pnScanPoints = nullptr;
  bool bShowReadouts = false;
  bool bNoProgressText = true;
  bool bNoProgressText2 = true;
  bool bTimeResolution = false;
  float fScanVelocity = 2.43f;       // cm/min
  bool bRadialResolution = false;
  float fConvolutionRange = 0.008f;  // cm
  double dSliceCount = 100.0;
  bool bAbsorbance = false;
};

// The numerical options in force (see LammDiscretizationSettings).
struct LammNumericsState {
  bool bDiscretizationLoaded = false;
  int nExtraRows = 0;
  bool bTruncateGrid = true;         // "dynamically truncate grid": active window allowed
  float fTruncateLevelF = 1e-4f;     // fraction of the start value that ends a run at the limit
  double dDt = 1.0;                  // current (proposed) step, s
  bool bRampRotor = true;
  double dStopThreshold = 1e-6;      // change per second below which a run stops
  double dTruncateLevel = 1e-6;      // empty-node level of the window, relative to c(1)
  bool bFixTimeStep = false;
  int nShowM = 0;                    // show the amount in the time readout
  double dMovingFrameS = 1.0;        // s of the moving frame, S
  bool bAutoSGrid = true;            // the frame moves with the species
  bool bRunPastLastScan = false;
  bool bAutoVariant = true;
  double dTolerance = 1.0;           // largest accepted change per step (moving grid: step per period)
  double dTolerance005 = 0.1;        // change below which the step grows
  double dTolerance02 = 0.3;         // change the step control aims at
  double dToleranceIn = 1.0;
  int nStepRefinement = 1;
  int nDefaultGrid = 1000;
  bool bUseMovingHat = false;
  bool bUseClaverie = true;
  double dGridOption = 2.0;          // fixed factor of the step control
  double dVariantThreshold = 5.0;    // S at 30000 rpm
  double dVariantThresholdOpt = 60.0;
  double dDefaultStep = 1.0;         // blend of the step control
  float fFf0 = 1.0f;
  bool bAutoGridSize = true;
  bool bOptimizeGrid = true;
  bool bShutOffBackDiffusionOption = true;
  double dBackDiffusionLevel = 1e-4;
  bool bMultiSpeciesNonideal = false;
  float fPointsPerSigma = 5.0f;
  int nMinGrid = 100, nMaxGrid = 2000;
  double dInitialDt = 1.0;           // s
  bool bDebugLog = false;
};

// The inhomogeneous solvent and the cosolute's solvent tables.
struct LammSolventState {
  bool bSolventLoaded = true;        // the last solvent loaded was valid
  bool bInhomogeneousSolvent = false;
  bool bInhomogeneousSolvent2 = true;
  bool bCompressibleSolvent = false;
  bool bLinearGradient = false;
  bool bInhomSolventDynamic = false;
  bool bAddWaterCompressibility = false;
  double dCompressibility = 0.0;     // 1/MPa
  float fVbarInhom = 0.73f, fDensity1atm = 0.99823f, fRelViscosity1atm = 1.0f;
  double dDensityMeniscus = 0.99823, dDensityBottom = 0.99823;
  double dViscosityMeniscus = 0.001002, dViscosityBottom = 0.001002;
  bool bCosoluteTables = false;
  std::vector<double> pViscCoef, pDensCoef;  // 1-based coefficient tables
  int nViscCoef = 0, nDensCoef = 0;
};

// The concentration dependence of s and D.
struct LammNonIdealityState {
  bool bIdealModel = false;
  bool bConcDependentModel = false;
  bool bSelfAssociation = false;
  int nSpecies = 0;
  std::vector<double> pNonIdealConc, pNonIdealS, pNonIdealD, pNonIdealFourth;  // 1..nSpecies
  bool bConcDependentActive = false;
  bool bSelfAssocLoaded = true;
  bool bNonIdealLoaded = true;
  bool bMultiSpecies = false;
  float fLogKs = -8.0f, fKs = 1e-8f;
  float fLogKd = -8.0f, fKd = 1e-8f;
  bool bKsOn = true, bKdOn = true;   // ks and kd taken positive (else negative)
  double dNonIdealParam = 3.3;       // signal units per concentration unit
  bool bKsKdModel = false;
  bool bFrozenCoefficients = false;
};

// The second (cosolute) solution's parameters.
struct LammCosoluteState {
  bool bCosoluteLoaded = true;       // the last cosolute loaded was valid
  bool bSecondSolution = false;
  int nComp2Points = 50;
  bool bComp2ConcDependent = false, bComp2EarlyCleanup = false, bComp2Builtin = false;
  double dComp2S = 0.0, dComp2D = 0.0, dComp2C0 = 0.0;
  std::vector<double> pComp2SPoly, pComp2DPoly;  // 1-based polynomial coefficients
  int nComp2SPoly = 0, nComp2DPoly = 0;
};

}  // namespace tarmic
