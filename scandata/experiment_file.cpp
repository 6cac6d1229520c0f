#include "scandata/experiment_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <map>
#include <sstream>
#include <string_view>

#include "storage/atomic_file.h"
#include "numerics/text_lines.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"
#include "text/number_token.h"
#include "numerics/value_ranges.h"

namespace tarmic {

namespace {

// One key line: the key, the label that messages name it by, where its value lives
// in the record (exactly one of number and flag is set), the rule its value keeps
// (a number's row in the table of valid values; a flag is 0 or 1) and whether 0
// stands for "not given" and passes.
struct KeyField {
  const char* key;
  const char* label;
  float ExperimentFile::*number;
  bool ExperimentFile::*flag;
  const ValueRule* rule = nullptr;
  bool zeroNotGiven = false;
};

// The rows of the values that only this file holds.
constexpr ValueRule kWeightRule{"weight", "", 0.0, 1e6, true, true, "the weights of an experiment"};
constexpr ValueRule kNoiseRule{"noise", "", kNoiseLevel.range.low, kNoiseLevel.range.high, true, true,
                               "the noise levels of a signal"};
constexpr ValueRule kExtinctionRule{"extinction coefficient", "", kXpExtinction.range.low,
                                    kXpExtinction.range.high, true, true, "the extinction coefficients"};
constexpr ValueRule kHydrationRule{"hydration", "g/g", kHydration.range.low, kHydration.range.high, true, true,
                                   "the hydrations of a macromolecule"};
constexpr ValueRule kPathLengthRule{"path length", "cm", 0.0, 10.0, false, true, "the path lengths of a cell"};

// The keys the reader applies, with the members they fill.
constexpr KeyField kKeys[] = {
    {"fBufferDensity", "buffer density", &ExperimentFile::bufferDensity, nullptr, &kBufferDensityRule},
    {"fBufferViscosity", "buffer viscosity", &ExperimentFile::bufferViscosity, nullptr, &kBufferViscosityRule, true},
    {"VBAR", "partial specific volume", &ExperimentFile::vbar, nullptr, &kPartialSpecificVolumeRule},
    {"Meniscus", "meniscus", &ExperimentFile::meniscus, nullptr, &kPositionRule},
    {"Bottom", "bottom", &ExperimentFile::bottom, nullptr, &kPositionRule},
    {"MAXMENISCUS", "upper end of the meniscus fit range", &ExperimentFile::maxMeniscus, nullptr, &kPositionRule},
    {"MINMENISCUS", "lower end of the meniscus fit range", &ExperimentFile::minMeniscus, nullptr, &kPositionRule},
    {"MAXBOTTOM", "upper end of the bottom fit range", &ExperimentFile::maxBottom, nullptr, &kPositionRule},
    {"MINBOTTOM", "lower end of the bottom fit range", &ExperimentFile::minBottom, nullptr, &kPositionRule},
    {"FitLeftLim", "left fitting limit", &ExperimentFile::fitLeftLimit, nullptr, &kPositionRule},
    {"FitRightLim", "right fitting limit", &ExperimentFile::fitRightLimit, nullptr, &kPositionRule},
    {"WeightExperiment", "weight of the experiment", &ExperimentFile::weight, nullptr, &kWeightRule},
    {"ExperimentalNoise", "noise of the experiment", &ExperimentFile::noise, nullptr, &kNoiseRule},
    {"blocalFitTimeIndepNoise", "switch to fit time-invariant noise", nullptr, &ExperimentFile::fitTINoise},
    {"blocalFitRINoise", "switch to fit radially invariant noise", nullptr, &ExperimentFile::fitRINoise},
    {"blocalAutoVaryBaseline", "switch to fit the baseline", nullptr, &ExperimentFile::varyBaseline},
    {"blocalVaryBottom", "switch to fit the bottom", nullptr, &ExperimentFile::varyBottom},
    {"blocalVaryMeniscus", "switch to fit the meniscus", nullptr, &ExperimentFile::varyMeniscus},
    {"xBaseline", "baseline", &ExperimentFile::baseline, nullptr, &kBaselineRule},
    {"xExtinctionCoeffA", "extinction coefficient A", &ExperimentFile::extinctionA, nullptr, &kExtinctionRule},
    {"xExtinctionCoeffB", "extinction coefficient B", &ExperimentFile::extinctionB, nullptr, &kExtinctionRule},
    {"xExtinctionCoeffC", "extinction coefficient C", &ExperimentFile::extinctionC, nullptr, &kExtinctionRule},
    {"global VBAR20", "partial specific volume at 20 C", &ExperimentFile::vbar20, nullptr,
     &kPartialSpecificVolumeRule, true},
    {"global HYDRATION", "hydration", &ExperimentFile::hydration, nullptr, &kHydrationRule},
    {"pathlength", "optical path length", &ExperimentFile::pathLength, nullptr, &kPathLengthRule},
    {"Temperature", "temperature", &ExperimentFile::temperature, nullptr, &kTemperatureRule},
};

// Every key fills one member, and every number has its row of valid values.
constexpr bool EveryKeyHasItsRow() {
  for (const KeyField& k : kKeys)
    if ((k.number == nullptr) == (k.flag == nullptr) || (k.number && !k.rule)) return false;
  return true;
}
static_assert(EveryKeyHasItsRow(), "a key of the experiment file without its row of valid values");

// The keys of the exchange format that the reader knows and does not use (the
// writer writes them, with the values the format expects). Indices in brackets
// stand as "[]"; the rotor type's key goes on with the rotor's name.
constexpr const char* kSkippedKeys[] = {
    "blocalVaryMeniscusWarned", "xConcentrationFactor", "bVaryExtinctionCoeffA", "bVaryExtinctionCoeffB",
    "bVaryExtinctionCoeffC", "Centerpiece", "pLocalConcentrations[]", "NFILES", "ppMultiLocalConcentrations",
    "correct for rotor stretch in TI noise", "correct for rotor stretch in mass balance",
    "sets of extra parameters follow", "pLocalExtraConcs[]", "ppMultiLocalExtraConcs[][]",
    "bContainsNoBackdiffusion", "bSwIsothermAInvisible", "bPartialBoundaryFit", "PBFsmin", "PBFsmax",
    "bITCLocalIncompA", "bITCLocalIncompB", "bITCLocalIncompC", "FitITCLocalIncompA", "FitITCLocalIncompB",
    "FitITCLocalIncompC", "ITCLocalIncompA", "ITCLocalIncompB", "ITCLocalIncompC", "FitITCBaselineSlope",
    "ITCBaselineSlope", "ITCLocalMaxIncomp"};
constexpr std::string_view kRotorTypeKey = "rotor type:";

// The key with every index in brackets ("[12]") written as "[]".
std::string WithoutIndices(const std::string& key) {
  std::string out;
  for (std::size_t i = 0; i < key.size(); ++i) {
    out += key[i];
    if (key[i] != '[') continue;
    std::size_t j = i + 1;
    while (j < key.size() && std::isdigit(static_cast<unsigned char>(key[j]))) ++j;
    if (j > i + 1 && j < key.size() && key[j] == ']') i = j - 1;
  }
  return out;
}

bool IsSkippedKey(const std::string& key) {
  if (key.starts_with(kRotorTypeKey)) return true;
  const std::string general = WithoutIndices(key);
  return std::find(std::begin(kSkippedKeys), std::end(kSkippedKeys), general) != std::end(kSkippedKeys);
}

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

const char* TypeName(int type) {
  switch (type) {
    case kXpSedVelocity: return "SEDVELOCITY";
    case kXpSedEquilibrium: return "SEDEQUILIBRIUM";
    default: return "MULTISEDEQ";
  }
}

// The quoted strings of the file-list line: "<dir>/" and " <name> <name> ...".
bool ParseFileList(const std::string& line, std::string* directory, std::vector<std::string>* files) {
  std::vector<std::string> quoted;
  std::size_t pos = 0;
  while (quoted.size() < 2) {
    const std::size_t open = line.find('"', pos);
    if (open == std::string::npos) break;
    const std::size_t close = line.find('"', open + 1);
    if (close == std::string::npos) return false;
    quoted.push_back(line.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  if (quoted.size() != 2 || quoted[0].empty()) return false;
  *directory = WithoutTrailingSlash(quoted[0]);
  std::istringstream names(quoted[1]);
  std::string name;
  files->clear();
  while (names >> name) files->push_back(name);
  return true;
}

}  // namespace

std::string FormatXpFile(const ExperimentFile& xp) {
  const int count = static_cast<int>(xp.files.size());
  std::string t = Format("%d (ExperimentType: %s)\n", xp.type, TypeName(xp.type));
  t += "(exported xp file from TARMIC)\n";
  t += "\"" + WithoutTrailingSlash(xp.directory) + "/\" \"";
  for (const std::string& f : xp.files) t += " " + f;
  t += "\"\n";
  // Each value as the float it is held in reads it back; the values the program
  // keeps fixed (a concentration factor of 1, the local concentrations) likewise.
  auto f = [&t](const char* key, float v) { t += RoundTripText(v) + " (" + key + ")\n"; };
  auto d = [&t](const char* key, int v) { t += Format("%d (%s)\n", v, key); };
  f("fBufferDensity", xp.bufferDensity);
  f("fBufferViscosity", xp.bufferViscosity);
  f("VBAR", xp.vbar);
  f("Meniscus", xp.meniscus);
  f("Bottom", xp.bottom);
  f("MAXMENISCUS", xp.maxMeniscus);
  f("MINMENISCUS", xp.minMeniscus);
  f("MAXBOTTOM", xp.maxBottom);
  f("MINBOTTOM", xp.minBottom);
  f("FitLeftLim", xp.fitLeftLimit);
  f("FitRightLim", xp.fitRightLimit);
  f("WeightExperiment", xp.weight);
  f("ExperimentalNoise", xp.noise);
  d("blocalFitTimeIndepNoise", xp.fitTINoise);
  d("blocalFitRINoise", xp.fitRINoise);
  d("blocalAutoVaryBaseline", xp.varyBaseline);
  d("blocalVaryBottom", xp.varyBottom);
  d("blocalVaryMeniscus", xp.varyMeniscus);
  d("blocalVaryMeniscusWarned", 0);
  f("xBaseline", xp.baseline);
  f("xConcentrationFactor", 1.0f);
  f("xExtinctionCoeffA", xp.extinctionA);
  d("bVaryExtinctionCoeffA", 0);
  f("xExtinctionCoeffB", xp.extinctionB);
  d("bVaryExtinctionCoeffB", 0);
  d("Centerpiece", 2);
  for (int k = 1; k <= 4; ++k) f(Format("pLocalConcentrations[%d]", k).c_str(), 1e-6f);
  d("NFILES", count);
  t += "0 (ppMultiLocalConcentrations)\n";
  f("global VBAR20", xp.vbar20);
  f("global HYDRATION", xp.hydration);
  f("pathlength", xp.pathLength);
  t += Format("%d (rotor type: ", 8) + " EIGHTHOLE)\n";
  d("correct for rotor stretch in TI noise", 0);
  d("correct for rotor stretch in mass balance", 0);
  d("sets of extra parameters follow", 3);
  for (int k = 1; k <= 3; ++k) f(Format("pLocalExtraConcs[%d]", k).c_str(), 0.0f);
  for (int file = 1; file <= count; ++file)
    for (int k = 1; k <= 3; ++k) f(Format("ppMultiLocalExtraConcs[%d][%d]", file, k).c_str(), 0.0f);
  d("bContainsNoBackdiffusion", 0);
  d("bSwIsothermAInvisible", 0);
  f("xExtinctionCoeffC", xp.extinctionC);
  d("bVaryExtinctionCoeffC", 0);
  for (const char* key : {"bPartialBoundaryFit", "PBFsmin", "PBFsmax", "bITCLocalIncompA",
                          "bITCLocalIncompB", "bITCLocalIncompC", "FitITCLocalIncompA",
                          "FitITCLocalIncompB", "FitITCLocalIncompC", "ITCLocalIncompA",
                          "ITCLocalIncompB", "ITCLocalIncompC", "FitITCBaselineSlope",
                          "ITCBaselineSlope", "ITCLocalMaxIncomp"})
    d(key, 0);
  // Written as held: -1 (none given) reads back as -1, and a temperature below 0 C
  // stays the one recorded.
  f("Temperature", xp.temperature);
  return t;
}

namespace {

// Reads the text of an experiment file into *out; false with the reason (and its
// line) in *why when any line cannot be used.
bool ParseXpText(const std::string& text, ExperimentFile* out, std::string* why) {
  auto fail = [why](const std::string& reason) {
    *why = reason;
    return false;
  };
  std::istringstream in(text);
  std::string line;
  ExperimentFile xp;

  // Type line: one of the types followed by "(ExperimentType: ...)".
  if (!ReadTextLine(in, &line) || line.find("ExperimentType") == std::string::npos)
    return fail("no experiment type");
  const std::string typeField = line.substr(0, line.find('('));
  const NumberScan type = ScanWholeNumber(typeField, NumberWidth::kDouble);
  if (!type || !(type.value == kXpSedVelocity || type.value == kXpSedEquilibrium ||
                 type.value == kXpMultiSedEquilibrium))
    return fail(Format("line 1 holds \"%s\" as the experiment type, which is none of %d (%s), %d (%s) and %d (%s)",
                       typeField.substr(0, typeField.find_last_not_of(" \t") + 1).substr(0, 40).c_str(),
                       kXpSedVelocity, TypeName(kXpSedVelocity), kXpSedEquilibrium, TypeName(kXpSedEquilibrium),
                       kXpMultiSedEquilibrium, TypeName(kXpMultiSedEquilibrium)));
  xp.type = static_cast<int>(type.value);
  // The name in parentheses is the type's own: "3 (ExperimentType: SEDVELOCITY)"
  // says two types, and neither is taken.
  {
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    static constexpr std::string_view kTypeKey = "ExperimentType:";
    std::string_view inner;
    if (open != std::string::npos && close != std::string::npos && close > open)
      inner = std::string_view(line).substr(open + 1, close - open - 1);
    const bool keyed = inner.substr(0, kTypeKey.size()) == kTypeKey;
    std::string_view name = keyed ? inner.substr(kTypeKey.size()) : std::string_view();
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    const std::string_view after =
        close == std::string::npos ? std::string_view() : std::string_view(line).substr(close + 1);
    const bool trailing = after.find_first_not_of(" \t") != std::string_view::npos;
    if (!keyed || trailing || name != TypeName(xp.type))
      return fail(Format("line 1 holds \"%s\": type %d is %s, written \"%d (ExperimentType: %s)\"",
                         line.substr(0, 60).c_str(), xp.type, TypeName(xp.type), xp.type, TypeName(xp.type)));
  }
  if (!ReadTextLine(in, &line)) return fail("no file list");  // the comment line
  if (!ReadTextLine(in, &line) || !ParseFileList(line, &xp.directory, &xp.files))
    return fail("no file list");
  if (xp.files.empty()) return fail("lists no file");

  // "<value> (<key>)" lines; the key runs from the first '(' to the last ')'. A
  // line without a key, or with a key that is none of the format (misspelt), is
  // named: its value would be lost without a word.
  int lineNumber = 3;
  int meniscusLine = 0, bottomLine = 0;
  // The line of each key met: a key given twice says two values, and neither is
  // taken.
  std::map<std::string, int> keyLines;
  while (ReadTextLine(in, &line)) {
    ++lineNumber;
    if (IsBlank(line)) continue;
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close <= open + 1)
      return fail(Format("line %d holds \"%s\" without a key in parentheses", lineNumber, line.c_str()));
    const std::string key = line.substr(open + 1, close - open - 1);
    if (const auto [at, first] = keyLines.emplace(key, lineNumber); !first)
      return fail(Format("lines %d and %d both hold the key \"%s\"", at->second, lineNumber, key.c_str()));
    const KeyField* field = nullptr;
    for (const KeyField& k : kKeys)
      if (key == k.key) field = &k;
    if (!field) {
      if (IsSkippedKey(key)) continue;
      return fail(Format("line %d holds the key \"%s\", which is no key of an experiment file", lineNumber,
                         key.c_str()));
    }
    // The value is one number as a whole ("1 2" is none) that a float holds.
    const std::string label = field->label;
    const std::string valueField = line.substr(0, open);
    // A switch is the whole number 0 or 1, judged by its text.
    const NumberScan scan = field->flag ? ScanFlag(valueField) : ScanNumber(valueField);
    if (scan.fault == NumberFault::kEmpty)
      return fail(Format("line %d holds no number for the %s", lineNumber, label.c_str()));
    if (!scan) {
      const std::size_t first = valueField.find_first_not_of(" \t");
      const std::string shown = valueField.substr(first, valueField.find_last_not_of(" \t") + 1 - first);
      return fail(Format("line %d holds \"%s\" for the %s, which %s", lineNumber, shown.substr(0, 40).c_str(),
                         label.c_str(), NumberFaultReason(scan.fault).c_str()));
    }
    const KeyField& k = *field;
    const double v = scan.value;
    if (k.rule && !(k.zeroNotGiven && v == 0.0) && !k.rule->Holds(v)) {
      ValueRule named = *k.rule;
      named.name = k.label;
      return fail(named.HeldOutside(lineNumber, v));
    }
    if (k.number == &ExperimentFile::meniscus) meniscusLine = lineNumber;
    if (k.number == &ExperimentFile::bottom) bottomLine = lineNumber;
    if (k.number)
      xp.*(k.number) = static_cast<float>(v);
    else
      xp.*(k.flag) = v != 0.0;
  }
  // A cell whose meniscus lies at or beyond its bottom (0: not given).
  if (xp.meniscus > 0.0f && xp.bottom > 0.0f && xp.meniscus >= xp.bottom)
    return fail(Format("lines %d and %d hold the meniscus %g cm, which must lie below the bottom %g cm",
                       std::min(meniscusLine, bottomLine), std::max(meniscusLine, bottomLine),
                       static_cast<double>(xp.meniscus), static_cast<double>(xp.bottom)));
  *out = std::move(xp);
  return true;
}

}  // namespace

std::string XpFileRefusal(const ExperimentFile& xp) {
  ExperimentFile back;
  std::string why;
  return ParseXpText(FormatXpFile(xp), &back, &why) ? std::string() : why;
}

bool WriteXpFile(const std::string& path, const ExperimentFile& xp, std::string* error) {
  // Only a file that loads again is written: the text is read back first.
  if (const std::string why = XpFileRefusal(xp); !why.empty()) {
    if (error) *error = path + ": the experiment file would not load again: " + why;
    return false;
  }
  return WriteTextFileAtomically(path, FormatXpFile(xp), error);
}

bool LoadXpFile(const std::string& path, ExperimentFile* out, std::string* error) {
  std::string text, why;
  if (!ReadPlainTextFile(path, LastLine::kRefused, &text, &why) || !ParseXpText(text, out, &why)) {
    if (error) *error = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace tarmic
