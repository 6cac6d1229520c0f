// Helpers of the distribution engine tests: a data set of scans sharing one radius
// array, boundary-like kernels made in the test (no Lamm solver), synthetic data
// built from known amplitudes and systematic-noise patterns, and a fixture that
// starts every test from the defaults with a scripted window system.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_data_reset.h"

namespace tarmic::testing {

constexpr double kMeniscus = 6.0;
constexpr double kBottom = 7.2;

// Installs `scans` scans on the same `radii` radii from kMeniscus to kBottom with
// zero signal; the common grid is the scans' own arrays, the fit range all radii.
inline void InstallFlatDataSet(int scans, int radii) {
  AllocScanTables(scans);
  for (int s = 1; s <= scans; ++s) {
    float* r = tarmic::vector(1, radii);
    float* y = tarmic::vector(1, radii);
    for (int k = 1; k <= radii; ++k) {
      r[k] = static_cast<float>(kMeniscus + (kBottom - kMeniscus) * (k - 1) / (radii - 1));
      y[k] = 0.0f;
    }
    DataSet().pScanInfo[static_cast<std::size_t>(s)].time = 300.0 * s;
    DataSet().pScanInfo[static_cast<std::size_t>(s)].rpm = 50000.0f;
    InstallScanArrays(s, radii, r, y, nullptr, false);
  }
  DataSet().fMeniscus = static_cast<float>(kMeniscus);
  DataSet().fBottom = static_cast<float>(kBottom);
  ASSERT_TRUE(BuildCommonRadialGrid());
}

// A sedimentation-like boundary of species s in scan j at radius r: a smoothed step
// that moves from the meniscus towards the bottom, broadens with time and dilutes
// radially.
inline float BoundaryKernel(double s, int scan, double r) {
  const double t = 0.05 * scan;
  const double rb = kMeniscus * std::exp(0.02 * s * t);
  const double w = 0.01 + 0.03 * std::sqrt(t) / (1.0 + 0.3 * s);
  return static_cast<float>(0.5 * std::erfc((rb - r) / w) * std::exp(-0.04 * s * t));
}

// The grid s[0..n-1] as nDistGrid, pDistGrid, kernel array and workspace.
inline void MakeKernels(const std::vector<double>& s) {
  const int n = static_cast<int>(s.size());
  DistributionGrid().fDistGridCount = static_cast<float>(n);
  DistributionVectors().nDistGrid = n;
  FreeDistributionVectors();
  DistributionVectors().pDistGrid = nullptr;
  ASSERT_TRUE(AllocKernelArrays(n, DataSet().nScans, CurrentGrid().nGridPoints));
  ASSERT_TRUE(AllocNormalEquationArrays(n, DataSet().nScans, CurrentGrid().nGridPoints));
  for (int k = 1; k <= n; ++k) {
    for (int j = 1; j <= DataSet().nScans; ++j) {
      for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) {
        DistributionStorage().pppKernels[k][j][g] = BoundaryKernel(s[static_cast<std::size_t>(k - 1)], j, CurrentGrid().pGridRadius[g]);
      }
    }
  }
}

// n s values evenly from lo to hi.
inline std::vector<double> EvenS(int n, double lo, double hi) {
  std::vector<double> s(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = lo + (hi - lo) * i / (n - 1);
  return s;
}

// Data = sum_k amp[k-1] K_k + ti[g-1] + ri[s-1] + Gaussian noise of sigma (fixed
// seed); empty ti or ri add nothing.
inline void MakeData(const std::vector<double>& amp, const std::vector<double>& ti,
                     const std::vector<double>& ri, double sigma, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, sigma > 0.0 ? sigma : 1.0);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    float* y = CurrentGrid().ppGridSignal[static_cast<std::size_t>(j)];
    for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) {
      double v = 0.0;
      for (std::size_t k = 0; k < amp.size(); ++k) v += amp[k] * DistributionStorage().pppKernels[k + 1][j][g];
      if (!ti.empty()) v += ti[static_cast<std::size_t>(g - 1)];
      if (!ri.empty()) v += ri[static_cast<std::size_t>(j - 1)];
      if (sigma > 0.0) v += noise(random);
      y[g] = static_cast<float>(v);
    }
  }
}

// Every test starts from the defaults of the engine and the data set, with a
// scripted window system that fails the test on any box it was not told about.
class DistributionTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    ResetDistributionEngine();
    ResetDistributionHooks();
    ResetModelFlags();
    ResetModelParams();
    ResetScanDataGlobals();
    ResetAnalysisSwitches();
    ResetRunSwitches();
  }
  ScopedHeadlessBackend backend;
};

}  // namespace tarmic::testing
