// The stop test at the fitting limit: a Lamm solution only has to run while its
// boundary still matters for the fitted range. A reference node just outside the
// fitting limits is chosen at the start; the run ends once the concentration
// there has fallen below a small fraction of its start value.
#include "lamm/lamm_ideal.h"

namespace tarmic {

void CLammIdeal::CLSetStopReference() {
  const int N = nGrid;
  if (dS >= 0) {
    // The first node beyond the larger fitting limit (N when there is none).
    for (int i = 1; i <= N; ++i) {
      nRefIndex = i;
      if (pRadius[i] > fRightLimit) break;
    }
  } else {
    // The last node at or inside the smaller limit.
    for (int i = 1; i <= N; ++i) {
      if (pRadius[i] > fLeftLimit) break;
      nRefIndex = i;
    }
  }
  fStopLevel = static_cast<float>(fTruncateLevelF * pConc[nRefIndex]);
  bStopCriterionMet = false;
}

int CLammIdeal::CLStopReferenceReached() {
  if (bInhomogeneousSolvent || bBandLoading) return 0;
  // The reference node and its neighbour inside the fitted range: both within the
  // level of zero (an undershoot next to an unresolved layer at the meniscus is no
  // empty range).
  if (FittedRangeLeftAt(pConc.data(), nGrid, nRefIndex, dS >= 0 ? -1 : 1, fStopLevel) ||
      iWindowLeft > nRefIndex) {
    bStopCriterionMet = true;
    return 1;
  }
  return 0;
}

}  // namespace tarmic
