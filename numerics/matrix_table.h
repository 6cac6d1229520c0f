// Numeric tables as plain text: one-based float and double matrices written one
// text line per matrix row (or per column), and read back into one-based float
// matrices.
//
// Format: every value is written as a tab and its round-trip text
// (RoundTripText, text/number_token.h: it reads back as the value the matrix
// holds, 1e-07 as well as 550.5) and a newline follows the last value of a line,
// so each line starts with a tab. Readers take
// one record per non-blank line: the first nColumns fields of the line, separated
// by white space, each one number as a whole (text/number_token.h: "5abc",
// "1,5", "0x10", "nan", "1e999" are none); fields after them are not read. Blank
// lines (anywhere, also at the end) are skipped. A line with fewer than nColumns
// numbers or a field that is no number, or a file without any record, makes the
// whole read fail.
//
// Failures are reported in the error box without ending the command:
// "\n\aAttention: could not open %s" when the file cannot be opened or created
// (with the reason on a line of its own), "\n\aAttention: the table %s is
// refused" when a record is no line of numbers (with the line and why on a line of
// its own: "line 3 holds 1 of its 2 numbers") or the file holds none ("it holds no
// line of numbers"), "\n\aAttention: could not read from %s" when reading fails,
// and "\n\aAttention: could not write to %s" when writing fails.
#pragma once

namespace tarmic {

// One line per matrix row i = rowLow..rowHigh with m[i][colLow..colHigh]. An empty
// row range writes an empty file; an empty column range writes nothing for a row.
bool WriteMatrixTable(const float* const* m, int rowLow, int rowHigh, int colLow, int colHigh,
                      const char* fileName);
bool WriteDMatrixTable(const double* const* m, int rowLow, int rowHigh, int colLow, int colHigh,
                       const char* fileName);
// One line per matrix column j = colLow..colHigh with m[rowLow..rowHigh][j].
bool WriteMatrixTableTransposed(const float* const* m, int rowLow, int rowHigh, int colLow,
                                int colHigh, const char* fileName);
bool WriteDMatrixTableTransposed(const double* const* m, int rowLow, int rowHigh, int colLow,
                                 int colHigh, const char* fileName);

// Reads the table into matrix(1, *nLines, 1, nColumns): m[i][j] = j-th number of
// record i. On failure the result is null and *nLines 0. The caller releases the
// matrix with free_matrix and the same bounds.
float** ReadMatrixTable(const char* fileName, int nColumns, int* nLines);
// As ReadMatrixTable, transposed: matrix(1, nColumns, 1, *nLines) with
// m[j][i] = j-th number of record i.
float** ReadMatrixTableByColumns(const char* fileName, int nColumns, int* nLines);

}  // namespace tarmic
