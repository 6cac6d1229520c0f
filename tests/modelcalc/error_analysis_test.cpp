// Error intervals and contours of a discrete-species fit: ends at the critical rmsd,
// the user's model restored (also after an interrupt), bad input refused.
#include "modelcalc/error_analysis.h"

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/events.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

using namespace test::fitdata;

class ErrorAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    D = test::InstallOneSpeciesData();
  }
  void TearDown() override { ResetAll(); }

  static void ResetAll() {
    test::ResetModelCalcState();
    ResetErrorAnalysis();
  }

  // One species at the true meniscus; fit switch 1 floats s and D.
  static void SetSpecies(double s, double d, int fit) {
    test::SetOneSpecies(s, d, fit, kMeniscus, false);
  }

  // The user's model is back: switches, values and the rmsd of its fit.
  void ExpectUserModel(float s, float d, float rmsd) {
    EXPECT_EQ(ModelParams().pSpeciesSFit[1], 1);
    EXPECT_EQ(ModelParams().pSpeciesMassOrDFit[1], 1);
    EXPECT_EQ(AnalysisSwitches().pParamFitFlags[nSpeciesSlots + 1], 1);
    EXPECT_EQ(AnalysisSwitches().pParamFitFlags[1], 1);
    EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], s);
    EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[nSpeciesSlots + 1], s);
    EXPECT_FLOAT_EQ(ModelParams().pSpeciesMassOrD[1], d);
    EXPECT_NEAR(Rmsd().fFitRmsd, rmsd, 1e-7);
    EXPECT_FALSE(FitState().bFitInterrupted);
    EXPECT_FALSE(SimulationMessages().bFitRunning);
  }

  double D = 0.0;
  ScopedHeadlessBackend backend;
};

// The best fit of s and D, then the interval of s at 68.3 % confidence: it holds
// the true s, and refitting D with s held at either end gives the critical rmsd
// best sqrt(N/(N-1) F(0.683, N-1, N)).
TEST_F(ErrorAnalysisTest, ErrorInSHoldsTrueSAndEndsAtCriticalRmsd) {
  FitReport report;
  SetSpecies(kS, D, 1);
  ASSERT_EQ(FitDriver(nullptr, FitMethod::Simplex, report), FitOutcome::Completed);
  const float best = FitRmsd();
  const float bestS = ModelParams().pSpeciesS[1], bestD = ModelParams().pSpeciesMassOrD[1];
  const long long points = CountFitPoints();
  const float critical = CriticalRmsd(best, 0.683, points);
  ASSERT_GT(critical, best);
  ASSERT_LT(critical, 1.02f * best);

  float low = 0.0f, high = 0.0f;
  const AnalysisResult result = CalculateErrorInS(nullptr, 0.01f, critical, &low, &high);
  ASSERT_EQ(result.end, AnalysisEnd::Completed) << result.message;
  EXPECT_LT(low, kS);
  EXPECT_GT(high, kS);
  EXPECT_LT(high - low, 0.1);
  ExpectUserModel(bestS, bestD, best);
  RecordProperty("refits", result.refits);

  // Independent check of each end: hold s there and refit D.
  for (float end : {low, high}) {
    ModelParams().pSpeciesS[1] = end;
    ModelParams().pSpeciesSFit[1] = 0;
    PackModelParams();
    ASSERT_EQ(FitDriver(nullptr, FitMethod::Simplex, report), FitOutcome::Completed);
    EXPECT_NEAR(FitRmsd(), critical, 0.1 * (critical - best)) << "end " << end;
  }
}

// Refused before any refit: steps of 0 or not finite, empty or unbounded ranges,
// too many points, a start outside the grid; nothing is written and nothing changes.
TEST_F(ErrorAnalysisTest, UnusableStepsAndRangesAreRefused) {
  SetSpecies(kS, D, 1);
  const std::string file = std::string(TARMIC_TEST_OUTPUT_DIR) + "/refused_contour.dat";
  std::remove(file.c_str());
  float low = -7.0f, high = -7.0f;
  const float inf = INFINITY;
  const AnalysisResult cases[] = {
      CalculateErrorInS(nullptr, 0.0f, 0.006f, &low, &high),
      CalculateErrorInM(nullptr, NAN, 0.006f, &low, &high),
      CalculateErrorInS(nullptr, 0.01f, 0.0f, &low, &high),
      CalculateKContour(nullptr, file, 0.0f, 1.0f, 0.0f),
      CalculateKContour(nullptr, file, 2.0f, 1.0f, 0.1f),
      CalculateKContour(nullptr, file, 0.0f, inf, 0.1f),
      CalculateKContour(nullptr, file, 0.0f, 1.0f, 1e-6f),  // too many points
      CalculateSMContour(nullptr, file, 4.0f, 5.0f, -0.1f, 5.0f, 6.0f, 0.1f, 0.0f, 4.0f, 5.0f),
      CalculateS1S2Contour(nullptr, file, 4.0f, 5.0f, 0.1f, 5.0f, 6.0f, 0.001f, 0.0f, 4.0f, 5.0f),
      CalculateSMContour(nullptr, file, 4.0f, 5.0f, 0.1f, 5.0f, 6.0f, 0.1f, 0.0f, 3.0f, 5.0f),
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].end, AnalysisEnd::InvalidInput) << "case " << i;
    EXPECT_FALSE(cases[i].message.empty()) << "case " << i;
    EXPECT_EQ(cases[i].refits, 0);
  }
  EXPECT_EQ(low, -7.0f);
  EXPECT_EQ(high, -7.0f);
  EXPECT_FALSE(std::ifstream(file).good());
  EXPECT_EQ(ModelParams().pSpeciesSFit[1], 1);
}

// A key press during the first refit ends the interval search as an interruption,
// without bounds; a critical rmsd out of reach ends it after the refit cap as a
// failure. Either way the user's switches and values come back.
TEST_F(ErrorAnalysisTest, InterruptedOrUnreachedSearchRestoresTheModel) {
  SetSpecies(1.02 * kS, D, 1);
  FitRmsd();
  const float s = ModelParams().pSpeciesS[1], d = ModelParams().pSpeciesMassOrD[1];
  CalculateModel(nullptr);
  const float rmsd = FitRmsd();
  float low = -7.0f, high = -7.0f;
  UiEvents().Post(Event::KeyDown('x'));
  const AnalysisResult result = CalculateErrorInS(nullptr, 0.01f, 1.01f * rmsd, &low, &high);
  EXPECT_EQ(result.end, AnalysisEnd::Interrupted);
  EXPECT_EQ(result.refits, 1);
  EXPECT_EQ(low, -7.0f);
  EXPECT_EQ(high, -7.0f);
  ExpectUserModel(s, d, rmsd);

  // Only s floated: each refit is one model computation.
  ModelParams().pSpeciesMassOrDFit[1] = 0;
  PackModelParams();
  const AnalysisResult capped = CalculateErrorInS(nullptr, 1e-4f, 2.0f * rmsd, &low, &high);
  EXPECT_EQ(capped.end, AnalysisEnd::NotReached);
  EXPECT_EQ(capped.refits, kMaxErrorRefits + 1);
  EXPECT_NE(capped.message.find("did not reach the critical value"), std::string::npos);
  EXPECT_EQ(low, -7.0f);
  EXPECT_EQ(ModelParams().pSpeciesSFit[1], 1);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], s);
  EXPECT_NEAR(Rmsd().fFitRmsd, rmsd, 1e-7);
}

// The s-M map with nothing else floated: 3 x 3 grid points around the true values
// in serpentine order, the smallest rmsd at the true point; the contour at a level
// between the centre and the ring of neighbours is a closed curve around the true
// point.
TEST_F(ErrorAnalysisTest, SMContourMapsRmsdAroundTrueValues) {
  SetSpecies(kS, D, 1);
  CalculateModel(nullptr);
  const float rmsd = FitRmsd();
  const std::string file = std::string(TARMIC_TEST_OUTPUT_DIR) + "/sm_contour.dat";
  const float dS = 0.02f, dD = static_cast<float>(0.02 * D);
  const float s0 = static_cast<float>(kS) - dS, d0 = static_cast<float>(D) - dD;
  AnalysisResult result = CalculateSMContour(nullptr, file, s0, s0 + 2.5f * dS, dS, d0,
                                             d0 + 2.5f * dD, dD, 0.0f, s0, d0);
  ASSERT_EQ(result.end, AnalysisEnd::Completed);
  EXPECT_EQ(result.refits, 9);
  ExpectUserModel(static_cast<float>(kS), static_cast<float>(D), rmsd);
  std::ifstream in(file);
  std::vector<std::vector<float>> rows;
  float x, y, r;
  while (in >> x >> y >> r) rows.push_back({x, y, r});
  ASSERT_EQ(rows.size(), 9u);
  // Serpentine: up the first column, down the second, up the third.
  EXPECT_FLOAT_EQ(rows[2][1], rows[3][1]);
  EXPECT_FLOAT_EQ(rows[5][1], rows[6][1]);
  float lowest = 1e9f, ring = 1e9f;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i != 4) ring = std::min(ring, rows[i][2]);
    lowest = std::min(lowest, rows[i][2]);
  }
  EXPECT_FLOAT_EQ(rows[4][2], lowest);  // the centre (4.4 S, true D)
  EXPECT_NEAR(rows[4][2], rmsd, 1e-5);

  result = CalculateSMContour(nullptr, file, s0, s0 + 2.5f * dS, dS, d0, d0 + 2.5f * dD, dD,
                              0.5f * (rows[4][2] + ring), s0, d0);
  ASSERT_EQ(result.end, AnalysisEnd::Completed);
  std::ifstream curve(file);
  std::vector<float> xs, ys;
  while (curve >> x >> y) {
    xs.push_back(x);
    ys.push_back(y);
  }
  ASSERT_GE(xs.size(), 3u);
  EXPECT_EQ(xs.front(), xs.back());
  EXPECT_EQ(ys.front(), ys.back());
  for (std::size_t i = 0; i < xs.size(); ++i) {
    EXPECT_GT(xs[i], s0);
    EXPECT_LT(xs[i], s0 + 2.0f * dS);
  }
}

// The contour walk on an elliptic paraboloid rmsd = 1 + ((x - 1.013)/0.43)^2 +
// ((y - 0.987)/0.31)^2, whose level 2 is the ellipse with half axes 0.43 and 0.31
// around (1.013, 0.987), on a 41 x 41 grid: the walk evaluates a fraction of the
// grid, the crossings it writes lie on the ellipse, go round it, and follow each
// other along it (the walk's order, not the grid's). Started inside (s-M form) and
// outside (s1-s2 form), both at the left end of the contour.
TEST(ContourWalkTest, FollowsTheContourInsteadOfMappingTheGrid) {
  const float level = 2.0f;
  auto f = [](double x, double y) {
    return 1.0 + std::pow((x - 1.013) / 0.43, 2) + std::pow((y - 0.987) / 0.31, 2);
  };
  const double kPi = 3.14159265358979, a = 0.43, b = 0.31;
  // Ramanujan's perimeter of the ellipse.
  const double perimeter = kPi * (3 * (a + b) - std::sqrt((3 * a + b) * (a + 3 * b)));
  for (const bool smForm : {true, false}) {
    SCOPED_TRACE(smForm ? "s-M form, start inside" : "s1-s2 form, start outside");
    const ContourGrid g{0.0f, 2.0f, 0.05f, 0.0f, 2.0f, 0.05f, level, 0.6f, smForm ? 1.0f : 0.8f};
    const int gridPoints = 41 * 41;
    std::vector<std::array<float, 3>> table;
    const int evaluations = ContourWalk(
        g, smForm, !smForm, gridPoints,
        [&](float x, float y, int) { return static_cast<float>(f(x, y)); }, &table);
    // The s-M walk ends at its second return; the s1-s2 walk goes on in whole
    // columns from there to the edge of the grid.
    EXPECT_LT(evaluations, smForm ? gridPoints / 8 : gridPoints / 2);
    // The crossings between consecutive rows, as the curve file takes them.
    std::vector<double> cx, cy;
    for (int i = 1; i + 1 < static_cast<int>(table.size()); ++i) {
      const auto& p = table[static_cast<std::size_t>(i)];
      const auto& q = table[static_cast<std::size_t>(i + 1)];
      if (q[0] == 0.0f && q[1] == 0.0f) continue;
      if ((p[2] - level) * (q[2] - level) > 0.0f || p[2] == q[2]) continue;
      const double t = (level - p[2]) / (q[2] - p[2]);
      cx.push_back(p[0] + t * (q[0] - p[0]));
      cy.push_back(p[1] + t * (q[1] - p[1]));
    }
    ASSERT_GE(cx.size(), 20u);
    // On the ellipse and round it: no gap of more than 50 degrees in the angles about the centre.
    std::vector<double> angle;
    for (std::size_t k = 0; k < cx.size(); ++k) {
      EXPECT_NEAR(f(cx[k], cy[k]), level, 0.02);  // linear interpolation of a quadratic
      angle.push_back(std::atan2((cy[k] - 0.987) / b, (cx[k] - 1.013) / a));
    }
    std::sort(angle.begin(), angle.end());
    double gap = angle.front() + 2 * kPi - angle.back();
    for (std::size_t k = 1; k < angle.size(); ++k) gap = std::max(gap, angle[k] - angle[k - 1]);
    EXPECT_LT(gap, 50.0 * kPi / 180.0);
    // Along it: the closed path through the crossings in file order is not much
    // longer than the ellipse (a row-by-row sweep would cross the inside at every
    // row: about 15 times the perimeter here).
    double path = 0.0;
    for (std::size_t k = 0; k < cx.size(); ++k) {
      const std::size_t m = (k + 1) % cx.size();
      path += std::hypot(cx[m] - cx[k], cy[m] - cy[k]);
    }
    EXPECT_LT(path, 1.5 * perimeter);
  }
}

}  // namespace
}  // namespace tarmic
