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
  int m = 4;                      // monomer-nmer-mmer: the larger complex
  double logKa2 = 0.0;            // log10 M^-(m-1)
  double incompetent = 0.0;       // the share of the monomer loading that cannot associate
  double B2 = 0.0;                // mol ml/g^2 (ideal1 and monomer-nmer)
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
  double molar = m + t.n * std::pow(10.0, t.logKa) * std::pow(m, t.n);
  if (t.model == "monomer-nmer-mmer") molar += t.m * std::pow(10.0, t.logKa2) * std::pow(m, t.m);
  return kEps * kPath * molar + t.baseline;
}

// The competent signal without baseline at r (see Signal).
inline double CompetentSignal(const Truth& t, double rpm, double tempC, double ref2, double a, double r) {
  return Signal(t, rpm, tempC, ref2, a, r) - t.baseline;
}

// The integral of g(r) r dr over [lo, hi] by Simpson's rule.
template <class F>
double ColumnIntegral(F g, double lo, double hi, int intervals = 2000) {
  const double h = (hi - lo) / intervals;
  double sum = g(lo) * lo + g(hi) * hi;
  for (int i = 1; i < intervals; ++i) sum += (i % 2 ? 4.0 : 2.0) * g(lo + i * h) * (lo + i * h);
  return sum * h / 3.0;
}

// The non-ideal distribution with the second virial coefficient by direct integration
// of its differential equation from the reference radius (x = 0), marching outwards
// through the points in both directions with RK4: for the monomer's molar
// concentration m, d m/dx = sigma1 m / (1 + 2 B2 M1 m dW/dm) with W the weight
// concentration (g/ml), W = (M1/1000)(m + n Ka m^n) (ideal1: Ka = 0). An incompetent
// monomer of the same mass has the same activity coefficient, so it is rho m at every
// radius, rho its molar share at the reference radius: it adds rho m to W and to the
// signal.
inline std::vector<double> NonIdealProfile(const Truth& t, double rpm, double tempC, double ref2, double a,
                                           const std::vector<double>& r, double rho = 0.0,
                                           std::vector<double>* monomer = nullptr) {
  const double s1 = Sigma(t.M1, rpm, tempC), Ka = t.model == "ideal1" ? 0.0 : std::pow(10.0, t.logKa);
  const int n = t.n;
  const double m0 = t.model == "ideal1" ? a / (kEps * kPath) : a;  // ideal1: a is its signal
  auto rate = [&](double m) {
    const double dWdm = t.M1 / 1000.0 * (1.0 + rho + n * n * Ka * std::pow(m, n - 1));
    return s1 * m / (1.0 + 2.0 * t.B2 * t.M1 * m * dWdm);
  };
  std::vector<double> out(r.size());
  if (monomer) monomer->assign(r.size(), 0.0);
  for (int dir : {1, -1}) {
    double x = 0.0, m = m0;
    for (std::size_t k = 0; k < r.size(); ++k) {
      const std::size_t i = dir > 0 ? k : r.size() - 1 - k;
      const double target = 0.5 * (r[i] * r[i] - ref2);
      if ((target - 0.0) * dir < 0) continue;  // on the other side of the reference
      const int steps = 4 + static_cast<int>(std::ceil(100.0 * std::fabs((target - x) * s1 * n)));
      const double h = (target - x) / steps;
      for (int st = 0; st < steps && h != 0.0; ++st) {
        const double k1 = rate(m), k2 = rate(m + 0.5 * h * k1), k3 = rate(m + 0.5 * h * k2), k4 = rate(m + h * k3);
        m += h * (k1 + 2 * k2 + 2 * k3 + k4) / 6.0;
      }
      x = target;
      out[i] = kEps * kPath * ((1.0 + rho) * m + n * Ka * std::pow(m, n)) + t.baseline;
      if (monomer) (*monomer)[i] = m;
    }
  }
  return out;
}

// The radii of Simpson's rule over [lo, hi], and the rule's integral (in r dr) of
// values at them.
inline std::vector<double> SimpsonRadii(double lo, double hi, int intervals = 400) {
  std::vector<double> r(intervals + 1);
  for (int i = 0; i <= intervals; ++i) r[i] = lo + (hi - lo) * i / intervals;
  return r;
}
inline double SimpsonOf(const std::vector<double>& v, const std::vector<double>& r) {
  const int intervals = static_cast<int>(r.size()) - 1;
  double sum = v.front() * r.front() + v.back() * r.back();
  for (int i = 1; i < intervals; ++i) sum += (i % 2 ? 4.0 : 2.0) * v[i] * r[i];
  return sum * (r.back() - r.front()) / intervals / 3.0;
}

// The non-ideal profile with the incompetent monomer whose integral over the column
// is its share of the whole monomer loading: its molar share rho at the reference
// radius by bisection on Simpson integrals of the incompetent signal (rho eps l m) and
// of the rest.
inline std::vector<double> NonIdealIncompetentProfile(const Truth& t, double rpm, double tempC, double ref2,
                                                      double a, const std::vector<double>& r, double meniscus,
                                                      double bottom) {
  const std::vector<double> column = SimpsonRadii(meniscus, bottom, 120);
  const double q = t.incompetent / (1.0 - t.incompetent);
  auto excess = [&](double rho) {
    std::vector<double> m;
    const std::vector<double> v = NonIdealProfile(t, rpm, tempC, ref2, a, column, rho, &m);
    std::vector<double> incompetent(v.size()), competent(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
      incompetent[i] = kEps * kPath * rho * m[i];
      competent[i] = v[i] - t.baseline - incompetent[i];
    }
    return SimpsonOf(incompetent, column) - q * SimpsonOf(competent, column);
  };
  double lo = 0.0, hi = std::max(q, 1e-3);
  while (excess(hi) < 0.0) hi *= 2.0;
  while (hi - lo > 1e-12 * hi) (excess(0.5 * (lo + hi)) > 0.0 ? hi : lo) = 0.5 * (lo + hi);
  return NonIdealProfile(t, rpm, tempC, ref2, a, r, 0.5 * (lo + hi));
}

// The noiseless signal at the points r of a cell with the given column (meniscus and
// bottom, for the incompetent share of the loading): the closed form of Signal plus the
// incompetent monomer, whose reference amount makes its integral over the column the
// given share of the whole monomer loading; or, with B2, the integrated non-ideal
// distribution.
inline std::vector<double> Profile(const Truth& t, double rpm, double tempC, double ref2, double a,
                                   const std::vector<double>& r, double meniscus = 0.0, double bottom = 0.0) {
  if (t.B2 != 0.0 && t.incompetent > 0.0) return NonIdealIncompetentProfile(t, rpm, tempC, ref2, a, r, meniscus, bottom);
  if (t.B2 != 0.0) return NonIdealProfile(t, rpm, tempC, ref2, a, r);
  std::vector<double> out;
  for (double x : r) out.push_back(Signal(t, rpm, tempC, ref2, a, x));
  if (t.incompetent > 0.0) {
    const double s1 = Sigma(t.M1, rpm, tempC);
    auto e1 = [&](double x) { return std::exp(s1 * 0.5 * (x * x - ref2)); };
    double competent = 0.0;
    if (t.model == "hetero-ab") {
      // A's share of the signal: free A and A's part of AB.
      const double sb = Sigma(t.M2, rpm, tempC), Ka = std::pow(10.0, t.logKa);
      competent = ColumnIntegral(
          [&](double x) {
            const double A = a * e1(x), B = a * std::exp(sb * 0.5 * (x * x - ref2));
            return kPath * kEps * (A + Ka * A * B);
          },
          meniscus, bottom);
    } else {
      competent = ColumnIntegral([&](double x) { return CompetentSignal(t, rpm, tempC, ref2, a, x); }, meniscus, bottom);
    }
    const double cinc = t.incompetent / (1.0 - t.incompetent) * competent / ColumnIntegral(e1, meniscus, bottom);
    for (std::size_t i = 0; i < r.size(); ++i) out[i] += cinc * e1(r[i]);
  }
  return out;
}

struct RunShape {
  std::vector<double> loadings{0.3, 0.6, 0.9};  // mean signal of each cell, OD
  std::vector<double> speeds{9000, 13000, 17000};
  double left = 6.9, right = 7.2;
  int points = 200;
  double noise = 0.005;
  double temperature = 20.0;
  double meniscus = 0.0, bottom = 0.0;  // cm; 0: not given
  // The loading is the mean signal over the column (meniscus to bottom, in r dr) rather
  // than over the points: the mass of the cell is the same at every speed.
  bool conserve = false;
  // The meniscus the data sets carry when it is not the true one (0: the true one), the
  // start of a fit that floats it.
  double meniscusGiven = 0.0;
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
      d.meniscus = shape.meniscusGiven > 0.0 ? shape.meniscusGiven : shape.meniscus;
      d.bottom = shape.bottom;
      auto profile = [&](double a) { return Profile(t, rpm, shape.temperature, ref2, a, r, shape.meniscus, shape.bottom); };
      auto mean = [&](double a) {
        if (shape.conserve && t.B2 != 0.0) {
          // The non-ideal column by Simpson's rule over its profile.
          const std::vector<double> radii = SimpsonRadii(shape.meniscus, shape.bottom);
          std::vector<double> v = NonIdealProfile(t, rpm, shape.temperature, ref2, a, radii);
          for (double& y : v) y -= t.baseline;
          return SimpsonOf(v, radii) / (0.5 * (shape.bottom * shape.bottom - shape.meniscus * shape.meniscus));
        }
        if (shape.conserve) {
          const double column = 0.5 * (shape.bottom * shape.bottom - shape.meniscus * shape.meniscus);
          return ColumnIntegral([&](double x) { return CompetentSignal(t, rpm, shape.temperature, ref2, a, x); },
                                shape.meniscus, shape.bottom) /
                 column;
        }
        double s = 0;
        for (double v : profile(a)) s += v - t.baseline;
        return s / shape.points;
      };
      const bool molar = t.model != "ideal1" && t.model != "ideal2";
      // A non-ideal run's profiles are integrated numerically, at a cost: they do not
      // depend on the seed, so each is found once.
      static std::map<std::pair<std::string, std::vector<double>>, std::vector<double>> nonIdeal;
      const std::pair<std::string, std::vector<double>> key{
          t.model,
          {double(t.n), t.M1, t.logKa, t.baseline, t.incompetent, t.B2, rpm, load, shape.left, shape.right,
           double(shape.points), shape.temperature, shape.meniscus, shape.bottom, double(shape.conserve)}};
      const bool cached = t.B2 != 0.0 && nonIdeal.count(key) > 0;
      double a = 0.0;
      std::vector<double> clean;
      if (!cached) {
        double lo = 0.0, hi = molar ? load / (kEps * kPath) : load;
        while (mean(hi) < load) hi *= 2;
        for (int it = 0; it < 200; ++it) {
          const double mid = 0.5 * (lo + hi);
          if (mid <= lo || mid >= hi) break;  // lo and hi are neighbours: nothing changes any more
          (mean(mid) > load ? hi : lo) = mid;
        }
        a = 0.5 * (lo + hi);
        clean = profile(a);
        if (t.B2 != 0.0) nonIdeal[key] = clean;
      } else {
        clean = nonIdeal[key];
      }
      Scan sc;
      sc.rpm = rpm;
      sc.temperature = shape.temperature;
      if (t.model == "hetero-ab" && shape.conserve) {
        // A and B each keep their own loading (half the cell's signal each) at every
        // speed: A's part of the column's mean signal counts free A and A's part of AB
        // (eps A [AB]), B's the rest. Molar A and B at the reference radius by nested
        // bisection on Simpson integrals over the column.
        const double sa = Sigma(t.M1, rpm, shape.temperature), sb = Sigma(t.M2, rpm, shape.temperature);
        const double Ka = std::pow(10.0, t.logKa), lo2 = shape.meniscus, hi2 = shape.bottom;
        const double column = 0.5 * (hi2 * hi2 - lo2 * lo2);
        auto eA = [&](double x) { return std::exp(sa * 0.5 * (x * x - ref2)); };
        auto eB = [&](double x) { return std::exp(sb * 0.5 * (x * x - ref2)); };
        auto partA = [&](double ma, double mb) {
          return ColumnIntegral([&](double x) { return kPath * kEps * ma * eA(x) * (1.0 + Ka * mb * eB(x)); }, lo2,
                                hi2, 400) / column;
        };
        auto partB = [&](double ma, double mb) {
          return ColumnIntegral([&](double x) { return kPath * kEpsB * mb * eB(x) * (1.0 + Ka * ma * eA(x)); }, lo2,
                                hi2, 400) / column;
        };
        auto bisect = [](auto rising, double target, double top) {
          double l = 0.0, h = top;
          while (rising(h) < target) h *= 2;
          for (int it = 0; it < 60; ++it) (rising(0.5 * (l + h)) > target ? h : l) = 0.5 * (l + h);
          return 0.5 * (l + h);
        };
        auto bOf = [&](double ma) {
          return bisect([&](double mb) { return partB(ma, mb); }, 0.5 * load, 0.5 * load / (kPath * kEpsB));
        };
        // The amounts do not depend on the seed: found once per cell and speed.
        static std::map<std::vector<double>, std::pair<double, double>> found;
        const std::vector<double> key = {t.M1, t.M2, t.logKa, rpm, load, lo2, hi2, ref2, shape.temperature};
        if (!found.count(key)) {
          const double m = bisect([&](double x) { return partA(x, bOf(x)); }, 0.5 * load, 0.5 * load / (kPath * kEps));
          found[key] = {m, bOf(m)};
        }
        const auto [ma, mb] = found[key];
        for (std::size_t i = 0; i < r.size(); ++i) {
          const double A = ma * eA(r[i]), B = mb * eB(r[i]);
          clean[i] = kPath * (kEps * A + kEpsB * B + (kEps + kEpsB) * Ka * A * B) + t.baseline;
        }
      }
      for (std::size_t i = 0; i < r.size(); ++i) {
        sc.radius.push_back(r[i]);
        sc.value.push_back(clean[i] + gauss(random));
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
