#include "scandata/grid_data.h"

#include <algorithm>
#include <cassert>

#include "numerics/one_based.h"

namespace tarmic {

void FreeGridVector(float*& v, int n) {
  if (v) free_vector(v, 1, std::max(n, 1));
  v = nullptr;
}

void FreeSpeciesSignalArrays() {
  for (int k = 1; k <= kSpeciesSlots; ++k) {
    for (float*& row : pppSpeciesSignal[k]) FreeGridVector(row, nSpeciesArrayPoints);
    pppSpeciesSignal[k].clear();
    FreeGridVector(ppSpeciesGridMean[k], nSpeciesArrayPoints);
    FreeGridVector(ppSpeciesScanMean[k], nSpeciesArrayScans);
  }
  nSpeciesArrayScans = 0;
  nSpeciesArrayPoints = 0;
}

void FreeGridData(int /*scanCount*/) {
  if (bGridCopies) {
    for (float*& row : ppGridSignal) FreeGridVector(row, nGridPoints);
    FreeGridVector(pGridRadius, nGridPoints);
  }
  FreeGridVector(pAverageScan, nGridPoints);
  FreeGridVector(pScanMeans, gCurrentGrid.nGridScans);
  FreeGridVector(pTINoise, nGridPoints);
  FreeGridVector(pRemovedTINoise, nGridPoints);
  FreeGridVector(pRINoise, gCurrentGrid.nGridScans);
  FreeSpeciesSignalArrays();
  // Every member back to its initial value, a member added later as well.
  gCurrentGrid = GridData{};
}

GridFitPoints CurrentGridFitPoints() {
  GridFitPoints points;
  points.first_ = std::max(iFitFirst, 1);
  points.last_ = std::min(iFitLast, nGridPoints);
  const int range = points.last_ >= points.first_ ? points.last_ - points.first_ + 1 : 0;
  points.count_ = range;
  const auto& measured = gCurrentGrid.gridPointMeasured;
  if (range == 0 || static_cast<int>(measured.size()) <= nGridPoints) return points;
  // Counted from the running totals SetGridPointMask keeps with the mask (no scan
  // of the grid).
  const auto& upTo = gCurrentGrid.gridPointsMeasuredUpTo;
  assert(upTo.size() == measured.size());
  const int count = upTo[static_cast<std::size_t>(points.last_)] - upTo[static_cast<std::size_t>(points.first_ - 1)];
  if (count != range) points.measured_ = measured.data();
  points.count_ = count;
  return points;
}

}  // namespace tarmic
