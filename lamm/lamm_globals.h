// Settings of the Lamm equation solver that live for the whole run of the program:
// the worker-thread count, the diagnostics switches and the special cell
// geometries. The preference file, the diagnostics command and the geometry model
// commands write them; the solver only reads them.
#pragma once

namespace tarmic {

// Number of worker threads of CLRunMTList (preference, 2). Counts below 1 are
// treated as 1.
extern int nLammThreads;

// "Diagnostics Output to Files": the first switch is copied into every new
// CLammIdeal as its per-equation log switch and gates the log lines of
// CLRunMTList; the second gates the per-thread logs of the worker threads.
extern bool bLammDebugLog;
extern bool bLammThreadDebugLog;
// Directory of the diagnostics logs, with a trailing '/' (the user's temporary
// directory when empty).
extern const char* szLammLogDirectory;

// Special cell geometries, set one at a time by the geometry model commands:
// planar cell ("linear Lamm Equation"), planar cell integrated numerically,
// external loading cell, electrophoresis in a planar cell. CLammIdeal refuses to
// solve while any of them is set.
extern bool bLinearGeometry;
extern bool bPlanarQuadrature;
extern bool bExternalLoadingCell;
extern bool bElectrophoresis;
// Oil volume of the external loading cell, ml (0.01).
extern float fLoadingCellOilVolume;

// Restores every value above to its default.
void ResetLammGlobals();

}  // namespace tarmic
