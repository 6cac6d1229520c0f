// A small experiment for the Lamm solver tests: scans at regular times, common
// output radii and the output matrix, and a solver object loaded the way the
// distribution kernels load it.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <tuple>
#include <vector>

#include "lamm/lamm_ideal.h"

namespace tarmic::test {

// s w^2 in 1/s for s in S at the rotor speed rpm.
inline double Sw2(double s, double rpm) {
  const double w = rpm * std::numbers::pi / 30.0;
  return w * w * s * 1e-13;
}

struct Experiment {
  double meniscus = 6.0, bottom = 7.2;
  float leftLimit = 6.05f, rightLimit = 7.15f;
  float rpm = 50000.0f;
  int scans = 10;
  double firstTime = 300.0, interval = 300.0;
  int radii = 200;  // output radii, meniscus to bottom
  std::vector<LammScanRecord> records;
  std::vector<float> outRadii;
  std::vector<std::vector<float>> rows;
  std::vector<float*> out;

  void Build() {
    records.assign(scans + 1, LammScanRecord{});
    for (int k = 1; k <= scans; ++k) {
      records[k].time = records[k].timeUncorrected = firstTime + (k - 1) * interval;
      records[k].rpm = rpm;
      records[k].temperature = 20.0f;
      records[k].accelRate = 1e6;  // not recorded
      records[k].accelTime = 0.0;
    }
    outRadii.assign(radii + 1, 0.0f);
    for (int j = 1; j <= radii; ++j)
      outRadii[j] = static_cast<float>(meniscus + (bottom - meniscus) * (j - 1) / (radii - 1));
    rows.assign(scans + 1, std::vector<float>(radii + 1, 0.0f));
    out.assign(scans + 1, nullptr);
    for (int k = 1; k <= scans; ++k) out[k] = rows[k].data();
  }
  double Time(int scan) const { return records[scan].time; }
  double Sw2(double s) const { return test::Sw2(s, rpm); }
};

// Puts the given globals back to their values at construction when it goes out of
// scope, also when an assertion ends the test early.
template <class... T>
class SavedGlobals {
 public:
  explicit SavedGlobals(T&... g) : refs_(g...), saved_(g...) {}
  ~SavedGlobals() { refs_ = saved_; }
  SavedGlobals(const SavedGlobals&) = delete;
  SavedGlobals& operator=(const SavedGlobals&) = delete;

 private:
  std::tuple<T&...> refs_;
  std::tuple<T...> saved_;
};

// Numerical settings for tests: no automatic grid, no back-diffusion shut-off (a
// closed cell), the algorithm as chosen.
inline LammDiscretizationSettings ClosedCellSettings(int grid, bool movingHat) {
  LammDiscretizationSettings s;
  s.nDefaultGrid = grid;
  s.nMinGrid = 10;
  s.bAutoGridSize = false;
  s.bOptimizeGrid = false;
  s.bShutOffBackDiffusionOption = false;
  s.bAutoVariant = false;
  s.bUseMovingHat = movingHat;
  s.bUseClaverie = !movingHat;
  s.bRampRotor = false;
  return s;
}

// Shared non-ideality of species 1..n (arrays indexed from 1) with s and D depending
// on the total concentration; s0 and D0 are the reference species at concentration 1.
inline LammNonIdealitySettings MixtureNonIdeality(int n, const double* conc, const double* s,
                                                  const double* D, double s0, double D0) {
  return {.bConcDependentModel = true, .bMultiSpecies = true, .nSpecies = n, .pConc = conc, .pS = s,
          .pD = D, .dNonIdealParam = 1.0, .dS = s0, .dD = D0, .dConc0 = 1.0};
}

// A cosolute of the given points, s and D at concentration 1, solved beside the species
// in a solvent that follows it.
inline LammCosoluteSettings DynamicCosolute(int points, double s2, double D2) {
  return {.bInhomogeneousSolvent = true, .bInhomSolventDynamic = true, .bSecondSolution = true,
          .nComp2Points = points, .dComp2S = s2, .dComp2D = D2, .dComp2C0 = 1.0};
}

inline std::unique_ptr<CLammIdeal> MakeSolver(Experiment& e, double s, double D,
                                              const LammDiscretizationSettings& settings,
                                              double c0 = 1.0) {
  auto o = std::make_unique<CLammIdeal>();
  o->SetIdealModel();
  o->LoadSedimentationParameters(s, D, e.meniscus, e.bottom, c0, e.leftLimit, e.rightLimit);
  o->SkipAccelerationCheck();
  o->LoadOutputParameters({.pScans = e.records.data(),
                           .ppOut = e.out.data(),
                           .pOutRadii = e.outRadii.data(),
                           .nOutRadii = e.radii,
                           .nScanCount = e.scans});
  o->LoadDiscretizationParameters(settings);
  o->SetSolventConditions(20.0, 0.73, 1.0, 1.0);
  return o;
}

// Amount per unit height of the sector in the output profile of one scan, by the
// trapezoid rule over r c dr between radii a and b.
inline double ProfileIntegral(const Experiment& e, int scan, double a, double b) {
  double sum = 0.0;
  for (int j = 1; j < e.radii; ++j) {
    const double r0 = e.outRadii[j], r1 = e.outRadii[j + 1];
    if (r0 < a || r1 > b) continue;
    sum += 0.5 * (r0 * e.rows[scan][j] + r1 * e.rows[scan][j + 1]) * (r1 - r0);
  }
  return sum;
}

// Value of the output profile of a scan at radius x (linear between radii).
inline double ProfileAt(const Experiment& e, int scan, double x) {
  for (int j = 1; j < e.radii; ++j) {
    if (e.outRadii[j + 1] >= x) {
      const double t = (x - e.outRadii[j]) / (e.outRadii[j + 1] - e.outRadii[j]);
      return e.rows[scan][j] + t * (e.rows[scan][j + 1] - e.rows[scan][j]);
    }
  }
  return e.rows[scan][e.radii];
}

// Largest difference between two solutions' profiles inside 7.1 cm.
inline double MaxDifference(const Experiment& a, const Experiment& b) {
  double d = 0;
  for (int k = 1; k <= a.scans; ++k)
    for (int j = 1; j <= a.radii; ++j)
      if (a.outRadii[j] <= 7.1f) d = std::max(d, static_cast<double>(std::fabs(a.rows[k][j] - b.rows[k][j])));
  return d;
}

}  // namespace tarmic::test
