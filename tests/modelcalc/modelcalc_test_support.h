// A loaded velocity data set for the tests of the model computation and the fits,
// and the reset of everything they touch.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"
#include "tests/modelcalc/verdict_calibration.h"

namespace tarmic::test {

inline std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The lines of a text file (a saved parameter file, say).
inline std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The one-species data set of the fit tests: 4.4 S at f/f0 1.3, noise 0.005,
// meniscus 6.0 cm, 12 scans x 200 radii at 50,000 rpm.
namespace fitdata {
inline constexpr int kScans = 12;
inline constexpr int kRadii = 200;
inline constexpr double kS = 4.4, kMeniscus = 6.0, kNoise = 0.005;
inline constexpr float kRpm = 50000.0f;
}  // namespace fitdata

// Every global the model computation and the fits read or write, to its default.
inline void ResetModelCalcState() {
  ResetModelComputation();
  ResetSimArrays();
  ResetSimRunState();
  // Every flag, the parametrisation (bFitMAndS) and the buffer correction as well,
  // which a model command keeps: a test that fitted M and s leaves no next test
  // reading its D values as masses.
  ModelFlags() = ModelFlagsState{};
  ResetModelOptions();
  ResetModelParams();
  ResetScanDataGlobals();
  ResetAnalysisSwitches();
  ResetRunSwitches();
  ResetLammSettings();
  ResetLammGlobals();
  ResetLinearAmplitudes();
  ResetFluorescenceDetection();
  ResetBufferSedimentation();
  ResetSolventConstants();
  ResetFitState();
  ResetFitRmsd();
  ResetFitDriver();
  ResetInhomSolventSettings();
}

// D (1e-7 cm^2/s) of a species of s (S) and f/f0 in water at 20 C, vbar 0.73: the
// mass of the frictional ratio, then the Svedberg equation D = R T s / (M (1 - vbar rho)).
inline double DiffusionFromSAndFf0(double s, double ff0) {
  const double M = MassFromSedcoeff(s, 0.73, 0.73 * 0.99823, 1.002e-3, ff0);
  return kGasConstant * 293.15 * s * 1e-13 / (M * (1.0 - 0.73 * 0.99823)) * 1e7;
}

// Absorbance scans j = 1..scans at times j x interval (s) and rpm, radii 6.02-7.18 cm
// (zero signal), in a cell 6.0-7.2 cm at 20 C with the fitting range 6.05-7.1 cm.
inline void InstallVelocityScans(int scans, int radii, double interval, float rpm) {
  ASSERT_TRUE(calibration::InstallEmptyScans(scans, radii, interval, rpm));
}

// The data become the computed fit plus Gaussian noise of the given width.
inline void DataFromFitWithNoise(double noise, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    for (int i = 1; i <= DataSet().pnPoints[Idx(j)]; ++i)
      DataSet().ppSignal[Idx(j)][i] = static_cast<float>(DataSet().ppFit[Idx(j)][i] + gauss(random));
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
}

// One species s, D (1e-7 cm^2/s) at the meniscus, its amplitude 1 solved linearly;
// fit switch `fit` floats s and D, varyMeniscus floats the meniscus.
inline void SetOneSpecies(double s, double d, int fit, double meniscus, bool varyMeniscus) {
  ResetModelFlags();
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  for (int k = 2; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  ModelParams().pSpeciesS[1] = static_cast<float>(s);
  ModelParams().pSpeciesMassOrD[1] = static_cast<float>(d);
  ModelParams().pSpeciesAmplitude[1] = 1.0f;
  ModelParams().pSpeciesSFit[1] = ModelParams().pSpeciesMassOrDFit[1] = fit;
  ModelParams().pSpeciesAmplitudeFit[1] = 0;
  DataSet().fMeniscus = static_cast<float>(meniscus);
  ModelParams().bVaryMeniscus = varyMeniscus;
  PackModelParams();
  AllocSpeciesSignalArrays();
  ModelParams().bLinearAmplitudes = true;
}

// The fit data set: the scans of fitdata hold the model of the true species (amplitude
// 1) plus noise; returns its D. The random generators are seeded for the fits.
inline double InstallOneSpeciesData() {
  InstallVelocityScans(fitdata::kScans, fitdata::kRadii, 1000.0, fitdata::kRpm);
  const double d = DiffusionFromSAndFf0(fitdata::kS, 1.3);
  SetOneSpecies(fitdata::kS, d, 0, fitdata::kMeniscus, false);
  ModelParams().bLinearAmplitudes = false;
  EXPECT_TRUE(CalculateModel(nullptr).ok());
  DataFromFitWithNoise(fitdata::kNoise, 11);
  SeedRandomGenerators(7);
  return d;
}

// The data of the c(s) Fit tests: scans at 50,000 rpm holding one species s, f/f0
// (amplitude 1) plus noise, the meniscus free within 5.97-6.03 cm; pointsPerSigma
// above 0 sets the Lamm grids of data and kernels alike.
inline void InstallCsFitData(int scans, int radii, double interval, double s, double ff0, double noise,
                             float pointsPerSigma = 0.0f) {
  InstallVelocityScans(scans, radii, interval, 50000.0f);
  if (pointsPerSigma > 0.0f) LammSettings().fPointsPerSigma = pointsPerSigma;
  ModelFlags().bDiscreteModel = true;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  for (int k = 2; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  ModelParams().pSpeciesS[1] = static_cast<float>(s);
  ModelParams().pSpeciesMassOrD[1] = static_cast<float>(DiffusionFromSAndFf0(s, ff0));
  ModelParams().pSpeciesAmplitude[1] = 1.0f;
  PackModelParams();
  AllocSpeciesSignalArrays();
  ModelParams().bLinearAmplitudes = false;
  ASSERT_TRUE(CalculateModel(nullptr).ok());
  DataFromFitWithNoise(noise, 5);
  SeedRandomGenerators(3);
  DataSet().fMinMeniscus = 5.97f;
  DataSet().fMaxMeniscus = 6.03f;
}

// The parameters of a continuous model: grid lo..hi of count points, confidence level,
// water at 20 C with vbar 0.73, f/f0, meniscus and bottom; nothing floated and no
// systematic noise fitted.
inline void SetContinuousParams(float lo, float hi, float count, float confidence, float ff0,
                                float meniscus, float bottom) {
  for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
  AnalysisSwitches().pParams[kContiSlotGridMin] = lo;
  AnalysisSwitches().pParams[kContiSlotGridMax] = hi;
  AnalysisSwitches().pParams[kContiSlotGridCount] = count;
  AnalysisSwitches().pParams[kContiSlotConfidence] = confidence;
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
  AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f;
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = ff0;
  AnalysisSwitches().pParams[13] = meniscus;
  AnalysisSwitches().pParams[14] = bottom;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
}

// Whether the fit vector `read` gives (read(n, out) as GetFloatingExtraParams)
// differs from `start` ([1..n]) by more than `fraction` in any value, counted in
// *refused for the first such point only: the refusal of the model computations of
// the tests below.
template <class Read>
bool FirstTrialBeyond(const std::vector<float>& start, float fraction, Read read, int* refused) {
  if (*refused > 0) return false;
  const int n = static_cast<int>(start.size()) - 1;
  std::vector<float> p(start.size(), 0.0f);
  read(n, p.data());
  for (int i = 1; i <= n; ++i)
    if (std::fabs(p[Idx(i)] - start[Idx(i)]) > fraction * std::fabs(start[Idx(i)])) {
      ++*refused;
      return true;
    }
  return false;
}

// The model computation of a discrete fit that refuses, with `reason`, the first
// trial point differing from `start` by more than `fraction` in any value (as a
// solver that gave up would); *refused counts the refusals.
inline ModelFunction RefusingFirstTrialBeyond(std::vector<float> start, float fraction,
                                              std::string reason, int* refused) {
  return [=](Window* window) {
    if (FirstTrialBeyond(start, fraction, GetFloatingExtraParams, refused))
      return ModelResult{ModelStatus::Failed, reason, true, {}, false};
    return CalculateModel(window);
  };
}

// The report of a fit that went round one refused trial point and converged: one
// information note.
inline void ExpectWentRoundNote(const FitReport& report, const std::string& reason) {
  EXPECT_EQ(report.message.caption, "Note");
  EXPECT_FALSE(report.message.errorBox);
  EXPECT_EQ(report.message.style, static_cast<unsigned>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(report.message.text, std::string(kFitWentRoundOneRefusedText) + kFitConvergedText +
                                     "\nThe reason: " + reason);
}

// Root mean square of signal - fit over every scan's fit-limit points (0 if none).
inline double ResidualRms() {
  double sum = 0.0;
  int n = 0;
  for (int j = 1; j <= DataSet().nScans; ++j)
    for (int i = DataSet().pFitFirst[Idx(j)]; i <= DataSet().pFitLast[Idx(j)]; ++i, ++n)
      sum += (DataSet().ppSignal[Idx(j)][i] - DataSet().ppFit[Idx(j)][i]) * (DataSet().ppSignal[Idx(j)][i] - DataSet().ppFit[Idx(j)][i]);
  return n ? std::sqrt(sum / n) : 0.0;
}

}  // namespace tarmic::test
