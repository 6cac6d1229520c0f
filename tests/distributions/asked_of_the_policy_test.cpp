// The questions of a computation are asked of the answer policy its caller hands
// it: with no backend and no presenter there is nobody to show a box to, and the
// policy's Yes or No alone decides what the computation does.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "platform/backend.h"
#include "services/answer_policy.h"

namespace tarmic::testing {
namespace {

// Nobody to ask: the fixture's backend is taken away (its end puts it back).
class AskedOfThePolicy : public DistributionTest {
 protected:
  void SetUp() override {
    DistributionTest::SetUp();
    SetBackend(nullptr);
  }
  // A policy that answers every question with answer and keeps what it was asked.
  AnswerPolicy Answering(Answer answer) {
    return [this, answer](const EngineQuestion& q) {
      asked.push_back(q);
      return answer;
    };
  }
  std::vector<EngineQuestion> asked;
};

// The ls-g*(s) grid whose smax leaves the boundary short of the left fit limit: Yes
// keeps the grid (and the answer for the data set), No refuses it.
TEST_F(AskedOfThePolicy, TheGridsFitLimitWarningTakesThePolicysAnswer) {
  InstallFlatDataSet(6, 40);
  ModelFlags().bLsgModel = true;
  for (const Answer answer : {Answer::kNo, Answer::kYes}) {
    asked.clear();
    DataSet().fFitLeftLim = 6.05f;
    DataSet().fFitRightLim = 7.15f;
    DataSet().bFitLimitWarningAccepted = false;
    DistributionGrid().fDistMin = 0.0f;
    DistributionGrid().fDistMax = 1.0f;  // 1 S moves the boundary far less than to 6.05 cm
    DistributionGrid().fDistGridCount = 11.0f;
    ASSERT_FALSE(HasBackend());
    EXPECT_EQ(SetupContiGrid(Answering(answer)), answer == Answer::kYes);
    EXPECT_EQ(DataSet().bFitLimitWarningAccepted, answer == Answer::kYes);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].id, QuestionId::SmaxBelowLeftFitLimit);
    EXPECT_EQ(asked[0].caption, "ERROR");
    EXPECT_EQ(asked[0].style, static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(asked[0].text.rfind("smax 1 too low", 0), 0u);
  }
  // An empty policy is nobody's answer: No.
  DataSet().bFitLimitWarningAccepted = false;
  EXPECT_FALSE(SetupContiGrid(AnswerPolicy{}));
}

// Intensity correlations g2 - 1 = beta exp(-2 Gamma tau) with beta = 1 (Siegert):
// Yes makes every function the field correlation g1 = exp(-Gamma tau), the signed
// root of a noisy point below 0 keeping its sign; No leaves the data as they were
// and the run does not start.
TEST_F(AskedOfThePolicy, TheDlsTransformTakesThePolicysAnswer) {
  constexpr int kScans = 2;
  constexpr int kPoints = 30;
  constexpr double kGamma = 3.0;
  for (const Answer answer : {Answer::kNo, Answer::kYes}) {
    asked.clear();
    InstallFlatDataSet(kScans, kPoints);
    DataSet().bDLSData = true;
    DataSet().pDLSInfo.assign(kScans + 1, DLSInfo{});
    std::vector<std::vector<float>> before(kScans + 1);
    for (int s = 1; s <= kScans; ++s) {
      const float* tau = DataSet().ppRadius[static_cast<std::size_t>(s)];
      float* y = DataSet().ppSignal[static_cast<std::size_t>(s)];
      for (int k = 1; k <= kPoints; ++k) y[k] = static_cast<float>(std::exp(-2.0 * kGamma * (tau[k] - tau[1])));
      y[kPoints] = -1e-4f;  // noise of the baseline
      before[static_cast<std::size_t>(s)].assign(y, y + kPoints + 1);
    }
    const bool yes = answer == Answer::kYes;
    EXPECT_EQ(EnsureFieldCorrelationData(nullptr, Answering(answer)), yes);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].id, QuestionId::TransformToG1);
    EXPECT_EQ(asked[0].style, static_cast<unsigned>(MB_YESNO | MB_DEFBUTTON2));
    for (int s = 1; s <= kScans; ++s) {
      const float* tau = DataSet().ppRadius[static_cast<std::size_t>(s)];
      const float* y = DataSet().ppSignal[static_cast<std::size_t>(s)];
      EXPECT_EQ(DataSet().pDLSInfo[static_cast<std::size_t>(s)].bFieldACF, yes);
      for (int k = 1; k < kPoints; ++k) {
        const double expected = yes ? std::exp(-kGamma * (tau[k] - tau[1])) : before[static_cast<std::size_t>(s)][k];
        EXPECT_NEAR(y[k], expected, 1e-6 * (1.0 + expected)) << s << " " << k;
      }
      EXPECT_FLOAT_EQ(y[kPoints], yes ? -1e-2f : -1e-4f);
    }
    // Field correlations are not asked about again.
    if (yes) EXPECT_TRUE(EnsureFieldCorrelationData(nullptr, Answering(Answer::kNo)));
    EXPECT_EQ(asked.size(), 1u);
  }
}

}  // namespace
}  // namespace tarmic::testing
