// The commands around the saved fit parameters and the fit report, and the
// services the parameter persistence and the fit-result text ask of the window.
#pragma once

namespace tarmic {

// Installs the model switching and marker drawing of the parameter restore, the
// offer of the saved parameters after loading, and the fit-result text of Paint.
void InstallFitReportHooks();

}  // namespace tarmic
