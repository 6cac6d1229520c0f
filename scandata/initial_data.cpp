#include "scandata/initial_data.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cstddef>

#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "services/engine_notice.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"
#include "scandata/time_stamps.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  // The signal as read, from which every extrapolation starts.
std::vector<float> g_signalAsRead{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

std::size_t Z(int i) { return static_cast<std::size_t>(i); }

void Message(const std::string& text, const std::string& caption) {
  RaiseNote(text, caption, MB_OK);
}

// Intensity profiles are not extrapolated.
bool RefuseIntensity() {
  if (!ScanFile().bIntensityData) return false;
  PlayInfoSound();
  Message("initial extrapolation not implemented yet!", "ERROR");
  return true;
}

// Evaluates the polynomial through the q support points (xs, ys one-based) at x;
// false when two support abscissae coincide (no polynomial through them).
bool SupportPolynomial(const std::vector<float>& xs, const std::vector<float>& ys, int q, float x,
                       float* y) {
  for (int b = 2; b <= q; ++b)
    if (!(xs[Z(b)] != xs[Z(b - 1)])) return false;
  float dy = 0.0f;
  polint(xs.data(), ys.data(), q, x, y, &dy);
  return true;
}

}  // namespace

void FreeInitialData() {
  auto& initialDataPart = InitialData();
  initialDataPart.nInitPoints = 0;
  initialDataPart.pInitRadius.clear();
  initialDataPart.pInitSignal.clear();
  initialDataPart.pInitThird.clear();
  Local().g_signalAsRead.clear();
}

void SetInitialProfile(int n, const float* radius, const float* signal, const ScanInfo& record) {
  auto& initialDataPart = InitialData();
  FreeInitialData();
  if (n < 1 || !radius || !signal) return;
  initialDataPart.nInitPoints = n;
  initialDataPart.pInitRadius.assign(radius, radius + n + 1);
  initialDataPart.pInitSignal.assign(signal, signal + n + 1);
  initialDataPart.pInitRadius[0] = initialDataPart.pInitSignal[0] = 0.0f;
  Local().g_signalAsRead = initialDataPart.pInitSignal;
  initialDataPart.ScanInfoTemplate = record;
}

int LoadInitialData(Window* window, const std::string& path) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& timeStampsPart = TimeStamps();
  auto& dataSetPart = DataSet();
  auto& initialDataPart = InitialData();
  auto& radialGridPart = RadialGrid();
  DataSet().bDataChanged = true;
  const float minStep = (!dataSetPart.bEquilibriumMode && radialGridPart.fRadialStep > 0.001f) ? radialGridPart.fRadialStep : 0.0f;
  if (dataSetPart.nScans < 1) {
    Message("please load data files first", "");
    return 0;
  }
  FreeInitialData();
  ScanInfo record;
  int n = 0;
  float *r = nullptr, *y = nullptr, *third = nullptr;
  bool mark = false;
  const FolderReading reading({path});
  FinishInterruptedSaves(window, reading);
  // The profile leaves the kind of the loaded set as it is.
  const int ok = ReadScanFileAndKind(path.c_str(), ScanDataKind::InForce(), nullptr, &record, &n,
                                     &r, &y, &third, &mark, minStep);
  if (!ok) {
    PlayErrorSound();
    Message(path, "LOAD ERROR");
    return 0;
  }
  // An intensity profile starts the models as its absorbance; the reference
  // intensity stays in the third column.
  if (third && (record.scanType == 'I' || record.scanType == 'V'))
    for (int i = 1; i <= n; ++i) y[i] = AbsorbanceFromIntensities(y[i], third[i]);
  SetInitialProfile(n, r, y, record);
  if (third) initialDataPart.pInitThird.assign(third, third + n + 1);
  free_vector(r, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);

  if (timeStampsPart.bCheckTimeStamps && mark != dataSetPart.pScanInfo[1].timeStampOk) {
    PlayErrorSound();
    Message(Format("%s\n time stamp correction discrepancy with previous data!", path.c_str()),
            "LOAD ERROR");
  }
  // Times from omega^2 t: t = omega2t / omega^2 (only for a known rotor speed).
  if (analysisSwitchesPart.bTimesFromW2t && initialDataPart.ScanInfoTemplate.rpm > 0.0f) {
    const double omega = initialDataPart.ScanInfoTemplate.rpm * kTwoPiOver60;
    initialDataPart.ScanInfoTemplate.time = initialDataPart.ScanInfoTemplate.omega2t / (omega * omega);
  }
  initialDataPart.bInitSameTime = false;
  const std::size_t first = Z(dataSetPart.pScanOrder[1]);
  if (initialDataPart.ScanInfoTemplate.time == dataSetPart.pScanInfo[first].time) {
    initialDataPart.bInitSameTime = true;
    std::copy(dataSetPart.ppSignal[first] + 1, dataSetPart.ppSignal[first] + dataSetPart.pnPoints[first] + 1, dataSetPart.ppFit[first] + 1);
  }
  if (dataSetPart.fFitLeftLim != 0.0f) SetLeftFitLimitIndices();
  if (dataSetPart.fFitRightLim != 0.0f) SetRightFitLimitIndices();
  return 1;
}

void ExtrapolateInitialDataToMeniscus(float baseline) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& initialDataPart = InitialData();
  if (!(dataSetPart.fFitLeftLim > dataSetPart.fMeniscus) || !analysisSwitchesPart.bInitialDataProfile || initialDataPart.nInitPoints < 1) return;
  if (RefuseIntensity()) return;
  const int n = initialDataPart.nInitPoints;
  const std::vector<float>& r = initialDataPart.pInitRadius;
  int i0 = 1;
  while (i0 <= n && r[Z(i0)] < dataSetPart.fMeniscus) ++i0;
  int iL = i0;
  while (iL <= n && r[Z(iL)] < dataSetPart.fFitLeftLim) ++iL;
  if (iL > n) return;
  const float rEnd = dataSetPart.fFitLeftLim + (dataSetPart.fFitLeftLim - dataSetPart.fMeniscus) * initialDataPart.fInitExtrapFactor;
  int m = 0;
  while (iL + m <= n && r[Z(iL + m)] < rEnd) ++m;
  const int q = std::max(initialDataPart.nInitPolyOrder, 0) + 1;
  const int w = m / q;
  if (w < 1) return;
  // Support point b: mean radius and mean signal of the b-th group of w points.
  std::vector<float> xs(Z(q) + 1, 0.0f), ys(Z(q) + 1, 0.0f);
  for (int b = 1; b <= q; ++b) {
    double sx = 0.0, sy = 0.0;
    for (int j = 0; j < w; ++j) {
      const int i = iL + (b - 1) * w + j;
      sx += r[Z(i)];
      sy += initialDataPart.pInitSignal[Z(i)];
    }
    xs[Z(b)] = static_cast<float>(sx / w);
    ys[Z(b)] = static_cast<float>(sy / w);
  }
  std::vector<float> filled(Z(iL) + 1, 0.0f);
  for (int i = 1; i <= iL; ++i) {
    float y = 0.0f;
    if (!SupportPolynomial(xs, ys, q, r[Z(i)], &y)) return;
    filled[Z(i)] = std::max(y, baseline);
  }
  for (int i = 1; i <= iL; ++i) initialDataPart.pInitSignal[Z(i)] = filled[Z(i)];
  // The extrapolated part never decreases with radius.
  for (int i = iL - 1; i >= 1; --i)
    if (initialDataPart.pInitSignal[Z(i + 1)] < initialDataPart.pInitSignal[Z(i)]) initialDataPart.pInitSignal[Z(i)] = initialDataPart.pInitSignal[Z(i + 1)];
}

void ExtrapolateInitialDataToBottom(float baseline) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& initialDataPart = InitialData();
  if (!analysisSwitchesPart.bInitialDataProfile || !(dataSetPart.fFitRightLim < dataSetPart.fBottom) || initialDataPart.nInitPoints < 1) return;
  if (RefuseIntensity()) return;
  const int n = initialDataPart.nInitPoints;
  const std::vector<float>& r = initialDataPart.pInitRadius;
  int iB = n;
  while (iB >= 1 && r[Z(iB)] > dataSetPart.fBottom) --iB;
  int iR = iB;
  while (iR >= 1 && r[Z(iR)] > dataSetPart.fFitRightLim) --iR;
  if (iR < 1) return;
  // The support range reaches three times the limit-to-bottom distance inwards.
  const float rStart = dataSetPart.fFitRightLim - (dataSetPart.fBottom - dataSetPart.fFitRightLim) * 3.0f;
  int m = 0;
  while (iR - m >= 1 && r[Z(iR - m)] > rStart) ++m;
  const int q = std::max(initialDataPart.nInitPolyOrder, 0) + 1;
  const int w = m / q;
  if (w < 1) return;
  // Support points filled from iR inwards into positions q..1 (ascending radii).
  std::vector<float> xs(Z(q) + 1, 0.0f), ys(Z(q) + 1, 0.0f);
  for (int b = q; b >= 1; --b) {
    double sx = 0.0, sy = 0.0;
    for (int j = 0; j < w; ++j) {
      const int i = iR - (q - b) * w - j;
      sx += r[Z(i)];
      sy += initialDataPart.pInitSignal[Z(i)];
    }
    xs[Z(b)] = static_cast<float>(sx / w);
    ys[Z(b)] = static_cast<float>(sy / w);
  }
  std::vector<float> filled(Z(n) + 1, 0.0f);
  for (int i = n; i >= iR; --i) {
    float y = 0.0f;
    if (!SupportPolynomial(xs, ys, q, r[Z(i)], &y)) return;
    filled[Z(i)] = std::max(y, baseline);
  }
  for (int i = n; i >= iR; --i) initialDataPart.pInitSignal[Z(i)] = filled[Z(i)];
}

void ExtrapolateInitialData(float baseline) {
  auto& initialDataPart = InitialData();
  auto& localPart = Local();
  if (initialDataPart.nInitPoints < 1) return;
  if (localPart.g_signalAsRead.size() == initialDataPart.pInitSignal.size()) initialDataPart.pInitSignal = localPart.g_signalAsRead;
  ExtrapolateInitialDataToMeniscus(baseline);
  ExtrapolateInitialDataToBottom(baseline);
}

void ResetInitialData() {
  auto& initialDataPart = InitialData();
  FreeInitialData();
  initialDataPart.ScanInfoTemplate = ScanInfo{};
  initialDataPart.bInitSameTime = false;
  initialDataPart.nInitPolyOrder = 1;
  initialDataPart.fInitExtrapFactor = 1.0f;
}

}  // namespace tarmic
