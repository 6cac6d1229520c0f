// Noise, fitted curves and diagnostic dumps after the solve of a distribution fit.
#include "distributions/noise_fit.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_params.h"
#include "storage/atomic_file.h"
#include "numerics/interpolation.h"
#include "platform/system.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

int SolutionLength() { return IsSizeShapeModel() ? DistributionVectors().nFf0Grid : DistributionVectors().nDistGrid; }

// Linear interpolation of y(x) (ascending x[1..n]) at r, the end values beyond the
// ends: the fallback where the resampling guards refuse a scan.
float InterpolateClamped(const float* x, const float* y, int n, float r) {
  if (n < 2 || r <= x[1]) return y[1];
  if (r >= x[n]) return y[n];
  int lo = 1, hi = n;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    (x[mid] <= r ? lo : hi) = mid;
  }
  const float t = (r - x[lo]) / (x[hi] - x[lo]);
  return y[lo] + t * (y[hi] - y[lo]);
}

// ppFit of scan s: the model on the common grid (constant, TI noise and RI offset
// plus the kernels with their coefficients, summed in double), resampled onto the
// scan's radii. Resampling is linear, so this equals resampling every kernel.
// Intensity data: the model absorbance as sample intensity (intensity_scans.h).
void BuildScanFit(int s, const float* tiNoise, float constant, int firstK, int lastK,
                  bool fixedFirst, std::vector<double>& sum, std::vector<float>& model) {
  const GridData& grid = CurrentGrid();
  const DistributionStorageState& storage = DistributionStorage();
  DataSetState& data = DataSet();
  const int points = grid.nGridPoints;
  const double* x = storage.pDistSolution;
  for (int g = 1; g <= points; ++g) sum[static_cast<std::size_t>(g)] = tiNoise ? tiNoise[g] : 0.0;
  for (int k = firstK; k <= lastK; ++k) {
    const double c = (fixedFirst && k == 1) ? 1.0 : x[k];
    if (c == 0.0) continue;
    const float* K = storage.pppKernels[k][s];
    for (int g = 1; g <= points; ++g) sum[static_cast<std::size_t>(g)] += c * K[g];
  }
  for (int g = 1; g <= points; ++g) {
    model[static_cast<std::size_t>(g)] = static_cast<float>(sum[static_cast<std::size_t>(g)] + constant);
  }
  const std::size_t si = static_cast<std::size_t>(s);
  const int n = data.pnPoints[si];
  float* fit = data.ppFit[si];
  float* work = data.ppWork[si];
  if (!InterpolateCurve(n, data.ppRadius[si], work, points, grid.pGridRadius, model.data())) {
    for (int i = 1; i <= n; ++i) {
      work[i] = InterpolateClamped(grid.pGridRadius, model.data(), points, data.ppRadius[si][i]);
    }
  }
  for (int i = 1; i <= n; ++i) fit[i] = work[i];
  // The model of intensity data is their absorbance: the fit shows sample intensity.
  if (ScanFile().bIntensityData) ConvertFitToIntensity(s);
}

bool FitArraysExist() {
  return DistributionStorage().pDistSolution && DistributionStorage().pppKernels && DataSet().nScans >= 1 && CurrentGrid().nGridPoints >= 1 && CurrentGrid().pGridRadius;
}

}  // namespace

void CalculateppAFit() {
  if (!FitArraysExist()) return;
  // The parts taken once: the loops below run over every grid point and kernel.
  GridData& grid = CurrentGrid();
  const DataSetState& data = DataSet();
  const DistributionStorageState& storage = DistributionStorage();
  ModelParamsState& params = ModelParams();
  const NoiseModel model = SelectNoiseModel();
  const int N = SolutionLength();
  const double* x = storage.pDistSolution;
  const bool fixedFirst = NormalEquations().bFixedFirstKernel && model == NoiseModel::TIRI;
  const int k0 = fixedFirst ? 2 : 1;
  const bool ti = model == NoiseModel::TI || model == NoiseModel::TIRI;
  const bool ri = model == NoiseModel::RI || model == NoiseModel::TIRI;

  if (model != NoiseModel::Plain && model != NoiseModel::Baseline) {
    params.fBaseline = 0.0f;
    AnalysisSwitches().pParams[15] = 0.0f;
  }
  if (ti && grid.pTINoise) {
    for (int g = 1; g <= grid.nGridPoints; ++g) {
      double v = storage.pDataRadiusMean[g];
      if (model == NoiseModel::TIRI) {
        v -= NormalEquations().dDataMean;
        for (int k = k0; k <= N; ++k) v -= x[k] * (storage.ppKernelRadiusMean[k][g] - storage.pKernelMean[k]);
      } else {
        for (int k = k0; k <= N; ++k) v -= x[k] * storage.ppKernelRadiusMean[k][g];
      }
      grid.pTINoise[g] = static_cast<float>(v);
    }
  } else if (model == NoiseModel::RI && grid.pTINoise) {
    for (int g = 1; g <= grid.nGridPoints; ++g) grid.pTINoise[g] = 0.0f;
  }
  if (ri && grid.pRINoise) {
    for (int s = 1; s <= data.nScans; ++s) {
      double v = storage.pDataScanMean[s];
      for (int k = k0; k <= N; ++k) v -= x[k] * storage.ppKernelScanMean[k][s];
      grid.pRINoise[s] = static_cast<float>(v);
    }
  } else if (model == NoiseModel::TI && grid.pRINoise) {
    for (int s = 1; s <= data.nScans; ++s) grid.pRINoise[s] = 0.0f;
  }
  if (model == NoiseModel::Baseline) {
    double v = NormalEquations().dDataMean;
    for (int k = 1; k <= N; ++k) v -= x[k] * storage.pKernelMean[k];
    params.fBaseline = static_cast<float>(v);
    AnalysisSwitches().pParams[15] = params.fBaseline;
  }

  std::vector<double> sum(static_cast<std::size_t>(grid.nGridPoints) + 1);
  std::vector<float> gridModel(static_cast<std::size_t>(grid.nGridPoints) + 1);
  for (int pos = 1; pos <= data.nScans; ++pos) {
    const int s = data.pScanOrder[static_cast<std::size_t>(pos)];
    const float constant = (ti ? 0.0f : params.fBaseline) + (ri && grid.pRINoise ? grid.pRINoise[s] : 0.0f);
    BuildScanFit(s, ti ? grid.pTINoise : nullptr, constant, 1, N, fixedFirst, sum, gridModel);
  }
  const auto& update = GetDistributionHooks().updateNonlinearDetectionFit;
  if (update) update();
}

void UpdateBaselineAndFitScanRange() {
  if (!FitArraysExist()) return;
  const int N = DistributionVectors().nDistGrid;
  double v = NormalEquations().dDataMean;
  for (int k = 1; k <= N; ++k) v -= DistributionStorage().pDistSolution[k] * DistributionStorage().pKernelMean[k];
  ModelParams().fBaseline = static_cast<float>(v);
  AnalysisSwitches().pParams[15] = ModelParams().fBaseline;
  std::vector<double> sum(static_cast<std::size_t>(CurrentGrid().nGridPoints) + 1);
  std::vector<float> gridModel(static_cast<std::size_t>(CurrentGrid().nGridPoints) + 1);
  for (int pos = NormalEquations().iContiFirstScan; pos <= NormalEquations().iContiLastScan && pos <= DataSet().nScans; ++pos) {
    const int s = DataSet().pScanOrder[static_cast<std::size_t>(pos)];
    BuildScanFit(s, nullptr, ModelParams().fBaseline, 1, N, false, sum, gridModel);
  }
}

namespace {

// Writes a dump file in the temporary directory through write(stream); the file is
// replaced only when written completely. False on failure, with the message in
// *failure.
bool WriteDump(const char* name, const std::function<void(std::FILE*)>& write,
               std::string* failure) {
  std::string error;
  const std::string path = TempDirectory() + name;
  if (WriteFileAtomically(path,
                          [&write](std::FILE* f) {
                            write(f);
                            return true;  // a failed write is caught by the commit
                          },
                          &error))
    return true;
  *failure = WithReason("\n\aAttention: could not write " + path, error);
  return false;
}

}  // namespace

std::string DumpDistributionSolution() {
  std::string failure;
  WriteDump("TARMICsolution.txt", [](std::FILE* f) {
    if (IsSizeShapeModel() && DistributionVectors().pCsff0Values) {
      for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) WriteFormatted(f, "%e \n", static_cast<double>(DistributionVectors().pCsff0Values[k]));
    } else if (DistributionVectors().pDistValues) {
      for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) WriteFormatted(f, "%e \n", static_cast<double>(DistributionVectors().pDistValues[i]));
    }
  }, &failure);
  return failure;
}

std::string DumpNormalEquations() {
  const int N = DistributionStorage().nNEQUnknowns;
  const bool sizeShape = IsSizeShapeModel();
  std::string failure;
  // A failure ends the dump.
  const auto dump = [&failure](const char* name, const std::function<void(std::FILE*)>& write) {
    return WriteDump(name, write, &failure);
  };
  if (!dump("grid.txt", [&](std::FILE* f) {
        if (sizeShape && DistributionVectors().pCsff0S) {
          for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k)
            WriteFormatted(f, "%e %e\n", static_cast<double>(DistributionVectors().pCsff0S[k]), static_cast<double>(DistributionVectors().pCsff0Ff0[k]));
        } else if (DistributionVectors().pDistGrid) {
          for (int k = 1; k <= DistributionVectors().nDistGrid; ++k) WriteFormatted(f, "%e\n", static_cast<double>(DistributionVectors().pDistGrid[k]));
        }
      }))
    return failure;
  if (!dump("dim.txt", [&](std::FILE* f) { WriteFormatted(f, "%d \n", sizeShape ? 2 : 1); }))
    return failure;
  if (!dump("npoints.txt",
            [](std::FILE* f) { WriteFormatted(f, "%f \n", static_cast<double>(CurrentGrid().fGridPointTotal)); }))
    return failure;
  if (!dump("ngrid.txt", [N](std::FILE* f) { WriteFormatted(f, "%d \n", N); })) return failure;
  if (!dump("sumsquaredata.txt", [](std::FILE* f) { WriteFormatted(f, "%e \n", NormalEquations().dSumSqData); }))
    return failure;
  if (!dump("vector.txt", [N](std::FILE* f) {
        if (DistributionStorage().pNormalRhs)
          for (int i = 1; i <= N; ++i) WriteFormatted(f, "%e \n", DistributionStorage().pNormalRhs[i]);
      }))
    return failure;
  dump("matrix.txt", [N](std::FILE* f) {
    if (!DistributionStorage().ppNormalMatrix) return;
    for (int i = 1; i <= N; ++i) {
      for (int j = 1; j <= N; ++j) WriteFormatted(f, "%e ", DistributionStorage().ppNormalMatrix[i][j]);
      WriteFormatted(f, "\n");
    }
  });
  return failure;
}

}  // namespace tarmic
