// Steps every model computation of the discrete-species models shares: the
// bracket of the nonlinear-detection transform around the computation, the
// default fit limits, the zeroed fit rows, the loading of each species slot from
// the amplitudes held as total and fractions, the diffusion coefficient of a slot,
// and the tail (linear amplitude step, intensity data, repaint) with the outcome
// of the whole computation.
//
// Per-scan tables are one-based by scan number; display position p means scan
// pScanOrder[p]. Species slots run 1..nSpeciesSlots.
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

#include "modelcalc/linear_amplitudes.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"  // SetDefaultFitLimitsWhenUnset
#include "scandata/radial_grid.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct ModelStepsState {
  // The Run command sets it before it computes: the model computations repaint the
  // main window and draw their readouts and evolving profiles while it is set.
  bool bLiveDisplay = false;
  // Display position of the first modelled scan: 1, or 2 when the first scan is the
  // experimental initial distribution.
  int iFirstModelScan = 1;
  // Fraction of the total loading that the species being computed carries.
  float fLoadingFraction = 1.0f;
  // Where the computation running records the species' signal, from its input's
  // linear switches: 0 the fit rows, 1 the signal tables; -1 (no computation
  // running) the analysis' switches decide (SignalToFitRows).
  int iSignalDestination = -1;
};
// The current analysis' ModelStepsState.
inline ModelStepsState& ModelSteps() { return CurrentPart<ModelStepsState>(); }

// How a model computation ended.
enum class ModelStatus {
  Computed,     // every species was computed; the fit rows hold the model
  NotStarted,   // no scans, or meniscus and bottom not set (message shown); nothing changed
  Interrupted,  // the user stopped a solution: later species are missing from the fit
  Failed,       // a solution failed (its message was shown): the fit holds what it recorded
};
struct ModelResult {
  ModelStatus status = ModelStatus::Computed;
  // Why a computation did not start, for the command's box (empty caption, OK
  // only, no sound); empty when there is nothing to say. A Failed computation
  // carries one only when no solver has said why (kNonFiniteModelText).
  std::string message;
  // The non-negative solve of the linear step succeeded (true when it solved nothing).
  bool amplitudesSolved = true;
  // What the linear step solved (the amplitudes in their reported form, the
  // baseline, the buffer's signal).
  LinearStepResult linear;
  // The computation ran to its end (FinishModelComputation): its rows and the
  // step's values stand, complete when the status is Computed.
  bool finished = false;
  bool ok() const { return status == ModelStatus::Computed && amplitudesSolved; }
};
// Merges the status of one species into that of the computation: an interrupt
// outranks a failure, a failure outranks success.
void MergeModelStatus(ModelResult& result, ModelStatus species);

// Opens the nonlinear-detection bracket: the data and fit arrays show the
// transformed domain while the model is computed.
void OpenDetectionBracket();
// Closes it: the new fit is carried into both domains, then the domain the user
// chose is shown again.
void CloseDetectionBracket();

// The message of a computation refused for an unset cell.
inline constexpr const char* kSetMeniscusAndBottomText = "set Meniscus and Bottom first";
inline constexpr const char* kNonFiniteModelText =
    "the model holds values that are not finite numbers (a sedimentation or diffusion "
    "coefficient far outside the physical range?) - nothing was computed";
// False when meniscus or bottom is 0: the result is NotStarted with the message
// kSetMeniscusAndBottomText (shown by the command); also when the fitting limits
// leave no range (FitLimitsRefusal).
bool CheckMeniscusAndBottom(ModelResult& result, float meniscus, float bottom);
// False when a step control of the Lamm solutions (max dc/c, points per sigma) is
// not a number within its range, whatever door set it (a step of 0 would never
// end): the result is NotStarted with a message that names the value and its
// range (shown by the command).
bool CheckStepControls(ModelResult& result);
// Invalidates the main window (not in batch mode).
void RepaintMain(Window* window);
// The computed profiles go to the fit rows on the scans' own radii, unless the
// amplitudes or the noise are solved linearly (or a continuous model is on), which
// need the signal tables on the common grid. While a computation runs, its input's
// switches decide (SignalDestinationScope), otherwise the analysis'.
bool SignalToFitRows();
// The same switches alone: the amplitudes or the noise are solved linearly.
bool SignalToTables();
// The destination of a computation's signals, from its linear step's switches,
// for the computation's lifetime (the one before is restored after it).
class SignalDestinationScope {
 public:
  explicit SignalDestinationScope(const LinearStepInput& step);
  ~SignalDestinationScope();
  SignalDestinationScope(const SignalDestinationScope&) = delete;
  SignalDestinationScope& operator=(const SignalDestinationScope&) = delete;
  // The step's switches changed (the computation turned the linear solve off).
  static void Update(const LinearStepInput& step);

 private:
  int before_;
};
// Slot k has a signal table for every scan on an existing common grid.
bool HasSignalTable(int k);
// Makes the signal tables when an included slot among 1..lastSlot whose signal goes
// to the tables has none: a slot included after the tables were made (by a dropped
// parameter file or a reloaded fit, say) would otherwise add nothing to the model,
// or its solution would fail without a reason. False, with the failure said and
// merged into result, when they cannot be made.
bool MakeMissingSignalTables(ModelResult& result, const LinearStepInput& step, int lastSlot);
// Sets the fit rows of display positions first..nScans to 0.
void ZeroFitRows(int first);
// Sets every row of the signal table of slot k to 0 (a table that a failed or
// interrupted solution does not reach must not keep an earlier evaluation's signal).
void ZeroSpeciesSignal(int k);

// D of slot k in cm^2/s, made positive: the entered D (1e-7 cm^2/s) x 1e-7, or
// under "fit M and s" s 1e-13 R T / ((1 - vbar rho) M), a mass <= 0 taken as 1e-10.
double SpeciesDiffusion(int k);
// The same from s (S) and the slot's second value.
double DiffusionFromMassOrD(double s, double massOrD);

// A closed-form signal of slot k for every modelled scan (display positions
// iFirstModelScan..nScans): profile(scan, time, x, out, n) fills out[1..n] at the
// abscissae x[1..n]; on the scan's own abscissae it is added to the scan's fit row
// (through its work row), or, when the signal goes to the tables
// (!SignalToFitRows()), it is written on the common grid into slot k's table.
template <class Profile>
void ClosedFormSignal(int k, Profile profile) {
  const bool toFit = SignalToFitRows();
  for (int p = ModelSteps().iFirstModelScan; p <= DataSet().nScans; ++p) {
    const int s = DataSet().pScanOrder[static_cast<std::size_t>(p)];
    const std::size_t i = static_cast<std::size_t>(s);
    const double t = DataSet().pScanInfo[i].time;
    if (toFit) {
      float* work = DataSet().ppWork[i];
      profile(s, t, DataSet().ppRadius[i], work, DataSet().pnPoints[i]);
      for (int j = 1; j <= DataSet().pnPoints[i]; ++j) DataSet().ppFit[i][j] += work[j];
    } else if (HasSignalTable(k)) {
      profile(s, t, CurrentGrid().pGridRadius, CurrentGrid().pppSpeciesSignal[k][i], CurrentGrid().nGridPoints);
    }
  }
}

// Turns the model absorbance of scans first..nScans (display positions) into sample
// intensity against the reference intensity of the third column:
// v -> 10^(-v) x third = exp(-2.30258509 v) x third.
void AbsorbanceToIntensity(int first);

// Copies of the fit rows of display positions first..nScans, put back by Restore.
struct FitRowSnapshot {
  std::vector<std::vector<float>> rows;
  void Take(int first);
  void Restore() const;
};

// The fit on show before a Run of the model: the fit rows of every scan, the TI and
// RI noise, the baseline, the parameters (the linear step rewrites amplitudes and
// baseline) and bModelComputed with the data it was computed for. A Run that ends without a computed model (a failed
// or non-finite solution, an interrupt) puts it back, so that the last fit stays on
// show; with the nonlinear-detection transform both domains follow.
class LastModelFit {
 public:
  LastModelFit();
  void PutBack() const;

 private:
  FitRowSnapshot rows_;
  std::vector<float> ti_, ri_, params_;
  float baseline_ = 0.0f;
  bool computed_ = false;
  LoadedDataStamp computedFor_;
};

// The tail of a computation: the linear amplitude step of step (the variant its
// switches choose; what it solved into result.linear), the detection bracket
// closed, intensity data transformed for the scans from display position first on,
// a result with values that are not finite made Failed, result.finished, and the
// repaint with bLiveDisplay. Whether the analysis holds a computed model is the
// caller's to say (the model computation's door).
void FinishModelComputation(Window* window, ModelResult& result, int first, const LinearStepInput& step);

}  // namespace tarmic
