#include "commands/buffer_commands.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "app/markers.h"
#include "app/xla_window.h"
#include "commands/buffer_dialog.h"
#include "commands/command_support.h"
#include "modelfit/model_flags.h"
#include "modelfit/modelfit_hooks.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/types.h"
#include "plot/data_plots.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"

namespace tarmic {

namespace {

bool Unused(const TransferBuffer& record) { return record.text.empty() && record.checked.empty(); }

// The measured values of every scan, to be put back when a subtraction fails.
std::vector<std::vector<float>> CopySignals() {
  std::vector<std::vector<float>> copy(static_cast<std::size_t>(DataSet().nScans) + 1);
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const auto u = static_cast<std::size_t>(s);
    if (u < DataSet().ppSignal.size() && DataSet().ppSignal[u])
      copy[u].assign(DataSet().ppSignal[u], DataSet().ppSignal[u] + DataSet().pnPoints[u] + 1);
  }
  return copy;
}

void RestoreSignals(const std::vector<std::vector<float>>& copy) {
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const auto u = static_cast<std::size_t>(s);
    if (!copy[u].empty()) std::copy(copy[u].begin(), copy[u].end(), DataSet().ppSignal[u]);
  }
  NoteScanDataChanged();
}

}  // namespace

void InstallBufferMismatchHooks() {
  BindMeniscusDifference(&fMeniscusDifference);
  SetRefMeniscusShownTest([] { return ModelFlags().bBufferSedCorrection && BufferSedimentation().bMeniscusMismatch; });
  GetModelFitHooks().bufferComponentFitted = [] { return BufferSedimentation().BufferSed.fitSignal; };
}

// Edits the buffer mismatch settings and switches the model on or off.
void TXLAWindow::CmBufferSedimentation() {
  if (IsCsff0Model()) {
    PlayInfoSound();
    CommandMessageBox(*this, "c(s,ff0) model does not work in buffer mismatch mode", "ERROR",
                      MB_OK);
    return;
  }
  const bool wasOn = ModelFlags().bBufferSedCorrection;
  const bool wasFitted = BufferSedimentation().BufferSed.fitSignal;
  const bool hadMismatch = BufferSedimentation().bMeniscusMismatch;
  if (Unused(bufferSedParamsTransfer)) InitBufferSedParamsTransfer(bufferSedParamsTransfer);
  bModalBoxOpen = true;
  RunBufferSedDialog(&GetHandle(), bufferSedParamsTransfer);
  bModalBoxOpen = false;
  // A refused model stays off (the check has said why).
  if (ModelFlags().bBufferSedCorrection && !wasOn) CheckBufferSedimentationModel(&GetHandle());
  const bool switchedOn = ModelFlags().bBufferSedCorrection && !wasOn;
  if (BufferSedimentation().BufferSed.fitSignal != wasFitted || switchedOn) SetBufferComponentFitFlags();
  if (wasOn && !ModelFlags().bBufferSedCorrection) SwitchOffBufferSedimentation(&GetHandle());
  GetHandle().CheckMenuItem(kCmBufferSedimentation, ModelFlags().bBufferSedCorrection);
  if (ModelFlags().bBufferSedCorrection && BufferSedimentation().bMeniscusMismatch != hadMismatch)
    CmFullRange();
  else
    RepaintMain();
}

// Subtracts the current buffer mismatch from the measured data (for inspection) and
// switches the model off. A failed computation leaves the data and the model as
// they were and is shown.
void TXLAWindow::CmSubtractBufferMismatch() {
  if (DataSet().nScans < 1 || !ModelFlags().bBufferSedCorrection) return;
  CommandMessageBox(
      *this,
      "This operation subtracts the current estimate of the buffer mismatch from the "
      "raw data.\nThis is for presentation purpose and inspection after finalizing the "
      "analysis.\nIf the data are subject to further analysis a bias may be introduced "
      "from the current estimate of the buffer mismatch",
      "ATTENTION", MB_OK);
  const std::vector<std::vector<float>> measured = CopySignals();
  BufferSedimentation().bSubtractBufferMismatch = true;
  const SimOutcome outcome = CalculateBufferSedimentation(&GetHandle());
  BufferSedimentation().bSubtractBufferMismatch = false;
  if (!outcome.ok()) {
    RestoreSignals(measured);
    if (outcome.status != SimStatus::Interrupted) {
      PlayErrorSound();
      CommandMessageBox(*this, outcome.message, SimOutcomeCaption(outcome.status), MB_OK);
    }
    RepaintMain();
    return;
  }
  if (ModelFlags().bBufferSedCorrection) {  // the check may have refused the model
    ModelFlags().bBufferSedCorrection = false;
    SwitchOffBufferSedimentation(&GetHandle());
  }
  for (int s = 1; s <= DataSet().nScans; ++s) FillGridSignalRow(s);
  DataSet().bDataChanged = true;
  RedrawDataPlot(true);
  RedrawResidualPlot(true);
  RepaintMain();
}

}  // namespace tarmic
