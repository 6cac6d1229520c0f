#include "commands/program_services.h"

#include <string>

#include "app/onplot_tools.h"
#include "app/panes.h"
#include "app/preferences.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "commands/buffer_commands.h"
#include "commands/distribution_pane_mouse.h"
#include "commands/distribution_peak_tools.h"
#include "commands/distribution_range_tools.h"
#include "commands/equilibrium_sorting.h"
#include "commands/global_equilibrium_commands.h"
#include "commands/load_commands.h"
#include "commands/menu_item_states.h"
#include "commands/fit_report_commands.h"
#include "commands/model_commands.h"
#include "commands/mstar_view.h"
#include "commands/power_law_calibration.h"
#include "commands/realtime_update.h"
#include "commands/response_table.h"
#include "distributions/conti_run.h"
#include "distributions/ctot_tables.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_plot.h"
#include "distributions/install_hooks.h"
#include "propagators/install_hooks.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/dls_species_signal.h"
#include "modelcalc/equilibrium_signal.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/model_claim.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/nonideal_cs_kernels.h"
#include "modelcalc/species_model_cl.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "scandata/analysis_switches.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "storage/folder_lock.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "prompts/dialog_question.h"
#include "prompts/number_question.h"
#include "plot/screen_button.h"
#include "plot/temperature_plot.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "services/answer_policy.h"
#include "services/engine_notice.h"
#include "services/error_box.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

// The rows of the data and residual panes while a distribution is shown below them.
constexpr int kThreePaneDataBottom = 350;
constexpr int kThreePaneResidualTop = 405;
constexpr int kThreePaneResidualBottom = 575;

// What the shell asks of the model computation and the distribution engine.
void InstallShellHooks() {
  ShellHooks& h = GetShellHooks();
  h.packModelParams = PackModelParams;
  h.readLammEqParameterPreferences = [](TXLAWindow* window) {
    ReadLammEqParameterPreferences(window ? &window->GetHandle() : nullptr);
  };
  h.layoutPanes = [] { MatchPaneLayoutToDistribution(); };
  h.textSizeChanged = [] {
    RelayoutDistributionPlot();
    RelayoutIntegrateButton();
  };
  h.distributionPicture = []() -> const MetaFile* {
    return DistributionPaneShown() ? RedrawDistributionPlot() : nullptr;
  };
  h.distributionPriorOverlay = DrawPriorOverlay;
  h.beforePaint = [](DC* screenDC) { RemovePeakLabelsBeforePaint(screenDC); };
  // The integrate button belongs to the distribution pane: while the pane is not
  // shown it is neither drawn nor pressed.
  h.paintButtons = [](DC& dc) {
    if (DistributionPaneShown() && pIntegrateButton && pIntegrateButton->hPicture)
      pIntegrateButton->hPicture->Play(dc);
    PaintPeakLabels(dc);
  };
  h.pressLabel = PressPeakLabel;
  h.pressButton = [](TXLAWindow& window, float bx, float by) {
    return DistributionPaneShown() && PressIntegrateButton(window, bx, by);
  };
  h.overButton = [](float bx, float by) { return DistributionPaneShown() && OverIntegrateButton(bx, by); };
  h.rightPress = DistributionPaneRightPress;
  h.mouseMove = DistributionPaneMouseMove;
  h.rightRelease = DistributionPaneRightRelease;
  h.rightDoubleClick = DistributionPaneRightDoubleClick;
  h.escape = DistributionPaneEscape;
  h.enter = DistributionPaneEnter;
  h.realtimeTick = [](TXLAWindow& window) { RealtimeUpdateTick(window); };
  h.menuItemState = CommandMenuItemState;
  h.eqTestPicture = RedrawEqTestPlot;
  h.escapeEqTestView = EndEqTestMode;
  h.globalEqPictures = GlobalEqViewPictures;
  h.stepGlobalEqView = StepGlobalEqView;
  h.escapeGlobalEqView = EndGlobalEqView;
  h.escapeMStarView = EscapeMStarView;
}

// What the distribution engine asks of the main window.
void InstallEngineServices() {
  DistributionHooks& h = GetDistributionHooks();
  h.writeDebugLog = [](const std::string& text) {
    if (TXLAWindow* main = GetMainWindow()) main->WriteDebugLog(text.c_str());
  };
  h.fitInProgress = [] {
    const TXLAWindow* main = GetMainWindow();
    return main && main->bFitInProgress;
  };
  h.wizardMessages = [] { return bWizardMessages; };
  h.runSettings = [] {
    ContiRunSettings settings;
    settings.maxEntropy = bRegMaxEnt;
    settings.showBoth = bRegShowBoth;
    settings.multiThreading = bMultiThreading;
    settings.threads = nThreads;
    settings.suppressBaselineCorrelation = bSuppressBaselineCorrelation;
    settings.answers = FrontEndAnswers();
    return settings;
  };
  h.paneLayoutChanged = [](bool threePanes) {
    ResetPaneLayout();
    if (threePanes) {
      nDataPaneBottom = kThreePaneDataBottom;
      nResidualPaneTop = kThreePaneResidualTop;
      nResidualPaneBottom = kThreePaneResidualBottom;
    }
  };
  h.nonidealKernel = NonidealCsKernel;
  h.detectionCorrections = LoadDetectionCorrections;
  h.createIntegrateButton = CreateIntegrateButton;
  h.deleteIntegrateButton = [] {
    DeleteIntegrateButton();
    bDistDrag = bDistRangeArmed = bRangeSelectMode = bDistZoomDrag = false;
  };
}

// What the scan data set asks of the window's tools and commands.
void InstallDataSetServices() {
  DataSetHooks& h = GetDataSetHooks();
  h.createNoiseButtons = [](Window* window) {
    CreateNoiseButtons(window ? GetMainWindow() : nullptr);
  };
  h.deleteNoiseButtons = [](Window* window) {
    DeleteNoiseButtons(window ? GetMainWindow() : nullptr);
  };
  h.calculateModel = [](Window* window) {
    // A restored continuous distribution or boundary analysis has no distribution yet
    // to compute a fit from: computing the species model instead would fit the
    // baseline to the whole signal. Its parameters stay as restored until a Run.
    if (ModelFlags().bContiModel || ModelFlags().bBoundaryAnalysis) return false;
    const ModelResult result = CalculateModel(window);
    if (!result.message.empty() && HasBackend()) GetBackend().MessageBox(result.message, "", MB_OK);
    return AnalysisSwitches().bModelComputed;
  };
  // Results belong to the model that computed them.
  h.activeModel = [] { return ActiveModelCommand(); };
  // ... and to the values and settings that computed them.
  h.modelSettings = ModelSettingsFingerprint;
  // A new data set makes the total-concentration tables of the old one stale.
  h.freeCtotArrays = [] { FreeCtotArrays(); };
  // A reload runs the current analysis as Run does, where Run can compute it.
  h.runAfterReload = [](Window*) {
    TXLAWindow* main = GetMainWindow();
    if (main && RunnableModelActive()) main->CmRun();
  };
  // The loaders' refusals, questions and notes are shown by the loading commands.
  h.showLoadMessage = [](Window*, const LoadMessage& message) {
    return ShowLoaderMessage(message);
  };
  // Fluctuating temperatures of a loaded set are shown as the temperature plot.
  h.showTemperaturePlot = [](Window*) {
    TXLAWindow* main = GetMainWindow();
    if (BuildTemperaturePlot() && main) main->RepaintMain();
  };
}

// A save that waits for a folder another instance of the program holds says so on
// the line where long computations show their progress; the line goes when the
// wait ends (a blank covers it at once, the repaint restores what lay beneath).
void InstallFolderWaitNotice() {
  FolderWaitHooks& h = GetFolderWaitHooks();
  h.show = [](const std::string& text) {
    if (TXLAWindow* main = GetMainWindow()) {
      ReportProgress({ProgressKind::Stage, text});
      LammWindowDisplay(main->GetHandle()).ShowText(10, 30, text);
    }
  };
  h.clear = [] {
    TXLAWindow* main = GetMainWindow();
    if (!main) return;
    LammWindowDisplay(main->GetHandle()).ShowText(10, 30, " ");
    main->RepaintMain();
  };
  // Any key gives the wait up, as it interrupts a run.
  h.keyPressed = [] { return CheckKeyPress(); };
  // Shown once per folder; from a worker thread after its join.
  h.tell = [](const std::string& text) { ShowError(text, false); };
}

}  // namespace

void InstallProgramServices() {
  InstallResponseTable();
  // The preference file's Lamm thread count is the solver's own.
  BindLammThreadCount(&LammGlobals().nLammThreads);
  InitModelParams();
  InstallDistributionHooks();
  InstallPropagatorHooks();
  InstallShellHooks();
  InstallEngineServices();
  InstallDataSetServices();
  InstallBufferMismatchHooks();
  InstallFluorescenceDetectionHooks();
  InstallDLSKernelHook();
  InstallEquilibriumKernelHook();
  InstallFitReportHooks();
  InstallFolderWaitNotice();
  // The engine's errors, notes, questions and dialogs are shown by the front end's
  // boxes, as the window showed them before they were handed up.
  SetNoticePresenter(ShowNotice);
  SetNumberPresenter(AskNumberByPrompt);
  SetDialogPresenter(RunDialogByBackend);
  GetModelFitHooks().calibrateCMPowerLaw = [](Window*) {
    TXLAWindow* main = GetMainWindow();
    return main ? CalibrateCMPowerLaw(*main) : 0;
  };
}

}  // namespace tarmic
