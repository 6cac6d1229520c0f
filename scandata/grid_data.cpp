#include "scandata/grid_data.h"

#include <algorithm>

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

}  // namespace tarmic
