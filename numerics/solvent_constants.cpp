// The solvent, frictional-ratio and mass-relation settings.
#include "numerics/solvent_constants.h"

namespace tarmic {

void ResetSolventConstants() {
  SolventConstants().VBAR = 0.73f;
  SolventConstants().VBAR20 = 0.73f;
  SolventConstants().fBufferDensity = 1.0f;
  SolventConstants().fVRho = 0.73f;
  SolventConstants().RELVISCOSITY = 1.0f;
  SolventConstants().fFrictionalRatio = 1.2f;
  SolventConstants().dVbarOffset = 1.04248;
  SolventConstants().dVbarIncrement = 0.01909;
  SolventConstants().nVbarMassScale = 8;
  SolventConstants().dSPowerLawA = 0.0159;
  SolventConstants().dSPowerLawB = 0.47;
  SolventConstants().fScalingKs = 0.003f;
  SolventConstants().fScalingExponent = 0.667f;
  SolventConstants().fWormPersistenceLength = 36.0f;
  SolventConstants().fWormCrossSection = 23.0f;
  SolventConstants().fWormMonomerMass = 9000.0f;
  SolventConstants().fWormHydration = 0.4f;
}

}  // namespace tarmic
