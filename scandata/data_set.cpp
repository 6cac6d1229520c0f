#include "scandata/data_set.h"

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

int nScans = 0;
bool bFitLimitWarningAccepted = false;
std::vector<std::string> ppScanFileNames;
std::vector<ScanInfo> pScanInfo;
std::vector<DLSInfo> pDLSInfo;
std::vector<int> pnPoints;
std::vector<float*> ppRadius;
std::vector<float*> ppSignal;
std::vector<float*> ppThirdColumn;
std::vector<float*> ppFit;
std::vector<float*> ppResiduals;
std::vector<float*> ppWork;
std::vector<int> pScanOrder;
std::vector<int> pFitFirst;
std::vector<int> pFitLast;
std::vector<CVector*> ppRadiusVec;
std::vector<CVector*> ppSignalVec;
std::vector<CVector*> ppFitVec;
std::vector<CVector*> ppResidualVec;
std::vector<CVector*> ppThirdVec;
std::vector<CCurve*> ppDataCurve;
std::vector<CCurve*> ppFitCurve;
std::vector<CCurve*> ppResidualCurve;
std::vector<CCurve*> ppThirdCurve;

float fMeniscus = 0.0f;
float fBottom = 0.0f;
float fFitLeftLim = 0.0f;
float fFitRightLim = 0.0f;
// The ranges a fit may move meniscus and bottom in, until a load sets them
// around the cell's own.
float fMinMeniscus = 5.8f;
float fMaxMeniscus = 6.6f;
float fMinBottom = 7.1f;
float fMaxBottom = 7.3f;
bool bFitRangesSet = false;

bool bEquilibriumMode = false;
bool bDLSData = false;
float fTemperatureK = 0.0f;
float fRT = 0.0f;
double dSignalPerConcentration = 1.0;
int nFilesPerScan = 1;
std::string szDataDirectory;
std::string szTmpParsPath;
std::string szSdistPath;
std::string szNotesPath;

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

unsigned nDataSetGeneration = 0;

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
KeptScanFingerprint gKeptFingerprint;
unsigned long long gMissedChanges = 0;
unsigned long long gRevision = 0;

unsigned long long ScanContentFingerprint() {
  unsigned long long h = 0x9e3779b97f4a7c15ull;
  MixInto(h, static_cast<unsigned long long>(nScans));
  for (int s = 1; s <= nScans && static_cast<std::size_t>(s) < pnPoints.size(); ++s) {
    const auto u = static_cast<std::size_t>(s);
    const int n = pnPoints[u];
    MixInto(h, static_cast<unsigned long long>(n));
    MixFloats(h, u < ppRadius.size() ? ppRadius[u] : nullptr, n);
    MixFloats(h, u < ppSignal.size() ? ppSignal[u] : nullptr, n);
    MixFloats(h, u < ppThirdColumn.size() ? ppThirdColumn[u] : nullptr, n);
    if (u < pScanInfo.size()) {
      MixInto(h, Bits(pScanInfo[u].time));
      MixInto(h, Bits(pScanInfo[u].omega2t));
      MixInto(h, Bits(pScanInfo[u].rpm));
    }
  }
  return h;
}

}  // namespace

void NoteScanDataChanged() {
  gKeptFingerprint.valid = false;
  ++gRevision;
}

unsigned long long ScanDataRevision() { return gRevision; }

unsigned long long ScanDataChangesMissedForTesting() { return gMissedChanges; }

LoadedDataStamp CurrentDataStamp() {
  if (!gKeptFingerprint.valid) {
    gKeptFingerprint.content = ScanContentFingerprint();
    gKeptFingerprint.valid = true;
  }
#ifndef NDEBUG
  // Builds with assertions check the kept fingerprint against the data each time,
  // so that a writer that bypasses the door is found by any test that runs it.
  if (const unsigned long long fresh = ScanContentFingerprint(); fresh != gKeptFingerprint.content) {
    ++gMissedChanges;
    gKeptFingerprint.content = fresh;
  }
#endif
  return LoadedDataStamp{nDataSetGeneration, gKeptFingerprint.content, ActiveModelIdentity(),
                         ModelSettingsIdentity()};
}

void AllocScanTables(int count) {
  if (!pnPoints.empty()) FreeDataSet();
  ++nDataSetGeneration;
  NoteScanDataChanged();
  const std::size_t size = static_cast<std::size_t>(count) + 1;
  ppScanFileNames.assign(size, std::string());
  pScanInfo.assign(size, ScanInfo());
  pnPoints.assign(size, 0);
  for (auto* t : {&ppRadius, &ppSignal, &ppThirdColumn, &ppFit, &ppResiduals, &ppWork})
    t->assign(size, nullptr);
  pScanOrder.assign(size, 0);
  for (int i = 1; i <= count; ++i) pScanOrder[static_cast<std::size_t>(i)] = i;
  pFitFirst.assign(size, 0);
  pFitLast.assign(size, 0);
  for (auto* t : {&ppRadiusVec, &ppSignalVec, &ppFitVec, &ppResidualVec, &ppThirdVec})
    t->assign(size, nullptr);
  for (auto* t : {&ppDataCurve, &ppFitCurve, &ppResidualCurve, &ppThirdCurve})
    t->assign(size, nullptr);
  nScans = count;
}

void GrowScanTables(int newCount) {
  if (newCount <= nScans) return;
  NoteScanDataChanged();
  const std::size_t size = static_cast<std::size_t>(newCount) + 1;
  ppScanFileNames.resize(size);
  pScanInfo.resize(size);
  pnPoints.resize(size, 0);
  for (auto* t : {&ppRadius, &ppSignal, &ppThirdColumn, &ppFit, &ppResiduals, &ppWork})
    t->resize(size, nullptr);
  pScanOrder.resize(size, 0);
  for (int i = nScans + 1; i <= newCount; ++i) pScanOrder[static_cast<std::size_t>(i)] = i;
  pFitFirst.resize(size, 0);
  pFitLast.resize(size, 0);
  for (auto* t : {&ppRadiusVec, &ppSignalVec, &ppFitVec, &ppResidualVec, &ppThirdVec})
    t->resize(size, nullptr);
  for (auto* t : {&ppDataCurve, &ppFitCurve, &ppResidualCurve, &ppThirdCurve})
    t->resize(size, nullptr);
  if (!pDLSInfo.empty()) pDLSInfo.resize(size);
  nScans = newCount;
}

void InstallScanArrays(int s, int n, float* radius, float* signal, float* third,
                       bool thirdCurve) {
  const std::size_t i = static_cast<std::size_t>(s);
  NoteScanDataChanged();
  pnPoints[i] = n;
  ppRadius[i] = radius;
  ppSignal[i] = signal;
  ppThirdColumn[i] = third;
  ppFit[i] = ZeroVector(n);
  ppWork[i] = ZeroVector(n);
  ppResiduals[i] = tarmic::vector(1, n);
  for (int k = 1; k <= n; ++k) ppResiduals[i][k] = signal ? signal[k] : 0.0f;
  pFitFirst[i] = 1;
  pFitLast[i] = n;
  ppRadiusVec[i] = ViewOf(radius, n);
  ppSignalVec[i] = ViewOf(signal, n);
  ppFitVec[i] = ViewOf(ppFit[i], n);
  ppResidualVec[i] = ViewOf(ppResiduals[i], n);
  ppDataCurve[i] = new CCurve(ppRadiusVec[i], ppSignalVec[i]);
  ppFitCurve[i] = new CCurve(ppRadiusVec[i], ppFitVec[i]);
  ppResidualCurve[i] = new CCurve(ppRadiusVec[i], ppResidualVec[i]);
  if (thirdCurve && third) {
    ppThirdVec[i] = ViewOf(third, n);
    ppThirdCurve[i] = new CCurve(ppRadiusVec[i], ppThirdVec[i]);
  }
}

void ReleaseScanArrays(int s) {
  if (s < 0 || s >= static_cast<int>(pnPoints.size())) return;
  NoteScanDataChanged();
  const int n = pnPoints[static_cast<std::size_t>(s)];
  // Curves first: they refer to the views, which refer to the arrays.
  DeleteAt(ppDataCurve, s);
  DeleteAt(ppFitCurve, s);
  DeleteAt(ppResidualCurve, s);
  DeleteAt(ppThirdCurve, s);
  DeleteAt(ppRadiusVec, s);
  DeleteAt(ppSignalVec, s);
  DeleteAt(ppFitVec, s);
  DeleteAt(ppResidualVec, s);
  DeleteAt(ppThirdVec, s);
  FreeArrayAt(ppRadius, s, n);
  FreeArrayAt(ppFit, s, n);
  FreeArrayAt(ppWork, s, n);
  FreeArrayAt(ppResiduals, s, n);
  FreeArrayAt(ppSignal, s, n);
  FreeArrayAt(ppThirdColumn, s, n);
}

void FreeDataSet() {
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.freeNonlinearDetectionCopies) hooks.freeNonlinearDetectionCopies();
  // The grid first: when it aliases the scans' arrays it must not outlive them.
  FreeGridData(nScans);
  for (int s = static_cast<int>(pnPoints.size()) - 1; s >= 1; --s) ReleaseScanArrays(s);
  ppScanFileNames.clear();
  pScanInfo.clear();
  pDLSInfo.clear();
  pnPoints.clear();
  for (auto* t : {&ppRadius, &ppSignal, &ppThirdColumn, &ppFit, &ppResiduals, &ppWork}) t->clear();
  pScanOrder.clear();
  pFitFirst.clear();
  pFitLast.clear();
  for (auto* t : {&ppRadiusVec, &ppSignalVec, &ppFitVec, &ppResidualVec, &ppThirdVec}) t->clear();
  for (auto* t : {&ppDataCurve, &ppFitCurve, &ppResidualCurve, &ppThirdCurve}) t->clear();
  if (hooks.releaseDataAndResidualPlots) hooks.releaseDataAndResidualPlots();
  nScans = 0;
  bFitLimitWarningAccepted = false;
  bDataChanged = true;
  NoteScanDataChanged();
}

bool FitLeftLimitSet() { return bDLSData || fFitLeftLim != 0.0f; }
bool FitRightLimitSet() { return bDLSData || fFitRightLim != 0.0f; }

std::string TooManyScansText() {
  return "too many scans selected: at most " + std::to_string(kMaxScans) + " scans can be loaded";
}

std::string ScanFilePath(int s) {
  if (s < 1 || s >= static_cast<int>(ppScanFileNames.size())) return {};
  if (static_cast<std::size_t>(s) < pScanInfo.size() && !pScanInfo[static_cast<std::size_t>(s)].sourcePath.empty())
    return pScanInfo[static_cast<std::size_t>(s)].sourcePath;
  return JoinPath(szDataDirectory, ppScanFileNames[static_cast<std::size_t>(s)]);
}

}  // namespace tarmic
