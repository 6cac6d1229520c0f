// The flags of a fit's result: every report a fit can end with, made from each
// combination of its findings and passed through the end check the fits run
// (SayFitEnd), gets a flag exactly when the one judgement of convergence
// (FitConverged) or the misfit says something is wrong, and each finding its own
// flag with its text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_flags.h"
#include "services/run_switches.h"

namespace tarmic {
namespace {

// The findings of a report, one bit each.
enum Finding : unsigned {
  kSearchConverged = 1,
  kEvaluationLimit = 2,
  kAtBound = 4,
  kLocalStep = 8,
  kGrid = 16,
  kMisfit = 32,
  kHeldMeniscus = 64,
  kUndetermined = 128,
  kImplausible = 256,
  kAllFindings = 512,
};

// A report as a fit leaves it: the search's own end, what the end check found, the
// misfit; then the end check's note (which clears converged when it found anything).
FitReport ReportOf(unsigned findings, FitOutcome outcome) {
  FitReport r;
  r.converged = (findings & kSearchConverged) != 0;
  r.simplexNotConverged = (findings & kEvaluationLimit) != 0;
  if (findings & kAtBound) r.atBound = {"D2 = 0", "c2 = 0"};
  if (findings & kLocalStep) r.localStepGain = 0.47;
  if (findings & kGrid) r.gridRefined = 2;
  r.systematicMisfit = (findings & kMisfit) != 0;
  if (findings & kHeldMeniscus) {
    r.heldMeniscusGain = 210.0;
    r.heldMeniscusShift = -0.004;
  }
  if (findings & kUndetermined) r.undeterminedSpecies = {2};
  if (findings & kImplausible) r.implausibleSpecies = {{2, "species 2 sedimented before the first scan (s = 270 S)"}};
  r.searchConverged = r.converged;
  SayFitEnd(r, outcome);
  return r;
}

class FitFlagsTest : public ::testing::Test {
 protected:
  void SetUp() override { bBatchMode = true; }
  void TearDown() override { bBatchMode = false; }
};

// Every combination of findings, for a fit that completed and one stopped with its
// best point: flagged exactly when it did not converge or misfits; each finding
// raises its own flag; "not converged" only for the search's own reasons (its test,
// its evaluation limit, a lowering step from its end, a stop), never for a search
// that converged at a bound or on too coarse a grid.
TEST_F(FitFlagsTest, EveryEndOfAFitIsFlaggedExactlyWhenSomethingDoesNotHold) {
  for (const FitOutcome outcome : {FitOutcome::Completed, FitOutcome::Interrupted}) {
    for (unsigned findings = 0; findings < kAllFindings; ++findings) {
      SCOPED_TRACE(::testing::Message() << "findings " << findings << " outcome " << static_cast<int>(outcome));
      const FitReport r = ReportOf(findings, outcome);
      const std::vector<OutcomeMessage> flags = FitFlags(outcome, r);
      // The species' and the held meniscus' findings are flags that leave convergence
      // alone.
      const bool others = (findings & (kHeldMeniscus | kUndetermined | kImplausible)) != 0;
      EXPECT_EQ(flags.empty(), FitConverged(outcome, r) && !r.systematicMisfit && !others);
      if (findings == (kSearchConverged | kHeldMeniscus | kUndetermined | kImplausible) && outcome == FitOutcome::Completed)
        EXPECT_TRUE(FitConverged(outcome, r));
      for (const auto& [id, finding] : {std::pair{kFlagHeldMeniscus, kHeldMeniscus}, {kFlagUndetermined, kUndetermined},
                                        {kFlagImplausible, kImplausible}, {kFlagAtBound, kAtBound}, {kFlagGrid, kGrid},
                                        {kFlagMisfit, kMisfit}})
        EXPECT_EQ(HasMessage(flags, id), (findings & finding) != 0) << id;
      const bool searchDidNotConverge = outcome == FitOutcome::Interrupted || !(findings & kSearchConverged) ||
                                        (findings & (kEvaluationLimit | kLocalStep)) != 0;
      EXPECT_EQ(HasMessage(flags, kFlagNotConverged), searchDidNotConverge);
      // Each flag once, in the order of the table.
      std::vector<std::string> ids;
      for (const OutcomeMessage& f : flags) ids.push_back(f.id);
      std::vector<std::string> order = {kFlagAtBound,      kFlagNotConverged, kFlagGrid,        kFlagMisfit,
                                        kFlagHeldMeniscus, kFlagUndetermined, kFlagImplausible};
      std::erase_if(order, [&](const std::string& id) { return !HasMessage(flags, id); });
      EXPECT_EQ(ids, order);
    }
  }
}

TEST_F(FitFlagsTest, TheColumnShowsTheShortTexts) {
  const std::pair<unsigned, const char*> cases[] = {
      {kSearchConverged | kAtBound | kGrid | kMisfit, "at a bound: D2 = 0, c2 = 0; grid; misfit"},
      {kLocalStep | kSearchConverged, "not converged"},
      {kSearchConverged, ""},
      {kSearchConverged | kHeldMeniscus | kUndetermined | kImplausible,
       "misfit: the data place the meniscus lower than held; species 2 not determined; species 2 "
       "sedimented before the first scan (s = 270 S)"}};
  for (const auto& [findings, text] : cases)
    EXPECT_EQ(FlagsText(FitFlags(FitOutcome::Completed, ReportOf(findings, FitOutcome::Completed))), text) << findings;
}

// A fit without a result has nothing to flag (it is not computed): not started,
// failed, or stopped before the model of its best point.
TEST_F(FitFlagsTest, AFitWithoutAResultHasNoFlags) {
  for (const FitOutcome outcome : {FitOutcome::NotStarted, FitOutcome::Failed})
    EXPECT_TRUE(FitFlags(outcome, ReportOf(kMisfit | kAtBound, FitOutcome::Completed)).empty());
  FitReport stopped = ReportOf(kMisfit, FitOutcome::Interrupted);
  stopped.stoppedBeforeResult = true;
  EXPECT_TRUE(FitFlags(FitOutcome::Interrupted, stopped).empty());
}

}  // namespace
}  // namespace tarmic
