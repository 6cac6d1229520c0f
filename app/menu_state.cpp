// The check marks and greying of the menu items from the program's state.
#include "app/menu_state.h"

#include <algorithm>

#include "app/analysis_views.h"
#include "app/diagnostics_log.h"
#include "app/preferences.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "resources/command_ids.h"
#include "resources/menus.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "scandata/time_stamps.h"
#include "services/sounds.h"

#include <vector>

namespace tarmic {

namespace {

// The switches of the shell and of the libraries below it, each shown by a check mark.
struct CheckedSwitch {
  int id;
  const bool* flag;
};
std::vector<CheckedSwitch> Switches() {
  return {
    {kCmSuppressBaselineCorrelation, &bSuppressBaselineCorrelation},
    {kCmIntegrationRangesFromFile, &bIntegRangesFromFile},
    {kCmSound, &bPlaySounds},
    {kCmMultipleThreads, &bMultiThreading},
    {kCmWizardMessages, &bWizardMessages},
    {kCmFitSimplex, &bFitSimplex},
    {kCmFitAnnealing, &bFitAnnealing},
    {kCmFitMarquardt, &bFitMarquardt},
    {kCmAlwaysLoadG2, &bAlwaysLoadG2},
    {kCmCheckTimeStamps, &TimeStamps().bCheckTimeStamps},
    {kCmOldFilenameConvention, &AnalysisSwitches().bOldFilenameConvention},
    {kCmScanColorByTime, &DataPlots().bColorScansByTime},
    {kCmDiagnosticsToFiles, &bDiagnosticsToFiles},
    {kCmRealtimeUpdate, &bRealtimeUpdateMode},
    {kCmLoadEquilibriumData, &DataSet().bEquilibriumMode},
    {kCmShowData, &DataPlots().bShowData},
    {kCmShowResiduals, &DataPlots().bShowResiduals},
    {kCmShowResidualsBitmap, &DataPlots().bShowResidualsBitmap},
    {kCmBitmapBlackAndWhite, &ResidualBitmap().bBitmapBlackAndWhite},
    {kCmBitmapContinuousShading, &ResidualBitmap().bBitmapContinuousShading},
    {kCmDontLoadSpikes, &ScanFile().bSkipSpikes},
    {kCmSetNColumns, &ScanFile().bSetNColumns},
    {kCmFullCommandSet, &bFullCommandSet},
  };
}

void CollectCommands(const std::vector<MenuItem>& items, std::vector<int>& ids) {
  for (const MenuItem& item : items) {
    if (item.popup) {
      CollectCommands(item.children, ids);
    } else if (!item.separator && item.id != 0) {
      ids.push_back(item.id);
    }
  }
}

}  // namespace

MenuItemState MenuItemStateOf(int id) {
  MenuItemState state;
  for (const CheckedSwitch& s : Switches()) {
    if (s.id == id) {
      state.checked = *s.flag;
      return state;
    }
  }
  switch (id) {
    // One regularisation is checked: the second derivative before maximum entropy
    // before both.
    case kCmRegSecondDerivative:
      state.checked = bRegSecondDerivative;
      return state;
    case kCmRegMaxEnt:
      state.checked = !bRegSecondDerivative && bRegMaxEnt;
      return state;
    case kCmRegShowBoth:
      state.checked = !bRegSecondDerivative && !bRegMaxEnt && bRegShowBoth;
      return state;
    // Greyed while the loaded set holds other than intensity data.
    case kCmSaveIntensityAsAbsorbance:
      state.enabled = DataSet().nScans <= 0 || ScanFile().bIntensityData;
      return state;
    default:
      break;
  }
  if (GetShellHooks().menuItemState) return GetShellHooks().menuItemState(id);
  return state;
}

const std::vector<int>& MenuStateCommands() {
  static const std::vector<int> ids = [] {
    std::vector<int> all;
    CollectCommands(GetMenuResource(kMenuFull).items, all);
    CollectCommands(GetMenuResource(kMenuVirez).items, all);
    all.push_back(kCmFloTools);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
  }();
  return ids;
}

void ShowMenuState(TXLAWindow& window) {
  Window& w = window.GetHandle();
  for (int id : MenuStateCommands()) {
    const MenuItemState state = MenuItemStateOf(id);
    w.CheckMenuItem(id, state.checked);
    w.EnableMenuItem(id, state.enabled);
  }
}

}  // namespace tarmic
