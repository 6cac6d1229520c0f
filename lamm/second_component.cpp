// The second Lamm solution of a CLammIdeal: a sedimenting cosolute on its own
// equidistant grid with its own clock, brought up to the main solution's time after
// every main step. Its profile sets the local density and viscosity of the solvent
// (inhomogeneous_solvent.cpp). Its s and D are constant, or depend on its own
// concentration (predictor-corrector steps as in conc_dependent.cpp).
#include "lamm/second_component.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "lamm/crank_nicolson_step.h"
#include "lamm/fe_assembly.h"
#include "lamm/lamm_ideal.h"

namespace tarmic {

namespace {


Tridiagonal Comp2Mass(CLammIdeal& o) {
  return {o.pComp2MassSub.data(), o.pComp2MassDiag.data(), o.pComp2MassSup.data()};
}
Tridiagonal Comp2Transport(CLammIdeal& o) {
  return {o.pComp2StiffSub.data(), o.pComp2StiffDiag.data(), o.pComp2StiffSup.data()};
}
Tridiagonal Comp2Implicit(CLammIdeal& o) {
  return {o.pComp2ImplSub.data(), o.pComp2ImplDiag.data(), o.pComp2ImplSup.data()};
}
Tridiagonal Comp2Explicit(CLammIdeal& o) {
  return {o.pComp2ExplSub.data(), o.pComp2ExplDiag.data(), o.pComp2ExplSup.data()};
}

double Comp2W2(const CLammIdeal& o) { return Omega2PerSvedberg(o.dRpmNow); }

// Closed-form M2 and A2 of constant s and D on the equidistant grid.
void Comp2ConstantMatrices(CLammIdeal& o) {
  const int N = o.nComp2Points;
  EquidistantLammMatrices(o.pComp2Radius.data(), N, (o.dBottom - o.dMeniscus) / (N - 1),
                           Comp2W2(o) * o.dComp2S, o.dComp2D, Comp2Mass(o), Comp2Transport(o));
}

void Comp2Elements(CLammIdeal& o) {
  double* diff[kElementPairs];
  double* sed[kElementPairs];
  for (int p = 0; p < kElementPairs; ++p) {
    diff[p] = o.pComp2DiffElem[p].data();
    sed[p] = o.pComp2SedElem[p].data();
  }
  o.dComp2Spacing = (o.dBottom - o.dMeniscus) / (o.nComp2Points - 1);
  ThreeIndexElements(o.pComp2Radius.data(), o.nComp2Points, true, o.dComp2Spacing, Comp2W2(o),
                     Comp2Mass(o), diff, sed);
}

void Comp2VariableTransport(CLammIdeal& o) {
  const double* diff[kElementPairs];
  const double* sed[kElementPairs];
  for (int p = 0; p < kElementPairs; ++p) {
    diff[p] = o.pComp2DiffElem[p].data();
    sed[p] = o.pComp2SedElem[p].data();
  }
  VariableCoefficientTransport(o.pComp2Radius.data(), o.nComp2Points, diff, sed,
                               o.pComp2CoefS.data(), o.pComp2CoefD.data(), Comp2W2(o), false,
                               Comp2Transport(o));
}

// Node coefficients at the profile c: replaced (trial) or averaged with the
// current values (corrector). With a polynomial missing they stay as they are.
void Comp2Coefficients(CLammIdeal& o, const double* c, bool average) {
  CosoluteCoefficients(c, o.nComp2Points, o.bComp2Builtin, o.pComp2SPoly.data(), o.nComp2SPoly,
                       o.pComp2DPoly.data(), o.nComp2DPoly, average, o.pComp2CoefS.data(),
                       o.pComp2CoefD.data());
}

// Forms both Crank-Nicolson matrices for dt and solves from the start profile into
// out, keeping the factors; a failed pivot leaves the start profile.
CrankNicolsonSystem Comp2System(CLammIdeal& o) {
  CrankNicolsonSystem sys;
  sys.mass = Comp2Mass(o);
  sys.transport = Comp2Transport(o);
  sys.implicitM = Comp2Implicit(o);
  sys.explicitM = Comp2Explicit(o);
  sys.rhs = o.pComp2Rhs.data();
  sys.factors = {o.pComp2Gam.data(), o.pComp2Bet.data()};
  sys.n = o.nComp2Points;
  return sys;
}

void Comp2FactorSolve(CLammIdeal& o, double dt, double* out) {
  o.bComp2Refactor = 0;
  o.dComp2DtFactorised = dt;
  const TridagStatus status =
      CrankNicolsonStep(Comp2System(o), dt, true, o.pComp2ConcOld.data(), out);
  if (status != TridagStatus::Ok) {
    o.ReportTridag(status);
    o.bComp2Refactor = 1;
  }
}

}  // namespace

double EvalPolynomial(const double* a, int n, double x) {
  if (!a || n < 1) return 0.0;
  double sum = 0.0, power = 1.0;
  for (int k = 1; k <= n; ++k) {
    sum += a[k] * power;
    power *= x;
  }
  return sum;
}

double Comp2SedCoefBuiltin(double c) {
  const double m = 168.4 * c;
  return 0.596 - 0.000322 * m - 0.0633 * std::exp(-0.00399 * m);
}

double Comp2DiffCoefBuiltin(double c) {
  const double x = std::max(c, 0.0);
  return (-0.614 * std::sqrt(x) - 0.0341 * x * x + 0.507 * x + (2.03 - 2.04) * std::exp(-18.1 * x) +
          2.04) *
         1e-5;
}

int CLammIdeal::CLAllocComp2Arrays() {
  const int N = nComp2Points;
  if (N < 3) return 0;
  try {
    for (std::vector<double>* v :
         {&pComp2Radius, &pComp2Conc, &pComp2ConcPred, &pComp2ConcOld, &pComp2Rhs, &pComp2ImplSub,
          &pComp2ImplDiag, &pComp2ImplSup, &pComp2ExplSub, &pComp2ExplDiag, &pComp2ExplSup,
          &pComp2StiffSub, &pComp2StiffDiag, &pComp2StiffSup, &pComp2MassSub, &pComp2MassDiag,
          &pComp2MassSup, &pComp2Gam, &pComp2Bet, &pComp2CoefS, &pComp2CoefD}) {
      v->assign(N + 1, 0.0);
    }
    for (int p = 0; p < 7; ++p) {
      pComp2DiffElem[p].assign(bComp2ConcDependent ? N + 1 : 0, 0.0);
      pComp2SedElem[p].assign(bComp2ConcDependent ? N + 1 : 0, 0.0);
    }
  } catch (const std::bad_alloc&) {
    bComp2Allocated = false;
    nComp2Allocated = 0;
    return 0;
  }
  // Equidistant radii from meniscus to bottom (single precision).
  for (int i = 1; i <= N; ++i)
    pComp2Radius[i] = static_cast<float>(dMeniscus + (i - 1) * (dBottom - dMeniscus) / (N - 1));
  bComp2Allocated = true;
  nComp2Allocated = N;
  return 1;
}

int CLammIdeal::CLInitComp2() {
  if (!CLAllocComp2Arrays()) return 0;
  const int N = nComp2Points;
  for (int i = 1; i <= N; ++i) {
    // The loaded lamella of band loading carries no cosolute.
    const bool lamella = bBandLoading && pComp2Radius[i] < pComp2Radius[1] + fLamellaWidth;
    pComp2Conc[i] = pComp2ConcOld[i] = lamella ? 0.0 : dComp2C0;
  }
  if (bComp2ConcDependent) {
    Comp2Coefficients(*this, pComp2Conc.data(), false);
    Comp2Elements(*this);
    Comp2VariableTransport(*this);
  } else {
    Comp2ConstantMatrices(*this);
  }
  bComp2Refactor = 1;
  dTimeComp2 = 0.0;
  dDtComp2Prev = 0.0;
  dDtComp2 = 0.0;
  return 1;
}

void CLammIdeal::CLStepComp2(double dt) {
  const bool accelerating = bRampRotor && bAccelerating;
  if (accelerating) {
    dRpmNow = RotorSpeedAtTime(dTimeComp2, dt);
    Comp2ConstantMatrices(*this);
  }
  if (dt == dComp2DtFactorised && !bComp2Refactor && !accelerating) {
    // Same step, same matrices: the kept factors.
    CrankNicolsonStep(Comp2System(*this), dt, false, pComp2ConcOld.data(), pComp2Conc.data());
  } else {
    Comp2FactorSolve(*this, dt, pComp2Conc.data());
    if (accelerating) bComp2Refactor = 1;
  }
}

void CLammIdeal::CLComp2PredictorStep(double dt) {
  dDtComp2Pred = dt;
  Comp2Coefficients(*this, pComp2Conc.data(), false);
  if (bRampRotor && bAccelerating) {
    dRpmNow = RotorSpeedAtTime(dTimeComp2, dt);
    Comp2Elements(*this);
  }
  Comp2VariableTransport(*this);
  Comp2FactorSolve(*this, dt, pComp2ConcPred.data());
}

void CLammIdeal::CLComp2CorrectorStep() {
  Comp2Coefficients(*this, pComp2ConcPred.data(), true);
  Comp2VariableTransport(*this);
  Comp2FactorSolve(*this, dDtComp2Pred, pComp2Conc.data());
}

void CLammIdeal::CLAdvanceComp2() {
  if (!bComp2Allocated) return;
  dDtComp2Prev = dDtComp2;
  dDtComp2 = dTime - dTimeComp2;
  pComp2ConcOld = pComp2Conc;
  if (dDtComp2 <= 0) return;
  if (bComp2ConcDependent) {
    CLComp2PredictorStep(dDtComp2);
    CLComp2CorrectorStep();
  } else {
    CLStepComp2(dDtComp2);
    if (bComp2EarlyCleanup && dTime < 10) {
      double* c = pComp2Conc.data();
      const double* r = pComp2Radius.data();
      for (int i = 2; i < nComp2Points; ++i) {
        if (c[i] < 1e-10) {
          c[i - 1] += 0.5 * c[i] * r[i] / r[i - 1];
          c[i + 1] += 0.5 * c[i] * r[i] / r[i + 1];
          c[i] = 0.0;
        }
      }
    }
  }
  dTimeComp2 = dTime;
}

void CosoluteCoefficients(const double* c, int N, bool builtin, const double* sPoly, int nS,
                          const double* dPoly, int nD, bool average, double* coefS, double* coefD) {
  if (!builtin && !(nS > 0 && nD > 0)) return;
  for (int i = 1; i <= N; ++i) {
    const double s = builtin ? Comp2SedCoefBuiltin(c[i]) : EvalPolynomial(sPoly, nS, c[i]);
    const double D = builtin ? Comp2DiffCoefBuiltin(c[i]) : EvalPolynomial(dPoly, nD, c[i]);
    coefS[i] = average ? (s + coefS[i]) / 2 : s;
    coefD[i] = average ? (D + coefD[i]) / 2 : D;
  }
}

}  // namespace tarmic
