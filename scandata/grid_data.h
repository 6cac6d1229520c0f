// The storage of the common radial grid (radial_grid.h builds it): the object that
// owns the grid and every table made on it, the names the code reads it by, and its
// release, which the data set calls before it frees the scans the grid may alias.
#pragma once

#include "numerics/analysis.h"

#include <vector>

namespace tarmic {

constexpr int kSpeciesSlots = 4;  // species slots 1..4 of the species signal tables

// The common grid and every table made on it, one object that owns them all: the
// grid, its rows, the averages, the noise profiles and the species signal tables.
// The program's grid is the one instance gCurrentGrid; the names below are
// references to its members, so that code reads and writes the grid by them. A
// command that builds a new grid while the loaded one must be kept until the new one
// is complete holds the old grid in a GridData of its own and exchanges the two with
// std::swap: every member, one added later as well, changes place with no list to
// keep. An empty GridData is the state FreeGridData leaves. The arrays stay where
// they are, so pointers into them (rows that alias the scans' own signal arrays, a
// radius array that is the first displayed scan's) stay valid through a swap.
struct GridData {
  int nGridPoints = 0;
  float* pGridRadius = nullptr;        // [1..nGridPoints], cm
  std::vector<float*> ppGridSignal;    // [1..nScans] rows of [1..nGridPoints]
  // 1 when pGridRadius and the rows of ppGridSignal are own copies; 0 when they are
  // the first displayed scan's radius array and the scans' own signal arrays. A tool
  // that changes scan signals calls FillGridSignalRow for each changed scan so that
  // copied rows follow; aliased rows follow by themselves.
  bool bGridCopies = false;
  int iFitFirst = 0;                // first grid index inside the fit limits
  int iFitLast = 0;                 // last grid index inside the fit limits
  // [1..nGridPoints]: 1 where every scan has measured points around the grid point,
  // 0 where some scan does not support it: inside a gap of its radii (a region
  // excluded, points the reader left out) or beyond its first or last radius. A
  // value there would be a straight line bridged by the resampling, never a
  // measurement. Empty when every grid point is measured (rows aliasing the scans).
  std::vector<unsigned char> gridPointMeasured;
  // [0..nGridPoints]: how many of grid points 1..g are measured, made with
  // gridPointMeasured by SetGridPointMask (the fit points are counted from it
  // without a scan of the grid); empty with it.
  std::vector<int> gridPointsMeasuredUpTo;
  float* pAverageScan = nullptr;    // [1..nGridPoints] mean over the scans
  float* pScanMeans = nullptr;      // [1..nScans] mean of each scan's grid data
  float fGridSignalTotal = 0.0f;    // nScans x sum of pAverageScan over the fit range
  float fGridPointTotal = 0.0f;     // nScans x number of grid points in the fit range
  float* pTINoise = nullptr;        // [1..nGridPoints] time-invariant noise
  float* pRemovedTINoise = nullptr; // [1..nGridPoints] TI noise already subtracted
  float* pRINoise = nullptr;        // [1..nScans] radial-invariant noise
  // Species signal tables of the four species slots (index 1..4), made for the slots
  // whose pSpeciesLinked flag is set: pppSpeciesSignal[k][scan][grid point],
  // ppSpeciesGridMean[k][grid point], ppSpeciesScanMean[k][scan].
  std::vector<float*> pppSpeciesSignal[kSpeciesSlots + 1];
  float* ppSpeciesGridMean[kSpeciesSlots + 1] = {};
  float* ppSpeciesScanMean[kSpeciesSlots + 1] = {};
  int nSpeciesArrayScans = 0;
  int nSpeciesArrayPoints = 0;
  // Number of scans for which the per-scan vectors (pScanMeans, pRINoise, the rows)
  // were made; their release uses it whatever count the caller passes.
  int nGridScans = 0;

  bool operator==(const GridData&) const = default;
  // The grid's own arrays, given back when the analysis ends (FreeGridData).
  void ReleaseAtAnalysisEnd();
};

// The current analysis' grid (numerics/analysis.h).
inline GridData& CurrentGrid() { return CurrentPart<GridData>(); }

// The grid points over which every least squares on the common grid runs: the fit
// range iFitFirst..iFitLast less the points some scan does not support
// (gridPointMeasured). A point that does not count enters no sum, no mean and no
// count of points: the result is that of the same data with those points absent.
// Every least-squares routine over the grid takes one (CurrentGridFitPoints), and
// reads the fit range only through it.
class GridFitPoints {
 public:
  int First() const { return first_; }
  int Last() const { return last_; }
  // The number of points that count (0 for an empty range).
  int Count() const { return count_; }
  bool Counts(int g) const { return g >= first_ && g <= last_ && (!measured_ || measured_[g] != 0); }
  // Whether every point of first..last counts (no gap inside the range).
  bool Whole() const { return count_ == (last_ >= first_ ? last_ - first_ + 1 : 0); }
  // Calls fn(g) for every point that counts, in increasing order. A range without
  // a gap takes a plain loop: nothing costs more where nothing is left out.
  template <class Fn>
  void ForEach(Fn fn) const {
    if (!measured_) {
      for (int g = first_; g <= last_; ++g) fn(g);
      return;
    }
    for (int g = first_; g <= last_; ++g)
      if (measured_[g] != 0) fn(g);
  }
  // Sum of row[g] over the points that count, in double.
  double Sum(const float* row) const {
    double sum = 0.0;
    ForEach([&](int g) { sum += row[g]; });
    return sum;
  }

 private:
  friend GridFitPoints CurrentGridFitPoints();
  int first_ = 1, last_ = 0, count_ = 0;
  const unsigned char* measured_ = nullptr;  // null: every point counts
};
// The fit points of the current grid (the fit range clamped to the grid).
GridFitPoints CurrentGridFitPoints();

// Frees the grid, the averages, the noise profiles and the species tables.
void FreeGridData(int scanCount);
// Frees the species signal tables.
void FreeSpeciesSignalArrays();
// Frees a one-based vector of n values made by the numerics' vector() and nulls it.
void FreeGridVector(float*& v, int n);

}  // namespace tarmic
