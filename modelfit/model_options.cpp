#include "modelfit/model_options.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <iterator>

namespace tarmic {

void ResetModelOptions() {
  auto& modelOptionsPart = ModelOptions();
  modelOptionsPart.bFinalProfileToFit = false;
  modelOptionsPart.fS1 = modelOptionsPart.fD1 = modelOptionsPart.fS2 = modelOptionsPart.fD2 = 0.0f;
  modelOptionsPart.fAssocLogK = modelOptionsPart.fAssocLoading = 0.0f;
  modelOptionsPart.fOligoS1 = modelOptionsPart.fOligoS2 = modelOptionsPart.fOligoS3 = 0.0f;
  modelOptionsPart.fOligoD1 = modelOptionsPart.fOligoD2 = modelOptionsPart.fOligoD3 = 0.0f;
  modelOptionsPart.fAssocLogKa = modelOptionsPart.fAssocLogKb = 0.0f;
  modelOptionsPart.fLogKs = -8.0f;
  modelOptionsPart.fLogKd = -8.0f;
  modelOptionsPart.bRepulsiveNonideality = true;
  modelOptionsPart.bDimerNonideal = false;
  modelOptionsPart.bCosoluteCoefficients = false;
  modelOptionsPart.bCsClCoefficients = false;
  modelOptionsPart.bC1Nonideal = false;
  std::fill(std::begin(modelOptionsPart.fNonidealExtinction), std::end(modelOptionsPart.fNonidealExtinction), 1.0f);
  modelOptionsPart.fNonidealExtinction[0] = 0.0f;
  modelOptionsPart.bSyntheticBoundary = false;
  modelOptionsPart.fLamellaWidth = 0.1f;
  modelOptionsPart.bZoneInverseLayer = false;
  modelOptionsPart.fElectroLength = 0.0f;
  std::fill(std::begin(modelOptionsPart.pModelScalar), std::end(modelOptionsPart.pModelScalar), 0.0f);
  std::fill(std::begin(modelOptionsPart.pModelScalarFit), std::end(modelOptionsPart.pModelScalarFit), 0);
  modelOptionsPart.bFitLamellaWidth = 0;
  modelOptionsPart.fTimeOffset = 0.0f;
  modelOptionsPart.bTimeOffset = 0;
  std::fill(std::begin(modelOptionsPart.pExtraPairValue), std::end(modelOptionsPart.pExtraPairValue), 0.0f);
  std::fill(std::begin(modelOptionsPart.pExtraPairFit), std::end(modelOptionsPart.pExtraPairFit), 0);
  modelOptionsPart.bScalingLawNoDiffusion = false;
  modelOptionsPart.bCalibrateScalingLaw = false;
  modelOptionsPart.bSlideFrame = false;
  modelOptionsPart.bFitBoundaryFractions = false;
  modelOptionsPart.bParamsDialogOpened = false;
}

}  // namespace tarmic
