// The Parameters command: the one place where the user edits the values and fit
// switches of the current model. One dialog with one transfer record serves every
// model; the variant (resources/dialogs.h) is chosen by the model flags and only
// shows, hides and labels the controls 401-455. Before the dialog the model state
// is written into the record as text; after OK it is read back, model-specific
// follow-up questions are asked, and the result goes through the checks and into
// the parameter vector.
//
// The main window owns the record (it outlives the dialog and keeps the last text
// of every field); its Parameters command handles help mode and the equilibrium
// test view and then calls RunParametersDialog.
#pragma once

#include "modelfit/params_template.h"
#include "platform/resource_types.h"

namespace tarmic {

class Window;

// Controls of the parameter dialog that carry more than their generic meaning.
inline constexpr int kIdC1Nonideal = 450;       // "c1 nonideal" (templates 400 and 573)
inline constexpr int kIdSyntheticBoundary = 424;  // multiple-species non-ideal model

// The record's defaults, set once when the main window is built: in each species
// block included, amplitude floated, second value fixed, s floated, the edits
// empty; radio 429 off and 430 on; TI noise on; RI noise, baseline, meniscus and
// bottom off; Claverie (441) on; 442 and 444-454 off.
void InitParamsTransfer(TransferBuffer& record);

// Writes the current model state into the record as text (after the vector has been
// unpacked).
void FillParamsTransfer(TransferBuffer& record);

// Steps of the Parameters command after help mode and the equilibrium-test view:
// unpack, fill the record, run the dialog until its entries are valid, read the
// answers back, ask the model's follow-up questions, derive the linear fit
// switches, pack, allocate the species signal tables, check the grid of a
// continuous model (a failed check, or a failed scaling-law calibration, shows the
// dialog again with the corrected values), and show or remove the on-plot noise
// buttons. modalBoxOpen, when given, is set while the dialog runs. Returns true
// when the answers were applied, false on Cancel (then nothing changes: model,
// vector, record and DataSet().bDataChanged stay as they were).
bool RunParametersDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen = nullptr);

}  // namespace tarmic
