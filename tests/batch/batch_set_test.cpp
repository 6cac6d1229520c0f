// --set NAME=VALUE: what the command line refuses, what --help lists, and that a
// value set by name gives the results of the parameter file edited in that line.
#include "batch/batch_options.h"
#include "batch_test_support.h"

namespace tarmic::testing {
namespace {

TEST(BatchSet, RefusesUnknownNamesAndValuesNamingThem) {
  const struct {
    std::vector<std::string> sets;
    const char* error;
  } cases[] = {
      {{"tilt=3"}, "--set: unknown name tilt (tarmic-batch --help lists the names)"},
      {{"meniscus"}, "--set meniscus: give NAME=VALUE"},
      {{"meniscus=6,0"}, "--set meniscus=6,0: the meniscus \"6,0\" is no number: it must lie between 1 and 20 cm"},
      {{"s-max=inf"}, "--set s-max=inf: the grid limit s-max \"inf\" is no number: it must lie between -1e+16 and "
                      "1e+16 S"},
      {{"resolution=1"}, "--set resolution=1: the resolution 1 must be a whole number from 2 to 100000"},
      {{"resolution=50.5"}, "--set resolution=50.5: the resolution \"50.5\" must be a whole number from 2 to 100000"},
      // Each value judged as the quantity it is, before anything runs.
      {{"c1=-1"}, "--set c1=-1: the total loading c1 -1 must lie between 0 and 1e+06"},
      {{"c2=1.5"}, "--set c2=1.5: the fraction of the total loading 1.5 must lie between 0 and 1"},
      {{"D1=0"}, "--set D1=0: the diffusion coefficient D (1e-7 cm^2/s) 0 must lie between 1e-06 and 10000"},
      {{"M2=0.5"}, "--set M2=0.5: the molar mass M 0.5 g/mol must lie between 1 and 1e+16 g/mol"},
      {{"ff0=0.01"}, "--set ff0=0.01: the frictional ratio f/f0 0.01 must lie between 0.1 and 50"},
      {{"bottom=25"}, "--set bottom=25: the bottom 25 cm must lie between 1 and 20 cm"},
      {{"ff0=1.3", "ff0=1.4"}, "--set ff0 is given twice"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--parameters", "p.~p"};
    for (const std::string& s : c.sets) args.insert(args.end(), {"--set", s});
    args.push_back("00001.ra0");
    const BatchArguments parsed = ParseBatchArguments(args);
    EXPECT_FALSE(parsed.options) << c.error;
    EXPECT_EQ(parsed.error, c.error);
  }
  const BatchArguments parsed = ParseBatchArguments(
      {"--parameters", "p.~p", "--set", "meniscus=5.95", "--set=D2=4.2", "--set", "resolution=100", "00001.ra0"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  ASSERT_EQ(parsed.options->settings.size(), 3u);
  EXPECT_EQ(parsed.options->settings[1].name, "D2");
  EXPECT_EQ(parsed.options->settings[1].value, "4.2");
}

class BatchSetRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = FreshTestFolderWithExample();  // each test its own: ctest runs them at once
  }
  BatchOutput Run(const std::string& parameters, const std::string& output, std::vector<std::string> options) {
    // One seed for every run: the summaries name it.
    std::vector<std::string> args = {"--parameters", root_ + "/data/" + parameters, "--output", root_ + "/" + output,
                                     "--seed", "1"};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string& s : ExampleScans(root_ + "/data")) args.push_back(s);
    return RunBatchProgram(root_, args, output);
  }
  void Edit(const std::string& from, const std::string& to, const std::map<int, std::string>& lines) {
    EditParameters(root_ + "/data/" + from, root_ + "/data/" + to, lines);
  }
  std::string root_;
};

// Set by name or edited in the file (the lines of the saved state: 3 resolution, 7
// s-max, 40 meniscus; species 2's D in line 14): the same results, byte for byte.
TEST_F(BatchSetRunTest, AValueSetByNameIsTheValueEditedInItsLine) {
  Edit("cs.~p", "cs-edited.~p", {{3, "50"}, {7, "12"}, {40, "5.99"}});
  const BatchOutput set = Run("cs.~p", "set", {"--set", "s-max=12", "--set", "resolution=50", "--set", "meniscus=5.99"});
  const BatchOutput edited = Run("cs-edited.~p", "edited", {});
  ASSERT_EQ(set.code, 0) << set.err;
  ASSERT_EQ(edited.code, 0) << edited.err;
  std::map<std::string, std::string> a = ResultContents(root_ + "/set"), b = ResultContents(root_ + "/edited");
  // The saved analysis is named after its parameter file.
  EXPECT_EQ(a.size(), b.size());
  for (const auto& [name, text] : a)
    if (!name.ends_with(".~p")) EXPECT_EQ(text, b[name]) << name;
  EXPECT_EQ(set.out, edited.out);

  Edit("species.~p", "species-edited.~p", {{14, "4.2"}});
  const BatchOutput species = Run("species.~p", "species-set", {"--set", "D2=4.2"});
  const BatchOutput speciesEdited = Run("species-edited.~p", "species-edited", {});
  ASSERT_EQ(species.code, 0) << species.err;
  EXPECT_EQ(species.out, speciesEdited.out);
  EXPECT_EQ(SummaryColumns(species.out).at("D2 [1e-7 cm^2/s]"), "4.200");
}

// A value (or an option) the model has no use for, or that the window refuses:
// exit 2, naming it.
TEST_F(BatchSetRunTest, AValueTheAnalysisDoesNotTakeEndsTheRunNamingIt) {
  const struct {
    const char* parameters;
    std::vector<std::string> options;
    const char* said;
  } cases[] = {
      {"cs.~p", {"--set", "s1=4.1"}, "tarmic-batch: --set s1=4.1 does not apply: the model of the parameter file has no discrete species"},
      {"species.~p", {"--set", "M1=5"}, "tarmic-batch: --set M1=5 does not apply: the species have D, not M (no \"Fit M and s\")"},
      {"species.~p", {"--set", "s3=2"}, "tarmic-batch: --set s3=2 does not apply: species 3 is not part of the model of the parameter file"},
      {"cs.~p", {"--set", "s-min=20"}, "(with --set s-min=20) was not taken"},
      // M in D's line: named as the value it is, not as a D out of range.
      {"species.~p", {"--set", "M1=60000"},
       "tarmic-batch: --set M1=60000 does not apply: the species have D, not M (no \"Fit M and s\")\n"},
      // What the Run would refuse, refused before it: the grid's memory, the sign of
      // s the buoyancy allows.
      {"cs.~p", {"--set", "resolution=100000"},
       "tarmic-batch: the analysis with --set resolution=100000 cannot run: a grid of 100000 points needs "},
      {"cs.~p", {"--set", "s-min=-5"},
       "tarmic-batch: the analysis with --set s-min=-5 cannot run: the s grid from -5 to 15 S holds negative s"},
      // The options of a distribution's statistics and of systematic noise.
      {"species.~p", {"--monte-carlo", "5"},
       "tarmic-batch: --monte-carlo: the model of the parameter file is no continuous distribution\n"},
      {"cs.~p", {"--save-noise"}, "tarmic-batch: --save-noise: the analysis of the parameter file fits no systematic noise\n"},
  };
  for (const auto& c : cases) {
    const BatchOutput run = Run(c.parameters, "refused", c.options);
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(batch_fs::exists(root_ + "/refused"));
  }
}

// --help names every setting.
TEST(BatchSet, HelpListsEveryName) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchSetHelp";
  const BatchOutput help = RunBatchProgram(root, {"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* name : {"meniscus", "bottom", "s-min", "s-max", "resolution", "ff0", "confidence", "fit-from",
                           "fit-to", "s1..s4", "D1..D4", "M1..M4", "c1..c4", "--set NAME=VALUE"})
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace tarmic::testing
