// The saved fit parameters and the fit report: the commands "Update Saved Fit
// Parameters" (827), "Copy Fit Parameters" (204) and "Show Last Fit Info Again"
// (517), and the hooks through which restoring a parameter file runs the model
// commands, the offer after loading and the fit-result text of Paint.
#include "commands/fit_report_commands.h"

#include <variant>

#include "app/global_eq_view.h"
#include "app/markers.h"
#include "app/response_table.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/global_equilibrium_commands.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/parameter_report.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "platform/dc.h"
#include "plot/data_plots.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "services/answer_policy.h"

namespace tarmic {

void InstallFitReportHooks() {
  FitPersistenceHooks& p = GetFitPersistenceHooks();
  p.switchModel = [](Window*) {
    if (TXLAWindow* main = GetMainWindow()) SwitchModel(*main);
  };
  p.chooseModel = [](Window*, int id) {
    TXLAWindow* main = GetMainWindow();
    if (!main || IsUnavailableCommand(id)) return false;
    const ResponseEntry* entry = main->Find(0, id);
    if (!entry || !std::holds_alternative<CommandMember>(entry->member)) return false;
    (main->*std::get<CommandMember>(entry->member))();
    return true;
  };
  p.drawReferenceMeniscus = [](Window*, float radius) {
    TXLAWindow* main = GetMainWindow();
    if (main && DataPlots().pDataPlot) main->DrawMarkerLine(main->RadiusToPixelColumn(radius), crRefMeniscusMarker, 1);
  };
  ShellHooks& s = GetShellHooks();
  s.showFitResultText = [](TXLAWindow& window, DC& dc) {
    Rmsd().fFitRmsd = FitRmsd();
    DrawFitResultText(dc, window.GetHandle().ClientSize());
  };
  s.drawBestFitInfo = [](TXLAWindow& window, DC& dc, int x, int y) {
    if (FitOfLoadedData()) {
      DrawBestFitInfo(&window.GetHandle(), dc, x, y);
    } else {
      dc.TextOut(x + 20, y + 10, kNoFitOfLoadedDataText);
    }
  };
  GetDataSetHooks().offerReloadParameters = [](Window* window, int) {
    return OfferReloadParameters(window, FrontEndAnswers()) != 0;
  };
}

void TXLAWindow::CmUpdateSavedFitParameters() {
  // Sedimentation-equilibrium data keep no saved fit parameters.
  if (DataSet().bEquilibriumMode) return;
  if (!RequireChosenModel(*this)) return;
  ReportSave(TmpSaveBestParams(&GetHandle(), false));
}

void TXLAWindow::CmCopyFitParameters() {
  // In the view of a global analysis: its fitted values, as Parameters shows them.
  if (bGlobalEqView) {
    CopyGlobalEqParameters();
    return;
  }
  if (!RequireChosenModel(*this)) return;
  CopyParameterReport(&GetHandle());
}

void TXLAWindow::CmShowLastFitInfo() {
  if (DataSet().nScans == 0) return;
  if (!FitOfLoadedData()) {
    CommandMessageBox(*this, kNoFitOfLoadedDataText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  Rmsd().fFitRmsd = FitRmsd();
  ShowFitResultText(&GetHandle());
}

}  // namespace tarmic
