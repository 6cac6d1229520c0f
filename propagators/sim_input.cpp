#include "propagators/sim_input.h"

#include <algorithm>
#include <string>

#include "lamm/lamm_globals.h"
#include "lamm/rotor_ramp.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "numerics/solvent_constants.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"
#include "scandata/data_set.h"

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

SimSolvent CurrentSimSolvent() {
  auto& dataSetPart = DataSet();
  SimSolvent solvent;
  solvent.st = SolventSettings().gInhomSolvent;
  solvent.vbar = SolventConstants().VBAR;
  solvent.compressionRpm = dataSetPart.nScans >= 1 && dataSetPart.pScanInfo.size() > 1 ? dataSetPart.pScanInfo[1].rpm : SimRun().dFinalRpm;
  solvent.zoneCentrifugation = ModelFlags().bZoneCentrifugation;
  solvent.lamellaWidth = ModelOptions().fLamellaWidth;
  return solvent;
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

}  // namespace tarmic
