// The DLS commands: "load DLS Data" with the g(2)-1 preference, Run of the
// non-interacting species on the loaded correlation functions, and "save mean DLS
// Data".
#include <gtest/gtest.h>

#include <cmath>
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
};

// Two correlation functions of one species (D = 4e-7 cm^2/s, beta 0.6) loaded as
// g(2) - 1; the discrete model with the true D fits them; the mean file holds the
// mean of the two.
TEST_F(DlsCommandTest, LoadRunAndSaveMean) {
  const double kPi = 3.14159265358979323846, D = 4e-7, beta = 0.6;
  const double q2 = std::pow(4.0 * kPi * 1.33 * std::sin(kPi / 4.0) / 6.33e-7, 2);
  std::vector<std::string> files;
  for (int f = 0; f < 2; ++f) {
    files.push_back(ProgramDir() + "/run" + std::to_string(f) + ".dlsdat");
    std::ofstream out(files.back());
    out << "run\n20.0 " << 100 * (2 - f) << " 99.00 1.33 0.01002 90 6.33e-07 0\n";
    out.precision(9);
    for (int i = 0; i < 80; ++i) {
      const double tau = std::pow(10.0, -6.0 + 4.5 * i / 79.0);
      out << tau << " " << beta * std::exp(-2.0 * 1e-4 * D * q2 * tau) << "\n";
    }
  }
  bAlwaysLoadG2 = true;
  Backend().QueueOpenFiles(files);
  Dispatch(298);
  ASSERT_EQ(nScans, 2);
  EXPECT_TRUE(bDLSData);
  EXPECT_EQ(ppScanFileNames[1], "run1.dlsdat");  // the earlier measurement first
  EXPECT_FALSE(pDLSInfo[1].bFieldACF);
  EXPECT_NEAR(ppSignal[1][1], beta * std::exp(-2.0 * 1e-4 * D * q2 * 1e-6), 1e-6);

  Dispatch(198);  // non-interacting discrete species
  ASSERT_TRUE(bDiscreteModel);
  for (int k = 1; k <= nSpeciesSlots; ++k) pSpeciesIncluded[k] = k == 1;
  pSpeciesMassOrD[1] = static_cast<float>(D * 1e7);
  pSpeciesAmplitude[1] = 1.0f;
  pSpeciesAmplitudeFit[1] = 1;
  PackModelParams();
  UpdateLinearFitFlags();  // as the parameter dialog does: the amplitude is solved linearly
  Dispatch(213);
  EXPECT_TRUE(bModelComputed);
  EXPECT_LT(FitRmsd(), 1e-5);
  EXPECT_NEAR(pSpeciesAmplitude[1], beta, 1e-4);

  const std::string mean = ProgramDir() + "/mean.dlsdat";
  Backend().QueueSaveFile(mean);
  Dispatch(500);
  DLSInfo record;
  int n = 0;
  float* x = nullptr;
  float* y = nullptr;
  ASSERT_EQ(ReadDLSDatFile(mean.c_str(), &record, &n, &x, &y, true), 1);
  EXPECT_EQ(n, 80);
  EXPECT_NEAR(y[1], ppSignal[1][1], 1e-6);
  free_vector(x, 1, n);
  free_vector(y, 1, n);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

}  // namespace
}  // namespace tarmic::testing
