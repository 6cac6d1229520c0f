// Flux tables of the reacting-system solver: a diagnostic view of one coupled step.
//
// After the predictor and after every corrector pass the solver can print, in the
// progress window, the free concentrations, the reaction fluxes and their mismatch
// at 30 grid points (1..10, the ten after the middle, the last ten), the amounts of
// the columns and the totals of A and B, and then let the user step through the
// computation: in single-step mode each table waits for a key ('r' runs on, 's'
// stops the run after the current step, any other key shows the next table); when
// running on, a key press returns to single-step mode.
//
// The tables are shown only with the diagnostics switch on ("Diagnostics Output to
// Files", bLammDebugLog), a progress window set, and never in batch mode. While a
// table waits for a key nothing else runs: the wait reads key presses only and
// dispatches no command. Grids of fewer than 30 nodes show each node once.
#pragma once

#include "numerics/analysis.h"

#include <vector>

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct FluxTablesState {
  // Single-step mode: the next table waits for a key.
  bool bFluxTableStepping = false;
};
// The current analysis' FluxTablesState.
inline FluxTablesState& FluxTables() { return CurrentPart<FluxTablesState>(); }

// Whether the running solve shows its tables (read at the start of a solve).
bool FluxTablesEnabled();
// bFluxTableStepping = true (at the start of every solve).
void StartFluxTableStepping();
// The table after the predictor (free A and B are the predictor estimates);
// fluxMismatch is the solver's mean |FluxA - FluxB| shown beside the totals.
void ShowPredictorFluxTable(double fluxMismatch);
// The table after a corrector pass.
void ShowCorrectorFluxTable(double fluxMismatch);
// Amount of a profile in the cell: sum of w_i v_i times 1.2 cm optical path times
// pi/90 (a 2-degree sector), w_i = integral of r phi_i on the reacting grid.
double ReactingCellAmount(const double* v);
// The grid nodes a table shows for N nodes, ascending, each once, within 1..N.
std::vector<int> FluxTableRows(int N);

}  // namespace tarmic
