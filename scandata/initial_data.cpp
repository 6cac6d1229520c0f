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
  RaiseBox(text, caption, MB_OK);
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
  InitialData().nInitPoints = 0;
  InitialData().pInitRadius.clear();
  InitialData().pInitSignal.clear();
  InitialData().pInitThird.clear();
  Local().g_signalAsRead.clear();
}

void SetInitialProfile(int n, const float* radius, const float* signal, const ScanInfo& record) {
  FreeInitialData();
  if (n < 1 || !radius || !signal) return;
  InitialData().nInitPoints = n;
  InitialData().pInitRadius.assign(radius, radius + n + 1);
  InitialData().pInitSignal.assign(signal, signal + n + 1);
  InitialData().pInitRadius[0] = InitialData().pInitSignal[0] = 0.0f;
  Local().g_signalAsRead = InitialData().pInitSignal;
  InitialData().ScanInfoTemplate = record;
}

int LoadInitialData(Window* window, const std::string& path) {
  bDataChanged = true;
  const float minStep = (!DataSet().bEquilibriumMode && RadialGrid().fRadialStep > 0.001f) ? RadialGrid().fRadialStep : 0.0f;
  if (DataSet().nScans < 1) {
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
  if (third) InitialData().pInitThird.assign(third, third + n + 1);
  free_vector(r, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);

  if (TimeStamps().bCheckTimeStamps && mark != DataSet().pScanInfo[1].timeStampOk) {
    PlayErrorSound();
    Message(Format("%s\n time stamp correction discrepancy with previous data!", path.c_str()),
            "LOAD ERROR");
  }
  // Times from omega^2 t: t = omega2t / omega^2 (only for a known rotor speed).
  if (AnalysisSwitches().bTimesFromW2t && InitialData().ScanInfoTemplate.rpm > 0.0f) {
    const double omega = InitialData().ScanInfoTemplate.rpm * kTwoPiOver60;
    InitialData().ScanInfoTemplate.time = InitialData().ScanInfoTemplate.omega2t / (omega * omega);
  }
  InitialData().bInitSameTime = false;
  const std::size_t first = Z(DataSet().pScanOrder[1]);
  if (InitialData().ScanInfoTemplate.time == DataSet().pScanInfo[first].time) {
    InitialData().bInitSameTime = true;
    std::copy(DataSet().ppSignal[first] + 1, DataSet().ppSignal[first] + DataSet().pnPoints[first] + 1, DataSet().ppFit[first] + 1);
  }
  if (DataSet().fFitLeftLim != 0.0f) SetLeftFitLimitIndices();
  if (DataSet().fFitRightLim != 0.0f) SetRightFitLimitIndices();
  return 1;
}

void ExtrapolateInitialDataToMeniscus(float baseline) {
  if (!(DataSet().fFitLeftLim > DataSet().fMeniscus) || !AnalysisSwitches().bInitialDataProfile || InitialData().nInitPoints < 1) return;
  if (RefuseIntensity()) return;
  const int n = InitialData().nInitPoints;
  const std::vector<float>& r = InitialData().pInitRadius;
  int i0 = 1;
  while (i0 <= n && r[Z(i0)] < DataSet().fMeniscus) ++i0;
  int iL = i0;
  while (iL <= n && r[Z(iL)] < DataSet().fFitLeftLim) ++iL;
  if (iL > n) return;
  const float rEnd = DataSet().fFitLeftLim + (DataSet().fFitLeftLim - DataSet().fMeniscus) * InitialData().fInitExtrapFactor;
  int m = 0;
  while (iL + m <= n && r[Z(iL + m)] < rEnd) ++m;
  const int q = std::max(InitialData().nInitPolyOrder, 0) + 1;
  const int w = m / q;
  if (w < 1) return;
  // Support point b: mean radius and mean signal of the b-th group of w points.
  std::vector<float> xs(Z(q) + 1, 0.0f), ys(Z(q) + 1, 0.0f);
  for (int b = 1; b <= q; ++b) {
    double sx = 0.0, sy = 0.0;
    for (int j = 0; j < w; ++j) {
      const int i = iL + (b - 1) * w + j;
      sx += r[Z(i)];
      sy += InitialData().pInitSignal[Z(i)];
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
  for (int i = 1; i <= iL; ++i) InitialData().pInitSignal[Z(i)] = filled[Z(i)];
  // The extrapolated part never decreases with radius.
  for (int i = iL - 1; i >= 1; --i)
    if (InitialData().pInitSignal[Z(i + 1)] < InitialData().pInitSignal[Z(i)]) InitialData().pInitSignal[Z(i)] = InitialData().pInitSignal[Z(i + 1)];
}

void ExtrapolateInitialDataToBottom(float baseline) {
  if (!AnalysisSwitches().bInitialDataProfile || !(DataSet().fFitRightLim < DataSet().fBottom) || InitialData().nInitPoints < 1) return;
  if (RefuseIntensity()) return;
  const int n = InitialData().nInitPoints;
  const std::vector<float>& r = InitialData().pInitRadius;
  int iB = n;
  while (iB >= 1 && r[Z(iB)] > DataSet().fBottom) --iB;
  int iR = iB;
  while (iR >= 1 && r[Z(iR)] > DataSet().fFitRightLim) --iR;
  if (iR < 1) return;
  // The support range reaches three times the limit-to-bottom distance inwards.
  const float rStart = DataSet().fFitRightLim - (DataSet().fBottom - DataSet().fFitRightLim) * 3.0f;
  int m = 0;
  while (iR - m >= 1 && r[Z(iR - m)] > rStart) ++m;
  const int q = std::max(InitialData().nInitPolyOrder, 0) + 1;
  const int w = m / q;
  if (w < 1) return;
  // Support points filled from iR inwards into positions q..1 (ascending radii).
  std::vector<float> xs(Z(q) + 1, 0.0f), ys(Z(q) + 1, 0.0f);
  for (int b = q; b >= 1; --b) {
    double sx = 0.0, sy = 0.0;
    for (int j = 0; j < w; ++j) {
      const int i = iR - (q - b) * w - j;
      sx += r[Z(i)];
      sy += InitialData().pInitSignal[Z(i)];
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
  for (int i = n; i >= iR; --i) InitialData().pInitSignal[Z(i)] = filled[Z(i)];
}

void ExtrapolateInitialData(float baseline) {
  if (InitialData().nInitPoints < 1) return;
  if (Local().g_signalAsRead.size() == InitialData().pInitSignal.size()) InitialData().pInitSignal = Local().g_signalAsRead;
  ExtrapolateInitialDataToMeniscus(baseline);
  ExtrapolateInitialDataToBottom(baseline);
}

void ResetInitialData() {
  FreeInitialData();
  InitialData().ScanInfoTemplate = ScanInfo{};
  InitialData().bInitSameTime = false;
  InitialData().nInitPolyOrder = 1;
  InitialData().fInitExtrapFactor = 1.0f;
}

}  // namespace tarmic
