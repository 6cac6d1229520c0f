// How well single parameters of a discrete-species fit are determined: the
// parameters under study are held at trial values while every other floated value
// is refitted (RefitRmsd), and the rmsd is compared with a critical value from F
// statistics (error intervals of s and of M or D of species 1) or mapped over a
// grid (contours of lg K, of s and M, of s1 and s2).
//
// Entries of pParams used (one-based): 1 = M (or D) of species 1, 3 = lg K of the
// self-association, nSpeciesSlots+1 = s of species 1 (s1 of the self-association),
// nSpeciesSlots+2 = s2. Units: s in S, M in g/mol, D in 1e-7 cm^2/s, rmsd in
// signal units.
//
// Every analysis restores the user's model afterwards: the values and fit switches
// of pParams (and through them the per-species values) and the floated extra
// values, also after an interruption or a failure; the model of the restored
// parameters is then computed again.
#pragma once

#include "numerics/analysis.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "modelcalc/fit_driver.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct ErrorAnalysisState {
  // Line of the next progress text of ShowContourPoint (1..15, cycling; 0 at start).
  int nContourLine = 0;
};
// The current analysis' ErrorAnalysisState.
inline ErrorAnalysisState& ErrorAnalysis() { return CurrentPart<ErrorAnalysisState>(); }

// Half-width of the rmsd band around the critical rmsd within which an interval
// search ends.
inline constexpr float kErrorRmsdBand = 1e-6f;
// Refits allowed for one bound of an interval.
inline constexpr int kMaxErrorRefits = 60;
// The bracket around a bound counts as located when the step has shrunk below this
// fraction of the step handed in (the refit noise then dominates the rmsd change).
inline constexpr float kErrorStepResolution = 1e-4f;
// Most grid points of a contour.
inline constexpr int kMaxContourPoints = 10000;

// Refits every floated value (extras and pParams) by repeated Nelder-Mead passes
// with the studied parameters unfloated; returns the rmsd of the refitted model.
// -1 when bFitInterrupted is set on entry (an earlier refit was interrupted; an
// interrupted refit sets it); 0 when the fit prerequisites are missing. With
// nothing floated the model is computed once.
// What the command is to show of the refit goes into report.
float RefitRmsd(Window* window, FitReport& report);

// The critical rmsd of an error interval: bestRmsd sqrt(N / (N - 1) F),
// F = CalculateCriticalF(P, N - 1, N), N = number of fit points. 0 when N < 2 or
// P is not inside (0, 1).
float CriticalRmsd(float bestRmsd, double confidence, long long points);
// The number of fit points over all scans is CountFitPoints (modelcalc/fit_rmsd.h).

enum class AnalysisEnd {
  Completed,     // bounds found / table written
  Interrupted,   // the user interrupted: no bounds (a scan stores -1 for the points left)
  NotReached,    // the rmsd did not reach the critical value within kMaxErrorRefits refits
  InvalidInput,  // refused before any refit (message in the result)
  NotStarted,    // the fit prerequisites are missing (their message was shown)
  FileError,     // the table or curve could not be written (message shown)
};

struct AnalysisResult {
  AnalysisEnd end = AnalysisEnd::Completed;
  std::string message;  // for InvalidInput and NotReached
  int refits = 0;
  FitReport fit;        // what the refits hand up (a simplex at its evaluation limit)
};

// The interval of s (pParams entry nSpeciesSlots+1) or of M or D (entry 1) of
// species 1 where the refitted rmsd stays below criticalRmsd. From the best fit
// the value walks by step (halving and reversing it each time the rmsd crosses the
// critical value) until a refit ends within kErrorRmsdBand of criticalRmsd or the
// step falls below kErrorStepResolution |step|; once up (step) and once down
// (-step). *low and *high are written only on Completed, with the values at which
// the last refit was made. Refused: a step of 0 or not finite, a criticalRmsd not
// above 0.
AnalysisResult CalculateErrorInS(Window* window, float step, float criticalRmsd, float* low,
                                 float* high);
AnalysisResult CalculateErrorInM(Window* window, float step, float criticalRmsd, float* low,
                                 float* high);

// The rmsd over lg K = lgKmin, lgKmin + increment, ... <= lgKmax (pParams entry 3;
// entry 8, log(Ka), for the reacting system A + B <-> AB)
// written as rows "\tlgK\trmsd" to fileName.
AnalysisResult CalculateKContour(Window* window, const std::string& fileName, float lgKmin,
                                 float lgKmax, float increment);

// The rmsd over a grid of x = s (or s1) and y = M or D (or s2). Level 0 visits the
// whole grid in serpentine order from (xstart, ystart) and writes every row
// "\tx\ty\trmsd". A level L > 0 walks along the contour rmsd = L instead
// (ContourWalk) and writes the closed curve ("%e %e" per line) of the crossings,
// interpolated linearly between consecutive walked points that enclose L, in the
// order of the walk (nothing is written when no pair does). Refused: increments not
// above 0 or not finite, empty ranges, a start outside the grid, more than
// kMaxContourPoints points.
AnalysisResult CalculateSMContour(Window* window, const std::string& fileName, float xmin,
                                  float xmax, float dx, float ymin, float ymax, float dy,
                                  float level, float xstart, float ystart);
AnalysisResult CalculateS1S2Contour(Window* window, const std::string& fileName, float xmin,
                                    float xmax, float dx, float ymin, float ymax, float dy,
                                    float level, float xstart, float ystart);

// The contour walk on the grid x = xstart + i dx in [xmin, xmax], y = ystart + j dy
// in [ymin, ymax]: from the start point it goes along a column until the rmsd
// crosses the level, turns, steps to the next column and walks back, so that each
// column is visited only near the two crossings; where a column no longer reaches
// below the level it returns to the last column with a crossing and walks the other
// side in the opposite x direction. It ends on the second such return (at the start
// column with finishAtStart), on leaving the grid in x, at (xmin, ymin), or when
// rows rows are used. secondPointAtStart: the second evaluation repeats the start
// point (otherwise it is one y step above it). evaluate(x, y, row) returns the rmsd;
// rows (1..rows) receive (x, y, rmsd), empty rows stay (0, 0, 0). Returns the
// number of evaluations.
struct ContourGrid {
  float xmin, xmax, dx, ymin, ymax, dy, level, xstart, ystart;
};
int ContourWalk(const ContourGrid& g, bool secondPointAtStart, bool finishAtStart, int rows,
                const std::function<float(float x, float y, int row)>& evaluate,
                std::vector<std::array<float, 3>>* table);

// Progress line "index: (x , y) rmsd" at column 350 px, line 10 + 20 k (k cycles
// 1..15).
void ShowContourPoint(Window* window, float x, float y, float rmsd, int index);

// Restores the values of this file to their defaults (tests).
void ResetErrorAnalysis();

}  // namespace tarmic
