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
  f(AnalysisSwitches().pParams)(AnalysisSwitches().pParamFitFlags)(AnalysisSwitches().pSpeciesLinked);
  f(ModelParams().pSpeciesAmplitude)(ModelParams().pSpeciesAmplitudeFit)(ModelParams().pSpeciesMassOrD)(ModelParams().pSpeciesMassOrDFit);
  f(ModelParams().pSpeciesS)(ModelParams().pSpeciesSFit)(ModelParams().pSpeciesExtra)(ModelParams().pSpeciesExtraFit);
  f(ModelParams().bVaryMeniscus)(ModelParams().bVaryBottom)(ModelParams().fBaseline)(ModelParams().bVaryBaseline)(ModelParams().bLinearAmplitudes);

  // The switches of the computation the data set keeps.
  f(AnalysisSwitches().bTimesFromW2t)(AnalysisSwitches().bRampRotorSpeed)(AnalysisSwitches().bScanTimeCorrection)(AnalysisSwitches().bUniformLoading)(AnalysisSwitches().bInitialDataProfile);
  f(AnalysisSwitches().bFitTINoise)(AnalysisSwitches().bFitRINoise)(AnalysisSwitches().bBaselineOption)(AnalysisSwitches().bEqAnalysisModel);

  // Meniscus, bottom, their ranges, the fitting limits and every scan's fit range.
  f(DataSet().fMeniscus)(DataSet().fBottom)(DataSet().fFitLeftLim)(DataSet().fFitRightLim);
  f(DataSet().fMinMeniscus)(DataSet().fMaxMeniscus)(DataSet().fMinBottom)(DataSet().fMaxBottom);
  f(DataSet().pFitFirst)(DataSet().pFitLast)(DataSet().dSignalPerConcentration);
  // What the loaded set is (a load sets them; the computations read them).
  f(DataSet().bEquilibriumMode)(DataSet().bDLSData)(DataSet().fTemperatureK)(DataSet().fRT);

  // The Lamm solutions.
  f(LammSettings().fAutoAlgorithmS)(LammSettings().fAutoAlgorithmSOptimized)(LammSettings().bAutoFEAlgorithm)(LammSettings().bClaverie)(LammSettings().bMovingHat);
  f(LammSettings().nDefaultGridPoints)(LammSettings().nLammGridPoints)(LammSettings().bAutoGridSize)(LammSettings().fPointsPerSigma)(LammSettings().nGridSizeUpper)(LammSettings().nGridSizeLower);
  f(LammSettings().bOptimizeStaticGrid)(LammSettings().bTruncateGrid)(LammSettings().dTruncationLevel)(LammSettings().bAutoSGrid)(LammSettings().dAutoSGridValue);
  f(LammSettings().bShutOffBackDiffusion)(LammSettings().dBackDiffusionLevel)(LammSettings().bFixTimeStep)(LammSettings().dInitialDt);
  f(LammSettings().dMaxDcOverC)(LammSettings().dMaxDcOverCRef)(LammSettings().dMaxDcOverCLow)(LammSettings().dMaxDcOverCHigh)(LammSettings().fRefitTolerance);
  f(LammSettings().bCheckAcceleration)(LammSettings().fScanVelocity)(LammSettings().bSimulateRadialResolution)(LammSettings().fRadialConvolutionRange);

  // The model flags.
  f(ModelFlags().bDiscreteModel)(ModelFlags().bMonomerDimer)(ModelFlags().bMonomerTrimer)(ModelFlags().bAssoc124)(ModelFlags().bAssoc148)(ModelFlags().bNonidealSpecies);
  f(ModelFlags().bNonIdealMultiple)(ModelFlags().bHeteroAssocModel)(ModelFlags().bZoneCentrifugation)(ModelFlags().bFaxenApproximation)(ModelFlags().bStokesRadii);
  f(ModelFlags().bCumulants)(ModelFlags().bBufferSedCorrection)(ModelFlags().bContiModel)(ModelFlags().bContiSModel)(ModelFlags().bLsgModel)(ModelFlags().bLsgOneDiscrete);
  f(ModelFlags().bCsff0Model)(ModelFlags().bCsff0OneDiscrete)(ModelFlags().bCsOneDiscreteD)(ModelFlags().bCsOneDiscreteM)(ModelFlags().bCsConformationalChange);
  f(ModelFlags().bCsFloatingVbar)(ModelFlags().bCsWormChain)(ModelFlags().bCsScalingLaw)(ModelFlags().bCsBimodalFf0)(ModelFlags().bCsBimodalFf0OneDiscrete);
  f(ModelFlags().bCsInvariantD)(ModelFlags().bCsMsTable)(ModelFlags().bCsModel521)(ModelFlags().bCsNonideal)(ModelFlags().bCMPriorVbar)(ModelFlags().bCMPowerLawModel);
  f(ModelFlags().bConstantDModel)(ModelFlags().bFMScalingLaw)(ModelFlags().bCvConstantD)(ModelFlags().bElectroLsgModel)(ModelFlags().bZoneLsgModel)(ModelFlags().bDLSRhModel);
  f(ModelFlags().bDLSDModel)(ModelFlags().bDLSTimeCourseModel)(ModelFlags().bBoundaryAnalysis)(ModelFlags().bVanHoldeWeischet)(ModelFlags().bFitMAndS);

  // The model options.
  f(ModelOptions().fS1)(ModelOptions().fD1)(ModelOptions().fS2)(ModelOptions().fD2)(ModelOptions().fAssocLogK)(ModelOptions().fAssocLoading)(ModelOptions().fOligoS1)(ModelOptions().fOligoS2)(ModelOptions().fOligoS3);
  f(ModelOptions().fOligoD1)(ModelOptions().fOligoD2)(ModelOptions().fOligoD3)(ModelOptions().fAssocLogKa)(ModelOptions().fAssocLogKb)(ModelOptions().fLogKs)(ModelOptions().fLogKd);
  f(ModelOptions().bRepulsiveNonideality)(ModelOptions().bDimerNonideal)(ModelOptions().bCosoluteCoefficients)(ModelOptions().bCsClCoefficients)(ModelOptions().bC1Nonideal);
  f(ModelOptions().fNonidealExtinction)(ModelOptions().bSyntheticBoundary)(ModelOptions().bFinalProfileToFit)(ModelOptions().fLamellaWidth)(ModelOptions().bZoneInverseLayer);
  f(ModelOptions().fElectroLength)(ModelOptions().pModelScalar)(ModelOptions().pModelScalarFit)(ModelOptions().bFitLamellaWidth)(ModelOptions().fTimeOffset)(ModelOptions().bTimeOffset);
  f(ModelOptions().pExtraPairValue)(ModelOptions().pExtraPairFit)(ModelOptions().bScalingLawNoDiffusion)(ModelOptions().bCalibrateScalingLaw)(ModelOptions().bSlideFrame);
  f(ModelOptions().bFitBoundaryFractions);

  // The solvent.
  f(SolventConstants().VBAR)(SolventConstants().VBAR20)(SolventConstants().fBufferDensity)(SolventConstants().fVRho)(SolventConstants().RELVISCOSITY)(SolventConstants().fFrictionalRatio)(SolventConstants().dVbarOffset);
  f(SolventConstants().dVbarIncrement)(SolventConstants().nVbarMassScale)(SolventConstants().dSPowerLawA)(SolventConstants().dSPowerLawB)(SolventConstants().fScalingKs)(SolventConstants().fScalingExponent);
  f(SolventConstants().fWormPersistenceLength)(SolventConstants().fWormCrossSection)(SolventConstants().fWormMonomerMass)(SolventConstants().fWormHydration);
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
  const BufferSedSettings& buffer = BufferSedimentation().BufferSed;
  f(buffer.excessInSample)(buffer.excessInReference)(buffer.signalSign)(buffer.sampleD)(buffer.sampleMb);
  f(buffer.sampleS)(buffer.signal)(buffer.relativeConc)(buffer.differentReference)(buffer.refD);
  f(buffer.refMb)(buffer.refS)(buffer.fitSampleD)(buffer.fitSampleS)(buffer.fitSignal);
  f(buffer.fitMeniscusDifference)(buffer.fitRelativeConc)(buffer.fitRefD)(buffer.fitRefS)(buffer.gridPoints);
  f(BufferSedimentation().bMeniscusMismatch)(BufferSedimentation().bSubtractBufferMismatch)(MeniscusDifference());
  f(Reaction().fReactLogKa)(Reaction().fReactATot)(Reaction().fReactExticoA)(Reaction().fReactBTot)(Reaction().fReactExticoB)(Reaction().fReactKa)(Reaction().fReactAB0)(Reaction().dReactExticoAB);
  f(Reaction().fReactSA)(Reaction().fReactSB)(Reaction().fReactSAB)(Reaction().fReactDA)(Reaction().fReactDB)(Reaction().fReactDAB)(Reaction().dFluxMismatchTolerance)(Reaction().nMaxCorrectorPasses);

  // The distribution engine: grid, confidence level, regularisation, prior. (The
  // values of the variants are copies of the parameter vector, taken at every
  // unpacking for the variant chosen: the vector stands for them.)
  f(DistributionGrid().fDistGridCount)(DistributionGrid().fDistMin)(DistributionGrid().fDistMax)(DistributionGrid().fFf0Min)(DistributionGrid().fFf0Max)(DistributionGrid().nFf0Values);
  f(DistributionGrid().bUseStoredGrid)(DistributionGrid().bLogGrid)(DistributionGrid().bDLSGridLinearD)(DistributionGrid().bDLSGridLogD)(DistributionGrid().bDLSGridLogRh);
  f(DistributionModels().fConfidenceLevel)(DistributionModels().bUsePrior)(DistributionModels().bFf0Prior)(DistributionModels().f2DRegScale)(DistributionModels().fTimeCourseWindow);
  const ContiRunSettings run = GetContiRunSettings();
  // (Showing the second regularisation beside it changes neither the distribution
  // nor the fit; the threads only share the work.)
  f(run.maxEntropy)(run.suppressBaselineCorrelation);
  f(Ctot().bCtotFromData)(Ctot().fCtotEarlyFactor);
  f(DistributionPrior().szPriorFile)(DistributionPrior().pPriorPeakLocation)(DistributionPrior().pPriorPeakWidth)(DistributionPrior().pPriorPeakAmplitude)(DistributionPrior().bPriorFromDiscreteSpecies);
  f(DistributionPrior().bPriorFromGJT)(DistributionPrior().pPriorTableX)(DistributionPrior().pPriorTableY)(DistributionPrior().pFf0PriorLocation)(DistributionPrior().pFf0PriorWidth)(DistributionPrior().pFf0PriorAmplitude);

  // The initial distribution.
  f(InitialData().nInitPoints)(InitialData().pInitRadius)(InitialData().pInitSignal)(InitialData().pInitThird)(InitialData().ScanInfoTemplate.time)(InitialData().ScanInfoTemplate.omega2t);
  f(InitialData().bInitSameTime)(InitialData().nInitPolyOrder)(InitialData().fInitExtrapFactor);

  // The detection corrections of fluorescence data.
  f(FluorescenceDetection().bMagnificationGradient)(FluorescenceDetection().fMagnificationGradient)(FluorescenceDetection().bFitMagnificationGradient)(FluorescenceDetection().bMagnificationDrift);
  f(FluorescenceDetection().fMagnificationDrift)(FluorescenceDetection().bExponentialDrift)(FluorescenceDetection().bFitMagnificationDrift)(FluorescenceDetection().bExcitationShadow)(FluorescenceDetection().fConeRadius);
  f(FluorescenceDetection().bFitConeRadius)(FluorescenceDetection().bRadialConvolution)(FluorescenceDetection().fConvolutionWidth)(FluorescenceDetection().fConvolutionDistFactor)(FluorescenceDetection().bFitConvolutionWidth);
  f(FluorescenceDetection().bNonlinearDetection)(FluorescenceDetection().fPowerCoefficient)(FluorescenceDetection().fPowerBaseline)(FluorescenceDetection().bShowTransformed)(FluorescenceDetection().bFitPowerCoefficient);

  // The scan window of the rmsd.
  f(Rmsd().bFitScanWindow)(Rmsd().iFitScanWindowFirst)(Rmsd().iFitScanWindowLast);
  return f.Value();
}

}  // namespace tarmic
