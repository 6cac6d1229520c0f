#include "commands/clipboard_table.h"

#include <locale>
#include <sstream>
#include <vector>

#include "platform/backend.h"

namespace tarmic {

std::string TableHeader(const std::vector<std::string>& names) {
  std::string header;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) header += '\t';
    header += names[k];
  }
  return names.empty() ? header : header + '\n';
}

std::ostringstream TableStream() {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  return out;
}

std::string FormatTable(const float* x, const float* const* columns, int first, int last,
                        int nColumns, const int* order, const std::vector<std::string>& names) {
  if (!x || first > last || nColumns < 0 || (nColumns > 0 && !columns)) return {};
  // Resolve the order once, so that a bad index leaves the clipboard alone instead
  // of writing half a table.
  std::vector<const float*> placed;
  placed.reserve(static_cast<std::size_t>(nColumns));
  for (int j = 1; j <= nColumns; ++j) {
    const int c = order ? order[j] : j;
    if (c < 1 || c > nColumns || !columns[c]) return {};
    placed.push_back(columns[c]);
  }
  std::ostringstream out = TableStream();
  out << TableHeader(names);
  for (int i = first; i <= last; ++i) {
    out << x[i];
    for (const float* column : placed) out << '\t' << column[i];
    out << '\n';
  }
  return out.str();
}

bool CopyTableToClipboard(Window* /*window*/, const float* x, const float* const* columns,
                          int first, int last, int nColumns, const int* order,
                          const std::vector<std::string>& names) {
  const std::string text = FormatTable(x, columns, first, last, nColumns, order, names);
  if (text.empty() || !HasBackend()) return false;
  return GetBackend().SetClipboardText(text);
}

}  // namespace tarmic
