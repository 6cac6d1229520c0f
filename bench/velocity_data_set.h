// The loaded data set of the model-computation and fit benchmarks: absorbance scans
// every 300 s at 50,000 rpm, 20 C, in a cell 6.0-7.2 cm with the fitting range
// 6.05-7.1 cm, water and vbar 0.73.
#pragma once

#include <cstddef>
#include <random>

#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_computation.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

namespace tarmic::bench {

// scans x radii points from 6.0 + edge to 7.2 - edge cm, zero signal.
inline void InstallVelocityScans(int scans, int radii, double edge) {
  constexpr double kMeniscus = 6.0, kBottom = 7.2;
  ResetScanDataGlobals();
  ResetLammSettings();
  ResetLammGlobals();
  ResetModelFlags();
  ResetModelParams();
  SolventConstants().VBAR = 0.73f;
  SolventConstants().fBufferDensity = 0.99823f;
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  SolventConstants().RELVISCOSITY = 1.0f;
  AllocScanTables(scans);
  for (int j = 1; j <= scans; ++j) {
    float* r = tarmic::vector(1, radii);
    float* y = tarmic::vector(1, radii);
    for (int p = 1; p <= radii; ++p) {
      r[p] = static_cast<float>(kMeniscus + edge + (kBottom - kMeniscus - 2 * edge) * (p - 1) / (radii - 1));
      y[p] = 0.0f;
    }
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(j)];
    info.time = info.recordedTime = info.timeAtLoad = 300.0 * j;
    info.rpm = 50000.0f;
    info.temperature = 20.0f;
    InstallScanArrays(j, radii, r, y, nullptr, false);
  }
  ScanFile().bAbsorbanceData = true;
  AnalysisSwitches().bRampRotorSpeed = false;
  DataSet().fMeniscus = static_cast<float>(kMeniscus);
  DataSet().fBottom = static_cast<float>(kBottom);
  DataSet().fTemperatureK = 293.15f;
  DataSet().fRT = static_cast<float>(kGasConstant * 293.15);
  BuildCommonRadialGrid();
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.1f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
}

// The data become the computed fit plus Gaussian noise of the given width.
inline void DataFromFitWithNoise(double noise, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    const auto s = static_cast<std::size_t>(j);
    for (int p = 1; p <= DataSet().pnPoints[s]; ++p) DataSet().ppSignal[s][p] = static_cast<float>(DataSet().ppFit[s][p] + gauss(random));
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
}

// One discrete species with s, D and the meniscus floated, its amplitude solved
// linearly (linear) or floated with them.
inline void SetFittedSpecies(float s, float D, float meniscus, bool linear) {
  ResetModelFlags();
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  for (int k = 2; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  ModelParams().pSpeciesS[1] = s;
  ModelParams().pSpeciesMassOrD[1] = D;
  ModelParams().pSpeciesAmplitude[1] = 1.0f;
  ModelParams().pSpeciesSFit[1] = ModelParams().pSpeciesMassOrDFit[1] = 1;
  ModelParams().pSpeciesAmplitudeFit[1] = 0;
  DataSet().fMeniscus = meniscus;
  ModelParams().bVaryMeniscus = true;
  PackModelParams();
  AllocSpeciesSignalArrays();
  ModelParams().bLinearAmplitudes = linear;
}

// D of s S at f/f0 1.3 in water at 20 C with vbar 0.73 (1e-7 cm^2/s).
inline float DOfS(double s) {
  const double M = MassFromSedcoeff(s, 0.73, 0.73 * 0.99823, 1.002e-3, 1.3);
  return static_cast<float>(kGasConstant * 293.15 * s * 1e-13 / (M * (1.0 - 0.73 * 0.99823)) * 1e7);
}

// Two species of 3 and 7 S (loading 0.6 and 0.4, f/f0 1.3), s scaled by scale and D
// by 1/scale, both floated; the meniscus at meniscus, floated when floatMeniscus;
// the amplitudes solved linearly (linear) or taken as they are.
inline void SetTwoSpecies(float scale, bool linear, float meniscus = 6.0f, bool floatMeniscus = false) {
  ResetModelFlags();
  ModelFlags().bDiscreteModel = true;
  const double s[2] = {3.0, 7.0}, c[2] = {0.6, 0.4};
  for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = k <= 2;
  for (int k = 1; k <= 2; ++k) {
    ModelParams().pSpeciesS[k] = static_cast<float>(scale * s[k - 1]);
    ModelParams().pSpeciesMassOrD[k] = DOfS(s[k - 1]) / scale;
    ModelParams().pSpeciesAmplitude[k] = static_cast<float>(c[k - 1]);
    ModelParams().pSpeciesSFit[k] = ModelParams().pSpeciesMassOrDFit[k] = 1;
    ModelParams().pSpeciesAmplitudeFit[k] = 0;
  }
  DataSet().fMeniscus = meniscus;
  ModelParams().bVaryMeniscus = floatMeniscus;
  PackModelParams();
  AllocSpeciesSignalArrays();
  ModelParams().bLinearAmplitudes = linear;
}

// The Fit of the window measurement: 30 scans of 500 radii of one 4.4 S species
// (f/f0 1.3, loading 0.8, noise 0.004), the meniscus 6.0 and the bottom 7.2 cm fixed,
// fitting limits 6.05-7.10 cm, a Lamm grid of 4000 points without the automatic grid
// size; Marquardt-Levenberg with s, D and the amplitude floated from 3.8 S,
// 7.2e-7 cm^2/s and 0.9. InstallOneSpeciesFitData makes the data once;
// StartOneSpeciesFit sets the start values before each fit.
inline void InstallOneSpeciesFitData() {
  InstallVelocityScans(30, 500, 0.02);
  LammSettings().nDefaultGridPoints = LammSettings().nLammGridPoints = 4000;
  LammSettings().bAutoGridSize = false;
  SetFittedSpecies(4.4f, DOfS(4.4), 6.0f, false);
  ModelParams().bVaryMeniscus = false;
  ModelParams().pSpeciesAmplitude[1] = 0.8f;
  PackModelParams();
  CalculateModel(nullptr);
  DataFromFitWithNoise(0.004, 11);
}

inline void StartOneSpeciesFit() {
  SetFittedSpecies(3.8f, 7.2f, 6.0f, false);
  ModelParams().bVaryMeniscus = false;
  ModelParams().pSpeciesAmplitude[1] = 0.9f;
  ModelParams().pSpeciesAmplitudeFit[1] = 1;
  PackModelParams();
}

}  // namespace tarmic::bench
