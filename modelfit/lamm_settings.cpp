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

void ResetLammSettings() {
  LammSettings().fAutoAlgorithmS = 5.0f;
  LammSettings().fAutoAlgorithmSOptimized = 60.0f;
  LammSettings().bAutoFEAlgorithm = true;
  LammSettings().bClaverie = false;
  LammSettings().bMovingHat = true;
  LammSettings().nDefaultGridPoints = 1000;
  LammSettings().nLammGridPoints = 1000;
  LammSettings().bAutoGridSize = true;
  LammSettings().fPointsPerSigma = 5.0f;
  LammSettings().nGridSizeUpper = 2000;
  LammSettings().nGridSizeLower = 75;
  LammSettings().bOptimizeStaticGrid = true;
  LammSettings().bTruncateGrid = true;
  LammSettings().dTruncationLevel = 1e-6;
  LammSettings().bAutoSGrid = true;
  LammSettings().dAutoSGridValue = 0.0;
  LammSettings().bShutOffBackDiffusion = true;
  LammSettings().dBackDiffusionLevel = 1e-4;
  LammSettings().bFixTimeStep = false;
  LammSettings().dInitialDt = 1.0;
  LammSettings().dMaxDcOverC = 1.0;
  LammSettings().dMaxDcOverCRef = 1.0;
  LammSettings().dMaxDcOverCLow = 0.1;
  LammSettings().dMaxDcOverCHigh = 0.5;
  LammSettings().fRefitTolerance = 0.01f;
  AnalysisSwitches().bTimesFromW2t = false;
  AnalysisSwitches().bRampRotorSpeed = true;
  LammSettings().bCheckAcceleration = true;
  AnalysisSwitches().bInitialDataProfile = false;
  AnalysisSwitches().bUniformLoading = true;
  AnalysisSwitches().bScanTimeCorrection = false;
  LammSettings().fScanVelocity = 2.43f;
  LammSettings().bSimulateRadialResolution = false;
  LammSettings().fRadialConvolutionRange = 0.008f;
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
  p[0] = LammSettings().fAutoAlgorithmS;
  p[1] = Switch(LammSettings().bShutOffBackDiffusion);
  p[2] = static_cast<float>(LammSettings().dBackDiffusionLevel);
  p[3] = Switch(LammSettings().bAutoGridSize);
  p[4] = static_cast<float>(LammSettings().nDefaultGridPoints);
  p[5] = LammSettings().fPointsPerSigma;
  p[6] = static_cast<float>(LammSettings().nGridSizeUpper);
  p[7] = static_cast<float>(LammSettings().nGridSizeLower);
  p[8] = Switch(AnalysisSwitches().bTimesFromW2t);
  p[9] = Switch(LammSettings().bAutoFEAlgorithm);
  p[10] = Switch(LammSettings().bFixTimeStep);
  p[11] = Switch(LammSettings().bClaverie);
  p[12] = Switch(LammSettings().bMovingHat);
  p[13] = Switch(LammSettings().bAutoSGrid);
  p[14] = static_cast<float>(LammSettings().dAutoSGridValue);
  p[15] = LammSettings().fRefitTolerance;
  p[16] = static_cast<float>(LammSettings().dMaxDcOverC);
  p[17] = LammSettings().fAutoAlgorithmSOptimized;
  p[18] = Switch(LammSettings().bOptimizeStaticGrid);
  p[19] = Switch(AnalysisSwitches().bInitialDataProfile);
  p[20] = Switch(LammSettings().bTruncateGrid);
  p[21] = static_cast<float>(std::log10(LammSettings().dTruncationLevel));
  p[22] = Switch(AnalysisSwitches().bScanTimeCorrection);
  p[23] = Switch(LammSettings().bSimulateRadialResolution);
  p[24] = LammSettings().fScanVelocity;
  p[25] = LammSettings().fRadialConvolutionRange;
  p[26] = Switch(LammSettings().bCheckAcceleration);
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
  LammSettings().dMaxDcOverC = LammSettings().dMaxDcOverCRef = value;
  LammSettings().dMaxDcOverCLow = 0.05 * value;
  LammSettings().dMaxDcOverCHigh = 0.2 * value;
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
  if (take(0)) LammSettings().fAutoAlgorithmS = p[0];
  if (take(1)) LammSettings().bShutOffBackDiffusion = On(p[1]);
  if (take(2)) LammSettings().dBackDiffusionLevel = p[2];
  if (take(3)) LammSettings().bAutoGridSize = On(p[3]);
  if (take(4)) LammSettings().nDefaultGridPoints = static_cast<int>(std::floor(p[4]));
  if (take(5)) LammSettings().fPointsPerSigma = p[5];
  if (take(6)) LammSettings().nGridSizeUpper = static_cast<int>(std::floor(p[6]));
  if (take(7)) LammSettings().nGridSizeLower = static_cast<int>(std::floor(p[7]));
  if (take(8)) {
    AnalysisSwitches().bTimesFromW2t = On(p[8]);
    AnalysisSwitches().bRampRotorSpeed = !AnalysisSwitches().bTimesFromW2t;
  }
  if (take(9)) LammSettings().bAutoFEAlgorithm = On(p[9]);
  if (take(10)) LammSettings().bFixTimeStep = On(p[10]);
  if (take(11)) LammSettings().bClaverie = On(p[11]);
  if (take(12)) LammSettings().bMovingHat = On(p[12]);
  if (take(13)) LammSettings().bAutoSGrid = On(p[13]);
  if (take(14)) LammSettings().dAutoSGridValue = p[14];
  if (take(15)) LammSettings().fRefitTolerance = p[15];
  if (take(16)) LammSettings().dMaxDcOverC = p[16];
  if (take(17)) LammSettings().fAutoAlgorithmSOptimized = p[17];
  if (take(18)) LammSettings().bOptimizeStaticGrid = On(p[18]);
  if (take(19)) AnalysisSwitches().bInitialDataProfile = On(p[19]);
  if (take(20)) LammSettings().bTruncateGrid = On(p[20]);
  if (take(21)) LammSettings().dTruncationLevel = std::pow(10.0, static_cast<double>(p[21]));
  if (take(22)) AnalysisSwitches().bScanTimeCorrection = On(p[22]);
  if (take(23)) LammSettings().bSimulateRadialResolution = On(p[23]);
  if (take(24)) LammSettings().fScanVelocity = p[24];
  if (take(25)) LammSettings().fRadialConvolutionRange = p[25];
  if (n > 26 && take(26)) LammSettings().bCheckAcceleration = On(p[26]);
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
  d.nMinGrid = LammSettings().nGridSizeLower;
  d.nMaxGrid = LammSettings().nGridSizeUpper;
  d.fPointsPerSigma = LammSettings().fPointsPerSigma;
  d.bMultiSpeciesNonideal = false;
  d.dBackDiffusionLevel = LammSettings().dBackDiffusionLevel;
  d.bShutOffBackDiffusionOption = LammSettings().bShutOffBackDiffusion;
  d.bOptimizeGrid = LammSettings().bOptimizeStaticGrid;
  d.bAutoGridSize = LammSettings().bAutoGridSize;
  d.fFf0 = 1.0f;
  d.bRampRotor = AnalysisSwitches().bRampRotorSpeed;
  d.bFixTimeStep = LammSettings().bFixTimeStep;
  d.dMovingFrameS = LammSettings().dAutoSGridValue;
  d.bAutoSGrid = LammSettings().bAutoSGrid;
  d.bAutoVariant = LammSettings().bAutoFEAlgorithm;
  d.dTolerance = LammSettings().dMaxDcOverC;
  d.dTolerance005 = 0.05 * LammSettings().dMaxDcOverC;
  d.dTolerance02 = 0.2 * LammSettings().dMaxDcOverC;
  d.dToleranceIn = LammSettings().dMaxDcOverC;
  d.nDefaultGrid = LammSettings().nDefaultGridPoints;
  d.bUseMovingHat = LammSettings().bMovingHat;
  d.bUseClaverie = LammSettings().bClaverie;
  d.dTruncateLevel = LammSettings().dTruncationLevel;
  d.bTruncateGrid = LammSettings().bTruncateGrid;
  d.dVariantThreshold = LammSettings().fAutoAlgorithmS;
  d.dVariantThresholdOpt = LammSettings().fAutoAlgorithmSOptimized;
  return d;
}

void SwitchOnTimesFromW2t(Window*) {
  SwitchOffRampRotorSpeed();
  AnalysisSwitches().bTimesFromW2t = true;
  if (ScanFile().bElectrophoresisMode || DataSet().bDLSData) return;
  for (int i = 1; i <= DataSet().nScans && static_cast<std::size_t>(i) < DataSet().pScanInfo.size(); ++i) {
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(i)];
    const double omega = static_cast<double>(info.rpm) * kTwoPiOver60;
    const double omega2 = omega * omega;
    if (omega2 > 0.0) info.time = info.omega2t / omega2;
  }
  NoteScanDataChanged();
}

}  // namespace tarmic
