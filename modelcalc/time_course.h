// The time course of a dynamic-light-scattering intensity distribution I(Rh, t):
// the correlation functions are cut into time windows of fTimeCourseWindow minutes,
// the mean function of each window is analysed as record 1 (an inner run of the
// distribution analysis), and the distributions are collected in a table that the
// Run command writes as "radii.dat" (abscissae), "times.dat" (mid time of each
// window, s) and "sizes.dat" (one line per window) into a directory the user
// chooses after the course.
//
// Keys between windows: any key enters step mode, in which the program waits: space
// runs the next window, r leaves step mode, s stops the course. A key or click
// during an analysis stops it too. A stopped course writes only the windows done.
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <string>
#include <vector>

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct TimeCourseState {
  int nTimeCourseWindows = 0;  // windows of the last course
  bool bTimeCourseStepMode = false;  // waiting for a key after each window
  // Windows computed by the last course (rows of the written table).
  int nTimeCourseWindowsDone = 0;
};
// The current analysis' TimeCourseState.
inline TimeCourseState& TimeCourse() { return CurrentPart<TimeCourseState>(); }

// One analysis of the current window (record 1 holds its mean function); false
// when the course is to stop (bFitInterrupted, or the analysis gave no result).
bool RunTimeCourseStep(Window* window);

// The table of a course: the abscissae of the distributions (radii[1..n]), the mid
// time of each window done (times[1..done], s) and the distributions of the windows
// done (rows[w][1..n]); element 0 unused. Empty (done 0) when no window was done.
struct TimeCourseTable {
  std::vector<float> radii;
  std::vector<float> times;
  std::vector<std::vector<float>> rows;
  int done = 0;
  int windows = 0;       // windows of the course
  bool stopped = false;  // a key stopped the course before its last window
};
// The note of a course a key stopped (caption "ERROR"): the windows done and the
// window whose distribution is on show; before the first window, as a stopped Run's
// note (the result of before the course is shown again).
std::string TimeCourseStoppedText(const TimeCourseTable& course, bool earlierOnShow);

// The course on the loaded correlation functions; with exactly one function a
// single analysis. step replaces RunTimeCourseStep (tests). False without a
// window or when the grid cannot be built; true otherwise, also when stopped. The
// windows done are put into course for the command to write (nothing is asked).
// A course without a window done shows again what was on show before it.
bool RunContinuousModel(Window* window, TimeCourseTable& course,
                        const std::function<bool(Window*)>& step = {});

// Writes the course as radii.dat, times.dat and sizes.dat into the directory of
// chosenPath (a file path; its name is not used). Nothing when no window was done.
void WriteTimeCourse(const TimeCourseTable& course, const std::string& chosenPath);
// The three files WriteTimeCourse writes for chosenPath.
std::vector<std::string> TimeCourseFiles(const std::string& chosenPath);

// The windows of a course over the scans in time order (times t[1..n], s, element 0
// unused) for a window length of L minutes: the first and last record position of
// each window and its mid time. Window 1 starts at position 2 (record 1 carries
// the windows' means); a window ends before the first position at or past
// (w + 0.5) L 60 s.
struct TimeWindow {
  int first = 0, last = 0;
  double time = 0.0;
};
std::vector<TimeWindow> SplitTimeWindows(const std::vector<double>& t, float L);

}  // namespace tarmic
