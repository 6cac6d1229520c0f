// tarmic-batch as a user runs it: what it refuses and with which exit code, what it
// leaves alone when it refuses, runs at once in one folder, and its readouts on a
// terminal.
#include <cstdio>
#include <regex>
#include <set>

#include "batch_test_support.h"
#include "scandata/text_io.h"

namespace tarmic::testing {
namespace {

// A folder of its own for each test, holding a copy of the example in "data".
class BatchProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = FreshTestFolderWithExample(); }
  std::string Data() const { return root_ + "/data"; }
  // The c(s) run of the recipe on the copy, with the options given.
  std::vector<std::string> CsRun(std::vector<std::string> options = {}) const {
    std::vector<std::string> args = {"--parameters", Data() + "/cs.~p"};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string& s : ExampleScans(Data())) args.push_back(s);
    return args;
  }
  std::string root_;
};

// Refusals of the input: exit code 2, the reason on stderr, nothing written, no
// summary; an analysis the model cannot compute: exit code 1 with its summary.
struct Refusal {
  const char* name;
  std::vector<std::string> (*args)(const std::string& data);
  int code;
  const char* said;  // a line of stderr
  void (*prepare)(const std::string& data) = nullptr;  // what is done to the copy first
};

std::vector<std::string> WithScans(std::vector<std::string> args, const std::string& data) {
  for (const std::string& s : ExampleScans(data)) args.push_back(s);
  return args;
}

const Refusal kRefusals[] = {
    {"NoParameterFile", [](const std::string& d) { return WithScans({}, d); }, 2,
     "tarmic-batch: --parameters FILE is missing"},
    {"UnknownMethod",
     [](const std::string& d) { return WithScans({"--parameters", d + "/cs.~p", "--fit", "--method", "newton"}, d); },
     2, "tarmic-batch: unknown method newton (simplex, annealing or marquardt)"},
    {"ParameterFileMissing",
     [](const std::string& d) { return WithScans({"--parameters", d + "/none.~p"}, d); }, 2,
     "tarmic-batch: the parameter file DATA/none.~p was not taken"},
    {"ScanAsParameterFile",
     [](const std::string& d) { return WithScans({"--parameters", d + "/00001.ra0"}, d); }, 2,
     "reload parameters: the parameter file DATA/00001.ra0 cannot be used: line 1 holds \"[T OK]synthetic\", "
     "which is not a number"},
    // A question nobody answers in a batch: written out, answered No, and the run ends.
    {"OneScanAsksAQuestion",
     [](const std::string& d) { return std::vector<std::string>{"--parameters", d + "/cs.~p", d + "/00001.ra0"}; },
     2, "tarmic-batch: not answered (a batch run asks nothing): LOAD ERROR: switch to Equilibrium Data Mode?"},
    {"ScanMissing",
     [](const std::string& d) { return WithScans({"--parameters", d + "/cs.~p", d + "/00099.ra0"}, d); }, 2,
     "LOAD ERROR: DATA/00099.ra0 the file cannot be opened"},
    // A model of light-scattering data chosen by the parameter file (line 73, code
    // 503) cannot run on sedimentation data.
    {"ModelForOtherData",
     [](const std::string& d) { return WithScans({"--parameters", d + "/dls.~p"}, d); }, 1,
     "ATTENTION: this model needs DLS data: load DLS Data first"},
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class BatchRefusalTest : public BatchProgramTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(BatchRefusalTest, SaysWhyAndWritesNothing) {
  const Refusal& r = GetParam();
  {
    // cs.~p with the model code of the light-scattering I(Rh) distribution.
    std::ifstream in(Data() + "/cs.~p");
    std::ofstream out(Data() + "/dls.~p");
    int line = 0;
    for (std::string text; std::getline(in, text);) out << (++line == 73 ? "503.000000" : text) << "\n";
  }
  if (r.prepare) r.prepare(Data());
  const std::map<std::string, std::string> before = FolderContents(Data());
  const BatchOutput run = RunBatchProgram(root_, r.args(Data()));
  EXPECT_EQ(run.code, r.code) << run.err;
  std::string said = r.said;
  if (const std::size_t at = said.find("DATA"); at != std::string::npos) said.replace(at, 4, Data());
  EXPECT_NE(run.err.find(said + "\n"), std::string::npos) << run.err;
  EXPECT_EQ(FolderContents(Data()), before);
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/home"));
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp"));
  if (r.code == 2) {
    EXPECT_EQ(run.out, "");
  } else {
    const std::map<std::string, std::string> c = SummaryColumns(run.out);
    EXPECT_EQ(c.at("status"), "not computed");
    EXPECT_EQ(c.at("rmsd [OD]"), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Refusals, BatchRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A result that exists is never replaced without --replace: the run refuses before
// it writes anything, naming the file; with --replace every result is written.
TEST_F(BatchProgramTest, AnExistingResultIsReplacedOnlyWithReplace) {
  std::ofstream(Data() + "/distribution.dat") << "mine\n";
  const std::map<std::string, std::string> before = FolderContents(Data());
  const BatchOutput refused = RunBatchProgram(root_, CsRun(), "refused");
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(refused.err, "tarmic-batch: " + Data() +
                             "/distribution.dat exists; results are replaced only with --replace\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(FolderContents(Data()), before);

  const BatchOutput replaced = RunBatchProgram(root_, CsRun({"--replace"}), "replaced");
  EXPECT_EQ(replaced.code, 0) << replaced.err;
  const std::map<std::string, std::string> after = FolderContents(Data());
  EXPECT_EQ(after.at("distribution.dat").rfind("# TARMIC distribution c(s)\n", 0), 0u);
  // fits, residuals, report, parameters, grid; summary, peaks, manifest; three
  // pictures as SVG and PNG
  EXPECT_EQ(after.size(), before.size() + 20 + 20 + 3 + 3 + 6);
}

// Eight runs at once in one folder, each replacing what the others write: every one
// computes, and the folder holds one whole set of results, the set one run alone
// writes; no run leaves a file of its own behind.
TEST_F(BatchProgramTest, EightRunsAtOnceInOneFolderLeaveOneResult) {
  const std::string alone = root_ + "/alone";
  CopyExample(alone);
  // One seed for all: the summaries name it.
  std::vector<std::string> args = {"--parameters", alone + "/cs.~p", "--seed", "7"};
  for (const std::string& s : ExampleScans(alone)) args.push_back(s);
  const BatchOutput single = RunBatchProgram(root_, args, "alone");
  ASSERT_EQ(single.code, 0) << single.err;

  // The eight start together from one shell script, each in the background.
  std::string script;
  for (int k = 1; k <= 8; ++k) {
    const std::string at = root_ + "/at" + std::to_string(k);
    script += "(" + BatchCommand(CsRun({"--replace", "--seed", "7"})) + " >" + Quoted(at + ".out") + " 2>" + Quoted(at + ".err") +
              "; echo $? >" + Quoted(at + ".code") + ") &\n";
  }
  std::ofstream(root_ + "/at.sh") << script << "wait\n";
  ASSERT_EQ(std::system((BatchEnvironment(root_) + "sh " + Quoted(root_ + "/at.sh")).c_str()), 0);
  std::set<std::string> summaries;
  for (int k = 1; k <= 8; ++k) {
    const std::string err = ReadWhole(Format("%s/at%d.err", root_.c_str(), k));
    EXPECT_EQ(ReadWhole(Format("%s/at%d.code", root_.c_str(), k)), "0\n") << err;
    // What a run may meet of the others: their saved analysis and their results,
    // which it replaces. No box of a file the runs would share.
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
      EXPECT_TRUE(line == "load previous analysis? [No]" ||
                  (line.starts_with("ERROR: file " + Data() + "/") && line.ends_with(" [Yes]")))
          << line;
    std::string out = ReadWhole(Format("%s/at%d.out", root_.c_str(), k));
    summaries.insert(out.replace(out.find(Data()), Data().size(), alone));
  }
  EXPECT_EQ(summaries, std::set<std::string>{single.out});
  std::map<std::string, std::string> together = ResultContents(Data()), apart = ResultContents(alone);
  EXPECT_EQ(together.size(), apart.size());
  for (const auto& [name, contents] : apart) EXPECT_EQ(together[name], contents) << name;
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp"));
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/home"));
}

// The user's settings apply as in the window, and are read, never written: here the
// regularisation by the second derivative (line 10 of "tarmicparams.ini" is 2)
// instead of maximum entropy, which the report's heading names.
TEST_F(BatchProgramTest, TheUsersSettingsApplyAndStayAsTheyAre) {
  const std::string config = root_ + "/home/.config/tarmic";
  batch_fs::create_directories(config);
  const std::string settings = "1\n0.0010\n0\n0\n0\n0\n0\n1\n1\n2\n0\n2\n1\n1\n2\n1.0\n0\n1\n100\n";
  std::ofstream(config + "/tarmicparams.ini") << settings;
  const BatchOutput run = RunBatchProgram(root_, CsRun());
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string report = ReadWhole(Data() + "/fitparams.txt");
  EXPECT_NE(report.find("Tikhonov regularization P = 0.68"), std::string::npos) << report;
  EXPECT_EQ(ReadWhole(config + "/tarmicparams.ini"), settings);
  EXPECT_EQ(FolderContents(config).size(), 1u);
}

// A box about a settings file names the user's file, not the run's copy of it
// (which is gone when the run ends): here a thread count with a fraction.
TEST_F(BatchProgramTest, ASettingsBoxNamesTheUsersFile) {
  const std::string config = root_ + "/home/.config/tarmic";
  batch_fs::create_directories(config);
  std::ofstream(config + "/tarmicparams.ini") << "1\n0.0010\n0\n0\n0\n0\n0\n1\n1\n2\n0\n2.5\n1\n1\n2\n1.0\n0\n1\n100\n";
  const BatchOutput run = RunBatchProgram(root_, CsRun());
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find(config + "/tarmicparams.ini, line 12 holds \"2.5\", which is not a whole number"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find(root_ + "/tmp"), std::string::npos) << run.err;
}

// On a terminal the readouts of the computation are written over one line; into a
// file or a pipe nothing but the boxes.
TEST_F(BatchProgramTest, ReadoutsOnlyOnATerminal) {
  const std::string command = BatchEnvironment(root_) + "script -qec " + Quoted(BatchCommand(CsRun()) + " >/dev/null") +
                              " /dev/null >" + Quoted(root_ + "/terminal.err");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string terminal = ReadWhole(root_ + "/terminal.err");
  EXPECT_NE(terminal.find("\rsolving Lamm equations...\033[K"), std::string::npos) << terminal;
  // How far the Run has got: the kernels done of all, then the later stages beside it.
  const std::regex done("\rsolving Lamm equations\\.\\.\\. ([0-9]+) of \\1 done  calculating normal equations");
  EXPECT_TRUE(std::regex_search(terminal, done)) << terminal;

  const BatchOutput piped = RunBatchProgram(root_, CsRun({"--output", root_ + "/piped", "--seed", "1"}));
  EXPECT_EQ(piped.code, 0);
  EXPECT_EQ(piped.err, "load previous analysis? [No]\n");
}

}  // namespace
}  // namespace tarmic::testing
