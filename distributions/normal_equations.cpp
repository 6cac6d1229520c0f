// The normal equations of the distribution fit: means of the noise elimination,
// the scan-by-scan blocked build of matrix and right-hand side, and the
// single-thread builders.
#include "distributions/normal_equations.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_params.h"
#include "numerics/error_box.h"
#include "numerics/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "plot/progress_line.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"

namespace tarmic {

double dSumSqData = 0.0;
double dDataMean = 0.0;
bool bFixedFirstKernel = false;
double dFixedFirstAmplitude = 0.0;
int iContiFirstScan = 1;
int iContiLastScan = 1;
DC* hContiDC = nullptr;
CProgressLine* pContiProgressLine = nullptr;
std::atomic<int> nNEQScansDone{0};

namespace {

// sum a[p] b[p], p = 0..n-1, in double with four interleaved partial sums that are
// added in a fixed order: the same arithmetic for every element wherever it is
// computed. The products of two floats are exact in double.
double Dot(const float* a, const float* b, int n) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  int p = 0;
  for (; p + 4 <= n; p += 4) {
    s0 += static_cast<double>(a[p]) * static_cast<double>(b[p]);
    s1 += static_cast<double>(a[p + 1]) * static_cast<double>(b[p + 1]);
    s2 += static_cast<double>(a[p + 2]) * static_cast<double>(b[p + 2]);
    s3 += static_cast<double>(a[p + 3]) * static_cast<double>(b[p + 3]);
  }
  for (; p < n; ++p) s0 += static_cast<double>(a[p]) * static_cast<double>(b[p]);
  return (s0 + s1) + (s2 + s3);
}

// The data value of the build at scan s, grid point g: y, or y - K_1 inside the fit
// range when kernel 1 is fixed.
double DataValue(const NEQBuildPlan& plan, int s, int g) {
  double y = ppGridSignal[static_cast<std::size_t>(s)][g];
  if (plan.subtractFirstKernel && g >= iFitFirst && g <= iFitLast) y -= pppKernels[1][s][g];
  return y;
}

int FitRangePoints() { return iFitLast - iFitFirst + 1; }

// The centred data of scan s over the fit range into data[0..nP-1], and the centred
// kernels of unknowns 1..rows into block (row m at (m-1) nP).
void CentreScan(const NEQBuildPlan& plan, int s, int rows, float* block, float* data) {
  const int nP = FitRangePoints();
  for (int p = 0; p < nP; ++p) {
    const int g = iFitFirst + p;
    double v = DataValue(plan, s, g);
    switch (plan.model) {
      case NoiseModel::Plain: v -= plan.baseline; break;
      case NoiseModel::Baseline: v -= dDataMean; break;
      case NoiseModel::TI: v -= pDataRadiusMean[g]; break;
      case NoiseModel::RI: v -= pDataScanMean[s]; break;
      case NoiseModel::TIRI: v = v - pDataRadiusMean[g] - pDataScanMean[s] + dDataMean; break;
    }
    data[p] = static_cast<float>(v);
  }
  for (int m = 1; m <= rows; ++m) {
    const int k = m + plan.firstKernel - 1;
    const float* K = pppKernels[k][s];
    float* out = block + static_cast<std::size_t>(m - 1) * static_cast<std::size_t>(nP);
    switch (plan.model) {
      case NoiseModel::Plain:
        for (int p = 0; p < nP; ++p) out[p] = K[iFitFirst + p];
        break;
      case NoiseModel::Baseline: {
        const double mean = pKernelMean[k];
        for (int p = 0; p < nP; ++p) out[p] = static_cast<float>(K[iFitFirst + p] - mean);
        break;
      }
      case NoiseModel::TI: {
        const double* rm = ppKernelRadiusMean[k];
        for (int p = 0; p < nP; ++p) {
          const int g = iFitFirst + p;
          out[p] = static_cast<float>(K[g] - rm[g]);
        }
        break;
      }
      case NoiseModel::RI: {
        const double mean = ppKernelScanMean[k][s];
        for (int p = 0; p < nP; ++p) out[p] = static_cast<float>(K[iFitFirst + p] - mean);
        break;
      }
      case NoiseModel::TIRI: {
        const double* rm = ppKernelRadiusMean[k];
        const double shift = pKernelMean[k] - ppKernelScanMean[k][s];
        for (int p = 0; p < nP; ++p) {
          const int g = iFitFirst + p;
          out[p] = static_cast<float>(K[g] - rm[g] + shift);
        }
        break;
      }
    }
  }
}

bool NeedsRadiusMeans(NoiseModel m) { return m == NoiseModel::TI || m == NoiseModel::TIRI; }
bool NeedsScanMeans(NoiseModel m) { return m == NoiseModel::RI || m == NoiseModel::TIRI; }
bool NeedsGlobalMeans(NoiseModel m) {
  return m == NoiseModel::Baseline || m == NoiseModel::TIRI;
}

// The poll of a single-thread build after each scan: progress, then the keyboard.
bool SerialAfterScan(const NEQBuildPlan& plan) {
  const int scans = plan.lastScan - plan.firstScan + 1;
  const int done = nNEQScansDone.fetch_add(1) + 1;
  ShowNormalEquationProgress(static_cast<float>(done) / static_cast<float>(scans));
  if (bUserAbort) return false;
  if (CheckKeyPress()) {
    bUserAbort = true;
    return false;
  }
  return true;
}

bool RunSerialBuild(const NEQBuildPlan& plan) {
  if (!NormalEquationArraysFit(plan)) return false;
  ComputeNormalEquationMeans(plan);
  nNEQScansDone = 0;
  double sumSq = 0.0;
  BuildNormalEquationRows(plan, 1, 1, &sumSq, [&plan] { return SerialAfterScan(plan); });
  FinishNormalEquations(plan, sumSq);
  return !bUserAbort;
}

}  // namespace

NoiseModel SelectNoiseModel() {
  if (bFitTINoise && bFitRINoise) return NoiseModel::TIRI;
  if (bFitTINoise) return NoiseModel::TI;
  if (bFitRINoise) return NoiseModel::RI;
  if (bVaryBaseline) return NoiseModel::Baseline;
  return NoiseModel::Plain;
}

NEQBuildPlan PlanNormalEquations(NoiseModel model) {
  NEQBuildPlan plan;
  plan.model = model;
  plan.firstScan = 1;
  plan.lastScan = nScans;
  plan.firstKernel = 1;
  plan.order = IsSizeShapeModel() ? nFf0Grid : nDistGrid;
  plan.baseline = fBaseline;
  return plan;
}

bool NormalEquationArraysFit(const NEQBuildPlan& plan) {
  const int lastKernel = plan.firstKernel + plan.order - 1;
  return pppKernels && ppNormalMatrix && plan.order >= 1 && plan.firstScan >= 1 &&
         plan.lastScan >= plan.firstScan && plan.lastScan <= nScans &&
         plan.lastScan <= nKernelArrayScans && lastKernel <= nKernelArrayKernels &&
         plan.order <= nWorkspaceUnknowns && nGridPoints <= nKernelArrayPoints &&
         nGridPoints <= nWorkspacePoints && nScans <= nWorkspaceScans && iFitFirst >= 1 &&
         iFitLast >= iFitFirst && iFitLast <= nGridPoints &&
         static_cast<int>(ppGridSignal.size()) > plan.lastScan;
}

void ComputeNormalEquationMeans(const NEQBuildPlan& plan) {
  const int s0 = plan.firstScan, s1 = plan.lastScan;
  const double scans = static_cast<double>(s1 - s0 + 1);
  const double nP = static_cast<double>(FitRangePoints());
  const int k0 = plan.firstKernel, k1 = plan.firstKernel + plan.order - 1;

  if (NeedsRadiusMeans(plan.model)) {
    for (int g = 1; g <= nGridPoints; ++g) {
      double sum = 0.0;
      for (int s = s0; s <= s1; ++s) sum += DataValue(plan, s, g);
      pDataRadiusMean[g] = sum / scans;
    }
    for (int k = k0; k <= k1; ++k) {
      double* rm = ppKernelRadiusMean[k];
      for (int g = 1; g <= nGridPoints; ++g) rm[g] = 0.0;
      for (int s = s0; s <= s1; ++s) {
        const float* K = pppKernels[k][s];
        for (int g = 1; g <= nGridPoints; ++g) rm[g] += K[g];
      }
      for (int g = 1; g <= nGridPoints; ++g) rm[g] /= scans;
    }
  }
  if (NeedsScanMeans(plan.model)) {
    for (int s = s0; s <= s1; ++s) {
      double sum = 0.0;
      for (int g = iFitFirst; g <= iFitLast; ++g) sum += DataValue(plan, s, g);
      pDataScanMean[s] = sum / nP;
    }
    for (int k = k0; k <= k1; ++k) {
      for (int s = s0; s <= s1; ++s) {
        const float* K = pppKernels[k][s];
        double sum = 0.0;
        for (int g = iFitFirst; g <= iFitLast; ++g) sum += K[g];
        ppKernelScanMean[k][s] = sum / nP;
      }
    }
  }
  if (NeedsGlobalMeans(plan.model)) {
    double sum = 0.0;
    for (int s = s0; s <= s1; ++s) {
      for (int g = iFitFirst; g <= iFitLast; ++g) sum += DataValue(plan, s, g);
    }
    dDataMean = sum / (scans * nP);
    for (int k = k0; k <= k1; ++k) {
      double ksum = 0.0;
      for (int s = s0; s <= s1; ++s) {
        const float* K = pppKernels[k][s];
        for (int g = iFitFirst; g <= iFitLast; ++g) ksum += K[g];
      }
      pKernelMean[k] = ksum / (scans * nP);
    }
  }
}

void BuildNormalEquationRows(const NEQBuildPlan& plan, int thread, int threadCount,
                             double* sumSq, const std::function<bool()>& afterScan) {
  assert(thread >= 1 && thread <= threadCount);
  const int M = plan.order;
  const int nP = FitRangePoints();
  // Own rows: i = thread, thread + threadCount, ...
  int lastRow = 0;
  for (int i = thread; i <= M; i += threadCount) {
    double* Ai = ppNormalMatrix[i];
    for (int j = 1; j <= M; ++j) Ai[j] = 0.0;
    pNormalRhs[i] = 0.0;
    lastRow = i;
  }
  const bool sumsSquares = thread == 1 && sumSq != nullptr;
  if (lastRow == 0 && !sumsSquares) {
    // A surplus worker: nothing to build, its share of the progress is done.
    if (!afterScan) nNEQScansDone.fetch_add(plan.lastScan - plan.firstScan + 1);
    return;
  }

  // Centred kernels of unknowns 1..lastRow (every column an own row needs) and the
  // centred data of one scan.
  std::vector<float> block(static_cast<std::size_t>(std::max(lastRow, 1)) *
                           static_cast<std::size_t>(nP));
  std::vector<float> data(static_cast<std::size_t>(nP));
  for (int s = plan.firstScan; s <= plan.lastScan; ++s) {
    if (bUserAbort) break;
    CentreScan(plan, s, lastRow, block.data(), data.data());
    if (sumsSquares) *sumSq += Dot(data.data(), data.data(), nP);
    for (int i = thread; i <= M; i += threadCount) {
      const float* ci = block.data() + static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(nP);
      double* Ai = ppNormalMatrix[i];
      pNormalRhs[i] += Dot(ci, data.data(), nP);
      // A_ij += sum_p K'_i K'_j over the lower triangle j <= i.
      for (int j = 1; j <= i; ++j) {
        const float* cj = block.data() + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nP);
        Ai[j] += Dot(ci, cj, nP);
      }
    }
    if (afterScan) {
      if (!afterScan()) break;
    } else {
      nNEQScansDone.fetch_add(1);
    }
  }
}

void FinishNormalEquations(const NEQBuildPlan& plan, double sumSq) {
  const int M = plan.order;
  for (int i = 1; i <= M; ++i) {
    for (int j = i + 1; j <= M; ++j) ppNormalMatrix[i][j] = ppNormalMatrix[j][i];
  }
  dSumSqData = sumSq;
  nNEQUnknowns = M;
}

bool BuildNormalEquationsTIRI() { return BuildNormalEquations(NoiseModel::TIRI); }
bool BuildNormalEquationsTI() { return BuildNormalEquations(NoiseModel::TI); }
bool BuildNormalEquationsRI() { return BuildNormalEquations(NoiseModel::RI); }
bool BuildNormalEquationsBaseline() { return BuildNormalEquations(NoiseModel::Baseline); }
bool BuildNormalEquationsPlain() { return BuildNormalEquations(NoiseModel::Plain); }

bool BuildNormalEquations(NoiseModel model) {
  bFixedFirstKernel = false;
  dFixedFirstAmplitude = 0.0;
  return RunSerialBuild(PlanNormalEquations(model));
}

bool BuildNormalEquationsFixedFirst(double amplitude) {
  NEQBuildPlan plan = PlanNormalEquations(NoiseModel::TIRI);
  plan.firstKernel = 2;
  plan.order = nDistGrid - 1;
  plan.subtractFirstKernel = true;
  const bool ok = RunSerialBuild(plan);
  bFixedFirstKernel = true;
  dFixedFirstAmplitude = amplitude;
  return ok;
}

bool BuildNormalEquationsScanRange() {
  NEQBuildPlan plan = PlanNormalEquations(NoiseModel::Baseline);
  plan.firstScan = iContiFirstScan;
  plan.lastScan = iContiLastScan;
  return RunSerialBuild(plan);
}

void ShowContiText(int x, int y, const std::string& text) {
  if (!hContiDC) return;
  hContiDC->TextOut(x, y, text);
  if (HasBackend()) GetBackend().MainWindow().Refresh();
}

void ShowNormalEquationProgress(float fraction) {
  if (ContiFitInProgress() || !hContiDC) return;
  if (pContiProgressLine) {
    pContiProgressLine->UpdateDC(fraction, *hContiDC);
    if (HasBackend()) GetBackend().MainWindow().Refresh();
    return;
  }
  ShowContiText(10, 50,
                Format("calculating normal equations (%2.0f percent done - hit any key to "
                       "interrupt...)",
                       100.0 * static_cast<double>(fraction)));
}

}  // namespace tarmic
