#include "scandata/result_files.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "storage/atomic_file.h"
#include "numerics/ccurve.h"
#include "services/error_box.h"
#include "numerics/interpolation.h"
#include "numerics/number_input.h"
#include "prompts/number_question.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "services/replace_question.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "services/engine_notice.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/dls_file.h"
#include "scandata/intensity_scans.h"
#include "scandata/program_files.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

std::size_t At(int i) { return static_cast<std::size_t>(i); }


void Tell(const std::string& text, const char* caption) {
  RaiseNote(text, caption, MB_OK);
}

bool RefuseDLSData() {
  if (!DataSet().bDLSData) return false;
  PlayInfoSound();
  Tell("not implemented for DLS data", "ERROR");
  return true;
}

std::string StemOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  return name.substr(0, name.size() - ExtensionOf(name).size());
}

bool IsIntensityScan(const ScanInfo& info) { return info.scanType == 'I' || info.scanType == 'V'; }

// The extension (with its point) of a scan file that holds absorbance values made
// from intensities: 'a' as the optics letter, the second character after the point
// (".ri1" becomes ".ra1").
std::string AbsorbanceExtension(std::string ext) {
  return ext.size() > 2 ? ReplaceCharacterAt(ext, 2, "a") : ext;
}

// The output of scan s under the naming rules of the per-scan saves.
std::string PerScanOutputName(const std::string& chosen, int s, char letter, bool converted) {
  const std::string& stored = DataSet().ppScanFileNames[At(s)];
  std::string ext = ExtensionOf(stored);
  if (converted) ext = AbsorbanceExtension(ext);
  const std::string dir = DirectoryOf(chosen);
  if (AnalysisSwitches().bOldFilenameConvention) return JoinPath(dir, StemOf(chosen) + ext);
  const std::string stem = StemOf(stored);
  const std::string first(1, letter);
  return JoinPath(dir, (stem.empty() ? first : ReplaceCharacterAt(stem, 0, first)) + ext);
}

// The points of scan s inside its fit limits (0 means unset: all points).
void FitRange(int s, int* first, int* last) {
  const int n = DataSet().pnPoints[At(s)];
  *first = DataSet().pFitFirst.size() > At(s) && DataSet().pFitFirst[At(s)] > 0 ? DataSet().pFitFirst[At(s)] : 1;
  *last = DataSet().pFitLast.size() > At(s) && DataSet().pFitLast[At(s)] > 0 ? DataSet().pFitLast[At(s)] : n;
  if (*last > n) *last = n;
}

// One scan file to write: 1-based arrays of m points.
struct PendingScan {
  std::string path;
  std::vector<float> radius, value, third;  // index 0 unused; third empty: none
  std::string description;
  ScanInfo info;
};

// Refuses names that two files would share, then asks once when files exist.
// False (after its message) when nothing may be written.
bool MayWriteAll(const std::vector<std::string>& paths, const char* notSaved) {
  std::map<std::string, std::size_t> seen;
  for (std::size_t k = 0; k < paths.size(); ++k) {
    auto [it, fresh] = seen.emplace(paths[k], k);
    if (!fresh) {
      PlayErrorSound();
      Tell(Format("%s\ntwo scans would be saved as %s", notSaved, paths[k].c_str()), "ERROR");
      return false;
    }
  }
  if (!MayReplaceFiles(paths)) {
    Tell(notSaved, "ERROR");
    return false;
  }
  return true;
}

bool MayWriteAll(const std::vector<PendingScan>& files, const char* notSaved) {
  std::vector<std::string> paths;
  for (const PendingScan& f : files) paths.push_back(f.path);
  return MayWriteAll(paths, notSaved);
}

// One dlsdat file to write: 1-based arrays of m points (log10 lag times, values).
struct PendingDLS {
  std::string path;
  std::vector<float> x, y;  // index 0 unused
  std::string title;
  DLSInfo record;
};

// The points of correlation function s inside its fit limits, with values(s, p).
template <typename Values>
PendingDLS CollectDLS(int s, const std::string& path, const std::string& title, Values values) {
  PendingDLS f;
  f.path = path;
  f.title = title;
  f.record = DataSet().pDLSInfo.size() > At(s) ? DataSet().pDLSInfo[At(s)] : DLSInfo();
  int first, last;
  FitRange(s, &first, &last);
  const int m = last >= first ? last - first + 1 : 0;
  f.x.assign(At(m) + 1, 0.0f);
  f.y.assign(At(m) + 1, 0.0f);
  for (int i = 1; i <= m; ++i) {
    f.x[At(i)] = DataSet().ppRadius[At(s)][first + i - 1];
    f.y[At(i)] = values(s, first + i - 1);
  }
  f.record.nDataPoints = m;
  return f;
}

// Writes every dlsdat file as it stands (no conversion while writing); the ones
// that fail are named in one message.
bool WriteAllDLS(const std::vector<PendingDLS>& files) {
  DlsFile().bDLSConvertOnWrite = false;
  // All files are written before any replaces its target: a set is never half new.
  AtomicFileBatch batch;
  for (const PendingDLS& f : files) {
    const int m = static_cast<int>(f.x.size()) - 1;
    batch.Check(f.path, WriteDLSDatFromRecord(f.path.c_str(), m, f.x.data(), f.y.data(),
                                              f.title.c_str(), f.record));
  }
  const std::string report = batch.Finish();
  if (report.empty()) return true;
  PlayErrorSound();
  Tell(report, "ERROR");
  return false;
}

// The fitted correlation functions as intensity autocorrelations g(2) - 1, each
// with the noise the user asks for: noise in the field autocorrelation g(1) is
// added before squaring, noise in the intensity autocorrelation after.
bool SaveFittedDLSData(const std::string& chosenPath, const AnswerPolicy& answers) {
  std::vector<PendingDLS> sets;
  std::vector<std::string> paths;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    sets.push_back(CollectDLS(s, PerScanOutputName(chosenPath, s, 'f', false),
                              kFittedScanDescription + DataSet().ppScanFileNames[At(s)],
                              [](int j, int p) { return DataSet().ppFit[At(j)] ? DataSet().ppFit[At(j)][p] : 0.0f; }));
    paths.push_back(sets.back().path);
  }
  if (!MayWriteAll(paths, "fit not saved")) return false;
  for (PendingDLS& f : sets) {
    const bool field = f.record.bFieldACF;
    bool fieldNoise = false;
    float level = 0.0f;
    if (AnswersYes(answers, {QuestionId::AddNoise, "add noise?", "SAVE DLS DATA",
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2})) {
      fieldNoise = AnswersYes(answers, {QuestionId::AddFieldNoise, "add noise to field autocorrelation?",
                                        "SAVE DLS DATA", MB_YESNO | MB_ICONQUESTION});
      // A correlation function reaches about 1: a noise beyond ten times that
      // leaves nothing of it.
      level = RaiseNumberQuestion({0.0f, true,
                                   fieldNoise ? "level of noise in field autocorrelation:"
                                              : "level of noise in intensity autocorrelation:",
                                   "SAVE DLS DATA", {"level of noise", "", Closed(0.0, 10.0)}})
                  .value_or(0.0f);
    }
    for (std::size_t i = 1; i < f.y.size(); ++i) {
      // Values loaded as g(2) - 1 are squared only through g(1) when field noise
      // enters there; otherwise they are written as they are.
      float y = f.y[i];
      if (field || (fieldNoise && level != 0.0f)) {
        float g = field ? y : SignedSqrt(y);
        if (fieldNoise && level != 0.0f) g += GaussianRandom(level);
        y = SignedSquare(g);
      }
      if (!fieldNoise && level != 0.0f) y += GaussianRandom(level);
      f.y[i] = y;
    }
    // The file says what it holds: the intensity autocorrelation.
    f.record.bFieldACF = false;
  }
  return WriteAllDLS(sets);
}

// The residuals of the correlation functions in the form they were loaded in (the
// record's flag says which), so that read back in that form fit + residuals give
// the data.
bool SaveResidualDLSData(const std::string& chosenPath) {
  std::vector<PendingDLS> sets;
  std::vector<std::string> paths;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    sets.push_back(CollectDLS(s, PerScanOutputName(chosenPath, s, 'r', false),
                              kResidualScanDescription + DataSet().ppScanFileNames[At(s)], [](int j, int p) {
                                return DataSet().ppSignal[At(j)][p] - (DataSet().ppFit[At(j)] ? DataSet().ppFit[At(j)][p] : 0.0f);
                              }));
    paths.push_back(sets.back().path);
  }
  if (!MayWriteAll(paths, "residuals not saved")) return false;
  return WriteAllDLS(sets);
}

// Writes every file; the ones that fail are named in one message.
bool WriteAll(const std::vector<PendingScan>& files) {
  Window* window = HasBackend() ? &GetBackend().MainWindow() : nullptr;
  if (window) window->SetCursor(CursorShape::Wait);
  // All files are written before any replaces its target: a set is never half new.
  AtomicFileBatch batch;
  for (const PendingScan& f : files) {
    const int m = static_cast<int>(f.radius.size()) - 1;
    batch.Check(f.path, WriteScanFile(f.path.c_str(), m, f.radius.data(), f.value.data(),
                                      f.third.empty() ? nullptr : f.third.data(),
                                      f.description.c_str(), true, f.info));
  }
  const std::string report = batch.Finish();
  if (window) window->SetCursor(CursorShape::Arrow);
  if (report.empty()) return true;
  PlayErrorSound();
  Tell(report, "ERROR");
  return false;
}

// Asks before replacing one existing file; false (after "file not saved") on No.
bool MayOverwriteOne(const std::string& path) {
  if (MayReplaceFiles({path})) return true;
  Tell("file not saved", "ERROR");
  return false;
}

bool ReportWrite(bool ok, const std::string& path) {
  if (ok) return true;
  PlayErrorSound();
  Tell(WithReason("could not write:\n" + path, SaveFailureReason(path)), "ERROR");
  return false;
}

}  // namespace

std::vector<std::string> FittedScanFiles(const std::string& chosenPath, bool convertIntensity) {
  std::vector<std::string> files;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const bool convert = !DataSet().bDLSData && convertIntensity && IsIntensityScan(DataSet().pScanInfo[At(s)]) &&
                         DataSet().ppThirdColumn[At(s)];
    files.push_back(PerScanOutputName(chosenPath, s, 'f', convert));
  }
  return files;
}

std::vector<std::string> ResidualScanFiles(const std::string& chosenPath) {
  std::vector<std::string> files;
  for (int s = 1; s <= DataSet().nScans; ++s) files.push_back(PerScanOutputName(chosenPath, s, 'r', false));
  return files;
}

bool SaveFittedScans(const std::string& chosenPath, bool convertIntensity, const AnswerPolicy& answers) {
  if (DataSet().nScans < 1) return false;
  if (DataSet().bDLSData) return SaveFittedDLSData(chosenPath, answers);
  std::vector<PendingScan> files;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const ScanInfo& info = DataSet().pScanInfo[At(s)];
    const bool intensity = IsIntensityScan(info) && DataSet().ppThirdColumn[At(s)];
    const bool convert = intensity && convertIntensity;
    PendingScan f;
    f.path = PerScanOutputName(chosenPath, s, 'f', convert);
    f.description = kFittedScanDescription + DataSet().ppScanFileNames[At(s)];
    f.info = info;
    int first, last;
    FitRange(s, &first, &last);
    const int m = last >= first ? last - first + 1 : 0;
    f.radius.assign(At(m) + 1, 0.0f);
    f.value.assign(At(m) + 1, 0.0f);
    if (intensity) f.third.assign(At(m) + 1, 0.0f);
    for (int i = 1; i <= m; ++i) {
      const int p = first + i - 1;
      const float fit = DataSet().ppFit[At(s)][p];
      f.radius[At(i)] = DataSet().ppRadius[At(s)][p];
      // Intensity fits: the model's sample intensity, or its absorbance, with the
      // reference intensity as the third column.
      f.value[At(i)] = convert ? AbsorbanceFromIntensities(fit, DataSet().ppThirdColumn[At(s)][p]) : fit;
      if (intensity) f.third[At(i)] = DataSet().ppThirdColumn[At(s)][p];
    }
    if (convert) f.info.scanType = info.scanType == 'V' ? 'W' : 'R';
    files.push_back(std::move(f));
  }
  if (!MayWriteAll(files, "fit not saved")) return false;
  return WriteAll(files);
}

bool SaveResidualScans(const std::string& chosenPath) {
  if (DataSet().nScans < 1) return false;
  if (DataSet().bDLSData) return SaveResidualDLSData(chosenPath);
  std::vector<PendingScan> files;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    PendingScan f;
    f.path = PerScanOutputName(chosenPath, s, 'r', false);
    f.description = kResidualScanDescription + DataSet().ppScanFileNames[At(s)];
    f.info = DataSet().pScanInfo[At(s)];
    int first, last;
    FitRange(s, &first, &last);
    const int m = last >= first ? last - first + 1 : 0;
    f.radius.assign(At(m) + 1, 0.0f);
    f.value.assign(At(m) + 1, 0.0f);
    for (int i = 1; i <= m; ++i) {
      const int p = first + i - 1;
      f.radius[At(i)] = DataSet().ppRadius[At(s)][p];
      // Signal minus model, computed here so that the file never holds residuals of
      // an earlier model: data = fit + residuals point by point.
      f.value[At(i)] = DataSet().ppSignal[At(s)][p] - (DataSet().ppFit[At(s)] ? DataSet().ppFit[At(s)][p] : 0.0f);
    }
    // Residuals of intensity data are differences of intensities: one value column.
    if (IsIntensityScan(f.info)) f.info.scanType = f.info.scanType == 'V' ? 'W' : 'R';
    files.push_back(std::move(f));
  }
  if (!MayWriteAll(files, "residuals not saved")) return false;
  return WriteAll(files);
}

std::string RINoiseFile(const std::string& chosenPath) {
  if (DataSet().nScans < 1) return chosenPath;
  return JoinPath(DirectoryOf(chosenPath), StemOf(chosenPath) + ExtensionOf(DataSet().ppScanFileNames[1]));
}

std::string TINoiseFile(const std::string& chosenPath) {
  if (DataSet().nScans < 1) return chosenPath;
  const std::string& first = DataSet().ppScanFileNames[1];
  // Under the old convention the file takes scan 1's name in the data directory
  // (the stored name has no directory of its own).
  return AnalysisSwitches().bOldFilenameConvention ? JoinPath(DataSet().szDataDirectory, StemOf(first) + ExtensionOf(chosenPath))
                                : JoinPath(DirectoryOf(chosenPath), StemOf(chosenPath) + ExtensionOf(first));
}

bool SaveRINoise(std::string* path) {
  if (!path || DataSet().nScans < 1 || !AnalysisSwitches().bFitRINoise || !CurrentGrid().pRINoise) return false;
  if (RefuseDLSData()) return false;
  *path = RINoiseFile(*path);
  std::vector<float> t(At(DataSet().nScans) + 1, 0.0f), v(At(DataSet().nScans) + 1, 0.0f);
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const int s = DataSet().pScanOrder[At(k)];
    t[At(k)] = static_cast<float>(DataSet().pScanInfo[At(s)].recordedTime);
    v[At(k)] = CurrentGrid().pRINoise[s];
  }
  if (!MayOverwriteOne(*path)) return false;
  return ReportWrite(WriteXYTable(path->c_str(), DataSet().nScans, t.data(), v.data()), *path);
}

bool SaveTINoise(const std::string& chosenPath) {
  if (DataSet().nScans < 1 || !AnalysisSwitches().bFitTINoise || !CurrentGrid().pTINoise || !CurrentGrid().pGridRadius) return false;
  if (RefuseDLSData()) return false;
  const std::string path = TINoiseFile(chosenPath);
  const int a = CurrentGrid().iFitFirst > 0 ? CurrentGrid().iFitFirst : 1;
  const int b = CurrentGrid().iFitLast > 0 && CurrentGrid().iFitLast <= CurrentGrid().nGridPoints ? CurrentGrid().iFitLast : CurrentGrid().nGridPoints;
  const int m = b >= a ? b - a + 1 : 0;
  std::vector<float> r(At(m) + 1, 0.0f), v(At(m) + 1, 0.0f);
  for (int i = 1; i <= m; ++i) {
    const int g = a + i - 1;
    r[At(i)] = CurrentGrid().pGridRadius[g];
    v[At(i)] = CurrentGrid().pTINoise[g] + (CurrentGrid().pRemovedTINoise ? CurrentGrid().pRemovedTINoise[g] : 0.0f);
  }
  if (!MayOverwriteOne(path)) return false;
  ScanInfo info = DataSet().pScanInfo[1];
  // The grid holds absorbance values for intensity data.
  if (IsIntensityScan(info)) info.scanType = info.scanType == 'V' ? 'W' : 'R';
  return ReportWrite(
      WriteScanFile(path.c_str(), m, r.data(), v.data(), nullptr, kTINoiseScanDescription, true, info),
      path);
}

bool SubtractNoiseFromEqFile(Window* window, const std::string& inputPath,
                             const std::string& outputPath) {
  if (DataSet().nScans < 1 || !AnalysisSwitches().bFitTINoise || !CurrentGrid().pTINoise || !CurrentGrid().pGridRadius) return false;
  if (RefuseDLSData()) return false;
  ScanInfo info;
  int n = 0;
  float *radius = nullptr, *value = nullptr, *third = nullptr;
  std::string why;
  // The input's folder is held while it is read, not while the result is saved.
  std::optional<FolderReading> reading(std::in_place, std::vector<std::string>{inputPath});
  FinishInterruptedSaves(window, *reading);
  // The file leaves the kind of the loaded data as it is.
  const bool read = ReadScanFileAndKind(inputPath.c_str(), ScanDataKind::InForce(), nullptr, &info, &n,
                                        &radius, &value, &third, nullptr, 0.0f, &why);
  reading.reset();
  if (!read) {
    PlayInfoSound();
    Tell(why.empty() ? inputPath : inputPath + "\n" + why, "LOAD ERROR");
    return false;
  }
  if (ScanFile().bIntensityData && third) {
    for (int i = 1; i <= n; ++i) value[i] = AbsorbanceFromIntensities(value[i], third[i]);
    info.scanType = info.scanType == 'V' ? 'W' : 'R';
  }
  // The whole TI noise on the grid, resampled onto the file's radii.
  std::vector<float> total(At(CurrentGrid().nGridPoints) + 1, 0.0f), noise(At(n) + 1, 0.0f);
  for (int g = 1; g <= CurrentGrid().nGridPoints; ++g)
    total[At(g)] = CurrentGrid().pTINoise[g] + (CurrentGrid().pRemovedTINoise ? CurrentGrid().pRemovedTINoise[g] : 0.0f);
  const bool resampled =
      InterpolateCurve(n, radius, noise.data(), CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, total.data());
  // (No grid point inside the limits: the range runs from beyond the last one.)
  const bool none = CurrentGrid().iFitFirst > CurrentGrid().nGridPoints;
  const float lo = none ? std::numeric_limits<float>::infinity()
                        : CurrentGrid().pGridRadius[CurrentGrid().iFitFirst > 0 ? CurrentGrid().iFitFirst : 1];
  const float hi = CurrentGrid().pGridRadius[CurrentGrid().iFitLast > 0 && CurrentGrid().iFitLast <= CurrentGrid().nGridPoints ? CurrentGrid().iFitLast : CurrentGrid().nGridPoints];
  int a = 1;
  while (a <= n && radius[a] < lo) ++a;
  int b = n;
  while (b >= 1 && radius[b] > hi) --b;
  bool ok = false;
  if (!resampled || a > b) {
    PlayErrorSound();
    Tell(Format("no point of %s lies inside the fitting limits - nothing written",
                inputPath.c_str()),
         "ERROR");
  } else if (MayOverwriteOne(outputPath)) {
    for (int i = a; i <= b; ++i) value[i] -= noise[At(i)];
    ok = ReportWrite(WriteScanFile(outputPath.c_str(), b - a + 1, radius + a - 1, value + a - 1,
                                   nullptr, kNoiseCorrectedScanDescription, true, info),
                     outputPath);
  }
  free_vector(radius, 1, n);
  free_vector(value, 1, n);
  if (third) free_vector(third, 1, n);
  return ok;
}

}  // namespace tarmic
