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
#include "tests/modelcalc/data_kind_sets.h"
#include "scandata/text_io.h"
#include "tests/support/relabel_scan.h"

namespace tarmic::testing {
namespace {

class BatchSetsTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = FreshTestFolderWithExample(); }
  std::string Data() const { return root_ + "/data"; }
  std::string root_;
};

// A copy of the example's scans as cell `cell` with extension digit `digit` and
// wavelength `nm` in folder dir.
void CopyAsCell(const std::string& data, const std::string& dir, int cell, int digit, int nm) {
  batch_fs::create_directories(dir);
  for (int k = 1; k <= 20; ++k)
    RelabelScan(Format("%s/%05d.ra0", data.c_str(), k), Format("%s/%05d.ra%d", dir.c_str(), k, digit), cell, nm);
}

// Scans of a cell at sedimentation equilibrium, four hours apart: at one rotor speed
// four scans, or two scans at each of two speeds, the exponential profile of one
// species (sigma 1.5 / cm^2 at 20000 rpm) with noise of 0.005 OD, no profile
// changing at a speed.
std::vector<std::string> EquilibriumScans(const std::string& dir, bool twoSpeeds = false) {
  batch_fs::create_directories(dir);
  std::vector<std::string> scans;
  unsigned state = 12345;
  for (int k = 1; k <= 4; ++k) {
    const double rpm = twoSpeeds && k > 2 ? 25000.0 : 20000.0;
    const double t = 36000.0 + 14400.0 * (k - 1), omega = rpm * M_PI / 30.0;
    const double sigma = 1.5 * (rpm / 20000.0) * (rpm / 20000.0);
    scans.push_back(Format("%s/%05d.ra1", dir.c_str(), k));
    std::ofstream out(scans.back());
    out << "[T OK]equilibrium\n" << Format("R 1 20.0 %.0f %.0f %.4e 280 1\n", rpm, t, omega * omega * t);
    for (int i = 0; i <= 150; ++i) {
      const double r = 6.9 + 0.002 * i;
      state = state * 1103515245u + 12345u;
      const double noise = 0.005 * std::sqrt(12.0) * ((state >> 8) / 16777216.0 - 0.5);
      out << Format("   %.4f  %.5e   0.00000e+00 \n", r, 0.3 * std::exp(sigma * (r * r - 6.9 * 6.9)) + noise);
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
  const char* folder;      // the scans named: those of the folder with these extensions
  const char* extensions;  // separated by blanks
  std::vector<std::string> options;
  int code;
  const char* said;  // a line of stderr (its start), or the cell of the summary
};

const SetCase kSetCases[] = {
    {"TwoCellsAreRefused", "cells", ".ra1 .ra2", {}, 2,
     "tarmic-batch: the scans are of cells 1 and 2 (line 2 of the scan files): one analysis takes the scans of one "
     "cell; give --cell N"},
    {"CellTwoChosen", "cells", ".ra1 .ra2", {"--cell", "2"}, 0, "2"},
    {"CellOneChosen", "cells", ".ra1 .ra2", {"--cell", "1"}, 0, "1"},
    {"ACellThatIsNotThere", "cells", ".ra1 .ra2", {"--cell", "3"}, 2,
     "tarmic-batch: --cell 3: no scan named is of cell 3 (the scans are of cells 1 and 2)"},
    // Line 2 names one cell, the extensions two.
    {"ExtensionsOfTwoCells", "digits", ".ra1 .ra3", {}, 2,
     "tarmic-batch: the scans' extensions name cells 1 and 3: one analysis takes the scans of one cell"},
    {"TwoWavelengths", "wavelengths", ".ra1", {}, 2,
     "tarmic-batch: the scans are of wavelengths 230 nm and 280 nm: one analysis takes the scans of one wavelength; "
     "give --wavelength W"},
    // The wavelength chosen: the ten scans at 230 nm (or, with the cell, the twenty
    // of cell 2 at 280 nm).
    {"OneWavelengthChosen", "wavelengths", ".ra1", {"--wavelength", "230"}, 0, "1"},
    {"CellAndWavelengthChosen", "cells", ".ra1 .ra2", {"--cell", "2", "--wavelength", "280"}, 0, "2"},
    {"AWavelengthThatIsNotThere", "wavelengths", ".ra1", {"--wavelength", "260"}, 2,
     "tarmic-batch: --wavelength 260: no scan named is of 260 nm (the scans are of 230 nm and 280 nm)"},
    {"AWavelengthNotOfTheCell", "cells", ".ra1 .ra2", {"--cell", "1", "--wavelength", "230"}, 2,
     "tarmic-batch: --wavelength 230: no scan named of cell 1 is of 230 nm (the scans of cell 1 are of 280 nm)"},
    // The loader's tests of the profiles: nothing moves at equilibrium, the
    // boundary moves in a velocity run.
    {"EquilibriumDataWithoutEquilibrium", "equilibrium", ".ra1", {}, 2,
     "tarmic-batch: these 4 scans of cell 1 look like sedimentation equilibrium data"},
    {"VelocityDataWithEquilibrium", "data", ".ra0", {"--equilibrium"}, 2,
     "tarmic-batch: these 20 scans of cell 1 at 50000 rpm look like a sedimentation velocity run"},
    {"EquilibriumDataWithEquilibrium", "equilibrium", ".ra1", {"--equilibrium"}, 0, "1"},
    // --velocity says the kind: a velocity run is taken, equilibrium at two speeds
    // (beyond doubt) is not.
    {"VelocityDataWithVelocity", "cells", ".ra1", {"--velocity"}, 0, "1"},
    {"EquilibriumAtTwoSpeedsWithVelocity", "speeds", ".ra1", {"--velocity"}, 2,
     "tarmic-batch: --velocity: the 4 scans of cell 1 were taken at 2 rotor speeds over 12.0 h and no profile "
     "changes beyond its noise at any of them: sedimentation equilibrium beyond doubt"},
    {"EquilibriumAtTwoSpeedsWithoutEquilibrium", "speeds", ".ra1", {}, 2,
     "tarmic-batch: equilibrium data are analysed with --equilibrium; give --velocity if the scans are a velocity run"},
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
  EquilibriumScans(root_ + "/speeds", true);
  std::vector<std::string> args = {"--parameters", Data() + "/species.~p", "--seed", "1", "--output", root_ + "/out"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  std::istringstream extensions(c.extensions);
  for (std::string extension; extensions >> extension;)
    for (const std::string& s : Files(root_ + "/" + c.folder, extension)) args.push_back(s);
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
    const std::string name = c.name;
    EXPECT_EQ(fits, name.starts_with("Equilibrium") ? 4u : name == "OneWavelengthChosen" ? 10u : 20u);
  }
}

INSTANTIATE_TEST_SUITE_P(Scans, BatchOneSetTest, ::testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A velocity run of one 4.3 S species at 0.6 OD and 50000 rpm scanned every 60 s
// with noise of 0.02 OD (the closed-form boundary, 25 scans): frequent noisy scans
// that change little from one scan to the next. Taken as velocity data without a
// word and with --velocity; refused with --equilibrium.
TEST_F(BatchSetsTest, FrequentNoisyVelocityScansAreAVelocityRun) {
  test::VelocityRun v;
  v.interval = 60.0;
  v.noise = 0.02;
  v.scans = 25;
  std::vector<std::string> scans;
  const std::string dir = root_ + "/frequent";
  batch_fs::create_directories(dir);
  for (const test::GeneratedScan& g : test::VelocityScans(v, 5)) {
    scans.push_back(Format("%s/%05d.ra1", dir.c_str(), static_cast<int>(scans.size()) + 1));
    std::ofstream out(scans.back());
    const double omega = g.rpm * M_PI / 30.0;
    out << "[T OK]velocity\n" << Format("R 1 20.0 %.0f %.0f %.4e 280 1\n", g.rpm, g.time, omega * omega * g.time);
    for (std::size_t i = 0; i < g.r.size(); ++i) out << Format("%.4f %.5f 0.0\n", g.r[i], g.y[i]);
  }
  for (const std::vector<std::string>& kind : {std::vector<std::string>{}, std::vector<std::string>{"--velocity"},
                                               std::vector<std::string>{"--equilibrium"}}) {
    std::vector<std::string> args = {"--parameters", Data() + "/species.~p", "--seed", "1", "--no-pictures", "--replace",
                                     "--output", root_ + "/out"};
    args.insert(args.end(), kind.begin(), kind.end());
    args.insert(args.end(), scans.begin(), scans.end());
    const BatchOutput run = RunBatchProgram(root_, args);
    if (kind == std::vector<std::string>{"--equilibrium"}) {
      EXPECT_EQ(run.code, 2) << run.err;
      EXPECT_NE(run.err.find("tarmic-batch: these 25 scans of cell 1 at 50000 rpm look like a sedimentation velocity run"),
                std::string::npos)
          << run.err;
      EXPECT_NE(run.err.find("tarmic-batch: velocity data are analysed with --velocity or without --equilibrium"),
                std::string::npos)
          << run.err;
    } else {
      EXPECT_EQ(run.code, 0) << run.err;
      EXPECT_EQ(run.err.find("equilibrium"), std::string::npos) << run.err;
      EXPECT_EQ(SummaryColumns(run.out)["cell"], "1");
    }
  }
}

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

// --replace removes a file of the set it replaces only while the file is what that
// set's manifest lists (size and SHA-256): a user's file that no manifest lists, and a
// result the user changed since, stay, the latter named on standard error. A change
// of one byte in place (the size kept) makes the set incomplete, and a change of the
// user's settings makes it the set of other settings: neither is kept as this
// analysis' result.
TEST_F(BatchSetsTest, ReplaceRemovesOnlyTheUnchangedFilesOfTheOldSet) {
  std::vector<std::string> scans = ExampleScans(Data());
  scans.resize(5);
  const auto run = [&](std::vector<std::string> options) {
    std::vector<std::string> args = {"--parameters", Data() + "/species.~p", "--seed", "3"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), scans.begin(), scans.end());
    return RunBatchProgram(root_, args, "step");
  };
  // The c(s) the user saved from the window beside the scans.
  std::ofstream(Data() + "/distribution.dat") << "mine\n";
  ASSERT_EQ(run({}).code, 0);
  BatchOutput r = run({"--replace"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadWhole(Data() + "/distribution.dat"), "mine\n");

  // One byte of a picture changed in place: the set is incomplete.
  const std::string svg = Data() + "/picture-species.svg";
  std::string bytes = ReadWhole(svg);
  const std::size_t at = bytes.find("species");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'S';
  std::ofstream(svg, std::ios::binary | std::ios::trunc) << bytes;
  ASSERT_EQ(batch_fs::file_size(svg), ReadWhole(Data() + "/picture-species.svg").size());
  r = run({});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("holds an incomplete set of this analysis' results (picture-species.svg is not the file the "
                       "manifest lists)"),
            std::string::npos)
      << r.err;

  // A set without pictures replaces it: the pictures as written go, the one the
  // user changed stays and is named; the user's distribution stays.
  r = run({"--no-pictures", "--replace"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("tarmic-batch: kept " + svg + ": it is no longer the file of the replaced set's manifest.tsv\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadWhole(svg), bytes);
  for (const char* gone : {"/picture-species.png", "/picture-data.svg", "/picture-data.png", "/picture-residuals.svg"})
    EXPECT_FALSE(batch_fs::exists(Data() + gone)) << gone;
  EXPECT_EQ(ReadWhole(Data() + "/distribution.dat"), "mine\n");
  EXPECT_EQ(ReadWhole(Data() + "/manifest.tsv").find("picture-"), std::string::npos);

  // The user's settings changed (the regularisation): the set is of other settings.
  const std::string config = root_ + "/home/.config/tarmic";
  batch_fs::create_directories(config);
  std::ofstream(config + "/tarmicparams.ini") << "1\n0.0010\n0\n0\n0\n0\n0\n1\n1\n2\n0\n2\n1\n1\n2\n1.0\n0\n1\n100\n";
  r = run({"--no-pictures"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("tarmic-batch: " + Data() + " holds the results of this analysis computed with other settings than " +
                       config + "/tarmicparams.ini (see its manifest.tsv); results are replaced only with --replace"),
            std::string::npos)
      << r.err;
  r = run({"--no-pictures", "--replace"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = run({"--no-pictures"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("tarmic-batch: kept: "), std::string::npos) << r.err;
}

// The version names the commit of the build, in --version and in the manifest,
// whose analysis holds the version and the digest of the settings taken.
TEST_F(BatchSetsTest, TheVersionNamesTheBuildsCommit) {
  const BatchOutput version = RunBatchProgram(root_, {"--version"}, "version");
  ASSERT_EQ(version.code, 0);
  const std::regex form(R"(tarmic-batch [0-9.]+ \(commit ([0-9a-f]{12}(, modified)?|unknown)\)\n)");
  EXPECT_TRUE(std::regex_match(version.out, form)) << version.out;
  std::vector<std::string> args = {"--parameters", Data() + "/species.~p", "--seed", "3", "--no-pictures"};
  for (const std::string& s : ExampleScans(Data())) args.push_back(s);
  ASSERT_EQ(RunBatchProgram(root_, args).code, 0);
  const std::string manifest = ReadWhole(Data() + "/manifest.tsv");
  const std::string named = version.out.substr(13, version.out.size() - 14);
  EXPECT_NE(manifest.find("\nversion\t" + named + "\n"), std::string::npos) << manifest;
  // No settings file in the test's home: the program's defaults.
  EXPECT_NE(manifest.find(" no-pictures settings=none version=" + named + "\n"), std::string::npos) << manifest;
}

// The header that names the build's commit, as cmake/build_version.cmake writes
// it: "unknown" without git or outside a repository; the commit of a repository,
// ", modified" once a tracked file changed; and a second run that finds the same
// text leaves the file as it is (a build of the same commit compiles nothing).
TEST_F(BatchSetsTest, TheBuildsCommitIsNamedWithOrWithoutGit) {
  const std::string header = root_ + "/build_version.h", repo = root_ + "/repo";
  const auto write = [&](const std::string& git, const std::string& source) {
    // git looks no further up than the test's folder (which lies in the build's
    // own tree).
    const std::string command = "GIT_CEILING_DIRECTORIES=" + Quoted(root_) + " " + Quoted(TARMIC_CMAKE_COMMAND) +
                                " -DSOURCE_DIR=" + Quoted(source) + " -DOUTPUT=" +
                                Quoted(header) + " -DGIT=" + Quoted(git) + " -P " +
                                Quoted(std::string(TARMIC_SOURCE_DIR) + "/cmake/build_version.cmake");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const std::string text = ReadWhole(header);
    const std::string key = "TARMIC_BUILD_COMMIT \"";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return text;
    const std::size_t start = at + key.size();
    return text.substr(start, text.find('"', start) - start);
  };
  batch_fs::create_directories(repo);
  EXPECT_EQ(write("", repo), "commit unknown");
  EXPECT_EQ(write("/no/such/git", repo), "commit unknown");
  std::string git;
  for (const char* path : {"/usr/bin/git", "/usr/local/bin/git", "/bin/git"})
    if (git.empty() && batch_fs::exists(path)) git = path;
  if (git.empty()) GTEST_SKIP() << "git is not installed";
  EXPECT_EQ(write(git, repo), "commit unknown");  // a folder that is no repository
  std::ofstream(repo + "/a.txt") << "one\n";
  const std::string init = "cd " + Quoted(repo) + " && " + Quoted(git) + " init -q && " + Quoted(git) +
                           " add a.txt && " + Quoted(git) + " -c user.name=t -c user.email=t@t commit -qm one && " +
                           Quoted(git) + " rev-parse --short=12 HEAD >" + Quoted(root_ + "/head");
  ASSERT_EQ(std::system(init.c_str()), 0);
  std::string head = ReadWhole(root_ + "/head");
  ASSERT_EQ(head.size(), 13u) << head;
  head.pop_back();
  EXPECT_EQ(write(git, repo), "commit " + head);
  const auto written = batch_fs::last_write_time(header);
  std::ofstream(repo + "/b.txt") << "not tracked\n";
  EXPECT_EQ(write(git, repo), "commit " + head);
  EXPECT_EQ(batch_fs::last_write_time(header), written) << "the same text was written again";
  std::ofstream(repo + "/a.txt") << "two\n";
  EXPECT_EQ(write(git, repo), "commit " + head + ", modified");
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

// A folder of cell 1 at two wavelengths (its first ten scans at 230 nm) and cell 2
// at one: the array makes a task of each cell at each wavelength, "C-W" where a
// cell has two, and the task of cell 1 at 230 nm analyses those ten scans alone,
// into cell1-230.
TEST_F(BatchSetsTest, TheArrayMakesATaskPerCellAndWavelength) {
  const std::string folder = root_ + "/two wavelengths";
  CopyAsCell(Data(), folder, 1, 1, 280);
  CopyAsCell(Data(), root_ + "/w230", 1, 1, 230);
  for (int k = 1; k <= 10; ++k)
    batch_fs::copy_file(Format("%s/w230/%05d.ra1", root_.c_str(), k), Format("%s/%05d.ra1", folder.c_str(), k),
                        batch_fs::copy_options::overwrite_existing);
  CopyAsCell(Data(), folder, 2, 2, 280);
  const std::string script = std::string(TARMIC_SOURCE_DIR) + "/scripts/tarmic-array.sbatch";
  std::ofstream(root_ + "/list") << folder << "\n";
  ASSERT_EQ(std::system((Quoted(script) + " --count " + Quoted(root_ + "/list") + " >" + Quoted(root_ + "/count")).c_str()),
            0);
  EXPECT_EQ(ReadWhole(root_ + "/count"), "3\n");
  for (int task = 1; task <= 3; ++task) {
    const std::string run = Format("SLURM_ARRAY_TASK_ID=%d TARMIC_BATCH=", task) + Quoted(TARMIC_BATCH_PROGRAM) +
                            " bash " + Quoted(script) + " --tasks " + Quoted(root_ + "/tasks") + " " +
                            Quoted(root_ + "/list") + " " + Quoted(Data() + "/species.~p") + " --seed 1 >/dev/null";
    const int status = std::system((BatchEnvironment(root_) + run).c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << ReadWhole(Format("%s/tasks/%d.err", root_.c_str(), task));
  }
  EXPECT_EQ(ReadWhole(root_ + "/tasks/1.results"), folder + "/cell1-230\n");
  EXPECT_EQ(ReadWhole(root_ + "/tasks/2.results"), folder + "/cell1-280\n");
  EXPECT_EQ(ReadWhole(root_ + "/tasks/3.results"), folder + "/cell2\n");
  std::size_t fits230 = 0, fits280 = 0;
  for (const auto& [name, text] : FolderContents(folder + "/cell1-230")) fits230 += name.starts_with("f0");
  for (const auto& [name, text] : FolderContents(folder + "/cell1-280")) fits280 += name.starts_with("f0");
  EXPECT_EQ(fits230, 10u);
  EXPECT_EQ(fits280, 10u);
  EXPECT_TRUE(batch_fs::exists(folder + "/cell1-230/f0010.ra1"));
  EXPECT_FALSE(batch_fs::exists(folder + "/cell1-230/f0011.ra1"));
  EXPECT_NE(ReadWhole(folder + "/cell1-230/manifest.tsv").find(" cell=1 wavelength=230 "), std::string::npos);
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
  // --monte-carlo, --cell and --wavelength (one call), --set; --global's --set and --seed.
  EXPECT_EQ(doors, 8);
}

}  // namespace
}  // namespace tarmic::testing
