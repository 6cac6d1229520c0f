// Refinement of continuous models on data of one discrete species (4.4 S, f/f0 1.3):
// meniscus and f/f0 recovered, interrupts reported, the fit vector.
#include "modelcalc/conti_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/modelcalc/modelcalc_test_support.h"

#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/install_hooks.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/conti_fit_status.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/modelfit_hooks.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

using test::Idx;

constexpr int kScans = 8;
constexpr int kRadii = 120;
constexpr double kS = 4.4, kFf0 = 1.3, kNoise = 0.005;

class ContiFitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    InstallDistributionHooks();
    // Data: one discrete species, amplitude 1, plus noise, on coarser Lamm grids for
    // data and kernels alike.
    test::InstallCsFitData(kScans, kRadii, 1500.0, kS, kFf0, kNoise, 3.0f);
  }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    test::ResetModelCalcState();
    ResetDistributionEngine();
    ResetDistributionHooks();
    ResetModelFitHooks();
    ResetContiFitParams();
  }

  // c(s) from 1 to 10 S on 40 points, f/f0 and meniscus floated, no systematic noise.
  static void SetCs(float meniscus, float ff0) {
    ResetModelFlags();
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    test::SetContinuousParams(2.0f, 8.0f, 30.0f, 0.68f, ff0, meniscus, 7.2f);
    AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = 1;
    AnalysisSwitches().pParamFitFlags[13] = 1;
    UnpackModelParams();
  }

  ScopedHeadlessBackend backend;
};

// From 1 mm inside (simplex) or outside (Marquardt-Levenberg) the true meniscus,
// with f/f0 started 15 % high, the fit returns to the meniscus within 20 um and to
// f/f0 within 3 %, the rmsd to the noise, and the regularised result is shown; the
// simplex within a recorded count of evaluations.
TEST_F(ContiFitTest, CsFitRecoversMeniscusAndFrictionalRatio) {
  FitReport report;
  for (auto [method, start] : {std::pair{FitMethod::Simplex, 5.99f}, {FitMethod::Marquardt, 6.01f}}) {
    SetCs(start, 1.5f);
    EXPECT_EQ(ContiFit(nullptr, method, report), FitOutcome::Completed);
    // The simplex with the surface's proposals: 67 evaluations on these few points,
    // whose objective jumps by units of chi-square between neighbouring grids (87
    // with restarts sized by the pass before alone, 148 with restarts of the fresh
    // spread), a recorded ceiling with a fifth to spare.
    if (method == FitMethod::Simplex) EXPECT_LE(FitState().nFitSim, 80);
    EXPECT_NEAR(DataSet().fMeniscus, 6.0, 0.002);
    EXPECT_NEAR(AnalysisSwitches().pParams[13], DataSet().fMeniscus, 1e-6);
    EXPECT_NEAR(SolventConstants().fFrictionalRatio, kFf0, 0.03 * kFf0);
    EXPECT_NEAR(FitRmsd(), kNoise, 0.15 * kNoise);
    EXPECT_TRUE(AnalysisSwitches().bModelComputed && DistributionModels().bFinalFitEvaluation && ContiRun().bRedrawModel);
    EXPECT_FALSE(SimulationMessages().bFitRunning);
  }
}

// The refinement's objective on one thread and on eight (kernels and normal
// equations of every evaluation) gives the same rmsd, bit for bit, at trial points
// around the optimum: a Fit's path and end do not depend on the threads.
TEST_F(ContiFitTest, EvaluationsOnOneAndOnEightThreadsGiveTheSameBits) {
  int threads = 1;
  GetDistributionHooks().runSettings = [&threads] {
    ContiRunSettings s;
    s.threads = threads;
    return s;
  };
  std::vector<float> first;
  for (int t : {1, 8}) {
    threads = LammGlobals().nLammThreads = t;
    SetCs(5.99f, 1.5f);
    ASSERT_EQ(GetContiParams(0, nullptr), 2);
    std::vector<float> rmsd;
    for (auto [ff0, meniscus] : {std::pair{1.5f, 5.99f}, {1.3f, 6.0f}, {1.2f, 6.004f}}) {
      const float p[3] = {0.0f, ff0, meniscus};  // one-based: f/f0, meniscus
      rmsd.push_back(ContiSimplexSim(p, nullptr));
    }
    if (t == 1) {
      first = rmsd;
      EXPECT_LT(rmsd[1], 1.15f * static_cast<float>(kNoise));  // the true values fit
    } else {
      EXPECT_EQ(rmsd, first);
    }
  }
}

// Marquardt-Levenberg from the upper end of the meniscus range 5.97-6.03, f/f0
// started at 1.0 (c(s) on a grid of 0.2 S through the true s): the refinement
// leaves the end it starts at (the difference there is taken inwards) and lands at
// the true meniscus within 0.003 cm, at f/f0 within 3 % and at the noise, naming
// no value at a limit. With the range 6.005-6.03, which leaves out the true
// meniscus, it ends at 6.005, and its status line and the result text say that the
// meniscus stands at its limit.
TEST_F(ContiFitTest, MarquardtLeavesTheEndOfTheMeniscusRange) {
  FitReport report;
  auto start = [](float meniscus, float ff0) {
    SetCs(meniscus, ff0);
    test::SetContinuousParams(3.2f, 5.6f, 13.0f, 0.68f, ff0, meniscus, 7.2f);
    AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = AnalysisSwitches().pParamFitFlags[13] = 1;
    UnpackModelParams();
  };
  start(6.03f, 1.0f);
  EXPECT_EQ(ContiFit(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
  EXPECT_NEAR(DataSet().fMeniscus, 6.0, 0.003);
  EXPECT_NEAR(SolventConstants().fFrictionalRatio, kFf0, 0.03 * kFf0);
  EXPECT_NEAR(FitRmsd(), kNoise, 0.15 * kNoise);
  EXPECT_EQ(AtLimitNote(), "");

  DataSet().fMinMeniscus = 6.005f;
  start(6.02f, 1.3f);
  EXPECT_EQ(ContiFit(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.005f);
  EXPECT_GT(FitRmsd(), 1.15 * kNoise);
  const std::string note = "Meniscus = 6.005 stands at its limit: no free optimum";
  EXPECT_NE(ContiStatusLines()[0].find(note), std::string::npos) << ContiStatusLines()[0];
  EXPECT_NE(BuildFitResultLines()[kSlotStatus].find(note), std::string::npos);
}

// A key during the first evaluation stops the search: the refinement says it was
// interrupted (not converged), the start point is evaluated once more with
// regularisation and shown, the interrupt is cleared. Every evaluation writes its
// progress (status lines, log) as it goes.
TEST_F(ContiFitTest, KeyInterruptsAndIsReportedAsInterruption) {
  FitReport report;
  int evaluations = 0;
  GetDistributionHooks().writeDebugLog = [&](const std::string& text) {
    if (text == "\nEntering ContiSimplexSim") ++evaluations;
  };
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    SetCs(5.99f, 1.5f);
    evaluations = 0;
    AnalysisSwitches().bModelComputed = false;
    UiEvents().Post(Event::KeyDown('x'));
    EXPECT_EQ(ContiFit(nullptr, method, report), FitOutcome::Interrupted);
    EXPECT_LE(evaluations, 2);  // the interrupted one and the final one
    EXPECT_FALSE(FitState().bFitInterrupted);
    EXPECT_FALSE(bUserAbort);
    EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.99f);  // nothing better was found
    EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.5f);
    EXPECT_TRUE(AnalysisSwitches().bModelComputed);
    EXPECT_GT(FitRmsd(), kNoise);
  }
  EXPECT_FLOAT_EQ(SearchSettings().fAnnealTemp, SearchSettings().fAnnealStartTemp);
  // Nothing floated: Fit runs the analysis once.
  SetCs(6.0f, 1.3f);
  AnalysisSwitches().pParamFitFlags[13] = AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = 0;
  EXPECT_EQ(ContiFit(nullptr, FitMethod::Simplex, report), FitOutcome::Completed);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NEAR(FitRmsd(), kNoise, 0.15 * kNoise);
}

// A key at evaluation k of a c(s) refinement whose start is on show (a Run of it)
// stops it at the best point evaluated: what is shown is never worse than the start
// (within the half per mille by which a regularised result may differ from the
// unregularised evaluation that ranked it). Before, a key during the start simplex,
// whose start vertex is evaluated last, showed a worse vertex.
TEST_F(ContiFitTest, AStoppedRefinementShowsNoWorseThanItsStart) {
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    for (const int stopAt : {1, 2, 3, 6, 12}) {
      SCOPED_TRACE(::testing::Message() << "method " << static_cast<int>(method) << ", key at " << stopAt);
      SetCs(5.99f, 1.5f);
      AnalysisSwitches().pParamFitFlags[13] = AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = 0;
      FitReport run;
      ASSERT_EQ(ContiFit(nullptr, FitMethod::Simplex, run), FitOutcome::Completed);
      const double start = FitRmsd();
      AnalysisSwitches().pParamFitFlags[13] = AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = 1;
      UnpackModelParams();
      int calls = 0;
      const ContiRunFunction runner = [&](Window* window) {
        const ContiRunResult result = RunContiSed(window);
        if (!DistributionModels().bFinalFitEvaluation && ++calls == stopAt) bUserAbort = true;
        return result;
      };
      FitReport report;
      EXPECT_EQ(ContiFit(nullptr, method, report, runner), FitOutcome::Interrupted);
      EXPECT_TRUE(AnalysisSwitches().bModelComputed);
      EXPECT_LE(FitRmsd(), start * 1.0005) << "start " << start;
    }
  }
}

// The refinement that goes round a trial point without a result and ends clear of
// it at the truth says so once, after the fit, in one information box with the
// reason, whatever its search; no box while it runs. The first point more than 5 %
// from the start in any value is refused.
TEST_F(ContiFitTest, ARefinementThatWentRoundARefusedTrialPointSaysSoInOneNote) {
  SearchSettings().nAnnealTemps = 1;
  SearchSettings().nAnnealIters = 20;
  const std::string reason = "the kernels of these values were refused";
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    SCOPED_TRACE(static_cast<int>(method));
    SetCs(5.99f, 1.5f);
    std::vector<float> start(Idx(GetContiParams(0, nullptr)) + 1);
    GetContiParams(static_cast<int>(start.size()) - 1, start.data());
    int refused = 0;
    const ContiRunFunction runner = [&](Window* window) {
      if (test::FirstTrialBeyond(start, 0.05f, GetContiParams, &refused))
        return ContiRunResult{ContiRunOutcome::NotStarted, ErrorBoxMessage(reason)};
      return RunContiSed(window);
    };
    backend->ClearTranscript();
    FitReport report;
    EXPECT_EQ(ContiFit(nullptr, method, report, runner), FitOutcome::Completed);
    EXPECT_EQ(refused, 1) << "no trial point was refused";
    EXPECT_NEAR(SolventConstants().fFrictionalRatio, kFf0, 0.03 * kFf0);
    EXPECT_TRUE(AnalysisSwitches().bModelComputed);
    EXPECT_TRUE(backend->Transcript().empty()) << backend->Transcript().front().text;
    test::ExpectWentRoundNote(report, reason);
  }
}

// An evaluation at the vector of the kernels in place solves the equations in place
// (same rmsd, no kernels computed); a moved meniscus recomputes them.
TEST_F(ContiFitTest, KernelsAreRecomputedOnlyForANewVector) {
  int kernelRuns = 0;
  GetDistributionHooks().writeDebugLog = [&](const std::string& text) {
    if (text == "\n RunContiSed loop and sims done") ++kernelRuns;
  };
  SetCs(6.0f, 1.3f);
  UnpackModelParams();
  const std::vector<float> p{0.0f, 1.3f, 6.0f}, moved{0.0f, 1.3f, 6.004f};
  const float first = ContiSimplexSim(p.data(), nullptr);
  EXPECT_EQ(kernelRuns, 1);
  EXPECT_FLOAT_EQ(ContiSimplexSim(p.data(), nullptr), first);
  EXPECT_EQ(kernelRuns, 1);
  EXPECT_NE(ContiSimplexSim(moved.data(), nullptr), first);
  EXPECT_EQ(kernelRuns, 2);
  EXPECT_NEAR(first, kNoise, 0.15 * kNoise);
}

// The final, regularised evaluation of a refinement whose grid held solves the
// kernels and equations its grid check left in place (it computes no kernel), and
// what it shows is what a Run at the end's values computes from nothing: the same
// rmsd and distribution, bit for bit, from the surface search and from
// Marquardt-Levenberg alike.
TEST_F(ContiFitTest, TheFinalEvaluationSolvesTheEndsEquationsAsARunWould) {
  int finalKernelRuns = 0;
  GetDistributionHooks().writeDebugLog = [&](const std::string& text) {
    if (text == "\n RunContiSed loop and sims done" && DistributionModels().bFinalFitEvaluation) ++finalKernelRuns;
  };
  for (auto [method, start] : {std::pair{FitMethod::Simplex, 5.995f}, {FitMethod::Marquardt, 6.005f}}) {
    SetCs(start, 1.4f);
    finalKernelRuns = 0;
    FitReport report;
    ASSERT_EQ(ContiFit(nullptr, method, report), FitOutcome::Completed);
    ASSERT_EQ(report.gridRefined, 0) << "the grid held";
    EXPECT_EQ(finalKernelRuns, 0);
    const auto distribution = [] {
      const DistributionVectorSet& v = DistributionVectors();
      return std::vector<float>(v.pDistValues + 1, v.pDistValues + v.nDistGrid + 1);
    };
    const std::vector<float> shown = distribution();
    const float rmsd = Rmsd().fFitRmsd;
    DistributionModels().bFinalFitEvaluation = false;
    ASSERT_EQ(RunContiSed(nullptr).outcome, ContiRunOutcome::Computed);
    EXPECT_EQ(Rmsd().fFitRmsd, rmsd);
    EXPECT_EQ(distribution(), shown);
  }
}

// The vector: entries in table order, only while floated; packing and unpacking
// bounds.
TEST_F(ContiFitTest, FitVectorFollowsTheModel) {
  SetCs(6.0f, 1.3f);
  AnalysisSwitches().pParamFitFlags[14] = 1;
  DataSet().fMinBottom = 7.1f;
  DataSet().fMaxBottom = 7.3f;
  BufferSedimentation().BufferSed = BufferSedSettings{};
  ModelFlags().bBufferSedCorrection = true;
  BufferSedimentation().BufferSed.fitSampleD = BufferSedimentation().BufferSed.fitSampleS = true;
  BufferSedimentation().BufferSed.fitSignal = true;  // solved with the distribution: never in the vector
  ASSERT_EQ(GetContiParams(0, nullptr), 5);
  std::vector<float> v(6, 0.0f);
  GetContiParams(5, v.data());
  EXPECT_EQ(v, (std::vector<float>{0.0f, 86.0f, 0.21f, 1.3f, 6.0f, 7.2f}));

  // Unpacking bounds: buffer D absolute and within [0.01, 1000], f/f0 kept
  // positive, meniscus and bottom within their ranges, all mirrored in pParams.
  for (auto [d, expected] : {std::pair{-5.0f, 5.0}, {2000.0f, 1000.0}, {0.001f, 0.01}}) {
    const std::vector<float> u{0.0f, d, 0.3f, -1.0f, 5.9f, 7.5f};
    ApplyContiParams(u.data());
    EXPECT_FLOAT_EQ(BufferSedimentation().BufferSed.sampleD, expected);  // the bounds are floats
  }
  EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.sampleS, static_cast<double>(0.3f));
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 0.01f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], 0.01f);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.97f);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.3f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[14], 7.3f);
  ModelFlags().bFitMAndS = true;
  const std::vector<float> mb{0.0f, 3.0f, 0.3f, 1.2f, 6.0f, 7.2f};
  ApplyContiParams(mb.data());
  EXPECT_DOUBLE_EQ(BufferSedimentation().BufferSed.sampleMb, 10.0);
  ModelFlags().bFitMAndS = false;
  ModelFlags().bBufferSedCorrection = false;
  BufferSedimentation().BufferSed = BufferSedSettings{};

  // The bimodal c(s): a negative second f/f0 becomes 0, and the analysis with it
  // still computes (the points of its s range take mass 0 and the default D).
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  test::SetContinuousParams(2.0f, 8.0f, 30.0f, 0.68f, 1.3f, 6.0f, 7.2f);
  ModelFlags().bContiSModel = false;
  ModelFlags().bCsBimodalFf0 = true;
  AnalysisSwitches().pParams[6] = 5.0f;  // s range of the second ratio
  AnalysisSwitches().pParams[8] = 6.0f;
  AnalysisSwitches().pParams[10] = 1.5f;
  AnalysisSwitches().pParamFitFlags[10] = 1;
  UnpackModelParams();
  ASSERT_EQ(GetContiParams(0, nullptr), 1);
  const float negative[] = {0.0f, -0.5f};
  ApplyContiParams(negative);
  EXPECT_EQ(AnalysisSwitches().pParams[10], 0.0f);
  const float rmsd = ContiSimplexSim(negative, nullptr);
  EXPECT_TRUE(std::isfinite(rmsd));
  EXPECT_LT(rmsd, 1.0f);

  // c(s) with one discrete M: D or M in slot 10 and s in slot 6.
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bCsOneDiscreteM = true;
  for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
  AnalysisSwitches().pParamFitFlags[6] = AnalysisSwitches().pParamFitFlags[10] = 1;
  AnalysisSwitches().pParams[6] = 2.5f;
  AnalysisSwitches().pParams[10] = -3.0f;  // packing raises a negative M to 0.01
  ASSERT_EQ(GetContiParams(0, nullptr), 2);
  GetContiParams(2, v.data());
  EXPECT_FLOAT_EQ(v[1], 2.5f);
  EXPECT_FLOAT_EQ(v[2], 0.01f);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[10], 0.01f);
}

}  // namespace
}  // namespace tarmic
