// The c(s) model of the distribution benchmarks, as the model command and the
// Parameters dialog leave it: 0-15 S, confidence 0.68, vbar 0.73, water, TI and RI
// noise, meniscus and bottom of the loaded data; its kernels; the weight-average s
// of a stretch of the distribution. Single-thread use only (it sets globals).
#pragma once

#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "scandata/data_set.h"

namespace tarmic::bench {

// gridPoints the resolution, threads those of the Run's normal equations.
inline void SetCsModel(int gridPoints, double frictionalRatio, int threads, bool maxEntropy) {
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 15.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = static_cast<float>(gridPoints);
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
  AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f;
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = static_cast<float>(frictionalRatio);
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParams[14] = DataSet().fBottom;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  GetDistributionHooks().runSettings = [threads, maxEntropy] {
    ContiRunSettings s;
    s.threads = threads;
    s.maxEntropy = maxEntropy;
    return s;
  };
}

// The grid, kernel array and workspace of the Run, and its kernel points.
inline KernelPointList SetUpCsGrid() {
  UnpackModelParams();
  SetupContiGrid(AnswerPolicy{});
  KernelPointList list;
  list.Resize(DistributionVectors().nDistGrid);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) SetupKernelPoint(i, 20.0f, 0.0, list);
  return list;
}

// The same, and the kernels solved (nLammThreads threads).
inline void PrepareCsKernels() {
  KernelPointList list = SetUpCsGrid();
  RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data());
}

// Weight-average s of the distribution between lo and hi (S).
inline float MeanS(float lo, float hi) {
  float area = 0, mean = 0, total = 0;
  IntegrateDistribution(lo, hi, &area, &mean, &total, nullptr, nullptr, nullptr);
  return mean;
}

}  // namespace tarmic::bench
