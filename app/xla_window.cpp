// The main window: construction (preferences, disclaimer), set-up (menu check
// marks, outside plot programs, sounds, dropped files), the response-table lookup,
// help mode, the menu changes after a load and the switch between the two menus.
#include "app/xla_window.h"

#include "app/analysis_views.h"
#include "app/disclaimer.h"
#include "app/menu_state.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/preferences.h"
#include "app/printout.h"
#include "app/response_table.h"
#include "app/shell_hooks.h"
#include "services/sounds.h"
#include "plot/data_plots.h"
#include "resources/menus.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/time_stamps.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

TXLAWindow* gMainWindow = nullptr;

}  // namespace

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

TXLAWindow* GetMainWindow() { return gMainWindow; }

TXLAWindow::TXLAWindow(const char* title) : handle_(&GetBackend().MainWindow()) {
  gMainWindow = this;
  handle_->SetTitle(title ? title : "");

  // The dialogs' transfer buffers start empty; each dialog sets its defaults
  // when it is built.
  bHelpMode = false;
  bRightDragActive = false;
  pBandDC.reset();

  // The menu the user chose last time; "MENU_VIREZ" unless "tarmic.ini" says otherwise.
  bFullCommandSet = ReadFullCommandSetChoice();
  handle_->AttachMenu(GetMenuResource(bFullCommandSet ? kMenuFull : kMenuVirez));
  handle_->SetAccelerators(GetAcceleratorTable(kAcceleratorTableId));

  bPrinterCreated = false;
  for (FileDialogOptions* ofn : {&ofnLoad, &ofnSecond}) {
    ofn->title = "select files";
    ofn->filter = kScanFileFilter;
    ofn->directory.clear();
    ofn->defaultExt = "*";
    ofn->multiSelect = true;
  }
  // File and folder dialogs that name no folder of their own start in the data folder.
  SetDialogStartFolder([] { return DataSet().szDataDirectory; });
  // No box opens over a result whose claim has ended: it is painted away first.
  SetBeforeModal([] {
    if (TXLAWindow* window = GetMainWindow()) RepaintWhatAnEndedResultShowed(*window, true);
  });

  bRunInProgress = false;
  bFitInProgress = false;
  bModalBoxOpen = false;

  LoadPreferences(this);
  ReadLammEqParameterPreferences(this);

  if (!bDisclaimerAccepted) {
    TransferBuffer none;
    const int answer = GetBackend().RunDialog(DisclaimerDialog(), none);
    if (answer != kDisclaimerAgree) {
      // "don't agree": the Exit command ends the program before the window shows.
      if (!DispatchCommand(*this, kCmExit)) PostQuitMessage(0);
    } else {
      bDisclaimerAccepted = true;
      WritePreferences(this);
    }
  }

  pszDebugHeader.reset();
  pszDebugFileName.reset();
  bDebugFileStarted = false;
}

TXLAWindow::~TXLAWindow() {
  pPrinter.reset();
  bPrinterCreated = false;
  pszDebugHeader.reset();
  pszDebugFileName.reset();
  pBandDC.reset();
  if (gMainWindow == this) {
    gMainWindow = nullptr;
    SetDialogStartFolder({});
  }
}

void TXLAWindow::SetupWindow() {
  Window& w = GetHandle();
  ShowMenuState(*this);

  // What the data set asks of the plots and of the main window.
  InstallDataSetPlotHooks();
  DataSetHooks& hooks = GetDataSetHooks();
  hooks.writeDebugLog = [](Window*, const std::string& text) {
    if (TXLAWindow* main = GetMainWindow()) main->WriteDebugLog(text.c_str());
  };
  hooks.saveRawDataSet = [](Window*) {
    if (TXLAWindow* main = GetMainWindow()) DispatchCommand(*main, kCmSaveRawDataSet);
  };
  InstallFitPanePainters(*this);

  InitSounds();
  PlayHiSound();

  w.DragAcceptFiles(true);
}

const ResponseEntry* TXLAWindow::Find(unsigned message, int id) const {
  return FindResponseEntry(GetResponseTable(), message, id);
}

void TXLAWindow::EvEnterIdle(unsigned source, bool helpKeyDown) {
  if (source == MSGF_MENU && helpKeyDown) bHelpMode = true;
}

void TXLAWindow::EvTimer(unsigned timerId) {
  // The realtime update of files is the only user of timers.
  if (timerId != kRealtimeTimerId || !bRealtimeUpdateMode) return;
  // No update reloads the data under an open box or dialog, or inside a computation
  // (whose key polls pump the events): the next tick looks again.
  if (KeepsPicture()) return;
  if (GetShellHooks().realtimeTick) GetShellHooks().realtimeTick(*this);
}

void TXLAWindow::UpdateMenuForLoadedData() {
  if (DataSet().nScans <= 0) return;
  Window& w = GetHandle();
  ShowFloToolsItem();
  RepaintMain();
  w.EnableMenuItem(kCmAddMoreFiles, true);
  // The data mode the loaded set is analysed in: in the title and as the check
  // mark of the equilibrium loader.
  ShowDataModeInTitle(&w);
  ShowMenuState(*this);
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

void TXLAWindow::AttachCommandMenu() {
  GetHandle().AttachMenu(GetMenuResource(bFullCommandSet ? kMenuFull : kMenuVirez));
  bFloToolsInserted = false;
  ShowFloToolsItem();
  ShowMenuState(*this);
}

void TXLAWindow::InsertVIrezCopyMenuItems() {
  // Items 918-920 stand in both menus already.
}

void TXLAWindow::RemoveVIrezCopyMenuItems() {
  // Items 918-920 stay: the M* window's closing leaves the menu as it is.
}

void TXLAWindow::CmEmpty() {}

}  // namespace tarmic
