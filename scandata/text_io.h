// Text-file helpers of the scan data set: reading a whole file with its line ends
// normalised, locale-independent formatting of numbers (they are read by the one
// scanner, text/number_token.h), and joining of directory and file names.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "numerics/text_lines.h"

namespace tarmic {

// Reads the whole file into out (ReadTextFile, numerics/text_lines.h: without a
// UTF-8 byte-order mark, every line end made LF, a last line without its line end
// as the rule says). False when the file cannot be opened or read, is no regular
// file, changed while it was read or (kRefused) ends inside a line; *why (when
// given) says which, *note (when given) receives the note of a line left out.
bool ReadWholeTextFile(const std::string& path, LastLine rule, std::string* out, std::string* why = nullptr,
                       std::string* note = nullptr);

// ReadTextFile, with the bytes the wholeFileBytes hook (scandata/data_set_hooks.h)
// serves for path where it serves them: a batch run reads each of its scan files
// once, and every reader of them takes the same bytes. ReadWholeTextFile and the
// scan reader read through it.
bool ReadServedTextFile(const std::string& path, LastLine rule, TextRead* out, std::string* why = nullptr);

// printf-style formatting into a string, always with the "C" numeric conventions
// whatever the user's locale.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// fprintf with the "C" numeric conventions; false when writing failed.
bool WriteFormatted(std::FILE* file, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Converts to int by truncation toward zero, clamped to the int range (NaN gives 0).
int TruncateToInt(double value);
// The same into a long.
long TruncateToLong(double value);

// Directory (without trailing '/'), name and extension (with its '.') of a path.
std::string DirectoryOf(const std::string& path);
std::string FileNameOf(const std::string& path);  // name and extension
std::string ExtensionOf(const std::string& path);
// Intensity scan files: the extension's second character after the dot is 'i' or
// 'I' (".ri1", not the interference files ".ip1").
bool IsIntensityFileName(const std::string& name);
// Names made from a user's file names by replacing or taking a character: the
// character at byte pos is its whole UTF-8 sequence (a lead byte with the
// continuation bytes that follow it; a byte that starts no valid sequence counts
// alone), so that a name made from a valid UTF-8 name stays valid UTF-8.
std::size_t CharacterLengthAt(std::string_view text, std::size_t pos);
// name with the character at byte pos replaced by replacement (name unchanged when
// pos is past its end).
std::string ReplaceCharacterAt(std::string name, std::size_t pos, std::string_view replacement);
// The first character of name, and name without it (both empty for an empty name).
std::string FirstCharacterOf(const std::string& name);
std::string WithoutFirstCharacter(const std::string& name);
// dir + '/' + name; a trailing '/' of dir is not doubled; an empty dir gives name.
std::string JoinPath(const std::string& dir, const std::string& name);
// The directory without trailing '/' (the root stays "/").
std::string WithoutTrailingSlash(std::string dir);

}  // namespace tarmic
