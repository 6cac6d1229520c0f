// The Faxen-approximation species model, the start-simplex width, the copy of the
// prior knowledge table and the restore of scan times from the files' times.
#include <chrono>
#include <cmath>
#include <filesystem>

#include "commands/model_commands.h"
#include "distribution_window_test_support.h"
#include "distributions/distribution_prior.h"
#include "modelcalc/analytic_boundary.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/model_computation.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using RemainingCommandsTest = DistributionWindowTest;

// The synthetic run holds Lamm equation solutions of 5 S at f/f0 1.2 (finite
// elements). The Faxen model must compute the closed-form boundary for every scan,
// not the Lamm solution, and away from the bottom pile-up the closed form must agree
// with the finite-element data: same radial dilution c0 exp(-2 s w^2 t) and same
// boundary position m exp(s w^2 t).
TEST_F(RemainingCommandsTest, FaxenSpeciesFollowTheClosedFormThatMatchesTheLammSolution) {
  LoadSyntheticRun();
  Dispatch(kCmFaxenSpecies);
  EXPECT_EQ(ActiveModelCommand(), 530);
  EXPECT_TRUE(ModelFlags().bDiscreteModel && ModelFlags().bFaxenApproximation);
  EXPECT_TRUE(RunnableModelActive());
  const float D = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f);
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
  ModelParams().pSpeciesS[1] = static_cast<float>(kSyntheticS);
  ModelParams().pSpeciesMassOrD[1] = D * 1e7f;  // entered in 1e-7 cm^2/s
  for (int k = 2; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  PackModelParams();
  ASSERT_TRUE(CalculateModel(&Handle()).ok());

  const double omega = 50000.0 * M_PI / 30.0;
  const float sw2 = static_cast<float>(omega * omega * kSyntheticS * 1e-13);
  double worst = 0.0;
  for (int scan = 1; scan <= DataSet().nScans; ++scan) {
    const int n = DataSet().pnPoints[Idx(scan)];
    const float* r = DataSet().ppRadius[Idx(scan)];
    std::vector<float> closed(Idx(n) + 1, 0.0f);
    const double t = DataSet().pScanInfo[Idx(scan)].time;
    ErfcBoundaryProfile(static_cast<float>(kSyntheticLoading), t, r, closed.data(), n, sw2, D,
                        DataSet().fMeniscus, DataSet().fBottom);
    for (int i = 1; i <= n; ++i) {
      ASSERT_NEAR(DataSet().ppFit[Idx(scan)][i], closed[Idx(i)], 1e-5)
          << "scan " << scan << " r " << r[i];
      if (r[i] >= kLeftLimit && r[i] <= 6.9f)
        worst = std::max(worst, std::fabs(static_cast<double>(closed[Idx(i)]) -
                                          DataSet().ppSignal[Idx(scan)][i]));
    }
  }
  // The closed form neglects terms of higher order in D / (s w^2 m^2): with noise
  // 0.002 on a loading of 0.8 it stays within 3 % of the loading (a misplaced
  // boundary or a missing dilution would be off by tens of percent).
  EXPECT_LT(worst, 0.03 * kSyntheticLoading);
  EXPECT_GT(worst, 0.0);

  // Another model command takes the approximation away.
  Dispatch(kCmDiscreteSpecies);
  EXPECT_FALSE(ModelFlags().bFaxenApproximation);
  EXPECT_EQ(ActiveModelCommand(), 198);
}

TEST_F(RemainingCommandsTest, SimplexWidthPriorTableAndTimesFromFiles) {
  // The start simplex width is typed in percent; only a positive width is taken.
  Backend().QueueInput("5");
  Dispatch(kCmSimplexRandomization);
  EXPECT_FLOAT_EQ(SearchSettings().fSimplexRandomization, 0.05f);
  // A width of 0 spans no simplex: refused with the range, then cancelled.
  Backend().QueueInput("0");
  Backend().QueueMessageBox(IDOK, "enter positive float");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmSimplexRandomization);
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmSimplexRandomization);
  EXPECT_FLOAT_EQ(SearchSettings().fSimplexRandomization, 0.05f);

  // The prior knowledge table: one row per abscissa, nothing without a table.
  Dispatch(kCmCopyPriorKnowledgeTable);
  EXPECT_EQ(Backend().ClipboardTextValue(), "");
  DistributionPrior().pPriorTableX = {0.0, 2.5, 5.0, 7.5};
  DistributionPrior().pPriorTableY = {0.0, 0.001, 1.0, 0.25};
  Dispatch(kCmCopyPriorKnowledgeTable);
  EXPECT_EQ(Backend().ClipboardTextValue(),
            "distribution grid\tprior probability\n2.5\t0.001\n5\t1\n7.5\t0.25\n");
  ResetDistributionPrior();

  // Times from files: the displayed scans' files are 0, 100 and 250 s apart; with
  // the first displayed scan as reference every scan's times and w^2 t follow.
  const std::vector<std::string> files = CopyVelocitySet(ProgramDir() + "/times");
  LoadThroughDialog(files);
  ASSERT_EQ(DataSet().nScans, 3);
  const auto base = std::filesystem::last_write_time(files[0]);
  const int offsets[4] = {0, 0, 100, 250};  // by display position
  for (int k = 1; k <= 3; ++k)
    std::filesystem::last_write_time(files[Idx(DataSet().pScanOrder[k] - 1)],
                                     base + std::chrono::seconds(offsets[k]));
  const ScanInfo reference = DataSet().pScanInfo[Idx(DataSet().pScanOrder[1])];
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDYES, "FIX TIME AND W2T");
  Backend().QueueMessageBox(IDNO);  // save new data?
  Dispatch(kCmRestoreTimesFromFiles);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const double w = static_cast<double>(static_cast<float>(reference.rpm * M_PI / 30.0));
  for (int k = 2; k <= 3; ++k) {
    const ScanInfo& info = DataSet().pScanInfo[Idx(DataSet().pScanOrder[k])];
    EXPECT_DOUBLE_EQ(info.time, reference.time + offsets[k]);
    EXPECT_DOUBLE_EQ(info.recordedTime, reference.recordedTime + offsets[k]);
    EXPECT_NEAR(info.omega2t, reference.omega2t + w * w * offsets[k], 1e-6 * info.omega2t);
  }
}

}  // namespace
}  // namespace tarmic::testing
