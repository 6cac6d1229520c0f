// Synthetic equilibrium runs with known truth for the engine's tests, benchmark and
// example: cells loaded at given mean signals, spun at several speeds, the signal of
// each computed in molar units from the closed-form equilibrium distributions, with
// Gaussian noise.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "engine/engine.h"
#include "scandata/experiment_file.h"
#include "scandata/scan_file.h"

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
inline constexpr double kEpsB = 60000.0;  // M^-1 cm^-1, species B of hetero-ab
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
  if (t.model == "hetero-ab") {
    // Molar A and B at equal reference concentrations a; AB = Ka A B absorbs as both.
    const double A = a * std::exp(Sigma(t.M1, rpm, tempC) * x), B = a * std::exp(Sigma(t.M2, rpm, tempC) * x);
    return kPath * (kEps * A + kEpsB * B + (kEps + kEpsB) * std::pow(10.0, t.logKa) * A * B) + t.baseline;
  }
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
      d.extinction[1] = kEpsB;
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
      const bool molar = t.model == "monomer-nmer" || t.model == "hetero-ab";
      double lo = 0.0, hi = molar ? load / (kEps * kPath) : load;
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

inline void Check(bool ok, const std::string& what = "a file of the run was not written") {
  if (!ok) throw std::runtime_error(what);
}

// Writes the run as sorted files: one scan file per data set and one experiment file
// per cell listing its speeds.
// directory is what the experiment files name as their folder.
inline std::vector<std::string> WriteRun(const std::string& dir, const std::vector<DataSet>& sets,
                                         const std::string& directory) {
  std::filesystem::create_directories(dir);
  std::vector<std::string> xps;
  std::map<int, std::vector<std::string>> byCell;
  for (const DataSet& d : sets) {
    const std::string name = "cell" + std::to_string(d.cell) + "_" + std::to_string(static_cast<int>(d.rpm)) + ".ra" +
                             std::to_string(d.cell);
    std::vector<float> r(1), y(1);
    for (std::size_t i = 0; i < d.scans[0].radius.size(); ++i) {
      r.push_back(static_cast<float>(d.scans[0].radius[i]));
      y.push_back(static_cast<float>(d.scans[0].value[i]));
    }
    Check(WriteRadialScanFile((dir + "/" + name).c_str(), static_cast<int>(r.size() - 1), r.data(), y.data(),
                                    nullptr, "equilibrium", true, 0, 0, 0, false, 'R', d.cell, 20.0f,
                                    static_cast<float>(d.rpm), 86400.0, 0.0, 280.0f, 1));
    byCell[d.cell].push_back(name);
  }
  for (const auto& [cell, files] : byCell) {
    ExperimentFile xp;
    xp.type = kXpMultiSedEquilibrium;
    xp.directory = directory;
    xp.files = files;
    xp.bufferDensity = static_cast<float>(kDensity);
    xp.vbar = xp.vbar20 = static_cast<float>(kVbar);
    xp.extinctionA = static_cast<float>(kEps);
    xp.extinctionB = static_cast<float>(kEpsB);
    xp.pathLength = static_cast<float>(kPath);
    const std::string path = dir + "/cell" + std::to_string(cell) + "_280.xp";
    std::string error;
    Check(WriteXpFile(path, xp, &error), error);
    xps.push_back(path);
  }
  return xps;
}

}  // namespace tarmic::engine::testing
