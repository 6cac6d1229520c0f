// printf-style formatting into a string of any length, for the texts of the
// commands' message boxes, reports and labels (numbers in the "C" locale, which
// the program sets at start).
#pragma once

#include <string>

namespace tarmic {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarmic
