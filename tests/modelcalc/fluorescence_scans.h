// Two fluorescence scans of 40 points, 6.02-6.80 cm, for the tests of the
// nonlinear-detection transform and of its dialog: a boundary from 0.02 to 1.2 whose
// first points lie below the detector's baseline, a fit range of points 5..35.
#pragma once

#include <cmath>
#include <cstddef>

#include "modelcalc/fluorescence_detection.h"
#include "numerics/one_based.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

namespace tarmic::test {

constexpr int kFluorescencePoints = 40;
constexpr double kDetectorExponent = 0.7;  // exponent of the detector's power law
constexpr double kDetectorBaseline = 0.1;  // its baseline

// Recorded signal of scan s at point i.
inline float RecordedFluorescence(int s, int i) {
  const double x = (i - 12.0 - 4.0 * s) / 3.0;
  return static_cast<float>(0.02 + 1.18 / (1.0 + std::exp(-x)));
}

// The detector's power law above its baseline.
inline double DetectorForward(double v) {
  return v > kDetectorBaseline ? std::pow(v - kDetectorBaseline, kDetectorExponent) + kDetectorBaseline
                               : v;
}

// The two scans installed as the loaded fluorescence data, with fit(s, i) as the fit.
template <class Fit>
void InstallFluorescenceScans(Fit fit) {
  ResetDataSetHooks();
  ResetScanDataGlobals();
  ResetScanFileGlobals();
  ResetFluorescenceDetection();
  ScanFile().bFluorescenceData = ScanFile().bAbsorbanceData = true;
  AllocScanTables(2);
  for (int s = 1; s <= 2; ++s) {
    const std::size_t k = static_cast<std::size_t>(s);
    float* r = tarmic::vector(1, kFluorescencePoints);
    float* v = tarmic::vector(1, kFluorescencePoints);
    for (int i = 1; i <= kFluorescencePoints; ++i) {
      r[i] = 6.0f + 0.02f * static_cast<float>(i);
      v[i] = RecordedFluorescence(s, i);
    }
    InstallScanArrays(s, kFluorescencePoints, r, v, nullptr, false);
    for (int i = 1; i <= kFluorescencePoints; ++i) DataSet().ppFit[k][i] = fit(s, i);
    DataSet().pFitFirst[k] = 5;
    DataSet().pFitLast[k] = 35;
  }
  DataSet().nScans = 2;
}

inline void ReleaseFluorescenceScans() {
  ResetDataSetHooks();
  ResetFluorescenceDetection();
  ResetScanDataGlobals();
  ResetScanFileGlobals();
}

}  // namespace tarmic::test
