#include "scandata/dls_ascii_import.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <vector>

#include "text/number_token.h"
#include "numerics/text_lines.h"
#include "scandata/dls_file.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// Whether a word names a value that is not finite ("nan", "inf", "-Infinity"):
// such points are left out, as some correlators write them for lags they did not
// reach.
bool IsNonFiniteWord(std::string word) {
  if (!word.empty() && (word[0] == '+' || word[0] == '-')) word.erase(0, 1);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "nan" || word == "inf" || word == "infinity";
}

// A table line: the lag time and the correlation, separated by ',' or ';' where
// the line holds one, by blanks otherwise (text/number_token.h). Each is read
// below, where a word written as not finite is taken as such.
constexpr RowField kPairFields[2] = {{nullptr, FieldKind::kWord}, {nullptr, FieldKind::kWord}};

}  // namespace

bool ConvertTwoColumnDLS(const char* source, const char* target, const DLSInfo& record,
                         AsciiCorrelation values, std::string* error, std::string* note) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!source || !target) return fail("no file name");
  // The program writes no file that it would refuse to read, nor one it would load
  // only with a note: the values were just entered and can be entered again.
  std::string recordNote;
  if (const std::string refusal = DLSRecordRefusal(record, &recordNote); !refusal.empty()) return fail(refusal);
  if (!recordNote.empty()) return fail(recordNote);
  // A pipe or a device is not opened; UTF-16 and binary files are said to be such.
  std::string text, why;
  if (!ReadPlainTextFile(source, LastLine::kRefused, &text, &why)) return fail(why);

  // The writer takes log10 of the lag time, as the data set holds it. Points whose
  // lag time is not positive, or whose values are written as not finite, are left
  // out; any other value must be a plausible lag time and correlation, with the lag
  // times increasing.
  std::vector<float> x(1, 0.0f), y(1, 0.0f);
  std::vector<float> readLogs;  // the abscissas the written file gives back
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  bool any = false;
  std::string nonFinite;  // the lines of points left out as not finite
  while (ReadTextLine(lines, &line)) {
    ++lineNumber;
    if (FieldCount(line, ",;") == 0) continue;
    any = true;
    const RowShape pair = ExactRow(kPairFields, ",;");
    double unused[2];
    std::string_view words[2];
    if (const RowScan row = ScanTableRow(line, pair, unused, words); !row)
      return fail(Format("line %d ", lineNumber) + RowFaultText(line, pair, row));
    double v[2] = {0.0, 0.0};
    bool finite = true;
    for (int k = 0; k < 2; ++k) {
      const std::string word(words[k]);
      // The lag time goes into the file as its logarithm; the correlation is
      // stored as a float, which must hold it (no underflow to 0).
      const NumberWidth width = k == 0 ? NumberWidth::kDouble : NumberWidth::kFloat;
      const NumberScan scan = ScanNumber(word, width);
      if (IsNonFiniteWord(word)) {
        finite = false;
      } else if (!scan) {
        return fail(Format("line %d ", lineNumber) + NumberFaultText(word, scan.fault, width));
      }
      v[k] = scan.value;
    }
    if (!finite) nonFinite += (nonFinite.empty() ? "" : ", ") + std::to_string(lineNumber);
    if (!finite || !(v[0] > 0.0)) continue;
    // Checked as the dlsdat file will give it back: lag times that the file's
    // eight digits no longer tell apart would make a file the loader refuses.
    float logLag = 0.0f, readBack = 0.0f;
    std::string refusal = LagTimeRefusal(v[0], x.size() > 1, x.size() > 1 ? x.back() : 0.0f, &logLag);
    if (refusal.empty())
      refusal = LagTimeRefusal(LagTimeAsWritten(logLag), readLogs.size() > 0,
                               readLogs.empty() ? 0.0f : readLogs.back(), &readBack);
    if (!refusal.empty()) return fail(Format("line %d: ", lineNumber) + refusal);
    if (!kSignalRule.Holds(v[1])) return fail(Format("line %d: ", lineNumber) + kSignalRule.IsOutside(v[1]));
    x.push_back(logLag);
    readLogs.push_back(readBack);
    y.push_back(static_cast<float>(v[1]));
  }
  if (!any) return fail("no table of two numbers per line (lag time, correlation)");
  const int n = static_cast<int>(x.size()) - 1;
  if (n < 2) return fail("fewer than 2 points with a positive lag time");

  if (note && !nonFinite.empty())
    *note = Format("%s: the points of line%s %s are not finite (nan or inf) and are left out",
                   source, nonFinite.find(',') == std::string::npos ? "" : "s", nonFinite.c_str());
  DLSInfo out = record;
  if (out.title.empty()) out.title = std::filesystem::path(source).filename().string();
  out.bFieldACF = values == AsciiCorrelation::Field;
  out.nDataPoints = n;
  // The values are written as they were read; the flag tells the loader their form.
  DlsFile().bDLSConvertOnWrite = false;
  return WriteDLSDatFromRecord(target, n, x.data(), y.data(), nullptr, out, error);
}

std::string DLSDatPathFor(const std::string& source) {
  std::filesystem::path p(source);
  if (p.extension() == ".dlsdat") {
    p.replace_extension();
    return p.string() + "_converted.dlsdat";
  }
  return p.replace_extension(".dlsdat").string();
}

}  // namespace tarmic
