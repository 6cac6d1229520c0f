#include "scandata/experiment_file.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <sstream>

#include "storage/atomic_file.h"
#include "numerics/text_lines.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// One key line: the key, where its value lives in the record (exactly one of
// number and flag is set) and the rule its value keeps, when there is one.
struct KeyField {
  const char* key;
  float ExperimentFile::*number;
  bool ExperimentFile::*flag;
  const ValueRule* rule = nullptr;
};

// The keys the reader applies, with the members they fill.
constexpr KeyField kKeys[] = {
    {"fBufferDensity", &ExperimentFile::bufferDensity, nullptr, &kBufferDensityRule},
    {"fBufferViscosity", &ExperimentFile::bufferViscosity, nullptr, &kBufferViscosityRule},
    {"VBAR", &ExperimentFile::vbar, nullptr},
    {"Meniscus", &ExperimentFile::meniscus, nullptr, &kPositionRule},
    {"Bottom", &ExperimentFile::bottom, nullptr, &kPositionRule},
    {"MAXMENISCUS", &ExperimentFile::maxMeniscus, nullptr, &kPositionRule},
    {"MINMENISCUS", &ExperimentFile::minMeniscus, nullptr, &kPositionRule},
    {"MAXBOTTOM", &ExperimentFile::maxBottom, nullptr, &kPositionRule},
    {"MINBOTTOM", &ExperimentFile::minBottom, nullptr, &kPositionRule},
    {"FitLeftLim", &ExperimentFile::fitLeftLimit, nullptr, &kPositionRule},
    {"FitRightLim", &ExperimentFile::fitRightLimit, nullptr, &kPositionRule},
    {"WeightExperiment", &ExperimentFile::weight, nullptr},
    {"ExperimentalNoise", &ExperimentFile::noise, nullptr},
    {"blocalFitTimeIndepNoise", nullptr, &ExperimentFile::fitTINoise},
    {"blocalFitRINoise", nullptr, &ExperimentFile::fitRINoise},
    {"blocalAutoVaryBaseline", nullptr, &ExperimentFile::varyBaseline},
    {"blocalVaryBottom", nullptr, &ExperimentFile::varyBottom},
    {"blocalVaryMeniscus", nullptr, &ExperimentFile::varyMeniscus},
    {"xBaseline", &ExperimentFile::baseline, nullptr},
    {"xExtinctionCoeffA", &ExperimentFile::extinctionA, nullptr},
    {"xExtinctionCoeffB", &ExperimentFile::extinctionB, nullptr},
    {"xExtinctionCoeffC", &ExperimentFile::extinctionC, nullptr},
    {"global VBAR20", &ExperimentFile::vbar20, nullptr},
    {"global HYDRATION", &ExperimentFile::hydration, nullptr},
    {"pathlength", &ExperimentFile::pathLength, nullptr},
    {"Temperature", &ExperimentFile::temperature, nullptr, &kTemperatureRule},
};

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
  auto f = [&t](const char* key, double v) { t += Format("%f (%s)\n", v, key); };
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
  t += "1.00000 (xConcentrationFactor)\n";
  f("xExtinctionCoeffA", xp.extinctionA);
  d("bVaryExtinctionCoeffA", 0);
  f("xExtinctionCoeffB", xp.extinctionB);
  d("bVaryExtinctionCoeffB", 0);
  d("Centerpiece", 2);
  for (int k = 1; k <= 4; ++k) t += Format("1.000000e-6 (pLocalConcentrations[%d])\n", k);
  d("NFILES", count);
  t += "0 (ppMultiLocalConcentrations)\n";
  f("global VBAR20", xp.vbar20);
  f("global HYDRATION", xp.hydration);
  f("pathlength", xp.pathLength);
  t += Format("%d (rotor type: ", 8) + " EIGHTHOLE)\n";
  d("correct for rotor stretch in TI noise", 0);
  d("correct for rotor stretch in mass balance", 0);
  d("sets of extra parameters follow", 3);
  for (int k = 1; k <= 3; ++k) t += Format("0.000000e+00 (pLocalExtraConcs[%d])\n", k);
  for (int file = 1; file <= count; ++file)
    for (int k = 1; k <= 3; ++k) t += Format("0.000000e+00 (ppMultiLocalExtraConcs[%d][%d])\n", file, k);
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
  if (xp.temperature < 0.0f)
    t += "-1 (Temperature)\n";
  else
    f("Temperature", xp.temperature);
  return t;
}

bool WriteXpFile(const std::string& path, const ExperimentFile& xp, std::string* error) {
  return WriteTextFileAtomically(path, FormatXpFile(xp), error);
}

bool LoadXpFile(const std::string& path, ExperimentFile* out, std::string* error) {
  auto fail = [error, &path](const std::string& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  std::string text, why;
  if (!ReadPlainTextFile(path, &text, &why)) return fail(why);
  std::istringstream in(text);
  std::string line;
  ExperimentFile xp;

  // Type line: a number followed by "(ExperimentType: ...)".
  if (!ReadTextLine(in, &line) || line.find("ExperimentType") == std::string::npos)
    return fail("no experiment type");
  bool complete = false;
  const std::string typeWord = line.substr(0, line.find(' '));
  const double type = ParseNumberPrefix(typeWord, &complete);
  if (!complete) return fail("no experiment type");
  xp.type = TruncateToInt(type);
  if (!ReadTextLine(in, &line)) return fail("no file list");  // the comment line
  if (!ReadTextLine(in, &line) || !ParseFileList(line, &xp.directory, &xp.files))
    return fail("no file list");
  if (xp.files.empty()) return fail("lists no file");

  // "<value> (<key>)" lines; the key runs from the first '(' to the last ')'.
  int lineNumber = 3;
  int meniscusLine = 0, bottomLine = 0;
  while (ReadTextLine(in, &line)) {
    ++lineNumber;
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    const std::string key = line.substr(open + 1, close - open - 1);
    for (const KeyField& k : kKeys) {
      if (key != k.key) continue;
      std::istringstream words(line.substr(0, open));
      std::string word, more;
      words >> word;
      // The value is one number as a whole: "1 2" is none.
      const double v = ParseNumberPrefix(word, &complete);
      if (word.empty() || !complete || (words >> more))
        return fail(Format("line %d holds no number for %s", lineNumber, key.c_str()));
      if (!std::isfinite(static_cast<float>(v)))
        return fail(Format("line %d holds a number out of range (beyond 3.4e38) for %s", lineNumber,
                           key.c_str()));
      if (k.rule && !k.rule->Holds(v))
        return fail(Format("line %d holds ", lineNumber) + k.rule->Named(v) + " as " + key + ", outside " +
                    k.rule->Range());
      if (k.number == &ExperimentFile::meniscus) meniscusLine = lineNumber;
      if (k.number == &ExperimentFile::bottom) bottomLine = lineNumber;
      if (k.number)
        xp.*(k.number) = static_cast<float>(v);
      else
        xp.*(k.flag) = v != 0.0;
      break;
    }
  }
  // A cell whose meniscus lies at or beyond its bottom (0: not given).
  if (xp.meniscus > 0.0f && xp.bottom > 0.0f && xp.meniscus >= xp.bottom)
    return fail(Format("lines %d and %d hold the meniscus %g cm, which must lie below the bottom %g cm",
                       std::min(meniscusLine, bottomLine), std::max(meniscusLine, bottomLine),
                       static_cast<double>(xp.meniscus), static_cast<double>(xp.bottom)));
  *out = std::move(xp);
  return true;
}

}  // namespace tarmic
