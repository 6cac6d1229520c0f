// The command line of tarmic-batch: what each form gives, and what it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "batch/batch_backend.h"
#include "batch/batch_options.h"
#include "resources/command_ids.h"
#include "tests/support/production_sources.h"

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
    {{"--parameters", "p", "--velocity", "--equilibrium", "a"},
     "--velocity and --equilibrium name two kinds of data: give one"},
};

void PrintTo(const Line& l, std::ostream* os) {
  for (const std::string& a : l.args) *os << a << ' ';
}

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

namespace tarmic::testing {
namespace {

// A box on one line: the caption, then the lines of the text joined by one blank.
TEST(BatchBoxLine, JoinsTheLinesOfABox) {
  EXPECT_EQ(BoxLine("ERROR", "file a already exists!\nOverwrite?"), "ERROR: file a already exists! Overwrite?");
  EXPECT_EQ(BoxLine("", "load previous analysis?"), "load previous analysis?");
  EXPECT_EQ(BoxLine("X", "\n\aAttention:  a \n\n  b  \n"), "X: Attention:  a b");
}

// Every question the batch answers itself is asked somewhere in the program under
// its id (outside the batch): an id nobody asks would answer nothing.
TEST(BatchAnsweredQuestions, EachIsAskedByTheProgram) {
  std::string sources;
  for (const auto& [name, code] : ProductionSources())
    if (!name.starts_with("batch/") && name.find("computation_events") == std::string::npos) sources += code;
  const std::vector<QuestionId> questions = BatchAnsweredQuestions();
  EXPECT_EQ(questions.size(), 5u);
  const std::map<QuestionId, std::string> spelled = {
      {QuestionId::LoadPreviousAnalysis, "LoadPreviousAnalysis"}, {QuestionId::RestorePreviousData, "RestorePreviousData"},
      {QuestionId::SaveAsDefaultSetting, "SaveAsDefaultSetting"}, {QuestionId::ConvertIntensities, "ConvertIntensities"},
      {QuestionId::ReplaceFiles, "ReplaceFiles"}};
  for (const QuestionId q : questions) {
    ASSERT_TRUE(spelled.contains(q)) << QuestionName(q);
    EXPECT_NE(sources.find("QuestionId::" + spelled.at(q)), std::string::npos) << QuestionName(q);
  }
}

}  // namespace
}  // namespace tarmic::testing
