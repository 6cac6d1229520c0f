// tarmic-batch --global run as the user runs it: the README's worked example on the
// shipped run (its command line, summary and table as the README prints them), the
// files and manifest it writes, and its exit codes for refused input and flagged fits.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_manifest.h"
#include "scandata/experiment_file.h"
#include "tests/batch/batch_test_support.h"
#include "tests/engine/synthetic_run.h"

namespace tarmic {
namespace {

using namespace tarmic::testing;
namespace batch_fs = std::filesystem;

// Words of a text with runs of blanks and tabs as one separator.
std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> w;
  for (std::string s; in >> s;)
    if (s != "\\") w.push_back(s);
  return w;
}

std::string Section(const std::string& readme) {
  const std::size_t at = readme.find("## Global analysis of an equilibrium run");
  return readme.substr(at, readme.find("\n## ", at + 1) - at);
}

TEST(GlobalBatch, ReadmeExampleGivesItsTable) {
  const std::string section = Section(ReadWhole(std::string(TARMIC_SOURCE_DIR) + "/README.md"));
  ASSERT_FALSE(section.empty());
  // The command line: from "tarmic-batch --global --model" to the line without "\".
  const std::size_t start = section.find("    tarmic-batch --global --model monomer-nmer");
  ASSERT_NE(start, std::string::npos);
  std::size_t end = start;
  for (;;) {
    end = section.find('\n', end);
    if (section[end - 1] != '\\') break;
    ++end;
  }
  std::vector<std::string> args = Words(section.substr(start, end - start));
  ASSERT_EQ(args.front(), "tarmic-batch");
  args.erase(args.begin());
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/global-batch-readme";
  batch_fs::remove_all(root);
  batch_fs::create_directories(root);
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--output") args[i + 1] = root + "/" + args[i + 1];
    if (args[i].ends_with(".xp")) args[i] = std::string(TARMIC_SOURCE_DIR) + "/" + args[i];
  }
  const BatchOutput r = RunBatchProgram(root, args);
  ASSERT_EQ(r.code, 0) << r.err;
  // The summary the README shows after "prints its summary": the experiment files
  // as the README's command line names them, an empty value as "".
  std::string printed;
  {
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      std::size_t start = 0;
      for (;;) {
        const std::size_t tab = line.find('\t', start);
        const std::string field = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
        printed += (field.empty() ? std::string("\"\"") : field) + " ";
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
    }
    for (std::size_t at; (at = printed.find(std::string(TARMIC_SOURCE_DIR) + "/")) != std::string::npos;)
      printed.erase(at, std::string(TARMIC_SOURCE_DIR).size() + 1);
  }
  const std::size_t q = section.find("    experiment files", section.find("prints its summary"));
  ASSERT_NE(q, std::string::npos);
  EXPECT_EQ(Words(printed), Words(section.substr(q, section.find("\n\n", q) - q)));
  // The table the README shows, its columns aligned by blanks.
  const std::string out = root + "/global-out";
  const std::string table = ReadWhole(out + "/global-parameters.tsv");
  const std::size_t t = section.find("    parameter  value");
  const std::size_t te = section.find("\n\n", t);
  std::vector<std::string> shown = Words(section.substr(t, te - t));
  // "lower 95%" and "upper 95%" are two words either way.
  EXPECT_EQ(Words(table), shown);

  // Every data set has its row and its fit; the manifest lists each file with its digest.
  const auto rows = TableRows(ReadWhole(out + "/data-sets.tsv"));
  ASSERT_EQ(rows.size(), 9u);
  for (const auto& row : rows) {
    for (const char* column : {"experiment file", "scan file", "cell", "wavelength nm", "speed rpm", "temperature C",
                               "points", "rmsd", "misfit ratio", "reference concentration", "baseline", "c1",
                               "c1 error", "baseline error"})
      EXPECT_TRUE(row.count(column)) << column;
    EXPECT_EQ(row.at("points"), "200");
  }
  const auto manifest = ReadManifest(out);
  ASSERT_TRUE(manifest);
  // The tables, nine fits, three pictures as SVG and PNG, the summary and the page.
  EXPECT_EQ(manifest->files.size(), 19u);
  EXPECT_EQ(ManifestMismatch(*manifest, out), "");
  EXPECT_EQ(manifest->inputs.size(), 12u);
}

TEST(GlobalBatch, RefusedInputAndFlaggedFitsGiveTheirExitCodes) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/global-batch-codes";
  batch_fs::remove_all(root);
  batch_fs::create_directories(root);
  const std::string ex = std::string(TARMIC_SOURCE_DIR) + "/examples/global_equilibrium";
  const std::vector<std::string> xps = {ex + "/cell1_280.xp", ex + "/cell2_280.xp", ex + "/cell3_280.xp"};
  auto run = [&](std::vector<std::string> args, bool withFiles = true) {
    if (withFiles) args.insert(args.end(), xps.begin(), xps.end());
    return RunBatchProgram(root, args);
  };
  // One ideal species for a monomer-dimer run: computed, flagged as a misfit.
  BatchOutput r = run({"--global", "--model", "ideal1", "--output", root + "/ideal1"});
  EXPECT_EQ(r.code, 3) << r.err;
  ASSERT_EQ(TableRows(r.out).size(), 1u) << r.out;
  EXPECT_EQ(TableRows(r.out)[0].at("flags"), "misfit") << r.out;
  // Refused before anything is fitted: nothing is written.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--global", "--output", root + "/x"},
           {"--global", "--model", "ideal9", "--output", root + "/x"},
           {"--global", "--model", "monomer-nmer", "--set", "n=13", "--output", root + "/x"},
           {"--global", "--model", "monomer-nmer", "--set", "n=2.5", "--output", root + "/x"},
           {"--global", "--model", "ideal1", "--set", "M9=1", "--output", root + "/x"},
           {"--global", "--model", "ideal1", "--float", "M1", "--output", root + "/x"},
           {"--global", "--model", "ideal1", "--float", "incompetent", "--output", root + "/x"},
           {"--global", "--model", "monomer-nmer-mmer", "--set", "n=3", "--set", "m=3", "--output", root + "/x"},
           {"--global", "--model", "monomer-nmer-mmer", "--set", "n=2", "--output", root + "/x"},
           {"--global", "--model", "monomer-nmer", "--set", "m=4", "--output", root + "/x"},
           {"--global", "--model", "monomer-nmer", "--set", "incompetent=1", "--output", root + "/x"},
           // The column floats only where a loading is counted over it.
           {"--global", "--model", "monomer-nmer", "--float", "B2", "--float", "meniscus", "--output",
            root + "/x"}}) {
    r = run(args);
    EXPECT_EQ(r.code, 2) << args[2] << ": " << r.err;
    EXPECT_FALSE(batch_fs::exists(root + "/x"));
  }
  // The added model and terms: their rows, units and whether they were floated.
  r = run({"--global", "--model", "monomer-nmer-mmer", "--set", "n=2", "--set", "m=4", "--set", "logKa2=10",
           "--float", "incompetent", "--output", root + "/mmer"});
  EXPECT_EQ(r.code, 0) << r.err;
  const auto rows = TableRows(ReadWhole(root + "/mmer/global-parameters.tsv"));
  ASSERT_EQ(rows.size(), 4u);
  const std::vector<std::vector<std::string>> want = {{"M1", "g/mol", "yes"},
                                                      {"logKa1", "log10 M^-1", "yes"},
                                                      {"logKa2", "log10 M^-3", "no"},
                                                      {"incompetent", "fraction", "yes"}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].at("parameter"), want[i][0]);
    EXPECT_EQ(rows[i].at("unit"), want[i][1]);
    EXPECT_EQ(rows[i].at("floated"), want[i][2]);
  }
  // A run without incompetent monomer: the fraction's limits hold 0.
  EXPECT_LE(std::stod(rows[3].at("lower 95%")), 0.0);
  EXPECT_GE(std::stod(rows[3].at("upper 95%")), 0.0);
  r = run({"--global", "--model", "ideal3", "--float", "B2", "--output", root + "/b2"});
  EXPECT_EQ(r.code, 2) << "B2 with an ideal species whose extinction coefficient is not given";
  EXPECT_NE(r.err.find("extinction coefficient C"), std::string::npos) << r.err;

  // One loading per cell when the experiment files give meniscus and bottom: a row per
  // cell, and each data set's reference signal the one its cell's loading gives.
  const std::string column = root + "/column";
  batch_fs::create_directories(column);
  for (const auto& e : batch_fs::directory_iterator(ex))
    batch_fs::copy_file(e.path(), column + "/" + e.path().filename().string());
  std::vector<std::string> columnXps;
  for (const char* name : {"/cell1_280.xp", "/cell2_280.xp", "/cell3_280.xp"}) {
    ExperimentFile xp;
    std::string error;
    ASSERT_TRUE(LoadXpFile(column + name, &xp, &error)) << error;
    xp.meniscus = 6.85f;
    xp.bottom = 7.25f;
    ASSERT_TRUE(WriteXpFile(column + name, xp, &error)) << error;
    columnXps.push_back(column + name);
  }
  std::vector<std::string> conserved = {"--global", "--model", "monomer-nmer", "--conserve-mass", "--output",
                                        root + "/conserved"};
  conserved.insert(conserved.end(), columnXps.begin(), columnXps.end());
  r = RunBatchProgram(root, conserved);
  EXPECT_TRUE(r.code == 0 || r.code == 3) << r.err;
  const auto loadings = TableRows(ReadWhole(root + "/conserved/global-parameters.tsv"));
  ASSERT_EQ(loadings.size(), 5u);
  for (int cell = 1; cell <= 3; ++cell) EXPECT_EQ(loadings[1 + cell].at("parameter"), "loading cell " + std::to_string(cell));
  const auto sets = TableRows(ReadWhole(root + "/conserved/data-sets.tsv"));
  ASSERT_EQ(sets.size(), 9u);
  for (const auto& row : sets) EXPECT_EQ(row.at("c1 error"), "0") << "derived from the loading, not fitted";
  // One loading gives a cell's speeds different reference signals.
  EXPECT_NE(sets[0].at("c1"), sets[1].at("c1"));
  // The meniscus floated on a run whose cells keep their mass (the files' meniscus
  // 6.87 cm, the true one 6.85): one row per cell, in cm, before the loadings; refused
  // where the signal does not depend on it (no loading counted over the column).
  engine::testing::RunShape shape;
  shape.meniscus = 6.85;
  shape.bottom = 7.25;
  shape.conserve = true;
  const std::string kept = root + "/kept";
  const std::vector<std::string> keptXps = engine::testing::WriteRun(
      kept, engine::testing::SyntheticRun(engine::testing::Truth{"monomer-nmer", 2, 30000, 0, 0, 5.0, 0.01}, 3, shape),
      kept);
  for (const std::string& path : keptXps) {
    ExperimentFile xp;
    std::string error;
    ASSERT_TRUE(LoadXpFile(path, &xp, &error)) << error;
    xp.meniscus = 6.87f;
    xp.bottom = 7.25f;
    ASSERT_TRUE(WriteXpFile(path, xp, &error)) << error;
  }
  std::vector<std::string> menisci = {"--global", "--model", "monomer-nmer", "--float", "meniscus",
                                      "--conserve-mass", "--output", root + "/meniscus"};
  menisci.insert(menisci.end(), keptXps.begin(), keptXps.end());
  r = RunBatchProgram(root, menisci);
  EXPECT_TRUE(r.code == 0 || r.code == 3) << r.err;
  const auto withMeniscus = TableRows(ReadWhole(root + "/meniscus/global-parameters.tsv"));
  ASSERT_EQ(withMeniscus.size(), 8u);
  for (int cell = 1; cell <= 3; ++cell) {
    EXPECT_EQ(withMeniscus[1 + cell].at("parameter"), "meniscus cell " + std::to_string(cell));
    EXPECT_EQ(withMeniscus[1 + cell].at("unit"), "cm");
    EXPECT_NE(withMeniscus[1 + cell].at("error"), "0");
  }
  EXPECT_EQ(withMeniscus[5].at("parameter"), "loading cell 1");
  std::vector<std::string> plain = {"--global", "--model", "monomer-nmer", "--float", "meniscus", "--output",
                                    root + "/x"};
  plain.insert(plain.end(), columnXps.begin(), columnXps.end());
  r = RunBatchProgram(root, plain);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("only with --conserve-mass"), std::string::npos) << r.err;
  EXPECT_FALSE(batch_fs::exists(root + "/x"));
  // The files switch on time-invariant noise: a profile per cell at its 200 radii,
  // in the manifest with the rest.
  for (const std::string& path : keptXps) {
    ExperimentFile xp;
    std::string error;
    ASSERT_TRUE(LoadXpFile(path, &xp, &error)) << error;
    xp.fitTINoise = true;
    ASSERT_TRUE(WriteXpFile(path, xp, &error)) << error;
  }
  std::vector<std::string> noise = {"--global", "--model", "monomer-nmer", "--output", root + "/ti"};
  noise.insert(noise.end(), keptXps.begin(), keptXps.end());
  r = RunBatchProgram(root, noise);
  EXPECT_TRUE(r.code == 0 || r.code == 3) << r.err;
  for (int cell = 1; cell <= 3; ++cell) {
    const auto profile = TableRows(ReadWhole(root + "/ti/ti-noise-cell" + std::to_string(cell) + "-280.tsv"));
    ASSERT_EQ(profile.size(), 200u) << cell;
    EXPECT_TRUE(profile[0].count("ti noise"));
  }
  const auto tiManifest = ReadManifest(root + "/ti");
  ASSERT_TRUE(tiManifest);
  EXPECT_EQ(ManifestMismatch(*tiManifest, root + "/ti"), "");

  // A damaged copy of the run: an experiment file line without its key.
  const std::string copy = root + "/copy";
  batch_fs::create_directories(copy);
  for (const auto& e : batch_fs::directory_iterator(ex)) batch_fs::copy_file(e.path(), copy + "/" + e.path().filename().string());
  std::string text = ReadWhole(copy + "/cell2_280.xp");
  text.replace(text.find(" (fBufferDensity)"), 17, "");
  { std::ofstream(copy + "/cell2_280.xp") << text; }
  r = RunBatchProgram(root, {"--global", "--model", "ideal1", "--output", root + "/x", copy + "/cell1_280.xp",
                             copy + "/cell2_280.xp"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("cell2_280.xp"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 4"), std::string::npos) << r.err;
  EXPECT_FALSE(batch_fs::exists(root + "/x"));
}

}  // namespace
}  // namespace tarmic
