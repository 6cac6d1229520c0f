#include "modelcalc/model_claim.h"

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "distributions/conti_run.h"
#include "distributions/ctot_tables.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/reacting_system.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/initial_data.h"

namespace tarmic {

namespace {

// Mixes values into the fingerprint by their bits, so that any change of a value
// (also 0.0 to -0.0 or one NaN to another) is one.
class Fingerprint {
 public:
  template <typename T>
    requires std::is_arithmetic_v<T>
  Fingerprint& operator()(const T& value) {
    unsigned long long word = 0;
    std::memcpy(&word, &value, sizeof value);
    MixIntoFingerprint(h_, word);
    return *this;
  }
  template <typename T, std::size_t N>
  Fingerprint& operator()(const T (&values)[N]) {
    for (const T& v : values) (*this)(v);
    return *this;
  }
  template <typename T>
  Fingerprint& operator()(const std::vector<T>& values) {
    (*this)(values.size());
    for (const T& v : values) (*this)(v);
    return *this;
  }
  Fingerprint& operator()(const std::string& text) {
    (*this)(text.size());
    for (char c : text) (*this)(c);
    return *this;
  }
  unsigned long long Value() const { return h_; }

 private:
  unsigned long long h_ = 0x243f6a8885a308d3ull;
};

}  // namespace

unsigned long long ModelSettingsFingerprint() {
  Fingerprint f;
  // The state a parameter file saves and a reload restores.
  f(AnalysisStateVector());

  // The parameter vector every computation unpacks, and the model variables.
  f(pParams)(pParamFitFlags)(pSpeciesLinked);
  f(pSpeciesAmplitude)(pSpeciesAmplitudeFit)(pSpeciesMassOrD)(pSpeciesMassOrDFit);
  f(pSpeciesS)(pSpeciesSFit)(pSpeciesExtra)(pSpeciesExtraFit);
  f(bVaryMeniscus)(bVaryBottom)(fBaseline)(bVaryBaseline)(bLinearAmplitudes);

  // The switches of the computation the data set keeps.
  f(bTimesFromW2t)(bRampRotorSpeed)(bScanTimeCorrection)(bUniformLoading)(bInitialDataProfile);
  f(bFitTINoise)(bFitRINoise)(bBaselineOption)(bEqAnalysisModel);

  // Meniscus, bottom, their ranges, the fitting limits and every scan's fit range.
  f(fMeniscus)(fBottom)(fFitLeftLim)(fFitRightLim);
  f(fMinMeniscus)(fMaxMeniscus)(fMinBottom)(fMaxBottom);
  f(pFitFirst)(pFitLast)(dSignalPerConcentration);
  // What the loaded set is (a load sets them; the computations read them).
  f(bEquilibriumMode)(bDLSData)(fTemperatureK)(fRT);

  // The Lamm solutions.
  f(fAutoAlgorithmS)(fAutoAlgorithmSOptimized)(bAutoFEAlgorithm)(bClaverie)(bMovingHat);
  f(nDefaultGridPoints)(nLammGridPoints)(bAutoGridSize)(fPointsPerSigma)(nGridSizeUpper)(nGridSizeLower);
  f(bOptimizeStaticGrid)(bTruncateGrid)(dTruncationLevel)(bAutoSGrid)(dAutoSGridValue);
  f(bShutOffBackDiffusion)(dBackDiffusionLevel)(bFixTimeStep)(dInitialDt);
  f(dMaxDcOverC)(dMaxDcOverCRef)(dMaxDcOverCLow)(dMaxDcOverCHigh)(fRefitTolerance);
  f(bCheckAcceleration)(fScanVelocity)(bSimulateRadialResolution)(fRadialConvolutionRange);

  // The model flags.
  f(bDiscreteModel)(bMonomerDimer)(bMonomerTrimer)(bAssoc124)(bAssoc148)(bNonidealSpecies);
  f(bNonIdealMultiple)(bHeteroAssocModel)(bZoneCentrifugation)(bFaxenApproximation)(bStokesRadii);
  f(bCumulants)(bBufferSedCorrection)(bContiModel)(bContiSModel)(bLsgModel)(bLsgOneDiscrete);
  f(bCsff0Model)(bCsff0OneDiscrete)(bCsOneDiscreteD)(bCsOneDiscreteM)(bCsConformationalChange);
  f(bCsFloatingVbar)(bCsWormChain)(bCsScalingLaw)(bCsBimodalFf0)(bCsBimodalFf0OneDiscrete);
  f(bCsInvariantD)(bCsMsTable)(bCsModel521)(bCsNonideal)(bCMPriorVbar)(bCMPowerLawModel);
  f(bConstantDModel)(bFMScalingLaw)(bCvConstantD)(bElectroLsgModel)(bZoneLsgModel)(bDLSRhModel);
  f(bDLSDModel)(bDLSTimeCourseModel)(bBoundaryAnalysis)(bVanHoldeWeischet)(bFitMAndS);

  // The model options.
  f(fS1)(fD1)(fS2)(fD2)(fAssocLogK)(fAssocLoading)(fOligoS1)(fOligoS2)(fOligoS3);
  f(fOligoD1)(fOligoD2)(fOligoD3)(fAssocLogKa)(fAssocLogKb)(fLogKs)(fLogKd);
  f(bRepulsiveNonideality)(bDimerNonideal)(bCosoluteCoefficients)(bCsClCoefficients)(bC1Nonideal);
  f(fNonidealExtinction)(bSyntheticBoundary)(bFinalProfileToFit)(fLamellaWidth)(bZoneInverseLayer);
  f(fElectroLength)(pModelScalar)(pModelScalarFit)(bFitLamellaWidth)(fTimeOffset)(bTimeOffset);
  f(pExtraPairValue)(pExtraPairFit)(bScalingLawNoDiffusion)(bCalibrateScalingLaw)(bSlideFrame);
  f(bFitBoundaryFractions);

  // The solvent.
  f(VBAR)(VBAR20)(fBufferDensity)(fVRho)(RELVISCOSITY)(fFrictionalRatio)(dVbarOffset);
  f(dVbarIncrement)(nVbarMassScale)(dSPowerLawA)(dSPowerLawB)(fScalingKs)(fScalingExponent);
  f(fWormPersistenceLength)(fWormCrossSection)(fWormMonomerMass)(fWormHydration);
  const InhomSolventSettings& solvent = gInhomSolvent;
  f(solvent.bInhomogeneousSolvent)(solvent.bCompressibleSolvent)(solvent.bCosoluteDynamicGradient);
  f(solvent.bSedimentingCosolute)(solvent.compressibility)(solvent.density1atm)(solvent.viscosity1atm);
  f(solvent.relViscosity)(solvent.vbarSolvated)(solvent.vbarEffective)(solvent.cosoluteConc);
  f(solvent.cosoluteS)(solvent.cosoluteD)(solvent.nonidealCosolute)(solvent.csclCosolute);
  f(solvent.cosoluteGridSize)(solvent.addWaterCompressibility)(solvent.compressibleWater);
  f(solvent.converted)(solvent.bFitVbar)(solvent.densityCoef)(solvent.viscosityCoef);
  f(solvent.convertedDFactor)(solvent.convertedSFactor);
  f(solvent.sNonidealPath)(solvent.dNonidealPath)(solvent.densityPath)(solvent.viscosityPath);

  // The buffer components and the reacting system.
  const BufferSedSettings& buffer = BufferSed;
  f(buffer.excessInSample)(buffer.excessInReference)(buffer.signalSign)(buffer.sampleD)(buffer.sampleMb);
  f(buffer.sampleS)(buffer.signal)(buffer.relativeConc)(buffer.differentReference)(buffer.refD);
  f(buffer.refMb)(buffer.refS)(buffer.fitSampleD)(buffer.fitSampleS)(buffer.fitSignal);
  f(buffer.fitMeniscusDifference)(buffer.fitRelativeConc)(buffer.fitRefD)(buffer.fitRefS)(buffer.gridPoints);
  f(bMeniscusMismatch)(bSubtractBufferMismatch)(MeniscusDifference());
  f(fReactLogKa)(fReactATot)(fReactExticoA)(fReactBTot)(fReactExticoB)(fReactKa)(fReactAB0)(dReactExticoAB);
  f(fReactSA)(fReactSB)(fReactSAB)(fReactDA)(fReactDB)(fReactDAB)(dFluxMismatchTolerance)(nMaxCorrectorPasses);

  // The distribution engine: grid, confidence level, regularisation, prior. (The
  // values of the variants are copies of the parameter vector, taken at every
  // unpacking for the variant chosen: the vector stands for them.)
  f(fDistGridCount)(fDistMin)(fDistMax)(fFf0Min)(fFf0Max)(nFf0Values);
  f(bUseStoredGrid)(bLogGrid)(bDLSGridLinearD)(bDLSGridLogD)(bDLSGridLogRh);
  f(fConfidenceLevel)(bUsePrior)(bFf0Prior)(f2DRegScale)(fTimeCourseWindow);
  const ContiRunSettings run = GetContiRunSettings();
  // (Showing the second regularisation beside it changes neither the distribution
  // nor the fit; the threads only share the work.)
  f(run.maxEntropy)(run.suppressBaselineCorrelation);
  f(bCtotFromData)(fCtotEarlyFactor);
  f(szPriorFile)(pPriorPeakLocation)(pPriorPeakWidth)(pPriorPeakAmplitude)(bPriorFromDiscreteSpecies);
  f(bPriorFromGJT)(pPriorTableX)(pPriorTableY)(pFf0PriorLocation)(pFf0PriorWidth)(pFf0PriorAmplitude);

  // The initial distribution.
  f(nInitPoints)(pInitRadius)(pInitSignal)(pInitThird)(ScanInfoTemplate.time)(ScanInfoTemplate.omega2t);
  f(bInitSameTime)(nInitPolyOrder)(fInitExtrapFactor);

  // The detection corrections of fluorescence data.
  f(bMagnificationGradient)(fMagnificationGradient)(bFitMagnificationGradient)(bMagnificationDrift);
  f(fMagnificationDrift)(bExponentialDrift)(bFitMagnificationDrift)(bExcitationShadow)(fConeRadius);
  f(bFitConeRadius)(bRadialConvolution)(fConvolutionWidth)(fConvolutionDistFactor)(bFitConvolutionWidth);
  f(bNonlinearDetection)(fPowerCoefficient)(fPowerBaseline)(bShowTransformed)(bFitPowerCoefficient);

  // The scan window of the rmsd.
  f(bFitScanWindow)(iFitScanWindowFirst)(iFitScanWindowLast);
  return f.Value();
}

}  // namespace tarmic
