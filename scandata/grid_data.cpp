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
  auto& currentGridPart = CurrentGrid();
  for (int k = 1; k <= kSpeciesSlots; ++k) {
    for (float*& row : currentGridPart.pppSpeciesSignal[k]) FreeGridVector(row, currentGridPart.nSpeciesArrayPoints);
    currentGridPart.pppSpeciesSignal[k].clear();
    FreeGridVector(currentGridPart.ppSpeciesGridMean[k], currentGridPart.nSpeciesArrayPoints);
    FreeGridVector(currentGridPart.ppSpeciesScanMean[k], currentGridPart.nSpeciesArrayScans);
  }
  currentGridPart.nSpeciesArrayScans = 0;
  currentGridPart.nSpeciesArrayPoints = 0;
}

void GridData::ReleaseAtAnalysisEnd() { FreeGridData(nGridScans); }

void FreeGridData(int /*scanCount*/) {
  auto& currentGridPart = CurrentGrid();
  if (currentGridPart.bGridCopies) {
    for (float*& row : currentGridPart.ppGridSignal) FreeGridVector(row, currentGridPart.nGridPoints);
    FreeGridVector(currentGridPart.pGridRadius, currentGridPart.nGridPoints);
  }
  FreeGridVector(currentGridPart.pAverageScan, currentGridPart.nGridPoints);
  FreeGridVector(currentGridPart.pScanMeans, currentGridPart.nGridScans);
  FreeGridVector(currentGridPart.pTINoise, currentGridPart.nGridPoints);
  FreeGridVector(currentGridPart.pRemovedTINoise, currentGridPart.nGridPoints);
  FreeGridVector(currentGridPart.pRINoise, currentGridPart.nGridScans);
  FreeSpeciesSignalArrays();
  // Every member back to its initial value, a member added later as well.
  CurrentGrid() = GridData{};
}

GridFitPoints CurrentGridFitPoints() {
  auto& currentGridPart = CurrentGrid();
  GridFitPoints points;
  points.first_ = std::max(currentGridPart.iFitFirst, 1);
  points.last_ = std::min(currentGridPart.iFitLast, currentGridPart.nGridPoints);
  const int range = points.last_ >= points.first_ ? points.last_ - points.first_ + 1 : 0;
  points.count_ = range;
  const auto& measured = currentGridPart.gridPointMeasured;
  if (range == 0 || static_cast<int>(measured.size()) <= currentGridPart.nGridPoints) return points;
  // Counted from the running totals SetGridPointMask keeps with the mask (no scan
  // of the grid).
  const auto& upTo = currentGridPart.gridPointsMeasuredUpTo;
  assert(upTo.size() == measured.size());
  const int count = upTo[static_cast<std::size_t>(points.last_)] - upTo[static_cast<std::size_t>(points.first_ - 1)];
  if (count != range) points.measured_ = measured.data();
  points.count_ = count;
  return points;
}

}  // namespace tarmic
