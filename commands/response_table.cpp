// The response table of the main window.
#include "commands/response_table.h"

#include <vector>

#include "app/xla_window.h"
#include "commands/unavailable_commands.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

std::vector<ResponseEntry> MakeTable() {
  using W = TXLAWindow;
  std::vector<ResponseEntry> t = {
      // Window messages.
      MessageEntry(WM_KEYDOWN, &W::EvKeyDown),
      MessageEntry(WM_CHAR, &W::EvChar),
      MessageEntry(WM_LBUTTONDOWN, &W::EvLButtonDown),
      MessageEntry(WM_LBUTTONUP, &W::EvLButtonUp),
      MessageEntry(WM_RBUTTONDOWN, &W::EvRButtonDown),
      MessageEntry(WM_RBUTTONUP, &W::EvRButtonUp),
      MessageEntry(WM_MOUSEMOVE, &W::EvMouseMove),
      MessageEntry(WM_RBUTTONDBLCLK, &W::EvRButtonDblClk),
      MessageEntry(WM_LBUTTONDBLCLK, &W::EvLButtonDblClk),
      MessageEntry(WM_SIZE, &W::EvSize),
      MessageEntry(WM_ENTERIDLE, &W::EvEnterIdle),
      MessageEntry(WM_DROPFILES, &W::EvDropFiles),
      MessageEntry(WM_TIMER, &W::EvTimer),

      // Data.
      CommandEntry(kCmLoadNewFiles, &W::CmLoadNewFiles),
      CommandEntry(kCmAddMoreFiles, &W::CmAddMoreFiles),
      CommandEntry(kCmExit, &W::CmExit),
      // Copy.
      CommandEntry(kCmCopyDataPlot, &W::CmCopyDataPlot),
      CommandEntry(kCmCopyResidualsPlot, &W::CmCopyResidualsPlot),
      CommandEntry(kCmCopyResidualsBitmap, &W::CmCopyResidualsBitmap),
      CommandEntry(kCmCopyScreenshot, &W::CmCopyScreenshot),
      CommandEntry(kCmCopyDataTable, &W::CmCopyDataTable),
      CommandEntry(kCmCopyFitDataTable, &W::CmCopyFitDataTable),
      CommandEntry(kCmCopyResidualsTable, &W::CmCopyResidualsTable),
      CommandEntry(kCmCopyTINoiseTable, &W::CmCopyTINoiseTable),
      CommandEntry(kCmCopyRINoiseTable, &W::CmCopyRINoiseTable),
      // Display.
      CommandEntry(kCmSetRange, &W::CmSetRange),
      CommandEntry(kCmFullRange, &W::CmFullRange),
      CommandEntry(kCmDataRange, &W::CmDataRange),
      CommandEntry(kCmUpdate, &W::CmUpdate),
      CommandEntry(kCmDataMarkSize, &W::CmDataMarkSize),
      CommandEntry(kCmFinalProfileToFit, &W::CmFinalProfileToFit),
      CommandEntry(kCmInhomogeneousSolvent, &W::CmInhomogeneousSolvent),
      CommandEntry(kCmShowData, &W::CmShowData),
      CommandEntry(kCmShowResiduals, &W::CmShowResiduals),
      CommandEntry(kCmShowResidualsBitmap, &W::CmShowResidualsBitmap),
      CommandEntry(kCmToggleScanHoverLabel, &W::CmToggleScanHoverLabel),
      // Loading options and tools.
      CommandEntry(kCmDontLoadSpikes, &W::CmDontLoadSpikes),
      CommandEntry(kCmSetRadialResolution, &W::CmSetRadialResolution),
      CommandEntry(kCmSaveRawDataSet, &W::CmSaveRawDataSet),
      CommandEntry(kCmSubtractBlankScan, &W::CmSubtractBlankScan), CommandEntry(kCmAddSimulatedData, &W::CmAddSimulatedData), CommandEntry(kCmInvertRawData, &W::CmInvertRawData), CommandEntry(kCmRecalibrateRadius, &W::CmRecalibrateRadius), CommandEntry(kCmTimeOffset, &W::CmTimeOffset), CommandEntry(kCmAddNoiseToData, &W::CmAddNoiseToData), CommandEntry(kCmExcludeRegion, &W::CmExcludeRegion), CommandEntry(kCmMirrorRawData, &W::CmMirrorRawData), CommandEntry(kCmEliminateInterferenceOffset, &W::CmEliminateInterferenceOffset), CommandEntry(kCmRemoveFringeJumps, &W::CmRemoveFringeJumps), CommandEntry(kCmEliminateJitter, &W::CmEliminateJitter), CommandEntry(kCmSaveIntensityAsAbsorbance, &W::CmSaveIntensityAsAbsorbance), CommandEntry(kCmSaveIntensityAsPseudoAbsorbance, &W::CmSaveIntensityAsPseudoAbsorbance), CommandEntry(kCmSaveSixChannelSubsets, &W::CmSaveSixChannelSubsets), CommandEntry(kCmAverageScans, &W::CmAverageScans), CommandEntry(kCmSetInitialData, &W::CmSetInitialData), CommandEntry(kCmInitPolyOrder, &W::CmInitPolyOrder), CommandEntry(kCmExcludeWorstScan, &W::CmExcludeWorstScan),
      CommandEntry(kCmOldFilenameConvention, &W::CmOldFilenameConvention),
      CommandEntry(kCmSetNColumns, &W::CmSetNColumns),
      CommandEntry(kCmCheckTimeStamps, &W::CmCheckTimeStamps),
      // Options.
      CommandEntry(kCmMultipleThreads, &W::CmMultipleThreads),
      CommandEntry(kCmSuppressBaselineCorrelation, &W::CmSuppressBaselineCorrelation),
      CommandEntry(kCmAlwaysLoadG2, &W::CmAlwaysLoadG2),
      CommandEntry(kCmBitmapBlackAndWhite, &W::CmBitmapBlackAndWhite),
      CommandEntry(kCmBitmapContinuousShading, &W::CmBitmapContinuousShading),
      CommandEntry(kCmScanColorByTime, &W::CmScanColorByTime),
      CommandEntry(kCmSound, &W::CmSound),
      CommandEntry(kCmFullCommandSet, &W::CmFullCommandSet),
      CommandEntry(kCmChangeFitUpdating, &W::CmChangeFitUpdating),
      // Fitting and size-distribution options.
      CommandEntry(kCmFitSimplex, &W::CmFitSimplex),
      CommandEntry(kCmFitMarquardt, &W::CmFitMarquardt),
      CommandEntry(kCmFitAnnealing, &W::CmFitAnnealing), CommandEntry(kCmFit, &W::CmFit),
      CommandEntry(kCmErrorInS, &W::CmErrorInS), CommandEntry(kCmErrorInM, &W::CmErrorInM), CommandEntry(kCmSMContour, &W::CmSMContour), CommandEntry(kCmS1S2Contour, &W::CmS1S2Contour), CommandEntry(kCmKContour, &W::CmKContour), CommandEntry(kCmVarianceRatio, &W::CmVarianceRatio),
      CommandEntry(kCmRegSecondDerivative, &W::CmRegSecondDerivative),
      CommandEntry(kCmRegMaxEnt, &W::CmRegMaxEnt),
      CommandEntry(kCmRegShowBoth, &W::CmRegShowBoth),
      // Models of continuous distributions.
      CommandEntry(kCmContinuousCs, &W::CmContinuousCs),
      CommandEntry(kCmFitMAndS, &W::CmFitMAndS), CommandEntry(kCmHeteroAssocModel, &W::CmHeteroAssocModel),
      CommandEntry(kCmDiscreteSpecies, &W::CmDiscreteSpecies), CommandEntry(kCmZoneCentrifugationSpecies, &W::CmZoneCentrifugationSpecies), CommandEntry(kCmLinearGeometry, &W::CmLinearGeometry), CommandEntry(kCmExternalLoadingCell, &W::CmExternalLoadingCell), CommandEntry(kCmElectrophoresisSpecies, &W::CmElectrophoresisSpecies), CommandEntry(kCmNonidealSingle, &W::CmNonidealSingle), CommandEntry(kCmNonidealMultiple, &W::CmNonidealMultiple), CommandEntry(kCmFitT0OfSedimentation, &W::CmSedimentationTimeOffset), CommandEntry(kCmSedimentationTimeOffset, &W::CmSedimentationTimeOffset),
      CommandEntry(kCmContinuousCM, &W::CmContinuousCM),
      CommandEntry(kCmContinuousCsInvariantD, &W::CmContinuousCsInvariantD),
      CommandEntry(kCmContinuousCsScalingLaw, &W::CmContinuousCsScalingLaw),
      CommandEntry(kCmContinuousCsMsTable, &W::CmContinuousCsMsTable),
      CommandEntry(kCmContinuousCsNonideal, &W::CmContinuousCsNonideal),
      CommandEntry(kCmContinuousCMInvariantD, &W::CmContinuousCMInvariantD),
      CommandEntry(kCmContinuousCMPriorVbar, &W::CmContinuousCMPriorVbar),
      CommandEntry(kCmFMScalingLaw, &W::CmFMScalingLaw),
      CommandEntry(kCmContinuousCsFf0, &W::CmContinuousCsFf0), CommandEntry(kCmContinuousCsFf0OneDiscrete, &W::CmContinuousCsFf0OneDiscrete),
      CommandEntry(kCmContinuousCsOneDiscrete, &W::CmContinuousCsOneDiscrete), CommandEntry(kCmContinuousCsBimodalFf0, &W::CmContinuousCsBimodalFf0),
      CommandEntry(kCmContinuousCsBimodalFf0OneDiscrete, &W::CmContinuousCsBimodalFf0OneDiscrete), CommandEntry(kCmContinuousCsWormChain, &W::CmContinuousCsWormChain),
      CommandEntry(kCmContinuousCsConformationalChange, &W::CmContinuousCsConformationalChange), CommandEntry(kCmContinuousCsLinearRod, &W::CmContinuousCsLinearRod),
      CommandEntry(kCmLsgModel, &W::CmLsgModel), CommandEntry(kCmLsgOneDiscrete, &W::CmLsgOneDiscrete), CommandEntry(kCmZoneLsgModel, &W::CmZoneLsgModel),
      CommandEntry(kCmElectroLsgModel, &W::CmElectroLsgModel), CommandEntry(kCmCvConstantD, &W::CmCvConstantD),
      CommandEntry(kCmDLSStokesRadiusDistribution, &W::CmDLSStokesRadiusDistribution), CommandEntry(kCmDLSDiffusionDistribution, &W::CmDLSDiffusionDistribution),
      // Parameters, run and numerics.
      CommandEntry(kCmParameters, &W::ParametersCommand),
      CommandEntry(kCmRun, &W::CmRun),
      CommandEntry(kCmSetFitLimits, &W::CmSetFitLimits),
      CommandEntry(kCmLammEquationParameters, &W::CmLammEquationParameters),
      CommandEntry(kCmBufferSedimentation, &W::CmBufferSedimentation), CommandEntry(kCmSubtractBufferMismatch, &W::CmSubtractBufferMismatch),
      // Fluorescence tools.
      CommandEntry(kCmSortFluorescenceData, &W::CmSortFluorescenceData), CommandEntry(kCmFloTools, &W::CmFloTools),
      CommandEntry(kCmSignalMagnificationGradientAlt, &W::CmSignalMagnificationGradient), CommandEntry(kCmSignalMagnificationGradient, &W::CmSignalMagnificationGradient),
      CommandEntry(kCmNonlinearDetectionAlt, &W::CmNonlinearDetection), CommandEntry(kCmNonlinearDetection, &W::CmNonlinearDetection),
      CommandEntry(kCmSignalMagnificationDriftAlt, &W::CmSignalMagnificationDrift), CommandEntry(kCmSignalMagnificationDrift, &W::CmSignalMagnificationDrift),
      CommandEntry(kCmSignalRadialConvolutionAlt, &W::CmSignalRadialConvolution), CommandEntry(kCmSignalRadialConvolution, &W::CmSignalRadialConvolution),
      CommandEntry(kCmExcitationShadowAlt, &W::CmExcitationShadow), CommandEntry(kCmExcitationShadow, &W::CmExcitationShadow),
      // Distributions.
      CommandEntry(kCmTransformToS20wDistribution, &W::CmTransformToS20wDistribution), CommandEntry(kCmTransformToRDistribution, &W::CmTransformToRDistribution), CommandEntry(kCmDirectBoundaryFromGss, &W::CmDirectBoundaryFromGss),
      CommandEntry(kCmSaveContinuousDistribution, &W::CmSaveContinuousDistribution),
      CommandEntry(kCmSavePictures, &W::CmSavePictures),
      CommandEntry(kCmMonteCarloDistributions, &W::CmMonteCarloDistributions), CommandEntry(kCmMonteCarloIntegratedSw, &W::CmMonteCarloIntegratedSw),
      CommandEntry(kCmPriorDiscreteSpecies, &W::CmPriorDiscreteSpecies), CommandEntry(kCmUsePriorProbabilities, &W::CmUsePriorProbabilities),
      CommandEntry(kCmCopyDistributionPlot, &W::CmCopyDistributionPlot),
      CommandEntry(kCmCopyDistribution, &W::CmCopyDistribution),
      CommandEntry(kCmIntegrateDistribution, &W::CmIntegrateDistribution),
      CommandEntry(kCmRescaleDistributionPlot, &W::CmRescaleDistributionPlot),
      CommandEntry(kCmFullscaleDistributionPlot, &W::CmFullscaleDistributionPlot),
      CommandEntry(kCmIntegralDistribution, &W::CmIntegralDistribution),
      CommandEntry(kCmTransformCsToCM, &W::CmTransformCsToCM),
      CommandEntry(kCmShowPeakMw, &W::CmShowPeakMw),
      CommandEntry(kCmIntegrationRangesFromFile, &W::CmIntegrationRangesFromFile),
      CommandEntry(kCmMouseSliding, &W::CmMouseSliding),
      CommandEntry(kCmGenerateSingle, &W::CmGenerateSingle), CommandEntry(kCmSaveFitData, &W::CmSaveFitData), CommandEntry(kCmSaveNoise, &W::CmSaveNoise), CommandEntry(kCmSubtractNoiseFromEqData, &W::CmSubtractNoiseFromEqData), CommandEntry(kCmSubtractTINoise, &W::CmSubtractTINoise), CommandEntry(kCmSubtractRINoise, &W::CmSubtractRINoise), CommandEntry(kCmSubtractSystematicNoise, &W::CmSubtractSystematicNoise), CommandEntry(kCmRestoreTINoise, &W::CmRestoreTINoise),
      CommandEntry(kCmGenerateSeries, &W::CmGenerateSeries), CommandEntry(kCmLoadEquilibriumData, &W::CmLoadEquilibriumData), CommandEntry(kCmChangeCell, &W::CmChangeCell),
      CommandEntry(kCmUpdateSavedFitParameters, &W::CmUpdateSavedFitParameters), CommandEntry(kCmCopyFitParameters, &W::CmCopyFitParameters), CommandEntry(kCmShowLastFitInfo, &W::CmShowLastFitInfo),
      // Help.
      CommandEntry(kCmWizardMessages, &W::CmWizardMessages),
      CommandEntry(kCmOfferOnlineHelp, &W::OfferOnlineHelp),
      CommandEntry(kCmDiagnosticsToFiles, &W::CmDiagnosticsToFiles),
      // Without menu item.
      CommandEntry(kCmEmpty, &W::CmEmpty),
      CommandEntry(kCmPrinterSetup, &W::CmPrinterSetup),
      CommandEntry(kCmPrint, &W::CmPrint),
      CommandEntry(kCmBeerSound, &W::CmBeerSound),
      CommandEntry(kCmLoadDLSData, &W::CmLoadDLSData),
      CommandEntry(kCmSaveMeanDLSData, &W::CmSaveMeanDLSData),
      CommandEntry(kCmToggleCorrelationForm, &W::CmToggleCorrelationForm), CommandEntry(kCmConvertTwoColumnData, &W::CmConvertTwoColumnData), CommandEntry(kCmConvertTwoColumnG2, &W::CmConvertTwoColumnG2),
      CommandEntry(kCmDLSStokesRadii, &W::CmDLSStokesRadii), CommandEntry(kCmDLSCumulants, &W::CmDLSCumulants), CommandEntry(kCmDLSTimeCourse, &W::CmDLSTimeCourse),
      CommandEntry(kCmSortEqData, &W::CmSortEqData),
      CommandEntry(kCmGlobalEquilibriumAnalysis, &W::CmGlobalEquilibriumAnalysis),
      CommandEntry(kCmAbout, &W::CmAbout), CommandEntry(kCmKeyboardShortcuts, &W::CmKeyboardShortcuts), CommandEntry(kCmShowTemperaturePlot, &W::CmShowTemperaturePlot),
      CommandEntry(kCmCalculateS20w, &W::CmCalculateS20w), CommandEntry(kCmCalculateFrictionalRatios, &W::CmCalculateFrictionalRatios), CommandEntry(kCmShapesFromFrictionalRatio, &W::CmShapesFromFrictionalRatio), CommandEntry(kCmSphereSFromM, &W::CmSphereSFromM), CommandEntry(kCmMFromS, &W::CmMFromS), CommandEntry(kCmSphereRhFromS, &W::CmSphereRhFromS), CommandEntry(kCmSphereSFromRh, &W::CmSphereSFromRh), CommandEntry(kCmRadialDilution, &W::CmRadialDilution), CommandEntry(kCmCalculatePressure, &W::CmCalculatePressure), CommandEntry(kCmFrictionForce, &W::CmFrictionForce), CommandEntry(kCmSecondMomentS, &W::CmSecondMomentS),
      CommandEntry(kCmPlotDataAs3d, &W::CmOutsideProgram), CommandEntry(kCmMakeSedimentationMovie, &W::CmOutsideProgram), CommandEntry(kCmMATLABPlotDataFitRes, &W::CmOutsideProgram), CommandEntry(kCmMATLABPlotDataFitResDistribution, &W::CmOutsideProgram), CommandEntry(kCmMATLABPlotSizeAndShapeDistribution, &W::CmOutsideProgram), CommandEntry(kCmPlotTriangulatedStructureFromBEST, &W::CmOutsideProgram), CommandEntry(kCmGUSSICSPlot, &W::CmOutsideProgram), CommandEntry(kCmGUSSIDataFitResidualsPlot, &W::CmOutsideProgram), CommandEntry(kCmHYDROPROCalculation, &W::CmOutsideProgram), CommandEntry(kCmExportDataToQUENTAR, &W::CmOutsideProgram),
      CommandEntry(kCmRealtimeUpdate, &W::CmRealtimeUpdate), CommandEntry(kCmStopRealtimeUpdate, &W::CmStopRealtimeUpdate), CommandEntry(kCmTestApproachToEquilibrium, &W::CmTestApproachToEquilibrium),
      CommandEntry(kCmSerializeFitByCell, &W::CmSerializeFitByCell), CommandEntry(kCmSerializeFitByList, &W::CmSerializeFitByList),
      CommandEntry(kCmSimplexRandomization, &W::CmSimplexRandomization), CommandEntry(kCmZoneContinuousCs, &W::CmZoneContinuousCs), CommandEntry(kCmFaxenSpecies, &W::CmFaxenSpecies), CommandEntry(kCmContinuousCsFloatingVbar, &W::CmContinuousCsFloatingVbar), CommandEntry(kCmCopyPriorKnowledgeTable, &W::CmCopyPriorKnowledgeTable), CommandEntry(kCmRestoreTimesFromFiles, &W::CmRestoreTimesFromFiles),
  };
  // The commands whose subsystem is not built yet name themselves in a box.
  for (int id : UnavailableCommands()) t.push_back(CommandEntry(id, &W::CmNotAvailable));
  return t;
}

}  // namespace

std::span<const ResponseEntry> MainWindowResponseTable() {
  static const std::vector<ResponseEntry> table = MakeTable();
  return table;
}

void InstallResponseTable() { SetResponseTable(MainWindowResponseTable()); }

}  // namespace tarmic
