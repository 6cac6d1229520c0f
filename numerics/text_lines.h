// Line-by-line reading of text files whatever their line ends.
#pragma once

#include <fstream>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace tarmic {

// Reads the next line of in into *line without its line end. A line ends at LF,
// CR LF or a lone CR (files written with any of the three conventions read alike).
// False at the end of the stream when no character was read.
bool ReadTextLine(std::istream& in, std::string* line);

// The UTF-8 byte-order mark, which every reader takes before a file's first line.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Opens path for reading if it is a regular file: the one door of every reader of
// a text file (a test of the sources holds this). A pipe, a device or a folder is
// not opened (opening a pipe for reading waits for a writer that may never come).
// The stream stands after a UTF-8 byte-order mark at the start.
// False with the reason in *why (when given): kNotRegularFile, the system's reason
// ("No such file or directory"), or "it cannot be opened".
bool OpenTextFile(const std::string& path, std::ifstream* in, std::string* why = nullptr);

// Every line of the file (as ReadTextLine gives them); false, with the reason as
// OpenTextFile gives it or "it cannot be read", when the file cannot be read.
bool ReadTextFileLines(const std::string& path, std::vector<std::string>* lines,
                       std::string* why = nullptr);

}  // namespace tarmic
