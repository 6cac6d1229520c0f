#include "propagators/buffer_sedimentation.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <string>

#include "lamm/amount_balance.h"
#include "lamm/crank_nicolson_step.h"
#include "lamm/fe_assembly.h"
#include "lamm/lamm_globals.h"
#include "lamm/rotor_ramp.h"
#include "lamm/scan_coverage.h"
#include "lamm/static_grid_core.h"
#include "lamm/step_control.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "services/engine_notice.h"
#include "propagators/sim_arrays.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

constexpr double kDefaultMeniscusDifference = 0.1;  // cm

// This module's own state in the analysis.
struct LocalState {
  double dOwnMeniscusDifference = kDefaultMeniscusDifference;
  double* pMeniscusDifference = &dOwnMeniscusDifference;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// Slots of species 4 in the parameter vector.
constexpr int kBufferSlot = nSpeciesSlots;
constexpr int kBufferMassSlot = kBufferSlot;           // D or M
constexpr int kBufferSSlot = 4 + kBufferSlot;          // s
constexpr int kBufferAmplitudeSlot = 8 + kBufferSlot;  // loading signal

// The notes of the model check. The check runs when the option is switched on
// and again at the start of every buffer computation (a model changed since may no
// longer combine with it), so its notes are shown where the check meets them.
void Note(const char* text, const char* caption) {
  RaiseNote(text, caption, MB_OK);
}

// ---- the solve of one component -------------------------------------------------

// Step control of the buffer component: the largest relative change accepted per
// step, the change below which the next step grows, and the aimed change.
constexpr double kTolerance = 1.0;
constexpr double kGrowBelow = 0.05 * kTolerance;
constexpr double kChangeTarget = 0.2 * kTolerance;
// Rejected trials of one step after which the solve gives up.
constexpr int kMaxRejections = 10;
// Values below -kNegativeLevel in the first kNegativeWindow seconds force a shorter step.
constexpr double kNegativeLevel = 1e-8;
constexpr double kNegativeWindow = 10.0;  // s
constexpr double kRampDtMax = 10.0;       // largest step while the rotor accelerates, s

class BufferSolver {
 public:
  BufferSolver(const BufferComponentRun& run, const BufferProfileRecord& record)
      : run_(run), record_(record), N(run.gridPoints) {}

  SimOutcome Solve();

 private:
  bool Allocate();
  void BuildMatrices(double rpm);
  double ClampToRamp(double dt) const;
  bool Advance(double dt);
  double RelativeChange();
  void Accept(double dt, bool lands);
  double Step();
  void StoreScans();
  void RecordRemainingScans();

  const BufferComponentRun& run_;
  const BufferProfileRecord& record_;
  const int N;
  std::vector<double> block_;
  double* r = nullptr;    // grid, cm
  double* c = nullptr;    // profile
  double* old = nullptr;  // profile at the start of the step
  Tridiagonal M, A;       // mass and transport matrices
  CrankNicolsonSystem sys_;

  double t = 0.0;             // s
  double dt = 1.0;            // current step, s
  double dtPrev = 1.0;        // step before the last change, s
  double dtMax = 1000.0;      // s
  double lastDt = 0.0;        // step of the kept factors, s
  bool refactor = true;       // the kept factors do not fit the matrices
  bool accelerating = false;  // the rotor is on its ramp
  int rejections = 0;         // rejected trials of the current step
  int steps = 0;              // accepted steps
  std::size_t nextScan = 0;   // index of the next output time
  ScanCoverage coverage;      // the scans recorded (scan_coverage.h)
  bool running = true;
  bool singular = false;
  bool gaveUp = false;
  const char* tridagText = "";
  AmountBalance balance_;  // the loading of the closed cell, against every recorded profile
};

bool BufferSolver::Allocate() {
  // 18 arrays of N + 1 doubles: radii, profile, old profile, M, A and the two
  // Crank-Nicolson matrices (three each), right-hand side, the two factor arrays.
  constexpr int kArrays = 18;
  try {
    block_.assign(static_cast<std::size_t>(kArrays) * static_cast<std::size_t>(N + 1), 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  int next = 0;
  auto cut = [&]() { return block_.data() + static_cast<std::size_t>(next++) * (N + 1); };
  r = cut();
  c = cut();
  old = cut();
  M = {cut(), cut(), cut()};
  A = {cut(), cut(), cut()};
  sys_.mass = M;
  sys_.transport = A;
  sys_.implicitM = {cut(), cut(), cut()};
  sys_.explicitM = {cut(), cut(), cut()};
  sys_.rhs = cut();
  sys_.factors = {cut(), cut()};
  sys_.n = N;
  return true;
}

// M and A of the closed cell, M dc/dt = A c, on the equidistant grid: linear
// elements weighted by r, A = s w^2 S - D K.
void BufferSolver::BuildMatrices(double rpm) {
  const double h = (run_.bottom - run_.meniscus) / (N - 1);
  const double w = rpm * kTwoPiOver60;
  const double sw2 = w * w * run_.s * 1e-13;
  EquidistantLammMatrices(r, N, h, sw2, run_.D, M, A);
  refactor = true;
}

// While the rotor accelerates a step is at most 10 s and ends at the end of the ramp.
double BufferSolver::ClampToRamp(double step) const {
  if (!accelerating) return step;
  step = std::min(step, kRampDtMax);
  if (t + step > run_.accelEnd) step = run_.accelEnd - t;
  return step;
}

// One Crank-Nicolson step of length step from old into c; false on a vanished pivot.
bool BufferSolver::Advance(double step) {
  if (accelerating) {
    bool stillRamping = true;
    BuildMatrices(RampRotorSpeed(t, step, run_.accelEnd, run_.accelRate, run_.rpm, &stillRamping));
  }
  const bool factorise = refactor || step != lastDt;
  const TridagStatus status = CrankNicolsonStep(sys_, step, factorise, old, c);
  if (status != TridagStatus::Ok) {
    singular = true;
    tridagText = TridagMessage(status);
    refactor = true;
    return false;
  }
  refactor = false;
  lastDt = step;
  return true;
}

// Largest relative change of the step (lamm/static_grid_core.h); an undershoot
// below -1e-8 in the first 10 s forces a shorter step.
double BufferSolver::RelativeChange() {
  const double cmax = *std::max_element(c + 1, c + N + 1);
  bool negative = false;
  const double e =
      StaticGridRelativeChange(c, old, 1, N, cmax, kNegativeLevel, t < kNegativeWindow, &negative);
  return negative ? 2 * kTolerance : e;
}

void BufferSolver::Accept(double step, bool lands) {
  rejections = 0;
  ++steps;
  t = lands ? run_.scanTimes[nextScan] : t + step;
  if (accelerating && t >= run_.accelEnd) {
    accelerating = false;
    BuildMatrices(run_.rpm);
  }
}

// One accepted step; returns its change measure (1 for a step that lands on a scan
// time, which is accepted without the error test, and dt for the first step).
double BufferSolver::Step() {
  std::copy(c + 1, c + N + 1, old + 1);
  dt = ClampToRamp(dt);
  bool lands = false;
  const double target = run_.scanTimes[nextScan];
  if (t + dt >= target) {
    dt = target - t;
    lands = true;
  }
  if (!(dt > 0)) {  // the scan time is reached: nothing to step
    dt = 1.0;
    return 1.0;
  }
  if (!Advance(dt)) return 0.0;
  if (lands && steps > 0) {
    Accept(dt, true);
    return 1.0;
  }
  if (steps == 0) {
    const double first = dt;
    Accept(dt, lands);
    return first;
  }
  const StepControlSettings control{kChangeTarget, 2.0, 1.0, dtMax};
  double e = RelativeChange();
  while (e > kTolerance) {
    // Every rejected trial counts; past the limit the solve has failed (its earlier
    // scans are kept, the caller reports the failure).
    if (++rejections > kMaxRejections) {
      gaveUp = true;
      std::copy(old + 1, old + N + 1, c + 1);
      return 0.0;
    }
    bool floored = false;
    dt = ClampToRamp(ShrinkStep(dt, e, control, &dtPrev, &floored));
    if (!Advance(dt)) return 0.0;
    e = RelativeChange();
  }
  Accept(dt, false);
  dt = e == 0 ? std::min(10 * dt, dtMax) : NextStepAfterAccept(dt, e, kGrowBelow, control, &dtPrev);
  return e;
}

void BufferSolver::StoreScans() {
  if (CheckKeyPress()) bUserAbort = true;
  if (bUserAbort) {
    running = false;
    return;
  }
  while (nextScan < run_.scanTimes.size() && t >= run_.scanTimes[nextScan]) {
    // A profile that lost the amount balance is never recorded.
    if (!balance_.Holds(NodeProfileAmount(r, c, N))) {
      gaveUp = true;
      running = false;
      return;
    }
    record_(static_cast<int>(nextScan), r, c, N);
    coverage.Recorded();
    ++nextScan;
  }
  if (nextScan >= run_.scanTimes.size()) running = false;
}

// The profile is stationary: it is the profile of every later scan.
void BufferSolver::RecordRemainingScans() {
  if (nextScan < run_.scanTimes.size() && !balance_.Holds(NodeProfileAmount(r, c, N))) {
    gaveUp = true;
    return;
  }
  for (; nextScan < run_.scanTimes.size(); ++nextScan) {
    record_(static_cast<int>(nextScan), r, c, N);
    coverage.Recorded();
  }
}

SimOutcome BufferSolver::Solve() {
  const std::vector<double>& times = run_.scanTimes;
  const bool timesOk =
      !times.empty() && std::is_sorted(times.begin(), times.end()) &&
      std::all_of(times.begin(), times.end(), [](double x) { return std::isfinite(x) && x >= 0; });
  if (N < kMinSimGridPoints || N > kMaxSimGridPoints || !(run_.bottom > run_.meniscus) ||
      !std::isfinite(run_.bottom) || !std::isfinite(run_.meniscus) || !(run_.D > 0) ||
      !std::isfinite(run_.D) || !std::isfinite(run_.s) || !std::isfinite(run_.amplitude) ||
      !(run_.rpm > 0) || !std::isfinite(run_.rpm) || !timesOk)
    return {SimStatus::InvalidInput, "invalid parameters of the buffer sedimentation"};
  if (run_.amplitude == 0.0) return {};
  if (bUserAbort) return {SimStatus::Interrupted, "simulation interrupted"};
  if (!Allocate())
    return {SimStatus::NotAllocated, "could not allocate the arrays of the buffer sedimentation"};

  // Uniformly loaded cell on the equidistant grid.
  for (int i = 1; i <= N; ++i) {
    r[i] = run_.meniscus + (i - 1) * (run_.bottom - run_.meniscus) / (N - 1);
    c[i] = run_.amplitude;
  }
  balance_.Start(NodeProfileAmount(r, c, N), true);
  accelerating = run_.ramp && run_.accelEnd >= 10.0 && run_.accelRate > 0;
  BuildMatrices(run_.rpm);
  // Largest step from s and D, as for the static grid: 0.5 rpm^2 D / s in [10, 1000] s.
  dtMax =
      run_.s != 0 ? std::clamp(0.5 * run_.rpm * run_.rpm * run_.D / run_.s, 10.0, 1000.0) : 1000.0;

  coverage.Start(static_cast<int>(times.size()));
  SteadyStateTest steady;
  while (running && !singular && !gaveUp) {
    const double dtUsed = dt != 0 ? dt : 1.0;
    const double change = Step();
    if (singular || gaveUp) break;
    StoreScans();
    if (running && steady.Update(dtUsed, change / dtUsed)) {
      RecordRemainingScans();
      running = false;
    }
  }
  if (singular)
    return {SimStatus::Singular,
            std::string(tridagText) + "\nsingular tridiagonal matrix in buffer sedimentation!"};
  if (gaveUp && balance_.Lost()) {
    SimOutcome lost{SimStatus::Diverged, AmountBalanceMessage(run_.s)};
    lost.refinable = true;
    return lost;
  }
  if (gaveUp) return {SimStatus::Diverged, "discretization error in buffer sedimentation"};
  if (bUserAbort) return {SimStatus::Interrupted, "simulation interrupted"};
  coverage.Ended(t);
  if (!coverage.Complete()) {
    SimOutcome ended{SimStatus::Diverged, coverage.Refusal()};
    ended.refinable = true;
    return ended;
  }
  return {};
}

// ---- the model ----------------------------------------------------------------

bool IncompatibleModel() {
  auto& dataSetPart = DataSet();
  auto& lammGlobalsPart = LammGlobals();
  auto& modelFlagsPart = ModelFlags();
  const ModelFitHooks& hooks = GetModelFitHooks();
  const bool gradient = hooks.inhomogeneousSolventOn && hooks.inhomogeneousSolventOn();
  return modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsMsTable || dataSetPart.bEquilibriumMode ||
         dataSetPart.bDLSData || gradient || AnalysisSwitches().bInitialDataProfile || modelFlagsPart.bBoundaryAnalysis ||
         modelFlagsPart.bVanHoldeWeischet || modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel || lammGlobalsPart.bExternalLoadingCell ||
         lammGlobalsPart.bElectrophoresis || modelFlagsPart.bCvConstantD || modelFlagsPart.bElectroLsgModel;
}

// Working values (the entered ones corrected, the dependent ones derived), stored
// back into the settings: D = s RT / Mb, in 1e-7 cm^2/s D' = 1e-6 s RT / Mb.
void DeriveWorkingValues() {
  BufferSedSettings& b = BufferSedimentation().BufferSed;
  const double RT = DataSet().fRT;
  if (ModelFlags().bFitMAndS) {
    b.sampleMb = std::max(b.sampleMb, 10.0);
    b.refMb = std::max(b.refMb, 10.0);
    b.sampleD = std::fabs(b.sampleS) * 1e-6 * RT / b.sampleMb;
    b.refD = std::fabs(b.refS) * 1e-6 * RT / b.refMb;
    b.sampleS = std::fabs(b.sampleS);
    return;
  }
  auto correct = [RT](double& D, double& Mb, double s) {
    if (D < 0) D = 0.01;
    if (D > 1000) D = 1000;
    Mb = D > 0 ? std::max(1e-6 * s * RT / D, 10.0) : 10.0;
  };
  correct(b.sampleD, b.sampleMb, b.sampleS);
  correct(b.refD, b.refMb, b.refS);
}

// Solver D in cm^2/s of an entered D (1e-7 cm^2/s); a vanishing one becomes 1e-10.
double SolverD(double enteredD) {
  const double D = std::fabs(enteredD) * 1e-7;
  return D == 0 ? 1e-10 : D;
}

bool FixedAmplitudesIntoFit() { return !ModelParams().bLinearAmplitudes && !AnalysisSwitches().bFitTINoise && !AnalysisSwitches().bFitRINoise; }

bool ScanArraysExist(int k) {
  auto& dataSetPart = DataSet();
  const auto u = static_cast<std::size_t>(k);
  return k >= 1 && u < dataSetPart.ppRadius.size() && u < dataSetPart.pnPoints.size() && dataSetPart.ppRadius[u] && dataSetPart.pnPoints[u] > 0;
}

// Whether the destination of every scan's profile exists.
bool DestinationsExist(const BufferKernelStore& kernels) {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& modelFlagsPart = ModelFlags();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& simRunPart = SimRun();
  if (static_cast<int>(dataSetPart.pScanOrder.size()) <= dataSetPart.nScans) return false;
  for (int idx = 1; idx <= dataSetPart.nScans; ++idx) {
    const int k = dataSetPart.pScanOrder[static_cast<std::size_t>(idx)];
    const auto u = static_cast<std::size_t>(k);
    if (bufferSedimentationPart.bSubtractBufferMismatch) {
      if (!ScanArraysExist(k) || u >= dataSetPart.ppSignal.size() || !dataSetPart.ppSignal[u]) return false;
    } else if (modelFlagsPart.bContiModel) {
      if (!kernels) return false;
    } else if (FixedAmplitudesIntoFit()) {
      if (!ScanArraysExist(k) || u >= dataSetPart.ppFit.size() || !dataSetPart.ppFit[u]) return false;
    } else {
      if (simRunPart.iCurrentSpecies < 1 || simRunPart.iCurrentSpecies > nSpeciesSlots || !currentGridPart.pGridRadius || currentGridPart.nGridPoints < 1)
        return false;
      const std::vector<float*>& table = currentGridPart.pppSpeciesSignal[simRunPart.iCurrentSpecies];
      if (u >= table.size() || !table[u]) return false;
    }
  }
  return true;
}

// The profile v[1..n] on the grid r of scan k (sample pass: add false) to its destination.
void RouteProfile(int k, const double* r, const double* v, int n, bool add,
                  const BufferKernelStore& kernels) {
  const auto u = static_cast<std::size_t>(k);
  if (BufferSedimentation().bSubtractBufferMismatch) {
    const int points = DataSet().pnPoints[u];
    std::vector<float> work(static_cast<std::size_t>(points) + 1, 0.0f);
    if (!InterpolateCurveFromDouble(points, DataSet().ppRadius[u], work.data(), n, r, v)) return;
    for (int j = 1; j <= points; ++j) DataSet().ppSignal[u][j] -= work[static_cast<std::size_t>(j)];
    NoteScanDataChanged();
  } else if (ModelFlags().bContiModel) {
    kernels(k, r, v, n, add);
  } else if (FixedAmplitudesIntoFit()) {
    AddInterpolatedCurveFromDouble(DataSet().pnPoints[u], DataSet().ppRadius[u], DataSet().ppFit[u], n, r, v);
  } else if (add) {
    AddInterpolatedCurveFromDouble(CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, CurrentGrid().pppSpeciesSignal[SimRun().iCurrentSpecies][u],
                                   n, r, v);
  } else {
    InterpolateCurveFromDouble(CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, CurrentGrid().pppSpeciesSignal[SimRun().iCurrentSpecies][u], n, r,
                               v);
  }
}

}  // namespace

double& MeniscusDifference() { return *Local().pMeniscusDifference; }

void BindMeniscusDifference(double* difference) {
  auto& localPart = Local();
  localPart.pMeniscusDifference = difference ? difference : &localPart.dOwnMeniscusDifference;
}

void SwitchOffBufferSedimentation(Window* window) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  if (window) window->CheckMenuItem(kCmBufferSedimentation, false);
  if (!IsDiscreteSpeciesModel()) return;
  analysisSwitchesPart.pSpeciesLinked[kBufferSlot] = 0;
  modelParamsPart.pSpeciesAmplitudeFit[kBufferSlot] = 0;
  modelParamsPart.pSpeciesMassOrDFit[kBufferSlot] = 0;
  modelParamsPart.pSpeciesSFit[kBufferSlot] = 0;
  analysisSwitchesPart.pParamFitFlags[kBufferMassSlot] = analysisSwitchesPart.pParamFitFlags[kBufferSSlot] = 0;
  analysisSwitchesPart.pParamFitFlags[kBufferAmplitudeSlot] = 0;
}

bool CheckBufferSedimentationModel(Window* window) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  if (IncompatibleModel()) {
    Note(
        "buffer sedimentation model is incompatible with this model\nswitching buffer "
        "sedimentation off",
        "Attention");
    SwitchOffBufferSedimentation(window);
    modelFlagsPart.bBufferSedCorrection = false;
    return false;
  }
  if (!ScanFile().bInterferenceData && !bufferSedimentationPart.BufferSed.interferenceNoteShown) {
    Note("Note: buffer sedimentation model is intended only for interference data", "Attention");
    bufferSedimentationPart.BufferSed.interferenceNoteShown = true;
  }
  if (IsDiscreteSpeciesModel()) {
    if (modelParamsPart.pSpeciesMassOrD[kBufferSlot] != 0.0f || modelParamsPart.pSpeciesS[kBufferSlot] != 0.0f) {
      Note(
          "Note: Component 4 of non-interacting model cannot be used with buffer sedimentation "
          "model.\nSwitching off Component 4.",
          "Attention");
      modelParamsPart.pSpeciesMassOrD[kBufferSlot] = 0.0f;
      modelParamsPart.pSpeciesS[kBufferSlot] = 0.0f;
    }
    analysisSwitchesPart.pSpeciesLinked[kBufferSlot] = 1;
    modelParamsPart.pSpeciesAmplitudeFit[kBufferSlot] = analysisSwitchesPart.pParamFitFlags[kBufferAmplitudeSlot] =
        bufferSedimentationPart.BufferSed.fitSignal ? 1 : 0;
    modelParamsPart.pSpeciesMassOrDFit[kBufferSlot] = modelParamsPart.pSpeciesSFit[kBufferSlot] = 0;
    analysisSwitchesPart.pParamFitFlags[kBufferMassSlot] = analysisSwitchesPart.pParamFitFlags[kBufferSSlot] = 0;
  }
  // A fixed buffer signal in a distribution needs both noise fits.
  if (modelFlagsPart.bContiModel && !(analysisSwitchesPart.bFitTINoise && analysisSwitchesPart.bFitRINoise)) bufferSedimentationPart.BufferSed.fitSignal = true;
  return true;
}

void SetBufferComponentFitFlags() {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  if (IsDiscreteSpeciesModel()) {
    if (modelParamsPart.bLinearAmplitudes) {
      for (int k = 1; k < kBufferSlot; ++k) {
        if (!analysisSwitchesPart.pSpeciesLinked[k]) continue;
        modelParamsPart.pSpeciesAmplitudeFit[k] = analysisSwitchesPart.pParamFitFlags[8 + k] = 1;
      }
    }
    modelParamsPart.pSpeciesAmplitudeFit[kBufferSlot] = analysisSwitchesPart.pParamFitFlags[kBufferAmplitudeSlot] =
        bufferSedimentationPart.BufferSed.fitSignal ? 1 : 0;
  }
  UpdateLinearFitFlags();
  PackModelParams();
  AllocSpeciesSignalArrays();
}

SimOutcome SolveBufferComponent(const BufferComponentRun& run, const BufferProfileRecord& record) {
  BufferSolver solver(run, record);
  return solver.Solve();
}

SimOutcome CalculateBufferSedimentation(Window* window, const BufferKernelStore& kernels) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& dataSetPart = DataSet();
  if (!CheckBufferSedimentationModel(window)) return {};
  if (dataSetPart.nScans < 1 || static_cast<int>(dataSetPart.pScanInfo.size()) <= dataSetPart.nScans ||
      static_cast<int>(dataSetPart.pScanOrder.size()) <= dataSetPart.nScans || !(dataSetPart.fMeniscus > 0) || !(dataSetPart.fBottom > dataSetPart.fMeniscus))
    return {SimStatus::InvalidInput, "invalid parameters of the buffer sedimentation"};
  DeriveWorkingValues();
  const BufferSedSettings& b = bufferSedimentationPart.BufferSed;
  if (b.signal == 0.0) return {};
  if (!DestinationsExist(kernels))
    return {SimStatus::NotAllocated, "the arrays for the buffer sedimentation are not allocated"};

  // The schedule: every scan in display order; with the rotor ramp the times as
  // recorded (not shifted for the acceleration). The rotor speed is that of the
  // last loaded scan; the ramp (rate, duration, final speed) that of the first scan.
  const ScanInfo& first = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[1])];
  BufferComponentRun run;
  run.gridPoints = b.gridPoints;
  run.bottom = dataSetPart.fBottom;
  run.ramp = analysisSwitchesPart.bRampRotorSpeed;
  run.rpm = analysisSwitchesPart.bRampRotorSpeed ? first.rpm : dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].rpm;
  run.accelEnd = first.accelTime;
  run.accelRate = first.accelRate;
  for (int idx = 1; idx <= dataSetPart.nScans; ++idx) {
    const ScanInfo& info =
        dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(idx)])];
    run.scanTimes.push_back(analysisSwitchesPart.bRampRotorSpeed ? info.recordedTime : info.time);
  }

  // Sample pass on [m, b]; the reference pass on [m - dm, b] with its own buffer
  // (the reference sector is filled on its own, so its meniscus differs by dm), or
  // with the sample's when the meniscus mismatch is on, at A / q.
  const double q = b.relativeConc;
  const bool referencePass = b.differentReference || bufferSedimentationPart.bMeniscusMismatch;
  if (referencePass && !(q > 0))
    return {SimStatus::InvalidInput,
            "the relative concentration of the buffer component must be positive"};
  struct Pass {
    double D, s, meniscus, amplitude, sign;
  };
  const double dm = referencePass ? MeniscusDifference() : 0.0;
  const Pass passes[2] = {
      {SolverD(b.sampleD), b.sampleS, dataSetPart.fMeniscus, b.signal, b.signalSign},
      {SolverD(b.differentReference ? b.refD : b.sampleD),
       b.differentReference ? b.refS : b.sampleS, dataSetPart.fMeniscus - dm,
       referencePass ? b.signal / q : 0.0, -b.signalSign},
  };
  for (int p = 0; p < 2; ++p) {
    const Pass& pass = passes[p];
    if (pass.amplitude == 0.0) continue;
    run.D = pass.D;
    run.s = pass.s;
    run.meniscus = pass.meniscus;
    run.amplitude = pass.amplitude;
    // The profiles of the pass are routed once it has succeeded: a pass solved again
    // on a finer grid after a lost balance must not add its scans twice.
    struct Profile {
      int scan;
      std::vector<double> r, v;  // [1..n]
    };
    std::vector<Profile> profiles;
    auto solve = [&] {
      profiles.clear();
      return SolveBufferComponent(run, [&](int scan, const double* r, const double* c, int n) {
        Profile profile{scan, std::vector<double>(r, r + n + 1),
                        std::vector<double>(static_cast<std::size_t>(n) + 1, 0.0)};
        for (int i = 1; i <= n; ++i) profile.v[static_cast<std::size_t>(i)] = pass.sign * c[i];
        profiles.push_back(std::move(profile));
      });
    };
    run.gridPoints = b.gridPoints;
    const SimOutcome outcome = RefineWhileBalanceLost(
        solve(), b.gridPoints,
        [&](int n) {
          run.gridPoints = n;
          return true;
        },
        solve);
    if (!outcome.ok()) return outcome;
    const bool add = p == 1;
    for (const Profile& profile : profiles)
      RouteProfile(dataSetPart.pScanOrder[static_cast<std::size_t>(profile.scan) + 1], profile.r.data(),
                   profile.v.data(), static_cast<int>(profile.v.size()) - 1, add, kernels);
  }
  return {};
}

void ResetBufferSedimentation() {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& localPart = Local();
  bufferSedimentationPart.BufferSed = BufferSedSettings{};
  ModelFlags().bBufferSedCorrection = false;
  bufferSedimentationPart.bMeniscusMismatch = false;
  bufferSedimentationPart.bSubtractBufferMismatch = false;
  localPart.pMeniscusDifference = &localPart.dOwnMeniscusDifference;
  localPart.dOwnMeniscusDifference = kDefaultMeniscusDifference;
}

}  // namespace tarmic
