// The main window's assembly: construction (preferences, disclaimer), set-up (menu
// check marks, outside plot programs, sounds, dropped files, the painters of its
// panes), the response-table lookup, the timer, the menu changes after a load and
// the switch between the two menus. It calls into the modules that implement the
// window, so it lies above them all; nothing includes it.
#include "app/xla_window.h"

#include "app/analysis_views.h"
#include "app/disclaimer.h"
#include "app/global_eq_view.h"
#include "app/menu_state.h"
#include "app/paint.h"
#include "app/pane_painting.h"
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
  // A result that a dialog's opening painted away and that holds again when the
  // handler ends (the dialog cancelled) is painted back.
  afterHandler = RepaintAResultThatHoldsAgain;

  // What the data set asks of the plots and of the main window.
  InstallDataSetPlotHooks();
  DataSetHooks& hooks = GetDataSetHooks();
  hooks.writeDebugLog = [](Window*, const std::string& text) {
    if (TXLAWindow* main = GetMainWindow()) main->WriteDebugLog(text.c_str());
  };
  hooks.saveRawDataSet = [](Window*) {
    if (TXLAWindow* main = GetMainWindow()) DispatchCommand(*main, kCmSaveRawDataSet);
  };
  // Files come from the disk; a batch run serves its scans' bytes while it runs.
  hooks.wholeFileBytes = [](const std::string&) -> const std::string* { return nullptr; };
  InstallFitPanePainters(*this);

  InitSounds();
  PlayHiSound();

  w.DragAcceptFiles(true);
}

const ResponseEntry* TXLAWindow::Find(unsigned message, int id) const {
  return FindResponseEntry(GetResponseTable(), message, id);
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
  // The loaded scans take the panes back from a global analysis.
  bGlobalEqView = false;
  ShowFloToolsItem();
  RepaintMain();
  w.EnableMenuItem(kCmAddMoreFiles, true);
  // The data mode the loaded set is analysed in: in the title and as the check
  // mark of the equilibrium loader.
  ShowDataModeInTitle(&w);
  ShowMenuState(*this);
}

void TXLAWindow::AttachCommandMenu() {
  GetHandle().AttachMenu(GetMenuResource(bFullCommandSet ? kMenuFull : kMenuVirez));
  bFloToolsInserted = false;
  ShowFloToolsItem();
  ShowMenuState(*this);
}

}  // namespace tarmic
