// The README's batch recipe run as it stands: its command lines (with the test's
// folders for /tmp/two_species and the program built here for build/tarmic-batch)
// print the table the README shows, and the second run gives the numbers and the
// lines on standard error that the README names.
#include <regex>

#include "batch_test_support.h"

namespace tarmic::testing {
namespace {

// The code blocks (lines indented by four blanks, continuation lines joined) of the
// README's part from `from` to `to`, each with the text after it up to the next.
struct Block {
  std::vector<std::string> lines;
  std::string after;
};
std::vector<Block> CodeBlocks(const std::string& from, const std::string& to) {
  const std::string readme = ReadWhole(std::string(TARMIC_SOURCE_DIR) + "/README.md");
  const std::size_t start = readme.find(from), end = readme.find(to, start);
  EXPECT_NE(start, std::string::npos);
  std::istringstream in(readme.substr(start, end - start));
  std::vector<Block> blocks;
  bool inBlock = false, continued = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("    ")) {
      if (!inBlock) blocks.emplace_back();
      inBlock = true;
      std::string text = line.substr(4);
      if (continued) blocks.back().lines.back() += " " + text.substr(text.find_first_not_of(' '));
      else blocks.back().lines.push_back(text);
      continued = blocks.back().lines.back().ends_with("\\");
      if (continued) blocks.back().lines.back().pop_back();
    } else {
      inBlock = false;
      if (!blocks.empty()) blocks.back().after += line + "\n";
    }
  }
  return blocks;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> Cells(const std::string& line, const std::regex& separator) {
  return {std::sregex_token_iterator(line.begin(), line.end(), separator, -1), std::sregex_token_iterator()};
}

TEST(BatchReadme, TheRecipeRunsAsWritten) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/BatchReadme";
  batch_fs::remove_all(root);
  batch_fs::create_directories(root);
  const std::vector<Block> blocks = CodeBlocks("## Batch runs and clusters", "### A Slurm job array");
  std::size_t recipe = 0;
  while (recipe < blocks.size() && !blocks[recipe].lines.front().starts_with("cp -r examples/two_species"))
    ++recipe;
  ASSERT_LT(recipe + 1, blocks.size());
  const std::string folder = root + "/two_species";
  std::vector<BatchOutput> runs;
  for (const std::string& line : blocks[recipe].lines) {
    std::string command = Replaced(Replaced(line, "/tmp/two_species", folder), "build/tarmic-batch",
                                   Quoted(TARMIC_BATCH_PROGRAM));
    command = Replaced(command, "cp -r examples/", "cp -r " + Quoted(std::string(TARMIC_SOURCE_DIR) + "/examples/"));
    const std::string tag = root + "/step" + std::to_string(runs.size());
    const int status = std::system((BatchEnvironment(root) + "sh -c " + Quoted(command) + " >" + Quoted(tag + ".out") +
                                    " 2>" + Quoted(tag + ".err"))
                                       .c_str());
    runs.push_back({WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWhole(tag + ".out"), ReadWhole(tag + ".err")});
    EXPECT_EQ(runs.back().code, 0) << line << "\n" << runs.back().err;
  }
  ASSERT_EQ(runs.size(), 3u);

  // The table the first run prints, its columns aligned by blanks in the README.
  const std::regex blanks(" {2,}"), tab("\t");
  std::istringstream printed(Replaced(runs[1].out, folder, "/tmp/two_species"));
  for (const std::string& shown : blocks[recipe + 1].lines) {
    std::string line;
    std::getline(printed, line);
    // The last column, the seed, is drawn anew by every run.
    std::vector<std::string> got = Cells(line, tab), quoted = Cells(shown, blanks);
    // An empty cell is shown as "".
    for (std::string& cell : quoted)
      if (cell == "\"\"") cell.clear();
    ASSERT_FALSE(got.empty() || quoted.empty()) << line;
    if (quoted.front() != "data") {
      got.pop_back();
      quoted.pop_back();
    }
    EXPECT_EQ(got, quoted) << line;
  }

  // The second run: the numbers and the lines on standard error the README names.
  const std::string& prose = blocks[recipe + 1].after;
  const std::map<std::string, std::string> columns = SummaryColumns(runs[2].out);
  // A column's name, with its unit in brackets where it has one.
  static const std::regex number("`(\\w+(?: \\[[^\\]`]+\\])?)`\\s+([a-z]+|[0-9]+\\.[0-9]+)");
  int named = 0;
  for (auto it = std::sregex_iterator(prose.begin(), prose.end(), number); it != std::sregex_iterator(); ++it, ++named)
    EXPECT_EQ(columns.at((*it)[1]), (*it)[2]) << (*it)[1];
  EXPECT_EQ(named, 8);
  static const std::regex said("\"([^\"]+ \\[No\\])\"");
  const std::string flat = Replaced(prose, "\n", " ");
  for (auto it = std::sregex_iterator(flat.begin(), flat.end(), said); it != std::sregex_iterator(); ++it)
    EXPECT_NE(runs[2].err.find((*it)[1].str() + "\n"), std::string::npos) << (*it)[1] << "\n" << runs[2].err;
}

}  // namespace
}  // namespace tarmic::testing
