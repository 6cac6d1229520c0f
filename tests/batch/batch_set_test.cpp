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
      {{"meniscus=6,0"}, "--set meniscus=6,0: \"6,0\" is not a number"},
      {{"s-max=inf"}, "--set s-max=inf: \"inf\" is not a number"},
      {{"resolution=1"}, "--set resolution=1: the resolution is a whole number of grid points, at least 2"},
      {{"resolution=50.5"}, "--set resolution=50.5: the resolution is a whole number of grid points, at least 2"},
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
  std::map<std::string, std::string> a = FolderContents(root_ + "/set"), b = FolderContents(root_ + "/edited");
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
  EXPECT_EQ(SummaryColumns(species.out).at("D2"), "4.200");
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
