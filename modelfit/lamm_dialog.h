// The command "Lamm Equation Parameters" and its dialog "Numerical Control of
// Lamm Equation Solution" (template 631): it shows the Lamm settings
// (lamm_settings.h), reads them back after OK, keeps the radio pairs consistent,
// resizes or frees the shared simulation arrays when the grid size or the
// algorithm changed, and offers to save changed settings as the new defaults.
//
// The main window owns the transfer record; its command member handles help mode
// and calls RunLammParametersDialog.
#pragma once

#include <string>

#include "platform/resource_types.h"

namespace tarmic {

class Window;

// Clears the record (every edit empty, every box off); once, when the main window
// is built.
void InitLammParamsTransfer(TransferBuffer& record);
// Writes the settings into the record as text.
void FillLammParamsTransfer(TransferBuffer& record);
// The entry check of the dialog: each edit must hold a number within its row of
// the table of valid values (LammFieldsRefusal), else the asterisk beep and the
// sentence naming the field and its range ("Input Error"). False keeps the dialog
// open.
bool LammPBoxCanClose(const TransferBuffer& record);
// Empty when every edit of the record holds a number within the row of the Lamm
// settings entry it edits (the tolerance in percent) and the grid-size limits do
// not cross; otherwise the sentence of the first that does not.
std::string LammFieldsRefusal(const TransferBuffer& record);

// The command. Returns false when the dialog was cancelled before any setting
// changed. A switch from the moving hat to the static grid with a fixed time step
// clears the fixed step, says so and shows the dialog again; at the end, when any
// setting differs from before, asks whether to save them as defaults.
bool RunLammParametersDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen = nullptr);

}  // namespace tarmic
