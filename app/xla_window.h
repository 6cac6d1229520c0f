// The program's one frame window, TXLAWindow: it carries the menu and the
// accelerators, keeps the interaction state that the command, mouse and keyboard
// handlers share (help mode, run and fit in progress, a modal box open, the right
// drag, the diagnostics log, the printer), the two file-dialog records of the load
// commands, and reads the preferences and asks for the disclaimer when it is made.
//
// Every window message and menu command reaches one member through the response
// table (app/response_table.h). The members are defined with their topic:
//   app/window_setup.cpp        construction, set-up, menus, timer
//   app/xla_window.cpp          help mode, the "FloTools" item
//   app/preference_commands.cpp repaint routines and the preference commands
//   app/printout.cpp            printing
//   app/diagnostics_log.cpp     the diagnostics log
//   app/paint*.cpp, app/pane*, app/marker*, app/keyboard*, app/mouse*, app/zoom*
//                               painting, panes, marker lines, keys and mouse
//   commands/*.cpp              the menu commands of the command library
// The window's platform handle is the backend's main window.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/resource_types.h"
#include "platform/types.h"

namespace tarmic {

class TPrinter;
struct ResponseEntry;
struct AnalysisOutcome;

// Source of the idle message of an open menu.
inline constexpr unsigned MSGF_MENU = 2;

class TXLAWindow {
 public:
  // Reads the preference files and, at the first start, asks for the acceptance of
  // the disclaimer; declining runs the Exit command (the program ends without
  // showing the window). title: "Sedimentation Analysis".
  explicit TXLAWindow(const char* title);
  ~TXLAWindow();
  TXLAWindow(const TXLAWindow&) = delete;
  TXLAWindow& operator=(const TXLAWindow&) = delete;

  // The platform window (the backend's main window).
  Window& GetHandle() const { return *handle_; }

  // --- construction and set-up (app/window_setup.cpp) ---
  // Runs once the window exists: menu check marks and grey states from the program's
  // state, removal of the items of missing outside plot programs, sounds, dropped
  // files.
  void SetupWindow();
  // The response-table entry of a window message (message != 0, id 0) or a menu
  // command (message 0, id != 0); nullptr when the table has none.
  const ResponseEntry* Find(unsigned message, int id) const;
  // The idle message of an open menu: with source MSGF_MENU and the help key down,
  // help mode starts, so that the chosen command only offers the on-line help.
  void EvEnterIdle(unsigned source, bool helpKeyDown);
  // One tick of a window timer: with the realtime timer's id (kRealtimeTimerId)
  // and the realtime update on, one update of files; any other tick does nothing.
  void EvTimer(unsigned timerId);
  // Menu changes after a load: the "FloTools" item for fluorescence data, the data
  // mode in the title, and every check mark and grey state (item 231 for intensity
  // data, item 226 for the equilibrium mode) from the program's state.
  void UpdateMenuForLoadedData();
  // Attaches the menu bFullCommandSet names ("MENU_1" or "MENU_VIREZ") at once and
  // gives it what the window's menu shows: no items of missing outside plot
  // programs, "FloTools" while fluorescence data are loaded, and every check mark
  // and grey state from the program's state (ShowMenuState, app/menu_state.h).
  void AttachCommandMenu();
  // Inserts the "FloTools" item while fluorescence data are loaded (before item 552,
  // which only "MENU_1" has) and removes it otherwise.
  void ShowFloToolsItem();
  // The M* window's copy items; they stand in both menus already.
  void InsertVIrezCopyMenuItems();
  void RemoveVIrezCopyMenuItems();
  // Asks whether to open the program's help page and opens it in the web browser,
  // in help mode at the chosen command (app/online_help.cpp); every command calls
  // it in help mode and then clears bHelpMode. Also the command "&How to Get Help".
  void OfferOnlineHelp();
  // Command 199: does nothing.
  void CmEmpty();

  // --- repaint routines and preference commands (app/preference_commands.cpp) ---
  // Invalidates the whole client area (nothing in batch mode).
  void RepaintMain();
  // Redraws the data pane and its markers at once (nothing in batch mode).
  void RedrawPlots();
  void CmOldFilenameConvention();          // 243
  void CmSound();                          // 594
  void CmBeerSound();                      // 597
  void CmScanColorByTime();                // 609
  void CmCopyScreenshot();                 // 646
  void CmMultipleThreads();                // 648
  void CmSuppressBaselineCorrelation();    // 829
  void CmAlwaysLoadG2();                   // 894
  void CmCheckTimeStamps();                // 902
  // "Full Command Set": switches between "MENU_1" and "MENU_VIREZ" and keeps the
  // choice in "tarmic.ini".
  void CmFullCommandSet();                 // 921

  // --- printing (app/printout.cpp) ---
  void CmPrint();          // 234
  void CmPrinterSetup();   // 233

  // --- diagnostics (app/diagnostics_log.cpp) ---
  // Appends text to the diagnostics log while bDiagnosticsToFiles is set; with
  // nullptr only the file name and header are prepared.
  void WriteDebugLog(const char* text);

  // --- painting and interaction (app/paint*, app/panes*, app/marker*,
  //     app/keyboard*, app/mouse*, app/zoom*) ---
  // Composes the client area; with bPrinting set, the printed page.
  void Paint(DC& dc, bool erase, const Rect& rect);
  void EvKeyDown(unsigned key, unsigned repeatCount, unsigned flags);
  void EvChar(unsigned key, unsigned repeatCount, unsigned flags);
  void EvLButtonDown(unsigned modKeys, const Point& point);
  void EvLButtonUp(unsigned modKeys, const Point& point);
  // The keyboard's pick of a fitting limit (Home: the left one, End: the right one).
  void BeginKeyboardFitLimitPick(bool left);
  // Starts a pick with the cursor line at radius, the pick chosen by the mouse's
  // modifier word as a double-click chooses it (Ctrl: meniscus or bottom, Shift: the
  // reference meniscus, else a fitting limit), with its readout; the move waits for
  // Enter or Esc.
  void StartPick(float radius, bool eraseOld, unsigned modKeys);
  void EvLButtonDblClk(unsigned modKeys, const Point& point);
  void EvRButtonDown(unsigned modKeys, const Point& point);
  void EvRButtonUp(unsigned modKeys, const Point& point);
  void EvRButtonDblClk(unsigned modKeys, const Point& point);
  void EvMouseMove(unsigned modKeys, const Point& point);
  // Invalidates the whole client area, also in batch mode.
  void EvSize(unsigned sizeType, const Size& size);
  // Sets the plots' smallest text height from the client height and the window's
  // smallest text (Window::MinTextHeight); when it changes, the data and residual
  // plots are recorded anew and the noise buttons resized.
  void UpdatePlotTextHeight();
  // Pane routines: each draws one pane of the client area with the screen mapping.
  void DrawDataPane();
  void DrawResidualPane();
  void DrawDistributionPane();
  void DrawDataPaneMarkers();
  void HighlightRangeInData(float x1, float x2);
  // Lines straight onto the client area (pane 1 is the data pane).
  // Each draws on a device context of its own and shows the window.
  void DrawMarkerLine(int xPixel, Color colour, int pane);
  void DrawDashedMarkerLine(int xPixel, Color colour, int nDashes, int pane);
  void DrawCursorLine(int xPixel, bool eraseOld, int pane);
  // The same lines on dc (in client pixels, whatever its mapping), without showing
  // the window: a paint draws them on its own device context.
  void DrawMarkerLine(DC& dc, int xPixel, Color colour, int pane);
  void DrawDashedMarkerLine(DC& dc, int xPixel, Color colour, int nDashes, int pane);
  void DrawCursorLine(DC& dc, int xPixel, bool eraseOld, int pane);
  void DrawRubberBandRect(int x1, int y1, int x2, int y2);
  // Client column of a radius (cm) with the data plot's mapping.
  int RadiusToPixelColumn(float radius);
  // Commits (confirm) or cancels the move of the held marker.
  void FinishMarkerMove(bool confirm);

  // --- menu commands (commands/*.cpp) ---
  void CmExit();                       // 230
  void CmLoadNewFiles();               // 200
  void CmAddMoreFiles();               // 226
  void EvDropFiles(const std::vector<std::string>& files);
  void CmShowData();                   // 232
  void CmShowResiduals();              // 209
  void CmDataMarkSize();               // 211
  void CmFinalProfileToFit();          // 223
  AnalysisOutcome RunDiscreteModel();  // Run of a discrete-species model
  void CmInhomogeneousSolvent();      // 542
  void CmSetRange();                   // 207
  void CmFullRange();                  // 208
  void CmDataRange();                  // 518
  void CmUpdate();                     // 257
  void CmToggleScanHoverLabel();       // 210
  void CmCopyDataPlot();               // 205
  void CmCopyResidualsPlot();          // 206
  void CmCopyResidualsBitmap();        // 507
  void CmCopyDataTable();              // 258
  void CmCopyFitDataTable();           // 259
  void CmCopyResidualsTable();         // 260
  void CmCopyTINoiseTable();           // 262
  void CmCopyRINoiseTable();           // 261
  void CmCopyPriorKnowledgeTable();    // 632
  void CmShowResidualsBitmap();        // 504
  void CmBitmapBlackAndWhite();        // 505
  void CmBitmapContinuousShading();    // 506
  void CmDontLoadSpikes();             // 247
  void CmSetRadialResolution();        // 590
  void CmSetNColumns();                // 265
  void CmSaveRawDataSet();             // commands/raw_data_commands.cpp
  // Raw-data tools, initial data and constants (commands/raw_data_commands.cpp):

  // 219, 591; the vbar(M) and power-law s(M) constants have no menu item.
  void CmSubtractBlankScan(); void CmAddSimulatedData(); void CmInvertRawData();
  void CmRecalibrateRadius(); void CmTimeOffset(); void CmAddNoiseToData(); void CmExcludeRegion();
  void CmMirrorRawData(); void CmEliminateInterferenceOffset(); void CmRemoveFringeJumps();
  void CmEliminateJitter(); void CmSaveIntensityAsAbsorbance(); void CmSaveIntensityAsPseudoAbsorbance();
  void CmSaveSixChannelSubsets(); void CmAverageScans(); void CmSetInitialData(); void CmInitPolyOrder();
  void CmExcludeWorstScan(); void CmVbarFromMass(); void CmPowerLawSofM();
  void CmRestoreTimesFromFiles();  // 922
  // Every command whose subsystem is not built yet: shows "<menu text> is not
  // available in this version" for nDispatchedCommand.
  void CmNotAvailable();

  // --- fields ---
  // Transfer buffers of the model parameter dialogs; their dialogs fill them with
  // their defaults when they are built.
  TransferBuffer paramsTransfer;          // discrete-species model dialog
  TransferBuffer priorParamsTransfer;     // prior-probability dialog
  TransferBuffer lammParamsTransfer;      // Lamm-equation parameter dialog
  TransferBuffer floToolsTransfer;        // fluorescence tools dialog
  TransferBuffer densgradParamsTransfer;  // density-gradient dialog
  TransferBuffer bufferSedParamsTransfer; // buffer-sedimentation dialog

  bool bHelpMode = false;         // the next command only offers the on-line help
  float fClientWidth = 0.0f;      // client size in pixels, kept by Paint
  float fClientHeight = 0.0f;
  std::unique_ptr<DC> pBandDC;    // held for the rubber band from right press to release
  bool bRightDragActive = false;  // a right-button drag is under way
  // Diagnostics log: header and file name, made on first use.
  std::optional<std::string> pszDebugHeader;
  std::optional<std::string> pszDebugFileName;
  bool bDebugFileStarted = false;  // the log was opened for writing in this run
  bool bPrinterCreated = false;
  bool bRunInProgress = false;     // Run computes: input only sets bUserAbort
  // Called as each handler of the window ends (SetupWindow installs the paint's
  // RepaintAResultThatHoldsAgain); null does nothing.
  void (*afterHandler)(TXLAWindow& window) = nullptr;
  bool bFitInProgress = false;     // Fit computes: input only sets bUserAbort
  bool bModalBoxOpen = false;      // a command has a box open: Paint draws nothing
  // While a computation, a modal box or a load's file dialog is under way the
  // window keeps what it shows: a paint then neither erases nor draws.
  bool KeepsPicture() const;
  std::unique_ptr<TPrinter> pPrinter;
  // File-dialog records of the load commands: the scan-file filter, the start
  // directory from "tarmic.ini", title "select files", multiple selection.
  FileDialogOptions ofnLoad;
  FileDialogOptions ofnSecond;
  bool bFloToolsInserted = false;  // the "FloTools" item has been inserted
  // The command identifier being dispatched (read by CmNotAvailable).
  int nDispatchedCommand = 0;

  // --- members added by painting and interaction ---
  // The printing path of Paint: the pictures in black with the marker lines,
  // scaled as the printout mapped the client area onto the page.
  void PaintPrintedPage(DC& dc);
  // The slide of a thrown marker after the left-button release.
  void ThrowDraggedMarker();

  // --- members added by the commands ---
  // Settings kept in the preference file (commands/setting_commands.cpp).
  void CmRegSecondDerivative();        // 294
  void CmRegMaxEnt();                  // 295
  void CmRegShowBoth();                // 642
  void CmFitSimplex();                 // 826
  void CmFitMarquardt();               // 824
  void CmFitAnnealing(); void CmFit();  // 825, 215 (commands/fit_commands.cpp)
  void CmSimplexRandomization();       // 224
  void CmErrorInS(); void CmErrorInM(); void CmSMContour(); void CmS1S2Contour(); void CmKContour(); void CmVarianceRatio();  // 285, 286, 241, 244, 245, 272 (commands/error_analysis_commands.cpp)
  void CmWizardMessages();             // 610
  void CmChangeFitUpdating();          // 592
  void CmDiagnosticsToFiles();         // 867
  // The label of the scan under the pointer is shown (on at start; command 210
  // toggles it). A field of the window, so that the mouse handlers of the shell
  // read what the command sets.
  bool bScanHoverLabel = true;
  // Models of the continuous distributions (commands/model_commands.cpp).
  void CmContinuousCs();               // 275
  void CmContinuousCM();               // 235
  void CmContinuousCsInvariantD();     // 526
  void CmContinuousCMInvariantD();     // 277
  void CmContinuousCMPriorVbar();      // 279
  void CmFMScalingLaw();               // 887
  void CmContinuousCsScalingLaw();     // 872
  void CmContinuousCsFf0();            // 595
  void CmContinuousCsFf0OneDiscrete(); // 598
  void CmContinuousCsOneDiscrete();    // 531
  void CmContinuousCsBimodalFf0();     // 548
  void CmContinuousCsBimodalFf0OneDiscrete();  // 870
  void CmContinuousCsWormChain();      // 603
  void CmContinuousCsConformationalChange();  // 514
  void CmContinuousCsLinearRod();      // 521
  void CmLsgModel();                   // 288
  void CmLsgOneDiscrete();             // 539
  void CmZoneLsgModel();               // 510
  void CmZoneContinuousCs(); void CmContinuousCsFloatingVbar();  // 511, 602
  void CmElectroLsgModel();            // 501
  void CmCvConstantD();                // 513
  void CmContinuousCsMsTable();       // 587
  void CmDLSStokesRadiusDistribution(); // 503
  void CmDLSDiffusionDistribution();   // 502
  void CmDLSTimeCourse();              // 522
  void CmContinuousCsNonideal();       // 585
  void CmFitMAndS(); void CmHeteroAssocModel();  // 217, 267 (commands/reacting_commands.cpp)
  // Discrete-species models (commands/discrete_model_commands.cpp): 198, 246, 280, 281, 291,
  // 227, 893, 255 and 256; the planar quadrature, self-association and electrophoresis
  // loading commands have no menu item.
  void CmDiscreteSpecies(); void CmZoneCentrifugationSpecies(); void CmLinearGeometry();
  void CmExternalLoadingCell(); void CmElectrophoresisSpecies(); void CmPlanarQuadrature();
  void CmNonidealSingle(); void CmNonidealMultiple(); void CmSedimentationTimeOffset();
  void CmMonomerDimer(); void CmMonomerTrimer(); void CmAssoc124(); void CmAssoc148();
  void CmLoadElectrophoresisData();
  void CmFaxenSpecies();  // 530
  // Parameters, run and numerics (commands/run_commands.cpp).
  void ParametersCommand();            // 212
  void CmRun();                        // 213
  void CmSetFitLimits();               // 240
  void CmLammEquationParameters();     // 611
  // Distributions: save, copy and the tools of the distribution pane
  // (commands/distribution_*.cpp).
  // Transforms of a distribution (commands/transform_commands.cpp).
  void CmTransformToS20wDistribution();  // 836
  void CmTransformToRDistribution();     // 525
  void CmDirectBoundaryFromGss();        // 533
  void CmSaveContinuousDistribution(); // 271
  void CmSavePictures(); // 640
  // Monte Carlo and the priors (commands/monte_carlo_commands.cpp).
  void CmMonteCarloDistributions();    // 296
  void CmMonteCarloIntegratedSw();     // 546
  void CmPriorDiscreteSpecies();       // 633
  void CmUsePriorProbabilities();      // 529
  void CmCopyDistributionPlot();       // 273
  void CmCopyDistribution();           // 274
  void CmIntegrateDistribution();      // 456
  void CmRescaleDistributionPlot();    // 457
  void CmFullscaleDistributionPlot();  // 458
  void CmIntegralDistribution();       // 460
  void CmTransformCsToCM();            // 589
  void CmShowPeakMw();                 // 608
  void CmIntegrationRangesFromFile();  // 644
  // Mouse sliding after a thrown marker (app/onplot_scan_edit.cpp).
  void CmMouseSliding();               // 837
  void CmBufferSedimentation(); void CmSubtractBufferMismatch();  // 552, 576
  // Fluorescence tools (commands/fluorescence_commands.cpp): 903, 905/907, 906/908,
  // 909/910, 911/912, 913/914, 915.
  void CmSortFluorescenceData(); void CmSignalMagnificationGradient(); void CmNonlinearDetection();
  void CmSignalMagnificationDrift(); void CmSignalRadialConvolution(); void CmExcitationShadow();
  void CmFloTools();
  void CmUpdateSavedFitParameters(); void CmCopyFitParameters(); void CmShowLastFitInfo();  // 827, 204, 517
  // Data-set tools on fits (commands/data_set_tool_commands.cpp): 214, 203, 252, 253,
  // 508, 509, 519, 607.
  void CmGenerateSingle(); void CmSaveFitData(); void CmSaveNoise(); void CmSubtractNoiseFromEqData();
  void CmSubtractTINoise(); void CmSubtractRINoise(); void CmSubtractSystematicNoise(); void CmRestoreTINoise();
  void CmLoadDLSData(); void CmSaveMeanDLSData(); void CmSortEqData();  // 298, 500, 579
  void CmToggleCorrelationForm(); void CmConvertTwoColumnData(); void CmConvertTwoColumnG2();  // 898, 532, 600
  void CmDLSStokesRadii(); void CmDLSCumulants();  // 536, 890 (commands/discrete_model_commands.cpp)
  // About, keyboard shortcuts and the temperature plot (commands/program_info_commands.cpp):
  // 221, 869, 537.
  void CmAbout(); void CmKeyboardShortcuts(); void CmShowTemperaturePlot();
  // Calculators (commands/calculator_commands.cpp): 582, 270, 547, 276, 606, 831, 830, 461,
  // 463, 578, 462.
  void CmCalculateS20w(); void CmCalculateFrictionalRatios(); void CmShapesFromFrictionalRatio();
  void CmSphereSFromM(); void CmMFromS(); void CmSphereRhFromS(); void CmSphereSFromRh();
  void CmRadialDilution(); void CmCalculatePressure(); void CmFrictionForce(); void CmSecondMomentS();
  // Outside programs (commands/outside_program_commands.cpp): 878-883, 899, 900, 876, 577;
  // names the missing program of nDispatchedCommand.
  void CmOutsideProgram();
  void CmGenerateSeries(); void CmLoadEquilibriumData(); void CmChangeCell();  // 647, 515, 828
  // Realtime update of files and the test of approach to equilibrium
  // (commands/realtime_commands.cpp): 540, 541, 645.
  void CmRealtimeUpdate(); void CmStopRealtimeUpdate(); void CmTestApproachToEquilibrium();
  // Serialize fit (commands/series_commands.cpp): 593, 904.
  void CmSerializeFitByCell(); void CmSerializeFitByList();
  // Global equilibrium analysis of experiment files (commands/global_equilibrium_commands.cpp): 930.
  void CmGlobalEquilibriumAnalysis();

 private:
  Window* handle_ = nullptr;
};

// The main window while it exists, else nullptr.
TXLAWindow* GetMainWindow();

// The multi-string filter of the scan-file dialogs, as "text|pattern|text|pattern".
extern const char* const kScanFileFilter;

}  // namespace tarmic
