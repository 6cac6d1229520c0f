// The discrete fit's objective is a function of the data it is given
// (FitPointsData): its rmsd, point count and Marquardt-Levenberg values come from
// the records it was built on, whichever analysis is bound while it evaluates.

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/modelcalc/signal_fit_rmsd.h"
#include "tests/support/bound_analysis_check.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

// The rmsd of signal minus fit over display positions first..last, each scan's
// points within its fit-limit indices, written out here from the data set.
double IndependentRmsd(int first, int last, long long* count) {
  std::vector<int> scans;
  for (int k = first; k <= last; ++k) scans.push_back(DataSet().pScanOrder[test::Idx(k)]);
  return test::SignalMinusFitRmsd(
      scans,
      [](int s, int i) { return i >= DataSet().pFitFirst[test::Idx(s)] && i <= DataSet().pFitLast[test::Idx(s)]; },
      count);
}

std::vector<double> TargetValues(const FitPointsTarget& target, bool data) {
  std::vector<double> model(target.Points()), signal(target.Points());
  target.Values(model.data(), data ? signal.data() : nullptr);
  return data ? signal : model;
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What the discrete fit's objective makes of its fit points: their count, the rmsd
// over them (unrounded, with the number of points it took), the objective as a fit
// evaluates it with nothing floated and the model on show kept, the rmsd on show
// after it, and a Marquardt-Levenberg target's model and data values.
struct ObjectiveValues {
  long long count = 0, rmsdCount = 0;
  double rmsd = 0.0;
  float objective = 0.0f, onShow = 0.0f;
  std::vector<double> model, data;
};

bool SameObjective(const ObjectiveValues& a, const ObjectiveValues& b) {
  return a.count == b.count && a.rmsdCount == b.rmsdCount && SameBits(a.rmsd, b.rmsd) &&
         SameBits(a.objective, b.objective) && SameBits(a.onShow, b.onShow) && a.model == b.model &&
         a.data == b.data;
}

const ModelFunction kKeepModel = [](Window*) { return ModelResult{}; };
const std::vector<float> kNothingFloated(1, 0.0f);

// Through the forms given the fit points.
ObjectiveValues ObjectiveOf(const FitPointsData& points) {
  ObjectiveValues v;
  v.count = CountFitPoints(points);
  v.rmsd = FitPointsRmsd(points, &v.rmsdCount);
  v.objective = FitObjective(nullptr, kKeepModel, points)(kNothingFloated.data());
  v.onShow = Rmsd().fFitRmsd;
  const FitPointsTarget target([](const float*) { return 0.0f; }, points);
  v.model = TargetValues(target, false);
  v.data = TargetValues(target, true);
  return v;
}

// Through the analysis' doors, which read the fit points of the bound analysis.
ObjectiveValues ObjectiveOfTheBoundAnalysis() {
  ObjectiveValues v;
  v.count = CountFitPoints();
  v.rmsd = RmsdOverFitPoints([](int s) -> const float* { return DataSet().ppSignal[test::Idx(s)]; },
                             [](int s) -> const float* { return DataSet().ppFit[test::Idx(s)]; }, &v.rmsdCount);
  v.objective = FitObjective(nullptr, kKeepModel)(kNothingFloated.data());
  v.onShow = FitRmsd();
  const FitPointsTarget target([](const float*) { return 0.0f; }, CurrentFitPoints());
  v.model = TargetValues(target, false);
  v.data = TargetValues(target, true);
  return v;
}

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
  const ObjectiveValues reference = ObjectiveOf(points);
  EXPECT_EQ(reference.count, expectedCount);
  EXPECT_EQ(reference.rmsdCount, expectedCount);
  EXPECT_NEAR(reference.rmsd, expected, 1e-12 * expected);
  EXPECT_NEAR(reference.rmsd, test::fitdata::kNoise, 0.1 * test::fitdata::kNoise);
  // The objective shows its rmsd as the bound analysis' rmsd on show.
  EXPECT_TRUE(SameBits(reference.onShow, reference.objective)) << reference.onShow << " " << reference.objective;
  EXPECT_NEAR(reference.objective, reference.rmsd, 1e-6 * reference.rmsd);
  ASSERT_EQ(reference.model.size(), static_cast<std::size_t>(expectedCount));
  ASSERT_EQ(reference.data.size(), static_cast<std::size_t>(expectedCount));

  test::BoundAnalysisCheck<ObjectiveValues> check;
  check.ofInput = [&](bool) { return ObjectiveOf(points); };
  check.ofParts = [](bool) { return ObjectiveOfTheBoundAnalysis(); };
  // Other scans, other limits, another scan range, the first scan initial.
  check.mislead = [] {
    test::InstallVelocityScans(4, 50, 1000.0, 40000.0f);
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int i = 1; i <= DataSet().pnPoints[test::Idx(s)]; ++i) DataSet().ppSignal[test::Idx(s)][i] = 0.3f;
    Rmsd().bFirstScanIsInitial = true;
  };
  check.same = SameObjective;
  // The bound analysis' own count and rmsd are others.
  check.unlike = [](const ObjectiveValues& a, const ObjectiveValues& b) {
    return a.count != b.count && a.rmsdCount != b.rmsdCount && !SameBits(a.onShow, b.onShow);
  };
  test::ExpectOnlyTheInputCounts(reference, check);
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
