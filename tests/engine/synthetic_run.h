// Synthetic equilibrium runs with known truth for the engine's tests, benchmark and
// example: cells loaded at given mean signals, spun at several speeds, the signal of
// each computed in molar units from the closed-form equilibrium distributions, with
// Gaussian noise.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace tarmic::engine::testing {

struct Truth {
  std::string model = "ideal1";  // ideal1, ideal2, monomer-nmer
  int n = 2;
  double M1 = 40000.0, M2 = 0.0;  // g/mol
  double share2 = 0.5;            // ideal2: the second species' share of the signal
  double logKa = 0.0;             // log10 M^-(n-1)
  double baseline = 0.01;         // OD
};

inline constexpr double kEps = 40000.0;  // M^-1 cm^-1
inline constexpr double kPath = 1.2;     // cm
inline constexpr double kVbar = 0.73, kDensity = 1.003;

inline double Sigma(double M, double rpm, double tempC) {
  const double w = rpm * M_PI / 30.0;
  return M * (1.0 - kVbar * kDensity) * w * w / (8.314462618e7 * (tempC + 273.15));
}

// The noiseless signal at radius r: ref2 the reference radius squared, a the
// reference amount (ideal: OD of the whole; monomer-nmer: molar monomer).
inline double Signal(const Truth& t, double rpm, double tempC, double ref2, double a, double r) {
  const double x = 0.5 * (r * r - ref2);
  if (t.model == "ideal1") return a * std::exp(Sigma(t.M1, rpm, tempC) * x) + t.baseline;
  if (t.model == "ideal2")
    return a * (1.0 - t.share2) * std::exp(Sigma(t.M1, rpm, tempC) * x) +
           a * t.share2 * std::exp(Sigma(t.M2, rpm, tempC) * x) + t.baseline;
  // Molar concentrations: monomer m, n-mer Ka m^n; the n-mer absorbs n times.
  const double m = a * std::exp(Sigma(t.M1, rpm, tempC) * x);
  return kEps * kPath * (m + t.n * std::pow(10.0, t.logKa) * std::pow(m, t.n)) + t.baseline;
}

struct RunShape {
  std::vector<double> loadings{0.3, 0.6, 0.9};  // mean signal of each cell, OD
  std::vector<double> speeds{9000, 13000, 17000};
  double left = 6.9, right = 7.2;
  int points = 200;
  double noise = 0.005;
  double temperature = 20.0;
};

// The run: one data set per cell and speed, every cell holding its loading as its
// mean signal at every speed (the column's mass is kept).
inline std::vector<DataSet> SyntheticRun(const Truth& t, unsigned seed, const RunShape& shape = {}) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> gauss(0.0, shape.noise);
  std::vector<DataSet> sets;
  int cell = 0;
  for (double load : shape.loadings) {
    ++cell;
    for (double rpm : shape.speeds) {
      DataSet d;
      d.source = "cell" + std::to_string(cell) + "-" + std::to_string(static_cast<int>(rpm));
      d.cell = cell;
      d.wavelength = 280;
      d.rpm = rpm;
      d.temperature = shape.temperature;
      d.density = kDensity;
      d.vbar = kVbar;
      d.extinction[0] = kEps;
      d.pathLength = kPath;
      d.noise = shape.noise;
      const double ref2 = 0.5 * (shape.left * shape.left + shape.right * shape.right);
      std::vector<double> r(shape.points);
      for (int i = 0; i < shape.points; ++i) r[i] = shape.left + (shape.right - shape.left) * i / (shape.points - 1);
      auto mean = [&](double a) {
        double s = 0;
        for (double x : r) s += Signal(t, rpm, shape.temperature, ref2, a, x) - t.baseline;
        return s / shape.points;
      };
      double lo = 0.0, hi = t.model == "monomer-nmer" ? load / (kEps * kPath) : load;
      while (mean(hi) < load) hi *= 2;
      for (int it = 0; it < 200; ++it) (mean(0.5 * (lo + hi)) > load ? hi : lo) = 0.5 * (lo + hi);
      const double a = 0.5 * (lo + hi);
      Scan sc;
      sc.rpm = rpm;
      sc.temperature = shape.temperature;
      for (double x : r) {
        sc.radius.push_back(x);
        sc.value.push_back(Signal(t, rpm, shape.temperature, ref2, a, x) + gauss(random));
      }
      d.scans.push_back(std::move(sc));
      sets.push_back(std::move(d));
    }
  }
  return sets;
}

}  // namespace tarmic::engine::testing
