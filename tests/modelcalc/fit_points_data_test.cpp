// The discrete fit's objective is a function of the data it is given
// (FitPointsData): its rmsd, point count and Marquardt-Levenberg values come from
// the records it was built on, whichever analysis is bound while it evaluates.

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

// Sum of squares of signal minus fit over display positions first..last, each
// scan's points within its fit-limit indices, written out here from the data set.
double IndependentRmsd(int first, int last, long long* count) {
  double sum = 0.0;
  long long n = 0;
  for (int k = first; k <= last; ++k) {
    const std::size_t s = test::Idx(DataSet().pScanOrder[test::Idx(k)]);
    for (int i = std::max(1, DataSet().pFitFirst[s]); i <= std::min(DataSet().pFitLast[s], DataSet().pnPoints[s]); ++i) {
      const double d = static_cast<double>(DataSet().ppSignal[s][i]) - static_cast<double>(DataSet().ppFit[s][i]);
      sum += d * d;
      ++n;
    }
  }
  *count = n;
  return std::sqrt(sum / static_cast<double>(n));
}

std::vector<double> TargetValues(const FitPointsTarget& target, bool data) {
  std::vector<double> model(target.Points()), signal(target.Points());
  target.Values(model.data(), data ? signal.data() : nullptr);
  return data ? signal : model;
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class FitPointsDataTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetModelCalcState(); }
  void TearDown() override { test::ResetModelCalcState(); }
  ScopedHeadlessBackend backend;
};

TEST_F(FitPointsDataTest, ObjectiveOfGivenDataIgnoresTheBoundAnalysis) {
  test::InstallOneSpeciesData();
  // A scan window, so the range of scans is the records' too.
  Rmsd().bFitScanWindow = true;
  Rmsd().iFitScanWindowFirst = 3;
  Rmsd().iFitScanWindowLast = 9;
  long long expectedCount = 0;
  const double expected = IndependentRmsd(3, 9, &expectedCount);
  ASSERT_GT(expectedCount, 500);

  const FitPointsData points = CurrentFitPoints();
  long long count = 0;
  const double rmsd = FitPointsRmsd(points, &count);
  EXPECT_EQ(count, expectedCount);
  EXPECT_NEAR(rmsd, expected, 1e-12 * expected);
  EXPECT_NEAR(rmsd, test::fitdata::kNoise, 0.1 * test::fitdata::kNoise);

  // The objective as a fit makes it: nothing floated, the model on show kept.
  const ModelFunction keepModel = [](Window*) { return ModelResult{}; };
  const std::vector<float> none(1, 0.0f);
  const float objectiveHere = FitObjective(nullptr, keepModel, points)(none.data());
  const FitPointsTarget targetHere([](const float*) { return 0.0f; }, points);
  const std::vector<double> modelHere = TargetValues(targetHere, false);
  const std::vector<double> dataHere = TargetValues(targetHere, true);
  ASSERT_EQ(modelHere.size(), static_cast<std::size_t>(expectedCount));

  Analysis fresh;
  {
    AnalysisScope bind(fresh);
    // Other scans, other limits, another scan range, the first scan initial.
    test::InstallVelocityScans(4, 50, 1000.0, 40000.0f);
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int i = 1; i <= DataSet().pnPoints[test::Idx(s)]; ++i) DataSet().ppSignal[test::Idx(s)][i] = 0.3f;
    Rmsd().bFirstScanIsInitial = true;
    // The bound analysis' own rmsd is another (the check has power).
    EXPECT_NE(CountFitPoints(), expectedCount);
    EXPECT_NE(FitRmsd(), static_cast<float>(rmsd));

    long long freshCount = 0;
    const double freshRmsd = FitPointsRmsd(points, &freshCount);
    EXPECT_EQ(freshCount, count);
    EXPECT_EQ(std::memcmp(&freshRmsd, &rmsd, sizeof rmsd), 0) << freshRmsd << " " << rmsd;
    EXPECT_EQ(CountFitPoints(points), expectedCount);

    const float objectiveFresh = FitObjective(nullptr, keepModel, points)(none.data());
    EXPECT_TRUE(SameBits(objectiveFresh, objectiveHere)) << objectiveFresh << " " << objectiveHere;
    // The objective shows its rmsd as the bound analysis' rmsd on show.
    EXPECT_TRUE(SameBits(Rmsd().fFitRmsd, objectiveHere));

    const FitPointsTarget targetFresh([](const float*) { return 0.0f; }, points);
    EXPECT_EQ(targetFresh.Points(), targetHere.Points());
    EXPECT_EQ(TargetValues(targetFresh, false), modelHere);
    EXPECT_EQ(TargetValues(targetFresh, true), dataHere);
    // What the fresh analysis loaded is released before it ends.
    test::ResetModelCalcState();
  }
  // The program's analysis bound again: its own door gives the same once more.
  EXPECT_TRUE(SameBits(FitRmsd(), objectiveHere));
  EXPECT_EQ(CountFitPoints(), expectedCount);
}

// The records are referred to, not copied: fit rows an evaluation writes and fit
// limits a moved meniscus sets after the view was built are those it reads.
TEST_F(FitPointsDataTest, ViewSeesTheRowsAndLimitsOfEachEvaluation) {
  test::InstallOneSpeciesData();
  const FitPointsData points = CurrentFitPoints();
  long long before = 0;
  FitPointsRmsd(points, &before);
  for (int s = 1; s <= DataSet().nScans; ++s)
    for (int i = 1; i <= DataSet().pnPoints[test::Idx(s)]; ++i) DataSet().ppFit[test::Idx(s)][i] += 0.01f;
  for (int s = 1; s <= DataSet().nScans; ++s) DataSet().pFitFirst[test::Idx(s)] += 10;
  long long expectedCount = 0;
  const double expected = IndependentRmsd(1, DataSet().nScans, &expectedCount);
  long long count = 0;
  EXPECT_NEAR(FitPointsRmsd(points, &count), expected, 1e-12 * expected);
  EXPECT_EQ(count, expectedCount);
  EXPECT_EQ(count, before - 10LL * DataSet().nScans);
}

}  // namespace
}  // namespace tarmic
