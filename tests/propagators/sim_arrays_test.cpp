// The shared simulation arrays, their grids, and the run services every
// propagator uses (scan recording, rotor ramp).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "services/run_switches.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/sim_run.h"
#include "scandata/data_set.h"
#include "tests/support/production_sources.h"

namespace tarmic {
namespace {

class SimArrays : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSimArrays();
    ResetSimRunState();
    ResetLammSettings();
    ResetModelFlags();
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
  }
  void TearDown() override {
    ResetSimArrays();
    ResetSimRunState();
    ResetLammSettings();
    ResetModelFlags();
    bUserAbort = false;
  }
};

TEST_F(SimArrays, AllocationFollowsGridSizeAndModelBlocks) {
  LammSettings().nLammGridPoints = 200;
  LammSettings().bMovingHat = false;
  LammSettings().bClaverie = true;
  ASSERT_TRUE(AllocSimArrays());
  double* first = LammArrays().pLammConc;
  // Allocated once: a second call keeps the arrays and rebuilds the grid.
  LammArrays().pLammRadius[5] = 0.0;
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_EQ(LammArrays().pLammConc, first);
  EXPECT_NEAR(LammArrays().pLammRadius[5], 6.0 + 4 * 1.2 / 199, 1e-6);
  // A new grid size or another model is never built into the old arrays.
  LammSettings().nLammGridPoints = 400;
  LammSettings().bMovingHat = true;
  LammSettings().bClaverie = false;
  ModelFlags().bMonomerDimer = true;
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_EQ(LammArrays().nSimGridPointsAllocated, 400);
  ASSERT_NE(LammArrays().pLammRadius2, nullptr);
  ASSERT_NE(SimWork().pDiffElem[6], nullptr);
  SimWork().pLammConcNew[400] = SimWork().pFullHatBeta[400] = 1.0;  // the last entries exist
  EXPECT_DOUBLE_EQ(LammArrays().pLammRadius[400], 7.2f);
  // Sizes beyond the cap or below the minimum are refused and change nothing.
  EXPECT_FALSE(ResizeSimArrays(2147483647));
  EXPECT_FALSE(ResizeSimArrays(2));
  EXPECT_EQ(LammArrays().nSimGridPointsAllocated, 400);
  EXPECT_TRUE(ResizeSimArrays(250));
  EXPECT_EQ(LammSettings().nLammGridPoints, 250);
  FreeSimArrays();
  FreeSimArrays();
  EXPECT_EQ(LammArrays().pLammConc, nullptr);
  EXPECT_FALSE(ResizeSimArrays(300));
}

TEST_F(SimArrays, GridsOfTheThreeAlgorithms) {
  const int N = 101;
  const double m = DataSet().fMeniscus, b = DataSet().fBottom;
  LammSettings().nLammGridPoints = N;
  LammSettings().bMovingHat = true;
  LammSettings().bClaverie = false;
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_NEAR(LammArrays().pLammRadius[2], m * std::pow(b / m, 0.5 / (N - 1)), 1e-5);
  EXPECT_NEAR(LammArrays().pLammRadius[50] / LammArrays().pLammRadius[49], std::pow(b / m, 1.0 / (N - 1)), 1e-12);
  EXPECT_EQ(LammArrays().pLammRadius2[50], LammArrays().pLammRadius[50]);
  SimClock().dFrameS = -3.0;  // a frame moving inward puts node 2 1.5 ratios out
  BuildLammGrid();
  EXPECT_NEAR(LammArrays().pLammRadius[2], m * std::pow(b / m, 1.5 / (N - 1)), 1e-5);
  // The moved grid keeps its ends.
  SimClock().dFrameSedOmega2 = 1e-5;
  SimClock().dHatT0 = 0;
  SimClock().dSimTime = 100;
  MoveHatGrid();
  EXPECT_NEAR(LammArrays().pLammRadius[50], LammArrays().pLammRadius2[50] * std::exp(1e-3), 1e-12);
  EXPECT_FLOAT_EQ(LammArrays().pLammRadius[N], 7.2f);
  FreeSimArrays();
  LammSettings().bMovingHat = false;
  LammSettings().bClaverie = false;  // neither: cell-centred points
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_NEAR(LammArrays().pLammRadius[1], m + 0.5 * (b - m) / N, 1e-6);
}

TEST_F(SimArrays, OptimisedStaticGridAndBottomRefinement) {
  LammSettings().bMovingHat = false;
  LammSettings().bClaverie = true;
  LammSettings().nLammGridPoints = 49;
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_EQ(OptimizeStaticGridSize(6.5), 49);  // too few points to optimise
  LammSettings().nLammGridPoints = 400;
  ASSERT_TRUE(ResizeSimArrays(400));
  const int N = OptimizeStaticGridSize(6.3);
  EXPECT_LT(N, 400);
  EXPECT_GE(N, 50);
  ASSERT_TRUE(LammArrays().bOptimizedGridBuilt);
  const double h0 = 1.2 / 399;
  EXPECT_NEAR(LammArrays().pLammRadius[2] - LammArrays().pLammRadius[1], h0, 1e-6);
  for (int i = 2; i <= N; ++i) ASSERT_GT(LammArrays().pLammRadius[i], LammArrays().pLammRadius[i - 1]) << i;
  EXPECT_FLOAT_EQ(LammArrays().pLammRadius[N], 7.2f);
  // Widening beyond r*: the last spacing is larger than the first.
  EXPECT_GT(LammArrays().pLammRadius[N - 1] - LammArrays().pLammRadius[N - 2], 1.5 * h0);
  ASSERT_TRUE(RefineGridAtBottom(10.0));
  for (int i = 2; i <= N; ++i) ASSERT_GT(LammArrays().pLammRadius[i], LammArrays().pLammRadius[i - 1]) << i;
  EXPECT_DOUBLE_EQ(LammArrays().pLammRadius[N], DataSet().fBottom);
  const double q1 = (LammArrays().pLammRadius[N - 1] - LammArrays().pLammRadius[N - 2]) / (LammArrays().pLammRadius[N - 2] - LammArrays().pLammRadius[N - 3]);
  const double q2 = (LammArrays().pLammRadius[N - 2] - LammArrays().pLammRadius[N - 3]) / (LammArrays().pLammRadius[N - 3] - LammArrays().pLammRadius[N - 4]);
  EXPECT_NEAR(q1, q2, 1e-6);  // geometric growth towards the bottom
  // A boundary at the meniscus widens so fast that 50 equidistant points remain.
  ASSERT_TRUE(ResizeSimArrays(400));
  EXPECT_EQ(OptimizeStaticGridSize(6.0005), 50);
  EXPECT_FALSE(LammArrays().bOptimizedGridBuilt);
}

// Every builder lays its grid in the cell it is given, whatever the data set holds
// (here 6.0-7.2 cm; the forms without a cell, which take the data set's, are those
// of the tests above).
TEST_F(SimArrays, EveryGridIsLaidInTheCellItIsGiven) {
  enum class Kind { MovingHat, MovingHatInward, Equidistant, Optimised, CellCentred };
  const auto lay = [](Kind kind, const GridCell& cell) {
    ResetSimArrays();
    SimClock().dFrameS = kind == Kind::MovingHatInward ? -3.0 : 3.0;
    LammSettings().bMovingHat = kind == Kind::MovingHat || kind == Kind::MovingHatInward;
    LammSettings().bClaverie = kind == Kind::Equidistant || kind == Kind::Optimised;
    LammSettings().nLammGridPoints = 300;
    EXPECT_TRUE(AllocSimArrays(cell));
    if (kind == Kind::Optimised) {
      OptimizeStaticGridSize(cell.meniscus + 0.2 * (cell.bottom - cell.meniscus), cell);
      EXPECT_TRUE(RefineGridAtBottom(10.0, cell));
    }
    if (LammSettings().bMovingHat) {
      SimClock().dFrameSedOmega2 = 1e-6;
      SimClock().dHatT0 = 0;
      SimClock().dSimTime = 100;
      MoveHatGrid();
    }
    AllocCosolventArrays(cell);
    const auto& a = LammArrays();
    std::vector<double> grid(a.pLammRadius + 1, a.pLammRadius + a.nSimGridPointsAllocated + 1);
    grid.insert(grid.end(), a.pCosolventRadius + 1, a.pCosolventRadius + a.nCosolventPoints + 1);
    return grid;
  };
  for (const GridCell cell : {GridCell{5.9, 7.3}, GridCell{6.5, 7.0}, GridCell{6.0, 7.2}}) {
    for (const Kind kind : {Kind::MovingHat, Kind::MovingHatInward, Kind::Equidistant, Kind::Optimised, Kind::CellCentred}) {
      SCOPED_TRACE(::testing::Message() << "cell " << cell.meniscus << "-" << cell.bottom << ", kind " << static_cast<int>(kind));
      const std::vector<double> grid = lay(kind, cell);
      const int N = LammArrays().nSimGridPointsAllocated, n = LammArrays().nCosolventPoints;
      ASSERT_EQ(grid.size(), static_cast<std::size_t>(N + n));
      const double h = (cell.bottom - cell.meniscus) / N;
      EXPECT_NEAR(grid[0], cell.meniscus + (kind == Kind::CellCentred ? h / 2 : 0.0), 1e-12);
      EXPECT_NEAR(grid[N - 1], cell.bottom - (kind == Kind::CellCentred ? h / 2 : 0.0), 1e-12);
      for (int i = 1; i < N; ++i) ASSERT_GT(grid[i], grid[i - 1]) << i;
      EXPECT_DOUBLE_EQ(grid[N], cell.meniscus);  // the cosolute grid
      EXPECT_NEAR(grid[N + n - 1], cell.bottom, 1e-12);
    }
  }
  // Correlation data has no cell: arrays, no grid.
  DataSet().bDLSData = true;
  EXPECT_TRUE(DataSetGridCell().none);
  DataSet().bDLSData = false;
}

// The census by the compiler: the grid builders and the coefficient laws reach
// neither the data set nor the model record, and the model computation, which lays
// its grid in its input's cell and makes the law and the reacting system's values
// from its input, cannot call the forms that take them from the analysis.
TEST(SimArraysCensus, TheBuildersAndLawsReachNoRecordAndTheComputationNoDoor) {
  for (const char* unit : {"propagators/sim_arrays.cpp", "propagators/inhomogeneous_solvent.cpp",
                           "propagators/coefficient_models.cpp"}) {
    const testing::IncludeClosure closure = testing::IncludeClosureOf(unit);
    ASSERT_TRUE(closure.complete) << unit;
    EXPECT_TRUE(closure.parts.count("SimArraysState")) << unit;  // the walk sees the parts
    for (const char* header : {"scandata/data_set.h", "modelfit/model_options.h", "propagators/sim_arrays_doors.h",
                               "propagators/nonideal_doors.h"})
      EXPECT_FALSE(closure.files.count(header)) << unit << " reaches " << header;
  }
  for (const char* unit : {"modelcalc/model_computation.cpp", "modelcalc/species_model_cl.cpp"}) {
    const testing::IncludeClosure closure = testing::IncludeClosureOf(unit);
    ASSERT_TRUE(closure.complete) << unit;
    EXPECT_TRUE(closure.files.count("propagators/sim_arrays.h")) << unit;
    EXPECT_FALSE(closure.files.count("propagators/sim_arrays_doors.h")) << unit;
    EXPECT_FALSE(closure.files.count("propagators/nonideal_doors.h")) << unit;
    EXPECT_FALSE(closure.files.count("propagators/reacting_doors.h")) << unit;
  }
}

TEST_F(SimArrays, RecorderRecordsScansFillsOnlyAfterAStopRuleAndRecordsFinalProfileOnce) {
  LammSettings().nLammGridPoints = 20;
  LammSettings().bMovingHat = false;
  LammSettings().bClaverie = true;
  ASSERT_TRUE(AllocSimArrays());
  std::vector<int> scans;
  std::vector<double> values;
  auto record = [&](int scan, const double*, const double* c, int) {
    scans.push_back(scan);
    values.push_back(c[1]);
  };
  ScanTimeRecorder rec({100.0, 200.0, 200.0, 300.0}, record);
  rec.Start();
  EXPECT_EQ(SimRun().dSimStopTime, 100.0);
  SimClock().dSimTime = 50;
  rec.Step(1.0);
  EXPECT_TRUE(scans.empty());
  LammArrays().pLammConc[1] = 1.0;
  SimClock().dSimTime = 100;
  rec.Step(1.0);
  LammArrays().pLammConc[1] = 2.0;
  SimClock().dSimTime = 200;
  rec.Step(1.0);  // two scans at the same time
  EXPECT_EQ(scans, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(SimRun().dSimStopTime, 300.0);
  // The run reaches steady state before the last scan: it gets the final profile.
  LammArrays().pLammConc[1] = 3.0;
  rec.Finish(SimStopReason::SteadyState);
  EXPECT_EQ(scans.back(), 3);
  EXPECT_EQ(values.back(), 3.0);

  // With the final profile to fit the run goes on after the last scan and the
  // final profile replaces the last scan once.
  scans.clear();
  values.clear();
  ScanTimeRecorder fin({100.0}, record, true);
  fin.Start();
  SimClock().dSimTime = 100;
  fin.Step(1.0);
  EXPECT_TRUE(fin.PastLastScan());
  EXPECT_EQ(SimRun().bSimContinue, 1);
  SimClock().dSimTime = kFinalProfileTime;
  fin.Step(1.0);
  EXPECT_EQ(SimRun().bSimContinue, 0);
  LammArrays().pLammConc[1] = 7.0;
  fin.Finish(SimStopReason::Progress);
  EXPECT_EQ(scans, (std::vector<int>{0, 0}));
  EXPECT_EQ(values.back(), 7.0);

  // An interrupt stops the run and records nothing more.
  ScanTimeRecorder stop({500.0}, record);
  stop.Start();
  bUserAbort = true;
  stop.Step(1.0);
  EXPECT_EQ(SimRun().bSimContinue, 0);
  const SimOutcome out = FinishSimRun(stop, SimStopReason::Progress, nullptr);
  EXPECT_EQ(out.status, SimStatus::Interrupted);
  EXPECT_EQ(scans.size(), 2u);
  bUserAbort = false;

  // A run that ends before its last scan without a stop rule has not computed the
  // later scans: none is filled, and it ends as a failure a finer grid may mend,
  // naming where it ended. The stop rules hand their profile on and succeed.
  for (const SimStopReason reason :
       {SimStopReason::Progress, SimStopReason::FitRange, SimStopReason::SteadyState}) {
    scans.clear();
    ScanTimeRecorder early({100.0, 200.0, 300.0}, record);
    early.Start();
    SimClock().dSimTime = 100;
    early.Step(1.0);
    SimClock().dSimTime = 150;
    const SimOutcome o = FinishSimRun(early, reason, nullptr);
    EXPECT_EQ(early.EveryScanComputed(), reason != SimStopReason::Progress);
    if (reason == SimStopReason::Progress) {
      EXPECT_EQ(o.status, SimStatus::Diverged);
      EXPECT_TRUE(o.refinable);
      EXPECT_NE(o.message.find("before scan 2 of 3"), std::string::npos) << o.message;
      EXPECT_EQ(scans, (std::vector<int>{0}));
    } else {
      EXPECT_TRUE(o.ok()) << o.message;
      EXPECT_EQ(scans, (std::vector<int>{0, 1, 2}));
    }
    SimRun().bSimDiverged = 0;
  }
}

TEST_F(SimArrays, RotorRampIsTheRmsSpeedOfTheStepAndEndsAtTheFinalSpeed) {
  SimRun().dFinalRpm = 50000;
  SimRun().dAccelRate = 200;
  SimRun().dAccelEndTime = 250;
  SimRun().bAccelerating = true;
  const double a = 200 * 100.0, b = 200 * 110.0;
  EXPECT_NEAR(SimRotorSpeedAtTime(100, 10), std::sqrt((a * a + b * b) / 2), 1e-9);
  EXPECT_TRUE(SimRun().bAccelerating);
  EXPECT_EQ(SimRotorSpeedAtTime(249.9, 10), 50000.0);  // capped at the final speed
  EXPECT_EQ(SimRotorSpeedAtTime(250, 1), 50000.0);
  EXPECT_FALSE(SimRun().bAccelerating);
  SimRun().bAccelerating = true;
  SimRun().dAccelEndTime = 5;  // an acceleration under 10 s is no ramp
  EXPECT_EQ(SimRotorSpeedAtTime(1, 1), 50000.0);
  EXPECT_FALSE(SimRun().bAccelerating);
}

}  // namespace
}  // namespace tarmic
