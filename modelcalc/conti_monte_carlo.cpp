// Monte-Carlo statistics of a continuous distribution: synthetic sets from the best
// fit, the right-hand-side rebuild, the limits per grid point and the statistics of
// integrated weight-average s values.
#include "modelcalc/conti_monte_carlo.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_peaks.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_storage.h"
#include "distributions/maximum_entropy.h"
#include "distributions/noise_fit.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/model_steps.h"
#include "plot/data_plots.h"
#include "storage/atomic_file.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "services/error_box.h"
#include "numerics/interpolation.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/worker_threads.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// What the analysis of the measured data left, kept while the synthetic sets
// overwrite the right-hand side and the solution, and put back afterwards.
struct MeasuredSolution {
  std::vector<double> rhs;        // pNormalRhs[0..order]
  std::vector<double> solution;   // pDistSolution: the regularised solution shown
  std::vector<double> solution2;  // pDistSolution2: the Tikhonov-Phillips one beside it
  double sumSq = 0.0;
  double chiSquareMin = 0.0, chiSquare = 0.0, entropy = 0.0, maxEntAlpha = 0.0;
  float alphaFactor = 0.0f, targetRatio = 0.0f, degreesOfFreedom = 0.0f;

  // order: the unknowns of the equations; length: the points of the solution (one
  // more with a fixed first kernel).
  void Save(int order, int length) {
    rhs.assign(DistributionStorage().pNormalRhs, DistributionStorage().pNormalRhs + order + 1);
    solution.assign(DistributionStorage().pDistSolution, DistributionStorage().pDistSolution + length + 1);
    solution2.assign(DistributionStorage().pDistSolution2, DistributionStorage().pDistSolution2 + length + 1);
    sumSq = NormalEquations().dSumSqData;
    chiSquareMin = Regularization().dChiSquareMin;
    chiSquare = Regularization().dChiSquare;
    entropy = MaximumEntropy().dMaxEntEntropy;
    maxEntAlpha = MaximumEntropy().dMaxEntAlpha;
    alphaFactor = Regularization().fAlphaFactor;
    targetRatio = Regularization().fTargetRatio;
    degreesOfFreedom = Regularization().fDegreesOfFreedom;
  }
  void Restore() const {
    std::copy(rhs.begin(), rhs.end(), DistributionStorage().pNormalRhs);
    std::copy(solution.begin(), solution.end(), DistributionStorage().pDistSolution);
    std::copy(solution2.begin(), solution2.end(), DistributionStorage().pDistSolution2);
    NormalEquations().dSumSqData = sumSq;
    Regularization().dChiSquareMin = chiSquareMin;
    Regularization().dChiSquare = chiSquare;
    MaximumEntropy().dMaxEntEntropy = entropy;
    MaximumEntropy().dMaxEntAlpha = maxEntAlpha;
    Regularization().fAlphaFactor = alphaFactor;
    Regularization().fTargetRatio = targetRatio;
    Regularization().fDegreesOfFreedom = degreesOfFreedom;
  }
};

// The confidence-limit curves shown in the distribution plot (their values are
// pMCUpperLimit and pMCLowerLimit); made and released together, the curves
// before the vectors they point to (assignment goes in declaration order).
struct LimitCurves {
  std::unique_ptr<CCurve> upper, lower;
  std::unique_ptr<CVector> upperY, lowerY;
};

// This module's own state in the analysis.
struct LocalState {
  std::filesystem::path g_directory{};  // directory of the result files
  bool g_haveMeasured = false;      // the store's run left kernels and workspace
  LimitCurves g_limitCurves{};
  MeasuredSolution g_measured{};
  bool g_writeFiles = false;          // a path was given: result files are written
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// The switches of a running computation, cleared on every way out.
class MonteCarloRunScope {
 public:
  MonteCarloRunScope() {
    DistributionModels().bMonteCarloRun = true;
    DistributionModels().bContiInnerRun = true;
    KernelProfiles().bSyntheticFromDistribution = false;
  }
  ~MonteCarloRunScope() {
    DistributionModels().bMonteCarloRun = false;
    DistributionModels().bContiInnerRun = false;
  }
  MonteCarloRunScope(const MonteCarloRunScope&) = delete;
  MonteCarloRunScope& operator=(const MonteCarloRunScope&) = delete;
};

int UnknownCount() { return IsSizeShapeModel() ? DistributionVectors().nFf0Grid : DistributionVectors().nDistGrid; }

std::string ResultFile(const std::string& name) {
  return (Local().g_directory / (name + ".dat")).string();
}

// The name of a limit's file: "lim" and the limit's fraction in thousandths.
std::string LimitFileStem(double fraction) { return Format("lim%3.0f", fraction * 1000.0); }

// The solution of the last solve into the distribution vectors as densities
// (c(s,ff0): the cell values and their projection on s).
void SolutionToDistribution() {
  SolutionToDistributionValues();
  NormalizeDistributionValues(false);
}

// The distribution now in pDistValues (c(s,ff0): the cells) to a result file,
// added to *written when it was written.
void WriteDistributionFile(const std::string& name, std::vector<std::string>* written) {
  if (!Local().g_writeFiles) return;
  const std::string file = ResultFile(name);
  bool ok = false;
  if (IsSizeShapeModel()) {
    ok = WriteSizeShapeDistribution(file);
  } else if (DistributionPlot().pDistCurve) {
    ok = DistributionPlot().pDistCurve->WriteToFile(file.c_str());
  }
  if (ok) written->push_back(file);
}

void RemoveLimitCurves() {
  if (ContiMonteCarlo().bCurvesShown && !bBatchMode && DistributionPlot().pDistPlot) {
    for (int k = 0; k < 2 && DistributionPlot().pDistPlot->nCurves > 1; ++k) DistributionPlot().pDistPlot->RemoveLastCurve();
  }
  ContiMonteCarlo().bCurvesShown = false;
  Local().g_limitCurves = LimitCurves{};
}

void AddLimitCurves() {
  if (bBatchMode || !DistributionPlot().pDistPlot || !DistributionPlot().pDistXVector) return;
  const auto n = static_cast<std::uint32_t>(DistributionVectors().nDistGrid);
  LimitCurves& c = Local().g_limitCurves;
  c.upperY = std::make_unique<CVector>();
  c.lowerY = std::make_unique<CVector>();
  c.upperY->AttachNR(ContiMonteCarlo().pMCUpperLimit.data(), n, 1);
  c.lowerY->AttachNR(ContiMonteCarlo().pMCLowerLimit.data(), n, 1);
  c.upper = std::make_unique<CCurve>(DistributionPlot().pDistXVector, c.upperY.get());
  c.lower = std::make_unique<CCurve>(DistributionPlot().pDistXVector, c.lowerY.get());
  DistributionPlot().pDistPlot->AddCurve(c.upper.get());
  DistributionPlot().pDistPlot->AddCurve(c.lower.get());
  // The two curves just added: upper limit red, lower limit blue.
  DistributionPlot().pDistPlot->SetCurveColor(DistributionPlot().pDistPlot->nCurves - 2, RGB(255, 0, 0));
  DistributionPlot().pDistPlot->SetCurveColor(DistributionPlot().pDistPlot->nCurves - 1, RGB(0, 0, 255));
  ContiMonteCarlo().bCurvesShown = true;
}

void FreeResults() {
  RemoveLimitCurves();
  ContiMonteCarlo().ppMCDistributions.clear();
  ContiMonteCarlo().ppMCProjections.clear();
  ContiMonteCarlo().pMCMean.clear();
  ContiMonteCarlo().pMCLowerLimit.clear();
  ContiMonteCarlo().pMCUpperLimit.clear();
  ContiMonteCarlo().nMCSets = 0;
}

// A synthetic set on the common grid: the best fit of every scan plus Gaussian
// noise of the fit's rmsd, put on the grid the way the measured scans were (the fit
// is in the grid's signal domain already, or for intensity data the sample
// intensity, whose absorbance the grid holds). Written only into `grid`.
void MakeSyntheticGrid(const std::vector<std::vector<float>>& fitCopy,
                       std::vector<std::vector<float>>& grid) {
  std::vector<float> synthetic;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const std::size_t i = static_cast<std::size_t>(s);
    const int n = DataSet().pnPoints[i];
    synthetic.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int p = 1; p <= n; ++p) synthetic[static_cast<std::size_t>(p)] = fitCopy[i][static_cast<std::size_t>(p)] + GaussianRandom(ContiMonteCarlo().fMCRmsd);
    // Intensity data: the noisy sample intensity enters the grid as its absorbance.
    // A scan without its reference column has no absorbance: off scale, as on the grid.
    if (ScanFile().bIntensityData) {
      const float* reference = i < DataSet().ppThirdColumn.size() ? DataSet().ppThirdColumn[i] : nullptr;
      for (int p = 1; p <= n; ++p)
        synthetic[static_cast<std::size_t>(p)] =
            reference ? AbsorbanceFromIntensities(synthetic[static_cast<std::size_t>(p)], reference[p])
                      : kOffScaleAbsorbance;
    }
    std::vector<float>& row = grid[i];
    std::fill(row.begin(), row.end(), 0.0f);
    if (CurrentGrid().bGridCopies) {
      InterpolateCurve(CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, row.data(), n, DataSet().ppRadius[i], synthetic.data());
    } else {
      std::copy(synthetic.begin() + 1, synthetic.begin() + 1 + std::min(n, CurrentGrid().nGridPoints), row.begin() + 1);
    }
  }
}

// The regularisation of one set: c(s,ff0) by Tikhonov-Phillips; otherwise maximum
// entropy when it is chosen (also with both regularisations shown), else
// Tikhonov-Phillips. A failure has been reported; the set keeps what it left.
void RegularizeSet(const ContiRunSettings& settings) {
  Regularization().nRegUnknowns = DistributionVectors().nDistGrid;
  const FixedFirstKernelShift shift;
  if (IsSizeShapeModel() || !settings.maxEntropy) {
    Regularize();
  } else {
    MaxEntRegularize(settings.suppressBaselineCorrelation);
  }
  shift.PlaceFixedAmplitude(false);
}

// The best fit of the measured data without regularisation (the base of every
// synthetic set), its fit rows and rmsd, then the regularised solution that is
// shown afterwards. False when the run did not compute.
bool BestFit(Window* window, const ContiRunSettings& settings, bool* interrupted,
             std::vector<std::vector<float>>* fitCopy) {
  const float P = DistributionModels().fConfidenceLevel;
  DistributionModels().fConfidenceLevel = 0.0f;
  const ContiRunResult run = RunContiSed(window);
  DistributionModels().fConfidenceLevel = P;
  ShowRunMessage(run.message);
  const ContiRunOutcome outcome = run.outcome;
  if (outcome != ContiRunOutcome::Computed) {
    *interrupted = outcome == ContiRunOutcome::Interrupted;
    return false;
  }
  const int order = DistributionStorage().nNEQUnknowns;
  SolutionToDistribution();
  CalculateppAFit();
  fitCopy->assign(static_cast<std::size_t>(DataSet().nScans) + 1, {});
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const std::size_t i = static_cast<std::size_t>(s);
    (*fitCopy)[i].assign(DataSet().ppFit[i], DataSet().ppFit[i] + DataSet().pnPoints[i] + 1);
  }
  ContiMonteCarlo().fMCRmsd = FitRmsd();
  // The regularised solution of the measured data, from its own equations.
  const int length = IsSizeShapeModel() ? order : std::max(order, DistributionVectors().nDistGrid);
  const std::vector<double> unregularised(DistributionStorage().pDistSolution, DistributionStorage().pDistSolution + length + 1);
  if (!SolveContiDistribution(settings)) std::copy(unregularised.begin(), unregularised.end(), DistributionStorage().pDistSolution);
  Local().g_measured.Save(order, length);
  Local().g_haveMeasured = true;
  return true;
}

// The result of the measured data: its right-hand side, solution, noise and fit.
void RestoreMeasured() {
  if (!Local().g_haveMeasured || !DistributionStorage().pNormalRhs || !DistributionStorage().pDistSolution) return;
  Local().g_measured.Restore();
  CalculateppAFit();
}

// A computation that ends before its first set (a refused grid, no memory, a best
// fit that failed or was stopped): nothing of the new grid is shown, and what was
// on show before (distribution, fit, noise, parameters, bModelComputed) is shown
// again, as after a Run that ends without a result.
void AbandonComputation(Window* window, LastContiResult& last, const LastModelFit& fit) {
  FreeResults();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  Local().g_haveMeasured = false;
  if (last.Active()) {
    last.PutBack();
    fit.PutBack();
  } else {
    ClearDistribution();
    AnalysisSwitches().bModelComputed = false;
  }
  if (window) window->Invalidate();
}

class ProgressText {
 public:
  explicit ProgressText(Window* window) : window_(window) {
    if (window_ && !bBatchMode) dc_ = window_->ClientDC();
  }
  void Show(int set) {
    WriteContiDebugLog(Format("\nMonte-Carlo set %d", set));
    if (!dc_) return;
    dc_->TextOut(ReadoutColumn(10, window_->ClientSize()), 70, Format("Monte-Carlo distribution #%d   (hit any key to stop)", set));
    window_->Refresh();
  }

 private:
  Window* window_;
  std::unique_ptr<DC> dc_;
};

// Index of a fraction of m values, kept inside 1..m.
int FractionIndex(double fraction, int m) {
  const int k = static_cast<int>(std::floor(static_cast<double>(m) * fraction));
  return std::clamp(k, 1, std::max(m, 1));
}

// Mean, standard deviation (divisor n) and the points at the two fractions of
// values[1..n], accumulated in single precision.
void Statistics(std::vector<float> values, float* mean, float* sd, float* low, float* high) {
  const int n = static_cast<int>(values.size()) - 1;
  *mean = *sd = *low = *high = 0.0f;
  if (n < 1) return;
  float sum = 0.0f;
  for (int i = 1; i <= n; ++i) sum += values[static_cast<std::size_t>(i)];
  *mean = sum / static_cast<float>(n);
  float sq = 0.0f;
  for (int i = 1; i <= n; ++i) {
    const float d = values[static_cast<std::size_t>(i)] - *mean;
    sq += d * d;
  }
  *sd = std::sqrt(sq / static_cast<float>(n));
  *low = selectkth(FractionIndex(0.15999999999999998, n), n, values.data());
  *high = selectkth(FractionIndex(0.8400000000000001, n), n, values.data());
}

// The note of an interrupted computation, with the sets it kept.
OutcomeMessage InterruptedMessage() { return {"interrupted", Format("Monte Carlo interrupted after %d sets", ContiMonteCarlo().nMCSets)}; }

// The point at `fraction` of values (sorted in place), as the limit files take it:
// the floor(n fraction)-th smallest, kept inside 1..n.
float SortedPointAt(std::vector<float>& values, double fraction) {
  std::sort(values.begin(), values.end());
  const int n = static_cast<int>(values.size());
  const int k = std::clamp(static_cast<int>(std::floor(n * fraction)), 1, n);
  return values[static_cast<std::size_t>(k - 1)];
}

}  // namespace

bool MonteCarloResultsAvailable() { return ContiMonteCarlo().nMCSets >= 2 && !ContiMonteCarlo().ppMCDistributions.empty(); }

float selectkth(int k, int n, float* arr) {
  // Quickselect (partitioning about the median of three) on arr[1..n].
  if (n < 1) return 0.0f;
  k = std::clamp(k, 1, n);
  int l = 1, ir = n;
  for (;;) {
    if (ir <= l + 1) {
      if (ir == l + 1 && arr[ir] < arr[l]) std::swap(arr[l], arr[ir]);
      return arr[k];
    }
    const int mid = (l + ir) >> 1;
    std::swap(arr[mid], arr[l + 1]);
    if (arr[l] > arr[ir]) std::swap(arr[l], arr[ir]);
    if (arr[l + 1] > arr[ir]) std::swap(arr[l + 1], arr[ir]);
    if (arr[l] > arr[l + 1]) std::swap(arr[l], arr[l + 1]);
    int i = l + 1, j = ir;
    const float a = arr[l + 1];
    for (;;) {
      do ++i; while (arr[i] < a);
      do --j; while (arr[j] > a);
      if (j < i) break;
      std::swap(arr[i], arr[j]);
    }
    arr[l + 1] = arr[j];
    arr[j] = a;
    if (j >= k) ir = j - 1;
    if (j <= k) l = i;
  }
}

bool RebuildMonteCarloRhs(const std::vector<std::vector<float>>& grid, int threads,
                          const GridFitPoints& fit) {
  NEQBuildPlan plan = PlanNormalEquations(SelectNoiseModel());
  // A buffer of fixed concentration: its kernel is taken from each set as from the
  // data, and only the other points are solved.
  if (NormalEquations().bFixedFirstKernel && plan.model == NoiseModel::TIRI && !IsSizeShapeModel()) {
    plan.firstKernel = 2;
    plan.order = DistributionVectors().nDistGrid - 1;
    plan.subtractFirstKernel = true;
  }
  if (!NormalEquationArraysFit(plan) || static_cast<int>(grid.size()) <= DataSet().nScans) return false;
  const int S = DataSet().nScans, nP = CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1, order = plan.order;
  const double counted = fit.Count();
  auto counts = [&fit](int p) { return fit.Counts(CurrentGrid().iFitFirst + p); };
  auto y = [&grid, &plan](int s, int p) {
    const std::size_t g = static_cast<std::size_t>(CurrentGrid().iFitFirst + p);
    double v = grid[static_cast<std::size_t>(s)][g];
    if (plan.subtractFirstKernel) v -= DistributionStorage().pppKernels[1][s][g];
    return v;
  };

  // The data's own means: per radius over the scans, per scan over the fit range,
  // and over both; the centring of the noise model with them (rounded to float as
  // the build rounds its centred values).
  const NoiseModel m = plan.model;
  std::vector<double> radiusMean(static_cast<std::size_t>(nP), 0.0);
  std::vector<double> scanMean(static_cast<std::size_t>(S) + 1, 0.0);
  double mean = 0.0;
  if (m == NoiseModel::TI || m == NoiseModel::TIRI) {
    for (int p = 0; p < nP; ++p) {
      double sum = 0.0;
      for (int s = 1; s <= S; ++s) sum += y(s, p);
      radiusMean[static_cast<std::size_t>(p)] = sum / S;
    }
  }
  if (m == NoiseModel::RI || m == NoiseModel::TIRI || m == NoiseModel::Baseline) {
    double total = 0.0;
    for (int s = 1; s <= S; ++s) {
      double sum = 0.0;
      for (int p = 0; p < nP; ++p)
        if (counts(p)) sum += y(s, p);
      scanMean[static_cast<std::size_t>(s)] = sum / counted;
      total += sum;
    }
    mean = total / (static_cast<double>(S) * counted);
  }
  std::vector<double> centred(static_cast<std::size_t>(S) * static_cast<std::size_t>(nP));
  double sumSq = 0.0;
  for (int s = 1; s <= S; ++s) {
    for (int p = 0; p < nP; ++p) {
      double v = y(s, p);
      switch (m) {
        case NoiseModel::Plain: v -= plan.baseline; break;
        case NoiseModel::Baseline: v -= mean; break;
        case NoiseModel::TI: v -= radiusMean[static_cast<std::size_t>(p)]; break;
        case NoiseModel::RI: v -= scanMean[static_cast<std::size_t>(s)]; break;
        case NoiseModel::TIRI:
          v = v - radiusMean[static_cast<std::size_t>(p)] - scanMean[static_cast<std::size_t>(s)] + mean;
          break;
      }
      // A point that does not count is 0: it enters no product.
      v = counts(p) ? static_cast<float>(v) : 0.0f;
      centred[static_cast<std::size_t>(s - 1) * static_cast<std::size_t>(nP) + static_cast<std::size_t>(p)] = v;
      sumSq += v * v;
    }
  }

  // b_i = sum over scans and the fit range of K'_i y', the centred kernel rounded
  // to float; rows i with i mod T = t - 1 belong to worker t.
  const int T = std::clamp(threads, 1, std::max(order, 1));
  auto rows = [&](int t) {
    constexpr int kStage = 64;
    double v[kStage];
    for (int i = 1; i <= order; ++i) {
      if (i % T != t - 1) continue;
      double b = 0.0;
      for (int s = 1; s <= S; ++s) {
        const double* ys = centred.data() + static_cast<std::size_t>(s - 1) * static_cast<std::size_t>(nP);
        for (int p0 = 0; p0 < nP; p0 += kStage) {
          const int n = std::min(kStage, nP - p0);
          CentreKernelRowPart(plan, s, i, p0, n, v);
          for (int p = 0; p < n; ++p) b += static_cast<double>(static_cast<float>(v[p])) * ys[p0 + p];
        }
      }
      DistributionStorage().pNormalRhs[i] = b;
    }
  };
  if (T == 1) {
    rows(1);
  } else {
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(T));
    int started = 0;
    for (int t = 1; t <= T; ++t) {
      std::thread w;
      if (!StartAnalysisThread(&w, [&rows, t] { rows(t); })) break;
      workers.push_back(std::move(w));
      ++started;
    }
    for (std::thread& w : workers) w.join();
    // Rows of workers that could not be started are built here.
    for (int t = started + 1; t <= T; ++t) rows(t);
  }
  NormalEquations().dSumSqData = sumSq;
  return true;
}

bool WriteSizeShapeDistribution(const std::string& fileName) {
  if (!DistributionVectors().pCsff0S || !DistributionVectors().pCsff0Values) return false;
  std::string error;
  const bool ok = WriteFileAtomically(
      fileName,
      [](std::FILE* f) {
        for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) {
          if (std::fprintf(f, "%e %e %e %e %e %e\n", static_cast<double>(DistributionVectors().pCsff0S[k]),
                           static_cast<double>(DistributionVectors().pCsff0M[k]), static_cast<double>(DistributionVectors().pCsff0Ff0[k]),
                           static_cast<double>(DistributionVectors().pCsff0D[k]), static_cast<double>(DistributionVectors().pCsff0Rs[k]),
                           static_cast<double>(DistributionVectors().pCsff0Values[k])) < 0)
            return false;
        }
        return true;
      },
      &error);
  // Shown when met: the files are written set by set while the Monte Carlo goes on.
  if (!ok)
    ShowRunMessage(ErrorBoxMessage(WithReason(Format("\n\aAttention: could not open %s", fileName.c_str()), error)));
  return ok;
}

MonteCarloResult MonteCarloDistributions(Window* window, int sets, float c,
                                         const std::string& path, bool writeEachSet) {
  MonteCarloResult result;
  result.setsAsked = sets;
  result.confidence = c;
  const auto notStarted = [&result](std::string why) {
    result.status = MonteCarloOutcome::NotStarted;
    result.messages.push_back({"not-started", std::move(why)});
    return result;
  };
  const ContiRunSettings settings = GetContiRunSettings();
  const bool sizeShape = IsSizeShapeModel();
  if (DataSet().nScans < 1) return notStarted("no data are loaded");
  if (sets < 2) return notStarted("Monte Carlo needs at least 2 sets");
  result.seed = GaussianRandomSeed();
  // The labelled peaks of the measured distribution, whose limits the sets give.
  std::vector<DistributionPeak> peaks;
  for (const DistributionPeak& peak : DistributionPeakList())
    if (peak.labelled) peaks.push_back(peak);

  FreeResults();
  Local().g_haveMeasured = false;
  // What is on show, kept until the best fit has given the computation a result of
  // its own (taken before the run switches make every run an inner one).
  const LastModelFit lastFit;
  LastContiResult last;
  MonteCarloRunScope scope;
  ContiMonteCarlo().bCurvesShown = false;
  ContiMonteCarlo().nMCSetNumber = 0;
  Local().g_directory = std::filesystem::path(path).parent_path();
  Local().g_writeFiles = !path.empty();

  last.SetAside();
  if (std::string failure; !SetupContiGrid(settings.answers, &failure)) {
    AbandonComputation(window, last, lastFit);
    ShowRunMessage(ErrorBoxMessage(failure));
    return notStarted(std::move(failure));
  }
  const int G = UnknownCount();
  const std::size_t rowLength = static_cast<std::size_t>(G) + 1;
  const std::size_t gridLength = static_cast<std::size_t>(DistributionVectors().nDistGrid) + 1;
  try {
    ContiMonteCarlo().ppMCDistributions.assign(static_cast<std::size_t>(sets) + 1, std::vector<float>());
    for (int k = 1; k <= sets; ++k) ContiMonteCarlo().ppMCDistributions[static_cast<std::size_t>(k)].assign(rowLength, 0.0f);
    if (sizeShape) {
      ContiMonteCarlo().ppMCProjections.assign(static_cast<std::size_t>(sets) + 1, std::vector<float>());
      for (int k = 1; k <= sets; ++k) ContiMonteCarlo().ppMCProjections[static_cast<std::size_t>(k)].assign(gridLength, 0.0f);
    }
    ContiMonteCarlo().pMCMean.assign(gridLength, 0.0f);
    ContiMonteCarlo().pMCLowerLimit.assign(gridLength, 0.0f);
    ContiMonteCarlo().pMCUpperLimit.assign(gridLength, 0.0f);
  } catch (const std::bad_alloc&) {
    AbandonComputation(window, last, lastFit);
    return notStarted(Format("not enough memory for %d sets", sets));
  }

  // 1. The best fit of the measured data. A key during it, also one that its
  // regularised solution took (bUserAbort stays set there), ends the computation
  // before the first set.
  bool interrupted = false;
  std::vector<std::vector<float>> fitCopy;
  if (!BestFit(window, settings, &interrupted, &fitCopy) || bUserAbort) {
    interrupted = interrupted || bUserAbort;
    AbandonComputation(window, last, lastFit);
    bUserAbort = false;
    if (!interrupted) return notStarted("the best fit of the measured data failed");
    result.status = MonteCarloOutcome::Interrupted;
    result.messages.push_back(InterruptedMessage());
    return result;
  }
  // The measured data's result replaces what was shown.
  last.Replaced();
  // The unregularised best fit (in the distribution vectors) as set 0.
  if (writeEachSet) WriteDistributionFile(Format("%d", 0), &result.written);
  AddLimitCurves();

  // 2. The synthetic sets, in a grid buffer of their own.
  std::vector<std::vector<float>> grid(static_cast<std::size_t>(DataSet().nScans) + 1,
                                       std::vector<float>(static_cast<std::size_t>(CurrentGrid().nGridPoints) + 1, 0.0f));
  const int threads = settings.multiThreading ? settings.threads : 1;
  ProgressText progress(window);
  int done = 0;
  for (int k = 1; k <= sets; ++k) {
    ContiMonteCarlo().nMCSetNumber = k;
    progress.Show(k);
    MakeSyntheticGrid(fitCopy, grid);
    if (!RebuildMonteCarloRhs(grid, threads, CurrentGridFitPoints())) break;
    RegularizeSet(settings);
    if (bUserAbort) break;  // the key ended this set's search: the set is incomplete
    SolutionToDistribution();
    std::vector<float>& row = ContiMonteCarlo().ppMCDistributions[static_cast<std::size_t>(k)];
    if (sizeShape) {
      std::copy(DistributionVectors().pCsff0Values + 1, DistributionVectors().pCsff0Values + G + 1, row.begin() + 1);
      std::copy(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1, ContiMonteCarlo().ppMCProjections[static_cast<std::size_t>(k)].begin() + 1);
    } else {
      std::copy(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1, row.begin() + 1);
    }
    done = k;
    if (writeEachSet) WriteDistributionFile(Format("%d", k), &result.written);
    if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
    if (bUserAbort) break;
  }
  interrupted = done < sets;
  bUserAbort = false;

  // 3. The measured data's result is back; the sets stay in the store.
  RestoreMeasured();
  ContiMonteCarlo().nMCSets = done;
  result.status = interrupted ? MonteCarloOutcome::Interrupted : MonteCarloOutcome::Completed;
  if (done < 2) FreeResults();
  // The sets kept: fewer than two are none.
  if (interrupted) result.messages.push_back(InterruptedMessage());
  if (done < 2) {
    EndMonteCarloDistributions(window);
    return result;
  }
  result.setsDone = done;
  ContiMonteCarlo().ppMCDistributions.resize(static_cast<std::size_t>(done) + 1);
  if (sizeShape) ContiMonteCarlo().ppMCProjections.resize(static_cast<std::size_t>(done) + 1);
  result.peaks = MonteCarloPeakLimits(peaks);
  if (!bBatchMode) {
    if (sizeShape) {
      for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) {
        float sum = 0.0f;
        for (int j = 1; j <= done; ++j) sum += ContiMonteCarlo().ppMCDistributions[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)];
        DistributionVectors().pCsff0Values[k] = sum;
      }
      for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
        float sum = 0.0f;
        for (int j = 1; j <= DistributionGrid().nFf0Values; ++j) sum += DistributionVectors().pCsff0Values[(j - 1) * DistributionVectors().nDistGrid + i];
        DistributionVectors().pDistValues[i] = sum;
      }
      if (Local().g_writeFiles && WriteSizeShapeDistribution(ResultFile("_sum"))) result.written.push_back(ResultFile("_sum"));
    }
    MonteCarloConfidenceLimits(c, &result.written);
  }
  if (window) window->Invalidate();
  return result;
}

bool MonteCarloConfidenceLimits(float c, std::vector<std::string>* written) {
  if (!MonteCarloResultsAvailable() || !DistributionVectors().pDistValues) return false;
  const int n = ContiMonteCarlo().nMCSets;
  const auto& rows = IsSizeShapeModel() ? ContiMonteCarlo().ppMCProjections : ContiMonteCarlo().ppMCDistributions;
  // The limit indices from the single-precision c, kept inside 1..n.
  const double cf = static_cast<double>(c);
  const int kl = FractionIndex((1.0 - cf) * 0.5, n);
  const int ku = FractionIndex((1.0 - cf) * 0.5 + cf, n);
  std::vector<float> values(static_cast<std::size_t>(n) + 1);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
    float sum = 0.0f;
    for (int k = 1; k <= n; ++k) {
      values[static_cast<std::size_t>(k)] = rows[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)];
      sum += values[static_cast<std::size_t>(k)];
    }
    ContiMonteCarlo().pMCMean[static_cast<std::size_t>(i)] = sum / static_cast<float>(n);
    ContiMonteCarlo().pMCLowerLimit[static_cast<std::size_t>(i)] = selectkth(kl, n, values.data());
    ContiMonteCarlo().pMCUpperLimit[static_cast<std::size_t>(i)] = selectkth(ku, n, values.data());
  }
  auto show = [](const std::vector<float>& v) { std::copy(v.begin() + 1, v.end(), DistributionVectors().pDistValues + 1); };
  const bool write = Local().g_writeFiles && DistributionPlot().pDistCurve;
  const auto writeShown = [&](const std::string& file) {
    if (write && DistributionPlot().pDistCurve->WriteToFile(file.c_str()) && written) written->push_back(file);
  };
  show(ContiMonteCarlo().pMCUpperLimit);
  writeShown(ResultFile(LimitFileStem((1.0 - cf) * 0.5 + cf)));
  show(ContiMonteCarlo().pMCLowerLimit);
  writeShown(ResultFile(LimitFileStem((1.0 - cf) * 0.5)));
  show(ContiMonteCarlo().pMCMean);
  writeShown(ResultFile("mean"));
  RedrawDistributionPlot();
  return true;
}

MonteCarloSwResult MonteCarloSwStatistics(Window* window, float smin, float smax) {
  MonteCarloSwResult r;
  if (!MonteCarloResultsAvailable() || !DistributionVectors().pDistValues) return r;
  const int n = ContiMonteCarlo().nMCSets;
  const auto& rows = IsSizeShapeModel() ? ContiMonteCarlo().ppMCProjections : ContiMonteCarlo().ppMCDistributions;
  const std::vector<float> shown(DistributionVectors().pDistValues, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  std::vector<float> sw(1, 0.0f), conc(1, 0.0f);
  for (int k = 1; k <= n; ++k) {
    const std::vector<float>& row = rows[static_cast<std::size_t>(k)];
    std::copy(row.begin() + 1, row.begin() + 1 + DistributionVectors().nDistGrid, DistributionVectors().pDistValues + 1);
    float area = 0.0f, mean = 0.0f, total = 0.0f;
    IntegrateDistribution(smin, smax, &area, &mean, &total, nullptr, nullptr, nullptr);
    conc.push_back(area);
    if (area > 0.0f) sw.push_back(mean);
  }
  std::copy(shown.begin(), shown.end(), DistributionVectors().pDistValues);
  r.swSets = static_cast<int>(sw.size()) - 1;
  Statistics(sw, &r.swMean, &r.swStd, &r.swLow, &r.swHigh);
  Statistics(conc, &r.cMean, &r.cStd, &r.cLow, &r.cHigh);
  r.computed = true;
  (void)window;
  if (bBatchMode) {
    const float v[8] = {r.swMean, r.swStd, r.swLow, r.swHigh, r.cMean, r.cStd, r.cLow, r.cHigh};
    std::copy(v, v + 8, ContiMonteCarlo().MCIntegralStats);
  }
  return r;
}

std::string MonteCarloSwText(const MonteCarloSwResult& r) {
  // Zeros would read as a result.
  if (r.swSets == 0) return "no Monte-Carlo distribution has signal between the integration limits";
  return Format(
      "average sw = %.6f\n 0.68%% confidence interval from %.6f to %.6f\navg error = %.6f\n"
      "(simple stddev of all values = %.6f, assuming Gaussian distributed error)\naverage c = "
      "%.4f, confidence interval from %.6f to %.6f",
      static_cast<double>(r.swMean), static_cast<double>(r.swLow), static_cast<double>(r.swHigh),
      static_cast<double>((r.swHigh - r.swLow) / 2.0f), static_cast<double>(r.swStd),
      static_cast<double>(r.cMean), static_cast<double>(r.cLow), static_cast<double>(r.cHigh));
}

bool MonteCarloOnlyMaximumEntropy() { return GetContiRunSettings().showBoth; }

MonteCarloResult MonteCarloIntegratedSw(Window* window, int sets, float c, float smin,
                                        float smax, const std::string& path, bool writeEachSet) {
  MonteCarloResult result = MonteCarloDistributions(window, sets, c, path, writeEachSet);
  if (MonteCarloResultsAvailable()) result.integrated = MonteCarloSwStatistics(window, smin, smax);
  return result;
}

std::vector<MonteCarloPeak> MonteCarloPeakLimits(const std::vector<DistributionPeak>& peaks) {
  std::vector<MonteCarloPeak> limits;
  if (!MonteCarloResultsAvailable() || !DistributionVectors().pDistValues) return limits;
  const auto& rows = IsSizeShapeModel() ? ContiMonteCarlo().ppMCProjections : ContiMonteCarlo().ppMCDistributions;
  const std::vector<float> shown(DistributionVectors().pDistValues, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  for (const DistributionPeak& best : peaks) {
    MonteCarloPeak result;
    result.position = best.extent.averageX;
    result.area = best.extent.area;
    std::vector<float> positions, areas;
    for (int k = 1; k <= ContiMonteCarlo().nMCSets; ++k) {
      const std::vector<float>& row = rows[static_cast<std::size_t>(k)];
      std::copy(row.begin() + 1, row.begin() + 1 + DistributionVectors().nDistGrid, DistributionVectors().pDistValues + 1);
      int top = std::clamp(best.index, 1, DistributionVectors().nDistGrid);
      for (int i = std::max(1, best.extent.leftIndex); i <= std::min(DistributionVectors().nDistGrid, best.extent.rightIndex); ++i)
        if (DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[top]) top = i;
      const PeakExtent peak = FindDistributionPeak(top, kPeakEdgeFraction);
      areas.push_back(peak.area);
      if (peak.area > 0.0f) positions.push_back(peak.averageX);
    }
    // The limits of values about `centre`: the sets' points at the low and high
    // fractions, moved by the distance of their median from centre.
    const auto about = [](std::vector<float>& values, float centre, float& low, float& high) {
      const float median = SortedPointAt(values, 0.5);
      low = centre - (median - SortedPointAt(values, kMonteCarloLow));
      high = centre + (SortedPointAt(values, kMonteCarloHigh) - median);
    };
    if (!positions.empty()) {
      about(positions, best.extent.averageX, result.positionLow, result.positionHigh);
      result.positionSets = static_cast<int>(positions.size());
    }
    about(areas, best.extent.area, result.areaLow, result.areaHigh);
    limits.push_back(result);
  }
  std::copy(shown.begin(), shown.end(), DistributionVectors().pDistValues);
  return limits;
}

std::vector<std::pair<std::string, std::string>> MonteCarloResultFiles(float c, bool writeEachSet,
                                                                       int sets) {
  const double cf = static_cast<double>(c);
  std::vector<std::pair<std::string, std::string>> files = {
      {LimitFileStem((1.0 - cf) * 0.5 + cf) + ".dat", "upper limit"},
      {LimitFileStem((1.0 - cf) * 0.5) + ".dat", "lower limit"},
      {"mean.dat", "mean distribution"}};
  if (IsSizeShapeModel()) files.emplace_back("_sum.dat", "sum of the sets' c(s,ff0)");
  if (writeEachSet) files.emplace_back(Format("0.dat ... %d.dat", sets), "best fit (0) and each set");
  return files;
}

void EndMonteCarloDistributions(Window* window) {
  FreeResults();
  if (!Local().g_haveMeasured) return;
  Local().g_haveMeasured = false;
  // The measured data's regularised solution, as the analysis before showed it.
  if (DistributionStorage().pNormalRhs && DistributionStorage().pDistSolution) {
    Local().g_measured.Restore();
    FinishContiResult(window);
  }
}

void ResetMonteCarlo() {
  FreeResults();
  Local().g_haveMeasured = false;
  Local().g_measured = MeasuredSolution{};
  Local().g_directory.clear();
  Local().g_writeFiles = false;
  ContiMonteCarlo().nMCSetNumber = 0;
  ContiMonteCarlo().fMCRmsd = 0.0f;
  std::fill(ContiMonteCarlo().MCIntegralStats, ContiMonteCarlo().MCIntegralStats + 8, 0.0f);
}

}  // namespace tarmic
