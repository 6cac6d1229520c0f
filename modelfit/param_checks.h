// The checks that guard the model parameters entered in the Parameters dialog:
// the entry checks that keep the dialog open until every field holds a number of
// the right kind, and the grid checks of the continuous distributions that run
// after the dialog has closed and reopen it when the settings cannot work. (The
// consistency checks that repair values are part of the vector synchronisation,
// model_params.h.)
#pragma once

#include "platform/resource_types.h"

namespace tarmic {

// The entry checks of the parameter dialog on its transfer record, in this order
// (the first failure shows its message and gives false, which keeps the dialog
// open): with DLS data and a discrete-species model no species may float both its
// second value and s; the D of the invariant-D c(s) model (field 419) must be
// positive; every number field must hold a valid number, the positive ones a
// non-negative number ("Invalid Entry"). Fields that the variant does not show
// hold the text written before the dialog and pass.
bool ParamsBoxCanClose(const TransferBuffer& record);

// The grid checks of the continuous models on the packed vector, all run: a log
// spaced grid needs a positive lower and upper limit (it is switched off
// otherwise), and the c(s,ff0) models need ff0max > ff0min and at least two
// frictional-ratio values. False when any failed.
bool CheckGridSettings();

}  // namespace tarmic
