// Connects the libraries above the application shell to it at start-up: the main
// window's response table, the settings that the shell reads and writes for them
// (the solver's thread count, the Lamm-equation settings file), the start values of
// the model parameters, and the operations that the shell, the scan data set and
// the distribution engine ask of each other through their hooks (the distribution
// pane and its tools, the noise buttons, the run after a reload, the run settings
// and the pane layout). main() and the whole-window tests call it before the window
// is made.
#pragma once

namespace tarmic {

void InstallProgramServices();

}  // namespace tarmic
