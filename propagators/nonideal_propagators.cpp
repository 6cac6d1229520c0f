#include "propagators/nonideal_propagators.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "lamm/conc_dependent_core.h"
#include "lamm/element_integrals.h"
#include "lamm/fe_assembly.h"
#include "lamm/moving_hat_core.h"
#include "lamm/step_control.h"
#include "lamm/tridiagonal.h"
#include "numerics/hydrodynamics.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_input.h"

namespace tarmic {

namespace {

// A trial value below this is a negative concentration, not rounding.
constexpr double kNegativeTolerance = 1e-8;
// Profiles beyond this magnitude have run away.
constexpr double kProfileLimit = 1e100;

// w^2 1e-13 (1/s per S) at a rotor speed in rpm.
double Omega2(double rpm) {
  const double w = rpm * kTwoPiOver60;
  return w * w * 1e-13;
}

// The amount in the 2-degree sector: kSectorAmountFactor x scale x sum W_i c_i with
// W_i = integral of r phi_i on the grid r.
double SectorAmount(const double* r, int N, const double* c, double scale) {
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) sum += static_cast<double>(IntegrateNodeWeight(r, N, i, N)) * c[i];
  return kSectorAmountFactor * scale * sum;
}

SimOutcome Refused(SimStatus status, const char* message) {
  SimOutcome out;
  out.status = status;
  out.message = message;
  return out;
}

// Checks the arrays and the run values and takes the model's constants. False with
// the outcome when the run cannot start.
bool EnterRun(const SimRunSettings& settings, bool movingHat, const CoefficientConstants& given,
              CoefficientConstants* k, SimOutcome* refused) {
  const SimWorkArrays& arrays = SimWork();
  if (!LammArrays().bSimArraysAllocated || !arrays.pLocalS || !arrays.pLocalD || !arrays.pLammConcNew ||
      LammArrays().nSimGridPointsAllocated < kMinSimGridPoints || (movingHat && !LammArrays().pLammRadius2)) {
    *refused = Refused(SimStatus::NotAllocated, "the simulation arrays do not fit the model");
    return false;
  }
  const double m = settings.meniscus, b = settings.bottom;
  if (!(m > 0) || !(b > m) || !std::isfinite(b) || !std::isfinite(SimRun().dSimRpm) || SimRun().dSimRpm < 0 ||
      !std::isfinite(SimClock().dSimTime) || !(SimRun().dMaxRelChange > 0) || !std::isfinite(SimRun().dMaxRelChange)) {
    *refused = Refused(SimStatus::InvalidInput, "invalid cell or rotor values for the simulation");
    return false;
  }
  *k = given;
  if (!std::isfinite(k->s1) || !std::isfinite(k->d1) || !std::isfinite(k->ks) ||
      !std::isfinite(k->kd)) {
    *refused = Refused(SimStatus::InvalidInput, "invalid s, D or non-ideality of the species");
    return false;
  }
  return true;
}

// Whether the boundary of the model can leave the fitted range: every species
// moves in one direction (for the association table its three oligomers). Then the
// fit-range stop is set up for that direction.
std::optional<FitRangeStop> SetUpFitRangeStop(const SimRunSettings& settings,
                                              const CoefficientConstants& k) {
  if (k.AllSediment()) return FindFitLimitPoint(settings, 1.0);
  if (k.AllFloat()) return FindFitLimitPoint(settings, -1.0);
  return std::nullopt;
}

// The time loop shared by both propagators: one step, the progress, the fit-range
// stop (when fitStop; the boundary has left the fitted range, as the ideal
// propagators stop) and the steady-state test on the change per second of steps
// of at least 30 s. step() returns the change measure and sets dtUsed (0 when no
// step was taken). With leave, the loop also ends (as Progress, *left set) once
// leave() is true. A run whose steps stay at their floor ends failed with *floor set.
template <class Step>
SimStopReason TimeLoop(SimProgress& progress, double& dtUsed, Step step, const SimRunSettings& set,
                       const std::optional<FitRangeStop>& fitStop, SimStepFloor* floor,
                       SimProgress* leaveAfterLastScan = nullptr, bool* left = nullptr) {
  SteadyStateTest steady;
  TinyStepCount tiny;
  while (SimRun().bSimContinue) {
    if (leaveAfterLastScan && leaveAfterLastScan->PastLastScan()) {
      *left = true;
      return SimStopReason::Progress;
    }
    dtUsed = 0.0;
    const double change = step();
    if (dtUsed > 0 && tiny.AtFloor(dtUsed)) {
      *floor = SimStepFloor::TinySteps;
      SimRun().bSimDiverged = 1;
    }
    if (SimRun().bSimFailed || SimRun().bSimDiverged) return SimStopReason::Failed;
    SimRun().fSimChange = static_cast<float>(change);
    progress.Step(change);
    const double perSecond = dtUsed > 0 ? change / dtUsed : change;
    SimRun().fSimChange = static_cast<float>(perSecond);
    if (fitStop && !progress.PastLastScan() && FitRangeCleared(set, fitStop->s, *fitStop)) {
      SimRun().bSimContinue = 0;
      return SimStopReason::FitRange;
    }
    if (steady.Update(dtUsed, perSecond)) return SimStopReason::SteadyState;
  }
  return SimStopReason::Progress;
}

// Marks the step system singular or the profile run away.
void CheckStage(TridagStatus status, const double* c, int N) {
  auto& simRunPart = SimRun();
  if (status != TridagStatus::Ok) simRunPart.bSimFailed = 1;
  if (!ProfileFinite(c, 1, N, kProfileLimit)) simRunPart.bSimDiverged = 1;
}

bool RunStopped() { return SimRun().bSimFailed || SimRun().bSimDiverged; }

// ============================ static grid ============================

class StaticGridRun {
 public:
  StaticGridRun(const SimRunSettings& settings, const SimRotor& rotor, const CoefficientConstants& k)
      : set(settings), rotor(rotor), k(k), N(LammArrays().nSimGridPointsAllocated) {}

  SimOutcome Run(SimProgress& progress) {
    auto& lammArraysPart = LammArrays();
    auto& simRunPart = SimRun();
    simRunPart.fSimChange = 1.0f;
    simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
    nStepHalvings = 0;
    simRunPart.bHatGridInUse = false;  // the recorder must not move these radii
    simRunPart.iActiveFirst = 1;
    simRunPart.iActiveLast = N;
    for (int i = 1; i <= N; ++i) lammArraysPart.pLammRadius[i] = set.meniscus + (i - 1) * Spacing();
    std::copy(lammArraysPart.pLammConc + 1, lammArraysPart.pLammConc + N + 1, arrays.pLammConcOld + 1);
    dSimOmega2 = Omega2(simRunPart.dSimRpm);
    FormElements();
    // The amount every recorded profile is measured against (a closed cell).
    progress.TakeLoadedAmount(true, k.s1);
    if (set.fixTimestep) simRunPart.dSimDt = simRunPart.dMaxRelChange;
    simRunPart.dSimDtMax = 1000.0;
    simRunPart.bSteadyStateReached = false;
    const std::optional<FitRangeStop> fitStop = SetUpFitRangeStop(set, k);
    floor = SimStepFloor::None;
    const SimStopReason reason =
        TimeLoop(progress, dtUsed, [this] { return OneStep(); }, set, fitStop, &floor);
    return FinishSimRun(progress, reason, nullptr, floor);
  }

 private:
  double Spacing() const { return EquidistantStep(set.meniscus, set.bottom, N); }

  // Mass, diffusion and sedimentation elements of the equidistant grid at the
  // present speed (closed forms).
  void FormElements() {
    ThreeIndexElements(LammArrays().pLammRadius, N, true, Spacing(), dSimOmega2, SimMassMatrix(arrays),
                       arrays.pDiffElem, arrays.pSedElem);
  }

  // One Crank-Nicolson stage from pLammConcOld into out with the node coefficients
  // in pLocalS, pLocalD. (A solvent whose viscosity and density vary with radius
  // would add its factors to the transport here.)
  void Stage(double dt, double* out) {
    VariableCoefficientTransport(LammArrays().pLammRadius, N, arrays.pDiffElem, arrays.pSedElem, arrays.pLocalS,
                                 arrays.pLocalD, dSimOmega2, false, SimTransportMatrix(arrays));
    FormCrankNicolson(SimMassMatrix(arrays), SimTransportMatrix(arrays), dt, SimStepMatrix(arrays),
                      SimRhsMatrix(arrays), 1, N);
    CheckStage(CrankNicolsonStage(SimStepMatrix(arrays), SimRhsMatrix(arrays), arrays.pLammConcOld,
                                  arrays.pLammRhs, out, N, SimTridagFactors(arrays)),
               out, N);
  }

  void Predictor(double dt) {
    auto& simClockPart = SimClock();
    auto& simRunPart = SimRun();
    stageDt = dt;
    if (set.rampRotorSpeed && simRunPart.bAccelerating) {
      simRunPart.dSimRpm = RotorSpeedAtTime(rotor, simClockPart.dSimTime, dt, &simRunPart.bAccelerating);
      dSimOmega2 = Omega2(simRunPart.dSimRpm);
      FormElements();
    }
    PredictorCoefficients(k, arrays.pLammConcOld, N, simClockPart.dSimTime + dt / 2, arrays.pLocalS,
                          arrays.pLocalD);
    Stage(dt, arrays.pLammConcNew);
  }

  void Corrector() {
    CorrectorCoefficients(k, arrays.pLammConcOld, arrays.pLammConcNew, N, arrays.pLocalS,
                          arrays.pLocalD);
    Stage(stageDt, LammArrays().pLammConc);
  }

  // Relative change of the trial; a negative trial value halves the error limits
  // and answers twice the new limit, which forces a shorter step.
  double ChangeMeasure() {
    auto& simRunPart = SimRun();
    double change = 0.0;
    if (AccumulateRelativeChange(arrays.pLammConcNew, arrays.pLammConcOld, N, kNegativeTolerance,
                                 change))
      return change;
    simRunPart.dMaxRelChange /= 2;
    simRunPart.dMaxRelChangeLow /= 2;
    simRunPart.dMaxRelChangeTarget /= 2;
    ++nStepHalvings;
    return 2 * simRunPart.dMaxRelChange;
  }

  void Advance(double dt, bool lands, double landTime) {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    auto& simRunPart = SimRun();
    ++simRunPart.nSimIterations;
    simClockPart.dSimTime = lands ? landTime : simClockPart.dSimTime + dt;
    dtUsed = dt;
    if (simClockPart.dSimTime >= rotor.accelEndTime) {
      if (simRunPart.bAccelerating) {
        simRunPart.dSimRpm = RotorSpeedAtTime(rotor, simClockPart.dSimTime, dt, &simRunPart.bAccelerating);
        dSimOmega2 = Omega2(simRunPart.dSimRpm);
        FormElements();
      }
      simRunPart.bAccelerating = false;
    }
    if (simClockPart.bShowSimMass) simRunPart.dSimMass = SectorAmount(lammArraysPart.pLammRadius, N, lammArraysPart.pLammConc, 1.0);
  }

  double ClampAcceleration(double t, double dt, bool* cut) const {
    return ClampStepToRotor(rotor, t, dt, set.rampRotorSpeed, SimRun().bAccelerating, rotor.accelDtMax > 0 && !*cut, cut);
  }

  double OneStep() {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    auto& simRunPart = SimRun();
    const double t = simClockPart.dSimTime;
    std::copy(lammArraysPart.pLammConc + 1, lammArraysPart.pLammConc + N + 1, arrays.pLammConcOld + 1);
    double dt = set.fixTimestep ? simRunPart.dMaxRelChange : simRunPart.dSimDt;
    bool cut = false;
    dt = ClampAcceleration(t, dt, &cut);
    // A step that reaches the next scan ends exactly on it.
    const double landTime = simRunPart.dSimStopTime;
    const bool lands = LandStepOnStopTime(t, &dt);
    if (!(dt > 0)) {
      simRunPart.dSimDt = 1.0;
      return 1.0;
    }
    Predictor(dt);
    if (RunStopped()) return 1.0;
    if (lands && !firstStep) {
      Corrector();
      Advance(dt, true, landTime);
      return 1.0;
    }
    if (firstStep) {
      firstStep = false;
      Corrector();
      Advance(dt, lands, landTime);
      return dt;
    }
    double change = ChangeMeasure();
    if (set.fixTimestep) {
      Corrector();
      Advance(dt, false, 0.0);
      return change;
    }
    // A bottom value that moves against the sedimentation of every species is an
    // oscillation of a too long step.
    const bool against = (k.AllSediment() && arrays.pLammConcNew[N] < arrays.pLammConcOld[N]) ||
                         (k.AllFloat() && arrays.pLammConcNew[N] > arrays.pLammConcOld[N]);
    if (against && dt > 1) {
      dt /= 2;
      Predictor(dt);
      if (RunStopped()) return change;
      change = ChangeMeasure();
    }
    const StepControlSettings control{simRunPart.dMaxRelChangeTarget, simRunPart.dStepShrinkDivisor, simRunPart.dStepRelaxation,
                                      simRunPart.dSimDtMax};
    double dtPrev = dt;
    while (change > simRunPart.dMaxRelChange) {
      if (nStepHalvings > 10) {
        floor = SimStepFloor::Shrinks;
        simRunPart.bSimDiverged = 1;
        return change;
      }
      StepControlSettings shrink = control;
      shrink.changeTarget = simRunPart.dMaxRelChangeTarget;  // halved by a negative trial
      bool floored = false;
      dt = ShrinkStep(dt, change, shrink, &dtPrev, &floored);
      // Steps at the floor that still change too much count as halvings, so
      // that the run ends instead of retrying for ever.
      if (floored) ++nStepHalvings;
      dt = ClampAcceleration(t, dt, &cut);
      Predictor(dt);
      if (RunStopped()) return change;
      change = ChangeMeasure();
    }
    Corrector();
    if (RunStopped()) return change;
    Advance(dt, false, 0.0);
    StepControlSettings grow = control;
    grow.changeTarget = simRunPart.dMaxRelChangeTarget;
    dt = NextStepAfterAccept(dt, change, simRunPart.dMaxRelChangeLow, grow, &dtPrev);
    // After a step without change the tenfold step keeps to the largest step too.
    if (change == 0.0) dt = std::min(dt, simRunPart.dSimDtMax);
    if (simRunPart.bSimLandOnStop && simClockPart.dSimTime + dt > simRunPart.dSimStopTime) dt = simRunPart.dSimStopTime - simClockPart.dSimTime;
    bool cutNext = false;
    dt = ClampAcceleration(simClockPart.dSimTime, dt, &cutNext);
    simRunPart.dSimDt = dt;
    return change;
  }

  const SimRunSettings& set;
  const SimRotor rotor;
  const CoefficientConstants& k;
  const SimWorkArrays& arrays = SimWork();  // the work arrays of the allocation at entry
  const int N;
  double dSimOmega2 = 0.0;  // (rpm 2 pi / 60)^2 1e-13 of the matrices in use
  int nStepHalvings = 0;    // forced step reductions within one step
  SimStepFloor floor = SimStepFloor::None;  // the floor the step control met
  double stageDt = 0.0;
  double dtUsed = 0.0;
  bool firstStep = true;
};

// ============================ moving hat ============================

// Elements of the four rows that touch an end element (1, 2, N-1, N) for one
// position of the reference end points.
struct EndRows {
  double mass[4][3];
  double diff[4][kElementPairs];
  double sed[4][kElementPairs];
  double frame[4][3];
};

class MovingHatRun {
 public:
  const NonidealHatReport& Report() const { return report; }
  MovingHatRun(const SimRunSettings& settings, const SimRotor& rotor, const CoefficientConstants& k)
      : set(settings), rotor(rotor), k(k), N(LammArrays().nSimGridPointsAllocated), m(settings.meniscus), b(settings.bottom),
        rows{1, 2, N - 1, N}, junkL(N + 1), junkD(N + 1), junkU(N + 1) {}

  // The frame s*; false for a floating frame or a value that is not a number.
  bool ChooseFrame() {
    auto& lammArraysPart = LammArrays();
    double s = set.frameS;
    if (set.autoHatS) {
      if (k.model == CoefficientModel::CosoluteCoefficients)
        s = CsClSedimentationCoefficient(lammArraysPart.pLammConc[1]);  // the cosolute at the meniscus
      else if (k.model == CoefficientModel::NonidealSpecies || k.model == CoefficientModel::NonidealCs)
        s = k.s1 / (1 + k.ks * lammArraysPart.pLammConc[1]);
      else
        s = (k.s1 + k.s2) / 2;
    }
    sStar = s;
    return std::isfinite(s) && s >= 0;
  }

  SimOutcome Run(SimProgress& progress) {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    auto& simRunPart = SimRun();
    if (sStar < 1 && simRunPart.dMaxRelChange >= 1) simRunPart.dMaxRelChange = 0.1;
    simRunPart.fSimChange = 1.0f;
    simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
    nStepHalvings = 0;
    report.nHatShifts = 0;
    dSimOmega2 = Omega2(simRunPart.dSimRpm);
    // The frame moves with the species at the final speed; while the rotor
    // accelerates it runs ahead, which the grid tolerates.
    const double frameW2 = set.rampRotorSpeed && simRunPart.bAccelerating ? Omega2(rotor.finalRpm) : dSimOmega2;
    simClockPart.dFrameS = sStar;
    simClockPart.dFrameSedOmega2 = frameW2 * sStar;
    simClockPart.dHatT0 = simClockPart.dSimTime;
    T = simClockPart.dFrameSedOmega2 > 0 ? std::log(b / m) / ((N - 1) * simClockPart.dFrameSedOmega2) : 1e10;
    report.dHatInterval = T;
    BuildGrid();
    FormReferenceElements();
    // The amount every recorded profile is measured against (a closed cell).
    progress.TakeLoadedAmount(true, k.s1);
    report.dHatFixedDt = std::min(simClockPart.dFrameSedOmega2 > 0 ? simRunPart.dMaxRelChange * T : simRunPart.dMaxRelChange, T);
    std::copy(lammArraysPart.pLammConc + 1, lammArraysPart.pLammConc + N + 1, arrays.pLammConcOld + 1);
    simRunPart.dSimDt = report.dHatFixedDt;
    simRunPart.dSimDtMax = 1000.0;
    simRunPart.bSteadyStateReached = false;
    simRunPart.bHatGridInUse = true;
    bool left = false;
    SimStepFloor floor = SimStepFloor::None;
    const SimStopReason reason =
        TimeLoop(progress, dtUsed, [this] { return OneStep(); }, set, SetUpFitRangeStop(set, k),
                 &floor, &progress, &left);
    if (left) return HandOver(progress);
    return FinishSimRun(progress, reason, nullptr, floor);
  }

 private:
  // Geometric grid (node 2 half a ratio from the meniscus); the reference grid
  // starts equal to it.
  void BuildGrid() {
    auto& lammArraysPart = LammArrays();
    LayMovingHatGrid(lammArraysPart.pLammRadius2, N, m, b, false);
    std::copy(lammArraysPart.pLammRadius2 + 1, lammArraysPart.pLammRadius2 + N + 1, lammArraysPart.pLammRadius + 1);
    weights = MovingHatEndWeightsOf(lammArraysPart.pLammRadius2, N);
  }

  // The frame element F_ij = dFrameSedOmega2 x (-integral of r v phi_i phi_j') on
  // the reference grid, v the interpolant of r with the end nodes held at 0: the
  // convection of the profile relative to the moving nodes.
  void FrameRow(int i, double out[3]) const {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    for (int c = 0; c < 3; ++c)
      out[c] = simClockPart.dFrameSedOmega2 *
               static_cast<double>(IntegrateFrameMotionElementRef(lammArraysPart.pLammRadius2, N, i, i - 1 + c));
  }

  // Every row on the reference grid (ends at m and b); the end rows are formed
  // again for each step.
  void FormReferenceElements() {
    auto& lammArraysPart = LammArrays();
    ThreeIndexElements(lammArraysPart.pLammRadius2, N, false, 0.0, dSimOmega2, SimMassMatrix(arrays),
                       arrays.pDiffElem, arrays.pSedElem);
    for (int i = 1; i <= N; ++i) {
      double f[3];
      FrameRow(i, f);
      arrays.pHatMotionLower[i] = f[0];
      arrays.pHatMotionDiag[i] = f[1];
      arrays.pHatMotionUpper[i] = f[2];
    }
  }

  // Places the reference end points at m/e and b/e (e = 1 puts them back).
  void MoveEnds(double e) {
    auto& lammArraysPart = LammArrays();
    lammArraysPart.pLammRadius2[1] = m / e;
    lammArraysPart.pLammRadius2[N] = b / e;
  }

  // The end rows with the reference end points moved by e. In reference
  // coordinates r = r0 e the mass, sedimentation and frame elements carry e^2 and
  // the diffusion element does not; the whole system is divided by e^2.
  void FormEndRows(double e, EndRows& out) {
    auto& lammArraysPart = LammArrays();
    MoveEnds(e);
    for (int q = 0; q < 4; ++q) {
      GeneralElementRow(lammArraysPart.pLammRadius2, N, rows[q], dSimOmega2, out.mass[q], out.diff[q], out.sed[q]);
      FrameRow(rows[q], out.frame[q]);
    }
    MoveEnds(1.0);
  }

  void WriteEndRows(const EndRows& e) {
    for (int q = 0; q < 4; ++q) {
      const int i = rows[q];
      for (int p = 0; p < kElementPairs; ++p) {
        arrays.pDiffElem[p][i] = e.diff[q][p];
        arrays.pSedElem[p][i] = e.sed[q][p];
      }
      arrays.pHatMotionLower[i] = e.frame[q][0];
      arrays.pHatMotionDiag[i] = e.frame[q][1];
      arrays.pHatMotionUpper[i] = e.frame[q][2];
    }
  }

  // The transport A = S - F - G/E with S(i,j) = sum_k s_k Sed(i,j,k),
  // G(i,j) = sum_k D_k Dif(i,j,k), F the frame element and E = e^2; rows from..to
  // of the left matrix B = M - dt/2 A(E1) and, with right, of the right matrix
  // R = M + dt/2 A(E0). The parts S and G are formed once for both.
  void CombineRows(double dt, int from, int to, bool right) {
    const Tridiagonal S = SimTransportMatrix(arrays);
    const Tridiagonal G{junkL.data(), junkD.data(), junkU.data()};
    VariableCoefficientParts(N, arrays.pDiffElem, arrays.pSedElem, arrays.pLocalS, arrays.pLocalD,
                             S, G, from, to);
    const double h = dt / 2, g0 = 1 / E0, g1 = 1 / E1;
    for (int i = from; i <= to; ++i) {
      const double sl = S.sub[i] - arrays.pHatMotionLower[i],
                   sd = S.diag[i] - arrays.pHatMotionDiag[i],
                   su = S.sup[i] - arrays.pHatMotionUpper[i];
      arrays.pStepLower[i] = arrays.pMassLower[i] - h * (sl - g1 * G.sub[i]);
      arrays.pStepDiag[i] = arrays.pMassDiag[i] - h * (sd - g1 * G.diag[i]);
      arrays.pStepUpper[i] = arrays.pMassUpper[i] - h * (su - g1 * G.sup[i]);
      if (!right) continue;
      arrays.pRhsLower[i] = arrays.pMassLower[i] + h * (sl - g0 * G.sub[i]);
      arrays.pRhsDiag[i] = arrays.pMassDiag[i] + h * (sd - g0 * G.diag[i]);
      arrays.pRhsUpper[i] = arrays.pMassUpper[i] + h * (su - g0 * G.sup[i]);
    }
  }

  // Left matrix B = M - dt/2 A1 (pStep*) and right matrix R = M + dt/2 A0 (pRhs*)
  // for the step from tau0 to tau0 + dt, with the end-row elements of both times
  // in ends0/ends1; the end mass entries are the mean of the two.
  void StepMatrices(double dt) {
    for (int q = 0; q < 4; ++q) {
      const int i = rows[q];
      arrays.pMassLower[i] = (ends0.mass[q][0] + ends1.mass[q][0]) / 2;
      arrays.pMassDiag[i] = (ends0.mass[q][1] + ends1.mass[q][1]) / 2;
      arrays.pMassUpper[i] = (ends0.mass[q][2] + ends1.mass[q][2]) / 2;
    }
    // Every row with the end elements of the step's start; then the end rows of the
    // left matrix again with those of its end.
    WriteEndRows(ends0);
    CombineRows(dt, 1, N, true);
    WriteEndRows(ends1);
    CombineRows(dt, 1, 2, false);
    CombineRows(dt, N - 1, N, false);
  }

  void Stage(double dt, double* out) {
    StepMatrices(dt);
    CheckStage(CrankNicolsonStage(SimStepMatrix(arrays), SimRhsMatrix(arrays), arrays.pLammConcOld,
                                  arrays.pLammRhs, out, N, SimTridagFactors(arrays)),
               out, N);
  }

  // Past the last scan the run only has to reach its final profile, which the
  // moving grid never shows as settled (its nodes keep travelling through the
  // profile, so the steady-state test cannot pass): the static grid takes the
  // profile over, interpolated linearly from the real radii, and runs to its own
  // stop.
  SimOutcome HandOver(SimProgress& progress) {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    const double e = std::exp(simClockPart.dFrameSedOmega2 * (simClockPart.dSimTime - simClockPart.dHatT0));
    std::vector<double> r(lammArraysPart.pLammRadius2, lammArraysPart.pLammRadius2 + N + 1), c(lammArraysPart.pLammConc, lammArraysPart.pLammConc + N + 1);
    for (int i = 2; i < N; ++i) r[i] *= e;
    const double h = EquidistantStep(m, b, N);
    int j = 1;
    for (int i = 1; i <= N; ++i) {
      const double x = m + (i - 1) * h;
      while (j < N - 1 && r[j + 1] < x) ++j;
      lammArraysPart.pLammConc[i] = c[j] + (c[j + 1] - c[j]) * (x - r[j]) / (r[j + 1] - r[j]);
    }
    StaticGridRun run(set, rotor, k);
    return run.Run(progress);
  }

  // Hands the profile one node outward once the nodes have travelled one
  // interval (the end values keep the amount of the end elements), and lays the
  // reference grid again.
  void ShiftGrid() {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    MovingHatGrid g;
    g.el.r = lammArraysPart.pLammRadius2;
    g.el.N = N;
    g.el.frameSw2 = simClockPart.dFrameSedOmega2;
    g.meniscus = m;
    g.bottom = b;
    HandOverMovingHat(g, weights, simClockPart.dSimTime - simClockPart.dHatT0, k.s1, k.d1, lammArraysPart.pLammConc, arrays.pLammConcOld);
    simClockPart.dHatT0 = simClockPart.dSimTime;
    ++report.nHatShifts;
  }

  double OneStep() {
    auto& lammArraysPart = LammArrays();
    auto& simClockPart = SimClock();
    auto& simRunPart = SimRun();
    double dt = firstStep ? 1.0 : report.dHatFixedDt;
    if (std::fabs(simClockPart.dSimTime - simClockPart.dHatT0 - T) < 1e-10 * std::max(1.0, simClockPart.dSimTime)) ShiftGrid();
    const double t = simClockPart.dSimTime;
    // A step never crosses the next grid shift.
    if (t + dt > simClockPart.dHatT0 + T) dt = simClockPart.dHatT0 + T - t;
    std::copy(lammArraysPart.pLammConc + 1, lammArraysPart.pLammConc + N + 1, arrays.pLammConcOld + 1);
    bool cut = false;
    dt = ClampStepToRotor(rotor, t, dt, set.rampRotorSpeed, simRunPart.bAccelerating, true, &cut);
    const double landTime = simRunPart.dSimStopTime;
    const bool lands = LandStepOnStopTime(t, &dt);
    if (!(dt > 0)) return 1.0;
    // Predictor.
    if (set.rampRotorSpeed && simRunPart.bAccelerating) {
      simRunPart.dSimRpm = RotorSpeedAtTime(rotor, t, dt, &simRunPart.bAccelerating);
      dSimOmega2 = Omega2(simRunPart.dSimRpm);
      FormReferenceElements();
    }
    const double tau0 = t - simClockPart.dHatT0, tau1 = tau0 + dt;
    const double e0 = std::exp(simClockPart.dFrameSedOmega2 * tau0), e1 = std::exp(simClockPart.dFrameSedOmega2 * tau1);
    E0 = e0 * e0;
    E1 = e1 * e1;
    FormEndRows(e0, ends0);
    FormEndRows(e1, ends1);
    PredictorCoefficients(k, arrays.pLammConcOld, N, t + dt / 2, arrays.pLocalS, arrays.pLocalD);
    Stage(dt, arrays.pLammConcNew);
    if (RunStopped()) return 1.0;
    // Corrector.
    CorrectorCoefficients(k, arrays.pLammConcOld, arrays.pLammConcNew, N, arrays.pLocalS,
                          arrays.pLocalD);
    Stage(dt, lammArraysPart.pLammConc);
    if (RunStopped()) return 1.0;
    // Advance.
    ++simRunPart.nSimIterations;
    simClockPart.dSimTime = lands ? landTime : t + dt;
    dtUsed = dt;
    simRunPart.dSimDt = dt;
    if (simClockPart.dSimTime >= rotor.accelEndTime && simRunPart.bAccelerating) {
      simRunPart.dSimRpm = RotorSpeedAtTime(rotor, simClockPart.dSimTime, dt, &simRunPart.bAccelerating);
      dSimOmega2 = Omega2(simRunPart.dSimRpm);
      FormReferenceElements();
      simRunPart.bAccelerating = false;
    }
    if (simClockPart.bShowSimMass) {
      const double e = std::exp(simClockPart.dFrameSedOmega2 * (simClockPart.dSimTime - simClockPart.dHatT0));
      MoveEnds(e);
      simRunPart.dSimMass = SectorAmount(lammArraysPart.pLammRadius2, N, lammArraysPart.pLammConc, e * e);
      MoveEnds(1.0);
    }
    if (firstStep) {
      firstStep = false;
      return dt;
    }
    return 1.0;
  }

  const SimRunSettings& set;
  const SimRotor rotor;
  const CoefficientConstants& k;
  const SimWorkArrays& arrays = SimWork();  // the work arrays of the allocation at entry
  const int N;
  const double m, b;
  const int rows[4];
  double dSimOmega2 = 0.0;   // (rpm 2 pi / 60)^2 1e-13 of the matrices in use
  int nStepHalvings = 0;     // forced step reductions within one step
  NonidealHatReport report;  // grid shifts and the fixed step, s
  double sStar = 0.0;
  double T = 1e10;
  MovingHatEndWeights weights;
  EndRows ends0{}, ends1{};
  double E0 = 1.0, E1 = 1.0;
  std::vector<double> junkL, junkD, junkU;  // diffusion part of the transport
  double dtUsed = 0.0;
  bool firstStep = true;
};

}  // namespace

bool NonidealRunCanStart(const SimRunSettings& settings, bool movingHat, SimOutcome* refused) {
  CoefficientConstants none;
  CoefficientConstants k;
  return EnterRun(settings, movingHat, none, &k, refused);
}

bool PrepareNonidealCoefficients(const SimRunSettings& settings, bool movingHat, const CoefficientModelValues& law,
                                 SimInput* input, SimOutcome* refused) {
  if (!NonidealRunCanStart(settings, movingHat, refused)) return false;
  std::string message;
  if (PrepareCoefficientModel(law, &input->coefficients, &message)) return true;
  *refused = {SimStatus::InvalidInput, message};
  return false;
}

SimOutcome SolveNonidealLammClaverie(const SimInput& input, SimProgress& progress) {
  const SimRunSettings& settings = input.settings;
  CoefficientConstants k;
  SimOutcome refused;
  if (!EnterRun(settings, false, input.coefficients, &k, &refused)) return refused;
  SimRunStateGuard guard;
  const AssociationTableScope table(k);
  StaticGridRun run(settings, input.rotor, k);
  return run.Run(progress);
}

SimOutcome SolveNonidealLammMovingHat(const SimInput& input, SimProgress& progress,
                                      NonidealHatReport* report) {
  const SimRunSettings& settings = input.settings;
  CoefficientConstants k;
  SimOutcome refused;
  SetHatCellEnds(settings.meniscus, settings.bottom);
  if (!EnterRun(settings, true, input.coefficients, &k, &refused)) return refused;
  MovingHatRun run(settings, input.rotor, k);
  if (!run.ChooseFrame())
    return Refused(SimStatus::InvalidInput,
                   "the moving grid cannot follow a floating species: use the static grid");
  SimRunStateGuard guard;
  const AssociationTableScope table(k);
  const SimOutcome outcome = run.Run(progress);
  if (report) *report = run.Report();
  return outcome;
}

}  // namespace tarmic
