// The response table of the main window.
#include "commands/response_table.h"

#include <vector>

#include "app/xla_window.h"
#include "commands/unavailable_commands.h"

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
      CommandEntry(200, &W::CmLoadNewFiles),
      CommandEntry(226, &W::CmAddMoreFiles),
      CommandEntry(230, &W::CmExit),
      // Copy.
      CommandEntry(205, &W::CmCopyDataPlot),
      CommandEntry(206, &W::CmCopyResidualsPlot),
      CommandEntry(507, &W::CmCopyResidualsBitmap),
      CommandEntry(646, &W::CmCopyScreenshot),
      CommandEntry(258, &W::CmCopyDataTable),
      CommandEntry(259, &W::CmCopyFitDataTable),
      CommandEntry(260, &W::CmCopyResidualsTable),
      CommandEntry(262, &W::CmCopyTINoiseTable),
      CommandEntry(261, &W::CmCopyRINoiseTable),
      // Display.
      CommandEntry(207, &W::CmSetRange),
      CommandEntry(208, &W::CmFullRange),
      CommandEntry(518, &W::CmDataRange),
      CommandEntry(257, &W::CmUpdate),
      CommandEntry(211, &W::CmDataMarkSize),
      CommandEntry(223, &W::CmFinalProfileToFit),
      CommandEntry(542, &W::CmInhomogeneousSolvent),
      CommandEntry(232, &W::CmShowData),
      CommandEntry(209, &W::CmShowResiduals),
      CommandEntry(504, &W::CmShowResidualsBitmap),
      CommandEntry(210, &W::CmToggleScanHoverLabel),
      // Loading options and tools.
      CommandEntry(247, &W::CmDontLoadSpikes),
      CommandEntry(590, &W::CmSetRadialResolution),
      CommandEntry(263, &W::CmSaveRawDataSet),
      CommandEntry(283, &W::CmSubtractBlankScan), CommandEntry(459, &W::CmAddSimulatedData), CommandEntry(535, &W::CmInvertRawData), CommandEntry(549, &W::CmRecalibrateRadius), CommandEntry(550, &W::CmTimeOffset), CommandEntry(551, &W::CmAddNoiseToData), CommandEntry(581, &W::CmExcludeRegion), CommandEntry(886, &W::CmMirrorRawData), CommandEntry(220, &W::CmEliminateInterferenceOffset), CommandEntry(287, &W::CmRemoveFringeJumps), CommandEntry(264, &W::CmEliminateJitter), CommandEntry(231, &W::CmSaveIntensityAsAbsorbance), CommandEntry(289, &W::CmSaveIntensityAsPseudoAbsorbance), CommandEntry(524, &W::CmSaveSixChannelSubsets), CommandEntry(917, &W::CmAverageScans), CommandEntry(202, &W::CmSetInitialData), CommandEntry(219, &W::CmInitPolyOrder), CommandEntry(591, &W::CmExcludeWorstScan),
      CommandEntry(243, &W::CmOldFilenameConvention),
      CommandEntry(265, &W::CmSetNColumns),
      CommandEntry(902, &W::CmCheckTimeStamps),
      // Options.
      CommandEntry(648, &W::CmMultipleThreads),
      CommandEntry(829, &W::CmSuppressBaselineCorrelation),
      CommandEntry(894, &W::CmAlwaysLoadG2),
      CommandEntry(505, &W::CmBitmapBlackAndWhite),
      CommandEntry(506, &W::CmBitmapContinuousShading),
      CommandEntry(609, &W::CmScanColorByTime),
      CommandEntry(594, &W::CmSound),
      CommandEntry(592, &W::CmChangeFitUpdating),
      // Fitting and size-distribution options.
      CommandEntry(826, &W::CmFitSimplex),
      CommandEntry(824, &W::CmFitMarquardt),
      CommandEntry(825, &W::CmFitAnnealing), CommandEntry(215, &W::CmFit),
      CommandEntry(285, &W::CmErrorInS), CommandEntry(286, &W::CmErrorInM), CommandEntry(241, &W::CmSMContour), CommandEntry(244, &W::CmS1S2Contour), CommandEntry(245, &W::CmKContour), CommandEntry(272, &W::CmVarianceRatio),
      CommandEntry(294, &W::CmRegSecondDerivative),
      CommandEntry(295, &W::CmRegMaxEnt),
      CommandEntry(642, &W::CmRegShowBoth),
      // Models of continuous distributions.
      CommandEntry(275, &W::CmContinuousCs),
      CommandEntry(217, &W::CmFitMAndS), CommandEntry(267, &W::CmHeteroAssocModel),
      CommandEntry(198, &W::CmDiscreteSpecies), CommandEntry(246, &W::CmZoneCentrifugationSpecies), CommandEntry(280, &W::CmLinearGeometry), CommandEntry(281, &W::CmExternalLoadingCell), CommandEntry(291, &W::CmElectrophoresisSpecies), CommandEntry(227, &W::CmNonidealSingle), CommandEntry(893, &W::CmNonidealMultiple), CommandEntry(255, &W::CmSedimentationTimeOffset), CommandEntry(256, &W::CmSedimentationTimeOffset),
      CommandEntry(235, &W::CmContinuousCM),
      CommandEntry(526, &W::CmContinuousCsInvariantD),
      CommandEntry(872, &W::CmContinuousCsScalingLaw),
      CommandEntry(587, &W::CmContinuousCsMsTable),
      CommandEntry(585, &W::CmContinuousCsNonideal),
      CommandEntry(277, &W::CmContinuousCMInvariantD),
      CommandEntry(279, &W::CmContinuousCMPriorVbar),
      CommandEntry(887, &W::CmFMScalingLaw),
      CommandEntry(595, &W::CmContinuousCsFf0), CommandEntry(598, &W::CmContinuousCsFf0OneDiscrete),
      CommandEntry(531, &W::CmContinuousCsOneDiscrete), CommandEntry(548, &W::CmContinuousCsBimodalFf0),
      CommandEntry(870, &W::CmContinuousCsBimodalFf0OneDiscrete), CommandEntry(603, &W::CmContinuousCsWormChain),
      CommandEntry(514, &W::CmContinuousCsConformationalChange), CommandEntry(521, &W::CmContinuousCsLinearRod),
      CommandEntry(288, &W::CmLsgModel), CommandEntry(539, &W::CmLsgOneDiscrete), CommandEntry(510, &W::CmZoneLsgModel),
      CommandEntry(501, &W::CmElectroLsgModel), CommandEntry(513, &W::CmCvConstantD),
      CommandEntry(503, &W::CmDLSStokesRadiusDistribution), CommandEntry(502, &W::CmDLSDiffusionDistribution),
      // Parameters, run and numerics.
      CommandEntry(212, &W::ParametersCommand),
      CommandEntry(213, &W::CmRun),
      CommandEntry(240, &W::CmSetFitLimits),
      CommandEntry(611, &W::CmLammEquationParameters),
      CommandEntry(552, &W::CmBufferSedimentation), CommandEntry(576, &W::CmSubtractBufferMismatch),
      // Fluorescence tools.
      CommandEntry(903, &W::CmSortFluorescenceData), CommandEntry(915, &W::CmFloTools),
      CommandEntry(905, &W::CmSignalMagnificationGradient), CommandEntry(907, &W::CmSignalMagnificationGradient),
      CommandEntry(906, &W::CmNonlinearDetection), CommandEntry(908, &W::CmNonlinearDetection),
      CommandEntry(909, &W::CmSignalMagnificationDrift), CommandEntry(910, &W::CmSignalMagnificationDrift),
      CommandEntry(911, &W::CmSignalRadialConvolution), CommandEntry(912, &W::CmSignalRadialConvolution),
      CommandEntry(913, &W::CmExcitationShadow), CommandEntry(914, &W::CmExcitationShadow),
      // Distributions.
      CommandEntry(836, &W::CmTransformToS20wDistribution), CommandEntry(525, &W::CmTransformToRDistribution), CommandEntry(533, &W::CmDirectBoundaryFromGss),
      CommandEntry(271, &W::CmSaveContinuousDistribution),
      CommandEntry(296, &W::CmMonteCarloDistributions), CommandEntry(546, &W::CmMonteCarloIntegratedSw),
      CommandEntry(633, &W::CmPriorDiscreteSpecies), CommandEntry(529, &W::CmUsePriorProbabilities),
      CommandEntry(273, &W::CmCopyDistributionPlot),
      CommandEntry(274, &W::CmCopyDistribution),
      CommandEntry(456, &W::CmIntegrateDistribution),
      CommandEntry(457, &W::CmRescaleDistributionPlot),
      CommandEntry(458, &W::CmFullscaleDistributionPlot),
      CommandEntry(460, &W::CmIntegralDistribution),
      CommandEntry(589, &W::CmTransformCsToCM),
      CommandEntry(608, &W::CmShowPeakMw),
      CommandEntry(644, &W::CmIntegrationRangesFromFile),
      CommandEntry(837, &W::CmMouseSliding),
      CommandEntry(214, &W::CmGenerateSingle), CommandEntry(203, &W::CmSaveFitData), CommandEntry(252, &W::CmSaveNoise), CommandEntry(253, &W::CmSubtractNoiseFromEqData), CommandEntry(508, &W::CmSubtractTINoise), CommandEntry(509, &W::CmSubtractRINoise), CommandEntry(519, &W::CmSubtractSystematicNoise), CommandEntry(607, &W::CmRestoreTINoise),
      CommandEntry(647, &W::CmGenerateSeries), CommandEntry(515, &W::CmLoadEquilibriumData), CommandEntry(828, &W::CmChangeCell),
      CommandEntry(827, &W::CmUpdateSavedFitParameters), CommandEntry(204, &W::CmCopyFitParameters), CommandEntry(517, &W::CmShowLastFitInfo),
      // Help.
      CommandEntry(610, &W::CmWizardMessages),
      CommandEntry(268, &W::OfferOnlineHelp),
      CommandEntry(867, &W::CmDiagnosticsToFiles),
      // Without menu item.
      CommandEntry(199, &W::CmEmpty),
      CommandEntry(233, &W::CmPrinterSetup),
      CommandEntry(234, &W::CmPrint),
      CommandEntry(597, &W::CmBeerSound),
      CommandEntry(298, &W::CmLoadDLSData),
      CommandEntry(500, &W::CmSaveMeanDLSData),
      CommandEntry(898, &W::CmToggleCorrelationForm), CommandEntry(532, &W::CmConvertTwoColumnData), CommandEntry(600, &W::CmConvertTwoColumnG2),
      CommandEntry(536, &W::CmDLSStokesRadii), CommandEntry(890, &W::CmDLSCumulants), CommandEntry(522, &W::CmDLSTimeCourse),
      CommandEntry(579, &W::CmSortEqData),
      CommandEntry(221, &W::CmAbout), CommandEntry(869, &W::CmKeyboardShortcuts), CommandEntry(537, &W::CmShowTemperaturePlot),
      CommandEntry(582, &W::CmCalculateS20w), CommandEntry(270, &W::CmCalculateFrictionalRatios), CommandEntry(547, &W::CmShapesFromFrictionalRatio), CommandEntry(276, &W::CmSphereSFromM), CommandEntry(606, &W::CmMFromS), CommandEntry(831, &W::CmSphereRhFromS), CommandEntry(830, &W::CmSphereSFromRh), CommandEntry(461, &W::CmRadialDilution), CommandEntry(463, &W::CmCalculatePressure), CommandEntry(578, &W::CmFrictionForce), CommandEntry(462, &W::CmSecondMomentS),
      CommandEntry(878, &W::CmOutsideProgram), CommandEntry(879, &W::CmOutsideProgram), CommandEntry(880, &W::CmOutsideProgram), CommandEntry(881, &W::CmOutsideProgram), CommandEntry(882, &W::CmOutsideProgram), CommandEntry(883, &W::CmOutsideProgram), CommandEntry(899, &W::CmOutsideProgram), CommandEntry(900, &W::CmOutsideProgram), CommandEntry(876, &W::CmOutsideProgram), CommandEntry(577, &W::CmOutsideProgram),
      CommandEntry(540, &W::CmRealtimeUpdate), CommandEntry(541, &W::CmStopRealtimeUpdate), CommandEntry(645, &W::CmTestApproachToEquilibrium),
      CommandEntry(593, &W::CmSerializeFitByCell), CommandEntry(904, &W::CmSerializeFitByList),
      CommandEntry(224, &W::CmSimplexRandomization), CommandEntry(511, &W::CmZoneContinuousCs), CommandEntry(530, &W::CmFaxenSpecies), CommandEntry(602, &W::CmContinuousCsFloatingVbar), CommandEntry(632, &W::CmCopyPriorKnowledgeTable), CommandEntry(922, &W::CmRestoreTimesFromFiles),
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
