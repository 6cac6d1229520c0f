// What tarmic-batch leaves in its output folder: nothing when a run ends without
// results (a folder that cannot take them, a refused model, a file the disk does
// not take, a signal), a whole result set whatever runs beside it, and on standard
// output the summary alone.
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <thread>

#include "batch_test_support.h"
#include "scandata/text_io.h"
#include "storage/atomic_file.h"

namespace tarmic::testing {
namespace {

class BatchOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchOutput." + info->name();
    batch_fs::remove_all(root_);
    CopyExample(Data());
  }
  std::string Data() const { return root_ + "/data"; }
  std::vector<std::string> Run(const std::string& parameters, std::vector<std::string> options = {}) const {
    std::vector<std::string> args = {"--parameters", Data() + "/" + parameters};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string& s : ExampleScans(Data())) args.push_back(s);
    return args;
  }
  // Runs of the same analysis started together from one shell script.
  std::vector<BatchOutput> AtOnce(const std::vector<std::vector<std::string>>& runs) const {
    std::string script;
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::string at = root_ + "/at" + std::to_string(k);
      script += "(" + BatchCommand(runs[k]) + " >" + Quoted(at + ".out") + " 2>" + Quoted(at + ".err") +
                "; echo $? >" + Quoted(at + ".code") + ") &\n";
    }
    std::ofstream(root_ + "/at.sh") << script << "wait\n";
    EXPECT_EQ(std::system((BatchEnvironment(root_) + "sh " + Quoted(root_ + "/at.sh")).c_str()), 0);
    std::vector<BatchOutput> outputs;
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::string at = root_ + "/at" + std::to_string(k);
      outputs.push_back({std::stoi(ReadWhole(at + ".code")), ReadWhole(at + ".out"), ReadWhole(at + ".err")});
    }
    return outputs;
  }
  // The results of one run alone of the analysis, in a copy of its own.
  std::map<std::string, std::string> Alone(const std::string& parameters) const {
    const std::string alone = root_ + "/alone-" + parameters;
    CopyExample(alone);
    std::vector<std::string> args = {"--parameters", alone + "/" + parameters};
    for (const std::string& s : ExampleScans(alone)) args.push_back(s);
    EXPECT_EQ(RunBatchProgram(root_, args, "alone").code, 0);
    std::map<std::string, std::string> files = ResultContents(alone);
    for (const auto& [name, text] : FolderContents(Data())) files.erase(name);
    return files;
  }
  std::string root_;
};

// Runs that end without results: a folder that cannot take them (exit 2 before the
// analysis), a model the data cannot take and a disk that takes no file of a fit's
// size (exit 1). None leaves a file or a folder, and standard output holds no line
// but the summary's.
struct Leftless {
  const char* name;
  const char* output;  // below the test's folder; "DATA/..." below the data
  int code;
  const char* said;
  const char* shell = "";  // what the shell does before it starts the run
};

const Leftless kLeftless[] = {
    {"OutputFolderUnderAFile", "DATA/00001.ra0/results", 2, "tarmic-batch: the results cannot be written into "},
    {"RefusedModelInAFolderToMake", "new/deeper", 1, "ATTENTION: this model needs DLS data: load DLS Data first"},
    // At most 8 KiB a file: every scan of the fit is larger. The signal of a file
    // too large is ignored, so that the write fails instead.
    {"DiskTakesNoFit", "full", 1, "tarmic-batch: the results were not saved in full", "trap '' XFSZ; ulimit -f 8; "},
    // Not even the 4 KiB the run's own folder is tried with: the temporary
    // directory refuses the run before anything is computed.
    {"TemporaryFolderTakesNoFile", "nothing", 2, "tarmic-batch: the temporary folder ", "trap '' XFSZ; ulimit -f 2; "},
};

void PrintTo(const Leftless& l, std::ostream* os) { *os << l.name; }

class BatchLeavesNothingTest : public BatchOutputTest, public ::testing::WithParamInterface<Leftless> {};

TEST_P(BatchLeavesNothingTest, WhenItEndsWithoutResults) {
  const Leftless& l = GetParam();
  EditParameters(Data() + "/cs.~p", Data() + "/dls.~p", {{73, "503.000000"}});
  std::string output = l.output;
  output = output.starts_with("DATA") ? Data() + output.substr(4) : root_ + "/" + output;
  const std::map<std::string, std::string> before = FolderContents(Data());
  const std::string parameters = std::string(l.name) == "RefusedModelInAFolderToMake" ? "dls.~p" : "cs.~p";
  // The shell's limits hold for the run alone: its error stream goes through a pipe.
  const std::string inner = std::string(l.shell) + BatchCommand(Run(parameters, {"--output", output})) +
                            " >" + Quoted(root_ + "/run.out") + "; echo $? >" + Quoted(root_ + "/run.code");
  const std::string command =
      BatchEnvironment(root_) + "sh -c " + Quoted(inner) + " 2>&1 | cat >" + Quoted(root_ + "/run.err");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string out = ReadWhole(root_ + "/run.out"), err = ReadWhole(root_ + "/run.err");
  EXPECT_EQ(ReadWhole(root_ + "/run.code"), std::to_string(l.code) + "\n") << err;
  EXPECT_NE(err.find(l.said), std::string::npos) << err;
  EXPECT_FALSE(batch_fs::exists(output)) << output;
  EXPECT_FALSE(batch_fs::exists(root_ + "/new"));
  EXPECT_EQ(FolderContents(Data()), before);
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp"));
  // Standard output: nothing, or the header and the line of the summary.
  if (l.code == 2) {
    EXPECT_EQ(out, "");
  } else {
    EXPECT_TRUE(out.starts_with("data\tcell\tmodel\tstatus\t")) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Ends, BatchLeavesNothingTest, ::testing::ValuesIn(kLeftless),
                         [](const auto& info) { return std::string(info.param.name); });

// SIGINT, SIGTERM and SIGHUP during the computation: the run's temporary folder and
// the output folder it made are gone, and the run ends by the signal.
TEST_F(BatchOutputTest, ASignalRemovesTheRunsFolders) {
  for (const char* signal : {"TERM", "INT", "HUP"}) {
    const std::string output = root_ + "/out-" + signal;
    const std::string script = BatchCommand(Run("cs.~p", {"--output", output})) + " >/dev/null 2>" +
                               Quoted(root_ + "/signal.err") + " & pid=$!\n" +
                               "for i in $(seq 1 400); do [ -d " + Quoted(output) +
                               " ] && break; sleep 0.01; done\n"
                               "kill -" + signal + " $pid; wait $pid; echo $? >" + Quoted(root_ + "/signal.code") + "\n";
    std::ofstream(root_ + "/signal.sh") << script;
    ASSERT_EQ(std::system((BatchEnvironment(root_) + "sh " + Quoted(root_ + "/signal.sh")).c_str()), 0);
    EXPECT_EQ(ReadWhole(root_ + "/signal.code"),
              std::to_string(128 + (signal[0] == 'T' ? 15 : signal[0] == 'I' ? 2 : 1)) + "\n")
        << ReadWhole(root_ + "/signal.err");
    EXPECT_FALSE(batch_fs::exists(output)) << signal;
    EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp")) << signal;
  }
}

// A summary that cannot be written (a full device, a pipe closed by its reader)
// ends the run with exit code 1 and says so, naming where the results are; they
// stay, whole, and the run's folder is gone.
TEST_F(BatchOutputTest, ASummaryNotWrittenIsSaid) {
  for (const char* to : {">/dev/full", "| true"}) {
    SCOPED_TRACE(to);
    const std::string output = root_ + "/out" + std::to_string(std::string(to).size());
    const std::string script = "(" + BatchCommand(Run("cs.~p", {"--output", output})) + " 2>" +
                               Quoted(root_ + "/summary.err") + "; echo $? >" + Quoted(root_ + "/summary.code") + ") " +
                               to + "\n";
    std::ofstream(root_ + "/summary.sh") << script;
    std::system((BatchEnvironment(root_) + "bash " + Quoted(root_ + "/summary.sh")).c_str());
    const std::string err = ReadWhole(root_ + "/summary.err");
    EXPECT_EQ(ReadWhole(root_ + "/summary.code"), "1\n") << err;
    EXPECT_NE(err.find("tarmic-batch: the summary could not be written to standard output: "), std::string::npos) << err;
    EXPECT_NE(err.find("tarmic-batch: the results are saved in " + output + " (the summary in summary.tsv)"),
              std::string::npos)
        << err;
    EXPECT_TRUE(ReadWhole(output + "/summary.tsv").starts_with("data\tcell\tmodel\t"));
    EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp"));
  }
}

// The folders that killed runs (SIGKILL, a machine's end) left in the temporary
// directory go with the next run on the same host; those of live runs, and of runs
// on other hosts, stay.
TEST_F(BatchOutputTest, TheFoldersOfDeadRunsAreSwept) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string name;
  for (const char* c = host; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' ? *c : '_';
  // A process id that is gone: a child that has ended and been waited for.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string tmp = root_ + "/tmp/";
  const std::string dead = tmp + "tarmic-batch." + name + "." + std::to_string(gone) + ".aBcDeF";
  const std::string live = tmp + "tarmic-batch." + name + "." + std::to_string(getpid()) + ".aBcDeF";
  const std::string elsewhere = tmp + "tarmic-batch.another-host." + std::to_string(gone) + ".aBcDeF";
  for (const std::string& d : {dead, live, elsewhere}) {
    batch_fs::create_directories(d + "/results");
    std::ofstream(d + "/results/f0001.ra0") << "left\n";
  }
  const BatchOutput run = RunBatchProgram(root_, Run("cs.~p", {"--output", root_ + "/out"}));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_FALSE(batch_fs::exists(dead));
  EXPECT_TRUE(batch_fs::exists(live));
  EXPECT_TRUE(batch_fs::exists(elsewhere));
}

// Two different analyses (c(s) and discrete species) replacing each other in one
// folder, six at once: every run computes, and the folder holds the whole result
// set of one of them as it ran alone, never files of both.
TEST_F(BatchOutputTest, TwoAnalysesAtOnceLeaveOneWholeResultSet) {
  const std::map<std::string, std::string> cs = Alone("cs.~p"), species = Alone("species.~p");
  std::vector<std::vector<std::string>> runs;
  for (int k = 0; k < 6; ++k) runs.push_back(Run(k % 2 ? "species.~p" : "cs.~p", {"--replace"}));
  for (const BatchOutput& run : AtOnce(runs)) EXPECT_EQ(run.code, 0) << run.err;
  std::map<std::string, std::string> results = ResultContents(Data());
  for (const auto& e : batch_fs::directory_iterator(std::string(TARMIC_EXAMPLES_DIR) + "/two_species"))
    results.erase(e.path().filename().string());
  // The grid a c(s) run saved may stay beside the species' results: it is an input
  // of a later analysis, not a result.
  if (!results.contains("distribution.dat") && !species.contains("sdist.ra0")) results.erase("sdist.ra0");
  EXPECT_TRUE(results == cs || results == species) << results.size() << " files, of "
                                                   << (results.contains("distribution.dat") ? "c(s)" : "species");
}

// Four runs at once into an empty folder without --replace: each finds no result
// before its analysis; one publishes its set, and the others find it when they
// would publish theirs and end as a run that meets an existing result does.
TEST_F(BatchOutputTest, RunsThatCollideEndAsAnExistingResult) {
  const std::map<std::string, std::string> cs = Alone("cs.~p");
  const std::string output = root_ + "/shared";
  const std::vector<BatchOutput> runs = AtOnce(std::vector<std::vector<std::string>>(4, Run("cs.~p", {"--output", output})));
  int computed = 0;
  for (const BatchOutput& run : runs) {
    // A run that starts once another has published (a slow start) keeps that set.
    if (run.code == 0 && run.err.find("tarmic-batch: kept: ") != std::string::npos) continue;
    if (run.code == 0) {
      ++computed;
      continue;
    }
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_NE(run.err.find("exists; results are replaced only with --replace"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(computed, 1);
  EXPECT_EQ(ResultContents(output), cs);
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp"));
}

// What a run writes into its own folder is not synced: its results are synced
// once, where they are published as a set. A file alone and a set of two (with its
// journal), in the run's folder, in a folder below it, and in folders outside it
// (one whose name only starts like it): only those outside ask the disk to sync.
TEST(BatchStaging, OnlyThePublishedFilesAreSynced) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchStaging";
  batch_fs::remove_all(root);
  SetUnsyncedFolder(root + "/run");
  const std::pair<std::string, bool> folders[] = {
      {root + "/run", false}, {root + "/run/results", false}, {root + "/out", true}, {root + "/run-other", true}};
  for (const auto& [dir, synced] : folders) {
    SCOPED_TRACE(dir);
    batch_fs::create_directories(dir);
    const unsigned long long before = StorageWorkForTesting().syncs;
    AtomicFile one(dir + "/alone.txt");
    ASSERT_TRUE(one.IsOpen());
    std::fputs("one\n", one.File());
    ASSERT_TRUE(one.Commit());
    const unsigned long long afterOne = StorageWorkForTesting().syncs;
    {
      AtomicFileBatch set;
      for (const char* name : {"/a.txt", "/b.txt"})
        WriteFileAtomically(dir + name, [](std::FILE* f) { return std::fputs("set\n", f) >= 0; });
      EXPECT_EQ(set.Finish(), "");
    }
    const unsigned long long afterSet = StorageWorkForTesting().syncs;
    EXPECT_EQ(afterOne > before, synced);
    EXPECT_EQ(afterSet > afterOne, synced);
    EXPECT_EQ(ReadWhole(dir + "/b.txt"), "set\n");
  }
  SetUnsyncedFolder("");
}

}  // namespace
}  // namespace tarmic::testing
