// The nonideal c(s) (command 585) on data of one non-ideal species made by the
// model computation of the non-ideal species model, and the c(s) with an M(s) table
// (command 587) on data whose species' mass the table holds.
#include "distribution_window_test_support.h"

#include <fstream>

#include "app/preferences.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distributions/ctot_tables.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_variants.h"
#include "modelcalc/model_computation.h"
#include "modelfit/model_options.h"
#include "services/path_table.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

constexpr double kS0 = 5.0;        // S, at infinite dilution
constexpr float kLogKs = -1.0f;    // ks = 0.1 ml/mg: s falls by 10% in the plateau
constexpr float kLogKd = -1.5f;

class NonidealCsTest : public DistributionWindowTest {
 protected:
  // Tikhonov-Phillips regularisation: its alpha search always lands on the
  // confidence level, so the comparisons below see one regularised solution each.
  void SetUp() override {
    DistributionWindowTest::SetUp();
    bRegMaxEnt = false;
  }
  void TearDown() override {
    bRegMaxEnt = true;
    DistributionWindowTest::TearDown();
  }

  // 8 scans x 120 radii at 50,000 rpm, 1000 s apart; one species of 5 S (f/f0 1.2)
  // at 1 mg/ml (signal 1 per mg/ml) with s = s0/(1 + ks c), D = D0 (1 + kd c),
  // computed by the non-ideal species model, plus noise 0.003.
  void LoadNonidealSpeciesData() {
    test::InstallVelocityScans(8, 120, 1000.0, 50000.0f);
    Dispatch(kCmNonidealSingle);
    ASSERT_TRUE(ModelFlags().bNonidealSpecies);
    DataSet().dSignalPerConcentration = 1.0;
    ModelOptions().bRepulsiveNonideality = true;
    AnalysisSwitches().pParams[1] = static_cast<float>(test::DiffusionFromSAndFf0(kS0, 1.2));
    AnalysisSwitches().pParams[5] = static_cast<float>(kS0);
    AnalysisSwitches().pParams[9] = 1.0f;
    AnalysisSwitches().pParams[10] = kLogKs;
    AnalysisSwitches().pParams[11] = kLogKd;
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
    AnalysisSwitches().pParams[14] = DataSet().fBottom;
    UnpackModelParams();
    ASSERT_EQ(CalculateModel(&Handle()).status, ModelStatus::Computed);
    test::DataFromFitWithNoise(0.003, 11u);
  }

  // The grid 0.5..10 S on 20 points (0.5 S apart), f/f0 1.2; the discrete species
  // of the nonideal c(s) is grid point 1 itself (0.5 S with the mass of f/f0 1.2).
  void SetGrid() {
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.5f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 10.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 20.0f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.2f;
    UnpackModelParams();
  }
  void ChooseNonidealCs(float logKs) {
    Dispatch(kCmContinuousCsNonideal);
    SetGrid();
    AnalysisSwitches().pParams[kVariantSlotDiscreteS] = 0.5f;
    AnalysisSwitches().pParams[kVariantSlotDiscreteMD] = CalculateM(0.5f);
    AnalysisSwitches().pParams[20] = logKs;
    AnalysisSwitches().pParams[21] = kLogKd;
    UnpackModelParams();
  }

  std::vector<float> Distribution() const {
    return std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  }
  // Weight-average s of the peak (grid points within 1.5 S of s0).
  static double PeakS(const std::vector<float>& c) {
    double sum = 0.0, moment = 0.0;
    for (std::size_t k = 0; k < c.size(); ++k) {
      const double s = 0.5 + 0.5 * static_cast<double>(k);
      if (std::fabs(s - kS0) > 1.5) continue;
      sum += c[k];
      moment += c[k] * s;
    }
    return sum > 0.0 ? moment / sum : 0.0;
  }
};

// With the species' own ks and kD the nonideal c(s) finds it at s0 on either
// propagator and with the total signal from the data or from the fit. The
// total-concentration tables leave the loaded scans as they were.
TEST_F(NonidealCsTest, RecoversTheSpeciesOnBothPropagatorsFromDataOrFit) {
  LoadNonidealSpeciesData();
  const float loaded = DataSet().ppSignal[3][60];

  ChooseNonidealCs(kLogKs);
  EXPECT_TRUE(RunnableModelActive());
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed) << ::testing::PrintToString(BoxTexts());
  EXPECT_TRUE(Ctot().bCtotArrays);
  EXPECT_EQ(DataSet().ppSignal[3][60], loaded);
  EXPECT_NEAR(PeakS(Distribution()), kS0, 0.01 * kS0);
  // After every run the static grid is chosen again.
  EXPECT_TRUE(LammSettings().bClaverie);
  EXPECT_FALSE(LammSettings().bMovingHat);

  // Without the optimised static grid every point above 1.8 S runs on the moving
  // hat, whose nodes read the total signal at their moving radii.
  LammSettings().bOptimizeStaticGrid = false;
  Dispatch(kCmRun);
  LammSettings().bOptimizeStaticGrid = true;
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NEAR(PeakS(Distribution()), kS0, 0.01 * kS0);

  // The levels from the fit of that run ("total concentration from data" off in the
  // Parameters dialog).
  Backend().QueueDialog(IDOK, TransferBuffer{{}, {{442, false}}});
  Dispatch(kCmParameters);
  EXPECT_FALSE(Ctot().bCtotFromData);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NEAR(PeakS(Distribution()), kS0, 0.01 * kS0);
  for (const std::string& caption : Captions()) EXPECT_EQ(caption, "");  // no solver error
}

// With ks and kD -> 0 the kernels of the nonideal c(s) are those of plain c(s) and
// so is the distribution; both place the species below s0, by the slowing in its
// own plateau.
TEST_F(NonidealCsTest, WithoutNonidealityEqualsPlainCs) {
  LoadNonidealSpeciesData();
  ChooseNonidealCs(-12.0f);
  AnalysisSwitches().pParams[21] = -12.0f;
  UnpackModelParams();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::vector<float> ideal = Distribution();

  Backend().QueueMessageBox(IDOK);  // the plot is rebuilt: "may need to recalculate"
  Dispatch(kCmContinuousCs);
  SetGrid();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::vector<float> plain = Distribution();
  double total = 0.0, difference = 0.0;
  for (std::size_t k = 0; k < plain.size(); ++k) {
    total += plain[k];
    difference += std::fabs(plain[k] - ideal[k]);
  }
  EXPECT_LT(difference, 0.005 * total);
  EXPECT_NEAR(PeakS(ideal), PeakS(plain), 0.001 * kS0);
  EXPECT_LT(PeakS(plain), 0.95 * kS0);
}

// c(s) with an M(s) table whose row at the species' s holds its mass: the peak is
// at the species' s and the mass of every point is the table's.
TEST_F(NonidealCsTest, MsTableModelPlacesThePeakWithTheTablesMass) {
  LoadSyntheticRun();
  const float trueM = CalculateM(static_cast<float>(kSyntheticS));
  const std::string table = ProgramDir() + "/mofs-test.dat";
  {
    // M proportional to s through the species: (2, 0.4 M), (10, 2 M), in kDa.
    std::ofstream out(table);
    out << "2 " << 0.4 * trueM / 1000.0 << "\n10 " << 2.0 * trueM / 1000.0 << "\n";
  }
  const std::string saved = szMofsFile;
  szMofsFile = table;
  Dispatch(kCmContinuousCsMsTable);
  SetGrid();
  Dispatch(kCmRun);
  szMofsFile = saved;
  ASSERT_TRUE(AnalysisSwitches().bModelComputed) << ::testing::PrintToString(BoxTexts());
  const std::vector<float> c = Distribution();
  std::size_t peak = 1;
  for (std::size_t k = 1; k < c.size(); ++k)
    if (c[k] > c[peak]) peak = k;
  EXPECT_NEAR(DistributionVectors().pDistGrid[peak + 1], kSyntheticS, 0.5);
  EXPECT_NEAR(PeakS(c), kSyntheticS, 0.03 * kSyntheticS);
  // Mass of the table at s (the buffer of the run is water at 20 C: s20,w ~ s).
  EXPECT_NEAR(DistributionVectors().pDistS[peak + 1], trueM * DistributionVectors().pDistGrid[peak + 1] / kSyntheticS, 0.01 * trueM);
}

}  // namespace
}  // namespace tarmic::testing
