// What a propagator is given: the values of one solve, taken from the analysis once
// by the caller and passed down, so that the propagator reads no part of the
// analysis for them (no DataSet(), LammSettings(), ModelFlags(), LammGlobals(), no
// rotor fields of the run state).
//
// What stays shared is the run's working state the caller prepares and the
// propagator advances (sim_run.h): the profile and grid in the simulation arrays,
// the clock, the step and error limits, the current rotor speed and whether the
// rotor still accelerates. The scan times are the progress' (ScanTimeRecorder).
#pragma once

#include "propagators/buffer_values.h"
#include "propagators/coefficient_models.h"
#include "propagators/reacting_values.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_values.h"

namespace tarmic {

// The rotor of a run: the final speed and the linear acceleration that reaches it.
struct SimRotor {
  double finalRpm = 10000.0;   // rpm
  double accelRate = 0.0;      // rpm/s
  double accelEndTime = 0.0;   // end of the acceleration, s
  double accelDtMax = 1.0;     // largest step while accelerating, s
};

// The special cell geometries (one at a time; none: the sector-shaped cell).
struct SimGeometry {
  bool linear = false;               // planar cell
  bool planarQuadrature = false;     // planar cell integrated numerically
  bool externalLoadingCell = false;
  bool electrophoresis = false;      // electrophoresis in a planar cell
  bool Special() const { return linear || planarQuadrature || externalLoadingCell || electrophoresis; }
};

struct SimInput {
  SimRunSettings settings;  // meniscus, bottom, fitting limits, Lamm settings, per-species retries
  SimSpecies species;       // s (S) and D (cm^2/s)
  SimRotor rotor;
  SimGeometry geometry;
  // The concentration-dependent propagators: the model's constants (the node
  // coefficients' law), prepared by the caller (PrepareCoefficientModel).
  CoefficientConstants coefficients;
  // The inhomogeneous solvent (read only when settings.inhomogeneousSolvent is on).
  SimSolvent solvent;
  // The reacting system A + B <--> AB (SolveReactingLamm of reacting_solve.h).
  ReactingValues reacting;
  // The buffer-mismatch computation (CalculateBufferSedimentation of buffer_component.h).
  BufferSedInput buffer;
};

// Rotor speed for a step from t to t + dt while the rotor accelerates (rms of the
// linear ramp at both ends, at most the final speed); the final speed, with
// *accelerating cleared, once t reaches the end of the acceleration or when the
// acceleration lasts under 10 s. As SimRotorSpeedAtTime, on the given rotor.
double RotorSpeedAtTime(const SimRotor& rotor, double t, double dt, bool* accelerating);

// Shortens a step while the rotor accelerates: to the rotor's accelDtMax, and (when
// cutToEnd) so that it does not pass the end of the acceleration; *cut is set when
// it was cut to the end. Nothing when ramp is off or accelerating is false.
double ClampStepToRotor(const SimRotor& rotor, double t, double dt, bool ramp, bool accelerating,
                        bool cutToEnd, bool* cut);

// The message of a solve whose simulation arrays are missing or were made for
// another model.
inline constexpr const char* kSimArraysMissingText = "could not allocate Lamm simulation arrays";

// Records the cell ends of a moving-grid solve: MoveHatGrid places the end nodes of
// the real grid there (the data set's meniscus and bottom until a solve set them;
// ResetSimArrays forgets them).
void SetHatCellEnds(double meniscus, double bottom);

// ---- the caller's side: the values taken from the current analysis ----
// The rotor as the caller set it up in the run state (SetUpRotorRamp and the start
// of a solve).
SimRotor CurrentSimRotor();
// The geometry switches of the Lamm settings.
SimGeometry CurrentSimGeometry();
// settings and species with the rotor, geometry and (when settings.inhomogeneousSolvent
// is on) the solvent of the current analysis.
SimInput CurrentSimInput(const SimRunSettings& settings, const SimSpecies& species);

}  // namespace tarmic
