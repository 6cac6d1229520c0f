// Grid points that some scan does not measure count in no least squares. Scans with
// a gap (a region excluded) on a grid of their own, where the resampling bridges the
// gap by a straight line, must give in every least-squares routine over the common
// grid what the same scans give on a grid that has no point in the gap at all. In
// the gapped set the grid rows, the kernels and the species tables hold a wild value
// inside the gap, which must change nothing (nor may a level of the ctot tables be
// found there). The sweep runs over the five noise
// models; the census that every routine reading the grid's fit range goes through
// the fit points is the source scan at the end.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <iostream>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "distributions/ctot_tables.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelcalc/direct_boundary.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelfit/lamm_settings.h"
#include "platform/headless/headless_backend.h"
#include "scandata/fit_limits.h"
#include "services/path_table.h"
#include "modelcalc/linear_step_doors.h"
#include "tests/distributions/distribution_test_support.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/support/production_sources.h"

namespace tarmic {
namespace {

constexpr int kScans = 6;
constexpr int kRadii = 121;                  // 6.00 .. 7.20 cm, 0.01 cm apart
constexpr int kGapFirst = 51, kGapLast = 61;  // 6.50 .. 6.60 cm excluded
constexpr float kWild = 50.0f;

std::size_t Z(int i) { return static_cast<std::size_t>(i); }
float Radius(int k) { return 6.0f + static_cast<float>(k - 1) * 0.01f; }
bool InGap(float r) { return r > Radius(kGapFirst) - 0.005f && r < Radius(kGapLast) + 0.005f; }

// Two boundaries, a sine of time-invariant noise, a per-scan offset and a fixed
// pattern of noise: the data of scan s at radius r.
double Signal(int s, int k, double r) {
  const double noise = 0.003 * std::sin(12.9898 * k + 78.233 * s);
  return 0.6 * testing::BoundaryKernel(3.0, s, r) + 0.3 * testing::BoundaryKernel(7.0, s, r) +
         0.02 * std::sin(9.0 * r) + 0.01 * s + noise;
}

// Everything the routines left, keyed by radius where it lives on the grid.
struct Outcome {
  std::vector<double> values;
  std::vector<std::pair<float, double>> onGrid;
};

class GridFitPointsTest : public ::testing::TestWithParam<NoiseModel> {
 protected:
  void SetUp() override { test::ResetModelCalcState(); }
  void TearDown() override { test::ResetModelCalcState(); }

  // The scans without the gap; gapped: on a grid of their own (absorbance data),
  // otherwise on their shared radii.
  static void Load(bool gapped) {
    test::ResetModelCalcState();
    ResetDistributionEngine();
    AllocScanTables(kScans);
    for (int s = 1; s <= kScans; ++s) {
      std::vector<float> r, y;
      for (int k = 1; k <= kRadii; ++k) {
        if (k >= kGapFirst && k <= kGapLast) continue;
        r.push_back(Radius(k));
        y.push_back(static_cast<float>(Signal(s, k, Radius(k))));
      }
      const int n = static_cast<int>(r.size());
      float* rr = tarmic::vector(1, n);
      float* yy = tarmic::vector(1, n);
      std::copy(r.begin(), r.end(), rr + 1);
      std::copy(y.begin(), y.end(), yy + 1);
      DataSet().pScanInfo[Z(s)].time = 300.0 * s;
      DataSet().pScanInfo[Z(s)].rpm = 50000.0f;
      DataSet().pScanInfo[Z(s)].omega2t = 300.0 * s * std::pow(50000.0 * 2.0 * std::numbers::pi / 60.0, 2);
      InstallScanArrays(s, n, rr, yy, nullptr, false);
    }
    ScanFile().bAbsorbanceData = gapped;
    RadialGrid().fRadialStep = 0.01f;
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
    AnalysisSwitches().pParams[14] = DataSet().fBottom;
    AnalysisSwitches().pSpeciesLinked[1] = AnalysisSwitches().pSpeciesLinked[2] = 1;
    ASSERT_TRUE(BuildCommonRadialGrid());
    DataSet().fFitLeftLim = 6.1f;
    DataSet().fFitRightLim = 7.1f;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
  }

  // A wild value at the grid points inside the gap of row[1..nGridPoints].
  static void Spoil(float* row) {
    for (int g = 1; g <= CurrentGrid().nGridPoints; ++g)
      if (InGap(CurrentGrid().pGridRadius[g])) row[g] = kWild;
  }

  static void SetSwitches(NoiseModel m) {
    AnalysisSwitches().bFitTINoise = m == NoiseModel::TI || m == NoiseModel::TIRI;
    AnalysisSwitches().bFitRINoise = m == NoiseModel::RI || m == NoiseModel::TIRI;
    ModelParams().bVaryBaseline = m == NoiseModel::Baseline;
  }

  static Outcome Run(bool gapped, NoiseModel m) {
    Outcome out;
    Load(gapped);
    SetSwitches(m);
    const GridFitPoints fit = CurrentGridFitPoints();
    EXPECT_EQ(fit.Whole(), !gapped);
    // The fit-range totals of the grid.
    out.values.push_back(CurrentGrid().fGridPointTotal);
    out.values.push_back(CurrentGrid().fGridSignalTotal);
    for (int s = 1; s <= kScans; ++s) out.values.push_back(CurrentGrid().pScanMeans[s]);
    if (gapped)
      for (int s = 1; s <= kScans; ++s) Spoil(CurrentGrid().ppGridSignal[Z(s)]);

    // The distribution's normal equations, their degrees of freedom, and the
    // Monte-Carlo right-hand side rebuilt from the same data.
    testing::MakeKernels(testing::EvenS(8, 1.0, 10.0));
    if (gapped)
      for (int k = 1; k <= DistributionVectors().nDistGrid; ++k)
        for (int s = 1; s <= kScans; ++s) Spoil(DistributionStorage().pppKernels[k][s]);
    EXPECT_TRUE(BuildNormalEquations(m));
    out.values.push_back(NormalEquations().dSumSqData);
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
      out.values.push_back(DistributionStorage().pNormalRhs[i]);
      for (int j = 1; j <= i; ++j) out.values.push_back(DistributionStorage().ppNormalMatrix[i][j]);
    }
    SetRegularizationTarget(DistributionVectors().nDistGrid);
    out.values.push_back(Regularization().fDegreesOfFreedom);
    std::vector<std::vector<float>> grid(Z(kScans) + 1);
    for (int s = 1; s <= kScans; ++s) grid[Z(s)].assign(CurrentGrid().ppGridSignal[Z(s)], CurrentGrid().ppGridSignal[Z(s)] + CurrentGrid().nGridPoints + 1);
    EXPECT_TRUE(RebuildMonteCarloRhs(grid, 1, fit));
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) out.values.push_back(DistributionStorage().pNormalRhs[i]);

    // The linear amplitudes of two discrete species with the noise of the model.
    ModelFlags().bDiscreteModel = true;
    for (int k = 1; k <= 2; ++k) {
      LinearAmplitudes().pAppliedAmplitude[k] = 1.0f;
      for (int s = 1; s <= kScans; ++s) {
        float* row = CurrentGrid().pppSpeciesSignal[k][Z(s)];
        for (int g = 1; g <= CurrentGrid().nGridPoints; ++g)
          row[g] = testing::BoundaryKernel(k == 1 ? 3.0 : 7.0, s, CurrentGrid().pGridRadius[g]);
        if (gapped) Spoil(row);
      }
    }
    switch (m) {
      case NoiseModel::TIRI: KeepLinearStepResult(FitAmplitudesTIRINoise(CurrentLinearStepInput())); break;
      case NoiseModel::TI: KeepLinearStepResult(FitAmplitudesTINoise(CurrentLinearStepInput())); break;
      case NoiseModel::RI: KeepLinearStepResult(FitAmplitudesRINoise(CurrentLinearStepInput())); break;
      case NoiseModel::Baseline: KeepLinearStepResult(FitAmplitudesBaseline(CurrentLinearStepInput())); break;
      case NoiseModel::Plain: KeepLinearStepResult(FitAmplitudesFixedBaseline(CurrentLinearStepInput())); break;
    }
    out.values.push_back(ModelParams().pSpeciesAmplitude[1]);
    out.values.push_back(ModelParams().pSpeciesAmplitude[2]);
    out.values.push_back(ModelParams().fBaseline);
    for (int s = 1; s <= kScans; ++s) out.values.push_back(CurrentGrid().pRINoise[s]);
    fit.ForEach([&](int g) { out.onGrid.emplace_back(CurrentGrid().pGridRadius[g], CurrentGrid().pTINoise[g]); });

    // The ctot tables from the data less the noise just fitted: where each level lies.
    const std::string folder = std::string(TARMIC_TEST_OUTPUT_DIR) + "/grid_fit_points";
    std::filesystem::create_directories(folder);
    szBoundaryFractsFile = folder + "/fracts.dat";
    szNonIdCtotFile = folder + "/ctot.dat";
    Ctot().bCtotFromData = true;
    LammSettings().nLammGridPoints = 40;
    EXPECT_TRUE(BuildCtotTables());
    for (int p = 1; p <= kScans; ++p)
      for (int k = 1; k <= Ctot().nCtotLevels; ++k) out.values.push_back(Ctot().gCtot.byScan[Z(p)][Z(k)]);
    FreeCtotArrays();

    // The direct boundary model of a g(s*) of two peaks, its noise fitted alike.
    const float sStar[] = {0.0f, 2.0f, 3.0f, 4.0f, 6.0f, 7.0f, 8.0f};
    const float gss[] = {0.0f, 0.1f, 0.5f, 0.1f, 0.05f, 0.25f, 0.05f};
    EXPECT_EQ(DirectBoundaryFromGss(nullptr, sStar, gss, 6), DirectBoundaryEnd::Done);
    for (int s = 1; s <= kScans; ++s) {
      out.values.push_back(CurrentGrid().pRINoise[s]);
      for (int q = DataSet().pFitFirst[Z(s)]; q <= DataSet().pFitLast[Z(s)]; ++q) out.values.push_back(DataSet().ppFit[Z(s)][q]);
    }
    out.values.push_back(ModelParams().fBaseline);
    return out;
  }
  ScopedHeadlessBackend backend;
};

TEST_P(GridFitPointsTest, EveryLeastSquaresIgnoresThePointsInAGap) {
  const Outcome absent = Run(false, GetParam());
  const Outcome gapped = Run(true, GetParam());
  ASSERT_EQ(gapped.values.size(), absent.values.size());
  for (std::size_t i = 0; i < absent.values.size(); ++i)
    EXPECT_NEAR(gapped.values[i], absent.values[i], 2e-5 * (1.0 + std::fabs(absent.values[i]))) << "value " << i;
  ASSERT_EQ(gapped.onGrid.size(), absent.onGrid.size());
  for (std::size_t i = 0; i < absent.onGrid.size(); ++i) {
    EXPECT_FLOAT_EQ(gapped.onGrid[i].first, absent.onGrid[i].first);
    EXPECT_NEAR(gapped.onGrid[i].second, absent.onGrid[i].second, 2e-5) << "TI at " << absent.onGrid[i].first;
  }
}

// The fit points of every fit range over the gapped and the whole grid, against a
// count by radius: the points that count are those of the range outside the gap
// (and within half a spacing of the scans' ends).
TEST_F(GridFitPointsTest, EveryFitRangeCountsThePointsOutsideTheGap) {
  for (const bool gapped : {false, true}) {
    Load(gapped);
    for (int first = 1; first <= CurrentGrid().nGridPoints; first += 7)
      for (int last = first - 1; last <= CurrentGrid().nGridPoints; last += 5) {
        CurrentGrid().iFitFirst = first;
        CurrentGrid().iFitLast = last;
        std::vector<int> expected;
        for (int g = first; g <= last; ++g)
          if (!gapped || !(InGap(CurrentGrid().pGridRadius[g]) || CurrentGrid().pGridRadius[g] < Radius(1) - 0.005f ||
                           CurrentGrid().pGridRadius[g] > Radius(kRadii) + 0.005f))
            expected.push_back(g);
        const GridFitPoints f = CurrentGridFitPoints();
        std::vector<int> walked;
        f.ForEach([&](int g) { walked.push_back(g); });
        ASSERT_EQ(walked, expected) << first << ".." << last << (gapped ? " gapped" : "");
        EXPECT_EQ(f.Count(), static_cast<int>(expected.size()));
        EXPECT_EQ(f.Whole(), static_cast<int>(expected.size()) == std::max(last - first + 1, 0));
      }
  }
}

INSTANTIATE_TEST_SUITE_P(NoiseModels, GridFitPointsTest,
                         ::testing::Values(NoiseModel::Plain, NoiseModel::Baseline, NoiseModel::TI,
                                           NoiseModel::RI, NoiseModel::TIRI));

// The census of the least squares over the common grid: every production source
// that reads the grid's fit range (iFitFirst, iFitLast) or its rows (ppGridSignal)
// takes the fit points (GridFitPoints), unless it stands below as a reader that
// fits nothing. A routine added later that sums over the range by itself fails here.
TEST(GridFitPointsCensus, EveryReaderOfTheGridFitRangeTakesTheFitPoints) {
  const std::set<std::string> fitsNothing = {
      "scandata/radial_grid.h",      // defines the grid and the fit points
      "scandata/radial_grid.cpp",
      "scandata/grid_data.h",        // holds the grid's storage and frees it
      "scandata/grid_data.cpp",
      "scandata/offset_tools.cpp",   // aligns interference fringes at one radius
      "scandata/result_files.cpp",   // saves the noise profile over the range
      "commands/copy_commands.cpp",  // copies the rows to the clipboard
      "commands/display_commands.cpp",
      "plot/residual_bitmap.cpp",    // draws the residuals
      "modelcalc/dls_data_set.cpp",  // averages DLS correlation functions
      "modelcalc/time_course.cpp",   // averages DLS windows into one record
      "distributions/distribution_arrays.cpp",   // the largest s that reaches the range
      "distributions/distribution_kernels.cpp",
      "bench/bench_distributions.cpp",
  };
  std::set<std::string> doors, unlisted;
  for (const auto& [name, code] : testing::ProductionSources()) {
    if (code.find("CurrentGridFitPoints") != std::string::npos && !fitsNothing.count(name)) doors.insert(name);
    else if ((code.find("iFitFirst") != std::string::npos || code.find("iFitLast") != std::string::npos ||
              code.find("ppGridSignal") != std::string::npos) &&
             !fitsNothing.count(name))
      unlisted.insert(name);
  }
  EXPECT_EQ(unlisted, std::set<std::string>{}) << "reads the grid's fit range without the fit points";
  // The routines found (the fit-range means, the linear amplitudes, the normal
  // equations, their degrees of freedom, the Monte-Carlo sets, the direct boundary
  // model, the ctot tables and the noise subtraction when written) take the fit
  // points; none of them is missing.
  std::cout << doors.size() << " sources take the fit points" << std::endl;
  for (const char* routine : {"modelcalc/linear_amplitudes.cpp", "distributions/normal_equations.cpp"})
    EXPECT_TRUE(doors.count(routine)) << routine << " no longer takes the fit points";
}

// No loop of any source, a door or a reader that fits nothing, sums over the
// grid's fit range by itself: a loop over iFitFirst..iFitLast whose body adds up
// asks the fit points (Counts) in it. A second loop added to a listed file fails.
TEST(GridFitPointsCensus, NoLoopSumsOverTheFitRangePastTheFitPoints) {
  const std::regex rangeLoop(R"(\bfor\s*\([^;]*\b(iFitFirst|iFitLast)\b)");
  int loops = 0;
  for (const auto& [name, code] : testing::ProductionSources()) {
    if (name.rfind("scandata/radial_grid", 0) == 0) continue;
    std::vector<std::string> lines;
    std::istringstream text(code);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (!std::regex_search(lines[i], rangeLoop)) continue;
      ++loops;
      std::string body;
      for (std::size_t k = i; k < lines.size() && k <= i + 4; ++k) body += lines[k] + "\n";
      EXPECT_TRUE(body.find("+=") == std::string::npos || body.find("Counts(") != std::string::npos)
          << name << ":" << i + 1 << " sums over the fit range past the fit points:\n" << body;
    }
  }
  std::cout << loops << " loops over the fit range" << std::endl;
}

}  // namespace
}  // namespace tarmic
