// Reading and writing the preference files.
#include "app/preferences.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

#include "storage/atomic_file.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "services/path_table.h"
#include "text/number_token.h"
#include "services/sounds.h"
#include "numerics/number_input.h"
#include "numerics/text_lines.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "plot/data_plots.h"
#include "scandata/data_set.h"
#include "scandata/plausibility.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"
#include "scandata/time_stamps.h"

namespace tarmic {

bool bDisclaimerAccepted = false;
bool bWizardMessages = true;
bool bRegMaxEnt = true;
bool bRegSecondDerivative = false;
bool bRegShowBoth = false;
bool bIntegRangesFromFile = false;
bool bMultiThreading = true;
int nThreads = 2;
bool bFitSimplex = true;
bool bFitAnnealing = false;
bool bFitMarquardt = false;
bool bSuppressBaselineCorrelation = true;
bool bAlwaysLoadG2 = false;
bool bFullCommandSet = false;

namespace {

// The line of "tarmic.ini" that keeps the choice of the full command set.
constexpr std::string_view kFullCommandSetKey = "FullCommandSet=";

int gLammThreadsFallback = 2;
int* gLammThreads = &gLammThreadsFallback;

// A failed write is reported once per command (a command may write the file more
// than once); the dispatcher re-arms the report before each command.
bool gWriteFailureReported = false;

// The settings files named as unreadable in this session.
std::set<std::string> gRefusedSettingsFiles;

// The lines of a settings file without their line ends; false when it cannot be
// read. One that is no regular file (a pipe would keep the start waiting) or no
// plain text is named once per session; the program's defaults stand in for it.
bool ReadTextLines(const std::string& path, std::vector<std::string>* lines) {
  std::string text, why;
  // "tarmic.ini" holds the last folder and the menu choice, written without a
  // final line end by earlier versions: a cut folder is one the dialogs do not
  // find. The preference file holds numbers, and a cut one is refused.
  const LastLine rule = path == szLastDirIni ? LastLine::kAsItStands : LastLine::kRefused;
  if (ReadPlainTextFile(path, rule, &text, &why)) {
    std::istringstream in(text);
    for (std::string line; ReadTextLine(in, &line);) lines->push_back(line);
    return true;
  }
  const bool unusable = why == kNotRegularFile || why.starts_with("the file is not plain text") ||
                        why.starts_with("it ends inside") || why.starts_with("it changed");
  if (unusable && gRefusedSettingsFiles.insert(path).second && HasBackend())
    GetBackend().MessageBox("the settings file " + path + " is not read: " + why, "PREFERENCES",
                            MB_OK | MB_ICONINFORMATION);
  return false;
}

// The lines of the file up to the last one that is not blank, each at its own
// place, with their numbers (none where a line is blank or holds no number as a
// whole).
std::vector<NumberLine> NumbersOf(const std::vector<std::string>& lines) {
  return NumberLinesInPlace(lines, PreferenceEntries());
}

// The reason is the system's ("<path>: No space left on device"), so that a full
// disk is not taken for a missing directory.
void ReportWriteFailure(TXLAWindow* window, const std::string& reason) {
  if (gWriteFailureReported) return;
  gWriteFailureReported = true;
  PlayInfoSound();
  if (!HasBackend()) return;
  std::string text = "could not write to disk into directory " + szParamsIni +
                     " \nPlease generate directory or make write-accessible";
  if (!reason.empty()) text += "\n" + reason;
  if (window) window->bModalBoxOpen = true;
  GetBackend().MessageBox(text, "ERROR", MB_OK | MB_ICONSTOP);
  if (window) window->bModalBoxOpen = false;
}

// Writes text as the whole file; false (with the reason in *error) when it could
// not be written completely.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string* error = nullptr) {
  if (path.empty()) return false;
  return WriteTextFileAtomically(path, text, error);
}

// The lines of the file as this program last read or wrote them (empty: unknown).
// A whole-file write replaces only the lines whose settings changed since, so that
// what another running program saved in the others meanwhile stays.
std::vector<std::string> gKnownLines;

// The 19 lines of the file for the current settings, without line ends.
std::vector<std::string> PreferenceLines();

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// "tarmic.ini" as lines: the directory line without a line end (as it always was
// written), the lines after it each on a line of its own.
std::string JoinIniLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t k = 0; k < lines.size(); ++k) text += (k > 0 ? "\n" : "") + lines[k];
  return text;
}

bool AskYesNo(TXLAWindow* window, const char* question) {
  if (!HasBackend()) return false;
  if (window) window->bModalBoxOpen = true;
  const int answer =
      GetBackend().MessageBox(question, "SET PREFERENCE", MB_YESNO | MB_ICONQUESTION);
  if (window) window->bModalBoxOpen = false;
  return answer == IDYES;
}

// A thread count read from the file (within its row: 0 to 256): its integer part,
// at least 1.
int ThreadCount(double value) { return std::max(1, static_cast<int>(value)); }

const char* Switch(bool on) { return on ? "1\n" : "0\n"; }

}  // namespace

int& LammThreadCount() { return *gLammThreads; }

void BindLammThreadCount(int* count) {
  if (count) {
    *count = *gLammThreads;
    gLammThreads = count;
  } else {
    gLammThreadsFallback = *gLammThreads;
    gLammThreads = &gLammThreadsFallback;
  }
}

int EncodeTimeStampThreshold(double threshold) {
  const double units = std::round((threshold - 1.0) * 100000.0);
  const double limit = static_cast<double>(std::numeric_limits<int>::max());
  return static_cast<int>(std::clamp(units, -limit, limit));
}

double DecodeTimeStampThreshold(double value) { return 1.0 + value / 100000.0; }

int LoadPreferences(TXLAWindow* window) {
  std::vector<std::string> lines;
  if (szParamsIni.empty() || !ReadTextLines(szParamsIni, &lines)) return 0;
  const std::vector<NumberLine> numbers = NumbersOf(lines);
  if (std::none_of(numbers.begin(), numbers.end(), [](const NumberLine& l) { return l.value.has_value(); }))
    return 0;

  bool rewrite = false;
  // Lines that hold no number, or a value outside its row of the table of valid
  // values: each takes its default alone (the lines after it keep their places),
  // and one note names them (the file is left as it is).
  std::string refused;
  auto missing = [&](int index) { return static_cast<std::size_t>(index) >= numbers.size(); };
  // The value of a line, or nothing when the file ends before it (the file is
  // then written anew) or the value is refused.
  auto line = [&](int index, double* value) {
    if (missing(index)) {
      rewrite = true;
      return false;
    }
    const NumberLine& l = numbers[static_cast<std::size_t>(index)];
    const std::string why = l.value ? EntryRefusal(EntryOf(PreferenceEntries(), index), *l.value) : std::string();
    if (l.value && why.empty()) {
      *value = *l.value;
      return true;
    }
    if (!refused.empty()) refused += "\n";
    refused += l.value ? Format("%s, line %zu: %s", szParamsIni.c_str(), l.line, why.c_str())
                       : szParamsIni + ", " + NoNumberText(l.line, lines[l.line - 1], LineKindOf(EntryOf(PreferenceEntries(), index)));
    refused += "; the default is used";
    return false;
  };
  double v = 0.0;

  if (line(kPrefDisclaimer, &v) && v == 1.0) bDisclaimerAccepted = true;
  // A missing radial step alone does not ask for a rewrite.
  RadialGrid().fRadialStep = kFinestRadialStep;
  if (static_cast<std::size_t>(kPrefRadialStep) < numbers.size() && line(kPrefRadialStep, &v))
    RadialGrid().fRadialStep = static_cast<float>(v);
  // Missing, these two are asked; refused, they take their defaults (off).
  if (line(kPrefUpdateBitmap, &v)) {
    DataPlots().bUpdateResidualBitmapDuringFit = v > 0;
  } else {
    DataPlots().bUpdateResidualBitmapDuringFit =
        missing(kPrefUpdateBitmap) && AskYesNo(window, "update residuals bitmap during fit?");
  }
  if (line(kPrefUpdateResiduals, &v)) {
    DataPlots().bUpdateResidualPlotDuringFit = v > 0;
  } else {
    DataPlots().bUpdateResidualPlotDuringFit =
        missing(kPrefUpdateResiduals) && AskYesNo(window, "update residuals plot during fit?");
  }
  DataPlots().bUpdateDataPlotDuringFit = line(kPrefUpdateData, &v) ? v > 0 : false;
  DataPlots().bUpdateDistributionDuringFit = line(kPrefUpdateDistribution, &v) ? v > 0 : false;
  bPlaySounds = line(kPrefSounds, &v) ? v > 0 : false;
  DataPlots().bColorScansByTime = line(kPrefScanColorByTime, &v) ? v > 0 : true;
  bWizardMessages = line(kPrefWizardMessages, &v) ? v > 0 : true;
  if (line(kPrefRegularisation, &v)) {
    if (v == 1.0 || v == 2.0 || v == 3.0) {
      bRegMaxEnt = v == 1.0;
      bRegSecondDerivative = v == 2.0;
      bRegShowBoth = v == 3.0;
    }
  }
  // The integration ranges themselves are read by the distribution tools when
  // they use them.
  bIntegRangesFromFile = line(kPrefIntegRangesFromFile, &v) ? v > 0 : false;
  if (line(kPrefThreads, &v)) {
    bMultiThreading = v > 0;
    nThreads = v > 0 ? ThreadCount(v) : 1;
  } else {
    bMultiThreading = true;
    nThreads = 2;
  }
  if (line(kPrefFitAlgorithm, &v)) {
    if (v == 1.0 || v == 2.0 || v == 3.0) {
      const bool simplex = v == 1.0, annealing = v == 2.0, marquardt = v == 3.0;
      if (simplex != bFitSimplex || annealing != bFitAnnealing || marquardt != bFitMarquardt) {
        rewrite = true;
      }
      bFitSimplex = simplex;
      bFitAnnealing = annealing;
      bFitMarquardt = marquardt;
    }
  }
  bSuppressBaselineCorrelation = line(kPrefSuppressBaseline, &v) ? v > 0 : true;
  if (line(kPrefLammThreads, &v)) {
    LammThreadCount() = v > 0 ? ThreadCount(v) : 1;
  } else {
    LammThreadCount() = 2;
  }
  if (line(kPrefFitUpdateInterval, &v)) {
    DataPlots().fMaxUpdateInterval = v > 0 ? static_cast<float>(v) : 1.0f;
  } else {
    DataPlots().fMaxUpdateInterval = 1.0f;
  }
  bAlwaysLoadG2 = line(kPrefAlwaysLoadG2, &v) ? v > 0 : false;
  TimeStamps().bCheckTimeStamps = line(kPrefCheckTimeStamps, &v) ? v > 0 : true;
  if (line(kPrefTimeStampThreshold, &v)) TimeStamps().dTimeStampThreshold = DecodeTimeStampThreshold(v);
  if (!refused.empty() && HasBackend()) {
    if (window) window->bModalBoxOpen = true;
    GetBackend().MessageBox(refused, "PREFERENCES", MB_OK | MB_ICONINFORMATION);
    if (window) window->bModalBoxOpen = false;
  }

  gKnownLines.clear();
  if (rewrite) {
    PlayOkSound();
    WritePreferences(window);
  } else {
    gKnownLines = PreferenceLines();
  }
  return 1;
}

namespace {

std::vector<std::string> PreferenceLines() {
  char buf[64];
  std::string text;
  text += Switch(bDisclaimerAccepted);
  text += RoundTripText(RadialGrid().fRadialStep) + "\n";
  text += Switch(DataPlots().bUpdateResidualBitmapDuringFit);
  text += Switch(DataPlots().bUpdateResidualPlotDuringFit);
  text += Switch(DataPlots().bUpdateDataPlotDuringFit);
  text += Switch(DataPlots().bUpdateDistributionDuringFit);
  text += Switch(bPlaySounds);
  text += Switch(DataPlots().bColorScansByTime);
  text += Switch(bWizardMessages);
  text += bRegMaxEnt ? "1\n" : bRegSecondDerivative ? "2\n" : "3\n";
  text += Switch(bIntegRangesFromFile);
  std::snprintf(buf, sizeof buf, "%d\n", bMultiThreading ? nThreads : 0);
  text += buf;
  text += bFitAnnealing ? "2\n" : bFitMarquardt ? "3\n" : "1\n";
  text += Switch(bSuppressBaselineCorrelation);
  std::snprintf(buf, sizeof buf, "%d\n", LammThreadCount());
  text += buf;
  text += RoundTripText(DataPlots().fMaxUpdateInterval) + "\n";
  text += Switch(bAlwaysLoadG2);
  text += Switch(TimeStamps().bCheckTimeStamps);
  std::snprintf(buf, sizeof buf, "%d\n", EncodeTimeStampThreshold(TimeStamps().dTimeStampThreshold));
  text += buf;

  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

int WritePreferences(TXLAWindow* window) {
  const std::vector<std::string> mine = PreferenceLines();
  std::string text = JoinLines(mine);
  std::vector<std::string> lines;
  if (gKnownLines.size() == mine.size() && ReadTextLines(szParamsIni, &lines)) {
    const std::vector<NumberLine> numbers = NumbersOf(lines);
    if (numbers.size() >= mine.size()) {
      for (std::size_t k = 0; k < mine.size(); ++k)
        if (mine[k] != gKnownLines[k]) lines[numbers[k].line - 1] = mine[k];
      text = JoinLines(lines);
    }
  }
  std::string error;
  if (!WriteWholeFile(szParamsIni, text, &error)) {
    ReportWriteFailure(window, error);
    return 0;
  }
  gKnownLines = mine;
  return 1;
}


int SavePreference(TXLAWindow* window, int line, int value) {
  // Only a line of the set, and only a value its row takes.
  if (line < 0 || line >= kPreferenceLines) return 0;
  if (!EntryRefusal(EntryOf(PreferenceEntries(), line), value).empty()) return 0;
  std::vector<std::string> lines;
  if (szParamsIni.empty() || !ReadTextLines(szParamsIni, &lines)) return 0;
  const std::vector<NumberLine> numbers = NumbersOf(lines);
  if (numbers.empty() || numbers.size() < static_cast<std::size_t>(line) + 1) return 0;
  lines[numbers[static_cast<std::size_t>(line)].line - 1] = std::to_string(value);
  std::string error;
  if (!WriteWholeFile(szParamsIni, JoinLines(lines), &error)) {
    ReportWriteFailure(window, error);
    return 0;
  }
  // The setting is stored: a later whole-file write need not write it again.
  const std::vector<std::string> mine = PreferenceLines();
  if (gKnownLines.size() == mine.size()) gKnownLines[static_cast<std::size_t>(line)] = mine[static_cast<std::size_t>(line)];
  return 1;
}

void SaveLastDataDirectory(TXLAWindow* /*window*/, const std::string& path) {
  if (path.empty() || szLastDirIni.empty()) return;
  std::error_code ec;
  std::string dir;
  if (std::filesystem::is_directory(path, ec)) {
    dir = path;
    if (dir.back() != '/') dir += '/';
  } else {
    dir = SplitPath(path).dir;
  }
  if (dir.empty()) return;
  // The lines after the first (the choice of the menu) stay as they are.
  std::vector<std::string> lines;
  ReadTextLines(szLastDirIni, &lines);
  if (lines.empty()) lines.emplace_back();
  lines.front() = dir;
  // "tarmic.ini" that cannot be written only means the dialogs start elsewhere.
  WriteWholeFile(szLastDirIni, JoinIniLines(lines));
}

void ReadLastDataDirectory(TXLAWindow* /*window*/, std::string& directory) {
  std::vector<std::string> lines;
  if (szLastDirIni.empty() || !ReadTextLines(szLastDirIni, &lines) || lines.empty()) return;
  std::string stored = lines.front();
  if (stored.empty()) return;
  std::error_code ec;
  if (stored.back() != '/' && std::filesystem::is_directory(stored, ec)) stored += '/';
  const std::string dir = stored.back() == '/' ? stored : SplitPath(stored).dir;
  if (!dir.empty()) directory = dir;
}

bool ReadFullCommandSetChoice() {
  std::vector<std::string> lines;
  if (szLastDirIni.empty() || !ReadTextLines(szLastDirIni, &lines)) return false;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    if (lines[k].starts_with(kFullCommandSetKey))
      return lines[k].substr(kFullCommandSetKey.size()) == "1";
  }
  return false;
}

int SaveFullCommandSetChoice(TXLAWindow* window, bool full) {
  if (szLastDirIni.empty()) return 0;
  std::vector<std::string> lines;
  ReadTextLines(szLastDirIni, &lines);
  // A file without a directory starts the dialogs in the current data directory.
  if (lines.empty()) lines.push_back(DataSet().szDataDirectory);
  // The directory line, the other lines as they are, the choice once, at the end.
  std::vector<std::string> kept = {lines.front()};
  for (std::size_t k = 1; k < lines.size(); ++k) {
    if (!lines[k].empty() && !lines[k].starts_with(kFullCommandSetKey)) kept.push_back(lines[k]);
  }
  kept.push_back(std::string(kFullCommandSetKey) + (full ? "1" : "0"));
  std::string error;
  if (!WriteWholeFile(szLastDirIni, JoinIniLines(kept), &error)) {
    ReportWriteFailure(window, error);
    return 0;
  }
  return 1;
}

void ReadLammEqParameterPreferences(TXLAWindow* window) {
  // The Lamm-equation settings belong to the model computation (shell hook).
  ReadInstalledLammPreferences(window);
}

void ArmPreferenceWriteReport() { gWriteFailureReported = false; }

void ResetPreferences() {
  bDisclaimerAccepted = false;
  bWizardMessages = true;
  bRegMaxEnt = true;
  bRegSecondDerivative = false;
  bRegShowBoth = false;
  bIntegRangesFromFile = false;
  bMultiThreading = true;
  nThreads = 2;
  bFitSimplex = true;
  bFitAnnealing = false;
  bFitMarquardt = false;
  bSuppressBaselineCorrelation = true;
  bAlwaysLoadG2 = false;
  bFullCommandSet = false;
  LammThreadCount() = 2;
  gWriteFailureReported = false;
  gKnownLines.clear();
  gRefusedSettingsFiles.clear();
}

}  // namespace tarmic
