// The buffer-mismatch model ("buffer sedimentation"): in interference optics the
// reference sector holds buffer, and a buffer that differs from the sample's, or a
// small buffer component (salt, sugar, detergent) that sediments measurably, adds
// a slowly sedimenting signal to the macromolecular boundary. The model adds it:
// one sedimenting buffer component in the sample sector and one in the reference
// sector, each a Lamm equation solution of its own on an equidistant grid of its
// own, the reference one with the opposite sign. The buffer component adds signal
// only; it changes neither the density nor the viscosity the macromolecules see.
//
// Units: s in svedberg (S); the entered D in 1e-7 cm^2/s, the solver's D in
// cm^2/s; Mb is the buoyant molar mass M (1 - vbar rho) in g/mol; radii in cm;
// signals in the data's own units (fringes for interference data); times in s.
// Grids and profiles are one-based arrays [1..N].
//
// The model lives in the user-interface thread (it reads and writes the scan data
// set and the model parameters).
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <vector>

#include "propagators/sim_run.h"
#include "resources/command_ids.h"

namespace tarmic {

class Window;

// The menu item of the model (check mark while it is on); its accelerator is Ctrl+B.

// The settings of the model, edited by the "Buffer Mismatch" dialog. The switch of
// the model is bBufferSedCorrection (modelfit/model_flags.h).
struct BufferSedSettings {
  bool excessInSample = true;       // the entered buffer signal was >= 0
  bool excessInReference = false;   // ... was < 0
  double signalSign = 1.0;          // +1 or -1, from the sign of the entered signal
  double sampleD = 86.0;            // sample-side buffer D, 1e-7 cm^2/s
  double sampleMb = 60.0;           // sample-side buffer Mb, g/mol
  double sampleS = 0.21;            // sample-side buffer s, S
  double signal = 30.0;             // loading signal of the buffer component, a magnitude (>= 0)
  double relativeConc = 1.0;        // sample/reference concentration ratio of the component (> 0)
  bool differentReference = false;  // "different buffer in reference"
  double refD = 200.0;              // reference buffer D, 1e-7 cm^2/s
  double refMb = 100.0;             // reference buffer Mb, g/mol
  double refS = 0.1;                // reference buffer s, S
  // Values the nonlinear fits float (D stands for Mb under bFitMAndS).
  bool fitSampleD = false;
  bool fitSampleS = false;
  bool fitSignal = true;
  bool fitMeniscusDifference = false;
  bool fitRelativeConc = false;
  bool fitRefD = false;
  bool fitRefS = false;
  bool interferenceNoteShown = false;  // the note on non-interference data was shown (once a run)
  int gridPoints = 200;                // nodes of the buffer-component grid
};
// The state of this module in an analysis (numerics/analysis.h).
struct BufferSedimentationState {
  BufferSedSettings BufferSed{};

  // "with meniscus mismatch": the reference sector's meniscus differs from the
  // sample's by the meniscus difference; with the model on, the reference-meniscus
  // marker is shown.
  bool bMeniscusMismatch = false;
  // Subtraction mode: the buffer profiles are subtracted from the measured data.
  bool bSubtractBufferMismatch = false;
};
// The current analysis' BufferSedimentationState.
inline BufferSedimentationState& BufferSedimentation() { return CurrentPart<BufferSedimentationState>(); }

// The meniscus difference (s-r), cm: the reference meniscus lies at fMeniscus minus
// it. The reference-meniscus marker of the main window keeps the number; start-up
// binds it here, so that marker, dialog and computation share it. Unbound (tests,
// a null pointer) it is a value of this module, 0.1 cm at start.
double& MeniscusDifference();
void BindMeniscusDifference(double* difference);

// Compatibility of the model with the active model and data. Refuses (message
// "buffer sedimentation model is incompatible with this model\nswitching buffer
// sedimentation off", model off, false) the models it cannot be combined with;
// otherwise shows the note on non-interference data once a program run, prepares
// species slot 4 of the discrete-species model for the buffer component, forces
// the fit of the buffer signal for a continuous model without both noise fits, and
// returns true. window receives the menu check mark (null: none).
bool CheckBufferSedimentationModel(Window* window);
// Removes the check mark of the menu item and frees species slot 4 of the
// discrete-species model (inclusion and fit flags).
void SwitchOffBufferSedimentation(Window* window);
// Fit flags of the species slots after the fit flag of the buffer signal changed
// or the model was switched on, then the linear-fit switches, the parameter
// vector and the species signal arrays are refreshed.
void SetBufferComponentFitFlags();

// One solve of a buffer component: a closed cell, uniformly loaded.
struct BufferComponentRun {
  double D = 0.0;          // cm^2/s (> 0)
  double s = 0.0;          // S
  double meniscus = 0.0;   // cm: the pass's meniscus
  double bottom = 0.0;     // cm
  double amplitude = 0.0;  // loading value; 0 computes nothing
  int gridPoints = 200;    // N nodes, equidistant
  double rpm = 0.0;        // rotor speed at speed, rpm
  // Rotor acceleration from rest at accelRate (rpm/s) until accelEnd (s); only
  // with ramp, and only when accelEnd is at least 10 s.
  bool ramp = false;
  double accelEnd = 0.0;
  double accelRate = 0.0;
  std::vector<double> scanTimes;  // output times in ascending order, s
};
// Receives the profile c[1..n] on the grid r[1..n] at scanTimes[scan] (0-based).
using BufferProfileRecord = std::function<void(int scan, const double* r, const double* c, int n)>;

// Crank-Nicolson steps of M dc/dt = A c on the component's grid, with the step
// length adapted to a largest relative change of 1 per step (aim 0.2) and landing
// on every scan time. The run ends after the last scan; when the profile is
// stationary (eleven steps of at least 30 s changing by less than 1e-6 per second)
// the remaining scans receive the final profile. A key press (CheckKeyPress) sets
// bUserAbort and ends the run; an interrupt set before is kept (the run ends at
// once). Outcomes: Singular ("singular tridiagonal matrix in buffer
// sedimentation!"), Diverged (more than 10 rejected trials of one step, "discretization
// error in buffer sedimentation"), NotAllocated, InvalidInput, Interrupted.
SimOutcome SolveBufferComponent(const BufferComponentRun& run, const BufferProfileRecord& record);

// Where the continuous-distribution engine takes the buffer profiles: the kernel
// of its grid point 1, stored by the sample pass and added by the reference pass.
using BufferKernelStore =
    std::function<void(int scan, const double* r, const double* v, int n, bool add)>;

// Checks the model (CheckBufferSedimentationModel), derives the working values
// (stored back into BufferSed), solves the sample and the reference component and
// routes the profiles (sample +sign c, reference -sign c) for every scan in
// display order: subtracted from the measured data in subtraction mode; into the
// kernels for a continuous model (kernels must be given then); added to the fit
// values for fixed amplitudes without noise fits; else into the species signal
// table of iCurrentSpecies on the common grid. Returns the first failure; nothing
// is shown (the caller shows the outcome). An incompatible model returns Ok after
// its message, having computed nothing.
SimOutcome CalculateBufferSedimentation(Window* window, const BufferKernelStore& kernels = {});

// Restores the settings and switches of this module to their defaults (tests).
void ResetBufferSedimentation();

}  // namespace tarmic
