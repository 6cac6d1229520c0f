#include "engine/equilibrium.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "numerics/one_based.h"
#include "scandata/experiment_file.h"
#include "scandata/scan_file.h"

namespace tarmic::engine {

namespace {

constexpr double kLn10 = 2.302585092994046;

// The monomer-nmer constant of the signals: K' = n Ka (eps l)^(1-n).
double SignalConstant(const DataSet& set, int n, double logKa) {
  const double el = set.extinction[0] * set.pathLength;
  return n * std::pow(10.0, logKa) * std::pow(el, 1.0 - n);
}

// The hetero-association constant of the signals: K' = Ka (epsA + epsB) / (epsA epsB l).
double HeteroSignalConstant(const DataSet& set, double logKa) {
  const double ea = set.extinction[0], eb = set.extinction[1];
  return std::pow(10.0, logKa) * (ea + eb) / (ea * eb * set.pathLength);
}

constexpr Quantity kMassValue{"molar mass", "g/mol", Closed(10.0, 1e8)};
constexpr Quantity kLogKaValue{"log10 of the association constant", "", Closed(-30.0, 60.0)};
constexpr Quantity kSignalValue{"signal", "OD", Closed(-10.0, 1000.0)};
constexpr Quantity kNValue{"n of the n-mer", "", Count(2.0, 12.0)};

}  // namespace

const std::vector<std::string>& EquilibriumModelNames() {
  static const std::vector<std::string> names = {"ideal1", "ideal2", "ideal3", "monomer-nmer", "hetero-ab"};
  return names;
}

const Quantity& QuantityOfEquilibriumValue(const std::string& name) {
  if (name == "n") return kNValue;
  if (name.rfind("logKa", 0) == 0) return kLogKaValue;
  if (name.size() >= 2 && name[0] == 'M') return kMassValue;
  return kSignalValue;
}

bool ParseEquilibriumModel(const std::string& name, int n, EquilibriumModelSpec* out, std::string* error) {
  EquilibriumModelSpec s;
  if (name == "ideal1" || name == "ideal2" || name == "ideal3") {
    s.kind = EquilibriumKind::kIdeal;
    s.species = name.back() - '0';
  } else if (name == "monomer-nmer") {
    s.kind = EquilibriumKind::kMonomerNmer;
    if (n < 2 || n > 12) {
      if (error) *error = "the n of monomer-nmer must be 2 to 12 (--set n=N)";
      return false;
    }
    s.n = n;
  } else if (name == "hetero-ab") {
    s.kind = EquilibriumKind::kHeteroAB;
  } else {
    if (error) *error = "no equilibrium model \"" + name + "\" (ideal1, ideal2, ideal3, monomer-nmer, hetero-ab)";
    return false;
  }
  *out = s;
  return true;
}

double BuoyantFactor(const DataSet& set) {
  const double omega = set.rpm * 2.0 * M_PI / 60.0;
  return (1.0 - set.vbar * set.density) * omega * omega / (kGasConstantErg * (set.temperature + 273.15));
}

double ReferenceRadiusSquared(const DataSet& set) {
  if (set.referenceRadius > 0.0) return set.referenceRadius * set.referenceRadius;
  double lo = 1e300, hi = -1e300;
  for (const Scan& sc : set.scans)
    for (double r : sc.radius)
      if (set.InLimits(r)) {
        lo = std::min(lo, r);
        hi = std::max(hi, r);
      }
  return lo <= hi ? 0.5 * (lo * lo + hi * hi) : 0.0;
}

void EquilibriumModel::Evaluate(const DataSet& set, const double* g, std::size_t ng, const double* l,
                                std::size_t nl, std::size_t n, const double* r, double* f, double* dG,
                                double* dL) const {
  const double s = BuoyantFactor(set);
  const double r2ref = ReferenceRadiusSquared(set);
  if (spec_.kind == EquilibriumKind::kIdeal) {
    const std::size_t k = static_cast<std::size_t>(spec_.species);
    for (std::size_t i = 0; i < n; ++i) {
      const double x = 0.5 * (r[i] * r[i] - r2ref);
      double v = l[k];
      for (std::size_t j = 0; j < k; ++j) {
        const double e = std::exp(g[j] * s * x);
        v += l[j] * e;
        if (dG) dG[i * ng + j] = l[j] * s * x * e;
        if (dL) dL[i * nl + j] = e;
      }
      if (dL) dL[i * nl + k] = 1.0;
      f[i] = v;
    }
    return;
  }
  if (spec_.kind == EquilibriumKind::kHeteroAB) {
    const double K = HeteroSignalConstant(set, g[2]);
    const double a = std::max(l[0], 0.0), b = std::max(l[1], 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      const double x = 0.5 * (r[i] * r[i] - r2ref);
      const double ea = std::exp(g[0] * s * x), eb = std::exp(g[1] * s * x);
      const double ab = K * a * b * ea * eb;
      f[i] = a * ea + b * eb + ab + l[2];
      if (dG) {
        dG[i * ng + 0] = s * x * (a * ea + ab);
        dG[i * ng + 1] = s * x * (b * eb + ab);
        dG[i * ng + 2] = kLn10 * ab;
      }
      if (dL) {
        dL[i * nl + 0] = ea + K * b * ea * eb;
        dL[i * nl + 1] = eb + K * a * ea * eb;
        dL[i * nl + 2] = 1.0;
      }
    }
    return;
  }
  const int nn = spec_.n;
  const double K = SignalConstant(set, nn, g[1]);
  const double c = std::max(l[0], 0.0);
  const double cn1 = std::pow(c, nn - 1), cn = cn1 * c;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = 0.5 * (r[i] * r[i] - r2ref);
    const double e = std::exp(g[0] * s * x);
    double en = e;  // e^n by products: n is a small whole number
    for (int k = 1; k < nn; ++k) en *= e;
    f[i] = c * e + K * cn * en + l[1];
    if (dG) {
      dG[i * ng + 0] = c * s * x * e + K * cn * nn * s * x * en;
      dG[i * ng + 1] = kLn10 * K * cn * en;
    }
    if (dL) {
      dL[i * nl + 0] = e + nn * K * cn1 * en;
      dL[i * nl + 1] = 1.0;
    }
  }
}

bool ReadEquilibriumRun(const std::vector<std::string>& xpPaths, std::vector<DataSet>* out, std::string* error) {
  namespace fs = std::filesystem;
  std::vector<DataSet> sets;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (xpPaths.empty()) return fail("no experiment file given");
  for (const std::string& xpPath : xpPaths) {
    ExperimentFile xp;
    std::string why;
    if (!LoadXpFile(xpPath, &xp, &why)) return fail(why);
    if (!xp.IsEquilibrium()) return fail(xpPath + ": line 1: not an equilibrium experiment (type 3 or 4)");
    // The time- and radially-invariant noise the file switches on are not terms of
    // these models: fitting without them would change the answer unseen.
    if (xp.fitTINoise || xp.fitRINoise)
      return fail(xpPath + ": it switches on the fit of " + (xp.fitTINoise ? "time" : "radially") +
                  "-invariant noise, which the global analysis does not fit yet");
    for (const std::string& name : xp.files) {
      // A relative directory is taken from the experiment file's folder.
      const fs::path listed = fs::path(xp.directory).is_absolute()
                                  ? fs::path(xp.directory)
                                  : fs::path(xpPath).parent_path() / xp.directory;
      fs::path path = (listed / name).lexically_normal();
      std::error_code ec;
      if (!fs::is_regular_file(path, ec)) {
        const fs::path beside = fs::path(xpPath).parent_path() / name;
        if (!fs::is_regular_file(beside, ec))
          return fail(xpPath + ": line 3: the listed file " + name + " is neither in " + xp.directory +
                      " nor beside the experiment file");
        path = beside;
      }
      ScanInfo info;
      ScanDataKind kind;
      int n = 0;
      float *radius = nullptr, *value = nullptr;
      bool mark = false;
      std::string scanWhy;
      if (!ReadScanFileAndKind(path.string().c_str(), ScanDataKind{}, &kind, &info, &n, &radius, &value, nullptr,
                               &mark, 0.0f, &scanWhy))
        return fail(path.string() + ": " + scanWhy);
      DataSet d;
      d.experiment = xpPath;
      d.source = path.string();
      d.cell = info.cell;
      d.wavelength = info.wavelength;
      d.rpm = info.rpm;
      d.temperature = info.temperature;
      d.meniscus = xp.meniscus;
      d.bottom = xp.bottom;
      d.fitLeft = xp.fitLeftLimit;
      d.fitRight = xp.fitRightLimit;
      d.density = xp.bufferDensity > 0 ? xp.bufferDensity : 1.0;
      d.vbar = xp.vbar;
      d.extinction[0] = xp.extinctionA;
      d.extinction[1] = xp.extinctionB;
      d.extinction[2] = xp.extinctionC;
      d.pathLength = xp.pathLength;
      d.noise = xp.noise;
      Scan sc;
      sc.time = info.time;
      sc.temperature = info.temperature;
      sc.rpm = info.rpm;
      for (int i = 1; i <= n; ++i) {
        sc.radius.push_back(radius[i]);
        sc.value.push_back(value[i]);
      }
      free_vector(radius, 1, n);
      free_vector(value, 1, n);
      d.scans.push_back(std::move(sc));
      if (!(d.rpm > 0)) return fail(path.string() + ": line 2: no rotor speed");
      std::size_t inside = 0;
      for (double r : d.scans[0].radius) inside += d.InLimits(r);
      if (inside < 5) return fail(path.string() + ": fewer than 5 points within the fitting limits of " + xpPath);
      sets.push_back(std::move(d));
    }
  }
  *out = std::move(sets);
  return true;
}

namespace {

struct SlopeStart {
  double mass = 0.0;  // g/mol, 0 when the set gives none
  double cref = 0.0;  // signal at the reference radius
};

// The apparent molar mass and reference signal of a data set from the weighted line
// of ln c against x (weights c^2, the inverse variance of ln c at constant noise).
SlopeStart SlopeOf(const DataSet& set) {
  SlopeStart out;
  const double s = BuoyantFactor(set);
  const double r2ref = ReferenceRadiusSquared(set);
  double top = 0.0;
  for (const Scan& sc : set.scans)
    for (std::size_t i = 0; i < sc.radius.size(); ++i)
      if (set.InLimits(sc.radius[i])) top = std::max(top, sc.value[i]);
  const double floor = std::max(0.02, 0.05 * top);
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const Scan& sc : set.scans)
    for (std::size_t i = 0; i < sc.radius.size(); ++i) {
      const double y = sc.value[i];
      if (!set.InLimits(sc.radius[i]) || !(y > floor)) continue;
      const double x = 0.5 * (sc.radius[i] * sc.radius[i] - r2ref), w = y * y, ly = std::log(y);
      sw += w;
      sx += w * x;
      sy += w * ly;
      sxx += w * x * x;
      sxy += w * x * ly;
    }
  const double det = sw * sxx - sx * sx;
  if (!(sw > 0) || !(det > 0) || !(s > 0)) return out;
  const double slope = (sw * sxy - sx * sy) / det;
  const double icpt = (sy - slope * sx) / sw;
  out.mass = slope / s;
  out.cref = std::exp(icpt);
  return out;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

// Fits q for a few iterations from its values and keeps it, at the values reached,
// as *best when its sum of squares is below *bestSsr.
void KeepBetterStart(Problem q, int threads, Problem* best, double* bestSsr) {
  Options quick;
  quick.maxIterations = 25;
  quick.limits = false;
  quick.threads = threads;
  const Summary s = Solve(quick, q);
  if (s.status == Status::kRefused || !(s.ssr < *bestSsr)) return;
  *bestSsr = s.ssr;
  for (std::size_t k = 0; k < q.globals.size(); ++k) q.globals[k].value = s.globals[k].value;
  for (std::size_t d = 0; d < q.locals.size(); ++d)
    for (std::size_t k = 0; k < q.locals[d].size(); ++k) q.locals[d][k].value = s.locals[d][k].value;
  *best = std::move(q);
}

// The shares of the complex in the signal at a typical signal that the grid of starts
// over log Ka takes.
constexpr double kStartShares[] = {0.01, 0.1, 0.3, 1.0, 3.0, 10.0, 100.0};

}  // namespace

bool BuildEquilibriumProblem(std::vector<DataSet> sets, const EquilibriumModelSpec& spec,
                             const EquilibriumSettings& settings, int threads, Problem* out, std::string* error) {
  Problem p;
  p.model = std::make_shared<EquilibriumModel>(spec);
  const std::size_t nd = sets.size();
  std::vector<SlopeStart> slopes;
  std::vector<double> masses, crefs;
  for (const DataSet& d : sets) {
    slopes.push_back(SlopeOf(d));
    if (slopes.back().mass > 0) masses.push_back(slopes.back().mass);
    crefs.push_back(slopes.back().cref);
  }
  const double mApp = masses.empty() ? 1e4 : Median(masses);
  auto mass = [](const std::string& name, double v) { return Parameter{name, v, "g/mol", 10.0, 1e8, true}; };
  std::vector<std::string> localNames;
  if (spec.kind == EquilibriumKind::kIdeal) {
    const double spread[3][3] = {{1.0, 0, 0}, {0.5, 2.0, 0}, {0.33, 1.0, 3.0}};
    for (int j = 0; j < spec.species; ++j)
      p.globals.push_back(mass("M" + std::to_string(j + 1), mApp * spread[spec.species - 1][j]));
    for (int j = 0; j < spec.species; ++j) localNames.push_back("c" + std::to_string(j + 1));
  } else if (spec.kind == EquilibriumKind::kHeteroAB) {
    p.globals.push_back(mass("M1", mApp));
    p.globals.push_back(mass("M2", mApp));
    p.globals.push_back(Parameter{"logKa1", 4.0, "log10 M^-1", -30.0, 60.0, true});
    localNames = {"cA", "cB"};
  } else {
    p.globals.push_back(mass("M1", mApp));
    p.globals.push_back(Parameter{"logKa1", 4.0, spec.n == 2 ? "log10 M^-1" : "log10 M^-" + std::to_string(spec.n - 1),
                                  -30.0, 60.0, true});
    localNames = {"c1"};
  }
  localNames.push_back("baseline");
  p.locals.resize(nd);
  for (std::size_t d = 0; d < nd; ++d) {
    const double cref = slopes[d].cref > 0 ? slopes[d].cref : 0.1;
    const int nc = static_cast<int>(localNames.size()) - 1;
    for (int j = 0; j < nc; ++j) p.locals[d].push_back(Parameter{localNames[j], cref / nc, "OD", 0.0, 1e3, true});
    p.locals[d].push_back(Parameter{"baseline", 0.0, "OD", -10.0, 10.0, true});
  }
  // The settings: a value given is held unless it is floated as well.
  auto known = [&](const std::string& name) {
    for (const Parameter& g : p.globals)
      if (g.name == name) return true;
    return std::find(localNames.begin(), localNames.end(), name) != localNames.end();
  };
  for (const auto& [name, value] : settings.set) {
    if (name == "n") continue;
    if (!known(name)) {
      if (error) *error = "the model has no value \"" + name + "\"";
      return false;
    }
  }
  for (const std::string& name : settings.floated)
    if (!known(name)) {
      if (error) *error = "the model has no value \"" + name + "\" to float";
      return false;
    }
  auto apply = [&](Parameter& q) {
    const auto it = settings.set.find(q.name);
    if (it == settings.set.end()) return;
    q.value = it->second;
    q.floated = std::find(settings.floated.begin(), settings.floated.end(), q.name) != settings.floated.end();
  };
  for (Parameter& g : p.globals) apply(g);
  for (auto& list : p.locals)
    for (Parameter& q : list) apply(q);
  p.dataSets = std::move(sets);

  if (spec.kind == EquilibriumKind::kMonomerNmer && p.globals[1].floated) {
    // A grid of starts over the share of the n-mer at a typical signal, each with the
    // monomer mass that keeps the apparent mass; the best short fit is kept, so
    // that the search starts in the basin of the global minimum.
    const int n = spec.n;
    const double typical = Median(crefs) > 0 ? Median(crefs) : 0.1;
    double bestSsr = 1e300;
    Problem best = p;
    for (double j : kStartShares) {
      Problem q = p;
      if (q.globals[0].floated) q.globals[0].value = mApp * (1.0 + j) / (1.0 + n * j);
      // K' typical^(n-1) = j, with K' = n Ka (eps l)^(1-n).
      const double el = q.dataSets[0].extinction[0] * q.dataSets[0].pathLength;
      q.globals[1].value = std::log10(j / (n * std::pow(typical, n - 1) * std::pow(el, 1.0 - n)));
      for (std::size_t d = 0; d < nd; ++d) {
        if (!q.locals[d][0].floated) continue;
        // The monomer signal c1 with c1 + K' c1^n = the set's reference signal.
        const double K = n * std::pow(10.0, q.globals[1].value) *
                         std::pow(q.dataSets[d].extinction[0] * q.dataSets[d].pathLength, 1.0 - n);
        const double total = slopes[d].cref > 0 ? slopes[d].cref : typical;
        double lo = 0.0, hi = total;
        for (int it = 0; it < 60; ++it) {
          const double mid = 0.5 * (lo + hi);
          (mid + K * std::pow(mid, n) > total ? hi : lo) = mid;
        }
        q.locals[d][0].value = 0.5 * (lo + hi);
      }
      KeepBetterStart(std::move(q), threads, &best, &bestSsr);
    }
    p = std::move(best);
  }
  if (spec.kind == EquilibriumKind::kHeteroAB && p.globals[2].floated) {
    // The same grid for A + B: A and B start at equal signals x at a typical signal,
    // the complex's share j of it (K' x^2 = 2 j x), and masses apart by a quarter so
    // that the search does not start on the line where A and B trade places.
    const double typical = Median(crefs) > 0 ? Median(crefs) : 0.1;
    double bestSsr = 1e300;
    Problem best = p;
    for (double j : kStartShares) {
      Problem q = p;
      const double x = 0.5 * typical, K = 2.0 * j / x;
      if (q.globals[0].floated) q.globals[0].value = 0.8 * mApp * (1.0 + j) / (1.0 + 2.0 * j);
      if (q.globals[1].floated) q.globals[1].value = 1.25 * mApp * (1.0 + j) / (1.0 + 2.0 * j);
      const DataSet& d0 = q.dataSets[0];
      q.globals[2].value =
          std::log10(K * d0.extinction[0] * d0.extinction[1] * d0.pathLength / (d0.extinction[0] + d0.extinction[1]));
      for (std::size_t d = 0; d < nd; ++d) {
        const double total = slopes[d].cref > 0 ? slopes[d].cref : typical;
        const double each = (-2.0 + std::sqrt(4.0 + 4.0 * K * total)) / (2.0 * K);
        if (q.locals[d][0].floated) q.locals[d][0].value = each;
        if (q.locals[d][1].floated) q.locals[d][1].value = each;
      }
      KeepBetterStart(std::move(q), threads, &best, &bestSsr);
    }
    p = std::move(best);
  }
  *out = std::move(p);
  return true;
}

}  // namespace tarmic::engine
