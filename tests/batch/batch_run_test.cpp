// tarmic-batch on what a laboratory gives it: the scans it is told to read and no
// others, fits judged by their own report, every distribution model of a parameter
// file, simulated annealing without a question, and runs repeated by their seed.
#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "batch/batch_options.h"
#include "batch/batch_run.h"
#include "batch_test_support.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "resources/command_ids.h"
#include "scandata/text_io.h"
#include "tests/commands/distribution_window_test_support.h"

namespace tarmic::testing {
namespace {

// ---- the options of the seed and of simulated annealing ----
struct SettingLine {
  std::vector<std::string> args;
  const char* error;  // empty when accepted
};

const SettingLine kSettingLines[] = {
    {{"--seed", "0"}, ""},
    {{"--seed", "4294967295"}, ""},
    {{"--seed", "4294967296"}, "--seed 4294967296: the seed 4294967296 must be a whole number from 0 to 4294967295"},
    {{"--seed", "-1"}, "--seed -1: the seed -1 must be a whole number from 0 to 4294967295"},
    {{"--seed", "1", "--seed", "2"}, "--seed is given twice"},
    {{"--fit", "--method", "annealing", "--anneal-temperature", "0.5", "--anneal-steps", "3", "--anneal-iterations",
      "20", "--anneal-final", "none"},
     ""},
    {{"--fit", "--method", "annealing", "--anneal-temperature", "0"},
     "--anneal-temperature 0: the starting temperature 0 must lie between 1e-06 and 1000"},
    {{"--fit", "--method", "annealing", "--anneal-steps", "x"},
     "--anneal-steps x: the number of temperature steps \"x\" must be a whole number from 1 to 10000"},
    // Counts are whole numbers, every one alike: a fraction is refused, never cut.
    {{"--fit", "--method", "annealing", "--anneal-steps", "2.5"},
     "--anneal-steps 2.5: the number of temperature steps \"2.5\" must be a whole number from 1 to 10000"},
    {{"--fit", "--method", "annealing", "--anneal-iterations", "100.5"},
     "--anneal-iterations 100.5: the number of iterations per temperature \"100.5\" must be a whole number from 1 to "
     "10000"},
    {{"--monte-carlo", "2.5"}, "--monte-carlo 2.5: the number of Monte-Carlo data sets \"2.5\" must be a whole number "
                               "from 2 to 100000"},
    {{"--cell", "1.5"}, "--cell 1.5: the cell \"1.5\" must be a whole number from 0 to 99"},
    {{"--cell", "2", "--cell", "3"}, "--cell is given twice"},
    {{"--wavelength", "280.5"}, "--wavelength 280.5: the wavelength \"280.5\" must be a whole number from 1 to 99999"},
    {{"--wavelength", "0"}, "--wavelength 0: the wavelength 0 must be a whole number from 1 to 99999"},
    {{"--wavelength", "280", "--wavelength", "260"}, "--wavelength is given twice"},
    {{"--wavelength=280", "--cell", "1"}, ""},
    {{"--seed", "7.0"}, ""},
    {{"--fit", "--method", "annealing", "--anneal-final", "newton"},
     "--anneal-final newton: the final method is ml, simplex or none"},
    {{"--fit", "--method", "marquardt", "--anneal-steps", "3"},
     "the --anneal- settings are simulated annealing's: give --method annealing too"},
};

void PrintTo(const SettingLine& l, std::ostream* os) {
  for (const std::string& a : l.args) *os << a << ' ';
}

class BatchSettingArgumentsTest : public ::testing::TestWithParam<SettingLine> {};

TEST_P(BatchSettingArgumentsTest, TakesTheValueOrSaysWhatIsWrong) {
  std::vector<std::string> args = {"--parameters", "p"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  args.push_back("a.ra1");
  const BatchArguments a = ParseBatchArguments(args);
  EXPECT_EQ(a.error, GetParam().error);
  EXPECT_EQ(a.options.has_value(), a.error.empty());
}

INSTANTIATE_TEST_SUITE_P(Lines, BatchSettingArgumentsTest, ::testing::ValuesIn(kSettingLines));

// ---- the answers to annealing's inputs: what the inputs propose ----
class BatchAnnealingAnswersTest : public DistributionWindowTest {};

TEST_F(BatchAnnealingAnswersTest, AreWhatTheInputsProposeUnlessAnOptionSetsThem) {
  // The window's inputs, each cancelled: what they open with.
  for (int k = 0; k < 4; ++k) Backend().QueueInput(std::nullopt);
  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Dispatch(kCmFitAnnealing);
  std::vector<std::string> proposed;
  for (const TranscriptEntry& e : Backend().Transcript())
    if (e.kind == "Input") proposed.push_back(e.initial);
  EXPECT_EQ(AnnealingAnswers(BatchOptions{}), proposed);

  // The options' values, typed into the same inputs, are the settings they name.
  BatchOptions o;
  o.annealTemperature = 0.25f;
  o.annealSteps = 3;
  o.annealIterations = 40;
  o.annealFinal = 2;
  for (const std::string& answer : AnnealingAnswers(o)) Backend().QueueInput(answer);
  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Dispatch(kCmFitAnnealing);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(SearchSettings().fAnnealStartTemp, 0.25f);
  EXPECT_EQ(SearchSettings().nAnnealTemps, 3);
  EXPECT_EQ(SearchSettings().nAnnealIters, 40);
  EXPECT_TRUE(SearchSettings().bAnnealFinalSimplex);
  EXPECT_FALSE(SearchSettings().bAnnealFinalML);
}

// ---- runs of the program ----
class BatchRunTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = FreshTestFolderWithExample(); }
  std::string Data() const { return root_ + "/data"; }

  // Runs the commands together, each in the background, and gives what each wrote.
  std::vector<BatchOutput> RunTogether(const std::vector<std::vector<std::string>>& runs) const {
    std::string script;
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::string at = root_ + "/run" + std::to_string(k);
      script += "(" + BatchCommand(runs[k]) + " >" + Quoted(at + ".out") + " 2>" + Quoted(at + ".err") +
                " </dev/null; echo $? >" + Quoted(at + ".code") + ") &\n";
    }
    std::ofstream(root_ + "/together.sh") << script << "wait\n";
    EXPECT_EQ(std::system((BatchEnvironment(root_) + "sh " + Quoted(root_ + "/together.sh")).c_str()), 0);
    std::vector<BatchOutput> outputs;
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::string at = root_ + "/run" + std::to_string(k);
      BatchOutput r;
      r.code = std::atoi(ReadWhole(at + ".code").c_str());
      r.out = ReadWhole(at + ".out");
      r.err = ReadWhole(at + ".err");
      outputs.push_back(r);
    }
    return outputs;
  }

  // A copy of a parameter file of the example with lines (1-based) replaced.
  std::string EditedParameters(const std::string& from, const std::string& name,
                               const std::map<int, std::string>& lines) const {
    std::ifstream in(Data() + "/" + from);
    std::ofstream out(Data() + "/" + name);
    int n = 0;
    for (std::string text; std::getline(in, text);) {
      const auto edit = lines.find(++n);
      out << (edit == lines.end() ? text : edit->second) << "\n";
    }
    return Data() + "/" + name;
  }

  std::string root_;
};

// Item: every scan named is the scan read. A list "Load New Files" cannot take as
// given (scans of two folders, a file named twice) is refused before anything is
// read or written, naming why.
TEST_F(BatchRunTest, EveryScanNamedIsTheScanReadOrTheListIsRefused) {
  const std::string other = root_ + "/other";
  batch_fs::create_directories(other);
  for (int k = 11; k <= 20; ++k)
    batch_fs::copy_file(Format("%s/%05d.ra0", Data().c_str(), k), Format("%s/%03d.ra0", other.c_str(), k));
  std::vector<std::string> twoFolders = {"--parameters", Data() + "/cs.~p"};
  for (int k = 1; k <= 10; ++k) twoFolders.push_back(Format("%s/%05d.ra0", Data().c_str(), k));
  for (int k = 11; k <= 20; ++k) twoFolders.push_back(Format("%s/%03d.ra0", other.c_str(), k));
  std::vector<std::string> twice = {"--parameters", Data() + "/cs.~p"};
  for (const std::string& s : ExampleScans(Data())) twice.push_back(s);
  twice.push_back(Data() + "/../data/00003.ra0");
  const std::map<std::string, std::string> before = FolderContents(Data()), otherBefore = FolderContents(other);
  const std::vector<BatchOutput> runs = RunTogether({twoFolders, twice});
  const std::string said[] = {
      "tarmic-batch: the scans are in more than one folder (" + other + "/011.ra0 is not in " + Data() +
          "): Load New Files reads a selection from one folder; run each folder on its own\n",
      "tarmic-batch: " + Data() + "/00003.ra0 is named twice: each scan is named once\n"};
  for (std::size_t k = 0; k < runs.size(); ++k) {
    EXPECT_EQ(runs[k].code, 2) << runs[k].err;
    EXPECT_EQ(runs[k].err, said[k]);
    EXPECT_EQ(runs[k].out, "");
  }
  EXPECT_EQ(FolderContents(Data()), before);
  EXPECT_EQ(FolderContents(other), otherBefore);
}

// Item: a fit that did not converge is a result with a flag, whatever its search:
// here simulated annealing alone, one temperature of a few evaluations (the end of
// its schedule is no convergence), on the discrete species and on the refinement of
// c(s) with a floated meniscus (line 46): status "computed with flags", flag "not
// converged" (and "misfit" of the species far from their minimum), exit code 3, the whole set saved; run again, the set is kept with its
// exit code 3. The same annealing followed by Marquardt-Levenberg converges: saved,
// exit 0, and with one seed byte for byte the same files twice (another seed
// starts the simplex elsewhere and ends elsewhere in the last digits).
TEST_F(BatchRunTest, TheFitsOwnReportDecidesAndTheSeedRepeatsTheRun) {
  const std::string floatedMeniscus = EditedParameters("cs.~p", "meniscus.~p", {{46, "1.000000"}});
  const auto annealing = [&](const std::string& parameters, const std::string& out, const char* final,
                             const char* iterations, const char* seed) {
    std::vector<std::string> args = {"--parameters", parameters, "--fit", "--method", "annealing", "--anneal-steps",
                                     "1", "--anneal-iterations", iterations, "--anneal-final", final,
                                     "--seed", seed, "--output", root_ + "/" + out};
    for (const std::string& s : ExampleScans(Data())) args.push_back(s);
    return args;
  };
  const std::string species = Data() + "/species.~p";
  const std::vector<BatchOutput> runs = RunTogether({
      annealing(species, "alone", "none", "5", "5"),
      annealing(floatedMeniscus, "refinement", "none", "1", "5"),
      annealing(species, "first", "ml", "10", "5"),
      annealing(species, "second", "ml", "10", "5"),
      annealing(species, "third", "ml", "10", "6"),
  });
  for (std::size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(runs[k].code, 3) << runs[k].err;
    const std::map<std::string, std::string> c = SummaryColumns(runs[k].out);
    EXPECT_EQ(c.at("status"), "computed with flags");
    // The species, far from their minimum, misfit too; c(s) makes no misfit estimate.
    const std::string flags = k == 0 ? "not converged; misfit" : "not converged";
    EXPECT_EQ(c.at("flags"), flags);
    EXPECT_NE(runs[k].err.find("tarmic-batch: computed with flags (" + flags + "); the results are saved\n"),
              std::string::npos)
        << runs[k].err;
    // The whole set: what Save Fit Data writes, the pictures, the summary printed, the manifest.
    const std::string dir = root_ + (k == 0 ? "/alone" : "/refinement");
    for (const char* name : {"fitparams.txt", "f0001.ra0", "r0001.ra0", "picture-data.svg", "manifest.tsv"})
      EXPECT_TRUE(batch_fs::exists(dir + "/" + name)) << name;
    EXPECT_EQ(ReadWhole(dir + "/summary.tsv"), runs[k].out);
  }
  // The flagged set, complete, is kept as it is, with its exit code.
  const BatchOutput again = RunTogether({annealing(species, "alone", "none", "5", "5")}).front();
  EXPECT_EQ(again.code, 3) << again.err;
  EXPECT_EQ(again.out, runs[0].out);
  EXPECT_NE(again.err.find("tarmic-batch: kept: "), std::string::npos) << again.err;
  EXPECT_NE(runs[0].err.find("tarmic-batch: simulated annealing: start temperature 2.000000, 1 temperature steps, 5 "
                             "iterations per temperature, final method none\n"),
            std::string::npos)
      << runs[0].err;
  for (std::size_t k = 2; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(runs[k].code, 0) << runs[k].err;
    const std::map<std::string, std::string> c = SummaryColumns(runs[k].out);
    EXPECT_EQ(c.at("status"), "computed");
    EXPECT_EQ(c.at("seed"), k == 4 ? "6" : "5");
    // A seed given is not said again.
    EXPECT_EQ(runs[k].err.find("tarmic-batch: seed"), std::string::npos) << runs[k].err;
  }
  const std::map<std::string, std::string> first = ResultContents(root_ + "/first");
  EXPECT_EQ(first.size(), 48u);  // fits, residuals, report, parameters, three pictures as SVG and PNG
  EXPECT_EQ(ResultContents(root_ + "/second"), first);
  EXPECT_NE(ResultContents(root_ + "/third").at("fitparams.txt"), first.at("fitparams.txt"));
}

// Item: every distribution model a parameter file can choose (each code of its
// line 73 the reader knows) runs in the batch to its end. The model that applies to
// these sedimentation scans ends "computed" with every result saved: its
// distribution (not c(s,ff0), whose cells Save Continuous Distribution does not
// write) and the grid file only for a grid built in s. A model for other data
// (light scattering) ends "not computed" as the window refuses it. No model waits
// for a file it does not write. The file is cs.~p with the model's code, a grid of
// 30 points, and values that serve every model where the models read different
// things: line 12 (the M of a discrete component, the least f/f0 of c(s,ff0)) 1,
// line 34 (the number of f/f0 values) 5; five of the scans.
// The models in shards of a quarter each (every run a whole batch analysis, dear under
// the sanitizers); every shard checks its own models.
constexpr int kDistributionShards = 4;

class BatchDistributionShard : public BatchRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(BatchDistributionShard, EveryDistributionModelOfAParameterFileEndsComputed) {
  const std::vector<int> all = ContinuousModelCodes();
  ASSERT_GE(all.size(), 20u);
  // The models that need what these scans do not give: light-scattering data, the
  // table of the M(s) model beside the program. And those whose analysis says an
  // error: c(M) with a prior vbar(M) meets M = 0 at the grid's start of 0, the
  // worm-like chains s = 0.
  const std::set<int> refused = {kCmContinuousCMPriorVbar,    kCmDLSDiffusionDistribution, kCmDLSStokesRadiusDistribution,
                                 kCmDLSTimeCourse,            kCmContinuousCsMsTable,      kCmContinuousCsWormChain};
  for (const int code : refused) EXPECT_EQ(std::count(all.begin(), all.end(), code), 1) << code;
  std::vector<int> codes;
  for (std::size_t k = 0; k < all.size(); ++k)
    if (static_cast<int>(k % kDistributionShards) == GetParam()) codes.push_back(all[k]);
  std::vector<std::vector<std::string>> runs;
  for (const int code : codes) {
    std::map<int, std::string> lines = {{3, "30.000000"}, {12, "1.000000"}, {34, "5.000000"},
                                        {73, Format("%d.000000", code)}};
    // The floating-vbar model keeps vbar where the others keep f/f0 (the window
    // writes them so).
    if (code == kCmContinuousCsFloatingVbar) lines.insert({{21, "0.730000"}, {23, "1.200000"}});
    const std::string parameters = EditedParameters("cs.~p", Format("model%d.~p", code), lines);
    std::vector<std::string> args = {"--parameters", parameters, "--seed", "1", "--output",
                                     Format("%s/model%d", root_.c_str(), code)};
    for (const int scan : {1, 5, 10, 15, 20}) args.push_back(Format("%s/%05d.ra0", Data().c_str(), scan));
    runs.push_back(args);
  }
  const std::vector<BatchOutput> outputs = RunTogether(runs);
  std::size_t computed = 0;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    SCOPED_TRACE(Format("code %d", codes[k]));
    const BatchOutput& r = outputs[k];
    const std::map<std::string, std::string> c = SummaryColumns(r.out);
    if (r.err.find("ATTENTION: this model needs DLS data") != std::string::npos ||
        r.err.find("/mofs.dat No such file") != std::string::npos || r.err.find("Error: ") != std::string::npos) {
      EXPECT_EQ(refused.count(codes[k]), 1u);
      EXPECT_EQ(r.code, 1);
      EXPECT_EQ(c.at("status"), "not computed");
      continue;
    }
    EXPECT_EQ(refused.count(codes[k]), 0u);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(c.at("status"), "computed");
    ++computed;
    const std::map<std::string, std::string> files = FolderContents(Format("%s/model%d", root_.c_str(), codes[k]));
    const std::string& model = c.at("model");
    // Every distribution is saved: c(s,ff0) as the window shows it, over s, with its
    // cells beside it.
    EXPECT_EQ(files.count("distribution.dat"), 1u) << model;
    EXPECT_EQ(files.count("distribution-ff0.dat"), model.find("c(s,ff0)") != std::string::npos ? 1u : 0u) << model;
    EXPECT_FALSE(c.at("peaks").empty()) << model;
    // The grid file of a grid in s; the c(M) family spaces its grid in M.
    EXPECT_EQ(files.count("sdist.ra0"), model.find("(M") != std::string::npos ? 0u : 1u) << model;
    EXPECT_EQ(files.count("fitparams.txt"), 1u);
  }
  // All but the refused.
  EXPECT_EQ(computed, codes.size() - static_cast<std::size_t>(std::count_if(codes.begin(), codes.end(), [&](int code) {
                        return refused.count(code) > 0;
                      })));
}

INSTANTIATE_TEST_SUITE_P(Shards, BatchDistributionShard, ::testing::Range(0, kDistributionShards));

// A fit of the two species of the example (4.0 and 8.0 S, ten scans) from starts on
// both sides of s = 0 and far beyond the truth, each with a seed of its own: a run that says
// "computed" found both species, and every other run says honestly how it ended
// (its flags: "at a bound: ...", "not converged", "grid", "misfit"), exits 3 and
// saves its whole result to look at. The starts are cases of their own (each a whole
// batch fit, dear under the sanitizers); the start by the truth and one far start
// share theirs, which checks that the starts reach both kinds of end.
struct FitStart {
  const char* s1;
  const char* s2;
  int seed;  // the simplex's first vertices
};
struct FitStartGroup {
  const char* name;
  std::vector<FitStart> starts;
};

class BatchFitEnds : public ::testing::TestWithParam<FitStartGroup> {};

TEST_P(BatchFitEnds, EveryStartEndsAtTheTruthOrSaysHowItEnded) {
  const FitStartGroup& group = GetParam();
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchFitEnds/" + group.name;
  batch_fs::remove_all(root);
  CopyExample(root + "/data");
  std::vector<std::string> scans = ExampleScans(root + "/data");
  scans.resize(10);
  const std::set<std::string> flagTexts = {"not converged", "grid", "misfit"};
  std::set<std::string> seen;
  int k = 0;
  for (const FitStart& start : group.starts) {
    const std::string seed = std::to_string(start.seed);
    SCOPED_TRACE(std::string(start.s1) + " " + start.s2 + " seed " + seed);
    const std::string out = root + "/out" + std::to_string(++k);
    std::vector<std::string> args = {"--parameters", root + "/data/species.~p", "--fit", "--seed", seed,
                                     "--set", start.s1, "--set", start.s2, "--output", out};
    args.insert(args.end(), scans.begin(), scans.end());
    const BatchOutput run = RunBatchProgram(root, args, "run" + std::to_string(k));
    const std::map<std::string, std::string> summary = SummaryColumns(run.out);
    const std::string status = summary.count("status") ? summary.at("status") : "";
    seen.insert(status);
    if (status == "computed") {
      EXPECT_EQ(run.code, 0) << run.err;
      // The species in either order, each within 2 % of its s.
      const double a = std::stod(summary.at("s1 [S]")), b = std::stod(summary.at("s2 [S]"));
      EXPECT_NEAR(std::min(a, b), 4.0, 0.08);
      EXPECT_NEAR(std::max(a, b), 8.0, 0.16);
    } else {
      EXPECT_EQ(status, "computed with flags") << run.err;
      EXPECT_EQ(run.code, 3);
      // Each flag one of the table's texts, "; " between them.
      const std::string flags = summary.at("flags");
      EXPECT_FALSE(flags.empty());
      for (std::size_t at = 0; at < flags.size();) {
        const std::size_t end = std::min(flags.find("; ", at), flags.size());
        const std::string flag = flags.substr(at, end - at);
        EXPECT_TRUE(flagTexts.count(flag) || flag.starts_with("at a bound: ") || flag.starts_with("species ") ||
                    flag.starts_with("misfit: the data place the meniscus "))
            << flag;
        at = end + 2;
      }
      EXPECT_TRUE(batch_fs::exists(out + "/fitparams.txt"));
      EXPECT_EQ(ReadWhole(out + "/summary.tsv"), run.out);
    }
  }
  // The starts of a group of two reach both kinds of end.
  if (group.starts.size() > 1) {
    EXPECT_TRUE(seen.count("computed"));
    EXPECT_GE(seen.size(), 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Starts, BatchFitEnds,
    ::testing::Values(FitStartGroup{"NearAndBelowZero", {{"s1=3.5", "s2=7.5", 1}, {"s1=-3", "s2=-1", 5}}},
                      FitStartGroup{"LowAndFar", {{"s1=0.3", "s2=15", 2}}},
                      FitStartGroup{"BelowZeroAndTruth", {{"s1=-1", "s2=8", 3}}},
                      FitStartGroup{"TruthAndFar", {{"s1=4", "s2=30", 4}}}),
    [](const ::testing::TestParamInfo<FitStartGroup>& info) { return std::string(info.param.name); });

// The verdicts through the batch, on the example set (the program's own simulation of
// 4 S and 8 S at 0.005 OD, its first ten scans): fits of the true model by
// Marquardt-Levenberg and by the simplex (two seeds) end "computed" without a flag;
// the same fits with the meniscus held 0.004 cm off the true 6.0 cm end "computed
// with flags", exit 3, a misfit among the flags and every file written. Prints each
// run's status and flags, the calibration sweep's end-to-end rows.
TEST(BatchVerdicts, TheTruthEndsCleanAndAMeniscusHeldOffIsFlagged) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchVerdicts";
  batch_fs::remove_all(root);
  CopyExample(root + "/data");
  std::vector<std::string> scans = ExampleScans(root + "/data");
  scans.resize(10);
  struct Case {
    const char* method;
    const char* seed;
    const char* meniscus;
    bool biased;
  };
  const Case cases[] = {{"marquardt", "1", "6.0", false}, {"simplex", "1", "6.0", false}, {"simplex", "2", "6.0", false},
                        {"marquardt", "1", "6.004", true}, {"simplex", "1", "6.004", true}};
  int k = 0, falseAlarms = 0, honest = 0, found = 0, biased = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " seed " + c.seed + " meniscus " + c.meniscus);
    const std::string out = root + "/out" + std::to_string(++k);
    std::vector<std::string> args = {"--parameters", root + "/data/species.~p", "--fit", "--method", c.method,
                                     "--seed", c.seed, "--set", "s1=3.8", "--set", "s2=7.6", "--set",
                                     std::string("meniscus=") + c.meniscus, "--output", out};
    args.insert(args.end(), scans.begin(), scans.end());
    const BatchOutput run = RunBatchProgram(root, args, "run" + std::to_string(k));
    const std::map<std::string, std::string> summary = SummaryColumns(run.out);
    const std::string status = summary.count("status") ? summary.at("status") : "";
    const std::string flags = summary.count("flags") ? summary.at("flags") : "";
    std::printf("batch verdict %-9s seed %s meniscus %-5s: %s (%s), exit %d\n", c.method, c.seed, c.meniscus,
                status.c_str(), flags.c_str(), run.code);
    EXPECT_TRUE(batch_fs::exists(out + "/summary.tsv")) << run.err;
    if (c.biased) {
      ++biased;
      found += flags.find("misfit") != std::string::npos;
      EXPECT_EQ(status, "computed with flags") << run.err;
      EXPECT_EQ(run.code, 3);
      EXPECT_NE(flags.find("misfit"), std::string::npos) << flags;
    } else {
      ++honest;
      falseAlarms += !flags.empty();
      EXPECT_EQ(status, "computed") << flags << "\n" << run.err;
      EXPECT_EQ(run.code, 0);
    }
  }
  std::printf("batch verdicts: %d of %d honest fits flagged, %d of %d fits with the meniscus held off flagged\n",
              falseAlarms, honest, found, biased);
}

}  // namespace
}  // namespace tarmic::testing
