#include "modelfit/lamm_settings.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <sstream>

#include "numerics/cvector.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/hydrodynamics.h"
#include "numerics/number_input.h"
#include "numerics/text_lines.h"
#include "services/path_table.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/plausibility.h"
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
bool On(float v) { return v > 0.0f; }

// The refusal of the lower and upper limit of the automatic grid size that cross.
std::string CrossedLimitsRefusal(double lower, double upper) {
  if (std::floor(lower) <= std::floor(upper)) return std::string();
  return Format("the \"lower limit\" %g of the grid size must not be above its \"upper limit\" %g",
                std::floor(lower), std::floor(upper));
}

}  // namespace

std::vector<float> LammSettingsVector() {
  std::vector<float> p(kLammPreferenceCount, 0.0f);
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
  return p;
}

std::string LammSettingsRefusal(const std::vector<float>& settings, int* refusedEntry) {
  const std::span<const FileEntry> rows = LammSettingsEntries();
  std::string why;
  for (std::size_t i = 0; i < settings.size() && i < rows.size() && why.empty(); ++i) {
    why = EntryRefusal(rows[i], settings[i]);
    if (!why.empty() && refusedEntry) *refusedEntry = static_cast<int>(i);
  }
  if (why.empty() && settings.size() > 7) {
    why = CrossedLimitsRefusal(settings[7], settings[6]);
    if (!why.empty() && refusedEntry) *refusedEntry = 7;
  }
  return why;
}

std::string LammSettingsRefusal() { return LammSettingsRefusal(LammSettingsVector()); }

void SetMaxDcOverC(double value) {
  dMaxDcOverC = dMaxDcOverCRef = value;
  dMaxDcOverCLow = 0.05 * value;
  dMaxDcOverCHigh = 0.2 * value;
}

int SaveLammEqParameterPreferences(Window* window) {
  DebugLog(window, "\nEnter SaveLammEqParameterPreferences");
  const std::vector<float> p = LammSettingsVector();
  CVector v(kLammPreferenceCount, 1);
  for (int i = 0; i < kLammPreferenceCount; ++i) v.MutableData()[i] = p[static_cast<std::size_t>(i)];
  const bool written = v.WriteToFile(szLammParamsIni.c_str());
  DebugLog(window, " --> done.");
  return written ? 1 : 0;
}

int ReadLammEqParameterPreferences(Window* window) {
  DebugLog(window, "\nEnter ReadLammEqParameterPreferences");
  if (szLammParamsIni.empty()) return 0;
  auto tell = [](const std::string& text) {
    RaiseBox(text, "LAMM EQUATION PARAMETERS", MB_OK | MB_ICONINFORMATION);
  };
  std::string text, why;
  if (!ReadPlainTextFile(szLammParamsIni, &text, &why)) {
    // A missing file says nothing; the defaults stand in for a pipe or a file that
    // is no plain text, and the next save of the settings writes it anew.
    if (why == kNotRegularFile || why.starts_with("the file is not plain text"))
      tell("the Lamm equation settings file " + szLammParamsIni + " is not read: " + why);
    return 0;
  }
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; ReadTextLine(in, &line);) lines.push_back(line);
  // Every line has its place: a blank line holds no number and keeps its setting;
  // a grid size holds a whole number ("1000.5" keeps the setting), a switch 0 or 1
  // ("2" and "0.5" keep it).
  const std::span<const FileEntry> rows = LammSettingsEntries();
  const std::vector<NumberLine> numbers = NumberLinesInPlace(lines, rows);
  // A file that ends before the settings do (its end was lost) is not read: every
  // setting keeps its value, and the box says so.
  if (numbers.size() < static_cast<std::size_t>(kLammSettingsLines)) {
    tell(Format("the Lamm equation settings file %s is not read: it ends after line %zu, and the settings take "
                "%d lines; every setting keeps its value",
                szLammParamsIni.c_str(), numbers.size(), kLammSettingsLines));
    return 0;
  }
  const int n = std::min(static_cast<int>(numbers.size()), kLammPreferenceCount);
  // Each line that holds no number or a value outside its row keeps its setting; a
  // solver setting outside its range (an earlier version took max dc/c 0.005) is
  // set to the nearest valid value. One box names the lines.
  std::vector<float> p(static_cast<std::size_t>(n), 0.0f);
  std::vector<bool> ok(static_cast<std::size_t>(n));
  std::string refused, clamped;
  for (int i = 0; i < n; ++i) {
    const NumberLine& l = numbers[static_cast<std::size_t>(i)];
    // The text read stands before what is said of its value, which a message
    // shows rounded ("9999999999999999999" is the float 1e+19).
    const std::string at = Format("\nline %zu holds \"%s\": ", l.line, ShownLineText(lines[l.line - 1]).c_str());
    if (!l.value) {
      refused += "\n" + NoNumberText(l.line, lines[l.line - 1], LineKindOf(rows[static_cast<std::size_t>(i)]));
      continue;
    }
    double value = *l.value, nearest = 0.0;
    std::string note;
    if (NearestSettingValue(rows[static_cast<std::size_t>(i)], value, &nearest, &note)) {
      value = nearest;
      clamped += at + note;
    }
    p[static_cast<std::size_t>(i)] = static_cast<float>(value);
    const std::string wrong = EntryRefusal(rows[static_cast<std::size_t>(i)], value);
    ok[static_cast<std::size_t>(i)] = wrong.empty();
    if (!wrong.empty()) refused += at + wrong;
  }
  if (ok[6] && ok[7]) {
    if (const std::string crossed = CrossedLimitsRefusal(p[7], p[6]); !crossed.empty()) {
      ok[6] = ok[7] = false;
      refused += Format("\nlines %zu and %zu: ", numbers[6].line, numbers[7].line) + crossed;
    }
  }
  auto take = [&](int i) { return ok[static_cast<std::size_t>(i)]; };
  if (take(0)) fAutoAlgorithmS = p[0];
  if (take(1)) bShutOffBackDiffusion = On(p[1]);
  if (take(2)) dBackDiffusionLevel = p[2];
  if (take(3)) bAutoGridSize = On(p[3]);
  if (take(4)) nDefaultGridPoints = static_cast<int>(std::floor(p[4]));
  if (take(5)) fPointsPerSigma = p[5];
  if (take(6)) nGridSizeUpper = static_cast<int>(std::floor(p[6]));
  if (take(7)) nGridSizeLower = static_cast<int>(std::floor(p[7]));
  if (take(8)) {
    bTimesFromW2t = On(p[8]);
    bRampRotorSpeed = !bTimesFromW2t;
  }
  if (take(9)) bAutoFEAlgorithm = On(p[9]);
  if (take(10)) bFixTimeStep = On(p[10]);
  if (take(11)) bClaverie = On(p[11]);
  if (take(12)) bMovingHat = On(p[12]);
  if (take(13)) bAutoSGrid = On(p[13]);
  if (take(14)) dAutoSGridValue = p[14];
  if (take(15)) fRefitTolerance = p[15];
  if (take(16)) dMaxDcOverC = p[16];
  if (take(17)) fAutoAlgorithmSOptimized = p[17];
  if (take(18)) bOptimizeStaticGrid = On(p[18]);
  if (take(19)) bExperimentalInitialDistribution = On(p[19]);
  if (take(20)) bTruncateGrid = On(p[20]);
  if (take(21)) dTruncationLevel = std::pow(10.0, static_cast<double>(p[21]));
  if (take(22)) bSimulateTimeResolution = On(p[22]);
  if (take(23)) bSimulateRadialResolution = On(p[23]);
  if (take(24)) fScanVelocity = p[24];
  if (take(25)) fRadialConvolutionRange = p[25];
  if (n > 26 && take(26)) bCheckAcceleration = On(p[26]);
  std::string note;
  if (!refused.empty())
    note = "the Lamm equation settings file " + szLammParamsIni +
           " holds values outside their range; these settings keep their values:" + refused;
  if (!clamped.empty())
    note += (note.empty() ? "the Lamm equation settings file " + szLammParamsIni + " holds"
                          : std::string("\nIt also holds")) +
            " numerical settings outside their range; the nearest valid values are used:" + clamped;
  if (!note.empty()) tell(note);
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
  NoteScanDataChanged();
}

}  // namespace tarmic
