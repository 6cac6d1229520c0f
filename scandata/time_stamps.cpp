#include "scandata/time_stamps.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/hydrodynamics.h"
#include "numerics/number_input.h"
#include "prompts/number_question.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/file_list.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

void ResetTimeStampGlobals() {
  auto& timeStampsPart = TimeStamps();
  timeStampsPart.bCheckTimeStamps = true;
  timeStampsPart.dTimeStampThreshold = 1.001;
}

namespace {

// A file time stamp further than this from the run's projection is an outlier, s.
// File times are whole seconds; the tolerance keeps the rounding of the projection
// from making a scan exactly 60 s off an outlier.
constexpr double kOutlierSeconds = 60.0;
constexpr double kOutlierTolerance = 1e-6;
// Recorded spans shorter than this give no factor, s.
constexpr double kMinRecordedSpan = 60.0;

// Modification time of the file in whole seconds; false when it cannot be opened.
bool ModificationTime(const std::string& path, std::time_t* out) {
  if (!FileExists(path.c_str())) return false;
  FileTimes times = GetFileTimes(path);
  if (!times.valid) return false;
  *out = static_cast<std::time_t>(std::floor(static_cast<double>(times.lastWrite) / 1e9));
  return true;
}

// The message of a file that could not be opened, with the reason when known.
void CouldNotOpen(const std::string& path, const std::string& reason = {}) {
  RaiseError(WithReason(Format("\n\aAttention: could not open %s", path.c_str()), reason));
}

// The time as ctime writes it, without the final line feed.
std::string TimeText(std::time_t t) {
  char buffer[64];
  if (!ctime_r(&t, buffer)) return "?";
  std::string s(buffer);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

const ScanInfo& DisplayedInfo(int position) {
  auto& dataSetPart = DataSet();
  return dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(position)])];
}

bool IsMarked(const ScanInfo& info) { return HasTimeStampMark(info.description); }

std::string ReportLine(bool outlier, const std::string& path, int i, std::time_t ti, double dFile,
                       double dRec, double residual) {
  std::string line = outlier ? Format("OUTLIER %s: ", path.c_str()) : std::string();
  line += Format("t%d = %s, \tdelta-t(%d-1) = %.1f sec, \t%.1f elapsed time difference recorded "
                 "in file; discrepancy = %.1f; [residual from OS projection = %f]\n",
                 i, TimeText(ti).c_str(), i, dFile, dRec, dFile - dRec, residual);
  return line;
}

}  // namespace

int TimeStampMarks(bool* mixed) {
  auto& scanFilePart = ScanFile();
  auto& timeStampsPart = TimeStamps();
  auto& dataSetPart = DataSet();
  bool dummy = false;
  if (!mixed) mixed = &dummy;
  *mixed = false;
  if (dataSetPart.nScans < 1) return 1;
  if (scanFilePart.bFluorescenceData && timeStampsPart.dTimeStampThreshold > 1.001) return 1;
  bool firstMarked = false;
  int result = 0;
  for (int k = 1; k <= dataSetPart.nScans; ++k) {
    const bool marked = IsMarked(DisplayedInfo(k));
    if (k == 1) {
      firstMarked = marked;
    } else if (k < dataSetPart.nScans) {
      if (firstMarked && !marked) *mixed = true;
    } else {
      result = (firstMarked && marked) ? 1 : 0;
    }
  }
  return result;
}

double TimeStampAnalysis(bool showReport, bool* error, double** recordedDiffs, double** fileDiffs) {
  auto& timeStampsPart = TimeStamps();
  auto& dataSetPart = DataSet();
  auto& fileListPart = FileList();
  bool dummy = false;
  if (!error) error = &dummy;
  *error = false;
  if (dataSetPart.nScans < 2) return 1.0;
  DataSet().bDataChanged = true;
  StoreFileList(0);
  const int n = dataSetPart.nScans;

  std::vector<double> dRec(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<double> dFile(static_cast<std::size_t>(n) + 1, 0.0);
  double factor = 1.0;
  auto finish = [&](double result) {
    auto handOut = [n](const std::vector<double>& values, double** out) {
      if (!out) return;
      *out = dvector(1, n);
      for (int i = 1; i <= n; ++i) (*out)[i] = values[static_cast<std::size_t>(i)];
    };
    handOut(dRec, recordedDiffs);
    handOut(dFile, fileDiffs);
    return result;
  };

  const std::string& firstPath = fileListPart.ppStoredFileNames[1];
  const std::string& lastPath = fileListPart.ppStoredFileNames[static_cast<std::size_t>(n)];
  std::time_t t1 = 0, tn = 0;
  if (!ModificationTime(firstPath, &t1)) {
    CouldNotOpen(firstPath);
    *error = true;
    return finish(1.0);
  }
  if (!ModificationTime(lastPath, &tn)) {
    CouldNotOpen(lastPath);
    *error = true;
    return finish(1.0);
  }
  const double recordedFirst = DisplayedInfo(1).recordedTime;
  dFile[static_cast<std::size_t>(n)] = std::difftime(tn, t1);
  dRec[static_cast<std::size_t>(n)] = DisplayedInfo(n).recordedTime - recordedFirst;
  // The dilation factor: file-time span over recorded span of the whole run.
  factor = dRec[static_cast<std::size_t>(n)] >= kMinRecordedSpan
               ? dFile[static_cast<std::size_t>(n)] / dRec[static_cast<std::size_t>(n)]
               : 0.0;

  std::string report = "t1 = " + TimeText(t1) + "\n";
  int outliers = 0;
  for (int i = 2; i <= n - 1; ++i) {
    const std::string& path = fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)];
    std::time_t ti = 0;
    if (!ModificationTime(path, &ti)) {
      CouldNotOpen(path);
      *error = true;
      return finish(1.0);
    }
    const std::size_t s = static_cast<std::size_t>(i);
    dFile[s] = std::difftime(ti, t1);
    dRec[s] = DisplayedInfo(i).recordedTime - recordedFirst;
    const double residual = factor * dRec[s] - dFile[s];
    const bool outlier = factor > 0 && std::fabs(residual) > kOutlierSeconds + kOutlierTolerance;
    if (outlier) ++outliers;
    report += ReportLine(outlier, path, i, ti, dFile[s], dRec[s], residual);
  }

  if (factor > timeStampsPart.dTimeStampThreshold) {
    const std::size_t s = static_cast<std::size_t>(n);
    report += ReportLine(false, lastPath, n, tn, dFile[s], dRec[s], factor * dRec[s] - dFile[s]);
    if (outliers > 0)
      report += Format("\n\n--> attention - found %d files with odd time stamp (see above)", outliers);
    report += Format("\n\n--> correction factor (delta-file timestamp/delta-recorded time) = %f", factor);
    const std::string reportPath = JoinPath(DirectoryOf(firstPath), "timestampanalysis" + ExtensionOf(firstPath));
    AtomicFile out(reportPath);
    std::FILE* f = out.File();
    const bool written = f && WriteFormatted(f, "%s\n", report.c_str()) && out.Commit();
    if (!written) {
      out.Discard();
      CouldNotOpen(reportPath, out.Error());
      *error = true;
      return finish(1.0);
    }
    if (showReport && HasBackend()) GetBackend().ShowTextFile(reportPath);
  }
  // The stored list keeps naming the loaded scans in display order.
  return finish(factor);
}

int CheckTimeStamps(Window* window, const AnswerPolicy& answers) {
  auto& timeStampsPart = TimeStamps();
  auto& dataSetPart = DataSet();
  auto& fileListPart = FileList();
  (void)window;
  if (dataSetPart.nScans < 1) return 0;
  if (dataSetPart.bEquilibriumMode) {
    for (int i = 1; i <= dataSetPart.nScans; ++i) dataSetPart.pScanInfo[static_cast<std::size_t>(i)].timeStampOk = true;
    return 0;
  }
  bool mixed = false;
  const int allMarked = TimeStampMarks(&mixed);
  if (mixed) {
    RaiseError("Attention: some scans time corrected, others not");
    return 0;
  }
  if (allMarked) return 0;

  bool error = false;
  double factor = TimeStampAnalysis(true, &error, nullptr, nullptr);
  bool manual = false;
  if (factor <= 0.1) {
    if (!AnswersYes(answers, {QuestionId::EnterDilationFactor,
                              "Attention: no time stamp information available - enter manually (version# >= 6)?",
                              "CHECK TIME STAMP", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2}))
      return 0;
    const double x = DisplayedInfo(dataSetPart.nScans).rpm / 15000.0;
    const float proposed = static_cast<float>(0.0091 * x * x + 1.0);
    const std::optional<float> entered = RaiseNumberQuestion(
        {proposed, true, "dilation factor", "CHECK TIME STAMP", NamedAs("dilation factor", kTimeStampThreshold)});
    if (!entered) return 0;
    factor = *entered;
    manual = true;
  }
  if (!(factor > timeStampsPart.dTimeStampThreshold)) return 0;
  if (!AnswersYes(answers, {QuestionId::SaveTimeCorrectedFiles, "save corrected files and reload?", "CHECK TIME STAMP",
                            MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2}))
    return 0;

  StoreFileList(0);
  // Every corrected copy is written before anything is changed: when one cannot be
  // written the correction stops, and the loaded scans, the original files and the
  // stored list stay as they were.
  std::vector<std::string> copies(static_cast<std::size_t>(dataSetPart.nScans) + 1);
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    const std::string& original = fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)];
    const std::string copy = JoinPath(DirectoryOf(original), "tcorr_" + FileNameOf(original));
    const std::size_t s = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(i)]);
    const ScanInfo& info = dataSetPart.pScanInfo[s];
    const std::string description =
        Format(manual ? "[TIMESTAMP CORRECTED %f (manual)]" : "[TIMESTAMP CORRECTED %f]", factor) +
        info.description;
    const float* second = dataSetPart.ppSignal[s];
    const float* third = dataSetPart.ppThirdColumn[s];
    const bool wavelengthScan = info.scanType == 'W' || info.scanType == 'V';
    auto writer = wavelengthScan ? WriteWavelengthScanFile : WriteRadialScanFile;
    if (!writer(copy.c_str(), dataSetPart.pnPoints[s], dataSetPart.ppRadius[s], second, third, description.c_str(), true,
                info.creationTime, info.lastAccessTime, info.lastWriteTime, info.fileTimesValid,
                info.scanType, info.cell, info.temperature, info.rpm, info.recordedTime * factor,
                info.omega2t * factor, info.wavelength, info.replicates)) {
      RaiseError(WithReason(Format("\n\aAttention: could not write %s\ntime stamp correction stopped; "
                                  "the original files stay loaded",
                                  copy.c_str()),
                           SaveFailureReason(copy)));
      return 0;
    }
    copies[static_cast<std::size_t>(i)] = copy;
  }
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)] = copies[static_cast<std::size_t>(i)];
    ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(i)])];
    info.time *= factor;
    info.recordedTime *= factor;
    info.timeAtLoad *= factor;
    info.omega2t *= factor;
    info.timeStampOk = true;
  }
  NoteScanDataChanged();
  WriteScanListFile();
  return 1;
}

void ResetTimesFromFileTimes(Window* window, const AnswerPolicy& answers) {
  auto& dataSetPart = DataSet();
  auto& fileListPart = FileList();
  if (dataSetPart.nScans < 2) return;
  StoreFileList(0);
  if (!HasBackend()) return;
  int k = 1;
  for (;;) {
    const std::string question =
        Format("using #%d (%s) as reference for t (%f), w^2t", k,
               fileListPart.ppStoredFileNames[static_cast<std::size_t>(k)].c_str(), DisplayedInfo(k).recordedTime);
    if (AnswersYes(answers, {QuestionId::TimeReferenceScan, question, "FIX TIME AND W2T",
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2}))
      break;
    const std::optional<float> picked = RaiseNumberQuestion(
        {static_cast<float>(k), true, "pick file #", "FIX TIME AND W2T", {"file number", "", Count(1.0, dataSetPart.nScans)}});
    if (!picked) return;
    k = TruncateToInt(std::fabs(*picked));
    if (k > dataSetPart.nScans) k = dataSetPart.nScans;
    if (k == 0) return;
  }

  // Every file time is read before any scan changes, so that a file that cannot be
  // read leaves all times as they were.
  std::vector<std::time_t> fileTime(static_cast<std::size_t>(dataSetPart.nScans) + 1, 0);
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    const std::string& path = fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)];
    if (!ModificationTime(path, &fileTime[static_cast<std::size_t>(i)])) {
      CouldNotOpen(path);
      return;
    }
  }
  const ScanInfo reference = DisplayedInfo(k);
  const float w = static_cast<float>(reference.rpm * kTwoPiOver60);
  const double w2 = static_cast<double>(w) * w;
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    if (i == k) continue;
    const double d = std::difftime(fileTime[static_cast<std::size_t>(i)], fileTime[static_cast<std::size_t>(k)]);
    ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(i)])];
    info.time = reference.time + d;
    info.recordedTime = reference.recordedTime + d;
    info.timeAtLoad = reference.timeAtLoad + d;
    info.omega2t = reference.omega2t + w2 * d;
  }
  NoteScanDataChanged();
  DataSet().bDataChanged = true;
  if (AnswersYes(answers, {QuestionId::SaveNewData, "save new data?", "", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2})) {
    const DataSetHooks& hooks = GetDataSetHooks();
    if (hooks.saveRawDataSet) hooks.saveRawDataSet(window);
  }
}

}  // namespace tarmic
