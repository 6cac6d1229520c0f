// The program's own sources for the census tests: every .cpp and .h below the
// source root outside tests, fuzz, the build folders and hidden folders, by path
// relative to the root, with their // comments taken off each line.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace tarmic::testing {

inline std::vector<std::pair<std::string, std::string>> ProductionSources() {
  namespace fs = std::filesystem;
  const fs::path root = TARMIC_SOURCE_DIR;
  std::vector<std::pair<std::string, std::string>> sources;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path rel = fs::relative(it->path(), root);
    const std::string top = rel.begin()->string();
    if (top == "tests" || top == "fuzz" || top.rfind("build", 0) == 0 || top[0] == '.') {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    const std::string ext = it->path().extension().string();
    if (!it->is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    std::ifstream in(it->path());
    std::string code;
    for (std::string line; std::getline(in, line);) code += line.substr(0, line.find("//")) + "\n";
    sources.emplace_back(rel.generic_string(), std::move(code));
  }
  return sources;
}

}  // namespace tarmic::testing
