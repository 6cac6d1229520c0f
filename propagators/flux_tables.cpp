#include "propagators/flux_tables.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "lamm/lamm_globals.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_run.h"

namespace tarmic {

namespace {

constexpr int kX = 10;
constexpr int kRowHeight = 15;
constexpr int kGroupGap = 10;
constexpr float kKeyWaitSlice = 0.05f;  // s between looks at the queue while waiting

const char* kCorrectorHeader =
    "#:    -     FreeA    -     OldA    -      FluxA     -     FreeB     -     OldB     -     "
    "FluxB    -      dFlux    -   Complex";
const char* kPredictorHeader =
    "#:    -     FreeATemp -     OldA    -      FluxA     -     FreeBTemp  -     OldB     -     "
    "FluxB    -      dFlux    -   Complex";

// After a table: in single-step mode wait for a key ('r' runs on, 's' stops the run
// after this step); when running on, a waiting key press returns to single-step mode.
// Only key presses are read; no command runs while the table waits.
void HandleFluxTableKeys() {
  auto& fluxTablesPart = FluxTables();
  auto& simRunPart = SimRun();
  Window* window = simRunPart.pSimWindow;
  if (!fluxTablesPart.bFluxTableStepping) {
    if (ReadWindowKeyChar(window) != -1) fluxTablesPart.bFluxTableStepping = true;
    return;
  }
  int key = -1;
  while ((key = ReadWindowKeyChar(window)) == -1) WaitForWindowKeyPress(window, kKeyWaitSlice);
  if (key == 'r' || key == 'R') {
    fluxTablesPart.bFluxTableStepping = false;
  } else if (key == 's' || key == 'S') {
    fluxTablesPart.bFluxTableStepping = false;
    simRunPart.bSimContinue = 0;
    bUserAbort = true;
  }
}

void ShowFluxTable(bool predictor, double fluxMismatch) {
  auto& simClockPart = SimClock();
  auto& lammArraysPart = LammArrays();
  auto& simRunPart = SimRun();
  const SimWorkArrays& arrays = SimWork();
  if (!FluxTablesEnabled()) return;
  const int N = lammArraysPart.nSimGridPointsAllocated;
  const double* freeA = predictor ? arrays.pFreeATemp : lammArraysPart.pFreeA;
  const double* freeB = predictor ? arrays.pFreeBTemp : lammArraysPart.pFreeB;
  std::unique_ptr<DC> dc = simRunPart.pSimWindow->ClientDC();
  if (dc) {
    char text[512];
    std::snprintf(text, sizeof text, "%.0f sec", simClockPart.dSimTime);
    dc->TextOut(kX, 50, text);
    dc->TextOut(kX, 70, predictor ? kPredictorHeader : kCorrectorHeader);
    int y = 85;
    int row = 0;
    for (int i : FluxTableRows(N)) {
      const char* format = i < 10    ? "__%d:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f "
                           : i < 100 ? "_%d:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f "
                                     : "%d:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f ";
      std::snprintf(text, sizeof text, format, i, freeA[i], arrays.pFreeAOld[i], arrays.pFluxA[i],
                    freeB[i], arrays.pFreeBOld[i], arrays.pFluxB[i],
                    arrays.pFluxA[i] - arrays.pFluxB[i], lammArraysPart.pComplex[i]);
      dc->TextOut(kX, y, text);
      ++row;
      y += kRowHeight + (row == 10 || row == 20 ? kGroupGap : 0);
    }
    y += 30 - kRowHeight;
    const double amountA = ReactingCellAmount(lammArraysPart.pFreeA), amountB = ReactingCellAmount(lammArraysPart.pFreeB);
    const double amountComplex = ReactingCellAmount(lammArraysPart.pComplex);
    std::snprintf(
        text, sizeof text, "sum:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f",
        amountA, ReactingCellAmount(arrays.pFreeAOld), ReactingCellAmount(arrays.pFluxA), amountB,
        ReactingCellAmount(arrays.pFreeBOld), ReactingCellAmount(arrays.pFluxB), amountComplex);
    dc->TextOut(kX, y, text);
    std::snprintf(text, sizeof text, "total A  = %3.6f    total B = %3.6f; assymfact = %e",
                  amountA + amountComplex, amountB + amountComplex, fluxMismatch);
    dc->TextOut(kX, y + kRowHeight, text);
    dc.reset();
    simRunPart.pSimWindow->Refresh();
  }
  HandleFluxTableKeys();
}

}  // namespace

bool FluxTablesEnabled() { return LammGlobals().bLammDebugLog && !bBatchMode && SimRun().pSimWindow != nullptr; }

void StartFluxTableStepping() { FluxTables().bFluxTableStepping = true; }

void ShowPredictorFluxTable(double fluxMismatch) { ShowFluxTable(true, fluxMismatch); }

void ShowCorrectorFluxTable(double fluxMismatch) { ShowFluxTable(false, fluxMismatch); }

double ReactingCellAmount(const double* v) {
  auto& lammArraysPart = LammArrays();
  const SimWorkArrays& arrays = SimWork();
  const int N = lammArraysPart.nSimGridPointsAllocated;
  if (!arrays.pReactNodeWeight || !v) return 0.0;
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) sum += arrays.pReactNodeWeight[i] * v[i];
  return sum * kSectorAmountFactor;
}

std::vector<int> FluxTableRows(int N) {
  std::vector<int> rows;
  const int mid = (N + 10) / 2;
  auto add = [&](int from, int to) {
    for (int i = std::max(1, from); i <= std::min(N, to); ++i) rows.push_back(i);
  };
  add(1, 10);
  add(mid + 1, mid + 10);
  add(N - 9, N);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

}  // namespace tarmic
