// Normal equations with systematic noise: the equations against their definition,
// threaded builds equal to the serial build bit for bit, the recovery of known
// noise patterns after the solve, interrupts, and data left untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/distribution_models.h"
#include "distributions/nnls.h"
#include "distributions/noise_fit.h"
#include "distributions/normal_equation_threads.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "modelfit/model_params.h"
#include "platform/types.h"
#include "platform/worker_threads.h"
#include "tests/watchdog.h"

namespace tarmic::testing {
namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

const NoiseModel kModels[] = {NoiseModel::Plain, NoiseModel::Baseline, NoiseModel::TI,
                              NoiseModel::RI, NoiseModel::TIRI};
const char* Name(NoiseModel m) {
  static const char* const names[] = {"Plain", "Baseline", "TI", "RI", "TIRI"};
  return names[m == NoiseModel::Plain ? 0 : m == NoiseModel::Baseline ? 1 : m == NoiseModel::TI ? 2 : m == NoiseModel::RI ? 3 : 4];
}

// A small experiment: 6 scans of 80 radii, 12 kernels, data with noise and offsets,
// a fit range inside the grid.
void SmallExperiment(int kernels = 12) {
  InstallFlatDataSet(6, 80);
  MakeKernels(EvenS(kernels, 1.0, 12.0));
  std::vector<double> amp(static_cast<std::size_t>(kernels), 0.0);
  amp[1] = 0.4;
  amp[static_cast<std::size_t>(kernels - 2)] = 0.3;
  std::vector<double> ti(80), ri(6);
  for (int g = 0; g < 80; ++g) ti[static_cast<std::size_t>(g)] = 0.01 * std::sin(0.3 * g);
  for (int s = 0; s < 6; ++s) ri[static_cast<std::size_t>(s)] = 0.02 * s;
  MakeData(amp, ti, ri, 0.002);
  CurrentGrid().iFitFirst = 5;
  CurrentGrid().iFitLast = 74;
}

// The equations from their definition, in double: means, centred values, sums.
struct Reference {
  std::vector<std::vector<double>> A;
  std::vector<double> b;
  double sumSq = 0.0;
};

// bin > 1: the centred values summed over bins of that many fit-range points (the
// last bin what is left), each sum divided by the square root of the points of it
// that count. Points of the grid's mask that do not count enter no mean and no sum.
Reference BruteForce(NoiseModel model, float baseline, int s0, int s1, int bin = 1) {
  const int N = DistributionVectors().nDistGrid, G = CurrentGrid().nGridPoints;
  auto y = [](int s, int g) { return static_cast<double>(CurrentGrid().ppGridSignal[static_cast<std::size_t>(s)][g]); };
  auto K = [](int k, int s, int g) { return static_cast<double>(DistributionStorage().pppKernels[k][s][g]); };
  const GridFitPoints fit = CurrentGridFitPoints();
  const double S = s1 - s0 + 1, P = fit.Count();
  std::vector<double> yr(G + 1, 0.0), ys(DataSet().nScans + 1, 0.0);
  std::vector<std::vector<double>> kr(N + 1, std::vector<double>(G + 1, 0.0)),
      ks(N + 1, std::vector<double>(DataSet().nScans + 1, 0.0));
  std::vector<double> km(N + 1, 0.0);
  double ym = 0.0;
  for (int s = s0; s <= s1; ++s) {
    for (int g = 1; g <= G; ++g) {
      yr[g] += y(s, g) / S;
      for (int k = 1; k <= N; ++k) kr[k][g] += K(k, s, g) / S;
    }
    for (int g = CurrentGrid().iFitFirst; g <= CurrentGrid().iFitLast; ++g) {
      if (!fit.Counts(g)) continue;
      ys[s] += y(s, g) / P;
      ym += y(s, g) / (S * P);
      for (int k = 1; k <= N; ++k) {
        ks[k][s] += K(k, s, g) / P;
        km[k] += K(k, s, g) / (S * P);
      }
    }
  }
  // A value v of scan s at point g less its means: r over scans, c over the fit range, m over both.
  auto centre = [model](double v, double r, double c, double m) {
    switch (model) {
      case NoiseModel::Plain: return v;
      case NoiseModel::Baseline: return v - m;
      case NoiseModel::TI: return v - r;
      case NoiseModel::RI: return v - c;
      case NoiseModel::TIRI: return v - r - c + m;
    }
    return 0.0;
  };
  auto yc = [&](int s, int g) { return centre(y(s, g) - (model == NoiseModel::Plain ? baseline : 0.0), yr[g], ys[s], ym); };
  auto kc = [&](int k, int s, int g) { return centre(K(k, s, g), kr[k][g], ks[k][s], km[k]); };
  Reference r;
  r.A.assign(N + 1, std::vector<double>(N + 1, 0.0));
  r.b.assign(N + 1, 0.0);
  const int first = CurrentGrid().iFitFirst, last = CurrentGrid().iFitLast;
  for (int s = s0; s <= s1; ++s) {
    for (int g0 = first; g0 <= last; g0 += bin) {
      const int g1 = std::min(last, g0 + bin - 1);
      int counted = 0;
      for (int g = g0; g <= g1; ++g) counted += fit.Counts(g) ? 1 : 0;
      if (counted == 0) continue;
      const double norm = 1.0 / std::sqrt(static_cast<double>(counted));
      double yv = 0.0;
      std::vector<double> kv(N + 1, 0.0);
      for (int g = g0; g <= g1; ++g) {
        if (!fit.Counts(g)) continue;
        yv += yc(s, g) * norm;
        for (int k = 1; k <= N; ++k) kv[k] += kc(k, s, g) * norm;
      }
      r.sumSq += yv * yv;
      for (int i = 1; i <= N; ++i) {
        r.b[i] += kv[i] * yv;
        for (int j = 1; j <= N; ++j) r.A[i][j] += kv[i] * kv[j];
      }
    }
  }
  return r;
}

void ExpectEquationsNear(const Reference& r, const char* what) {
  const int N = DistributionStorage().nNEQUnknowns;
  double scale = 0.0;
  for (int i = 1; i <= N; ++i) scale = std::max(scale, std::fabs(r.A[i][i]));
  for (int i = 1; i <= N; ++i) {
    EXPECT_NEAR(DistributionStorage().pNormalRhs[i], r.b[i], 1e-5 * (std::fabs(r.b[i]) + scale)) << what << " b " << i;
    for (int j = 1; j <= N; ++j) {
      EXPECT_NEAR(DistributionStorage().ppNormalMatrix[i][j], r.A[i][j], 1e-5 * scale) << what << " A " << i << "," << j;
    }
  }
  EXPECT_NEAR(NormalEquations().dSumSqData, r.sumSq, 1e-5 * r.sumSq) << what;
}

// Everything a build leaves for the solve and the noise, as raw bytes.
std::vector<unsigned char> Snapshot() {
  std::vector<unsigned char> bytes;
  auto add = [&bytes](const void* p, std::size_t n) {
    const auto* c = static_cast<const unsigned char*>(p);
    bytes.insert(bytes.end(), c, c + n);
  };
  const int N = DistributionStorage().nNEQUnknowns;
  for (int i = 1; i <= N; ++i) add(DistributionStorage().ppNormalMatrix[i] + 1, N * sizeof(double));
  add(DistributionStorage().pNormalRhs + 1, N * sizeof(double));
  add(&NormalEquations().dSumSqData, sizeof NormalEquations().dSumSqData);
  add(&NormalEquations().dDataMean, sizeof NormalEquations().dDataMean);
  add(DistributionStorage().pKernelMean + 1, N * sizeof(double));
  add(DistributionStorage().pDataScanMean + 1, DataSet().nScans * sizeof(double));
  add(DistributionStorage().pDataRadiusMean + 1, CurrentGrid().nGridPoints * sizeof(double));
  for (int k = 1; k <= N; ++k) {
    add(DistributionStorage().ppKernelScanMean[k] + 1, DataSet().nScans * sizeof(double));
    add(DistributionStorage().ppKernelRadiusMean[k] + 1, CurrentGrid().nGridPoints * sizeof(double));
  }
  return bytes;
}

void ClearWorkspace() {
  const int N = DistributionStorage().nWorkspaceUnknowns;
  for (int i = 1; i <= N; ++i) {
    for (int j = 1; j <= N; ++j) DistributionStorage().ppNormalMatrix[i][j] = -7.0;
    DistributionStorage().pNormalRhs[i] = -7.0;
  }
}

// Unregularised solve of the built equations.
void SolvePlain() {
  AddSecondDerivativePenalty(0.0);
  ASSERT_TRUE(NNLS());
}

using NormalEquationsTest = DistributionTest;

TEST_F(NormalEquationsTest, EveryNoiseModelBuildsTheEquationsOfItsCentring) {
  SmallExperiment();
  for (NoiseModel m : kModels) {
    ModelParams().fBaseline = 0.05f;
    ASSERT_TRUE(BuildNormalEquations(m)) << Name(m);
    EXPECT_EQ(DistributionStorage().nNEQUnknowns, DistributionVectors().nDistGrid);
    ExpectEquationsNear(BruteForce(m, 0.05f, 1, DataSet().nScans), Name(m));
  }
}

// A search's trial runs build the equations of the data and kernels summed over
// radial bins: for every noise model and bin those of the binned centred values
// (the bins cut at the fit range's start, across the 128-point chunks of a long
// range), with every point counting and with a gap in the measured points that
// begins inside a bin. A final evaluation and a Run take every point, whatever bin
// the search left set.
TEST_F(NormalEquationsTest, SearchBuildsTheEquationsOfTheDataSummedOverBins) {
  InstallFlatDataSet(4, 400);
  MakeKernels(EvenS(8, 1.0, 12.0));
  std::vector<double> amp(8, 0.0), ti(400), ri(4);
  amp[2] = 0.5;
  for (int g = 0; g < 400; ++g) ti[static_cast<std::size_t>(g)] = 0.01 * std::sin(0.3 * g);
  for (int s = 0; s < 4; ++s) ri[static_cast<std::size_t>(s)] = 0.02 * s;
  MakeData(amp, ti, ri, 0.002);
  CurrentGrid().iFitFirst = 7;
  CurrentGrid().iFitLast = 389;  // 383 points: three chunks, the last bins short
  struct Build {
    const char* what;
    bool innerRun, finalEvaluation;
    int bin, binned;  // the bin set, the bin the equations take
  };
  const Build builds[] = {{"search", true, false, 1, 1}, {"search", true, false, 2, 2},
                          {"search", true, false, 4, 4}, {"final evaluation", true, true, 4, 1},
                          {"Run", false, false, 4, 1}};
  for (bool gap : {false, true}) {
    std::vector<unsigned char> measured(401, 1);
    for (int g = 150; g < 161 && gap; ++g) measured[static_cast<std::size_t>(g)] = 0;
    SetGridPointMask(measured);
    for (const Build& b : builds) {
      DistributionModels().bContiInnerRun = b.innerRun;
      DistributionModels().bFinalFitEvaluation = b.finalEvaluation;
      NormalEquations().iSearchRadialBin = b.bin;
      for (NoiseModel m : kModels) {
        ModelParams().fBaseline = 0.05f;
        ASSERT_TRUE(BuildNormalEquations(m)) << Name(m);
        const std::string what = std::string(b.what) + ", " + Name(m) + ", bin " + std::to_string(b.bin) +
                                 (gap ? ", a gap" : "");
        ExpectEquationsNear(BruteForce(m, 0.05f, 1, DataSet().nScans, b.binned), what.c_str());
      }
    }
  }
  DistributionModels().bFinalFitEvaluation = DistributionModels().bContiInnerRun = false;
  NormalEquations().iSearchRadialBin = 1;
}

// Where the least squares of binned data place a nonlinear value: a shift of every
// boundary (as the meniscus moves them) or a scale of their widths (as f/f0 changes
// them), the amplitudes of 40 close kernels solved at each value, the objective the
// whole data's chi-square (as the search's is). Swept over boundary widths W and
// bins of width w against the minimum of the whole data's own equations, in its
// standard errors: within half a width (the search's limit) the bins keep it within
// a tenth of a standard error.
TEST_F(NormalEquationsTest, BinsWithinHalfABoundaryKeepTheMinimumOfTheWholeData) {
  constexpr int kScans = 6, kRadii = 768, kKernels = 40;
  constexpr double kNoise = 0.005;
  InstallFlatDataSet(kScans, kRadii);
  MakeKernels(EvenS(kKernels, 1.0, 5.0));
  const double spacing = (kBottom - kMeniscus) / (kRadii - 1);
  // Kernel k in scan j: a boundary at 6.1 + 0.03 k j / kScans + shift, of width
  // W (1 + scale).
  const auto lay = [&](double width, bool shift, double x) {
    for (int k = 1; k <= kKernels; ++k)
      for (int j = 1; j <= kScans; ++j)
        for (int g = 1; g <= kRadii; ++g) {
          const double rb = 6.1 + 0.03 * k * j / kScans + (shift ? x : 0.0);
          const double w = width * (shift ? 1.0 : 1.0 + x);
          DistributionStorage().pppKernels[k][j][g] = static_cast<float>(0.5 * std::erfc((rb - CurrentGrid().pGridRadius[g]) / w));
        }
  };
  // The whole data's chi-square (noise variances) of the amplitudes solved on bins.
  const auto chiSquare = [&](double width, bool shift, double x, int bin) {
    lay(width, shift, x);
    NormalEquations().iSearchRadialBin = bin;
    EXPECT_TRUE(BuildNormalEquations(NoiseModel::Plain));
    SolvePlain();
    double sum = 0.0;
    for (int j = 1; j <= kScans; ++j)
      for (int g = 1; g <= kRadii; ++g) {
        double model = 0.0;
        for (int k = 1; k <= kKernels; ++k) model += DistributionStorage().pDistSolution[k] * DistributionStorage().pppKernels[k][j][g];
        const double r = CurrentGrid().ppGridSignal[static_cast<std::size_t>(j)][g] - model;
        sum += r * r;
      }
    return sum / (kNoise * kNoise);
  };
  // The minimum of the parabola through the chi-square at c + h i, i = -4..4, and the
  // standard error from its curvature.
  const auto minimum = [&](double width, bool shift, int bin, double c, double h) {
    double m[3][3] = {}, t[3] = {};
    for (int i = -4; i <= 4; ++i) {
      const double x[3] = {1.0, static_cast<double>(i), static_cast<double>(i * i)};
      const double y = chiSquare(width, shift, c + h * i, bin);
      for (int a = 0; a < 3; ++a) {
        t[a] += y * x[a];
        for (int b = 0; b < 3; ++b) m[a][b] += x[a] * x[b];
      }
    }
    // The symmetric design leaves the linear term apart: b = t1 / m11; the
    // constant and the quadratic from their 2 x 2 system.
    const double b = t[1] / m[1][1];
    const double q = (m[0][0] * t[2] - m[2][0] * t[0]) / (m[0][0] * m[2][2] - m[2][0] * m[0][2]);
    return std::pair{c - h * b / (2.0 * q), h / std::sqrt(q)};
  };
  DistributionModels().bContiInnerRun = true;
  ModelParams().fBaseline = 0.0f;
  for (bool shift : {true, false}) {
    for (double width : {0.008, 0.016}) {
      SCOPED_TRACE(::testing::Message() << (shift ? "shift" : "width scale") << ", boundary width " << width);
      std::vector<double> amp(kKernels, 0.0);
      amp[9] = 0.4;
      amp[29] = 0.3;
      lay(width, shift, 0.0);
      MakeData(amp, {}, {}, kNoise, 11);
      const auto [rough, roughSe] = minimum(width, shift, 1, 0.0, shift ? 1e-4 : 1e-2);
      const auto [whole, se] = minimum(width, shift, 1, rough, roughSe);
      ASSERT_GT(se, 0.0);
      // Every bin against the whole data on the same grid of values.
      const double reference = minimum(width, shift, 1, whole, se).first;
      for (int bin : {2, 4}) {
        if (bin * spacing > width / kBoundaryWidthsPerBin) continue;
        EXPECT_LE(std::abs(minimum(width, shift, bin, whole, se).first - reference), 0.1 * se) << "bin " << bin;
      }
    }
  }
  NormalEquations().iSearchRadialBin = 1;
  DistributionModels().bContiInnerRun = false;
}

TEST_F(NormalEquationsTest, TimeCourseCentresOverItsScanRange) {
  SmallExperiment();
  NormalEquations().iContiFirstScan = 2;
  NormalEquations().iContiLastScan = 4;
  ASSERT_TRUE(BuildNormalEquationsScanRange());
  ExpectEquationsNear(BruteForce(NoiseModel::Baseline, 0.0f, 2, 4), "scan range");
}

TEST_F(NormalEquationsTest, ThreadedBuildEqualsSerialBuildBitForBit) {
  SmallExperiment();
  for (NoiseModel m : kModels) {
    ClearWorkspace();
    ModelParams().fBaseline = 0.05f;
    ASSERT_TRUE(BuildNormalEquations(m));
    const std::vector<unsigned char> serial = Snapshot();
    for (int threads : {0, 1, 2, 3, 7, 40}) {  // 0: one thread
      ClearWorkspace();
      // Every thread asked for, however little work each gets.
      ASSERT_TRUE(BuildNormalEquationsThreaded(m, threads, 0.0)) << Name(m) << threads;
      const std::vector<unsigned char> threaded = Snapshot();
      ASSERT_EQ(serial.size(), threaded.size());
      EXPECT_EQ(std::memcmp(serial.data(), threaded.data(), serial.size()), 0)
          << Name(m) << " with " << threads << " threads";
    }
  }
}

// The equations as the build defines them, summed in plain loops: each value
// centred by its noise model from the stored means and rounded to float (0 at the
// points that do not count), each element summed over the points of a scan in
// chunks of 128 in order, the chunks' sums summed in order into the scan's, and
// the scans' sums added scan after scan. Every build, on any
// number of threads, must give these bits: the Run's results then do not depend on
// how the work was shared.
Reference ChunkedSums(NoiseModel model, float baseline) {
  const int N = DistributionStorage().nNEQUnknowns, P = CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
  Reference r;
  r.A.assign(N + 1, std::vector<double>(N + 1, 0.0));
  r.b.assign(N + 1, 0.0);
  const NEQBuildPlan plan = PlanNormalEquations(model);
  const GridFitPoints fit = CurrentGridFitPoints();
  std::vector<std::vector<double>> v(N + 1, std::vector<double>(P, 0.0));
  for (int s = 1; s <= DataSet().nScans; ++s) {
    for (int p = 0; p < P; ++p) {
      const int g = CurrentGrid().iFitFirst + p;
      double y = CurrentGrid().ppGridSignal[Idx(s)][g];
      switch (model) {
        case NoiseModel::Plain: y -= baseline; break;
        case NoiseModel::Baseline: y -= NormalEquations().dDataMean; break;
        case NoiseModel::TI: y -= DistributionStorage().pDataRadiusMean[g]; break;
        case NoiseModel::RI: y -= DistributionStorage().pDataScanMean[s]; break;
        case NoiseModel::TIRI: y = y - DistributionStorage().pDataRadiusMean[g] - DistributionStorage().pDataScanMean[s] + NormalEquations().dDataMean; break;
      }
      v[0][Idx(p)] = static_cast<float>(y);
    }
    for (int k = 1; k <= N; ++k) {
      CentreKernelRowPart(plan, s, k, 0, P, v[Idx(k)].data());
      for (double& x : v[Idx(k)]) x = static_cast<float>(x);
    }
    for (int p = 0; p < P; ++p)
      if (!fit.Counts(CurrentGrid().iFitFirst + p))
        for (int k = 0; k <= N; ++k) v[Idx(k)][Idx(p)] = 0.0;
    for (int i = 0; i <= N; ++i) {
      for (int j = 0; j <= i; ++j) {
        double scan = 0.0;
        for (int p0 = 0; p0 < P; p0 += 128) {
          double chunk = 0.0;
          for (int p = p0; p < std::min(P, p0 + 128); ++p) chunk += v[Idx(i)][Idx(p)] * v[Idx(j)][Idx(p)];
          scan = p0 == 0 ? chunk : scan + chunk;
        }
        if (i == 0) {
          r.sumSq += scan;
        } else if (j == 0) {
          r.b[Idx(i)] += scan;
        } else {
          r.A[Idx(i)][Idx(j)] += scan;
        }
      }
    }
  }
  for (int i = 1; i <= N; ++i)
    for (int j = i + 1; j <= N; ++j) r.A[Idx(i)][Idx(j)] = r.A[Idx(j)][Idx(i)];
  return r;
}

// Builds of 1 to 9 threads sharing one scratch, as the threaded builder runs them:
// every panel
// of every chunk of every scan is centred once in all (not once per thread that
// reads it), and the equations are the chunked sums above, bit for bit. The order
// is not a multiple of the panel, the fit range ends inside a chunk and inside a
// vector of points, a gap leaves points out of one chunk, and 9 threads have more
// than the 5 scans' parts to take.
TEST_F(NormalEquationsTest, EachPanelIsCentredOnceAndTheSumsKeepTheirOrder) {
  const testing::Watchdog watchdog("threads sharing the build");
  InstallFlatDataSet(5, 320);
  MakeKernels(EvenS(21, 1.0, 12.0));  // 22 augmented rows: 3 panels, 4 units
  std::vector<double> ti(320);
  for (int g = 0; g < 320; ++g) ti[Idx(g)] = 0.01 * std::sin(0.05 * g);
  MakeData({0.0, 0.4, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.2, 0.0, 0.0},
           ti, {0.0, 0.01, 0.02, -0.01, 0.0}, 0.002);
  CurrentGrid().iFitFirst = 6;
  CurrentGrid().iFitLast = 6 + 300 - 1;  // chunks of 128, 128 and 44 points
  std::vector<unsigned char> measured(321, 1);
  for (int g = 150; g < 160; ++g) measured[Idx(g)] = 0;
  SetGridPointMask(measured);
  for (NoiseModel m : kModels) {
    ModelParams().fBaseline = 0.05f;
    const NEQBuildPlan plan = PlanNormalEquations(m);
    const int panels = (plan.order + 1 + kNEQPanel - 1) / kNEQPanel;
    for (int threads = 1; threads <= 9; ++threads) {
      ClearWorkspace();
      std::unique_ptr<NEQScratch> scratch = MakeNEQScratch(plan, threads);
      ASSERT_EQ(scratch->chunks, 3);
      std::vector<double> sums(static_cast<std::size_t>(threads), 0.0);
      std::vector<std::thread> workers;
      for (int t = 2; t <= threads; ++t)
        workers.emplace_back([&, t] {
          BuildNormalEquationRows(plan, *scratch, t, threads, &sums[Idx(t - 1)], nullptr);
        });
      BuildNormalEquationRows(plan, *scratch, 1, threads, &sums[0], nullptr);
      for (std::thread& w : workers) w.join();
      double sumSq = 0.0;
      for (double x : sums) sumSq += x;
      FinishNormalEquations(plan, sumSq);
      const std::string what = std::string(Name(m)) + " on " + std::to_string(threads) + " threads";
      EXPECT_EQ(scratch->panelsCentred.load(), DataSet().nScans * 3 * panels) << what;
      const Reference ref = ChunkedSums(m, 0.05f);
      bool same = std::memcmp(&NormalEquations().dSumSqData, &ref.sumSq, sizeof(double)) == 0;
      for (int i = 1; i <= DistributionStorage().nNEQUnknowns; ++i) {
        same = same && std::memcmp(&DistributionStorage().pNormalRhs[i], &ref.b[Idx(i)], sizeof(double)) == 0;
        same = same && std::memcmp(DistributionStorage().ppNormalMatrix[i] + 1, ref.A[Idx(i)].data() + 1,
                                   DistributionStorage().nNEQUnknowns * sizeof(double)) == 0;
      }
      EXPECT_TRUE(same) << what;
    }
  }
  // The first thread to add a scan stops the build (as a key does): every thread
  // ends, also those waiting for the scan before theirs.
  const NEQBuildPlan plan = PlanNormalEquations(NoiseModel::TIRI);
  for (int threads : {2, 5, 9}) {
    std::unique_ptr<NEQScratch> scratch = MakeNEQScratch(plan, threads);
    std::vector<std::thread> workers;
    for (int t = 2; t <= threads; ++t)
      workers.emplace_back([&, t] { BuildNormalEquationRows(plan, *scratch, t, threads, nullptr, [] { return false; }); });
    BuildNormalEquationRows(plan, *scratch, 1, threads, nullptr, [] { return false; });
    for (std::thread& w : workers) w.join();
    EXPECT_TRUE(scratch->stop.load()) << threads;
  }
}

// Threads the system refuses (a process limit, no memory for a stack) leave their
// rows to those that started, down to the calling thread alone. A start that fails
// in any other way, with a worker already waiting for the build, ends the build
// with that exception, and no thread is left waiting.
TEST_F(NormalEquationsTest, RefusedThreadsLeaveTheirRowsAndAFailedStartEndsTheBuild) {
  const testing::Watchdog watchdog("a threaded build of the normal equations");
  struct ResetStarts {
    ~ResetStarts() { SetWorkerThreadStartFailure(0, nullptr); }
  } reset;
  SmallExperiment();
  ClearWorkspace();
  ASSERT_TRUE(BuildNormalEquations(NoiseModel::TIRI));
  const std::vector<unsigned char> serial = Snapshot();
  const auto noThreadLeft = [] {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const auto noMemory = [] { throw std::bad_alloc(); };
  for (int nth : {1, 2, 3}) {
    for (const auto& refusal : {std::function<void()>(noThreadLeft), std::function<void()>(noMemory)}) {
      SetWorkerThreadStartFailure(nth, refusal);
      ClearWorkspace();
      ASSERT_TRUE(BuildNormalEquationsThreaded(NoiseModel::TIRI, 4, 0.0)) << nth;
      EXPECT_EQ(Snapshot(), serial) << "start " << nth << " refused";
    }
  }

  SetWorkerThreadStartFailure(3, [] { throw std::runtime_error("start"); });
  EXPECT_THROW(BuildNormalEquationsThreaded(NoiseModel::TIRI, 4, 0.0), std::runtime_error);
  EXPECT_EQ(NeqThreads().pThreadSumSq, nullptr);
  SetWorkerThreadStartFailure(0, nullptr);
  ClearWorkspace();
  ASSERT_TRUE(BuildNormalEquationsThreaded(NoiseModel::TIRI, 4, 0.0));
  EXPECT_EQ(Snapshot(), serial) << "after a failed start";
}

// A build gets no more threads than its work feeds: each thread has at least the
// given number of multiply-adds (one per element of the lower triangle of the
// augmented matrix, counted here, per scan and fit-range point) and one more thread
// would have less; at least one thread, never more than asked for.
TEST_F(NormalEquationsTest, ThreadsAreLimitedToWhatTheBuildCanFeed) {
  SmallExperiment();
  const int points = CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
  for (int scans : {1, 6})
    for (int order : {1, 12, 99}) {
      const NEQBuildPlan plan{.firstScan = 1, .lastScan = scans, .order = order};
      const double elements = (order + 1.0) * (order + 2.0) / 2.0;
      const double work = elements * scans * points;
      for (double perThread : {work / 3.5, work / 2.0, work * 2.0, work / 40.0})
        for (int wanted : {0, 1, 3, 8}) {
          const int threads = NormalEquationThreads(plan, wanted, perThread);
          const int most = std::max(wanted, 1);
          EXPECT_TRUE(threads >= 1 && threads <= most) << threads;
          if (threads > 1) EXPECT_GE(work, threads * perThread) << order << " " << wanted;
          if (threads < most) EXPECT_LT(work, (threads + 1) * perThread) << order << " " << wanted;
        }
      EXPECT_EQ(NormalEquationThreads(plan, 5, 0.0), 5);  // 0: every thread asked for
    }
  // The benchmark's build (40 scans of 400 points): N = 100 feeds two threads, N = 500 eight.
  CurrentGrid().iFitFirst = 1;
  CurrentGrid().iFitLast = 400;
  EXPECT_EQ(NormalEquationThreads({.lastScan = 40, .order = 100}, 8), 2);
  EXPECT_EQ(NormalEquationThreads({.lastScan = 40, .order = 500}, 8), 8);
}

TEST_F(NormalEquationsTest, EveryInstructionSetBuildsTheSameBits) {
  // A kernel count whose last panel is partly empty and a fit range that is not a
  // multiple of eight points, so every vector path has its tail.
  SmallExperiment(13);
  const std::vector<std::string> sets = NEQInstructionSets();
  ASSERT_FALSE(sets.empty());
  EXPECT_EQ(sets.back(), "baseline");
  // Also a search's equations of binned data (bins of 4: the last one short).
  DistributionModels().bContiInnerRun = true;
  for (int bin : {1, 4}) {
    NormalEquations().iSearchRadialBin = bin;
    for (NoiseModel m : kModels) {
      ASSERT_TRUE(UseNEQInstructionSet(sets.front()));
      ClearWorkspace();
      ModelParams().fBaseline = 0.05f;
      ASSERT_TRUE(BuildNormalEquations(m));
      const std::vector<unsigned char> best = Snapshot();
      for (const std::string& set : sets) {
        ASSERT_TRUE(UseNEQInstructionSet(set));
        ClearWorkspace();
        ASSERT_TRUE(BuildNormalEquationsThreaded(m, 2));
        EXPECT_EQ(Snapshot(), best) << Name(m) << " with " << set << ", bins of " << bin;
      }
    }
  }
  NormalEquations().iSearchRadialBin = 1;
  DistributionModels().bContiInnerRun = false;
  EXPECT_FALSE(UseNEQInstructionSet("none"));
  UseNEQInstructionSet(sets.front());
}

TEST_F(NormalEquationsTest, BuildLeavesDataAndKernelsUntouched) {
  SmallExperiment();
  auto inputs = [] {
    std::vector<float> all;
    for (int s = 1; s <= DataSet().nScans; ++s) {
      all.insert(all.end(), CurrentGrid().ppGridSignal[s] + 1, CurrentGrid().ppGridSignal[s] + CurrentGrid().nGridPoints + 1);
      for (int k = 1; k <= DistributionVectors().nDistGrid; ++k) all.insert(all.end(), DistributionStorage().pppKernels[k][s] + 1, DistributionStorage().pppKernels[k][s] + CurrentGrid().nGridPoints + 1);
    }
    return all;
  };
  const std::vector<float> before = inputs();
  ASSERT_TRUE(BuildNormalEquationsTIRI());
  ASSERT_TRUE(BuildNormalEquationsThreaded(NoiseModel::TIRI, 3));
  ASSERT_TRUE(BuildNormalEquationsFixedFirst(1.0));
  EXPECT_EQ(inputs(), before);
}

TEST_F(NormalEquationsTest, TimeAndRadialInvariantNoiseAreRecovered) {
  InstallFlatDataSet(10, 120);
  const std::vector<double> s = EvenS(8, 1.0, 12.0);
  MakeKernels(s);
  const std::vector<double> amp = {0.0, 0.3, 0.0, 0.0, 0.5, 0.0, 0.2, 0.0};
  std::vector<double> ti(120), ri(10);
  for (int g = 0; g < 120; ++g) ti[static_cast<std::size_t>(g)] = 0.02 * std::cos(0.21 * g) + 0.01;
  for (int j = 0; j < 10; ++j) ri[static_cast<std::size_t>(j)] = 0.015 * ((j * 7) % 5) - 0.02;
  MakeData(amp, ti, ri, 0.0);
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  ASSERT_EQ(SelectNoiseModel(), NoiseModel::TIRI);
  ASSERT_TRUE(BuildNormalEquations(SelectNoiseModel()));
  SolvePlain();
  for (int k = 1; k <= 8; ++k) EXPECT_NEAR(DistributionStorage().pDistSolution[k], amp[static_cast<std::size_t>(k - 1)], 2e-4) << k;
  ModelParams().fBaseline = 0.25f;
  CalculateppAFit();
  EXPECT_EQ(ModelParams().fBaseline, 0.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[15], 0.0f);
  // TI and RI are determined up to a constant that moves between them.
  const double shift = CurrentGrid().pTINoise[1] - ti[0];
  for (int g = 1; g <= 120; ++g) EXPECT_NEAR(CurrentGrid().pTINoise[g] - ti[static_cast<std::size_t>(g - 1)], shift, 2e-4) << g;
  for (int j = 1; j <= 10; ++j) EXPECT_NEAR(CurrentGrid().pRINoise[j] - ri[static_cast<std::size_t>(j - 1)], -shift, 2e-4) << j;
  for (int j = 1; j <= 10; ++j) {
    for (int g = 1; g <= 120; ++g) EXPECT_NEAR(DataSet().ppFit[j][g], DataSet().ppSignal[j][g], 2e-4) << j << "," << g;
  }
}

// An offset at one radius moves only that TI value; an offset of one scan only its RI
// value; the distribution stays.
TEST_F(NormalEquationsTest, OffsetMovesOnlyItsOwnNoiseValue) {
  for (NoiseModel m : {NoiseModel::TI, NoiseModel::RI}) {
    ResetAll();
    SmallExperiment(6);
    const bool ti = m == NoiseModel::TI;
    (ti ? AnalysisSwitches().bFitTINoise : AnalysisSwitches().bFitRINoise) = true;
    auto noise = [ti](int i) { return ti ? CurrentGrid().pTINoise[i] : CurrentGrid().pRINoise[i]; };
    auto other = [ti](int i) { return ti ? CurrentGrid().pRINoise[i] : CurrentGrid().pTINoise[i]; };
    const int n = ti ? CurrentGrid().nGridPoints : DataSet().nScans, at = ti ? 30 : 3;
    const float offset = ti ? 0.1f : 0.05f;
    ASSERT_TRUE(BuildNormalEquations(m));
    SolvePlain();
    const std::vector<double> x(DistributionStorage().pDistSolution + 1, DistributionStorage().pDistSolution + 7);
    CalculateppAFit();
    std::vector<float> before(static_cast<std::size_t>(n) + 1);
    for (int i = 1; i <= n; ++i) before[static_cast<std::size_t>(i)] = noise(i);
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int g = 1; g <= CurrentGrid().nGridPoints; ++g)
        if ((ti ? g : s) == at) CurrentGrid().ppGridSignal[s][g] += offset;
    ASSERT_TRUE(BuildNormalEquations(m));
    SolvePlain();
    for (int k = 1; k <= 6; ++k) EXPECT_NEAR(DistributionStorage().pDistSolution[k], x[static_cast<std::size_t>(k - 1)], 1e-5);
    CalculateppAFit();
    for (int i = 1; i <= n; ++i)
      EXPECT_NEAR(noise(i) - before[static_cast<std::size_t>(i)], i == at ? offset : 0.0, 1e-5) << Name(m) << i;
    for (int i = 1; i <= (ti ? DataSet().nScans : CurrentGrid().nGridPoints); ++i) EXPECT_EQ(other(i), 0.0f);
  }
}

// The same data with a fixed baseline (taken off the data by the Plain build checked
// above, added to the fit) and with a fitted one (from the means).
TEST_F(NormalEquationsTest, FixedAndFittedBaseline) {
  InstallFlatDataSet(6, 80);
  MakeKernels(EvenS(6, 1.0, 12.0));
  MakeData({0.1, 0.0, 0.3, 0.0, 0.2, 0.0}, std::vector<double>(80, 0.3), {}, 0.0);
  ModelParams().fBaseline = 0.3f;
  ASSERT_TRUE(BuildNormalEquationsPlain());
  SolvePlain();
  CalculateppAFit();
  EXPECT_EQ(ModelParams().fBaseline, 0.3f);
  for (int g = 1; g <= 80; ++g) EXPECT_NEAR(DataSet().ppFit[2][g], DataSet().ppSignal[2][g], 1e-4);

  ModelParams().fBaseline = 0.0f;
  ModelParams().bVaryBaseline = true;
  ASSERT_EQ(SelectNoiseModel(), NoiseModel::Baseline);
  ASSERT_TRUE(BuildNormalEquationsBaseline());
  SolvePlain();
  CalculateppAFit();
  EXPECT_NEAR(ModelParams().fBaseline, 0.3, 1e-4);
  EXPECT_EQ(AnalysisSwitches().pParams[15], ModelParams().fBaseline);
}

TEST_F(NormalEquationsTest, FixedFirstKernelBuildsOneUnknownFewer) {
  InstallFlatDataSet(8, 100);
  MakeKernels(EvenS(7, 1.0, 12.0));
  // Kernel 1 is a component whose amplitude is already inside it (coefficient 1).
  const std::vector<double> amp = {1.0, 0.0, 0.25, 0.0, 0.0, 0.4, 0.0};
  std::vector<double> ti(100);
  for (int g = 0; g < 100; ++g) ti[static_cast<std::size_t>(g)] = 0.01 * std::sin(0.1 * g);
  MakeData(amp, ti, {0.0, 0.01, 0.02, 0.0, -0.01, 0.0, 0.02, 0.01}, 0.0);
  ASSERT_TRUE(BuildNormalEquationsFixedFirst(0.8));
  EXPECT_TRUE(NormalEquations().bFixedFirstKernel);
  EXPECT_EQ(NormalEquations().dFixedFirstAmplitude, 0.8);
  EXPECT_EQ(DistributionStorage().nNEQUnknowns, 6);
  SolvePlain();
  for (int i = 1; i <= 6; ++i) EXPECT_NEAR(DistributionStorage().pDistSolution[i], amp[static_cast<std::size_t>(i)], 2e-4) << i;
  // The run puts the fixed amplitude in front of the solved ones.
  for (int i = 7; i >= 2; --i) DistributionStorage().pDistSolution[i] = DistributionStorage().pDistSolution[i - 1];
  DistributionStorage().pDistSolution[1] = NormalEquations().dFixedFirstAmplitude;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  CalculateppAFit();
  for (int g = 1; g <= 100; ++g) EXPECT_NEAR(DataSet().ppFit[5][g], DataSet().ppSignal[5][g], 2e-4) << g;
}

TEST_F(NormalEquationsTest, KeyPressStopsTheSerialAndTheThreadedBuild) {
  SmallExperiment();
  UiEvents().Post(Event::KeyDown('A'));
  EXPECT_FALSE(BuildNormalEquationsTIRI());
  EXPECT_TRUE(bUserAbort);
  bUserAbort = false;
  UiEvents().Post(Event::KeyDown('A'));
  EXPECT_FALSE(BuildNormalEquationsThreaded(NoiseModel::TIRI, 2, 0.0));
  EXPECT_TRUE(bUserAbort);
}

TEST_F(NormalEquationsTest, PendingInterruptStopsWorkersBeforeTheirFirstScan) {
  SmallExperiment();
  ClearWorkspace();
  bUserAbort = true;
  EXPECT_FALSE(BuildNormalEquationsThreaded(NoiseModel::RI, 3, 0.0));
  // Rows were cleared and nothing was added.
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) EXPECT_EQ(DistributionStorage().pNormalRhs[i], 0.0);
}

TEST_F(NormalEquationsTest, MissingArraysBuildNothing) {
  SmallExperiment();
  FreeKernelArrays();
  EXPECT_FALSE(BuildNormalEquationsTIRI());
  EXPECT_FALSE(BuildNormalEquationsThreaded(NoiseModel::TIRI, 2));
  EXPECT_FALSE(bUserAbort);
}

// The dumps of the equations read back as the equations built; a file that cannot
// be written is reported once, ends the dump and leaves no temporary behind.
TEST_F(NormalEquationsTest, DumpsReadBackAndAFailedFileEndsTheDump) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "normal_equation_dumps";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous ? previous : "";
  ::setenv("TMPDIR", dir.c_str(), 1);
  SmallExperiment();
  ASSERT_TRUE(BuildNormalEquations(NoiseModel::TI));
  const int N = DistributionStorage().nNEQUnknowns;
  EXPECT_TRUE(DumpNormalEquations().empty());
  std::ifstream matrix(dir / "matrix.txt"), vector(dir / "vector.txt"), ngrid(dir / "ngrid.txt");
  int n = 0;
  ngrid >> n;
  EXPECT_EQ(n, N);
  for (int i = 1; i <= N; ++i) {
    double b = 0.0;
    ASSERT_TRUE(vector >> b);
    EXPECT_NEAR(b, DistributionStorage().pNormalRhs[i], 1e-6 * std::fabs(DistributionStorage().pNormalRhs[i]) + 1e-300);
    for (int j = 1; j <= N; ++j) {
      double a = 0.0;
      ASSERT_TRUE(matrix >> a);
      EXPECT_NEAR(a, DistributionStorage().ppNormalMatrix[i][j], 1e-6 * std::fabs(DistributionStorage().ppNormalMatrix[i][j]) + 1e-300);
    }
  }

  fs::remove_all(dir);
  fs::create_directories(dir / "dim.txt");  // the name is taken by a directory
  EXPECT_NE(DumpNormalEquations().find("dim.txt"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "grid.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "no temporary is left";

  if (previous)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace tarmic::testing
