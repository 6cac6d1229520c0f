// The DLS commands: "load DLS Data" with the g(2)-1 preference, Run of the
// non-interacting species on the loaded correlation functions, and "save mean DLS
// Data".
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "propagators/sim_arrays.h"
#include "resources/menus.h"
#include "scandata/dls_file.h"
#include "tests/commands/commands_test_support.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class DlsCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetAll();
    Handle().AttachMenu(GetMenuResource(kMenuFull));
  }
  void TearDown() override {
    ResetAll();
    CommandTest::TearDown();
  }
  static void ResetAll() {
    ResetSimArrays();
    ResetModelFlags();
    ResetLammGlobals();
    ResetLammSettings();
    ResetModelOptions();
    ResetModelParams();
    ResetLinearAmplitudes();
    ResetSolventConstants();
  }

  static constexpr double kPi = 3.14159265358979323846, D = 4e-7, beta = 0.6;
  const double q2 = std::pow(4.0 * kPi * 1.33 * std::sin(kPi / 4.0) / 6.33e-7, 2);

  // Two g(2) - 1 files of the species at n lag times, the first recorded at
  // firstTime, the second step s after it; deviation adds a deterministic
  // measurement error.
  std::vector<std::string> WriteRuns(int n, int firstTime, int step, double deviation) {
    std::vector<std::string> files;
    for (int f = 0; f < 2; ++f) {
      files.push_back(ProgramDir() + "/run" + std::to_string(f) + ".dlsdat");
      std::ofstream out(files.back());
      out << "run\n20.0 " << firstTime + step * f << " 99.00 1.33 0.01002 90 6.33e-07 0\n";
      out.precision(9);
      for (int i = 0; i < n; ++i) {
        const double tau = std::pow(10.0, -6.0 + 4.5 * i / (n - 1));
        // A correlation decayed below what a float holds is written as 0, as a
        // correlator writes it.
        const double g = beta * std::exp(-2.0 * 1e-4 * D * q2 * tau) + deviation * std::sin(3.0 * i);
        out << tau << " " << (std::fabs(g) < 1e-30 ? 0.0 : g) << "\n";
      }
    }
    return files;
  }

  // The non-interacting discrete model with the true D, the amplitude solved linearly
  // as the parameter dialog sets it.
  void ChooseTrueSpecies() {
    Dispatch(kCmDiscreteSpecies);
    for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k == 1;
    ModelParams().pSpeciesMassOrD[1] = static_cast<float>(D * 1e7);
    ModelParams().pSpeciesAmplitude[1] = 1.0f;
    ModelParams().pSpeciesAmplitudeFit[1] = 1;
    PackModelParams();
    UpdateLinearFitFlags();
  }
};

// Two correlation functions of one species (D = 4e-7 cm^2/s, beta 0.6) loaded as
// g(2) - 1; the discrete model with the true D fits them; the mean file holds the
// mean of the two.
TEST_F(DlsCommandTest, LoadRunAndSaveMean) {
  const std::vector<std::string> files = WriteRuns(80, 200, -100, 0.0);
  bAlwaysLoadG2 = true;
  Backend().QueueOpenFiles(files);
  Dispatch(kCmLoadDLSData);
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_TRUE(DataSet().bDLSData);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "run1.dlsdat");  // the earlier measurement first
  EXPECT_FALSE(DataSet().pDLSInfo[1].bFieldACF);
  EXPECT_NEAR(DataSet().ppSignal[1][1], beta * std::exp(-2.0 * 1e-4 * D * q2 * 1e-6), 1e-6);

  ChooseTrueSpecies();
  ASSERT_TRUE(ModelFlags().bDiscreteModel);
  Dispatch(kCmRun);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_LT(FitRmsd(), 1e-5);
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[1], beta, 1e-4);

  const std::string mean = ProgramDir() + "/mean.dlsdat";
  Backend().QueueSaveFile(mean);
  Dispatch(kCmSaveMeanDLSData);
  const DlsRead saved = ReadDls(mean, true);
  ASSERT_EQ(saved.y.size(), 81u);
  EXPECT_NEAR(saved.y[1], DataSet().ppSignal[1][1], 1e-6);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // A selection with a file that cannot be read: the command shows one "LOAD ERROR"
  // naming it, and the loaded set stays.
  const std::string broken = ProgramDir() + "/broken.dlsdat";
  std::ofstream(broken) << "no parameters\n";
  Backend().ClearTranscript();
  Backend().QueueOpenFiles({files[0], broken});
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  Dispatch(kCmLoadDLSData);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0].rfind(broken, 0), 0u);
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
}

// Save Fit Data on DLS data. Loaded as g(1): the fit file holds g(2) - 1 (and says
// so), the residual file the g(1) residuals, and read back as the loader reads them
// fit + residuals give the data. Loaded as g(2) - 1: the fit is written unchanged,
// not squared a second time.
TEST_F(DlsCommandTest, SavedFitAndResidualsGiveTheData) {
  const std::vector<std::string> files = WriteRuns(60, 100, 100, 0.002);
  auto loadAndRun = [&](bool g2) {
    bAlwaysLoadG2 = g2;
    Backend().QueueOpenFiles(files);
    Dispatch(kCmLoadDLSData);
    ASSERT_EQ(DataSet().nScans, 2);
    ChooseTrueSpecies();
    Dispatch(kCmRun);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  };
  auto save = [&](const std::string& dir) {
    std::filesystem::create_directories(dir);
    Backend().QueueSaveFile(dir + "/f0000x.dlsdat");
    Backend().QueueMessageBox(IDNO, "SAVE DLS DATA");  // add noise? (set 1)
    Backend().QueueMessageBox(IDNO, "SAVE DLS DATA");  // (set 2)
    Backend().QueueSaveFile(dir + "/r0000x.dlsdat");
    Backend().QueueSaveFile(std::nullopt);  // no parameter report
    Dispatch(kCmSaveFitData);
  };

  loadAndRun(false);
  ASSERT_TRUE(DataSet().pDLSInfo[1].bFieldACF);
  save(ProgramDir() + "/field");
  for (int s = 1; s <= 2; ++s) {
    const std::string stem = DataSet().ppScanFileNames[Idx(s)].substr(1);
    const DlsRead fit = ReadDls(ProgramDir() + "/field/f" + stem, false);
    const DlsRead res = ReadDls(ProgramDir() + "/field/r" + stem, false);
    // Written as g(2) - 1: the file read as it stands holds the signed squares.
    const DlsRead fitG2 = ReadDls(ProgramDir() + "/field/f" + stem, true);
    EXPECT_FALSE(fitG2.record.bFieldACF);
    EXPECT_NEAR(fitG2.y[5], SignedSquare(DataSet().ppFit[Idx(s)][5]), 1e-6);
    ASSERT_EQ(fit.y.size(), Idx(DataSet().pnPoints[Idx(s)]) + 1);
    ASSERT_EQ(res.y.size(), fit.y.size());
    double resRms = 0.0;
    for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i) {
      EXPECT_NEAR(fit.x[Idx(i)], DataSet().ppRadius[Idx(s)][i], 1e-5);
      EXPECT_NEAR(fit.y[Idx(i)] + res.y[Idx(i)], DataSet().ppSignal[Idx(s)][i], 2e-6);
      resRms += res.y[Idx(i)] * res.y[Idx(i)];
    }
    EXPECT_GT(std::sqrt(resRms / DataSet().pnPoints[Idx(s)]), 1e-4);  // not all zero
  }

  loadAndRun(true);
  ASSERT_FALSE(DataSet().pDLSInfo[1].bFieldACF);
  save(ProgramDir() + "/intensity");
  const DlsRead fit = ReadDls(ProgramDir() + "/intensity/f" + DataSet().ppScanFileNames[1].substr(1), true);
  for (int i = 1; i <= DataSet().pnPoints[1]; ++i) EXPECT_NEAR(fit.y[Idx(i)], DataSet().ppFit[1][i], 1e-6);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

}  // namespace
}  // namespace tarmic::testing
