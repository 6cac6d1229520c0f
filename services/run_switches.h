// Run switches shared by every long computation and the main window: the user
// interrupt, the key latch, and batch mode. They live in the
// lowest library so that solvers in worker threads and the window can both reach
// them; the interrupt flag is the one value written from several threads.
#pragma once

#include <atomic>

namespace tarmic {

// Set when the user asked to stop a computation (any key or mouse button during a
// run or fit); loops test it to unwind.
extern std::atomic<bool> bUserAbort;
// Set by the main window's key-down handler when nothing runs; reported once by
// CheckWindowKeyOrLatch.
extern std::atomic<bool> bKeyLatch;
// Suppresses questions while a series is fitted in batch.
extern bool bBatchMode;
// Set by interrupted runs, fits and time courses: the realtime update of files
// stops at its next tick.
extern bool bStopRealtimeUpdate;
// Set by interrupted fits: a running series asks whether to stop, then clears it.
extern bool bSeriesInterrupted;
// While bBatchMode is set, a failure that would show a box stores its code here
// (1..10; SeriesErrorMessage gives the text) and the computation goes on.
extern int nSeriesErrorCode;

void ResetRunSwitches();

}  // namespace tarmic
