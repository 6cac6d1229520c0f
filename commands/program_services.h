// Connects the libraries above the application shell to it at start-up: the main
// window's response table and the settings that the shell reads and writes for
// them (the solver's thread count). main() and the whole-window tests call it
// before the window is made.
#pragma once

namespace tarmic {

void InstallProgramServices();

}  // namespace tarmic
