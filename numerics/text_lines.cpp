#include "numerics/text_lines.h"

#include <string_view>

#include "platform/system.h"

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

bool OpenTextFile(const std::string& path, std::ifstream* in, std::string* why) {
  std::string refusal = FileReadRefusal(path);
  if (refusal.empty()) {
    in->open(path, std::ios::binary);
    if (in->is_open()) {
      // A UTF-8 byte-order mark (editors of some systems begin every file with
      // it) is no part of the first line.
      char mark[3] = {};
      in->read(mark, 3);
      if (in->gcount() != 3 || std::string_view(mark, 3) != kUtf8ByteOrderMark) {
        in->clear();
        in->seekg(0);
      }
      return true;
    }
    refusal = "it cannot be opened";
  }
  if (why) *why = refusal;
  return false;
}

bool ReadTextFileLines(const std::string& path, std::vector<std::string>* lines, std::string* why) {
  std::ifstream in;
  if (!OpenTextFile(path, &in, why)) return false;
  std::string line;
  while (ReadTextLine(in, &line)) lines->push_back(line);
  if (in.bad()) {
    if (why) *why = "it cannot be read";
    return false;
  }
  return true;
}

}  // namespace tarmic
