// The loading options of the main window: isolated spikes, the number of columns
// of the scan files and the radial resolution of the common grid.
#include <algorithm>
#include <string>

#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "platform/types.h"
#include "modelfit/model_options.h"
#include "services/answer_policy.h"
#include "services/sounds.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"
#include "resources/command_ids.h"
#include "services/computation_events.h"

namespace tarmic {


// Fits the final (steady-state) profile of a simulation to the last scan.
void TXLAWindow::CmFinalProfileToFit() {
  ModelOptions().bFinalProfileToFit = !ModelOptions().bFinalProfileToFit;
  GetHandle().CheckMenuItem(kCmFinalProfileToFit, ModelOptions().bFinalProfileToFit);
}

void TXLAWindow::CmDontLoadSpikes() {
  if (ScanFile().bSkipSpikes) {
    ScanFile().bSkipSpikes = false;
    GetHandle().CheckMenuItem(kCmDontLoadSpikes, false);
    return;
  }
  float value = 0.0f;
  if (AskFloat(*this, &value, ScanFile().fSpikeThresholdAbs, "level considered as spike when occuring isolated:",
               "EXCLUDE SPIKES", {"spike level", "", Closed(0.0, kMaxSignal)}))
    ScanFile().fSpikeThresholdAbs = value;
  if (AskFloat(*this, &value, ScanFile().fSpikeThresholdFDS, "spike threshold for FDS:", "EXCLUDE SPIKES",
               {"spike threshold for FDS", "", Closed(0.0, kMaxSignal)}))
    ScanFile().fSpikeThresholdFDS = value;
  ScanFile().bSkipSpikes = true;
  GetHandle().CheckMenuItem(kCmDontLoadSpikes, true);
}

void TXLAWindow::CmSetNColumns() {
  if (ScanFile().bSetNColumns) {
    ScanFile().bSetNColumns = false;
    GetHandle().CheckMenuItem(kCmSetNColumns, false);
    return;
  }
  float columns = 0.0f;
  if (!AskFloat(*this, &columns, static_cast<float>(ScanFile().nDataColumns),
                "enter number of columns in data file (r|A|?...)", "SET N COLUMNS",
                {"number of columns", "", Count(2.0, kMaxDataColumns)}))
    return;
  // A count outside 2..kMaxDataColumns is refused; the setting stays as it was.
  if (!(columns >= 2.0f && columns < static_cast<float>(kMaxDataColumns + 1))) {
    CommandMessageBox(*this,
                      "the number of columns must be between 2 and " +
                          std::to_string(kMaxDataColumns),
                      "SET N COLUMNS", MB_OK);
    return;
  }
  ScanFile().nDataColumns = TruncateToInt(columns);
  ScanFile().bSetNColumns = true;
  GetHandle().CheckMenuItem(kCmSetNColumns, true);
}

void TXLAWindow::CmSetRadialResolution() {
  float step = 0.0f;
  if (!AskFloat(*this, &step, RadialGrid().fRadialStep, "radial resolution (cm), at least 0.001:",
                "RADIAL RESOLUTION", kRadialResolution))
    return;
  // A step above the coarsest the loaders accept would be thrown away at the next
  // start (and makes no usable grid): refused, the step stays.
  if (!(step <= kCoarsestRadialStep)) {
    PlayErrorSound();
    CommandMessageBox(*this,
                      Format("the radial resolution must lie between %g and %g cm",
                             static_cast<double>(kFinestRadialStep),
                             static_cast<double>(kCoarsestRadialStep)),
                      "RADIAL RESOLUTION", MB_OK);
    return;
  }
  RadialGrid().fRadialStep = std::max(step, kFinestRadialStep);
  if (AskAs(QuestionId::SaveAsDefaultSetting, IDNO,
            [&] { return ConfirmChange(*this, "save as default setting?", "SET PREFERENCE"); }))
    WritePreferences(this);
  if (DataSet().nScans > 0 && ConfirmChange(*this, "reload data with the new resolution?", "RADIAL RESOLUTION")) {
    StoreFileList(0);
    LoadDataFromFileList(&GetHandle(), FrontEndAnswers());
    UpdateMenuForLoadedData();
  }
}

}  // namespace tarmic
