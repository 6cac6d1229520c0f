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
  CurrentPart<GridRefinementState>() = {};
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  lammSettingsPart.fAutoAlgorithmS = 5.0f;
  lammSettingsPart.fAutoAlgorithmSOptimized = 60.0f;
  lammSettingsPart.bAutoFEAlgorithm = true;
  lammSettingsPart.bClaverie = false;
  lammSettingsPart.bMovingHat = true;
  lammSettingsPart.nDefaultGridPoints = 1000;
  lammSettingsPart.nLammGridPoints = 1000;
  lammSettingsPart.bAutoGridSize = true;
  lammSettingsPart.fPointsPerSigma = 5.0f;
  lammSettingsPart.nGridSizeUpper = 2000;
  lammSettingsPart.nGridSizeLower = 75;
  lammSettingsPart.bOptimizeStaticGrid = true;
  lammSettingsPart.bTruncateGrid = true;
  lammSettingsPart.dTruncationLevel = 1e-6;
  lammSettingsPart.bAutoSGrid = true;
  lammSettingsPart.dAutoSGridValue = 0.0;
  lammSettingsPart.bShutOffBackDiffusion = true;
  lammSettingsPart.dBackDiffusionLevel = 1e-4;
  lammSettingsPart.bFixTimeStep = false;
  lammSettingsPart.dInitialDt = 1.0;
  lammSettingsPart.dMaxDcOverC = 1.0;
  lammSettingsPart.dMaxDcOverCRef = 1.0;
  lammSettingsPart.dMaxDcOverCLow = 0.1;
  lammSettingsPart.dMaxDcOverCHigh = 0.5;
  lammSettingsPart.fRefitTolerance = 0.01f;
  analysisSwitchesPart.bTimesFromW2t = false;
  analysisSwitchesPart.bRampRotorSpeed = true;
  lammSettingsPart.bCheckAcceleration = true;
  analysisSwitchesPart.bInitialDataProfile = false;
  analysisSwitchesPart.bUniformLoading = true;
  analysisSwitchesPart.bScanTimeCorrection = false;
  lammSettingsPart.fScanVelocity = 2.43f;
  lammSettingsPart.bSimulateRadialResolution = false;
  lammSettingsPart.fRadialConvolutionRange = 0.008f;
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  std::vector<float> p(kLammPreferenceCount, 0.0f);
  p[0] = lammSettingsPart.fAutoAlgorithmS;
  p[1] = Switch(lammSettingsPart.bShutOffBackDiffusion);
  p[2] = static_cast<float>(lammSettingsPart.dBackDiffusionLevel);
  p[3] = Switch(lammSettingsPart.bAutoGridSize);
  p[4] = static_cast<float>(lammSettingsPart.nDefaultGridPoints);
  p[5] = lammSettingsPart.fPointsPerSigma;
  p[6] = static_cast<float>(lammSettingsPart.nGridSizeUpper);
  p[7] = static_cast<float>(lammSettingsPart.nGridSizeLower);
  p[8] = Switch(analysisSwitchesPart.bTimesFromW2t);
  p[9] = Switch(lammSettingsPart.bAutoFEAlgorithm);
  p[10] = Switch(lammSettingsPart.bFixTimeStep);
  p[11] = Switch(lammSettingsPart.bClaverie);
  p[12] = Switch(lammSettingsPart.bMovingHat);
  p[13] = Switch(lammSettingsPart.bAutoSGrid);
  p[14] = static_cast<float>(lammSettingsPart.dAutoSGridValue);
  p[15] = lammSettingsPart.fRefitTolerance;
  p[16] = static_cast<float>(lammSettingsPart.dMaxDcOverC);
  p[17] = lammSettingsPart.fAutoAlgorithmSOptimized;
  p[18] = Switch(lammSettingsPart.bOptimizeStaticGrid);
  p[19] = Switch(analysisSwitchesPart.bInitialDataProfile);
  p[20] = Switch(lammSettingsPart.bTruncateGrid);
  p[21] = static_cast<float>(std::log10(lammSettingsPart.dTruncationLevel));
  p[22] = Switch(analysisSwitchesPart.bScanTimeCorrection);
  p[23] = Switch(lammSettingsPart.bSimulateRadialResolution);
  p[24] = lammSettingsPart.fScanVelocity;
  p[25] = lammSettingsPart.fRadialConvolutionRange;
  p[26] = Switch(lammSettingsPart.bCheckAcceleration);
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
  auto& lammSettingsPart = LammSettings();
  lammSettingsPart.dMaxDcOverC = lammSettingsPart.dMaxDcOverCRef = value;
  lammSettingsPart.dMaxDcOverCLow = 0.05 * value;
  lammSettingsPart.dMaxDcOverCHigh = 0.2 * value;
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  DebugLog(window, "\nEnter ReadLammEqParameterPreferences");
  if (szLammParamsIni.empty()) return 0;
  auto tell = [](const std::string& text) {
    RaiseBox(text, "LAMM EQUATION PARAMETERS", MB_OK | MB_ICONINFORMATION);
  };
  std::string text, why;
  if (!ReadPlainTextFile(szLammParamsIni, LastLine::kRefused, &text, &why)) {
    // A missing file says nothing; the defaults stand in for a pipe or a file that
    // is no plain text, and the next save of the settings writes it anew.
    if (why == kNotRegularFile || why.starts_with("the file is not plain text") || why.starts_with("it ends inside") ||
        why.starts_with("it changed"))
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
  if (take(0)) lammSettingsPart.fAutoAlgorithmS = p[0];
  if (take(1)) lammSettingsPart.bShutOffBackDiffusion = On(p[1]);
  if (take(2)) lammSettingsPart.dBackDiffusionLevel = p[2];
  if (take(3)) lammSettingsPart.bAutoGridSize = On(p[3]);
  if (take(4)) lammSettingsPart.nDefaultGridPoints = static_cast<int>(std::floor(p[4]));
  if (take(5)) lammSettingsPart.fPointsPerSigma = p[5];
  if (take(6)) lammSettingsPart.nGridSizeUpper = static_cast<int>(std::floor(p[6]));
  if (take(7)) lammSettingsPart.nGridSizeLower = static_cast<int>(std::floor(p[7]));
  if (take(8)) {
    analysisSwitchesPart.bTimesFromW2t = On(p[8]);
    analysisSwitchesPart.bRampRotorSpeed = !analysisSwitchesPart.bTimesFromW2t;
  }
  if (take(9)) lammSettingsPart.bAutoFEAlgorithm = On(p[9]);
  if (take(10)) lammSettingsPart.bFixTimeStep = On(p[10]);
  if (take(11)) lammSettingsPart.bClaverie = On(p[11]);
  if (take(12)) lammSettingsPart.bMovingHat = On(p[12]);
  if (take(13)) lammSettingsPart.bAutoSGrid = On(p[13]);
  if (take(14)) lammSettingsPart.dAutoSGridValue = p[14];
  if (take(15)) lammSettingsPart.fRefitTolerance = p[15];
  if (take(16)) lammSettingsPart.dMaxDcOverC = p[16];
  if (take(17)) lammSettingsPart.fAutoAlgorithmSOptimized = p[17];
  if (take(18)) lammSettingsPart.bOptimizeStaticGrid = On(p[18]);
  if (take(19)) analysisSwitchesPart.bInitialDataProfile = On(p[19]);
  if (take(20)) lammSettingsPart.bTruncateGrid = On(p[20]);
  if (take(21)) lammSettingsPart.dTruncationLevel = std::pow(10.0, static_cast<double>(p[21]));
  if (take(22)) analysisSwitchesPart.bScanTimeCorrection = On(p[22]);
  if (take(23)) lammSettingsPart.bSimulateRadialResolution = On(p[23]);
  if (take(24)) lammSettingsPart.fScanVelocity = p[24];
  if (take(25)) lammSettingsPart.fRadialConvolutionRange = p[25];
  if (n > 26 && take(26)) lammSettingsPart.bCheckAcceleration = On(p[26]);
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
  auto& lammSettingsPart = LammSettings();
  LammDiscretizationSettings d;
  d.nMinGrid = lammSettingsPart.nGridSizeLower;
  d.nMaxGrid = lammSettingsPart.nGridSizeUpper;
  d.fPointsPerSigma = lammSettingsPart.fPointsPerSigma;
  d.bMultiSpeciesNonideal = false;
  d.dBackDiffusionLevel = lammSettingsPart.dBackDiffusionLevel;
  d.bShutOffBackDiffusionOption = lammSettingsPart.bShutOffBackDiffusion;
  d.bOptimizeGrid = lammSettingsPart.bOptimizeStaticGrid;
  d.bAutoGridSize = lammSettingsPart.bAutoGridSize;
  d.fFf0 = 1.0f;
  d.bRampRotor = AnalysisSwitches().bRampRotorSpeed;
  d.bFixTimeStep = lammSettingsPart.bFixTimeStep;
  d.dMovingFrameS = lammSettingsPart.dAutoSGridValue;
  d.bAutoSGrid = lammSettingsPart.bAutoSGrid;
  d.bAutoVariant = lammSettingsPart.bAutoFEAlgorithm;
  d.dTolerance = lammSettingsPart.dMaxDcOverC;
  d.dTolerance005 = 0.05 * lammSettingsPart.dMaxDcOverC;
  d.dTolerance02 = 0.2 * lammSettingsPart.dMaxDcOverC;
  d.dToleranceIn = lammSettingsPart.dMaxDcOverC;
  d.nDefaultGrid = lammSettingsPart.nDefaultGridPoints;
  d.bUseMovingHat = lammSettingsPart.bMovingHat;
  d.bUseClaverie = lammSettingsPart.bClaverie;
  d.dTruncateLevel = lammSettingsPart.dTruncationLevel;
  d.bTruncateGrid = lammSettingsPart.bTruncateGrid;
  d.dVariantThreshold = lammSettingsPart.fAutoAlgorithmS;
  d.dVariantThresholdOpt = lammSettingsPart.fAutoAlgorithmSOptimized;
  // A refinement in force makes every count finer and every step shorter.
  const int f = GridRefinement();
  if (f > 1) {
    d.nMinGrid = RefinedNodeCount(d.nMinGrid);
    d.nMaxGrid = RefinedNodeCount(d.nMaxGrid);
    d.nDefaultGrid = RefinedNodeCount(d.nDefaultGrid);
    d.fPointsPerSigma = std::min(d.fPointsPerSigma * static_cast<float>(f), kMaxPointsPerSigma);
    d.dTolerance = d.dToleranceIn = LammSettings().dMaxDcOverC / f;
    d.nStepRefinement = f;
    d.dTolerance005 = 0.05 * d.dTolerance;
    d.dTolerance02 = 0.2 * d.dTolerance;
  }
  return d;
}

void SetGridRefinement(int factor) { CurrentPart<GridRefinementState>().factor = std::clamp(factor, 1, kMostGridRefinement); }

int RefinedNodeCount(int nodes) {
  const long long n = static_cast<long long>(nodes) * GridRefinement();
  return static_cast<int>(std::max<long long>(nodes, std::min<long long>(n, kMaxLammGridPoints)));
}

double RefinedMaxDcOverC() {
  // The moving grid's step is a share of its grid period, which shortens with the
  // nodes already.
  return LammSettings().bMovingHat ? LammSettings().dMaxDcOverC : LammSettings().dMaxDcOverC / GridRefinement();
}
double RefinedInitialDt() { return LammSettings().dInitialDt / GridRefinement(); }

void SwitchOnTimesFromW2t(Window*) {
  auto& dataSetPart = DataSet();
  SwitchOffRampRotorSpeed();
  AnalysisSwitches().bTimesFromW2t = true;
  if (ScanFile().bElectrophoresisMode || dataSetPart.bDLSData) return;
  for (int i = 1; i <= dataSetPart.nScans && static_cast<std::size_t>(i) < dataSetPart.pScanInfo.size(); ++i) {
    ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(i)];
    const double omega = static_cast<double>(info.rpm) * kTwoPiOver60;
    const double omega2 = omega * omega;
    if (omega2 > 0.0) info.time = info.omega2t / omega2;
  }
  NoteScanDataChanged();
}

}  // namespace tarmic
