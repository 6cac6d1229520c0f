// The main window's parts that need nothing of the modules it is assembled from:
// the file filter of the load dialogs, help mode, the "FloTools" item and the
// menu items that stand in both menus. Construction and set-up, which wire the
// window to those modules, are in window_setup.cpp.
#include "app/xla_window.h"

#include "resources/command_ids.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

const char* const kScanFileFilter =
    "All AUC Files (*.IP*;*.RA*;*.RI*;*.R0*;*.FI*;*.xp;*list*.*)|"
    "*.IP*;*.RA*;*.RI*;*.R0*;*.FI*;*.xp;*list*.*|"
    "Previously Loaded Lists (list*.*)|list*.*|"
    "QUENTAR Experiments (*.xp)|*.xp|"
    "cell 1 (*.*1)|*.*1|cell 2 (*.*2)|*.*2|cell 3 (*.*3)|*.*3|cell 4 (*.*4)|*.*4|"
    "cell 5 (*.*5)|*.*5|cell 6 (*.*6)|*.*6|cell 7 (*.*7)|*.*7|cell 8 (*.*8)|*.*8|"
    "Interference Files (*.IP*)|*.IP*|"
    "Absorbance Files (*.RA*)|*.RA*|"
    "Intensity Files (*.RI*)|*.RI*|"
    "Fluorescence Files (*.FI*)|*.FI*|"
    "All Files (*.*)|*.*";

void TXLAWindow::EvEnterIdle(unsigned source, bool helpKeyDown) {
  if (source == MSGF_MENU && helpKeyDown) bHelpMode = true;
}

void TXLAWindow::ShowFloToolsItem() {
  Window& w = GetHandle();
  if (DataSet().nScans > 0 && ScanFile().bFluorescenceData) {
    if (!bFloToolsInserted) {
      // "MENU_VIREZ" has no item 552: there the insertion fails and nothing changes.
      bFloToolsInserted = w.InsertMenuItemBefore(kCmBufferSedimentation, kCmFloTools, "FloTools");
    }
  } else if (bFloToolsInserted && w.DeleteMenuItem(kCmFloTools)) {
    bFloToolsInserted = false;
  }
}

void TXLAWindow::InsertVIrezCopyMenuItems() {
  // Items 918-920 stand in both menus already.
}

void TXLAWindow::RemoveVIrezCopyMenuItems() {
  // Items 918-920 stay: the M* window's closing leaves the menu as it is.
}

void TXLAWindow::CmEmpty() {}

}  // namespace tarmic
