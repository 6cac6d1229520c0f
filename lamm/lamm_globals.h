// Settings of the Lamm equation solver that live for the whole run of the program:
// the worker-thread count, the diagnostics switches and the special cell
// geometries. The preference file, the diagnostics command and the geometry model
// commands write them; the solver only reads them.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct LammGlobalsState {
  // Number of worker threads of CLRunMTList (preference, 2). Counts below 1 are
  // treated as 1.
  int nLammThreads = 2;

  // "Diagnostics Output to Files": the first switch is copied into every new
  // CLammIdeal as its per-equation log switch and gates the log lines of
  // CLRunMTList; the second gates the per-thread logs of the worker threads.
  bool bLammDebugLog = false;
  bool bLammThreadDebugLog = false;
  // Directory of the diagnostics logs, with a trailing '/' (the user's temporary
  // directory when empty).
  const char* szLammLogDirectory = "";

  // Special cell geometries, set one at a time by the geometry model commands:
  // planar cell ("linear Lamm Equation"), planar cell integrated numerically,
  // external loading cell, electrophoresis in a planar cell. CLammIdeal refuses to
  // solve while any of them is set.
  bool bLinearGeometry = false;
  bool bPlanarQuadrature = false;
  bool bExternalLoadingCell = false;
  bool bElectrophoresis = false;
  // Oil volume of the external loading cell, ml (0.01).
  float fLoadingCellOilVolume = 0.01f;
};
// The current analysis' LammGlobalsState.
inline LammGlobalsState& LammGlobals() { return CurrentPart<LammGlobalsState>(); }

// Restores every value above to its default.
void ResetLammGlobals();

}  // namespace tarmic
