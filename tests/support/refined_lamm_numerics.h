// The numerics of the refined solution the default numerics are measured against
// (the accuracy sweep in tests/lamm and bench/bench_lamm.cpp): an equidistant static
// grid for every species, independent of the grid shaping of the default numerics
// and fine enough for the pile-up at the bottom (80 points per sigma, 16 times the
// default), and a step tolerance ten times tighter than the default.
#pragma once

#include "lamm/lamm_setup_parts.h"

namespace tarmic::test {

inline LammDiscretizationSettings RefinedLammNumerics() {
  LammDiscretizationSettings fine;
  fine.bAutoVariant = false;
  fine.bUseClaverie = true;
  fine.bUseMovingHat = false;
  fine.bOptimizeGrid = false;
  fine.fPointsPerSigma = 80.0f;
  fine.nMaxGrid = 20000;
  fine.dTolerance = fine.dToleranceIn = 0.1;
  // The step control's lower bound and target at their shares of the tolerance
  // (a solution lays them from dToleranceIn again when it starts).
  fine.dTolerance005 = 0.05 * fine.dTolerance;
  fine.dTolerance02 = 0.2 * fine.dTolerance;
  return fine;
}

}  // namespace tarmic::test
