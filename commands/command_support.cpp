#include "commands/command_support.h"

#include "app/preferences.h"

#include "app/xla_window.h"
#include "app/zoom.h"
#include "distributions/distribution_integration.h"
#include "modelcalc/error_analysis.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/synthetic_data.h"
#include "modelfit/model_flags.h"
#include "services/error_box.h"
#include "services/replace_question.h"
#include "prompts/number_prompt.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// Keeps bModalBoxOpen set while a box or dialog of a command is open, so that
// Paint draws nothing underneath; restores the previous state (a command may open
// a box while another one of its boxes is pending).
class ModalBoxScope {
 public:
  explicit ModalBoxScope(TXLAWindow& window) : window_(window), previous_(window.bModalBoxOpen) {
    window_.bModalBoxOpen = true;
  }
  ~ModalBoxScope() { window_.bModalBoxOpen = previous_; }
  ModalBoxScope(const ModalBoxScope&) = delete;
  ModalBoxScope& operator=(const ModalBoxScope&) = delete;

 private:
  TXLAWindow& window_;
  bool previous_;
};

}  // namespace

int CommandMessageBox(TXLAWindow& window, const std::string& text, const std::string& caption,
                      unsigned style) {
  ModalBoxScope box(window);
  return GetBackend().MessageBox(text, caption, style);
}

bool AskYesNo(TXLAWindow& window, const std::string& text, const std::string& caption) {
  return CommandMessageBox(window, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void AskSyntheticDataQuestions(TXLAWindow& window, SyntheticDataSettings& settings) {
  if (SyntheticSettingsRefused(settings)) return;
  if (ModelFlags().bZoneCentrifugation) settings.invertBand = AskYesNo(window, kInvertBandQuestion, "");
  if (ModelFlags().bContiModel) {
    CommandMessageBox(window, SyntheticDistributionNote(), "ATTENTION", MB_OK);
    settings.distributionNormalized =
        AskYesNo(window, kDistributionNormalizedQuestion, "ATTENTION");
  }
}

bool ConfirmChange(TXLAWindow& window, const std::string& text, const std::string& caption) {
  return CommandMessageBox(window, text, caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
         IDYES;
}

bool ReportSave(const SaveResult& result) {
  if (!result.ok && !result.message.empty()) ShowError(result.message, false);
  return result.ok;
}

void ShowContiRunMessage(TXLAWindow& window, const RunMessage& message) {
  if (message.empty()) return;
  if (message.errorBox)
    ShowError(message.text, false);
  else
    CommandMessageBox(window, message.text, message.caption, message.style);
}

void ReportFit(TXLAWindow& window, const FitReport& report) {
  ShowContiRunMessage(window, report.message);
  if (report.simplexNotConverged && !bBatchMode) ShowError(kSimplexNotConvergedText, false);
  ReportSave(report.saved);
}

bool RequireLoadedData(TXLAWindow& window) {
  if (DataSet().nScans > 0) return true;
  PlayErrorSound();
  CommandMessageBox(window, "load data first", "ERROR", MB_OK);
  return false;
}

bool RequireFitPoints(TXLAWindow& window) {
  if (DataSet().nScans < 1 || CountFitPoints() > 0) return true;
  PlayErrorSound();
  if (!bBatchMode) CommandMessageBox(window, NoFitPointText(), "ERROR", MB_OK);
  return false;
}

bool MayReplace(TXLAWindow& window, const std::vector<std::string>& targets) {
  ModalBoxScope box(window);
  return MayReplaceFiles(targets);
}

std::optional<std::string> AskSaveFilePath(TXLAWindow& window, const FileDialogOptions& options) {
  const bool previous = window.bModalBoxOpen;
  window.bModalBoxOpen = true;
  std::optional<std::string> path = GetBackend().SaveFileDialog(options);
  window.bModalBoxOpen = previous;
  if (path && path->empty()) path.reset();
  return path;
}

std::optional<std::string> AskFolderPath(TXLAWindow& window, const FileDialogOptions& options) {
  ModalBoxScope box(window);
  std::optional<std::string> folder = GetBackend().FolderDialog(options);
  if (folder && folder->empty()) folder.reset();
  return folder;
}

void ChooseExclusiveOption(TXLAWindow& window, const ExclusiveOption* options, int count,
                           int value, const std::string& question, int preferenceLine) {
  Window& w = window.GetHandle();
  for (int k = 0; k < count; ++k) {
    *options[k].flag = value == k + 1;
    w.CheckMenuItem(options[k].command, *options[k].flag);
  }
  if (ConfirmChange(window, question, "SET PREFERENCE")) SavePreference(&window, preferenceLine, value);
}

bool AskFloat(TXLAWindow& window, float* value, float current, const char* prompt,
              const char* caption, const Quantity& quantity) {
  ModalBoxScope box(window);
  return InputFloat(value, current, true, prompt, caption, quantity);
}

bool AskIntegrationLimits(TXLAWindow& window, const char* caption, float* lo, float* hi) {
  float first = 0.0f, last = 10.0f;
  IntegrationAxisRange(&first, &last);
  return AskFloat(window, lo, first, "lower integration limit", caption,
                  {"lower integration limit", "", kGridLimit.range}) &&
         AskFloat(window, hi, last, "upper integration limit", caption,
                  {"upper integration limit", "", kGridLimit.range});
}

void ApplyPaneLayout() {
  if (DataPlots().bShowData && DataPlots().bShowResiduals) {
    LayoutDataAndResidualPlots();
  } else if (DataPlots().bShowData) {
    LayoutDataPlotOnly();
  } else if (DataPlots().bShowResiduals) {
    LayoutResidualPlotOnly();
  }
}

void ApplyCurrentZoomToDataPlot() {
  if (!DataPlots().pDataPlot) return;
  const int level = nZoomLevel;
  if (level <= 0) {
    DataPlots().pDataPlot->ResetRanges();
  } else if (bZoomStepHasY) {
    DataPlots().pDataPlot->SetRanges(afZoomXMin[level], afZoomXMax[level], afZoomYMin[level], afZoomYMax[level]);
  } else {
    DataPlots().pDataPlot->SetXRangeAutoY(afZoomXMin[level], afZoomXMax[level]);
  }
  DataPlots().pDataPlot->Redraw();
  FollowDataPlotZoom(level <= 0 ? std::nullopt
                                : std::optional(std::pair(afZoomXMin[level], afZoomXMax[level])));
}

}  // namespace tarmic
