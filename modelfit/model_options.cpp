#include "modelfit/model_options.h"

#include <algorithm>
#include <iterator>

namespace tarmic {

bool bFinalProfileToFit = false;
float fS1 = 0.0f, fD1 = 0.0f;
float fS2 = 0.0f, fD2 = 0.0f;
float fAssocLogK = 0.0f;
float fAssocLoading = 0.0f;
float fOligoS1 = 0.0f, fOligoS2 = 0.0f, fOligoS3 = 0.0f;
float fOligoD1 = 0.0f, fOligoD2 = 0.0f, fOligoD3 = 0.0f;
float fAssocLogKa = 0.0f, fAssocLogKb = 0.0f;
float fLogKs = -8.0f;
float fLogKd = -8.0f;
bool bRepulsiveNonideality = true;
bool bDimerNonideal = false;
bool bCosoluteCoefficients = false;
bool bCsClCoefficients = false;
bool bC1Nonideal = false;
float fNonidealExtinction[4] = {0.0f, 1.0f, 1.0f, 1.0f};
bool bSyntheticBoundary = false;

float fLamellaWidth = 0.1f;
bool bZoneInverseLayer = false;

float fElectroLength = 0.0f;

float pModelScalar[4] = {};
int pModelScalarFit[4] = {};
int bFitLamellaWidth = 0;
float fTimeOffset = 0.0f;
int bTimeOffset = 0;
float pExtraPairValue[11] = {};
int pExtraPairFit[11] = {};

bool bScalingLawNoDiffusion = false;
bool bCalibrateScalingLaw = false;
bool bSlideFrame = false;
bool bFitBoundaryFractions = false;

bool bParamsDialogOpened = false;

void ResetModelOptions() {
  bFinalProfileToFit = false;
  fS1 = fD1 = fS2 = fD2 = 0.0f;
  fAssocLogK = fAssocLoading = 0.0f;
  fOligoS1 = fOligoS2 = fOligoS3 = 0.0f;
  fOligoD1 = fOligoD2 = fOligoD3 = 0.0f;
  fAssocLogKa = fAssocLogKb = 0.0f;
  fLogKs = -8.0f;
  fLogKd = -8.0f;
  bRepulsiveNonideality = true;
  bDimerNonideal = false;
  bCosoluteCoefficients = false;
  bCsClCoefficients = false;
  bC1Nonideal = false;
  std::fill(std::begin(fNonidealExtinction), std::end(fNonidealExtinction), 1.0f);
  fNonidealExtinction[0] = 0.0f;
  bSyntheticBoundary = false;
  fLamellaWidth = 0.1f;
  bZoneInverseLayer = false;
  fElectroLength = 0.0f;
  std::fill(std::begin(pModelScalar), std::end(pModelScalar), 0.0f);
  std::fill(std::begin(pModelScalarFit), std::end(pModelScalarFit), 0);
  bFitLamellaWidth = 0;
  fTimeOffset = 0.0f;
  bTimeOffset = 0;
  std::fill(std::begin(pExtraPairValue), std::end(pExtraPairValue), 0.0f);
  std::fill(std::begin(pExtraPairFit), std::end(pExtraPairFit), 0);
  bScalingLawNoDiffusion = false;
  bCalibrateScalingLaw = false;
  bSlideFrame = false;
  bFitBoundaryFractions = false;
  bParamsDialogOpened = false;
}

}  // namespace tarmic
