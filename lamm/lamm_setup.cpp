// Construction and set-up of the Lamm equation solver object: the loaders that
// mark each part of the set-up valid, the copy of a template for worker threads and
// the rebinding of a copy to one species.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "numerics/error_box.h"

namespace tarmic {

namespace {

bool AllFinite(std::initializer_list<double> values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

CLammIdeal::CLammIdeal() { bDebugLog = bLammDebugLog; }

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
  ppScanRadii = scanRadii;
  pnScanPoints = scanCounts;
  bPerScanRadii = outRadii == nullptr || nOut <= 0;
  bOutputValid = pScans != nullptr && out != nullptr && nScanCount > 0 &&
                 !(bPerScanRadii && (scanRadii == nullptr || scanCounts == nullptr));
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

void CLammIdeal::LoadOutputParameters(LammDisplay* display, const LammScanRecord* scans, float** out,
                                      const float* outRadii, int nOut, float* const* scanRadii,
                                      const int* scanCounts, bool showReadouts,
                                      const int* scanOrder, int scanCount, int equation,
                                      bool noProgressText, bool noProgressText2,
                                      bool timeResolution, float scanVelocity,
                                      bool radialResolution, float convolutionRange,
                                      bool absorbance) {
  pDisplay = display;
  pScans = scans;
  nScanCount = scanCount;
  bShowReadouts = showReadouts;
  nEquation = equation;
  bNoProgressText = noProgressText;
  bNoProgressText2 = noProgressText2;
  bAbsorbance = absorbance;
  if (scanOrder == nullptr && scanCount > 0) {
    vOwnScanOrder.resize(scanCount + 1);
    for (int k = 0; k <= scanCount; ++k) vOwnScanOrder[k] = k;
    pScanIndex = vOwnScanOrder.data();
    bOwnsScanOrder = true;
  } else {
    pScanIndex = scanOrder;
    bOwnsScanOrder = false;
  }
  bTimeResolution = timeResolution;
  bRadialResolution = radialResolution;
  if (scanVelocity > 0) fScanVelocity = scanVelocity;
  if (convolutionRange > 0) fConvolutionRange = convolutionRange;
  if (fScanVelocity <= 0) bTimeResolution = false;
  if (fConvolutionRange <= 0) bRadialResolution = false;
  if (!absorbance) bTimeResolution = bRadialResolution = false;
  if (pScanIndex == nullptr) {
    bOutputValid = false;
    return;
  }
  BindOutput(out, outRadii, nOut, scanRadii, scanCounts);
}

void CLammIdeal::LoadDiscretizationParameters(const LammDiscretizationSettings& s) {
  if (s.nMinGrid > 0) nMinGrid = s.nMinGrid;
  if (s.nMaxGrid > 0) nMaxGrid = s.nMaxGrid;
  if (s.fPointsPerSigma > 0) fPointsPerSigma = s.fPointsPerSigma;
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
  if (dD > 0) M = dS * 1e-13 * (fTemperature + 273.15) * 8.31451 * 1e7 / ((1 - fVbarRho) * dD);
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

void CLammIdeal::LoadInhomogeneousSolventParameters(
    bool inhomogeneous, bool inhomogeneous2, bool compressible, bool linearGradient,
    double compressibility, float vbarInhom, float relViscosity, float bufferDensity, float vbar,
    float vbarRho, float density1atm, float relViscosity1atm, double densityMeniscus,
    double densityBottom, double viscosityMeniscus, double viscosityBottom) {
  bInhomogeneousSolvent = inhomogeneous;
  bInhomogeneousSolvent2 = inhomogeneous2;
  bCompressibleSolvent = compressible;
  bLinearGradient = linearGradient;
  dCompressibility = compressibility;
  fVbarInhom = vbarInhom;
  fViscosity = relViscosity;
  fDensity = bufferDensity;
  fVbar = vbar;
  fVbarRho = vbarRho;
  fDensity1atm = density1atm;
  fRelViscosity1atm = relViscosity1atm;
  dDensityMeniscus = densityMeniscus;
  dDensityBottom = densityBottom;
  dViscosityMeniscus = viscosityMeniscus;
  dViscosityBottom = viscosityBottom;
}

void CLammIdeal::LoadCosoluteParameters(bool inhomogeneous, bool dynamic,
                                        bool addWaterCompressibility, double compressibility,
                                        bool secondSolution, int comp2Points,
                                        bool comp2ConcDependent, bool comp2EarlyCleanup,
                                        bool comp2Builtin, double comp2S, double comp2D,
                                        double comp2C0, const std::vector<double>& comp2SPoly,
                                        const std::vector<double>& comp2DPoly,
                                        const std::vector<double>& viscCoef,
                                        const std::vector<double>& densCoef) {
  bInhomogeneousSolvent = inhomogeneous;
  bInhomSolventDynamic = dynamic;
  bAddWaterCompressibility = addWaterCompressibility;
  dCompressibility = compressibility;
  bSecondSolution = secondSolution;
  // The second grid needs at least two intervals.
  nComp2Points = std::max(comp2Points, 3);
  bComp2ConcDependent = comp2ConcDependent;
  bComp2EarlyCleanup = comp2EarlyCleanup;
  bComp2Builtin = comp2Builtin;
  dComp2S = comp2S;
  dComp2D = comp2D;
  dComp2C0 = comp2C0;
  auto oneBased = [](const std::vector<double>& v, std::vector<double>& out, int& n) {
    n = static_cast<int>(v.size());
    out.assign(v.size() + 1, 0.0);
    std::copy(v.begin(), v.end(), out.begin() + 1);
  };
  oneBased(comp2SPoly, pComp2SPoly, nComp2SPoly);
  oneBased(comp2DPoly, pComp2DPoly, nComp2DPoly);
  oneBased(viscCoef, pViscCoef, nViscCoef);
  oneBased(densCoef, pDensCoef, nDensCoef);
  bCosoluteTables = nViscCoef > 0 || nDensCoef > 0;
}

void CLammIdeal::LoadNonIdealityParameters(bool ideal, bool ksKdModel, bool concDependent,
                                           bool frozen, bool multiSpecies, int count,
                                           const double* conc, const double* s, const double* D,
                                           const double* fourth, float logKs, float logKd,
                                           bool ksPositive, bool kdPositive, double signalPerConc,
                                           double sMain, double DMain, double c0) {
  bNonIdealLoaded = false;
  bIdealModel = ideal;
  bKsKdModel = ksKdModel;
  bConcDependentModel = concDependent;
  bFrozenCoefficients = frozen;
  bMultiSpecies = multiSpecies;
  bConcDependentActive = !ideal && (bSelfAssociation || ksKdModel || concDependent || multiSpecies);
  // Trailing species of zero concentration are dropped.
  int n = std::max(count, 0);
  while (n > 0 && conc && conc[n] == 0.0) --n;
  nSpecies = n;
  if (n > 0) {
    if (!conc || !s || !D) {
      bConcDependentActive = false;
      return;
    }
    pNonIdealConc.assign(conc, conc + n + 1);
    pNonIdealS.assign(s, s + n + 1);
    pNonIdealD.assign(D, D + n + 1);
    if (fourth)
      pNonIdealFourth.assign(fourth, fourth + n + 1);
    else
      pNonIdealFourth.assign(n + 1, 1.0);
  }
  fLogKs = logKs;
  fLogKd = logKd;
  bKsOn = ksPositive;
  bKdOn = kdPositive;
  dNonIdealParam = signalPerConc;
  dS = sMain;
  dD = DMain;
  dConc0 = c0;
  bool valid = dD != 0 && !ideal && concDependent && (!multiSpecies || nSpecies >= 1) &&
               std::isfinite(signalPerConc) && signalPerConc != 0;
  for (int k = 1; k <= nSpecies; ++k) valid = valid && pNonIdealD[k] > 0;
  if (valid) {
    bConcDependentActive = true;
    bNonIdealLoaded = true;
  } else {
    bConcDependentActive = false;
    bNonIdealLoaded = false;
  }
  bAutoGridSize = false;
  bOptimizeGrid = false;
  if (multiSpecies) bMultiSpeciesNonideal = true;
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
  // Everything but the work arrays, the results and the bindings of the source's
  // own storage.
  dConc0 = src.dConc0;
  dBottom = src.dBottom;
  dMeniscus = src.dMeniscus;
  dS = src.dS;
  dD = src.dD;
  dScanTimeLag = src.dScanTimeLag;
  bRadialGradient = src.bRadialGradient;
  dRadialGradient = src.dRadialGradient;
  bTemporalDrift = src.bTemporalDrift;
  bExponentialDrift = src.bExponentialDrift;
  dDriftRate = src.dDriftRate;
  bRadialConvolution = src.bRadialConvolution;
  dConvolutionWidth = src.dConvolutionWidth;
  dConvolutionParam = src.dConvolutionParam;
  bExcitationShadow = src.bExcitationShadow;
  dShadowRadius = src.dShadowRadius;
  bGeometryValid = src.bGeometryValid;
  bRightLimitInside = src.bRightLimitInside;
  nGeometryError = src.nGeometryError;
  bModelSet = src.bModelSet;
  bDiscretizationLoaded = src.bDiscretizationLoaded;
  bOutputValid = src.bOutputValid;
  pDisplay = src.pDisplay;
  pScans = src.pScans;
  nScanCount = src.nScanCount;
  bOwnsScanOrder = src.bOwnsScanOrder;
  if (src.bOwnsScanOrder) {
    vOwnScanOrder = src.vOwnScanOrder;
    pScanIndex = vOwnScanOrder.data();
  } else {
    pScanIndex = src.pScanIndex;
  }
  nEquation = src.nEquation;
  nThread = src.nThread;
  ppOut = src.ppOut;
  pOutRadii = src.pOutRadii;
  nOutRadii = src.nOutRadii;
  bPerScanRadii = src.bPerScanRadii;
  ppScanRadii = src.ppScanRadii;
  pnScanPoints = src.pnScanPoints;
  bShowReadouts = src.bShowReadouts;
  bNoProgressText = src.bNoProgressText;
  bNoProgressText2 = src.bNoProgressText2;
  nExtraRows = src.nExtraRows;
  bTruncateGrid = src.bTruncateGrid;
  fRightLimit = src.fRightLimit;
  fLeftLimit = src.fLeftLimit;
  fTruncateLevelF = src.fTruncateLevelF;
  dDt = src.dDt;
  bBandLoading = src.bBandLoading;
  fLamellaWidth = src.fLamellaWidth;
  bInvertBand = src.bInvertBand;
  bRampRotor = src.bRampRotor;
  bCheckAcceleration = src.bCheckAcceleration;
  dStopThreshold = src.dStopThreshold;
  dTruncateLevel = src.dTruncateLevel;
  bFixTimeStep = src.bFixTimeStep;
  bSecondSolution = src.bSecondSolution;
  bCosoluteTables = src.bCosoluteTables;
  bConcDependentModel = src.bConcDependentModel;
  bIdealModel = src.bIdealModel;
  bInhomogeneousSolvent = src.bInhomogeneousSolvent;
  bInhomogeneousSolvent2 = src.bInhomogeneousSolvent2;
  bCompressibleSolvent = src.bCompressibleSolvent;
  nShowM = src.nShowM;
  dMovingFrameS = src.dMovingFrameS;
  bAutoSGrid = src.bAutoSGrid;
  bRunPastLastScan = src.bRunPastLastScan;
  bAutoVariant = src.bAutoVariant;
  dTolerance = src.dTolerance;
  dTolerance005 = src.dTolerance005;
  dTolerance02 = src.dTolerance02;
  dToleranceIn = src.dToleranceIn;
  nDefaultGrid = src.nDefaultGrid;
  bUseMovingHat = src.bUseMovingHat;
  bUseClaverie = src.bUseClaverie;
  dGridOption = src.dGridOption;
  dVariantThreshold = src.dVariantThreshold;
  dVariantThresholdOpt = src.dVariantThresholdOpt;
  dDefaultStep = src.dDefaultStep;
  dCompressibility = src.dCompressibility;
  fTemperature = src.fTemperature;
  fViscosity = src.fViscosity;
  fDensity = src.fDensity;
  fVbar = src.fVbar;
  fVbarRho = src.fVbarRho;
  bTimeResolution = src.bTimeResolution;
  fScanVelocity = src.fScanVelocity;
  bRadialResolution = src.bRadialResolution;
  fConvolutionRange = src.fConvolutionRange;
  dSliceCount = src.dSliceCount;
  bAbsorbance = src.bAbsorbance;
  fFf0 = src.fFf0;
  bAutoGridSize = src.bAutoGridSize;
  bOptimizeGrid = src.bOptimizeGrid;
  bShutOffBackDiffusionOption = src.bShutOffBackDiffusionOption;
  dBackDiffusionLevel = src.dBackDiffusionLevel;
  bMultiSpeciesNonideal = src.bMultiSpeciesNonideal;
  fPointsPerSigma = src.fPointsPerSigma;
  nMinGrid = src.nMinGrid;
  nMaxGrid = src.nMaxGrid;
  bFillUnreached = src.bFillUnreached;
  dStartTimeOffset = src.dStartTimeOffset;
  dInitialDt = src.dInitialDt;
  bDebugLog = src.bDebugLog;
  bSelfAssociation = src.bSelfAssociation;
  nSpecies = src.nSpecies;
  pNonIdealConc = src.pNonIdealConc;
  pNonIdealS = src.pNonIdealS;
  pNonIdealD = src.pNonIdealD;
  pNonIdealFourth = src.pNonIdealFourth;
  bConcDependentActive = src.bConcDependentActive;
  bSelfAssocLoaded = src.bSelfAssocLoaded;
  bNonIdealLoaded = src.bNonIdealLoaded;
  bMultiSpecies = src.bMultiSpecies;
  fLogKs = src.fLogKs;
  fKs = src.fKs;
  fLogKd = src.fLogKd;
  fKd = src.fKd;
  bKsOn = src.bKsOn;
  bKdOn = src.bKdOn;
  dNonIdealParam = src.dNonIdealParam;
  bKsKdModel = src.bKsKdModel;
  bFrozenCoefficients = src.bFrozenCoefficients;
  bLinearGradient = src.bLinearGradient;
  bInhomSolventDynamic = src.bInhomSolventDynamic;
  bAddWaterCompressibility = src.bAddWaterCompressibility;
  fVbarInhom = src.fVbarInhom;
  fDensity1atm = src.fDensity1atm;
  fRelViscosity1atm = src.fRelViscosity1atm;
  dDensityMeniscus = src.dDensityMeniscus;
  dDensityBottom = src.dDensityBottom;
  dViscosityMeniscus = src.dViscosityMeniscus;
  dViscosityBottom = src.dViscosityBottom;
  pViscCoef = src.pViscCoef;
  pDensCoef = src.pDensCoef;
  nViscCoef = src.nViscCoef;
  nDensCoef = src.nDensCoef;
  nComp2Points = src.nComp2Points;
  bComp2ConcDependent = src.bComp2ConcDependent;
  bComp2EarlyCleanup = src.bComp2EarlyCleanup;
  bComp2Builtin = src.bComp2Builtin;
  dComp2S = src.dComp2S;
  dComp2D = src.dComp2D;
  dComp2C0 = src.dComp2C0;
  pComp2SPoly = src.pComp2SPoly;
  pComp2DPoly = src.pComp2DPoly;
  nComp2SPoly = src.nComp2SPoly;
  nComp2DPoly = src.nComp2DPoly;
  // The own profile matrix of per-scan mode is the copy's own.
  if (bOutputValid) BindOutput(ppOut, pOutRadii, nOutRadii, ppScanRadii, pnScanPoints);
}

}  // namespace tarmic
