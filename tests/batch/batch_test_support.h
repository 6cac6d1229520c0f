// Running tarmic-batch from the tests: a folder of its own for each test (home,
// temporary directory, copies of the example set), the program started through the
// shell with the user's directories there, and what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tarmic::testing {

namespace batch_fs = std::filesystem;

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A copy of examples/two_species (scans and parameter files) in dir.
inline void CopyExample(const std::string& dir) {
  batch_fs::create_directories(dir);
  for (const auto& e : batch_fs::directory_iterator(std::string(TARMIC_EXAMPLES_DIR) + "/two_species"))
    if (e.path().filename() != "README.md") batch_fs::copy_file(e.path(), dir + "/" + e.path().filename().string());
}

// The twenty scans of a copy of the example, by name.
inline std::vector<std::string> ExampleScans(const std::string& dir) {
  std::vector<std::string> scans;
  for (int k = 1; k <= 20; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "/%05d.ra0", k);
    scans.push_back(dir + name);
  }
  return scans;
}

// A copy of the parameter file from with lines replaced (1-based line: new text),
// as a user edits it.
inline void EditParameters(const std::string& from, const std::string& to, const std::map<int, std::string>& lines) {
  std::ifstream in(from);
  std::ofstream out(to);
  int n = 0;
  for (std::string text; std::getline(in, text);) out << (lines.contains(++n) ? lines.at(n) : text) << "\n";
}

// Every file of a folder with its contents.
inline std::map<std::string, std::string> FolderContents(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : batch_fs::directory_iterator(dir))
    if (e.is_regular_file()) files[e.path().filename().string()] = ReadWhole(e.path().string());
  return files;
}

inline std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A folder of its own for the running test, made anew, holding a copy of the example
// in "data".
inline std::string FreshTestFolderWithExample() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string root =
      std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/" + info->test_suite_name() + "." + info->name();
  batch_fs::remove_all(root);
  CopyExample(root + "/data");
  return root;
}

struct BatchOutput {
  int code = -1;
  std::string out, err;
};

// The environment of a run: the user's home in root/home (no settings there unless
// a test writes them), temporary files in root/tmp.
inline std::string BatchEnvironment(const std::string& root) {
  batch_fs::create_directories(root + "/home");
  batch_fs::create_directories(root + "/tmp");
  return "env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME=" + Quoted(root + "/home") +
         " TMPDIR=" + Quoted(root + "/tmp") + " ";
}

inline std::string BatchCommand(const std::vector<std::string>& args) {
  std::string command = Quoted(TARMIC_BATCH_PROGRAM);
  for (const std::string& a : args) command += " " + Quoted(a);
  return command;
}

// Runs tarmic-batch with args in the environment of root; stdout and stderr are
// kept in files named after tag.
inline BatchOutput RunBatchProgram(const std::string& root, const std::vector<std::string>& args,
                                   const std::string& tag = "run") {
  const std::string out = root + "/" + tag + ".out", err = root + "/" + tag + ".err";
  const std::string command =
      BatchEnvironment(root) + BatchCommand(args) + " >" + Quoted(out) + " 2>" + Quoted(err) + " </dev/null";
  const int status = std::system(command.c_str());
  BatchOutput r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadWhole(out);
  r.err = ReadWhole(err);
  return r;
}

// The rows of a tab-separated table with a header line (peaks.tsv, a collected
// summary), each as column name to value.
inline std::vector<std::map<std::string, std::string>> TableRows(const std::string& text) {
  const auto split = [](const std::string& line) {
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    return f;
  };
  std::istringstream in(text);
  std::string header;
  std::getline(in, header);
  const std::vector<std::string> names = split(header);
  std::vector<std::map<std::string, std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> cells = split(line);
    EXPECT_EQ(cells.size(), names.size()) << line;
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < std::min(names.size(), cells.size()); ++i) row[names[i]] = cells[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

// The files a run writes to describe its set (the command line, the data's folder
// and the seed are in them): the results proper are the others.
inline const std::set<std::string>& SetDescriptionFiles() {
  static const std::set<std::string> names = {"manifest.tsv", "summary.tsv", "peaks.tsv"};
  return names;
}
inline std::map<std::string, std::string> ResultContents(const std::string& dir) {
  std::map<std::string, std::string> files = FolderContents(dir);
  for (const std::string& name : SetDescriptionFiles()) files.erase(name);
  return files;
}

// The summary of a run: column name to value (header line and one line of values).
inline std::map<std::string, std::string> SummaryColumns(const std::string& out) {
  const std::vector<std::map<std::string, std::string>> rows = TableRows(out);
  return rows.empty() ? std::map<std::string, std::string>() : rows.front();
}

}  // namespace tarmic::testing
