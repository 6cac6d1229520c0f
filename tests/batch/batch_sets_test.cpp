// tarmic-batch's sets: one analysis takes the scans of one cell at one wavelength
// and of the kind it is told; a result set is its manifest's files, kept when it
// is the set of the very analysis asked for, replaced whole with --replace; the
// array script's list read as an editor saved it; and every number of the command
// line through the one door that judges it.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <regex>

#include "batch_test_support.h"
#include "scandata/text_io.h"

namespace tarmic::testing {
namespace {

class BatchSetsTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = FreshTestFolderWithExample(); }
  std::string Data() const { return root_ + "/data"; }
  std::string root_;
};

// A copy of the example's scans as cell `cell` with extension digit `digit` and
// wavelength `nm` in folder dir (line 2: type, cell, temperature, rpm, time, omega2t,
// wavelength, replicates).
void CopyAsCell(const std::string& data, const std::string& dir, int cell, int digit, int nm) {
  batch_fs::create_directories(dir);
  for (int k = 1; k <= 20; ++k) {
    std::istringstream in(ReadWhole(Format("%s/%05d.ra0", data.c_str(), k)));
    std::ofstream out(Format("%s/%05d.ra%d", dir.c_str(), k, digit));
    int n = 0;
    for (std::string line; std::getline(in, line);) {
      if (++n == 2) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        w[1] = std::to_string(cell);
        w[6] = std::to_string(nm);
        line.clear();
        for (const std::string& x : w) line += (line.empty() ? "" : " ") + x;
      }
      out << line << "\n";
    }
  }
}

// Four scans of a cell at sedimentation equilibrium: one rotor speed, four hours
// apart, the exponential profile of one species (sigma 1.5 / cm^2) with noise of
// 0.005 OD, no profile changing from one scan to the next.
std::vector<std::string> EquilibriumScans(const std::string& dir) {
  batch_fs::create_directories(dir);
  std::vector<std::string> scans;
  unsigned state = 12345;
  for (int k = 1; k <= 4; ++k) {
    const double t = 36000.0 + 14400.0 * (k - 1), omega = 20000.0 * M_PI / 30.0;
    scans.push_back(Format("%s/%05d.ra1", dir.c_str(), k));
    std::ofstream out(scans.back());
    out << "[T OK]equilibrium\n" << Format("R 1 20.0 20000 %.0f %.4e 280 1\n", t, omega * omega * t);
    for (int i = 0; i <= 150; ++i) {
      const double r = 6.9 + 0.002 * i;
      state = state * 1103515245u + 12345u;
      const double noise = 0.005 * std::sqrt(12.0) * ((state >> 8) / 16777216.0 - 0.5);
      out << Format("   %.4f  %.5e   0.00000e+00 \n", r, 0.3 * std::exp(1.5 * (r * r - 6.9 * 6.9)) + noise);
    }
  }
  return scans;
}

std::vector<std::string> Files(const std::string& dir, const std::string& extension) {
  std::vector<std::string> files;
  for (const auto& e : batch_fs::directory_iterator(dir))
    if (e.path().extension() == extension) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// ---- one cell at one wavelength, data of the kind given ----
struct SetCase {
  const char* name;
  std::vector<std::string> (*scans)(const std::string& root);  // the scans named
  std::vector<std::string> options;
  int code;
  const char* said;  // a line of stderr (its start), or the cell of the summary
};

std::vector<std::string> TwoCells(const std::string& root) {
  std::vector<std::string> scans = Files(root + "/cells", ".ra1");
  for (const std::string& s : Files(root + "/cells", ".ra2")) scans.push_back(s);
  return scans;
}

const SetCase kSetCases[] = {
    {"TwoCellsAreRefused", TwoCells, {}, 2,
     "tarmic-batch: the scans are of cells 1 and 2 (line 2 of the scan files): one analysis takes the scans of one "
     "cell; give --cell N"},
    {"CellTwoChosen", TwoCells, {"--cell", "2"}, 0, "2"},
    {"CellOneChosen", TwoCells, {"--cell", "1"}, 0, "1"},
    {"ACellThatIsNotThere", TwoCells, {"--cell", "3"}, 2,
     "tarmic-batch: --cell 3: no scan named is of cell 3 (the scans are of cells 1 and 2)"},
    // Line 2 names one cell, the extensions two.
    {"ExtensionsOfTwoCells",
     [](const std::string& root) {
       std::vector<std::string> scans = Files(root + "/digits", ".ra1");
       for (const std::string& s : Files(root + "/digits", ".ra3")) scans.push_back(s);
       return scans;
     },
     {}, 2, "tarmic-batch: the scans' extensions name cells 1 and 3: one analysis takes the scans of one cell"},
    {"TwoWavelengths", [](const std::string& root) { return Files(root + "/wavelengths", ".ra1"); }, {}, 2,
     "tarmic-batch: the scans are of wavelengths 230 nm and 280 nm: one analysis takes the scans of one wavelength"},
    // The loader's tests of the profiles: nothing moves at equilibrium, the
    // boundary moves in a velocity run.
    {"EquilibriumDataWithoutEquilibrium", [](const std::string& root) { return Files(root + "/equilibrium", ".ra1"); },
     {}, 2, "tarmic-batch: these 4 scans of cell 1 look like sedimentation equilibrium data"},
    {"VelocityDataWithEquilibrium", [](const std::string& root) { return ExampleScans(root + "/data"); },
     {"--equilibrium"}, 2, "tarmic-batch: these 20 scans of cell 1 at 50000 rpm look like a sedimentation velocity run"},
    {"EquilibriumDataWithEquilibrium", [](const std::string& root) { return Files(root + "/equilibrium", ".ra1"); },
     {"--equilibrium"}, 0, "1"},
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }

class BatchOneSetTest : public BatchSetsTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(BatchOneSetTest, TakesOneCellOfOneKindOrSaysWhy) {
  const SetCase& c = GetParam();
  CopyAsCell(Data(), root_ + "/cells", 1, 1, 280);
  CopyAsCell(Data(), root_ + "/cells", 2, 2, 280);
  CopyAsCell(Data(), root_ + "/digits", 1, 1, 280);
  CopyAsCell(Data(), root_ + "/digits", 1, 3, 280);
  // The first ten scans at 230 nm, the others at 280 nm.
  CopyAsCell(Data(), root_ + "/w230", 1, 1, 230);
  CopyAsCell(Data(), root_ + "/wavelengths", 1, 1, 280);
  for (int k = 1; k <= 10; ++k)
    batch_fs::copy_file(Format("%s/w230/%05d.ra1", root_.c_str(), k), Format("%s/wavelengths/%05d.ra1", root_.c_str(), k),
                        batch_fs::copy_options::overwrite_existing);
  EquilibriumScans(root_ + "/equilibrium");
  std::vector<std::string> args = {"--parameters", Data() + "/species.~p", "--seed", "1", "--output", root_ + "/out"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  for (const std::string& s : c.scans(root_)) args.push_back(s);
  const BatchOutput run = RunBatchProgram(root_, args);
  EXPECT_EQ(run.code, c.code) << run.err;
  if (c.code == 2) {
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(batch_fs::exists(root_ + "/out"));
  } else {
    EXPECT_EQ(SummaryColumns(run.out).at("cell"), c.said);
    EXPECT_EQ(SummaryColumns(run.out).at("status"), "computed");
    EXPECT_EQ(ReadWhole(root_ + "/out/summary.tsv"), run.out);
    // The cell's own scans, fitted each (their extensions end in the cell's digit).
    EXPECT_TRUE(batch_fs::exists(root_ + "/out/f0001.ra" + std::string(c.said)));
    std::size_t fits = 0;
    for (const auto& [name, text] : FolderContents(root_ + "/out")) fits += name.starts_with("f0");
    EXPECT_EQ(fits, std::string(c.name).starts_with("Equilibrium") ? 4u : 20u);
  }
}

INSTANTIATE_TEST_SUITE_P(Scans, BatchOneSetTest, ::testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- result sets in one folder, one run after another ----
// Each step: the analysis, what it ends with, and the files the folder then holds
// beside the scans (the set of the last analysis, listed by its manifest).
struct SetStep {
  const char* what;
  std::vector<std::string> options;
  int scans;  // the first `scans` of the example
  int code;
  const char* said;  // a line of stderr (its start); "" for none looked for
  bool rewritten;    // whether the set was written anew
};

const SetStep kSetSteps[] = {
    {"c(s) with Monte Carlo", {"--parameters", "cs.~p", "--monte-carlo", "5"}, 20, 0, "", true},
    {"the same again: kept", {"--parameters", "cs.~p", "--monte-carlo", "5"}, 20, 0,
     "tarmic-batch: kept: DIR holds the complete results of this analysis (manifest.tsv verified)", false},
    {"c(s) without Monte Carlo: another analysis", {"--parameters", "cs.~p"}, 20, 2,
     "tarmic-batch: DIR holds the results of another analysis (see its manifest.tsv); results are replaced only with "
     "--replace",
     false},
    {"c(s) replacing it: the Monte-Carlo files go", {"--parameters", "cs.~p", "--replace"}, 20, 0, "", true},
    {"species replacing c(s): the distribution goes", {"--parameters", "species.~p", "--replace"}, 20, 0, "", true},
    {"five scans replacing twenty: fits 6 to 20 go", {"--parameters", "species.~p", "--replace"}, 5, 0, "", true},
    {"the same again: kept", {"--parameters", "species.~p"}, 5, 0, "tarmic-batch: kept: ", false},
    {"a file of the set changed: not complete", {"--parameters", "species.~p"}, 5, 2,
     "tarmic-batch: DIR holds an incomplete set of this analysis' results (f0003.ra0 is not the file the manifest "
     "lists); --replace computes them again",
     false},
    {"computed again with --replace", {"--parameters", "species.~p", "--replace"}, 5, 0, "", true},
};

// The manifest's files checked by sha256sum, a program of its own: name, size and
// checksum of every file it lists, and every file of the folder but the scans,
// the parameter files and the manifest listed.
void ExpectManifestHolds(const std::string& dir, const std::string& data) {
  std::istringstream in(ReadWhole(dir + "/manifest.tsv"));
  std::set<std::string> listed;
  std::string sums;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("file\t")) continue;
    std::istringstream f(line.substr(5));
    std::string size, sha, name;
    std::getline(f, size, '\t');
    std::getline(f, sha, '\t');
    std::getline(f, name);
    listed.insert(name);
    sums += sha + "  " + name + "\n";
    EXPECT_EQ(std::to_string(batch_fs::file_size(dir + "/" + name)), size) << name;
  }
  std::ofstream(data + "/../sums") << sums;
  const std::string check = "cd " + Quoted(dir) + " && sha256sum --quiet -c " + Quoted(data + "/../sums");
  EXPECT_EQ(std::system(check.c_str()), 0);
  std::set<std::string> present;
  for (const auto& [name, text] : FolderContents(dir))
    if (!name.starts_with("0") && !name.ends_with(".~p") && name != "manifest.tsv") present.insert(name);
  EXPECT_EQ(present, listed);
  EXPECT_NE(ReadWhole(dir + "/manifest.tsv").find("version\t"), std::string::npos);
}

TEST_F(BatchSetsTest, AFolderHoldsOneSetAtATime) {
  std::string lastSummary;
  for (const SetStep& step : kSetSteps) {
    SCOPED_TRACE(step.what);
    if (std::string(step.what).starts_with("a file of the set changed"))
      std::ofstream(Data() + "/f0003.ra0", std::ios::app) << " ";
    const auto before = batch_fs::last_write_time(Data() + "/00001.ra0");
    std::vector<std::string> args = step.options;
    args[1] = Data() + "/" + args[1];
    for (int k = 0; k < step.scans; ++k) args.push_back(ExampleScans(Data())[static_cast<std::size_t>(k)]);
    const std::string manifestBefore = ReadWhole(Data() + "/manifest.tsv");
    const BatchOutput run = RunBatchProgram(root_, args, "step");
    ASSERT_EQ(run.code, step.code) << run.err;
    std::string said = step.said;
    if (const std::size_t at = said.find("DIR"); at != std::string::npos) said.replace(at, 3, Data());
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_EQ(batch_fs::last_write_time(Data() + "/00001.ra0"), before);
    if (step.code == 0 && step.rewritten) {
      ExpectManifestHolds(Data(), Data());
      // The fits are those of the scans analysed, no others.
      EXPECT_EQ(batch_fs::exists(Data() + Format("/f%04d.ra0", step.scans)), true);
      EXPECT_EQ(batch_fs::exists(Data() + Format("/f%04d.ra0", step.scans + 1)), false);
      // A distribution's files only with a distribution; Monte Carlo's only with it.
      const bool distribution = args[1].ends_with("cs.~p");
      EXPECT_EQ(batch_fs::exists(Data() + "/distribution.dat"), distribution);
      EXPECT_EQ(batch_fs::exists(Data() + "/peaks.tsv"), distribution);
      const bool monteCarlo = std::find(args.begin(), args.end(), "--monte-carlo") != args.end();
      EXPECT_EQ(batch_fs::exists(Data() + "/lim160.dat"), monteCarlo);
      EXPECT_EQ(batch_fs::exists(Data() + "/mean.dat"), monteCarlo);
      lastSummary = run.out;
    } else if (step.code == 0) {
      // Kept: the summary of the set as it was, nothing written.
      EXPECT_EQ(run.out, lastSummary);
      EXPECT_EQ(ReadWhole(Data() + "/manifest.tsv"), manifestBefore);
      EXPECT_EQ(run.err.find("tarmic-batch: seed"), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(ReadWhole(Data() + "/manifest.tsv"), manifestBefore);
    }
  }
  EXPECT_TRUE(batch_fs::is_empty(root_ + "/tmp"));
  // The version of the program, as --version gives it, in the manifest.
  const BatchOutput version = RunBatchProgram(root_, {"--version"}, "version");
  EXPECT_EQ(version.code, 0);
  ASSERT_TRUE(version.out.starts_with("tarmic-batch ")) << version.out;
  EXPECT_NE(ReadWhole(Data() + "/manifest.tsv").find("\nversion\t" + version.out.substr(13)), std::string::npos);
}

// ---- the array script's list ----
// A list saved with CR LF line ends, a byte order mark or blanks after a name is
// read as meant: --count counts the cells of its folders, and a folder that does
// not exist is a task whose error names it.
TEST_F(BatchSetsTest, TheArrayScriptReadsAListAsMeant) {
  CopyAsCell(Data(), root_ + "/two cells", 1, 1, 280);
  CopyAsCell(Data(), root_ + "/two cells", 2, 2, 280);
  const std::string script = std::string(TARMIC_SOURCE_DIR) + "/scripts/tarmic-array.sbatch";
  const std::string lists[] = {
      Data() + "\n" + root_ + "/two cells\n" + root_ + "/missing\n",
      Data() + "\r\n" + root_ + "/two cells\r\n# a comment\r\n\r\n" + root_ + "/missing\r\n",
      "\xEF\xBB\xBF" + Data() + "\n" + root_ + "/two cells  \n" + root_ + "/missing\t\n",
  };
  for (const std::string& list : lists) {
    SCOPED_TRACE(list);
    std::ofstream(root_ + "/list", std::ios::binary) << list;
    const std::string count = root_ + "/count";
    ASSERT_EQ(std::system((Quoted(script) + " --count " + Quoted(root_ + "/list") + " >" + Quoted(count)).c_str()), 0);
    EXPECT_EQ(ReadWhole(count), "4\n");  // the data, two cells, the missing folder
    const std::string task = "SLURM_ARRAY_TASK_ID=4 TARMIC_BATCH=" + Quoted(TARMIC_BATCH_PROGRAM) + " bash " +
                             Quoted(script) + " --tasks " + Quoted(root_ + "/tasks") + " " + Quoted(root_ + "/list") +
                             " " + Quoted(Data() + "/cs.~p") + " >/dev/null";
    const int status = std::system((BatchEnvironment(root_) + task).c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    EXPECT_EQ(ReadWhole(root_ + "/tasks/4.err"),
              "tarmic-array: the folder " + root_ + "/missing (task 4 of " + root_ + "/list) does not exist\n");
  }
}

// ---- the door of the command line's numbers ----
// Every number tarmic-batch reads from its command line goes through
// BatchValueRefusal: no other source of batch/ reads a number from text (the
// manifest reader reads the sizes it wrote itself), and each numeric option calls
// the door once.
TEST(BatchValueDoor, EveryNumberOfTheCommandLineGoesThroughTheOneDoor) {
  const std::regex reader(R"(\b(ParseFloatText|ScanNumber|ScanWholeNumber|WholeNumberOf|NumberOf|TypedValueRefusal)\s*\()");
  const std::regex door(R"(\bBatchValueRefusal\s*\()");
  int doors = 0;
  std::vector<std::string> readers;
  for (const auto& e : batch_fs::directory_iterator(std::string(TARMIC_SOURCE_DIR) + "/batch")) {
    const std::string name = e.path().filename().string();
    if (!name.ends_with(".cpp")) continue;
    const std::string code = ReadWhole(e.path().string());
    const bool doorFile = name == "batch_values.cpp";
    for (auto it = std::sregex_iterator(code.begin(), code.end(), reader); it != std::sregex_iterator(); ++it)
      if (!doorFile && !(name == "batch_manifest.cpp" && (*it)[1] == "WholeNumberOf") &&
          !(name == "batch_output.cpp" && (*it)[1] == "WholeNumberOf"))
        readers.push_back(name + ": " + (*it)[1].str());
    if (!doorFile) doors += static_cast<int>(std::distance(std::sregex_iterator(code.begin(), code.end(), door),
                                                           std::sregex_iterator()));
  }
  EXPECT_TRUE(readers.empty()) << ::testing::PrintToString(readers);
  // --seed, --anneal-temperature, --anneal-steps and --anneal-iterations (one call),
  // --monte-carlo, --cell, --set; --global's --set and --seed.
  EXPECT_EQ(doors, 8);
}

}  // namespace
}  // namespace tarmic::testing
