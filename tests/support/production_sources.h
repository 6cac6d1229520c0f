// The program's own sources for the census tests: every .cpp and .h below the
// source root outside tests, fuzz, bench, the build folders and hidden folders.
#pragma once

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarmic::testing {

// Their paths relative to the source root, in the order the folders are listed.
inline std::vector<std::filesystem::path> ProductionSourcePaths() {
  namespace fs = std::filesystem;
  const fs::path root = TARMIC_SOURCE_DIR;
  std::vector<fs::path> paths;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path rel = fs::relative(it->path(), root);
    const std::string top = rel.begin()->string();
    if (top == "tests" || top == "fuzz" || top == "bench" || top.rfind("build", 0) == 0 || top[0] == '.') {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    const std::string ext = it->path().extension().string();
    if (it->is_regular_file() && (ext == ".cpp" || ext == ".h")) paths.push_back(rel);
  }
  return paths;
}

// One source by its path relative to the root, with the // comments taken off
// each line.
inline std::string ProductionSource(const std::filesystem::path& rel) {
  std::ifstream in(std::filesystem::path(TARMIC_SOURCE_DIR) / rel);
  std::string code;
  for (std::string line; std::getline(in, line);) code += line.substr(0, line.find("//")) + "\n";
  return code;
}

// Each source by its path relative to the root (with '/'), as ProductionSource.
inline std::vector<std::pair<std::string, std::string>> ProductionSources() {
  std::vector<std::pair<std::string, std::string>> sources;
  for (const std::filesystem::path& rel : ProductionSourcePaths())
    sources.emplace_back(rel.generic_string(), ProductionSource(rel));
  return sources;
}

// What a translation unit reaches through its project includes ("..."), walked
// from the unit: every file (relative to the root) and every analysis part it can
// name through the accessor template (CurrentPart<X>). A census by the compiler: a
// part a unit cannot reach is a part its code cannot read.
struct IncludeClosure {
  std::set<std::string> files;
  std::set<std::string> parts;
  bool complete = true;  // every included file was found
};

inline IncludeClosure IncludeClosureOf(const std::string& unit) {
  static const std::regex include("#include \"([^\"]+)\"");
  static const std::regex part("CurrentPart<([A-Za-z0-9_]+)>");
  IncludeClosure closure;
  std::vector<std::string> open = {unit};
  while (!open.empty()) {
    const std::string file = open.back();
    open.pop_back();
    if (!closure.files.insert(file).second) continue;
    if (!std::filesystem::exists(std::filesystem::path(TARMIC_SOURCE_DIR) / file)) {
      closure.complete = false;
      continue;
    }
    const std::string text = ProductionSource(file);
    for (std::sregex_iterator i(text.begin(), text.end(), include), e; i != e; ++i) open.push_back((*i)[1]);
    for (std::sregex_iterator i(text.begin(), text.end(), part), e; i != e; ++i) closure.parts.insert((*i)[1]);
  }
  return closure;
}

}  // namespace tarmic::testing
