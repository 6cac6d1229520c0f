// The variant of the parameter dialog that the current model selects, and the
// meaning of its field 440: what the dialog and its checks both read.
#pragma once

namespace tarmic {

// Field 440 holds the signal per mg/ml (the non-ideal models, and monomer-dimer
// under M and s), else max dc/c.
bool Field440IsSignalPerConc();

// The variant of the parameter dialog for the current model (first match of the
// model flags in a fixed order); 0 when no model matches.
int SelectParamsTemplate();

}  // namespace tarmic
