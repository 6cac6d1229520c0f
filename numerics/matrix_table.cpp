// Numeric table files.
#include "numerics/matrix_table.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "storage/atomic_file.h"
#include "numerics/cvector.h"
#include "text/number_token.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/one_based.h"
#include "numerics/text_lines.h"
#include "platform/system.h"

namespace tarmic {

namespace {

// The message, with the system's reason of a failed write on its own line.
void ReportFileError(const char* format, const char* fileName, const std::string& reason = {}) {
  std::string text(format);
  const std::string::size_type at = text.find("%s");
  text.replace(at, 2, fileName);
  RaiseError(WithReason(text, reason));
}

// Writes lines k = outerLow..outerHigh, each with the values value(k, l) for
// l = innerLow..innerHigh, each a tab and its round-trip text in the precision of
// the matrix, and a newline after the last one.
template <typename Value>
bool WriteTable(int outerLow, int outerHigh, int innerLow, int innerHigh, const char* fileName,
                Value value) {
  if (fileName == nullptr) fileName = "";
  AtomicFile out(fileName);
  std::FILE* file = out.File();
  if (file == nullptr) {
    ReportFileError("\n\aAttention: could not open %s", fileName, out.Error());
    return false;
  }
  constexpr NumberWidth width =
      std::is_same_v<decltype(value(0, 0)), float> ? NumberWidth::kFloat : NumberWidth::kDouble;
  for (int k = outerLow; k <= outerHigh; ++k) {
    std::string line;
    for (int l = innerLow; l <= innerHigh; ++l) line += "\t" + RoundTripText(value(k, l), width);
    if (innerLow <= innerHigh) std::fputs((line + "\n").c_str(), file);
  }
  if (!out.Commit()) {
    ReportFileError("\n\aAttention: could not write to %s", fileName, out.Error());
    return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Reads line into out as one record of exactly count numbers. Empty when it is
// one, else why not ("has too few values (1 of 2): \"3\"", "has too many values
// (4 of 3): ...", "holds \"5abc\", which is not a number").
std::string ParseNumbers(const std::string& line, int count, std::vector<float>& out) {
  static constexpr RowField kNumber{nullptr, FieldKind::kFloat};
  const RowShape shape = UniformRow(kNumber, static_cast<std::size_t>(count));
  std::vector<double> values(static_cast<std::size_t>(count));
  const RowScan row = ScanTableRow(line, shape, values.data());
  if (!row) return RowFaultText(line, shape, row);
  for (double v : values) out.push_back(static_cast<float>(v));
  return {};
}

bool IsBlankLine(const std::string& line) {
  for (char c : line)
    if (!IsBlank(c)) return false;
  return true;
}

// Reads every non-blank line of the file as one record of nColumns numbers into
// values (record after record). False after the error message.
bool ReadRecords(const char* fileName, int nColumns, std::vector<float>& values, int* nRecords) {
  *nRecords = 0;
  if (fileName == nullptr) fileName = "";
  std::istringstream file;
  std::string why;
  if (!OpenTextFile(fileName, LastLine::kRefused, &file, &why)) {
    ReportFileError("\n\aAttention: could not open %s", fileName, why);
    return false;
  }
  std::string line;
  int number = 0;
  while (ReadTextLine(file, &line)) {
    ++number;
    if (IsBlankLine(line)) continue;
    if (const std::string why = ParseNumbers(line, nColumns, values); !why.empty()) {
      ReportFileError("\n\aAttention: the table %s is refused", fileName,
                      "line " + std::to_string(number) + " " + why);
      return false;
    }
    ++*nRecords;
  }
  if (file.bad()) {
    ReportFileError("\n\aAttention: could not read from %s", fileName, "it cannot be read");
    return false;
  }
  if (*nRecords == 0 || nColumns < 1) {
    ReportFileError("\n\aAttention: the table %s is refused", fileName, "it holds no line of numbers");
    return false;
  }
  return true;
}

}  // namespace

bool WriteMatrixTable(const float* const* m, int rowLow, int rowHigh, int colLow, int colHigh,
                      const char* fileName) {
  return WriteTable(rowLow, rowHigh, colLow, colHigh, fileName,
                    [m](int i, int j) { return m[i][j]; });
}

bool WriteDMatrixTable(const double* const* m, int rowLow, int rowHigh, int colLow, int colHigh,
                       const char* fileName) {
  return WriteTable(rowLow, rowHigh, colLow, colHigh, fileName,
                    [m](int i, int j) { return m[i][j]; });
}

bool WriteMatrixTableTransposed(const float* const* m, int rowLow, int rowHigh, int colLow,
                                int colHigh, const char* fileName) {
  return WriteTable(colLow, colHigh, rowLow, rowHigh, fileName,
                    [m](int j, int i) { return m[i][j]; });
}

bool WriteDMatrixTableTransposed(const double* const* m, int rowLow, int rowHigh, int colLow,
                                 int colHigh, const char* fileName) {
  return WriteTable(colLow, colHigh, rowLow, rowHigh, fileName,
                    [m](int j, int i) { return m[i][j]; });
}

float** ReadMatrixTable(const char* fileName, int nColumns, int* nLines) {
  std::vector<float> values;
  int n = 0;
  const bool ok = ReadRecords(fileName, nColumns, values, &n);
  if (nLines != nullptr) *nLines = ok ? n : 0;
  if (!ok) return nullptr;
  float** m = matrix(1, n, 1, nColumns);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= nColumns; ++j) m[i][j] = values[(i - 1) * nColumns + (j - 1)];
  return m;
}

float** ReadMatrixTableByColumns(const char* fileName, int nColumns, int* nLines) {
  std::vector<float> values;
  int n = 0;
  const bool ok = ReadRecords(fileName, nColumns, values, &n);
  if (nLines != nullptr) *nLines = ok ? n : 0;
  if (!ok) return nullptr;
  float** m = matrix(1, nColumns, 1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= nColumns; ++j) m[j][i] = values[(i - 1) * nColumns + (j - 1)];
  return m;
}

}  // namespace tarmic
