#include "numerics/text_lines.h"

namespace tarmic {

bool ReadTextLine(std::istream& in, std::string* line) {
  line->clear();
  std::istream::int_type c = in.get();
  if (c == std::istream::traits_type::eof()) return false;
  for (; c != std::istream::traits_type::eof(); c = in.get()) {
    if (c == '\n') return true;
    if (c == '\r') {
      // CR LF is one line end; a lone CR ends the line by itself.
      if (in.peek() == '\n') in.get();
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  // The last line without a line end: the stream's eof is set, but the line is good.
  in.clear(in.rdstate() & ~std::ios::failbit);
  return true;
}

}  // namespace tarmic
