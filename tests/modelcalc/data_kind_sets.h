// Generated sets for the test of the kind of run (scandata/data_kind.h): velocity
// runs of one species by the program's closed-form boundary, equilibrium runs of one
// species by the exponential profile at each rotor speed, both with Gaussian noise,
// a small offset a scan and radii that differ a little from scan to scan; and the
// tally of the judgements as a confusion table. Shared by the test sweep and the
// benchmark's larger one.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "modelcalc/analytic_boundary.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "scandata/data_kind.h"
#include "scandata/data_set.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

namespace tarmic::test {

struct GeneratedScan {
  double time = 0.0;
  float rpm = 0.0f;
  std::vector<float> r, y;  // 0-based
};

// The scans become the loaded set (cell 1, 280 nm, 20 C).
inline void InstallGeneratedScans(const std::vector<GeneratedScan>& scans, bool equilibriumMode) {
  ResetScanDataGlobals();
  AllocScanTables(static_cast<int>(scans.size()));
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const int n = static_cast<int>(scans[k].r.size());
    float* r = tarmic::vector(1, n);
    float* y = tarmic::vector(1, n);
    for (int i = 1; i <= n; ++i) {
      r[i] = scans[k].r[static_cast<std::size_t>(i - 1)];
      y[i] = scans[k].y[static_cast<std::size_t>(i - 1)];
    }
    ScanInfo& info = DataSet().pScanInfo[k + 1];
    info.time = info.recordedTime = info.timeAtLoad = scans[k].time;
    info.rpm = scans[k].rpm;
    info.cell = 1;
    info.wavelength = 280.0f;
    info.temperature = 20.0f;
    InstallScanArrays(static_cast<int>(k) + 1, n, r, y, nullptr, false);
  }
  ScanFile().bAbsorbanceData = true;
  DataSet().bEquilibriumMode = equilibriumMode;
}

// Radii from lo to hi at `step`, each moved by up to `jitter` / 6 (the radii of
// measured scans differ a little from scan to scan).
inline std::vector<float> JitteredRadii(double lo, double hi, double jitter, double step, std::mt19937& random) {
  std::uniform_real_distribution<double> move(-1.0, 1.0);
  std::vector<float> r;
  for (int k = 0; lo + k * step <= hi + 1e-9; ++k) r.push_back(static_cast<float>(lo + k * step + jitter / 6.0 * move(random)));
  return r;
}

inline double Omega(double rpm) { return rpm * M_PI / 30.0; }

struct VelocityRun {
  double s = 4.3;             // S
  double rpm = 50000.0;
  double interval = 60.0;     // s
  int scans = 20;
  double noise = 0.01;        // OD
  double loading = 0.6;       // OD
  double firstScan = 600.0;   // s
};

// One species of s (S) and the D of f/f0 1.3 (water, 20 C, vbar 0.73) sedimenting
// from a meniscus at 6.0 cm: scans of 6.04-7.16 cm at 0.003 cm, offsets of up to
// 0.005 OD; without `measured`, the radii of the lattice and no offsets.
inline std::vector<GeneratedScan> VelocityScans(const VelocityRun& v, unsigned seed, bool measured = true) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, v.noise);
  std::uniform_real_distribution<double> offset(-0.005, 0.005);
  const double mass = MassFromSedcoeff(v.s, 0.73, 0.73 * 0.99823, 1.002e-3, 1.3);
  const double d = kGasConstant * 293.15 * v.s * 1e-13 / (mass * (1.0 - 0.73 * 0.99823));
  const float sw2 = static_cast<float>(v.s * 1e-13 * Omega(v.rpm) * Omega(v.rpm));
  const bool absorbance = ScanFile().bAbsorbanceData;
  ScanFile().bAbsorbanceData = false;  // the profile as it is, without a recording resolution
  std::vector<GeneratedScan> scans(static_cast<std::size_t>(v.scans));
  for (int k = 0; k < v.scans; ++k) {
    GeneratedScan& g = scans[static_cast<std::size_t>(k)];
    g.time = v.firstScan + v.interval * k;
    g.rpm = static_cast<float>(v.rpm);
    g.r = JitteredRadii(6.04, 7.16, measured ? 0.003 : 0.0, 0.003, random);
    g.y.resize(g.r.size());
    std::vector<float> r1(g.r.size() + 1), y1(g.r.size() + 1);
    std::copy(g.r.begin(), g.r.end(), r1.begin() + 1);
    ErfcBoundaryProfile(static_cast<float>(v.loading), g.time, r1.data(), y1.data(), static_cast<int>(g.r.size()), sw2,
                        static_cast<float>(d), 6.0f, DataSet().fBottom);
    const double o = measured ? offset(random) : 0.0;
    for (std::size_t i = 0; i < g.r.size(); ++i) g.y[i] = static_cast<float>(y1[i + 1] + o + (v.noise > 0.0 ? gauss(random) : 0.0));
  }
  ScanFile().bAbsorbanceData = absorbance;
  return scans;
}

// What the boundary's motion gives a test of one scan against the last: the sum
// over the points of the squared change of the noise-free profile (each scan's mean
// removed, as an offset would be) over twice the noise variance, from the first scan
// of the run, or from the first scan of its last `window` seconds. A test of every
// scan's trend sees at least as much for runs of three or more scans; at a few
// hundred points, a value above 150 is seen in all but a few in a thousand runs at
// the threshold of a false alarm in a million.
inline double Noncentrality(const VelocityRun& v, double window = 0.0) {
  VelocityRun still = v;
  still.noise = 0.0;
  const std::vector<GeneratedScan> scans = VelocityScans(still, 1, false);
  const GeneratedScan& b = scans.back();
  const GeneratedScan& a = *std::find_if(scans.begin(), scans.end(), [&](const GeneratedScan& g) {
    return window <= 0.0 || g.time >= b.time - window;
  });
  double ma = 0.0, mb = 0.0;
  for (std::size_t i = 0; i < a.y.size(); ++i) {
    ma += a.y[i] / static_cast<double>(a.y.size());
    mb += b.y[i] / static_cast<double>(b.y.size());
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < a.y.size(); ++i) sum += std::pow((b.y[i] - mb) - (a.y[i] - ma), 2);
  return sum / (2.0 * v.noise * v.noise);
}

struct EquilibriumRun {
  double mass = 50000.0;             // g/mol, vbar 0.73 in water at 20 C
  std::vector<double> sigmas{1.0};   // cm^-2, the reduced mass at each speed
  int scansPerSpeed = 3;
  double spacing = 3 * 3600.0;       // s between the scans at one speed
  double noise = 0.01;
  double step = 0.002;               // cm
};

// The equilibrium profile at each speed (the rotor speed of its sigma), 0.3 OD at the
// middle of a column of 6.85-7.15 cm; each speed reached 20 h after the last, its
// scans `spacing` apart.
inline std::vector<GeneratedScan> EquilibriumScans(const EquilibriumRun& e, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, e.noise);
  std::uniform_real_distribution<double> offset(-0.005, 0.005);
  std::vector<GeneratedScan> scans;
  double t = 0.0;
  for (double sigma : e.sigmas) {
    t += 20.0 * 3600.0;
    const double rpm = std::sqrt(sigma * kGasConstant * 293.15 / (e.mass * (1.0 - 0.73 * 0.99823))) * 30.0 / M_PI;
    for (int k = 0; k < e.scansPerSpeed; ++k) {
      GeneratedScan g;
      g.time = t + e.spacing * k;
      g.rpm = static_cast<float>(rpm);
      g.r = JitteredRadii(6.85, 7.15, e.step, e.step, random);
      const double o = offset(random);
      for (float r : g.r)
        g.y.push_back(static_cast<float>(0.3 * std::exp(0.5 * sigma * (r * r - 7.0 * 7.0)) + o + gauss(random)));
      scans.push_back(std::move(g));
    }
    t += e.spacing * (e.scansPerSpeed - 1);
  }
  return scans;
}

// The judgements of a sweep: for velocity runs, how many the test judged
// equilibrium (refused without a word), equilibrium beyond doubt (refused with
// --velocity) and a velocity run (refused with --equilibrium); for equilibrium runs,
// how many it judged a velocity run (refused with --equilibrium), not equilibrium
// (taken as velocity data without a word) and equilibrium beyond doubt.
struct KindTally {
  int velocitySets = 0, velocityAsEquilibrium = 0, velocityBeyondDoubt = 0, velocitySeen = 0;
  int equilibriumSets = 0, equilibriumAsVelocity = 0, equilibriumMissed = 0, equilibriumBeyondDoubt = 0;

  void Velocity(const DataKindJudgement& j) {
    ++velocitySets;
    velocityAsEquilibrium += j.equilibrium;
    velocityBeyondDoubt += j.equilibriumBeyondDoubt;
    velocitySeen += j.Velocity() != nullptr;
  }
  void Equilibrium(const DataKindJudgement& j) {
    ++equilibriumSets;
    equilibriumAsVelocity += j.Velocity() != nullptr;
    equilibriumMissed += !j.equilibrium;
    equilibriumBeyondDoubt += j.equilibriumBeyondDoubt;
  }
  std::string Table(const std::string& title) const {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%s\n"
                  "  %-34s %6s %22s %18s %18s\n"
                  "  %-34s %6d %22d %18d %18d\n"
                  "  %-34s %6d %22d %18d %18d\n",
                  title.c_str(), "sets", "n", "judged equilibrium", "beyond doubt", "judged velocity",
                  "velocity runs", velocitySets, velocityAsEquilibrium, velocityBeyondDoubt, velocitySeen,
                  "equilibrium runs", equilibriumSets, equilibriumSets - equilibriumMissed, equilibriumBeyondDoubt,
                  equilibriumAsVelocity);
    return text;
  }
};

}  // namespace tarmic::test
