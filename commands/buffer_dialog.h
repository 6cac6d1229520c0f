// The dialog "Buffer Mismatch" (templates 572 with s and D, 575 with s and the
// buoyant molar mass Mb under bFitMAndS): it shows the settings of the buffer
// mismatch model (buffer_sedimentation.h), checks the entries and applies them on
// OK. The main window owns the transfer record; the command "Corrections for
// &Buffer Sedimentation" runs the dialog and switches the model.
#pragma once

#include <string>

#include "platform/resource_types.h"

namespace tarmic {

class Window;

// Clears the record (every edit empty, every box off).
void InitBufferSedParamsTransfer(TransferBuffer& record);
// Writes the settings into the record as text: D and Mb and the signal "%.3f ", s
// and the meniscus difference "%.4f ", the relative concentration "%.3f "; the
// signal negative when the excess is on the reference side.
void FillBufferSedTransfer(TransferBuffer& record);
// Empty when every edit holds a number within the range of the parameter-file
// row that keeps its value, D, Mb and s of the buffer components not negative;
// otherwise the sentence naming the first field that does not (by its label) and
// its range.
std::string BufferSedFieldsRefusal(const TransferBuffer& record);
// The entry check: on a refusal (BufferSedFieldsRefusal) the asterisk beep and the
// sentence ("Input Error"); false keeps the dialog open.
bool BufferSedBoxCanClose(const TransferBuffer& record);
// Fills the record, runs the dialog until its entries pass or it is cancelled, and
// applies them on OK (returns true then). Cancel changes nothing.
bool RunBufferSedDialog(Window* window, TransferBuffer& record);

}  // namespace tarmic
