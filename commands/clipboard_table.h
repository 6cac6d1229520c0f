// Tables of numbers as tab-separated text on the clipboard: a header row naming the
// columns, then one row per index, the x value first and then one value per
// column, each preceded by a tab, every row ended by a line feed. Numbers are
// written as a C++ stream writes them by default (six significant digits, "C"
// notation whatever the user's locale), which is what spreadsheet programs read
// when the text is pasted.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace tarmic {

class Window;

// The names of a table's columns as its header row: tab-separated, ended by a line
// feed; empty for no names.
std::string TableHeader(const std::vector<std::string>& names);

// A stream for the numbers of a table: the "C" locale and the default format.
std::ostringstream TableStream();

// The text of the table: the header row of names (none when empty: x first, then
// the columns in the order written), then rows first..last of x[] and of the
// columns. columns holds nColumns one-based arrays at columns[1..nColumns];
// order[1..nColumns] names the column written at each place (null: columns in
// their own order). Empty when there is nothing to write (no x, no rows, or an
// index of order outside 1..nColumns or naming a missing column).
std::string FormatTable(const float* x, const float* const* columns, int first, int last,
                        int nColumns, const int* order, const std::vector<std::string>& names = {});

// Puts that text on the clipboard; false when there was nothing to write or the
// clipboard refused it.
bool CopyTableToClipboard(Window* window, const float* x, const float* const* columns, int first,
                          int last, int nColumns, const int* order,
                          const std::vector<std::string>& names = {});

}  // namespace tarmic
