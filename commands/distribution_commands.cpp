// Save, copy and restore of the continuous distribution.
#include "commands/distribution_commands.h"

#include <filesystem>
#include <optional>

#include "app/xla_window.h"
#include "commands/clipboard_table.h"
#include "commands/command_support.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "services/error_box.h"
#include "modelfit/model_flags.h"
#include "platform/backend.h"
#include "plot/winplot.h"
#include "resources/command_ids.h"
#include "scandata/data_set.h"
#include "commands/save_outcome.h"

namespace tarmic {

namespace {


// The grid as the plot shows it: s for the s-grid models, M for the molar-mass
// models and for a c(s) shown as c(M); for DLS data log10 D (the I(D) model) or
// log10 Rh (the radius models).
const float* PlottedGrid() {
  if (DataSet().bDLSData) return ModelFlags().bDLSDModel ? DistributionVectors().pDistS : DistributionVectors().pDistGrid;
  return IsSGridModel() && !DistributionPlot().bCMTransformed ? DistributionVectors().pDistGrid : DistributionVectors().pDistS;
}

// A distribution is on show (computed or restored, for the loaded data and under
// the model chosen now: another model's result is never copied or saved under this
// one's name); otherwise says what to do first, as the other commands on the
// distribution do.
bool DistributionOnShow(TXLAWindow& window) {
  if (DistributionPlot().pDistPlot && DistributionVectors().pDistValues && DistributionVectors().nDistGrid >= 1 && PlottedGrid() && DistributionPaneShown()) return true;
  CommandMessageBox(window, kNoDistributionText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
  return false;
}

}  // namespace

std::string DistributionTableText() {
  const float* x = PlottedGrid();
  if (!x || !DistributionVectors().pDistValues || DistributionVectors().nDistGrid < 1) return {};
  const bool both = GetContiRunSettings().showBoth && DistributionVectors().pDistValues2;
  const float* columns[3] = {nullptr, DistributionVectors().pDistValues, DistributionVectors().pDistValues2};
  // The columns are named as the plot's axes; with both regularisations the
  // maximum-entropy curve (black) comes first, then Tikhonov-Phillips (blue).
  const std::string xName = DistributionPlot().pDistPlot && !DistributionPlot().pDistPlot->szXLabel.empty() ? DistributionPlot().pDistPlot->szXLabel : "x";
  const std::string yName = DistributionPlot().pDistPlot && !DistributionPlot().pDistPlot->szYLabel.empty() ? DistributionPlot().pDistPlot->szYLabel : "c";
  const std::vector<std::string> names =
      both ? std::vector<std::string>{xName, yName + " ME", yName + " TP"}
           : std::vector<std::string>{xName, yName};
  return FormatTable(x, columns, 1, DistributionVectors().nDistGrid, both ? 2 : 1, nullptr, names);
}

bool RestoreSavedDistribution(TXLAWindow& window, const std::string& path) {
  // The whole file is read before the model changes: a damaged file is reported by
  // the restore and leaves the model as it was.
  const std::optional<DistributionKind> kind = ReadSavedDistributionKind(path);
  if (kind) {
    const bool modelMatches =
        ModelFlags().bContiModel && !IsSizeShapeModel() && CurrentDistributionKind() == *kind;
    if (!modelMatches) {
      // The file's kind chooses the model: a saved c(M) stays a c(M).
      if (*kind == DistributionKind::MolarMass) {
        window.CmContinuousCM();
      } else {
        window.CmContinuousCs();
      }
    }
  }
  const DistributionFileResult restored = RestoreContiDistribution(path);
  if (!restored) ShowError(restored.message, false);
  window.RepaintMain();
  return restored.ok;
}

void TXLAWindow::CmSaveContinuousDistribution() {
  SaveCommandOutcome outcome;
  if (!DistributionOnShow(*this)) return;
  const std::filesystem::path proposal(DefaultDistributionPath());
  FileDialogOptions options;
  options.title = "save distribution as";
  options.filter = "dat files (*.dat)|*.dat|All Files (*.*)|*.*";
  options.directory = proposal.parent_path().string();
  options.defaultName = proposal.filename().string();
  options.defaultExt = "dat";
  const std::optional<std::string> path = AskSaveFilePath(*this, options);
  if (!path || !MayReplace(*this, {*path})) return;
  if (const DistributionFileResult saved = SaveContiDistribution(*path); !saved)
    ShowError(saved.message, false);
  else
    outcome.Saved({*path});
}

void TXLAWindow::CmCopyDistributionPlot() {
  if (!DistributionOnShow(*this)) return;
  RedrawDistributionPlot();
  DistributionPlot().pDistPlot->CopyToClipboard();
}

void TXLAWindow::CmCopyDistribution() {
  if (!DistributionOnShow(*this)) return;
  const std::string text = DistributionTableText();
  if (!text.empty()) GetBackend().SetClipboardText(text);
}

}  // namespace tarmic
