#include "scandata/data_set.h"
#include "numerics/analysis.h"

#include <atomic>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "scandata/data_set_hooks.h"
#include "scandata/grid_data.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

template <typename T>
void DeleteAt(std::vector<T*>& table, int s) {
  if (s < static_cast<int>(table.size())) {
    delete table[static_cast<std::size_t>(s)];
    table[static_cast<std::size_t>(s)] = nullptr;
  }
}

void FreeArrayAt(std::vector<float*>& table, int s, int n) {
  if (s < static_cast<int>(table.size()) && table[static_cast<std::size_t>(s)]) {
    free_vector(table[static_cast<std::size_t>(s)], 1, std::max(n, 1));
    table[static_cast<std::size_t>(s)] = nullptr;
  }
}

float* ZeroVector(int n) {
  float* v = tarmic::vector(1, n);
  std::fill(v + 1, v + n + 1, 0.0f);
  return v;
}

CVector* ViewOf(float* array, int n) {
  CVector* v = new CVector();
  v->AttachNR(array, static_cast<std::uint32_t>(n), 1);
  return v;
}

}  // namespace

namespace {

void MixInto(unsigned long long& h, unsigned long long word) { MixIntoFingerprint(h, word); }

void MixFloats(unsigned long long& h, const float* a, int n) {
  if (!a) {
    MixInto(h, 0x6e756c6cull);
    return;
  }
  for (int i = 1; i <= n; ++i) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &a[i], sizeof bits);
    MixInto(h, bits);
  }
}

unsigned long long Bits(double v) {
  unsigned long long bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

}  // namespace

void MixIntoFingerprint(unsigned long long& h, unsigned long long word) {
  h = (h ^ word) * 0xff51afd7ed558ccdull;
  h ^= h >> 33;
}

namespace {

// The fingerprint of the scans kept with them: valid while no change was noted.
struct KeptScanFingerprint {
  bool valid = false;
  unsigned long long content = 0;
};
// This module's own state in the analysis.
struct LocalState {
  KeptScanFingerprint gKeptFingerprint{};
  unsigned long long gRevision = 0;
};
LocalState& Local() { return CurrentPart<LocalState>(); }
std::atomic<unsigned long long> gMissedChanges{0};

unsigned long long ScanContentFingerprint() {
  auto& dataSetPart = DataSet();
  unsigned long long h = 0x9e3779b97f4a7c15ull;
  MixInto(h, static_cast<unsigned long long>(dataSetPart.nScans));
  for (int s = 1; s <= dataSetPart.nScans && static_cast<std::size_t>(s) < dataSetPart.pnPoints.size(); ++s) {
    const auto u = static_cast<std::size_t>(s);
    const int n = dataSetPart.pnPoints[u];
    MixInto(h, static_cast<unsigned long long>(n));
    MixFloats(h, u < dataSetPart.ppRadius.size() ? dataSetPart.ppRadius[u] : nullptr, n);
    MixFloats(h, u < dataSetPart.ppSignal.size() ? dataSetPart.ppSignal[u] : nullptr, n);
    MixFloats(h, u < dataSetPart.ppThirdColumn.size() ? dataSetPart.ppThirdColumn[u] : nullptr, n);
    if (u < dataSetPart.pScanInfo.size()) {
      MixInto(h, Bits(dataSetPart.pScanInfo[u].time));
      MixInto(h, Bits(dataSetPart.pScanInfo[u].omega2t));
      MixInto(h, Bits(dataSetPart.pScanInfo[u].rpm));
    }
  }
  return h;
}

}  // namespace

void NoteScanDataChanged() {
  auto& localPart = Local();
  localPart.gKeptFingerprint.valid = false;
  ++localPart.gRevision;
}

unsigned long long ScanDataRevision() { return Local().gRevision; }

unsigned long long ScanDataChangesMissedForTesting() { return gMissedChanges; }

LoadedDataStamp CurrentDataStamp() {
  auto& localPart = Local();
  if (!localPart.gKeptFingerprint.valid) {
    localPart.gKeptFingerprint.content = ScanContentFingerprint();
    localPart.gKeptFingerprint.valid = true;
  }
#ifndef NDEBUG
  // Builds with assertions check the kept fingerprint against the data each time,
  // so that a writer that bypasses the door is found by any test that runs it.
  if (const unsigned long long fresh = ScanContentFingerprint(); fresh != localPart.gKeptFingerprint.content) {
    ++gMissedChanges;
    localPart.gKeptFingerprint.content = fresh;
  }
#endif
  return LoadedDataStamp{DataSet().nDataSetGeneration, localPart.gKeptFingerprint.content, ActiveModelIdentity(),
                         ModelSettingsIdentity()};
}

void AllocScanTables(int count) {
  auto& dataSetPart = DataSet();
  if (!dataSetPart.pnPoints.empty()) FreeDataSet();
  ++dataSetPart.nDataSetGeneration;
  NoteScanDataChanged();
  const std::size_t size = static_cast<std::size_t>(count) + 1;
  dataSetPart.ppScanFileNames.assign(size, std::string());
  dataSetPart.pScanInfo.assign(size, ScanInfo());
  dataSetPart.pnPoints.assign(size, 0);
  for (auto* t : {&dataSetPart.ppRadius, &dataSetPart.ppSignal, &dataSetPart.ppThirdColumn, &dataSetPart.ppFit, &dataSetPart.ppResiduals, &dataSetPart.ppWork})
    t->assign(size, nullptr);
  dataSetPart.pScanOrder.assign(size, 0);
  for (int i = 1; i <= count; ++i) dataSetPart.pScanOrder[static_cast<std::size_t>(i)] = i;
  dataSetPart.pFitFirst.assign(size, 0);
  dataSetPart.pFitLast.assign(size, 0);
  for (auto* t : {&dataSetPart.ppRadiusVec, &dataSetPart.ppSignalVec, &dataSetPart.ppFitVec, &dataSetPart.ppResidualVec, &dataSetPart.ppThirdVec})
    t->assign(size, nullptr);
  for (auto* t : {&dataSetPart.ppDataCurve, &dataSetPart.ppFitCurve, &dataSetPart.ppResidualCurve, &dataSetPart.ppThirdCurve})
    t->assign(size, nullptr);
  dataSetPart.nScans = count;
}

void GrowScanTables(int newCount) {
  auto& dataSetPart = DataSet();
  if (newCount <= dataSetPart.nScans) return;
  NoteScanDataChanged();
  const std::size_t size = static_cast<std::size_t>(newCount) + 1;
  dataSetPart.ppScanFileNames.resize(size);
  dataSetPart.pScanInfo.resize(size);
  dataSetPart.pnPoints.resize(size, 0);
  for (auto* t : {&dataSetPart.ppRadius, &dataSetPart.ppSignal, &dataSetPart.ppThirdColumn, &dataSetPart.ppFit, &dataSetPart.ppResiduals, &dataSetPart.ppWork})
    t->resize(size, nullptr);
  dataSetPart.pScanOrder.resize(size, 0);
  for (int i = dataSetPart.nScans + 1; i <= newCount; ++i) dataSetPart.pScanOrder[static_cast<std::size_t>(i)] = i;
  dataSetPart.pFitFirst.resize(size, 0);
  dataSetPart.pFitLast.resize(size, 0);
  for (auto* t : {&dataSetPart.ppRadiusVec, &dataSetPart.ppSignalVec, &dataSetPart.ppFitVec, &dataSetPart.ppResidualVec, &dataSetPart.ppThirdVec})
    t->resize(size, nullptr);
  for (auto* t : {&dataSetPart.ppDataCurve, &dataSetPart.ppFitCurve, &dataSetPart.ppResidualCurve, &dataSetPart.ppThirdCurve})
    t->resize(size, nullptr);
  if (!dataSetPart.pDLSInfo.empty()) dataSetPart.pDLSInfo.resize(size);
  dataSetPart.nScans = newCount;
}

void InstallScanArrays(int s, int n, float* radius, float* signal, float* third,
                       bool thirdCurve) {
  const std::size_t i = static_cast<std::size_t>(s);
  NoteScanDataChanged();
  DataSet().pnPoints[i] = n;
  DataSet().ppRadius[i] = radius;
  DataSet().ppSignal[i] = signal;
  DataSet().ppThirdColumn[i] = third;
  DataSet().ppFit[i] = ZeroVector(n);
  DataSet().ppWork[i] = ZeroVector(n);
  DataSet().ppResiduals[i] = tarmic::vector(1, n);
  for (int k = 1; k <= n; ++k) DataSet().ppResiduals[i][k] = signal ? signal[k] : 0.0f;
  DataSet().pFitFirst[i] = 1;
  DataSet().pFitLast[i] = n;
  DataSet().ppRadiusVec[i] = ViewOf(radius, n);
  DataSet().ppSignalVec[i] = ViewOf(signal, n);
  DataSet().ppFitVec[i] = ViewOf(DataSet().ppFit[i], n);
  DataSet().ppResidualVec[i] = ViewOf(DataSet().ppResiduals[i], n);
  DataSet().ppDataCurve[i] = new CCurve(DataSet().ppRadiusVec[i], DataSet().ppSignalVec[i]);
  DataSet().ppFitCurve[i] = new CCurve(DataSet().ppRadiusVec[i], DataSet().ppFitVec[i]);
  DataSet().ppResidualCurve[i] = new CCurve(DataSet().ppRadiusVec[i], DataSet().ppResidualVec[i]);
  if (thirdCurve && third) {
    DataSet().ppThirdVec[i] = ViewOf(third, n);
    DataSet().ppThirdCurve[i] = new CCurve(DataSet().ppRadiusVec[i], DataSet().ppThirdVec[i]);
  }
}

void ReleaseScanArrays(int s) {
  auto& dataSetPart = DataSet();
  if (s < 0 || s >= static_cast<int>(dataSetPart.pnPoints.size())) return;
  NoteScanDataChanged();
  const int n = dataSetPart.pnPoints[static_cast<std::size_t>(s)];
  // Curves first: they refer to the views, which refer to the arrays.
  DeleteAt(dataSetPart.ppDataCurve, s);
  DeleteAt(dataSetPart.ppFitCurve, s);
  DeleteAt(dataSetPart.ppResidualCurve, s);
  DeleteAt(dataSetPart.ppThirdCurve, s);
  DeleteAt(dataSetPart.ppRadiusVec, s);
  DeleteAt(dataSetPart.ppSignalVec, s);
  DeleteAt(dataSetPart.ppFitVec, s);
  DeleteAt(dataSetPart.ppResidualVec, s);
  DeleteAt(dataSetPart.ppThirdVec, s);
  FreeArrayAt(dataSetPart.ppRadius, s, n);
  FreeArrayAt(dataSetPart.ppFit, s, n);
  FreeArrayAt(dataSetPart.ppWork, s, n);
  FreeArrayAt(dataSetPart.ppResiduals, s, n);
  FreeArrayAt(dataSetPart.ppSignal, s, n);
  FreeArrayAt(dataSetPart.ppThirdColumn, s, n);
}

void DataSetState::ReleaseAtAnalysisEnd() { FreeDataSet(); }

void FreeDataSet() {
  auto& dataSetPart = DataSet();
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.freeNonlinearDetectionCopies) hooks.freeNonlinearDetectionCopies();
  // The grid first: when it aliases the scans' arrays it must not outlive them.
  FreeGridData(dataSetPart.nScans);
  for (int s = static_cast<int>(dataSetPart.pnPoints.size()) - 1; s >= 1; --s) ReleaseScanArrays(s);
  dataSetPart.ppScanFileNames.clear();
  dataSetPart.pScanInfo.clear();
  dataSetPart.pDLSInfo.clear();
  dataSetPart.pnPoints.clear();
  for (auto* t : {&dataSetPart.ppRadius, &dataSetPart.ppSignal, &dataSetPart.ppThirdColumn, &dataSetPart.ppFit, &dataSetPart.ppResiduals, &dataSetPart.ppWork}) t->clear();
  dataSetPart.pScanOrder.clear();
  dataSetPart.pFitFirst.clear();
  dataSetPart.pFitLast.clear();
  for (auto* t : {&dataSetPart.ppRadiusVec, &dataSetPart.ppSignalVec, &dataSetPart.ppFitVec, &dataSetPart.ppResidualVec, &dataSetPart.ppThirdVec}) t->clear();
  for (auto* t : {&dataSetPart.ppDataCurve, &dataSetPart.ppFitCurve, &dataSetPart.ppResidualCurve, &dataSetPart.ppThirdCurve}) t->clear();
  if (hooks.releaseDataAndResidualPlots) hooks.releaseDataAndResidualPlots();
  dataSetPart.nScans = 0;
  dataSetPart.bFitLimitWarningAccepted = false;
  DataSet().bDataChanged = true;
  NoteScanDataChanged();
}

bool FitLeftLimitSet() { return DataSet().bDLSData || DataSet().fFitLeftLim != 0.0f; }
bool FitRightLimitSet() { return DataSet().bDLSData || DataSet().fFitRightLim != 0.0f; }

std::string TooManyScansText() {
  return "too many scans selected: at most " + std::to_string(kMaxScans) + " scans can be loaded";
}

std::string ScanFilePath(int s) {
  auto& dataSetPart = DataSet();
  if (s < 1 || s >= static_cast<int>(dataSetPart.ppScanFileNames.size())) return {};
  if (static_cast<std::size_t>(s) < dataSetPart.pScanInfo.size() && !dataSetPart.pScanInfo[static_cast<std::size_t>(s)].sourcePath.empty())
    return dataSetPart.pScanInfo[static_cast<std::size_t>(s)].sourcePath;
  return JoinPath(dataSetPart.szDataDirectory, dataSetPart.ppScanFileNames[static_cast<std::size_t>(s)]);
}

}  // namespace tarmic
