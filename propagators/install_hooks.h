// The propagators' operations that the model parameters and the Lamm dialog
// (modelfit/modelfit_hooks.h) call through their hooks: whether the shared
// simulation arrays exist, freeing them, and resizing them to a new grid size.
#pragma once

namespace tarmic {

// Installs them; the program's start-up calls it once (tests may call it again).
void InstallPropagatorHooks();

}  // namespace tarmic
