// The result sweep: tarmic-batch runs a fixed list of analyses (Run, Fit with each
// search, Monte Carlo and the saved noise, with fixed seeds) over the example set,
// the stored reference set and a refused input, and every file each writes (its
// results, its summary and its error stream, the test's folder named ROOT) is
// reduced to a checksum. The checksums must equal those recorded in
// result_sweep/<kind of build>.txt: a change of the program's structure must not
// change one byte of what it writes. A deliberate change of the results records
// the baseline anew: TARMIC_RECORD_SWEEP=1 tests_batch --gtest_filter='*ResultSweep*'
// writes it into the source tree, and the change of the baseline is reviewed with
// the change that caused it. Each case is a test of its own, so that the cases run
// side by side.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>

#include "batch/batch_options.h"
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

// A manifest with the root named and the version as VERSION (it names the commit of
// the build): a line "file SIZE SHA NAME" of a file whose own
// text names the root (the summary, the peaks) gives its size and checksum as
// "ROOT", since they follow the length of the root's path; that file's bytes are
// held by its own checksum with the root named.
std::string ManifestWithRootNamed(const std::string& text, const std::string& root,
                                  const std::map<std::string, std::string>& files) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("file\t")) {
      const std::size_t a = line.find('\t', 5), b = line.find('\t', a + 1);
      const std::string name = b == std::string::npos ? "" : line.substr(b + 1);
      if (const auto f = files.find(name); f != files.end() && f->second.find(root) != std::string::npos)
        line = "file\tROOT\tROOT\t" + name;
    }
    line = WithRootNamed(line, root);
    for (std::size_t at; (at = line.find(BatchVersion())) != std::string::npos;)
      line.replace(at, std::string(BatchVersion()).size(), "VERSION");
    out += line + "\n";
  }
  return out;
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
  // A fit's summary: the notes of its end, and its rmsd over the noise of its
  // residuals near 1 (a fit at the noise) or above the systematic misfit's 1.25.
  enum class Misfit { NotAFit, AtTheNoise, Systematic, NoEstimate } misfit = Misfit::NotAFit;
  const char* notes = "";
};

void PrintTo(const SweepCase& c, std::ostream* os) { *os << c.name; }

using M = SweepCase::Misfit;
const SweepCase kCases[] = {
    {"cs_run", "example", "cs.~p", {}},
    // The continuous models make no misfit estimate.
    {"cs_fit", "example", "cs.~p", {"--fit"}, M::NoEstimate},
    {"cs_monte_carlo", "example", "cs.~p", {"--monte-carlo", "4"}},
    {"cs_noise", "example", "noise.~p", {"--save-noise", "--set", "resolution=40"}},
    {"species_run", "example", "species.~p", {}},
    // The default search: the simplex.
    {"species_fit", "example", "species.~p", {"--fit"}, M::AtTheNoise},
    {"species_marquardt", "example", "species.~p", {"--fit", "--method", "marquardt"}, M::AtTheNoise},
    {"species_annealing",
     "example",
     "species.~p",
     {"--fit", "--method", "annealing", "--anneal-steps", "2", "--anneal-iterations", "40"},
     M::AtTheNoise},
    // A start far from the truth on the first ten scans: the fit ends in a local
    // minimum.
    {"species_far_start",
     "example",
     "species.~p",
     {"ten scans", "--fit", "--set", "s1=0.3", "--set", "s2=15"},
     M::Systematic,
     "systematic-misfit"},
    {"reference_cs", "reference", "cs.~p", {"--set", "fit-from=6.04", "--set", "fit-to=7.16", "--set", "s-max=20"}},
    // Noise-free data: the rmsd is the solver's own error, many times the scatter of
    // the residuals.
    {"reference_species_fit",
     "reference",
     "species.~p",
     {"--fit", "--set", "fit-from=6.04", "--set", "fit-to=7.16", "--set", "s2=12"},
     M::Systematic,
     "systematic-misfit"},
    // Refused: a single scan of velocity data (the question nobody answers).
    {"refused_one_scan", "example", "cs.~p", {"one scan"}},
};

// The recorded checksums of this kind of build (compiler, build type, sanitizers):
// compilers contract floating-point expressions differently, so each kind keeps
// its own bytes.
std::string BaselinePath() {
  return std::string(TARMIC_SOURCE_DIR) + "/tests/batch/result_sweep/" + TARMIC_BUILD_KIND + ".txt";
}

std::map<std::string, std::string> ReadBaseline() {
  std::map<std::string, std::string> sums;
  std::ifstream in(BaselinePath());
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.rfind(' ');
    if (blank != std::string::npos) sums[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return sums;
}

// Replaces the lines of one case in the baseline.
void RecordCase(const std::string& name, const std::map<std::string, std::string>& sums) {
  std::map<std::string, std::string> all = ReadBaseline();
  std::erase_if(all, [&](const auto& entry) { return entry.first.starts_with(name + " "); });
  all.insert(sums.begin(), sums.end());
  batch_fs::create_directories(batch_fs::path(BaselinePath()).parent_path());
  std::ofstream out(BaselinePath());
  out << "# The checksums of the result sweep (result_sweep_test.cpp): case, file, FNV-1a 64.\n";
  for (const auto& [key, sum] : all) out << key << " " << sum << "\n";
}

class ResultSweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(ResultSweep, EveryFileIsTheRecordedBytes) {
  const SweepCase& c = GetParam();
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/ResultSweep/" + c.name;
  batch_fs::remove_all(root);
  const std::string example = root + "/example", reference = root + "/reference";
  CopyExample(example);
  WriteReferenceScans(reference);
  batch_fs::copy_file(example + "/cs.~p", reference + "/cs.~p");
  batch_fs::copy_file(example + "/species.~p", reference + "/species.~p");
  // c(s) with time- and radially-invariant noise fitted (lines 76 and 81).
  EditParameters(example + "/cs.~p", root + "/noise.~p", {{76, "1.000000"}, {81, "1.000000"}});
  const std::map<std::string, std::string> before = FolderContents(example);

  const std::string data = std::string(c.data) == "example" ? example : reference;
  const std::string parameters = (c.parameters == std::string("noise.~p") ? root : data) + "/" + c.parameters;
  std::vector<std::string> scans = ScansIn(data, std::string(c.data) == "example" ? ".ra0" : ".ra1");
  std::vector<std::string> args = {"--parameters", parameters, "--seed", "11", "--output", root + "/results"};
  for (const std::string& o : c.options) {
    if (o == "one scan") scans.resize(1);
    else if (o == "ten scans") scans.resize(10);
    else args.push_back(o);
  }
  args.insert(args.end(), scans.begin(), scans.end());
  const BatchOutput run = RunBatchProgram(root, args);
  const std::string name = c.name;
  // A fit that ends in a local minimum says so: a result kept with its flag (exit 3).
  EXPECT_EQ(run.code, name.starts_with("refused") ? 2 : c.misfit == M::Systematic ? 3 : 0) << run.err;
  EXPECT_EQ(FolderContents(example), before) << "the data were changed";

  std::map<std::string, std::string> sums;
  sums[name + " exit"] = std::to_string(run.code);
  sums[name + " stdout"] = Checksum(WithRootNamed(run.out, root));
  sums[name + " stderr"] = Checksum(WithRootNamed(run.err, root));
  if (batch_fs::is_directory(root + "/results"))
    for (const std::map<std::string, std::string> files = FolderContents(root + "/results");
         const auto& [file, contents] : files)
      sums[name + " " + file] = Checksum(file == "manifest.tsv" ? ManifestWithRootNamed(contents, root, files)
                                                                 : WithRootNamed(contents, root));

  // A fit's summary says how well it meets the noise.
  if (c.misfit != M::NotAFit) {
    const std::map<std::string, std::string> columns = SummaryColumns(run.out);
    ASSERT_TRUE(columns.contains("misfit") && columns.contains("notes")) << run.out;
    EXPECT_EQ(columns.at("notes"), c.notes);
    // The flag of a systematic misfit; the other fits end clean.
    ASSERT_TRUE(columns.contains("flags")) << run.out;
    EXPECT_EQ(columns.at("flags").find("misfit") != std::string::npos, c.misfit == M::Systematic) << columns.at("flags");
    EXPECT_EQ(columns.at("status"), c.misfit == M::Systematic ? "computed with flags" : "computed");
    const std::string& misfit = columns.at("misfit");
    if (c.misfit == M::NoEstimate) EXPECT_EQ(misfit, "");
    if (c.misfit == M::AtTheNoise) EXPECT_NEAR(std::stod(misfit), 1.0, 0.1);
    if (c.misfit == M::Systematic) EXPECT_GT(std::stod(misfit), 1.25);
  } else {
    EXPECT_EQ(run.out.find("misfit"), std::string::npos) << "only a fit estimates its misfit";
  }

  if (const char* record = std::getenv("TARMIC_RECORD_SWEEP"); record && std::string(record) == "1") {
    RecordCase(name, sums);
    GTEST_SKIP() << "recorded " << sums.size() << " checksums into " << BaselinePath();
  }
  std::map<std::string, std::string> recorded = ReadBaseline();
  if (recorded.empty())
    GTEST_SKIP() << "no sweep recorded for a " << TARMIC_BUILD_KIND << " build in " << BaselinePath()
                 << " (TARMIC_RECORD_SWEEP=1 records it)";
  std::erase_if(recorded, [&](const auto& entry) { return !entry.first.starts_with(name + " "); });
  ASSERT_FALSE(recorded.empty()) << name << " is not in " << BaselinePath();
  for (const auto& [key, sum] : recorded) {
    const auto found = sums.find(key);
    if (found == sums.end()) ADD_FAILURE() << key << " was not written";
    else EXPECT_EQ(found->second, sum) << key << " differs from the recorded bytes (files in " << root << ")";
  }
  for (const auto& [key, sum] : sums) EXPECT_TRUE(recorded.contains(key)) << key << " is new: not in the baseline";
}

INSTANTIATE_TEST_SUITE_P(Cases, ResultSweep, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarmic::testing
