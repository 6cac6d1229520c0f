// The fit returns its outcome with the rmsd of its fitted curve, and the command's
// outcome record stores what the fit returned.

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/modelcalc/signal_fit_rmsd.h"

#include <cmath>
#include <string>
#include <vector>

#include "commands/save_outcome.h"
#include "modelcalc/analysis_outcome.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

// The rmsd of signal minus fit over every scan's points within the fitting limits
// (by radius), written out here from the data and the fitted curve.
double RmsdOfFittedCurve(long long* count) {
  std::vector<int> scans;
  for (int s = 1; s <= DataSet().nScans; ++s) scans.push_back(s);
  return test::SignalMinusFitRmsd(
      scans,
      [](int s, int i) {
        const float r = DataSet().ppRadius[test::Idx(s)][i];
        return r >= DataSet().fFitLeftLim && r <= DataSet().fFitRightLim;
      },
      count);
}

void ExpectSameMessages(const std::vector<OutcomeMessage>& a, const std::vector<OutcomeMessage>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].id, b[i].id);
    EXPECT_EQ(a[i].text, b[i].text);
  }
}

void ExpectSameOutcome(const AnalysisOutcome& a, const AnalysisOutcome& b) {
  EXPECT_EQ(a.status, b.status);
  EXPECT_EQ(a.fit, b.fit);
  EXPECT_EQ(a.whyNotConverged, b.whyNotConverged);
  EXPECT_EQ(a.atBounds, b.atBounds);
  EXPECT_EQ(a.misfitRatio, b.misfitRatio);
  EXPECT_EQ(a.systematicMisfit, b.systematicMisfit);
  EXPECT_EQ(a.errorShown, b.errorShown);
  ExpectSameMessages(a.messages, b.messages);
  ExpectSameMessages(a.flags, b.flags);
  ASSERT_EQ(a.parameters.size(), b.parameters.size());
  for (std::size_t i = 0; i < a.parameters.size(); ++i) {
    const OutcomeParameter &p = a.parameters[i], &q = b.parameters[i];
    EXPECT_EQ(p.name, q.name);
    EXPECT_EQ(p.value, q.value) << p.name;
    EXPECT_EQ(p.unit, q.unit) << p.name;
    EXPECT_EQ(p.floated, q.floated) << p.name;
    EXPECT_EQ(p.error, q.error) << p.name;
    EXPECT_EQ(p.atBound, q.atBound) << p.name;
  }
  EXPECT_EQ(a.peaks.size(), b.peaks.size());
  EXPECT_EQ(a.peakUnit, b.peakUnit);
  EXPECT_EQ(a.rmsd, b.rmsd);
  EXPECT_EQ(a.points, b.points);
}

class FitOutcomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetModelCalcState();
    D = test::InstallOneSpeciesData();
    DataSet().fMinMeniscus = 5.97f;
    DataSet().fMaxMeniscus = 6.03f;
    SearchSettings().bSaveBestParams = false;
  }
  void TearDown() override { test::ResetModelCalcState(); }
  double D = 0.0;
  ScopedHeadlessBackend backend;
};

// Each method's fit from a start 10 % off: the returned outcome is what the
// command stores, its rmsd that of the fitted curve against the data (near the
// noise of the data), and the outcome judged again from the state left says the same.
TEST_F(FitOutcomeTest, ReturnedOutcomeIsStoredWithTheRmsdOfTheFittedCurve) {
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt}) {
    SCOPED_TRACE(static_cast<int>(method));
    test::SetOneSpecies(1.1 * test::fitdata::kS, 0.9 * D, 1, 6.015, true);
    FitReport report;
    FitComputation fit;
    {
      AnalysisCommandOutcome command(true);
      fit = FitLoadedData(nullptr, method, report);
      command.Keep(fit.outcome);
    }
    ASSERT_EQ(fit.end, FitOutcome::Completed);
    ASSERT_EQ(fit.outcome.status, AnalysisOutcome::Status::Computed) << fit.outcome.whyNotConverged;
    EXPECT_TRUE(fit.outcome.fit);
    ExpectSameOutcome(LastAnalysisOutcome(), fit.outcome);
    ExpectSameOutcome(OutcomeOfComputation(true), fit.outcome);

    long long points = 0;
    const double rmsd = RmsdOfFittedCurve(&points);
    EXPECT_EQ(fit.outcome.points, points);
    EXPECT_NEAR(fit.outcome.rmsd, rmsd, 1e-12 * rmsd);
    EXPECT_NEAR(rmsd, test::fitdata::kNoise, 0.1 * test::fitdata::kNoise);
    // The rmsd on show is the outcome's, as the window's rmsd line rounds it.
    EXPECT_EQ(Rmsd().fFitRmsd, static_cast<float>(fit.outcome.rmsd));
  }
}

// A Run returns the outcome of its own computation: computed, with the rmsd of the
// curve it computed. A command that ends before it computes claims no model, even
// with a model of these data on show (an earlier Run's), and keeps the values.
TEST_F(FitOutcomeTest, RunReturnsItsComputationsOutcomeAndARefusedCommandClaimsNoModel) {
  SetModelComputed(false);
  { AnalysisCommandOutcome command(true); }
  EXPECT_EQ(LastAnalysisOutcome().status, AnalysisOutcome::Status::NotComputed);
  EXPECT_EQ(LastAnalysisOutcome().rmsd, 0.0);
  EXPECT_EQ(LastAnalysisOutcome().points, 0);
  EXPECT_TRUE(LastAnalysisOutcome().fit);

  RunComputation run;
  {
    AnalysisCommandOutcome command(false);
    run = RunLoadedData(nullptr);
    command.Keep(run.outcome);
  }
  ASSERT_TRUE(run.result.ok());
  ExpectSameOutcome(LastAnalysisOutcome(), run.outcome);
  long long points = 0;
  const double rmsd = RmsdOfFittedCurve(&points);
  EXPECT_EQ(run.outcome.status, AnalysisOutcome::Status::Computed);
  EXPECT_FALSE(run.outcome.fit);
  EXPECT_EQ(run.outcome.points, points);
  EXPECT_NEAR(run.outcome.rmsd, rmsd, 1e-12 * rmsd);
  EXPECT_NEAR(rmsd, test::fitdata::kNoise, 0.1 * test::fitdata::kNoise);

  ASSERT_TRUE(FitOfLoadedData());  // the Run's model stays on show
  for (bool fit : {false, true}) {
    { AnalysisCommandOutcome command(fit); }
    const AnalysisOutcome& o = LastAnalysisOutcome();
    EXPECT_EQ(o.status, AnalysisOutcome::Status::NotComputed) << fit;
    EXPECT_EQ(o.fit, fit);
    EXPECT_EQ(o.rmsd, 0.0);
    ASSERT_NE(FindParameter(o, "meniscus"), nullptr);
    EXPECT_EQ(FindParameter(o, "meniscus")->value, static_cast<double>(DataSet().fMeniscus));
  }
}

}  // namespace
}  // namespace tarmic
