// The DLS tools of the main window: "load DLS Data" reads dlsdat files as the data
// set (as g(2) - 1 when the preference "always load intensity autocorrelation
// g(2)-1" is on, else as g(1)); "save mean DLS Data in tarmic format" writes the
// mean correlation function of the loaded set.
#include <optional>
#include <string>
#include <vector>

#include "app/paint.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "modelcalc/dls_data_set.h"
#include "numerics/error_box.h"
#include "numerics/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

constexpr const char* kDLSFilter = "DLS data (*.dlsdat)|*.dlsdat|All Files (*.*)|*.*";

}  // namespace

void TXLAWindow::CmLoadDLSData() {
  if (OfferHelpInHelpMode(*this)) return;
  if (bFileDialogOpen) return;
  FileDialogOptions options;
  options.title = "load DLS Data";
  options.filter = kDLSFilter;
  options.multiSelect = true;
  ReadLastDataDirectory(this, options.directory);
  bFileDialogOpen = true;
  const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
  bFileDialogOpen = false;
  if (files.empty()) return;
  SaveLastDataDirectory(this, files.front());
  LoadDLSData(&GetHandle(), MakeSelectionBuffer(files).c_str(), bAlwaysLoadG2);
  UpdateMenuForLoadedData();
}

void TXLAWindow::CmSaveMeanDLSData() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!bDLSData || nScans < 1) return;
  FileDialogOptions options;
  options.title = "save mean DLS Data as";
  options.filter = kDLSFilter;
  options.directory = szDataDirectory;
  options.defaultName = "average.dlsdat";
  options.defaultExt = "dlsdat";
  const bool previous = bModalBoxOpen;
  bModalBoxOpen = true;
  const std::optional<std::string> path = GetBackend().SaveFileDialog(options);
  bModalBoxOpen = previous;
  if (!path || path->empty()) return;
  std::string error;
  if (!SaveMeanDLSData(path->c_str(), &error))
    ShowError(Format("could not write %s\n%s", path->c_str(), error.c_str()), false);
  else
    PlayOkSound();
}

}  // namespace tarmic
