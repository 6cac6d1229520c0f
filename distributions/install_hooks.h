// The distribution engine's operations that the libraries below it call through
// their hooks: the model parameters (modelfit/modelfit_hooks.h) copy the
// continuous-model settings into the engine, read and write the engine's options
// around the Parameters dialog, and rebuild the c(s,ff0) plot.
#pragma once

namespace tarmic {

// Installs them; the program's start-up calls it once (tests may call it again).
void InstallDistributionHooks();

}  // namespace tarmic
