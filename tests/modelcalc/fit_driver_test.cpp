// The discrete-species fit recovers s, D and the meniscus from a start 10 % off; the
// fit vector round trip; interrupts.

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "modelcalc/fit_result_text.h"
#include "services/path_table.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

using namespace test::fitdata;

class FitDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetModelCalcState();
    D = test::InstallOneSpeciesData();
    DataSet().fMinMeniscus = 5.97f;
    DataSet().fMaxMeniscus = 6.03f;
    SetSpecies(kS, D, kMeniscus);
  }
  void TearDown() override { test::ResetModelCalcState(); }

  // One species with s, D and the meniscus floated.
  static void SetSpecies(double s, double d, double meniscus) {
    test::SetOneSpecies(s, d, 1, meniscus, true);
  }

  void ExpectRecovered() {
    EXPECT_NEAR(ModelParams().pSpeciesS[1], kS, 0.005 * kS);
    EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], D, 0.02 * D);
    EXPECT_NEAR(DataSet().fMeniscus, kMeniscus, 0.002);
    EXPECT_NEAR(FitRmsd(), kNoise, 0.1 * kNoise);
    EXPECT_FALSE(SimulationMessages().bFitRunning);
    EXPECT_FALSE(FitState().bFitInterrupted);
  }

  double D = 0.0;
  ScopedHeadlessBackend backend;
};

// Simplex, Marquardt-Levenberg and simulated annealing (a short schedule with its
// final Marquardt-Levenberg) each reach the true species from a start 10 % off.
TEST_F(FitDriverTest, EveryMethodRecoversSpecies) {
  FitReport report;
  SearchSettings().nAnnealTemps = 2;
  SearchSettings().nAnnealIters = 40;
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    SetSpecies(1.1 * kS, 0.9 * D, 6.015);
    EXPECT_EQ(FitDriver(nullptr, method, report), FitOutcome::Completed);
    ExpectRecovered();
  }
  EXPECT_TRUE(report.saved.ok) << report.saved.message;
  // Marquardt-Levenberg's covariance report that cannot be written (its folder is
  // a file) comes back with the system's reason; the fit itself completes.
  const std::string kept = szMLCovarianceFile;
  const std::string notAFolder = std::string(TARMIC_TEST_OUTPUT_DIR) + "/fit_driver_not_a_folder";
  std::FILE* f = std::fopen(notAFolder.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  szMLCovarianceFile = notAFolder + "/covariance.txt";
  SetSpecies(1.1 * kS, 0.9 * D, 6.015);
  FitReport unsaved;
  EXPECT_EQ(FitDriver(nullptr, FitMethod::Marquardt, unsaved), FitOutcome::Completed);
  szMLCovarianceFile = kept;
  ExpectRecovered();
  EXPECT_FALSE(unsaved.saved.ok);
  EXPECT_NE(unsaved.saved.message.find("Not a directory"), std::string::npos) << unsaved.saved.message;
}

// The fit vector: floated extras first, then the floated pParams entries in
// increasing k; GetFloatingExtraParams reads what SetFloatingExtraParams applied,
// with the bounds of each value (cone radius within [0.01, 1], meniscus within its
// fit range, amplitudes not negative).
TEST_F(FitDriverTest, FitVectorPackerAndUnpackerAgree) {
  FluorescenceDetection().bExcitationShadow = FluorescenceDetection().bFitConeRadius = true;
  FluorescenceDetection().fConeRadius = 0.2f;
  AnalysisSwitches().pParamFitFlags[9] = 1;  // amplitude of species 1
  ASSERT_EQ(GetFloatingExtraParams(0, nullptr), 5);
  std::vector<float> v(6, 0.0f);
  GetFloatingExtraParams(5, v.data());
  EXPECT_EQ(v, (std::vector<float>{0.0f, 0.2f, ModelParams().pSpeciesMassOrD[1], float(kS), 1.0f, float(kMeniscus)}));
  const std::vector<float> applied{0.0f, 3.0f, 5.5f, 4.1f, -0.2f, 5.9f};
  SetFloatingExtraParams(applied.data());
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConeRadius, 1.0f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesMassOrD[1], 5.5f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], 4.1f);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesAmplitude[1], 0.0f);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.97f);
  GetFloatingExtraParams(5, v.data());
  EXPECT_EQ(v, (std::vector<float>{0.0f, 1.0f, 5.5f, 4.1f, 0.0f, 5.97f}));

  // The vbar of the inhomogeneous solvent stands first when it is floated.
  SolventSettings().gInhomSolvent.bInhomogeneousSolvent = SolventSettings().gInhomSolvent.bFitVbar = true;
  ASSERT_EQ(GetFloatingExtraParams(0, nullptr), 6);
  v.assign(7, 0.0f);
  GetFloatingExtraParams(6, v.data());
  EXPECT_FLOAT_EQ(v[1], SolventConstants().VBAR);
  std::vector<float> withVbar{0.0f, 0.75f, 1.0f, 5.5f, 4.1f, 0.0f, 5.97f};
  SetFloatingExtraParams(withVbar.data());
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.75f);
  EXPECT_FLOAT_EQ(SolventConstants().fVRho, 0.75f * SolventConstants().fBufferDensity);
  ResetInhomSolventSettings();

  // A floated buffer-mismatch signal stands once, as its extra value: the buffer
  // slot's amplitude entry (read by nothing while amplitudes are not solved
  // linearly) is no dimension of the search.
  const int before = GetFloatingExtraParams(0, nullptr);
  ModelFlags().bBufferSedCorrection = true;
  BufferSedimentation().BufferSed.fitSignal = true;
  AnalysisSwitches().pParamFitFlags[12] = 1;
  EXPECT_EQ(GetFloatingExtraParams(0, nullptr), before + 1);
  AnalysisSwitches().pParamFitFlags[12] = 0;
  ModelFlags().bBufferSedCorrection = BufferSedimentation().BufferSed.fitSignal = false;

  // The third cumulant of the DLS cumulant mode keeps its sign (a mass or D would
  // be held at 0).
  ModelFlags().bCumulants = true;
  AnalysisSwitches().pParamFitFlags[3] = 1;
  const int n = GetFloatingExtraParams(0, nullptr);
  int position = n;  // entry 3 stands before the floated entries above it
  for (int k = 4; k <= nModelParams; ++k) position -= AnalysisSwitches().pParamFitFlags[k] ? 1 : 0;
  std::vector<float> vector(static_cast<std::size_t>(n) + 1, 0.0f);
  GetFloatingExtraParams(n, vector.data());
  vector[static_cast<std::size_t>(position)] = -0.02f;
  SetFloatingExtraParams(vector.data());
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[3], -0.02f);
  AnalysisSwitches().pParamFitFlags[3] = 0;
  ModelFlags().bCumulants = false;

  // Convergence of the passes: relative to |old|, and |new| when old is 0.
  EXPECT_NEAR(RefitRelativeChange(-2.0, -2.1), 0.05, 1e-12);
  EXPECT_NEAR(RefitRelativeChange(-2.0, 2.0), 2.0, 1e-12);
  EXPECT_DOUBLE_EQ(RefitRelativeChange(0.0, -0.003), 0.003);
}

// A key press during a fit ends the search after that evaluation: the
// fit reports the interruption, the interrupt is cleared, and the model of the best
// point is computed.
TEST_F(FitDriverTest, InterruptIsReportedAsInterruption) {
  FitReport report;
  SetSpecies(1.1 * kS, 0.9 * D, 6.015);
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    UiEvents().Post(Event::KeyDown('x'));
    EXPECT_EQ(FitDriver(nullptr, method, report), FitOutcome::Interrupted);
    EXPECT_FALSE(FitState().bFitInterrupted);
    EXPECT_FALSE(SimulationMessages().bFitRunning);
    EXPECT_FALSE(bUserAbort);
    EXPECT_LT(FitState().nFitSim, 8);
    EXPECT_TRUE(std::isfinite(ModelParams().pSpeciesS[1]) && ModelParams().pSpeciesS[1] > 0.0f);
    EXPECT_GT(FitRmsd(), kNoise);  // the start point, computed
  }
  EXPECT_FLOAT_EQ(SearchSettings().fAnnealTemp, SearchSettings().fAnnealStartTemp);
}

// The start simplex, rule by rule of the models: vertices 2..n+1 scatter every
// floated entry by r x its value; a mass of a self-association model never turns
// negative, while its log K keeps its sign; the log K entries 3 and 7 of the larger
// self-association models get an absolute scatter beside the relative one (so a log
// K of 0 moves too); the four species values of the non-interacting model are kept
// at 0 or above. With r = 2 half the relative steps cross 0, so each rule shows.
TEST_F(FitDriverTest, StartSimplexFollowsTheRuleOfEachEntry) {
  SearchSettings().fSimplexRandomization = 2.0f;
  for (auto [name, model] : {std::pair{"monomer-dimer", &ModelFlags().bMonomerDimer}, {"monomer-trimer", &ModelFlags().bMonomerTrimer},
                             {"1-2-4", &ModelFlags().bAssoc124}, {"discrete", &ModelFlags().bDiscreteModel}}) {
    SCOPED_TRACE(name);
    ResetModelFlags();
    *model = true;
    for (int k = 1; k <= nModelParams; ++k) AnalysisSwitches().pParamFitFlags[k] = 0;
    // Masses 1 and 2, log K 3 (negative: a weak association) and 4, log K 7.
    const float start[] = {0.0f, 40000.0f, 80000.0f, -2.5f, 1.5f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int k : {1, 2, 3, 4, 7}) {
      AnalysisSwitches().pParamFitFlags[k] = 1;
      AnalysisSwitches().pParams[k] = start[k];
    }
    const int n = GetFloatingExtraParams(0, nullptr);
    ASSERT_EQ(n, 5);
    const int trials = 400;
    int negative[5] = {}, moved7 = 0;
    double sumLogK = 0.0;
    for (int t = 0; t < trials; ++t) {
      SimplexSet set(n);
      for (int i = 1; i <= n; ++i) set.p[1][static_cast<std::size_t>(i)] = start[i <= 4 ? i : 7];
      InitSimplex(set);
      for (int j = 2; j <= n + 1; ++j) {
        const std::vector<float>& v = set.p[static_cast<std::size_t>(j)];
        for (int i = 1; i <= 4; ++i) negative[i] += v[static_cast<std::size_t>(i)] < 0.0f;
        sumLogK += v[3];
        moved7 += v[5] != 0.0f;
      }
    }
    const int vertices = trials * n;
    const bool selfAssociation = model != &ModelFlags().bDiscreteModel;
    // Masses: never negative (self-association and discrete alike).
    EXPECT_EQ(negative[1], 0);
    EXPECT_EQ(negative[2], 0);
    if (selfAssociation) {
      // log K: the scatter N(-2.5, 5) is below 0 in 69 % of the vertices, and its
      // mean stays at -2.5 (clipping at 0 would raise it to about -0.3).
      EXPECT_NEAR(static_cast<double>(negative[3]) / vertices, 0.69, 0.05);
      EXPECT_NEAR(sumLogK / vertices, -2.5, 0.3);
      // Entry 4 has no rule here: N(1.5, 3) is below 0 in 31 %.
      EXPECT_NEAR(static_cast<double>(negative[4]) / vertices, 0.31, 0.05);
    } else {
      EXPECT_EQ(negative[3] + negative[4], 0);
    }
    // log K 0 at entry 7 moves only with the absolute scatter of the 1-2-4 model.
    EXPECT_EQ(moved7, model == &ModelFlags().bAssoc124 ? vertices : 0);
  }
}

// A meniscus range that reaches past the left fitting limit: trial points beyond the
// limit are refused by the solver. The fit ends inside the geometry at the true
// meniscus, and the refusal is said once, after the fit, as a note that the result
// stands (not as an error); any other message once per fit, not once per trial.
TEST_F(FitDriverTest, RefusedTrialPointsShowTheirBoxOncePerFit) {
  FitReport report;
  DataSet().fFitLeftLim = 6.03f;
  SetLeftFitLimitIndices();
  DataSet().fMinMeniscus = 5.96f;
  DataSet().fMaxMeniscus = 6.06f;
  SetSpecies(1.05 * kS, D, 6.02);
  backend->AnswerUnscriptedBoxes(IDOK);
  backend->ClearTranscript();
  EXPECT_EQ(FitDriver(nullptr, FitMethod::Simplex, report), FitOutcome::Completed);
  std::map<std::string, int> shown;
  for (const TranscriptEntry& e : backend->Transcript())
    if (e.kind == "MessageBox") ++shown[e.text];
  for (const auto& [text, count] : shown) {
    EXPECT_EQ(count, 1) << text;
    EXPECT_EQ(text.find("meniscus"), std::string::npos) << "the refusal said during the fit: " << text;
  }
  // The range did reach past the limit.
  EXPECT_EQ(report.message.caption, "Note");
  EXPECT_FALSE(report.message.errorBox);
  EXPECT_NE(report.message.text.find(std::string("went round them.") + kFitConvergedText + "\nThe reason of the first: "),
            std::string::npos)
      << report.message.text;
  EXPECT_NEAR(DataSet().fMeniscus, kMeniscus, 0.002);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], kS, 0.005 * kS);
  // Outside a fit every message is shown again.
  backend->ClearTranscript();
  DataSet().fMeniscus = 6.04f;
  PackModelParams();
  CalculateModel(nullptr);
  CalculateModel(nullptr);
  EXPECT_GE(std::count_if(backend->Transcript().begin(), backend->Transcript().end(),
                          [](const TranscriptEntry& e) { return e.kind == "MessageBox"; }),
            2);
}

// Every search kind that goes round a refused trial point and ends clear of it at
// the truth says so once, after the fit: one information box ("Note", not "Error")
// that some trial points could not be computed, with the reason, and that the
// result stands. The first point more than 3 % from the start in any value is
// refused; the annealing's final Marquardt-Levenberg adds no second note, and
// nothing is shown while the fit runs.
TEST_F(FitDriverTest, AFitThatWentRoundARefusedTrialPointSaysSoInOneNote) {
  SearchSettings().nAnnealTemps = 2;
  SearchSettings().nAnnealIters = 40;
  const std::string reason = "the model of these values was refused";
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    SCOPED_TRACE(static_cast<int>(method));
    SetSpecies(1.1 * kS, 0.9 * D, 6.015);
    std::vector<float> start(static_cast<std::size_t>(GetFloatingExtraParams(0, nullptr)) + 1);
    GetFloatingExtraParams(static_cast<int>(start.size()) - 1, start.data());
    int refused = 0;
    backend->ClearTranscript();
    FitReport report;
    EXPECT_EQ(FitDriver(nullptr, method, report, test::RefusingFirstTrialBeyond(start, 0.03f, reason, &refused)),
              FitOutcome::Completed);
    EXPECT_EQ(refused, 1) << "no trial point was refused";
    ExpectRecovered();
    EXPECT_TRUE(backend->Transcript().empty()) << backend->Transcript().front().text;
    test::ExpectWentRoundNote(report, reason);
  }
}

// No model is computed from a trial point with a value that is no number, infinite
// or a million times its start value (what an annealing simplex that wandered over
// refused points proposes): the objective returns kNoModelRmsd before anything is
// applied, and the point is no refused trial. Before, the solver was handed s = nan
// and said so in the fit's note.
TEST_F(FitDriverTest, NoModelIsComputedFromANaNOrAbsurdTrialPoint) {
  SetSpecies(1.1 * kS, 0.9 * D, 6.015);
  int computed = 0;
  FitObjective objective(nullptr, [&computed](Window* window) {
    ++computed;
    return CalculateModel(window);
  });
  const int n = GetFloatingExtraParams(0, nullptr);
  std::vector<float> start(static_cast<std::size_t>(n) + 1);
  GetFloatingExtraParams(n, start.data());
  for (int i = 1; i <= n; ++i)
    for (const float bad : {std::nanf(""), INFINITY, -INFINITY, 2e6f * std::max(std::fabs(start[static_cast<std::size_t>(i)]), 1.0f)}) {
      std::vector<float> p = start;
      p[static_cast<std::size_t>(i)] = bad;
      EXPECT_EQ(objective(p.data()), kNoModelRmsd) << i << " " << bad;
    }
  EXPECT_EQ(computed, 0);
  EXPECT_EQ(objective.Refused().count, 0);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], static_cast<float>(1.1 * kS));
  // A far but sane point is computed.
  std::vector<float> far = start;
  far[1] *= 100.0f;
  objective(far.data());
  EXPECT_EQ(computed, 1);
}

// Annealing (one iteration per temperature) whose trial points with
// the meniscus more than 0.01 cm from the truth are refused, most of its start
// simplex (spread a third of the meniscus range): its last simplex holds such a
// vertex, but the fit ends with its final Marquardt-Levenberg, which converges at
// the truth: the note speaks of that end (the trial points gone round, converged),
// not of "did not converge" next to a refused vertex of the annealing. Before, the
// annealing's note stood.
TEST_F(FitDriverTest, AnnealingEndsWithTheEndOfItsFinalMethod) {
  SearchSettings().nAnnealTemps = 2;
  SearchSettings().nAnnealIters = 1;
  SetSpecies(1.1 * kS, 0.9 * D, kMeniscus + 0.005);
  int refused = 0;
  FitReport report;
  EXPECT_EQ(FitDriver(nullptr, FitMethod::Annealing, report,
                      [&](Window* window) {
                        if (std::fabs(DataSet().fMeniscus - kMeniscus) > 0.01f) {
                          ++refused;
                          return ModelResult{ModelStatus::Failed, "meniscus out of reach", true, {}, false};
                        }
                        return CalculateModel(window);
                      }),
            FitOutcome::Completed);
  EXPECT_GT(refused, 0);
  ExpectRecovered();
  EXPECT_TRUE(report.converged);
  EXPECT_EQ(report.message.text.find("did not converge"), std::string::npos) << report.message.text;
  EXPECT_FALSE(report.message.errorBox) << report.message.text;
}

// Marquardt-Levenberg on values that the objective holds to a range: the data of
// one species (4.4 S, f/f0 `ff0`) with its amplitude, s, D and the meniscus (range
// 5.97-6.03 cm) floated; amplitude nonlinear.
class BoundedFitTest : public ::testing::Test {
 protected:
  void TearDown() override { test::ResetModelCalcState(); }

  // scans x radii at the interval (s) with the model of the true species plus noise,
  // recorded through a radial convolution of the given width when that is not 0;
  // returns its D.
  static double InstallData(int scans, int radii, double interval, double ff0, float width = 0.0f) {
    test::ResetModelCalcState();
    FluorescenceDetection().bRadialConvolution = width > 0.0f;
    FluorescenceDetection().fConvolutionWidth = width;
    test::InstallVelocityScans(scans, radii, interval, kRpm);
    const double d = test::DiffusionFromSAndFf0(kS, ff0);
    test::SetOneSpecies(kS, d, 0, kMeniscus, false);
    ModelParams().bLinearAmplitudes = false;
    EXPECT_TRUE(CalculateModel(nullptr).ok());
    test::DataFromFitWithNoise(kNoise, 11);
    SeedRandomGenerators(7);
    DataSet().fMinMeniscus = 5.97f;
    DataSet().fMaxMeniscus = 6.03f;
    return d;
  }
  static void Start(double s, double d, double meniscus) {
    test::SetOneSpecies(s, d, 1, meniscus, true);
    ModelParams().pSpeciesAmplitude[1] = 0.9f;
    ModelParams().pSpeciesAmplitudeFit[1] = 1;
    PackModelParams();
    ModelParams().bLinearAmplitudes = false;
  }
  static std::string Status() { return BuildFitResultLines()[kSlotStatus]; }

  ScopedHeadlessBackend backend;
};

// From either end of the meniscus range and from just inside each end (at 6.029
// the difference step of the meniscus reaches past the end), with s 10 % off either
// way, the fit lands at the noise with the meniscus within 0.003 cm and s, D within
// their noise, and names no value at a limit. With the range 6.005-6.03, which
// leaves out the true meniscus, the fit ends at its end 6.005 and the result text
// says that the meniscus stands there.
TEST_F(BoundedFitTest, MarquardtLeavesTheEndsOfTheMeniscusRange) {
  const double D = InstallData(8, 120, 1500.0, 1.3);
  FitReport report;
  for (auto [meniscus, sFactor] : {std::pair{5.97, 1.1}, {5.975, 0.9}, {6.029, 0.9}, {6.03, 1.1}}) {
    SCOPED_TRACE(meniscus);
    Start(sFactor * kS, D, meniscus);
    EXPECT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
    EXPECT_NEAR(DataSet().fMeniscus, kMeniscus, 0.003);
    EXPECT_NEAR(ModelParams().pSpeciesS[1], kS, 0.01 * kS);
    EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], D, 0.05 * D);
    EXPECT_LT(FitRmsd(), 1.1 * kNoise);
    EXPECT_EQ(Status().find("limit"), std::string::npos) << Status();
  }

  DataSet().fMinMeniscus = 6.005f;
  Start(kS, D, 6.02);
  EXPECT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.005f);
  EXPECT_GT(FitRmsd(), 1.1 * kNoise);
  EXPECT_NE(Status().find("Meniscus = 6.005 stands at its limit: no free optimum"), std::string::npos)
      << Status();
}

// Fluorescence data with a radial convolution of width 0.04 cm (6 early scans,
// where convolution and diffusion both broaden the boundary): the width floated
// with the species and the meniscus, from 0.01 and from 0.08 cm, with D started
// twice too high. Neither the width nor D stays at a bound (D >= 0, width >= 0.001):
// the fit reaches the noise with the true width and D.
TEST_F(BoundedFitTest, MarquardtFindsTheConvolutionWidthFromBothSides) {
  const double D = InstallData(6, 120, 300.0, 1.2, 0.04f);
  FitReport report;
  for (float width : {0.01f, 0.08f}) {
    SCOPED_TRACE(width);
    Start(0.9 * kS, 2.0 * D, 5.98);
    FluorescenceDetection().bRadialConvolution = FluorescenceDetection().bFitConvolutionWidth = true;
    FluorescenceDetection().fConvolutionWidth = width;
    EXPECT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
    EXPECT_NEAR(FluorescenceDetection().fConvolutionWidth, 0.04, 0.003);
    EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], D, 0.05 * D);
    EXPECT_NEAR(DataSet().fMeniscus, kMeniscus, 0.003);
    EXPECT_LT(FitRmsd(), 1.1 * kNoise);
  }
}

}  // namespace
}  // namespace tarmic

namespace tarmic {
namespace {

// The one judgement of convergence, which tarmic-batch reads from the end of the
// last fit, for every search: each that ends by its convergence test says so;
// annealing alone at the end of a short schedule does not, nor a search hemmed in
// by trial points without a model (every point farther from the start than a
// fraction refused, as a solver that gave up there: 3 % for Marquardt-Levenberg,
// whose steps reach past it; 0.3 % for the simplex, whose start vertices lie 1 %
// around it, so that it cannot go round them); with nothing floated the values
// stand converged.
struct ConvergenceCase {
  const char* name;
  FitMethod method;
  int annealFinal;  // 1 ML, 0 none
  int temps, iters;
  float hemmed;  // the fraction beyond which trial points are refused; 0: none
  bool nothingFloated, converged;
};

class FitConvergenceJudgementTest : public FitDriverTest, public ::testing::WithParamInterface<ConvergenceCase> {};

TEST_P(FitConvergenceJudgementTest, TheLastFitsEndSaysWhetherItConverged) {
  const ConvergenceCase& c = GetParam();
  SearchSettings().bAnnealFinalML = c.annealFinal == 1;
  SearchSettings().nAnnealTemps = c.temps;
  SearchSettings().nAnnealIters = c.iters;
  if (c.nothingFloated)
    test::SetOneSpecies(kS, D, 0, kMeniscus, false);
  else
    SetSpecies(1.05 * kS, 0.95 * D, 6.01);
  std::vector<float> start(static_cast<std::size_t>(GetFloatingExtraParams(0, nullptr)) + 1);
  GetFloatingExtraParams(static_cast<int>(start.size()) - 1, start.data());
  ModelFunction model;
  if (c.hemmed > 0.0f)
    model = [start, fraction = c.hemmed](Window* window) {
      int refused = 0;
      if (test::FirstTrialBeyond(start, fraction, GetFloatingExtraParams, &refused))
        return ModelResult{ModelStatus::Failed, "refused", true, {}, false};
      return CalculateModel(window);
    };
  ForgetLastFit();
  FitReport report;
  const FitOutcome outcome = FitDriver(nullptr, c.method, report, model);
  EXPECT_EQ(LastFitEnd().outcome, outcome);
  EXPECT_EQ(FitConverged(LastFitEnd().outcome, LastFitEnd().report), c.converged) << report.message.text;
}

INSTANTIATE_TEST_SUITE_P(
    Searches, FitConvergenceJudgementTest,
    ::testing::Values(ConvergenceCase{"Simplex", FitMethod::Simplex, 1, 10, 500, 0.0f, false, true},
                      ConvergenceCase{"Marquardt", FitMethod::Marquardt, 1, 10, 500, 0.0f, false, true},
                      ConvergenceCase{"AnnealingThenMarquardt", FitMethod::Annealing, 1, 2, 40, 0.0f, false, true},
                      ConvergenceCase{"AnnealingAloneCutShort", FitMethod::Annealing, 0, 1, 5, 0.0f, false, false},
                      ConvergenceCase{"SimplexHemmedIn", FitMethod::Simplex, 1, 10, 500, 0.003f, false, false},
                      ConvergenceCase{"MarquardtHemmedIn", FitMethod::Marquardt, 1, 10, 500, 0.03f, false, false},
                      ConvergenceCase{"NothingFloated", FitMethod::Simplex, 1, 10, 500, 0.0f, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarmic
