// The one reader of text files, and line-by-line reading of text whatever its
// line ends.
//
// Every reader of a file goes through ReadTextFile (or its forms below): the
// symbol census of readers (tests/symbol_census/reader_census_test.cpp) holds
// that no other object of the program opens a file but those it lists with their
// reason. The door knows where a file ends and whether it changed while it was
// read:
//  - a last line without a line end may have been cut by a copy or a save that
//    did not finish, and a number cut inside ("500" as "5") is still a number; the
//    reader's format says what such a line is (LastLine): refused, left out with a
//    note, or read where the format's own rule shows it whole;
//  - the size and modification time of the open file are compared before and
//    after the read; a file that changed meanwhile is read again, once, and
//    refused when it changed again.
#pragma once

#include <functional>
#include <istream>
#include <sstream>
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

// What a format makes of a last line that has no line end (the file ends inside
// it). Every reader names its rule: there is no default.
enum class LastLine {
  // The file is refused (a number of the line may have been cut; a count of the
  // line's fields cannot tell): tables, value files, settings, lists.
  kRefused,
  // The line is left out and the read says which (TextRead::leftOutLine): formats
  // whose reading leaves a part out with a note (the rows of a scan, the lines of
  // a settings file that then take their defaults).
  kLeftOut,
  // Read as it stands: a file not read for values (shown or copied as it is, or
  // compared whole with a text the program knows).
  kAsItStands,
};

// A file read whole: its text with every line end made LF, without a byte-order
// mark; the last line as the rule leaves it.
struct TextRead {
  std::string text;
  // kLeftOut: the line (1-based) left out and its text; 0 when the file ended
  // with its line end. A last line that holds only blanks is no line.
  int leftOutLine = 0;
  std::string leftOutText;
  // The note a reader gives for a line left out: "line 15 is cut short (the file
  // ends inside it) and is not read"; empty when none was.
  std::string LeftOutNote() const;
};

// Reads path whole, if it is a regular file (a pipe, a device or a folder is not
// opened: opening a pipe for reading waits for a writer that may never come).
// False with the reason in *why (when given): kNotRegularFile, the system's
// reason ("No such file or directory"), "it cannot be read", "it changed while it
// was read (twice)", or for kRefused "it ends inside line 14 ("6.01  5"), which
// has no line end: the file may have been cut".
bool ReadTextFile(const std::string& path, LastLine rule, TextRead* out, std::string* why = nullptr);
// The same, calling observer after every block read (with the bytes read so far):
// the tests change a file in the middle of a read with it.
using ReadObserver = std::function<void(std::size_t bytesRead)>;
bool ReadTextFileObserved(const std::string& path, LastLine rule, TextRead* out, std::string* why,
                          const ReadObserver& observer);

// A file's bytes, read already (ReadFileBytes), as ReadTextFile reads the file:
// without a byte-order mark, every line end made LF, the last line as the rule
// says; false with *why as ReadTextFile gives it.
bool TextOfBytes(std::string_view bytes, LastLine rule, TextRead* out, std::string* why = nullptr);

// Applies the rule to a text read as it stands (a reader that judges the bytes
// first, as ReadPlainTextFile does); false with *why as ReadTextFile gives it.
bool EndLastLine(LastLine rule, TextRead* read, std::string* why = nullptr);

// The same as a stream of the text (for readers that take a line at a time with
// ReadTextLine); *note (when given) receives LeftOutNote.
bool OpenTextFile(const std::string& path, LastLine rule, std::istringstream* in, std::string* why = nullptr,
                  std::string* note = nullptr);

// Every line of the file (as ReadTextLine gives them); false, with the reason as
// ReadTextFile gives it, when the file cannot be read.
bool ReadTextFileLines(const std::string& path, LastLine rule, std::vector<std::string>* lines,
                       std::string* why = nullptr, std::string* note = nullptr);

// The bytes of a file as they are (a picture, a file copied or checked byte for
// byte), read as ReadTextFile reads: regular files only, read again once when the
// file changed while it was read. False with the reason in *why (when given).
bool ReadFileBytes(const std::string& path, std::string* bytes, std::string* why = nullptr);

// For tests: called with the path after every whole read through this door
// (ReadTextFile and its forms, ReadFileBytes), so that a test can change the other
// files of a set between the reads of two of its files. Null (the default) calls
// nothing.
using FileReadHook = void (*)(const std::string& path);
void SetFileReadHookForTesting(FileReadHook hook);

// The whole lines among the first maxBytes of a file, for a look at its head (what
// kind of file it is): the part of a line that the bytes cut is not among them.
// False when the file cannot be opened or is no regular file.
bool ReadTextFileHead(const std::string& path, std::size_t maxBytes, std::vector<std::string>* lines);

}  // namespace tarmic
