// Accuracy of the default numerics over the conditions users meet: each solution
// against a refined one (equidistant static grid, 80 points per sigma, step tolerance
// ten times tighter), the largest deviation over all scans and the radii between the
// fitting limits, as a share of the loading. The bound is the accuracy the default
// numerics are documented with (0.25 % of the loading), with a margin for the wider
// conditions here: 0.3 %.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "tests/support/refined_lamm_numerics.h"

namespace tarmic {
namespace {

struct SweepCase {
  double s;         // S
  double ff0;       // frictional ratio
  double kDa;       // molar mass
  float krpm;       // rotor speed
  double meniscus;  // cm
  double bottom;    // cm
  double interval;  // s between scans
};

// D of a sphere of molar mass M (kDa, vbar 0.73 ml/g) with frictional ratio ff0 in
// water at 20 C: kT / (ff0 6 pi eta R0), R0 = (3 M vbar / (4 pi N_A))^(1/3).
double Diffusion(double kDa, double ff0) {
  const double kT = 1.380649e-16 * 293.15, eta = 0.01002, vbar = 0.73, nA = 6.02214076e23;
  const double r0 = std::cbrt(3.0 * kDa * 1e3 * vbar / (4.0 * std::numbers::pi * nA));
  return kT / (ff0 * 6.0 * std::numbers::pi * eta * r0);
}

struct SweepRun {
  std::vector<LammScanRecord> records;
  std::vector<float> radii;
  std::vector<std::vector<float>> rows;
  std::vector<float*> out;
  int scans = 0, nRadii = 0;

  // Scans every interval until the boundary would have passed 1.2 times across the
  // cell (5 to 60 scans); output radii every 0.005 cm between the fitting limits.
  SweepRun(const SweepCase& c) {
    const double w = c.krpm * 1000.0 * std::numbers::pi / 30.0;
    const double crossing = std::log(c.bottom / c.meniscus) / (c.s * 1e-13 * w * w);
    scans = std::clamp(static_cast<int>(1.2 * crossing / c.interval), 5, 60);
    records.assign(scans + 1, LammScanRecord{});
    for (int k = 1; k <= scans; ++k) {
      records[k].time = records[k].timeUncorrected = c.interval * k;
      records[k].rpm = c.krpm * 1000.0f;
      records[k].temperature = 20.0f;
    }
    const double left = c.meniscus + 0.05, right = c.bottom - 0.1;
    nRadii = static_cast<int>((right - left) / 0.005) + 1;
    radii.assign(nRadii + 1, 0.0f);
    for (int j = 1; j <= nRadii; ++j) radii[j] = static_cast<float>(left + 0.005 * (j - 1));
    rows.assign(scans + 1, std::vector<float>(nRadii + 1, 0.0f));
    out.assign(scans + 1, nullptr);
    for (int k = 1; k <= scans; ++k) out[k] = rows[k].data();
  }

  int Solve(const SweepCase& c, const LammDiscretizationSettings& settings) {
    auto o = std::make_unique<CLammIdeal>();
    o->SetIdealModel();
    o->LoadSedimentationParameters(c.s, Diffusion(c.kDa, c.ff0), c.meniscus, c.bottom, 1.0,
                                   static_cast<float>(c.meniscus + 0.05),
                                   static_cast<float>(c.bottom - 0.1));
    o->SkipAccelerationCheck();
    o->LoadOutputParameters({.pScans = records.data(),
                             .ppOut = out.data(),
                             .pOutRadii = radii.data(),
                             .nOutRadii = nRadii,
                             .nScanCount = scans});
    o->LoadDiscretizationParameters(settings);
    o->SetSolventConditions(20.0, 0.73, 0.99823, 1.0);
    return o->Solve();
  }
};

// s 0.5-50 S; D from f/f0 1.2-2.5 and 5-500 kDa; 20-60 krpm; meniscus 5.8-6.2 cm,
// bottom 7.1-7.2 cm; scans every 30-300 s.
const SweepCase kCases[] = {
    {0.5, 1.2, 5, 60, 6.0, 7.2, 300},   {0.5, 2.5, 20, 60, 5.8, 7.1, 120},
    {1.0, 1.2, 10, 50, 6.2, 7.2, 300},  {1.0, 1.8, 15, 60, 6.0, 7.15, 60},
    {1.5, 2.5, 30, 40, 5.9, 7.2, 300},  {2.0, 1.2, 20, 50, 6.0, 7.2, 300},
    {2.0, 1.5, 25, 60, 6.1, 7.1, 30},   {3.0, 1.8, 50, 50, 6.0, 7.2, 120},
    {3.0, 1.2, 30, 30, 5.8, 7.2, 300},  {4.0, 2.0, 80, 60, 6.2, 7.1, 60},
    {5.0, 1.2, 60, 50, 6.0, 7.2, 300},  {5.0, 1.5, 80, 40, 6.0, 7.15, 30},
    {7.0, 1.3, 120, 50, 5.9, 7.2, 120}, {8.0, 2.5, 300, 30, 6.0, 7.2, 300},
    {10.0, 1.2, 150, 60, 6.0, 7.2, 60}, {10.0, 1.8, 250, 45, 6.1, 7.2, 180},
    {12.0, 1.4, 200, 35, 5.8, 7.15, 300}, {15.0, 1.2, 250, 50, 6.0, 7.1, 90},
    {20.0, 1.6, 400, 40, 6.0, 7.2, 120}, {20.0, 1.2, 300, 20, 6.2, 7.2, 300},
    {25.0, 2.0, 500, 30, 5.9, 7.2, 240}, {30.0, 1.3, 500, 25, 6.0, 7.2, 300},
    {40.0, 1.5, 500, 20, 6.0, 7.15, 300}, {50.0, 1.2, 500, 20, 5.8, 7.2, 180},
};

TEST(LammDefaultNumericsSweep, DefaultNumericsStayWithinTheirDocumentedAccuracy) {
  ResetLammGlobals();
  const double bound = 3e-3;  // share of the loading
  std::vector<double> deviations;
  for (const SweepCase& c : kCases) {
    SweepRun normal(c), refined(c);
    ASSERT_EQ(normal.Solve(c, LammDiscretizationSettings{}), 0) << c.s << " S";
    ASSERT_EQ(refined.Solve(c, test::RefinedLammNumerics()), 0) << c.s << " S";
    double dev = 0.0, devBottom = 0.0;  // all radii; the last 0.1 cm before the right limit
    for (int k = 1; k <= normal.scans; ++k) {
      for (int j = 1; j <= normal.nRadii; ++j) {
        const double d = std::fabs(normal.rows[k][j] - refined.rows[k][j]);
        dev = std::max(dev, d);
        if (normal.radii[j] >= c.bottom - 0.2) devBottom = std::max(devBottom, d);
      }
    }
    std::printf("SWEEP %5.1f S f/f0 %.1f %3.0f kDa %2.0f krpm %.2f-%.2f cm %3.0f s %2d scans: %.3e %.3e\n",
                c.s, c.ff0, c.kDa, c.krpm, c.meniscus, c.bottom, c.interval, normal.scans, dev, devBottom);
    EXPECT_LE(dev, bound) << c.s << " S, " << c.kDa << " kDa, " << c.krpm << " krpm";
    deviations.push_back(dev);
  }
  std::sort(deviations.begin(), deviations.end());
  std::printf("SWEEP median %.3e max %.3e\n", deviations[deviations.size() / 2], deviations.back());
}

}  // namespace
}  // namespace tarmic
