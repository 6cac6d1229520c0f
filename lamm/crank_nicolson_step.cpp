#include "lamm/crank_nicolson_step.h"

#include <cassert>

namespace tarmic {

TridagStatus CrankNicolsonStage(ConstTridiagonal implicitM, ConstTridiagonal explicitM,
                                const double* start, double* rhs, double* out, int N,
                                TridagFactors f) {
  TridiagProduct(explicitM, start, rhs, N);
  const TridagStatus status = TridagFactorSolve(implicitM, rhs, out, N, f);
  if (status != TridagStatus::Ok)
    for (int i = 1; i <= N; ++i) out[i] = start[i];
  return status;
}

TridagStatus CrankNicolsonStep(const CrankNicolsonSystem& sys, double dt, bool refactor,
                               const double* old, double* c) {
  assert(sys.n >= 2 && dt > 0);
  if (!refactor) {
    TridiagProduct(sys.explicitM, old, sys.rhs, sys.n);
    TridagReuseSolve(sys.implicitM.sub, sys.rhs, c, sys.n, sys.factors);
    return TridagStatus::Ok;
  }
  FormCrankNicolson(sys.mass, sys.transport, dt, sys.implicitM, sys.explicitM, 1, sys.n);
  return CrankNicolsonStage(sys.implicitM, sys.explicitM, old, sys.rhs, c, sys.n, sys.factors);
}

}  // namespace tarmic
