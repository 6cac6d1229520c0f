#include "propagators/inhomogeneous_solvent.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>

#include "lamm/crank_nicolson_step.h"
#include "lamm/fe_assembly.h"
#include "lamm/second_component.h"
#include "lamm/solvent_core.h"
#include "lamm/tridiagonal.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "numerics/solvent_constants.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"

namespace tarmic {

namespace {

// The settings of the running solve, read at its set-up.
struct SolventRun {
  InhomSolventSettings st;
  float vbar = 0.73f;          // VBAR, ml/g
  double compressionRpm = 0.0; // rotor speed of the first scan, rpm
  double cosoluteRpm = -1.0;   // rotor speed of the cosolute matrices, rpm
  // The cosolute's own steps.
  double dCosoluteDt = 0.0;            // last step, s
  double dCosoluteDtPrev = 0.0;        // the step before it, s
  double dCosoluteDtFactorised = 0.0;  // step of the kept factors, s
  bool bCosoluteRebuild = true;        // the kept factors are stale
};
// This module's own state in the analysis.
struct LocalState {
  SolventRun gSolvent{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

void TakeSnapshot(const SimSolvent& solvent) {
  auto& localPart = Local();
  localPart.gSolvent.st = solvent.st;
  localPart.gSolvent.vbar = solvent.vbar;
  localPart.gSolvent.compressionRpm = solvent.compressionRpm;
}

const double* OrNull(const std::vector<double>& v) { return v.empty() ? nullptr : v.data(); }
int Count(const std::vector<double>& v) { return v.empty() ? 0 : static_cast<int>(v.size()) - 1; }

CosoluteSeries Series(const InhomSolventSettings& st) {
  return {OrNull(st.densityCoef), Count(st.densityCoef), OrNull(st.viscosityCoef),
          Count(st.viscosityCoef)};
}

// Denominator of the buoyancy factor: the species in water at 20 C.
double BuoyancyReference(float vbar) { return 1 - vbar * fDensityWater20; }

// ---- views of the cosolute arrays (CosolventArray order) ----
struct CosoluteView {
  int N = 0;
  double *r, *c, *cOld, *cPred, *rhs, *s, *D;
  Tridiagonal M, A, L, R;
  TridagFactors f;
  double* diff[kElementPairs];
  double* sed[kElementPairs];
};
CosoluteView View() {
  auto& lammArraysPart = LammArrays();
  CosoluteView v;
  v.N = lammArraysPart.nCosolventPoints;
  auto a = [](int k) { return CosolventArray(k); };
  v.r = a(1);
  v.c = a(2);
  v.cOld = a(3);
  v.cPred = a(4);
  v.M = {a(5), a(6), a(7)};
  v.A = {a(8), a(9), a(10)};
  v.L = {a(11), a(12), a(13)};
  v.R = {a(14), a(15), a(16)};
  v.rhs = a(17);
  v.f = {a(18), a(19)};
  v.s = a(20);
  v.D = a(21);
  for (int p = 0; p < kElementPairs; ++p) {
    v.diff[p] = a(23 + p);
    v.sed[p] = a(23 + kElementPairs + p);
  }
  return v;
}

double W2(double rpm) {
  const double w = rpm * kTwoPiOver60;
  return w * w * 1e-13;
}

void CosoluteNodeValues(const CosoluteView& v, const double* c, bool average) {
  auto& cosolutePart = Cosolute();
  const InhomSolventSettings& st = Local().gSolvent.st;
  CosoluteCoefficients(c, v.N, st.csclCosolute, OrNull(cosolutePart.pCosoluteSCoef), Count(cosolutePart.pCosoluteSCoef),
                       OrNull(cosolutePart.pCosoluteDCoef), Count(cosolutePart.pCosoluteDCoef), average, v.s, v.D);
}

// Ideal cosolute: the closed-form M and A of constant s and D.
void BuildCosoluteMatrices(const CosoluteView& v, double rpm) {
  auto& localPart = Local();
  const double h = (v.r[v.N] - v.r[1]) / (v.N - 1);
  EquidistantLammMatrices(v.r, v.N, h, W2(rpm) * localPart.gSolvent.st.cosoluteS, localPart.gSolvent.st.cosoluteD, v.M,
                           v.A);
  localPart.gSolvent.cosoluteRpm = rpm;
  localPart.gSolvent.bCosoluteRebuild = true;
}

// Nonideal cosolute: mass and three-index integrals, then A from the node values.
void BuildCosoluteElementIntegrals(const CosoluteView& v, double rpm) {
  const double h = (v.r[v.N] - v.r[1]) / (v.N - 1);
  ThreeIndexElements(v.r, v.N, true, h, W2(rpm), v.M, v.diff, v.sed);
  Local().gSolvent.cosoluteRpm = rpm;
}
void AssembleCosoluteStiffness(const CosoluteView& v) {
  VariableCoefficientTransport(v.r, v.N, v.diff, v.sed, v.s, v.D, W2(Local().gSolvent.cosoluteRpm), false,
                               v.A);
}

// Crank-Nicolson step from cOld into out; false (out = cOld, run failed) on a
// vanished pivot.
bool CosoluteSolve(const CosoluteView& v, double dt, double* out) {
  auto& localPart = Local();
  localPart.gSolvent.dCosoluteDtFactorised = dt;
  const CrankNicolsonSystem sys{v.M, v.A, v.L, v.R, v.rhs, v.f, v.N};
  const TridagStatus status = CrankNicolsonStep(sys, dt, true, v.cOld, out);
  localPart.gSolvent.bCosoluteRebuild = status != TridagStatus::Ok;
  if (status == TridagStatus::Ok) return true;
  Cosolute().szCosoluteTridagMessage = TridagMessage(status);
  SimRun().bSimFailed = 1;
  return false;
}

void StepCosoluteIdeal(const CosoluteView& v, double dt) {
  auto& localPart = Local();
  auto& simRunPart = SimRun();
  if (simRunPart.dSimRpm != localPart.gSolvent.cosoluteRpm) BuildCosoluteMatrices(v, simRunPart.dSimRpm);
  if (dt == localPart.gSolvent.dCosoluteDtFactorised && !localPart.gSolvent.bCosoluteRebuild) {
    // Same step, same matrices: the kept factors.
    TridiagProduct(v.R, v.cOld, v.rhs, v.N);
    TridagReuseSolve(v.L.sub, v.rhs, v.c, v.N, v.f);
    return;
  }
  CosoluteSolve(v, dt, v.c);
}

// Predictor with the coefficients at the start of the step, corrector with the
// mean of those and the coefficients at the predicted profile.
void StepCosoluteNonideal(const CosoluteView& v, double dt) {
  auto& simRunPart = SimRun();
  CosoluteNodeValues(v, v.c, false);
  if (simRunPart.dSimRpm != Local().gSolvent.cosoluteRpm) BuildCosoluteElementIntegrals(v, simRunPart.dSimRpm);
  AssembleCosoluteStiffness(v);
  if (!CosoluteSolve(v, dt, v.cPred)) return;
  CosoluteNodeValues(v, v.cPred, true);
  AssembleCosoluteStiffness(v);
  CosoluteSolve(v, dt, v.c);
}

void SizeFactors(int n) {
  auto& cosolutePart = Cosolute();
  for (std::vector<double>* a : {&cosolutePart.SolventViscosityFactor, &cosolutePart.SolventBuoyancyFactor,
                                 &cosolutePart.pSolventWaterDensity, &cosolutePart.pCosoluteOnGrid})
    a->assign(n + 1, 0.0);
}

int FactorNodes(int n) {
  return std::min(n, static_cast<int>(Cosolute().SolventViscosityFactor.size()) - 1);
}

}  // namespace

// ---- cosolute ----

bool InitCosolute(const SimSolvent& solvent, const GridCell& cell, std::string* message) {
  auto& cosolutePart = Cosolute();
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  auto& simRunPart = SimRun();
  TakeSnapshot(solvent);
  const InhomSolventSettings& st = localPart.gSolvent.st;
  const int n = CosoluteGridSize(st);
  if (n < kMinCosoluteGridSize) {
    if (message) *message = "the cosolute grid needs at least 10 points";
    return false;
  }
  if (st.nonidealCosolute && !LoadNonidealCosoluteTables(message)) return false;
  lammArraysPart.nCosolventPoints = n;
  lammArraysPart.bCosolventExtraArrays = st.nonidealCosolute;
  if (!AllocCosolventArrays(cell)) {
    if (message) *message = "could not allocate the cosolute arrays";
    return false;
  }
  const CosoluteView v = View();
  for (int i = 1; i <= n; ++i) {
    // The loaded lamella of band loading carries no cosolute.
    const bool lamella = solvent.zoneCentrifugation && v.r[i] < v.r[1] + solvent.lamellaWidth;
    v.c[i] = v.cOld[i] = lamella ? 0.0 : st.cosoluteConc;
  }
  cosolutePart.szCosoluteTridagMessage = nullptr;
  if (st.nonidealCosolute) {
    CosoluteNodeValues(v, v.c, false);
    BuildCosoluteElementIntegrals(v, simRunPart.dSimRpm);
    AssembleCosoluteStiffness(v);
  } else {
    BuildCosoluteMatrices(v, simRunPart.dSimRpm);
  }
  cosolutePart.dCosoluteTime = localPart.gSolvent.dCosoluteDt = localPart.gSolvent.dCosoluteDtPrev = 0.0;
  localPart.gSolvent.dCosoluteDtFactorised = 0.0;
  localPart.gSolvent.bCosoluteRebuild = true;
  return true;
}

void AdvanceCosolute() {
  auto& cosolutePart = Cosolute();
  auto& localPart = Local();
  auto& simClockPart = SimClock();
  if (!LammArrays().bCosolventArrays) return;
  const CosoluteView v = View();
  localPart.gSolvent.dCosoluteDtPrev = localPart.gSolvent.dCosoluteDt;
  localPart.gSolvent.dCosoluteDt = simClockPart.dSimTime - cosolutePart.dCosoluteTime;
  std::copy(v.c + 1, v.c + v.N + 1, v.cOld + 1);
  if (localPart.gSolvent.dCosoluteDt > 0) {
    if (localPart.gSolvent.st.nonidealCosolute)
      StepCosoluteNonideal(v, localPart.gSolvent.dCosoluteDt);
    else
      StepCosoluteIdeal(v, localPart.gSolvent.dCosoluteDt);
  }
  cosolutePart.dCosoluteTime = simClockPart.dSimTime;
}

// ---- factors ----

void InitSolventFactors(const SimSolvent& solvent, const double* r, int n) {
  auto& cosolutePart = Cosolute();
  auto& localPart = Local();
  TakeSnapshot(solvent);
  const InhomSolventSettings& st = localPart.gSolvent.st;
  SizeFactors(n);
  const double ref = BuoyancyReference(localPart.gSolvent.vbar);
  const double m = r[1], rpm = localPart.gSolvent.compressionRpm;
  if (st.bCompressibleSolvent) {
    CompressedDensityProfile(cosolutePart.pSolventWaterDensity.data(), r, n, m, rpm, st.density1atm,
                             st.compressibility);
    for (int i = 1; i <= n; ++i) {
      cosolutePart.SolventViscosityFactor[i] = 1.0 / st.relViscosity;
      cosolutePart.SolventBuoyancyFactor[i] = (1 - localPart.gSolvent.vbar * cosolutePart.pSolventWaterDensity[i]) / ref;
    }
  } else if (st.bCosoluteDynamicGradient) {
    const bool water = st.compressibleWater;
    if (water)
      CompressedDensityProfile(cosolutePart.pSolventWaterDensity.data(), r, n, m, rpm, fDensityWater20,
                               st.compressibility);
    for (int i = 1; i <= n; ++i) {
      cosolutePart.pCosoluteOnGrid[i] = st.cosoluteConc;
      const double excess = water ? cosolutePart.pSolventWaterDensity[i] - fDensityWater20 : 0.0;
      CosoluteNodeFactors(Series(st), st.cosoluteConc, excess, st.vbarEffective, localPart.gSolvent.vbar,
                          &cosolutePart.SolventViscosityFactor[i], &cosolutePart.SolventBuoyancyFactor[i]);
    }
  } else {
    std::fill(cosolutePart.SolventViscosityFactor.begin(), cosolutePart.SolventViscosityFactor.end(), 1.0);
    std::fill(cosolutePart.SolventBuoyancyFactor.begin(), cosolutePart.SolventBuoyancyFactor.end(), 1.0);
  }
}

void UpdateDynamicSolventFactors(const double* r, int n) {
  auto& lammArraysPart = LammArrays();
  auto& cosolutePart = Cosolute();
  auto& localPart = Local();
  const InhomSolventSettings& st = localPart.gSolvent.st;
  if (!st.bCosoluteDynamicGradient || !lammArraysPart.bCosolventArrays || FactorNodes(n) < n) return;
  const CosoluteView v = View();
  InterpolateCurveDouble(n, r, cosolutePart.pCosoluteOnGrid.data(), v.N, v.r, v.c);
  for (int i = 1; i <= n; ++i) {
    const double excess = st.compressibleWater ? cosolutePart.pSolventWaterDensity[i] - fDensityWater20 : 0.0;
    CosoluteNodeFactors(Series(st), cosolutePart.pCosoluteOnGrid[i], excess, st.vbarEffective, localPart.gSolvent.vbar,
                        &cosolutePart.SolventViscosityFactor[i], &cosolutePart.SolventBuoyancyFactor[i]);
  }
}

double SolventFactorOfValue(const SimSolvent& solvent, double x) {
  const InhomSolventSettings& st = solvent.st;
  const double ref = BuoyancyReference(solvent.vbar);
  if (st.bCompressibleSolvent) return x / st.relViscosity * (1 - solvent.vbar * st.density1atm) / ref;
  if (st.bCosoluteDynamicGradient)
    return x / st.relViscosity * (1 - st.vbarEffective * st.density1atm) / ref;
  return x;
}

double CosoluteDensity(double c) {
  auto& solventSettingsPart = SolventSettings();
  return SeriesDensity(OrNull(solventSettingsPart.gInhomSolvent.densityCoef), Count(solventSettingsPart.gInhomSolvent.densityCoef), c);
}
double CosoluteViscosity(double c) {
  auto& solventSettingsPart = SolventSettings();
  return SeriesViscosity(OrNull(solventSettingsPart.gInhomSolvent.viscosityCoef), Count(solventSettingsPart.gInhomSolvent.viscosityCoef), c);
}

bool LoadNonidealCosoluteTables(std::string* message) {
  auto& cosolutePart = Cosolute();
  cosolutePart.pCosoluteSCoef.clear();
  cosolutePart.pCosoluteDCoef.clear();
  if (SolventSettings().gInhomSolvent.csclCosolute) return true;
  return ReadCosoluteCoefficientTables(&cosolutePart.pCosoluteSCoef, &cosolutePart.pCosoluteDCoef, message);
}

double EvalCoefficientPolynomial(const std::vector<double>& a, int n, double c) {
  return EvalPolynomial(OrNull(a), std::min(n, Count(a)), c);
}
double CsClSedimentationCoefficient(double c) { return Comp2SedCoefBuiltin(c); }
double CsClDiffusionCoefficient(double c) { return Comp2DiffCoefBuiltin(c); }

// ---- elements ----

double InhomDiffusionElement(int i, int j, const double* r, int n) {
  return static_cast<double>(
      VariableStiffnessElement(OrNull(Cosolute().SolventViscosityFactor), r, FactorNodes(n), i, j));
}
double InhomDiffusionEndTerm(const double* r, int n) {
  return EndDiffusionFactor(OrNull(Cosolute().SolventViscosityFactor), r, FactorNodes(n));
}
double InhomSedimentationFlux(const double* r, int n) {
  auto& cosolutePart = Cosolute();
  return EndSedimentationFactor(OrNull(cosolutePart.SolventViscosityFactor), OrNull(cosolutePart.SolventBuoyancyFactor), r,
                                FactorNodes(n));
}
double InhomSedimentationElement(int i, int j, const double* r, int n) {
  auto& cosolutePart = Cosolute();
  return static_cast<double>(VariableSedimentationElement(
      OrNull(cosolutePart.SolventViscosityFactor), OrNull(cosolutePart.SolventBuoyancyFactor), r, FactorNodes(n), i, j));
}

double PropagatorSolvent::Stiffness(const double* r, int N, int i, int j) const {
  return InhomDiffusionElement(i, j, r, N);
}
double PropagatorSolvent::Sedimentation(const double* r, int N, int i, int j) const {
  return InhomSedimentationElement(i, j, r, N);
}
double PropagatorSolvent::MeniscusDiffusionOutflow(const double* r, int /*N*/) const {
  return Cosolute().SolventViscosityFactor[1] * r[1] / (r[2] - r[1]);
}
double PropagatorSolvent::BottomDiffusionOutflow(const double* r, int N) const {
  return InhomDiffusionEndTerm(r, N);
}
double PropagatorSolvent::MeniscusSedimentationOutflow(const double* r, int /*N*/) const {
  auto& cosolutePart = Cosolute();
  return EndSedimentationFactor(OrNull(cosolutePart.SolventViscosityFactor), OrNull(cosolutePart.SolventBuoyancyFactor), r, 1);
}
double PropagatorSolvent::BottomSedimentationOutflow(const double* r, int N) const {
  return InhomSedimentationFlux(r, N);
}

void ResetInhomogeneousSolvent() {
  auto& localPart = Local();
  auto& cosolutePart = Cosolute();
  for (std::vector<double>* a : {&cosolutePart.SolventViscosityFactor, &cosolutePart.SolventBuoyancyFactor,
                                 &cosolutePart.pSolventWaterDensity, &cosolutePart.pCosoluteOnGrid, &cosolutePart.pCosoluteSCoef,
                                 &cosolutePart.pCosoluteDCoef})
    a->clear();
  localPart.gSolvent = SolventRun{};
  cosolutePart.dCosoluteTime = 0.0;
  cosolutePart.szCosoluteTridagMessage = nullptr;
}


}  // namespace tarmic
