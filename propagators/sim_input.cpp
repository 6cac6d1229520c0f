#include "propagators/sim_input.h"

#include <algorithm>
#include <string>

#include "lamm/lamm_globals.h"
#include "lamm/rotor_ramp.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/sim_arrays.h"
#include "propagators/static_grid_propagator.h"

namespace tarmic {

double RotorSpeedAtTime(const SimRotor& rotor, double t, double dt, bool* accelerating) {
  return RampRotorSpeed(t, dt, rotor.accelEndTime, rotor.accelRate, rotor.finalRpm, accelerating);
}

double ClampStepToRotor(const SimRotor& rotor, double t, double dt, bool ramp, bool accelerating,
                        bool cutToEnd, bool* cut) {
  if (!ramp || !accelerating) return dt;
  dt = std::min(dt, rotor.accelDtMax);
  if (cutToEnd && t + dt > rotor.accelEndTime) {
    dt = rotor.accelEndTime - t;
    if (cut) *cut = true;
  }
  return dt;
}

SimRotor CurrentSimRotor() {
  const auto& run = SimRun();
  SimRotor rotor;
  rotor.finalRpm = run.dFinalRpm;
  rotor.accelRate = run.dAccelRate;
  rotor.accelEndTime = run.dAccelEndTime;
  rotor.accelDtMax = run.dAccelDtMax;
  return rotor;
}

SimGeometry CurrentSimGeometry() {
  const auto& lamm = LammGlobals();
  SimGeometry g;
  g.linear = lamm.bLinearGeometry;
  g.planarQuadrature = lamm.bPlanarQuadrature;
  g.externalLoadingCell = lamm.bExternalLoadingCell;
  g.electrophoresis = lamm.bElectrophoresis;
  return g;
}

SimInput CurrentSimInput(const SimRunSettings& settings, const SimSpecies& species) {
  SimInput input;
  input.settings = settings;
  input.species = species;
  input.rotor = CurrentSimRotor();
  input.geometry = CurrentSimGeometry();
  if (settings.inhomogeneousSolvent) input.solvent = CurrentSimSolvent();
  return input;
}

// The forms that take the settings and species alone: the rotor and geometry of the
// current analysis.
SimOutcome SolveLammClaverie(const SimRunSettings& settings, const SimSpecies& species,
                             SimProgress& progress) {
  if (!SimArraysMatchModel()) return {SimStatus::NotAllocated, kSimArraysMissingText};
  return SolveLammClaverie(CurrentSimInput(settings, species), progress);
}

SimOutcome SolveLammMovingHat(const SimRunSettings& settings, const SimSpecies& species,
                              SimProgress& progress) {
  return SolveLammMovingHat(CurrentSimInput(settings, species), progress);
}

bool CurrentNonidealInput(const SimRunSettings& settings, bool movingHat,
                          const CoefficientConstants* constants, SimInput* input, SimOutcome* refused) {
  *input = CurrentSimInput(settings, {});
  if (constants) {
    input->coefficients = *constants;
    return true;
  }
  if (!NonidealRunCanStart(settings, movingHat, refused)) return false;
  std::string message;
  if (!PrepareCoefficientModel(&input->coefficients, &message)) {
    refused->status = SimStatus::InvalidInput;
    refused->message = message;
    return false;
  }
  return true;
}

}  // namespace tarmic
