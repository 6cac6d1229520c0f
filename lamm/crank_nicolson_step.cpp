#include "lamm/crank_nicolson_step.h"

#include <cassert>

namespace tarmic {

TridagStatus CrankNicolsonStep(const CrankNicolsonSystem& sys, double dt, bool refactor,
                               const double* old, double* c) {
  assert(sys.n >= 2 && dt > 0);
  if (!refactor) {
    TridiagProduct(sys.explicitM, old, sys.rhs, sys.n);
    TridagReuseSolve(sys.implicitM.sub, sys.rhs, c, sys.n, sys.factors);
    return TridagStatus::Ok;
  }
  FormCrankNicolson(sys.mass, sys.transport, dt, sys.implicitM, sys.explicitM, 1, sys.n);
  TridiagProduct(sys.explicitM, old, sys.rhs, sys.n);
  const TridagStatus status = TridagFactorSolve(sys.implicitM, sys.rhs, c, sys.n, sys.factors);
  if (status != TridagStatus::Ok) {
    for (int i = 1; i <= sys.n; ++i) c[i] = old[i];
  }
  return status;
}

}  // namespace tarmic
