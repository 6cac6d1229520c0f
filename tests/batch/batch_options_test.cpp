// The command line of tarmic-batch: what each form gives, and what it refuses.
#include <gtest/gtest.h>

#include "batch/batch_options.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

struct Line {
  std::vector<std::string> args;
  const char* error;  // empty when accepted
  bool fit = false, replace = false;
  int method = 0;
  const char* output = "";
  std::size_t scans = 0;
};

const Line kLines[] = {
    {{"--parameters", "p.~p", "a.ra1"}, "", false, false, 0, "", 1},
    {{"--parameters=p.~p", "--fit", "--method=marquardt", "--output", "out", "--replace", "a", "b"}, "", true, true,
     kCmFitMarquardt, "out", 2},
    {{"--fit", "--method", "simplex", "--parameters", "p", "a"}, "", true, false, kCmFitSimplex, "", 1},
    {{"--fit", "--method", "annealing", "--parameters", "p", "a"}, "", true, false, kCmFitAnnealing, "", 1},
    // After "--" every word is a scan, also one that starts with "-".
    {{"--parameters", "p", "--", "--fit", "-x"}, "", false, false, 0, "", 2},
    {{"a.ra1"}, "--parameters FILE is missing"},
    {{"--parameters", "p"}, "no scan files given"},
    {{"--parameters"}, "--parameters needs a value"},
    {{"--parameters=", "a"}, "--parameters needs a value"},
    {{"--parameters", "p", "--parameters", "q", "a"}, "--parameters is given twice"},
    {{"--parameters", "p", "--method", "marquardt", "a"}, "--method chooses the search of a fit: give --fit too"},
    {{"--parameters", "p", "--fit", "--method", "Marquardt", "a"},
     "unknown method Marquardt (simplex, annealing or marquardt)"},
    {{"--parameters", "p", "--fit=yes", "a"}, "--fit takes no value"},
    {{"--parameters", "p", "--verbose", "a"}, "unknown option --verbose"},
};

class BatchArgumentsTest : public ::testing::TestWithParam<Line> {};

TEST_P(BatchArgumentsTest, GivesTheOptionsOrSaysWhatIsWrong) {
  const Line& l = GetParam();
  const BatchArguments a = ParseBatchArguments(l.args);
  EXPECT_EQ(a.error, l.error);
  EXPECT_FALSE(a.help);
  ASSERT_EQ(a.options.has_value(), std::string(l.error).empty());
  if (!a.options) return;
  EXPECT_EQ(a.options->fit, l.fit);
  EXPECT_EQ(a.options->replace, l.replace);
  EXPECT_EQ(a.options->methodCommand, l.method);
  EXPECT_EQ(a.options->output, l.output);
  EXPECT_EQ(a.options->scans.size(), l.scans);
  EXPECT_FALSE(a.options->parameters.empty());
}

INSTANTIATE_TEST_SUITE_P(Lines, BatchArgumentsTest, ::testing::ValuesIn(kLines));

TEST(BatchArguments, HelpWinsOverEverythingAfterIt) {
  EXPECT_TRUE(ParseBatchArguments({"--help", "--bogus"}).help);
  EXPECT_TRUE(ParseBatchArguments({"-h"}).help);
}

}  // namespace
}  // namespace tarmic::testing
