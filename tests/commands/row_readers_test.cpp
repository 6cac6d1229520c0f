// Every reader of rows of numbers, found in the sources, and one sweep per rule
// over all of them: a row with a value missing or one too many is refused with its
// file's line and text wherever the row stands (inside the data, the last row,
// line 2), and a flag or whole number written as a fraction is refused by its text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands/power_law_calibration.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_prior.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"
#include "platform/system.h"
#include "scandata/dls_ascii_import.h"
#include "scandata/dls_file.h"
#include "scandata/scan_loading.h"
#include "scandata/experiment_file.h"
#include "scandata/file_list.h"
#include "scandata/scan_file.h"
#include "propagators/solvent_settings.h"
#include "tests/support/production_sources.h"

namespace tarmic {
namespace {

// --- the census of readers ---

// The doors into the number scanner (text/number_token.h) and its wrappers for a
// line that is one number or a typed text (numerics/number_input.h).
const std::regex kRowDoor(R"(\bScanTableRow\s*\()");
const std::regex kSplitter(R"(\bFieldCursor\b)");
const std::regex kFieldDoor(
    R"(\b(ScanNumber|ScanWholeNumber|ScanIntNumber|ScanFlag|ScanField|NumberOf|WholeNumberOf|ParseFloatText|IsValidFloat|IsValidPositiveFloat|FileLineNumber|NumberLinesOf|NumberLinesInPlace)\s*\()");

// The sources that read a number from a field that is not a row of a table: each
// field is a whole line, the text after a key, a typed text or a word the system
// writes, which holds one number or none. Any other source that scans a number
// reads it from a row, through ScanTableRow, which takes the row whole.
const std::map<std::string, const char*> kFieldDoors = {
    {"app/preferences.cpp", "the preference file: one number per line"},
    {"batch/batch_manifest.cpp", "the size of a file in a result set's manifest, a field its line's key fixes"},
    {"batch/batch_output.cpp", "the process id in the name of a run's temporary folder"},
    {"batch/batch_damaged_scans.cpp", "the right fitting limit of the parameter file: one number on its own line"},
    {"batch/batch_values.cpp", "the value of a command-line option or a --set value (the batch's one door)"},
    {"commands/buffer_dialog.cpp", "a dialog field"},
    {"commands/global_equilibrium_commands.cpp", "dialog fields, judged first by FieldRefusal"},
    {"commands/load_commands.cpp", "the digit that ends a file's extension"},
    {"commands/prior_dialog.cpp", "dialog fields"},
    {"distributions/distribution_transforms.cpp", "a grid file: one number per line"},
    {"examples/make_example.cpp", "the radius that begins a row the generator wrote itself"},
    {"modelcalc/fit_persistence.cpp", "the parameter file: one number per line"},
    {"modelfit/lamm_settings.cpp", "the Lamm settings file: one number per line"},
    {"modelfit/transfer_fields.cpp", "dialog fields"},
    {"numerics/number_input.cpp", "the checks of a typed text and of a line that is one number"},
    {"platform/system.cpp", "a count the system writes after its key"},
    {"prompts/number_prompt.cpp", "a typed text"},
    {"propagators/solvent_settings.cpp", "a coefficient file: the first word of a line, the rest a comment"},
    {"scandata/dls_ascii_import.cpp", "a field of a row read by ScanTableRow, where \"nan\" marks a point left out"},
    {"scandata/dls_file.cpp", "the lag time the file's text of it gives back"},
    {"scandata/experiment_file.cpp", "the value before a key, the type before its name"},
    {"scandata/file_list.cpp", "the count after the header's key"},
    {"scandata/program_files.cpp", "whether every word of a line is a number (a file's kind; no value is read)"},
    {"scandata/scan_file.cpp", "the meniscus note and the detector keys of line 1"},
    {"storage/atomic_file.cpp", "the process id and start time of an owner record"},
    {"storage/file_system.cpp", "the start time and boot time the system writes"},
    {"storage/journal_text.cpp", "the counts of a save journal's record"},
    {"storage/save_journal.cpp", "the process id and start time of a journal's owner"},
};
// The sources that split a text into fields themselves: a list of any length.
const std::map<std::string, const char*> kListDoors = {
    {"prompts/number_prompt.cpp", "a typed list of numbers, as many as the user types"},
};

std::size_t Count(const std::string& code, const std::regex& door) {
  return static_cast<std::size_t>(std::distance(std::sregex_iterator(code.begin(), code.end(), door),
                                                std::sregex_iterator()));
}

// The row readers: the sources that call ScanTableRow, and how often.
std::map<std::string, std::size_t> RowReaders() {
  std::map<std::string, std::size_t> readers;
  for (const auto& [file, code] : testing::ProductionSources())
    if (!file.starts_with("text/"))
      if (const std::size_t n = Count(code, kRowDoor)) readers[file] = n;
  return readers;
}

TEST(RowReaderCensus, EveryNumberIsReadThroughARowOrAListedFieldDoor) {
  std::set<std::string> fieldDoors, listDoors;
  std::size_t fieldCalls = 0;
  for (const auto& [file, code] : testing::ProductionSources()) {
    if (file.starts_with("text/") || file.ends_with(".h")) continue;
    if (const std::size_t n = Count(code, kFieldDoor)) {
      fieldCalls += n;
      fieldDoors.insert(file);
      EXPECT_TRUE(kFieldDoors.count(file))
          << file << " scans " << n << " number(s) outside a row: read its rows through ScanTableRow "
          << "(text/number_token.h), which takes only a row of its exact count, or list it here with why "
          << "its field is a whole one";
    }
    if (Count(code, kSplitter)) {
      listDoors.insert(file);
      EXPECT_TRUE(kListDoors.count(file)) << file << " splits a line into fields itself: read it through ScanTableRow";
    }
  }
  for (const auto& [file, why] : kFieldDoors) EXPECT_TRUE(fieldDoors.count(file)) << file << " is listed but scans nothing";
  for (const auto& [file, why] : kListDoors) EXPECT_TRUE(listDoors.count(file)) << file << " is listed but splits nothing";
  std::size_t rowCalls = 0;
  for (const auto& [file, n] : RowReaders()) rowCalls += n;
  std::printf("row reader census: %zu sources read rows (%zu calls), %zu read single fields (%zu calls), "
              "%zu split a list\n",
              RowReaders().size(), rowCalls, fieldDoors.size(), fieldCalls, listDoors.size());
}

// --- the readers, each with a file it reads ---

// A folder for each test: the tests run at once as processes of their own.
std::string OutputDir() {
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/row_readers/" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::filesystem::create_directories(dir);
  return dir;
}

std::string Write(const std::string& name, const std::vector<std::string>& lines, bool lastLineEnd = true) {
  const std::string path = OutputDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::size_t k = 0; k < lines.size(); ++k) out << lines[k] << (k + 1 < lines.size() || lastLineEnd ? "\n" : "");
  return path;
}

// Empty when the reader took the file, else why not.
using Read = std::function<std::string(const std::string& path)>;

// What a scan reader took: its points and the last point's values, or why not.
std::string ScanDigest(const std::string& path, bool electrophoresis) {
  ScanFile().bElectrophoresisMode = electrophoresis;
  ScanInfo info;
  ScanDataKind kind;
  int n = 0;
  float *r = nullptr, *y = nullptr, *third = nullptr;
  bool mark = false;
  std::string error;
  std::vector<std::string> notes;
  const int ok = ReadScanFileAndKind(path.c_str(), ScanDataKind(), &kind, &info, &n, &r, &y, &third, &mark, 0.0f,
                                     &error, &notes);
  ScanFile().bElectrophoresisMode = false;
  if (!ok) return "refused: " + error;
  std::string digest = std::to_string(n) + " points, last " + std::to_string(r[n]) + " " + std::to_string(y[n]) +
                       (third ? " " + std::to_string(third[n]) : std::string());
  free_vector(r, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);
  return digest;
}

std::string ReadScan(const std::string& path, bool electrophoresis) {
  const std::string digest = ScanDigest(path, electrophoresis);
  if (!digest.starts_with("refused: ")) return {};
  return digest.size() > 9 ? digest.substr(9) : "refused";
}

std::string ReadDls(const std::string& path) {
  DLSInfo record;
  int n = 0;
  float *x = nullptr, *y = nullptr;
  std::string why;
  const int ok = ReadDLSDatFile(path.c_str(), &record, &n, &x, &y, false, &why);
  if (ok) {
    free_vector(x, 1, n);
    free_vector(y, 1, n);
  }
  return ok ? std::string() : why;
}

// What a message box said while the reader ran (its refusals go there).
std::string Boxed(const std::function<bool()>& read) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK);
  const bool ok = read();
  std::string said;
  for (const auto& entry : backend->Transcript()) said += entry.text;
  return ok ? std::string() : said.empty() ? "refused" : said;
}

DLSInfo EnteredRecord() {
  DLSInfo record;
  record.temperatureC = 20.0f;
  record.elapsedTime = 100.0;
  record.meanCountRate = 150.0f;
  record.refractiveIndex = 1.33f;
  record.viscosity = 0.01f;
  record.scatteringAngle = 90.0f;
  record.laserWavelength = 6.33e-7f;
  return record;
}

struct RowReader {
  std::string source;  // the source whose ScanTableRow calls this reader covers
  std::string name;
  std::vector<std::string> lines;  // a file the reader takes
  std::vector<std::size_t> rows;   // the rows the sweep damages (0-based lines)
  Read read;
};

std::vector<std::string> ScanLines(const std::string& line1, const std::string& line2, int columns) {
  std::vector<std::string> lines = {line1, line2};
  for (int i = 0; i < 6; ++i) {
    std::string row = "5.9" + std::to_string(i) + "00  0." + std::to_string(i + 1);
    if (columns == 3) row += "  0.01";
    lines.push_back(row);
  }
  return lines;
}

std::vector<RowReader> Readers() {
  const Read scan = [](const std::string& p) { return ReadScan(p, false); };
  const Read electrophoresis = [](const std::string& p) { return ReadScan(p, true); };
  std::vector<RowReader> readers = {
      {"scandata/scan_file.cpp", "absorbance", ScanLines("scan", "R 2 20.0 40000 1000 1.6000e+10 280 1", 3), {1, 4, 7}, scan},
      {"scandata/scan_file.cpp", "intensity", ScanLines("scan", "I 2 20.0 40000 1000 1.6000e+10 280 1", 3), {1, 4, 7}, scan},
      {"scandata/scan_file.cpp", "interference", ScanLines("scan", "P 2 20.0 40000 1000 1.6000e+10 675 1", 2), {1, 4, 7}, scan},
      {"scandata/scan_file.cpp", "fluorescence",
       ScanLines("scan Voltage: 550 Gain: 8 Range: 3", "F 2 20.0 40000 1000 1.6000e+10 488 1", 3), {1, 4, 7}, scan},
      {"scandata/scan_file.cpp", "wavelength", ScanLines("scan", "W 2 20.0 40000 1000 1.6000e+10 280.500 1", 3), {1, 4, 7}, scan},
      {"scandata/scan_file.cpp", "electrophoresis", ScanLines("run", "R 0 1200 280 1 0", 3), {1, 4, 7}, electrophoresis},
      {"scandata/dls_file.cpp", "dlsdat",
       {"t", "20 100 150 1.33 0.01 90 6.33e-7", "1e-6 0.9", "1e-5 0.5", "1e-4 0.2"}, {1, 3, 4},
       ReadDls},
      {"scandata/dls_ascii_import.cpp", "two-column DLS table", {"1e-6 0.9", "1e-5 0.5", "1e-4 0.2"}, {1, 2},
       [](const std::string& p) {
         std::string why, note;
         const bool ok = ConvertTwoColumnDLS(p.c_str(), (p + ".dlsdat").c_str(), EnteredRecord(), AsciiCorrelation::Field,
                                             &why, &note);
         return ok ? std::string() : why;
       }},
      {"numerics/matrix_table.cpp", "matrix table", {"1 2 3", "4 5 6", "7 8 9"}, {1, 2},
       [](const std::string& p) {
         return Boxed([&] {
           int n = 0;
           float** m = ReadMatrixTable(p.c_str(), 3, &n);
           if (m) free_matrix(m, 1, n, 1, 3);
           return m != nullptr;
         });
       }},
      {"numerics/ccurve.cpp", "curve", {"1 2", "3 4", "5 6"}, {1, 2},
       [](const std::string& p) {
         CCurve c;
         std::string failure;
         return c.ReadFromFile(p.c_str(), 1, 2, &failure) ? std::string() : failure;
       }},
      {"numerics/cvector.cpp", "vector", {"1", "3", "5"}, {1, 2},
       [](const std::string& p) {
         CVector v;
         std::string failure;
         return v.ReadFromFile(p.c_str(), &failure) ? std::string() : failure;
       }},
      {"scandata/scan_loading.cpp", "distribution grid", {"0.5", "1.5", "2.5", "end 3"}, {0, 1, 2},
       [](const std::string& p) {
         std::vector<float> grid;
         std::string why;
         return ReadDistributionGrid(p, &grid, &why) ? std::string() : why;
       }},
      {"distributions/distribution_file.cpp", "saved distribution",
       {"# TARMIC distribution c(s)", "1\t0\t0\t0", "2\t0.5\t0\t0", "3\t0.2\t0\t0"}, {2, 3},
       [](const std::string& p) {
         // Without a model of its kind the rows are read, and no more.
         const std::string message = RestoreContiDistribution(p).message;
         return message.find("is not a saved distribution") != std::string::npos ? message : std::string();
       }},
      {"distributions/distribution_prior.cpp", "prior", {"1 1", "2 1", "3 1", "4 1", "5 1", "6 1"}, {2, 5},
       [](const std::string& p) {
         PriorTable table;
         std::string error;
         return ReadPriorFile(p, &table, &error) ? std::string() : error;
       }},
      {"commands/power_law_calibration.cpp", "power-law pairs", {"s M", "1.9 14000", "4.4 66000", "7 150000"}, {1, 3},
       [](const std::string& p) {
         std::vector<float> s, M;
         std::string why;
         return ReadSMPairs(p, &s, &M, &why) ? std::string() : why;
       }},
  };
  return readers;
}



// Readers whose files hold no rows of a table but lines of values, names or keys,
// for the sweep of cut files.
std::vector<RowReader> LineReaders() {
  ExperimentFile xp;
  xp.type = 1;
  xp.directory = "/data";
  xp.files = {"a.ra1", "b.ra1"};
  std::vector<std::string> xpLines;
  {
    std::istringstream in(FormatXpFile(xp));
    for (std::string line; std::getline(in, line);) xpLines.push_back(line);
  }
  return {
      {"scandata/experiment_file.cpp", "experiment file", xpLines, {}, [](const std::string& p) {
         ExperimentFile read;
         std::string error;
         return LoadXpFile(p, &read, &error) ? std::string() : error;
       }},
      {"propagators/solvent_settings.cpp", "coefficient file", {"1", "0.5", "250000"}, {}, [](const std::string& p) {
         std::vector<double> coef;
         std::string why;
         return ReadCoefficientFile(p, &coef, &why) ? std::string() : why;
       }},
      {"scandata/file_list.cpp", "scan list", {"newformat n=1", "/data", "a.ra1", "b.ra1", "c.ra10"}, {},
       [](const std::string& p) { return Boxed([&] { return ReadScanListFile(nullptr, p.c_str(), false); }); }},
  };
}

// Every reader, and every cut of its file inside the last line (the whole line
// without its line end included: "500" cut to "5" is a whole number, and a count of
// fields cannot tell): the file is refused, naming where it ends, or (a scan, whose
// reading leaves a cut row out with a note) read exactly as the file without that
// line. Never is a shortened number read.
TEST(RowReaders, AFileCutInsideItsLastLineIsRefusedOrReadWithoutIt) {
  std::vector<RowReader> readers = Readers();
  for (RowReader& r : LineReaders()) readers.push_back(std::move(r));
  int refused = 0, leftOut = 0;
  for (const RowReader& r : readers) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(r.read(Write("whole.txt", r.lines)), "") << "the reader takes the undamaged file";
    const bool scan = r.source == "scandata/scan_file.cpp";
    const bool electrophoresis = r.name == "electrophoresis";
    std::vector<std::string> before(r.lines.begin(), r.lines.end() - 1);
    const std::string withoutLast = scan ? ScanDigest(Write("before.txt", before), electrophoresis) : "";
    const std::string& last = r.lines.back();
    for (std::size_t k = 1; k <= last.size(); ++k) {
      if (last[k - 1] == ' ' || last[k - 1] == '\t') continue;  // the same words as the cut before it
      SCOPED_TRACE(last.substr(0, k));
      std::vector<std::string> lines = before;
      lines.push_back(last.substr(0, k));
      const std::string path = Write("cut.txt", lines, false);
      const std::string why = r.read(path);
      if (scan && why.empty()) {
        EXPECT_EQ(ScanDigest(path, electrophoresis), withoutLast) << "a cut row is read";
        ++leftOut;
        continue;
      }
      EXPECT_NE(why.find("ends inside line " + std::to_string(r.lines.size())), std::string::npos) << why;
      ++refused;
    }
  }
  std::printf("cut files: %zu readers, %d cuts refused, %d cut rows left out\n", readers.size(), refused, leftOut);
}

// No reader takes a last line without its line end as it stands but those whose
// files are not read for values; each stands here with its reason, so that a
// reader added later names the rule its format has (LastLine, numerics/text_lines.h).
TEST(RowReaderCensus, EveryReaderThatTakesALastLineAsItStandsIsListed) {
  const std::map<std::string, const char*> kAsItStands = {
      {"app/app_main.cpp", "the first line of the settings file is compared whole with the program's folder"},
      {"batch/batch_run.cpp", "the run's summary line is said again as it was written"},
      {"batch/batch_report.cpp", "texts shown in the report as they stand"},
      {"app/preferences.cpp", "\"tarmic.ini\": the last folder (a cut one is none the dialogs find) and the menu choice"},
      {"commands/distribution_range_tools.cpp", "the remembered path of the range table, written without a line end"},
      {"scandata/scan_file.cpp", "judges the bytes first, then leaves a cut row out (LastLine::kLeftOut)"},
  };
  const std::regex rule(R"(LastLine::kAsItStands)");
  std::set<std::string> found;
  for (const auto& [source, code] : testing::ProductionSources()) {
    // The door and its form for plain text, which reads as it stands to judge the
    // bytes first and then applies the caller's rule.
    if (source == "numerics/text_lines.cpp" || source == "numerics/text_lines.h" || source == "scandata/plausibility.cpp")
      continue;
    if (!std::regex_search(code, rule)) continue;
    found.insert(source);
    EXPECT_TRUE(kAsItStands.count(source)) << source << " reads a last line as it stands: name its format's reason";
  }
  for (const auto& [source, why] : kAsItStands) EXPECT_TRUE(found.count(source)) << source << ": take its row out";
}

TEST(RowReaderCensus, EveryRowReaderIsSwept) {
  std::set<std::string> swept;
  for (const RowReader& r : Readers()) swept.insert(r.source);
  for (const auto& [file, n] : RowReaders())
    EXPECT_TRUE(swept.count(file)) << file << " reads rows: add it to the sweep of row readers";
}

std::string Trimmed(std::string s) {
  s.erase(0, s.find_first_not_of(" \t"));
  s.erase(s.find_last_not_of(" \t") + 1);
  return s;
}

// Each reader takes its file; each damaged row (a word taken off its end, or two
// more words) refuses the file with the row's line and text, in the middle of the
// data as at their end.
TEST(RowReaders, ARowWithTooFewOrTooManyValuesIsRefusedWhereverItStands) {
  int cases = 0;
  for (const RowReader& r : Readers()) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(r.read(Write("whole.txt", r.lines)), "") << "the reader takes the undamaged file";
    for (const std::size_t row : r.rows) {
      const std::string& line = r.lines[row];
      std::vector<std::string> variants;
      if (line.find_first_of(" \t") != std::string::npos) variants.push_back(line.substr(0, line.find_last_of(" \t")));
      variants.push_back(line + " 1 1");
      for (const std::string& damaged : variants) {
        SCOPED_TRACE(damaged);
        std::vector<std::string> lines = r.lines;
        lines[row] = damaged;
        const std::string why = r.read(Write("damaged.txt", lines));
        const bool fewer = damaged.size() < line.size();
        EXPECT_NE(why.find("line " + std::to_string(row + 1) + (fewer ? " has too few values" : " has too many values")),
                  std::string::npos)
            << why;
        EXPECT_NE(why.find("\"" + Trimmed(damaged) + "\""), std::string::npos) << "the text read: " << why;
        ++cases;
      }
    }
  }
  std::printf("row readers: %zu readers, %d damaged rows refused\n", Readers().size(), cases);
}

// Flags and whole numbers are read by their text: a fraction is refused even where
// the value it is held as is whole ("2.9999999999999999" is the double 3), and a
// whole number beyond an int is refused naming the text, not a clamped value.
TEST(RowReaders, AFractionInAFlagOrAWholeNumberIsRefusedByItsText) {
  struct Field {
    const char* name;
    std::vector<std::string> lines;
    std::size_t line, word;  // the field: its line (0-based) and word
    Read read;
    const char* reason;
  };
  const Read scan = [](const std::string& p) { return ReadScan(p, false); };
  const Read electrophoresis = [](const std::string& p) { return ReadScan(p, true); };
  const std::vector<std::string> absorbance = ScanLines("scan", "R 2 20.0 40000 1000 1.6000e+10 280 1", 3);
  const Field fields[] = {
      {"field flag", {"t", "20 100 150 1.33 0.01 90 6.33e-7 1", "1e-6 0.9", "1e-5 0.5"}, 1, 7, ReadDls,
       "as the field flag, which is neither 0 nor 1"},
      {"cell", absorbance, 1, 1, scan, "as the cell, which is"},
      {"replicates", absorbance, 1, 7, scan, "as the replicates, which is"},
      {"electrophoresis replicates", ScanLines("run", "R 0 1200 280 1 0", 3), 1, 4, electrophoresis,
       "as the replicates, which is"},
  };
  for (const Field& f : fields) {
    SCOPED_TRACE(f.name);
    ASSERT_EQ(f.read(Write("whole.txt", f.lines)), "");
    for (const char* text : {"2.5", "0.5", "1e-30", "2.9999999999999999", "0.99999999999999999", "9999999999999999999"}) {
      SCOPED_TRACE(text);
      std::vector<std::string> lines = f.lines;
      std::vector<std::string> words;
      for (std::size_t at = 0, end; at < lines[f.line].size(); at = end + 1) {
        end = lines[f.line].find(' ', at);
        if (end == std::string::npos) end = lines[f.line].size();
        words.push_back(lines[f.line].substr(at, end - at));
      }
      words[f.word] = text;
      lines[f.line].clear();
      for (const std::string& w : words) lines[f.line] += (lines[f.line].empty() ? "" : " ") + w;
      const std::string why = f.read(Write("fraction.txt", lines));
      EXPECT_NE(why.find("line " + std::to_string(f.line + 1) + " holds \"" + text + "\" " + f.reason), std::string::npos)
          << why;
    }
  }
}

}  // namespace
}  // namespace tarmic
