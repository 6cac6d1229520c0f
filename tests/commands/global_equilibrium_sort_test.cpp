// A run sorted by "Sort Eq Data to Disk" with experiment files on is fitted by the
// global equilibrium analysis from the files the sort wrote: the scans of three
// cells at three speeds of a monomer-dimer system, loaded as the window holds them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "commands/equilibrium_sorting.h"
#include "engine/equilibrium.h"
#include "numerics/one_based.h"
#include "resources/command_ids.h"
#include "tests/commands/commands_test_support.h"
#include "tests/engine/synthetic_run.h"

namespace tarmic::testing {
namespace {

class GlobalEqSortTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetEquilibriumSorting();
  }
  void TearDown() override {
    ResetEquilibriumSorting();
    CommandTest::TearDown();
  }
};

TEST_F(GlobalEqSortTest, SortedFilesFitToTheTruth) {
  const engine::testing::Truth truth{"monomer-nmer", 2, 30000, 0, 0, 5.0, 0.01};
  const std::vector<engine::DataSet> run = engine::testing::SyntheticRun(truth, 77);
  AllocScanTables(static_cast<int>(run.size()));
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const engine::DataSet& d = run[Idx(s - 1)];
    const int n = static_cast<int>(d.scans[0].radius.size());
    float* r = tarmic::vector(1, n);
    float* y = tarmic::vector(1, n);
    for (int k = 1; k <= n; ++k) {
      r[k] = static_cast<float>(d.scans[0].radius[Idx(k - 1)]);
      y[k] = static_cast<float>(d.scans[0].value[Idx(k - 1)]);
    }
    ScanInfo& info = DataSet().pScanInfo[Idx(s)];
    info.cell = d.cell;
    info.wavelength = 280;
    info.rpm = static_cast<float>(d.rpm);
    info.temperature = 20.0f;
    info.time = info.recordedTime = 3600.0 * s;
    info.scanType = 'R';
    DataSet().ppScanFileNames[Idx(s)] = Format("%05d.ra%d", s, d.cell);
    InstallScanArrays(s, n, r, y, nullptr, false);
  }
  namespace fs = std::filesystem;
  const std::string out = ProgramDir() + "/sorted-global";
  fs::remove_all(out);
  fs::create_directories(out);
  Backend().QueueSaveFile(out + "/eq.ra1");
  Backend().QueueMessageBox(IDYES);  // make xp files?
  for (const char* v : {"1.003", "0.73", "40000", "1", "0"}) Backend().QueueInput(std::string(v));
  for (std::size_t k = 0; k < run.size(); ++k) Backend().QueueMessageBox(IDYES, "EQ Test");
  Dispatch(kCmSortEqData);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  std::vector<std::string> xps;
  for (int cell = 1; cell <= 3; ++cell) xps.push_back(out + "/cell" + std::to_string(cell) + "_280.xp");
  std::vector<engine::DataSet> sets;
  std::string error;
  ASSERT_TRUE(engine::ReadEquilibriumRun(xps, &sets, &error)) << error;
  ASSERT_EQ(sets.size(), 9u);
  engine::EquilibriumModelSpec spec;
  ASSERT_TRUE(engine::ParseEquilibriumModel("monomer-nmer", 2, &spec, &error));
  engine::Problem p;
  ASSERT_TRUE(engine::BuildEquilibriumProblem(sets, spec, {}, 2, &p, &error)) << error;
  const engine::Summary s = engine::Solve(engine::Options{}, p);
  ASSERT_EQ(s.status, engine::Status::kConverged);
  EXPECT_FALSE(s.misfit);
  EXPECT_NEAR(s.globals[0].value, 30000, 3 * s.globals[0].error);
  EXPECT_NEAR(s.globals[1].value, 5.0, 3 * s.globals[1].error);
  EXPECT_LE(s.globals[1].lower95, 5.0 + 3 * s.globals[1].error);
}

}  // namespace
}  // namespace tarmic::testing
