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
    for (float*& row : CurrentGrid().pppSpeciesSignal[k]) FreeGridVector(row, CurrentGrid().nSpeciesArrayPoints);
    CurrentGrid().pppSpeciesSignal[k].clear();
    FreeGridVector(CurrentGrid().ppSpeciesGridMean[k], CurrentGrid().nSpeciesArrayPoints);
    FreeGridVector(CurrentGrid().ppSpeciesScanMean[k], CurrentGrid().nSpeciesArrayScans);
  }
  CurrentGrid().nSpeciesArrayScans = 0;
  CurrentGrid().nSpeciesArrayPoints = 0;
}

void FreeGridData(int /*scanCount*/) {
  if (CurrentGrid().bGridCopies) {
    for (float*& row : CurrentGrid().ppGridSignal) FreeGridVector(row, CurrentGrid().nGridPoints);
    FreeGridVector(CurrentGrid().pGridRadius, CurrentGrid().nGridPoints);
  }
  FreeGridVector(CurrentGrid().pAverageScan, CurrentGrid().nGridPoints);
  FreeGridVector(CurrentGrid().pScanMeans, CurrentGrid().nGridScans);
  FreeGridVector(CurrentGrid().pTINoise, CurrentGrid().nGridPoints);
  FreeGridVector(CurrentGrid().pRemovedTINoise, CurrentGrid().nGridPoints);
  FreeGridVector(CurrentGrid().pRINoise, CurrentGrid().nGridScans);
  FreeSpeciesSignalArrays();
  // Every member back to its initial value, a member added later as well.
  CurrentGrid() = GridData{};
}

GridFitPoints CurrentGridFitPoints() {
  GridFitPoints points;
  points.first_ = std::max(CurrentGrid().iFitFirst, 1);
  points.last_ = std::min(CurrentGrid().iFitLast, CurrentGrid().nGridPoints);
  const int range = points.last_ >= points.first_ ? points.last_ - points.first_ + 1 : 0;
  points.count_ = range;
  const auto& measured = CurrentGrid().gridPointMeasured;
  if (range == 0 || static_cast<int>(measured.size()) <= CurrentGrid().nGridPoints) return points;
  // Counted from the running totals SetGridPointMask keeps with the mask (no scan
  // of the grid).
  const auto& upTo = CurrentGrid().gridPointsMeasuredUpTo;
  assert(upTo.size() == measured.size());
  const int count = upTo[static_cast<std::size_t>(points.last_)] - upTo[static_cast<std::size_t>(points.first_ - 1)];
  if (count != range) points.measured_ = measured.data();
  points.count_ = count;
  return points;
}

}  // namespace tarmic
