// Synthetic sedimentation velocity data of discrete ideal species, installed as the
// loaded data set: each species solved once by the program's Lamm equation solver
// (one list), the data the sum of the species' profiles weighted by their loading
// concentrations, plus a time-invariant pattern 0.02 sin(2 pi (r - 6) / 0.31), a
// radial-invariant offset 0.015 sin(0.9 j) per scan j and Gaussian noise. The cell
// is 6.0-7.2 cm at 50,000 rpm and 20 C, water and vbar 0.73; the fitting range is
// 6.05-7.1 cm. Radii are equidistant from meniscus to bottom, scans equally spaced
// in time from the first interval on. D of each species follows from s and the
// frictional ratio (fFrictionalRatio). Single-thread use only (it sets globals).
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "services/run_switches.h"

namespace tarmic::bench {

struct SedimentationSet {
  int scans = 40;
  int radii = 401;                  // points from meniscus to bottom
  double interval = 300.0;          // s between scans (the first at one interval)
  std::vector<double> s;            // S
  std::vector<double> loading;      // signal units, one per species
  double frictionalRatio = 1.25;
  double noise = 0.005;             // Gaussian noise, signal units
  bool interference = true;         // false: absorbance data
  unsigned seed = 7;
};

inline constexpr double kSetMeniscus = 6.0, kSetBottom = 7.2;

inline void InstallSedimentationSet(const SedimentationSet& set) {
  SolventConstants().VBAR = 0.73f;
  SolventConstants().fBufferDensity = 0.99823f;
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  SolventConstants().RELVISCOSITY = 1.0f;
  SolventConstants().fFrictionalRatio = static_cast<float>(set.frictionalRatio);
  const int n = set.radii, scans = set.scans, species = static_cast<int>(set.s.size());
  std::vector<float> radii(static_cast<std::size_t>(n) + 1);
  for (int k = 1; k <= n; ++k)
    radii[k] = static_cast<float>(kSetMeniscus + (kSetBottom - kSetMeniscus) * (k - 1) / (n - 1));
  std::vector<LammScanRecord> records(static_cast<std::size_t>(scans) + 1);
  for (int j = 1; j <= scans; ++j) {
    records[j].time = records[j].timeUncorrected = set.interval * j;
    records[j].rpm = 50000.0f;
    records[j].temperature = 20.0f;
  }
  const std::size_t m = static_cast<std::size_t>(species) + 1;
  std::vector<std::vector<float>> block(m, std::vector<float>(static_cast<std::size_t>(scans + 1) * (n + 1), 0.0f));
  std::vector<std::vector<float*>> rows(m, std::vector<float*>(static_cast<std::size_t>(scans) + 1, nullptr));
  std::vector<float**> out(m, nullptr);
  std::vector<double> s(m, 0.0), D(m, 0.0);
  for (int k = 1; k <= species; ++k) {
    for (int j = 1; j <= scans; ++j) rows[k][j] = block[k].data() + static_cast<std::size_t>(j) * (n + 1);
    out[k] = rows[k].data();
    s[k] = set.s[static_cast<std::size_t>(k - 1)];
    D[k] = DFromM(CalculateM(static_cast<float>(s[k])), 20.0f);
  }
  CLammIdeal t;
  t.SetIdealModel();
  t.LoadSedimentationParameters(s[m - 1], D[m - 1], kSetMeniscus, kSetBottom, 1.0, 6.001f, 7.199f);
  t.SkipAccelerationCheck();
  t.LoadOutputParameters({.pScans = records.data(),
                          .ppOut = out[1],
                          .pOutRadii = radii.data(),
                          .nOutRadii = n,
                          .nScanCount = scans});
  t.LoadDiscretizationParameters(LammDiscretizationSettings{});
  t.SetSolventConditions(20.0, SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
  bUserAbort = false;
  CLRunMTList(&t, species, s.data(), D.data(), nullptr, out.data(), radii.data(), n, nullptr, nullptr);

  SeedRandomGenerators(set.seed);
  AllocScanTables(scans);
  for (int j = 1; j <= scans; ++j) {
    float* r = tarmic::vector(1, n);
    float* y = tarmic::vector(1, n);
    for (int p = 1; p <= n; ++p) {
      r[p] = radii[p];
      double v = 0.02 * std::sin(2.0 * M_PI * (r[p] - 6.0) / 0.31) + 0.015 * std::sin(0.9 * j) +
                 GaussianRandomDouble(set.noise);
      for (int k = 1; k <= species; ++k) v += set.loading[static_cast<std::size_t>(k - 1)] * rows[k][j][p];
      y[p] = static_cast<float>(v);
    }
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(j)];
    info.time = info.recordedTime = info.timeAtLoad = set.interval * j;
    info.rpm = 50000.0f;
    info.temperature = 20.0f;
    InstallScanArrays(j, n, r, y, nullptr, false);
  }
  ScanFile().bAbsorbanceData = !set.interference;
  DataSet().fMeniscus = static_cast<float>(kSetMeniscus);
  DataSet().fBottom = static_cast<float>(kSetBottom);
  DataSet().fTemperatureK = 293.15f;
  BuildCommonRadialGrid();
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.1f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
}

}  // namespace tarmic::bench
