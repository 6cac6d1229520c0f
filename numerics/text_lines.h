// Line-by-line reading of text files whatever their line ends.
#pragma once

#include <istream>
#include <string>

namespace tarmic {

// Reads the next line of in into *line without its line end. A line ends at LF,
// CR LF or a lone CR (files written with any of the three conventions read alike).
// False at the end of the stream when no character was read.
bool ReadTextLine(std::istream& in, std::string* line);

}  // namespace tarmic
