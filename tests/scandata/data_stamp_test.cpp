// The claim stamp of the loaded data keeps its fingerprint with the data: every
// change of the scans' radii, signals, third columns and times passes the one door
// (NoteScanDataChanged), and the census below finds every function of the program
// that writes them and checks that it passes the door itself or through a function
// that does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/one_based.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata_test_support.h"
#include "tests/support/production_sources.h"

namespace tarmic {
namespace {

// A definition of a source: its name and its text, from a line at the left margin
// that is no comment, directive, namespace or closing brace, to the next line at
// the left margin that closes it ("}" or "};"): the layout of every source here.
struct Body {
  std::string name, text;
};

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::vector<Body> Definitions(const std::string& code) {
  std::vector<Body> bodies;
  Body* open = nullptr;
  for (std::size_t line = 0; line < code.size();) {
    const std::size_t next = std::min(code.find('\n', line), code.size());
    const std::string_view l(code.data() + line, next - line);
    const bool margin = !l.empty() && !std::isspace(static_cast<unsigned char>(l[0]));
    if (margin && l[0] == '}') {
      if (open) open->text += l;
      open = nullptr;
    } else if (margin && !open && l[0] != '#' && l[0] != '/' && !l.starts_with("namespace") &&
               !l.ends_with(";")) {
      // The name: the identifier before the first parenthesis, else the last one.
      std::size_t end = std::min(l.find('('), l.size());
      while (end > 0 && !IsWordChar(l[end - 1])) --end;
      std::size_t begin = end;
      while (begin > 0 && IsWordChar(l[begin - 1])) --begin;
      open = &bodies.emplace_back(Body{std::string(l.substr(begin, end - begin)), {}});
    }
    if (open) open->text.append(l).push_back('\n');
    line = next + 1;
  }
  return bodies;
}

// The names called in text: each identifier followed by "(".
std::set<std::string> CalledNames(std::string_view text) {
  std::set<std::string> names;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '(') continue;
    std::size_t end = i;
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    std::size_t start = end;
    while (start > 0 && IsWordChar(text[start - 1])) --start;
    if (start < end) names.emplace(text.substr(start, end - start));
  }
  return names;
}

// What writes the fingerprinted data: an element of a scan's radius, signal or third
// column (or of a grid row, which may be the scan's signal) assigned, a writable pointer to one taken, a standard algorithm writing
// into one (its destination), a scan record (or its time, omega^2 t or rpm)
// assigned or bound to a writable reference.
const std::regex& DataWrite() {
  static const std::regex write(
      R"(pp(Signal|Radius|ThirdColumn|GridSignal)\[[^\]]*\]\[[^\]]*\]\s*([-+*/]?=)[^=])"
      R"(|(^|[^t]\s)float\s*\*\s*\w+\s*=\s*pp(Signal|Radius|ThirdColumn|GridSignal)\[)"
      R"(|std::(copy|transform)\([^;]*,\s*pp(Signal|Radius|ThirdColumn)\[[^\]]*\]\s*(\+\s*\w+\s*)?\))"
      R"(|std::(reverse|fill|fill_n|swap)\(\s*pp(Signal|Radius|ThirdColumn)\[)"
      R"(|pScanInfo\[[^\]]*\]\s*=[^=])"
      R"(|pScanInfo\[[^\]]*\]\.(time|omega2t|rpm)\s*([-+*/]?=)[^=])"
      R"(|(^|[^t]\s)ScanInfo&\s*\w+\s*=\s*pScanInfo\[)");
  return write;
}

TEST(DataStampCensus, EveryFunctionThatWritesTheLoadedScansPassesTheDoor) {
  struct Found {
    std::string file, name;
    std::set<std::string> calls;
    bool writes = false;
  };
  std::vector<Found> all;
  for (const auto& [path, code] : testing::ProductionSources()) {
    if (path == "scandata/data_set.cpp") continue;  // the door's own home
    for (const Body& b : Definitions(code)) {
      const std::string& text = b.text;
      Found f{path, b.name, CalledNames(text), false};
      // Only bodies that name the scans' arrays or records are searched closely.
      for (const char* name : {"ppSignal", "ppRadius", "ppThirdColumn", "ppGridSignal", "pScanInfo"})
        if (text.find(name) != std::string::npos) f.writes = true;
      f.writes = f.writes && std::regex_search(text, DataWrite());
      all.push_back(std::move(f));
    }
  }
  // The doors: NoteScanDataChanged and the functions of the set that call it, then
  // every function that calls a door (a tool's own "rebuild the grid").
  std::set<std::string> doors = {"NoteScanDataChanged", "AllocScanTables", "GrowScanTables", "InstallScanArrays",
                                 "ReleaseScanArrays", "FreeDataSet"};
  const auto callsADoor = [&doors](const Found& f) {
    for (const std::string& c : f.calls)
      if (doors.count(c)) return true;
    return false;
  };
  for (bool grew = true; grew;) {
    grew = false;
    for (const Found& f : all)
      if (!f.name.empty() && !doors.count(f.name) && callsADoor(f)) grew = doors.insert(f.name).second || grew;
  }
  EXPECT_TRUE(doors.count("FillGridSignalRow") && doors.count("BuildCommonRadialGrid"));
  int writers = 0, passing = 0;
  for (const Found& f : all) {
    if (!f.writes) continue;
    ++writers;
    const bool passes = callsADoor(f);
    EXPECT_TRUE(passes) << f.file << ": " << f.name
                        << " writes the loaded scans without passing NoteScanDataChanged (scandata/data_set.h)";
    passing += passes;
  }
  std::printf("[ census   ] %d functions write the loaded scans, %d pass the door\n", writers, passing);
  // The census finds what it is meant to: the tools on the signals, the time options.
  EXPECT_GE(writers, 15);
}

// The stamp follows every kind of change that passes the door, and the kept
// fingerprint is that of the data as they stand (compared with a fresh set made
// alike).
using DataStampTest = testing::ScanDataTest;

TEST_F(DataStampTest, TheKeptStampFollowsEveryChangeThatPassesTheDoor) {
  const auto load = [] {
    AllocScanTables(2);
    for (int s = 1; s <= 2; ++s) {
      float* r = tarmic::vector(1, 3);
      float* y = tarmic::vector(1, 3);
      for (int i = 1; i <= 3; ++i) {
        r[i] = 6.0f + 0.1f * static_cast<float>(i);
        y[i] = static_cast<float>(s * i);
      }
      DataSet().pScanInfo[static_cast<std::size_t>(s)].time = 100.0 * s;
      InstallScanArrays(s, 3, r, y, nullptr, false);
    }
  };
  load();
  const unsigned long long missedBefore = ScanDataChangesMissedForTesting();
  const LoadedDataStamp loaded = CurrentDataStamp();
  EXPECT_EQ(CurrentDataStamp(), loaded);
  struct Change {
    const char* what;
    void (*apply)();
  };
  const Change changes[] = {
      {"a signal value", [] { DataSet().ppSignal[1][2] += 1.0f; }},
      {"a radius", [] { DataSet().ppRadius[2][3] += 0.01f; }},
      {"a scan's time", [] { DataSet().pScanInfo[1].time += 1.0; }},
      {"omega^2 t", [] { DataSet().pScanInfo[2].omega2t += 1.0; }},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    load();
    const LoadedDataStamp before = CurrentDataStamp();
    c.apply();
    NoteScanDataChanged();
    const LoadedDataStamp after = CurrentDataStamp();
    EXPECT_NE(after.content, before.content);
    EXPECT_EQ(after.set, before.set);
    // The same change made on a fresh set gives the same fingerprint.
    load();
    c.apply();
    NoteScanDataChanged();
    EXPECT_EQ(CurrentDataStamp().content, after.content);
  }
  EXPECT_EQ(ScanDataChangesMissedForTesting(), missedBefore);
}

// The gaps of a scan are kept with the scans: the marks of the radii a scan lacks
// are those an independent count of its spacings gives (half the median spacing
// beyond its ends, strictly inside a step wider than kGapSpacingFactor medians),
// and they follow a change of its radii that passes the door.
TEST_F(DataStampTest, TheKeptGapsOfAScanFollowItsRadii) {
  const auto lacks = [](const std::vector<float>& r, float x) {
    std::vector<float> steps;
    for (std::size_t k = 1; k < r.size(); ++k) steps.push_back(r[k] - r[k - 1]);
    std::sort(steps.begin(), steps.end());
    const float median = steps[(steps.size() - 1) / 2];
    if (x < r.front() - 0.5f * median || x > r.back() + 0.5f * median) return true;
    for (std::size_t k = 1; k < r.size(); ++k)
      if (x > r[k - 1] && x < r[k] && r[k] - r[k - 1] > kGapSpacingFactor * median) return true;
    return false;
  };
  AllocScanTables(1);
  std::vector<float> radii;
  for (int i = 0; i < 40; ++i) radii.push_back(6.0f + 0.01f * static_cast<float>(i < 20 ? i : i + 15));
  float* r = tarmic::vector(1, 40);
  float* y = tarmic::vector(1, 40);
  for (int i = 1; i <= 40; ++i) r[i] = radii[static_cast<std::size_t>(i - 1)], y[i] = 1.0f;
  InstallScanArrays(1, 40, r, y, nullptr, false);
  std::vector<float> columns(1, 0.0f);
  for (int c = 0; c <= 300; ++c) columns.push_back(5.9f + 0.002f * static_cast<float>(c));
  const int count = static_cast<int>(columns.size()) - 1;
  for (const float shift : {0.0f, 0.13f}) {
    SCOPED_TRACE(shift);
    if (shift != 0.0f) {
      for (int i = 1; i <= 40; ++i) DataSet().ppRadius[1][i] += shift;
      for (float& v : radii) v += shift;
      NoteScanDataChanged();
    }
    for (int pass = 0; pass < 2; ++pass) {  // made, then kept
      std::vector<unsigned char> measured(static_cast<std::size_t>(count) + 1, 1);
      MarkRadiiScanLacks(1, columns.data(), count, measured);
      for (int g = 1; g <= count; ++g)
        ASSERT_EQ(measured[static_cast<std::size_t>(g)] == 0, lacks(radii, columns[static_cast<std::size_t>(g)]))
            << "radius " << columns[static_cast<std::size_t>(g)];
    }
  }
}

}  // namespace
}  // namespace tarmic
