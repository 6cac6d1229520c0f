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

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Five sets: the limit files beside the results, and for every peak of `peaks` a
// lower and an upper limit of its position and its area, the lower not above the
// upper, the positions inside the peak's part of the grid (0 to 15 S).
TEST_F(BatchExtrasTest, MonteCarloGivesEveryPeakItsLimits) {
  const BatchOutput run = Run("cs.~p", {"--monte-carlo", "5"});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::map<std::string, std::string> c = SummaryColumns(run.out);
  const std::vector<std::string> peaks = Words(c.at("peaks"));
  ASSERT_EQ(peaks.size(), 2u);
  for (const char* column : {"position-limits", "area-limits"}) {
    const std::vector<std::string> limits = Words(c.at(column));
    ASSERT_EQ(limits.size(), peaks.size()) << column;
    for (const std::string& l : limits) {
      const double low = std::stod(l.substr(0, l.find(':'))), high = std::stod(l.substr(l.find(':') + 1));
      EXPECT_LE(low, high) << column << " " << l;
      EXPECT_GT(low, 0.0) << l;
      EXPECT_LT(high, column[0] == 'p' ? 15.0 : 1.0) << l;
    }
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
                                          "picture-data.svg", "picture-data.png", "picture-residuals.svg",
                                          "picture-residuals.png", "picture-species.svg", "picture-species.png"}));

  const BatchOutput single = RunBatchProgram(root_, {"--parameters", Data() + "/species.~p", scans[0]}, "single");
  EXPECT_EQ(single.code, 2);
  EXPECT_NE(single.err.find("tarmic-batch: a single scan is equilibrium data: give --equilibrium\n"), std::string::npos)
      << single.err;
}

}  // namespace
}  // namespace tarmic::testing
