// Scan time stamps: the elapsed times that the instrument writes into the scan
// files are compared with the files' modification times. One dilation factor for
// the whole run is estimated; when it exceeds the threshold and the user agrees,
// corrected copies "tcorr_<name>" are written, the stored file list names them and
// the caller reloads. A second command sets every time afresh from the file times.
#pragma once

#include "services/answer_policy.h"

#include "numerics/analysis.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct TimeStampsState {
  // "check recorded elapsed time against file timestamp" (default on) and the
  // dilation factor above which a correction is offered (default 1.001).
  bool bCheckTimeStamps = true;
  double dTimeStampThreshold = 1.001;
};
// The current analysis' TimeStampsState.
inline TimeStampsState& TimeStamps() { return CurrentPart<TimeStampsState>(); }

// 1 when corrected copies were written and the stored list names them (the caller
// reloads), else 0.
// Its questions are asked of answers (the front end's policy, from the command).
int CheckTimeStamps(Window* window, const AnswerPolicy& answers);
// 1 when the first and the last displayed scan carry a time-stamp mark; *mixed is
// set when the first is marked and one between them is not.
int TimeStampMarks(bool* mixed);
// The dilation factor of the run (file-time span over recorded span), 1.0 when it
// cannot be worked out (*error set when a file could not be read or the report
// written); with showReport the "timestampanalysis" report is shown. The optional
// outputs receive new double vectors [1..nScans] of the recorded and the file-time
// differences to the first displayed scan; the caller frees them (free_dvector).
double TimeStampAnalysis(bool showReport, bool* error, double** recordedDiffs,
                         double** fileDiffs);
// "Restore Time and w^2t Entries": sets every scan's times and omega^2 t from the
// file modification times relative to a reference scan the user picks.
// Its questions are asked of answers.
void ResetTimesFromFileTimes(Window* window, const AnswerPolicy& answers);

void ResetTimeStampGlobals();

}  // namespace tarmic
