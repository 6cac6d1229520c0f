// The run of a global-state propagator: its state, its settings, the progress it
// reports after every step, and how it ends.
//
// A run is prepared by the caller (the model computation): the initial profile in
// pLammConc, dSimTime, dSimDt = dInitialDt, the error limits dMaxRelChange /
// dMaxRelChangeLow / dMaxRelChangeTarget, the rotor (dSimRpm and the acceleration
// state) and a progress object whose Start() sets the first scan as the stop time;
// the ideal propagators take the species (SimSpecies) as an argument. The
// propagator then steps until the progress clears bSimContinue (last scan
// recorded, user interrupt) or its own rule stops it (steady state, boundary past
// the fitted range, failure), and returns an outcome.
//
// Settings are read once, at entry, into SimRunSettings; a propagator never writes a
// user option. What it changes of the run state (a reduced error limit) it restores
// on return. What a solve keeps from step to step (truncation, plateau, matrix
// bookkeeping, the fit-range stop, the frame of a moving grid) lives in the solve's
// own run struct; the work arrays come from SimWork() (sim_arrays.h).
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <string>
#include <vector>

#include "lamm/amount_balance.h"
#include "lamm/scan_coverage.h"
#include "numerics/hydrodynamics.h"
#include "propagators/sim_clock.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct SimRunState {
  // ---- run state (user-interface thread) ----
  double dMaxRelChange = 1.0;  // error limit in use ("max dc/c"), relative change per step
  double dMaxRelChangeLow = 0.1;  // change below which the next step grows
  double dMaxRelChangeTarget = 0.5;  // change the step control aims at
  double dStepShrinkDivisor = 2.0;  // 2.0: divisor (shrinking) or factor (growing) of a step
  double dStepRelaxation = 1.0;  // 1.0: weight of the proportional step proposal
  double dSimDt = 1.0;  // current time step, s
  double dSimDtMax = 1000.0;  // largest step, s
  int nSimIterations = 0;  // accepted steps
  double dSimStopTime = 0.0;  // a step must end exactly here while bSimLandOnStop
  int bSimLandOnStop = 0;
  int bSimContinue = 1;  // the time loop runs while set
  int bSimFailed = 0;  // singular tridiagonal system, or a refilled truncated edge
  int bSimDiverged = 0;  // the step control gave up
  double dSteadyStateLimit = 1e-6;  // change per second below which the loop may stop (1e-6)
  bool bSteadyStateReached = false;
  float fSimChange = 1.0f;  // change measure of the last step
  double dSimRpm = 10000.0;  // current rotor speed, rpm
  double dFinalRpm = 10000.0;  // final rotor speed, rpm
  double dAccelRate = 0.0;  // acceleration, rpm/s
  bool bAccelerating = false;  // the rotor is still accelerating
  double dAccelEndTime = 0.0;  // s
  double dAccelDtMax = 1.0;  // largest step while accelerating, s
  double dSimS = 5.0;  // s of the species, S
  double dSimD = 5.0;  // D of the species, cm^2/s
  double dSimMass = 0.0;  // total amount in a 2-degree sector of 1.2 cm path
  Window* pSimWindow = nullptr;  // where progress text goes (null: none)
  int iCurrentSpecies = 0;  // species slot being computed
  // The moving frame of the moving-hat propagators (its s and start: sim_clock.h).
  bool bHatGridInUse = false;  // the grid of the running (or last) solve moves
  // Active rows of the static-grid propagator.
  int iActiveFirst = 1;
  int iActiveLast = 1;
};
// The current analysis' SimRunState.
inline SimRunState& SimRun() { return CurrentPart<SimRunState>(); }

// Settings a propagator reads at its entry. CurrentSimRunSettings() takes them from
// the Lamm settings and model switches; the caller sets the per-species fields.
struct SimRunSettings {
  double meniscus = 6.0;          // cm
  double bottom = 7.2;            // cm
  float fitLeft = 6.0f;           // fitting limits, cm
  float fitRight = 7.0f;
  bool fixTimestep = false;       // "fix timestep": steps of dMaxRelChange seconds
  bool autoHatS = true;           // "automatic s_grid": the frame moves with the species
  double frameS = 0.0;            // s of the frame when not automatic, S
  bool rampRotorSpeed = true;     // "ramp rotor speed"
  bool truncateGrid = true;       // "dynamically truncate grid"
  double truncLevel = 1e-6;       // its level, relative to the loading
  bool zoneCentrifugation = false;  // band loading
  // The inhomogeneous-solvent model (solvent_settings.h): on, a sedimenting
  // cosolute is solved beside the species, its gradient changes the solvent.
  bool inhomogeneousSolvent = false;
  bool sedimentingCosolute = false;
  bool dynamicGradient = false;
  // Per species, set by the caller:
  bool outflowBottom = false;     // back-diffusion shut off: the bottom lets the species out
  bool noTruncation = false;      // no truncation in this solve (a retry)
  bool meniscusCorrection = false;  // fold a small negative meniscus value inward (last retry)
};
SimRunSettings CurrentSimRunSettings();

// The species a solve propagates; the caller passes it, the solve never reads the
// species globals (dSimS, dSimD).
struct SimSpecies {
  double s = 0.0;  // sedimentation coefficient, S
  double D = 0.0;  // diffusion coefficient, cm^2/s
};
// True when one of the special cell geometries is chosen.
bool SpecialGeometry();

// How a run ended.
enum class SimStatus {
  Ok = 0,
  NotAllocated,   // the simulation arrays do not exist or do not fit the model
  InvalidInput,   // non-finite or refused species, grid or rotor values
  Singular,       // a tridiagonal pivot vanished
  Diverged,       // the step control gave up, or the profile overflowed
  Interrupted,    // the user stopped the run
};
struct SimOutcome {
  SimStatus status = SimStatus::Ok;
  std::string message;  // for the caller's box; empty when Ok
  // Diverged in a way a finer grid may mend (RefineWhileBalanceLost): a recorded
  // profile lost the amount balance, the steps reached their floor, or the run ended
  // before its last scan without a stop rule that vouches for the later scans.
  bool refinable = false;
  // Refinable, but the retries of a caller that has them (no truncation, the other
  // algorithm) come first: the step control reached its floor, which they had mended.
  bool retryFirst = false;
  bool ok() const { return status == SimStatus::Ok; }
};

// The one way a failed solution is solved again after it lost the amount balance
// (lamm/amount_balance.h): while the outcome of the last attempt lost it, the
// grid of the next refinement of `nodes` nodes is laid by layGrid (false: none
// could be had) and attempt() solves from the loading again, at most
// kBalanceRefinements times. The outcome of the last attempt; an interrupt ends
// the refinement.
SimOutcome RefineWhileBalanceLost(SimOutcome outcome, int nodes,
                                  const std::function<bool(int nodes)>& layGrid,
                                  const std::function<SimOutcome()>& attempt);
// The caption the caller shows a failed outcome under.
const char* SimOutcomeCaption(SimStatus status);

// Why the time loop ended.
enum class SimStopReason {
  Progress,     // the progress cleared bSimContinue (last scan, interrupt)
  SteadyState,  // eleven quiet steps of at least 30 s
  FitRange,     // the boundary left the fitted range
  Failed,       // bSimFailed or bSimDiverged
};

// What a propagator reports to.
class SimProgress {
 public:
  virtual ~SimProgress() = default;
  // After every accepted step, with its change measure. Records the profile when a
  // scan time is reached, moves dSimStopTime/bSimLandOnStop to the next target and
  // clears bSimContinue after the last scan or on an interrupt.
  virtual void Step(double change) = 0;
  // True while the run goes on past the last scan to its own stop.
  virtual bool PastLastScan() const { return false; }
  // Once, after the loop.
  virtual void Finish(SimStopReason /*reason*/) {}
  // Once the propagator has laid its grid and loading (pLammRadius, pLammConc): the
  // amount every recorded profile is measured against (lamm/amount_balance.h).
  // closedCell is false when an end lets the species out; s (S, or the direction of
  // the system) names the end it piles up at in the message.
  virtual void TakeLoadedAmount(bool /*closedCell*/, double /*s*/) {}
  // The message of a run that ended because a profile due for recording had lost
  // the amount balance, or that ended before its last scan (scan_coverage.h);
  // empty otherwise.
  virtual std::string RefinableFailure() const { return {}; }
};

// Records the profile at a list of scan times through a callback. Scans reached
// together are recorded together. After the last scan the run stops, or with
// finalProfileToFit it goes on to its own stop (or 1e8 s) and the final profile is
// recorded once into the last scan. When the run stops early by its own rule, the
// scans not reached get the current profile: after a steady-state stop that is the
// true final profile; after a fit-range stop the boundary has left the fitted range.
// A run that ends before its last scan in any other way ends as diverged with the
// reason (scan_coverage.h): its later scans were not computed.
// A profile due for recording that lost the amount balance with the loading taken
// by TakeLoadedAmount is never recorded: the run ends as diverged (bSimDiverged)
// with the balance message.
class ScanTimeRecorder : public SimProgress {
 public:
  // scan (0-based), radii r[1..n], profile c[1..n].
  using RecordFn = std::function<void(int scan, const double* r, const double* c, int n)>;
  ScanTimeRecorder(std::vector<double> scanTimes, RecordFn record, bool finalProfileToFit = false);
  // Sets the first scan as the stop time and bSimContinue; call before the solve.
  void Start();
  void Step(double change) override;
  bool PastLastScan() const override { return bPastLast; }
  void Finish(SimStopReason reason) override;
  int ScansRecorded() const { return nNext; }
  void TakeLoadedAmount(bool closedCell, double s) override;
  std::string RefinableFailure() const override;
  // Every scan recorded at its time or handed the profile of a stop rule.
  bool EveryScanComputed() const { return coverage.Complete(); }

 protected:
  // Called while scan (0-based) is due. A recorder that assembles a scan over
  // partial sweeps at successive times returns false until the scan is complete,
  // with *nextTime the time the run must land on for the next call.
  virtual bool ScanAssembled(int /*scan*/, double* /*nextTime*/) { return true; }
  // Records the scan: the grid profile through the record function by default.
  virtual void Record(int scan);

 private:
  // False, with the run ended as diverged, when the grid profile lost the balance.
  bool ProfileKeepsBalance();
  // Records the next scan and counts it.
  void RecordNext();
  ScanCoverage coverage;
  bool bEndedEarly = false;  // the loop ended before the last scan without a stop rule
  // The amount of pLammConc on pLammRadius.
  ProfileAmount GridAmount();
  std::vector<double> vTimes;
  RecordFn fnRecord;
  bool bFinalProfile;
  int nNext = 0;
  bool bPastLast = false;
  AmountBalance balance;
  double dBalanceS = 0.0;
  std::vector<double> vWeights, vWeightRadii;  // node weights and the radii they are of
};

// The time beyond which a run past its last scan ends, s.
inline constexpr double kFinalProfileTime = 1e8;

// Rotor speed for a step from t to t + dt during the acceleration (rms of the
// linear ramp at both ends, at most dFinalRpm); the final speed, with
// bAccelerating cleared, once t reaches the end of the acceleration or when the
// acceleration lasts under 10 s.
double SimRotorSpeedAtTime(double t, double dt);

// Shortens a step while the rotor accelerates: to dAccelDtMax, and (when
// cutToEnd) so that it does not pass dAccelEndTime; *cut is set when it was cut to
// the end. Nothing when the ramp is off or the rotor runs at speed.
double ClampStepToAcceleration(double t, double dt, bool ramp, bool cutToEnd, bool* cut);

// A step from t that reaches the stop time (within rounding) while bSimLandOnStop
// is set is cut to end exactly there and the flag is cleared; true then.
bool LandStepOnStopTime(double t, double* dt);

// The fit-range stop of one solve: the grid point just beyond the fitted range
// (for a species or system moving with s > 0 the first point right of the right
// fitting limit, for s < 0 the last point not right of the left one) and 1e-4 of
// the value there at the start. Without a fitting limit inside the cell the stop is
// not armed: the limit point would be the end node the species moves to, which
// never empties, so only a failing solution could seem to clear it there.
struct FitRangeStop {
  int iFitLimitPoint = 1;
  float fFitLimitLevel = 0.0f;
  bool armed = false;
  double s = 0.0;  // the s (or direction) the stop was set up for
};
FitRangeStop FindFitLimitPoint(const SimRunSettings& settings, double s);
// True when the boundary has left the fitted range: the values at the limit point
// and at its neighbour inside the range came within its level of 0
// (FittedRangeLeftAt; a value far below 0 is an oscillation, not an empty range), or
// the active rows start beyond it. Never with band loading, an inhomogeneous solvent
// or an unarmed stop.
bool FitRangeCleared(const SimRunSettings& settings, double s, const FitRangeStop& stop);

// Eleven consecutive steps of at least 30 s whose change per second is below
// dSteadyStateLimit.
struct SteadyStateTest {
  int quiet = 0;
  bool Update(double dtUsed, double changePerSecond);
};

// Restores the run state a propagator may change (error limits, dSimDtMax) when it
// goes out of scope.
class SimRunStateGuard {
 public:
  SimRunStateGuard();
  ~SimRunStateGuard();
  SimRunStateGuard(const SimRunStateGuard&) = delete;
  SimRunStateGuard& operator=(const SimRunStateGuard&) = delete;

 private:
  double dMax, dLow, dTarget;
};

// The floor a run's step control met, kept by the run itself (each solve starts
// with none): its accepted steps stayed below kSmallestUsefulStep (TinySteps), or
// repeated shrinks to the smallest step did not keep the change within max dc/c
// (Shrinks).
enum class SimStepFloor { None, TinySteps, Shrinks };

// Ends a run: tells the progress why the loop stopped and turns the flags into the
// outcome (interrupted when bUserAbort is set). tridagMessage is the pivot message
// of a singular solve; floor the floor the run's step control met. A run that gave
// up at a floor is refinable; at the floor of its shrinks only after the retries of
// a caller that has them.
SimOutcome FinishSimRun(SimProgress& progress, SimStopReason reason, const char* tridagMessage,
                        SimStepFloor floor = SimStepFloor::None);

// The total amount in a 2-degree sector with 1.2 cm optical path for node weights
// W_i (integral of r phi_i dr) and values c_i.
inline constexpr double kSectorAmountFactor = kSectorAngle * kOpticalPath;

// Restores every run-state value to its default (tests).
void ResetSimRunState();

}  // namespace tarmic
