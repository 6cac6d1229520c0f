#include "modelfit/lamm_settings.h"

#include <cmath>
#include <cstddef>

#include "numerics/cvector.h"
#include "numerics/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/path_table.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

float fAutoAlgorithmS = 5.0f;
float fAutoAlgorithmSOptimized = 60.0f;
bool bAutoFEAlgorithm = true;
bool bClaverie = false;
bool bMovingHat = true;

int nDefaultGridPoints = 1000;
int nLammGridPoints = 1000;
bool bAutoGridSize = true;
float fPointsPerSigma = 5.0f;
int nGridSizeUpper = 2000;
int nGridSizeLower = 75;

bool bOptimizeStaticGrid = true;
bool bTruncateGrid = true;
double dTruncationLevel = 1e-6;
bool bAutoSGrid = true;
double dAutoSGridValue = 0.0;
bool bShutOffBackDiffusion = true;
double dBackDiffusionLevel = 1e-4;

bool bFixTimeStep = false;
double dInitialDt = 1.0;
double dMaxDcOverC = 1.0;
double dMaxDcOverCRef = 1.0;
double dMaxDcOverCLow = 0.1;
double dMaxDcOverCHigh = 0.5;

float fRefitTolerance = 0.01f;

bool bCheckAcceleration = true;

float fScanVelocity = 2.43f;
bool bSimulateRadialResolution = false;
float fRadialConvolutionRange = 0.008f;

void ResetLammSettings() {
  fAutoAlgorithmS = 5.0f;
  fAutoAlgorithmSOptimized = 60.0f;
  bAutoFEAlgorithm = true;
  bClaverie = false;
  bMovingHat = true;
  nDefaultGridPoints = 1000;
  nLammGridPoints = 1000;
  bAutoGridSize = true;
  fPointsPerSigma = 5.0f;
  nGridSizeUpper = 2000;
  nGridSizeLower = 75;
  bOptimizeStaticGrid = true;
  bTruncateGrid = true;
  dTruncationLevel = 1e-6;
  bAutoSGrid = true;
  dAutoSGridValue = 0.0;
  bShutOffBackDiffusion = true;
  dBackDiffusionLevel = 1e-4;
  bFixTimeStep = false;
  dInitialDt = 1.0;
  dMaxDcOverC = 1.0;
  dMaxDcOverCRef = 1.0;
  dMaxDcOverCLow = 0.1;
  dMaxDcOverCHigh = 0.5;
  fRefitTolerance = 0.01f;
  bTimesFromW2t = false;
  bRampRotorSpeed = true;
  bCheckAcceleration = true;
  bExperimentalInitialDistribution = false;
  bConstantInitialDistribution = true;
  bSimulateTimeResolution = false;
  fScanVelocity = 2.43f;
  bSimulateRadialResolution = false;
  fRadialConvolutionRange = 0.008f;
}

namespace {

void DebugLog(Window* window, const char* text) {
  if (GetDataSetHooks().writeDebugLog) GetDataSetHooks().writeDebugLog(window, text);
}

float Switch(bool on) { return on ? 1.0f : 0.0f; }

// Reading back: a value in range replaces the setting, anything else leaves it.
// The ranges are those the dialog accepts: finite, and not negative where the
// dialog asks for a positive entry.
void ReadFloat(float v, float& setting) {
  if (std::isfinite(v)) setting = v;
}
void ReadPositiveFloat(float v, float& setting) {
  if (std::isfinite(v) && v >= 0.0f) setting = v;
}
void ReadPositiveDouble(float v, double& setting) {
  if (std::isfinite(v) && v >= 0.0f) setting = v;
}
// Levels that must stay above 0 (a level written with "%f" below 5e-7 reads as 0,
// which would switch the test it belongs to off): the setting stays then.
void ReadLevel(float v, double& setting) {
  if (std::isfinite(v) && v > 0.0f) setting = v;
}
void ReadSwitch(float v, bool& setting) {
  if (std::isfinite(v)) setting = v > 0.0f;
}

}  // namespace

std::string LammGridSettingsRefusal(double pointsPerSigma, double defaultSize, double lower,
                                    double upper) {
  if (!PointsPerSigmaUsable(pointsPerSigma))
    return Format("\"points per sigma\" %g must be above 0 and at most %g", pointsPerSigma,
                  static_cast<double>(kMaxPointsPerSigma));
  const struct {
    const char* label;
    double value;
  } sizes[] = {{"default FE grid size", defaultSize}, {"lower limit", lower}, {"upper limit", upper}};
  for (const auto& size : sizes)
    if (!GridSizeUsable(size.value))
      return Format("\"%s\" %g must be %d to %d grid points", size.label, std::floor(size.value),
                    kMinLammGridPoints, kMaxLammGridPoints);
  if (std::floor(lower) > std::floor(upper))
    return Format("the \"lower limit\" %g of the grid size must not be above its \"upper limit\" %g",
                  std::floor(lower), std::floor(upper));
  return std::string();
}

void TakeLammGridSettings(double pointsPerSigma, double defaultSize, double lower, double upper) {
  if (PointsPerSigmaUsable(pointsPerSigma)) fPointsPerSigma = static_cast<float>(pointsPerSigma);
  if (GridSizeUsable(defaultSize)) nDefaultGridPoints = static_cast<int>(std::floor(defaultSize));
  int low = nGridSizeLower, high = nGridSizeUpper;
  if (GridSizeUsable(lower)) low = static_cast<int>(std::floor(lower));
  if (GridSizeUsable(upper)) high = static_cast<int>(std::floor(upper));
  if (low > high) return;
  nGridSizeLower = low;
  nGridSizeUpper = high;
}

int SaveLammEqParameterPreferences(Window* window) {
  DebugLog(window, "\nEnter SaveLammEqParameterPreferences");
  CVector v(kLammPreferenceCount, 1);
  float* p = v.MutableData();
  for (int i = 0; i < kLammPreferenceCount; ++i) p[i] = 0.0f;
  p[0] = fAutoAlgorithmS;
  p[1] = Switch(bShutOffBackDiffusion);
  p[2] = static_cast<float>(dBackDiffusionLevel);
  p[3] = Switch(bAutoGridSize);
  p[4] = static_cast<float>(nDefaultGridPoints);
  p[5] = fPointsPerSigma;
  p[6] = static_cast<float>(nGridSizeUpper);
  p[7] = static_cast<float>(nGridSizeLower);
  p[8] = Switch(bTimesFromW2t);
  p[9] = Switch(bAutoFEAlgorithm);
  p[10] = Switch(bFixTimeStep);
  p[11] = Switch(bClaverie);
  p[12] = Switch(bMovingHat);
  p[13] = Switch(bAutoSGrid);
  p[14] = static_cast<float>(dAutoSGridValue);
  p[15] = fRefitTolerance;
  p[16] = static_cast<float>(dMaxDcOverC);
  p[17] = fAutoAlgorithmSOptimized;
  p[18] = Switch(bOptimizeStaticGrid);
  p[19] = Switch(bExperimentalInitialDistribution);
  p[20] = Switch(bTruncateGrid);
  p[21] = static_cast<float>(std::log10(dTruncationLevel));
  p[22] = Switch(bSimulateTimeResolution);
  p[23] = Switch(bSimulateRadialResolution);
  p[24] = fScanVelocity;
  p[25] = fRadialConvolutionRange;
  p[26] = Switch(bCheckAcceleration);
  // Entries 27 to 30 are reserved and written as 0.
  const bool written = v.WriteToFile(szLammParamsIni.c_str());
  DebugLog(window, " --> done.");
  return written ? 1 : 0;
}

int ReadLammEqParameterPreferences(Window* window) {
  DebugLog(window, "\nEnter ReadLammEqParameterPreferences");
  if (szLammParamsIni.empty() || !FileExists(szLammParamsIni.c_str())) return 0;
  CVector v;
  v.ReadFromFile(szLammParamsIni.c_str());
  if (v.Length() < 30) return 0;
  const float* p = v.Data();
  ReadPositiveFloat(p[0], fAutoAlgorithmS);
  ReadSwitch(p[1], bShutOffBackDiffusion);
  ReadLevel(p[2], dBackDiffusionLevel);
  ReadSwitch(p[3], bAutoGridSize);
  TakeLammGridSettings(p[5], p[4], p[7], p[6]);
  if (std::isfinite(p[8])) {
    bTimesFromW2t = p[8] > 0.0f;
    bRampRotorSpeed = !bTimesFromW2t;
  }
  ReadSwitch(p[9], bAutoFEAlgorithm);
  ReadSwitch(p[10], bFixTimeStep);
  ReadSwitch(p[11], bClaverie);
  ReadSwitch(p[12], bMovingHat);
  ReadSwitch(p[13], bAutoSGrid);
  ReadPositiveDouble(p[14], dAutoSGridValue);
  ReadPositiveFloat(p[15], fRefitTolerance);
  ReadPositiveDouble(p[16], dMaxDcOverC);
  ReadFloat(p[17], fAutoAlgorithmSOptimized);
  ReadSwitch(p[18], bOptimizeStaticGrid);
  ReadSwitch(p[19], bExperimentalInitialDistribution);
  ReadSwitch(p[20], bTruncateGrid);
  // The truncation level 10^p[21] must be a positive finite number.
  if (std::isfinite(p[21])) {
    const double level = std::pow(10.0, static_cast<double>(p[21]));
    if (std::isfinite(level) && level > 0.0) dTruncationLevel = level;
  }
  ReadSwitch(p[22], bSimulateTimeResolution);
  ReadSwitch(p[23], bSimulateRadialResolution);
  ReadPositiveFloat(p[24], fScanVelocity);
  ReadPositiveFloat(p[25], fRadialConvolutionRange);
  if (v.Length() > 26) ReadSwitch(p[26], bCheckAcceleration);
  DebugLog(window, " --> done.");
  return 1;
}

LammDiscretizationSettings CurrentDiscretization() {
  LammDiscretizationSettings d;
  d.nMinGrid = nGridSizeLower;
  d.nMaxGrid = nGridSizeUpper;
  d.fPointsPerSigma = fPointsPerSigma;
  d.bMultiSpeciesNonideal = false;
  d.dBackDiffusionLevel = dBackDiffusionLevel;
  d.bShutOffBackDiffusionOption = bShutOffBackDiffusion;
  d.bOptimizeGrid = bOptimizeStaticGrid;
  d.bAutoGridSize = bAutoGridSize;
  d.fFf0 = 1.0f;
  d.bRampRotor = bRampRotorSpeed;
  d.bFixTimeStep = bFixTimeStep;
  d.dMovingFrameS = dAutoSGridValue;
  d.bAutoSGrid = bAutoSGrid;
  d.bAutoVariant = bAutoFEAlgorithm;
  d.dTolerance = dMaxDcOverC;
  d.dTolerance005 = 0.05 * dMaxDcOverC;
  d.dTolerance02 = 0.2 * dMaxDcOverC;
  d.dToleranceIn = dMaxDcOverC;
  d.nDefaultGrid = nDefaultGridPoints;
  d.bUseMovingHat = bMovingHat;
  d.bUseClaverie = bClaverie;
  d.dTruncateLevel = dTruncationLevel;
  d.bTruncateGrid = bTruncateGrid;
  d.dVariantThreshold = fAutoAlgorithmS;
  d.dVariantThresholdOpt = fAutoAlgorithmSOptimized;
  return d;
}

void SwitchOnTimesFromW2t(Window*) {
  SwitchOffRampRotorSpeed();
  bTimesFromW2t = true;
  if (bElectrophoresisMode || bDLSData) return;
  for (int i = 1; i <= nScans && static_cast<std::size_t>(i) < pScanInfo.size(); ++i) {
    ScanInfo& info = pScanInfo[static_cast<std::size_t>(i)];
    const double omega = static_cast<double>(info.rpm) * kTwoPiOver60;
    const double omega2 = omega * omega;
    if (omega2 > 0.0) info.time = info.omega2t / omega2;
  }
}

}  // namespace tarmic
