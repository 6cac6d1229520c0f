// The calibration of the verdicts of a fit's end on data made by the program's own
// model of known species with noise of known kind: the truth is exact (data and fit
// share the model and its grid), so a verdict's false alarms are counted on fits of
// the true model and its power on fits of a model that misses the data by a named
// bias (a meniscus held off the true one, an unmodelled species). Used by the suite
// (verdict_calibration_test.cpp) and, over more seeds, by bench/bench_verdicts.cpp.
// No test framework here: both include it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_misfit.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

namespace tarmic::calibration {

inline std::size_t At(int i) { return static_cast<std::size_t>(i); }

struct Species {
  double s;        // S
  double d;        // 1e-7 cm^2/s
  double loading;  // OD
};

// One 4.3 S species at f/f0 1.3 (0.6 OD by default) and a 12 S one.
inline double DiffusionOf(double s, double ff0);
inline Species Main(double loading = 0.6);
inline Species Large(double loading);

// The noise added to the model of the data.
enum class Noise {
  White,
  // First-order autoregressive along each scan, neighbouring points correlated 0.9.
  AutoRegressive,
  // A moving average of five independent values (correlations 0.8 ... 0.2).
  MovingAverage,
  // White noise on a radial pattern common to every scan (up to 5 times the noise,
  // waves of about 17 points, as an interference camera's) that the fit solves as
  // time-invariant noise.
  TimeInvariantSolved,
};

struct RunCase {
  std::string name;
  std::vector<Species> data;    // the species of the data
  std::vector<Species> fitted;  // the model fitted, started at these values
  double noise = 0.01;          // OD
  Noise kind = Noise::White;
  int scans = 20;
  int radii = 200;
  double interval = 300.0;  // s between scans, the first at one interval
  float rpm = 50000.0f;
  double meniscusOffset = 0.0;  // cm: the fit's meniscus, held, minus the data's
  // Each scan's radii shifted by 0.0017 cm times its number modulo 3: no two
  // neighbouring scans share radii.
  bool staggeredRadii = false;
  // The model is the truth: a verdict on it is a false alarm.
  bool honest() const { return meniscusOffset == 0.0 && data.size() == fitted.size(); }
};

// D (1e-7 cm^2/s) of a species of s (S) at f/f0 in water at 20 C, vbar 0.73.
inline double DiffusionOf(double s, double ff0) {
  const double M = MassFromSedcoeff(s, 0.73, 0.73 * 0.99823, 1.002e-3, ff0);
  return kGasConstant * 293.15 * s * 1e-13 / (M * (1.0 - 0.73 * 0.99823)) * 1e7;
}

inline Species Main(double loading) { return {4.3, DiffusionOf(4.3, 1.3), loading}; }
inline Species Large(double loading) { return {12.0, DiffusionOf(12.0, 1.3), loading}; }

// The true model of Main at its loading, fitted from the truth, 300 s between scans
// unless said.
inline RunCase Honest(double noise, Noise kind, double interval, int scans = 20, int radii = 200) {
  RunCase c;
  c.name = "honest";
  c.data = c.fitted = {Main()};
  c.noise = noise;
  c.kind = kind;
  c.interval = interval;
  c.scans = scans;
  c.radii = radii;
  return c;
}

inline void ResetAll() {
  ResetModelComputation();
  ResetModelFlags();
  ResetModelParams();
  ResetScanDataGlobals();
  ResetAnalysisSwitches();
  ResetLammSettings();
  ResetLinearAmplitudes();
  ResetSolventConstants();
  ResetFitState();
}

// Absorbance scans j = 1..scans at times j x interval (s) and rpm, radii 6.02-7.18 cm
// (zero signal; each scan's shifted by 0.0017 cm times j modulo 3 with stagger), in a
// cell 6.0-7.2 cm at 20 C in water with vbar 0.73, the fitting range 6.05-7.1 cm.
// False when the common radial grid could not be built.
inline bool InstallEmptyScans(int scans, int radii, double interval, float rpm, bool stagger = false) {
  AllocScanTables(scans);
  for (int j = 1; j <= scans; ++j) {
    float* r = tarmic::vector(1, radii);
    float* y = tarmic::vector(1, radii);
    for (int i = 1; i <= radii; ++i) {
      r[i] = static_cast<float>(6.02 + 1.16 * (i - 1) / (radii - 1) + (stagger ? 0.0017 * (j % 3) : 0.0));
      y[i] = 0.0f;
    }
    ScanInfo& info = DataSet().pScanInfo[At(j)];
    info.time = info.recordedTime = info.timeAtLoad = interval * j;
    info.rpm = rpm;
    info.temperature = 20.0f;
    InstallScanArrays(j, radii, r, y, nullptr, false);
  }
  ScanFile().bAbsorbanceData = true;
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  DataSet().fTemperatureK = 293.15f;
  DataSet().fRT = static_cast<float>(kGasConstant * 293.15);
  SolventConstants().VBAR = 0.73f;
  SolventConstants().fBufferDensity = 0.99823f;
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  if (!BuildCommonRadialGrid()) return false;
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.1f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  AnalysisSwitches().bRampRotorSpeed = false;
  return true;
}

// The scans of c with everything else reset; Lamm grids coarse enough for sweeps
// (data and fits share them, so the model is exact).
inline bool InstallScans(const RunCase& c) {
  ResetAll();
  LammSettings().fPointsPerSigma = 3.0f;
  LammSettings().nGridSizeUpper = 400;
  return InstallEmptyScans(c.scans, c.radii, c.interval, c.rpm, c.staggeredRadii);
}

// The species of the model at their values, s and D floated, loadings solved
// linearly (or held at their values when linear is false). The model keeps the
// loadings as the total in the first species and the others' fractions of it.
inline void SetModel(const std::vector<Species>& species, bool linear) {
  double total = 0.0;
  for (const Species& sp : species) total += sp.loading;
  ResetModelFlags();
  ModelFlags().bDiscreteModel = true;
  for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  for (std::size_t n = 0; n < species.size(); ++n) {
    const int k = static_cast<int>(n) + 1;
    AnalysisSwitches().pSpeciesLinked[k] = 1;
    ModelParams().pSpeciesS[k] = static_cast<float>(species[n].s);
    ModelParams().pSpeciesMassOrD[k] = static_cast<float>(species[n].d);
    ModelParams().pSpeciesAmplitude[k] = static_cast<float>(n == 0 ? total : species[n].loading / total);
    ModelParams().pSpeciesSFit[k] = ModelParams().pSpeciesMassOrDFit[k] = 1;
    ModelParams().pSpeciesAmplitudeFit[k] = 0;
  }
  PackModelParams();
  AllocSpeciesSignalArrays();
  ModelParams().bLinearAmplitudes = linear;
}

// One scan's noise of c's kind at points 1..n (one-based), deviation c.noise.
inline std::vector<double> ScanNoise(const RunCase& c, std::mt19937& random, int n) {
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<double> draws(At(n) + 5), noise(At(n) + 1, 0.0);
  for (double& d : draws) d = gauss(random);
  double ar = draws[0];
  for (int i = 1; i <= n; ++i) {
    const std::size_t u = At(i);
    double e = draws[u];
    if (c.kind == Noise::AutoRegressive) {
      ar = 0.9 * ar + std::sqrt(1.0 - 0.81) * draws[u];
      e = ar;
    } else if (c.kind == Noise::MovingAverage) {
      e = (draws[u - 1] + draws[u] + draws[u + 1] + draws[u + 2] + draws[u + 3]) / std::sqrt(5.0);
    }
    noise[u] = c.noise * e;
  }
  return noise;
}

// The data: the model of c.data plus noise of c's kind (seeded).
inline bool MakeData(const RunCase& c, unsigned seed) {
  if (!InstallScans(c)) return false;
  SetModel(c.data, false);
  if (!CalculateModel(nullptr).ok()) return false;
  std::mt19937 random(seed);
  std::vector<double> pattern(At(c.radii) + 1);
  const double phase = 6.283185307179586 * std::uniform_real_distribution<double>(0.0, 1.0)(random);
  for (std::size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = 5.0 * c.noise * std::sin(0.37 * static_cast<double>(i) + phase) * std::cos(0.05 * static_cast<double>(i));
  for (int j = 1; j <= DataSet().nScans; ++j) {
    const std::vector<double> noise = ScanNoise(c, random, DataSet().pnPoints[At(j)]);
    for (int i = 1; i <= DataSet().pnPoints[At(j)]; ++i) {
      double v = DataSet().ppFit[At(j)][i] + noise[At(i)];
      if (c.kind == Noise::TimeInvariantSolved) v += pattern[At(i)];
      DataSet().ppSignal[At(j)][i] = static_cast<float>(v);
    }
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
  AnalysisSwitches().bFitTINoise = c.kind == Noise::TimeInvariantSolved;
  return true;
}

// The fitted model at its start, with the meniscus held at its offset.
inline void StartFit(const RunCase& c) {
  SetModel(c.fitted, true);
  DataSet().fMeniscus = static_cast<float>(6.0 + c.meniscusOffset);
  ModelParams().bVaryMeniscus = false;
  PackModelParams();
}

// The values s1, D1, s2, D2, ... as they stand.
inline std::vector<double> Values(std::size_t species) {
  std::vector<double> v;
  for (std::size_t n = 0; n < species; ++n) {
    v.push_back(ModelParams().pSpeciesS[static_cast<int>(n) + 1]);
    v.push_back(ModelParams().pSpeciesMassOrD[static_cast<int>(n) + 1]);
  }
  return v;
}

// The standard errors of the values at v: noise x sqrt(diag (J'J)^-1), J by central
// differences of the model at the fit points (loadings solved anew at each step, so
// that their correlation counts), inverted by Gauss-Jordan elimination. The model
// is left computed at v.
inline std::vector<double> StandardErrors(const std::vector<double>& v, double noise) {
  const std::size_t n = v.size();
  const auto model = [&](const std::vector<double>& x) {
    for (std::size_t k = 0; k < n / 2; ++k) {
      ModelParams().pSpeciesS[static_cast<int>(k) + 1] = static_cast<float>(x[2 * k]);
      ModelParams().pSpeciesMassOrD[static_cast<int>(k) + 1] = static_cast<float>(x[2 * k + 1]);
    }
    PackModelParams();
    std::vector<double> f;
    if (!CalculateModel(nullptr).ok()) return f;
    ForEachFitPoint([&](int s, int i) { f.push_back(DataSet().ppFit[At(s)][i]); });
    return f;
  };
  std::vector<std::vector<double>> J(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> up = v, down = v;
    const double h = 1e-3 * std::fabs(v[i]);
    up[i] += h;
    down[i] -= h;
    const std::vector<double> a = model(up), b = model(down);
    J[i].resize(std::min(a.size(), b.size()));
    for (std::size_t k = 0; k < J[i].size(); ++k) J[i][k] = (a[k] - b[k]) / (2 * h);
  }
  model(v);
  std::vector<std::vector<double>> A(n, std::vector<double>(2 * n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t k = 0; k < std::min(J[i].size(), J[j].size()); ++k) A[i][j] += J[i][k] * J[j][k];
    A[i][n + i] = 1.0;
  }
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < n; ++r)
      if (std::fabs(A[r][col]) > std::fabs(A[pivot][col])) pivot = r;
    std::swap(A[col], A[pivot]);
    const double d = A[col][col];
    if (d == 0.0) return std::vector<double>(n, 0.0);
    for (double& x : A[col]) x /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == col) continue;
      const double f = A[r][col];
      for (std::size_t k = 0; k < 2 * n; ++k) A[r][k] -= f * A[col][k];
    }
  }
  std::vector<double> se(n);
  for (std::size_t i = 0; i < n; ++i) se[i] = noise * std::sqrt(std::max(0.0, A[i][n + i]));
  return se;
}

// One fit of a case and what its end said.
struct FitVerdict {
  bool computed = false;
  std::vector<double> values;    // s1, D1, ...
  std::vector<double> offBySE;   // (value - truth) / standard error, per value
  double misfitZ = 0.0;
  double misfitRatio = 0.0;
  bool misfit = false;
  double heldMeniscusGain = 0.0;
  bool residualMisfit = false;  // the test on the residuals alone
  bool notConverged = false;
  bool atBound = false;
  std::vector<int> undetermined;
  std::size_t implausible = 0;
  int confirmedByRestart = 0;
  // The largest |offBySE| over the values of the species the data and the fit share.
  double worstOff() const {
    double w = 0.0;
    for (const double x : offBySE) w = std::max(w, std::fabs(x));
    return w;
  }
};

// Makes the data of c with the seed and fits them by method from the start the case
// names. The truth of the fitted values: the data's first species.
inline FitVerdict FitCase(const RunCase& c, unsigned seed, FitMethod method = FitMethod::Marquardt) {
  FitVerdict verdict;
  if (!MakeData(c, seed)) return verdict;
  StartFit(c);
  SeedRandomGenerators(seed);
  FitReport report;
  const FitOutcome outcome = FitDriver(nullptr, method, report);
  verdict.computed = outcome == FitOutcome::Completed;
  verdict.values = Values(c.fitted.size());
  verdict.misfitZ = report.misfitZ;
  verdict.misfitRatio = report.misfitRatio;
  // A misfit is either test's: the residuals' or the held meniscus'.
  verdict.misfit = report.systematicMisfit || report.heldMeniscusGain > 0.0;
  verdict.heldMeniscusGain = report.heldMeniscusGain;
  verdict.residualMisfit = report.systematicMisfit;
  verdict.notConverged = !FitConverged(outcome, report);
  verdict.atBound = !report.atBound.empty();
  verdict.undetermined = report.undeterminedSpecies;
  verdict.implausible = report.implausibleSpecies.size();
  verdict.confirmedByRestart = report.confirmedByRestart;
  // The standard errors at the truth of the species fitted (the true meniscus).
  std::vector<double> truth;
  for (std::size_t n = 0; n < c.fitted.size() && n < c.data.size(); ++n) {
    truth.push_back(c.data[n].s);
    truth.push_back(c.data[n].d);
  }
  const std::vector<double> fitted = verdict.values;
  DataSet().fMeniscus = 6.0f;
  SetModel(std::vector<Species>(c.data.begin(), c.data.begin() + static_cast<std::ptrdiff_t>(std::min(c.data.size(), c.fitted.size()))), true);
  const std::vector<double> se = StandardErrors(truth, c.noise);
  for (std::size_t i = 0; i < truth.size() && i < fitted.size(); ++i)
    verdict.offBySE.push_back(se[i] > 0.0 ? (fitted[i] - truth[i]) / se[i] : 0.0);
  return verdict;
}

// The test of a systematic misfit on the residuals at the truth (no fit), seed by
// seed: the model of c.data is computed once, then each seed's noise drawn onto it;
// with TI noise the model's linear step solves it for each seed.
inline std::vector<MisfitTest> TestsAtTruth(const RunCase& c, unsigned firstSeed, int seeds) {
  std::vector<MisfitTest> tests;
  for (int k = 0; k < seeds; ++k) {
    const unsigned seed = firstSeed + static_cast<unsigned>(k);
    if (k == 0 || c.kind == Noise::TimeInvariantSolved) {
      if (!MakeData(c, seed)) return tests;
      SetModel(c.data, true);
      if (!CalculateModel(nullptr).ok()) return tests;
    } else {
      // The fit rows hold the truth: new noise onto them.
      std::mt19937 random(seed);
      for (int j = 1; j <= DataSet().nScans; ++j) {
        const std::vector<double> noise = ScanNoise(c, random, DataSet().pnPoints[At(j)]);
        for (int i = 1; i <= DataSet().pnPoints[At(j)]; ++i)
          DataSet().ppSignal[At(j)][i] = static_cast<float>(DataSet().ppFit[At(j)][i] + noise[At(i)]);
      }
    }
    tests.push_back(EstimateResidualNoise().test);
  }
  return tests;
}

}  // namespace tarmic::calibration
