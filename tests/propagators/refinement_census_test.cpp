// The census of the doors to the propagators: every function a propagator header
// declares that returns a SimOutcome runs a solution that may be refused, and
// every call of one in the program's sources must reach the one refinement,
// RefineWhileBalanceLost (propagators/sim_run.h), which solves a refinable
// failure again on finer grids before it is refused. A call passes when its
// definition (the function or class at namespace level that holds it) goes
// through RefineWhileBalanceLost, or when the door called refines itself. The
// solver object refines inside its own Solve, with the same count of grids.
// A door added later that solves once fails the test with its file and line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/production_sources.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPrimitive = "RefineWhileBalanceLost(";

// A source with comments and the contents of string and character literals
// blanked (newlines kept, so offsets give the line).
struct Source {
  std::string file, code;
  int LineOf(std::size_t at) const {
    return 1 + static_cast<int>(std::count(code.begin(), code.begin() + static_cast<long>(at), '\n'));
  }
};

Source ReadSource(const fs::path& path, const std::string& name) {
  std::ifstream in(path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "//") == 0) {
      while (i < text.size() && text[i] != '\n') text[i++] = ' ';
    } else if (text.compare(i, 2, "/*") == 0) {
      const std::size_t end = std::min(text.find("*/", i + 2), text.size() - 2) + 2;
      for (; i < end; ++i)
        if (text[i] != '\n') text[i] = ' ';
    } else if (text[i] == '"' || text[i] == '\'') {
      const char quote = text[i];
      for (++i; i < text.size() && text[i] != quote; ++i) {
        if (text[i] == '\\') text[i++] = ' ';
        if (i < text.size() && text[i] != '\n') text[i] = ' ';
      }
    }
  }
  return {name, text};
}

bool Word(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// True when the text before `at` ends with the head of a namespace
// ("namespace", "namespace a", "namespace a::b").
bool NamespaceHead(const std::string& code, std::size_t from, std::size_t at) {
  std::size_t i = at;
  while (i > from && (Word(code[i - 1]) || code[i - 1] == ':' || std::isspace(static_cast<unsigned char>(code[i - 1]))))
    --i;
  const std::size_t word = code.find_first_not_of(" \t\n\r", i);
  return word < at && code.compare(word, 9, "namespace") == 0 && !Word(code[word + 9 < at ? word + 9 : at]);
}

// The definitions at namespace level: [begin, end) from the end of the item
// before to the brace that closes the definition. Braces of namespaces do not count.
std::vector<std::pair<std::size_t, std::size_t>> TopLevelDefinitions(const std::string& code) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::vector<bool> namespaceBrace;
  int depth = 0;
  std::size_t boundary = 0;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '{') {
      const bool ns = depth == 0 && NamespaceHead(code, boundary, i);
      namespaceBrace.push_back(ns);
      if (ns) {
        boundary = i + 1;
      } else if (depth++ == 0) {
        spans.emplace_back(boundary, code.size());
      }
    } else if (c == '}' && !namespaceBrace.empty()) {
      const bool ns = namespaceBrace.back();
      namespaceBrace.pop_back();
      if (!ns && --depth == 0) spans.back().second = i + 1;
      if (depth == 0) boundary = i + 1;
    } else if (c == ';' && depth == 0) {
      boundary = i + 1;
    }
  }
  return spans;
}

std::vector<Source> ProgramSources(const std::string& extension) {
  std::vector<Source> sources;
  for (const fs::path& rel : tarmic::testing::ProductionSourcePaths())
    if (rel.extension() == extension)
      sources.push_back(ReadSource(fs::path(TARMIC_SOURCE_DIR) / rel, rel.generic_string()));
  std::sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) { return a.file < b.file; });
  return sources;
}

TEST(RefinementCensus, EveryCallOfAPropagatorGoesThroughTheRefinement) {
  // The doors: the functions the propagator headers declare with a SimOutcome.
  std::set<std::string> doors;
  static const std::regex kDeclaration(R"(SimOutcome\s+(\w+)\s*\()");
  for (const Source& header : ProgramSources(".h")) {
    if (header.file.rfind("propagators", 0) != 0) continue;
    for (std::sregex_iterator it(header.code.begin(), header.code.end(), kDeclaration), end; it != end; ++it)
      doors.insert((*it)[1]);
  }
  doors.erase("RefineWhileBalanceLost");  // the refinement itself
  doors.erase("FinishSimRun");            // the end of a run inside a propagator
  ASSERT_GE(doors.size(), 5u) << "propagator headers not found under " << TARMIC_SOURCE_DIR;

  struct Call {
    std::string door, where;
    bool definitionRefines;
  };
  std::vector<Call> calls;
  std::set<std::string> refiningDoors;
  bool solverObjectRefines = false;
  for (const Source& source : ProgramSources(".cpp")) {
    const auto spans = TopLevelDefinitions(source.code);
    auto spanOf = [&](std::size_t at) {
      for (const auto& span : spans)
        if (span.first <= at && at < span.second) return source.code.substr(span.first, span.second - span.first);
      return std::string();
    };
    const std::size_t solve = source.code.find("int CLammIdeal::Solve()");
    if (solve != std::string::npos)
      solverObjectRefines = spanOf(solve).find("kBalanceRefinements") != std::string::npos;
    for (const std::string& door : doors) {
      for (std::size_t at = source.code.find(door); at != std::string::npos;
           at = source.code.find(door, at + door.size())) {
        // A call or definition: the name alone, followed by its argument list.
        const std::size_t open = source.code.find_first_not_of(" \n", at + door.size());
        if ((at > 0 && (Word(source.code[at - 1]) || source.code[at - 1] == ':' ||
                        source.code[at - 1] == '.' || source.code[at - 1] == '>')) ||
            open == std::string::npos || source.code[open] != '(')
          continue;
        const std::string span = spanOf(at);
        const bool refines = span.find(kPrimitive) != std::string::npos;
        const std::size_t type = source.code.rfind("SimOutcome", at);
        if (type != std::string::npos &&
            source.code.find_first_not_of(" \n", type + 10) == at) {  // the door's own definition
          if (refines) refiningDoors.insert(door);
          continue;
        }
        // A door that hands its call to another form of the same door (the forms that
        // take settings and species call the one that takes a SimInput) solves
        // nothing itself: its callers are counted under the same name.
        if (std::regex_search(span, std::regex("SimOutcome\\s+" + door + "\\s*\\("))) continue;
        calls.push_back({door, source.file + ":" + std::to_string(source.LineOf(at)), refines});
      }
    }
  }
  int found = 0;
  for (const Call& call : calls) {
    ++found;
    EXPECT_TRUE(call.definitionRefines || refiningDoors.count(call.door))
        << call.where << " solves " << call.door << " once: a refinable failure is refused without "
        << "the finer grids of " << kPrimitive << ")";
  }
  // The species loop, the single-component, reacting and buffer branches, the
  // kernels of the non-ideal c(s), of electrophoresis and of the buffer.
  EXPECT_GE(found, 8) << "the census found too few doors: is the pattern still right?";
  EXPECT_TRUE(solverObjectRefines) << "CLammIdeal::Solve no longer solves on finer grids";
  std::cout << "[ census ] " << found << " calls of " << doors.size() << " propagator doors\n";
}

}  // namespace
