// Commands that tell about the program and the loaded data rather than change
// them: "About" (the warranty disclaimer with the version, whose answer is stored
// again), "Keyboard Shortcuts" (the accelerator table as a readable list) and
// "Show Temperature Plot" (the temperature of every scan against its time).
#include <algorithm>
#include <string>
#include <vector>

#include "app/disclaimer.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "commands/unavailable_commands.h"
#include "platform/backend.h"
#include "plot/temperature_plot.h"
#include "resources/menus.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// A key combination as the user reads it: "Ctrl+L", "Alt+F", "Shift+Ctrl+X".
std::string KeyName(const Accelerator& accel) {
  std::string name;
  if (accel.mods & MK_SHIFT) name += "Shift+";
  if (accel.mods & MK_CONTROL) name += "Ctrl+";
  if (accel.mods & MK_ALT) name += "Alt+";
  name += static_cast<char>(accel.key);
  return name;
}

// One line per accelerator of table 303, the Ctrl keys first, each group in
// alphabetical order of the key: the key combination and the command it runs.
std::string KeyboardShortcutsText() {
  std::vector<Accelerator> keys = GetAcceleratorTable(kAcceleratorTableId).entries;
  std::stable_sort(keys.begin(), keys.end(), [](const Accelerator& a, const Accelerator& b) {
    const bool aCtrl = (a.mods & MK_CONTROL) != 0, bCtrl = (b.mods & MK_CONTROL) != 0;
    if (aCtrl != bCtrl) return aCtrl;
    return a.key < b.key;
  });
  std::string text;
  for (const Accelerator& accel : keys)
    text += FormatText("%-8s %s\n", KeyName(accel).c_str(), CommandDisplayName(accel.command).c_str());
  return text;
}

}  // namespace

// Shows the disclaimer dialog with the program's version. Agreeing stores the
// acceptance in the preference file; "don't agree" withdraws it, stores that (the next
// start asks again) and ends the program as a declined disclaimer at start does.
// Closing the box (Esc, the frame's close button) answers nothing: the agreement, the
// analysis and the program stay as they were.
void TXLAWindow::CmAbout() {
  TransferBuffer none;
  int answer = IDCANCEL;
  {
    const bool wasOpen = bModalBoxOpen;
    bModalBoxOpen = true;
    answer = GetBackend().RunDialog(DisclaimerDialog(), none);
    bModalBoxOpen = wasOpen;
  }
  if (answer != kDisclaimerAgree && answer != kDisclaimerDisagree) return;
  bDisclaimerAccepted = answer == kDisclaimerAgree;
  WritePreferences(this);
  if (!bDisclaimerAccepted) CmExit();
}

void TXLAWindow::CmKeyboardShortcuts() {
  CommandMessageBox(*this, KeyboardShortcutsText(), "Keyboard Shortcuts", MB_OK | MB_ICONINFORMATION);
}

// The plot covers the window at the next paint, once; a key or click brings the
// normal view back.
void TXLAWindow::CmShowTemperaturePlot() {
  if (!RequireLoadedData(*this)) return;
  BuildTemperaturePlot();
  RepaintMain();
}

}  // namespace tarmic
