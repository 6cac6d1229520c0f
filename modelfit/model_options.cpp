#include "modelfit/model_options.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <iterator>

namespace tarmic {

void ResetModelOptions() {
  ModelOptions().bFinalProfileToFit = false;
  ModelOptions().fS1 = ModelOptions().fD1 = ModelOptions().fS2 = ModelOptions().fD2 = 0.0f;
  ModelOptions().fAssocLogK = ModelOptions().fAssocLoading = 0.0f;
  ModelOptions().fOligoS1 = ModelOptions().fOligoS2 = ModelOptions().fOligoS3 = 0.0f;
  ModelOptions().fOligoD1 = ModelOptions().fOligoD2 = ModelOptions().fOligoD3 = 0.0f;
  ModelOptions().fAssocLogKa = ModelOptions().fAssocLogKb = 0.0f;
  ModelOptions().fLogKs = -8.0f;
  ModelOptions().fLogKd = -8.0f;
  ModelOptions().bRepulsiveNonideality = true;
  ModelOptions().bDimerNonideal = false;
  ModelOptions().bCosoluteCoefficients = false;
  ModelOptions().bCsClCoefficients = false;
  ModelOptions().bC1Nonideal = false;
  std::fill(std::begin(ModelOptions().fNonidealExtinction), std::end(ModelOptions().fNonidealExtinction), 1.0f);
  ModelOptions().fNonidealExtinction[0] = 0.0f;
  ModelOptions().bSyntheticBoundary = false;
  ModelOptions().fLamellaWidth = 0.1f;
  ModelOptions().bZoneInverseLayer = false;
  ModelOptions().fElectroLength = 0.0f;
  std::fill(std::begin(ModelOptions().pModelScalar), std::end(ModelOptions().pModelScalar), 0.0f);
  std::fill(std::begin(ModelOptions().pModelScalarFit), std::end(ModelOptions().pModelScalarFit), 0);
  ModelOptions().bFitLamellaWidth = 0;
  ModelOptions().fTimeOffset = 0.0f;
  ModelOptions().bTimeOffset = 0;
  std::fill(std::begin(ModelOptions().pExtraPairValue), std::end(ModelOptions().pExtraPairValue), 0.0f);
  std::fill(std::begin(ModelOptions().pExtraPairFit), std::end(ModelOptions().pExtraPairFit), 0);
  ModelOptions().bScalingLawNoDiffusion = false;
  ModelOptions().bCalibrateScalingLaw = false;
  ModelOptions().bSlideFrame = false;
  ModelOptions().bFitBoundaryFractions = false;
  ModelOptions().bParamsDialogOpened = false;
}

}  // namespace tarmic
