// The start-up state of the model side as a whole, for the program's start and
// for tests that begin from a known state.
#pragma once

namespace tarmic {

// Clears the model flags, restores the model options and the Lamm settings to their
// defaults, and sets the species and the parameter vector to their start-up values
// (InitModelParams). The hooks stay installed.
void ResetModelFitState();

}  // namespace tarmic
