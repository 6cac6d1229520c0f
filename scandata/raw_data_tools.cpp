#include "scandata/raw_data_tools.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <limits>
#include <map>
#include <vector>

#include "services/replace_question.h"
#include "storage/atomic_file.h"
#include "numerics/interpolation.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/fit_limits.h"
#include "scandata/intensity_scans.h"
#include "scandata/offset_tools.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

namespace {

std::size_t Z(int i) { return static_cast<std::size_t>(i); }

// One file a writer is to produce: a one-based copy of the values it holds.
struct ScanOutput {
  std::string path;
  std::string sourceName;   // the stored name of the scan it comes from
  std::vector<float> radius;  // [0] unused
  std::vector<float> value;
  std::vector<float> third;   // empty: no third column
  std::string description;
  bool timeOk = false;
  ScanInfo record;
  int Points() const { return static_cast<int>(radius.size()) - 1; }
};

// The scan's radius, the file's second and third column (the signal and the third
// column as loaded) over points first..last.
ScanOutput RawOutput(int s, int first, int last) {
  auto& dataSetPart = DataSet();
  const std::size_t k = Z(s);
  const float* second = dataSetPart.ppSignal[k];
  const float* third = dataSetPart.ppThirdColumn[k];
  ScanOutput out;
  out.sourceName = dataSetPart.ppScanFileNames[k];
  out.radius.push_back(0.0f);
  out.value.push_back(0.0f);
  if (third) out.third.push_back(0.0f);
  for (int i = first; i <= last; ++i) {
    out.radius.push_back(dataSetPart.ppRadius[k][i]);
    out.value.push_back(second[i]);
    if (third) out.third.push_back(third[i]);
  }
  out.timeOk = dataSetPart.pScanInfo[k].timeStampOk;
  out.record = dataSetPart.pScanInfo[k];
  return out;
}

ScanOutput RawOutput(int s) { return RawOutput(s, 1, DataSet().pnPoints[Z(s)]); }

RawToolOutcome Done() { return RawToolOutcome{RawToolStatus::Done, {}}; }
RawToolOutcome Refused(std::string why = {}) {
  return RawToolOutcome{RawToolStatus::Refused, std::move(why)};
}
RawToolOutcome NotForDLS() { return RawToolOutcome{RawToolStatus::NotForDLSData, {}}; }

// Writes a set of outputs under the rules of the header: distinct names, existing
// files only with overwrite (else FilesExist with the question, nothing written),
// every failure named.
RawToolOutcome WriteOutputs(const std::vector<ScanOutput>& outputs, bool overwrite) {
  std::map<std::string, const ScanOutput*> byPath;
  for (const ScanOutput& o : outputs) {
    auto [it, inserted] = byPath.emplace(o.path, &o);
    if (!inserted)
      return Refused(
          Format("\n\a%s and %s would be saved under the same file name %s - nothing saved",
                 it->second->sourceName.c_str(), o.sourceName.c_str(), o.path.c_str()));
  }
  for (const ScanOutput& o : outputs) {
    std::error_code ec;
    if (!overwrite && std::filesystem::exists(o.path, ec)) {
      RawToolOutcome exists{RawToolStatus::FilesExist,
                            ReplaceQuestionText(o.path, outputs.size()), {}};
      for (const ScanOutput& t : outputs) exists.targets.push_back(t.path);
      return exists;
    }
  }
  // All files are written before any replaces its target: a set is never half new.
  AtomicFileBatch batch;
  for (const ScanOutput& o : outputs) {
    batch.Check(o.path, WriteScanFile(o.path.c_str(), o.Points(), o.radius.data(), o.value.data(),
                                      o.third.empty() ? nullptr : o.third.data(),
                                      o.description.c_str(), o.timeOk, o.record));
  }
  const std::string report = batch.Finish();
  if (!report.empty()) return Refused("\n\aAttention: " + report);
  return Done();
}

std::string StemOf(const std::string& name) {
  return name.substr(0, name.size() - ExtensionOf(name).size());
}

// szTmpParsPath in a new data directory: ~tmppars with the extension of the first
// displayed scan, or (old file-name convention) that scan's name with ".~p".
void MoveTmpParsPath(const std::string& directory) {
  auto& dataSetPart = DataSet();
  const std::string& first = dataSetPart.ppScanFileNames[Z(dataSetPart.pScanOrder[1])];
  dataSetPart.szTmpParsPath = AnalysisSwitches().bOldFilenameConvention ? JoinPath(directory, StemOf(first) + ".~p")
                                         : JoinPath(directory, "~tmppars" + ExtensionOf(first));
}

// The data directory of the tools that write beside the data.
std::string DataDirectory() {
  auto& dataSetPart = DataSet();
  return dataSetPart.szTmpParsPath.empty() ? dataSetPart.szDataDirectory : DirectoryOf(dataSetPart.szTmpParsPath);
}

// Characters from..from+count-1 (1-based) of name, as far as it has them.
std::string Chars(const std::string& name, std::size_t from, std::size_t count) {
  if (name.size() < from) return {};
  return name.substr(from - 1, count);
}

// The index of the extension's optics letter (its second character: the 'i' of
// "ri1") when it is 'i' or 'I'; npos otherwise.
std::size_t IntensityLetter(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 2 >= name.size()) return std::string::npos;
  const char c = name[dot + 2];
  return (c == 'i' || c == 'I') ? dot + 2 : std::string::npos;
}

bool HaveScans() { return DataSet().nScans > 0; }

void RebuildGrid() {
  BuildCommonRadialGrid();
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.redrawDataPlot) hooks.redrawDataPlot(true);
}

// Done when the loaded set is intensity data whose every scan name names an
// intensity file (the converters replace that letter); otherwise refused, naming
// the scans that do not.
RawToolOutcome IntensityScansToConvert() {
  auto& scanFilePart = ScanFile();
  auto& dataSetPart = DataSet();
  if (!scanFilePart.bIntensityData || !HaveScans()) return Refused();
  std::string bad;
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    if (IntensityLetter(dataSetPart.ppScanFileNames[Z(s)]) == std::string::npos)
      bad += "\n" + dataSetPart.ppScanFileNames[Z(s)];
  if (bad.empty()) return Done();
  return Refused("\n\anot saved: these files are not intensity scans:" + bad);
}

// Intensity scan types written as their absorbance counterparts.
char AbsorbanceType(char type) { return type == 'I' ? 'R' : (type == 'V' ? 'W' : type); }

}  // namespace

// ------------------------------------------------------------------ in memory

RawToolOutcome ScaleSignals(float factor) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (dataSetPart.bDLSData) return NotForDLS();
  if (!HaveScans()) return Refused();
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) dataSetPart.ppSignal[Z(s)][i] *= factor;
  RebuildGrid();
  return Done();
}

RawToolOutcome TransformRadii(float a, float b) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (dataSetPart.bDLSData) return NotForDLS();
  if (!HaveScans()) return Refused();
  // A non-positive slope would reverse or collapse the radius order.
  if (!(a > 0.0f) || !std::isfinite(b))
    return Refused("\n\athe radial transformation must keep the order of the radii");
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) dataSetPart.ppRadius[Z(s)][i] = a * dataSetPart.ppRadius[Z(s)][i] + b;
  RebuildGrid();
  return Done();
}

void ShiftScanTimes(double dt, double dw2t) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    dataSetPart.pScanInfo[Z(s)].recordedTime += dt;
    dataSetPart.pScanInfo[Z(s)].omega2t += dw2t;
  }
  NoteScanDataChanged();
}

RawToolOutcome AddSimulatedSignal(float factor) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (dataSetPart.bDLSData) return NotForDLS();
  if (!HaveScans()) return Refused();
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) dataSetPart.ppSignal[Z(s)][i] += factor * dataSetPart.ppFit[Z(s)][i];
  RebuildGrid();
  return Done();
}

RawToolOutcome MirrorRawData(float r1, float r2, bool negate) {
  auto& dataSetPart = DataSet();
  if (!HaveScans()) return Refused();
  if (dataSetPart.bDLSData) return NotForDLS();
  DataSet().bDataChanged = true;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = Z(s);
    const int n = dataSetPart.pnPoints[k];
    for (int i = 1; i <= n; ++i) {
      dataSetPart.ppRadius[k][i] = r1 + r2 - dataSetPart.ppRadius[k][i];
      if (negate) dataSetPart.ppSignal[k][i] = -dataSetPart.ppSignal[k][i];
    }
    // The mirrored radii descend: reverse every column so that they ascend again.
    std::reverse(dataSetPart.ppRadius[k] + 1, dataSetPart.ppRadius[k] + n + 1);
    std::reverse(dataSetPart.ppSignal[k] + 1, dataSetPart.ppSignal[k] + n + 1);
    if (dataSetPart.ppThirdColumn[k]) std::reverse(dataSetPart.ppThirdColumn[k] + 1, dataSetPart.ppThirdColumn[k] + n + 1);
  }
  RebuildGrid();
  return Done();
}

RawToolOutcome AddNoiseToData(float noise, float factor) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (!(noise >= 0.0f) || !HaveScans()) return Refused();
  if (dataSetPart.bDLSData) return NotForDLS();
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i)
      dataSetPart.ppSignal[Z(s)][i] = factor * dataSetPart.ppSignal[Z(s)][i] + GaussianRandom(noise);
  RebuildGrid();
  return Done();
}

RawToolOutcome SubtractBlankScan(const std::string& blankPath) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (dataSetPart.bDLSData) return NotForDLS();
  if (!HaveScans()) return Refused();
  ScanInfo record;
  int n = 0;
  float *r = nullptr, *y = nullptr;
  std::string error;
  // A set of the blank's folder that could not be finished is said with the outcome.
  const FolderReading reading({blankPath});
  const std::string unfinished = reading.Note();
  auto told = [&unfinished](RawToolOutcome outcome) {
    if (!unfinished.empty()) outcome.message += (outcome.message.empty() ? "" : "\n\n") + unfinished;
    return outcome;
  };
  // The blank leaves the kind of the loaded set as it is.
  const int ok = ReadScanFileAndKind(blankPath.c_str(), ScanDataKind::InForce(), nullptr, &record,
                                     &n, &r, &y, nullptr, nullptr, 0.0f, &error);
  if (!ok) {
    PlayInfoSound();
    return told(Refused(Format("\n\aLOAD ERROR: %s", (error.empty() ? blankPath : error).c_str())));
  }
  // Every scan's blank values first; the scans change only when all could be made.
  std::vector<std::vector<float>> blank(Z(dataSetPart.nScans) + 1);
  std::string uncovered;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    blank[Z(s)].assign(Z(dataSetPart.pnPoints[Z(s)]) + 1, 0.0f);
    if (!InterpolateCurve(dataSetPart.pnPoints[Z(s)], dataSetPart.ppRadius[Z(s)], blank[Z(s)].data(), n, r, y))
      uncovered += "\n" + dataSetPart.ppScanFileNames[Z(s)];
  }
  free_vector(r, 1, n);
  free_vector(y, 1, n);
  if (!uncovered.empty())
    return told(Refused("\n\athe blank scan does not cover the radii of" + uncovered));
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) dataSetPart.ppSignal[Z(s)][i] -= blank[Z(s)][Z(i)];
  RebuildGrid();
  return told(Done());
}

RawToolOutcome ExcludeRadialRange(float r1, float r2) {
  auto& dataSetPart = DataSet();
  DataSet().bDataChanged = true;
  if (!HaveScans() || r2 < r1 || r1 < dataSetPart.ppRadius[1][1] || r2 > dataSetPart.ppRadius[1][dataSetPart.pnPoints[1]])
    return Refused();
  auto removed = [&](float r) { return r1 <= r && r <= r2; };
  // Every scan must keep enough points before any is changed.
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const float* r = dataSetPart.ppRadius[Z(s)];
    const int kept = static_cast<int>(
        std::count_if(r + 1, r + dataSetPart.pnPoints[Z(s)] + 1, [&](float x) { return !removed(x); }));
    if (kept < kMinPointsAfterExclusion)
      return Refused(
          Format("\n\aexcluding %g to %g cm would leave %d points in %s - nothing excluded", r1,
                 r2, kept, dataSetPart.ppScanFileNames[Z(s)].c_str()));
  }
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Wait);
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = Z(s);
    const int n = dataSetPart.pnPoints[k];
    int kept = 0;
    for (int i = 1; i <= n; ++i) kept += !removed(dataSetPart.ppRadius[k][i]);
    if (kept == n) continue;
    float* radius = tarmic::vector(1, kept);
    float* signal = tarmic::vector(1, kept);
    float* third = dataSetPart.ppThirdColumn[k] ? tarmic::vector(1, kept) : nullptr;
    int m = 0;
    for (int i = 1; i <= n; ++i) {
      if (removed(dataSetPart.ppRadius[k][i])) continue;
      ++m;
      radius[m] = dataSetPart.ppRadius[k][i];
      signal[m] = dataSetPart.ppSignal[k][i];
      if (third) third[m] = dataSetPart.ppThirdColumn[k][i];
    }
    const bool thirdCurve = dataSetPart.ppThirdCurve[k] != nullptr;
    ReleaseScanArrays(s);
    InstallScanArrays(s, kept, radius, signal, third, thirdCurve);
  }
  // The views of the plots referred to the old arrays: the plots are built anew
  // before the grid, whose rebuild may redraw them (the nonlinear-detection
  // transform does), and again with the grid and the limits.
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.rebuildDataAndResidualPlots) hooks.rebuildDataAndResidualPlots();
  BuildCommonRadialGrid();
  if (dataSetPart.fFitLeftLim != 0.0f) SetLeftFitLimitIndices();
  if (dataSetPart.fFitRightLim != 0.0f) SetRightFitLimitIndices();
  if (hooks.rebuildDataAndResidualPlots) hooks.rebuildDataAndResidualPlots();
  PlayOkSound();
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Arrow);
  return Done();
}

// ------------------------------------------------------------------ writers

namespace {

// Writes a whole raw data set into dir (the wait cursor meanwhile); the saved
// parameters follow the data into dir when every file was written.
RawToolOutcome WriteRawDataSet(const std::vector<ScanOutput>& outputs, const std::string& dir,
                               bool overwrite) {
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Wait);
  const RawToolOutcome outcome = WriteOutputs(outputs, overwrite);
  if (outcome.ok()) MoveTmpParsPath(dir);
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Arrow);
  return outcome;
}

}  // namespace

RawToolOutcome SaveRawDataWithSpeedNames(const std::string& outputPath, bool overwrite) {
  auto& dataSetPart = DataSet();
  if (dataSetPart.bDLSData) return NotForDLS();
  if (!HaveScans()) return Refused();
  const std::string dir = DirectoryOf(outputPath);
  std::vector<ScanOutput> outputs;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::string& name = dataSetPart.ppScanFileNames[Z(s)];
    const ScanInfo& info = dataSetPart.pScanInfo[Z(s)];
    const int krpm = TruncateToInt(std::floor(0.001 * info.rpm));
    const bool wavelengthScan = info.scanType == 'W';
    const int w = TruncateToInt(std::floor(wavelengthScan ? 1000.0 * info.wavelength : info.wavelength));
    const std::string stem = StemOf(name);
    const char c = stem.empty() ? '_' : stem[0];
    const bool corrected = Chars(stem, 2, 3) == "cor";
    const std::string d = corrected ? Chars(stem, 9, 3) : Chars(stem, 3, 3);
    std::string base;
    if (corrected)
      base = wavelengthScan ? Format("%ccorr_%dk%04d_%s", c, krpm, w, d.c_str())
                            : Format("%ccorr_%dk%03d_%s", c, krpm, w, d.c_str());
    else
      base = wavelengthScan ? Format("%dk%04d_%c%s", krpm, w, c, d.c_str())
                            : Format("%dk%03d_%c%s", krpm, w, c, d.c_str());
    ScanOutput o = RawOutput(s);
    o.path = JoinPath(dir, base + ExtensionOf(name));
    outputs.push_back(std::move(o));
  }
  return WriteRawDataSet(outputs, dir, overwrite);
}

RawToolOutcome SaveRawDataToDirectory(const std::string& outputPath, bool overwrite) {
  auto& dataSetPart = DataSet();
  if (dataSetPart.bDLSData) return NotForDLS();
  if (!HaveScans()) return Refused();
  const std::string dir = DirectoryOf(outputPath);
  const std::string prefix = StemOf(FileNameOf(outputPath));
  std::vector<ScanOutput> outputs;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    ScanOutput o = RawOutput(s);
    o.path = JoinPath(dir, prefix + dataSetPart.ppScanFileNames[Z(s)]);
    outputs.push_back(std::move(o));
  }
  return WriteRawDataSet(outputs, dir, overwrite);
}

RawToolOutcome SaveIntensityAsAbsorbance(bool overwrite) {
  auto& dataSetPart = DataSet();
  if (RawToolOutcome check = IntensityScansToConvert(); !check.ok()) return check;
  std::vector<ScanOutput> outputs;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = Z(s);
    const std::string name = ReplaceCharacterAt(dataSetPart.ppScanFileNames[k], IntensityLetter(dataSetPart.ppScanFileNames[k]), "a");
    ScanOutput o = RawOutput(s);
    // The absorbance with the reference intensity kept beside it.
    const std::vector<float> absorbance = ScanAbsorbance(s);
    for (int i = 1; i <= dataSetPart.pnPoints[k]; ++i) o.value[Z(i)] = absorbance[Z(i)];
    o.record.scanType = AbsorbanceType(o.record.scanType);
    o.description.clear();
    o.path = JoinPath(DataDirectory(), name);
    outputs.push_back(std::move(o));
  }
  const RawToolOutcome outcome = WriteOutputs(outputs, overwrite);
  if (outcome.ok()) PlayOkSound();
  return outcome;
}

RawToolOutcome SaveIntensityAsPseudoAbsorbance(bool overwrite) {
  auto& dataSetPart = DataSet();
  if (RawToolOutcome check = IntensityScansToConvert(); !check.ok()) return check;
  std::vector<ScanOutput> outputs;
  for (char channel : {'S', 'R'}) {
    for (int s = 1; s <= dataSetPart.nScans; ++s) {
      const std::size_t k = Z(s);
      std::string name = dataSetPart.ppScanFileNames[k];
      name = ReplaceCharacterAt(ReplaceCharacterAt(name, IntensityLetter(name), "a"), 0, std::string(1, channel));
      ScanOutput o = RawOutput(s);
      o.third.clear();
      const float* intensity = channel == 'S' ? dataSetPart.ppSignal[k] : dataSetPart.ppThirdColumn[k];
      for (int i = 1; i <= dataSetPart.pnPoints[k]; ++i)
        o.value[Z(i)] = AbsorbanceFromIntensities(intensity ? intensity[i] : 0.0f, 1000.0f);
      o.record.scanType = 'R';
      o.description.clear();
      o.path = JoinPath(DataDirectory(), name);
      outputs.push_back(std::move(o));
    }
  }
  const RawToolOutcome outcome = WriteOutputs(outputs, overwrite);
  if (outcome.ok()) PlayOkSound();
  return outcome;
}

RawToolOutcome SaveAlignedScans(const std::string& outputPath, bool overwrite) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  if (!HaveScans()) return Refused();
  const std::string dir = DirectoryOf(outputPath);
  std::vector<ScanOutput> outputs;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::string& name = dataSetPart.ppScanFileNames[Z(s)];
    ScanOutput o = RawOutput(s);
    o.third.clear();
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) o.value[Z(i)] = dataSetPart.ppSignal[Z(s)][i];
    o.description = "aligned " + name;
    if (analysisSwitchesPart.bOldFilenameConvention) {
      o.path = JoinPath(dir, StemOf(FileNameOf(outputPath)) + ExtensionOf(name));
    } else {
      o.path = JoinPath(dir, ReplaceCharacterAt(name, 0, "a"));
    }
    outputs.push_back(std::move(o));
  }
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Wait);
  const RawToolOutcome outcome = WriteOutputs(outputs, overwrite);
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Arrow);
  return outcome;
}

RawToolOutcome SaveSixChannelSubsets(float r1, float r2, bool overwrite) {
  auto& scanFilePart = ScanFile();
  auto& dataSetPart = DataSet();
  if (!HaveScans() || r2 < r1 || r1 < dataSetPart.ppRadius[1][1] || r2 > dataSetPart.ppRadius[1][dataSetPart.pnPoints[1]])
    return Refused();
  // Interference sections: whole-fringe offsets at the middle of each section, with
  // 5.8 and 7.2 cm standing for the usual meniscus and bottom.
  std::vector<int> none(Z(dataSetPart.nScans) + 1, 0);
  std::vector<int> inner = none, middle = none, outer = none;
  if (scanFilePart.bInterferenceData) {
    inner = WholeFringeOffsets((r1 - 5.8f) * 0.5f + 5.8f);
    middle = WholeFringeOffsets((r2 - r1) * 0.5f + r1);
    outer = WholeFringeOffsets((7.2f - r2) * 0.5f + r2);
  }
  const std::string dir = DataDirectory();
  std::vector<ScanOutput> outputs;
  auto section = [&](int s, int first, int last, const char* prefix, const char* which, int k) {
    ScanOutput o = RawOutput(s, first, last);
    for (float& v : o.value) v -= static_cast<float>(k);
    o.value[0] = 0.0f;
    o.description = std::string(which) + " section of " + dataSetPart.ppScanFileNames[Z(s)];
    o.path = JoinPath(dir, prefix + dataSetPart.ppScanFileNames[Z(s)]);
    outputs.push_back(std::move(o));
  };
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = Z(s);
    const int n = dataSetPart.pnPoints[k];
    const float* r = dataSetPart.ppRadius[k];
    if (r1 < r[1] || r2 > r[n]) break;
    int a = 1;
    while (a < n && r[a] < r1) ++a;
    int b = a;
    while (b < n && r[b] < r2) ++b;
    if (a > 1) section(s, 1, a, "i", "inner", inner[k]);
    if (n > b + 1) section(s, a, b, "m", "middle", middle[k]);
    if (n > b) section(s, b, n, "o", "outer", outer[k]);
  }
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Wait);
  const RawToolOutcome outcome = WriteOutputs(outputs, overwrite);
  if (outcome.ok()) PlayOkSound();
  if (HasBackend()) GetBackend().MainWindow().SetCursor(CursorShape::Arrow);
  return outcome;
}

RawToolOutcome WriteAveragedScan(const std::string& path) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (!HaveScans() || currentGridPart.nGridPoints < 1 || !currentGridPart.pGridRadius || !currentGridPart.pAverageScan) return Refused();
  ScanInfo record = dataSetPart.pScanInfo[1];
  // Intensity data are averaged as absorbance values on the grid.
  record.scanType = AbsorbanceType(record.scanType);
  // A new file: it takes the time it is written, not the file times of a source.
  record.fileTimesValid = false;
  // Only radii every scan holds: the grid reaches past the ends of the scans (and
  // across their gaps) by up to a step, where its values are no average of data.
  float inner = -std::numeric_limits<float>::infinity(), outer = std::numeric_limits<float>::infinity();
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = Z(s);
    if (dataSetPart.pnPoints[k] < 1) continue;
    inner = std::max(inner, dataSetPart.ppRadius[k][1]);
    outer = std::min(outer, dataSetPart.ppRadius[k][dataSetPart.pnPoints[k]]);
  }
  std::vector<float> radius(1), value(1);
  for (int g = 1; g <= currentGridPart.nGridPoints; ++g) {
    if (currentGridPart.pGridRadius[g] < inner || currentGridPart.pGridRadius[g] > outer || GridPointUnmeasured(g)) continue;
    radius.push_back(currentGridPart.pGridRadius[g]);
    value.push_back(currentGridPart.pAverageScan[g]);
  }
  const int n = static_cast<int>(radius.size()) - 1;
  if (n < 1) return Refused("\n\aAttention: the scans hold no common radius to average over");
  if (!WriteScanFile(path.c_str(), n, radius.data(), value.data(), nullptr, "averaged",
                     dataSetPart.pScanInfo[1].timeStampOk, record))
    return Refused(WithReason(Format("\n\aAttention: could not write %s", path.c_str()), SaveFailureReason(path)));
  return Done();
}

}  // namespace tarmic
