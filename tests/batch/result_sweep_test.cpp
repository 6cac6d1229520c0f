// The result sweep: tarmic-batch runs a fixed list of analyses (Run, Fit with each
// search, Monte Carlo and the saved noise, with fixed seeds) over the example set,
// the stored reference set and a refused input, and every file each writes (its
// results, its summary and its error stream, the test's folder named ROOT) is
// reduced to a checksum. The checksums must equal those recorded in
// result_sweep_baseline.txt: a change of the program's structure must not change
// one byte of what it writes. A deliberate change of the results records the
// baseline anew: TARMIC_RECORD_SWEEP=1 tests_batch --gtest_filter='ResultSweep*'
// writes it into the source tree, and the change of the baseline is reviewed with
// the change that caused it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>

#include "batch_test_support.h"

namespace tarmic::testing {
namespace {

// FNV-1a, 64 bits: a checksum of the bytes, not a protection against forgery.
std::string Checksum(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::string WithRootNamed(std::string text, const std::string& root) {
  for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at + 4))
    text.replace(at, root.size(), "ROOT");
  return text;
}

// The stored reference set (tests/data/reference_fits) as the scans an instrument
// writes: one absorbance file per scan, radii 6.02 to 7.18 cm, time interval x k.
void WriteReferenceScans(const std::string& dir) {
  std::ifstream in(std::string(TARMIC_TEST_DATA_DIR) + "/reference_fits/sedimenting_pair.txt");
  std::string line, word;
  std::getline(in, line);
  std::getline(in, line);
  double rpm = 0.0, interval = 0.0;
  int scans = 0, radii = 0;
  std::istringstream(line) >> word >> rpm >> word >> scans >> word >> interval >> word >> radii;
  while (in.peek() == 's') std::getline(in, line);
  batch_fs::create_directories(dir);
  const double omega = rpm * 3.14159265358979323846 / 30.0;
  for (int j = 1; j <= scans; ++j) {
    char name[32];
    std::snprintf(name, sizeof name, "/%05d.ra1", j);
    std::ofstream out(dir + name);
    const double time = interval * j;
    char header[128];
    std::snprintf(header, sizeof header, "R 1 20.0 %.0f %.0f %.4e 280 1\n", rpm, time, omega * omega * time);
    out << "[T OK]reference set\n" << header;
    for (int i = 1; i <= radii; ++i) {
      double v = 0.0;
      in >> v;
      char row[80];
      std::snprintf(row, sizeof row, "   %.4f  %.5e   0.00000e+00 \n", 6.02 + 1.16 * (i - 1) / (radii - 1), v);
      out << row;
    }
  }
  ASSERT_TRUE(in) << "the reference set was not read whole";
}

std::vector<std::string> ScansIn(const std::string& dir, const std::string& ending) {
  std::vector<std::string> scans;
  for (const auto& e : batch_fs::directory_iterator(dir))
    if (e.path().string().ends_with(ending)) scans.push_back(e.path().string());
  std::sort(scans.begin(), scans.end());
  return scans;
}

struct SweepCase {
  const char* name;
  const char* data;  // "example" or "reference"
  const char* parameters;
  std::vector<std::string> options;
};

const std::vector<SweepCase>& Cases() {
  static const std::vector<SweepCase> cases = {
      {"cs_run", "example", "cs.~p", {}},
      {"cs_fit", "example", "cs.~p", {"--fit"}},
      {"cs_monte_carlo", "example", "cs.~p", {"--monte-carlo", "4"}},
      {"cs_noise", "example", "noise.~p", {"--save-noise", "--set", "resolution=40"}},
      {"species_run", "example", "species.~p", {}},
      {"species_fit", "example", "species.~p", {"--fit"}},
      {"species_simplex", "example", "species.~p", {"--fit", "--method", "simplex"}},
      {"species_marquardt", "example", "species.~p", {"--fit", "--method", "marquardt"}},
      {"species_annealing",
       "example",
       "species.~p",
       {"--fit", "--method", "annealing", "--anneal-steps", "2", "--anneal-iterations", "40"}},
      // A start far from the truth: the fit ends where its searches end.
      {"species_far_start", "example", "species.~p", {"--fit", "--set", "s1=1", "--set", "s2=20"}},
      {"reference_cs",
       "reference",
       "cs.~p",
       {"--set", "fit-from=6.04", "--set", "fit-to=7.16", "--set", "s-max=20"}},
      {"reference_species_fit",
       "reference",
       "species.~p",
       {"--fit", "--set", "fit-from=6.04", "--set", "fit-to=7.16", "--set", "s2=12"}},
      // Refused: a single scan of velocity data (the question nobody answers).
      {"refused_one_scan", "example", "cs.~p", {"one scan"}},
  };
  return cases;
}

// Every file the sweep wrote, by case and name, with its checksum.
std::map<std::string, std::string> RunSweep(const std::string& root) {
  std::map<std::string, std::string> sums;
  const std::string example = root + "/example", reference = root + "/reference";
  CopyExample(example);
  WriteReferenceScans(reference);
  batch_fs::copy_file(example + "/cs.~p", reference + "/cs.~p");
  batch_fs::copy_file(example + "/species.~p", reference + "/species.~p");
  // c(s) with time- and radially-invariant noise fitted (lines 76 and 81).
  EditParameters(example + "/cs.~p", root + "/noise.~p", {{76, "1.000000"}, {81, "1.000000"}});
  for (const SweepCase& c : Cases()) {
    const std::string data = std::string(c.data) == "example" ? example : reference;
    const std::string parameters = (c.parameters == std::string("noise.~p") ? root : data) + "/" + c.parameters;
    std::vector<std::string> scans = ScansIn(data, std::string(c.data) == "example" ? ".ra0" : ".ra1");
    std::vector<std::string> args = {"--parameters", parameters, "--seed", "11",
                                     "--output", root + "/" + c.name};
    for (const std::string& o : c.options) {
      if (o == "one scan") scans.resize(1);
      else args.push_back(o);
    }
    args.insert(args.end(), scans.begin(), scans.end());
    const BatchOutput run = RunBatchProgram(root, args, std::string(c.name));
    sums[std::string(c.name) + " exit"] = std::to_string(run.code);
    sums[std::string(c.name) + " stdout"] = Checksum(WithRootNamed(run.out, root));
    sums[std::string(c.name) + " stderr"] = Checksum(WithRootNamed(run.err, root));
    if (batch_fs::is_directory(root + "/" + c.name))
      for (const auto& [name, contents] : FolderContents(root + "/" + c.name))
        sums[std::string(c.name) + " " + name] = Checksum(WithRootNamed(contents, root));
  }
  // The runs leave the data as they found it.
  for (const auto& [name, contents] : FolderContents(example))
    sums["example " + name] = Checksum(contents);
  return sums;
}

std::map<std::string, std::string> ReadBaseline(const std::string& path) {
  std::map<std::string, std::string> sums;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.rfind(' ');
    if (blank != std::string::npos) sums[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return sums;
}

TEST(ResultSweep, EveryResultFileIsTheRecordedBytes) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/ResultSweep";
  batch_fs::remove_all(root);
  const std::map<std::string, std::string> sums = RunSweep(root);
  const std::string baseline = std::string(TARMIC_SOURCE_DIR) + "/tests/batch/result_sweep_baseline.txt";
  if (const char* record = std::getenv("TARMIC_RECORD_SWEEP"); record && std::string(record) == "1") {
    std::ofstream out(baseline);
    out << "# The checksums of the result sweep (result_sweep_test.cpp): case, file, FNV-1a 64.\n";
    for (const auto& [key, sum] : sums) out << key << " " << sum << "\n";
    GTEST_SKIP() << "recorded " << sums.size() << " checksums into " << baseline;
  }
  const std::map<std::string, std::string> recorded = ReadBaseline(baseline);
  ASSERT_GE(recorded.size(), 100u) << "no baseline in " << baseline;
  // Every case wrote results but the refused one.
  for (const SweepCase& c : Cases())
    EXPECT_EQ(sums.at(std::string(c.name) + " exit"), std::string(c.name).starts_with("refused") ? "2" : "0") << c.name;
  for (const auto& [key, sum] : recorded) {
    const auto found = sums.find(key);
    if (found == sums.end()) ADD_FAILURE() << key << " was not written";
    else EXPECT_EQ(found->second, sum) << key << " differs from the recorded bytes (files in " << root << ")";
  }
  for (const auto& [key, sum] : sums) EXPECT_TRUE(recorded.contains(key)) << key << " is new: not in the baseline";

  // A fit's summary says how well it meets the noise: a fit of the example at the
  // truth leaves residuals of the noise alone (rmsd over their noise near 1) and
  // no note; a fit from a far start that ends with a negative s, and a fit of the
  // noise-free reference set (whose rmsd is the solver's own error, many times the
  // residuals' scatter), carry the systematic misfit.
  const auto summary = [&](const char* name) { return SummaryColumns(ReadWhole(root + "/" + name + ".out")); };
  for (const char* name : {"species_fit", "species_simplex", "species_marquardt"}) {
    const std::map<std::string, std::string> c = summary(name);
    ASSERT_TRUE(c.contains("misfit")) << name;
    EXPECT_NEAR(std::stod(c.at("misfit")), 1.0, 0.1) << name;
    EXPECT_EQ(c.at("notes"), "") << name;
  }
  const std::map<std::string, std::string> far = summary("species_far_start");
  EXPECT_GT(std::stod(far.at("misfit")), 1.25);
  EXPECT_EQ(far.at("notes"), "systematic-misfit species-1-sign-changed");
  EXPECT_EQ(summary("reference_species_fit").at("notes"), "systematic-misfit");
  // A Run has no misfit column: it made no estimate.
  EXPECT_FALSE(summary("species_run").contains("misfit"));
}

}  // namespace
}  // namespace tarmic::testing
