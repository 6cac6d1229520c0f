// The common radial grid on which the least squares of every model run: the scans'
// data interpolated onto evenly spaced radii (or, when all scans share one radius
// array, the scans' own arrays), the averages over the fit range, the systematic
// noise profiles and the species signal tables of the linear amplitude fit.
#pragma once

#include <vector>

namespace tarmic {

// Grid spacing, cm (default 0.001); also the loaders' minimum point spacing when
// above 0.001.
extern float fRadialStep;
extern int nGridPoints;
extern float* pGridRadius;               // [1..nGridPoints], cm
extern std::vector<float*> ppGridSignal; // [1..nScans] rows of [1..nGridPoints]
// 1 when pGridRadius and the rows of ppGridSignal are own copies; 0 when they are
// the first displayed scan's radius array and the scans' own signal arrays. A tool
// that changes scan signals calls FillGridSignalRow for each changed scan so that
// copied rows follow; aliased rows follow by themselves.
extern bool bGridCopies;
extern int iFitFirst;        // first grid index inside the fit limits
extern int iFitLast;         // last grid index inside the fit limits
extern float* pAverageScan;  // [1..nGridPoints] mean over the scans
extern float* pScanMeans;    // [1..nScans] mean of each scan's grid data
extern float fGridSignalTotal;  // nScans x sum of pAverageScan over the fit range
extern float fGridPointTotal;   // nScans x number of grid points in the fit range
extern float* pTINoise;         // [1..nGridPoints] time-invariant noise
extern float* pRemovedTINoise;  // [1..nGridPoints] TI noise already subtracted
extern float* pRINoise;         // [1..nScans] radial-invariant noise

// Species signal tables of the four species slots (index 1..4), made for the slots
// whose pSpeciesLinked flag is set: pppSpeciesSignal[k][scan][grid point],
// ppSpeciesGridMean[k][grid point], ppSpeciesScanMean[k][scan].
constexpr int kSpeciesSlots = 4;
extern std::vector<float*> pppSpeciesSignal[kSpeciesSlots + 1];
extern float* ppSpeciesGridMean[kSpeciesSlots + 1];
extern float* ppSpeciesScanMean[kSpeciesSlots + 1];
extern int nSpeciesArrayScans;
extern int nSpeciesArrayPoints;

// The smallest grid spacing accepted (cm) and the largest grid.
constexpr float kMinRadialStep = 1.0e-5f;
constexpr int kMaxGridPoints = 200000;
// Whether step can serve as the grid spacing: positive and not below kMinRadialStep.
bool IsUsableRadialStep(float step);

// Whether an own grid from radius r0 to r1 can be built at fRadialStep (the step is
// usable and the grid stays within kMaxGridPoints); when not and report is set, the
// reason is shown in the error box.
bool RadialGridIsBuildable(float r0, float r1, bool report);

// Builds the grid from the loaded scans and sets the fit-limit indices. Refuses
// (message, no grid, false) when fRadialStep is not usable or the grid would exceed
// kMaxGridPoints; true otherwise (also with no scans loaded, when nothing is built).
bool BuildCommonRadialGrid();
// Frees the grid, the averages, the noise profiles and the species tables.
void FreeGridData(int scanCount);
// Recomputes scan s's row of ppGridSignal from its own data when the grid holds
// copies (interpolation; intensity data as their absorbance, intensity_scans.h); nothing
// when the row aliases the scan's signal.
void FillGridSignalRow(int s);

void AllocSpeciesSignalArrays();
void FreeSpeciesSignalArrays();

// The grid and every table above as one value: a command that builds a new set
// while the loaded one must be kept until the new one is complete exchanges them
// with SwapGridData (an empty GridData leaves the globals as FreeGridData does).
struct GridData {
  int points = 0;
  float* radius = nullptr;
  std::vector<float*> signal;
  bool copies = false;
  int fitFirst = 0;
  int fitLast = 0;
  float* averageScan = nullptr;
  float* scanMeans = nullptr;
  float signalTotal = 0.0f;
  float pointTotal = 0.0f;
  float* tiNoise = nullptr;
  float* removedTINoise = nullptr;
  float* riNoise = nullptr;
  std::vector<float*> speciesSignal[kSpeciesSlots + 1];
  float* speciesGridMean[kSpeciesSlots + 1] = {};
  float* speciesScanMean[kSpeciesSlots + 1] = {};
  int speciesScans = 0;
  int speciesPoints = 0;
  int scans = 0;  // scans the per-scan vectors were made for
};
// Exchanges the grid globals with held.
void SwapGridData(GridData& held);

}  // namespace tarmic
