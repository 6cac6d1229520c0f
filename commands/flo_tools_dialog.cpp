// The dialog "FloTools": shown until its entries pass the check or it is cancelled.
#include "commands/flo_tools_dialog.h"

#include <string>

#include "modelcalc/fluorescence_detection.h"
#include "modelfit/transfer_fields.h"
#include "platform/backend.h"
#include "resources/dialogs.h"

namespace tarmic {

namespace {

int RunUntilValid(TransferBuffer& record) {
  if (!HasBackend()) return IDCANCEL;
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kFloToolsDialogId));
  for (;;) {
    const int result = GetBackend().RunDialog(dialog, record);
    if (result != IDOK) return result;
    const std::string refusal = FloToolsRefusal(record);
    if (refusal.empty()) return IDOK;
    GetBackend().Beep(kBeepAsterisk);
    GetBackend().MessageBox(refusal, "Input Error", MB_OK);
  }
}

}  // namespace

bool RunFloToolsDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen) {
  FillFloToolsTransfer(record);
  if (modalBoxOpen) *modalBoxOpen = true;
  const int result = RunUntilValid(record);
  if (modalBoxOpen) *modalBoxOpen = false;
  if (result != IDOK) return false;
  ApplyFloToolsRecord(window, record);
  return true;
}

}  // namespace tarmic
