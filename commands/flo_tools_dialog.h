// The dialog "FloTools" (template 916) of the fluorescence commands: the
// corrections of fluorescence detection and the nonlinear-detection transform.
// The settings, the entry check and taking the values are the model computation's
// (modelcalc/fluorescence_detection.h); this file runs the dialog.
#pragma once

#include "platform/resource_types.h"

namespace tarmic {

class Window;

// Shows the dialog with the current settings until its entries are valid (a
// refused entry: beep and the sentence of FloToolsRefusal naming the field and
// its range, caption "Input Error") or it is
// cancelled; on OK the values are taken (ApplyFloToolsRecord). modalBoxOpen, when
// given, is set while the dialog is open. Returns false on Cancel (nothing changed).
bool RunFloToolsDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen = nullptr);

}  // namespace tarmic
