// A key that stops a Run, a Fit or a Monte Carlo in one of its phases, with the
// whole window: the command says once that the user stopped it, and what is on show
// afterwards is never taken for a result of the stopped computation. The key is
// typed as the window system delivers it, when a poll lets the backend pump its
// events, at a chosen poll, so that no case depends on timing.
#include "distribution_window_test_support.h"

#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "app/shell_hooks.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_threads.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_state.h"
#include "modelfit/model_params.h"
#include "platform/worker_threads.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class RunInterruptTest : public DistributionWindowTest {
 protected:
  void TearDown() override {
    Backend().SetPumpHook(nullptr);
    SetWorkerThreadStartFailure(0, nullptr);
    DistributionWindowTest::TearDown();
  }

  // Types a key at the first poll at which each of whens holds, in turn; the number
  // of keys typed is in keys_.
  void KeysWhen(std::vector<std::function<bool()>> whens) {
    keys_ = 0;
    Backend().SetPumpHook([this, whens] {
      if (keys_ < static_cast<int>(whens.size()) && whens[static_cast<std::size_t>(keys_)]()) {
        ++keys_;
        Backend().Headless().PressKey('S');
      }
    });
  }
  // Dispatches a command whose boxes are answered with OK, then removes the keys.
  void DispatchStopped(int command) {
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(command);
    Backend().SetPumpHook(nullptr);
  }
  int keys_ = 0;

  // The discrete-species model with the one species of the synthetic run.
  void ChooseSyntheticSpecies() {
    Dispatch(kCmDiscreteSpecies);
    for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
    AnalysisSwitches().pSpeciesLinked[1] = 1;
    ModelParams().pSpeciesS[1] = static_cast<float>(kSyntheticS);
    ModelParams().pSpeciesMassOrD[1] = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f) * 1e7f;
    ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
  }

  // The distribution and fit rows on show.
  static std::vector<float> Distribution() {
    return DistributionVectors().pDistValues ? std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1) : std::vector<float>{};
  }
  static std::vector<float> FitRows() {
    std::vector<float> all;
    for (int s = 1; s <= DataSet().nScans; ++s) all.insert(all.end(), DataSet().ppFit[Idx(s)] + 1, DataSet().ppFit[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
    return all;
  }
  static bool AllZero(const std::vector<float>& v) {
    for (float x : v)
      if (x != 0.0f) return false;
    return true;
  }
};

struct Moment {
  const char* name;
  std::function<bool()> when;
};

// The one box of a stopped Run: the program's "user interrupt", that the Run was
// stopped, and whether the result on show is the earlier one.
void ExpectStoppedRunNote(const std::vector<std::string>& boxes, bool earlierOnShow, const std::string& what) {
  ASSERT_EQ(boxes.size(), 1u) << what;
  EXPECT_EQ(boxes[0].rfind("user interrupt\n", 0), 0u) << what << ": " << boxes[0];
  EXPECT_NE(boxes[0].find("stopped before it had a result"), std::string::npos) << what;
  EXPECT_EQ(boxes[0].find("the result on show is the earlier one") != std::string::npos, earlierOnShow)
      << what << ": " << boxes[0];
}

// A c(s) Run stopped by a key in its kernels, its normal equations or its solve,
// with the kernels' worker threads and with every one of them refused: one box says
// the Run was stopped and that the distribution and fit on show, which stay as they
// were, are the earlier result. With no result before the Run nothing is shown and
// the note does not speak of one. A Monte Carlo stopped in the kernels of its best
// fit says so once and keeps the distribution.
TEST_F(RunInterruptTest, KeyInAnyPhaseOfACsRunIsSaidOnceAndTheEarlierResultNamed) {
  LoadSyntheticRun();
  ChooseSmallCs();
  bMultiThreading = true;
  LammGlobals().nLammThreads = 3;
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::vector<float> shown = Distribution(), fit = FitRows();
  ASSERT_FALSE(shown.empty());

  enum class Phase { Kernels, Equations, Solve } phase = Phase::Kernels;
  const auto log = GetDistributionHooks().writeDebugLog;
  GetDistributionHooks().writeDebugLog = [&phase, log](const std::string& text) {
    if (text == "\n RunContiSed starting normal equations") phase = Phase::Equations;
    if (text == "\nStarting Regularization") phase = Phase::Solve;
    if (log) log(text);
  };
  const std::vector<Moment> moments = {
      {"the kernels", [&] { return phase == Phase::Kernels && LammProgress().nLammEquationsDone >= 1; }},
      {"the normal equations", [&] { return phase == Phase::Equations; }},
      {"the solve", [&] { return phase == Phase::Solve; }},
  };
  for (const bool refused : {false, true}) {
    if (refused) {
      SetWorkerThreadStartFailure(1, [] {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      });
    }
    for (const Moment& m : moments) {
      const std::string what = std::string(m.name) + (refused ? ", threads refused" : "");
      phase = Phase::Kernels;
      KeysWhen({m.when});
      DispatchStopped(kCmRun);
      ASSERT_EQ(keys_, 1) << what << ": no poll then";
      EXPECT_EQ(ContiRun().eLastContiRunOutcome, ContiRunOutcome::Interrupted) << what;
      ExpectStoppedRunNote(BoxTexts(), true, what);
      EXPECT_TRUE(AnalysisSwitches().bModelComputed) << what;
      EXPECT_EQ(Distribution(), shown) << what;
      EXPECT_EQ(FitRows(), fit) << what;
      EXPECT_FALSE(bUserAbort) << what;
    }
  }
  SetWorkerThreadStartFailure(0, nullptr);

  // Monte Carlo, stopped in the kernels of the best fit of the measured data.
  phase = Phase::Kernels;
  KeysWhen({[&] { return LammProgress().nLammEquationsDone >= 1; }});
  Backend().ClearTranscript();
  Backend().QueueInput("5");
  Backend().QueueInput("0.68");
  Backend().QueueFolder(ProgramDir());
  Backend().QueueMessageBox(IDNO);
  Backend().AnswerUnscriptedBoxes(IDOK);
  Dispatch(kCmMonteCarloDistributions);
  Backend().SetPumpHook(nullptr);
  ASSERT_EQ(keys_, 1);
  std::vector<std::string> notes;
  for (const std::string& text : BoxTexts())
    if (text.find("interrupt") != std::string::npos) notes.push_back(text);
  EXPECT_EQ(notes, std::vector<std::string>{"Monte Carlo interrupted after 0 sets"});
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(Distribution(), shown);

  // No result before the Run: none after it, and the note speaks of none.
  ClearDistribution();
  AnalysisSwitches().bModelComputed = false;
  phase = Phase::Kernels;
  KeysWhen({moments[0].when});
  DispatchStopped(kCmRun);
  ASSERT_EQ(keys_, 1);
  ExpectStoppedRunNote(BoxTexts(), false, "no earlier result");
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_TRUE(Distribution().empty());
}

// A Run of the discrete-species model stopped by a key in a species' solution: one
// box says the Run was stopped and the earlier fit is on show, which stays as it
// was.
TEST_F(RunInterruptTest, KeyInADiscreteRunIsSaidOnceAndTheEarlierFitNamed) {
  LoadSyntheticRun();
  ChooseSyntheticSpecies();
  AnalysisSwitches().bFitRINoise = AnalysisSwitches().bFitTINoise = true;
  PackModelParams();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::vector<float> fit = FitRows();

  KeysWhen({[] { return true; }});
  DispatchStopped(kCmRun);
  ASSERT_EQ(keys_, 1);
  ExpectStoppedRunNote(BoxTexts(), true, "species solution");
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(FitRows(), fit);
  EXPECT_FALSE(bUserAbort);
}

// A Fit whose computation of its best point a key stops (a first key stopped the
// search, a second one that computation) has no model of that point to show: the
// best parameters are set, no fit, distribution or fit-result text is shown, and
// one box says so instead of "the best parameters found so far are shown"; for the c(s) refinement
// and for the discrete-species fit. A refinement with nothing floated is one Run:
// a key in it gives that Run's note alone.
TEST_F(RunInterruptTest, KeyInTheModelOfTheBestPointOfAFitIsSaidOnce) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::vector<float> shown = Distribution();
  // The fit-result text drawn by the paints after each Fit.
  int resultTexts = 0;
  const auto text = GetShellHooks().showFitResultText;
  ASSERT_TRUE(text);
  GetShellHooks().showFitResultText = [&resultTexts, text](TXLAWindow& w, DC& dc) {
    ++resultTexts;
    text(w, dc);
  };

  // Nothing floated: the Run's note.
  KeysWhen({[] { return LammProgress().nLammEquationsDone >= 1; }});
  DispatchStopped(kCmFit);
  ASSERT_EQ(keys_, 1);
  ExpectStoppedRunNote(BoxTexts(), true, "nothing floated");
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(Distribution(), shown);
  Paint();
  EXPECT_EQ(resultTexts, 0);

  // The meniscus floated.
  AnalysisSwitches().pParamFitFlags[13] = 1;
  UnpackModelParams();
  KeysWhen({[] { return !DistributionModels().bFinalFitEvaluation && LammProgress().nLammEquationsDone >= 1; },
            [] { return DistributionModels().bFinalFitEvaluation && LammProgress().nLammEquationsDone >= 1; }});
  DispatchStopped(kCmFit);
  ASSERT_EQ(keys_, 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kFitStoppedBeforeModelText});
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_TRUE(Distribution().empty());
  EXPECT_TRUE(AllZero(FitRows()));
  EXPECT_FALSE(Win().bFitInProgress);
  Paint();
  EXPECT_EQ(resultTexts, 0);
  AnalysisSwitches().pParamFitFlags[13] = 0;

  // The discrete-species model with its s floated.
  ChooseSyntheticSpecies();
  PackModelParams();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  AnalysisSwitches().pParamFitFlags[1 + nSpeciesSlots] = 1;
  UnpackModelParams();
  int simsAtKey = -1;
  KeysWhen({[&] {
              simsAtKey = FitState().nFitSim;
              return FitState().nFitSim >= 1;
            },
            [&] { return FitState().nFitSim > simsAtKey; }});
  DispatchStopped(kCmFit);
  ASSERT_EQ(keys_, 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kFitStoppedBeforeModelText});
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
  EXPECT_TRUE(AllZero(FitRows()));
  Paint();
  EXPECT_EQ(resultTexts, 0);
}

}  // namespace
}  // namespace tarmic::testing
