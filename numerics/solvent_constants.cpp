// The solvent, frictional-ratio and mass-relation settings.
#include "numerics/solvent_constants.h"

namespace tarmic {

float VBAR = 0.73f;
float VBAR20 = 0.73f;
float fBufferDensity = 1.0f;
float fVRho = 0.73f;
float RELVISCOSITY = 1.0f;
float fFrictionalRatio = 1.2f;

double dVbarOffset = 1.04248;
double dVbarIncrement = 0.01909;
int nVbarMassScale = 8;
double dSPowerLawA = 0.0159;
double dSPowerLawB = 0.47;
float fScalingKs = 0.003f;
float fScalingExponent = 0.667f;

float fWormPersistenceLength = 36.0f;
float fWormCrossSection = 23.0f;
float fWormMonomerMass = 9000.0f;
float fWormHydration = 0.4f;

void ResetSolventConstants() {
  VBAR = 0.73f;
  VBAR20 = 0.73f;
  fBufferDensity = 1.0f;
  fVRho = 0.73f;
  RELVISCOSITY = 1.0f;
  fFrictionalRatio = 1.2f;
  dVbarOffset = 1.04248;
  dVbarIncrement = 0.01909;
  nVbarMassScale = 8;
  dSPowerLawA = 0.0159;
  dSPowerLawB = 0.47;
  fScalingKs = 0.003f;
  fScalingExponent = 0.667f;
  fWormPersistenceLength = 36.0f;
  fWormCrossSection = 23.0f;
  fWormMonomerMass = 9000.0f;
  fWormHydration = 0.4f;
}

}  // namespace tarmic
