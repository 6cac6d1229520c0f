// The census of include circles. A module is a folder/name of the program's
// sources: name.h with its name.cpp (or either alone). Module A reaches B when A's
// .h or .cpp includes B's header. Modules that reach each other form a group (a
// strongly connected component); every module in a group of two or more lies in a
// circle. The count of such modules may not rise above the ceiling below, which is
// lowered whenever a circle is broken.
//
// The graph is read from the include lines of the sources, and the compiler's own
// record of what each object read (the build's dependency log, `ninja -t deps`) is
// held against it: for every source the compiler compiled, the program headers it
// read are exactly those the include lines reach from that source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/production_sources.h"

namespace {

// Modules in circles today; lower it when a circle is broken, never raise it.
constexpr std::size_t kCeiling = 0;

using Sources = std::vector<std::pair<std::string, std::string>>;  // path, text

std::string ModuleOf(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(0, dot);
}

// The quoted includes of a source, as written.
std::vector<std::string> QuotedIncludes(const std::string& code) {
  static const std::regex kInclude(R"(^\s*#\s*include\s*\"([^\"]+)\")");
  std::vector<std::string> found;
  std::istringstream in(code);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, kInclude)) found.push_back(m[1]);
  }
  return found;
}

struct Graph {
  std::set<std::string> files;                              // every source path
  std::map<std::string, std::set<std::string>> file_edges;  // path -> included source paths
  std::map<std::string, std::set<std::string>> modules;     // module -> modules it includes
};

Graph ReadGraph(const Sources& sources) {
  Graph g;
  for (const auto& [path, code] : sources) {
    g.files.insert(path);
    g.modules[ModuleOf(path)];
  }
  for (const auto& [path, code] : sources) {
    for (const std::string& target : QuotedIncludes(code)) {
      if (!g.files.count(target)) continue;  // not one of the program's sources
      g.file_edges[path].insert(target);
      if (ModuleOf(target) != ModuleOf(path)) g.modules[ModuleOf(path)].insert(ModuleOf(target));
    }
  }
  return g;
}

// The groups of two or more modules that reach each other, largest first
// (Tarjan's strongly connected components, without recursion).
std::vector<std::vector<std::string>> Circles(const std::map<std::string, std::set<std::string>>& edges) {
  std::map<std::string, int> index, low;
  std::set<std::string> on_stack;
  std::vector<std::string> stack;
  std::vector<std::vector<std::string>> groups;
  int next = 0;
  for (const auto& [start, unused] : edges) {
    if (index.count(start)) continue;
    // Each frame: the node and the iterator over its edges.
    std::vector<std::pair<std::string, std::set<std::string>::const_iterator>> frames;
    auto enter = [&](const std::string& v) {
      index[v] = low[v] = next++;
      stack.push_back(v);
      on_stack.insert(v);
      frames.emplace_back(v, edges.at(v).begin());
    };
    enter(start);
    while (!frames.empty()) {
      auto& [v, it] = frames.back();
      if (it != edges.at(v).end()) {
        const std::string w = *it++;
        if (!edges.count(w)) continue;
        if (!index.count(w)) {
          enter(w);
        } else if (on_stack.count(w)) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      const std::string done = v;
      frames.pop_back();
      if (!frames.empty()) low[frames.back().first] = std::min(low[frames.back().first], low[done]);
      if (low[done] != index[done]) continue;
      std::vector<std::string> group;
      std::string w;
      do {
        w = stack.back();
        stack.pop_back();
        on_stack.erase(w);
        group.push_back(w);
      } while (w != done);
      if (group.size() > 1) {
        std::sort(group.begin(), group.end());
        groups.push_back(std::move(group));
      }
    }
  }
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.size() > b.size(); });
  return groups;
}

std::size_t ModulesIn(const std::vector<std::vector<std::string>>& groups) {
  std::size_t n = 0;
  for (const auto& group : groups) n += group.size();
  return n;
}

TEST(IncludeCircles, ModulesInCirclesStayUnderTheCeiling) {
  const Graph g = ReadGraph(tarmic::testing::ProductionSources());
  ASSERT_GT(g.modules.size(), 100u) << "the program's sources were not found";
  const auto groups = Circles(g.modules);
  std::ostringstream report;
  for (const auto& group : groups) {
    report << group.size() << ":";
    for (const std::string& m : group) report << " " << m;
    report << "\n";
  }
  std::printf("%zu modules in %zu include circles\n%s", ModulesIn(groups), groups.size(), report.str().c_str());
  EXPECT_LE(ModulesIn(groups), kCeiling) << report.str();
}

// The census on planted trees whose circles are known: a circle through a header
// and a source, a self-include, a header without a source in a circle, a chain
// with no circle, and two circles joined by a third into one group.
TEST(IncludeCircles, PlantedCirclesAreFound) {
  struct Case {
    const char* what;
    Sources sources;
    std::vector<std::vector<std::string>> groups;
  };
  const std::vector<Case> cases = {
      {"source includes the header that includes it back",
       {{"a/x.h", "#include \"a/y.h\"\n"}, {"a/y.h", ""}, {"a/y.cpp", "#include \"a/y.h\"\n#include \"a/x.h\"\n"}},
       {{"a/x", "a/y"}}},
      {"a module that includes its own header is no circle",
       {{"a/x.h", ""}, {"a/x.cpp", "#include \"a/x.h\"\n"}},
       {}},
      {"a chain is no circle; an unknown or system header is no module",
       {{"a/x.h", "#include \"a/y.h\"\n#include <vector>\n"},
        {"a/y.h", "#include \"b/z.h\"\n#include \"elsewhere/w.h\"\n"},
        {"b/z.h", ""}},
       {}},
      {"a header alone closes a circle across folders",
       {{"a/x.cpp", "  #  include \"b/z.h\"\n"}, {"a/x.h", ""}, {"b/z.h", "#include \"a/x.h\"\n"}},
       {{"a/x", "b/z"}}},
      {"two circles joined make one group; a circle apart makes another",
       {{"p/a.h", "#include \"p/b.h\"\n"}, {"p/b.h", "#include \"p/a.h\"\n#include \"p/c.h\"\n"},
        {"p/c.h", "#include \"p/d.h\"\n"}, {"p/d.h", "#include \"p/c.h\"\n#include \"p/a.h\"\n"},
        {"q/e.h", "#include \"q/f.h\"\n"}, {"q/f.cpp", "#include \"q/e.h\"\n"}, {"q/f.h", ""},
        {"q/g.h", "#include \"p/a.h\"\n"}},
       {{"p/a", "p/b", "p/c", "p/d"}, {"q/e", "q/f"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Circles(ReadGraph(c.sources).modules), c.groups) << c.what;
  }
}

// The compiler's record of one build: for each source it compiled (a path below the
// source root), the files below the root that it read, as paths relative to it.
std::map<std::string, std::set<std::string>> CompilerRecord() {
  const std::string root = std::filesystem::weakly_canonical(TARMIC_SOURCE_DIR).generic_string() + "/";
  const std::string command = std::string("\"") + TARMIC_NINJA + "\" -C \"" + TARMIC_BUILD_DIR + "\" -t deps";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::map<std::string, std::set<std::string>> record;
  if (!pipe) return record;
  std::string text;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) text.append(buffer, n);
  std::istringstream in(text);
  std::vector<std::string> entry;
  bool valid = false;
  // The log names files relative to the build folder.
  auto resolve = [](const std::string& f) {
    std::filesystem::path p(f);
    if (p.is_relative()) p = std::filesystem::path(TARMIC_BUILD_DIR) / p;
    return std::filesystem::weakly_canonical(p).generic_string();
  };
  auto close_entry = [&] {
    // The source compiled is the first .cpp file an object read (a sanitizer's
    // ignore list may come before it).
    if (valid && !entry.empty()) {
      std::set<std::string> read;
      std::string source;
      for (const std::string& f : entry) {
        const std::string p = resolve(f);
        if (source.empty() && p.size() > 4 && p.substr(p.size() - 4) == ".cpp") source = p;
        if (p.rfind(root, 0) == 0) read.insert(p.substr(root.size()));
      }
      if (source.rfind(root, 0) == 0) {
        const std::string rel = source.substr(root.size());
        read.erase(rel);
        record[rel] = std::move(read);
      }
    }
    entry.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] != ' ') {
      close_entry();
      valid = line.find("(VALID)") != std::string::npos;
    } else {
      entry.push_back(line.substr(line.find_first_not_of(' ')));
    }
  }
  close_entry();
  return record;
}

TEST(IncludeCircles, TheCompilerReadsWhatTheIncludeLinesSay) {
  const Sources sources = tarmic::testing::ProductionSources();
  const Graph g = ReadGraph(sources);
  const auto record = CompilerRecord();
  std::set<std::string> folders_with_sources, folders_compiled;
  std::size_t compared = 0;
  for (const auto& [path, code] : sources) {
    if (path.size() < 4 || path.substr(path.size() - 4) != ".cpp") continue;
    const std::string folder = path.substr(0, path.find('/'));
    folders_with_sources.insert(folder);
    const auto it = record.find(path);
    if (it == record.end()) continue;
    folders_compiled.insert(folder);
    ++compared;
    // What the include lines reach from the source.
    std::set<std::string> reached;
    std::vector<std::string> todo = {path};
    while (!todo.empty()) {
      const std::string f = todo.back();
      todo.pop_back();
      const auto e = g.file_edges.find(f);
      if (e == g.file_edges.end()) continue;
      for (const std::string& t : e->second) {
        if (reached.insert(t).second) todo.push_back(t);
      }
    }
    // The header every program source is compiled with, and the headers the build
    // itself writes (moc, resources), are no include line of the source.
    std::set<std::string> read;
    for (const std::string& f : it->second) {
      if (g.files.count(f)) read.insert(f);
    }
    reached.insert(read.count("text/converters_forbidden.h") ? "text/converters_forbidden.h" : "");
    reached.erase("");
    EXPECT_EQ(read, reached) << path;
  }
  std::printf("%zu sources compared with the compiler's record\n", compared);
  // Every folder with sources was compiled in this build (a missing record would
  // let a circle pass unseen by the compiler).
  EXPECT_EQ(folders_compiled, folders_with_sources);
}

}  // namespace
