// Construction and set-up of the Lamm equation solver object: the loaders that
// mark each part of the set-up valid, the copy of a template for worker threads and
// the rebinding of a copy to one species.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"

namespace tarmic {

namespace {

bool AllFinite(std::initializer_list<double> values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

CLammIdeal::CLammIdeal() { bDebugLog = LammGlobals().bLammDebugLog; }

CLammIdeal::~CLammIdeal() { FreeWorkArrays(); }

void CLammIdeal::SetIdealModel() {
  bIdealModel = true;
  bModelSet = true;
}

void CLammIdeal::LoadSedimentationParameters(double s, double D, double meniscus, double bottom,
                                             double c0, float limit1, float limit2) {
  nGeometryError = 0;
  dS = s;
  dD = D;
  dMeniscus = meniscus;
  dBottom = bottom;
  dConc0 = c0;
  // The right limit is the larger one.
  fRightLimit = std::max(limit1, limit2);
  fLeftLimit = std::min(limit1, limit2);
  bGeometryValid = !(meniscus >= bottom || meniscus <= 0 || bottom <= 0 || fLeftLimit < meniscus ||
                     fLeftLimit > bottom || fRightLimit < meniscus || fRightLimit > bottom);
  bRightLimitInside = meniscus <= fRightLimit && fRightLimit <= bottom;
  if (meniscus <= 0 || bottom <= 0) nGeometryError = 1;
  if (c0 < 0) {
    nGeometryError = 2;
    bGeometryValid = false;
  }
  if (D < 0) {
    nGeometryError = 3;
    bGeometryValid = false;
  }
  // A parameter that is not a finite number can only produce a profile of NaNs.
  if (!AllFinite({s, D, meniscus, bottom, c0, limit1, limit2})) {
    nGeometryError = 4;
    bGeometryValid = false;
    bRightLimitInside = false;
  }
}

void CLammIdeal::SkipAccelerationCheck() { bCheckAcceleration = false; }

void CLammIdeal::BindOutput(float** out, const float* outRadii, int nOut, float* const* scanRadii,
                            const int* scanCounts) {
  ppOut = out;
  pOutRadii = outRadii;
  nOutRadii = nOut;
  // The resampling plan takes the output radii by their address.
  outputPlan.Forget();
  ppScanRadii = scanRadii;
  pnScanPoints = scanCounts;
  const LammOutputBinding binding{.pScans = pScans, .ppOut = out, .pOutRadii = outRadii,
                                  .nOutRadii = nOut, .ppScanRadii = scanRadii,
                                  .pnScanPoints = scanCounts, .nScanCount = nScanCount};
  bPerScanRadii = binding.PerScanRadii();
  bOutputValid = binding.Valid();
  vOwnProfileBlock.clear();
  ppOwnProfiles.clear();
  nOwnRows = nOwnCols = 0;
  if (bPerScanRadii && bOutputValid) {
    // The own matrix has a row for every scan index that the order names.
    int rows = nScanCount, cols = 0;
    for (int p = 1; p <= nScanCount; ++p) rows = std::max(rows, pScanIndex[p]);
    for (int p = 1; p <= nScanCount; ++p) cols = std::max(cols, scanCounts[pScanIndex[p]]);
    nOwnRows = rows;
    nOwnCols = cols;
    vOwnProfileBlock.assign(static_cast<size_t>(rows + 1) * (cols + 1), 0.0f);
    ppOwnProfiles.assign(rows + 1, nullptr);
    for (int k = 1; k <= rows; ++k) ppOwnProfiles[k] = vOwnProfileBlock.data() + k * (cols + 1);
  }
}

void CLammIdeal::LoadOutputParameters(const LammOutputBinding& b) {
  pDisplay = b.pDisplay;
  pScans = b.pScans;
  nScanCount = b.nScanCount;
  bShowReadouts = b.bShowReadouts;
  nEquation = b.nEquation;
  bNoProgressText = b.bNoProgressText;
  bNoProgressText2 = b.bNoProgressText2;
  bAbsorbance = b.bAbsorbance;
  if (b.pScanOrder == nullptr && b.nScanCount > 0) {
    vOwnScanOrder.resize(b.nScanCount + 1);
    for (int k = 0; k <= b.nScanCount; ++k) vOwnScanOrder[k] = k;
    pScanIndex = vOwnScanOrder.data();
    bOwnsScanOrder = true;
  } else {
    pScanIndex = b.pScanOrder;
    bOwnsScanOrder = false;
  }
  bTimeResolution = b.bTimeResolution;
  bRadialResolution = b.bRadialResolution;
  if (b.fScanVelocity > 0) fScanVelocity = b.fScanVelocity;
  if (b.fConvolutionRange > 0) fConvolutionRange = b.fConvolutionRange;
  if (fScanVelocity <= 0) bTimeResolution = false;
  if (fConvolutionRange <= 0) bRadialResolution = false;
  if (!b.bAbsorbance) bTimeResolution = bRadialResolution = false;
  if (pScanIndex == nullptr) {
    bOutputValid = false;
    return;
  }
  BindOutput(b.ppOut, b.pOutRadii, b.nOutRadii, b.ppScanRadii, b.pnScanPoints);
}

void CLammIdeal::LoadDiscretizationParameters(const LammDiscretizationSettings& s) {
  // Grid limits and points per sigma outside the ranges a solution works with keep
  // the object's own; the lower limit is never above the upper one.
  if (GridSizeUsable(s.nMinGrid)) nMinGrid = s.nMinGrid;
  if (GridSizeUsable(s.nMaxGrid)) nMaxGrid = s.nMaxGrid;
  if (nMinGrid > nMaxGrid) nMinGrid = nMaxGrid;
  if (PointsPerSigmaUsable(s.fPointsPerSigma)) fPointsPerSigma = s.fPointsPerSigma;
  bMultiSpeciesNonideal = s.bMultiSpeciesNonideal;
  if (s.dBackDiffusionLevel > 0) dBackDiffusionLevel = s.dBackDiffusionLevel;
  bShutOffBackDiffusionOption = s.bShutOffBackDiffusionOption;
  bOptimizeGrid = s.bOptimizeGrid;
  bAutoGridSize = s.bAutoGridSize;
  fFf0 = s.fFf0;
  bRampRotor = s.bRampRotor;
  bFixTimeStep = s.bFixTimeStep;
  dStopThreshold = s.dStopThreshold;
  dMovingFrameS = s.dMovingFrameS;
  bAutoSGrid = s.bAutoSGrid;
  bAutoVariant = s.bAutoVariant;
  dTolerance = s.dTolerance;
  dTolerance005 = s.dTolerance005;
  dTolerance02 = s.dTolerance02;
  dToleranceIn = s.dToleranceIn;
  nDefaultGrid = s.nDefaultGrid;
  nStepRefinement = s.nStepRefinement > 1 ? s.nStepRefinement : 1;
  nExtraRows = s.nExtraRows;
  bUseMovingHat = s.bUseMovingHat;
  bUseClaverie = s.bUseClaverie;
  if (bUseMovingHat && bUseClaverie) bUseMovingHat = false;
  fTruncateLevelF = s.fTruncateLevelF;
  dTruncateLevel = s.dTruncateLevel;
  bTruncateGrid = s.bTruncateGrid;
  dDefaultStep = s.dDefaultStep;
  dGridOption = s.dGridOption;
  dVariantThreshold = s.dVariantThreshold;
  dVariantThresholdOpt = s.dVariantThresholdOpt;
  bDiscretizationLoaded = !(fFf0 <= 0 && dD > 0);
}

void CLammIdeal::SetBandLoading(bool band, float lamellaWidth, bool invertBand) {
  bBandLoading = band;
  fLamellaWidth = lamellaWidth;
  bInvertBand = invertBand;
}

void CLammIdeal::SetSolventConditions(double temperature, double vbar, double density,
                                      double viscosity) {
  fTemperature = static_cast<float>(temperature);
  fVbar = static_cast<float>(vbar);
  fDensity = static_cast<float>(density);
  fViscosity = static_cast<float>(viscosity);
  fVbarRho = fVbar * fDensity;
  // f/f0 of the species from s and D: its molar mass, the radius of the anhydrous
  // sphere of that mass, and Stokes' friction of that sphere.
  double M = 0.0;
  if (dD > 0) M = dS * 1e-13 * (fTemperature + 273.15) * kGasConstant / ((1 - fVbarRho) * dD);
  double f0 = 0.0;
  if (M > 0 && fVbar > 0) {
    const double V = 1.6605392767355127e-24 * M * fVbar * 1e-6;  // m^3
    if (V > 0) {
      const double R0 = std::exp(std::log(3 * V * 0.0795774716) / 3);
      f0 = 0.0188872550118 * fViscosity * R0 * 1000;
    }
  }
  if (f0 > 0 && dS != 0)
    fFf0 = static_cast<float>(((1 - fVbarRho) * M * 1.6605392767355127e-24 / (dS * 1e-13)) / f0);
  else
    fFf0 = 0.0f;
}

void CLammIdeal::SetStartTimeOffset(double offset) { dStartTimeOffset = offset; }

void CLammIdeal::LoadInhomogeneousSolventParameters(const LammSolventSettings& v) {
  bSolventLoaded = v.Valid();
  bInhomogeneousSolvent = v.bInhomogeneousSolvent;
  bInhomogeneousSolvent2 = v.bInhomogeneousSolvent2;
  bCompressibleSolvent = v.bCompressibleSolvent;
  bLinearGradient = v.bLinearGradient;
  dCompressibility = v.dCompressibility;
  fVbarInhom = v.fVbarInhom;
  fViscosity = v.fViscosity;
  fDensity = v.fDensity;
  fVbar = v.fVbar;
  fVbarRho = v.fVbarRho;
  fDensity1atm = v.fDensity1atm;
  fRelViscosity1atm = v.fRelViscosity1atm;
  dDensityMeniscus = v.dDensityMeniscus;
  dDensityBottom = v.dDensityBottom;
  dViscosityMeniscus = v.dViscosityMeniscus;
  dViscosityBottom = v.dViscosityBottom;
}

void CLammIdeal::LoadCosoluteParameters(const LammCosoluteSettings& v) {
  bCosoluteLoaded = v.Valid();
  bInhomogeneousSolvent = v.bInhomogeneousSolvent;
  bInhomSolventDynamic = v.bInhomSolventDynamic;
  bAddWaterCompressibility = v.bAddWaterCompressibility;
  dCompressibility = v.dCompressibility;
  bSecondSolution = v.bSecondSolution;
  // The second grid needs at least two intervals.
  nComp2Points = std::max(v.nComp2Points, 3);
  bComp2ConcDependent = v.bComp2ConcDependent;
  bComp2EarlyCleanup = v.bComp2EarlyCleanup;
  bComp2Builtin = v.bComp2Builtin;
  dComp2S = v.dComp2S;
  dComp2D = v.dComp2D;
  dComp2C0 = v.dComp2C0;
  auto oneBased = [](const std::vector<double>& in, std::vector<double>& out, int& n) {
    n = static_cast<int>(in.size());
    out.assign(in.size() + 1, 0.0);
    std::copy(in.begin(), in.end(), out.begin() + 1);
  };
  oneBased(v.vComp2SPoly, pComp2SPoly, nComp2SPoly);
  oneBased(v.vComp2DPoly, pComp2DPoly, nComp2DPoly);
  oneBased(v.vViscCoef, pViscCoef, nViscCoef);
  oneBased(v.vDensCoef, pDensCoef, nDensCoef);
  bCosoluteTables = nViscCoef > 0 || nDensCoef > 0;
}

void CLammIdeal::LoadNonIdealityParameters(const LammNonIdealitySettings& v) {
  bNonIdealLoaded = false;
  bIdealModel = v.bIdealModel;
  bKsKdModel = v.bKsKdModel;
  bConcDependentModel = v.bConcDependentModel;
  bFrozenCoefficients = v.bFrozenCoefficients;
  bMultiSpecies = v.bMultiSpecies;
  bConcDependentActive = !v.bIdealModel && (bSelfAssociation || v.bKsKdModel ||
                                            v.bConcDependentModel || v.bMultiSpecies);
  const int n = v.SpeciesCount();
  nSpecies = n;
  if (n > 0) {
    if (!v.pConc || !v.pS || !v.pD) {
      bConcDependentActive = false;
      return;
    }
    pNonIdealConc.assign(v.pConc, v.pConc + n + 1);
    pNonIdealS.assign(v.pS, v.pS + n + 1);
    pNonIdealD.assign(v.pD, v.pD + n + 1);
    if (v.pFourth)
      pNonIdealFourth.assign(v.pFourth, v.pFourth + n + 1);
    else
      pNonIdealFourth.assign(n + 1, 1.0);
  }
  fLogKs = v.fLogKs;
  fLogKd = v.fLogKd;
  bKsOn = v.bKsOn;
  bKdOn = v.bKdOn;
  dNonIdealParam = v.dNonIdealParam;
  dS = v.dS;
  dD = v.dD;
  dConc0 = v.dConc0;
  bConcDependentActive = bNonIdealLoaded = v.Valid();
  bAutoGridSize = false;
  bOptimizeGrid = false;
  if (v.bMultiSpecies) bMultiSpeciesNonideal = true;
}

void CLammIdeal::SetScanTimeLag(float firstRadius) {
  // The scanner starts at the meniscus and reaches the first data point after
  // (r - meniscus) / v.
  const double v = fScanVelocity / 60.0;  // cm/s
  dScanTimeLag = v > 0 ? std::max(0.0, (firstRadius - dMeniscus) / v) : 0.0;
}

void CLammIdeal::SetRadialMagnificationGradient(bool on, float value) {
  bRadialGradient = on;
  dRadialGradient = on ? value - 1.0 : 0.0;
}

void CLammIdeal::SetTemporalDrift(bool on, float percentPerHour, bool exponential) {
  bTemporalDrift = on;
  dDriftRate = on ? percentPerHour * 0.01 / 3600.0 : 0.0;
  bExponentialDrift = exponential;
}

void CLammIdeal::SetRadialConvolution(bool on, float width, float param) {
  bRadialConvolution = on;
  dConvolutionWidth = width;
  dConvolutionParam = param;
}

void CLammIdeal::SetExcitationShadow(bool on, float coneRadius) {
  bExcitationShadow = on;
  dShadowRadius = on ? coneRadius : 0.0;
}

void CLammIdeal::SetSpeciesAndOutput(double s, double D, float** out, const float* outRadii,
                                     int nOut, float* const* scanRadii, const int* scanCounts) {
  dS = s;
  dD = D;
  // The geometry check covers s and D too.
  LoadSedimentationParameters(s, D, dMeniscus, dBottom, dConc0, fLeftLimit, fRightLimit);
  BindOutput(out, outRadii, nOut, scanRadii, scanCounts);
}

void CLammIdeal::CopySetup(const CLammIdeal& src) {
  // Every part of the set-up; the work arrays, the results and the own profile
  // matrix stay the copy's own.
  static_cast<LammSpeciesState&>(*this) = src;
  static_cast<LammDetectionState&>(*this) = src;
  static_cast<LammOutputState&>(*this) = src;
  static_cast<LammNumericsState&>(*this) = src;
  static_cast<LammSolventState&>(*this) = src;
  static_cast<LammNonIdealityState&>(*this) = src;
  static_cast<LammCosoluteState&>(*this) = src;
  // An own scan order is the copy's own as well.
  if (bOwnsScanOrder) pScanIndex = vOwnScanOrder.data();
  if (bOutputValid) BindOutput(ppOut, pOutRadii, nOutRadii, ppScanRadii, pnScanPoints);
}

// ---- Validity of the loader settings -----------------------------------------------

bool LammOutputBinding::Valid() const {
  return pScans != nullptr && ppOut != nullptr && nScanCount > 0 &&
         !(PerScanRadii() && (ppScanRadii == nullptr || pnScanPoints == nullptr));
}

int LammNonIdealitySettings::SpeciesCount() const {
  int n = std::max(nSpecies, 0);
  while (n > 0 && pConc && pConc[n] == 0.0) --n;
  return n;
}

bool LammNonIdealitySettings::Valid() const {
  const int n = SpeciesCount();
  if (n > 0 && (!pConc || !pS || !pD)) return false;
  if (!(dD != 0 && !bIdealModel && bConcDependentModel && (!bMultiSpecies || n >= 1) &&
        std::isfinite(dNonIdealParam) && dNonIdealParam != 0))
    return false;
  for (int k = 1; k <= n; ++k)
    if (!(pD[k] > 0)) return false;
  return true;
}

bool LammSolventSettings::Valid() const {
  if (!AllFinite({dCompressibility, fVbarInhom, fViscosity, fDensity, fVbar, fVbarRho,
                  fDensity1atm, fRelViscosity1atm, dDensityMeniscus, dDensityBottom,
                  dViscosityMeniscus, dViscosityBottom}))
    return false;
  if (!(fViscosity > 0 && fDensity > 0)) return false;
  if (!bInhomogeneousSolvent) return true;
  return dCompressibility >= 0 && fDensity1atm > 0 && fRelViscosity1atm > 0 &&
         dDensityMeniscus > 0 && dDensityBottom > 0 && dViscosityMeniscus > 0 &&
         dViscosityBottom > 0;
}

bool LammCosoluteSettings::Valid() const {
  if (!AllFinite({dCompressibility, dComp2S, dComp2D, dComp2C0}) || dCompressibility < 0)
    return false;
  for (const std::vector<double>* table : {&vComp2SPoly, &vComp2DPoly, &vViscCoef, &vDensCoef})
    for (double c : *table)
      if (!std::isfinite(c)) return false;
  return !bSecondSolution || (dComp2D >= 0 && dComp2C0 >= 0);
}

}  // namespace tarmic
