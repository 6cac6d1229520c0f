// Tables of numbers as tab-separated text on the clipboard: one row per index, the
// x value first and then one value per column, each preceded by a tab, the row
// ended by a line feed. Numbers are written as a C++ stream writes them by default
// (six significant digits, "C" notation whatever the user's locale), which is what
// spreadsheet programs read when the text is pasted.
#pragma once

#include <string>

namespace tarmic {

class Window;

// The text of the table: rows first..last of x[] and of the columns. columns holds
// nColumns one-based arrays at columns[1..nColumns]; order[1..nColumns] names the
// column written at each place (null: columns in their own order). Empty when
// there is nothing to write (no x, no rows, or an index of order outside
// 1..nColumns or naming a missing column).
std::string FormatTable(const float* x, const float* const* columns, int first, int last,
                        int nColumns, const int* order);

// Puts that text on the clipboard; false when there was nothing to write or the
// clipboard refused it.
bool CopyTableToClipboard(Window* window, const float* x, const float* const* columns, int first,
                          int last, int nColumns, const int* order);

}  // namespace tarmic
