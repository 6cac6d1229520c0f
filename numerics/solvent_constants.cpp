// The solvent, frictional-ratio and mass-relation settings.
#include "numerics/solvent_constants.h"

namespace tarmic {

void ResetSolventConstants() {
  auto& solventConstantsPart = SolventConstants();
  solventConstantsPart.VBAR = 0.73f;
  solventConstantsPart.VBAR20 = 0.73f;
  solventConstantsPart.fBufferDensity = 1.0f;
  solventConstantsPart.fVRho = 0.73f;
  solventConstantsPart.RELVISCOSITY = 1.0f;
  solventConstantsPart.fFrictionalRatio = 1.2f;
  solventConstantsPart.dVbarOffset = 1.04248;
  solventConstantsPart.dVbarIncrement = 0.01909;
  solventConstantsPart.nVbarMassScale = 8;
  solventConstantsPart.dSPowerLawA = 0.0159;
  solventConstantsPart.dSPowerLawB = 0.47;
  solventConstantsPart.fScalingKs = 0.003f;
  solventConstantsPart.fScalingExponent = 0.667f;
  solventConstantsPart.fWormPersistenceLength = 36.0f;
  solventConstantsPart.fWormCrossSection = 23.0f;
  solventConstantsPart.fWormMonomerMass = 9000.0f;
  solventConstantsPart.fWormHydration = 0.4f;
}

}  // namespace tarmic
