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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& ctotPart = Ctot();
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionPriorPart = DistributionPrior();
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  auto& initialDataPart = InitialData();
  auto& lammSettingsPart = LammSettings();
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  auto& reactionPart = Reaction();
  auto& rmsdPart = Rmsd();
  auto& solventConstantsPart = SolventConstants();
  Fingerprint f;
  // The state a parameter file saves and a reload restores.
  f(AnalysisStateVector());

  // The parameter vector every computation unpacks, and the model variables.
  f(analysisSwitchesPart.pParams)(analysisSwitchesPart.pParamFitFlags)(analysisSwitchesPart.pSpeciesLinked);
  f(modelParamsPart.pSpeciesAmplitude)(modelParamsPart.pSpeciesAmplitudeFit)(modelParamsPart.pSpeciesMassOrD)(modelParamsPart.pSpeciesMassOrDFit);
  f(modelParamsPart.pSpeciesS)(modelParamsPart.pSpeciesSFit)(modelParamsPart.pSpeciesExtra)(modelParamsPart.pSpeciesExtraFit);
  f(modelParamsPart.bVaryMeniscus)(modelParamsPart.bVaryBottom)(modelParamsPart.fBaseline)(modelParamsPart.bVaryBaseline)(modelParamsPart.bLinearAmplitudes);

  // The switches of the computation the data set keeps.
  f(analysisSwitchesPart.bTimesFromW2t)(analysisSwitchesPart.bRampRotorSpeed)(analysisSwitchesPart.bScanTimeCorrection)(analysisSwitchesPart.bUniformLoading)(analysisSwitchesPart.bInitialDataProfile);
  f(analysisSwitchesPart.bFitTINoise)(analysisSwitchesPart.bFitRINoise)(analysisSwitchesPart.bBaselineOption)(analysisSwitchesPart.bEqAnalysisModel);

  // Meniscus, bottom, their ranges, the fitting limits and every scan's fit range.
  f(dataSetPart.fMeniscus)(dataSetPart.fBottom)(dataSetPart.fFitLeftLim)(dataSetPart.fFitRightLim);
  f(dataSetPart.fMinMeniscus)(dataSetPart.fMaxMeniscus)(dataSetPart.fMinBottom)(dataSetPart.fMaxBottom);
  f(dataSetPart.pFitFirst)(dataSetPart.pFitLast)(dataSetPart.dSignalPerConcentration);
  // What the loaded set is (a load sets them; the computations read them).
  f(dataSetPart.bEquilibriumMode)(dataSetPart.bDLSData)(dataSetPart.fTemperatureK)(dataSetPart.fRT);

  // The Lamm solutions.
  f(lammSettingsPart.fAutoAlgorithmS)(lammSettingsPart.fAutoAlgorithmSOptimized)(lammSettingsPart.bAutoFEAlgorithm)(lammSettingsPart.bClaverie)(lammSettingsPart.bMovingHat);
  f(lammSettingsPart.nDefaultGridPoints)(lammSettingsPart.nLammGridPoints)(lammSettingsPart.bAutoGridSize)(lammSettingsPart.fPointsPerSigma)(lammSettingsPart.nGridSizeUpper)(lammSettingsPart.nGridSizeLower);
  f(lammSettingsPart.bOptimizeStaticGrid)(lammSettingsPart.bTruncateGrid)(lammSettingsPart.dTruncationLevel)(lammSettingsPart.bAutoSGrid)(lammSettingsPart.dAutoSGridValue);
  f(lammSettingsPart.bShutOffBackDiffusion)(lammSettingsPart.dBackDiffusionLevel)(lammSettingsPart.bFixTimeStep)(lammSettingsPart.dInitialDt);
  f(lammSettingsPart.dMaxDcOverC)(lammSettingsPart.dMaxDcOverCRef)(lammSettingsPart.dMaxDcOverCLow)(lammSettingsPart.dMaxDcOverCHigh)(lammSettingsPart.fRefitTolerance);
  f(lammSettingsPart.bCheckAcceleration)(lammSettingsPart.fScanVelocity)(lammSettingsPart.bSimulateRadialResolution)(lammSettingsPart.fRadialConvolutionRange);
  // The refinement a fit's end put in force (a result computed on a finer grid is another).
  f(CurrentPart<GridRefinementState>().factor);

  // The model flags.
  f(modelFlagsPart.bDiscreteModel)(modelFlagsPart.bMonomerDimer)(modelFlagsPart.bMonomerTrimer)(modelFlagsPart.bAssoc124)(modelFlagsPart.bAssoc148)(modelFlagsPart.bNonidealSpecies);
  f(modelFlagsPart.bNonIdealMultiple)(modelFlagsPart.bHeteroAssocModel)(modelFlagsPart.bZoneCentrifugation)(modelFlagsPart.bFaxenApproximation)(modelFlagsPart.bStokesRadii);
  f(modelFlagsPart.bCumulants)(modelFlagsPart.bBufferSedCorrection)(modelFlagsPart.bContiModel)(modelFlagsPart.bContiSModel)(modelFlagsPart.bLsgModel)(modelFlagsPart.bLsgOneDiscrete);
  f(modelFlagsPart.bCsff0Model)(modelFlagsPart.bCsff0OneDiscrete)(modelFlagsPart.bCsOneDiscreteD)(modelFlagsPart.bCsOneDiscreteM)(modelFlagsPart.bCsConformationalChange);
  f(modelFlagsPart.bCsFloatingVbar)(modelFlagsPart.bCsWormChain)(modelFlagsPart.bCsScalingLaw)(modelFlagsPart.bCsBimodalFf0)(modelFlagsPart.bCsBimodalFf0OneDiscrete);
  f(modelFlagsPart.bCsInvariantD)(modelFlagsPart.bCsMsTable)(modelFlagsPart.bCsModel521)(modelFlagsPart.bCsNonideal)(modelFlagsPart.bCMPriorVbar)(modelFlagsPart.bCMPowerLawModel);
  f(modelFlagsPart.bConstantDModel)(modelFlagsPart.bFMScalingLaw)(modelFlagsPart.bCvConstantD)(modelFlagsPart.bElectroLsgModel)(modelFlagsPart.bZoneLsgModel)(modelFlagsPart.bDLSRhModel);
  f(modelFlagsPart.bDLSDModel)(modelFlagsPart.bDLSTimeCourseModel)(modelFlagsPart.bBoundaryAnalysis)(modelFlagsPart.bVanHoldeWeischet)(modelFlagsPart.bFitMAndS);

  // The model options.
  f(modelOptionsPart.fS1)(modelOptionsPart.fD1)(modelOptionsPart.fS2)(modelOptionsPart.fD2)(modelOptionsPart.fAssocLogK)(modelOptionsPart.fAssocLoading)(modelOptionsPart.fOligoS1)(modelOptionsPart.fOligoS2)(modelOptionsPart.fOligoS3);
  f(modelOptionsPart.fOligoD1)(modelOptionsPart.fOligoD2)(modelOptionsPart.fOligoD3)(modelOptionsPart.fAssocLogKa)(modelOptionsPart.fAssocLogKb)(modelOptionsPart.fLogKs)(modelOptionsPart.fLogKd);
  f(modelOptionsPart.bRepulsiveNonideality)(modelOptionsPart.bDimerNonideal)(modelOptionsPart.bCosoluteCoefficients)(modelOptionsPart.bCsClCoefficients)(modelOptionsPart.bC1Nonideal);
  f(modelOptionsPart.fNonidealExtinction)(modelOptionsPart.bSyntheticBoundary)(modelOptionsPart.bFinalProfileToFit)(modelOptionsPart.fLamellaWidth)(modelOptionsPart.bZoneInverseLayer);
  f(modelOptionsPart.fElectroLength)(modelOptionsPart.pModelScalar)(modelOptionsPart.pModelScalarFit)(modelOptionsPart.bFitLamellaWidth)(modelOptionsPart.fTimeOffset)(modelOptionsPart.bTimeOffset);
  f(modelOptionsPart.pExtraPairValue)(modelOptionsPart.pExtraPairFit)(modelOptionsPart.bScalingLawNoDiffusion)(modelOptionsPart.bCalibrateScalingLaw)(modelOptionsPart.bSlideFrame);
  f(modelOptionsPart.bFitBoundaryFractions);

  // The solvent.
  f(solventConstantsPart.VBAR)(solventConstantsPart.VBAR20)(solventConstantsPart.fBufferDensity)(solventConstantsPart.fVRho)(solventConstantsPart.RELVISCOSITY)(solventConstantsPart.fFrictionalRatio)(solventConstantsPart.dVbarOffset);
  f(solventConstantsPart.dVbarIncrement)(solventConstantsPart.nVbarMassScale)(solventConstantsPart.dSPowerLawA)(solventConstantsPart.dSPowerLawB)(solventConstantsPart.fScalingKs)(solventConstantsPart.fScalingExponent);
  f(solventConstantsPart.fWormPersistenceLength)(solventConstantsPart.fWormCrossSection)(solventConstantsPart.fWormMonomerMass)(solventConstantsPart.fWormHydration);
  const InhomSolventSettings& solvent = SolventSettings().gInhomSolvent;
  f(solvent.bInhomogeneousSolvent)(solvent.bCompressibleSolvent)(solvent.bCosoluteDynamicGradient);
  f(solvent.bSedimentingCosolute)(solvent.compressibility)(solvent.density1atm)(solvent.viscosity1atm);
  f(solvent.relViscosity)(solvent.vbarSolvated)(solvent.vbarEffective)(solvent.cosoluteConc);
  f(solvent.cosoluteS)(solvent.cosoluteD)(solvent.nonidealCosolute)(solvent.csclCosolute);
  f(solvent.cosoluteGridSize)(solvent.addWaterCompressibility)(solvent.compressibleWater);
  f(solvent.converted)(solvent.bFitVbar)(solvent.densityCoef)(solvent.viscosityCoef);
  f(solvent.convertedDFactor)(solvent.convertedSFactor);
  f(solvent.sNonidealPath)(solvent.dNonidealPath)(solvent.densityPath)(solvent.viscosityPath);

  // The buffer components and the reacting system.
  const BufferSedSettings& buffer = bufferSedimentationPart.BufferSed;
  f(buffer.excessInSample)(buffer.excessInReference)(buffer.signalSign)(buffer.sampleD)(buffer.sampleMb);
  f(buffer.sampleS)(buffer.signal)(buffer.relativeConc)(buffer.differentReference)(buffer.refD);
  f(buffer.refMb)(buffer.refS)(buffer.fitSampleD)(buffer.fitSampleS)(buffer.fitSignal);
  f(buffer.fitMeniscusDifference)(buffer.fitRelativeConc)(buffer.fitRefD)(buffer.fitRefS)(buffer.gridPoints);
  f(bufferSedimentationPart.bMeniscusMismatch)(bufferSedimentationPart.bSubtractBufferMismatch)(MeniscusDifference());
  f(reactionPart.fReactLogKa)(reactionPart.fReactATot)(reactionPart.fReactExticoA)(reactionPart.fReactBTot)(reactionPart.fReactExticoB)(reactionPart.fReactKa)(reactionPart.fReactAB0)(reactionPart.dReactExticoAB);
  f(reactionPart.fReactSA)(reactionPart.fReactSB)(reactionPart.fReactSAB)(reactionPart.fReactDA)(reactionPart.fReactDB)(reactionPart.fReactDAB)(reactionPart.dFluxMismatchTolerance)(reactionPart.nMaxCorrectorPasses);

  // The distribution engine: grid, confidence level, regularisation, prior. (The
  // values of the variants are copies of the parameter vector, taken at every
  // unpacking for the variant chosen: the vector stands for them.)
  f(distributionGridPart.fDistGridCount)(distributionGridPart.fDistMin)(distributionGridPart.fDistMax)(distributionGridPart.fFf0Min)(distributionGridPart.fFf0Max)(distributionGridPart.nFf0Values);
  f(distributionGridPart.bUseStoredGrid)(distributionGridPart.bLogGrid)(distributionGridPart.bDLSGridLinearD)(distributionGridPart.bDLSGridLogD)(distributionGridPart.bDLSGridLogRh);
  f(distributionModelsPart.fConfidenceLevel)(distributionModelsPart.bUsePrior)(distributionModelsPart.bFf0Prior)(distributionModelsPart.f2DRegScale)(distributionModelsPart.fTimeCourseWindow);
  const ContiRunSettings run = GetContiRunSettings();
  // (Showing the second regularisation beside it changes neither the distribution
  // nor the fit; the threads only share the work.)
  f(run.maxEntropy)(run.suppressBaselineCorrelation);
  f(ctotPart.bCtotFromData)(ctotPart.fCtotEarlyFactor);
  f(distributionPriorPart.szPriorFile)(distributionPriorPart.pPriorPeakLocation)(distributionPriorPart.pPriorPeakWidth)(distributionPriorPart.pPriorPeakAmplitude)(distributionPriorPart.bPriorFromDiscreteSpecies);
  f(distributionPriorPart.bPriorFromGJT)(distributionPriorPart.pPriorTableX)(distributionPriorPart.pPriorTableY)(distributionPriorPart.pFf0PriorLocation)(distributionPriorPart.pFf0PriorWidth)(distributionPriorPart.pFf0PriorAmplitude);

  // The initial distribution.
  f(initialDataPart.nInitPoints)(initialDataPart.pInitRadius)(initialDataPart.pInitSignal)(initialDataPart.pInitThird)(initialDataPart.ScanInfoTemplate.time)(initialDataPart.ScanInfoTemplate.omega2t);
  f(initialDataPart.bInitSameTime)(initialDataPart.nInitPolyOrder)(initialDataPart.fInitExtrapFactor);

  // The detection corrections of fluorescence data.
  f(fluorescenceDetectionPart.bMagnificationGradient)(fluorescenceDetectionPart.fMagnificationGradient)(fluorescenceDetectionPart.bFitMagnificationGradient)(fluorescenceDetectionPart.bMagnificationDrift);
  f(fluorescenceDetectionPart.fMagnificationDrift)(fluorescenceDetectionPart.bExponentialDrift)(fluorescenceDetectionPart.bFitMagnificationDrift)(fluorescenceDetectionPart.bExcitationShadow)(fluorescenceDetectionPart.fConeRadius);
  f(fluorescenceDetectionPart.bFitConeRadius)(fluorescenceDetectionPart.bRadialConvolution)(fluorescenceDetectionPart.fConvolutionWidth)(fluorescenceDetectionPart.fConvolutionDistFactor)(fluorescenceDetectionPart.bFitConvolutionWidth);
  f(fluorescenceDetectionPart.bNonlinearDetection)(fluorescenceDetectionPart.fPowerCoefficient)(fluorescenceDetectionPart.fPowerBaseline)(fluorescenceDetectionPart.bShowTransformed)(fluorescenceDetectionPart.bFitPowerCoefficient);

  // The scan window of the rmsd.
  f(rmsdPart.bFitScanWindow)(rmsdPart.iFitScanWindowFirst)(rmsdPart.iFitScanWindowLast);
  return f.Value();
}

}  // namespace tarmic
