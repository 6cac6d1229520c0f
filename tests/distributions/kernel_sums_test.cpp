// The kernel sums a Lamm solver gathers as it writes a kernel: the normal
// equations' means taken from them equal, bit for bit, those of the pass over the
// kernels, for every noise model and for whole and masked fit ranges; sums of rows
// written otherwise are not taken.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <limits>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/distribution_file.h"
#include "distributions/normal_equations.h"
#include "numerics/profile_sums.h"
#include "tests/support/production_sources.h"

namespace tarmic::testing {
namespace {

struct Means {
  std::vector<double> radius, scan, global;
};

// The means of every kernel row of the plan, from whatever sums are current.
Means KernelMeans(const NEQBuildPlan& plan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Means m;
  const GridFitPoints fit = CurrentGridFitPoints();
  for (int k = 1; k <= plan.order; ++k) {
    std::fill(DistributionStorage().ppKernelRadiusMean[k] + 1, DistributionStorage().ppKernelRadiusMean[k] + CurrentGrid().nGridPoints + 1, nan);
    std::fill(DistributionStorage().ppKernelScanMean[k] + 1, DistributionStorage().ppKernelScanMean[k] + DataSet().nScans + 1, nan);
    DistributionStorage().pKernelMean[k] = nan;
    ComputeNormalEquationRowMeans(plan, k, fit);
    m.radius.insert(m.radius.end(), DistributionStorage().ppKernelRadiusMean[k] + 1, DistributionStorage().ppKernelRadiusMean[k] + CurrentGrid().nGridPoints + 1);
    m.scan.insert(m.scan.end(), DistributionStorage().ppKernelScanMean[k] + 1, DistributionStorage().ppKernelScanMean[k] + DataSet().nScans + 1);
    m.global.push_back(DistributionStorage().pKernelMean[k]);
  }
  return m;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Each kernel's rows handed to its sums as a solver writes them, scan by scan.
void SolverWritesEveryKernel(int kernels) {
  const int nFit = CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
  for (int k = 1; k <= kernels; ++k) {
    ProfileSums* sums = KernelSumsSlot(k);
    ASSERT_NE(sums, nullptr);
    sums->Begin(DistributionStorage().pppKernels[k], 1, DataSet().nScans, CurrentGrid().nGridPoints, CurrentGrid().iFitFirst, nFit);
    for (int s = 1; s <= DataSet().nScans; ++s) sums->Written(s, DistributionStorage().pppKernels[k][s], CurrentGrid().nGridPoints);
  }
}

class KernelSumsTest : public DistributionTest {};

TEST_F(KernelSumsTest, MeansFromTheSolversSumsEqualThePassOverTheKernels) {
  const NoiseModel models[] = {NoiseModel::Plain, NoiseModel::Baseline, NoiseModel::TI,
                               NoiseModel::RI, NoiseModel::TIRI};
  for (bool masked : {false, true}) {
    InstallFlatDataSet(7, 90);
    MakeKernels(EvenS(5, 1.0, 12.0));
    CurrentGrid().iFitFirst = 4;
    CurrentGrid().iFitLast = 83;
    std::vector<unsigned char> measured(91, 1);
    if (masked) measured[20] = measured[21] = measured[22] = measured[60] = 0;
    SetGridPointMask(measured);
    for (NoiseModel model : models) {
      SCOPED_TRACE(::testing::Message() << "model " << static_cast<int>(model) << " masked " << masked);
      const NEQBuildPlan plan = PlanNormalEquations(model);
      ForgetAllKernelSums();
      const Means pass = KernelMeans(plan);
      SolverWritesEveryKernel(plan.order);
      for (int k = 1; k <= plan.order; ++k)
        ASSERT_NE(CurrentKernelSums(k, 1, DataSet().nScans, CurrentGrid().nGridPoints, CurrentGrid().iFitFirst, CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1), nullptr);
      const Means kept = KernelMeans(plan);
      EXPECT_TRUE(SameBits(pass.radius, kept.radius));
      EXPECT_TRUE(SameBits(pass.scan, kept.scan));
      EXPECT_TRUE(SameBits(pass.global, kept.global));
    }
  }
  // The means are taken from the sums, not from the kernels: a value changed behind
  // the sums' back is not seen until they are forgotten.
  const NEQBuildPlan plan = PlanNormalEquations(NoiseModel::TIRI);
  SolverWritesEveryKernel(plan.order);
  const Means before = KernelMeans(plan);
  DistributionStorage().pppKernels[1][2][40] += 1.0f;
  EXPECT_TRUE(SameBits(KernelMeans(plan).radius, before.radius));
  ForgetAllKernelSums();
  EXPECT_FALSE(SameBits(KernelMeans(plan).radius, before.radius));
}

TEST_F(KernelSumsTest, SumsOfRowsWrittenOtherwiseAreNotTaken) {
  InstallFlatDataSet(6, 60);
  MakeKernels(EvenS(4, 1.0, 10.0));
  CurrentGrid().iFitFirst = 3;
  CurrentGrid().iFitLast = 55;
  const int nFit = CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
  auto current = [&](int k, int fitFirst = 3) {
    return CurrentKernelSums(k, 1, DataSet().nScans, CurrentGrid().nGridPoints, fitFirst, nFit) != nullptr;
  };
  SolverWritesEveryKernel(4);
  EXPECT_TRUE(current(1));
  EXPECT_FALSE(current(1, 4));  // another fit range
  // A row written through the kernel table, a new computation of kernels.
  const double radii[3] = {0.0, 6.0, 7.2}, values[3] = {0.0, 0.5, 0.5};
  StoreKernelProfile(2, 3, radii, values, 2);
  EXPECT_FALSE(current(2));
  ForgetAllKernelSums();
  EXPECT_FALSE(current(4));
  // Scans out of order, or one written again: incomplete until all follow scan 1.
  ProfileSums* sums = KernelSumsSlot(1);
  sums->Begin(DistributionStorage().pppKernels[1], 1, DataSet().nScans, CurrentGrid().nGridPoints, CurrentGrid().iFitFirst, nFit);
  for (int s : {1, 2, 4, 3, 5, 6}) sums->Written(s, DistributionStorage().pppKernels[1][s], CurrentGrid().nGridPoints);
  EXPECT_FALSE(current(1));
  for (int s = 1; s <= DataSet().nScans; ++s) sums->Written(s, DistributionStorage().pppKernels[1][s], CurrentGrid().nGridPoints);
  EXPECT_TRUE(current(1));
  sums->Written(4, DistributionStorage().pppKernels[1][4], CurrentGrid().nGridPoints);
  EXPECT_FALSE(current(1));
  // The kernel array made again: no sums.
  SolverWritesEveryKernel(4);
  MakeKernels(EvenS(4, 1.0, 10.0));
  EXPECT_FALSE(current(1));
}

// The census of the program's sources that reach the kernel array: each is known,
// with the reason why no kernel it writes keeps sums that no longer describe it (it
// only reads, it forgets the sums of what it writes, or it writes only inside a
// computation of kernels, which forgets them all first and writes each point once).
// A new file that reaches the kernels fails here until its writes are accounted for.
TEST(KernelSumsCensus, EverySourceThatReachesTheKernelsIsAccountedFor) {
  const std::map<std::string, std::string> known = {
      {"distributions/distribution_storage.h", "declares the array"},
      {"distributions/distribution_storage.cpp", "makes and frees the array with its sums"},
      {"distributions/distribution_kernels.h", "documents the kernels"},
      {"distributions/distribution_kernels.cpp", "the list begins the sums; other writers forget"},
      {"distributions/kernel_profiles.cpp", "KernelRow forgets the sums of its kernel"},
      {"distributions/special_kernels.cpp", "step kernels, written per point after it forgot"},
      {"distributions/distribution_hooks.h", "documents the hooks"},
      {"distributions/conti_run.cpp", "reads"},
      {"distributions/noise_fit.cpp", "reads"},
      {"distributions/normal_equations.cpp", "reads, and takes the sums"},
      {"modelcalc/conti_fit_status.cpp", "reads"},
      {"modelcalc/conti_fit.cpp", "reads"},
      {"modelcalc/conti_monte_carlo.cpp", "reads"},
      {"modelcalc/equilibrium_signal.h", "documents its kernel hook"},
      {"modelcalc/equilibrium_signal.cpp", "equilibrium kernels, written per point after it forgot"},
  };
  int doors = 0;
  for (const auto& [path, code] : ProductionSources()) {
    if (code.find("pppKernels") == std::string::npos) continue;
    ++doors;
    EXPECT_TRUE(known.count(path)) << path << " reaches the kernel array: account for its writes "
                                      "and the kernel sums (distribution_storage.h)";
  }
  std::cout << doors << " sources reach the kernel array" << std::endl;
  EXPECT_GE(doors, 8);
}

}  // namespace
}  // namespace tarmic::testing
