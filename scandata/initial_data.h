// The initial-distribution profile: a scan file read as the concentration profile
// from which the Lamm-equation models start, and its extrapolation into the
// regions between meniscus and left fit limit and between right fit limit and
// bottom, where the measured profile is not trusted.
//
// The vectors are one-based: entry 0 is unused, entries 1..nInitPoints hold the
// points (radii in cm). The model computation reads them under its own names
// (modelcalc/model_computation.h).
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

#include "scandata/scan_info.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct InitialDataState {
  int nInitPoints = 0;  // 0: no initial profile
  std::vector<float> pInitRadius{};  // cm
  std::vector<float> pInitSignal{};  // as the model uses it (extrapolated ends)
  std::vector<float> pInitThird{};  // empty when the file has no third column
  ScanInfo ScanInfoTemplate{};  // the record read with the profile
  // The profile's elapsed time equals that of the first displayed scan.
  bool bInitSameTime = false;
  // Polynomial order of the extrapolation (default 1) and the distance factor of its
  // support range at the meniscus side (default 1.0).
  int nInitPolyOrder = 1;
  float fInitExtrapFactor = 1.0f;
};
// The current analysis' InitialDataState.
inline InitialDataState& InitialData() { return CurrentPart<InitialDataState>(); }
// The orders the polynom-order command accepts.
constexpr int kMaxInitPolyOrder = 5;

// Frees the profile: nInitPoints = 0.
void FreeInitialData();

// Takes n points of radius and signal (one-based arrays) as the profile, as read.
void SetInitialProfile(int n, const float* radius, const float* signal, const ScanInfo& record);

// "Set Initial Data": reads the scan file as the profile. 0 (message shown) when no
// scans are loaded ("please load data files first") or the file cannot be read
// ("LOAD ERROR"; no profile afterwards); 1 otherwise. A profile recorded at the
// first displayed scan's time makes that scan's fit equal to its data.
int LoadInitialData(Window* window, const std::string& path);

// Fills the points up to the left fit limit with the polynomial of order
// nInitPolyOrder through nInitPolyOrder + 1 support points (means of equal groups of
// the points from the left limit to left limit + (left limit - meniscus) x
// fInitExtrapFactor), never below baseline and never decreasing with radius. Only
// with bInitialDataProfile and fFitLeftLim > fMeniscus; unchanged when there are
// fewer points than support points.
void ExtrapolateInitialDataToMeniscus(float baseline);
// The mirror image at the bottom from the right fit limit on, with the support
// range 3 x (bottom - right limit) below the limit and no monotone condition.
void ExtrapolateInitialDataToBottom(float baseline);
// Both extrapolations, each time from the profile as read, so that moving the fit
// limits back and forth never loses measured points.
void ExtrapolateInitialData(float baseline);

// Defaults of every global above.
void ResetInitialData();

}  // namespace tarmic
