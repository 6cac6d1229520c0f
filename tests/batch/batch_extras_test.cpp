// --monte-carlo N and --save-noise: the window's Monte Carlo for Distributions and
// Save Systematic Noise in a batch run, their files among the results and the
// peaks' limits in the summary (their refusals stand with those of --set).
#include <set>

#include "batch_test_support.h"

namespace tarmic::testing {
namespace {

class BatchExtrasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchExtras." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    batch_fs::remove_all(root_);
    CopyExample(Data());
    // c(s) with time- and radially-invariant noise fitted (lines 76 and 81).
    EditParameters(Data() + "/cs.~p", Data() + "/noise.~p", {{76, "1.000000"}, {81, "1.000000"}});
  }
  std::string Data() const { return root_ + "/data"; }
  BatchOutput Run(const std::string& parameters, std::vector<std::string> options) const {
    std::vector<std::string> args = {"--parameters", Data() + "/" + parameters, "--output", root_ + "/out"};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string& s : ExampleScans(Data())) args.push_back(s);
    return RunBatchProgram(root_, args);
  }
  std::string root_;
};

// The area and weight-average position of a saved distribution (x, value per
// line) between lo and hi, by the trapezoid rule.
std::pair<double, double> PeakOfFile(const std::string& path, double lo, double hi) {
  std::istringstream in(ReadWhole(path));
  std::vector<std::pair<double, double>> points;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    double x = 0.0, y = 0.0;
    if (words >> x >> y) points.emplace_back(x, y);
  }
  double area = 0.0, moment = 0.0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    const auto [a, ya] = points[i - 1];
    const auto [b, yb] = points[i];
    if (a < lo || b > hi) continue;
    area += (b - a) * (ya + yb) / 2.0;
    moment += (b - a) * (a * ya + b * yb) / 2.0;
  }
  return {area, area > 0.0 ? moment / area : 0.0};
}

// Twenty sets: the limit files beside the results, and in peaks.tsv for every peak
// the 68 % limits of its position and its area, those of the peak the line names:
// the sets scatter about their mean distribution (mean.dat), so that the mean's
// peak, integrated here between the minima of the example's distribution (6 S),
// lies within the limits (widened by their width for the scatter of 20 sets), and
// the best fit's peak within a grid step (0.2 S) of its position's limits. A
// peak integrated over the best fit's narrow extent in every set instead would
// miss the mean's by more than the limits are wide.
TEST_F(BatchExtrasTest, MonteCarloGivesEveryPeakItsLimits) {
  const BatchOutput run = Run("cs.~p", {"--monte-carlo", "20", "--seed", "2"});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<std::map<std::string, std::string>> peaks = TableRows(ReadWhole(root_ + "/out/peaks.tsv"));
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(SummaryColumns(run.out).at("peaks"), "2");
  const std::pair<double, double> regions[] = {{0.0, 6.0}, {6.0, 15.0}};
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    const auto& p = peaks[k];
    SCOPED_TRACE(p.at("position"));
    EXPECT_EQ(p.at("peak"), std::to_string(k + 1));
    EXPECT_EQ(p.at("unit"), "S");
    // The limits belong to the peak the summary names: its position and area lie
    // within them (to the digits the file gives them), and they are no wider than
    // the peak's region.
    const double position = std::stod(p.at("position")), area = std::stod(p.at("area"));
    EXPECT_LE(std::stod(p.at("position low")), position + 0.0005);
    EXPECT_GE(std::stod(p.at("position high")), position - 0.0005);
    EXPECT_LE(std::stod(p.at("area low")), area + 0.00005);
    EXPECT_GE(std::stod(p.at("area high")), area - 0.00005);
    EXPECT_LT(std::stod(p.at("position high")) - std::stod(p.at("position low")), regions[k].second - regions[k].first);
    // The sets' mean distribution has its peak in the same region.
    const auto [meanArea, meanPosition] = PeakOfFile(root_ + "/out/mean.dat", regions[k].first, regions[k].second);
    EXPECT_NEAR(meanArea, area, 0.05 * area);
    EXPECT_NEAR(meanPosition, position, 0.2);
  }
  for (const char* file : {"lim160.dat", "lim840.dat", "mean.dat", "distribution.dat", "f0001.ra0"})
    EXPECT_TRUE(batch_fs::exists(root_ + "/out/" + file)) << file;
}

// The noise files of the fit: the TI noise as a scan, the RI noise as one line per
// scan with the scan's time (the example's scans are 420 s apart).
TEST_F(BatchExtrasTest, SaveNoiseWritesBothNoiseFiles) {
  const BatchOutput run = Run("noise.~p", {"--save-noise"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::istringstream ri(ReadWhole(root_ + "/out/RIN.ra0"));
  int lines = 0;
  for (std::string line; std::getline(ri, line);) {
    ++lines;
    EXPECT_EQ(line.substr(0, line.find(' ')), std::to_string(420 * lines)) << line;
  }
  EXPECT_EQ(lines, 20);
  EXPECT_TRUE(ReadWhole(root_ + "/out/TIN.ra0").starts_with("[T OK]time-independent noise"));
}

// Equilibrium scans: loaded as "load sedimentation equilibrium data" loads them
// with --equilibrium, the analysis of the parameter file run and saved as in the
// window (equilibrium data keep no saved parameters of the fit); without it a
// single scan asks the velocity loader's question and the run says what to give.
TEST_F(BatchExtrasTest, EquilibriumScansRunWithEquilibrium) {
  const std::vector<std::string> scans = {Data() + "/00019.ra0", Data() + "/00020.ra0"};
  std::vector<std::string> args = {"--parameters", Data() + "/species.~p", "--output", root_ + "/out", "--equilibrium"};
  args.insert(args.end(), scans.begin(), scans.end());
  const BatchOutput run = RunBatchProgram(root_, args);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(SummaryColumns(run.out).at("status"), "computed");
  std::set<std::string> names;
  for (const auto& [name, text] : FolderContents(root_ + "/out")) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"f0019.ra0", "f0020.ra0", "r0019.ra0", "r0020.ra0", "fitparams.txt",
                                          "summary.tsv", "manifest.tsv", "picture-data.svg", "picture-data.png",
                                          "picture-residuals.svg", "picture-residuals.png", "picture-species.svg",
                                          "picture-species.png"}));

  const BatchOutput single = RunBatchProgram(root_, {"--parameters", Data() + "/species.~p", scans[0]}, "single");
  EXPECT_EQ(single.code, 2);
  EXPECT_NE(single.err.find("tarmic-batch: a single scan is equilibrium data: give --equilibrium\n"), std::string::npos)
      << single.err;
}

}  // namespace
}  // namespace tarmic::testing
