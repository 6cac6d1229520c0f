// The menus "MENU_VIREZ" and "MENU_1" and accelerator table 303.
//
// Both menus share their popups: "MENU_1" holds every command of "MENU_VIREZ" in the
// same popup, followed by its further commands. The last item of both Options popups,
// "Full Command Set", switches the window between the two menus. Each popup is built
// by one function that takes whether the full set is wanted. The accelerator hints shown after a tab
// are taken from accelerator table 303, so a menu never shows a key that does not work.
// Every item of the menu bar has a mnemonic of its own in both menus, and none is the
// letter of an Alt accelerator (which would take Alt+letter first): Data, Copy,
// displaY, modEl, geNerate, Parameters, Zozav, Run, fiT, Statistics, Options, pLot,
// Help.
#include "resources/menus.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>
#include "resources/command_ids.h"

namespace tarmic {

namespace {

MenuItem Cmd(int id, std::string text) {
  MenuItem item;
  item.id = id;
  item.text = std::move(text);
  return item;
}

MenuItem Popup(std::string text, std::vector<MenuItem> children) {
  MenuItem item;
  item.text = std::move(text);
  item.popup = true;
  item.children = std::move(children);
  return item;
}

void Append(std::vector<MenuItem>& to, std::vector<MenuItem> more) {
  for (MenuItem& item : more) to.push_back(std::move(item));
}

AcceleratorTable MakeAcceleratorTable303() {
  constexpr unsigned kCtrl = MK_CONTROL;
  constexpr unsigned kAlt = MK_ALT;
  AcceleratorTable table;
  table.id = kAcceleratorTableId;
  table.entries = {
      {'A', kCtrl, kCmAddMoreFiles}, {'B', kCtrl, kCmBufferSedimentation}, {'D', kCtrl, kCmDataRange}, {'C', kCtrl, kCmCopyScreenshot},
      {'E', kCtrl, kCmSortEqData}, {'F', kCtrl, kCmFit}, {'F', kAlt, kCmFloTools},  {'G', kCtrl, kCmChooseExternalPlot},
      {'G', kAlt, kCmLammEquationParameters},  {'I', kCtrl, kCmIntegrateDistribution}, {'L', kCtrl, kCmLoadNewFiles}, {'M', kCtrl, kCmShowPeakMw},
      {'N', kCtrl, kCmSubtractSystematicNoise}, {'O', kCtrl, kCmShowLastFitInfo}, {'P', kCtrl, kCmParameters}, {'R', kCtrl, kCmRun},
      {'S', kCtrl, kCmSaveFitData}, {'U', kCtrl, kCmUpdateSavedFitParameters}, {'X', kCtrl, kCmPriorDiscreteSpecies}, {'W', kCtrl, kCmUsePriorProbabilities},
      {'M', kAlt, kCmMouseSliding},  {'I', kAlt, kCmInhomogeneousSolvent},
  };
  return table;
}

const AcceleratorTable& Table303() {
  static const AcceleratorTable table = MakeAcceleratorTable303();
  return table;
}

// --- popups -------------------------------------------------------------------

MenuItem DataPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmLoadEquilibriumData, "load sedimentation equilibrium data"),
      Cmd(kCmAddMoreFiles, "Add More Files"),
      Cmd(kCmSaveFitData, "&Save Fit Data"),
      Cmd(kCmUpdateSavedFitParameters, "Update Saved Fit Parameters"),
      Popup("Save S&ystematic Noise", {Cmd(kCmSaveNoise, "save Noise in file"),
                                       Cmd(kCmSubtractNoiseFromEqData, "subtract Noise from Eq Data")}),
      Cmd(kCmSaveContinuousDistribution, "Save Continuous Distribution"),
      Cmd(kCmSavePictures, "Save Pictures..."),
  };
  if (full) {
    Append(items, {
        Cmd(kCmLoadNewFiles, "&Load New Files"),
        Cmd(kCmSetInitialData, "Set &Initial Data"),
        Cmd(kCmChangeCell, "Change Cell (Same Selection)"),
        Cmd(kCmLoadDLSData, "load DLS Data"),
        Cmd(kCmRealtimeUpdate, "Realtime Update of Files"),
        Cmd(kCmStopRealtimeUpdate, "Stop Realtime Update"),
        Cmd(kCmEditDataFiles, "&Edit Data Files"),
        Cmd(kCmExportDataToQUENTAR, "Export Data to QUENTAR"),
    });
  }
  // Exit stays the last item of the popup.
  items.push_back(Cmd(kCmExit, "Exit"));
  return Popup("&Data", std::move(items));
}

MenuItem CopyPopup(bool full) {
  // One underlined letter an item, so that the letter chooses it.
  return Popup("&Copy", {
      Cmd(kCmCopyFitParameters, "Copy &Fit Parameters"),
      Cmd(kCmCopyDataPlot, "Copy &Data Plot"),
      Cmd(kCmCopyResidualsPlot, "Copy R&esiduals Plot"),
      Cmd(kCmCopyResidualsBitmap, "Copy Residuals &Bitmap"),
      Cmd(kCmCopyDistributionPlot, "Copy Distribution &Plot"),
      Cmd(kCmCopyScreenshot, "Copy &Screenshot"),
      Cmd(kCmCopyDataTable, "Copy D&ata Table"),
      Cmd(kCmCopyFitDataTable, "Copy F&it Data Table"),
      Cmd(kCmCopyResidualsTable, "Copy Resid&uals Table"),
      Cmd(kCmCopyPriorKnowledgeTable, "Copy Prior &Knowledge Table"),
      Cmd(kCmCopyTINoiseTable, "Copy &TI Noise Table"),
      Cmd(kCmCopyRINoiseTable, "Copy &RI Noise Table"),
      Cmd(kCmCopyDistribution, "Copy Distributi&on"),
      Cmd(kCmCopyLnCData, "Copy &Ln(c) Data"),
      Cmd(kCmCopyMData, "Copy &M* Data"),
      Cmd(kCmCopyMavgData, full ? "Copy Mav&g Data" : "Copy Mwav&g Data"),
  });
}

MenuItem DisplayPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmSetRange, "Set Range"),
      Cmd(kCmFullRange, "Full Range"),
      Cmd(kCmDataRange, "Data Range"),
      Cmd(kCmUpdate, "Update"),
      Cmd(kCmDataMarkSize, "Data Mark Size"),
      Cmd(kCmShowData, "Show Data"),
      Cmd(kCmShowResiduals, "Show Residuals"),
      Cmd(kCmShowResidualsBitmap, "Show Residuals Bitmap"),
      Cmd(kCmSubtractTINoise, "Subtract Calculated TI Noise From Raw Data"),
      Cmd(kCmSubtractRINoise, "Subtract Calculated RI Noise From Raw Data"),
      Cmd(kCmSubtractSystematicNoise, "Subtract All Systematic Noise From Raw Data"),
      Cmd(kCmRestoreTINoise, "Restore Original TI Noise to Data"),
      Cmd(kCmRescaleDistributionPlot, "Rescale Distribution Plot"),
      Cmd(kCmFullscaleDistributionPlot, "Fullscale Distribution Plot"),
      Cmd(kCmShowLastFitInfo, "Show Last Fit Info Again"),
  };
  if (full) {
    Append(items, {
        Cmd(kCmShowTemperaturePlot, "Show Temperature Plot"),
        Cmd(kCmShowPeakMw, "Show Peak Mw in c(s)"),
    });
  }
  return Popup("Displa&y", std::move(items));
}

MenuItem ModelPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmDiscreteSpecies, "Non-Interacting Discrete Species"),
      Cmd(kCmContinuousCM, "Continuous c(M) Distribution"),
  };
  if (full) {
    Append(items, {
        Popup("Nonideal Sedimentation", {
            Cmd(kCmNonidealSingle, "Single Species"),
            Cmd(kCmNonidealMultiple, "Multiple Species"),
        }),
        Popup("Continuous c(M) with other prior knowledge", {
            Cmd(kCmContinuousCMInvariantD, "c(M) with invariant D"),
            Cmd(kCmContinuousCMPriorVbar, "c(M) with prior knowledge vbar(M)"),
            Cmd(kCmFMScalingLaw, "f(M) vs M (with scaling law)"),
        }),
        Cmd(kCmGlobalEquilibriumAnalysis, "Global Equilibrium Analysis..."),
        Cmd(kCmContinuousCs, "Continuous c(s) Distribution"),
        Popup("Continuous c(s) with other prior knowledge", {
            Cmd(kCmContinuousCsConformationalChange, "Continuous c(s) Conformational Change Model"),
            Cmd(kCmContinuousCsInvariantD, "Continuous c(s) with invariant D"),
            Cmd(kCmContinuousCsOneDiscrete, "Continuous c(s) with 1 discrete component"),
            Cmd(kCmContinuousCsBimodalFf0, "Continuous c(s) with bimodal f/f0"),
            Cmd(kCmContinuousCsBimodalFf0OneDiscrete, "Continuous c(s) with bimodal f/f0 and 1 discrete component"),
            Cmd(kCmContinuousCsFloatingVbar, "Continuous c(s) with fix f/f0 and floating vbar"),
            Cmd(kCmContinuousCsWormChain, "Continuous c(s) for wormlike chain"),
            Cmd(kCmContinuousCsScalingLaw, "Continuous c(s) with general scaling law"),
            Cmd(kCmContinuousCsMsTable, "Continuous c(s) with M(s) table"),
        }),
        Cmd(kCmContinuousCsFf0, "Continuous c(s,ff0)"),
        Cmd(kCmContinuousCsFf0OneDiscrete, "Continuous c(s,ff0) with 1 discrete component"),
        Cmd(kCmLsgModel, "ls-g*(s)"),
        Cmd(kCmLsgOneDiscrete, "ls-g*(s) with 1 discrete Lamm Eq. component"),
        Popup("Analytical Zone Centrifugation", {
            Cmd(kCmZoneCentrifugationSpecies, "Analytical Zone Centrifugation indep. species"),
            Cmd(kCmZoneContinuousCs, "Analytical Zone Centrifugation c(s)"),
            Cmd(kCmZoneLsgModel, "Analytical Zone Centrifugation ls-g*(s)"),
        }),
        Popup("Dynamic Light Scattering", {
            Cmd(kCmDLSStokesRadii, "discrete Stokes Radii"),
            Cmd(kCmDLSCumulants, "cumulant analysis"),
            Cmd(kCmDLSStokesRadiusDistribution, "DLS: Continuous I(Rh)-Distribution"),
            Cmd(kCmDLSDiffusionDistribution, "DLS: Continuous I(D)-Distribution"),
            Cmd(kCmDLSTimeCourse, "Continuous I(Rh,t)-Time-Course"),
        }),
        Popup("Other Geometries", {
            Cmd(kCmLinearGeometry, "linear Lamm Equation"),
            Cmd(kCmExternalLoadingCell, "external loading cell"),
            Cmd(kCmElectrophoresisSpecies, "Electrophoresis: Lamm equation for discrete species"),
            Cmd(kCmElectroLsgModel, "Electrophoresis: ls-g*(v)"),
            Cmd(kCmCvConstantD, "Electrophoresis: c(v) distribution with constant D"),
        }),
        Popup("Special", {
            Cmd(kCmSedimentationTimeOffset, "&Sedimentation Time Offset"),
            Cmd(kCmFitT0OfSedimentation, "&Fit t0 of sedimentation"),
            Cmd(kCmFitTimeDependentSMEGInArchibaldAnalysis, "Fit &Time Dependent s,M (e.g. in Archibald analysis)"),
        }),
    });
  }
  return Popup("Mod&el", std::move(items));
}

MenuItem GeneratePopup() {
  return Popup("Ge&nerate", {Cmd(kCmGenerateSingle, "Single"), Cmd(kCmGenerateSeries, "Series")});
}

// The four commands that sit directly on the menu bar.
std::vector<MenuItem> MenuBarCommands() {
  return {
      Cmd(kCmParameters, "&Parameters"),
      Cmd(kCmZOZAV, "&ZOZAV"),
      Cmd(kCmRun, "&Run"),
      Cmd(kCmFit, "Fi&t"),
  };
}

MenuItem StatisticsPopup() {
  return Popup("&Statistics", {
      Cmd(kCmVarianceRatio, "calculate variance ratio (F-statistics)"),
      Cmd(kCmMonteCarloDistributions, "Monte-Carlo for Distributions"),
      Cmd(kCmMonteCarloIntegratedSw, "Monte-Carlo for integrated weight-average s values"),
  });
}

MenuItem LoadingPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmDontLoadSpikes, "Don't Load Spikes"),
      Cmd(kCmFlagTooStrongGradients, "Flag Too Strong Gradients"),
      Cmd(kCmSetRadialResolution, "set radial resolution"),
      Cmd(kCmEliminateInterferenceOffset, "Eliminate Interference Offset"),
      Cmd(kCmRemoveFringeJumps, "Remove Integral Fringe Jumps (within one scan)"),
      Cmd(kCmEliminateJitter, "Eliminate Jitter"),
      Cmd(kCmSubtractBlankScan, "Subtract Blank Scan"),
      Cmd(kCmAddSimulatedData, "Add or Subtract Simulated Sedimentation Data"),
      Cmd(kCmAddNoiseToData, "Add Noise to Data or Multiply Signals"),
      Cmd(kCmSubtractConstantValueFromScan, "Subtract Constant Value from Scan"),
      Cmd(kCmRecalibrateRadius, "Correct erroneous IF radial calibration"),
      Cmd(kCmTimeOffset, "Add Constant Time and w^2t to data"),
      Cmd(kCmRestoreTimesFromFiles, "Restore Time and w^2t Entries"),
      Cmd(kCmAverageScans, "Average Scans"),
      Cmd(kCmTestApproachToEquilibrium, "Test Approach to Equilibrium"),
      Cmd(kCmSortEqData, "Sort Eq Data to Disk"),
      Cmd(kCmSaveIntensityAsAbsorbance, "Save &Intensity Data as Absorbance Data"),
      Cmd(kCmSaveIntensityAsPseudoAbsorbance, "Save Intensity as 2 Pseudo Absorbance data sets"),
      Cmd(kCmSaveRawDataSet, "Save Raw Data Set"),
      Cmd(kCmSaveSixChannelSubsets, "Save 6-channel Raw Data in 3 Subsets"),
      Cmd(kCmExcludeRegion, "Exclude Region from Raw Data"),
      Cmd(kCmExcludeWorstScan, "Exclude Worst Scan"),
      Cmd(kCmInvertRawData, "Invert Raw Data"),
  };
  if (!full) return Popup("Loading Options", std::move(items));
  Append(items, {
      Cmd(kCmOldFilenameConvention, "Old Filename Convention"),
      Cmd(kCmSetNColumns, "Set n Columns"),
      Cmd(kCmCheckTimeStamps, "check recorded elapsed time against file timestamp"),
      Cmd(kCmMirrorRawData, "Mirror Image of Raw Data"),
      Cmd(kCmInitPolyOrder, "Set &Polynom Order for Initial Data"),
  });
  return Popup("Loading Options and Tools", std::move(items));
}

MenuItem FittingPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmFitMAndS, "Fit &M and s"),
      Cmd(kCmSetFitLimits, "Set fit limits for meniscus & bottom"),
      Cmd(kCmFitSimplex, "Simplex Algorithm"),
      Cmd(kCmFitAnnealing, "Simulated Annealing"),
      Cmd(kCmFitMarquardt, "Marquardt Levenberg"),
  };
  if (full) {
    Append(items, {
        Cmd(kCmBufferSedimentation, "Corrections for &Buffer Sedimentation"),
        Cmd(kCmLammEquationParameters, "Lamm Equation Parameters"),
        Cmd(kCmChangeFitUpdating, "Change Fit Updating Preferences"),
        Cmd(kCmSerializeFitByCell, "Serialize Fit by Cell or dir#"),
        Cmd(kCmSerializeFitByList, "Serialize Fit by list.* File"),
        Cmd(kCmSerializeFitWithGUSSIMonitoring, "Serialize Fit With GUSSI Monitoring"),
    });
  }
  return Popup("Fitting Options", std::move(items));
}

MenuItem SizeDistributionPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmIntegralDistribution, "transfrom differential to integral distribution"),
      Cmd(kCmRegSecondDerivative, "Regularization by 2nd derivative"),
      Cmd(kCmRegMaxEnt, "Regularization by Max Ent"),
      Cmd(kCmRegShowBoth, "Show both regularizations"),
      Cmd(kCmUsePriorProbabilities, "Use Prior Probabilities"),
      Cmd(kCmPriorDiscreteSpecies, "Prior Knowledge of Discrete Species"),
      Cmd(kCmIntegrateDistribution, "integrate distribution"),
      Cmd(kCmMultipleThreads, "compute with multiple threads"),
      Cmd(kCmSuppressBaselineCorrelation, "suppress baseline correlation in Max Ent"),
  };
  if (full) {
    Append(items, {
        Cmd(kCmTransformToS20wDistribution, "transform s-distribution to s20w-distribution"),
        Cmd(kCmTransformToRDistribution, "transform s-distribution to r-distribution"),
        Cmd(kCmTransformCsToCM, "transform c(s) to c(M)"),
        Cmd(kCmIntegrationRangesFromFile, "use c(s) integration ranges from file"),
        Cmd(kCmDirectBoundaryFromGss, "transform g(s*) (as ASCII) to direct boundary model"),
        Cmd(kCmVanHoldeWeischetTransform, "van Holde - Weischet transform"),
        Cmd(kCmExtrapolateAreaFractionsOfLsGSVs1SqrtTime, "extrapolate area fractions of ls-g*(s) vs 1/sqrt(time)"),
    });
  }
  return Popup("Size-Distribution Options", std::move(items));
}

MenuItem DlsToolsPopup() {
  return Popup("DLS Tools", {
      Cmd(kCmSaveMeanDLSData, "save mean DLS Data in tarmic format"),
      Cmd(kCmAlwaysLoadG2, "always load intensity autocorrelation g(2)-1"),
      Cmd(kCmToggleCorrelationForm, "toggle intensity <-> field autocorrelation fct"),
      Popup("Convert DLS Data To TARMIC format", {
          Cmd(kCmDynamics7, "Dynamics 7"),
          Cmd(kCmProteinSolutions99Version6205, "Protein Solutions 99, version 6.2.05"),
          Cmd(kCmProteinSolutions99Version52638, "Protein Solutions 99, version 5.26.38"),
          Cmd(kCmProteinSolutions99Version52005, "Protein Solutions 99, version 5.20.05"),
          Cmd(kCmProteinSolutionsVersion4, "Protein Solutions version 4"),
          Cmd(kCmALV, "ALV"),
          Cmd(kCmBIC9kdlsw32ExeVer319, "BIC 9kdlsw32.exe ver. 3.19"),
          Cmd(kCmOldDOSBIC, "old DOS BIC"),
          Cmd(kCmPhotoCor, "PhotoCor"),
          Cmd(kCmConvertTwoColumnData, "2 column ASCII data"),
          Cmd(kCmConvertTwoColumnG2, "2 column ASCII g(2)-1"),
      }),
  });
}

MenuItem FluorescencePopup() {
  return Popup("Fluorescence Tools", {
      Cmd(kCmSortFluorescenceData, "Sort Fluorescence Data To Disk"),
      Cmd(kCmSerializeFitByList, "Serialize Fit by list.* File"),
      Cmd(kCmSerializeFitWithGUSSIMonitoring, "Serialize Fit With GUSSI Monitoring"),
      Cmd(kCmNonlinearDetection, "Nonlinear Detection"),
      Cmd(kCmSignalMagnificationGradient, "Signal Magnification Radial Gradient"),
      Cmd(kCmSignalMagnificationDrift, "Signal Magnification Drift With Time"),
      Cmd(kCmSignalRadialConvolution, "Signal Radial Convolution"),
      Cmd(kCmExcitationShadow, "Excitation Shadow at Bottom"),
  });
}

MenuItem EquilibriumPopup() {
  return Popup("Equilibrium Tools", {
      Cmd(kCmMinimumTimeToEquilibrium, "minimum time to equilibrium"),
      Cmd(kCmEstimateEquilibriumRotorSpeeds, "estimate equilibrium rotor speeds"),
  });
}

MenuItem CalculatorPopup() {
  return Popup("Calculator", {
      Cmd(kCmCalculateS20w, "calculate s(20,w) from s(xp)"),
      Cmd(kCmCalculateFrictionalRatios, "calculate axial and frictional coefficient ratios"),
      Cmd(kCmShapesFromFrictionalRatio, "calculate shapes from frictional ratio"),
      Cmd(kCmSphereSFromM, "calculate s(M) for spherical particle"),
      Cmd(kCmMFromS, "calculate M(s) for spherical or asymmetric particle"),
      Cmd(kCmSphereRhFromS, "calculate Rh(s) for spherical particle"),
      Cmd(kCmSphereSFromRh, "calculate s(Rh) for spherical particle"),
      Cmd(kCmHYDROPROCalculation, "HYDROPRO calculation"),
      Cmd(kCmExtractSValueFromBESTBEMINEOutput, "extract s-value from BEST/BEMINE output"),
      Cmd(kCmFaxenSpecies, "simulate non-interacting species with Faxen approximation"),
      Cmd(kCmSecondMomentS, "calculate weight-average s by second moment integration"),
      Cmd(kCmCalculateWeightAverageSByDifferentialSecondMomentIntegration, "calculate weight-average s by differential second moment integration"),
      Cmd(kCmRadialDilution, "calculate radial dilution"),
      Cmd(kCmCalculatePressure, "calculate pressure"),
      Cmd(kCmFrictionForce, "calculate hydrodynamic friction force"),
      Cmd(kCmCalculateRatioDiffusionalSpreadDifferentialSedimentation, "calculate ratio diffusional spread / differential sedimentation"),
      Cmd(kCmCalculateVbarDndcAndExtinction280FromProteinSequence, "calculate vbar, dndc, and extinction280 from protein sequence"),
  });
}

MenuItem BitmapsPopup() {
  return Popup("Bitmaps + Colors", {
      Cmd(kCmBitmapBlackAndWhite, "black and white"),
      Cmd(kCmBitmapContinuousShading, "continuous shading"),
      Cmd(kCmScanColorByTime, "scan color temperature from time"),
  });
}

MenuItem OptionsPopup(bool full) {
  if (!full) {
    return Popup("&Options", {
        Cmd(kCmSetVRho, "Set &v*rho"),
        LoadingPopup(false),
        FittingPopup(false),
        SizeDistributionPopup(false),
        Cmd(kCmFullCommandSet, "Full Command Set"),
    });
  }
  return Popup("&Options", {
      Cmd(kCmSetVRho, "Set &v*rho"),
      Cmd(kCmInhomogeneousSolvent, "Inhomogeneous Solvent"),
      FittingPopup(true),
      SizeDistributionPopup(true),
      LoadingPopup(true),
      DlsToolsPopup(),
      FluorescencePopup(),
      EquilibriumPopup(),
      CalculatorPopup(),
      BitmapsPopup(),
      Cmd(kCmSound, "Sound"),
      Cmd(kCmFullCommandSet, "Full Command Set"),
  });
}

MenuItem PlotPopup() {
  return Popup("P&lot", {
      Cmd(kCmGUSSIDataFitResidualsPlot, "GUSSI data-fit-residuals plot"),
      Cmd(kCmGUSSICSPlot, "GUSSI c(s) plot"),
      Cmd(kCmPlotDataAs3d, "Plot Data as 3d"),
      Cmd(kCmMakeSedimentationMovie, "Make Sedimentation Movie"),
      Cmd(kCmMATLABPlotDataFitRes, "MATLAB Plot Data + Fit + Res"),
      Cmd(kCmMATLABPlotDataFitResDistribution, "MATLAB Plot Data + Fit + Res + Distribution"),
      Cmd(kCmMATLABPlotSizeAndShapeDistribution, "MATLAB Plot Size-and-Shape Distribution"),
      Cmd(kCmPlotTriangulatedStructureFromBEST, "Plot Triangulated Structure from BEST"),
  });
}

MenuItem HelpPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(kCmWizardMessages, "Info and Wizard Messages"),
      Cmd(kCmOfferOnlineHelp, "&How to Get Help"),
      Cmd(kCmAbout, "About"),
  };
  if (full) {
    Append(items, {
        Cmd(kCmKeyboardShortcuts, "Keyboard Shortcuts"),
        Cmd(kCmDiagnosticsToFiles, "Diagnostics Output to Files"),
    });
  }
  return Popup("&Help", std::move(items));
}

// --- whole menus ---------------------------------------------------------------

void AddAcceleratorHints(std::vector<MenuItem>& items, const AcceleratorTable& table) {
  for (MenuItem& item : items) {
    if (item.popup) {
      AddAcceleratorHints(item.children, table);
      continue;
    }
    for (const Accelerator& accel : table.entries) {
      if (accel.command == item.id) {
        item.accelHint = AcceleratorHint(accel);
        break;
      }
    }
  }
}

MenuResource MakeMenu(bool full) {
  MenuResource menu;
  menu.name = std::string(full ? kMenuFull : kMenuVirez);
  menu.items.push_back(DataPopup(full));
  menu.items.push_back(CopyPopup(full));
  menu.items.push_back(DisplayPopup(full));
  menu.items.push_back(ModelPopup(full));
  if (full) menu.items.push_back(GeneratePopup());
  Append(menu.items, MenuBarCommands());
  menu.items.push_back(StatisticsPopup());
  menu.items.push_back(OptionsPopup(full));
  if (full) menu.items.push_back(PlotPopup());
  menu.items.push_back(HelpPopup(full));
  AddAcceleratorHints(menu.items, Table303());
  return menu;
}

}  // namespace

std::string AcceleratorHint(const Accelerator& accel) {
  std::string hint;
  if (accel.mods & MK_SHIFT) hint += "Shift+";
  if (accel.mods & MK_ALT) hint += "Alt+";
  // Ctrl is written as a caret in front of the key, as in "^L".
  if (accel.mods & MK_CONTROL) hint += "^";
  hint += static_cast<char>(accel.key);
  return hint;
}

const MenuResource& GetMenuResource(std::string_view name) {
  static const MenuResource virez = MakeMenu(false);
  static const MenuResource full = MakeMenu(true);
  if (name == kMenuVirez) return virez;
  if (name == kMenuFull) return full;
  throw std::invalid_argument("no menu resource named \"" + std::string(name) + "\"");
}

const AcceleratorTable& GetAcceleratorTable(int id) {
  if (id == kAcceleratorTableId) return Table303();
  throw std::invalid_argument("no accelerator table " + std::to_string(id));
}

}  // namespace tarmic
